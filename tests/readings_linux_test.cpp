// The Linux readings of the power source and the lid, from made-up folders laid out as the
// kernel's: one folder per device, of one-line attribute files.
#include "platform/readings_linux.h"

#include <gtest/gtest.h>

#include "support.h"

namespace halvorsten::test {
namespace {

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

}  // namespace
}  // namespace halvorsten::test
