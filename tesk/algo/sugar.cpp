// The Buchberger loop with sugar (sugar.h) for the two builds.
#include "tesk/algo/sugar.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

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
    std::vector<P*> red;
    Crit* pairs = nullptr;
    Sugar_Stats st;
    bool unit = false;
    bool replay = false;
    bool refused = false;  // the history was found wrong: the run starts again without it
    // Hilbert-driven: the target's first numerator, the degree of the pairs
    // under way and how many leading monomials it still lacks (-1: unknown).
    const Hilbert_Series* target = nullptr;
    unsigned driven_deg = ~0u;
    __int128 missing = -1;

    // Leading monomials of degree d the basis lacks against the target: the
    // Hilbert function of its leading monomials in d minus the target's.
    __int128 lacking(unsigned d) const {
        const unsigned n = I::L::n();
        std::vector<std::uint16_t> rows;
        unsigned m = 0;
        for (P* q : red)
            if (X::totalDegree(q->exp) <= d) {
                for (unsigned v = 0; v < n; ++v) rows.push_back(std::uint16_t(X::extraire(q->exp, v)));
                ++m;
            }
        Hilbert_Series found;
        if (!try_hilbert_series(n, m, rows.data(), found)) return -1;
        const __int128 now = hilbert_function(found, d);
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
    void release() {
        for (P* t : basis) M::Terms::kill_all(t);
        basis.clear();
        active.clear();
        red.clear();
        Crits::kill_all(pairs);
        pairs = nullptr;
    }

    // Gebauer and Moeller's update by the new tagged t: the new pairs that
    // no other one makes useless, then the old pairs that t makes useless.
    void update(P* t) {
        const P* lt = M::strip(t);
        struct Cand {
            P* f;
            std::vector<E> lcm;
            bool coprime;
            bool kept = false;
        };
        std::vector<Cand> C;
        std::vector<E> gcd(std::max(1u, I::L::words()));
        for (size_t i = 0; i < basis.size(); ++i) {
            if (!active[i]) continue;
            Cand c{basis[i], std::vector<E>(gcd.size()), false};
            const P* lf = M::strip(basis[i]);
            X::zsup(lf->exp, lt->exp, c.lcm.data());
            X::zinf(lf->exp, lt->exp, gcd.data());
            c.coprime = X::null(gcd.data());
            C.push_back(std::move(c));
        }
        for (size_t i = 0; i < C.size(); ++i) {
            bool useless = false;
            for (size_t j = 0; j < C.size() && !useless; ++j)
                if (j != i && (j > i || C[j].kept) && X::is_sub(C[i].lcm.data(), C[j].lcm.data())) useless = true;
            C[i].kept = C[i].coprime || !useless;
        }
        // Old pairs whose lcm lead(t) divides strictly away from both new lcms.
        std::vector<E> l1(gcd.size()), l2(gcd.size());
        poly::Chain<Crit> old;
        for (Crit* c = pairs; c;) {
            Crit* next = c->next;
            bool drop = false;
            if (X::is_sub(c->lcmfij, lt->exp)) {
                X::zsup(M::strip(c->poli)->exp, lt->exp, l1.data());
                X::zsup(M::strip(c->polj)->exp, lt->exp, l2.data());
                drop = !X::eq(l1.data(), c->lcmfij) && !X::eq(l2.data(), c->lcmfij);
            }
            if (drop)
                Crits::kill(c);
            else
                old.add(c);
            c = next;
        }
        Crit* fresh = nullptr;
        for (auto it = C.rbegin(); it != C.rend(); ++it) {
            if (!it->kept || it->coprime) continue;
            Crit* c = make_SCrit(it->f, t, sugar(t));
            c->next = fresh;
            fresh = c;
            ++st.pairs;
        }
        pairs = Crits::trier(Crits::append(old.finish(), fresh), poly::comp_SCrit<I>);
    }

    // h (monic, not zero) joins the basis with sugar s.
    void add(P* h, unsigned s) {
        // A tail past the exponents' range goes unseen by the pairs' lcms.
        for (const P* e = h; e; e = e->next) X::check_range(e->exp);
        P* t = set_sugar(M::link_one(h), std::max(s, max_degree<I>(h)));
        if (M::constante(h)) {
            unit = true;
            basis.push_back(t);
            active.push_back(1);
            return;
        }
        update(t);
        for (size_t i = 0; i < basis.size(); ++i)
            if (active[i] && X::is_sub(M::strip(basis[i])->exp, h->exp)) active[i] = 0;
        basis.push_back(t);
        active.push_back(1);
        red.clear();
        for (size_t i = 0; i < basis.size(); ++i)
            if (active[i]) red.push_back(M::strip(basis[i]));
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
        for (P* f : in) {
            P* h = r.result(f->exp, false, [&] { return r.normal_form(M::copy(f), true); });
            if (r.refused) break;
            if (h) r.add(h, max_degree<I>(f));
            else ++r.st.zeros;
            if (r.unit) break;
        }
        while (r.pairs && !r.unit && !r.refused) {
            poll_interrupt();
            Crit* c = r.pairs;
            r.pairs = c->next;
            if (r.known_zero(c)) {
                Crits::kill(c);
                ++r.st.skipped;
                continue;
            }
            P* h = r.result(c->lcmfij, true, [&] { return r.reduce_pair(c); });
            const unsigned s = c->totdeg;
            Crits::kill(c);
            if (r.refused) break;
            if (h) {
                r.add(h, s);
                if (r.target && r.missing > 0 && s == r.driven_deg) --r.missing;
            } else {
                ++r.st.zeros;
            }
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

}  // namespace tesk::algo
