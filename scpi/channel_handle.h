// The engine's view of the client that sent a program message: the message text and
// the ten callbacks through which the engine talks back to that client's server while
// it executes (responses, error queue, the four IEEE 488.2 status bytes). The
// controller's command channels fill one per server; tests fill their own.
#pragma once

#include <cstddef>
#include <cstdint>

struct CommandChannel;  // the controller's command channel; opaque to the engine

// Size of the command text buffer and of every text handed back by read_error.
inline constexpr std::size_t kCommandTextSize = 10248;

struct ChannelHandle {
  char command_text[kCommandTextSize];
  int (*notify_done)(CommandChannel* channel);
  int (*push_error)(CommandChannel* channel, const char* text);
  int (*write_response)(CommandChannel* channel, const char* text);
  // A handle whose read_status is null has no server behind it: the engine then
  // leaves the status bytes alone.
  int (*read_status)(CommandChannel* channel, uint8_t* ese_out, uint8_t* esr_out,
                     uint8_t* sre_out, uint8_t* stb_out);
  // text_out holds kCommandTextSize bytes.
  int (*read_error)(CommandChannel* channel, char* text_out);
  int (*write_ese)(CommandChannel* channel, uint8_t value);
  int (*write_esr)(CommandChannel* channel, uint8_t value);
  int (*write_sre)(CommandChannel* channel, uint8_t value);
  int (*write_stb)(CommandChannel* channel, uint8_t value);
  int (*clear_errors)(CommandChannel* channel);
  CommandChannel* channel;
};
