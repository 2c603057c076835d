#include "support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace halvorsten::test {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "halvorsten-test.XXXXXX").string();
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, std::string_view content, unsigned mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(content.data(), content.size());
  ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

FakeTool::FakeTool(std::string_view body, std::string_view state)
    : ownFolder_(std::make_unique<TempDir>()),
      folder_(ownFolder_->path()),
      path_(folder_ + "/pmset") {
  write(body, state);
}

FakeTool::FakeTool(const std::string& folder, std::string_view body, std::string_view state)
    : folder_(folder), path_(folder + "/pmset") {
  write(body, state);
}

void FakeTool::write(std::string_view body, std::string_view state) const {
  setState(state);
  std::remove((folder_ + "/calls").c_str());
  std::remove((folder_ + "/stdin").c_str());
  std::remove((folder_ + "/fds").c_str());
  writeFile(path_,
            "#!/bin/sh\n"
            "D='" +
                folder_ +
                "'\n"
                "args=; for a in \"$@\"; do args=\"$args[$a]\"; done\n"
                "o=other; [ /dev/fd/1 -ef /dev/null ] && o=null\n"
                "e=other; [ /dev/fd/2 -ef /dev/null ] && e=null\n"
                "i=other; [ /dev/fd/0 -ef /dev/null ] && i=null\n"
                "echo \"$args out=$o err=$e\" >>\"$D/calls\"\n"
                "echo $i >>\"$D/stdin\"\n"
                "'" HALVORSTEN_LIST_FDS "' >>\"$D/fds\"\n" +
                std::string(body) + "\n",
            0755);
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FakeTool::calls() const { return readLines(folder_ + "/calls"); }

std::string FakeTool::state() const { return readFile(folder_ + "/state"); }

void FakeTool::setState(std::string_view state) const { writeFile(folder_ + "/state", state); }

std::string FakeTool::stdinSeen() const { return readFile(folder_ + "/stdin"); }

std::vector<std::string> FakeTool::descriptorsSeen() const { return readLines(folder_ + "/fds"); }

std::string statefulPmset(std::string_view clearEnding) {
  return "case \"$args\" in\n"
         "'[-g]') printf 'System-wide power settings:\\n SleepDisabled\\t\\t%s\\n' "
         "\"$(cat \"$D/state\")\" ;;\n"
         "'[-a][disablesleep][0]') " +
         std::string(clearEnding) +
         " ;;\n"
         "*) exit 64 ;;\n"
         "esac";
}

std::vector<std::string> logMessages(const std::string& path) {
  static const std::regex stamp(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] )");
  std::vector<std::string> messages;
  for (const std::string& line : readLines(path)) {
    messages.push_back(
        std::regex_replace(line, stamp, "", std::regex_constants::format_first_only));
  }
  return messages;
}

int openDescriptorCount() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) != -1;
  return count;
}

}  // namespace halvorsten::test
