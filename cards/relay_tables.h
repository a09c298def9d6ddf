// Compile-time builders of the relay cards' constant tables, for the cards whose tables
// follow a rule: grid-numbered channels (relay drivers, matrices) and the matrices'
// groups-of-four relay maps. The tables they build are constant data; each model file
// checks its telling rows with static_assert.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Channels first + module_step·m + row_step·x + y for m < M, x < X, y < Y, in that nesting
// (so ascending when Y <= row_step and X·row_step <= module_step).
template <int M, int X, int Y>
constexpr std::array<uint16_t, M * X * Y> GridChannels(int first, int module_step,
                                                       int row_step) {
  std::array<uint16_t, M * X * Y> table{};
  size_t i = 0;
  for (int m = 0; m < M; ++m) {
    for (int x = 0; x < X; ++x) {
      for (int y = 0; y < Y; ++y) {
        table[i++] = static_cast<uint16_t>(first + module_step * m + row_step * x + y);
      }
    }
  }
  return table;
}

// Groups of four channel indices, group g taking the next free four-bit group of a drive
// layout of `words` 16-bit words: the first groups fill bits 0-3 of each word in turn
// (0-3, 16-19, 32-35, ...), the following ones bits 4-7 of each word, and so on.
template <int N>
constexpr std::array<uint16_t, N> WordColumnGroupMap(int words) {
  std::array<uint16_t, N> map{};
  for (int i = 0; i < N; ++i) {
    const int g = i / 4;
    map[i] = static_cast<uint16_t>(16 * (g % words) + 4 * (g / words) + i % 4);
  }
  return map;
}

// Groups of four channel indices laid out in 32-bit blocks of eight groups: within a
// block the groups alternate between the block's low and high 16-bit word, each word
// filled from bits 0-3 upward (0-3, 16-19, 4-7, 20-23, ..., 12-15, 28-31).
template <int N>
constexpr std::array<uint16_t, N> BlockInterleavedGroupMap() {
  std::array<uint16_t, N> map{};
  for (int i = 0; i < N; ++i) {
    const int g = i / 4;
    map[i] = static_cast<uint16_t>(32 * (g / 8) + 16 * (g % 2) + 4 * ((g % 8) / 2) + i % 4);
  }
  return map;
}

// Whether a table is strictly ascending (channel tables are searched and stored in
// channel order).
template <size_t N>
constexpr bool Ascending(const std::array<uint16_t, N>& table) {
  for (size_t i = 1; i < N; ++i) {
    if (table[i] <= table[i - 1]) return false;
  }
  return true;
}
