// One set of device behaviours, checked against both simulated backends: a model
// registered in-process, and the same model served by the device server over its
// Unix socket. Data, ioctl results, errno values, blocking and interruption by
// SIGALRM must be the same through both.
#include "sim/device_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/device.h"
#include "platform/device_model.h"
#include "platform/paths.h"
#include "platform/test_support.h"

namespace sim {
namespace {

using namespace std::chrono_literals;
using platform::DeviceClose;
using platform::DeviceIoctl;
using platform::DeviceIoctlValue;
using platform::DeviceOpen;
using platform::DevicePoll;
using platform::DeviceRead;
using platform::DeviceWrite;

struct Record {
  uint32_t first;
  uint32_t second;
};

// Toy device: a byte queue of limited room, a stored record, a stored value, a
// pending-event count, and a small register file with side effects.
class ToyDevice final : public platform::DeviceModel {
 public:
  static constexpr unsigned long kSetRecord = 0x40087A01;  // writes a Record
  static constexpr unsigned long kGetRecord = 0x80087A02;  // reads a Record
  static constexpr unsigned long kSetValue = 0x7A03;       // value by argument
  static constexpr unsigned long kGetValue = 0x80047A04;   // reads a uint32_t
  static constexpr unsigned long kWaitEvent = 0x7A05;      // blocks until an event
  static constexpr unsigned long kLogValue = 0xC0047A06;   // logs a uint32_t, answers +100
  static constexpr unsigned long kTakeEvent = 0x80047A07;  // waits for an event, counts it
  static constexpr uint32_t kRefusedValue = 0xDEAD;        // kLogValue refuses it
  static constexpr uint32_t kCounterReg = 0x0010;  // counts its own reads
  static constexpr uint32_t kAckReg = 0x0014;      // a 1 bit clears that pending bit
  static constexpr uint32_t kPendingReg = 0x0018;
  static constexpr uint64_t kWindowBase = 0x5C000000;
  static constexpr size_t kRoom = 8;

  int Open(uint64_t, int flags) override {
    if ((flags & O_ACCMODE) == O_RDONLY && refuse_read_only) return -EACCES;
    ++opens;
    return 0;
  }
  void Close(uint64_t) override { ++closes; }

