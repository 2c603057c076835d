// The enforcement pass end to end below the platform: a given power-source type, a stand-in
// pmset that keeps the setting, and the real log file.
#include "service/enforce.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "activitylog/activity_log.h"
#include "support.h"

namespace halvorsten {
namespace {

using test::FakeTool;
using test::statefulPmset;
using Lines = std::vector<std::string>;
using Calls = std::vector<std::string>;

const std::string kQuery = "[-g] out=other err=null";
const std::string kClear = "[-a][disablesleep][0] out=null err=null";
const std::string kIntention = "On battery with disablesleep=1 — clearing to protect the battery.";

class EnforceTest : public testing::Test {
 protected:
  void SetUp() override { logURL = dir_ / "service.log"; }
  Lines logged() const { return test::logMessages(logURL); }
  test::TempDir dir_;
};

TEST_F(EnforceTest, EachSituationLogsItsLines) {
  const std::string report = "printf ' SleepDisabled\\t\\t1\\n'";
  struct {
    const char* name;
    std::optional<std::string> type;
    std::string tool;
    const char* state;
    Calls calls;
    Lines lines;
  } const cases[] = {
      {"no power-source type", std::nullopt, statefulPmset(), "1", {}, {}},
      {"mains", "AC Power", statefulPmset(), "1", {}, {}},
      {"UPS", "UPS Power", statefulPmset(), "1", {}, {}},
      {"letter case differs", "battery power", statefulPmset(), "1", {}, {}},
      {"battery, setting off", "Battery Power", statefulPmset(), "0", {kQuery}, {}},
      {"battery, no line for the setting", "Battery Power", "echo ' standby 1'", "1", {kQuery}, {}},
      {"battery, setting on, clear works",
       "Battery Power",
       statefulPmset(),
       "1",
       {kQuery, kClear, kQuery},
       {kIntention, "disablesleep cleared."}},
      {"battery, clear exits 1",
       "Battery Power",
       statefulPmset("exit 1"),
       "1",
       {kQuery, kClear},
       {kIntention, "Failed to clear disablesleep."}},
      {"battery, clear exits 0 but changes nothing",
       "Battery Power",
       statefulPmset("true"),
       "1",
       {kQuery, kClear, kQuery},
       {kIntention, "Failed to clear disablesleep."}},
      // The tool takes its own execute bit away after answering, so the clear cannot start.
      {"battery, clear cannot start",
       "Battery Power",
       "chmod a-x \"$0\"; " + report,
       "1",
       {kQuery},
       {kIntention, "pmset launch failed: Permission denied", "Failed to clear disablesleep."}},
  };
  for (const auto& c : cases) {
    std::remove(logURL.c_str());
    const FakeTool tool(c.tool, c.state);
    enforce(c.type, tool.path());
    EXPECT_EQ(tool.calls(), c.calls) << c.name;
    EXPECT_EQ(logged(), c.lines) << c.name;
  }
}

TEST_F(EnforceTest, KeepsNoMemoryBetweenPasses) {
  const FakeTool tool(statefulPmset(), "1");
  enforce("Battery Power", tool.path());
  enforce("Battery Power", tool.path());  // finds the setting off: queries, logs nothing
  EXPECT_EQ(logged(), (Lines{kIntention, "disablesleep cleared."}));
  tool.setState("1");  // switched on again behind the service's back
  enforce("Battery Power", tool.path());
  EXPECT_EQ(logged().size(), 4u);
  EXPECT_EQ(tool.state(), "0\n");
  EXPECT_EQ(tool.calls(), (Calls{kQuery, kClear, kQuery, kQuery, kQuery, kClear, kQuery}));
}

TEST_F(EnforceTest, HundredPassesLeakNoDescriptorAndNoChild) {
  // Every pass runs the whole way: the setting stays on, so each clear fails.
  const FakeTool tool(statefulPmset("true"), "1");
  const int before = test::openDescriptorCount();
  for (int i = 0; i < 100; ++i) enforce("Battery Power", tool.path());
  EXPECT_EQ(test::openDescriptorCount(), before);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
  EXPECT_EQ(logged().size(), 200u);
}

}  // namespace
}  // namespace halvorsten
