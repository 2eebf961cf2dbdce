// System files and the canonical polynomial text: the standard systems read
// as described, reference bases survive a read and print unchanged, and
// malformed files are refused with their position.
#include "host/standin/system_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <random>
#include <string>
#include <utility>

namespace {

using quor::standin::Poly;
using quor::standin::System;
using quor::standin::SystemFileError;

namespace fs = std::filesystem;

const fs::path kShared = QUOR_SHARED_DIR;

// Writes text to a scratch file and reads it as a system.
System read_text(const std::string& text) {
  const fs::path p = fs::temp_directory_path() / ("quor-system-file-" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream out(p);
    out << text;
  }
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code ec;
      fs::remove(p, ec);
    }
  } remove{p};
  return quor::standin::read_system(p.string());
}

std::string error_of(const std::string& text) {
  try {
    read_text(text);
  } catch (const SystemFileError& e) {
    const std::string w = e.what();
    return w.substr(w.find(':') + 1);  // without the scratch path
  }
  return "no error";
}

TEST(SystemFile, ReferenceLinesPrintBackUnchanged) {
  if (!fs::exists(kShared / "reference")) GTEST_SKIP() << "no shared references";
  for (const char* file : {"katsura-6.qq.gb.txt", "katsura-6.gf65521.gb.txt", "elim-ratcurve-b2.qq.gb.txt"}) {
    const std::string system = std::string(file).substr(0, std::string(file).find('.'));
    const System s = quor::standin::read_system((kShared / "systems" / (system + ".txt")).string());
    std::ifstream in(kShared / "reference" / file);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      const std::vector<Poly> p = quor::standin::parse_poly_list("[" + line + "]", s, file);
      ASSERT_EQ(p.size(), 1u);
      EXPECT_EQ(quor::standin::poly_text(p[0], s.vars), line) << file;
      ++lines;
    }
    EXPECT_GT(lines, 0) << file;
  }
}

TEST(SystemFile, ProductsPowersAndSigns) {
  const System s = read_text("# vars: a,b\n[2^3*a^2*b*a - 3*b^2 + 1, -a]\n");
  ASSERT_EQ(s.polys.size(), 2u);
  EXPECT_EQ(quor::standin::poly_text(s.polys[0], s.vars), "8*a^3*b-3*b^2+1");
  EXPECT_EQ(quor::standin::poly_text(s.polys[1], s.vars), "-a");
  EXPECT_EQ(quor::standin::poly_text(Poly{}, s.vars), "0");
  // Unit coefficients beside and without a monomial, long exponents, and
  // coefficients of one limb, at its edge and beyond it.
  const System t = read_text(
      "# vars: a,b\n[-1, 1 - a, a^12*b^100 - 1, -18446744073709551615*a + 18446744073709551616*b "
      "- 1180591620717411303424, 3*a*b - 10]\n");
  ASSERT_EQ(t.polys.size(), 5u);
  EXPECT_EQ(quor::standin::poly_text(t.polys[0], t.vars), "-1");
  EXPECT_EQ(quor::standin::poly_text(t.polys[1], t.vars), "1-a");
  EXPECT_EQ(quor::standin::poly_text(t.polys[2], t.vars), "a^12*b^100-1");
  EXPECT_EQ(quor::standin::poly_text(t.polys[3], t.vars),
            "-18446744073709551615*a+18446744073709551616*b-1180591620717411303424");
  EXPECT_EQ(quor::standin::poly_text(t.polys[4], t.vars), "3*a*b-10");
  // Names longer than the room a term's digits take, and the largest exponent.
  const std::string x(300, 'x'), y(200, 'y');
  const System u = read_text("# vars: " + x + "," + y + "\n[-" + x + "^32767*" + y + " + 7*" + y + "^2]\n");
  EXPECT_EQ(quor::standin::poly_text(u.polys[0], u.vars), "-" + x + "^32767*" + y + "+7*" + y + "^2");
}

