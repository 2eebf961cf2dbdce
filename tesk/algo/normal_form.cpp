// Normal forms (normal_form.h).
#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/runtime.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tesk::algo {

namespace {

// The sum of the products that meet at one monomial.
template <class D>
struct Lazy_Sum;

// Residues below 2^16: 2^32 products add up in 64 bits, reduced once.
template <>
struct Lazy_Sum<poly::GFC_Domain> {
    using C = unsigned;
    std::uint64_t s = 0;
    void start() {}
    void clear() { s = 0; }
    void add(C c) { s += c; }
    void add_mul(C b, C c) { s += std::uint64_t(b) * c; }
    // False when the sum is zero; else true with the sum in c.
    bool take(C& c) {
        c = C(s % std::uint64_t(gfc::MAGIC));
        return c != 0;
    }
};

// Residues below 2^32: the products add up in 128 bits (2^64 of them fit),
// reduced once: the low word, then the high one times 2^64 mod p.
template <>
struct Lazy_Sum<poly::VGF_Domain> {
    using C = vgf::VGF;
    std::vector<unsigned __int128> s;
    std::vector<std::uint64_t> two64;  // 2^64 mod each prime
    std::vector<std::uint32_t> r;
    void start() {
        const unsigned k = vgf::size_of_vectors;
        two64.resize(k);
        r.resize(k);
        s.resize(k);
        for (unsigned i = 0; i < k; ++i) {
            const std::uint64_t p = C::_prime._v[i];
            two64[i] = (~std::uint64_t{0} % p + 1) % p;
        }
    }
    void clear() { std::fill(s.begin(), s.end(), 0); }
    void add(C c) {
        for (std::size_t i = 0; i < s.size(); ++i) s[i] += c._v[i];
    }
    void add_mul(C b, C c) {
        for (std::size_t i = 0; i < s.size(); ++i) s[i] += std::uint64_t(b._v[i]) * c._v[i];
    }
    bool take(C& c) {
        const std::uint32_t* p = C::_prime._v;
        const std::uint64_t* m = C::_recip;
        bool nonzero = false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const std::uint64_t hi = std::uint64_t(s[i] >> 64);  // below 2^32: one per product
            r[i] = vgf::reduce_VGF(std::uint64_t(s[i]), p[i], m[i]);
            if (hi) r[i] = vgf::reduce_VGF(r[i] + std::uint64_t(vgf::reduce_VGF(hi * two64[i], p[i], m[i])), p[i], m[i]);
            nonzero = nonzero || r[i];
        }
        if (!nonzero) return false;
        vgf::allocate(c);
        std::copy(r.begin(), r.end(), c._v);
        return true;
    }
};

