// Faults injected into the running service: a pmset that misbehaves, a log path that is
// missing, blocked, planted, read-only or full, and storms and overflows of events. After each,
// the service must still run (or have exited as it should), its log must hold exactly the
// expected lines, and no descriptor or child may be left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "e2e.h"

namespace halvorsten::test {
namespace {

namespace fs = std::filesystem;

// The service holds standard input, output and error and its notification socket, and
// nothing else, whenever it is idle.
constexpr std::size_t kIdleDescriptors = 4;

// Waits for the service to be idle and checks what every fault must leave behind: the service
// running, exactly `log` in its log, no descriptor of its own left open, no child, nothing
// but the standard descriptors handed to pmset, nothing written to standard output or error.
void expectHealthy(const SimulatedMac& mac, const Lines& log, const std::string& row) {
  ASSERT_TRUE(mac.waitIdle()) << row;
  EXPECT_EQ(::waitpid(mac.pid(), nullptr, WNOHANG), 0) << row << ": the service ended";
  EXPECT_EQ(mac.log(), log) << row;
  EXPECT_EQ(openDescriptorsOf(mac.pid()), kIdleDescriptors) << row;
  for (const std::string& seen : mac.pmset().descriptorsSeen()) EXPECT_EQ(seen, "0 1 2") << row;
  EXPECT_EQ(mac.output(), "") << row;
}

TEST(FaultTest, MisbehavingPmset) {
  // Every row starts the service on battery with the setting on, so its first pass meets the
  // fault at once.
  const std::string report = "printf ' SleepDisabled\\t\\t1\\n'";
  struct {
    const char* name;
    std::string body;  // the stand-in's behaviour; empty: no executable at all
    bool executable;
    Lines log;
  } const rows[] = {
      {"missing", "", true, {kStarted}},
      {"not executable", statefulPmset(), false, {kStarted}},
      {"clear exits 1", statefulPmset("exit 1"), true, {kIntention, kFailed, kStarted}},
      {"clear killed by a signal",
       statefulPmset("kill -KILL $$"),
       true,
       {kIntention, kFailed, kStarted}},
      {"clear exits 0 without a change",
       statefulPmset("echo 'must be run as root...'"),
       true,
       {kIntention, kFailed, kStarted}},
      {"invalid UTF-8", report + "; printf '\\377'", true, {kStarted}},
      {"64 MiB report",
       "[ \"$args\" = '[-g]' ] && head -c 67108864 /dev/zero | tr '\\0' x && echo\n" +
           statefulPmset(),
       true,
       {kIntention, kCleared, kStarted}},
      {"closes its output and runs on",
       statefulPmset() + "\nif [ \"$args\" = '[-g]' ]; then exec >&-; sleep 1; fi",
       true,
       {kIntention, kCleared, kStarted}},
      {"no line for the setting", "echo ' standby 1'", true, {kStarted}},
  };
  for (const auto& row : rows) {
    SimulatedMac mac;
    mac.setOnBattery(true);
    mac.setSleepPrevention(true);
    if (row.body.empty()) {
      fs::remove(mac.pmset().path());
    } else {
      mac.replacePmset(row.body);
      if (!row.executable) ::chmod(mac.pmset().path(), 0644);
    }
    mac.start();
    ASSERT_TRUE(mac.waitStarted()) << row.name;
    expectHealthy(mac, row.log, row.name);
  }
}

}  // namespace
}  // namespace halvorsten::test

