#include "hid/LayerTypes.h"

#include <algorithm>
#include <future>

#include "platform/ThreadNaming.h"

namespace quorvel::hid {

using platform::CurrentThreadId;
using platform::ShowThreadName;
using platform::ToAnsiCodePage;

TLayerComponent::TLayerComponent(TLayerComponent* AOwner) : owner_(AOwner) {
  if (owner_ != nullptr) {
    owner_->components_.push_back(this);
  }
}

TLayerComponent::~TLayerComponent() {
  destroying_ = true;
  // The component model's lifetime rule: an owner frees what it owns. Each child
  // unlinks itself from `components_` in its own destructor, so take from the back.
  while (!components_.empty()) {
    delete components_.back();
  }
  if (owner_ != nullptr) {
    auto& siblings = owner_->components_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

TCustomThread::~TCustomThread() {
  Terminate();
  WaitFor();
}

void TCustomThread::Start() {
  if (thread_.joinable()) {
    return;
  }
  // The ID is stored before the body runs, which may name its own thread.
  std::promise<void> started;
  std::future<void> hasId = started.get_future();
  thread_ = std::thread([this, &started] {
    threadId_.store(CurrentThreadId());
    started.set_value();
    Execute();
  });
  hasId.wait();
}

void TCustomThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
    thread_.join();
  }
}

TString TCustomThread::ThreadName() const {
  const std::string className = ClassName();
  TString name(className.begin(), className.end());  // class names are ASCII
  std::lock_guard lock(nameLock_);
  return FThreadName.empty() ? name : FThreadName + u" {" + name + u"}";
}

void TCustomThread::SetThreadName(const TString& Value) {
  std::lock_guard lock(nameLock_);
  FThreadName = Value;
}

void TCustomThread::NameThread(const std::string& AThreadName, uint32_t AThreadID) {
  ShowThreadName(AThreadName, AThreadID == kOwnThread ? ThreadID() : AThreadID);
}

void TCustomThread::NameThread(const TString& AThreadName, uint32_t AThreadID) {
  NameThread(ToAnsiCodePage(AThreadName), AThreadID);
}

}  // namespace quorvel::hid
