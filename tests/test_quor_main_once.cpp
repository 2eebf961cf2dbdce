// The command-line host end to end: the basis it prints, and how it refuses
// bad input (a message naming the place, a non-zero status, no crash).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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

TEST_F(QuorMain, ALargeBasisPrintsWholeOnAnyTeam) {
  // The 276 monomials of degree 22 in x, y, z are their own reduced basis:
  // more results than the printer takes at once.
  std::string list, want;
  for (int a = 0; a <= 22; ++a)
    for (int b = 0; a + b <= 22; ++b) {
      std::string m;
      for (const auto& [v, k] : {std::pair{"x", a}, {"y", b}, {"z", 22 - a - b}})
        if (k) m += (m.empty() ? "" : "*") + std::string(v) + (k > 1 ? "^" + std::to_string(k) : "");
      list += (list.empty() ? "" : ", ") + std::string("7*") + m;
      want += m + "\n";
    }
  const std::string f = file("# vars: x, y, z\n[" + list + "]\n");
  for (const char* args : {"", "--prime 65521 ", "--prime 65521 --threads 3 "}) {
    const Outcome r = run(args + f);
    ASSERT_EQ(r.status, 0) << args << r.err;
    EXPECT_EQ(lines(r.out), lines(want)) << args;
  }
}

TEST_F(QuorMain, PrintsHilbertSeriesAndNormalForms) {
  // (x^2 - y, x*y - 1): leading ideal (x^2, x*y, y^2), series 1 + 2t.
  const std::string f = file("# vars: x, y\n[x^2 - y, x*y - 1]\n");
  for (const char* prime : {"", "--prime 65521 "}) {
    const Outcome r = run(std::string(prime) + "--hilbert " + f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "h(t) = 2*t+1\ndim = 0\n") << prime;
  }
  // A curve in three variables: dim + 2 = 3 comes modulo the prime; dim is
  // one of -1 .. 3, which modulo 3 leaves only 1, modulo 2 three values.
  const std::string curve = file("# vars: x, y, z\n[x^2 - y*z, x*y - z^2]\n");
  auto dim_line = [&](const std::string& prime) {
    const std::string out = run(prime + "--hilbert " + curve).out;
    return out.substr(std::min(out.find("dim"), out.size()));
  };
  for (const char* prime : {"", "--prime 3 ", "--prime 5 "}) EXPECT_EQ(dim_line(prime), "dim = 1\n") << prime;
  EXPECT_EQ(dim_line("--prime 2 "), "dim = 1 modulo 2 (one of -1, 1, 3)\n");
  // Modulo 2 the coefficient 2 of h vanishes: the term is left out.
  EXPECT_EQ(run("--prime 2 --hilbert " + curve).out, "h(t) = t^2+1\ndim = 1 modulo 2 (one of -1, 1, 3)\n");
  // Normal forms of 2x^3, 3y^2 - x and x^2 - y by the basis {x^2 - y, x*y - 1, y^2 - x}: 2, 2x and 0.
  const std::string g = file("# vars: x, y\n[2*x^3, 3*y^2 - x, x^2 - y, x^2 - y, x*y - 1, y^2 - x]\n");
  Outcome r = run("--strategy QUOR_COMPUTE_GBASIS_NF --nb 3 " + g);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\n2\n1\n2*x\n1\n0\n");
  // x - y added to (x^2 - y, x*y - 1): the point (1, 1).
  r = run("--strategy QUOR_COMPUTE_GBASIS_NF_RECOMPUTE --nb 1 " + file("# vars: x, y\n[x - y, x^2 - y, x*y - 1]\n"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out), lines("x-1\ny-1\n"));
  r = run("--prime 65521 --strategy QUOR_COMPUTE_GBASIS_NF --nb 3 " + g);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("QUOR_COMPUTE_GBASIS_NF is not available"), std::string::npos) << r.err;
  EXPECT_NE(run("--nb -1 " + g).err.find("--nb: -1 is not a count"), std::string::npos);
}

