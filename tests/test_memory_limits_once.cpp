// Requests under an address-space limit (ulimit -v), in a child process: a
// request that needs more memory than the limit ends in a host error that
// says so, and the next, smaller request of the same process succeeds with
// the right basis; a request that fits runs on eight threads, and a team the
// system gives no thread runs on its caller; the request table refuses a
// polynomial past its end.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/standin/host_session.h"

namespace {

namespace sf = quor::standin;

const std::string kData = QUOR_TEST_DATA_DIR;

std::vector<std::string> basis_lines(const sf::RequestResult& r, const sf::System& s) {
  std::vector<std::string> v;
  for (const sf::Poly& p : r.basis) v.push_back(sf::poly_text(p, s.vars));
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<std::string> file_lines(const std::string& path) {
  std::vector<std::string> v;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) v.push_back(l);
  std::sort(v.begin(), v.end());
  return v;
}

// 0 when the request ended done with the reference basis and the host saw
// no violation of its calls; else `wrong` (saying `what` on standard error)
// or wrong + 1.
int check_basis(const sf::Host& h, const sf::RequestResult& r, const sf::System& s,
                const std::vector<std::string>& reference, const char* what, int wrong) {
  if (r.end != sf::RequestEnd::done || basis_lines(r, s) != reference) {
    std::fprintf(stderr, "%s\n", what);
    return wrong;
  }
  return h.violations().empty() ? 0 : wrong + 1;
}

// Runs body in a child process under an address-space limit of `mb` MB;
// the child's failures come back as its exit status and standard error.
template <class F>
void under_limit(long mb, F body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit lim{rlim_t(mb) << 20, rlim_t(mb) << 20};
    if (::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(90);
    ::_exit(body());
  }
  int w = 0;
  ASSERT_EQ(::waitpid(pid, &w, 0), pid);
  ASSERT_TRUE(WIFEXITED(w)) << "the child was killed by signal " << WTERMSIG(w);
  EXPECT_EQ(WEXITSTATUS(w), 0);
}

TEST(MemoryLimits, ARequestBeyondTheLimitIsRefusedAndTheNextSmallerOneRuns) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  const sf::System s = sf::read_system(kData + "/cyclic-5.txt");
  // The smaller request in the same build: a table capacity that could not
  // be had must not stay behind for the next init.
  for (const long prime : {65521L, 0L}) {
    const long other = prime;
    const std::vector<std::string> reference =
        file_lines(kData + (other ? "/cyclic-5.gf65521.gb.txt" : "/cyclic-5.qq.gb.txt"));
    under_limit(400, [&] {
      sf::Host h;
      sf::RequestOptions big;
      big.prime = prime;
      big.extra = {0, 134217728};  // the largest monomial table: about 2 GB
      try {
        sf::run_request(h, s, big);
        std::fprintf(stderr, "the request beyond the limit was not refused\n");
        return 1;
      } catch (const sf::RequestError& e) {
        if (std::string(e.what()).find("the memory is exhausted") == std::string::npos) {
          std::fprintf(stderr, "unclear refusal: %s\n", e.what());
          return 2;
        }
      }
      sf::RequestOptions small;
      small.prime = other;
      return check_basis(h, sf::run_request(h, s, small), s, reference,
                         "the smaller request after the refusal went wrong", 3);
    });
  }
}

// The zone's address range leaves the rest of a limited address space to
// the host and the threads: a request that fits runs on eight threads, and
// the host reads its basis on its own threads.
TEST(MemoryLimits, ARequestThatFitsRunsOnEightThreadsUnderTheLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
  const sf::System s = sf::read_system(kData + "/katsura-8.txt");
  for (const long mb : {300L, 400L, 600L})
    under_limit(mb, [&] {
      sf::Host h;
      try {
        sf::RequestOptions o;
        o.prime = 65521;
        const std::vector<std::string> one = basis_lines(sf::run_request(h, s, o), s);
        o.threads = 8;
        return check_basis(h, sf::run_request(h, s, o), s, one, "wrong basis on eight threads", 1);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "refused under %ld MB: %s\n", mb, e.what());
        return 3;
      }
    });
}

// Where the system gives no thread, the caller alone does a team's work.
TEST(MemoryLimits, ATeamWithoutThreadsRunsOnTheCaller) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
  long used_kb = 0;
  std::ifstream status("/proc/self/status");
  for (std::string l; std::getline(status, l);)
    if (l.rfind("VmSize:", 0) == 0) used_kb = std::stol(l.substr(7));
  ASSERT_GT(used_kb, 0);
  // A thread's stack alone no longer fits.
  under_limit(used_kb / 1024 + 2, [] {
    std::vector<std::atomic<int>> seen(1000);
    try {
      sf::on_team(seen.size(), 8, [&](std::size_t i) { ++seen[i]; });
    } catch (const std::exception&) {
      return 1;
    }
    for (const auto& v : seen)
      if (v != 1) return 2;
    return 0;
  });
}

// Under a limit that leaves no room for eight threads' stacks the team is
// made smaller, down to the caller alone: the request ends in the basis or in
// a host error when even that cannot be had, and the OpenMP runtime never
// ends the process for a thread it could not create.
TEST(MemoryLimits, TheTeamShrinksToWhatTheLimitLeaves) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
  // katsura-12 modulo 65521 on eight threads under 300 MB: the command-line
  // host ends with the library's refusal, not the runtime's "Thread creation failed".
  const std::string k12 = std::string(QUOR_SHARED_DIR) + "/systems/katsura-12.txt";
  if (!std::ifstream(k12)) GTEST_SKIP() << k12 << " is absent";
  int err_pipe[2];
  ASSERT_EQ(::pipe(err_pipe), 0);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(err_pipe[1], 2);
    ::close(err_pipe[0]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    const rlimit lim{rlim_t(300) << 20, rlim_t(300) << 20};
    if (::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(90);
    const std::string quor = std::string(QUOR_BINARY_DIR) + "/quor";
    ::execl(quor.c_str(), "quor", "--prime", "65521", "--threads", "8", k12.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(err_pipe[1]);
  std::string err;
  char buf[512];
  for (ssize_t n; (n = ::read(err_pipe[0], buf, sizeof buf)) > 0;) err.append(buf, std::size_t(n));
  ::close(err_pipe[0]);
  int w = 0;
  ASSERT_EQ(::waitpid(pid, &w, 0), pid);
  ASSERT_TRUE(WIFEXITED(w)) << err;
  EXPECT_EQ(err.find("libgomp"), std::string::npos) << err;
  if (WEXITSTATUS(w) != 0) {
    EXPECT_EQ(WEXITSTATUS(w), 1) << err;
    EXPECT_NE(err.find("the memory is exhausted"), std::string::npos) << err;
  }
}

TEST(MemoryLimits, TheRequestTableRefusesAPolynomialPastItsEnd) {
  sf::System s{"", {"x"}, 0, {}};
  for (int i = 0; i < 100001; ++i) s.polys.push_back(sf::parse_poly_list("[x]", s, "one")[0]);
  sf::Host h;
  sf::RequestOptions o;
  o.prime = 65521;
  try {
    sf::open_request(h, s, o);
    FAIL() << "100001 polynomials were taken";
  } catch (const sf::RequestError& e) {
    EXPECT_NE(std::string(e.what()).find("send"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(h.violations().empty());
}

}  // namespace
