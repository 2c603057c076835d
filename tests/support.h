// What the unit tests share: a scratch folder holding a copy of the stand-in pmset
// (tests/pmset) with the setting on, and the lines of the files written there.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace halvorsten::test {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

inline std::string readFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Whether `line` begins with a log line's "[YYYY-MM-DDTHH:MM:SSZ] ".
inline bool stamped(std::string_view line) {
  constexpr std::string_view shape = "[0000-00-00T00:00:00Z] ";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i >= line.size() || (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                                             : line[i] != shape[i]))
      return false;
  }
  return true;
}

// The lines of a file, each without the "[YYYY-MM-DDTHH:MM:SSZ] " it may begin with.
inline Lines linesOf(const std::string& path) {
  std::istringstream in(readFile(path));
  Lines lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(stamped(line) ? 23 : 0));
  return lines;
}

// A fresh folder, removed with all it holds, with the stand-in pmset in it and the setting on.
struct Scratch {
  Scratch() : path((fs::temp_directory_path() / "halvorsten.XXXXXX").string()) {
    if (!::mkdtemp(path.data())) throw std::runtime_error("no scratch folder");
    fs::copy_file(HALVORSTEN_TEST_PMSET, pmset());
    writeFile(*this / "state", "1\n");
  }
  ~Scratch() { fs::remove_all(path); }
  Scratch(const Scratch&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
  std::string pmset() const { return *this / "pmset"; }
  std::string path;
};

}  // namespace halvorsten::test
