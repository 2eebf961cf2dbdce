// Host entry points driven as a host drives them: through the stand-in host,
// whose checks (GMP functions, rtable guards, argument reads) must stay quiet.
#include <gmock/gmock.h>

#include <climits>
#include <csignal>
#include <random>
#include <cstdio>
#include <string>
#include <vector>

#include "api/request.h"
#include "host/C/entry_points.h"
#include "host/C/entry_state.h"
#include "host/C/host_services.h"
#include "host/standin/host_session.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/text_file.h"

QUOR_TEST_BEGIN

namespace {
using quor::standin::CallResult;
using ::testing::HasSubstr;
constexpr i32 kPrime = 65521;
constexpr long kMinus1 = QUOR_INT ? -1 : kPrime - 1;

struct Term {
  std::vector<i32> e;
  long c;
};
using Poly = std::vector<Term>;

// "c[e1 e2 ...] c[...]", terms in the order given.
std::string show(const Poly& p) {
  std::string s;
  for (const Term& t : p) {
    s += (s.empty() ? "" : " ") + std::to_string(t.c) + '[';
    for (std::size_t j = 0; j < t.e.size(); ++j) s += (j ? " " : "") + std::to_string(t.e[j]);
    s += ']';
  }
  return s;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// {x1^2 - x2, x1*x2 - 1} has the reduced basis {x1^2 - x2, x1*x2 - 1, x2^2 - x1}.
const std::vector<std::string> kSmallBasis =
    sorted({show({{{2, 0}, 1}, {{0, 1}, kMinus1}}), show({{{1, 1}, 1}, {{0, 0}, kMinus1}}),
            show({{{0, 2}, 1}, {{1, 0}, kMinus1}})});
}  // namespace

class QUOR_SUITE(Entry) : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(h.violations().empty()) << h.violations().front();
    EXPECT_TRUE(h.host_gmp_functions_in_place());
    QUOR_NAME(reset_memory)();
    Quor_verb_info = 0;
    current_debug = 0;
    Host_kernel = nullptr;
  }

  HostValue I(i64 v) { return h.integer(v); }
  CallResult call(HostEntryPoint f, const std::vector<HostValue>& a) { return h.call(f, a); }
  std::string error(HostEntryPoint f, const std::vector<HostValue>& a) { return h.call(f, a).error; }

  CallResult init(i32 first, i32 second, i32 prime = kPrime) {
    if (QUOR_INT) return call(QUOR_LNAME(gbasis_init), {I(first), I(second), I(0), I(0)});
    return call(QUOR_LNAME(gbasis_init), {I(first), I(second), I(0), I(prime), I(0)});
  }

  // Sends p over nvars variables (the integer build through the list entry); the prime field's -1 as a value.
  CallResult send(const Poly& p, i32 nvars) {
    std::vector<i32> e;
    for (const Term& t : p) e.insert(e.end(), t.e.begin(), t.e.end());
#if QUOR_INT
    std::vector<HostValue> c;
    for (const Term& t : p) c.push_back(I(t.c));
    return call(quor_int_send_poly_gmp, {I(nvars), I(i64(p.size())), h.rtable_int32(e, i32(e.size())), h.list(c)});
#else
    std::vector<i32> c;
    for (const Term& t : p) c.push_back(i32(t.c));
    e.push_back(0);
    c.push_back(0);
    return h.run([&] { return I(quor_send_poly(u32(nvars), u32(p.size()), e.data(), c.data())); });
#endif
  }

  HostValue options(std::vector<i32> o) { return h.rtable_int32(o, i32(o.size())); }

  CallResult compute(const std::string& strategy, HostValue opts = nullptr, i32 nargs = 12) {
    std::vector<HostValue> a = {h.name("t"),
                                h.name("first"),
                                h.name("count"),
                                I(0),
                                I(0),
                                I(8),
                                I(0),
                                I(0),
                                h.string(strategy),
                                I(0),
                                I(0),
                                opts ? opts : options({4, 0, 0, 0})};
    a.resize(std::size_t(nargs), I(0));
    return call(QUOR_LNAME(gbasis_compute), a);
  }

  // Polynomial index (nterms terms) read back as a host does; next receives the following count.
  Poly receive(i32 index, i32 nterms, i32 nvars, const std::string& next = "next") {
    long nx = 0;
    Poly p;
    for (const auto& t : quor::standin::host_session_detail::receive(h, index, nterms, std::size_t(nvars),
                                                                      QUOR_INT ? 0 : kPrime, next, nx))
      p.push_back({{t.e.begin(), t.e.end()}, mpz_get_si(t.c.get())});
    if (!QUOR_INT && index < global_nb - 1) HostAssign(h.kernel(), h.name(next), I(nx));
    return p;
  }

  // Every result, following the counts handed to the host.
  std::vector<std::string> receive_all(i32 nvars) {
    std::vector<std::string> out;
    i64 terms = h.to_int(h.assigned("first"));
    for (i32 i = 0, n = i32(h.to_int(h.assigned("count"))); i < n; ++i) {
      const std::string next = "next" + std::to_string(i);
      out.push_back(show(receive(i, i32(terms), nvars, next)));
      if (i + 1 < n) terms = h.to_int(h.assigned(next));
    }
    return sorted(out);
  }

  void send_small_system() {
    ASSERT_TRUE(init(2, 0).ok());
    ASSERT_TRUE(send({{{2, 0}, 1}, {{0, 1}, -1}}, 2).ok());
    ASSERT_TRUE(send({{{1, 1}, 1}, {{0, 0}, -1}}, 2).ok());
  }

  quor::standin::Host h;
};

