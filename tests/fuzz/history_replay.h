// Any bytes replayed as the sugar loop's history of cyclic-4, modulo 65521
// (first byte even) or modulo two large primes at once (odd), the rest being
// the history's text as gzip gives it back.  Whatever the bytes, the loop
// ends, never fatally, and either refuses them and gives the basis of a run
// without history, or takes them whole and gives a basis by which every
// input reduces to zero.  Shared by the fuzz target and the test that replays
// its corpus.
#ifndef TESTS_FUZZ_HISTORY_REPLAY_H
#define TESTS_FUZZ_HISTORY_REPLAY_H

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tesk/algo/sugar.h"
#include "tesk/base/bus.h"

namespace history_replay {

enum class Outcome {
    Plain,     // the basis of a run without history (refused, or the very history)
    Accepted,  // taken whole: another basis, which reduces every input to zero
    Wrong,     // anything else: a fault
};

// A basis as comparable words: per polynomial its residues and exponents.
using Canon = std::vector<std::vector<std::uint32_t>>;

template <class I>
struct Replay {
    using M = tesk::poly::Dmp<I>;
    using S = tesk::algo::Sugar<I>;
    using P = tesk::poly::Term<I>;
    using Lst = tesk::poly::List<I>;
    static constexpr unsigned n = 4;

    Lst* F = nullptr;
    Canon plain;

    static Replay& get() {
        static Replay r;
        return r;
    }

    // One term: coefficient +1 or -1, the exponents e.
    static P* term(int sign, std::initializer_list<std::uint16_t> e) {
        std::uint16_t x[n];
        std::copy(e.begin(), e.end(), x);
        const std::uint32_t one[2] = {1, 1};
        P* t = M::monom_raw(x, one, I::D::residues());
        return sign < 0 ? M::neg_d(t) : t;
    }
    static P* poly(std::initializer_list<P*> terms) {
        P* p = nullptr;
        for (auto it = terms.end(); it != terms.begin();) {
            --it;
            (*it)->next = p;
            p = *it;
        }
        return M::sort_and_merge(p);
    }

    Replay() {
        tesk::want_quiet = 1;
        S::init();
        if constexpr (I::D::kOnHeap)
            tesk::set_VGF(2);
        else
            tesk::gfc::set_module_GFC(65521);
        S::set(n, I::L::kDegBlocks == 2 ? n : 0, 0);
        // cyclic-4: a+b+c+d, ab+bc+cd+da, abc+bcd+cda+dab, abcd-1 (one-dimensional).
        Lst* l = nullptr;
        P* f[] = {
            poly({term(1, {1, 1, 1, 1}), term(-1, {0, 0, 0, 0})}),
            poly({term(1, {1, 1, 1, 0}), term(1, {0, 1, 1, 1}), term(1, {1, 0, 1, 1}), term(1, {1, 1, 0, 1})}),
            poly({term(1, {1, 1, 0, 0}), term(1, {0, 1, 1, 0}), term(1, {0, 0, 1, 1}), term(1, {1, 0, 0, 1})}),
            poly({term(1, {1, 0, 0, 0}), term(1, {0, 1, 0, 0}), term(1, {0, 0, 1, 0}), term(1, {0, 0, 0, 1})}),
        };
        for (P* p : f) l = M::Lists::cons(p, l);
        F = l;
        plain = canon(S::groebner(F));
    }

    // The polynomials of G (released) as words, in a fixed order.
    static Canon canon(Lst* G) {
        Canon c;
        std::vector<std::uint32_t> r(I::D::residues());
        for (Lst* l = G; l; l = l->next) {
            std::vector<std::uint32_t> w;
            for (P* t = M::strip(l->elt); t; t = t->next) {
                I::D::to_residues(t->coef, r.data());
                w.insert(w.end(), r.begin(), r.end());
                for (unsigned i = 0; i < n; ++i) w.push_back(M::X::extraire(t->exp, i));
            }
            c.push_back(std::move(w));
        }
        std::sort(c.begin(), c.end());
        M::Lists::kill_all(G);
        return c;
    }

    // Every input reduces to zero by G.
    bool reduces_inputs(Lst* G) {
        for (Lst* c = F; c; c = c->next)
            if (P* r = S::normal_form(M::copy(M::strip(c->elt)), G)) {
                M::Terms::kill_all(r);
                return false;
            }
        return true;
    }

    // The bytes replayed from memory, or (gz_base) compressed into
    // "<gz_base>.gz" and replayed from that file as a user's history is.
    Outcome run(const std::uint8_t* data, std::size_t size, const char* gz_base) {
        if (gz_base) {
            const std::string cmd = "gzip -c > '" + std::string(gz_base) + ".gz'";
            FILE* z = popen(cmd.c_str(), "w");
            if (!z) return Outcome::Wrong;
            const bool written = std::fwrite(data, 1, size, z) == size;
            if (pclose(z) != 0 || !written) return Outcome::Wrong;
            S::open_read_history(gz_base);
        } else {
            const int fd = memfd_create("history", 0);
            if (fd < 0) return Outcome::Wrong;
            for (std::size_t done = 0; done < size;) {
                const ssize_t w = write(fd, data + done, size - done);
                if (w <= 0) return close(fd), Outcome::Wrong;
                done += std::size_t(w);
            }
            lseek(fd, 0, SEEK_SET);
            S::replay_history(new tesk::BUS(fd));
        }
        tesk::algo::Sugar_Stats st;
        Lst* G = S::groebner(F, &st);
        if (st.reductions == 0 && st.replayed > 0 && !reduces_inputs(G)) {
            M::Lists::kill_all(G);
            return Outcome::Wrong;
        }
        const bool whole = st.reductions == 0 && st.replayed > 0;
        const Canon got = canon(G);
        if (got == plain) return Outcome::Plain;
        return whole ? Outcome::Accepted : Outcome::Wrong;
    }
};

// The outcome of the fuzz input (instance byte, then the history's text).
inline Outcome replay(const std::uint8_t* data, std::size_t size, const char* gz_base = nullptr) {
    if (size < 1) return Outcome::Plain;
    FILE* log = tesk::log_output;
    tesk::log_output = nullptr;  // the refusals' warnings
    const Outcome o = data[0] % 2 ? Replay<tesk::poly::BigDexp__VGF>::get().run(data + 1, size - 1, gz_base)
                                  : Replay<tesk::poly::DRLDRL__GFC>::get().run(data + 1, size - 1, gz_base);
    tesk::log_output = log;
    return o;
}

}  // namespace history_replay

#endif