// Rows as a host receives them print as the polynomial they make does,
// past 64 variables too.
TEST(SystemFile, ReceivedRowsPrintAsTheirPolynomial) {
  std::mt19937 g(7);
  for (const std::size_t nvars : {1, 3, 64, 70}) {
    std::vector<std::string> vars;
    for (std::size_t j = 0; j < nvars; ++j) vars.push_back("v" + std::to_string(j));
    for (int round = 0; round < 20; ++round) {
      const std::size_t n = g() % 6;
      std::vector<std::uint32_t> e(n * nvars + 1), c(n + 1);
      Poly p(n);
      for (std::size_t i = 0; i < n; ++i) {
        c[i] = g() % 3 ? 1 + g() % 65520 : 1;
        mpz_set_ui(p[i].c.get(), c[i]);
        p[i].e.assign(nvars, 0);
        for (std::size_t j = 0; j < nvars; ++j)
          if (g() % 4 == 0) p[i].e[j] = std::int32_t(e[i * nvars + j] = g() % 3 ? 1 + g() % 3 : 32767);
      }
      EXPECT_EQ(quor::standin::rows_text(e.data(), c.data(), n, vars), quor::standin::poly_text(p, vars))
          << nvars << " variables, round " << round;
    }
  }
  // Past the first 64 variables only.
  std::vector<std::string> vars(70, "w");
  vars[66] = "z";
  std::vector<std::uint32_t> e(70, 0), c{1, 0};
  e[66] = 2;
  EXPECT_EQ(quor::standin::rows_text(e.data(), c.data(), 1, vars), "z^2");
}

TEST(SystemFile, MalformedFilesNameTheLineAndColumn) {
  EXPECT_EQ(error_of("[x1]\n"), " no '# vars:' line before the list of polynomials");
  EXPECT_EQ(error_of("# vars: a,a\n[a]\n"), "1:11: variable a listed twice");
  EXPECT_EQ(error_of("# vars: a\n\n[a,\n c]\n"), "4:2: unknown variable 'c'");
  EXPECT_EQ(error_of("# vars: a\n[a^40000]\n"), "2:4: exponent 40000 above 32767");
  EXPECT_EQ(error_of("# vars: a\n[a^20000*a^20000]\n"), "2:2: exponent of a above 32767 in this term");
  EXPECT_EQ(error_of("# vars: a\n[a] a\n"), "2:5: text after the closing ']'");
  EXPECT_EQ(error_of("# vars: a\n[a\n"), "3:1: ',' or ']' expected, found the end of the file");
  EXPECT_EQ(error_of("# vars: a\n[2a]\n"), "2:2: malformed number '2a'");
  EXPECT_EQ(error_of("# vars: a\n"), "1: empty system");
}

TEST(SystemFile, BlockSizeOutsideTheVariablesIsRefusedWhereItStands) {
  // Values that a narrowing to int would have wrapped into range, or to a negative size.
  for (const char* v : {"3", "4294967297", "2147483648", "18446744073709551617", "-1", "1x", ""}) {
    const std::string e = error_of(std::string("# vars: a,b,c\n  # blocks: ") + v + "\n[a]\n");
    EXPECT_EQ(e.substr(0, e.find(": ") + 2), "2:13: ") << v;
    EXPECT_NE(e.find("is not in 0 .. 2"), std::string::npos) << v << " -> " << e;
  }
  EXPECT_EQ(read_text("# blocks: 002\n# vars: a,b,c\n[a]\n").blocks, 2);
  EXPECT_EQ(error_of("# vars: a,b,c\n# blocks: 1\n# blocks: 1\n[a]\n"),
            "3:1: a second '# blocks:' line (the first is line 2)");
}

TEST(SystemFile, TheVariablesLineIsOneListOfNames) {
  EXPECT_EQ(error_of("# vars: a,b\n# vars: c\n[a]\n"), "2:1: a second '# vars:' line (the first is line 1)");
  EXPECT_EQ(error_of("# vars: x1,x2,\n[x1]\n"), "1:15: empty variable name");
  EXPECT_EQ(error_of("# vars: x1,,x2\n[x1]\n"), "1:12: empty variable name");
  EXPECT_EQ(error_of("# vars:\n[x]\n"), "1:8: the '# vars:' line names no variable");
  EXPECT_EQ(error_of("# vars: x\xe2\x82\x81\n[x]\n"),
            "1:9: malformed variable name 'x\xe2\x82\x81' (ASCII letters, digits and '_', not a digit first)");
  std::string many = "# vars: v0";
  for (int i = 1; i <= 10000; ++i) many += ",v" + std::to_string(i);
  EXPECT_NE(error_of(many + "\n[v0]\n").find("more than 9999 variables"), std::string::npos);
}

