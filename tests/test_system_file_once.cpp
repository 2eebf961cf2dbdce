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
