// The engine walks the tree the controller connects. Its tests run with the
// controller's own tree (connected by the test support header); this file checks what
// an engine with no tree does.
#include "scpi/command_tree.h"

#include <gtest/gtest.h>

#include "controller/command_table.h"
#include "controller/command_tree_test_support.h"
#include "scpi/program_parser.h"

namespace {

TEST(CommandTree, AnEngineWithoutATreeKnowsNoHeader) {
  ConnectCommandTree(nullptr);
  HeaderPrefix prefix{};
  CommandRecord record{};
  const int32_t identity = ResolveHeader("*IDN?", &prefix, &record);
  const int32_t error = ResolveHeader("SYST:ERR?", &prefix, &record);
  const int32_t token = LookupKeyword("SYST");
  ConnectCommandTable();
  EXPECT_EQ(identity, -110);
  EXPECT_EQ(error, -110);
  EXPECT_EQ(token, -1);
  // Connected again, the same headers resolve.
  EXPECT_EQ(ResolveHeader("*IDN?", &prefix, &record), 0);
  EXPECT_NE(record.DoExecutionConclusion, nullptr);
  EXPECT_EQ(ResolveHeader("SYST:ERR?", &prefix, &record), 0);
  EXPECT_EQ(LookupKeyword("SYST"), LookupKeyword("SYSTEM"));
}

}  // namespace
