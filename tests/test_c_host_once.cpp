// A host written in C (tests/c_host) loads the library with dlopen and runs a
// large request under a lowered address-space limit in each build: the
// request ends in a host error about memory instead of an exception that
// would abort the host, and the next request, with the limit lifted, works.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/support/text_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kHost = fs::path(QUOR_BINARY_DIR) / "tests" / "quor_c_host";

TEST(CHost, MemoryRunningOutIsAHostErrorAndTheNextRequestWorks) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
  if (!fs::exists(kHost)) GTEST_SKIP() << kHost << " is not built";
  const fs::path out = fs::temp_directory_path() / ("quor-c-host-" + std::to_string(::getpid()));
  // Katsura-9 under 80 MB: its vectors and zone blocks cannot all be had.
  const std::string cmd = kHost.string() + " " + QUOR_LIBRARY_PATH + " 80000 9 >" + out.string() + " 2>/dev/null";
  const int w = std::system(cmd.c_str());
  const std::string text = quor_test::slurp(out);
  fs::remove(out);
  ASSERT_TRUE(WIFEXITED(w)) << "the host died: " << text;
  EXPECT_EQ(WEXITSTATUS(w), 0) << text;
  std::istringstream lines(text);
  std::string line;
  int large = 0, small = 0;
  while (std::getline(lines, line)) {
    if (line.find(" large: ") != std::string::npos) {
      ++large;
      EXPECT_NE(line.find("ot enough memory"), std::string::npos) << line;
      EXPECT_NE(line.find("bytes asked"), std::string::npos) << line;
    } else if (line.find(" small: ") != std::string::npos) {
      ++small;
      EXPECT_EQ(line.substr(line.find(" small: ") + 8), "3") << line;
    }
  }
  EXPECT_EQ(large, 2) << text;
  EXPECT_EQ(small, 2) << text;
}

}  // namespace
