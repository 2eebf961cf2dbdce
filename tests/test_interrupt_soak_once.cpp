// Interrupts under load: requests of both builds, on hosts of versions 10,
// 12 and 13, interrupted at random poll counts (version 10: by a SIGINT at a
// random moment), each followed by a whole request whose basis is checked
// against the reference; the process's
// resident memory after the last equals that after the first within a small
// margin (an interrupt that left zone blocks, tables or GMP integers behind
// would add up over a hundred of them).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/standin/host_session.h"

// The library keeps the host's version once read (a process has one host):
// these let the next host be of another version.
namespace quor::quor_int {
void HostVersion_forget();
}
namespace quor::quor_gf {
void HostVersion_forget();
}

namespace {

namespace sf = quor::standin;

const std::string kData = QUOR_TEST_DATA_DIR;
const std::string kShared = std::string(QUOR_SHARED_DIR) + "/reference";

long resident_kb() {
  std::ifstream in("/proc/self/statm");
  long pages = 0, resident = 0;
  in >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

std::vector<std::string> sorted_lines(std::istream& in) {
  std::vector<std::string> v;
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) v.push_back(l);
  std::sort(v.begin(), v.end());
  return v;
}

struct Build {
  long prime;  // 0: the integer build
  std::vector<std::string> reference;
  long polls = 0;       // polls of a whole request
  double seconds = 0;   // wall time of its compute call
};

// The whole request on a fresh host; its basis as sorted lines.
std::vector<std::string> whole(const sf::System& s, long prime, long* polls = nullptr, double* seconds = nullptr) {
  sf::Host h;
  sf::RequestOptions o;
  o.prime = prime;
  o.threads = 1;
  const sf::RequestResult r = sf::run_request(h, s, o);
  EXPECT_EQ(r.end, sf::RequestEnd::done);
  EXPECT_TRUE(h.violations().empty()) << h.violations().front();
  if (polls) *polls = h.polls();
  if (seconds) *seconds = r.compute_wall;
  std::stringstream text;
  for (const sf::Poly& p : r.basis) text << sf::poly_text(p, s.vars) << "\n";
  return sorted_lines(text);
}

TEST(InterruptSoak, AHundredInterruptedRequestsLeaveTheLibraryAsTheyFoundIt) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's quarantine makes resident memory meaningless here";
#endif
  const std::string name = "katsura-8";
  const sf::System s = sf::read_system(kData + "/" + name + ".txt");
  std::vector<Build> builds = {{65521, {}}, {0, {}}};
  for (Build& b : builds) {
    // The reference basis when the shared data is there, else the first whole request's.
    b.reference = whole(s, b.prime, &b.polls, &b.seconds);
    std::ifstream ref(kShared + "/" + name + (b.prime ? ".gf65521.gb.txt" : ".qq.gb.txt"));
    if (ref) {
      ASSERT_TRUE(sorted_lines(ref) == b.reference) << "the whole request differs from the reference";
    }
    ASSERT_GT(b.polls, 1);
  }
  std::mt19937 rng(20261207);
  const int versions[] = {10, 12, 13};
  long first_kb[2] = {0, 0}, last_kb[2] = {0, 0};
  int stopped[14] = {};  // by host version
  for (int i = 0; i < 100; ++i) {
    const Build& b = builds[std::size_t(i % 2)];
    const int version = versions[(i / 2) % 3];
    {
      quor::quor_int::HostVersion_forget();
      quor::quor_gf::HostVersion_forget();
      sf::Host h;
      h.set_version(version);
      sf::RequestOptions o;
      o.prime = b.prime;
      o.threads = 1;
      try {
        sf::open_request(h, s, o);
        // Hosts before 11 are not polled: the library's SIGINT handler, set by
        // the init, raises its stop flag; a Ctrl-C comes at a random moment.
        std::atomic<bool> done{false};
        std::thread user;
        if (version < 11) {
          const auto at = std::chrono::duration<double>(std::uniform_real_distribution<double>(0, b.seconds / 2)(rng));
          user = std::thread([&done, at] {
            std::this_thread::sleep_for(at);
            if (!done) ::kill(::getpid(), SIGINT);
          });
        } else {
          h.interrupt_after_polls(std::uniform_int_distribution<long>(1, b.polls)(rng));
        }
        const sf::RequestResult r = sf::compute_request(h, s, o);
        done = true;
        if (user.joinable()) user.join();
        EXPECT_NE(r.end, version < 11 ? sf::RequestEnd::interrupted : sf::RequestEnd::stopped) << i;
        stopped[version] += r.end != sf::RequestEnd::done;
      } catch (const sf::RequestInterrupted&) {
        ++stopped[version];  // before the compute entry
      }
      EXPECT_TRUE(h.violations().empty()) << i << ": " << h.violations().front();
    }
    quor::quor_int::HostVersion_forget();
    quor::quor_gf::HostVersion_forget();
    ASSERT_TRUE(whole(s, b.prime) == b.reference) << "after interrupted request " << i;
    (i < 2 ? first_kb : last_kb)[i % 2] = resident_kb();
  }
  // A Ctrl-C or a poll count near the end may let a request finish.
  for (const int v : versions) {
    EXPECT_GE(stopped[v], 10) << "host version " << v;
    std::printf("host version %d: %d of 34 requests stopped\n", v, stopped[v]);
  }
  for (int k = 0; k < 2; ++k)
    EXPECT_LE(last_kb[k] - first_kb[k], 4096)
        << (k ? "integer" : "prime-field") << " build: " << first_kb[k] << " KB after the first request, "
        << last_kb[k] << " KB after the last";
}

