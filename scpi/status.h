// The IEEE 488.2 status rules. The four status bytes of a client live in its server
// and are read and written through the ChannelHandle callbacks; every change goes
// through the set/clear rules here so that the summary bit (STB bit 5) and the
// request-service bit (bit 6) always follow ESR, ESE and SRE. The OPERation and
// QUEStionable registers live here, once for the controller, and feed the status
// byte of the channel that is executing. A handle without read_status has no server
// behind it and is left alone.
#pragma once

#include <cstdint>

#include "scpi/channel_handle.h"

// Status byte bits.
inline constexpr uint8_t kStbQuestionable = 0x08;
inline constexpr uint8_t kStbMessageAvailable = 0x10;
inline constexpr uint8_t kStbEventSummary = 0x20;
inline constexpr uint8_t kStbRequestService = 0x40;
inline constexpr uint8_t kStbOperation = 0x80;
// Standard event status register bits.
inline constexpr uint8_t kEsrOperationComplete = 0x01;
inline constexpr uint8_t kEsrQueryError = 0x04;
inline constexpr uint8_t kEsrDeviceError = 0x08;
inline constexpr uint8_t kEsrExecutionError = 0x10;
inline constexpr uint8_t kEsrCommandError = 0x20;
inline constexpr uint8_t kEsrPowerOn = 0x80;

struct StatusBytes {
  uint8_t ese;
  uint8_t esr;
  uint8_t sre;
  uint8_t stb;
};

// Reads the four bytes; -301 when the handle has no server behind it. Within one
// program message only the engine changes a channel's status bytes, so the executing
// channel's bytes are asked of its server once and then kept here, written through
// the Write* functions below; every round trip saved is a wake-up of two processes.
int32_t ReadStatusBytes(ChannelHandle* handle, StatusBytes* out);
// Write one status byte to the channel's server, keeping the message's copy current.
void WriteEse(ChannelHandle* handle, uint8_t value);
void WriteEsr(ChannelHandle* handle, uint8_t value);
void WriteSre(ChannelHandle* handle, uint8_t value);
void WriteStb(ChannelHandle* handle, uint8_t value);
// The server may change the bytes on its own from here on (a delivered response
// clears message-available): the next read asks it again.
void ForgetStatusCopy();
void SetStatusByteBits(ChannelHandle* handle, uint8_t mask);
void ClearStatusByteBits(ChannelHandle* handle, uint8_t mask);
void SetEventStatusBit(ChannelHandle* handle, uint8_t bit);
void ClearEventStatusBits(ChannelHandle* handle, uint8_t mask);

// The channel whose program message is executing (null when none). Register changes
// made on the executing thread update its status byte; changes from other threads
// (a scan ending by itself) update only the registers.
void SetExecutingChannel(ChannelHandle* handle);

enum class StatusRegister { kOperation, kQuestionable };
void SetConditionBits(StatusRegister which, uint16_t mask);
void ClearConditionBits(StatusRegister which, uint16_t mask);
void WriteStatusEnable(StatusRegister which, uint16_t value);
// Returns the event register and clears it, with the summary bit.
uint16_t ReadStatusEvent(StatusRegister which);
uint16_t StatusCondition(StatusRegister which);
uint16_t StatusEnable(StatusRegister which);

// Set at program start, cleared the first time *ESR? reports it.
bool PowerOnFlag();
void ClearPowerOnFlag();
// Back to the power-on values: flag set, registers zero (start-up and tests).
void ResetStatusState();

// Whether a scan is running, for *OPC and *OPC? to wait on; connected for the
// scanning code. Unconnected, no scan can be running.
using ScanRunningQuery = bool (*)();
void SetScanRunningQuery(ScanRunningQuery query);
bool IsScanRunning();
