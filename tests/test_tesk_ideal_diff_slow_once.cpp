// The ideal operations of tesk-server and what follows them, on generated
// systems (tests/data/ideal-diff, written by tools/make-ideal-diff) against
// Singular: the basis of -elim, -intersect or -quotient, then -nbsol,
// -hilbert, -degree, -prepare and -lextri on that ideal in its own
// variables, as if it had been read from a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/standin/system_file.h"
#include "tests/support/poly_list_text.h"
#include "tests/support/tesk_server_run.h"
#include "tests/support/text_file.h"

namespace {

using quor_test::Mod_Poly;
using tesk_server_run::last_line;
using tesk_server_run::Result;

const std::string kDir = std::string(QUOR_TEST_DATA_DIR) + "/ideal-diff/";

// A line of cases.txt (its columns are described in tools/make-ideal-diff).
struct Case {
    std::string name, op, k;
    std::uint64_t prime = 0;
    long nbsol = 0, dim = 0, degree = 0, distinct = 0;
    std::vector<std::int64_t> h;  // from t^0 up, no trailing zero
    double singular_ms = 0;
};

std::vector<std::int64_t> trimmed(std::vector<std::int64_t> h) {
    while (!h.empty() && h.back() == 0) h.pop_back();
    return h;
}

std::vector<Case> read_cases() {
    std::vector<Case> cases;
    for (const std::string& line : quor_test::data_lines(kDir + "cases.txt")) {
        std::istringstream ls(line);
        Case c;
        std::string h;
        ls >> c.name >> c.prime >> c.op >> c.k >> c.nbsol >> c.dim >> c.degree >> c.distinct >> h >> c.singular_ms;
        EXPECT_FALSE(ls.fail()) << line;
        std::istringstream hs(h);
        for (std::string x; std::getline(hs, x, ',');) c.h.push_back(std::stoll(x));
        c.h = trimmed(c.h);
        cases.push_back(c);
    }
    return cases;
}

// The coefficients of the server's "h(t) = -t^3+2*t^2+1" (t^0 first); ok
// false when the text is not of that shape.
std::vector<std::int64_t> parse_h(const std::string& text, bool& ok) {
    std::vector<std::int64_t> h;
    auto digits = [&](size_t& i) {
        const size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        return i > from ? std::stoll(text.substr(from, i - from)) : -1LL;
    };
    size_t i = 0;
    ok = !text.empty();
    while (ok && i < text.size()) {
        const std::int64_t sign = text[i] == '-' ? -1 : 1;
        if (text[i] == '-' || (text[i] == '+' && i > 0)) ++i;
        const long long c = digits(i);
        long long e = 0;
        if (c >= 0 && i < text.size() && text[i] == '*') ++i;
        if (i < text.size() && text[i] == 't') {
            ++i, e = 1;
            if (i < text.size() && text[i] == '^') e = digits(++i);
        } else if (c < 0) {
            ok = false;
        }
        ok = ok && e >= 0 && (i == text.size() || text[i] == '+' || text[i] == '-');
        if (!ok) break;
        if (h.size() <= size_t(e)) h.resize(size_t(e) + 1, 0);
        h[size_t(e)] += sign * (c >= 0 ? c : 1);
    }
    return trimmed(h);
}

// The value after "key" at the start of a line of out, or "" (no such line).
std::string line_value(const std::string& out, const std::string& key) {
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
    return "";
}

// The sets of a "[[p,...],[p,...]]" text, each as a list text.
std::vector<std::string> set_texts(const std::string& text) {
    std::vector<std::string> sets;
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return {"?"};
    int depth = 0;
    size_t from = 0;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '[' && depth++ == 0) from = i;
        if (text[i] == ']' && --depth == 0) sets.push_back(text.substr(from, i + 1 - from));
    }
    return sets;
}

// The number of zeros of the triangular sets of the text, each set with one
// polynomial monic in each of the variables vars (indices, the first one
// greatest): the sum of the products of their main degrees.  -1 and why
// when a set is not of that form.
long triangular_count(const std::string& text, const quor::standin::System& sys, std::uint64_t p,
                      const std::set<int>& vars, std::string& why) {
    long total = 0;
    for (const std::string& s : set_texts(text)) {
        std::vector<Mod_Poly> polys;
        try {
            polys = quor_test::mod_polys(s, sys, p);
        } catch (const quor::standin::SystemFileError& e) {
            why = std::string("unreadable set: ") + e.what();
            return -1;
        }
        std::set<int> mains;
        long product = 1;
        for (const Mod_Poly& q : polys) {
            if (q.empty()) return why = "a zero polynomial in " + s, -1;
            // Its main variable: the greatest one it holds; its lead, the
            // lexicographically greatest term, a pure power of it, coefficient 1.
            const std::vector<int>& lead = q.rbegin()->first;
            const int v = int(std::find_if(lead.begin(), lead.end(), [](int e) { return e != 0; }) - lead.begin());
            if (v == int(lead.size()) || !vars.count(v) || q.rbegin()->second != 1 ||
                std::count(lead.begin(), lead.end(), 0) != std::ptrdiff_t(lead.size()) - 1)
                return why = "not monic in a variable of the ideal: " + s, -1;
            for (const auto& [e, c] : q)
                if (e[v] == lead[v] && e != lead) return why = "an initial other than 1: " + s, -1;
            mains.insert(v);
            product *= lead[v];
        }
        if (mains != vars || polys.size() != vars.size()) return why = "not one polynomial a variable: " + s, -1;
        total += product;
    }
    return total;
}