  ssize_t Read(uint64_t, void* buffer, size_t size) override {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return -EAGAIN;
    size_t n = 0;
    for (; n < size && !queue_.empty(); ++n) {
      static_cast<char*>(buffer)[n] = queue_.front();
      queue_.pop_front();
    }
    NotifyChanged();
    return static_cast<ssize_t>(n);
  }
  ssize_t Write(uint64_t, const void* buffer, size_t size) override {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= kRoom) return -EAGAIN;
    size_t n = 0;
    for (; n < size && queue_.size() < kRoom; ++n) {
      queue_.push_back(static_cast<const char*>(buffer)[n]);
    }
    NotifyChanged();
    return static_cast<ssize_t>(n);
  }
  int Ioctl(uint64_t, unsigned long request, void* argument, size_t size) override {
    std::lock_guard lock(mutex_);
    switch (request) {
      case kSetRecord:
        if (size != sizeof(Record)) return -EINVAL;
        std::memcpy(&record_, argument, sizeof record_);
        return 0;
      case kGetRecord:
        if (size != sizeof(Record)) return -EINVAL;
        std::memcpy(argument, &record_, sizeof record_);
        return 0;
      case kGetValue:
        if (size != sizeof(uint32_t)) return -EINVAL;
        std::memcpy(argument, &value_, sizeof value_);
        return 7;  // a driver may answer a positive count
      case kLogValue: {
        if (size != sizeof(uint32_t)) return -EINVAL;
        uint32_t value = 0;
        std::memcpy(&value, argument, sizeof value);
        if (value == kRefusedValue) return -ENOSPC;
        log_.push_back(value);
        value += 100;
        std::memcpy(argument, &value, sizeof value);
        return 0;
      }
      case kTakeEvent: {
        if (size != sizeof(uint32_t)) return -EINVAL;
        if (events_ == 0) return -EAGAIN;
        const uint32_t left = static_cast<uint32_t>(--events_);
        std::memcpy(argument, &left, sizeof left);
        return 0;
      }
      default:
        return -EINVAL;
    }
  }
  int IoctlValue(uint64_t, unsigned long request, unsigned long value) override {
    std::lock_guard lock(mutex_);
    if (request == kSetValue) {
      value_ = static_cast<uint32_t>(value);
      return 0;
    }
    if (request == kWaitEvent) {
      if (events_ == 0) return -EAGAIN;
      --events_;
      return 0;
    }
    return -EINVAL;
  }
  short Readiness(uint64_t) override {
    std::lock_guard lock(mutex_);
    short ready = 0;
    if (!queue_.empty()) ready |= POLLIN;
    if (queue_.size() < kRoom) ready |= POLLOUT;
    if (events_ > 0) ready |= POLLPRI;
    return ready;
  }
  int MapWindow(uint64_t, uint64_t base, size_t length) override {
    return base == kWindowBase && length <= sizeof registers_ ? 0 : -EINVAL;
  }
  int RegisterRead(uint64_t, uint32_t offset, unsigned width, uint32_t* value) override {
    std::lock_guard lock(mutex_);
    if (offset == kCounterReg) ++registers_[offset / 4];
    uint32_t word = registers_[offset / 4];
    *value = width == 4 ? word : (offset % 4 ? word >> 16 : word & 0xFFFF);
    return 0;
  }
  int RegisterWrite(uint64_t, uint32_t offset, unsigned width, uint32_t value) override {
    std::lock_guard lock(mutex_);
    if (offset == kAckReg) {
      registers_[kPendingReg / 4] &= ~value;
      return 0;
    }
    uint32_t& word = registers_[offset / 4];
    if (width == 4) {
      word = value;
    } else {
      const unsigned shift = offset % 4 ? 16 : 0;
      word = (word & ~(0xFFFFu << shift)) | (value << shift);
    }
    return 0;
  }

  void RaiseEvent() {
    {
      std::lock_guard lock(mutex_);
      ++events_;
    }
    NotifyChanged();
  }
  void SetPending(uint32_t bits) {
    std::lock_guard lock(mutex_);
    registers_[kPendingReg / 4] = bits;
  }

  std::atomic<int> opens{0};
  std::atomic<int> closes{0};
  bool refuse_read_only = false;
  // What kLogValue took, in order.
  std::vector<uint32_t> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }

 private:
  std::mutex mutex_;
  std::deque<char> queue_;
  Record record_{};
  uint32_t value_ = 0;
  int events_ = 0;
  uint32_t registers_[64] = {};
  std::vector<uint32_t> log_;
};

enum class Backend { kInProcess, kServed };

constexpr const char* kToyPath = "/dev/toy0";
constexpr const char* kToyMemPath = "/dev/toymem";

class DeviceBackendTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    if (GetParam() == Backend::kInProcess) {
      root_.emplace("CHASSIS_ROOT", nullptr);
      platform::RegisterDeviceModel(kToyPath, model_);
      platform::RegisterDeviceModel(kToyMemPath, model_);
    } else {
      root_.emplace("CHASSIS_ROOT", folder_.path().c_str());
      ASSERT_EQ(server_.Add(kToyPath, model_), 0);
      ASSERT_EQ(server_.Add(kToyMemPath, model_), 0);
      ASSERT_EQ(server_.Start(), 0);
    }
  }
  void TearDown() override {
    platform::UnregisterDeviceModel(kToyPath);
    platform::UnregisterDeviceModel(kToyMemPath);
    server_.Stop();
  }

  platform::TempFolder folder_;
  std::optional<platform::ScopedEnv> root_;
  std::shared_ptr<ToyDevice> model_ = std::make_shared<ToyDevice>();
  DeviceServer server_;
};

