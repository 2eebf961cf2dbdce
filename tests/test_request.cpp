// Request set-up, memory reset of both builds, polynomial transfer and the
// record program, through the public call interface of one build (and the
// other build's exported calls where the two meet).
#include <sys/stat.h>
#include <unistd.h>

#include <omp.h>


#include "api/record.h"
#include "api/transfer.h"
#include "tests/support/request_fixture.h"
#include "tests/support/text_file.h"

QUOR_TEST_BEGIN

namespace {
#if QUOR_INT
#define OTHER(x) Quor_##x
#else
#define OTHER(x) Quor_int_##x
#endif
constexpr u32 kDom = sizeof(Dom);
constexpr u32 kPrime = 65521;

char n1[] = "x1", n2[] = "x2", n3[] = "x3";
char* names3[] = {n1, n2, n3};

using quor_test::slurp;

// The other build opens a request of two variables of its own.
void open_other_request() {
  OTHER(reset_memory)();
#if QUOR_INT
  OTHER(init_urgent)(2, 2, "DRLDRL", 100000, 0);
  OTHER(init)(1, 1, 0, nullptr);
  const UI32 pr[] = {kPrime};
  OTHER(reset_coeffs)(1, pr);
#else
  OTHER(init_urgent)(4, 2, "DRLDRL", 100000, 0);
  OTHER(init)(1, 1, 0, nullptr);
  OTHER(reset_coeffs)(1);
#endif
  OTHER(reset_expos)(2, 0, names3);
}

// A polynomial of the request's creation type: terms {exponents, coefficient}.
struct Term {
  std::vector<I32> e;
  const char* c;  // decimal
};
InPoly make_poly(const std::vector<Term>& terms) {
  InPoly p = QUOR_NAME(creat_poly)(u32(terms.size()));
  for (u32 i = 0; i < terms.size(); ++i) {
    QUOR_NAME(set_expos2)(p, i, terms[i].e.data(), u32(terms[i].e.size()));
#if QUOR_INT
    if (i % 2) {
      Quor_int_set_coeff_gmp_str(p, i, terms[i].c);
    } else {
      // Even terms go through the transfer format.
      mpz_t z;
      mpz_init_set_str(z, terms[i].c, 10);
      std::vector<I32> w(2 + mpz_size(z) * 2, 0);
      w[0] = mpz_sgn(z) < 0 ? -1 : 1;
      mpz_export(reinterpret_cast<u32*>(w.data()) + 1, nullptr, -1, 4, 0, 0, z);
      Quor_int_set_coeff_raw(p, i, w.data(), u32(w.size()));
      mpz_clear(z);
    }
#else
    QUOR_NAME(set_coeff_I32)(p, i, I32(std::stol(terms[i].c)));
#endif
  }
  QUOR_NAME(full_sort_poly2)(p);
  return p;
}

// The exported terms: exponent rows (nvars each) and decimal coefficients.
struct Exported {
  std::vector<std::vector<u32>> e;
  std::vector<std::string> c;
  u32 B = 0;
};
Exported export_back(InPoly p, u32 nvars) {
  Exported out;
  const u32 n = QUOR_NAME(nb_terms)(p);
  std::vector<u32> exps(u64(n) * nvars + 1);
#if QUOR_INT
  std::vector<u32> buf(100000);
  EXPECT_EQ(Quor_int_export_poly_INT(nvars, n, exps.data(), buf.data(), i64(buf.size()), p, &out.B), 1);
  for (u32 i = 0; i < n; ++i) {
    const u32* w = buf.data() + u64(i) * out.B;
    mpz_t z;
    mpz_init(z);
    mpz_import(z, out.B - 1, -1, 4, 0, 0, w + 1);
    if (i32(w[0]) < 0) mpz_neg(z, z);
    std::string s(mpz_sizeinbase(z, 10) + 2, '\0');
    mpz_get_str(s.data(), 10, z);
    out.c.push_back(s.c_str());
    mpz_clear(z);
  }
#else
  std::vector<u32> coeffs(n + 1);
  EXPECT_EQ(QUOR_NAME(export_poly)(nvars, n, exps.data(), coeffs.data(), p), 1);
  for (u32 i = 0; i < n; ++i) out.c.push_back(std::to_string(coeffs[i]));
#endif
  for (u32 i = 0; i < n; ++i) out.e.emplace_back(exps.begin() + u64(i) * nvars, exps.begin() + u64(i + 1) * nvars);
  return out;
}
}  // namespace

