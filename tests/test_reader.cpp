// Text reader: lists parsed from strings and files are compared with the
// polynomials they denote (residues computed here with GMP), checked for the
// engine's invariants (homogeneous, strictly decreasing, no repeated
// monomial, no zero term), and bad inputs are refused with their messages
// and positions.
#include <gmock/gmock.h>
#include <gmp.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "api/reader.h"
#include "core/call_quor.h"
#include "tests/support/request_fixture.h"

QUOR_TEST_BEGIN

namespace {
using Exps = std::vector<u32>;                 // exponents of the declared variables
using Terms = std::map<Exps, std::vector<u32>>;  // monomial -> residue per working prime

// Residues of the rational num/den (decimal texts, num may be negative).
std::vector<u32> residues(const std::string& num, const std::string& den = "1") {
  std::vector<u32> r;
  mpz_t a, b, p;
  mpz_init_set_str(a, num.c_str(), 10);
  mpz_init_set_str(b, den.c_str(), 10);
  mpz_init(p);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
    mpz_set_ui(p, QUOR_NAME(Primes)[k]);
    mpz_t x;
    mpz_init(x);
    mpz_invert(x, b, p);
    mpz_mul(x, x, a);
    mpz_fdiv_r(x, x, p);
    r.push_back(u32(mpz_get_ui(x)));
    mpz_clear(x);
  }
  mpz_clears(a, b, p, nullptr);
  return r;
}
}  // namespace

class QUOR_SUITE(Reader) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    Quor_verb_info = 4;  // the output channel into the host's printed output
    open(3, 2);
  }
  void TearDown() override {
    QUOR_NAME(reset_memory)();
    Quor_verb_info = 0;
    Host_kernel = nullptr;
  }
  // A request over x1 .. xn, the first `first` in block 1.
  void open(u32 n, u32 first) { open_request(first, n - first, 0, 3); }
  std::vector<Dpol> parse(const std::string& text) {
    std::vector<Dpol> t(kReaderMaxPolys);
    t.resize(parse_List_Dpol_text(text.c_str(), t.data()));
    return t;
  }
  // The error text of a refused input ("" when accepted).
  std::string refused(const std::string& text, u32 capacity = 16) {
    std::vector<Dpol> t(capacity);
    auto r = host_.run([&] {
      parse_List_Dpol_text(text.c_str(), t.data(), capacity);
      return host_.null();
    });
    return r.raised ? r.error : "";
  }
  // The terms of p, after checking the invariants the engine relies on.
  Terms terms(Dpol p) {
    Terms out;
    const u32 n = current_id_vars;
    u32 D = 0;
    for (u32 j = 0; j < p->nb_terms; ++j) D = std::max(D, degree_Expos(p->monoms[j] + 1));
    for (u32 j = 0; j < p->nb_terms; ++j) {
      const u64* e = p->monoms[j] + 1;
      EXPECT_EQ(degree_Expos(e), D) << "not homogeneous";
      if (j + 1 < p->nb_terms) {
        EXPECT_EQ(comp4_Expos(e, p->monoms[j + 1] + 1), 1) << "order at term " << j;
      }
      Exps x;
      for (u32 i = 0; i < n; ++i) x.push_back(expos_slot(e, i));
      std::vector<u32> c;
      bool zero = true;
      for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
        c.push_back(p->coeffs[k][j]);
        EXPECT_LT(c.back(), QUOR_NAME(Primes)[k]);
        zero &= c.back() == 0;
      }
      EXPECT_FALSE(zero) << "zero term kept";
      EXPECT_TRUE(out.emplace(x, c).second) << "repeated monomial";
    }
    return out;
  }
  quor::standin::Host host_;
};

// ---------------------------------------------------------------- values

QTEST_F(Reader, TermsCoefficientsAndExponentForms) {
  auto l = parse("[3*x1^2*x2 - 2/3*x1, x1*x1 + x1^2 + x1**2, -x1, +-x1, 7, x3 ** 2 * 5 x2]");
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(terms(l[0]), (Terms{{{2, 1, 0}, residues("3")}, {{1, 0, 0}, residues("-2", "3")}}));
  EXPECT_EQ(terms(l[1]), (Terms{{{2, 0, 0}, residues("3")}}));
  EXPECT_EQ(terms(l[2]), (Terms{{{1, 0, 0}, residues("-1")}}));
  EXPECT_EQ(terms(l[3]), terms(l[2]));
  EXPECT_EQ(terms(l[4]), (Terms{{{0, 0, 0}, residues("7")}}));
  EXPECT_EQ(terms(l[5]), (Terms{{{0, 1, 2}, residues("5")}}));
  // Homogenised: x1 of 3*x1^2*x2 - 2/3*x1 gets h^2, the leading term comes first.
  EXPECT_EQ(expos_slot(l[0]->monoms[1] + 1, nb_of_affine_variables), 2u);
  EXPECT_EQ(expos_slot(l[0]->monoms[0] + 1, 0), 2u);
  EXPECT_NE(l[0]->id, l[1]->id);
}