// Installs a SIGALRM handler for the test, with or without SA_RESTART.
class AlarmHandler {
 public:
  explicit AlarmHandler(bool restart) {
    struct sigaction action{};
    action.sa_handler = [](int) {};
    action.sa_flags = SA_NODEFER | (restart ? SA_RESTART : 0);
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous_);
  }
  ~AlarmHandler() { sigaction(SIGALRM, &previous_, nullptr); }

 private:
  struct sigaction previous_{};
};

// Runs `call` on a thread and sends it SIGALRM until it returns (a signal that comes
// before the call blocks is simply absorbed), or until `patience` runs out; then
// `unblock` runs, so that a call the signals failed to end cannot hang the test. The
// result says whether the call had returned before that.
template <typename Call, typename Unblock>
auto InterruptWhileBlocked(Call call, Unblock unblock,
                           std::chrono::milliseconds patience = 3000ms) {
  std::promise<pthread_t> started;
  auto id = started.get_future();
  auto done = std::async(std::launch::async, [&] {
    started.set_value(pthread_self());
    auto result = call();
    return std::make_pair(result, errno);
  });
  const pthread_t thread = id.get();
  const auto give_up = std::chrono::steady_clock::now() + patience;
  while (done.wait_for(10ms) != std::future_status::ready &&
         std::chrono::steady_clock::now() < give_up) {
    pthread_kill(thread, SIGALRM);
  }
  const bool interrupted = done.wait_for(0s) == std::future_status::ready;
  if (!interrupted) unblock();
  auto [result, error] = done.get();
  return std::make_tuple(interrupted, result, error);
}

TEST_P(DeviceBackendTest, DataWrittenIsReadBack) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  EXPECT_EQ(DeviceWrite(fd, "hello", 5), 5);
  char buffer[16] = {};
  EXPECT_EQ(DeviceRead(fd, buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "hel");
  EXPECT_EQ(DeviceRead(fd, buffer, sizeof buffer), 2);
  EXPECT_EQ(std::string(buffer, 2), "lo");
  // A partial write when the device has less room than asked.
  EXPECT_EQ(DeviceWrite(fd, "0123456789", 10), 8);
  EXPECT_EQ(DeviceClose(fd), 0);
  EXPECT_EQ(model_->opens, 1);
  EXPECT_EQ(model_->closes, 1);
}

