// A small independent model of Tesk polynomials for the tests: a map from
// exponent tuples to residue vectors, kept in its own monomial order, with
// conversions to and from the engine's term chains.
#ifndef QUOR_TESTS_SUPPORT_TESK_POLY_MODEL_H
#define QUOR_TESTS_SUPPORT_TESK_POLY_MODEL_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tesk/poly/dmp.h"
#include "tests/support/tesk_orders.h"

namespace tesk_poly_model {

using u32 = std::uint32_t;
using u64 = std::uint64_t;
using Exps = std::vector<unsigned>;
using Coef = std::vector<u32>;

// The engine's fatal end, caught: the hook throws the message.
struct Fatal_Hit {
    std::string text;
};
inline void throwing_hook(int, const char* m) {
    tesk::Fatal_loop = 0;
    throw Fatal_Hit{m};
}
// The fatal text f raised, "" when none.
template <class F>
std::string fatal_of(F f) {
    tesk::Exit_Hook old = tesk::set_exit_hook(throwing_hook);
    FILE* log = tesk::log_output;
    tesk::log_output = nullptr;
    std::string text;
    try {
        f();
    } catch (const Fatal_Hit& h) {
        text = h.text;
    }
    tesk::set_exit_hook(old);
    tesk::log_output = log;
    return text;
}

// What f writes on the stream held in `slot` (log_output, Fortran.f, ...),
// a scratch file put there meanwhile.
template <class F>
std::string written(FILE*& slot, F f) {
    FILE* out = std::tmpfile();
    FILE* saved = slot;
    slot = out;
    f();
    slot = saved;
    std::rewind(out);
    std::string s;
    for (int c; (c = std::fgetc(out)) != EOF;) s += char(c);
    std::fclose(out);
    return s;
}

inline u64 pw(u64 a, u64 e, u64 p) {
    u64 r = 1;
    for (a %= p; e; e >>= 1, a = a * a % p)
        if (e & 1) r = r * a % p;
    return r;
}

template <class I>
struct Model {
    using M = tesk::poly::Dmp<I>;
    using P = tesk::poly::Term<I>;
    using X = typename M::X;
    using D = typename I::D;

    static unsigned n() { return I::L::n(); }
    static std::vector<u64> primes() {
        std::vector<u64> p;
        if constexpr (D::kOnHeap)
            for (unsigned i = 0; i < tesk::vgf::size_of_vectors; ++i) p.push_back(tesk::VGF::_prime._v[i]);
        else
            p.push_back(u64(tesk::gfc::MAGIC));
        return p;
    }

    // 1 when a > b, -1 when a < b, 0 when equal, in the instance's order.
    static int cmp(const Exps& a, const Exps& b) {
        return tesk_orders::ref_order(a, b, I::L::kDegBlocks, I::L::k());
    }
    struct Greater {
        bool operator()(const Exps& a, const Exps& b) const { return cmp(a, b) > 0; }
    };
    using Poly = std::map<Exps, Coef, Greater>;

    // ---------------------------------------------------------- residues
    static bool zero(const Coef& c) {
        for (u32 x : c)
            if (x) return false;
        return true;
    }
    static Coef scalar(u64 v) {
        Coef c;
        for (u64 p : primes()) c.push_back(u32(v % p));
        return c;
    }
    static Coef add(Coef a, const Coef& b) {
        const auto p = primes();
        for (size_t i = 0; i < a.size(); ++i) a[i] = u32((u64(a[i]) + b[i]) % p[i]);
        return a;
    }
    static Coef mul(Coef a, const Coef& b) {
        const auto p = primes();
        for (size_t i = 0; i < a.size(); ++i) a[i] = u32(u64(a[i]) * b[i] % p[i]);
        return a;
    }
    static Coef neg(Coef a) {
        const auto p = primes();
        for (size_t i = 0; i < a.size(); ++i) a[i] = a[i] ? u32(p[i] - a[i]) : 0;
        return a;
    }
    static Coef inv(Coef a) {
        const auto p = primes();
        for (size_t i = 0; i < a.size(); ++i) a[i] = u32(pw(a[i], p[i] - 2, p[i]));
        return a;
    }
    static Coef random_coef(std::mt19937_64& g) {
        Coef c;
        for (u64 p : primes()) c.push_back(u32(1 + g() % (p - 1)));
        return c;
    }