QTEST_F(Reader, SignsCombine) {
  const Terms plus{{{1, 0, 0}, residues("1")}, {{0, 1, 0}, residues("1")}};
  const Terms minus{{{1, 0, 0}, residues("1")}, {{0, 1, 0}, residues("-1")}};
  auto l = parse("[x1 - -x2, x1 + + x2, x1 - - - x2, x1 -+ x2, x1 +- x2, x1 - (-x2), x1 + (-1)*x2, - -x1 + x2]");
  const bool want_plus[] = {true, true, false, false, false, true, false, true};
  ASSERT_EQ(l.size(), std::size(want_plus));
  for (u32 i = 0; i < l.size(); ++i) EXPECT_EQ(terms(l[i]), want_plus[i] ? plus : minus) << i;
}

QTEST_F(Reader, BlanksLineBreaksAndComments) {
  auto a = parse("[x1^2*x2 + 4*x3 - 1]");
  auto b = parse("#C a comment line\n  [ x1 ^ 2\t*\r\n x2   -- the rest is ignored\n + 4 x3\n\n -1 ]\n");
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(terms(a[0]), terms(b[0]));
  EXPECT_NE(host_.output().find("#C a comment line\n"), std::string::npos);
  EXPECT_EQ(terms(a[0]).size(), 3u);
}

QTEST_F(Reader, IntegersUpTo99998Digits) {
  const std::string big = "123456789012345678901234567890123456789012345678901234567890";
  const std::string den = "98765432109876543210987654321";
  auto l = parse("[" + big + "*x1 - " + big + "/" + den + "*x2]");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(terms(l[0]), (Terms{{{1, 0, 0}, residues(big)}, {{0, 1, 0}, residues("-" + big, den)}}));
  // The digit buffer holds 99,998 digits, of numbers and divisors alike.
  std::string huge(99998, '7');
  huge[0] = '3';
  auto h = parse("[" + huge + "*x3 + 1/" + huge + "]");
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(terms(h[0]), (Terms{{{0, 0, 1}, residues(huge)}, {{0, 0, 0}, residues("1", huge)}}));
  const std::string over = huge + "1";
  EXPECT_THAT(refused("[x1 + " + over + "*x3]"),
              ::testing::HasSubstr("Limit for ASCII size of digits is 100000\nat line 1, column 7"));
  EXPECT_THAT(refused("[x1/" + over + " + x3]"), ::testing::HasSubstr("Limit for ASCII size of digits is 100000\n"));
  EXPECT_THAT(refused("[" + over + over + "]"), ::testing::HasSubstr("Limit for ASCII size of digits is 100000\n"));
}

// A polynomial has fewer terms than a step holds (quor_max_index): one of
// that many distinct terms is refused once read, a longer one at the term
// past it; written terms that merge do not count.
QTEST_F(Reader, TermsUpToTheStepCapacity) {
  struct Capacity {
    u32 saved = quor_max_index;
    Capacity() { quor_max_index = 600; }
    ~Capacity() { quor_max_index = saved; }
  } capacity;
  auto powers = [](u32 n) {
    std::string t = "[1";
    for (u32 i = 1; i < n; ++i) t += "+x1^" + std::to_string(i);
    return t;
  };
  auto l = parse(powers(599) + "+x1+x1^598, x2]");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0]->nb_terms, 599u);
  EXPECT_EQ(refused(powers(600) + ", x2]"),
            "parser] The limit for the number of monomials in a polynom is set to 600 (1)\nat line 1, column " +
                std::to_string(powers(600).size() + 1) + "\n");
  EXPECT_THAT(refused(powers(601) + "]"),
              ::testing::HasSubstr("[parser] The limit for the number of monomials in a polynom is set to 600 (2)\n"));
}

