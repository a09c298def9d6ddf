// The instrument lock (see instrument_lock.h).
#include "lanserver/instrument_lock.h"

#include <algorithm>
#include <chrono>

#include "core/run_state.h"

namespace lan {

namespace {

// Waits in slices, so that a stop is seen within one.
constexpr std::chrono::milliseconds kSlice{50};

template <typename Ready>
bool WaitUntil(std::unique_lock<std::mutex>& hold, std::condition_variable& changed,
               uint32_t wait_ms, Ready ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!ready()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || !IsRunning()) return false;
    changed.wait_for(hold, std::min<std::chrono::steady_clock::duration>(kSlice, deadline - now));
  }
  return true;
}

}  // namespace

bool InstrumentLock::Acquire(uint64_t owner, uint32_t wait_ms) {
  std::unique_lock hold(mutex_);
  if (!WaitUntil(hold, released_, wait_ms, [&] { return owner_ == 0 || owner_ == owner; })) {
    return false;
  }
  owner_ = owner;
  return true;
}

bool InstrumentLock::Release(uint64_t owner) {
  std::lock_guard hold(mutex_);
  if (owner_ != owner || owner == 0) return false;
  owner_ = 0;
  released_.notify_all();
  return true;
}

bool InstrumentLock::HeldByOther(uint64_t owner) {
  std::lock_guard hold(mutex_);
  return owner_ != 0 && owner_ != owner;
}

bool InstrumentLock::WaitFree(uint64_t owner, uint32_t wait_ms) {
  std::unique_lock hold(mutex_);
  return WaitUntil(hold, released_, wait_ms, [&] { return owner_ == 0 || owner_ == owner; });
}

}  // namespace lan
