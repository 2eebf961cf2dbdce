// System files and the canonical polynomial text: the standard systems read
// as described, reference bases survive a read and print unchanged, and
// malformed files are refused with their position.
#include "host/standin/system_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

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

TEST(SystemFile, StandardSystemsReadAsDescribed) {
  if (!fs::exists(kShared / "systems")) GTEST_SKIP() << "no shared systems";
  for (int n : {6, 8, 9, 10, 11, 12}) {
    const std::string name = "katsura-" + std::to_string(n);
    const System s = quor::standin::read_system((kShared / "systems" / (name + ".txt")).string());
    EXPECT_EQ(s.name, name);
    EXPECT_EQ(s.vars.size(), std::size_t(n + 1));
    EXPECT_EQ(s.polys.size(), std::size_t(n + 1));
    EXPECT_EQ(s.blocks, 0);
  }
  const System c = quor::standin::read_system((kShared / "systems/cyclic-6.txt").string());
  ASSERT_EQ(c.polys.size(), 6u);
  // x1*...*x6 - 1: two terms, the constant -1.
  ASSERT_EQ(c.polys[5].size(), 2u);
  EXPECT_EQ(mpz_get_si(c.polys[5][1].c.get()), -1);
  EXPECT_EQ(c.polys[5][0].e, std::vector<std::int32_t>(6, 1));
  for (const char* name : {"elim-katsura-8-b2", "elim-ratcurve-b2"}) {
    const System e = quor::standin::read_system((kShared / "systems" / (std::string(name) + ".txt")).string());
    EXPECT_EQ(e.blocks, 2) << name;
  }
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
}

TEST(SystemFile, MalformedFilesNameTheLine) {
  EXPECT_EQ(error_of("[x1]\n"), " no '# vars:' line");
  EXPECT_EQ(error_of("# vars: a,b\n# blocks: 2\n[a]\n"), " a first block of 2 variables leaves none for the second");
  EXPECT_EQ(error_of("# vars: a,a\n[a]\n"), "1: variable a listed twice");
  EXPECT_EQ(error_of("# vars: a\n\n[a,\n c]\n"), "4: unknown variable 'c'");
  EXPECT_EQ(error_of("# vars: a\n[a^40000]\n"), "2: exponent 40000 above 32767");
  EXPECT_EQ(error_of("# vars: a\n[a^20000*a^20000]\n"), "2: exponent of a above 32767");
  EXPECT_EQ(error_of("# vars: a\n[a] a\n"), "2: text after the closing ']'");
  EXPECT_EQ(error_of("# vars: a\n[a\n"), "3: ',' or ']' expected");
  EXPECT_EQ(error_of("# vars: a\n[2a]\n"), "2: malformed number '2a'");
  EXPECT_EQ(error_of("# vars: a\n"), "1: empty system");
}

}  // namespace