std::string h_text(const std::vector<std::int64_t>& h) {
    std::string s;
    for (size_t i = 0; i < h.size(); ++i) s += (i ? "," : "") + std::to_string(h[i]);
    return s.empty() ? "0" : s;
}

// Every case: the basis and each value that follows, one failure a case
// listing what differs and the command that shows it.
TEST(TeskIdealDiff, OperationsAndFollowUpsAgreeWithSingular) {
    quor_test::TempDir d("tesk_ideal_diff");
    const std::vector<Case> cases = read_cases();
    ASSERT_GE(cases.size(), 100u);
    struct Slow {
        std::string name, run;
        double wall = 0, cpu = 0, singular_ms = 0;
    };
    std::vector<Slow> times;  // every run
    std::set<std::uint64_t> primes;
    int zero_dim = 0, positive_dim = 0;
    for (const Case& c : cases) {
        const std::string file = kDir + c.name + ".txt";
        const auto sys = quor::standin::read_system(file);
        const unsigned n = unsigned(sys.vars.size());
        const unsigned kept_from = c.op == "elim" ? unsigned(std::stoul(c.k)) : 0;
        std::set<int> kept;
        for (unsigned v = kept_from; v < n; ++v) kept.insert(int(v));
        const std::string op = "-prime " + std::to_string(c.prime) + " " +
                               (c.op == "elim" ? "-elim " + c.k : "-" + c.op + " " + kDir + c.name + ".2.txt") + " " +
                               file;
        primes.insert(c.prime);
        zero_dim += c.nbsol > 0;
        positive_dim += c.nbsol < 0;
        std::string bad;
        auto differs = [&](const std::string& what, const std::string& got, const std::string& want) {
            if (got != want) bad += "\n  " + what + ": " + got + ", Singular " + want;
        };

        const std::string follow = "-nbsol -hilbert -degree " + op;
        auto run = [&](const std::string& args) {
            // Bounded: a run past 30 s ends with status 124 and fails its case.
            tesk_server_run::Timed t = tesk_server_run::timed_server(d, args, 30);
            times.push_back({c.name, args.substr(0, args.find(" -prime")), t.wall, t.cpu, c.singular_ms});
            return std::move(t.r);
        };
        const Result r = run(follow);
        // What was printed is compared even when the run failed after it.
        const std::string& out = r.out;
        if (r.status != 0) bad += "\n  status " + std::to_string(r.status) + " of " + follow + ": " + last_line(out);
        const std::string mismatch =
            quor_test::basis_mismatch(out.substr(0, out.find('\n')), kDir + c.name + ".gb.txt", sys, c.prime);
        if (!mismatch.empty()) bad += "\n  " + mismatch;
        differs("#solutions", line_value(out, "#solutions "), std::to_string(c.nbsol));
        bool ok;
        const std::string ht = line_value(out, "h(t) = ");
        const auto h = parse_h(ht, ok);
        differs("h(t)", ok ? h_text(h) : "'" + ht + "'", h_text(c.h));
        differs("dim", line_value(out, "dim = "), std::to_string(c.dim));
        differs("degree", line_value(out, "degree = "), std::to_string(c.degree));

        // The distinct zeros through the triangular sets; an ideal that is
        // not zero-dimensional refused.
        const Result l = run("-lextri " + op);
        if (c.distinct >= 0) {
            std::string why;
            const long count = l.status == 0 ? triangular_count(l.out.substr(0, l.out.find('\n')), sys, c.prime, kept, why)
                                             : -1;
            if (l.status != 0) why = "status " + std::to_string(l.status) + ": " + last_line(l.out);
            differs("lextri zeros", count >= 0 ? std::to_string(count) : why, std::to_string(c.distinct));
        } else if (l.status != 3 || l.out.find("is not zero-dimensional") == std::string::npos) {
            bad += "\n  -lextri of an ideal that is not zero-dimensional: status " + std::to_string(l.status) + ", " +
                   last_line(l.out);
        }

        // The prepared basis of a zero-dimensional answer: its variables and
        // the size of its staircase.
        if (c.nbsol > 0) {
            const Result pr = run("-nooutput -prepare " + op);
            const std::string want = "% nombre de variables:\n" + std::to_string(kept.size()) + "\n% dimension:\n" +
                                     std::to_string(c.nbsol) + "\n";
            if (pr.status != 0 || pr.out.rfind(want, 0) != 0)
                bad += "\n  -prepare: status " + std::to_string(pr.status) + ", " + pr.out.substr(0, pr.out.find('\n', 60));
        }
        EXPECT_TRUE(bad.empty()) << c.name << " (" << c.op << ", tesk-server " << op << "):" << bad;
    }
    EXPECT_GE(primes.size(), 5u);
    EXPECT_GE(zero_dim, 40);
    EXPECT_GE(positive_dim, 20);
    // The slowest runs (each one the operation, then what follows it), with
    // Singular's time for the operation alone.
    std::sort(times.begin(), times.end(), [](const Slow& a, const Slow& b) { return a.wall > b.wall; });
    for (size_t i = 0; i < std::min<size_t>(3, times.size()); ++i) {
        const Slow& s = times[i];
        std::printf("slowest: %s %s, %.3f s (CPU %.3f s); Singular's operation %.2f ms\n", s.name.c_str(),
                    s.run.c_str(), s.wall, s.cpu, s.singular_ms);
    }
}

}  // namespace