TEST(SystemFile, MessagesNameTheOffendingText) {
  EXPECT_EQ(error_of("# vars: x\n[x ; x]\n"), "2:4: ',' or ']' expected, found ';'");
  EXPECT_EQ(error_of("# vars: x\n[x \xe2\x82\x81]\n"), "2:4: ',' or ']' expected, found '\xe2\x82\x81'");
  EXPECT_EQ(error_of("# vars: x\n[x\xe2\x82\x81]\n"),
            "2:2: unknown variable 'x\xe2\x82\x81' (variable names are ASCII letters, digits and '_')");
  // A NUL byte is a byte like another: named, and the message goes on past it.
  EXPECT_EQ(error_of(std::string("# vars: x\n[x+\0x]\n", 17)), "2:4: a number or a variable expected, found '\\x00'");
  EXPECT_EQ(error_of("# vars: x\n[x^000001, x^00040000]\n"), "2:14: exponent 40000 above 32767");
  EXPECT_EQ(quor::standin::poly_text(read_text("# vars: x\n[x^000001]\n").polys[0], {"x"}), "x");
  for (const char* f : {"[21/5*x-1]", "[x/2]", "[x, 1/3]"})
    EXPECT_NE(error_of(std::string("# vars: x\n") + f + "\n").find("coefficients are integers; multiply each polynomial"),
              std::string::npos)
        << f;
}

TEST(SystemFile, CoefficientsBuiltFromPowersAreBounded) {
  std::string text = "# vars: x\n[";
  for (int i = 0; i < 59; ++i) text += "99999^32767*";
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(error_of(text + "99999^32767]\n"),
            "2:14: coefficient of more than 1048576 bits (products and powers of integers inside a term are bounded)");
  std::string powers = "# vars: x\n[x - 3";
  for (int i = 0; i < 33; ++i) powers += "*2^32767";
  EXPECT_EQ(error_of(powers + "]\n").substr(0, 12), "2:264: coeff");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
  // Up to the bound the value is exact.
  std::string most = "# vars: x\n[2";
  for (int i = 0; i < 32; ++i) most += "*2^32767";
  const System s = read_text(most + "*x - 3^2*2]\n");
  EXPECT_EQ(mpz_sizeinbase(s.polys[0][0].c.get(), 2), 32u * 32767 + 2);
  EXPECT_EQ(mpz_get_si(s.polys[0][1].c.get()), -18);
}

TEST(SystemFile, TermsAreKeptSparseWhileRead) {
  // 9,999 variables and 40,000 one-variable terms: a few bytes a term, not one exponent a variable.
  std::string text = "# vars: v0";
  for (int i = 1; i < 9999; ++i) text += ",v" + std::to_string(i);
  text += "\n[";
  for (int i = 0; i < 40000; ++i) text += (i ? "+v" : "v") + std::to_string(i % 9999) + "^" + std::to_string(1 + i / 9999);
  text += "]\n";
  const quor::standin::SparseSystem s = quor::standin::read_sparse_system_text(text, "many");
  ASSERT_EQ(s.polys.size(), 1u);
  ASSERT_EQ(s.polys[0].size(), 40000u);
  for (const auto& t : s.polys[0]) ASSERT_EQ(t.e.size(), 1u);
  EXPECT_EQ(s.polys[0][10000].e[0], std::make_pair(std::int32_t(1), std::int32_t(2)));
  // One exponent a variable once a polynomial is sent.
  const Poly d = quor::standin::dense({s.polys[0][10000]}, s.vars.size());
  EXPECT_EQ(d[0].e.size(), 9999u);
  EXPECT_EQ(d[0].e[1], 2);
}

