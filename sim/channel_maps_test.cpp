// The live view's relay maps on their own; tests/system/watch_test.cpp checks them
// against the firmware's channels on a running chassis.
#include "sim/channel_maps.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

std::vector<int> Channels(const std::string& model, const std::vector<int>& bits) {
  std::vector<int> channels = {-1};
  EXPECT_TRUE(ChannelsOfDriveBits(model, bits, &channels)) << model;
  return channels;
}

TEST(ChannelMaps, NestedNumberingsPlaceEachDriveBitAtItsChannel) {
  EXPECT_EQ(Channels("SM-RD96", {0, 7, 8, 15, 95}), (std::vector<int>{100, 107, 200, 207, 1207}));
  EXPECT_EQ(Channels("SM-RD48", {47}), (std::vector<int>{607}));
  EXPECT_EQ(Channels("SM-MX52", {0, 51}), (std::vector<int>{0, 51}));
  EXPECT_EQ(Channels("SM-HF1", {5, 39}), (std::vector<int>{11, 93}));
  EXPECT_EQ(Channels("SM-MT436", {6, 143}), (std::vector<int>{102, 3503}));
  EXPECT_EQ(Channels("SM-MT9Q", {17, 143}), (std::vector<int>{1001, 8303}));
  EXPECT_EQ(Channels("SM-MT2W", {4, 64, 127}), (std::vector<int>{100, 10000, 11503}));
  EXPECT_EQ(Channels("SM-RF4D", {3, 8, 11}), (std::vector<int>{3, 10, 13}));
  EXPECT_EQ(Channels("SM-RF6D", {5, 8, 13}), (std::vector<int>{5, 6, 11}));
  EXPECT_TRUE(Channels("SM-RD96", {}).empty());
}

TEST(ChannelMaps, TheMultiplexerTreesDecodeTheirTwoBitsTogether) {
  // Mux 0: bit 0 alone is channel 1; mux 1: both bits, channel 12; mux 25: its second
  // bit alone, channel 253.
  EXPECT_EQ(Channels("SM-MX26Q", {0, 2, 3, 51}), (std::vector<int>{1, 12, 253}));
  EXPECT_EQ(Channels("SM-MX26Q", {1, 2}), (std::vector<int>{3, 11})) << "bits of two muxes";
}

TEST(ChannelMaps, UnknownModelsAndBitsOutsideTheMapAreLeftToDriveBits) {
  std::vector<int> channels = {42};
  EXPECT_FALSE(ChannelsOfDriveBits("SM-SC64", {1}, &channels));
  EXPECT_FALSE(ChannelsOfDriveBits("SM-RD96", {96}, &channels));
  EXPECT_FALSE(ChannelsOfDriveBits("SM-RF4D", {4}, &channels));
  EXPECT_FALSE(ChannelsOfDriveBits("SM-MX26Q", {52}, &channels));
  EXPECT_EQ(channels, std::vector<int>{42}) << "untouched";
}

}  // namespace
}  // namespace sim
