// The two pmset commands against real child processes: stand-in tools that print, fail, die
// or cannot be started, as the real one might.
#include "settings/sleep_setting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "activitylog/activity_log.h"
#include "support.h"

namespace halvorsten {
namespace {

using test::FakeTool;
using test::statefulPmset;
using test::TempDir;
using Calls = std::vector<std::string>;

const std::string kQuery = "[-g] out=other err=null";
const std::string kClear = "[-a][disablesleep][0] out=null err=null";

class SleepSettingTest : public testing::Test {
 protected:
  void SetUp() override { logURL = dir_ / "service.log"; }
  std::vector<std::string> logged() const { return test::logMessages(logURL); }
  TempDir dir_;
};

TEST_F(SleepSettingTest, QueryAnswersFromTheReport) {
  struct {
    const char* name;
    std::string body;
    std::optional<bool> expected;
  } const cases[] = {
      {"on", "printf ' SleepDisabled\\t\\t1\\n'", true},
      {"off", "printf ' SleepDisabled\\t\\t0\\n'", false},
      {"no line for the setting", "echo ' standby 1'", std::nullopt},
      {"exit status is not looked at", "printf ' SleepDisabled 1\\n'; exit 3", true},
      {"killed after printing", "printf ' SleepDisabled 1\\n'; kill -KILL $$", true},
      {"invalid UTF-8", "printf ' SleepDisabled 1\\n\\377\\n'", std::nullopt},
      // Far more than a pipe holds: the answer needs the whole report read.
      {"several MiB before the line",
       "head -c 6000000 /dev/zero | tr '\\0' 'x'; printf '\\n SleepDisabled 1\\n'", true},
      {"closes its output and runs on", "printf ' SleepDisabled 1\\n'; exec >&-; sleep 0.3", true},
      {"writes to standard error", "echo noise >&2; printf ' SleepDisabled 0\\n'", false},
  };
  for (const auto& c : cases) {
    const FakeTool tool(c.body);
    EXPECT_EQ(sleepDisabled(tool.path()), c.expected) << c.name;
    EXPECT_EQ(tool.calls(), Calls{kQuery}) << c.name;
  }
  EXPECT_TRUE(logged().empty());
}

// Nothing but standard input, output and error reaches the tool, not even a descriptor that
// the service inherited without close-on-exec, which it cannot know about.
TEST_F(SleepSettingTest, ToolGetsOnlyTheStandardDescriptors) {
  const int inherited = ::open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(inherited, 3);
  const FakeTool tool(statefulPmset(), "1");
  EXPECT_TRUE(clearDisableSleep(tool.path()));
  ::close(inherited);
  EXPECT_EQ(tool.descriptorsSeen(), (std::vector<std::string>{"0 1 2", "0 1 2"}));
}

TEST_F(SleepSettingTest, QueryThatCannotStartIsAbsentAndSilent) {
  const FakeTool notExecutable("printf ' SleepDisabled 1\\n'");
  ::chmod(notExecutable.path(), 0644);
  EXPECT_EQ(sleepDisabled(notExecutable.path()), std::nullopt);
  EXPECT_EQ(sleepDisabled((dir_ / "missing").c_str()), std::nullopt);
  EXPECT_TRUE(logged().empty());
}

TEST_F(SleepSettingTest, ClearCountsOnlyWhenTheSettingIsOffAfterwards) {
  struct {
    const char* name;
    std::string clearEnding;
    bool expected;
    bool checked;  // whether a fresh query looked at the setting afterwards
  } const cases[] = {
      {"switched off", "echo 0 >\"$D/state\"", true, true},
      {"exits 1", "exit 1", false, false},
      {"switched off, then exits 1", "echo 0 >\"$D/state\"; exit 1", false, false},
      {"killed by a signal", "echo 0 >\"$D/state\"; kill -TERM $$", false, false},
      // The real tool does this without root: "must be run as root", status 0.
      {"exits 0 without a change", "echo 'must be run as root...'", false, true},
      {"setting no longer reported", "echo gone >\"$D/state\"", true, true},
  };
  for (const auto& c : cases) {
    const FakeTool tool(statefulPmset(c.clearEnding), "1");
    EXPECT_EQ(clearDisableSleep(tool.path()), c.expected) << c.name;
    EXPECT_EQ(tool.calls(), c.checked ? (Calls{kClear, kQuery}) : (Calls{kClear})) << c.name;
  }
  EXPECT_TRUE(logged().empty());
}

TEST_F(SleepSettingTest, ClearThatCannotStartLogsWhy) {
  const FakeTool notExecutable(statefulPmset(), "1");
  ::chmod(notExecutable.path(), 0644);
  EXPECT_FALSE(clearDisableSleep(notExecutable.path()));
  EXPECT_FALSE(clearDisableSleep((dir_ / "missing").c_str()));
  EXPECT_EQ(logged(), (std::vector<std::string>{"pmset launch failed: Permission denied",
                                                "pmset launch failed: No such file or directory"}));
  EXPECT_EQ(notExecutable.state(), "1");
}

}  // namespace
}  // namespace halvorsten
