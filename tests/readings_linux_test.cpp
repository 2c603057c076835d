// The Linux readings of the power source and the lid, from made-up folders laid out as the
// kernel's: one folder per device, of one-line attribute files.
#include "platform/readings_linux.h"

#include <gtest/gtest.h>

#include "support.h"

namespace halvorsten::test {
namespace {

using namespace std::string_literals;

// Lays out in `dir`, beside the files already there, a device folder for each entry, of
// "attribute=value" words ("_" in a value stands for a blank).
std::string layOut(const Scratch& dir, const Lines& devices) {
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::string device = dir / std::to_string(i);
    fs::create_directory(device);
    std::istringstream words(devices[i]);
    for (std::string word; words >> word;) {
      std::replace(word.begin(), word.end(), '_', ' ');
      writeFile(device + "/" + word.substr(0, word.find('=')),
                word.substr(word.find('=') + 1) + "\n");
    }
  }
  return dir.path;
}

TEST(ReadingsTest, BatteryPowerOnlyWhenASystemBatteryDischargesOffLine) {
  const std::string on = "type=Battery status=Discharging";
  const std::pair<Lines, const char*> rows[] = {
      {{}, "AC Power"},
      {{on}, "Battery Power"},
      {{on, "type=Mains online=1"}, "AC Power"},
      {{on, "type=Mains online=0"}, "Battery Power"},
      {{"type=Battery status=Charging"}, "AC Power"},
      {{"type=Battery scope=Device status=Discharging"}, "AC Power"},  // a mouse's battery
      {{"type=Battery scope=Device status=Charging", on}, "Battery Power"},
      {{on, "type=USB online=2"}, "AC Power"},  // as programmable USB supplies say
      {{on, "type=Wireless online=1"}, "AC Power"},
      {{on, "type=UPS online=1"}, "Battery Power"},
      {{"status=Discharging", on}, "Battery Power"},  // one without a type is skipped
  };
  for (const auto& [devices, expected] : rows) {
    const Scratch dir;
    EXPECT_EQ(providingPowerSourceTypeIn(layOut(dir, devices).c_str()), expected)
        << testing::PrintToString(devices);
  }
  EXPECT_EQ(providingPowerSourceTypeIn("/nonexistent"), std::nullopt);
}

TEST(ReadingsTest, LidIsClosedOnlyWhenItsStateSaysSo) {
  const std::pair<Lines, bool> rows[] = {
      {{"state=state:______closed"}, true},
      {{"state=state:______open"}, false},
      {{"state=closed"}, false},
      {{"state=state:______closed_for_now"}, false},
      {{"state=state:______open", "state=state:_closed"}, true},  // any closed lid, in any order
      {{"state=state:_closed", "state=state:______open"}, true},
      {{}, false},
  };
  for (const auto& [lids, expected] : rows) {
    const Scratch dir;
    EXPECT_EQ(lidClosedIn(layOut(dir, lids).c_str()), expected) << testing::PrintToString(lids);
  }
  EXPECT_FALSE(lidClosedIn("/nonexistent"));
}

// Rows in order, against one memory: "action@devpath" and then a power supply's fields, each
// KEY=VALUE standing for POWER_SUPPLY_KEY=VALUE.
TEST(ReadingsTest, OnlyAnOnlineStateOrStatusThatChangedMayChangeThePowerSource) {
  const std::pair<const char*, bool> rows[] = {
      {"change@/bat STATUS=Discharging CAPACITY=90", true},   // the first word from a supply
      {"change@/bat STATUS=Discharging CAPACITY=89", false},  // a level tick
      {"change@/bat CAPACITY=88 STATUS=Charging", true},
      {"change@/ac ONLINE=1 TYPE=Mains", true},
      {"change@/ac ONLINE=0 TYPE=Mains", true},
      {"change@/ac TYPE=Mains VOLTAGE_NOW=5 ONLINE=0", false},
      {"remove@/bat", true},
      {"change@/bat STATUS=Charging CAPACITY=88", true},  // forgotten with its removal
      {"add@/ac ONLINE=0", true},
  };
  const auto uevent = [](const std::string& row) {
    std::string event;
    for (const char c : row) event += c == ' ' ? "\0POWER_SUPPLY_"s : std::string(1, c);
    return event + "\0SUBSYSTEM=power_supply\0"s;
  };
  SupplyMemory supplies;
  for (const std::string other : {"net", "power_supply_x", "usb"}) {
    const std::string event = "change@/bat\0SUBSYSTEM="s + other + "\0POWER_SUPPLY_ONLINE=1\0"s;
    EXPECT_FALSE(mayChangePowerSource(event, &supplies) || mayChangePowerSource(event, nullptr));
  }
  for (const auto& [row, expected] : rows) {
    EXPECT_EQ(mayChangePowerSource(uevent(row), &supplies), expected) << row;
    EXPECT_TRUE(mayChangePowerSource(uevent(row), nullptr)) << row;
  }
  for (int i = 0; i < 40; ++i)
    mayChangePowerSource(uevent("change@/" + std::to_string(i)), &supplies);
  EXPECT_LE(supplies.size(), 32u);
}

TEST(ReadingsTest, PollWaitsForTheTimerAndNeverPastIt) {
  const std::tuple<long long, long long, int> rows[] = {
      {-1, 5, -1},                  // not armed: no limit
      {5, 5, 0},                    // due
      {5, 7, 0},                    // overdue: at once, not never
      {1005, 5, 1000},              // what is left
      {INT_MAX + 9LL, 5, INT_MAX},  // as far as poll goes
  };
  for (const auto& [dueMs, nowMs, timeoutMs] : rows)
    EXPECT_EQ(pollTimeoutMs(dueMs, nowMs), timeoutMs) << dueMs << " at " << nowMs;
}

}  // namespace
}  // namespace halvorsten::test