QTEST_F(Reader, RepeatedMonomialsMergeAndZeroTermsVanish) {
  auto l = parse("[x1 + x2 - x1, 0*x3 + x2, x2 + 2*x2 - 3*x2, 2*x1*x2 + x2*x1 + 0]");
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(terms(l[0]), (Terms{{{0, 1, 0}, residues("1")}}));
  EXPECT_EQ(terms(l[1]), (Terms{{{0, 1, 0}, residues("1")}}));
  EXPECT_EQ(l[2]->nb_terms, 0u);  // cancels out: stored as the zero polynomial
  EXPECT_EQ(terms(l[3]), (Terms{{{1, 1, 0}, residues("3")}}));
  // A multiple of a working prime is zero there.
  const std::string p = std::to_string(QUOR_NAME(Primes)[0]);
  auto m = parse("[" + p + "*x1 + x2]");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(terms(m[0]).count(Exps{0, 1, 0}), 1u);
  EXPECT_EQ(m[0]->nb_terms, QUOR_NAME(vectorize) == 1 ? 1u : 2u);
}

QTEST_F(Reader, RepeatedTermsMergeAsTheyAreRead) {
  // 25,000 written terms, three distinct monomials, in 400 variables: the
  // monomial records taken stay those of the distinct ones, not of every
  // written term (which would take 20 MB here).
  QUOR_NAME(reset_memory)();
  open(400, 400);
  std::string text = "[";
  for (int i = 0; i < 12500; ++i) text += i % 2 ? "+x1" : "+x1-x400";
  text += "-x1*x2+x2*x1+x2*x1]";
  const u64 before = ct_obj_alloc;
  auto l = parse(text);
  ASSERT_EQ(l.size(), 1u);
  Exps x1(400, 0), x400(400, 0), x1x2(400, 0);
  x1[0] = 1, x400[399] = 1, x1x2[0] = x1x2[1] = 1;
  EXPECT_EQ(terms(l[0]), (Terms{{x1x2, residues("1")}, {x1, residues("12500")}, {x400, residues("-6250")}}));
  EXPECT_LE(ct_obj_alloc - before, 10000u * sz_Expos + 8);  // one slab of records at most
}

QTEST_F(Reader, ResidueFormsAndProperty) {
  std::string angle = "<", binary = "{";
  std::vector<u32> want;
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
    const u32 r = 0x01010105u + k;  // no zero byte: the text is a C string
    angle += std::to_string(r) + " ";
    binary.append(reinterpret_cast<const char*>(&r), 4);
    want.push_back(r % QUOR_NAME(Primes)[k]);
  }
  angle += ">";
  auto l = parse("[" + angle + "*x1 + " + binary + "*x2, x1 + x2 - 1, x1 + 2*x2]");
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(terms(l[0]), (Terms{{{1, 0, 0}, want}, {{0, 1, 0}, want}}));
  EXPECT_EQ(l[0]->property, 0u);
  EXPECT_EQ(l[1]->property, 0u);  // -1 is not one
  EXPECT_EQ(parse("[x1 + x2*x3 + 1]")[0]->property, 1u);
  EXPECT_EQ(l[2]->property, 0u);
}

QTEST_F(Reader, ListBoundariesAndDirectives) {
  EXPECT_EQ(parse("x1 + x2").size(), 0u);
  EXPECT_EQ(parse("").size(), 0u);
  EXPECT_EQ(parse("[]").size(), 0u);
  EXPECT_EQ(parse("[x1 + 1, x2]").size(), 2u);
  EXPECT_EQ(parse("[x1, x2,]").size(), 2u);
  auto l = parse("#coeffring rational\n#modulo 65521\n#vars x1 x2\n#foo\n#F4 [x1]");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_NE(host_.output().find("Unknown fn #foo (ignored)\n"), std::string::npos);
  EXPECT_EQ(parse("#coeffring integer [x2, x3]").size(), 2u);
  EXPECT_EQ(parse("#properties y z\n#error y z\n[x1]").size(), 1u);  // skipped lines name no variable
}

QTEST_F(Reader, ExponentBounds) {
  auto l = parse("[x1^32767 + x2]");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(expos_slot(l[0]->monoms[1] + 1, nb_of_affine_variables), 32766u);
  EXPECT_THAT(refused("[x1^32768]"), ::testing::HasSubstr("Exponent larger than 32767\nat line 1, column 5"));
  EXPECT_THAT(refused("[x1^123456789012345678901234567890]"), ::testing::HasSubstr("Exponent larger than 32767"));
  EXPECT_THAT(refused("[x1^20000*x1^20000]"), ::testing::HasSubstr("Exponent 40000 larger than 32767"));
  EXPECT_THAT(refused("[x1^20000*x2^20000 + 1]"),
              ::testing::HasSubstr("Polynomial 1 has a monomial of total degree 40000, larger than 32767"));
  EXPECT_THAT(refused("[x1^]"), ::testing::HasSubstr("Exponent expected, found ']'"));
}

