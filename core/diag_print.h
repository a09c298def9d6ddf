// Diagnostic printers shared by the controller and both servers: the "** ERROR:" and
// "WARNING:" lines every module prints, explanations of the errno values of the
// system calls we depend on, the ERROR and TRACE lines, printers gated by a
// process-wide debug mask, a time stamp, and an append-only log file.
// Everything goes to standard output unless said otherwise.
#pragma once

#include <cstdint>
#include <string>

#define CHASSIS_PRINTF_LIKE(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))

// "** ERROR: [source | function | line] " followed by the formatted text; source is
// the module's source-name field (for example "_util/pipes_comm"). The text carries
// its own line feed.
void diag_error_line(const char* source, const char* function, int line, const char* format,
                     ...) CHASSIS_PRINTF_LIKE(4, 5);
// The same with "WARNING: [source | function | line] ".
void diag_warning_line(const char* source, const char* function, int line, const char* format,
                       ...) CHASSIS_PRINTF_LIKE(4, 5);

// The calls whose errno values are explained.
enum class DiagCall {
  open,
  write,
  close,
  pthread_create,
  pthread_mutex_init,
  pthread_mutex_lock,
  pthread_mutex_trylock,
  pthread_mutex_unlock,
  pthread_mutex_destroy,
  accept,
  bind,
  listen,
  recv,
  socket,
};

// Explains a failed call: "<what>\tdiagnosing error <call> = <error>\n", then one line
// saying what `error` means for that call, or "Unknown Error!\n". `what` names the
// failing operation for the reader (for example "socket()" or a file path).
void diag_call_error(DiagCall call, const char* what, int error);

// The explanation line diag_call_error prints (with its line feed).
const char* diag_call_explanation(DiagCall call, int error);

// "ERROR : File Name = '<file>', Function = '<function>()',  Message = '<message>'\n"
void diag_print_error(const char* file, const char* function, const char* message);
// "TRACE : File Name = '<file>', Function = '<function>()',  Message = '<message>'\n"
void diag_print_trace(const char* file, const char* function, const char* message);

// The process-wide debug mask, 0 at start. Bit 0 lets every gated printer through.
void diag_set_debug_mask(uint32_t mask);
uint32_t diag_debug_mask();
// True when the mask and `bits` share a bit, or bit 0 of the mask is set.
bool diag_debug_enabled(uint32_t bits);

// Printers gated by the debug mask: a formatted text, and a TRACE line.
void diag_debug_printf(uint32_t bits, const char* format, ...) CHASSIS_PRINTF_LIKE(2, 3);
void diag_debug_trace(uint32_t bits, const char* file, const char* function,
                      const char* message);

// The local time now as asctime writes it ("Mon Dec  7 20:46:57 2026\n").
std::string diag_time_stamp();

// Appends `text` to the log file at `path` (a fixed path, resolved through the
// platform layer): open, write, close under the log's own lock. A failing call is
// explained by diag_call_error with the path. Returns 0, or -1 when any call failed.
int diag_log_write(const char* path, const char* text);