// ---------------------------------------------------------------- round trips

QTEST_F(Entry, RoundTrips) {
  send_small_system();
  CallResult r = compute("QUOR_COMPUTE_GBASIS");
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(h.to_int(r.value), 2);  // the largest term count
  EXPECT_EQ(h.to_int(h.assigned("count")), 3);
  EXPECT_GE(h.to_double(h.assigned("t")), 0.0);
  EXPECT_EQ(receive_all(2), kSmallBasis);
  EXPECT_EQ(h.assigned("next2"), nullptr);  // the last result has no successor
  // A second compute works on the results.
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  EXPECT_EQ(receive_all(2), kSmallBasis);
  // A new request with two blocks x1 | x2: {x1 - 2*x2, x1^2 - 4} -> {x1 - 2*x2, x2^2 - 1}.
  ASSERT_TRUE(init(1, 1).ok());
  EXPECT_EQ(global_nb, 0);
  ASSERT_TRUE(send({{{1, 0}, 1}, {{0, 1}, -2}}, 2).ok());
  ASSERT_TRUE(send({{{2, 0}, 1}, {{0, 0}, -4}}, 2).ok());
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  const long m2 = QUOR_INT ? -2 : kPrime - 2;
  EXPECT_EQ(receive_all(2), sorted({show({{{1, 0}, 1}, {{0, 1}, m2}}), show({{{0, 2}, 1}, {{0, 0}, kMinus1}})}));
}

#if QUOR_INT
QTEST_F(Entry, TransferWordsBigCoefficientsAndMonomialShapes) {
  ASSERT_TRUE(init(2, 0).ok());
  // 2^40 + 3 as (sign, low, high) padded to 4 words, and -5: x1*... read back in the transfer format.
  ASSERT_TRUE(
      call(quor_int_send_poly, {I(4), I(2), I(2), options({1, 0, 0, 1}), options({1, 3, 256, 0, -1, 5, 0, 0})}).ok());
  HostValue ev = options({0, 0, 0, 0});
  CallResult r = call(quor_int_receive_poly, {I(0), I(2), I(2), ev, h.name("n")});
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(h.rtable_bounds(r.value), (std::vector<std::pair<i32, i32>>{{1, 2}, {1, 3}}));  // B = 1 + one limb
  EXPECT_TRUE(h.rtable_foreign(r.value) && h.gc_protected(r.value));
  std::vector<i32> words;
  for (i32 i = 1; i <= 2; ++i)
    for (i32 j = 1; j <= 3; ++j) words.push_back(h.rtable_at(r.value, i, j));
  EXPECT_EQ(words, (std::vector<i32>{1, 3, 256, -1, 5, 0}));
  EXPECT_EQ(h.rtable_at(ev, 1) + h.rtable_at(ev, 4), 2);
  r = call(quor_int_receive_poly_gmp, {I(0), I(2), I(2), options({0, 0, 0, 0}), h.name("n")});
  EXPECT_EQ(h.print(r.value), "[1099511627779, -5]");
  // Monomial shapes: x1^12*x2 comes back as x^10*y.
  ASSERT_TRUE(send({{{12, 1}, 3}}, 2).ok());
  r = call(quor_int_receive_poly_new, {I(1), h.list({h.name("x"), h.name("y")}), I(2)});
  EXPECT_EQ(h.print(r.value), "[x^10*y, x^10*y]");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(error(quor_int_receive_poly_new, {I(2), h.list({h.name("x"), h.name("y")}), I(2)}),
            "cannot export poly: code=3");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Export poly bug -1 [6]\n");
  EXPECT_THAT(error(quor_int_receive_poly_new, {I(0), h.list({h.name("x")}), I(2)}), HasSubstr("2 variables"));
  EXPECT_EQ(error(quor_int_receive_poly_new, {I(0)}), "3 arguments expected");
}

