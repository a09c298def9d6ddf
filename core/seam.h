// A late-bound call from a lower layer up to a higher one. The folder that owns an
// event (or needs an answer it cannot compute itself) keeps one Seam and offers a
// typed Set... function for it; the controller's wiring unit connects every seam once
// at start-up, and tests connect their own. Unconnected, the owner's fallback applies.
// The function pointer is atomic: monitor threads may call while a test reconnects.
#pragma once

#include <atomic>

template <typename Signature>
class Seam;

template <typename Result, typename... Args>
class Seam<Result(Args...)> {
 public:
  using Function = Result (*)(Args...);

  void Connect(Function function) { function_.store(function, std::memory_order_release); }
  // The connected function, or null.
  Function function() const { return function_.load(std::memory_order_acquire); }

 private:
  std::atomic<Function> function_{nullptr};
};
