// The real service as a process, on a simulated Mac: power-supply folders, a stand-in pmset
// that keeps the setting, and uevents sent over netlink in a private network namespace.
#include "e2e.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <thread>

namespace halvorsten::test {
namespace {

class PrivateNamespaces : public testing::Environment {
 public:
  void SetUp() override {
    std::string why;
    if (enterPrivateNamespaces(why)) return;
    // CI must run these tests, never skip them.
    if (std::getenv("CI")) FAIL() << why;
    GTEST_SKIP() << why;
  }
};
const auto* const kPrivateNamespaces = testing::AddGlobalTestEnvironment(new PrivateNamespaces);

TEST_F(ServiceTest, StartOnMainsLogsOnlyTheStartLine) {
  mac_.setSleepPrevention(true);
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  EXPECT_EQ(mac_.log(), Lines{kStarted});
  EXPECT_TRUE(mac_.pmset().calls().empty()) << "a child process ran on mains";
}

TEST_F(ServiceTest, StartOnBatteryClearsBeforeTheStartLine) {
  mac_.setOnBattery(true);
  mac_.setSleepPrevention(true);
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  EXPECT_EQ(mac_.log(), (Lines{kIntention, kCleared, kStarted}));
  EXPECT_FALSE(mac_.sleepPrevention());
}

TEST_F(ServiceTest, UnplugClearsAndPlugInDoesNothing) {
  mac_.setSleepPrevention(true);
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  mac_.unplug();
  ASSERT_TRUE(mac_.waitIdle());
  EXPECT_EQ(mac_.log(), (Lines{kStarted, kIntention, kCleared}));
  EXPECT_FALSE(mac_.sleepPrevention());
  mac_.plugIn();
  ASSERT_TRUE(mac_.waitIdle());
  EXPECT_EQ(mac_.pmset().calls(), (Lines{kQuery, kClear, kQuery}));
  EXPECT_EQ(mac_.log().size(), 3u);
}

TEST_F(ServiceTest, SettingSwitchedOnAgainIsClearedAgain) {
  mac_.setOnBattery(true);
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  EXPECT_EQ(mac_.log(), Lines{kStarted});
  mac_.setSleepPrevention(true);
  sendUevent("power_supply");
  ASSERT_TRUE(mac_.waitIdle());
  EXPECT_EQ(mac_.log(), (Lines{kStarted, kIntention, kCleared}));
  EXPECT_FALSE(mac_.sleepPrevention());
}

TEST_F(ServiceTest, EventsOfOtherSubsystemsRunNoPass) {
  mac_.setOnBattery(true);  // every pass queries, so every pass shows
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  for (const char* subsystem : {"net", "block", "usb", "power_supply_x"}) sendUevent(subsystem);
  ASSERT_TRUE(mac_.waitIdle());
  EXPECT_EQ(mac_.pmset().calls(), Lines{kQuery});
  sendUevent("power_supply");  // and the loop still answers
  ASSERT_TRUE(mac_.waitIdle());
  EXPECT_EQ(mac_.pmset().calls(), (Lines{kQuery, kQuery}));
}

TEST_F(ServiceTest, NoNotificationSourceEndsWithStatusOne) {
  mac_.setOnBattery(true);
  mac_.setSleepPrevention(true);
  SimulatedMac::Launch launch;
  launch.wrapper = {HALVORSTEN_REFUSE_NETLINK};
  mac_.start(launch);
  const int status = mac_.waitExit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(mac_.log(), (Lines{kIntention, kCleared,
                               "Failed to create power-source notification source — exiting."}));
}

TEST_F(ServiceTest, ClosedStandardDescriptorsAreNotHandedToPmset) {
  mac_.setOnBattery(true);
  mac_.setSleepPrevention(true);
  SimulatedMac::Launch launch;
  launch.closeStandard = true;
  mac_.start(launch);
  ASSERT_TRUE(mac_.waitStarted());
  EXPECT_EQ(mac_.log(), (Lines{kIntention, kCleared, kStarted}));
  EXPECT_EQ(mac_.pmset().calls(), (Lines{kQuery, kClear, kQuery}));
  EXPECT_EQ(mac_.pmset().stdinSeen(), "null\nnull\nnull\n");
}

TEST_F(ServiceTest, IdleCostsNothing) {
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  const Activity before = activityOf(mac_.pid());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(activityOf(mac_.pid()), before) << "the idle service woke up";
}

}  // namespace
}  // namespace halvorsten::test
