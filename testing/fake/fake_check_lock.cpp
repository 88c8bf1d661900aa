#include "testing/fake/fake_check_lock.h"

namespace autobackup {
namespace {

FakeNamedMutex* FirstOwn(FakeNamedMutex* global, FakeNamedMutex* local) {
  for (FakeNamedMutex* mutex : {global, local}) {
    if (mutex != nullptr && !mutex->TakenByAnotherOwner()) {
      return mutex;
    }
  }
  return nullptr;
}

}  // namespace

FakeCheckLock::FakeCheckLock(FakeNamedMutex* global, FakeNamedMutex* local)
    : mutex_(FirstOwn(global, local)) {}

FakeCheckLock::~FakeCheckLock() {
  if (mutex_ != nullptr) {
    const std::lock_guard<std::mutex> guard(mutex_->guard_);
    if (mutex_->owner_ == this) {
      mutex_->owner_ = nullptr;
      mutex_->count_ = 0;
    }
  }
}

bool FakeCheckLock::HeldHere() const {
  return mutex_->owner_ == this && mutex_->thread_ == std::this_thread::get_id();
}

bool FakeCheckLock::TryAcquire() {
  if (mutex_ == nullptr) {
    return true;
  }
  const std::lock_guard<std::mutex> guard(mutex_->guard_);
  if (mutex_->owner_ != nullptr && !HeldHere()) {
    return false;
  }
  mutex_->owner_ = this;
  mutex_->thread_ = std::this_thread::get_id();
  ++mutex_->count_;
  return true;
}

void FakeCheckLock::Release() {
  if (mutex_ == nullptr) {
    return;
  }
  const std::lock_guard<std::mutex> guard(mutex_->guard_);
  if (HeldHere() && --mutex_->count_ == 0) {
    mutex_->owner_ = nullptr;
  }
}

void FakeCheckLock::ReleaseThreadHolds() {
  if (mutex_ == nullptr) {
    return;
  }
  const std::lock_guard<std::mutex> guard(mutex_->guard_);
  if (HeldHere()) {
    mutex_->owner_ = nullptr;
    mutex_->count_ = 0;
  }
}

}  // namespace autobackup