// Normal forms run in the Tesk engine, whose loops poll as the core's do: a
// Ctrl-C half a second into a reduction of minutes stops the request (a
// host from version 11 unwinds it, an older one sees the compute entry
// return -2), and the next normal-form request still gives the right answer.
TEST(InterruptSoak, NormalFormsStopOnEveryHostVersion) {
  const sf::System k7 = sf::read_system(kData + "/katsura-7.txt");
  sf::System nf = k7;
  {
    sf::Host h;
    const sf::RequestResult basis = sf::run_request(h, k7, sf::RequestOptions{});
    ASSERT_EQ(basis.end, sf::RequestEnd::done);
    nf.polys = sf::dense(sf::read_sparse_system_text("# vars: x1,x2,x3,x4,x5,x6,x7,x8\n"
                                                     "[x1^400+x2^399*x3-7*x1*x2^300]",
                                                     "f"))
                   .polys;
    nf.polys.insert(nf.polys.end(), basis.basis.begin(), basis.basis.end());
  }
  sf::RequestOptions o;
  o.strategy = "QUOR_COMPUTE_GBASIS_NF";
  o.nb = 1;
  const sf::System small = sf::read_system(kData + "/katsura-6.nf.txt");
  const sf::System want = sf::read_system(kData + "/katsura-6.nf.expected.txt");
  for (const int version : {10, 13}) {
    quor::quor_int::HostVersion_forget();
    {
      sf::Host h;
      h.set_version(version);
      std::atomic<bool> done{false};
      std::thread user;
      const auto t0 = std::chrono::steady_clock::now();
      bool stopped = false;
      try {
        sf::open_request(h, nf, o);
        user = std::thread([&done, version] {
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          if (done) return;
          if (version < 11)
            ::kill(::getpid(), SIGINT);
          else
            sf::Host::raise_interrupt_flag();
        });
        const sf::RequestResult r = sf::compute_request(h, nf, o);
        stopped = r.end == (version < 11 ? sf::RequestEnd::stopped : sf::RequestEnd::interrupted);
      } catch (const sf::RequestInterrupted&) {
        stopped = version >= 11;
      }
      done = true;
      if (user.joinable()) user.join();
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      EXPECT_TRUE(stopped) << "host version " << version;
      EXPECT_LT(seconds, 20.0) << "host version " << version;
      EXPECT_TRUE(h.violations().empty()) << h.violations().front();
    }
    quor::quor_int::HostVersion_forget();
    sf::Host h;
    sf::RequestOptions ok = o;
    ok.nb = 5;
    const sf::RequestResult r = sf::run_request(h, small, ok);
    ASSERT_EQ(r.end, sf::RequestEnd::done);
    ASSERT_EQ(r.basis.size(), want.polys.size());
    // The same polynomials, whatever the order of their terms.
    auto text = [&](sf::Poly p) {
      std::sort(p.begin(), p.end(), [](const sf::Term& a, const sf::Term& b) { return a.e < b.e; });
      return sf::poly_text(p, small.vars);
    };
    for (std::size_t i = 0; i < r.basis.size(); ++i)
      EXPECT_EQ(text(r.basis[i]), text(want.polys[i])) << "host version " << version << ", result " << i;
  }
}

}  // namespace
