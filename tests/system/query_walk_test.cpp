// Every query of the command tree answers its client: sent alone on the default cage,
// with no parameter, with a good one and with a bad one, it either puts a response line
// on the wire or an entry in that client's error queue, never neither (a client would
// wait for a reply until its timeout). The queries come from the controller's own
// tree, so a query added later is walked too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "controller/command_table.h"
#include "tests/system/chassis_fixture.h"

namespace systest {
namespace {

constexpr const char* kNoError = "0,\"No error\"";
// Ends each exchange with a reply no walked query gives, and leaves SRE as it was.
constexpr const char* kMarker = "*SRE 173;*SRE?;*SRE 0";
constexpr const char* kMarkerReply = "173";
// More lines than any reply here has: a client flooded with lines stops reading.
constexpr size_t kMostLines = 64;

// The longest spelling of each token: every query is sent in its long form.
std::map<int32_t, std::string> LongSpellings() {
  std::map<int32_t, std::string> spellings;
  for (size_t i = 0; i < kKeywordCount; ++i) {
    std::string& spelling = spellings[kKeywordList[i].token];
    if (std::strlen(kKeywordList[i].text) > spelling.size()) spelling = kKeywordList[i].text;
  }
  return spellings;
}

// The headers of every query under `table`. ROUTe's table is the tail of the root,
// whose queries are walked there without the optional keyword; an optional keyword
// that leads back to a table on the way down (TRIGger:SEQuence) is not walked twice.
void CollectQueries(const CommandNode* table, const std::string& prefix,
                    const std::map<int32_t, std::string>& spellings,
                    std::vector<const CommandNode*>* way, std::set<std::string>* headers) {
  way->push_back(table);
  for (const CommandNode* node = table; node->token != 0; ++node) {
    const std::string& spelling = spellings.at(node->token);
    const std::string header = prefix + spelling;
    if (node->record != nullptr && spelling.back() == '?') headers->insert(header);
    const bool walked = std::find(way->begin(), way->end(), node->child) != way->end();
    if (node->child != nullptr && node->token != TOK_ROUTE && !walked) {
      CollectQueries(node->child, header + ":", spellings, way, headers);
    }
  }
  way->pop_back();
}

std::set<std::string> QueryHeaders() {
  const std::map<int32_t, std::string> spellings = LongSpellings();
  std::set<std::string> headers;
  std::vector<const CommandNode*> way;
  CollectQueries(kRootNodes, "", spellings, &way, &headers);
  CollectQueries(kCommonNodes, "", spellings, &way, &headers);
  return headers;
}

// The parameter that makes a query answer on the default cage, where it needs one (the
// module name and the path are defined before the walk).
const std::map<std::string, std::string>& GoodParameters() {
  static const std::map<std::string, std::string> parameters = {
      {"ATTENUATE?", "(@5(0))"},
      {"CLOSE:STATE?", "(@1(100))"},
      {"CLOSE?", "(@1(100))"},
      {"CONFIGURE?", "(@1)"},
      {"DIAGNOSTIC:FPGA:READ?", "#H401C"},
      {"DIAGNOSTIC:LOCALBUS:READ?", "11,0"},
      {"DIAGNOSTIC:RELAY:CYCLES?", "(@4(1))"},
      {"DIGITAL:CONFIGURE?", "(@6(0))"},
      {"DIGITAL:INPUT?", "(@6(0))"},
      {"DIGITAL:OUTPUT:STATE?", "(@6(0))"},
      {"DIGITAL:SYNCHRONOUS:BUSY:POLARITY?", "(@6)"},
      {"DIGITAL:SYNCHRONOUS:BUSY?", "(@6)"},
      {"DIGITAL:SYNCHRONOUS:CLOCK:POLARITY?", "(@6)"},
      {"DIGITAL:SYNCHRONOUS:CLOCK?", "(@6)"},
      {"DIGITAL:SYNCHRONOUS:DATA?", "(@6(0))"},
      {"DIGITAL:SYNCHRONOUS:INDEX?", "(@6(0))"},
      {"DIGITAL:SYNCHRONOUS:POINTS?", "(@6(0))"},
      {"DIGITAL:SYNCHRONOUS:STATE?", "(@6)"},
      {"EXCLUDE?", "(@1(100))"},
      {"INCLUDE?", "(@1(100))"},
      {"MODULE:DEFINE?", "WALK"},
      {"OPEN:STATE?", "(@1(100))"},
      {"OPEN?", "(@1(100))"},
      {"PATH:DEFINE?", "WALKPATH"},
      {"SYSTEM:COMMUNICATE:ENABLE?", "LAN"},
      {"SYSTEM:EVENT?", "1"},
      {"SYSTEM:MODULE:CHANNEL:LIST?", "10"},
      {"SYSTEM:MODULE:RELAY:LIST?", "1"},
      {"VERIFY:MASK?", "(@1(100))"},
      {"VERIFY?", "(@1(100))"},
  };
  return parameters;
}

// Queries that refuse every form by design.
const std::set<std::string>& NeverAnswering() {
  static const std::set<std::string> headers = {"SYSTEM:LOCK:OWNER?", "SYSTEM:LOCK:REQUEST?"};
  return headers;
}

class QueryWalk : public ChassisTest {
 protected:
  // Sends `message` and then SYST:ERR? and the marker; the lines that came before the
  // marker's reply.
  std::vector<std::string> Exchange(TcpClient* client, const std::string& message) {
    std::vector<std::string> lines;
    if (!client->Send(message + "\nSYST:ERR?\n" + kMarker + "\n")) return lines;
    std::string line;
    while (lines.size() < kMostLines && client->ReadLine(&line) && line != kMarkerReply) {
      lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(QueryWalk, EveryQueryAnswersOrQueuesAnError) {
  const std::set<std::string> headers = QueryHeaders();
  ASSERT_GT(headers.size(), 60u) << "the walk found too few queries";
  TcpClient client;
  ASSERT_TRUE(client.Connect(raw_port()));
  ASSERT_EQ(Exchange(&client, "MOD:DEF WALK,1;:PATH:DEF WALKPATH,(@1(100))"),
            std::vector<std::string>{kNoError});
  for (const std::string& header : headers) {
    const auto good = GoodParameters().find(header);
    std::vector<std::string> messages = {header, header + " #Q9"};
    if (good != GoodParameters().end()) messages.push_back(header + " " + good->second);
    bool answered = false;
    for (const std::string& message : messages) {
      const std::vector<std::string> lines = Exchange(&client, message);
      ASSERT_FALSE(lines.empty()) << message << ": no SYST:ERR? answer";
      ASSERT_LT(lines.size(), kMostLines) << message << ": " << lines[0];
      // A lone "no error" line: the query left neither a response nor an entry.
      EXPECT_FALSE(lines.size() == 1 && lines[0] == kNoError) << message << " answered nothing";
      answered = answered || (lines.size() >= 2 && lines.back() == kNoError);
    }
    EXPECT_TRUE(answered || NeverAnswering().count(header) != 0)
        << header << " gave no response in any form";
  }
}

// The exceptions: a later command of the same message fails, and a query of the same
// message before it answers nothing, with the later command's error in the queue.
TEST_F(QueryWalk, AQueryBeforeAFailingCommandIsDiscardedWithTheError) {
  TcpClient client;
  ASSERT_TRUE(client.Connect(raw_port()));
  EXPECT_EQ(Exchange(&client, "*IDN?;TRIG:SOUR TIM"),
            std::vector<std::string>{"-224,\"illegal parameter value\""});
  EXPECT_EQ(Exchange(&client, "DIAG:SER:READ?;:ROUT:CLOS (@13(1))").size(), 1u);
}

// A board whose serial number was never written answers an empty element.
TEST_F(QueryWalk, AnEmptySerialNumberAnswersAnEmptyLine) {
  Control({"fram", "write", "0", "6", "0x00"});
  RestartChassis();
  TcpClient client;
  ASSERT_TRUE(client.Connect(raw_port()));
  EXPECT_EQ(Exchange(&client, "DIAG:SER:READ?"), (std::vector<std::string>{"", kNoError}));
}

}  // namespace
}  // namespace systest