class QUOR_SUITE(Request) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    Quor_verb_info = 0;
  }
  void TearDown() override {
    QUOR_NAME(record)("close");
    libmode_record = 0;
    for (const std::string& f : files_) std::remove(f.c_str());
    QUOR_NAME(reset_memory)();
    QUOR_NAME(want_quiet) = 0;
    Quor_verb_info = 0;
    Host_kernel = nullptr;
  }
  quor::standin::Host host_;
  std::vector<std::string> files_;
};

// ---------------------------------------------------------------- set-up

QTEST_F(Request, OpensWithTablesPrimesAndVariables) {
  // Twice: a second request must find the host's GMP functions in place too.
  for (int round = 0; round < 2; ++round) {
    auto r = host_.run([&] {
      open_request(2, 1);
      return host_.integer(0);
    });
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(host_.violations().empty()) << host_.violations().front();
    EXPECT_TRUE(host_.host_gmp_functions_in_place());
  }
  EXPECT_EQ(var_second_block, 2u);
  EXPECT_STREQ(Liste_variables[2], "x3");
#if QUOR_INT
  EXPECT_EQ(QUOR_NAME(internal_threads)(4), -1);
#else
  // A count is set: 0 changes nothing; -1 takes the runtime's maximum.
  EXPECT_EQ(QUOR_NAME(internal_threads)(0), 0);
  EXPECT_EQ(nb_threads, 1);
  const int max = omp_get_max_threads();
  EXPECT_EQ(QUOR_NAME(internal_threads)(-1), max);
  EXPECT_EQ(nb_threads, max);
  QUOR_NAME(internal_threads)(1);
#endif
}

QTEST_F(Request, RefusesBadArgumentsWithTheirTexts) {
  auto urgent = [](u32 dom, u32 nni, const char* order, u32 base) {
    return fatal_text([&] { QUOR_NAME(init_urgent)(dom, nni, order, base, 0); });
  };
  EXPECT_EQ(urgent(6 - kDom, 2, "DRLDRL", 100000), std::string("Coefficients (Dom): Tesk compiled for ") +
                                                        (QUOR_INT ? "16 bits and Quor for 32" : "32 bits and Quor for 16") +
                                                        " bits !\n");
  EXPECT_EQ(urgent(kDom, 2, "DRLDRL", 5), "MAXI_BASE=100000 in Quor and 5 in TESK\n");
  EXPECT_EQ(urgent(kDom, 4, "DRLDRL", 100000),
            std::string("Exponents: Host interface compiled for 32 bits and Quor for 16 bits in LIBMODE=") +
                (QUOR_INT ? "2" : "1") + "!\n");
  for (const char* o : {"DRLDRLX", "DRLDR"})
    EXPECT_EQ(urgent(kDom, 2, o, 100000), std::string("Quor was compiled for a elimination ordering and Tesk for ") + o + "\n");

  open_request(2, 1);
  EXPECT_EQ(fatal_text([] { QUOR_NAME(reset_expos)(0, 0, names3); }),
            "Quor interface error: 0 variables, should be between 1 and 9999\n");
  EXPECT_EQ(fatal_text([] { QUOR_NAME(reset_expos)(5000, 5000, names3); }),
            "Quor interface error: 10000 variables, should be between 1 and 9999\n");
  EXPECT_EQ(fatal_text([] { QUOR_NAME(reset_expos)(0xFFFFFFFFu, 2, names3); }),
            "Quor interface error: 4294967297 variables, should be between 1 and 9999\n");
#if QUOR_INT
  for (u32 n : {0u, 40001u})
    EXPECT_EQ(fatal_text([&] { QUOR_NAME(reset_coeffs)(n); }),
              "Quor interface error: " + std::to_string(n) + " primes per block, should be between 1 and 40000\n");
  EXPECT_TRUE(host_.host_gmp_functions_in_place());
#else
  for (u32 bad : {65536u, 65535u, 65537u, 4u, 1u, 0u}) {
    const UI32 pr[] = {bad};
    EXPECT_EQ(fatal_text([&] { QUOR_NAME(reset_coeffs)(1, pr); }),
              "Quor interface error: the modulus " + std::to_string(bad) + " should be a prime below 65536\n");
  }
  const UI32 small[] = {2};
  QUOR_NAME(reset_coeffs)(7, small);  // one prime, whatever the count
  EXPECT_EQ(QUOR_NAME(vectorize), 1u);
  EXPECT_EQ(QUOR_NAME(Primes)[0], 2u);
  const UI32 back[] = {kPrime};
  QUOR_NAME(reset_coeffs)(1, back);
#endif
  // The zone 3 swap is undone by a refusal: a polynomial still goes to zone 3.
  InPoly p = QUOR_NAME(creat_poly)(2);
  const I32 ok[] = {32767, 0};
  QUOR_NAME(set_expos2)(p, 0, ok, 2);
  const I32 big[] = {32768, 0};
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(set_expos2)(p, 1, big, 2); }),
            "Quor interface error: power products should be < 32767");
  const I32 neg[] = {0, -1};
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(set_expos2)(p, 1, neg, 2); }),
            "Quor interface error: power products should be >= 0\n");
  const I32 four[] = {1, 1, 1, 1};
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(set_expos2)(p, 1, four, 4); }),
            "Quor interface error: 4 exponents for 3 variables\n");
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(set_expos2)(p, 2, ok, 2); }),
            "Quor interface error: term 2 of a polynomial of 2 terms\n");
  const I32 half[] = {20000, 20000};
  QUOR_NAME(set_expos2)(p, 1, half, 2);
