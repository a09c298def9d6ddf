// The two-node message device: the message queues of both directions, the waits the
// platform layer builds on -EAGAIN, and the host side's read with a time limit.
#include "sim/message_port.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/device.h"

namespace sim {

// One node: forwards to the port with its side.
class MessagePort::Node final : public platform::DeviceModel {
 public:
  Node(MessagePort* port, Side side) : port_(port), side_(side) {}
  ssize_t Read(uint64_t, void* buffer, size_t size) override {
    return port_->Read(side_, buffer, size);
  }
  ssize_t Write(uint64_t open_id, const void* buffer, size_t size) override {
    return port_->Write(side_, open_id, buffer, size);
  }
  void Close(uint64_t open_id) override { port_->Closed(side_, open_id); }
  int Ioctl(uint64_t, unsigned long request, void* argument, size_t size) override {
    // A record request always carries a record; null is kept for requests by value.
    static char empty;
    return port_->Ioctl(side_, request, argument != nullptr ? argument : &empty, size, 0);
  }
  int IoctlValue(uint64_t, unsigned long request, unsigned long value) override {
    return port_->Ioctl(side_, request, nullptr, 0, value);
  }
  short Readiness(uint64_t) override { return port_->Readiness(side_); }
  void Changed() { NotifyChanged(); }

 private:
  MessagePort* port_;
  Side side_;
};

MessagePort::MessagePort()
    : instrument_(std::make_unique<Node>(this, Side::kInstrument)),
      host_(std::make_unique<Node>(this, Side::kHost)) {}

MessagePort::~MessagePort() = default;

std::shared_ptr<platform::DeviceModel> MessagePort::instrument_side() {
  return std::shared_ptr<platform::DeviceModel>(shared_from_this(), instrument_.get());
}

std::shared_ptr<platform::DeviceModel> MessagePort::host_side() {
  return std::shared_ptr<platform::DeviceModel>(shared_from_this(), host_.get());
}

std::size_t MessagePort::PendingForInstrument() const {
  std::lock_guard hold(mutex_);
  return to_instrument_.bytes;
}

std::size_t MessagePort::PendingForHost() const {
  std::lock_guard hold(mutex_);
  return to_host_.bytes;
}

short MessagePort::ExtraReadiness(Side) { return 0; }

void MessagePort::OnInstrumentWrite(size_t) {}

bool MessagePort::HoldsTalker() const { return false; }

void MessagePort::ClearMessages() {
  to_instrument_ = Direction{};
  to_host_ = Direction{};
}

void MessagePort::Changed() {
  instrument_->Changed();
  host_->Changed();
}

ssize_t MessagePort::Read(Side side, void* buffer, size_t size) {
  ssize_t got = 0;
  {
    std::lock_guard hold(mutex_);
    if (side == Side::kHost && host_refusal_ != 0) return host_refusal_;
    Direction& inbox = Inbox(side);
    if (inbox.messages.empty()) return -EAGAIN;
    if (size == 0) return 0;
    std::string& oldest = inbox.messages.front();
    const size_t count = std::min(size, oldest.size());
    std::memcpy(buffer, oldest.data(), count);
    oldest.erase(0, count);
    if (oldest.empty()) inbox.messages.pop_front();
    inbox.bytes -= count;
    got = static_cast<ssize_t>(count);
  }
  Changed();  // room was made, and the pending state may have changed
  return got;
}

ssize_t MessagePort::Write(Side side, uint64_t open_id, const void* buffer, size_t size) {
  ssize_t result = static_cast<ssize_t>(size);
  {
    std::lock_guard hold(mutex_);
    if (side == Side::kHost && host_refusal_ != 0) return host_refusal_;
    const bool held = side == Side::kInstrument && HoldsTalker();
    if (held && talker_waiting_) {
      // The blocking write's retry: done once the host has read the message (or a
      // device clear dropped it).
      if (!to_host_.messages.empty()) return -EAGAIN;
      talker_waiting_ = false;
      return result;
    }
    Direction& outbox = side == Side::kInstrument ? to_host_ : to_instrument_;
    if (outbox.bytes > 0 && outbox.bytes + size > kRoom) return -EAGAIN;
    if (size == 0) return 0;  // an empty transfer carries no message
    if (side == Side::kInstrument) OnInstrumentWrite(size);
    outbox.messages.emplace_back(static_cast<const char*>(buffer), size);
    outbox.bytes += size;
    if (held) {
      talker_waiting_ = true;
      talker_open_ = open_id;
      result = -EAGAIN;
    }
  }
  Changed();
  return result;
}

void MessagePort::Closed(Side side, uint64_t open_id) {
  {
    std::lock_guard hold(mutex_);
    // Otherwise the next open's first write would be taken for this one's retry and
    // its message never sent.
    if (side != Side::kInstrument || !talker_waiting_ || talker_open_ != open_id) return;
    talker_waiting_ = false;
  }
  Changed();
}

int MessagePort::Ioctl(Side side, unsigned long request, void* argument, size_t size,
                       unsigned long value) {
  int result = 0;
  {
    std::lock_guard hold(mutex_);
    result = Request(side, request, argument, size, value);
  }
  if (result >= 0) Changed();
  return result;
}

short MessagePort::Readiness(Side side) {
  std::lock_guard hold(mutex_);
  short events = ExtraReadiness(side);
  if (!Inbox(side).messages.empty()) events |= POLLIN;
  const Direction& outbox = side == Side::kInstrument ? to_host_ : to_instrument_;
  const bool held = side == Side::kInstrument && talker_waiting_;
  if (outbox.bytes < kRoom && !held) events |= POLLOUT;
  return events;
}

int WaitForEvents(int fd, short events, int timeout_ms) {
  pollfd wait{fd, events, 0};
  const int ready = platform::DevicePoll(&wait, 1, timeout_ms);
  if (ready < 0) return -1;
  if (ready == 0) {
    errno = ETIMEDOUT;
    return -1;
  }
  return 0;
}

int ReadMessage(int fd, std::string* message, int timeout_ms) {
  if (WaitForEvents(fd, POLLIN, timeout_ms) != 0) return -1;
  // One read takes the whole message: a response is at most a frame's text long.
  std::vector<char> buffer(1 << 16);
  const ssize_t got = platform::DeviceRead(fd, buffer.data(), buffer.size());
  if (got < 0) return -1;
  message->assign(buffer.data(), static_cast<size_t>(got));
  return 0;
}

int WriteMessage(int fd, const std::string& message) {
  const ssize_t put = platform::DeviceWrite(fd, message.data(), message.size());
  if (put < 0) return -1;
  if (static_cast<size_t>(put) != message.size()) {
    errno = EIO;
    return -1;
  }
  return 0;
}

}  // namespace sim
