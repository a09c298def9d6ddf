// A simulated message device with two nodes: the instrument's node, which the firmware
// opens (reads deliver what the other side sent, writes queue a response for it), and
// the other side's node for people and tests (the GPIB bus controller, the USB host).
// The GPIB and USBTMC models are built on it and add their own requests.
//
// Each write is one message and each read returns at most the rest of the oldest
// message, as a bus transfer ends at its end mark. A read with nothing to deliver
// waits; a write waits while the other side has a full room of unread bytes (the bus
// handshake holds the talker), except that a write into an empty direction is always
// taken whole. A model that holds its talker (GPIB) goes further: the instrument's
// write returns only once the other side has read the whole message, as a talker's
// write on the bus ends when the listener has taken the last byte (a non-blocking
// write reports EAGAIN until then, its message already on its way).
//
// The object must be owned by a std::shared_ptr: each node's model keeps it alive.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/device_model.h"

namespace sim {

class MessagePort : public std::enable_shared_from_this<MessagePort> {
 public:
  enum class Side { kInstrument, kHost };

  // Unread bytes one direction holds before writes into it wait.
  static constexpr std::size_t kRoom = 1 << 20;

  MessagePort();
  virtual ~MessagePort();
  MessagePort(const MessagePort&) = delete;
  MessagePort& operator=(const MessagePort&) = delete;

  // The models to serve at the two nodes.
  std::shared_ptr<platform::DeviceModel> instrument_side();
  std::shared_ptr<platform::DeviceModel> host_side();

  // Bytes written by one side that the other has not read yet.
  std::size_t PendingForInstrument() const;
  std::size_t PendingForHost() const;

 protected:
  // A request on `side`: `argument` holds a record of `size` bytes, or is null for a
  // request by value. Called with mutex_ held; the result is >= 0 or a negated errno.
  // Both sides are told of a change after every request that succeeds.
  virtual int Request(Side side, unsigned long request, void* argument, size_t size,
                      unsigned long value) = 0;
  // Extra poll events of `side` (POLLPRI for a pending service request). mutex_ held.
  virtual short ExtraReadiness(Side side);
  // Told of each write of the instrument side (mutex_ held), before it is queued.
  virtual void OnInstrumentWrite(size_t size);
  // True for a bus whose instrument writes end only when the host has read them.
  virtual bool HoldsTalker() const;

  // While nonzero (a negated errno), the host side's transfers fail with it: the
  // interface is switched off. mutex_ held.
  int host_refusal_ = 0;

  // Drops every unread message in both directions. mutex_ held.
  void ClearMessages();
  bool HostHasOutput() const { return !to_host_.messages.empty(); }  // mutex_ held

  // Tells both sides' waiters that something changed.
  void Changed();

  mutable std::mutex mutex_;

 private:
  class Node;

  // Messages travelling one way, and their byte count.
  struct Direction {
    std::deque<std::string> messages;
    std::size_t bytes = 0;
  };

  ssize_t Read(Side side, void* buffer, size_t size);
  ssize_t Write(Side side, uint64_t open_id, const void* buffer, size_t size);
  // An open of `side` ended: a held write of it ends with it, as a killed talker's
  // transfer does, its message left for the host.
  void Closed(Side side, uint64_t open_id);
  int Ioctl(Side side, unsigned long request, void* argument, size_t size,
            unsigned long value);
  short Readiness(Side side);
  Direction& Inbox(Side side) { return side == Side::kInstrument ? to_instrument_ : to_host_; }

  Direction to_instrument_;
  Direction to_host_;
  bool talker_waiting_ = false;  // a held write's message is on its way to the host
  uint64_t talker_open_ = 0;     // the open whose write that is
  std::unique_ptr<Node> instrument_;
  std::unique_ptr<Node> host_;
};

// Waits up to `timeout_ms` (negative: no limit) for one of the poll `events` on the
// device at `fd`. 0, or -1 with errno (ETIMEDOUT when none came in time).
int WaitForEvents(int fd, short events, int timeout_ms);
// For the host side's user: waits up to `timeout_ms` (negative: no limit) for the
// device at `fd` to have data, then reads one message into `message`. 0, or -1 with
// errno (ETIMEDOUT when nothing came in time).
int ReadMessage(int fd, std::string* message, int timeout_ms);
// Writes `message` as one message. 0, or -1 with errno.
int WriteMessage(int fd, const std::string& message);

}  // namespace sim