QTEST_F(Entry, AnExportThatDoesNotFitTheBufferIsRefused) {
  ASSERT_TRUE(init(1, 0).ok());
  // One coefficient of 999,999 magnitude words: B = 1,000,001 words, more than the buffer holds.
  std::vector<i32> w(1000000, 0);
  w[0] = 1;
  w.back() = 7;
  ASSERT_TRUE(call(quor_int_send_poly, {I(1000000), I(1), I(1), options({1}), options(w)}).ok());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(error(quor_int_receive_poly, {I(0), I(1), I(1), options({0}), h.name("n")}),
            "cannot export poly: code=-2: the coefficients are too large for the export buffer of 4,000,000 bytes "
            "(quor_int_receive_poly_gmp receives them)");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Export poly bug -2 [7]\n");
}

QTEST_F(Entry, SendChecksArraysAndRanges) {
  ASSERT_TRUE(init(2, 0).ok());
  HostValue e2 = options({1, 0}), c2 = options({1, 1});
  auto raw = [&](std::vector<HostValue> a) { return error(quor_int_send_poly, a); };
  EXPECT_EQ(raw({I(2), I(2), I(1), e2}), "5 arguments expected");
  EXPECT_EQ(raw({I(2), I(2), I(1), e2, I(1)}), "rtable expected for parameter 1");
  EXPECT_EQ(raw({I(2), I(2), I(1), h.rtable_float64({1, 0}), c2}), "integer[4] rtable expected for parameter 1");
  EXPECT_THAT(raw({I(2), I(2), I(2), e2, options({1, 1, 1, 1})}), HasSubstr("the exponent array holds 2"));
  EXPECT_THAT(raw({I(3), I(2), I(1), e2, c2}), HasSubstr("the coefficient array holds 2"));
  EXPECT_THAT(raw({I(2), I(3), I(1), options({1, 0, 0}), c2}), HasSubstr("3 variables"));
  EXPECT_THAT(raw({I(2), I(2), I(-1), e2, c2}), HasSubstr("-1 terms"));
  EXPECT_THAT(raw({I(0), I(2), I(1), e2, c2}), HasSubstr("coefficients of 0 words"));
  EXPECT_THAT(
      raw({I(2), I(2), I(2), h.rtable_int32({1, 0, 0, 1}, 2, 2, HOST_RTABLE_FORTRAN_ORDER), options({1, 1, 1, 1})}),
      HasSubstr("C order"));  // read row by row, a column-major table would be transposed
  for (auto e : {std::vector<i32>{32768, 0}, {-1, 0}, {20000, 20000}})  // exponents, total degree
    EXPECT_TRUE(call(quor_int_send_poly, {I(2), I(2), I(1), options(e), c2}).raised) << e[0];
  EXPECT_EQ(global_nb, 0);  // nothing refused was stored
  ASSERT_TRUE(call(quor_int_send_poly, {I(2), I(2), I(1), options({32767, 0}), c2}).ok());
  auto gmp = [&](std::vector<HostValue> a) { return error(quor_int_send_poly_gmp, a); };
  EXPECT_EQ(gmp({I(2), I(1), e2}), "4 arguments expected");
  EXPECT_EQ(gmp({I(2), I(1), h.name("unset"), h.list({I(1)})}), "Incorrect paramaters 3 not an array");
  EXPECT_EQ(gmp({I(2), I(1), e2, I(1)}), "Args 3 is not a list !\n");
  EXPECT_THAT(gmp({I(2), I(2), options({1, 0, 0, 1}), h.list({I(1)})}), HasSubstr("the list holds 1"));
  EXPECT_FALSE(gmp({I(2), I(1), e2, h.list({h.string("one")})}).empty());
  EXPECT_EQ(global_nb, 1);
}

