// The system test fixture and TCP client.
#include "tests/system/chassis_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sim/vchassis_root.h"

namespace systest {

std::string ProgramFolder() { return CHASSIS_BIN_DIR; }

void ChassisTest::SetUp() {
  char pattern[] = "/tmp/vchassis-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  root_ = pattern;
  base_ = sim::FindFreePortBase();
  ASSERT_NE(base_, 0) << "no three free ports";
  ASSERT_NO_FATAL_FAILURE(StartChassis());
  // The host sides of the buses find the chassis through the root.
  setenv("CHASSIS_ROOT", root_.c_str(), 1);
}

void ChassisTest::StartChassis() {
  std::vector<std::string> arguments = {"--root", root_, "--port-base", std::to_string(base_)};
  if (!cage_.empty()) {
    const std::string description = root_ + "/cage.chassis";
    FILE* file = std::fopen(description.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(cage_.c_str(), file);
    ASSERT_EQ(std::fclose(file), 0);
    arguments.insert(arguments.end(), {"--chassis", description});
  }
  launcher_ = std::make_unique<sim::ChassisLauncher>();
  ASSERT_EQ(launcher_->Start(ProgramFolder() + "/vchassis", arguments, root_), 0);
  ASSERT_TRUE(launcher_->WaitReady(20000, &ready_line_)) << launcher_->Output();
  // The ports take connections at once, but commands are served only once the
  // controller has installed and reset the cards. Tests begin there, so that none meets
  // the power-on resets (their relay-change notices, their bus traffic) by chance.
  TcpClient probe;
  ASSERT_TRUE(probe.Connect(raw_port()));
  ASSERT_EQ(probe.Query("*OPC?"), "1") << launcher_->Output();
}

void ChassisTest::RestartChassis() {
  ASSERT_EQ(launcher_->Stop(kWaitMs), 0);
  ASSERT_NO_FATAL_FAILURE(StartChassis());
}

void ChassisTest::TearDown() {
  if (launcher_ != nullptr) {
    int status = launcher_->Stop(kWaitMs);
    EXPECT_EQ(status, 0) << "vchassis did not stop cleanly";
    // A sanitizer build reports through the programs' output, whichever process it is.
    std::string output = launcher_->Output();
    for (const char* finding : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                "runtime error:", "WARNING: ThreadSanitizer"}) {
      EXPECT_EQ(output.find(finding), std::string::npos) << finding;
    }
    if (HasFailure()) std::fprintf(stderr, "--- chassis output ---\n%s", launcher_->Output().c_str());
    launcher_.reset();  // kills whatever is still running under the root
  }
  unsetenv("CHASSIS_ROOT");
  if (!root_.empty()) sim::RemoveTree(root_);
}

int ChassisTest::ConnectCommand(TcpClient* client) {
  if (!client->Connect(command_port())) return -1;
  std::string greeting, number;
  if (!client->ReadExactly(2, &greeting) || greeting != "\x06\n") return -1;
  if (!client->ReadLine(&number) || number.empty()) return -1;
  char* end = nullptr;
  long value = std::strtol(number.c_str(), &end, 10);
  return *end == '\0' ? static_cast<int>(value) : -1;
}

// Runs `vchassis <words> --root <root>` without a shell and collects both streams.
Outcome Vchassis(const std::vector<std::string>& words, const std::string& root) {
  std::vector<std::string> arguments = {ProgramFolder() + "/vchassis"};
  arguments.insert(arguments.end(), words.begin(), words.end());
  arguments.insert(arguments.end(), {"--root", root});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  Outcome outcome;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return outcome;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return outcome;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&outcome.out, &outcome.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  int open_streams = 2;
  while (pid > 0 && open_streams > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(streams, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(streams[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, static_cast<size_t>(got));
      } else {
        streams[i].fd = -1;  // poll passes over it from now on
        --open_streams;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  if (pid < 0) return outcome;
  int status = 0;
  if (open_streams > 0) kill(pid, SIGKILL);  // hung: the test fails on the status
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && open_streams == 0) {
    outcome.status = WEXITSTATUS(status);
  }
  return outcome;
}

// Registers an event socket for command socket `number` with `mask`.
void Register(TcpClient* events, int number, const char* mask) {
  std::string ack;
  ASSERT_TRUE(events->ReadExactly(2, &ack));
  ASSERT_EQ(ack, "\x06\n");
  ASSERT_TRUE(events->Send(std::to_string(number) + "\n"));
  ASSERT_TRUE(events->ReadExactly(2, &ack));
  ASSERT_EQ(ack, "\x06\n");
  ASSERT_TRUE(events->Send(mask));
  ASSERT_TRUE(events->ReadExactly(2, &ack));
  ASSERT_EQ(ack, "\x06\n");
}

std::string ChassisTest::Control(const std::vector<std::string>& words) {
  Outcome outcome = Vchassis(words, root_);
  EXPECT_EQ(outcome.status, 0) << words[0] << ": " << outcome.err;
  return outcome.out;
}

}  // namespace systest
