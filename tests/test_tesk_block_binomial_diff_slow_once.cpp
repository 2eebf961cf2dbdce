// tesk-server's bases for two blocks of variables ('# blocks: k') on
// generated binomial systems (tests/data/block-binomial-diff, written by
// tools/make-block-binomial-diff) against Singular's reduced bases for
// (dp(k),dp(n-k)).  An answer that the prime-field build cannot hold is
// refused, naming one of its terms.  One test a case, each server run
// bounded: a slow case fails alone instead of holding up the others.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/standin/system_file.h"
#include "tests/support/poly_list_text.h"
#include "tests/support/tesk_server_run.h"
#include "tests/support/text_file.h"

namespace {

using tesk_server_run::last_line;

const std::string kDir = std::string(QUOR_TEST_DATA_DIR) + "/block-binomial-diff/";
constexpr unsigned kSeconds = 30;
// The prime-field build's two-block exponents.
constexpr unsigned kMaxExp = 127, kMaxDeg = 255;

// A line of cases.txt (its columns are described in the tool).
struct Case {
    std::string name, answer;  // answer: "basis" or "refused"
    std::uint64_t prime = 0;
    unsigned blocks = 0;
    double singular_ms = 0;
};

// gtest names a failing case by this rather than its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> read_cases() {
    std::vector<Case> cases;
    for (const std::string& line : quor_test::data_lines(kDir + "cases.txt")) {
        std::istringstream ls(line);
        Case c;
        ls >> c.name >> c.prime >> c.blocks >> c.answer >> c.singular_ms;
        if (!ls.fail()) cases.push_back(c);
    }
    return cases;
}

// The errors the server may end with when the answer does not fit: one for
// each term of Singular's answer outside the range, as the range check words
// it (a block's degree before an exponent, the first block first).
std::set<std::string> refusals(const std::vector<quor_test::Mod_Poly>& answer, const quor::standin::System& sys,
                               unsigned k) {
    std::set<std::string> out;
    for (const quor_test::Mod_Poly& q : answer)
        for (const auto& [e, c] : q) {
            unsigned sums[2] = {0, 0}, over = 0;
            for (size_t i = 0; i < e.size(); ++i) {
                sums[i < k ? 0 : 1] += unsigned(e[i]);
                if (!over && unsigned(e[i]) > kMaxExp) over = unsigned(i) + 1;
            }
            std::string m;
            if (sums[0] > kMaxDeg || sums[1] > kMaxDeg)
                m = "Depassement du degre " + std::to_string(sums[0] > kMaxDeg ? sums[0] : sums[1]) + " !";
            else if (over)
                m = "Exponent overflow: " + sys.vars[over - 1] + "^" + std::to_string(e[over - 1]) + " (at most " +
                    std::to_string(kMaxExp) + " for an exponent, " + std::to_string(kMaxDeg) + " for a block's degree)";
            if (!m.empty()) out.insert("#error (fatal): " + m);
        }
    return out;
}

// The family as generated: every line read, enough cases, every prime and
// size, answers that fit and answers refused.
TEST(TeskBlockBinomialDiff, FamilyAsGenerated) {
    const std::vector<Case> cases = read_cases();
    EXPECT_EQ(cases.size(), quor_test::data_lines(kDir + "cases.txt").size()) << "a line of cases.txt unread";
    EXPECT_GE(cases.size(), 30u);
    std::set<std::uint64_t> primes;
    std::set<size_t> sizes;
    std::set<std::string> answers;
    for (const Case& c : cases) {
        const auto sys = quor::standin::read_system(kDir + c.name + ".txt");
        EXPECT_EQ(unsigned(sys.blocks), c.blocks) << c.name;
        EXPECT_TRUE(c.blocks >= 1 && c.blocks < sys.vars.size()) << c.name;
        primes.insert(c.prime);
        sizes.insert(sys.vars.size());
        answers.insert(c.answer);
    }
    EXPECT_EQ(primes, (std::set<std::uint64_t>{11, 101, 7919, 32003, 65521}));
    EXPECT_EQ(sizes, (std::set<size_t>{3, 4, 5}));
    EXPECT_EQ(answers, (std::set<std::string>{"basis", "refused"}));
}

class TeskBlockBinomialCase : public ::testing::TestWithParam<Case> {};

TEST_P(TeskBlockBinomialCase, AgreesWithSingular) {
    const Case& c = GetParam();
    quor_test::TempDir d("tesk_block_binomial");
    const std::string file = kDir + c.name + ".txt", gb = kDir + c.name + ".gb.txt";
    const auto sys = quor::standin::read_system(file);
    const std::string args = "-prime " + std::to_string(c.prime) + " " + file;
    const tesk_server_run::Timed t = tesk_server_run::timed_server(d, args, kSeconds);
    std::printf("%s %s: server %.3f s (CPU %.3f s), status %d; Singular %.2f ms\n", c.name.c_str(), c.answer.c_str(),
                t.wall, t.cpu, t.r.status, c.singular_ms);
    const std::string where = c.name + " (tesk-server " + args + ")";
    ASSERT_NE(t.r.status, 124) << where << ": past " << kSeconds << " s";
    if (c.answer == "basis") {
        EXPECT_EQ(t.r.status, 0) << where << ": " << last_line(t.r.out);
        EXPECT_EQ(quor_test::basis_mismatch(t.r.out.substr(0, t.r.out.find('\n')), gb, sys, c.prime), "") << where;
        return;
    }
    const std::set<std::string> want =
        refusals(quor_test::mod_polys(quor_test::lines_to_list(quor_test::slurp(gb)), sys, c.prime), sys, c.blocks);
    ASSERT_FALSE(want.empty()) << c.name << ": Singular's answer fits, yet cases.txt says refused";
    EXPECT_EQ(t.r.status, 3) << where << ": " << last_line(t.r.out);
    EXPECT_TRUE(want.count(last_line(t.r.out))) << where << ": " << last_line(t.r.out) << ", not one of the "
                                                << want.size() << " refusals of Singular's terms, such as "
                                                << *want.begin();
}

INSTANTIATE_TEST_SUITE_P(Cases, TeskBlockBinomialCase, ::testing::ValuesIn(read_cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

}  // namespace