QTEST_F(Entry, ReceiveChecksIndexCountsAndArrays) {
  send_small_system();
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  HostValue ev = options({0, 0, 0, 0}), e10 = options(std::vector<i32>(10)), n = h.name("n");
  EXPECT_EQ(error(quor_int_receive_poly, {I(0), I(2), I(2), ev}), "5 arguments expected");
  EXPECT_EQ(error(quor_int_receive_poly, {I(0), I(2), I(2), I(0), n}), "rtable expected for parameter 1");
  EXPECT_EQ(error(quor_int_receive_poly, {I(0), I(2), I(2), h.rtable_float64({0, 0, 0, 0}), n}),
            "integer[4] rtable expected for parameter 1");
  EXPECT_THAT(error(quor_int_receive_poly, {I(0), I(2), I(2), options({0, 0, 0}), n}),
              HasSubstr("the exponent array holds 3"));
  EXPECT_EQ(error(quor_int_receive_poly_gmp, {I(0), I(2), I(2), h.name("unset"), n}), "args 4 is not array !\n");
  ::testing::internal::CaptureStderr();
  for (auto f : {quor_int_receive_poly, quor_int_receive_poly_gmp}) {
    EXPECT_EQ(error(f, {I(3), I(2), I(2), ev, n}), "cannot export poly: code=-1");  // no such index
    EXPECT_EQ(error(f, {I(-1), I(2), I(2), ev, n}), "cannot export poly: code=-1");
    EXPECT_EQ(error(f, {I(0), I(2), I(5), e10, n}), "cannot export poly: code=-1");  // wrong term count
  }
  ::testing::internal::GetCapturedStderr();
  // Fewer variables than the request has would drop exponents.
  EXPECT_THAT(error(quor_int_receive_poly, {I(0), I(1), I(2), ev, n}), HasSubstr("1 variables, the request has 2"));
  EXPECT_THAT(error(quor_int_receive_poly_gmp, {I(0), I(1), I(2), ev, n}), HasSubstr("the request has 2"));
  EXPECT_THAT(error(quor_int_receive_poly_new, {I(0), h.list({h.name("x")}), I(1)}), HasSubstr("the request has 2"));
  EXPECT_EQ(receive_all(2), kSmallBasis);
}
#endif

// ---------------------------------------------------------------- host errors

QTEST_F(Entry, InitChecksItsArgumentsAfterTheReset) {
  send_small_system();
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  const i32 n = QUOR_INT ? 4 : 5;
  EXPECT_EQ(error(QUOR_LNAME(gbasis_init), {I(1)}), std::to_string(n) + " arguments expected");
  EXPECT_EQ(global_nb, 0);  // the results went with the memory
  std::vector<HostValue> a(std::size_t(n), I(1));
  a[2] = h.string("a");
  EXPECT_EQ(error(QUOR_LNAME(gbasis_init), a), "integer expected for 3 argument, instead got \"a\"");
  for (auto [first, second] : {std::pair{0, 0}, {-1, 3}, {5000, 5000}})
    EXPECT_THAT(init(first, second).error, HasSubstr("variables, between 1 and 9999")) << first;
  if (!QUOR_INT) {
    for (i32 p : {0, 1, 4, 65535, 65536, 65537, -7})
      EXPECT_THAT(init(2, 0, p).error, HasSubstr("should be a prime below 65536")) << p;
    for (i32 p : {2, 3, 65521}) EXPECT_TRUE(init(2, 0, p).ok()) << p;
  }
}

QTEST_F(Entry, NothingRunsWithoutARequest) {
  EXPECT_THAT(compute("QUOR_COMPUTE_GBASIS").error, HasSubstr("no request is open"));
  send_small_system();
  QUOR_NAME(free_memory)();  // what the unload entry does
  ::testing::internal::CaptureStderr();
  CallResult r = send({{{1, 0}, 1}}, 2);
  EXPECT_THAT(QUOR_INT ? r.error : ::testing::internal::GetCapturedStderr(), HasSubstr("no request is open"));
  if (QUOR_INT) ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(compute("QUOR_COMPUTE_GBASIS").raised);
}

QTEST_F(Entry, ComputeErrorsKeepTheInputs) {
  send_small_system();
  EXPECT_EQ(compute("QUOR_COMPUTE_GBASIS", nullptr, 11).error,
            "Incorrect number of arguments ! (C code new version with Options table/12 args --> receive 11 arguments)");
  for (HostValue bad :
       {h.rtable_float64({4, 0, 0, 0}), I(4), h.rtable_int32({4, 0, 0, 0}, 4, 0, HOST_RTABLE_C_ORDER, true)})
    EXPECT_EQ(compute("QUOR_COMPUTE_GBASIS", bad).error, "array is not of type INTEGER32");
  for (HostValue few : {options({3, 0, 0}), h.rtable_int32({}, 0)})
    EXPECT_EQ(compute("QUOR_COMPUTE_GBASIS", few).error,
              "Incorrect number of options for this version of the interface !");
  EXPECT_THAT(compute("QUOR_COMPUTE_GBASIS", options({9, 0, 0, 0})).error, HasSubstr("options array holds 4 entries"));
  EXPECT_EQ(error(QUOR_LNAME(hilbert_compute), {I(1)}), "Incorrect number of arguments ! (C code - Hilbert)");
  // A strategy the computation refuses gives the inputs back too.
  EXPECT_THAT(compute("QUOR_COMPUTE_GBASIS_NF").error, HasSubstr(QUOR_INT ? "_nb=0 should be" : "not available"));
  EXPECT_EQ(global_nb, 2);
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  EXPECT_EQ(receive_all(2), kSmallBasis);
}

