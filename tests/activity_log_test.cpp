// The log writer against real files: what a line looks like, where it goes, and that nothing
// planted at the log's path can redirect or stall it.
#include "activitylog/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "support.h"

namespace halvorsten {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

class ActivityLogTest : public testing::Test {
 protected:
  void SetUp() override { logURL = dir_ / "service.log"; }
  TempDir dir_;
};

TEST_F(ActivityLogTest, LineIsInUtcWhateverTheTimeZone) {
  const std::time_t when = 1796484218;  // 2026-12-05 15:23:38 UTC
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  for (const char* tz : {"UTC0", "PST8PDT", "<+0545>-5:45", "<+14>-14"}) {
    ::setenv("TZ", tz, 1);
    ::tzset();
    EXPECT_EQ(logLine("disablesleep cleared.", when),
              "[2026-12-05T15:23:38Z] disablesleep cleared.\n")
        << tz;
  }
  saved ? ::setenv("TZ", savedTz.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

TEST_F(ActivityLogTest, CreatesTheFileWithOneLine) {
  log("Halvorsten started.");
  EXPECT_EQ(test::logMessages(logURL), std::vector<std::string>{"Halvorsten started."});
  struct stat st;
  ASSERT_EQ(::stat(logURL.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ActivityLogTest, AppendsAndKeepsEarlierContent) {
  writeFile(logURL, "earlier content without a line end");
  log("one");
  log("two");
  const std::string content = readFile(logURL);
  EXPECT_EQ(content.rfind("earlier content without a line end[", 0), 0u) << content;
  EXPECT_EQ(test::logMessages(logURL).back(), "two");
  EXPECT_EQ(test::logMessages(logURL).size(), 2u);
}

TEST_F(ActivityLogTest, EmbeddedLineFeedIsWrittenAsItIs) {
  log("first\nsecond");
  EXPECT_EQ(test::logMessages(logURL), (std::vector<std::string>{"first", "second"}));
}

TEST_F(ActivityLogTest, MissingFolderLosesTheLineQuietly) {
  logURL = dir_ / "missing/service.log";
  log("lost");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

TEST_F(ActivityLogTest, NothingPlantedAtThePathIsWrittenThrough) {
  const std::string target = dir_ / "target";
  writeFile(target, "precious\n");
  using Type = std::filesystem::file_type;
  struct Planted {
    const char* what;
    Type type;
    void (*plant)(const std::string& path, const std::string& target);
  } const cases[] = {
      {"symbolic link", Type::symlink,
       [](auto& p, auto& t) { ASSERT_EQ(::symlink(t.c_str(), p.c_str()), 0); }},
      {"hard link", Type::regular,
       [](auto& p, auto& t) { ASSERT_EQ(::link(t.c_str(), p.c_str()), 0); }},
      {"directory", Type::directory,
       [](auto& p, auto&) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); }},
      // With no reader, a FIFO would block a plain open for writing forever.
      {"FIFO", Type::fifo, [](auto& p, auto&) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
  };
  for (const Planted& c : cases) {
    std::filesystem::remove_all(logURL);
    c.plant(logURL, target);
    log("must not land");
    EXPECT_EQ(readFile(target), "precious\n") << c.what;
    EXPECT_EQ(std::filesystem::symlink_status(logURL).type(), c.type) << c.what;
  }
}

}  // namespace
}  // namespace halvorsten
