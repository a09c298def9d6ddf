// Runs one program message a given number of times through the fake channel, for
// counting the engine's instructions per message under callgrind
// (count_instructions.sh): scpi_engine_count MESSAGE COUNT.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controller/command_table.h"
#include "scpi/command_tree.h"
#include "scpi/fake_channel_test_support.h"
#include "scpi/status.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s MESSAGE COUNT\n", argv[0]);
    return 2;
  }
  // As the command channel hands it over: line feed and ETX after the text.
  std::string message = std::string(argv[1]) + "\n\x03";
  long count = std::strtol(argv[2], nullptr, 10);
  ConnectCommandTable();
  ClearPowerOnFlag();
  static FakeChannel channel;
  for (long i = 0; i < count; ++i) {
    channel.Send(message.c_str());
    channel.DiscardResponse();
  }
  return 0;
}