// The CPU time, the first result's term count and the result count go to
// names: anything else is refused, naming the argument, before any work (the
// inputs stay; a host would otherwise see its values assigned to).
QTEST_F(Entry, ResultArgumentsMustBeNames) {
  send_small_system();
  const std::vector<std::pair<HostValue, std::string>> bad = {
      {I(5), "5"}, {h.string("t"), "\"t\""}, {h.list({I(1)}), "[1]"}, {options({4, 0, 0, 0}), ""}};
  const char* const receives[] = {"the CPU time", "the number of terms of the first result", "the number of results"};
  for (HostEntryPoint entry : {QUOR_LNAME(gbasis_compute), QUOR_LNAME(hilbert_compute)})
    for (std::size_t i = 0; i < 3; ++i)
      for (const auto& [value, shown] : bad) {
        std::vector<HostValue> a = {h.name("t"), h.name("first"), h.name("count"), I(0), I(0), I(8),
                                    I(0), I(0), h.string("QUOR_COMPUTE_GBASIS"), I(0), I(0), options({4, 0, 0, 0})};
        a[i] = value;
        const long polls = h.polls();
        const std::string e = error(entry, a);
        EXPECT_THAT(e, HasSubstr("argument " + std::to_string(i + 1) + " receives " + receives[i] +
                                 " and must be a name, not " + shown));
        EXPECT_EQ(h.polls(), polls) << e;
      }
  EXPECT_EQ(global_nb, 2);
  EXPECT_EQ(h.assigned("t"), nullptr);
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  // Names that hold a value already are names too.
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  EXPECT_EQ(receive_all(2), kSmallBasis);
}

QTEST_F(Entry, SmallEntriesAndTheDebugLevel) {
  EXPECT_EQ(error(QUOR_LNAME(debug_level), {}), "1 arguments expected");
  EXPECT_EQ(error(QUOR_LNAME(internal_threads), {}), "1 arguments expected");
  // The report goes to standard error whatever the sink's mode, which is restored.
  Quor_verb_info = 1;
  ::testing::internal::CaptureStderr();
  call(QUOR_LNAME(internal_report), {});
  EXPECT_EQ(h.to_int(call(QUOR_LNAME(internal_threads), {I(1)}).value), QUOR_INT ? -1 : 1);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(QUOR_INT ? "(LIBMODE=2)" : "(LIBMODE=1)"));
  EXPECT_EQ(Quor_verb_info, 1);
  // A debug level records the next request; level 0 closes the program.
  EXPECT_EQ(h.to_int(call(QUOR_LNAME(debug_level), {I(3)}).value), 0);
  ASSERT_TRUE(init(2, 0).ok());
  const std::string file = record_file_name();
  EXPECT_EQ(h.to_int(call(QUOR_LNAME(debug_level), {I(0)}).value), 3);
  const std::string text = quor_test::take_file(file);
  EXPECT_THAT(text, HasSubstr("/* start debug */"));
  EXPECT_THAT(text, HasSubstr("QUOR(reset_expos)(2,0,vars)"));
  EXPECT_THAT(text, HasSubstr("  exit(0);\n}\n"));
  libmode_record = 0;
}

// ---------------------------------------------------------------- options and strategies

