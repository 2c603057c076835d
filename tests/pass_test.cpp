// The enforcement pass below the platform: a given power-source type and lid, the stand-in
// pmset as a real child process, and the real log file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

#include "activitylog/activity_log.h"
#include "service/enforce.h"
#include "support.h"

namespace halvorsten::test {
namespace {

const std::string Q = "[-g]on", C = "[-a][disablesleep][0]nn", L = "lid", S = "[sleepnow]nn",
                  kI = "On battery with disablesleep=1 — clearing to protect the battery.",
                  kC = "disablesleep cleared.", kF = "Failed to clear disablesleep.",
                  kL = "Lid closed — asking the system to sleep.",
                  kDenied = "pmset launch failed: Permission denied",
                  kS = "Failed to request sleep.",
                  kU = "pmset -g answered with a report that is not UTF-8.",
                  kBig = "pmset -g wrote more than 1 MiB — stopped it.",
                  kHung = " did not end within 10 seconds — stopped it.";
const char* const B = "Battery Power";
constexpr PassOutcome N = PassOutcome::NothingToClear, Y = PassOutcome::Cleared,
                      X = PassOutcome::ClearFailed, U = PassOutcome::CouldNotTell;
std::string calls;  // the stand-in's calls file, where the lid question is written too
bool lidClosed;

bool askLid() {
  std::ofstream(calls, std::ios::app) << L << "\n";
  return lidClosed;
}

// A pass with the pmset commands run at `tool`, the power source's type `type` (null: none) and
// the lid as askLid tells of it, logging to the file at logURL.
PassOutcome pass(const char* type, const std::string& tool) {
  Machine mac = theMac(tool.c_str());
  mac.powerSourceType = [&](bool) {
    return type ? std::optional<std::string>(type) : std::nullopt;
  };
  mac.closedLidShouldSleep = askLid;
  return enforce(mac, false);
}

TEST(PassTest, EachSituationRunsItsCommandsAndLogsItsLines) {
  struct {
    const char* type;   // the providing power-source type; null: none
    const char* fault;  // "[arguments] shell code" that the stand-in runs first
    bool lid;
    PassOutcome outcome;  // what the pass says it did
    Lines calls, log;
    int leastMs = 0;  // the pass takes at least this long
  } const rows[] = {
      // clang-format off
      // in order: a failed run is logged once until a run goes well
      {nullptr, "", true, U, {}, {}},
      {"AC Power", "", true, N, {}, {}},
      {"battery power", "", true, N, {}, {}},
      {B, "[-g] echo ' standby 1'; exit", true, N, {Q}, {}},
      {B, "[-g] printf '\\377'", true, U, {Q}, {kU}},
      {B, "[-g] printf '\\377'", true, U, {Q}, {}},
      {B, "[-g] head -c 2000000 /dev/zero", true, U, {Q}, {kBig}},  // failing another way
      {B, "[-g] echo 0 >$D/state", true, N, {Q}, {}},               // a query that goes well
      {B, "[-g] head -c 2000000 /dev/zero", true, U, {Q}, {kBig}},
      {B, "[-g] echo ' SleepDisabled 0'; exit 1", true, U, {Q}, {"pmset -g exited with status 1."}},
      {B, "[-g] kill -KILL $$", true, U, {Q}, {"pmset -g was ended by signal 9."}},
      {B, "", false, Y, {Q, C, Q, L}, {kI, kC}},
      {B, "", true, Y, {Q, C, Q, L, S}, {kI, kC, kL}},
      {B, "[-g] head -c 100000 /dev/zero; echo", false, Y, {Q, C, Q, L}, {kI, kC}},  // > a pipe
      {B, "[-g] echo ' SleepDisabled 1'; exit 3", true, X, {Q, C, Q}, {kI, kF}},  // status unread
      {B, "[-g] for i in 1 2 3 4 5 6; do echo; sleep .5; done", true, U, {Q}, {"pmset -g" + kHung}},
      {B, "[-g] sleep 7.25 &", true, U, {Q}, {}, 1000},  // output held open
      {B, "[-g] exec sleep 7.25", true, U, {Q}, {}, 1000},
      {B, "[-a][disablesleep][0] exec sleep 7.25", true, X, {Q, C},
       {kI, "pmset -a disablesleep 0" + kHung, kF}, 1000},
      {B, "[sleepnow] exit 71", true, Y, {Q, C, Q, L, S, S, S, S, S}, {kI, kC, kL, kS}, 1875},
      {B, "[sleepnow] [ $(grep -c sleepnow $D/calls) -ge 3 ] || exit 71", true, Y,
       {Q, C, Q, L, S, S, S}, {kI, kC, kL}, 375},
      {B, "[sleepnow] exec sleep 7.25", true, Y, {Q, C, Q, L, S},
       {kI, kC, kL, "pmset sleepnow" + kHung, kS}, 1000},
      {B, "[-a][disablesleep][0] chmod a-x $0", true, X, {Q, C}, {kI, kDenied, kF}},  // no check
      {B, "[-a][disablesleep][0] exit 1", true, X, {Q, C}, {kI, kF}},
      {B, "[-a][disablesleep][0] echo 0 >$D/state; kill -KILL $$", true, X, {Q, C}, {kI, kF}},
      {B, "[-a][disablesleep][0] exit 0", true, X, {Q, C, Q}, {kI, kF}},  // as pmset without root
      {B, "[-g] chmod a-x $0", true, X, {Q}, {kI, kDenied, kF}},
      // clang-format on
  };
  // A descriptor the service inherited without close-on-exec must not reach pmset either.
  const auto openDescriptors = [] { return std::distance(fs::directory_iterator("/dev/fd"), {}); };
  const int inherited = ::open("/dev/null", O_RDONLY);
  const auto descriptors = openDescriptors();
  for (const auto& row : rows) {
    const Scratch dir;
    const std::string fault = row.fault;
    if (!fault.empty())
      writeFile(dir / fault.substr(0, fault.find(' ')), fault.substr(fault.find(' ')));
    calls = dir / "calls";
    lidClosed = row.lid;
    logURL = dir / "log";
    const auto start = std::chrono::steady_clock::now();
    const PassOutcome outcome = pass(row.type, dir.pmset());
    EXPECT_EQ(outcome, row.outcome) << fault;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(row.leastMs));
    EXPECT_EQ(linesOf(calls), row.calls) << fault;
    EXPECT_EQ(linesOf(logURL), row.log) << fault;
    for (const std::string& handed : linesOf(dir / "handed")) EXPECT_EQ(handed.substr(1), "");
  }
  const Scratch noTool;  // a tool that cannot start: said once
  logURL = noTool / "log";
  EXPECT_EQ(pass(B, noTool / "missing"), U);
  EXPECT_EQ(pass(B, noTool / "missing"), U);
  EXPECT_EQ(linesOf(logURL), Lines{"pmset launch failed: No such file or directory"});
  // Whatever a stopped run started was stopped with it.
  EXPECT_NE(std::system("pgrep -f 'sleep 7[.]25' >/dev/null"), 0);
  ::close(inherited);
  EXPECT_EQ(openDescriptors(), descriptors - 1);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
}

// With SIGCHLD ignored the kernel reaps the tool by itself and its end is never seen: such a
// run tells nothing, whatever it printed.
TEST(PassTest, ARunWhoseEndIsNotSeenCannotTell) {
  const Scratch dir;
  logURL = dir / "log";
  ::signal(SIGCHLD, SIG_IGN);
  EXPECT_EQ(pass(B, dir.pmset()), U);
  ::signal(SIGCHLD, SIG_DFL);
  EXPECT_EQ(linesOf(dir / "calls"), Lines{Q});
  EXPECT_FALSE(fs::exists(logURL));
}

TEST(LogTest, AppendsWholeLinesToItsOwnPlainFileOnly) {
  const Scratch dir;
  logURL = dir / "log";
  log("created");
  EXPECT_EQ(fs::status(logURL).permissions(), static_cast<fs::perms>(0644));
  writeFile(logURL, "earlier");
  log("one\ntwo");
  const std::string appended = readFile(logURL);
  EXPECT_TRUE(appended.starts_with("earlier") && stamped(appended.substr(7)) &&
              appended.substr(30) == "one\ntwo\n")
      << appended;
  // Nothing planted at the path is written through; a FIFO without a reader blocks nothing.
  for (const std::string plant : {"ln -s pmset log", "ln pmset log", "mkdir log", "mkfifo log"}) {
    fs::remove_all(logURL);
    ASSERT_EQ(std::system(("cd " + dir.path + " && " + plant).c_str()), 0);
    const fs::file_type type = fs::symlink_status(logURL).type();
    log("must not land");
    EXPECT_EQ(fs::symlink_status(logURL).type(), type) << plant;
  }
  EXPECT_EQ(readFile(dir.pmset()).find("must not land"), std::string::npos);
  logURL = dir / "missing/log";
  log("lost");
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(LogTest, LineIsInUtcWhateverTheTimeZone) {
  ::setenv("TZ", "<+0545>-5:45", 1);
  ::tzset();
  EXPECT_EQ(logLine("m", 1796484218), "[2026-12-05T15:23:38Z] m\n");
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace halvorsten::test
