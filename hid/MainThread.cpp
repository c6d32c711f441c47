#include "hid/MainThread.h"

namespace quorvel::hid {

TMainThreadQueue& TMainThreadQueue::Instance() {
  static TMainThreadQueue queue;
  return queue;
}

void TMainThreadQueue::Synchronize(const std::function<void()>& routine) {
  TRequest request{&routine, nullptr};
  std::unique_lock guard(lock_);
  waiting_.push_back(&request);
  changed_.notify_all();
  ready_.Signal();
  for (const auto& [waker, context] : wakers_) {
    waker(context);
  }
  changed_.wait(guard, [&] { return request.Ran; });
  if (request.Error) {
    std::rethrow_exception(request.Error);
  }
}

bool TMainThreadQueue::Serve() {
  // Drained before the count is taken: a routine posted in between is either
  // counted or signals again.
  ready_.Drain();
  std::size_t due = 0;
  {
    std::lock_guard guard(lock_);
    due = waiting_.size();
  }
  // One routine at a time, each taken from the shared queue just before it runs:
  // a routine that stops another worker serves, in that wait, the routines still
  // queued, that worker's among them. Bounded by what waited at the start, so a
  // busy worker cannot keep this call from returning.
  bool ran = false;
  for (; due > 0; --due) {
    TRequest* request = nullptr;
    {
      std::lock_guard guard(lock_);
      if (waiting_.empty()) {
        break;
      }
      request = waiting_.front();
      waiting_.pop_front();
    }
    try {
      (*request->Routine)();
    } catch (...) {
      request->Error = std::current_exception();
    }
    std::lock_guard guard(lock_);
    request->Ran = true;
    changed_.notify_all();
    ran = true;
  }
  return ran;
}

void TMainThreadQueue::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    Serve();
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return done() || !waiting_.empty(); });
    if (waiting_.empty()) {
      return;
    }
  }
}

void TMainThreadQueue::AddWaker(TWaker waker, void* context) {
  std::lock_guard guard(lock_);
  wakers_.emplace_back(waker, context);
}

void TMainThreadQueue::RemoveWaker(TWaker waker, void* context) {
  std::lock_guard guard(lock_);
  std::erase(wakers_, std::pair{waker, context});
}

std::size_t TMainThreadQueue::Waiting() {
  std::lock_guard guard(lock_);
  return waiting_.size();
}

void TMainThreadQueue::Wake() {
  std::lock_guard guard(lock_);
  changed_.notify_all();
}

}  // namespace quorvel::hid
