// Whole requests of this build through the stand-in host: the recorded
// replay program, interrupts that end a computation without harming the
// next request, and refusals after the library's own teams.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/record.h"
#include "engine/elim.h"
#include "host/C/host_services.h"
#include "tests/dual_test.h"
#include "tests/support/reference_basis.h"
#include "tests/support/text_file.h"

QUOR_TEST_BEGIN
namespace {

using namespace quor::reftest;
namespace fs = std::filesystem;

constexpr bool kGf = !kIntBuild;
const std::string kData = QUOR_TEST_DATA_DIR;

System system_named(const std::string& name) { return quor::standin::read_system(kData + "/" + name + ".txt"); }

RequestOptions this_build() {
  RequestOptions o;
  if (kGf) o.prime = kPrime;
  return o;
}

// ---------------------------------------------------------------- record

// Appended to a recorded program: prints every result as its term count,
// then one line per term (the exponents, then the coefficient), on standard
// output, apart from the program's own display on standard error.
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

QTEST(RecordReplay, TheRecordedProgramReplaysTheRequest) {
  if (std::system("cc --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no C compiler";
  const fs::path dir = fs::temp_directory_path() / ("quor-replay-" QUOR_BUILD_STR "-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const char* name : {"katsura-6", "elim-ratcurve-b2"}) {
    SCOPED_TRACE(name);
    const System s = system_named(name);
    const std::string& (*file_name)() = record_file_name;
    Host h;
    RequestOptions o = this_build();
    o.record = true;
    const std::vector<Poly> basis = basis_of(h, s, o);
    ASSERT_FALSE(basis.empty());
    quor::standin::close_record(h, kGf);
    const std::string recorded = file_name();
    std::string text = slurp(recorded);
    fs::remove(recorded);
    ASSERT_EQ(text.rfind(kGf ? "#define LIBMODE 1\n" : "#define LIBMODE 2\n", 0), 0u) << recorded;
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
    // The argument 1 asks the program to display its results.
    const std::string run = "ASAN_OPTIONS=detect_leaks=0 " + (dir / "replay").string() + " 1 >" +
                            (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string();
    ASSERT_EQ(std::system(run.c_str()), 0) << slurp(dir / "err.txt");
    EXPECT_TRUE(same_lines(lines(parse_dump(slurp(dir / "out.txt"), s.vars.size()), s), lines(basis, s)));

    // The display: "[", the results separated by commas, "]", on standard
    // error; the prime-field printer heads each polynomial with "f<id> = ".
    const std::string shown = slurp(dir / "err.txt");
    ASSERT_TRUE(shown.size() > 4 && shown.rfind("[\n", 0) == 0 && shown.compare(shown.size() - 2, 2, "]\n") == 0)
        << shown.substr(0, 200);
    const std::string list = std::regex_replace(shown.substr(2), std::regex("(^|,)f[0-9]+ = "), "$1");
    EXPECT_EQ(list.find("f"), std::string::npos) << list.substr(0, 200);
    std::vector<Poly> displayed;
    try {
      displayed = quor::standin::parse_poly_list("[" + list, s, "display");
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what() << "\n" << shown.substr(0, 200);
    }
    EXPECT_TRUE(same_lines(lines(displayed, s), lines(basis, s)));

    // The next request records nothing more (the reset that opens it still
    // starts a new program, which the next close ends).
    EXPECT_FALSE(basis_of(h, s, this_build()).empty());
    EXPECT_EQ(libmode_record, 0);
    quor::standin::close_record(h, kGf);
    std::error_code ec;
    if (file_name() != recorded) fs::remove(file_name(), ec);
    fs::remove(recorded, ec);
  }
  fs::remove_all(dir);
}

// ---------------------------------------------------------------- interrupts

QTEST(RequestInterrupt, EndsALongComputationAndTheNextRequestWorks) {
  const System k8 = system_named("katsura-8"), k6 = system_named("katsura-6");
  const std::vector<std::string> ref6 =
      reference_lines(kData + (kGf ? "/katsura-6.gf65521.gb.txt" : "/katsura-6.qq.gb.txt"));
  for (int version : {10, 12, 13}) {
    SCOPED_TRACE("host version " + std::to_string(version));
    const RequestOptions o = this_build();
    Host h;
    h.set_version(version);
    HostVersion_forget();
    quor::standin::RequestResult r;
    if (version < 11) {
      // The init installs the SIGINT handler; the user's ^C comes from elsewhere while the computation runs.
      quor::standin::open_request(h, k8, o);
      std::thread user([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        std::raise(SIGINT);
      });
      r = quor::standin::compute_request(h, k8, o);
      user.join();
      EXPECT_EQ(int(r.end), int(RequestEnd::stopped));
      EXPECT_EQ(QUOR_NAME(stop_immediately_semaphore), 0)
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
    EXPECT_TRUE(same_lines(lines(basis_of(h, k6, o), k6), ref6));
    std::signal(SIGINT, SIG_DFL);
  }
  HostVersion_forget();
}

#if QUOR_INT
// The pivots' coefficients held transposed for the vector kernels, dropped
// and made again at almost every pivot, give the same basis.
QTEST(RequestElimination, ASmallTransposedRoomGivesTheReferenceBasis) {
  const System k6 = system_named("katsura-6");
  struct Restore {
    u64 b = elim_transposed_budget;
    ~Restore() { elim_transposed_budget = b; }
  } restore;
  elim_transposed_budget = 16;
  Host h;
  EXPECT_TRUE(same_lines(reference_lines(kData + "/katsura-6.qq.gb.txt"), lines(basis_of(h, k6, this_build()), k6)));
}
#endif

// ---------------------------------------------------------------- threads

#if QUOR_INT
// The change of ordering runs its primes on a team.  Its threads must leave
// the host call's entry guard alone: a refusal that follows, in the same
// session, still comes back as the host error (a stale guard depth made the
// outermost guard throw with nothing to catch it, and the process aborted).
QTEST(RequestThreads, ARefusalAfterAThreadedChangeOfOrderingIsARefusal) {
  const System k6 = system_named("katsura-6"), squared = system_named("katsura-4-squared");
  RequestOptions o = this_build();
  o.threads = 3;
  o.strategy = "QUOR_COMPUTE_RRFORM";
  Host h;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(basis_of(h, k6, o).size(), k6.vars.size());
    EXPECT_EQ(guard_depth, 0);
    try {
      quor::standin::run_request(h, squared, o);
      ADD_FAILURE() << "a minimal polynomial that is not square-free was accepted";
    } catch (const quor::standin::RequestError& e) {
      EXPECT_NE(std::string(e.what()).find("not square-free"), std::string::npos) << e.what();
    }
    EXPECT_EQ(guard_depth, 0);
    EXPECT_TRUE(h.violations().empty()) << h.violations().front();
  }
}
#endif

// ---------------------------------------------------------------- receive

// Canonical lines of a basis in the library's order.
std::vector<std::string> ordered_lines(const std::vector<Poly>& basis, const System& s) {
  std::vector<std::string> v;
  for (const Poly& p : basis) v.push_back(quor::standin::poly_text(p, s.vars));
  return v;
}

// The results read again in batches (from one word, so that a result fills a
// batch alone, to several results sharing one) and completed on a team: the
// same polynomials in the same order as the request's own reading, and the
// host's rules kept.
QTEST(RequestReceive, BatchesCompletedOnATeamMatchTheRequestsReading) {
  const System k6 = system_named("katsura-6");
  const RequestOptions o = this_build();
  Host h;
  const std::vector<std::string> want = ordered_lines(basis_of(h, k6, o), k6);
  ASSERT_TRUE(same_lines(reference_lines(kData + (kGf ? "/katsura-6.gf65521.gb.txt" : "/katsura-6.qq.gb.txt")),
                         lines(basis_of(h, k6, o), k6)));
  for (long threads : {2, 8})
    for (std::size_t batch_words : {std::size_t(1), std::size_t(200), std::size_t(5000)}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, batches of " + std::to_string(batch_words) + " words");
      quor::standin::host_session_detail::ResultReader reader(h, k6.vars.size(), o.prime, threads, batch_words, 0);
      std::vector<Poly> again = {Poly{}};  // results are appended after what is there
      quor::standin::host_session_detail::read_results(h, reader, again);
      ASSERT_EQ(again.size(), want.size() + 1);
      EXPECT_TRUE(again.front().empty());
      again.erase(again.begin());
      EXPECT_EQ(ordered_lines(again, k6), want);
      EXPECT_TRUE(h.violations().empty()) << h.violations().front();
      EXPECT_TRUE(h.host_gmp_functions_in_place());
    }
}

// A reader given up before its flush (as after a refused read) stops its
// team at once, and the results can be read again in full.
QTEST(RequestReceive, AReaderLeftBeforeItsFlushStopsItsTeam) {
  const System k6 = system_named("katsura-6");
  const RequestOptions o = this_build();
  Host h;
  const std::vector<std::string> want = ordered_lines(basis_of(h, k6, o), k6);
  const long count = long(h.to_int(h.assigned("count")));
  for (std::size_t batch_words : {std::size_t(1), std::size_t(200)}) {
    std::vector<Poly> part;
    {
      quor::standin::host_session_detail::ResultReader reader(h, k6.vars.size(), o.prime, 8, batch_words, 0);
      long terms = long(h.to_int(h.assigned("first")));
      for (long i = 0; i < count; ++i) {
        long next = 0;
        reader.read(std::int32_t(i), std::int32_t(terms), "next" + std::to_string(i), next, part);
        terms = next;
      }
    }
    EXPECT_EQ(part.size(), want.size());
    std::vector<Poly> again;
    quor::standin::host_session_detail::ResultReader reader(h, k6.vars.size(), o.prime, 8, batch_words, 0);
    quor::standin::host_session_detail::read_results(h, reader, again);
    EXPECT_EQ(ordered_lines(again, k6), want);
  }
  EXPECT_TRUE(h.violations().empty()) << h.violations().front();
}

}  // namespace
QUOR_TEST_END
