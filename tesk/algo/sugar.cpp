// The Buchberger loop with sugar (sugar.h) for the two builds.
#include "tesk/algo/sugar.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "tesk/algo/normal_form.h"
#include "tesk/base/runtime.h"
#include "tesk/base/vgf_heap.h"
#include "tesk/poly/compaction.h"
#include "tesk/poly/protocol.h"
#include "tesk/poly/staircase.h"

namespace tesk {
int want_sugar_strag = 1;
}  // namespace tesk

namespace tesk::algo {

namespace {

bool sugar_overflow_told = false;  // one warning per process, whatever the instance

// The history channels of the running instance (one computation at a time).
std::unique_ptr<BUS> history_out;
std::string history_out_name;  // to write it again when a replay is refused
unsigned next_pair_limit = 0;   // of the next run (limit_pairs)

void close_channel(std::unique_ptr<BUS>& b) {
    if (b) b->kill();
    b.reset();
}

// The history being replayed, read straight from the channel's descriptor:
// a short or damaged file is an answer here, where the channel's own
// readers end the process.
struct History_Source {
    std::unique_ptr<BUS> bus;
    unsigned char buf[4096];
    std::size_t at = 0, end = 0;

    bool more() {
        if (at < end) return true;
        if (!bus || bus->fd1 < 0) return false;
        ssize_t r;
        do {
            r = ::read(bus->fd1, buf, sizeof buf);
        } while (r < 0 && errno == EINTR);
        if (r <= 0) return false;
        at = 0;
        end = std::size_t(r);
        return true;
    }
    bool get(unsigned char* dst, std::size_t n) {
        for (; n; --n) {
            if (!more()) return false;
            *dst++ = buf[at++];
        }
        return true;
    }
    // Words and halves travel most significant byte first.
    bool get32(std::uint32_t& w) {
        unsigned char b[4];
        if (!get(b, 4)) return false;
        w = std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
        return true;
    }
    bool get16(std::uint16_t& h) {
        unsigned char b[2];
        if (!get(b, 2)) return false;
        h = std::uint16_t(b[0] << 8 | b[1]);
        return true;
    }
    // Reads the rest (gzip then ends normally) and closes: true when nothing
    // was left and gzip, if any, found the file whole.
    bool close() {
        bool rest = false;
        for (; more(); at = end) rest = true;
        if (!bus) return !rest;
        bus->kill();
        const bool whole = bus->gz_status == 0;
        bus.reset();
        return whole && !rest;
    }
};
std::unique_ptr<History_Source> history_in;

bool close_history_in() {
    const bool whole = history_in ? history_in->close() : true;
    history_in.reset();
    return whole;
}

// Largest total degree of the terms of p (header cell skipped).
template <class I>
unsigned max_degree(poly::Term<I>* p) {
    unsigned d = 0;
    for (p = poly::Dmp<I>::strip(p); p; p = p->next)
        d = std::max(d, expo::Packed<typename I::L>::totalDegree(p->exp));
    return d;
}

// Bit s mod 64 for each variable slot s where a differs from b (b null: where
// a is not zero).  A divisor's mask is a subset of its multiple's, which
// rules out most divisibility tests in one operation.
template <class I>
std::uint64_t slot_mask(const typename I::E* a, const typename I::E* b) {
    using X = expo::Packed<typename I::L>;
    std::uint64_t m = 0;
    for (unsigned j = 0, W = I::L::words(); j < W; ++j) {
        std::uint64_t d = (b ? a[j].w ^ b[j].w : a[j].w) & X::var_lanes(j);
        for (unsigned s = j * X::P; d; ++s, d >>= X::B)
            if (d & X::kLane) m |= std::uint64_t{1} << (s % 64);
    }
    return m;
}

}  // namespace

template <class I>
void Sugar<I>::init() {
    M::init();
}

template <class I>
void Sugar<I>::set(unsigned n, unsigned a, unsigned b) {
    M::set(n, a, b);
    Crits::init_Objet();
}

template <class I>
poly::Term<I>* Sugar<I>::set_sugar(P* p, unsigned s) {
    if (s > 65536 && !sugar_overflow_told) {
        sugar_overflow_told = true;
        Warning("Depassement du sucre %d !\n", int(s));
    }
    p->stats->sugar = s;
    return p;
}

template <class I>
poly::SCrit<I>* Sugar<I>::make_SCrit(P* f, P* g, unsigned sugar_g) {
    Crit* c = Crits::new_();
    c->poli = f;
    c->polj = g;
    const P* lf = M::strip(f);
    const P* lg = M::strip(g);
    X::zsup_verif(lf->exp, lg->exp, c->lcmfij);
    const unsigned dl = X::totalDegree(c->lcmfij);
    if (want_sugar_strag)
        c->totdeg = std::max(sugar(f) + dl - X::totalDegree(lf->exp), sugar_g + dl - X::totalDegree(lg->exp));
    else
        c->totdeg = dl;
    c->spare = 0;
    c->next = nullptr;
    return c;
}

// ---------------------------------------------------------------------------
// One run: the basis (tagged, in order of arrival), the reducers (the active
// polynomials, untagged) and the pair chain.
template <class I>
struct Sugar<I>::Run {
    std::vector<P*> basis;
    std::vector<char> active;
    std::vector<const E*> lead;        // basis[i]'s leading monomial
    std::vector<std::uint64_t> mask;  // and its slot_mask
    std::vector<P*> red;
    Crit* pairs = nullptr;
    // Scratch of update(): the candidates of the new pairs (active polynomial
    // i, the degree and excess over lt of their lcm, stored in lcms, and
    // whether it is prime to lt), the minimal lcms by lowest slot bit (64:
    // none), the pairs kept, and the old pairs of one key.
    struct Cand {
        unsigned i;
        unsigned deg;
        std::uint64_t mask;
        bool coprime;
    };
    std::vector<Cand> cand;
    std::vector<E> lcms;
    std::vector<unsigned> order, counts, survivors, kept;
    std::vector<unsigned> minimal[65];
    std::vector<Crit*> fresh, ties;
    Sugar_Stats st;
    bool unit = false;
    bool replay = false;
    bool refused = false;  // the history was found wrong: the run starts again without it
    // Hilbert-driven: the target's first numerator, the degree of the pairs
    // under way and how many leading monomials it still lacks (-1: unknown).
    const Hilbert_Series* target = nullptr;
    unsigned driven_deg = ~0u;
    __int128 missing = -1;
    unsigned pair_limit = 0;  // 0: none
    // The first numerator of the ideal of the leading monomials counted so
    // far (counted[i]: basis[i]'s), kept up to date one monomial at a time;
    // `whole` once a number leaves 64 bits: the series of the leading
    // monomials is then computed whole at each degree.
    std::vector<std::int64_t> numerator{1};
    std::vector<std::uint16_t> counted_rows;
    std::vector<char> counted;
    bool whole = false;