    // ----------------------------------------------------------- polynomials
    static void add_term(Poly& p, const Exps& e, const Coef& c) {
        auto [it, fresh] = p.emplace(e, c);
        if (!fresh) it->second = add(it->second, c);
        if (zero(it->second)) p.erase(it);
    }
    static Poly sum(Poly a, const Poly& b) {
        for (auto& [e, c] : b) add_term(a, e, c);
        return a;
    }
    static Poly product(const Poly& a, const Poly& b) {
        Poly r;
        for (auto& [e, c] : a)
            for (auto& [f, d] : b) {
                Exps s = e;
                for (size_t i = 0; i < s.size(); ++i) s[i] += f[i];
                add_term(r, s, mul(c, d));
            }
        return r;
    }
    static Poly scaled(const Poly& a, const Coef& c, const Exps& m) {
        Poly r;
        for (auto& [e, d] : a) {
            Exps s = e;
            for (size_t i = 0; i < s.size(); ++i) s[i] += m[i];
            add_term(r, s, mul(c, d));
        }
        return r;
    }
    static Exps random_exps(std::mt19937_64& g, unsigned emax) {
        Exps e(n());
        for (auto& x : e) x = unsigned(g() % (emax + 1));
        return e;
    }
    static Poly random(std::mt19937_64& g, unsigned terms, unsigned emax) {
        Poly p;
        for (unsigned t = 0; t < terms; ++t) add_term(p, random_exps(g, emax), random_coef(g));
        return p;
    }

    // A chain in the model's order, made without the package's arithmetic.
    static P* build(const Poly& p) {
        P* head = nullptr;
        P* tail = nullptr;
        for (auto& [e, c] : p) {
            P* t = M::Terms::new_();
            t->coef = D::from_residues(c.data(), unsigned(c.size()));
            X::set_null(t->exp);
            for (unsigned i = 0; i < e.size(); ++i) X::ranger(t->exp, e[i], i);
            (tail ? tail->next : head) = t;
            tail = t;
        }
        if (tail) tail->next = nullptr;
        return head;
    }
    // A polynomial from (exponents, signed small coefficient) pairs.
    static P* poly(std::initializer_list<std::pair<Exps, long>> terms) {
        Poly p;
        for (auto& [e, c] : terms) add_term(p, e, c < 0 ? neg(scalar(u64(-c))) : scalar(u64(c)));
        return build(p);
    }
    static tesk::poly::List<I>* list(std::initializer_list<P*> ps) {
        tesk::poly::List<I>* l = nullptr;
        for (auto it = std::rbegin(ps); it != std::rend(ps); ++it) l = M::Lists::cons(*it, l);
        return l;
    }
    static Exps exps(const P* t) {
        Exps e(n());
        for (unsigned i = 0; i < e.size(); ++i) e[i] = X::extraire(t->exp, i);
        return e;
    }
    // The chain read back; a term out of order or a zero coefficient fails the test.
    static Poly read(const P* p) {
        Poly r;
        const Exps* prev = nullptr;
        for (; p; p = p->next) {
            Coef c(D::residues());
            D::to_residues(p->coef, c.data());
            auto it = r.emplace(exps(p), c).first;
            EXPECT_FALSE(zero(c)) << "zero coefficient";
            if (prev) {
                EXPECT_GT(cmp(*prev, it->first), 0) << "terms out of order";
            }
            prev = &it->first;
        }
        return r;
    }
    // read(p), then p released.
    static Poly take(P* p) {
        Poly r = read(p);
        M::Terms::kill_all(p);
        return r;
    }
};

// An instance with n variables (the first k in block 1) and its primes
// (Primes default VGF primes, or p = 65521).
template <class Inst, unsigned N, unsigned K, unsigned Primes>
struct Cfg {
    using I = Inst;
    static void set_up() {
        tesk::want_quiet = 1;
        tesk::poly::Dmp<I>::init();
        if constexpr (I::D::kOnHeap)
            tesk::set_VGF(Primes);
        else
            tesk::gfc::set_module_GFC(65521);
        tesk::poly::Dmp<I>::set(N, K, 0);
    }
};

// Records of the family described by S in use: taken in blocks (16-byte
// aligned ones), not on the free list.
template <class S>
unsigned in_use() {
    using F = tesk::poly::Family<S>;
    unsigned free = 0;
    for (auto* r = F::root; r; r = r->next) ++free;
    return F::stat_tesk * S::K - free;
}

}  // namespace tesk_poly_model

#endif
