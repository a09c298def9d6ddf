// Start-up, threads and shut-down of the LAN server.
#include "lanserver/lan_server.h"

#include <cstdio>
#include <memory>

#include "core/run_state.h"
#include "lanserver/lan_hooks.h"
#include "lanserver/port_mapper.h"
#include "platform/paths.h"

namespace lan {

LanServer::~LanServer() {
  // The threads use this object: they must have ended before it goes.
  RequestStop();
  Join();
  Close();
}

int LanServer::Open() {
  if (MasterSetup(&channel_, kChannelTypeSocket, LanMasterHooks()) != 0) return -1;
  open_ = true;
  if (EventReaderSetup(&event_reader_, "/tmp/event_eth", &AsyncSockSvr::NotifyHook,
                       &events_) != 0) {
    return -1;
  }
  // An event registration must name a live command connection.
  auto is_command = [this](int descriptor) { return command_.IsClient(descriptor); };
  if (int result = events_.Start(platform::EventPort(), threads_, is_command); result != 0) {
    return result;
  }
  if (int result = command_.Start(platform::CommandPort(), threads_, &wakeup_, &events_);
      result != 0) {
    return result;
  }
  if (int result = raw_.Start(platform::RawPort(), threads_, &wakeup_, nullptr); result != 0) {
    return result;
  }
  return vxi11_.Start(static_cast<uint16_t>(platform::RawPort() + 1), kPortMapperPort, threads_,
                      &wakeup_);
}

int LanServer::StartThreads() {
  if (int result = threads_.Start([this] { poll_msg_queues(queues_, 3, &channel_, &wakeup_); });
      result != 0) {
    return result;
  }
  if (int result =
          threads_.Start([this] { event_slavemsgrout_do_IDLE_task(&event_reader_); });
      result != 0) {
    return result;
  }
  if (int result = threads_.Start([this] { command_.PollLoop(); }); result != 0) return result;
  return threads_.Start([this] { raw_.PollLoop(); });
}

void LanServer::Close() {
  if (!open_) return;
  open_ = false;
  MasterTeardown(&channel_);
  EventReaderClose(&event_reader_);
  command_.CleanupClientCol();
  events_.Destroy();
  raw_.CleanupClientCol();
  vxi11_.Close();
}

int SockSvrMain() {
  if (InstallStopHandlers() != 0) {
    std::perror("sigaction");
    return -1;
  }
  auto server = std::make_unique<LanServer>();
  int result = server->Open();
  if (result == 0) result = server->StartThreads();
  if (result == 0) server->WaitForStop();
  RequestStop();  // after a failed step, whatever started ends before the program does
  server->Join();
  server->Close();
  return result;
}

}  // namespace lan
