// Whole requests through the stand-in host, as a host makes them, against
// the reference bases: both builds, thread counts, repeated and permuted
// requests, the two-block order.
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

namespace {

using namespace quor::reftest;
namespace fs = std::filesystem;

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

}  // namespace