// The buffers of the heap reduction, kept from one call to the next (one
// computation runs at a time): a poll that unwinds leaves nothing to free.
//
// The streams that stand at one monomial are chained under one node, and
// the heap orders the nodes: in a normal form most products meet others
// (tens to hundreds at a monomial), and a stream moving on costs a hash
// lookup instead of a pass down the heap.
template <class I>
struct Heap_Work {
    using P = poly::Term<I>;
    using E = typename I::E;
    using C = typename I::D::C;
    using L = typename I::L;
    using X = typename poly::Dmp<I>::X;
    using Key = std::uint64_t;
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};
    struct Stream {
        C b;              // the multiplier (stream 0, p itself: unused)
        P* t;             // the next term
        std::uint32_t link;  // the next stream of its node
    };
    std::vector<Stream> streams;
    std::vector<E> shifts;        // W words a stream
    std::vector<std::uint32_t> heads;  // a node's first stream
    std::vector<std::uint32_t> free_nodes;
    // The heap: an entry is a node's key, then the node; the greatest key first.
    std::vector<Key> heap;
    // The nodes by monomial, open addressing.
    std::vector<Key> table;
    static_assert(sizeof(E) == sizeof(Key));
    std::size_t mask = 0, live = 0;
    unsigned shift = 63;
    bool clean = false;           // the table is empty: the last call ended normally
    std::vector<E> top, scratch;
    std::vector<P*> order;        // the reducers in the order they are tried
    std::vector<std::pair<unsigned, P*>> lengths;
    Lazy_Sum<typename I::D> sum;
    unsigned W = 1, K = 0, S = 1, T = 2;  // exponent words, key words, heap and table strides

    void reset() {
        const unsigned w = std::max(1u, L::words());
        if (w != W || !clean || table.empty()) {
            W = w;
            T = W + 1;
            clear_table(64);
        }
        K = key_words();
        S = K + 1;
        clean = false;
        live = 0;
        streams.clear();
        shifts.clear();
        heads.clear();
        free_nodes.clear();
        heap.clear();
        top.assign(W, E{});
        scratch.assign(W, E{});
    }

    // The order as one comparison of unsigned words, first word first: per
    // degree block its degree, then its order words (signed, greater when
    // smaller), or, without degrees, the order words (greater when greater),
    // kOBits bits a field.
    static constexpr unsigned kPerKey = 64 / L::kOBits;
    static constexpr unsigned kMaxKey = (2 * poly::kMaxExpoWords * kPerKey + 2 + kPerKey - 1) / kPerKey + 1;
    static unsigned fields() { return L::owords() ? L::owords() + unsigned(L::kDegBlocks) : 0; }
    static unsigned key_words() { return (fields() + kPerKey - 1) / kPerKey; }
    void key(const E* e, Key* k) const {
        using OW = typename X::OWord;
        using UOW = typename X::UOWord;
        constexpr UOW sign = UOW(1) << (L::kOBits - 1);
        const unsigned ow = L::owords();
        if (!ow) return;
        // Fields gathered in a register, a key word written when full.
        Key cur = 0;
        unsigned f = 0;
        auto put = [&](UOW v) {
            if constexpr (kPerKey == 1) {
                *k++ = Key(v);
            } else {
                cur = cur << L::kOBits | Key(v);
                if (++f == kPerKey) *k++ = cur, cur = 0, f = 0;
            }
        };
        if constexpr (L::kDegBlocks == 0) {
            for (unsigned j = 0; j < ow; ++j) put(UOW(X::oword(e, j)) ^ sign);
        } else {
            unsigned j = 0;
            for (int blk = 0; blk < L::kDegBlocks; ++blk) {
                put(UOW(X::slot(e, L::deg_slot(blk))));
                const unsigned end = blk + 1 < L::kDegBlocks ? L::b1() : ow;
                for (; j < end; ++j) put(UOW(~(UOW(OW(X::oword(e, j))) ^ sign)));
            }
        }
        if constexpr (kPerKey > 1)
            if (f) *k = cur << (L::kOBits * (kPerKey - f));
    }
    bool less(const Key* a, const Key* b) const {
        for (unsigned i = 0; i < K; ++i)
            if (a[i] != b[i]) return a[i] < b[i];
        return false;
    }
    bool same(const Key* a, const Key* b) const {
        for (unsigned i = 0; i < K; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    // Entries are a few words: a loop, where a library copy costs a call.
    void copy_entry(Key* to, const Key* from) const {
        for (unsigned i = 0; i < S; ++i) to[i] = from[i];
    }

    // ------------------------------------------------------------ the heap
    Key* at(std::size_t h) { return &heap[h * S]; }
    std::size_t size() const { return heap.size() / S; }
    // The entry e placed from the hole h upwards / downwards.
    void sift_up(std::size_t h, const Key* e) {
        while (h > 0) {
            const std::size_t parent = (h - 1) / 2;
            if (!less(at(parent), e)) break;
            copy_entry(at(h), at(parent));
            h = parent;
        }
        copy_entry(at(h), e);
    }
    void sift_down(std::size_t h, const Key* e) {
        const std::size_t n = size();
        for (;;) {
            std::size_t c = 2 * h + 1;
            if (c >= n) break;
            if (c + 1 < n && less(at(c), at(c + 1))) ++c;
            if (!less(e, at(c))) break;
            copy_entry(at(h), at(c));
            h = c;
        }
        copy_entry(at(h), e);
    }

    // ----------------------------------------------------------- the table
    // A slot: the W exponent words of a monomial, then its node (kNone: empty).
    // Multiplicative hashing: the top bits of the product depend on every
    // bit of the words (the degree sits in their top lanes).
    std::size_t home(const E* e) const {
        Key h = 0;
        for (unsigned i = 0; i < W; ++i) h = (h ^ e[i].w) * 0x9E3779B97F4A7C15ull;
        return std::size_t(h >> shift);
    }
    Key* slot(std::size_t h) { return &table[h * T]; }
    const E* slot_exp(std::size_t h) const { return reinterpret_cast<const E*>(&table[h * T]); }
    bool empty(std::size_t h) const { return table[h * T + W] == kNone; }
    // The slot of monomial e, or the empty slot where it goes.
    std::size_t find(const E* e) const {
        std::size_t h = home(e);
        while (!empty(h) && !X::eq(slot_exp(h), e)) h = (h + 1) & mask;
        return h;
    }
    void clear_table(std::size_t n) {  // n a power of 2, at least 2
        table.assign(n * T, 0);
        for (std::size_t h = 0; h < n; ++h) table[h * T + W] = kNone;
        mask = n - 1;
        shift = unsigned(__builtin_clzll(n)) + 1;
    }
    void copy_slot(Key* to, const Key* from) const {
        for (unsigned i = 0; i < T; ++i) to[i] = from[i];
    }
    void grow() {
        std::vector<Key> old;
        old.swap(table);
        clear_table(2 * (mask + 1));
        for (std::size_t h = 0; h * T < old.size(); ++h)
            if (old[h * T + W] != kNone)
                copy_slot(slot(find(reinterpret_cast<const E*>(&old[h * T]))), &old[h * T]);
    }
    // Linear probing's deletion: the later slots of the run that may sit in
    // h's place move back, so that a lookup never stops short.
    void erase(std::size_t h) {
        table[h * T + W] = kNone;
        --live;
        for (std::size_t j = (h + 1) & mask; !empty(j); j = (j + 1) & mask) {
            const std::size_t r = home(slot_exp(j));
            // j's entry stays unless its home lies cyclically outside (h, j].
            if (h <= j ? (h < r && r <= j) : (h < r || r <= j)) continue;
            copy_slot(slot(h), slot(j));
            table[j * T + W] = kNone;
            h = j;
        }
    }

    // ------------------------------------------------------------- streams
    // Stream i, at its next term, joins the node of that monomial; a new
    // node enters the heap.
    void place(std::uint32_t i) {
        E* e = scratch.data();
        X::add(&shifts[std::size_t(i) * W], streams[i].t->exp, e);
        std::size_t h = find(e);
        if (!empty(h)) {
            const std::uint32_t n = std::uint32_t(slot(h)[W]);
            streams[i].link = heads[n];
            heads[n] = i;
            return;
        }
        std::uint32_t n;
        if (free_nodes.empty()) {
            n = std::uint32_t(heads.size());
            heads.push_back(i);
        } else {
            n = free_nodes.back();
            free_nodes.pop_back();
            heads[n] = i;
        }
        streams[i].link = kNone;
        Key* sl = slot(h);
        for (unsigned j = 0; j < W; ++j) sl[j] = e[j].w;
        sl[W] = n;
        if (++live * 2 > mask + 1) grow();
        Key k[kMaxKey];
        key(e, k);
        k[K] = n;
        heap.resize(heap.size() + S);
        sift_up(size() - 1, k);
    }
    // A new stream b*x^m*t; ends as the lcm check does where one of its
    // products would leave the exponents' range.
    void open(C b, const E* m, P* t) {
        if (t && !X::products_in_range(m, t->exp)) poly::Dmp<I>::check_products(m, t);
        const std::uint32_t i = std::uint32_t(streams.size());
        streams.push_back({b, t, kNone});
        shifts.resize(shifts.size() + W);
        X::copy(&shifts[std::size_t(i) * W], m);
        place(i);
    }
    // The greatest node taken out, its monomial into top: its first stream
    // (the others linked).
    std::uint32_t pop() {
        const std::uint32_t n = std::uint32_t(at(0)[K]);
        const std::uint32_t i = heads[n];
        X::add(&shifts[std::size_t(i) * W], streams[i].t->exp, top.data());
        erase(find(top.data()));
        Key e[kMaxKey];
        copy_entry(e, at(size() - 1));
        heap.resize(heap.size() - S);
        if (size()) sift_down(0, e);
        free_nodes.push_back(n);
        return i;
    }

    // ------------------------------------------------------------ divisors
    // A monomial's divisibility mask: with v variable lanes, 64/v bits each,
    // bit l of a lane set when its exponent exceeds l (past 64 lanes, one
    // bit each, shared).  A divisor's mask lies inside its multiple's,
    // so most reducers are passed over on one word.
    static std::uint64_t divisor_mask(const E* e) {
        // The variable lanes, padding included (an exponent 0 there).
        unsigned n = 0;
        for (unsigned j = 0, words = L::words(); j < words; ++j) n += unsigned(__builtin_popcountll(L::div_mask(j)));
        const unsigned per = n && n <= 64 ? 64 / n : 1;
        std::uint64_t r = 0;
        unsigned v = 0;
        for (unsigned j = 0, words = L::words(); j < words; ++j) {
            const std::uint64_t lanes = X::var_lanes(j);
            for (unsigned l = 0; l < X::P; ++l) {
                if (!((lanes >> (l * X::B)) & 1)) continue;
                const unsigned x = unsigned(e[j].w >> (l * X::B)) & unsigned(X::kLane);
                if (x) {
                    if (n > 64)
                        r |= std::uint64_t{1} << (v % 64);
                    else
                        r |= ((x >= per ? ~std::uint64_t{0} : (std::uint64_t{1} << x) - 1) &
                              (per == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << per) - 1))
                             << (v * per);
                }
                ++v;
            }
        }
        return r;
    }
    std::vector<std::uint64_t> masks;  // of the reducers tried, in order
    // The index of the first reducer of the order whose leading monomial divides e, else kNone.
    std::size_t divisor(const std::vector<P*>& tried, const E* e) const {
        const std::uint64_t m = ~divisor_mask(e);
        for (std::size_t r = 0; r < tried.size(); ++r)
            if (!(masks[r] & m) && X::is_sub(e, tried[r]->exp)) return r;
        return kNone;
    }
};

}  // namespace

