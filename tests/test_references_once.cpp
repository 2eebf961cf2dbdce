// Whole requests through the stand-in host, as a host makes them, against
// the reference bases: both builds, thread counts, repeated and permuted
// requests, the two-block order, the recorded replay program, and
// interrupts that end a computation without harming the next request.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/reference_basis.h"
#include "tests/support/text_file.h"

#define QUOR_INT 1
#include "api/record.h"
#include "host/C/host_services.h"
#undef QUOR_INT
#define QUOR_INT 0
#include "api/record.h"
#include "host/C/host_services.h"
#undef QUOR_INT

namespace {

using namespace quor::reftest;
namespace fs = std::filesystem;
namespace qi = quor::quor_int;
namespace qg = quor::quor_gf;

const std::string kData = QUOR_TEST_DATA_DIR;

System system_named(const std::string& name) { return quor::standin::read_system(kData + "/" + name + ".txt"); }

RequestOptions modp(long threads = 0) {
  RequestOptions o;
  o.prime = kPrime;
  o.threads = threads;
  return o;
}

TEST(References, BothBuildsGiveTheReferenceBases) {
  for (const char* name : {"cyclic-5", "cyclic-6", "katsura-6", "elim-ratcurve-b2"})
    check_against_references(kData, kData, name);
}

TEST(References, ThreadsRepeatsAndInputOrderLeaveTheBasisAlone) {
  Host h;  // every request of the test in one process and one host session
  for (const char* name : {"katsura-6", "cyclic-6"}) {
    SCOPED_TRACE(name);
    const System s = system_named(name);
    const std::vector<std::string> ref = reference_lines(kData + "/" + name + ".gf65521.gb.txt");
    for (long threads : {1, 2, 4, 8, 1})
      EXPECT_TRUE(same_lines(lines(basis_of(h, s, modp(threads)), s), ref)) << threads << " threads";
    System reversed = s, rotated = s;
    std::reverse(reversed.polys.begin(), reversed.polys.end());
    std::rotate(rotated.polys.begin(), rotated.polys.begin() + 2, rotated.polys.end());
    const std::vector<std::string> zz = lines(basis_of(h, s, RequestOptions{}), s);
    for (const System* p : {&reversed, &rotated}) {
      EXPECT_TRUE(same_lines(lines(basis_of(h, *p, modp(2)), s), ref));
      EXPECT_TRUE(same_lines(lines(basis_of(h, *p, RequestOptions{}), s), zz));
    }
  }
}

// ---------------------------------------------------------------- record

// Appended to a recorded program: prints every result as its term count,
// then one line per term (the exponents, then the coefficient).  The
// program's own display goes through the message sink, silent outside a host.
const char* kDump = R"(
static void quor_replay_dump(UI32 nvars) {
  int i;
  UI32 k, j;
  for (i = 0; i < Quor_MAXI_BASE && resultat[i] != 0; ++i) {
    UI32 n = QUOR(nb_terms)(resultat[i]);
    UI32* e = (UI32*)malloc(sizeof(UI32) * (n * nvars + 1));
#if LIBMODE == 2
    mpz_ptr* c = Quor_int_export_poly_INT_gmp(nvars, n, e, resultat[i]);
#else
    UI32* c = (UI32*)malloc(sizeof(UI32) * (n + 1));
    Quor_export_poly(nvars, n, e, c, resultat[i]);
#endif
    printf("%u\n", n);
    for (k = 0; k < n; ++k) {
      for (j = 0; j < nvars; ++j) printf("%u ", e[k * nvars + j]);
#if LIBMODE == 2
      mpz_out_str(stdout, 10, c[k]);
#else
      printf("%u", c[k]);
#endif
      printf("\n");
    }
#if LIBMODE != 2
    free(c);
#endif
    free(e);
  }
}

)";

using quor_test::slurp;

// Results printed by quor_replay_dump.
std::vector<Poly> parse_dump(const std::string& text, std::size_t nvars) {
  std::vector<Poly> out;
  std::istringstream in(text);
  for (std::size_t n; in >> n;) {
    Poly p(n);
    for (quor::standin::Term& t : p) {
      t.e.resize(nvars);
      for (std::int32_t& e : t.e) in >> e;
      std::string c;
      in >> c;
      if (mpz_set_str(t.c.get(), c.c_str(), 10) != 0) return {};
    }
    out.push_back(p);
  }
  return out;
}

