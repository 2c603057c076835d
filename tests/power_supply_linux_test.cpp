// Reading the power source from a made-up power_supply folder laid out as the kernel does:
// entries are symbolic links to device folders of one-line attribute files.
#include "platform/power_supply_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "support.h"

namespace halvorsten {
namespace {

using Supply = std::map<std::string, std::string>;  // attribute -> value

const Supply kDischarging{{"type", "Battery"}, {"status", "Discharging"}};
const Supply kCharging{{"type", "Battery"}, {"status", "Charging"}};
const Supply kMouseDischarging{{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}};
const Supply kMainsOnline{{"type", "Mains"}, {"online", "1"}};
const Supply kMainsOffline{{"type", "Mains"}, {"online", "0"}};

TEST(PowerSupplyTest, BatteryPowerOnlyWhenASystemBatteryDischargesOffLine) {
  struct {
    const char* name;
    std::vector<Supply> supplies;
    const char* expected;
  } const cases[] = {
      {"no supplies at all", {}, "AC Power"},
      {"battery discharging", {kDischarging}, "Battery Power"},
      {"battery discharging, mains online", {kDischarging, kMainsOnline}, "AC Power"},
      {"battery discharging, mains offline", {kDischarging, kMainsOffline}, "Battery Power"},
      {"battery charging", {kCharging}, "AC Power"},
      {"battery full", {{{"type", "Battery"}, {"status", "Full"}}}, "AC Power"},
      {"battery not charging", {{{"type", "Battery"}, {"status", "Not charging"}}}, "AC Power"},
      {"battery status unknown", {{{"type", "Battery"}, {"status", "Unknown"}}}, "AC Power"},
      {"only a mouse discharging", {kMouseDischarging, kCharging}, "AC Power"},
      {"mouse and system battery discharging", {kMouseDischarging, kDischarging}, "Battery Power"},
      {"one of two batteries discharging", {kCharging, kDischarging}, "Battery Power"},
      {"programmable USB supply online",
       {kDischarging, {{"type", "USB"}, {"online", "2"}}},
       "AC Power"},
      {"USB supply offline", {kDischarging, {{"type", "USB"}, {"online", "0"}}}, "Battery Power"},
      {"wireless charger online",
       {kDischarging, {{"type", "Wireless"}, {"online", "1"}}},
       "AC Power"},
      {"UPS type does not count as mains",
       {kDischarging, {{"type", "UPS"}, {"online", "1"}}},
       "Battery Power"},
      {"unreadable entry is skipped", {{{"status", "Discharging"}}, kDischarging}, "Battery Power"},
  };
  for (const auto& c : cases) {
    test::TempDir root;
    const std::string classFolder = root / "class", devices = root / "devices";
    ::mkdir(classFolder.c_str(), 0755);
    ::mkdir(devices.c_str(), 0755);
    for (std::size_t i = 0; i < c.supplies.size(); ++i) {
      const std::string name = "supply" + std::to_string(i), device = devices + "/" + name;
      ::mkdir(device.c_str(), 0755);
      for (const auto& [attribute, value] : c.supplies[i]) {
        test::writeFile(device + "/" + attribute, value + "\n");
      }
      ASSERT_EQ(::symlink(device.c_str(), (classFolder + "/" + name).c_str()), 0);
    }
    test::writeFile(classFolder + "/stray-file", "not a supply\n");
    EXPECT_EQ(providingPowerSourceTypeIn(classFolder.c_str()), c.expected) << c.name;
  }
}

TEST(PowerSupplyTest, UnreadableFolderGivesNothing) {
  test::TempDir root;
  EXPECT_EQ(providingPowerSourceTypeIn((root / "missing").c_str()), std::nullopt);
}

}  // namespace
}  // namespace halvorsten
