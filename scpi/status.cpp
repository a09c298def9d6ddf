// The status-byte, event-status and OPERation/QUEStionable rules (see status.h).
#include "scpi/status.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "core/seam.h"
#include "scpi/error_codes.h"

namespace {

Seam<bool()> g_scan_running;

struct EventRegister {
  uint16_t condition;
  uint16_t event;
  uint16_t enable;
  uint8_t summary;  // the status byte bit it feeds
};

// The registers are shared with the scan thread, which changes the OPERation
// condition when a scan ends by itself.
std::mutex g_register_lock;
EventRegister g_operation{0, 0, 0, kStbOperation};
EventRegister g_questionable{0, 0, 0, kStbQuestionable};
std::atomic<bool> g_power_on{true};

ChannelHandle* g_executing = nullptr;
std::thread::id g_executing_thread;

EventRegister& Register(StatusRegister which) {
  return which == StatusRegister::kOperation ? g_operation : g_questionable;
}

// The executing channel when called on its thread, else null.
ChannelHandle* ExecutingHere() {
  if (g_executing == nullptr || g_executing_thread != std::this_thread::get_id()) return nullptr;
  return g_executing;
}

// The executing channel's status bytes as last read or written; used only on the
// executing thread.
struct StatusCopy {
  bool valid;
  StatusBytes bytes;
};
StatusCopy g_copy{false, {}};

// The copy when it belongs to `handle`, else null.
StatusBytes* CopyOf(ChannelHandle* handle) {
  return g_copy.valid && handle != nullptr && handle == ExecutingHere() ? &g_copy.bytes : nullptr;
}

}  // namespace

int32_t ReadStatusBytes(ChannelHandle* handle, StatusBytes* out) {
  if (handle == nullptr || handle->read_status == nullptr) return err::kSystemError;
  if (const StatusBytes* copy = CopyOf(handle)) {
    *out = *copy;
    return 0;
  }
  if (handle->read_status(handle->channel, &out->ese, &out->esr, &out->sre, &out->stb) < 0) {
    return err::kSystemError;
  }
  if (handle == ExecutingHere()) g_copy = {true, *out};
  return 0;
}

void WriteEse(ChannelHandle* handle, uint8_t value) {
  handle->write_ese(handle->channel, value);
  if (StatusBytes* copy = CopyOf(handle)) copy->ese = value;
}

void WriteEsr(ChannelHandle* handle, uint8_t value) {
  handle->write_esr(handle->channel, value);
  if (StatusBytes* copy = CopyOf(handle)) copy->esr = value;
}

void WriteSre(ChannelHandle* handle, uint8_t value) {
  handle->write_sre(handle->channel, value);
  if (StatusBytes* copy = CopyOf(handle)) copy->sre = value;
}

void WriteStb(ChannelHandle* handle, uint8_t value) {
  handle->write_stb(handle->channel, value);
  if (StatusBytes* copy = CopyOf(handle)) copy->stb = value;
}

void ForgetStatusCopy() { g_copy.valid = false; }

void SetStatusByteBits(ChannelHandle* handle, uint8_t mask) {
  StatusBytes s{};
  if (ReadStatusBytes(handle, &s) != 0) return;
  auto added = static_cast<uint8_t>(mask & ~s.stb);
  if (added == 0) return;
  if ((added & s.sre) != 0 && (s.stb & kStbRequestService) == 0) added |= kStbRequestService;
  WriteStb(handle, static_cast<uint8_t>(s.stb | added));
}

void ClearStatusByteBits(ChannelHandle* handle, uint8_t mask) {
  StatusBytes s{};
  if (ReadStatusBytes(handle, &s) != 0) return;
  if ((s.stb & mask) == 0) return;
  bool had_service = (s.stb & kStbRequestService) != 0;
  auto stb = static_cast<uint8_t>(s.stb & ~mask);
  if (had_service && (stb & s.sre) == 0) stb &= static_cast<uint8_t>(~kStbRequestService);
  WriteStb(handle, stb);
}

void SetEventStatusBit(ChannelHandle* handle, uint8_t bit) {
  StatusBytes s{};
  if (ReadStatusBytes(handle, &s) != 0) return;
  if ((s.esr & bit) == bit) return;
  WriteEsr(handle, static_cast<uint8_t>(s.esr | bit));
  if ((bit & s.ese) != 0 && (s.stb & kStbEventSummary) == 0) {
    auto stb = static_cast<uint8_t>(s.stb | kStbEventSummary);
    if ((s.sre & kStbEventSummary) != 0) stb |= kStbRequestService;
    WriteStb(handle, stb);
  }
}

void ClearEventStatusBits(ChannelHandle* handle, uint8_t mask) {
  StatusBytes s{};
  if (ReadStatusBytes(handle, &s) != 0) return;
  if ((s.esr & mask) == 0) return;
  auto esr = static_cast<uint8_t>(s.esr & ~mask);
  WriteEsr(handle, esr);
  if ((esr & s.ese) != 0) return;
  if ((s.stb & kStbEventSummary) == 0) return;
  auto stb = static_cast<uint8_t>(s.stb & ~kStbEventSummary & ~kStbRequestService);
  if ((stb & s.sre) != 0) stb |= kStbRequestService;
  WriteStb(handle, stb);
}

void SetExecutingChannel(ChannelHandle* handle) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  g_copy.valid = false;
  g_executing = handle;
  g_executing_thread = std::this_thread::get_id();
}

void SetConditionBits(StatusRegister which, uint16_t mask) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  EventRegister& r = Register(which);
  auto added = static_cast<uint16_t>(mask & ~r.condition);
  if (added == 0) return;
  r.condition |= added;
  auto event = static_cast<uint16_t>(r.event | (r.enable & added));
  if (event == r.event) return;
  r.event = event;
  SetStatusByteBits(ExecutingHere(), r.summary);
}

void ClearConditionBits(StatusRegister which, uint16_t mask) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  EventRegister& r = Register(which);
  r.condition = static_cast<uint16_t>(r.condition & ~mask);
}

void WriteStatusEnable(StatusRegister which, uint16_t value) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  EventRegister& r = Register(which);
  r.enable = value;
  auto event = static_cast<uint16_t>(r.event | (r.enable & r.condition));
  if (event == r.event) return;
  r.event = event;
  SetStatusByteBits(ExecutingHere(), r.summary);
}

uint16_t ReadStatusEvent(StatusRegister which) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  EventRegister& r = Register(which);
  uint16_t event = r.event;
  r.event = 0;
  ClearStatusByteBits(ExecutingHere(), r.summary);
  return event;
}

uint16_t StatusCondition(StatusRegister which) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  return Register(which).condition;
}

uint16_t StatusEnable(StatusRegister which) {
  std::lock_guard<std::mutex> lock(g_register_lock);
  return Register(which).enable;
}

bool PowerOnFlag() { return g_power_on.load(); }
void ClearPowerOnFlag() { g_power_on.store(false); }

void ResetStatusState() {
  std::lock_guard<std::mutex> lock(g_register_lock);
  g_operation.condition = g_operation.event = g_operation.enable = 0;
  g_questionable.condition = g_questionable.event = g_questionable.enable = 0;
  g_power_on.store(true);
}

void SetScanRunningQuery(ScanRunningQuery query) { g_scan_running.Connect(query); }

bool IsScanRunning() {
  ScanRunningQuery query = g_scan_running.function();
  return query != nullptr && query();
}
