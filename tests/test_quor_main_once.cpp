// The command-line host end to end: the basis it prints, and how it refuses
// bad input (a message naming the place, a non-zero status, no crash).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/text_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kProgram = fs::path(QUOR_BINARY_DIR) / "quor";

struct Outcome {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

class QuorMain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kProgram)) GTEST_SKIP() << kProgram << " is not built";
    dir_ = fs::temp_directory_path() / ("quor-main-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  std::string file(const std::string& text) {
    const fs::path p = dir_ / ("s" + std::to_string(n_++) + ".txt");
    std::ofstream(p) << text;
    return p.string();
  }

  Outcome run(const std::string& args) {
    const fs::path out = dir_ / "out", err = dir_ / "err";
    const std::string cmd = kProgram.string() + " " + args + " >" + out.string() + " 2>" + err.string();
    const int w = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    r.out = quor_test::slurp(out);
    r.err = quor_test::slurp(err);
    return r;
  }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::stringstream s(text);
    for (std::string l; std::getline(s, l);) v.push_back(l);
    std::sort(v.begin(), v.end());
    return v;
  }

  fs::path dir_;
  int n_ = 0;
};

TEST_F(QuorMain, PrintsTheReducedBasisWithTheFilesNames) {
  const std::string f = file("# name: small\n# vars: a, b\n[a^2 - b,\n  a*b\n  - 1]\n");
  Outcome r = run(f);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), lines("a^2-b\na*b-1\nb^2-a\n"));
  r = run("--prime 65521 --threads 2 " + f);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), lines("a^2+65520*b\na*b+65520\nb^2+65520*a\n"));
  // Two blocks a | b eliminate a; big coefficients pass whole.
  r = run(file("# vars: a,b\n# blocks: 1\n[a - 100000000000000000000*b, a^2 - 4]\n"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), lines("a-100000000000000000000*b\n2500000000000000000000000000000000000000*b^2-1\n"));
}

TEST_F(QuorMain, RefusesBadInputWithAMessage) {
  struct Case {
    std::string text, args, message;
  };
  const std::vector<Case> cases = {
      {"# vars: x,y\n[x+y,\n x*z]\n", "", ":3: unknown variable 'z'"},
      {"# vars: x,y\n[x+y,\n 2x]\n", "", ":3: malformed number '2x'"},
      {"# vars: x,y\n[]\n", "", ":2: empty system"},
      {"# vars: x,y\n", "", "empty system"},
      {"[x]\n", "", "no '# vars:' line"},
      {"# vars: x\n[x^40000]\n", "", "above 32767"},
      {"# vars: x\n[x]\n", "--prime 70000", "--prime: 70000 is not in 2 .. 65535"},
      {"# vars: x\n[x]\n", "--prime 65520", "should be a prime below 65536"},
      {"# vars: x\n[x]\n", "--prime 6552x", "malformed number '6552x'"},
      {"# vars: x\n[x]\n", "--options 1,y", "malformed number 'y'"},
      {"# vars: x\n[x]\n", "--bogus", "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(c.args + " " + file(c.text));
    EXPECT_GT(r.status, 0) << c.text;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.text << " -> " << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_GT(run((dir_ / "missing.txt").string()).status, 0);
}

}  // namespace
