#include "hid/LayerTypes.h"

#include <algorithm>

namespace quorvel::hid {

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
  if (!thread_.joinable()) {
    thread_ = std::thread([this] { Execute(); });
  }
}

void TCustomThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
    thread_.join();
  }
}

}  // namespace quorvel::hid
