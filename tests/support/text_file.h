// Whole text files for tests that check what the library or a program wrote.
#ifndef QUOR_TESTS_SUPPORT_TEXT_FILE_H
#define QUOR_TESTS_SUPPORT_TEXT_FILE_H
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quor_test {
// The file's content ("" when it cannot be read).
inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
// The file's content; the file is removed.
inline std::string take_file(const std::string& path) {
  std::string s = slurp(path);
  std::remove(path.c_str());
  return s;
}
// The lines of a data file that are neither empty nor a '#' comment.
inline std::vector<std::string> data_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') out.push_back(line);
  return out;
}
}  // namespace quor_test
#endif
