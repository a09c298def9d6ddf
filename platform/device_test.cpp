// The board backend: without a root and without a registered model, device calls are
// the system calls on the real node, and the register window is a real mapping.
#include "platform/device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/test_support.h"

namespace platform {
namespace {

TEST(BoardDevice, CallsGoToTheRealNode) {
  ScopedEnv root("CHASSIS_ROOT", nullptr);
  const int fd = DeviceOpen("/dev/null", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(DeviceWrite(fd, "abc", 3), 3);
  char byte;
  EXPECT_EQ(DeviceRead(fd, &byte, 1), 0);
  // A request the node does not know: TCGETS, which every emulator passes on (an
  // emulator answers a request it has never heard of with ENOSYS itself).
  errno = 0;
  EXPECT_EQ(DeviceIoctlValue(fd, TCGETS, 0), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(DeviceClose(fd), 0);

  errno = 0;
  EXPECT_EQ(DeviceOpen("/dev/no-such-node", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST(BoardDevice, PollCoversPlainDescriptors) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pollfd entry{pipe_fds[0], POLLIN, 0};
  EXPECT_EQ(DevicePoll(&entry, 1, 10), 0);
  ASSERT_EQ(write(pipe_fds[1], "x", 1), 1);
  EXPECT_EQ(DevicePoll(&entry, 1, 1000), 1);
  EXPECT_TRUE(entry.revents & POLLIN);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

// A file stands in for /dev/mem: the window maps it from an offset that is not
// page-aligned, and stores land at base + offset.
TEST(BoardRegisterWindow, MapsFromAnUnalignedBase) {
  TempFolder folder;
  const std::string memory = folder.path() + "/mem";
  {
    const int fd = open(memory.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 16384), 0);
    close(fd);
  }
  ScopedEnv root("CHASSIS_ROOT", nullptr);
  constexpr uint64_t kBase = 4096 + 0x20;
  auto window = OpenRegisterWindow(memory, kBase, 0x100);
  ASSERT_NE(window, nullptr) << std::strerror(errno);
  EXPECT_EQ(window->length(), 0x100u);
  EXPECT_EQ(window->Write32(0x10, 0x12345678), 0);
  EXPECT_EQ(window->Write16(0x16, 0xBEEF), 0);
  uint32_t word = 0;
  uint16_t half = 0;
  EXPECT_EQ(window->Read32(0x10, &word), 0);
  EXPECT_EQ(word, 0x12345678u);
  EXPECT_EQ(window->Read16(0x16, &half), 0);
  EXPECT_EQ(half, 0xBEEF);

  // Out of the window or misaligned: refused, nothing touched.
  errno = 0;
  EXPECT_EQ(window->Write32(0x100, 1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(window->Write32(0xFE, 1), -1);
  EXPECT_EQ(window->Read32(0x12, &word), -1);
  EXPECT_EQ(window->Read16(0xFFFFFFFE, &half), -1);
  window.reset();

  std::vector<unsigned char> bytes(16384);
  const int fd = open(memory.c_str(), O_RDONLY);
  ASSERT_EQ(read(fd, bytes.data(), bytes.size()), 16384);
  close(fd);
  uint32_t stored;
  std::memcpy(&stored, &bytes[kBase + 0x10], 4);
  EXPECT_EQ(stored, 0x12345678u);

  WindowFailure failure = WindowFailure::kNone;
  errno = 0;
  EXPECT_EQ(OpenRegisterWindow(folder.path() + "/none", 0, 0x100, &failure), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(failure, WindowFailure::kOpen);
  // /dev/null opens but cannot be mapped.
  EXPECT_EQ(OpenRegisterWindow("/dev/null", 0, 0x100, &failure), nullptr);
  EXPECT_EQ(failure, WindowFailure::kMap);
}

}  // namespace
}  // namespace platform