template <class I>
poly::Term<I>* Heap_Reduction<I>::reduce_all(P* p, const std::vector<P*>& R, bool by_basis) {
    using D = typename I::D;
    using C = typename D::C;
    using X = typename M::X;
    using Work = Heap_Work<I>;
    if (!p) return nullptr;
    static Work w;
    // The order in which the reducers are tried: by a basis the shortest
    // first (the least leading monomial first among equals), whose steps
    // bring the fewest terms.
    if (by_basis) {
        w.lengths.clear();
        for (P* q : R) w.lengths.emplace_back(M::Terms::size(q), q);
        std::sort(w.lengths.begin(), w.lengths.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : X::greater(a.second->exp, b.second->exp) < 0;
        });
        w.order.clear();
        for (const auto& l : w.lengths) w.order.push_back(l.second);
    }
    const std::vector<P*>& tried = by_basis ? w.order : R;
    // A step merged into the whole remainder costs its length, where the
    // heap costs some ten times as much a term but takes each term once:
    // the first steps are merged (most reductions of the loop end there),
    // the heap takes the remainder of a long reduction.
    poly::Chain<P> out;
    for (std::size_t steps = 0; p;) {
        poll_interrupt();
        P* q = Sugar<I>::reducer(tried, p->exp);
        if (!q) {
            out.add(p);
            p = p->next;
            continue;
        }
        if (++steps > kMergedSteps) break;
        p = M::reduire(p, q);  // fatal for a reducer that is not monic
    }
    if (!p) return out.finish();
    w.reset();
    w.masks.clear();
    for (P* q : tried) w.masks.push_back(Work::divisor_mask(q->exp));
    w.sum.start();
    M::info_string = "Fast reduction monic case";
    X::set_null(w.top.data());
    w.open(D::one(), w.top.data(), p);
    while (w.size()) {
        poll_interrupt();
        std::uint32_t i = w.pop();
        C c;
        // A term of p that nothing else meets stays as it is, record and all.
        P* alone = nullptr;
        if (i == 0 && w.streams[0].link == Work::kNone) {
            alone = w.streams[0].t;
            w.streams[0].t = alone->next;
            if (alone->next) w.place(0);
            c = alone->coef;
        } else {
            w.sum.clear();
            // Every stream at this monomial; each goes on with a smaller one.
            while (i != Work::kNone) {
                auto& s = w.streams[i];
                const std::uint32_t next = s.link;
                if (i == 0) {
                    w.sum.add(s.t->coef);
                    s.t = M::Terms::kill(s.t);  // p is consumed
                } else {
                    w.sum.add_mul(s.b, s.t->coef);
                    s.t = s.t->next;
                }
                if (s.t) w.place(i);
                i = next;
            }
            if (!w.sum.take(c)) continue;
        }
        const std::size_t r = w.divisor(tried, w.top.data());
        P* q = r == Work::kNone ? nullptr : tried[r];
        if (!q) {
            out.add(alone ? alone : M::term(c, w.top.data()));
            continue;
        }
        if (!D::is_one(q->coef)) Fatal("Reduce by a non monic polynomial !\n");
        if (q->next) {
            E m[poly::kMaxExpoWords];
            X::sub(w.top.data(), q->exp, m);
            w.open(D::minus(c), m, q->next);
        }
        if (alone)
            M::Terms::kill(alone);
        else
            D::kill(c);
    }
    w.clean = true;
    M::info_string = nullptr;
    return out.finish();
}

