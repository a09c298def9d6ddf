// The SM-DIO12 digital I/O card's driver functions, for the DIGital commands: its
// registers by index (ports 0-11, 20 the ID byte, 30/31 the directions and the
// synchronous-port count, 32 the control bits, 33 the interrupt acknowledge, 40 the
// EPROM port), the ports' data and directions, and the synchronous run: per port a
// pattern of up to 256 bytes, its number of points and the next position (index).
//
// A synchronous run is stepped by the card's interrupt on the event monitor thread
// while the commands run on a command thread; every function here holds the card
// state lock, so a command can neither tear a pattern nor race a step.
//
// The DIGital commands themselves are in switching/digital_commands.cpp: they parse
// channel lists, which the switching folder owns and this folder may not include.
#pragma once

#include <cstdint>

inline constexpr int kDioPatternBytes = 256;

// Register access by index. 0, -10238 for an index outside the map, or the bus error.
int32_t DioReadRegister(int slot, int index, uint8_t* byte);
int32_t DioWriteRegister(int slot, int index, uint8_t byte);

// Port data: the OC and HVOC variants put the complement of the written byte on the bus.
int32_t DioReadPort(int slot, int port, uint8_t* byte);
int32_t DioWritePort(int slot, int port, uint8_t byte);

// Directions: output ports have their drivers enabled.
int32_t DioIsOutput(int slot, int port, bool* output);
int32_t DioOutputMask(int slot, uint16_t* mask);  // bit p: port p is an output
int32_t DioSetOutputState(int slot, int port, bool on);

// Ports 0 .. count - 1 are synchronous.
int32_t DioSyncCount(int slot, int* count);
int32_t DioSetSyncCount(int slot, int count);
int32_t DioIsSynchronous(int slot, int port, bool* synchronous);

// Control bits: busy polarity (bit 1 clear: inverted), clock polarity (bit 2 set:
// inverted; the armed bit is dropped while it changes), armed (bit 0).
int32_t DioSetBusyInverted(int slot, bool inverted);
int32_t DioBusyInverted(int slot, bool* inverted);
int32_t DioSetClockInverted(int slot, bool inverted);
int32_t DioClockInverted(int slot, bool* inverted);
// Arming also sets every port's index to 0.
int32_t DioArm(int slot, bool on);
int32_t DioArmed(int slot, bool* armed);

// The synchronous run's state of a port.
void DioSetSyncMode(int slot, bool on);
bool DioSyncMode(int slot);
void DioSetPoints(int slot, int port, int points);
int DioPoints(int slot, int port);
// Sets the index and the points both.
void DioSetIndex(int slot, int port, int index);
int DioIndex(int slot, int port);
// Appends a byte to the port's pattern: -10243 when it already holds 256.
int32_t DioAppendData(int slot, int port, uint8_t byte);
// The first `count` bytes of the port's pattern (count at most 256).
void DioPattern(int slot, int port, uint8_t* bytes, int count);
// Every port's index to 0; the points of output ports to 0.
int32_t DioClearRun(int slot);

// The port count of the digital card in `slot`, or 0 for any other slot.
int DioPortCount(int slot);
