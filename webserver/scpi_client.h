// The web server as a client of its own instrument: one raw-port connection per
// purpose (the panels, the console, the pages' queries), each with its own error
// queue, so that what a browser does never reaches another client's queue; and the
// event port registration that brings the chassis' notices.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace web {

// Where the instrument answers: its listening address, or loopback when it listens on
// every address.
std::string InstrumentHost();

// What one program message gave.
struct ScpiResult {
  bool done = false;            // false: the instrument could not be reached or did not answer
  std::string reply;            // the response line without its line feed; empty when none
  std::vector<std::string> errors;  // the error queue drained after the message
  std::string failure;          // why, when not done
};

// Longest program message a browser may send: one line of the instrument's.
inline constexpr std::size_t kLongestMessage = 10000;

// Empty when `message` may be sent as one program message on the raw port; otherwise
// why not (empty, too long, more than one line, or a block transfer request).
std::string RefusedMessage(const std::string& message);

// One raw-port connection, made on first use and again after any failure. Exchanges
// are one at a time.
class ScpiConnection {
 public:
  explicit ScpiConnection(uint16_t port) : port_(port) {}
  ~ScpiConnection();
  ScpiConnection(const ScpiConnection&) = delete;
  ScpiConnection& operator=(const ScpiConnection&) = delete;

  // Sends `message` (checked with RefusedMessage), then a marker query whose answer
  // ends the message's reply, then drains the error queue.
  ScpiResult Exchange(const std::string& message);
  // The reply of a query, or empty when it gave none.
  std::string Query(const std::string& query) { return Exchange(query).reply; }

 private:
  bool Connect();
  void Drop();
  bool Send(const std::string& text);
  bool ReadLine(std::string* line, std::chrono::steady_clock::time_point deadline);

  const uint16_t port_;
  std::mutex mutex_;
  int fd_ = -1;
  std::string received_;
};

// The event port registration, kept up by a thread of its own: a command-port
// connection gives the number the event socket registers under, for the scan events
// and every slot. Each notice's word goes to `on_word`; after a loss the thread
// connects again once a second until stopped.
class EventListener {
 public:
  EventListener(uint16_t command_port, uint16_t event_port, std::function<void(uint32_t)> on_word);
  ~EventListener();  // stops the thread
  void Start();

 private:
  void Run();
  bool Session();

  const uint16_t command_port_;
  const uint16_t event_port_;
  std::function<void(uint32_t)> on_word_;
  std::atomic<bool> running_{false};
  int stop_pipe_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace web
