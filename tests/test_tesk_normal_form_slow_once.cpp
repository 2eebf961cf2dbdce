// Normal forms of tesk-server on generated systems (tests/data/nf-diff,
// written by tools/make-normal-form-diff) against Singular's reduce:
// monomials of high degree by the reduced basis of an intersection, modulo
// primes from 7 to 65521, bases of 16 to 84 polynomials.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "host/standin/system_file.h"
#include "tests/support/poly_list_text.h"
#include "tests/support/tesk_server_run.h"
#include "tests/support/text_file.h"

namespace {

const std::string kDir = std::string(QUOR_TEST_DATA_DIR) + "/nf-diff/";

TEST(TeskNormalFormDiff, HighDegreeMonomialsAgreeWithSingular) {
    quor_test::TempDir d("tesk_nf_diff");
    std::ifstream in(kDir + "cases.txt");
    std::set<std::string> primes;
    int cases = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        std::string name, prime;
        ls >> name >> prime;
        const std::string f = kDir + name;
        const std::string args = "-prime " + prime + " -intersect " + f + ".2.txt -normal-form " + f + ".q.txt " + f + ".txt";
        const auto r = tesk_server_run::server(d, args, "", 120);
        ++cases;
        primes.insert(prime);
        if (r.status != 0) {
            ADD_FAILURE() << name << ": status " << r.status << " of tesk-server " << args;
            continue;
        }
        // The basis, then the normal forms.
        const auto sys = quor::standin::read_system(f + ".txt");
        const std::uint64_t p = std::stoull(prime);
        std::string got = r.out.substr(r.out.find('\n') + 1);
        got = got.substr(0, got.find('\n'));
        const auto want = quor_test::mod_polys(quor_test::lines_to_list(quor_test::slurp(f + ".nf.txt")), sys, p);
        const auto have = quor_test::mod_polys(got, sys, p);
        ASSERT_EQ(have.size(), want.size()) << name;
        for (size_t i = 0; i < want.size(); ++i)
            EXPECT_TRUE(have[i] == want[i]) << name << ": normal form " << i + 1 << " (" << have[i].size() << " terms, Singular's "
                                           << want[i].size() << ") differs; tesk-server " << args;
    }
    EXPECT_GE(cases, 8);
    EXPECT_GE(primes.size(), 4u);
}

}  // namespace
