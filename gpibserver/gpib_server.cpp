// buslink's start-up and shut-down: the device, the command channel to the
// controller, the event FIFO, the four threads, and their orderly end at a stop.
#include <cstdio>
#include <memory>

#include "core/diag_print.h"
#include "core/event_reader.h"
#include "core/gpibdev_utils.h"
#include "core/master_router.h"
#include "core/run_state.h"
#include "core/server_threads.h"
#include "gpibserver/gpib_svr.h"

namespace gpib {

int GPIBSvrMain() {
  if (GPIBDevInit() != 0) {
    diag_error_line("_gpib/GPIBSvrMain", "main", __LINE__, "GPIBDevInit failed\n");
  }
  if (InstallServerStop() != 0) return -1;
  auto channel = std::make_unique<MasterChannel>();
  if (MasterSetup(channel.get(), kChannelTypeGpib, GPIBSvrHooks()) != 0) return -1;
  // Events are read so that the controller's writes never block, and dropped.
  auto events = std::make_unique<EventReader>();
  if (EventReaderSetup(events.get(), "/tmp/event_gpib", nullptr, nullptr) != 0) {
    MasterTeardown(channel.get());
    return -1;
  }
  auto server = std::make_unique<GPIBSvr>();
  int result = InitiateGPIBServer(server.get(), channel.get());
  if (result != 0) {
    std::printf("%s line %d: InitiateGPIBServer failed\n", "main", __LINE__);
  } else {
    StringQueue* queues[] = {&server->inbound_queue};
    ServerThreads threads;
    GPIBSvr* svr = server.get();
    MasterChannel* master = channel.get();
    EventReader* reader = events.get();
    result = threads.Start([=] { poll_msg_queues(queues, 1, master, &svr->wakeup); });
    if (result == 0) {
      result = threads.Start([svr] {
        while (GPIBReadChunk(svr) == 1) {
        }
      });
    }
    if (result == 0) result = threads.Start([svr] { GPIBWriterLoop(svr); });
    if (result == 0) result = threads.Start([reader] { event_slavemsgrout_do_IDLE_task(reader); });
    if (result == 0) {
      threads.WaitForStop();
    } else {
      RequestStop();  // whatever started ends before the program does
    }
    server->output_queue.WakeAll();
    threads.JoinAll();
    CloseGPIBServer(server.get());
  }
  MasterTeardown(channel.get());
  EventReaderClose(events.get());
  GPIBDevClose();
  return result;
}

}  // namespace gpib
