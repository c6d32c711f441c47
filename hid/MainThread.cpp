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
  changed_.wait(guard, [&] { return request.ran; });
  if (request.error) {
    std::rethrow_exception(request.error);
  }
}

bool TMainThreadQueue::Serve() {
  std::deque<TRequest*> batch;
  {
    std::lock_guard guard(lock_);
    batch.swap(waiting_);
  }
  for (TRequest* request : batch) {
    try {
      (*request->routine)();
    } catch (...) {
      request->error = std::current_exception();
    }
    std::lock_guard guard(lock_);
    request->ran = true;
    changed_.notify_all();
  }
  return !batch.empty();
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

void TMainThreadQueue::Wake() {
  std::lock_guard guard(lock_);
  changed_.notify_all();
}

}  // namespace quorvel::hid