TEST(RecordReplay, TheRecordedProgramReplaysTheRequest) {
  if (std::system("cc --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no C compiler";
  const fs::path dir = fs::temp_directory_path() / ("quor-replay-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  struct Case {
    const char* system;
    bool gf;
  };
  for (const Case& c : {Case{"katsura-6", false}, Case{"elim-ratcurve-b2", false}, Case{"katsura-6", true},
                        Case{"elim-ratcurve-b2", true}}) {
    SCOPED_TRACE(std::string(c.system) + (c.gf ? " modulo p" : " over the integers"));
    const System s = system_named(c.system);
    const std::string& (*file_name)() = c.gf ? qg::record_file_name : qi::record_file_name;
    Host h;
    RequestOptions o = c.gf ? modp() : RequestOptions{};
    o.record = true;
    const std::vector<Poly> basis = basis_of(h, s, o);
    ASSERT_FALSE(basis.empty());
    quor::standin::close_record(h, c.gf);
    const std::string recorded = file_name();
    std::string text = slurp(recorded);
    fs::remove(recorded);
    ASSERT_EQ(text.rfind(c.gf ? "#define LIBMODE 1\n" : "#define LIBMODE 2\n", 0), 0u) << recorded;
    const std::string tail = "  exit(0);\n}\n";
    ASSERT_EQ(text.size() - text.rfind(tail), tail.size()) << "not closed";
    text.insert(text.size() - tail.size(), "  quor_replay_dump(" + std::to_string(s.vars.size()) + ");\n");
    text.insert(text.find("int main("), kDump);
    std::ofstream(dir / "replay.c") << text;

    const std::string src = fs::path(QUOR_TEST_DATA_DIR).parent_path().parent_path().string();
    std::string cc = "cc -w -I" + src + "/core -I" + src;
#if defined(__SANITIZE_ADDRESS__)
    cc += " -fsanitize=address,undefined";
#endif
    const std::string bin = QUOR_BINARY_DIR;
    cc += " -o " + (dir / "replay").string() + " " + (dir / "replay.c").string() + " -L" + bin +
          " -lquor -lquor_standin_host -lgmp -Wl,-rpath," + bin + " 2>" + (dir / "cc.txt").string();
    ASSERT_EQ(std::system(cc.c_str()), 0) << slurp(dir / "cc.txt");
    const std::string run = "ASAN_OPTIONS=detect_leaks=0 " + (dir / "replay").string() + " >" +
                            (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string();
    ASSERT_EQ(std::system(run.c_str()), 0) << slurp(dir / "err.txt");
    EXPECT_TRUE(same_lines(lines(parse_dump(slurp(dir / "out.txt"), s.vars.size()), s), lines(basis, s)));

    // The next request records nothing more (the reset that opens it still
    // starts a new program, which the next close ends).
    EXPECT_FALSE(basis_of(h, s, c.gf ? modp() : RequestOptions{}).empty());
    EXPECT_EQ(c.gf ? qg::libmode_record : qi::libmode_record, 0);
    quor::standin::close_record(h, c.gf);
    std::error_code ec;
    if (file_name() != recorded) fs::remove(file_name(), ec);
    fs::remove(recorded, ec);
  }
  fs::remove_all(dir);
}

// ---------------------------------------------------------------- interrupts

void forget_versions() {
  qi::HostVersion_forget();
  qg::HostVersion_forget();
}

TEST(RequestInterrupt, EndsALongComputationAndTheNextRequestWorks) {
  const System k8 = system_named("katsura-8"), k6 = system_named("katsura-6");
  const std::vector<std::string> ref6[2] = {reference_lines(kData + "/katsura-6.qq.gb.txt"),
                                            reference_lines(kData + "/katsura-6.gf65521.gb.txt")};
  struct Case {
    int version;
    bool gf;
  };
  for (const Case& c : {Case{10, true}, Case{12, true}, Case{13, true}, Case{10, false}, Case{12, false},
                        Case{13, false}}) {
    SCOPED_TRACE("host version " + std::to_string(c.version) + (c.gf ? " modulo p" : " over the integers"));
    const RequestOptions o = c.gf ? modp() : RequestOptions{};
    Host h;
    h.set_version(c.version);
    forget_versions();
    quor::standin::RequestResult r;
    if (c.version < 11) {
      // The init installs the SIGINT handler; the user's ^C comes from elsewhere while the computation runs.
      quor::standin::open_request(h, k8, o);
      std::thread user([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        std::raise(SIGINT);
      });
      r = quor::standin::compute_request(h, k8, o);
      user.join();
      EXPECT_EQ(int(r.end), int(RequestEnd::stopped));
      EXPECT_EQ(c.gf ? qg::Quor_stop_immediately_semaphore : qi::Quor_int_stop_immediately_semaphore, 0)
          << "the stopped compute clears the flag";
    } else {
      // A full run counts the polls; the interrupt then comes halfway.
      h.interrupt_after_polls(0);
      EXPECT_FALSE(basis_of(h, k8, o).empty());
      const long polls = h.polls();
      ASSERT_GE(polls, 2) << "too short to be interrupted";
      h.interrupt_after_polls(polls / 2);
      r = quor::standin::run_request(h, k8, o);
      EXPECT_EQ(int(r.end), int(RequestEnd::interrupted));
      EXPECT_EQ(h.interrupts_delivered(), 1);
      h.interrupt_after_polls(0);
    }
    EXPECT_TRUE(h.violations().empty()) << h.violations().front();
    EXPECT_TRUE(h.host_gmp_functions_in_place());
    EXPECT_TRUE(same_lines(lines(basis_of(h, k6, o), k6), ref6[c.gf]));
    std::signal(SIGINT, SIG_DFL);
  }
  forget_versions();
}

}  // namespace