    // The Hilbert function in degree d of the leading monomials' ideal;
    // -1 when unknown.  A generator of a higher degree changes nothing there.
    __int128 found_function(unsigned d) {
        const unsigned n = I::L::n();
        if (!whole) {
            // Polynomials leave the reducers only for a divisor of their
            // leading monomial: the ideal counted only grows.
            counted.resize(basis.size(), 0);
            std::vector<std::uint16_t> x(n);
            for (std::size_t i = 0; i < basis.size() && !whole; ++i) {
                if (!active[i] || counted[i] || X::totalDegree(lead[i]) > d) continue;
                for (unsigned v = 0; v < n; ++v) x[v] = std::uint16_t(X::extraire(lead[i], v));
                whole = !add_to_first_numerator(n, unsigned(counted_rows.size() / n), counted_rows.data(), x.data(),
                                                 numerator);
                // Its multiples are generators no longer.
                std::size_t kept = 0;
                for (std::size_t r = 0; r < counted_rows.size(); r += n) {
                    bool multiple = true;
                    for (unsigned v = 0; v < n && multiple; ++v) multiple = counted_rows[r + v] >= x[v];
                    if (!multiple) std::copy_n(&counted_rows[r], n, &counted_rows[kept]), kept += n;
                }
                counted_rows.resize(kept);
                counted_rows.insert(counted_rows.end(), x.begin(), x.end());
                counted[i] = 1;
            }
            // The series K / (1 - t)^n, not in lowest terms: the function is the same.
            Hilbert_Series s;
            s.numerator = numerator;
            s.dim = int(n);
            if (const __int128 now = whole ? -1 : hilbert_function(s, d); now >= 0) return now;
        }
        std::vector<std::uint16_t> rows;
        unsigned m = 0;
        for (P* q : red)
            if (X::totalDegree(q->exp) <= d) {
                for (unsigned v = 0; v < n; ++v) rows.push_back(std::uint16_t(X::extraire(q->exp, v)));
                ++m;
            }
        Hilbert_Series found;
        return try_hilbert_series(n, m, rows.data(), found) ? hilbert_function(found, d) : -1;
    }
    // Leading monomials of degree d the basis lacks against the target: the
    // Hilbert function of its leading monomials in d minus the target's.
    __int128 lacking(unsigned d) {
        const __int128 now = found_function(d);
        const __int128 want = hilbert_function(*target, d);
        return now < 0 || want < 0 || now < want ? -1 : now - want;
    }
    // True when the pair c of a homogeneous input reduces to zero by the Hilbert function.
    bool known_zero(const Crit* c) {
        if (!target) return false;
        if (c->totdeg != driven_deg) driven_deg = c->totdeg, missing = lacking(driven_deg);
        return missing == 0;
    }

