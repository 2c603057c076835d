// The running service's costs on a simulated Mac, each beside the polling alternative or the
// bare floor. Prints "name value" lines for bench/run.
//   service_bench IDLE_SECONDS PRODUCTION_EXECUTABLE FLOOR_EXECUTABLE
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"

using namespace halvorsten::test;
using Clock = std::chrono::steady_clock;

namespace {

void print(const char* name, double value) { std::printf("%s %.6g\n", name, value); }

double cpuSecondsOfChildren() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts `path` with standard descriptors on the null device; waits until it sleeps in poll.
pid_t startIdle(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 0);
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  std::string program = path;
  char* argv[] = {program.data(), nullptr};
  pid_t pid = -1;
  posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  waitFor([&] { return blockedInPoll(pid); });
  return pid;
}

long residentKiBOf(const std::string& path) {
  const pid_t pid = startIdle(path);
  const long kib = statusField(pid, "VmRSS");
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  return kib;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: service_bench IDLE_SECONDS PRODUCTION_EXECUTABLE FLOOR\n");
    return 2;
  }
  std::string why;
  if (!enterPrivateNamespaces(why)) {
    std::fprintf(stderr, "service_bench: %s\n", why.c_str());
    return 1;
  }
  const int idleSeconds = std::atoi(argv[1]);

  SimulatedMac mac;
  mac.start();
  if (!mac.waitStarted()) return 1;

  // Idle: what the kernel counts for the service while nothing happens.
  const Activity before = activityOf(mac.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const Activity after = activityOf(mac.pid());
  print("idle_seconds", idleSeconds);
  print("idle_cpu_seconds", static_cast<double>(after.cpuTicks - before.cpuTicks) /
                                static_cast<double>(::sysconf(_SC_CLK_TCK)));
  print("idle_voluntary_switches",
        static_cast<double>(after.voluntarySwitches - before.voluntarySwitches));

  // Reaction: from the uevent of an unplugged adapter to "disablesleep cleared." in the log.
  std::vector<double> reactionMs;
  for (int round = 1; round <= 20; ++round) {
    mac.setSleepPrevention(true);
    mac.setOnBattery(true);
    const auto sent = Clock::now();
    sendUevent("power_supply");
    waitFor([&] {
      const Lines log = mac.log();
      return std::count(log.begin(), log.end(), kCleared) == round;
    });
    reactionMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    mac.waitIdle();
    mac.setOnBattery(false);
  }
  std::sort(reactionMs.begin(), reactionMs.end());
  print("reaction_median_ms", reactionMs[reactionMs.size() / 2]);
  print("reaction_max_ms", reactionMs.back());
  mac.stop();

  // The polling alternative, `while :; do pmset -g >/dev/null; sleep 60; done`: the CPU of one
  // round, measured on the same stand-in pmset with a zero sleep.
  constexpr int kRounds = 50;
  const std::string round = "'" + std::string(mac.pmset().path()) + "' -g >/dev/null; sleep 0";
  const double cpuBefore = cpuSecondsOfChildren();
  for (int i = 0; i < kRounds; ++i) {
    if (std::system(round.c_str()) != 0) return 1;
  }
  print("polling_round_cpu_seconds", (cpuSecondsOfChildren() - cpuBefore) / kRounds);

  // Memory: the production executable idle, beside the floor.
  print("service_rss_kib", static_cast<double>(residentKiBOf(argv[2])));
  print("floor_rss_kib", static_cast<double>(residentKiBOf(argv[3])));
  return 0;
}