TEST_P(DeviceBackendTest, IoctlsCarryRecordsAndValues) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  Record in{0x01020304, 0xA0B0C0D0};
  EXPECT_EQ(DeviceIoctl(fd, ToyDevice::kSetRecord, &in, sizeof in), 0);
  Record out{};
  EXPECT_EQ(DeviceIoctl(fd, ToyDevice::kGetRecord, &out, sizeof out), 0);
  EXPECT_EQ(out.first, in.first);
  EXPECT_EQ(out.second, in.second);

  EXPECT_EQ(DeviceIoctlValue(fd, ToyDevice::kSetValue, 31), 0);
  uint32_t value = 0;
  EXPECT_EQ(DeviceIoctl(fd, ToyDevice::kGetValue, &value, sizeof value), 7);
  EXPECT_EQ(value, 31u);

  errno = 0;
  EXPECT_EQ(DeviceIoctlValue(fd, 0x7AFF, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(DeviceIoctl(fd, ToyDevice::kGetRecord, &value, sizeof value), -1);
  EXPECT_EQ(errno, EINVAL);
  DeviceClose(fd);
}

// A sequence of ioctls runs them in order as single calls would, each argument coming
// back as the driver left it; the first failure ends it and is reported with the
// count done; one that must wait waits, as a single call does.
TEST_P(DeviceBackendTest, IoctlSequencesRunLikeSingleCallsInOneGo) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  uint32_t values[3] = {1, 2, 3};
  size_t done = 99;
  EXPECT_EQ(platform::DeviceIoctlSequence(fd, ToyDevice::kLogValue, values, sizeof values[0], 3,
                                          &done),
            0);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::vector<uint32_t>(values, values + 3), (std::vector<uint32_t>{101, 102, 103}));

  uint32_t refused[3] = {4, ToyDevice::kRefusedValue, 5};
  errno = 0;
  EXPECT_EQ(platform::DeviceIoctlSequence(fd, ToyDevice::kLogValue, refused, sizeof refused[0],
                                          3, &done),
            -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(refused[0], 104u);
  EXPECT_EQ(refused[2], 5u) << "the one after the failure was not tried";
  EXPECT_EQ(model_->Log(), (std::vector<uint32_t>{1, 2, 3, 4}));

  // The second of two takes waits for the second event.
  model_->RaiseEvent();
  std::thread later([this] {
    std::this_thread::sleep_for(50ms);
    model_->RaiseEvent();
  });
  uint32_t taken[2] = {7, 7};
  EXPECT_EQ(platform::DeviceIoctlSequence(fd, ToyDevice::kTakeEvent, taken, sizeof taken[0], 2,
                                          &done),
            0);
  later.join();
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(taken[0], 0u);
  EXPECT_EQ(taken[1], 0u);
  DeviceClose(fd);
}

// A descriptor freed with close(2) by mistake: when its number comes back from the
// next device open, the forgotten open is ended instead of answering for the new one.
TEST_P(DeviceBackendTest, NumberFreedByPlainCloseIsTakenOverCleanly) {
  const int first = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(first, 0);
  close(first);
  const int second = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_EQ(second, first);
  EXPECT_EQ(model_->closes, 1);
  EXPECT_EQ(DeviceWrite(second, "x", 1), 1);
  EXPECT_EQ(DeviceClose(second), 0);
  EXPECT_EQ(model_->closes, 2);
}