    P* normal_form(P* p, bool monic) {
        return keep_only_result<I>([&] {
            P* r = reduce_all(p, red);
            return monic ? M::hMonic(r) : r;
        });
    }
    // The S-polynomial of c reduced: lcm/lead(f) * f minus lcm/lead(g) * g, then every term.
    P* reduce_pair(Crit* c) {
        return keep_only_result<I>([&] {
            P* f = M::strip(c->poli);
            E m[poly::kMaxExpoWords];
            X::sub(c->lcmfij, f->exp, m);
            P* s = M::reduire(M::copy_dec(D::one(), m, f), M::strip(c->polj));
            return M::hMonic(reduce_all(s, red));
        });
    }

    // The next result: from the history when one is replayed, else from
    // compute().  A replayed result must be what a reduction could give: led
    // by at most `bound` (below it when strict), monic and fully reduced.
    template <class F>
    P* result(const E* bound, bool strict, F compute) {
        P* h = nullptr;
        if (replay) {
            const int got = read_history(h);
            const char* why = got < 0    ? "its bytes do not make a result"
                              : got == 0 ? "it ends before the computation"
                                         : misfit(h, bound, strict);
            if (!why) {
                ++st.replayed;
                write_history(h);
                return h;
            }
            M::Terms::kill_all(h);
            refuse(why);
            return nullptr;
        }
        ++st.reductions;
        h = compute();
        write_history(h);
        return h;
    }
    const char* misfit(P* h, const E* bound, bool strict) const {
        if (!h) return nullptr;
        if (!D::is_one(h->coef)) return "a result is not monic";
        const int c = X::greater(h->exp, bound);
        if (c > 0 || (strict && c == 0)) return "a result is led above its pair";
        for (P* t = h; t; t = t->next)
            if (reducer(red, t->exp)) return "the basis reduces a result";
        // Its pairs' lcms are checked as they are made, fatally: refused here instead.
        E l[poly::kMaxExpoWords];
        std::uint32_t sums[2];
        for (P* q : red) {
            X::template zfold<true>(q->exp, h->exp, l, sums);
            if (X::past_range(l, sums)) return "its pairs leave the exponents' range";
        }
        return nullptr;
    }
    void refuse(const char* why) {
        Warning("The history does not match this computation (%s); computing without it\n", why);
        close_history_in();
        replay = false;
        refused = true;
    }
    // After a whole replay: the history ends here, gzip found it whole, and
    // every input reduces to zero by the basis obtained.
    void verify(const std::vector<P*>& in) {
        P* h = nullptr;
        if (read_history(h) != 0) {
            M::Terms::kill_all(h);
            return refuse("it goes on past the computation");
        }
        if (!close_history_in()) return refuse("the file is damaged");
        if (unit) return;  // 1 reduces everything
        for (P* f : in)
            if (P* rest = keep_only_result<I>([&] { return reduce_all(M::copy(f), red); })) {
                M::Terms::kill_all(rest);
                return refuse("an input does not reduce to zero by the basis");
            }
    }
    // Under a tripped overflow trap the lcms are no longer exact: the run
    // releases what it holds and gives up (its caller set the trap).
    void give_up_if_overflowed() {
        if (!expo::Overflow_Trap::innermost_tripped()) return;
        release();
        close_history();
        throw expo::Range_Overflow();
    }
    // The inputs, each reduced by those before, then the pairs, until none
    // is left, the unit is met or a replayed history is refused.
    void inputs_and_pairs(const std::vector<P*>& in) {
        for (P* f : in) {
            P* h = result(f->exp, false, [&] { return normal_form(M::copy(f), true); });
            if (refused) break;
            if (h) add(h, max_degree<I>(f)), give_up_if_overflowed();
            else ++st.zeros;
            if (unit) break;
        }
        while (pairs && !unit && !refused) {
            poll_interrupt();
            if (pair_limit && st.pairs > pair_limit) throw Pairs_Spent();
            Crit* c = pairs;
            pairs = c->next;
            if (known_zero(c)) {
                Crits::kill(c);
                ++st.skipped;
                continue;
            }
            P* h = result(c->lcmfij, true, [&] { return reduce_pair(c); });
            const unsigned s = c->totdeg;
            Crits::kill(c);
            if (refused) break;
            if (h) {
                add(h, s);
                give_up_if_overflowed();
                if (target && missing > 0 && s == driven_deg) --missing;
            } else {
                ++st.zeros;
            }
        }
    }
    void release() {
        for (P* t : basis) M::Terms::kill_all(t);
        basis.clear();
        active.clear();
        lead.clear();
        mask.clear();
        red.clear();
        Crits::kill_all(pairs);
        pairs = nullptr;
    }