// ---------------------------------------------------------------- refusals

QTEST_F(Reader, MalformedInputIsRefusedWithItsPosition) {
  using ::testing::HasSubstr;
  const std::pair<const char*, const char*> cases[] = {
      {"[x1,\n  x2 + y]", "y is not a variable !\nContext: ]\nat line 2, column 8\n"},
      {"[3.5*x1]", "Unknown char .\nat line 1, column 3\n"},
      {"[x1 = 0]", "Unknown char ="},
      {"[x1, x2", "not closed by ']'\nat line 1, column 8\n"},
      {"[x1,\n", "not closed by ']'\nat line 2"},
      {"[x1, (x2]", "Unbalanced brackets: '(' not closed"},
      {"[x1, x2)]", "Unbalanced brackets: ')' without '('\nat line 1, column 8"},
      {"[x1, [x2]]", "Unbalanced brackets: '[' inside a list"},
      {"] [x1]", "Unbalanced brackets: ']' before '['"},
      {"[x1*(x2 + 1)]", "Parenthesised sums are not supported"},
      {"[x1 +]", "Sign without a term"},
      {"[x1, , x2]", "Empty polynomial in the list"},
      {"[2^3*x1]", "Erreur de syntaxe: <var>^<nombre>\n"},
      {"[x1/x2]", "Division by x2 not implemented\n"},
      {"[x1/ 2]", "Cannot divide by:  \n"},
      {"[x1/(2)]", "Cannot divide by: (\n"},
      {"[x1/0]", "Division by zero modulo"},
      {"[&1.5e-3;10& * x1]", "Floating-point coefficient &1.5e-3;10& not supported"},
      {"[&1.5", "EOF during parsing & (2)\n"},
      {"#coeffring real [x1]", "Bad syntax: #coeffring real\n"},
      {"#modulos 0 [x1]", "#modulos needs a count of at least 1"},
      {"[<1 2 3 4 5 6 7", "at line 1"},
  };
  for (auto [text, message] : cases) EXPECT_THAT(refused(text), HasSubstr(message)) << text;
  EXPECT_THAT(refused("[x1, x2, x3]", 2), HasSubstr("List of input polynomials too long to be parsed (max=2)!"));
  EXPECT_THAT(refused("[" + std::string(100000, 'x') + "]"), HasSubstr("Limit for ASCII size of names is 100000"));
  // Context of an undeclared name: at most 200 characters.
  const std::string ctx = refused("[z " + std::string(300, '+') + "]");
  EXPECT_THAT(ctx, HasSubstr("Context:  " + std::string(199, '+') + "\n"));
  EXPECT_EQ(ctx.find(std::string(200, '+')), std::string::npos);
  // The reader is usable again after a refusal, positions start afresh.
  EXPECT_EQ(parse("[x1]").size(), 1u);
  EXPECT_THAT(refused("\n\n[q]"), HasSubstr("at line 3, column 2"));
  EXPECT_TRUE(host_.violations().empty());
}

// ---------------------------------------------------------------- files

QTEST_F(Reader, SystemFiles) {
  open(5, 5);
  std::vector<Dpol> t(kReaderMaxPolys);
  const std::string dir = QUOR_TEST_DATA_DIR;
  ASSERT_EQ(parse_List_Dpol_file((dir + "/cyclic-5.txt").c_str(), t.data()), 5u);
  EXPECT_EQ(terms(t[4]), (Terms{{{1, 1, 1, 1, 1}, residues("1")}, {{0, 0, 0, 0, 0}, residues("-1")}}));
  EXPECT_EQ(terms(t[1]).size(), 5u);
  open(7, 7);
  ASSERT_EQ(parse_List_Dpol_file((dir + "/katsura-6.txt").c_str(), t.data()), 7u);
  Terms first = terms(t[0]);
  EXPECT_EQ(first.size(), 8u);
  EXPECT_EQ(first[(Exps{0, 1, 0, 0, 0, 0, 0})], residues("2"));
  EXPECT_EQ(first[(Exps{0, 0, 0, 0, 0, 0, 0})], residues("-1"));
  // The host program's files start with "# name:" lines, which are not directives here.
  const std::string shared = std::string(QUOR_SHARED_DIR) + "/systems/cyclic-5.txt";
  if (std::FILE* f = std::fopen(shared.c_str(), "r")) {
    std::fclose(f);
    auto r = host_.run([&] {
      parse_List_Dpol_file(shared.c_str(), t.data());
      return host_.null();
    });
    EXPECT_THAT(r.error, ::testing::HasSubstr("name is not a variable !"));
  }
}

QUOR_TEST_END
