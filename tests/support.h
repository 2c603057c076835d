// What the unit tests share: a scratch folder holding a copy of the stand-in pmset
// (tests/pmset), and the lines of the files it and the service write.
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

// The lines of a file, timestamps "[YYYY-MM-DDTHH:MM:SSZ] " taken off where they begin one.
inline Lines linesOf(const std::string& path) {
  static const std::regex stamp(R"(^\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] )");
  Lines lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(std::regex_replace(line, stamp, ""));
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
  Scratch& operator=(const Scratch&) = delete;

  std::string operator/(const std::string& name) const { return path + "/" + name; }
  std::string pmset() const { return *this / "pmset"; }
  std::string path;
};

}  // namespace halvorsten::test
