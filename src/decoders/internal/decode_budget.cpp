#include "decoders/internal/decode_budget.h"

#include <algorithm>
#include <utility>

namespace vg::decoders::decoders_internal {

DecodeBudget::Lease::Lease(Lease&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)) {}

DecodeBudget::Lease& DecodeBudget::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

void DecodeBudget::Lease::Release() {
  if (budget_ != nullptr) std::exchange(budget_, nullptr)->Give(bytes_);
  bytes_ = 0;
}

DecodeBudget::Lease DecodeBudget::Take(int64_t bytes, int own_leases) {
  bytes = std::max<int64_t>(bytes, 0);
  if (broker_ != nullptr) {
    broker_->Take(bytes);
    std::lock_guard lock(mutex_);
    held_ += bytes;
    ++leases_;
    return Lease(this, bytes);
  }
  std::unique_lock lock(mutex_);
  ++waiting_;
  freed_.wait(lock, [&] { return Grants(bytes, own_leases); });
  --waiting_;
  held_ += bytes;
  ++leases_;
  return Lease(this, bytes);
}

void DecodeBudget::Give(int64_t bytes) {
  {
    std::lock_guard lock(mutex_);
    held_ -= bytes;
    --leases_;
  }
  if (broker_ != nullptr) broker_->Give(bytes);
  freed_.notify_all();
}

bool DecodeBudget::WouldGrant(int64_t bytes, int own_leases) const {
  std::lock_guard lock(mutex_);
  return Grants(std::max<int64_t>(bytes, 0), own_leases);
}

int64_t DecodeBudget::held() const {
  std::lock_guard lock(mutex_);
  return held_;
}

int DecodeBudget::waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

DecodeBudget& SharedDecodeBudget() {
  static DecodeBudget budget(kSharedDecodeBudgetBytes);
  return budget;
}

}  // namespace vg::decoders::decoders_internal
