// Polynomial lists as texts modulo a prime (the server's answers, Singular's
// stored ones), brought to a canonical form so that they compare.
#ifndef QUOR_TESTS_SUPPORT_POLY_LIST_TEXT_H
#define QUOR_TESTS_SUPPORT_POLY_LIST_TEXT_H

#include <gmp.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/standin/system_file.h"
#include "tests/support/text_file.h"

namespace quor_test {

inline std::uint64_t power_mod(std::uint64_t a, std::uint64_t e, std::uint64_t p) {
    std::uint64_t r = 1;
    for (a %= p; e; e >>= 1, a = a * a % p)
        if (e & 1) r = r * a % p;
    return r;
}

// A polynomial modulo p by exponent vectors (increasing lexicographically,
// the first variable greatest: the lexicographic leading term last), no zero
// coefficient.
using Mod_Poly = std::map<std::vector<int>, std::uint64_t>;

// The polynomials of the list text over the variables of sys, modulo p
// (a zero polynomial left empty).  Throws SystemFileError on a bad text.
inline std::vector<Mod_Poly> mod_polys(const std::string& list, const quor::standin::System& sys, std::uint64_t p) {
    std::vector<Mod_Poly> out;
    if (list == "[]") return out;
    for (const quor::standin::Poly& q : quor::standin::parse_poly_list(list, sys, "answer")) {
        Mod_Poly terms;
        for (const auto& t : q) {
            std::uint64_t& c = terms[std::vector<int>(t.e.begin(), t.e.end())];
            c = (c + mpz_fdiv_ui(t.c.get(), p)) % p;
        }
        std::erase_if(terms, [](const auto& t) { return t.second == 0; });
        out.push_back(std::move(terms));
    }
    return out;
}

// The polynomials of the list text, each scaled so that its greatest term
// (exponents compared lexicographically) has coefficient 1, in a canonical
// text and order; the zero polynomial left out.
inline std::vector<std::string> canonical(const std::string& list, const quor::standin::System& sys, std::uint64_t p) {
    std::vector<std::string> out;
    for (const Mod_Poly& terms : mod_polys(list, sys, p)) {
        if (terms.empty()) continue;
        const std::uint64_t inv = power_mod(terms.rbegin()->second, p - 2, p);
        std::string s;
        for (auto it = terms.rbegin(); it != terms.rend(); ++it) {
            s += std::to_string(it->second * inv % p) + "*[";
            for (int e : it->first) s += std::to_string(e) + " ";
            s += "]";
        }
        out.push_back(s);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// One polynomial a line, as Singular prints them, into a list text.
inline std::string lines_to_list(const std::string& text) {
    std::istringstream in(text);
    std::string s = "[", line;
    while (std::getline(in, line))
        if (!line.empty()) s += (s.size() > 1 ? "," : "") + line;
    return s + "]";
}

// "" when the list text got (a server's basis) is the basis stored one
// polynomial a line in the file (Singular's), else why not.
inline std::string basis_mismatch(const std::string& got, const std::string& file, const quor::standin::System& sys,
                                  std::uint64_t p) {
    try {
        if (canonical(got, sys, p) == canonical(lines_to_list(slurp(file)), sys, p)) return "";
        return "basis " + got.substr(0, 200) + " is not Singular's " + file.substr(file.rfind('/') + 1);
    } catch (const quor::standin::SystemFileError& e) {
        return std::string("unreadable basis: ") + e.what();
    }
}

}  // namespace quor_test

#endif