#if QUOR_INT
  Quor_int_set_coeff_gmp_str(p, 0, "1");
  Quor_int_set_coeff_gmp_str(p, 1, "1");
  EXPECT_EQ(fatal_text([&] { Quor_int_set_coeff_gmp_str(p, 1, "12a"); }),
            "Quor interface error: 12a is not an integer\n");
#else
  QUOR_NAME(set_coeff_I32)(p, 0, 1);
  QUOR_NAME(set_coeff_I32)(p, 1, 1);
#endif
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(full_sort_poly2)(p); }),
            "Quor interface error: total degree 40000 should be <= 32767\n");
  InPoly unset = QUOR_NAME(creat_poly)(1);
#if QUOR_INT
  Quor_int_set_coeff_gmp_str(unset, 0, "5");
#else
  QUOR_NAME(set_coeff_I32)(unset, 0, 5);
#endif
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(full_sort_poly2)(unset); }),
            "Quor interface error: the monomial of term 0 is not set\n");
  EXPECT_EQ(cur_id_garbage, 1u);
  EXPECT_TRUE(host_.host_gmp_functions_in_place());
}

QTEST_F(Request, RefusesAPolynomialTheZonesCannotHoldBeforeTakingIt) {
  // 4,000,000 terms in 9,999 variables: 80 GB of monomial records, past any
  // zone range; the table of the polynomial alone would have been taken.
  open_request(9999, 0);
  const u64 used = zone_space_used();
  const std::string text = fatal_text([] { QUOR_NAME(creat_poly)(4000000); });
  EXPECT_EQ(text.rfind("Quor interface error: a polynomial of 4000000 terms in 9999 variables needs ", 0), 0u) << text;
  EXPECT_NE(text.find("MB left to the library's memory"), std::string::npos) << text;
  EXPECT_EQ(zone_space_used(), used);
  EXPECT_EQ(cur_id_garbage, 1u);  // zone 3 swapped back
  EXPECT_NE(QUOR_NAME(creat_poly)(1000), nullptr);
}

// ---------------------------------------------------------------- transfer

