// The LAN server program as one object: the master side of the LAN command channel,
// the event reader on "/tmp/event_eth", the three TCP servers (commands on the base
// port, events on base+1, raw transfers on base+2), the VXI-11 instrument server (its
// core channel on the first free port after the raw port, its abort channel after
// that, the port mapper on 111 when it can own it) and the threads that run them: the
// router, the event reader, the two pollers and the accept threads.
#pragma once

#include "core/event_reader.h"
#include "core/master_router.h"
#include "lanserver/async_sock_svr.h"
#include "lanserver/raw_sock_svr.h"
#include "core/server_threads.h"
#include "lanserver/sock_svr.h"
#include "lanserver/vxi11_server.h"

namespace lan {

class LanServer {
 public:
  LanServer() = default;
  ~LanServer();
  LanServer(const LanServer&) = delete;
  LanServer& operator=(const LanServer&) = delete;

  // Opens the command channel and the event FIFO (both block until the controller
  // opens its ends), then starts the event, command and raw servers on the platform's
  // ports. Returns 0, or -1 / an errno value.
  int Open();
  // Starts the router, the event reader and the two pollers. 0 or the pthread_create
  // error code.
  int StartThreads();
  // Blocks until a stop.
  void WaitForStop() { threads_.WaitForStop(); }
  // After a stop: waits for every thread to end.
  void Join() { threads_.JoinAll(); }
  // Closes the channel and the event FIFO and frees every client. After Join.
  void Close();

  SockSvr& command() { return command_; }
  RawSockSvr& raw() { return raw_; }
  AsyncSockSvr& events() { return events_; }
  Vxi11Server& vxi11() { return vxi11_; }

 private:
  // First, so that the stop event exists before anything waits on it.
  ServerThreads threads_;
  RouterWakeup wakeup_;
  MasterChannel channel_;
  EventReader event_reader_;
  AsyncSockSvr events_;
  SockSvr command_;
  RawSockSvr raw_;
  Vxi11Server vxi11_;
  StringQueue* queues_[3] = {command_.inbound(), raw_.inbound(), vxi11_.inbound()};
  bool open_ = false;
};

// The program: installs the stop handlers, runs a LanServer until a stop, and returns
// 0, or the code of the step that failed.
int SockSvrMain();

}  // namespace lan