// Every strategy whose work runs on a team (the prime-field elimination, the
// integer build's change of ordering over its primes) answers on 3 threads
// as on one, and a refusal stays a refusal.  The thread-sanitizer run runs
// this too: a race in the library's teams or its host services ends the
// program with the sanitizer's status.
TEST_F(QuorMain, ThreadedStrategiesAnswerAsOnOneThread) {
  const std::string data = std::string(QUOR_TEST_DATA_DIR) + "/";
  const std::string k6 = data + "katsura-6.txt", squared = data + "katsura-4-squared.txt";
  struct Case {
    std::string args;
    int status;
  };
  const std::vector<Case> cases = {
      {"--prime 65521 " + data + "katsura-7.txt", 0},
      {"--prime 65521 --strategy QUOR_COMPUTE_MATRIXN " + k6, 0},
      {k6, 0},
      {"--strategy QUOR_COMPUTE_MATRIXN " + k6, 0},
      {"--strategy QUOR_COMPUTE_RRFORM " + k6, 0},
      {"--strategy QUOR_COMPUTE_RRFORM_SQFR " + squared, 0},
      {"--strategy QUOR_COMPUTE_MINPOLY " + k6, 0},
      {"--strategy QUOR_COMPUTE_MINPOLY_SQFR " + squared, 0},
      {"--strategy QUOR_COMPUTE_RADICAL_STRATEG1 " + squared, 0},
      {"--strategy QUOR_COMPUTE_RADICAL_STRATEG2 " + squared, 0},
      {"--strategy QUOR_COMPUTE_GBASIS_MULTI " + k6, 0},
      {"--strategy QUOR_COMPUTE_GBASIS_NF --nb 1 " + k6, 0},
      {"--strategy QUOR_COMPUTE_GBASIS_NF_RECOMPUTE --nb 1 " + k6, 0},
      {"--strategy QUOR_COMPUTE_RRFORM " + squared, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome one = run("--threads 1 " + c.args), three = run("--threads 3 " + c.args);
    ASSERT_EQ(one.status, c.status) << one.err;
    ASSERT_EQ(three.status, c.status) << three.err;
    if (c.status == 0) {
      EXPECT_FALSE(three.out.empty());
      EXPECT_EQ(lines(three.out), lines(one.out));
    } else {
      EXPECT_NE(three.err.find("not square-free"), std::string::npos) << three.err;
    }
  }
}

TEST_F(QuorMain, RefusesBadInputWithAMessage) {
  struct Case {
    std::string text, args, message;
  };
  // Bad usage and unreadable files: status 2.
  const std::vector<Case> cases = {
      {"# vars: x,y\n[x+y,\n x*z]\n", "", ":3:4: unknown variable 'z'"},
      {"# vars: x,y\n[x+y,\n 2x]\n", "", ":3:2: malformed number '2x'"},
      {"# vars: x,y\n[]\n", "", ":2:2: empty system"},
      {"# vars: x,y\n", "", "empty system"},
      {"[x]\n", "", "no '# vars:' line"},
      {"# vars:\n[x]\n", "", ":1:8: the '# vars:' line names no variable"},
      {"# vars: x\n[x^40000]\n", "", "above 32767"},
      {"# vars: x,y\n# blocks: 4294967297\n[x]\n", "", ":2:11: block size '4294967297' is not in 0 .. 1"},
      {"# vars: x\n[21/5*x-1]\n", "", "coefficients are integers"},
      {"# vars: x\n[x]\n", "--prime 70000", "--prime: 70000 is not in 2 .. 65535"},
      {"# vars: x\n[x]\n", "--prime 65520", "--prime: 65520 is not a prime (P should be a prime below 65536)"},
      {"# vars: x\n[x]\n", "--prime 6552x", "malformed number '6552x'"},
      {"# vars: x\n[x]\n", "--options 1,y", "malformed number 'y'"},
      {"# vars: x\n[x]\n", "--bogus", "unknown option --bogus"},
      {"# vars: x\n[x]\n", "--strategy QUOR_COMPUTE_GROEBNER",
       "--strategy: unknown strategy 'QUOR_COMPUTE_GROEBNER'; the strategies are:\n  QUOR_COMPUTE_GBASIS\n"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(c.args + " " + file(c.text));
    EXPECT_EQ(r.status, 2) << c.text << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.text << " -> " << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  Outcome r = run("--strategy x " + file("# vars: x\n[x]\n"));
  EXPECT_NE(r.err.find("QUOR_COMPUTE_MATRIXN"), std::string::npos) << "the twelve names are listed";
  EXPECT_EQ(run((dir_ / "missing.txt").string()).status, 2);
  r = run(dir_.string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a directory, not a system file"), std::string::npos) << r.err;
  // A request the library refuses: status 1.
  r = run("--strategy QUOR_COMPUTE_MINPOLY " + file("# vars: x,y\n[x*y]\n"));
  EXPECT_EQ(r.status, 1) << r.err;
}

TEST_F(QuorMain, TheZeroIdealPrintsZero) {
  for (const char* args : {"", "--prime 65521 "}) {
    const Outcome r = run(args + file("# vars: x,y\n[0, 0*x*y]\n"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
  }
}

// Memory in proportion to the input: repeated terms are one term once read,
// and a system whose exponent rows cannot fit is refused before any is sent.
TEST_F(QuorMain, RepeatedTermsCostOneAndAnOversizedLayoutIsRefused) {
  std::string vars = "# vars: x1";
  for (int i = 2; i <= 9999; ++i) vars += ",x" + std::to_string(i);
  // 60,000 terms x1 in 9,999 variables: 2.5 GB sent term by term before.
  std::string repeated = vars + "\n[x2";
  for (int i = 0; i < 60000; ++i) repeated += "+x1";
  const std::string f = file(repeated + "]\n");
  for (const char* args : {"", "--prime 65521 "}) {
    const Outcome r = run(args + f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(*args ? "x1+3406*x2" : "60000*x1+x2") + "\n") << args;
  }
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
  // 30,000 distinct terms: 1.7 GB of rows and records, under a limit of 400 MB.
  std::string distinct = vars + "\n[";
  for (int i = 0; i < 30000; ++i)
    distinct += (i ? "+x" : "x") + std::to_string(i % 9999 + 1) + "^" + std::to_string(i / 9999 + 2);
  const std::string g = file(distinct + "]\n");
  const fs::path err = dir_ / "err";
  const int w = std::system(("ulimit -v 400000; " + kProgram.string() + " " + g + " >/dev/null 2>" + err.string()).c_str());
  ASSERT_TRUE(WIFEXITED(w));
  EXPECT_EQ(WEXITSTATUS(w), 1);
  EXPECT_EQ(quor_test::slurp(err).rfind("quor: the system does not fit in memory: its 30000 terms in 9999 variables take "
                                        "1717 MB with an exponent for every variable in every term, and the process may "
                                        "have 391 MB", 0),
            0u)
      << quor_test::slurp(err);
}

// A monomial table made deliberately small through o[2] is made four times
// larger, twice at most, before the request gives up with the table's message.
TEST_F(QuorMain, AFullMonomialTableIsEnlargedTwice) {
  const std::string katsura8 = std::string(QUOR_TEST_DATA_DIR) + "/katsura-8.txt";
  Outcome r = run("--prime 65521 --verbose --options 0,512 " + katsura8);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("table of 512 entries is full; again with 2048 entries (option o[2])"), std::string::npos);
  EXPECT_NE(r.err.find("table of 2048 entries is full; again with 8192 entries (option o[2])"), std::string::npos);
  const Outcome plain = run("--prime 65521 " + katsura8);
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(lines(r.out), lines(plain.out));
  // Without --verbose the retries say nothing.
  r = run("--prime 65521 --options 0,512 " + katsura8);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // 9,870 monomials of degree 2 cannot fit 8,192 entries.
  std::string vars, quad;
  for (int i = 0; i < 140; ++i) {
    vars += (i ? ",x" : "x") + std::to_string(i);
    for (int j = i; j < 140; ++j) quad += "x" + std::to_string(i) + "*x" + std::to_string(j) + "+";
  }
  r = run("--prime 65521 --verbose --options 0,512 " + file("# vars: " + vars + "\n[" + quad + "1]\n"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("again with 8192 entries"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("quor: compute: Sorry the size of the matrix is too big ![3]"), std::string::npos) << r.err;
}

// Ctrl-C: the library stops at its next poll, quor says so and exits 130,
// and the record program is complete under its time-stamped name.
TEST_F(QuorMain, SigintStopsTheRequestAndCompletesTheRecord) {
  auto records = [] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator("/tmp"))
      if (e.path().filename().string().rfind("quor_record_", 0) == 0) names.insert(e.path().string());
    return names;
  };
  const std::set<std::string> before = records();
  int err_pipe[2];
  ASSERT_EQ(::pipe(err_pipe), 0);
  const std::string input = std::string(QUOR_TEST_DATA_DIR) + "/katsura-10.txt";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(err_pipe[1], 2);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(kProgram.c_str(), "quor", "--verbose", "--record", input.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(err_pipe[1]);
  // The interrupt comes once the computation has printed its first degree.
  std::string err;
  char buf[256];
  bool sent = false;
  for (ssize_t n; (n = ::read(err_pipe[0], buf, sizeof buf)) > 0;) {
    err.append(buf, std::size_t(n));
    if (!sent && err.find("](") != std::string::npos) {
      ::kill(pid, SIGINT);
      sent = true;
    }
  }
  ::close(err_pipe[0]);
  int w = 0;
  ASSERT_EQ(::waitpid(pid, &w, 0), pid);
  ASSERT_TRUE(sent) << err;
  ASSERT_TRUE(WIFEXITED(w)) << "killed by signal " << (WIFSIGNALED(w) ? WTERMSIG(w) : 0);
  EXPECT_EQ(WEXITSTATUS(w), 130);
  EXPECT_NE(err.find("quor: interrupted\n"), std::string::npos) << err;
  // Other programs may record meanwhile: this one is the request on 11 variables.
  std::string path, program;
  for (const std::string& f : records()) {
    const std::string text = before.count(f) ? "" : quor_test::slurp(f);
    if (text.find("QUOR(reset_expos)(11,") == std::string::npos) continue;
    path = f;
    program = text;
    fs::remove(f);
  }
  ASSERT_FALSE(path.empty()) << "no record program";
  const std::string name = fs::path(path).filename().string();
  // quor_record_Mon_ 7_Dec_10h_36m_38s: the day of the month padded with a
  // blank; "_1", "_2", ... when another record took that second's name.
  EXPECT_TRUE(std::regex_match(
      name, std::regex("quor_record_[A-Z][a-z]{2}_[ 1-3][0-9]_[A-Z][a-z]{2}_[0-9]{2}h_[0-9]{2}m_[0-9]{2}s(_[0-9]+)?")))
      << name;
  EXPECT_NE(program.find("groebner)(base,"), std::string::npos);
  EXPECT_TRUE(program.ends_with("  exit(0);\n}\n")) << program.substr(program.size() - 40);
  EXPECT_NE(err.find("quor: record program written to '" + path + "'\n"), std::string::npos) << err;
}

// --record names the program it wrote, once it is complete, on standard
// error (quoted: the time stamp holds a blank).
TEST_F(QuorMain, RecordNamesTheProgramItWrote) {
  const std::string f = file("# vars: a, b\n[a^2 - b, a*b - 1]\n");
  for (const std::string build : {"", "--prime 65521 "}) {
    SCOPED_TRACE(build);
    const Outcome r = run(build + "--record " + f);
    ASSERT_EQ(r.status, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.err, m, std::regex("quor: record program written to '(/tmp/quor_record_[^'\n]+)'\n")))
        << r.err;
    const std::string path = m[1].str();
    const std::string program = quor_test::slurp(path);
    fs::remove(path);
    EXPECT_EQ(path.find("quor_record_modp_") != std::string::npos, !build.empty()) << path;
    EXPECT_EQ(program.rfind(build.empty() ? "#define LIBMODE 2\n" : "#define LIBMODE 1\n", 0), 0u) << path;
    EXPECT_NE(program.find("QUOR(reset_expos)(2,"), std::string::npos);
    EXPECT_TRUE(program.ends_with("  exit(0);\n}\n"));
  }
}

// Ctrl-C during the normal forms (the Tesk engine's reduction of a high
// power by the katsura-7 basis, minutes of work): the request ends as an
// interrupted one, at the engine's next poll.
TEST_F(QuorMain, SigintStopsTheNormalForms) {
  Outcome basis = run(std::string(QUOR_TEST_DATA_DIR) + "/katsura-7.txt");
  ASSERT_EQ(basis.status, 0) << basis.err;
  std::string list;
  for (std::string l : lines(basis.out)) list += ",\n" + l;
  const std::string input = file("# vars: x1,x2,x3,x4,x5,x6,x7,x8\n[x1^400+x2^399*x3-7*x1*x2^300" + list + "]\n");
  int err_pipe[2];
  ASSERT_EQ(::pipe(err_pipe), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(err_pipe[1], 2);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(kProgram.c_str(), "quor", "--verbose", "--strategy", "QUOR_COMPUTE_GBASIS_NF", "--nb", "1", input.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(err_pipe[1]);
  // The first pass has begun ("/S:0"): the normal form is being computed;
  // the interrupt comes half a second later, and the end within 20 s.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point none{}, begun = Clock::now();
  Clock::time_point signal_at = none, sent = none;
  std::string err;
  char buf[256];
  bool started = false, killed = false;
  for (;;) {
    pollfd pf{err_pipe[0], POLLIN, 0};
    if (::poll(&pf, 1, 100) > 0) {
      const ssize_t n = ::read(err_pipe[0], buf, sizeof buf);
      if (n <= 0) break;  // quor has ended
      err.append(buf, std::size_t(n));
    }
    const Clock::time_point now = Clock::now();
    if (!started && err.find("/S:0") != std::string::npos) {
      started = true;
      signal_at = now + std::chrono::milliseconds(500);
    }
    if (started && sent == none && now >= signal_at) {
      ::kill(pid, SIGINT);
      sent = now;
    }
    if (now > (sent == none ? begun + std::chrono::seconds(60) : sent + std::chrono::seconds(20))) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
  }
  ::close(err_pipe[0]);
  int w = 0;
  ASSERT_EQ(::waitpid(pid, &w, 0), pid);
  ASSERT_TRUE(started) << err;
  ASSERT_FALSE(killed) << "still running 20 s after the interrupt\n" << err.substr(err.size() > 400 ? err.size() - 400 : 0);
  ASSERT_TRUE(WIFEXITED(w));
  EXPECT_EQ(WEXITSTATUS(w), 130);
  EXPECT_NE(err.find("quor: interrupted\n"), std::string::npos) << err;
}

}  // namespace