QTEST_F(Request, PolynomialsComeBackExactlyMergedAndHomogenised) {
  open_request(2, 1);
#if QUOR_INT
  const char* big = "-1267650600228229401496703205377";  // -(2^100 + 1)
  const char* huge = "340282366920938463463374607431768211457";  // 2^128 + 1
  // 3*x1 and 4*x1 merge; x2^3 - x2^3 cancels (and must not lift the rest to degree 3); a zero term drops.
  InPoly p = make_poly({{{1, 0, 0}, "3"},
                        {{0, 3, 0}, "1"},
                        {{0, 0, 1}, big},
                        {{0, 0, 0}, "0"},
                        {{1, 0, 0}, "4"},
                        {{0, 3, 0}, "-1"},
                        {{2, 0, 0}, huge},
                        {{0, 0, 0}, "-7"}});
  const std::vector<std::string> coeffs = {huge, "7", big, "-7"};
#else
  // Residues outside 0..p-1 are reduced: -1 -> p-1, 70000 -> 4479; 65520 + 1 cancels.
  InPoly p = make_poly({{{1, 0, 0}, "3"},
                        {{0, 3, 0}, "65520"},
                        {{0, 0, 1}, "-1"},
                        {{0, 0, 0}, "0"},
                        {{1, 0, 0}, "4"},
                        {{0, 3, 0}, "1"},
                        {{2, 0, 0}, "70000"},
                        {{0, 0, 0}, "-7"}});
  const std::vector<std::string> coeffs = {"4479", "7", "65520", "65514"};
#endif
  ASSERT_EQ(QUOR_NAME(nb_terms)(p), 4u);
  // Exponents with the homogenising slot (nvars = 4) and one slot beyond it.
  Exported x = export_back(p, 5);
  EXPECT_EQ(x.c, coeffs);
  const std::vector<std::vector<u32>> exps = {{2, 0, 0, 0, 0}, {1, 0, 0, 1, 0}, {0, 0, 1, 1, 0}, {0, 0, 0, 2, 0}};
  EXPECT_EQ(x.e, exps);
#if QUOR_INT
  EXPECT_EQ(x.B, 1u + 6u);  // 2^128 + 1 takes three limbs
  // All coefficients +-1: one limb, B = 3.
  InPoly ones = make_poly({{{1, 0, 0}, "1"}, {{0, 1, 0}, "-1"}});
  EXPECT_EQ(export_back(ones, 3).B, 3u);

  // Capacity: B x nterms must stay below max; nothing is written otherwise.
  std::vector<u32> exps2(16, 77), buf(16, 77);
  u32 B = 0;
  EXPECT_EQ(Quor_int_export_poly_INT(3, 2, exps2.data(), buf.data(), 6, ones, &B), -2);
  EXPECT_EQ(Quor_int_export_poly_INT(3, 2, exps2.data(), buf.data(), 7, ones, &B), 1);
  EXPECT_EQ(B, 3u);
  EXPECT_EQ(buf[6], 77u);
  EXPECT_EQ(Quor_int_export_poly_INT(3, 3, exps2.data(), buf.data(), 16, ones, &B), -1);
  std::fill(buf.begin(), buf.end(), 77u);
  EXPECT_EQ(Quor_int_export_poly_mon_INT(1, 3, 2, exps2.data(), buf.data(), 3, ones, &B), -2);
  EXPECT_EQ(buf[0], 77u);
  EXPECT_EQ(Quor_int_export_poly_mon_INT(2, 3, 2, exps2.data(), buf.data(), 16, ones, &B), -1);
  EXPECT_EQ(Quor_int_export_poly_mon_INT(1, 3, 2, exps2.data(), buf.data(), 4, ones, &B), 1);
  EXPECT_EQ(buf[0], 0xFFFFFFFFu);
  EXPECT_EQ(buf[1], 1u);
  EXPECT_EQ(exps2[1], 1u);
  // The GMP forms hand out the polynomial's own integers.
  std::vector<u32> e4(12);
  EXPECT_TRUE(Quor_int_export_poly_INT_gmp(3, 5, e4.data(), p) == nullptr);
  mpz_ptr* z = Quor_int_export_poly_INT_gmp(3, 4, e4.data(), p);
  ASSERT_TRUE(z != nullptr);
  EXPECT_EQ(mpz_cmp_si(z[3], -7), 0);
  EXPECT_TRUE(Quor_int_export_monom_INT(4, 3, e4.data(), p) == nullptr);
  EXPECT_TRUE(Quor_int_export_monom_INT(1, 3, e4.data(), p) == z[1]);
  EXPECT_EQ(e4[0], 1u);
  EXPECT_TRUE(host_.host_gmp_functions_in_place());
#else
  std::vector<u32> e(12), c(4);
  EXPECT_EQ(QUOR_NAME(export_poly)(3, 3, e.data(), c.data(), p), -1);
#endif
  // An all-zero polynomial becomes the zero polynomial.
  InPoly zero = make_poly({{{1, 0, 0}, "0"}, {{1, 0, 0}, "0"}});
  EXPECT_EQ(QUOR_NAME(nb_terms)(zero), 0u);
}

#if QUOR_INT