namespace halvorsten::test {
namespace {

// Starts the service on battery with the setting on, so that its first pass both clears the
// setting and tries to log it; returns once the service is idle.
void startClearing(SimulatedMac& mac) {
  mac.setOnBattery(true);
  mac.setSleepPrevention(true);
  mac.start();
  ASSERT_TRUE(mac.waitIdle());
  EXPECT_FALSE(mac.sleepPrevention()) << "a log that cannot be written stopped the clear";
}

TEST(FaultTest, NothingPlantedAtTheLogPathIsWrittenThrough) {
  struct {
    const char* name;
    std::function<void(const SimulatedMac&)> plant, check;
    Lines log;  // what reading the log's path gives afterwards
  } const rows[] = {
      {"folder missing",
       [](auto& mac) { fs::remove_all(mac.logFolder()); },
       [](auto& mac) { EXPECT_FALSE(fs::exists(mac.logFolder())); },
       {}},
      {"directory at the path",
       [](auto& mac) { fs::create_directory(mac.logPath()); },
       [](auto& mac) { EXPECT_TRUE(fs::is_directory(mac.logPath())); },
       {}},
      {"symbolic link at the path",
       [](auto& mac) {
         writeFile(mac.root() + "/target", "precious\n");
         fs::create_symlink(mac.root() + "/target", mac.logPath());
       },
       [](auto& mac) { EXPECT_TRUE(fs::is_symlink(mac.logPath())); },
       {"precious"}},
      {"read-only file",
       [](auto& mac) {
         writeFile(mac.logPath(), "before\n");
         ASSERT_EQ(::mount(mac.logPath().c_str(), mac.logPath().c_str(), nullptr, MS_BIND, nullptr),
                   0);
         ASSERT_EQ(::mount(nullptr, mac.logPath().c_str(), nullptr,
                           MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
                   0);
       },
       [](auto& mac) { ::umount2(mac.logPath().c_str(), MNT_DETACH); },
       {"before"}},
  };
  for (const auto& row : rows) {
    SimulatedMac mac;
    row.plant(mac);
    startClearing(mac);
    expectHealthy(mac, row.log, row.name);
    mac.stop();
    row.check(mac);
  }
}

TEST_F(ServiceTest, DescriptorTheServiceInheritedNeverReachesPmset) {
  SimulatedMac::Launch launch;
  launch.inheritedDescriptor = true;  // descriptor 9, not close-on-exec
  mac_.setOnBattery(true);
  mac_.setSleepPrevention(true);
  mac_.start(launch);
  ASSERT_TRUE(mac_.waitStarted());
  EXPECT_EQ(mac_.pmset().descriptorsSeen(), (Lines{"0 1 2", "0 1 2", "0 1 2"}));
  EXPECT_EQ(mac_.log(), (Lines{kIntention, kCleared, kStarted}));
}

TEST_F(ServiceTest, LogRemovedWhileRunningIsCreatedAgain) {
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  fs::remove(mac_.logPath());
  mac_.setSleepPrevention(true);
  mac_.unplug();
  expectHealthy(mac_, {kIntention, kCleared}, "removed");
}

TEST_F(ServiceTest, FullDiskLosesWholeLinesOnly) {
  // A tiny file system of its own for the log's folder, filled to the last block.
  ASSERT_EQ(::mount("tmpfs", mac_.logFolder().c_str(), "tmpfs", 0, "size=64k"), 0);
  const std::string filler = mac_.logFolder() + "/filler";
  {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  startClearing(mac_);
  expectHealthy(mac_, {}, "disk full");
  fs::remove(filler);  // room again: the next lines arrive whole
  mac_.setSleepPrevention(true);
  sendUevent("power_supply");
  expectHealthy(mac_, {kIntention, kCleared}, "room again");
  mac_.stop();
  ::umount2(mac_.logFolder().c_str(), MNT_DETACH);
}

TEST_F(ServiceTest, AnotherWriterNeverTearsALine) {
  mac_.setOnBattery(true);
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  constexpr int kWriterLines = 5000, kClears = 40;
  std::thread writer([&] {
    const int fd = ::open(mac_.logPath().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    for (int i = 0; i < kWriterLines; ++i) {
      const std::string line = "[writer] line " + std::to_string(i) + " of the other writer\n";
      ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    ::close(fd);
  });
  for (int i = 0; i < kClears; ++i) {
    mac_.setSleepPrevention(true);
    sendUevent("power_supply");
    ASSERT_TRUE(mac_.waitIdle());
  }
  writer.join();
  const std::regex whole(R"(\[writer\] line \d+ of the other writer|)"
                         R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] .*\.)");
  int writerLines = 0, serviceLines = 0;
  for (const std::string& line : readLines(mac_.logPath())) {
    EXPECT_TRUE(std::regex_match(line, whole)) << "torn: " << line;
    (line.rfind("[writer]", 0) == 0 ? writerLines : serviceLines)++;
  }
  EXPECT_EQ(writerLines, kWriterLines);
  EXPECT_EQ(serviceLines, 1 + 2 * kClears);
}

TEST_F(ServiceTest, StormOfEventsLeavesNothingBehind) {
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  for (int i = 0; i < 1000; ++i) sendUevent("power_supply");  // warm-up: first allocations
  ASSERT_TRUE(mac_.waitIdle());
  const long residentKiB = statusField(mac_.pid(), "VmRSS");
  for (int i = 0; i < 10000; ++i) sendUevent("power_supply");
  ASSERT_TRUE(mac_.waitIdle());
#ifndef HALVORSTEN_SANITIZED  // AddressSanitizer's quarantine holds freed memory on purpose
  EXPECT_LE(statusField(mac_.pid(), "VmRSS"), residentKiB + 8) << "resident memory grew";
#else
  (void)residentKiB;
#endif
  mac_.setSleepPrevention(true);
  mac_.unplug();  // and it still answers
  expectHealthy(mac_, {kStarted, kIntention, kCleared}, "storm");
}

TEST_F(ServiceTest, ReceiveBufferOverflowCountsAsAChange) {
  mac_.start();
  ASSERT_TRUE(mac_.waitStarted());
  // While the service cannot read, the adapter goes and far more events arrive than the
  // socket holds; none of those that fit is a power_supply event.
  ::kill(mac_.pid(), SIGSTOP);
  mac_.setOnBattery(true);
  mac_.setSleepPrevention(true);
  for (int i = 0; i < 3000; ++i) sendUevent("net");
  ::kill(mac_.pid(), SIGCONT);
  expectHealthy(mac_, {kStarted, kIntention, kCleared}, "overflow");
}

TEST_F(ServiceTest, ValgrindFindsNoLeakNoErrorAndNoStrayDescriptor) {
#ifdef HALVORSTEN_SANITIZED
  GTEST_SKIP() << "valgrind cannot run a sanitized build";
#endif
  if (std::system("valgrind --version >/dev/null 2>&1") != 0) {
    if (std::getenv("CI")) FAIL() << "valgrind is missing";
    GTEST_SKIP() << "valgrind is missing";
  }
  const std::string report = mac_.root() + "/valgrind.log";
  SimulatedMac::Launch launch;
  launch.wrapper = {"valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
                    "--track-fds=yes", "--log-file=" + report};
  mac_.setOnBattery(true);
  mac_.setSleepPrevention(true);
  mac_.start(launch);
  ASSERT_TRUE(mac_.waitStarted());  // a start-up with a clear
  for (int i = 0; i < 50; ++i) {    // and a burst of passes, each with a query
    sendUevent("power_supply");
    ASSERT_TRUE(mac_.waitIdle());
  }
  mac_.stop();
  const std::string text = readFile(report);
  EXPECT_NE(text.find("ERROR SUMMARY: 0 errors"), std::string::npos) << text;
  EXPECT_NE(text.find("definitely lost: 0 bytes in 0 blocks"), std::string::npos) << text;
  EXPECT_NE(text.find("indirectly lost: 0 bytes in 0 blocks"), std::string::npos) << text;
  // At the end: the standard three, the notification socket, which lives as long as the
  // process, and valgrind's own report file, which it hands down to the service.
  EXPECT_NE(text.find("FILE DESCRIPTORS: 5 open (3 std) at exit."), std::string::npos) << text;
  EXPECT_NE(text.find("Open file descriptor 3: " + report), std::string::npos) << text;
}

}  // namespace
}  // namespace halvorsten::test
