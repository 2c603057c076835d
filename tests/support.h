// What the tests share: scratch folders, files, stand-ins for pmset, and the log's messages.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace halvorsten::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

void writeFile(const std::string& path, std::string_view content, unsigned mode = 0644);
std::string readFile(const std::string& path);  // empty when missing

// A stand-in for pmset: a shell script "pmset" that records every call in its folder, then
// runs `body`. The body sees $D (its folder, which holds "state") and $args (its arguments,
// each in brackets: "[-a][disablesleep][0]"). Whether its standard input was the null device
// goes to the file "stdin", a word per run, and the descriptors it was given to "fds".
class FakeTool {
 public:
  // In a scratch folder of its own.
  explicit FakeTool(std::string_view body, std::string_view state = "0");
  // In `folder`, which must exist.
  FakeTool(const std::string& folder, std::string_view body, std::string_view state);

  const char* path() const { return path_.c_str(); }
  // One entry per run: its arguments and where its standard output and error went, e.g.
  // "[-g] out=other err=null".
  std::vector<std::string> calls() const;
  std::string state() const;
  void setState(std::string_view state) const;
  std::string stdinSeen() const;
  std::vector<std::string> descriptorsSeen() const;  // per run, e.g. "0 1 2"

 private:
  void write(std::string_view body, std::string_view state) const;

  std::unique_ptr<TempDir> ownFolder_;
  std::string folder_;
  std::string path_;
};

// A stand-in that keeps the setting in its state file: "-g" prints it the way pmset does,
// "-a disablesleep 0" switches it off. `clearEnding` replaces how the clear ends, e.g.
// "exit 1", to model a clear that fails.
std::string statefulPmset(std::string_view clearEnding = "echo 0 >\"$D/state\"");

// The lines of a text file.
std::vector<std::string> readLines(const std::string& path);

// The messages of the log at `path`, timestamps taken off; a line that does not start with a
// well-formed "[YYYY-MM-DDTHH:MM:SSZ] " is kept whole.
std::vector<std::string> logMessages(const std::string& path);

// How many descriptors this process has open.
int openDescriptorCount();

}  // namespace halvorsten::test
