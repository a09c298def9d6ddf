// Test support: the engine walks the tree the controller connects, so tests of the
// engine and of the command table run with the controller's own tree, connected once
// for the whole test program by including this header.
#pragma once

#include <gtest/gtest.h>

#include "controller/command_table.h"
#include "scpi/command_tree.h"

class ControllerTreeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ConnectCommandTable(); }
};

// One registration per program, however many files include this header.
inline ::testing::Environment* const kControllerTreeEnvironment =
    ::testing::AddGlobalTestEnvironment(new ControllerTreeEnvironment);