QTEST_F(Request, ResultMonomialsMoveBelowTheMarkAndStayShared) {
  open_request(2, 1);
  auto mono = [](u32 a, u32 b) {
    u64* r = QUOR_NAME(new_heap_Expos)();
    std::memset(r, 0, sz_Expos);
    expos_set_slot(r + 1, 0, a);
    expos_set_slot(r + 1, 1, b);
    r[0] = hash_Expos(r + 1);
    return r;
  };
  u64* below = mono(7, 7);
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u64* m1 = mono(1, 2);
  u64* m2 = mono(3, 4);
  // The polynomial itself lives in zone 2, out of the way of the copies.
  QUOR_NAME(swap_zone)();
  Dpol p = new_Dpol(4);
  QUOR_NAME(swap_zone)();
  p->monoms[0] = m2;
  p->monoms[1] = m1;
  p->monoms[2] = below;
  p->monoms[3] = m2;
  QUOR_NAME(restore_GC_state)(&mark);
  glisser_expos_Dpols(&p, 1);
  EXPECT_EQ(p->monoms[2], below);
  EXPECT_EQ(p->monoms[0], p->monoms[3]);
  for (u32 t = 0; t < 4; ++t) EXPECT_LT(reinterpret_cast<char*>(p->monoms[t]), bignum_tas);
  EXPECT_EQ(expos_slot(p->monoms[1] + 1, 1), 2u);
  EXPECT_EQ(expos_slot(p->monoms[0] + 1, 0), 3u);
  EXPECT_EQ(p->monoms[0][0], hash_Expos(p->monoms[0] + 1));
}

#endif

// ---------------------------------------------------------------- both builds

QTEST_F(Request, AResetOfEitherBuildEndsBothBuildsResults) {
  open_request(2, 1);
  make_poly({{{1, 0, 0}, "2"}});
  global_nb = 1;
  u32 dummy = 0;
  QUOR_NAME(zone) = &dummy;
  const u64 gen = memory_generation();

  // The other build opens its own request: the blocks of this one are gone,
  // and so is every handle of this build that pointed into them.
  open_other_request();
  EXPECT_GT(memory_generation(), gen);
  EXPECT_EQ(global_nb, 0);
  EXPECT_EQ(QUOR_NAME(zone), nullptr);
  EXPECT_EQ(deja_vu_init_mem, 0);
  EXPECT_EQ(QUOR_NAME(ptr_Base_Exposants), nullptr);
  EXPECT_EQ(z_Crit, nullptr);
  EXPECT_EQ(all_garbages3, nullptr);
  // Without a new request this build refuses to build instead of writing into released memory.
  EXPECT_EQ(fatal_text([] { QUOR_NAME(creat_poly)(1); }), "Quor interface error: no request is open\n");

  // The other build works in its open request.
  auto other = OTHER(creat_poly)(1);
  const I32 e[] = {1, 1};
  OTHER(set_expos2)(other, 0, e, 2);
#if QUOR_INT
  Quor_set_coeff_I32(other, 0, 9);
#else
  Quor_int_set_coeff_gmp_str(other, 0, "9");
#endif
  OTHER(full_sort_poly2)(other);
  EXPECT_EQ(OTHER(nb_terms)(other), 1u);

  // This build opens again: now the other build's state is the one forgotten.
  open_request(2, 1);
  EXPECT_EQ(fatal_text([] { OTHER(creat_poly)(1); }), "Quor interface error: no request is open\n");
#if QUOR_INT
  EXPECT_EQ(fatal_text([] { OTHER(init)(1, 1, 0, nullptr); }), "Quor interface error: no request is open\n");
#else
  EXPECT_EQ(fatal_text([] { OTHER(reset_coeffs)(1); }), "Quor interface error: no request is open\n");
  EXPECT_TRUE(host_.host_gmp_functions_in_place());
#endif
  InPoly q = make_poly({{{0, 1, 0}, "5"}});
  EXPECT_EQ(export_back(q, 3).c, std::vector<std::string>{"5"});

  // Freeing the memory from the other build also ends this build's state.
  global_nb = 3;
  OTHER(free_memory)();
  EXPECT_EQ(global_nb, 0);
  EXPECT_EQ(deja_vu_init_mem, 0);
  open_request(1, 0);
  EXPECT_EQ(export_back(make_poly({{{4}, "9"}}), 2).e, (std::vector<std::vector<u32>>{{4, 0}}));
  EXPECT_TRUE(host_.host_gmp_functions_in_place());
}