QTEST(EntryOptions, DefaultsAndPositions) {
  auto fields = [](const sQUOR_Comp_Desc& d) {
    return std::vector<I32>{d._compute, d._nb,  d._force_elim,  d._off,         d._index, d._zone, d._memory,
                            d._nb2,     d._bk2, d._force_elim2, d._aggressive2, d._dlim,  d._skip};
  };
  sQUOR_Comp_Desc d{};
  const std::vector<I32> o = {4, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
  ASSERT_EQ(fill_comp_desc(d, 4, 7, 8, o.data(), 4), OptionsCheck::ok);
  EXPECT_EQ(fields(d), (std::vector<I32>{4, 7, 8, 11, 12, 13, 0, 0, 0, 0, -1, -1, -1}));
  std::vector<I32> o9 = o;
  o9[0] = 9;  // up to _aggressive2; o[6] is _bk2 and o[7] _force_elim2
  ASSERT_EQ(fill_comp_desc(d, 1, 0, 0, o9.data(), 9), OptionsCheck::ok);
  EXPECT_EQ(fields(d), (std::vector<I32>{1, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, -1, -1}));
  std::vector<I32> o12 = o;
  o12[0] = 12;
  ASSERT_EQ(fill_comp_desc(d, 1, 0, 0, o12.data(), 11), OptionsCheck::ok);  // o[11] is never read
  EXPECT_EQ(fields(d), (std::vector<I32>{1, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
  EXPECT_EQ(fill_comp_desc(d, 1, 0, 0, o12.data(), 10), OptionsCheck::beyond_the_array);
  EXPECT_EQ(fill_comp_desc(d, 1, 0, 0, o.data(), 0), OptionsCheck::too_few);
  EXPECT_EQ(strategy_code("QUOR_COMPUTE_MINPOLY"), 4);
  EXPECT_EQ(strategy_code("QUOR_COMPUTE_MINPOLY "), 1);
}

QTEST_F(Entry, TwelveOptionsWarn) {
  send_small_system();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS", options({12, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, 0})).ok());
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              HasSubstr("Warning some optional parameters (number 12) are not correctly parsed by this version of the "
                        "interface !\n"));
}

QTEST_F(Entry, OptionsOutOfRangeAreRefusedByNameAndTheRequestGoesOn) {
  send_small_system();
  const std::vector<std::pair<std::vector<i32>, std::string>> bad = {
      {{4, 0, 511, 0}, "o[2]"},         {{4, 0, -1, 0}, "o[2]"},
      {{4, 0, 1 << 28, 0}, "o[2]"},     {{5, 0, 0, 0, -1}, "o[4]"},
      {{5, 0, 0, 0, 1001}, "o[4]"},     {{6, 0, 0, 0, 0, -1}, "o[5]"},
      {{6, 0, 0, 0, 0, 3}, "o[5]"},     {{7, 0, 0, 0, 0, 2, 2}, "o[6]"},
      {{7, 0, 0, 0, 0, 2, -1}, "o[6]"},
  };
  for (const auto& [o, name] : bad) {
    EXPECT_THAT(compute("QUOR_COMPUTE_GBASIS_MULTI", options(o)).error, HasSubstr(name)) << name;
    EXPECT_EQ(global_nb, 2);
  }
#if QUOR_INT
  EXPECT_THAT(compute("QUOR_COMPUTE_GBASIS", options({6, 0, 0, 0, 0, 3})).error,
              HasSubstr("option o[5] (_nb2) is 3, 0 .. 2"));
  EXPECT_THAT(compute("QUOR_COMPUTE_GBASIS_MULTI", options({6, 0, 0, 0, 0, 3})).error,
              HasSubstr("Too many polynomials for 2nd computation (m=2,m2=3): option o[5]"));
  // No input kept for a second basis: the change of ordering.  One input for
  // the first basis and one kept for the second used to crash: x1 | x2 gives
  // the triangular {x1 - x2^2, x2^3 - 1}.  Both give the rational form
  // x2^2*x1 - x2 (mod x2^3 - 1).
  for (const std::vector<i32>& o : {std::vector<i32>{6, 0, 0, 0, 0, 0}, std::vector<i32>{7, 0, 0, 0, 0, 1, 1}}) {
    const CallResult r = compute("QUOR_COMPUTE_GBASIS_MULTI", options(o));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(receive_all(2), sorted({show({{{1, 0}, 1}, {{0, 1}, -1}}), show({{{0, 3}, 1}, {{0, 0}, -1}})}));
    send_small_system();
  }
#endif
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS", options({7, 0, 512, 0, 1, 2, 1})).ok());
  EXPECT_EQ(receive_all(2), kSmallBasis);
}

// Random options arrays of every length: either the request runs, or it is
// refused by a message that names the first option out of range.
QTEST_F(Entry, RandomOptionsArrays) {
  std::mt19937 rng(20);
  const std::vector<i32> values = {0, 1, 2, 3, -1, 511, 512, 700, 1000, 1001, 1 << 28, INT32_MIN, INT32_MAX};
  const char* strategies[] = {"QUOR_COMPUTE_GBASIS", "QUOR_COMPUTE_GBASIS_MULTI", "QUOR_COMPUTE_MATRIXN"};
  auto in_range = [](i32 k, i32 v) {
    switch (k) {
      case 2: return v == 0 || (v >= 512 && v <= (1 << 27));
      case 4: return v >= 0 && v <= 1000;
      case 5: return v >= 0 && v <= 2;
      case 6: return v >= 0 && v <= 1;
      default: return true;
    }
  };
  for (i32 round = 0; round < 60; ++round) {
    send_small_system();
    const std::size_t length = std::size_t(round % 14);
    std::vector<i32> o(length);
    for (i32& v : o) v = values[rng() % values.size()];
    // A large _index in range costs a large table: keep the runs small.
    if (length > 2 && o[2] > 1000 && o[2] <= (1 << 27)) o[2] = 700;
    if (length > 4 && o[4] > 2 && o[4] <= 1000) o[4] = 2;
    if (length > 0 && rng() % 4 != 0) o[0] = i32(length);
    const std::string strategy = strategies[rng() % 3];
    ::testing::internal::CaptureStderr();
    const CallResult r = compute(strategy, options(o));
    ::testing::internal::GetCapturedStderr();
    const std::string shown = strategy + " o = " + ::testing::PrintToString(o);
    if (length == 0 || o[0] < 4) {
      EXPECT_EQ(r.error, "Incorrect number of options for this version of the interface !") << shown;
      continue;
    }
    if (u64(o[0] < 11 ? o[0] : 11) > length) {
      EXPECT_THAT(r.error, HasSubstr("options array holds")) << shown;
      continue;
    }
    const i32 used = o[0] < 11 ? o[0] : 11;
    std::string first_bad;
    for (i32 k : {2, 4, 5, 6})
      if (first_bad.empty() && k < used && !in_range(k, o[std::size_t(k)])) first_bad = "o[" + std::to_string(k) + "]";
    if (!first_bad.empty()) {
      EXPECT_THAT(r.error, HasSubstr(first_bad)) << shown;
      EXPECT_EQ(global_nb, 2) << shown;
    } else if (strategy == "QUOR_COMPUTE_GBASIS" || (QUOR_INT && strategy == "QUOR_COMPUTE_GBASIS_MULTI")) {
      // Without a second basis the integer build changes the ordering.
      EXPECT_TRUE(r.ok()) << shown << ": " << r.error;
    }
  }
}

// ---------------------------------------------------------------- stops and interrupts

QTEST_F(Entry, AStoppedComputationReportsMinusTwo) {
  HostVersion_forget();
  h.set_version(10);
  send_small_system();  // below version 11 the init installs the SIGINT handler
  std::raise(SIGINT);
  EXPECT_EQ(QUOR_NAME(stop_immediately_semaphore), 1);
  CallResult r = compute("QUOR_COMPUTE_GBASIS");
  std::signal(SIGINT, SIG_DFL);
  HostVersion_forget();
  EXPECT_EQ(h.to_int(r.value), -2);
  EXPECT_EQ(QUOR_NAME(stop_immediately_semaphore), 0);
  QUOR_NAME(stop_immediately_semaphore) = 1;
  ASSERT_TRUE(init(1, 0).ok());  // the init clears it too
  EXPECT_EQ(QUOR_NAME(stop_immediately_semaphore), 0);
}

QTEST_F(Entry, AnInterruptUnwindsWithTheHostsFunctionsAndEndsTheRequest) {
  HostVersion_forget();
  send_small_system();
  interrupt_counter = 4095;  // the next poll asks the host, which has an interrupt pending
  h.interrupt_after_polls(1);
  EXPECT_TRUE(compute("QUOR_COMPUTE_GBASIS").interrupted);
  EXPECT_TRUE(compute("QUOR_COMPUTE_GBASIS").raised);  // the memory went with the interrupt
  h.interrupt_after_polls(0);
  send_small_system();
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  EXPECT_EQ(receive_all(2), kSmallBasis);
  // A computation that fails inside leaves the host intact and the inputs in place.
  send_small_system();
  CallResult r = call(QUOR_LNAME(hilbert_compute), {h.name("t"), h.name("first"), h.name("count"), I(0), I(0), I(8),
                                                    I(0), I(0), h.string(""), I(0), I(0), I(0)});
  EXPECT_EQ(r.ok() ? h.to_int(h.assigned("count")) : global_nb, 2);
}

// ---------------------------------------------------------------- sound input handling

// A receive after an interrupted request (unwound by the host, or stopped
// with -2 on an older host) says that there is no result; a bad index after
// a whole request keeps the plain refusal.
QTEST_F(Entry, AReceiveAfterAnInterruptSaysThereIsNoResult) {
  auto receive_error = [&] {
#if QUOR_INT
    return error(quor_int_receive_poly, {I(0), I(2), I(1), options({0, 0}), h.name("n")});
#else
    u32 e[2], c[1], next = 0;
    return std::to_string(quor_receive_poly(0, 2, 1, e, c, &next));
#endif
  };
  const std::string interrupted = "the last request was interrupted and has no result";
  for (const int version : {13, 10}) {
    HostVersion_forget();
    h.set_version(version);
    send_small_system();
    if (version >= 11) {
      interrupt_counter = 4095;
      h.interrupt_after_polls(1);
      EXPECT_TRUE(compute("QUOR_COMPUTE_GBASIS").interrupted);
      h.interrupt_after_polls(0);
    } else {
      std::raise(SIGINT);
      EXPECT_EQ(h.to_int(compute("QUOR_COMPUTE_GBASIS").value), -2);
      std::signal(SIGINT, SIG_DFL);
    }
    ::testing::internal::CaptureStderr();
    const std::string said = receive_error();
    EXPECT_THAT(said + " " + ::testing::internal::GetCapturedStderr(), HasSubstr(interrupted))
        << "host version " << version;
  }
  HostVersion_forget();
  h.set_version(13);
  send_small_system();
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
  ::testing::internal::CaptureStderr();
#if QUOR_INT
  EXPECT_EQ(error(quor_int_receive_poly, {I(7), I(2), I(1), options({0, 0}), h.name("n")}), "cannot export poly: code=-1");
#else
  u32 e[2], c[1], next = 0;
  EXPECT_EQ(quor_receive_poly(7, 2, 1, e, c, &next), -1);
#endif
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::Not(HasSubstr(interrupted)));
}

QTEST_F(Entry, TheTableHoldsOneHundredThousandPolynomials) {
  ASSERT_TRUE(init(1, 0).ok());
#if QUOR_INT
  // The same host values for every call keep the host's checks cheap.
  const std::vector<HostValue> a = {I(2), I(1), I(1), options({1}), options({1, 1})};
  for (u32 i = 0; i < kMaxiBase; ++i) ASSERT_TRUE(call(quor_int_send_poly, a).ok()) << i;
  EXPECT_EQ(error(quor_int_send_poly, a), "Incorrect index");
  EXPECT_EQ(error(quor_int_send_poly_gmp, {I(1), I(1), a[3], h.list({I(1)})}), "Incorrect index");
#else
  const std::vector<i32> e = {1}, c = {1};
  for (u32 i = 0; i < kMaxiBase; ++i) ASSERT_EQ(quor_send_poly(1, 1, e.data(), c.data()), 1) << i;
  EXPECT_EQ(quor_send_poly(1, 1, e.data(), c.data()), -1);
#endif
  EXPECT_EQ(global_nb, i32(kMaxiBase));
}

QTEST_F(Entry, ZeroCoefficientsRepeatedMonomialsAndResidues) {
  ASSERT_TRUE(init(2, 0).ok());
  // 3*x1 + 0*x2 - 3*x1 + 5*x2 + 2*x2 is 7*x2.
  ASSERT_TRUE(send({{{1, 0}, 3}, {{0, 1}, 0}, {{1, 0}, -3}, {{0, 1}, 5}, {{0, 1}, 2}}, 2).ok());
  EXPECT_EQ(show(receive(0, 1, 2)), show({{{0, 1}, 7}}));
#if !QUOR_INT
  // Residues are reduced, not cut to 16 bits: p + 7 -> 7, -1 -> p - 1, p -> no term.
  ASSERT_TRUE(send({{{1, 0}, kPrime + 7}, {{0, 1}, -1}, {{0, 0}, kPrime}}, 2).ok());
  EXPECT_EQ(show(receive(1, 2, 2)), show({{{1, 0}, 7}, {{0, 1}, kPrime - 1}}));
  ASSERT_TRUE(send({{{2, 0}, 3}, {{1, 1}, 0}, {{0, 2}, 5}}, 2).ok());
  EXPECT_EQ(base[2]->nb_terms, 2u);
  // Exponents, degrees and variables out of range are refused with -1, and so are bad reads.
  ::testing::internal::CaptureStderr();
  for (const Poly& p : {Poly{{{32768, 0}, 1}}, Poly{{{-1, 0}, 1}}, Poly{{{20000, 20000}, 1}}, Poly{{{1, 0, 0}, 1}}})
    EXPECT_EQ(h.to_int(send(p, i32(p[0].e.size())).value), -1) << show(p);
  std::vector<u32> e(4), c(2);
  EXPECT_EQ(quor_receive_poly(0, 2, 2, e.data(), c.data(), nullptr), -1);  // wrong term count
  EXPECT_EQ(quor_receive_poly(3, 2, 1, e.data(), c.data(), nullptr), -1);  // no such index
  EXPECT_EQ(quor_receive_poly(0, 3, 1, e.data(), c.data(), nullptr), -1);  // more variables than the request
  EXPECT_EQ(quor_receive_poly(0, 1, 2, e.data(), c.data(), nullptr), -1);  // fewer: exponents would be lost
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(global_nb, 3);
#endif
}

QTEST_F(Entry, AResetOfTheOtherBuildEndsTheResults) {
  send_small_system();
  ASSERT_TRUE(compute("QUOR_COMPUTE_GBASIS").ok());
#if QUOR_INT
  ASSERT_TRUE(call(quor_gbasis_init, {I(1), I(0), I(0), I(kPrime), I(0)}).ok());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(error(quor_int_receive_poly_gmp, {I(0), I(2), I(2), options({0, 0, 0, 0}), h.name("n")}),
            "cannot export poly: code=-1");
  ::testing::internal::GetCapturedStderr();
#else
  ASSERT_TRUE(call(quor_int_gbasis_init, {I(1), I(0), I(0), I(0)}).ok());
  std::vector<u32> e(4), c(2);
  EXPECT_EQ(quor_receive_poly(0, 2, 2, e.data(), c.data(), nullptr), -1);
#endif
  EXPECT_TRUE(compute("QUOR_COMPUTE_GBASIS").raised);
}

QUOR_TEST_END
