// The microsecond wait of the card drivers and of the relay commit. A relay needs its
// settle time after a write before anything reads or switches it again; short waits
// are busy-waited on the clock, because a sleep of a few milliseconds may oversleep by
// more than the wait itself, and longer waits sleep.
#pragma once

#include <cstdint>

// The longest wait: a longer request is cut to this (10 s).
inline constexpr uint32_t kLongestDelayMicroseconds = 10000000;
// Requests up to this are busy-waited; longer ones sleep.
inline constexpr uint32_t kLongestBusyWaitMicroseconds = 10000;
// The busy wait gives up after this many clock polls, so a clock that stands still
// cannot hold the caller forever.
inline constexpr uint32_t kBusyWaitPollLimit = 1000000;

// Waits `microseconds` (cut to kLongestDelayMicroseconds). A busy wait ends as soon as
// more than the requested time has passed; a sleep is resumed after a signal.
void DelayMicroseconds(uint32_t microseconds);

// Waits at least `microseconds` without holding the processor, resumed after a signal:
// for waits that may run late at no cost, such as the I2C bridge's transfer time, where
// a busy wait would only keep a core busy.
void SleepMicroseconds(uint32_t microseconds);

// The sleep behind the long waits; tests put a recorder in place. Null restores the
// real sleep.
using DelaySleepFunction = void (*)(uint32_t microseconds);
void SetDelaySleepForTest(DelaySleepFunction sleep);
