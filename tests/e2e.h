// What the end-to-end tests share: the service's messages, the stand-in's call records, a
// fixture with a fresh simulated Mac, and what /proc tells about the running service.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "simulated_mac.h"

namespace halvorsten::test {

using Lines = std::vector<std::string>;

inline const std::string kStarted =
    "Halvorsten started; watching power source (event-driven, no polling).";
inline const std::string kIntention =
    "On battery with disablesleep=1 — clearing to protect the battery.";
inline const std::string kCleared = "disablesleep cleared.";
inline const std::string kFailed = "Failed to clear disablesleep.";
inline const std::string kQuery = "[-g] out=other err=null";
inline const std::string kClear = "[-a][disablesleep][0] out=null err=null";

class ServiceTest : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(mac_.output(), "") << "the service wrote to standard output or error";
  }
  SimulatedMac mac_;
};

// What the kernel counts for a process: CPU ticks used and voluntary context switches.
struct Activity {
  long cpuTicks = 0, voluntarySwitches = 0;
  bool operator==(const Activity&) const = default;
};

// A field of /proc/PID/status, such as "VmRSS" (in kB) or "voluntary_ctxt_switches".
inline long statusField(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

inline Activity activityOf(pid_t pid) {
  Activity activity;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) activity.cpuTicks += std::stol(field);  // utime, stime
  }
  activity.voluntarySwitches = statusField(pid, "voluntary_ctxt_switches");
  return activity;
}

inline std::size_t openDescriptorsOf(pid_t pid) {
  const auto entries = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

}  // namespace halvorsten::test