// ---------------------------------------------------------------- record program

QTEST_F(Request, RecordProgramIsCreatedExclusivelyAndHoldsTheCalls) {
  // Links planted on the names of the next seconds must not be followed.
  char tmpl[] = "/tmp/quor_record_target_XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  files_.push_back(tmpl);
  const std::time_t now = std::time(nullptr);
  std::vector<std::string> links;
  for (int s = 0; s < 3; ++s) {
    std::time_t t = now + s;
    std::tm local{};
    localtime_r(&t, &local);
    char name[256];
    file_name_stamp_at("/tmp/", name, sizeof name, local);
    if (symlink(tmpl, name) == 0) {
      links.push_back(name);
      files_.push_back(name);
    }
  }

  open_request(2, 1, 1);
  InPoly p = QUOR_NAME(creat_poly)(2);
  const I32 e0[] = {1, 2, 3};
  QUOR_NAME(set_expos2)(p, 0, e0, 3);
  const I32 e1[] = {0, 0};
  QUOR_NAME(set_expos2)(p, 1, e1, 2);
#if QUOR_INT
  const I32 raw[] = {-1, 5, 0};
  Quor_int_set_coeff_raw(p, 0, raw, 3);
  mpz_t z;
  mpz_init_set_str(z, "-123456789012345678901234567890", 10);
  Quor_int_set_coeff_gmp(p, 1, z);
  mpz_clear(z);
#else
  QUOR_NAME(set_coeff_I32)(p, 0, -5);
  QUOR_NAME(set_coeff_I32)(p, 1, 7);
#endif
  QUOR_NAME(full_sort_poly2)(p);
  const std::string name = record_file_name();
  files_.push_back(name);
  ASSERT_EQ(name.rfind("/tmp/", 0), 0u);
  for (const std::string& l : links) EXPECT_NE(name, l);
  struct stat st {};
  ASSERT_EQ(lstat(name.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(slurp(tmpl), "");
  QUOR_NAME(debug)(0);  // closes the program

  const std::string text = slurp(name);
  const std::string head = std::string(QUOR_INT ? "#define LIBMODE 2\n" : "#define LIBMODE 1\n") +
                           "#include \"call_quor.h\"\n\n#define Quor_MAXI_BASE 100000\n\n";
  EXPECT_EQ(text.rfind(head, 0), 0u);
  // The calls come back as a program that replays them.
  for (const std::string& call :
       {std::string("  QUOR(init_urgent)(") + (QUOR_INT ? "4" : "2") + ",2,\"DRLDRL\",100000,0);",
        std::string("  {\n    char* vars[3]={\"x1\",\"x2\",\"x3\"};\n    QUOR(reset_expos)(2,1,vars);\n  }\n"),
        std::string("  {\n    I32 e[3]={1,2,3};\n    QUOR(set_expos2)(prev,0,e,3);\n  }\n"),
        std::string(QUOR_INT ? "  QUOR(set_coeff_gmp_str)(prev,1,\"-123456789012345678901234567890\");\n"
                             : "  QUOR(set_coeff_I32)(prev,0,-5);\n"),
        std::string("  QUOR(full_sort_poly2)(prev);\n  exit(0);\n}\n")})
    EXPECT_NE(text.find(call), std::string::npos) << call << "\nin\n" << text;

  // A new statement opens a new program; the name just used is not reused.
  QUOR_NAME(record)("  /* again */\n");
  const std::string second = record_file_name();
  files_.push_back(second);
  EXPECT_NE(second, name);
  EXPECT_EQ(slurp(name), text);
  QUOR_NAME(record)("close");
  QUOR_NAME(record)("close");  // nothing open: nothing written
  const std::string tail = "  exit(0);\n}\n", again = slurp(second);
  ASSERT_GE(again.size(), tail.size());
  EXPECT_EQ(again.substr(again.size() - tail.size()), tail);
  // A statement longer than the buffer is refused.
  const std::string longtext(70000, 'x');
  EXPECT_EQ(fatal_text([&] { QUOR_NAME(record)("%s", longtext.c_str()); }), "Size of buf for record too small!\n");
  files_.push_back(record_file_name());
  EXPECT_EQ(slurp(tmpl), "");
}

QUOR_TEST_END