template <class I>
bool Normal_Forms<I>::invertible(C c) {
    if constexpr (I::D::kOnHeap) {
        for (unsigned i = 0; i < vgf::size_of_vectors; ++i)
            if (c[i] == 0) return false;
        return true;
    } else {
        return c != 0;
    }
}

template <class I>
bool Normal_Forms<I>::monic_reducers(Lst* G, std::vector<P*>& R) {
    R.clear();
    for (Lst* c = G; c; c = c->next) {
        P* g = M::strip(c->elt);
        if (!g) continue;
        if (!invertible(g->coef)) {
            for (P* r : R) M::Terms::kill_all(r);
            R.clear();
            return false;
        }
        R.push_back(M::hMonic(M::copy(g)));
    }
    return true;
}

template <class I>
poly::Term<I>* Normal_Forms<I>::normal_form(P* p, const std::vector<P*>& R) {
    return Heap_Reduction<I>::reduce_all(p, R, true);
}

template <class I>
poly::List<I>* Normal_Forms<I>::compute(Lst* F, Lst* G, Lst* H, int univ, int* bad) {
    *bad = 0;
    if (univ)
        for (Lst* c = H; c; c = c->next)
            if (P* h = M::strip(c->elt); h && !invertible(h->coef)) {
                *bad = 1;
                return nullptr;
            }
    std::vector<P*> R;
    if (!monic_reducers(G, R)) {
        *bad = 1;
        return nullptr;
    }
    poly::Chain<Lst> out;
    auto push = [&](P* p) {
        Lst* cell = M::Lists::new_();
        cell->elt = p;
        out.add(cell);
    };
    for (Lst* c = F; c; c = c->next) {
        P* nf = keep_only_result<I>([&] {
            P* f = M::copy(M::strip(c->elt));
            if (univ) {
                for (Lst* h = H; h && f; h = h->next) {
                    poll_interrupt();
                    if (!M::strip(h->elt)) continue;
                    Lst one{M::strip(h->elt), nullptr};
                    f = M::exquo(f, &one);
                }
                Stderr("Take NF of deg %d --> ", int(M::totalDegree(f)));
            }
            P* r = normal_form(f, R);
            if (univ) Stderr("%d \n", int(M::totalDegree(r)));
            return r;
        });
        push(M::one());
        push(nf);
    }
    for (P* r : R) M::Terms::kill_all(r);
    return out.finish();
}

