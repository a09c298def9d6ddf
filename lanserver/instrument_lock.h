// The instrument's one exclusive lock, shared by every client protocol that locks
// (VXI-11 links today). An owner is any nonzero number unique among the lockers; a
// wait for the lock ends when it is released, when its time runs out, or at a stop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lan {

class InstrumentLock {
 public:
  // Takes the lock for `owner` (holding it already is success), waiting up to
  // `wait_ms` for another owner to release it. True when `owner` holds it.
  bool Acquire(uint64_t owner, uint32_t wait_ms);
  // Releases the lock; false when `owner` does not hold it.
  bool Release(uint64_t owner);
  // Whether someone other than `owner` holds it.
  bool HeldByOther(uint64_t owner);
  // Waits up to `wait_ms` until no one other than `owner` holds it. True when free.
  bool WaitFree(uint64_t owner, uint32_t wait_ms);

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  uint64_t owner_ = 0;
};

}  // namespace lan
