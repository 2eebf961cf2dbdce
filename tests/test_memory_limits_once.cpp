// The command-line host under a limited address space (ulimit -v): a small
// request runs, and one that cannot have its memory says how much it asked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/text_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kProgram = fs::path(QUOR_BINARY_DIR) / "quor";
const fs::path kCyclic5 = fs::path(QUOR_SOURCE_DIR) / "examples" / "cyclic-5.txt";
const fs::path kKatsura6 = fs::path(QUOR_SOURCE_DIR) / "examples" / "katsura-6.txt";

struct Outcome {
  int status = -1;
  std::string out, err;
};

// quor with args under ulimit -v kb.
Outcome run_limited(long kb, const std::string& args) {
  const fs::path dir = fs::temp_directory_path();
  const fs::path out = dir / ("quor-limit-out-" + std::to_string(::getpid()));
  const fs::path err = dir / ("quor-limit-err-" + std::to_string(::getpid()));
  const std::string cmd = "/bin/sh -c 'ulimit -v " + std::to_string(kb) + " && exec " + kProgram.string() + " " + args +
                          "' >" + out.string() + " 2>" + err.string();
  const int w = std::system(cmd.c_str());
  Outcome r;
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  r.out = quor_test::slurp(out);
  r.err = quor_test::slurp(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return std::getenv("ASAN_OPTIONS") != nullptr;
}

TEST(MemoryLimits, CyclicFiveRunsIn200MegabytesInBothBuilds) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << kProgram << " is not built";
  if (sanitized()) GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
  for (const std::string prime : {"", "--prime 65521 "}) {
    const Outcome r = run_limited(200000, prime + kCyclic5.string());
    EXPECT_EQ(r.status, 0) << prime << r.err;
    EXPECT_NE(r.out.find("x1+x2+x3+x4+x5"), std::string::npos) << prime << r.out;
  }
}

TEST(MemoryLimits, ExhaustedMemorySaysHowMuchWasAsked) {
  if (!fs::exists(kProgram)) GTEST_SKIP() << kProgram << " is not built";
  if (sanitized()) GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
  const Outcome r = run_limited(50000, "--prime 65521 " + kKatsura6.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Not enough memory in alloc ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" bytes asked: the memory is exhausted)"), std::string::npos) << r.err;
}

}  // namespace
