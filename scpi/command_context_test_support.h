// For tests of handlers and validation helpers: one command's context wired to an
// execution context, as the pipeline builds it, with the given parameters.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "scpi/scpi_engine.h"

struct TestCommand {
  ExecutionContext execution{};
  ParsedCommand parsed{};
  CommandContext context{};
  std::vector<std::string> texts;
  std::vector<char*> pointers;

  explicit TestCommand(std::vector<std::string> parameters) : texts(std::move(parameters)) {
    parsed.execution = &execution;
    parsed.context = &context;
    context.command = &parsed;
    for (std::string& t : texts) pointers.push_back(t.data());
    context.parameters = pointers.data();
    context.parameter_count = static_cast<int32_t>(pointers.size());
  }
  TestCommand(const TestCommand&) = delete;
  TestCommand& operator=(const TestCommand&) = delete;
  std::string reply() const { return std::string(execution.reply, execution.reply_length); }
};
