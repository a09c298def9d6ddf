// The GPIB server: the bus is its one client. Program messages the bus controller
// sends arrive as reads on "/dev/gpib0" and are queued for the master router;
// responses the controller sends back (S7) are cut into pieces for the writer, which
// writes each whole response to the device for the bus controller to read. The server
// mirrors the client's status byte into the device (the serial poll response), raises
// service requests, and asks the device whether output is pending.
//
// The status byte is written from two threads: the router stores the controller's
// STB, the writer marks a response in progress (MAV). Both go through one lock, which
// is also held while the device's status byte is written, so neither change is lost
// and the device never keeps a stale byte. The device's MAV bit is the writer's alone.
#pragma once

#include <cstdint>
#include <mutex>

#include "core/ieee_client.h"
#include "core/master_router.h"
#include "core/string_queue.h"

namespace gpib {

struct GPIBSvr {
  int data_fd = -1;  // "/dev/gpib0", for the program messages and responses
  IEEE_Client bus_client;
  StringQueue inbound_queue;  // chunks read from the bus, for the router
  StringQueue output_queue;   // response pieces, for the writer
  RouterWakeup wakeup;        // tells the router of queued chunks
  std::mutex status_mutex;    // guards the STB's two writers: the router, the writer
  char last_command[STRING_QUEUE_TEXT_SIZE] = {};  // the last chunk forwarded
};

// Opens the device as the data descriptor, and makes the bus client the router's
// current client. 0, or a negated errno when the device cannot be opened.
int InitiateGPIBServer(GPIBSvr* server, MasterChannel* channel);
void CloseGPIBServer(GPIBSvr* server);

// The hook table the GPIB server hands to MasterSetup.
MasterHooks GPIBSvrHooks();

// Hooks, on the bus client's block (its owner is the GPIBSvr).
// Stores STB, raises a service request when it is due (bit 6 rises and the new byte
// shares another bit with SRE), then gives the device the new byte as it is.
void StoreStatusByte(IEEE_Client* client, uint8_t value);
// Queues the response in pieces of 254 characters. 0, or -12 when a piece could not
// be allocated.
int UpdateResponseMsg_Interface(IEEE_Client* client, const char* text);
// Output pending, as the device tells it (none when it cannot).
bool GetMAV_bit_interface(IEEE_Client* client);
void ClearDeviceHook(IEEE_Client* client);

// The GPIB reader: one read of up to 254 bytes from the bus, queued for the router
// unless it is a "####" chunk. 1 to go on, 0 at a stop or end of data, -1 on a read
// error.
int GPIBReadChunk(GPIBSvr* server);
// The GPIB writer thread: takes response pieces until a stop and writes each whole
// response (a piece ending in a line feed ends one) to the device.
void GPIBWriterLoop(GPIBSvr* server);

// The buslink program.
int GPIBSvrMain();

}  // namespace gpib
