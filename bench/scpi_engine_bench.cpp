// Time per program message of the SCPI engine, in-process through the fake channel
// (the server's side of every callback included): the identity query, the error
// queue read, a status write, a four-command status sequence and an unknown header.
#include <benchmark/benchmark.h>

#include "controller/command_table.h"
#include "scpi/command_tree.h"
#include "scpi/fake_channel_test_support.h"
#include "scpi/scpi_engine.h"
#include "scpi/status.h"

namespace {

void RunMessage(benchmark::State& state, const char* message) {
  ConnectCommandTable();
  ClearPowerOnFlag();
  FakeChannel channel;
  for (auto _ : state) {
    channel.Send(message);
    // The client reads each response, so the next query is not refused.
    channel.DiscardResponse();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_IdentityQuery(benchmark::State& state) { RunMessage(state, "*IDN?\n\x03"); }
void BM_ErrorQuery(benchmark::State& state) { RunMessage(state, "SYST:ERR?\n\x03"); }
void BM_EventStatusEnable(benchmark::State& state) { RunMessage(state, "*ESE 16\n\x03"); }
void BM_StatusSequence(benchmark::State& state) {
  RunMessage(state, "*CLS;*ESE 16;*SRE 32;*ESR?\n\x03");
}
void BM_UnknownHeader(benchmark::State& state) { RunMessage(state, "FOO:BAR\n\x03"); }

BENCHMARK(BM_IdentityQuery);
BENCHMARK(BM_ErrorQuery);
BENCHMARK(BM_EventStatusEnable);
BENCHMARK(BM_StatusSequence);
BENCHMARK(BM_UnknownHeader);

}  // namespace

BENCHMARK_MAIN();