    // Gebauer and Moeller's update by the new tagged t: the new pairs that
    // no other one makes useless, then the old pairs that t makes useless.
    void update(P* t) {
        const E* lt = M::strip(t)->exp;
        const std::uint64_t mt = slot_mask<I>(lt, nullptr);
        fresh.clear();
        for (unsigned i : new_pairs(lt)) {
            Crit* c = make_SCrit(basis[i], t, sugar(t));
            c->spare = mask[i] | mt;  // the support of the lcm, for the chain criterion
            fresh.push_back(c);
            ++st.pairs;
        }
        std::sort(fresh.begin(), fresh.end(), [](Crit* a, Crit* b) { return poly::comp_SCrit<I>(a, b) < 0; });
        merge_fresh(lt, mt);
    }

    // The active polynomials whose pair with a new polynomial led by lt is
    // kept (by increasing index): Gebauer and Moeller's criteria on their
    // lcms u with lt.  A pair goes when another lcm divides u strictly; of
    // equal lcms the last polynomial's pair stays, unless one of them is
    // prime to lt.  Lcms are taken by increasing degree, each tested only
    // against the smaller minimal ones that share a variable slot with it.
    const std::vector<unsigned>& new_pairs(const E* lt) {
        const unsigned W = std::max(1u, I::L::words());
        const unsigned dt = X::totalDegree(lt);
        cand.clear();
        for (unsigned i = 0; i < basis.size(); ++i) {
            if (!active[i]) continue;
            const std::size_t k = cand.size();
            lcms.resize((k + 1) * W);
            E* u = &lcms[k * W];
            X::zsup(lead[i], lt, u);
            const unsigned d = X::totalDegree(u);
            cand.push_back({i, d, slot_mask<I>(u, lt), d == dt + X::totalDegree(lead[i])});
        }
        by_degree();
        for (auto& b : minimal) b.clear();
        kept.clear();
        for (std::size_t a = 0, m = order.size(); a < m;) {
            std::size_t b = a;
            survivors.clear();
            for (; b < m && cand[order[b]].deg == cand[order[a]].deg; ++b)
                if (!dominated(order[b], W)) survivors.push_back(order[b]);
            // Equal lcms side by side, each run by increasing index.
            std::sort(survivors.begin(), survivors.end(), [&](unsigned x, unsigned y) {
                const int c = std::memcmp(&lcms[x * W], &lcms[y * W], W * sizeof(E));
                return c ? c < 0 : x < y;
            });
            for (std::size_t p = 0, q; p < survivors.size(); p = q) {
                bool coprime = false;
                for (q = p; q < survivors.size() && X::eq(&lcms[survivors[q] * W], &lcms[survivors[p] * W]); ++q)
                    coprime = coprime || cand[survivors[q]].coprime;
                if (!coprime) kept.push_back(cand[survivors[q - 1]].i);
                const std::uint64_t um = cand[survivors[p]].mask;
                minimal[um ? std::countr_zero(um) : 64].push_back(survivors[p]);
            }
            a = b;
        }
        std::sort(kept.begin(), kept.end());
        return kept;
    }
    // True when a minimal lcm found so far (of a smaller degree) divides candidate k's.
    bool dominated(unsigned k, unsigned W) {
        const std::uint64_t um = cand[k].mask;
        const E* u = &lcms[k * W];
        auto in = [&](const std::vector<unsigned>& bucket) {
            for (unsigned j : bucket) {
                ++st.examined;
                if ((cand[j].mask & ~um) == 0 && X::is_sub(u, &lcms[j * W])) return true;
            }
            return false;
        };
        if (in(minimal[64])) return true;
        for (std::uint64_t bits = um; bits; bits &= bits - 1)
            if (in(minimal[std::countr_zero(bits)])) return true;
        return false;
    }
    // order := the candidates by increasing degree, ties by index.
    void by_degree() {
        const std::size_t m = cand.size();
        order.resize(m);
        if (!m) return;
        unsigned lo = cand[0].deg, hi = lo;
        for (const auto& c : cand) lo = std::min(lo, c.deg), hi = std::max(hi, c.deg);
        if (hi - lo > 4 * m + 1024) {
            for (unsigned k = 0; k < m; ++k) order[k] = k;
            std::stable_sort(order.begin(), order.end(), [&](unsigned x, unsigned y) { return cand[x].deg < cand[y].deg; });
            return;
        }
        std::vector<unsigned>& at = counts;
        at.assign(hi - lo + 2, 0);
        for (const auto& c : cand) ++at[c.deg - lo + 1];
        for (std::size_t d = 1; d < at.size(); ++d) at[d] += at[d - 1];
        for (unsigned k = 0; k < m; ++k) order[at[cand[k].deg - lo]++] = k;
    }
    // The chain criterion on the old pairs (lead(t) = lt divides the lcm
    // strictly away from both its new lcms), and the sorted fresh pairs
    // merged in, in one pass.  Pairs of one degree and lcm keep the order
    // that sorting the whole chain (equal records: the later first) gave
    // them, on which the loop's results depend: the new pair first, then
    // the old ones reversed.
    void merge_fresh(const E* lt, std::uint64_t mt) {
        E l[poly::kMaxExpoWords];
        auto useless = [&](const Crit* c) {
            if ((mt & ~c->spare) || !X::is_sub(c->lcmfij, lt)) return false;
            if (X::eq(X::zsup(M::strip(c->poli)->exp, lt, l), c->lcmfij)) return false;
            return !X::eq(X::zsup(M::strip(c->polj)->exp, lt, l), c->lcmfij);
        };
        poly::Chain<Crit> out;
        std::size_t k = 0;
        for (Crit* c = pairs; c;) {
            ++st.examined;
            ties.assign(1, c);
            Crit* d = c->next;
            for (; d && d->totdeg == c->totdeg && d->spare == c->spare && X::eq(d->lcmfij, c->lcmfij); d = d->next) {
                ++st.examined;
                ties.push_back(d);
            }
            for (; k < fresh.size() && (++st.examined, poly::comp_SCrit<I>(fresh[k], c) <= 0); ++k) out.add(fresh[k]);
            for (auto it = ties.rbegin(); it != ties.rend(); ++it)
                if (useless(*it))
                    Crits::kill(*it);
                else
                    out.add(*it);
            c = d;
        }
        for (; k < fresh.size(); ++k) out.add(fresh[k]);
        pairs = out.finish();
    }