TEST(SystemFile, LikeTermsMergeAsTheyAreRead) {
  const System s = read_text("# vars: a,b\n[a + a, 2*a*b - 3*b*a + b^2*a^0 + 1 - b*b, a - a, 4 - 1 + b]\n");
  ASSERT_EQ(s.polys.size(), 4u);
  EXPECT_EQ(quor::standin::poly_text(s.polys[0], s.vars), "2*a");
  // In the order of their first appearance; a sum that cancels stays for the library to drop.
  EXPECT_EQ(quor::standin::poly_text(s.polys[1], s.vars), "-a*b+0*b^2+1");
  EXPECT_EQ(quor::standin::poly_text(s.polys[2], s.vars), "0*a");
  EXPECT_EQ(quor::standin::poly_text(s.polys[3], s.vars), "3+b");
  // 60,000 written terms of one monomial in 9,999 variables are one term, however large its coefficient.
  std::string text = "# vars: x1";
  for (int i = 2; i <= 9999; ++i) text += ",x" + std::to_string(i);
  text += "\n[";
  for (int i = 0; i < 60000; ++i) text += i % 3 ? "+x1" : "+100000000000000000000*x1";
  text += "]\n";
  const quor::standin::SparseSystem big = quor::standin::read_sparse_system_text(text, "repeated");
  ASSERT_EQ(big.polys[0].size(), 1u);
  EXPECT_EQ(big.polys[0][0].c.text(), "2000000000000000000040000");
}

// A term's exponents are held in the term up to kInline variables and on
// the heap beyond: both behave as a vector, across every change of place.
TEST(SystemFile, ExponentsInTheTermOrOnTheHeapBehaveAsAVector) {
  using quor::standin::Exponents;
  constexpr std::size_t kIn = Exponents::kInline;
  auto count_up = [](std::size_t n) {
    Exponents e(n, 0);
    for (std::size_t i = 0; i < n; ++i) e[i] = std::int32_t(i + 1);
    return e;
  };
  auto is_count_up = [](const Exponents& e, std::size_t n) {
    if (e.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (e[i] != std::int32_t(i + 1)) return false;
    return true;
  };
  for (std::size_t n : {std::size_t(0), kIn, kIn + 1, std::size_t(9999)}) {
    SCOPED_TRACE(n);
    const Exponents a = count_up(n);
    ASSERT_TRUE(is_count_up(a, n));
    Exponents small = count_up(3), large = count_up(kIn + 5);
    small = a;  // into a term's room, or onto the heap
    large = a;  // from the heap, or kept there
    EXPECT_TRUE(is_count_up(small, n));
    EXPECT_TRUE(is_count_up(large, n));
    EXPECT_EQ(small, a);
    Exponents moved(std::move(small));
    EXPECT_TRUE(is_count_up(moved, n));
    EXPECT_TRUE(small.empty());
    large = std::move(moved);
    EXPECT_TRUE(is_count_up(large, n));
    EXPECT_TRUE(is_count_up(a, n));  // the source of the copies is untouched
    // Growing across the boundary keeps the exponents and adds zeros.
    Exponents grown = a;
    grown.resize(n + kIn);
    for (std::size_t i = 0; i < n + kIn; ++i) ASSERT_EQ(grown[i], i < n ? std::int32_t(i + 1) : 0);
    grown.resize(n);
    EXPECT_EQ(grown, a);
  }
  // Ordered as vectors are.
  EXPECT_LT(Exponents({1, 2}), Exponents({1, 3}));
  EXPECT_LT(Exponents({1, 2}), Exponents({1, 2, 0}));
  EXPECT_LT(count_up(kIn + 1), count_up(kIn + 2));
  EXPECT_NE(count_up(kIn + 1), count_up(kIn));
  Exponents e;
  EXPECT_THROW(e.assign(65536, 0), std::length_error);
  EXPECT_TRUE(e.empty());
}

TEST(SystemFile, ADirectoryIsNotASystemFile) {
  try {
    quor::standin::read_system(fs::temp_directory_path().string());
    FAIL() << "a directory was read";
  } catch (const SystemFileError& e) {
    EXPECT_NE(std::string(e.what()).find("a directory, not a system file"), std::string::npos) << e.what();
  }
}

}  // namespace