TEST_P(DeviceBackendTest, OpenFailuresGiveDriverErrors) {
  errno = 0;
  EXPECT_EQ(DeviceOpen("/dev/missing0", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  model_->refuse_read_only = true;
  errno = 0;
  EXPECT_EQ(DeviceOpen(kToyPath, O_RDONLY), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(model_->opens, 0);
}

TEST_P(DeviceBackendTest, NonBlockingOpenAnswersEagain) {
  const int fd = DeviceOpen(kToyPath, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  char byte;
  errno = 0;
  EXPECT_EQ(DeviceRead(fd, &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  errno = 0;
  EXPECT_EQ(DeviceIoctlValue(fd, ToyDevice::kWaitEvent, 0), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(DeviceWrite(fd, "12345678", 8), 8);
  errno = 0;
  EXPECT_EQ(DeviceWrite(fd, "9", 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  DeviceClose(fd);
}

TEST_P(DeviceBackendTest, ReadBlocksUntilAnotherThreadWritesThroughTheSameDescriptor) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  auto reader = std::async(std::launch::async, [fd] {
    char buffer[8] = {};
    const ssize_t got = DeviceRead(fd, buffer, sizeof buffer);
    return std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0);
  });
  EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
  // The writer is not held up by the blocked reader.
  EXPECT_EQ(DeviceWrite(fd, "ping", 4), 4);
  ASSERT_EQ(reader.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(reader.get(), "ping");
  DeviceClose(fd);
}

TEST_P(DeviceBackendTest, BlockingIoctlWaitsForTheEvent) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  auto waiter = std::async(std::launch::async,
                           [fd] { return DeviceIoctlValue(fd, ToyDevice::kWaitEvent, 0); });
  EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
  model_->RaiseEvent();
  ASSERT_EQ(waiter.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 0);
  DeviceClose(fd);
}

TEST_P(DeviceBackendTest, SigalrmInterruptsABlockedReadWithoutLosingData) {
  AlarmHandler alarm(false);
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  char byte = 0;
  const auto [interrupted, result, error] = InterruptWhileBlocked(
      [&] { return DeviceRead(fd, &byte, 1); }, [&] { DeviceWrite(fd, "!", 1); });
  ASSERT_TRUE(interrupted);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EINTR);
  // The interrupted read took nothing: what is written next is read whole.
  EXPECT_EQ(DeviceWrite(fd, "ab", 2), 2);
  char buffer[4] = {};
  EXPECT_EQ(DeviceRead(fd, buffer, sizeof buffer), 2);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  DeviceClose(fd);
}

TEST_P(DeviceBackendTest, SigalrmInterruptsABlockingIoctlAndAPoll) {
  AlarmHandler alarm(false);
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  const auto [ioctl_interrupted, ioctl_result, ioctl_error] = InterruptWhileBlocked(
      [&] { return DeviceIoctlValue(fd, ToyDevice::kWaitEvent, 0); },
      [&] { model_->RaiseEvent(); });
  EXPECT_TRUE(ioctl_interrupted);
  EXPECT_EQ(ioctl_result, -1);
  EXPECT_EQ(ioctl_error, EINTR);

  const auto [poll_interrupted, poll_result, poll_error] = InterruptWhileBlocked(
      [&] {
        pollfd entry{fd, POLLIN, 0};
        return DevicePoll(&entry, 1, -1);
      },
      [&] { DeviceWrite(fd, "!", 1); });
  EXPECT_TRUE(poll_interrupted);
  EXPECT_EQ(poll_result, -1);
  EXPECT_EQ(poll_error, EINTR);
  DeviceClose(fd);
}

// With SA_RESTART a signal does not end the blocked read, as with a driver's read.
TEST_P(DeviceBackendTest, RestartingHandlerLeavesTheReadBlocked) {
  AlarmHandler alarm(true);
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  char byte = 0;
  const auto [interrupted, result, error] = InterruptWhileBlocked(
      [&] { return DeviceRead(fd, &byte, 1); }, [&] { DeviceWrite(fd, "z", 1); }, 300ms);
  EXPECT_FALSE(interrupted);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(byte, 'z');
  DeviceClose(fd);
}

TEST_P(DeviceBackendTest, PollReportsReadinessAlongsidePlainDescriptors) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pollfd entries[2] = {{fd, POLLIN | POLLPRI, 0}, {pipe_fds[0], POLLIN, 0}};
  EXPECT_EQ(DevicePoll(entries, 2, 50), 0);

  ASSERT_EQ(write(pipe_fds[1], "x", 1), 1);
  EXPECT_EQ(DevicePoll(entries, 2, 1000), 1);
  EXPECT_EQ(entries[0].revents, 0);
  EXPECT_EQ(entries[1].revents, POLLIN);
  char byte;
  ASSERT_EQ(read(pipe_fds[0], &byte, 1), 1);

  // An event raised while the poll waits wakes it, with POLLPRI.
  std::thread raiser([&] {
    std::this_thread::sleep_for(50ms);
    model_->RaiseEvent();
  });
  EXPECT_EQ(DevicePoll(entries, 2, 3000), 1);
  EXPECT_EQ(entries[0].revents, POLLPRI);
  raiser.join();

  EXPECT_EQ(DeviceWrite(fd, "a", 1), 1);
  pollfd out{fd, POLLIN | POLLOUT, 0};
  EXPECT_EQ(DevicePoll(&out, 1, 0), 1);
  EXPECT_EQ(out.revents, POLLIN | POLLOUT);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  DeviceClose(fd);
}

TEST_P(DeviceBackendTest, RegisterWindowReachesTheModelWithItsSideEffects) {
  platform::WindowFailure failure = platform::WindowFailure::kNone;
  errno = 0;
  EXPECT_EQ(platform::OpenRegisterWindow(kToyMemPath, 0x1000, 0x100, &failure), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(failure, platform::WindowFailure::kMap);
  EXPECT_EQ(platform::OpenRegisterWindow("/dev/nomem", 0x1000, 0x100, &failure), nullptr);
  EXPECT_EQ(failure, platform::WindowFailure::kOpen);

  auto window = platform::OpenRegisterWindow(kToyMemPath, ToyDevice::kWindowBase, 0x100);
  ASSERT_NE(window, nullptr) << std::strerror(errno);
  uint32_t word = 0;
  EXPECT_EQ(window->Read32(ToyDevice::kCounterReg, &word), 0);
  EXPECT_EQ(word, 1u);
  EXPECT_EQ(window->Read32(ToyDevice::kCounterReg, &word), 0);
  EXPECT_EQ(word, 2u);

  model_->SetPending(0x0F);
  EXPECT_EQ(window->Write32(ToyDevice::kAckReg, 0x05), 0);
  EXPECT_EQ(window->Read32(ToyDevice::kPendingReg, &word), 0);
  EXPECT_EQ(word, 0x0Au);

  EXPECT_EQ(window->Write16(0x22, 0xBEEF), 0);
  EXPECT_EQ(window->Write16(0x20, 0x1234), 0);
  uint16_t half = 0;
  EXPECT_EQ(window->Read32(0x20, &word), 0);
  EXPECT_EQ(word, 0xBEEF1234u);
  EXPECT_EQ(window->Read16(0x22, &half), 0);
  EXPECT_EQ(half, 0xBEEF);

  errno = 0;
  EXPECT_EQ(window->Read32(0x100, &word), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(window->Write32(0x21, 0), -1);
}

TEST_P(DeviceBackendTest, ManyThreadsShareOneDescriptor) {
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        Record in{static_cast<uint32_t>(t), static_cast<uint32_t>(i)};
        Record out{};
        if (DeviceIoctl(fd, ToyDevice::kSetRecord, &in, sizeof in) != 0 ||
            DeviceIoctl(fd, ToyDevice::kGetRecord, &out, sizeof out) != 0) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  DeviceClose(fd);
  EXPECT_EQ(model_->closes, 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, DeviceBackendTest,
                         ::testing::Values(Backend::kInProcess, Backend::kServed),
                         [](const auto& info) {
                           return info.param == Backend::kInProcess ? "InProcess" : "Served";
                         });

// Served only: the server's own life cycle.
TEST(DeviceServer, RemovedDeviceDisappearsAndStopRemovesSockets) {
  platform::TempFolder folder;
  platform::ScopedEnv root("CHASSIS_ROOT", folder.path().c_str());
  auto model = std::make_shared<ToyDevice>();
  DeviceServer server;
  ASSERT_EQ(server.Add(kToyPath, model), 0);
  EXPECT_EQ(server.Add(kToyPath, model), -EEXIST);
  ASSERT_EQ(server.Start(), 0);
  const std::string socket_path = platform::ResolvePath(kToyPath);
  EXPECT_EQ(access(socket_path.c_str(), F_OK), 0);

  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(server.Remove(kToyPath), 0);
  EXPECT_EQ(server.Remove(kToyPath), -ENOENT);
  errno = 0;
  EXPECT_EQ(DeviceOpen(kToyPath, O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  // The open descriptor lost its device: an I/O error, not a hang.
  errno = 0;
  EXPECT_EQ(DeviceWrite(fd, "x", 1), -1);
  EXPECT_EQ(errno, EIO);
  DeviceClose(fd);

  // Devices may be added while running; the session closes when the client goes.
  ASSERT_EQ(server.Add("/dev/late0", model), 0);
  const int late = DeviceOpen("/dev/late0", O_RDWR);
  ASSERT_GE(late, 0);
  EXPECT_EQ(DeviceWrite(late, "x", 1), 1);
  EXPECT_EQ(DeviceClose(late), 0);
  server.Stop();
  EXPECT_NE(access(platform::ResolvePath("/dev/late0").c_str(), F_OK), 0);
  EXPECT_EQ(model->opens.load(), model->closes.load());
}

TEST(DeviceServer, ServesUnderARootTooDeepForASocketAddress) {
  platform::TempFolder folder;
  const std::string deep = folder.path() + "/" + std::string(60, 'a') + "/" + std::string(60, 'b');
  platform::ScopedEnv root("CHASSIS_ROOT", deep.c_str());
  ASSERT_GT(platform::ResolvePath(kToyPath).size(), sizeof(sockaddr_un::sun_path));
  DeviceServer server;
  ASSERT_EQ(server.Add(kToyPath, std::make_shared<ToyDevice>()), 0);
  ASSERT_EQ(server.Start(), 0);
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  EXPECT_EQ(DeviceWrite(fd, "deep", 4), 4);
  EXPECT_EQ(DeviceClose(fd), 0);
  server.Stop();
  EXPECT_NE(access(platform::ResolvePath(kToyPath).c_str(), F_OK), 0);
}

TEST(DeviceServer, StopEndsAClientBlockedInRead) {
  platform::TempFolder folder;
  platform::ScopedEnv root("CHASSIS_ROOT", folder.path().c_str());
  DeviceServer server;
  ASSERT_EQ(server.Add(kToyPath, std::make_shared<ToyDevice>()), 0);
  ASSERT_EQ(server.Start(), 0);
  const int fd = DeviceOpen(kToyPath, O_RDWR);
  ASSERT_GE(fd, 0);
  auto reader = std::async(std::launch::async, [fd] {
    char byte;
    const ssize_t got = DeviceRead(fd, &byte, 1);
    return std::make_pair(got, errno);
  });
  EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
  server.Stop();
  ASSERT_EQ(reader.wait_for(3s), std::future_status::ready);
  const auto [got, error] = reader.get();
  EXPECT_EQ(got, -1);
  EXPECT_EQ(error, EIO);
  // A poll sees the lost device as an error on its entry, not as a failed poll.
  pollfd entry{fd, POLLIN, 0};
  EXPECT_EQ(DevicePoll(&entry, 1, 1000), 1);
  EXPECT_EQ(entry.revents, POLLERR);
  DeviceClose(fd);
}

TEST(DeviceServer, ANodeNobodyServesIsAMissingDriver) {
  platform::TempFolder folder;
  platform::ScopedEnv root("CHASSIS_ROOT", folder.path().c_str());
  ASSERT_EQ(mkdir((folder.path() + "/dev").c_str(), 0755), 0);

  // A socket left behind by a server that is gone.
  const std::string stale = platform::ResolvePath("/dev/stale0");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, stale.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(listener);
  errno = 0;
  EXPECT_EQ(DeviceOpen("/dev/stale0", O_RDWR), -1);
  EXPECT_EQ(errno, ENODEV);

  // A plain file where a device should be.
  const std::string plain = platform::ResolvePath("/dev/plain0");
  ASSERT_EQ(close(open(plain.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
  errno = 0;
  EXPECT_EQ(DeviceOpen("/dev/plain0", O_RDWR), -1);
  EXPECT_EQ(errno, ENODEV);

  // The server replaces a stale socket, but never a file that is not a socket.
  DeviceServer server;
  EXPECT_EQ(server.Add("/dev/stale0", std::make_shared<ToyDevice>()), 0);
  EXPECT_EQ(server.Add("/dev/plain0", std::make_shared<ToyDevice>()), -EEXIST);
  ASSERT_EQ(server.Start(), 0);
  const int fd = DeviceOpen("/dev/stale0", O_RDWR);
  EXPECT_GE(fd, 0);
  DeviceClose(fd);
}

}  // namespace
}  // namespace sim