template struct Heap_Reduction<poly::BigDexp__VGF>;
template struct Heap_Reduction<poly::DRLDRL__GFC>;
template struct Heap_Reduction<poly::DRLDRL16__GFC>;
template struct Normal_Forms<poly::BigDexp__VGF>;
template struct Normal_Forms<poly::DRLDRL__GFC>;

}  // namespace tesk::algo

TESK_EXPORT int Tesk_normalForm_VGF(tesk::List_DMP__BigDexp__VGF F, tesk::List_DMP__BigDexp__VGF G,
                                    tesk::List_DMP__BigDexp__VGF H, int univ, tesk::List_DMP__BigDexp__VGF* out) {
    int bad = 0;
    *out = tesk::algo::Normal_Forms<tesk::poly::BigDexp__VGF>::compute(F, G, H, univ, &bad);
    return bad;
}

TESK_EXPORT int Tesk_normalForm_GFC(tesk::List_DMP__DRLDRL__GFC F, tesk::List_DMP__DRLDRL__GFC G,
                                    tesk::List_DMP__DRLDRL__GFC H, int univ, tesk::List_DMP__DRLDRL__GFC* out) {
    int bad = 0;
    *out = tesk::algo::Normal_Forms<tesk::poly::DRLDRL__GFC>::compute(F, G, H, univ, &bad);
    return bad;
}
