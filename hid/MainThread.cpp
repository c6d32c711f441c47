#include "hid/MainThread.h"

#ifndef _WIN32
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace quorvel::hid {

#ifndef _WIN32
TMainThreadQueue::TMainThreadQueue() : ready_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
TMainThreadQueue::~TMainThreadQueue() {
  if (ready_ >= 0) {
    ::close(ready_);
  }
}
void TMainThreadQueue::Signal() {
  const std::uint64_t one = 1;
  (void)::write(ready_, &one, sizeof one);
}
void TMainThreadQueue::Drain() {
  std::uint64_t count = 0;
  (void)::read(ready_, &count, sizeof count);
}
#else
TMainThreadQueue::TMainThreadQueue() = default;
TMainThreadQueue::~TMainThreadQueue() = default;
void TMainThreadQueue::Signal() {}
void TMainThreadQueue::Drain() {}
#endif

TMainThreadQueue& TMainThreadQueue::Instance() {
  static TMainThreadQueue queue;
  return queue;
}

void TMainThreadQueue::Synchronize(const std::function<void()>& routine) {
  TRequest request{&routine, nullptr};
  std::unique_lock guard(lock_);
  waiting_.push_back(&request);
  changed_.notify_all();
  Signal();
  changed_.wait(guard, [&] { return request.ran; });
  if (request.error) {
    std::rethrow_exception(request.error);
  }
}

bool TMainThreadQueue::Serve() {
  // Drained before the batch is taken: a routine posted in between is either in
  // this batch or signals again.
  Drain();
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