    // h (monic, not zero) joins the basis with sugar s.
    void add(P* h, unsigned s) {
        // A tail past the exponents' range goes unseen by the pairs' lcms.
        for (const P* e = h; e; e = e->next) X::check_range(e->exp);
        P* t = set_sugar(M::link_one(h), std::max(s, max_degree<I>(h)));
        const std::uint64_t mh = slot_mask<I>(h->exp, nullptr);
        if (M::constante(h)) {
            unit = true;
            join(t, mh);
            return;
        }
        update(t);
        for (size_t i = 0; i < basis.size(); ++i)
            if (active[i] && (mh & ~mask[i]) == 0 && X::is_sub(lead[i], h->exp)) active[i] = 0;
        join(t, mh);
        red.clear();
        for (size_t i = 0; i < basis.size(); ++i)
            if (active[i]) red.push_back(M::strip(basis[i]));
    }
    void join(P* t, std::uint64_t m) {
        basis.push_back(t);
        active.push_back(1);
        lead.push_back(M::strip(t)->exp);
        mask.push_back(m);
    }
};

template <class I>
poly::Term<I>* Sugar<I>::reducer(const std::vector<P*>& R, const E* e) {
    for (P* q : R)
        if (X::is_sub(e, q->exp)) return q;
    return nullptr;
}

template <class I>
poly::Term<I>* Sugar<I>::reduce_all(P* p, const std::vector<P*>& R) {
    return Heap_Reduction<I>::reduce_all(p, R);
}

template <class I>
poly::Term<I>* Sugar<I>::normal_form(P* p, Lst* G) {
    std::vector<P*> R;
    for (; G; G = G->next)
        if (P* q = M::strip(G->elt)) R.push_back(q);
    return keep_only_result<I>([&] { return Heap_Reduction<I>::reduce_all(p, R, true); });
}

template <class I>
poly::List<I>* Sugar<I>::groebner(Lst* F, Sugar_Stats* stats, const Hilbert_Series* hilbert) {
    Run r;
    r.replay = history_in != nullptr;
    r.target = r.replay ? nullptr : hilbert;
    r.pair_limit = std::exchange(next_pair_limit, 0u);
    Lst* result = nullptr;
    if (M::size(F)) {
        // The inputs, by increasing degree then leading monomial, each reduced by those before.
        std::vector<P*> in;
        for (Lst* c = F; c; c = c->next)
            if (P* p = M::strip(c->elt)) in.push_back(p);
        std::stable_sort(in.begin(), in.end(), [](P* a, P* b) {
            const unsigned da = max_degree<I>(a), db = max_degree<I>(b);
            return da != db ? da < db : X::greater(a->exp, b->exp) < 0;
        });
        // The run gives up, its records released, when a product leaves the
        // exponents' range inside a reduction (the trap's owner gives up) or
        // when its pairs pass the limit.
        const auto give_up = [&] {
            r.release();
            close_history();
            if (stats) *stats = r.st;  // what the attempt cost
        };
        try {
            r.inputs_and_pairs(in);
        } catch (const expo::Range_Overflow&) {
            give_up();
            throw;
        } catch (const Pairs_Spent&) {
            give_up();
            throw;
        }
        Crits::kill_all(r.pairs);
        r.pairs = nullptr;
        if (r.replay) r.verify(in);
        if (r.refused) {
            // Everything replayed is dropped: once wrong, none of it is trusted.
            r.release();
            if (history_out) {
                close_channel(history_out);
                history_out = std::make_unique<WCBUS>(history_out_name.c_str());
            }
            return groebner(F, stats, hilbert);  // the history is closed: the loop reduces by itself
        }

        // The reduced basis: the active polynomials, tails reduced by the others.
        std::vector<P*> G;
        for (size_t i = 0; i < r.basis.size(); ++i) {
            if (r.unit ? !M::constante(M::strip(r.basis[i])) : !r.active[i]) {
                M::Terms::kill_all(r.basis[i]);
                continue;
            }
            G.push_back(r.basis[i]);
        }
        for (P* t : G) {
            P* lead = t->next;
            P* tail = lead->next;
            lead->next = nullptr;
            lead->next = keep_only_result<I>([&] { return reduce_all(tail, r.red); });
        }
        std::sort(G.begin(), G.end(), [](P* a, P* b) { return X::greater(a->next->exp, b->next->exp) > 0; });
        Lst* tagged = nullptr;
        for (auto it = G.rbegin(); it != G.rend(); ++it) tagged = M::Lists::cons(*it, tagged);
        r.st.dim0 = poly::Staircase<I>::is_dim0(tagged);
        if (r.st.dim0 > 0 && std::getenv("VERBOSE"))
            Output("%s solutions\n", poly::Staircase<I>::nb_sol_dim0_text(tagged).c_str());
        for (P* t : G) r.st.eliminated += M::is_eliminated(t->next) ? 1 : 0;
        // Untagged copies of the cells' polynomials: the headers go back.
        for (Lst* c = tagged; c; c = c->next) {
            P* body = c->elt->next;
            c->elt->next = nullptr;
            M::Terms::kill(c->elt);
            c->elt = body;
        }
        result = tagged;
    }
    close_history();
    if (stats) *stats = r.st;
    return result;
}

// ---------------------------------------------------------------------------
// History.
template <class I>
void Sugar<I>::limit_pairs(unsigned n) {
    next_pair_limit = n;
}

template <class I>
void Sugar<I>::open_write_history(const char* name) {
    close_channel(history_out);
    if (!name) return;
    history_out_name = name;
    history_out = std::make_unique<WCBUS>(name);
}

template <class I>
void Sugar<I>::open_read_history(const char* name) {
    close_history_in();
    if (name) replay_history(new RCBUS((std::string(name) + ".gz").c_str()));
}

template <class I>
void Sugar<I>::replay_history(BUS* channel) {
    close_history_in();
    if (!channel) return;
    history_in = std::make_unique<History_Source>();
    history_in->bus.reset(channel);
}

template <class I>
void Sugar<I>::close_history() {
    if (history_out) {
        *history_out << MSG_TESK_QUIT;
        history_out->flush();
    }
    close_channel(history_out);
    close_history_in();
}

template <class I>
void Sugar<I>::write_history(P* h) {
    if (!history_out) return;
    if (h)
        poly::Wire<I>::out_protocol(*history_out, h, 0);
    else
        *history_out << MSG_TESK_NIL;
}

// Bytes are checked before anything is built from them, against what the
// writer puts: codes, the coefficient's form, exponents the type holds and
// terms in strictly decreasing order.
template <class I>
int Sugar<I>::read_history(P*& h) {
    h = nullptr;
    if (!history_in) return 0;
    History_Source& s = *history_in;
    std::uint32_t code;
    if (!s.get32(code)) return -1;  // cut before its end code
    switch (code) {
    case MSG_TESK_QUIT:
        return 0;
    case MSG_TESK_NIL:
        return 1;
    case MSG_TESK_NEED_SORT:
        if (!s.get32(code)) return -1;
        if (code == MSG_TESK_NIL) return 1;
        break;
    case MSG_TESK_GDMP:
    case MSG_TESK_LAST_GDMP:
        break;
    default:
        Warning("Unknown message: %u\n", unsigned(code));
        return -1;
    }
    constexpr std::uint32_t coef_code = D::kOnHeap ? MSG_TESK_RAW : MSG_TESK_GF;
    const unsigned n = I::L::n(), k = D::residues();
    std::vector<std::uint32_t> res(k);
    std::uint16_t exps[poly::kMaxExpoWords * (64 / I::L::kBits)];
    poly::Chain<P> out;
    auto damaged = [&] {
        M::Terms::kill_all(out.finish());
        return -1;
    };
    for (;;) {
        if (code != MSG_TESK_GDMP && code != MSG_TESK_LAST_GDMP) return damaged();
        std::uint32_t w;
        if (!s.get32(w) || w != coef_code) return damaged();
        if (D::kOnHeap && (!s.get32(w) || w != k)) return damaged();
        for (std::uint32_t& r : res)
            if (!s.get32(r)) return damaged();
        if (!s.get32(w) || w != MSG_TESK_DIRPCAT) return damaged();
        unsigned deg[2] = {0, 0};
        for (unsigned i = 0; i < n; ++i) {
            if (!s.get16(exps[i]) || exps[i] > X::kMaxExp) return damaged();
            deg[X::block_of_var(i)] += exps[i];
        }
        if (deg[0] > X::kMaxDeg || deg[1] > X::kMaxDeg) return damaged();
        P* t = M::monom_raw(exps, res.data(), k);
        if (!t) return damaged();  // the writer sends no zero coefficient
        if (out.tail && X::greater(out.tail->exp, t->exp) <= 0) {
            M::Terms::kill(t);
            return damaged();
        }
        out.add(t);
        if (code == MSG_TESK_LAST_GDMP) break;
        if (!s.get32(code)) return damaged();
    }
    h = out.finish();
    return 1;
}

template struct Sugar<poly::BigDexp__VGF>;
template struct Sugar<poly::DRLDRL__GFC>;
template struct Sugar<poly::DRLDRL16__GFC>;

}  // namespace tesk::algo
