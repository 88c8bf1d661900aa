#include "platform/fake/fake_check_lock.h"

namespace autobackup {

FakeCheckLock::~FakeCheckLock() {
  if (mutex_ != nullptr) {
    const std::lock_guard<std::mutex> guard(mutex_->guard_);
    if (mutex_->owner_ == this) {
      mutex_->owner_ = nullptr;
      mutex_->count_ = 0;
    }
  }
}

bool FakeCheckLock::TryAcquire() {
  if (mutex_ == nullptr) {
    return true;
  }
  const std::lock_guard<std::mutex> guard(mutex_->guard_);
  if (mutex_->owner_ != nullptr && mutex_->owner_ != this) {
    return false;
  }
  mutex_->owner_ = this;
  ++mutex_->count_;
  return true;
}

void FakeCheckLock::Release() {
  if (mutex_ == nullptr) {
    return;
  }
  const std::lock_guard<std::mutex> guard(mutex_->guard_);
  if (mutex_->owner_ == this && --mutex_->count_ == 0) {
    mutex_->owner_ = nullptr;
  }
}

}  // namespace autobackup
