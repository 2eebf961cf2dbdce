// A host written in C (tests/c_host/quor_leak_host.c) unwinds every host
// error and interrupt with longjmp through some 400 requests of both builds
// that end in an interrupt or a refusal deep in the computation: the
// library's objects of those requests are released all the same, and the
// process's address space stays flat.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/text_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kHost = fs::path(QUOR_BINARY_DIR) / "tests" / "quor_leak_host";

// The host's report: "done D failed F interrupted I", "VmSize A B", "VmRSS A B" as numbers by name.
std::map<std::string, long> run_host(const std::string& version, int rounds) {
  const fs::path out = fs::temp_directory_path() / ("quor-leak-host-" + std::to_string(::getpid()));
  const std::string cmd = kHost.string() + " " + QUOR_LIBRARY_PATH + " " + version + " " + std::to_string(rounds) +
                          " >" + out.string() + " 2>/dev/null";
  const int w = std::system(cmd.c_str());
  const std::string text = quor_test::slurp(out);
  fs::remove(out);
  std::map<std::string, long> r;
  EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == 0) << "the host died: " << text;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word == "done" || word == "failed" || word == "interrupted") {
      in >> r[word];
    } else if (word == "VmSize" || word == "VmRSS") {
      in >> r[word + "0"] >> r[word + "1"];
      if (!in) in.clear();
    }
  }
  return r;
}

TEST(CHostLongjmp, InterruptedAndRefusedRequestsLeaveNothingBehind) {
  if (!fs::exists(kHost)) GTEST_SKIP() << kHost << " is not built";
  // From version 13 the library releases its memory before an interrupt unwinds; before, the next init does.
  for (const char* version : {"13.0", "12.0"}) {
    const std::map<std::string, long> r = run_host(version, 60);
    ASSERT_EQ(r.count("VmSize1"), 1u) << version;
    EXPECT_GE(r.at("interrupted"), 150) << version;
    EXPECT_GE(r.at("failed"), 240) << version;
    EXPECT_GE(r.at("done"), 240) << version;  // the requests after them work
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's quarantine holds what is freed: only the counts are checked.
#else
    // Before, each interrupted or refused request left its vectors and its
    // table of results behind: 1.9 GB of address space over these.
    EXPECT_LT(r.at("VmSize1") - r.at("VmSize0"), 16 * 1024) << version << " kB";
    EXPECT_LT(r.at("VmRSS1") - r.at("VmRSS0"), 8 * 1024) << version << " kB";
#endif
  }
}

}  // namespace
