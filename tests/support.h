// What the unit tests share: a scratch folder holding a copy of the stand-in pmset
// (tests/pmset) with the setting on, and the lines of the files written there.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
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

// The lines of a file, each without the "[YYYY-MM-DDTHH:MM:SSZ] " it may begin with.
inline Lines linesOf(const std::string& path) {
  static const std::regex stamp(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] )");
  std::istringstream in(readFile(path));
  Lines lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(std::regex_replace(line, stamp, ""));
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
