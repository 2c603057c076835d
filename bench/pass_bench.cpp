// One enforcement pass, measured two ways, on the simulated Mac's power-supply folder and
// stand-in pmset (bench/run lays them out). Prints "name value" lines for bench/run.
//   pass_bench mains N ROOT     N passes on mains power, for strace to count their system calls
//   pass_bench battery N ROOT   N passes on battery that clear the setting, beside the bare cost
//                               of starting and reaping the same stand-in pmset runs from here
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "activitylog/activity_log.h"
#include "platform/readings_linux.h"
#include "service/enforce.h"

using namespace halvorsten;
using Clock = std::chrono::steady_clock;

namespace {

// Runs `tool` with `args` as the pass does, reading its output when `read` is set.
void runBare(const char* tool, std::initializer_list<const char*> args, bool read) {
  std::vector<char*> argv{const_cast<char*>(tool)};
  for (const char* arg : args) argv.push_back(const_cast<char*>(arg));
  argv.push_back(nullptr);
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (read) {
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid;
  if (posix_spawn(&pid, tool, &actions, nullptr, argv.data(), environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  char buffer[4096];
  while (::read(fds[0], buffer, sizeof buffer) > 0) {
  }
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A pass with the stand-in pmset at `tool`, the power source read from `folder` (or always the
// battery, when empty), and the lid open.
PassOutcome onePass(const std::string& tool, const std::string& folder) {
  Machine mac = theMac(tool.c_str());
  mac.powerSourceType = [&](bool) {
    return folder.empty() ? std::optional<std::string>("Battery Power")
                          : providingPowerSourceTypeIn(folder.c_str());
  };
  mac.closedLidShouldSleep = [] { return false; };
  return enforce(mac, false);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) return 2;
  const std::string mode = argv[1], root = argv[3];
  const int passes = std::atoi(argv[2]);
  const std::string tool = root + "/pmset", folder = root + "/power_supply";
  const auto switchOn = [&] { std::ofstream(root + "/state") << "1\n"; };
  logURL = root + "/Logs/bench.log";
  switchOn();

  if (mode == "mains") {
    for (int i = 0; i < passes; ++i) {
      onePass(tool, folder);
    }
    std::printf("mains_passes %d\n", passes);
    return 0;
  }

  // On battery: each pass queries, clears and queries again.
  auto start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    switchOn();
    onePass(tool, "");
  }
  const double pass = seconds(Clock::now() - start) / passes;
  start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    switchOn();
    runBare(tool.c_str(), {"-g"}, true);
    runBare(tool.c_str(), {"-a", "disablesleep", "0"}, false);
    runBare(tool.c_str(), {"-g"}, true);
  }
  const double bare = seconds(Clock::now() - start) / passes;
  std::printf("battery_pass_ms %.6g\nbattery_bare_ms %.6g\n", pass * 1e3, bare * 1e3);
  return 0;
}
