// Normal forms (normal_form.h).
#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/runtime.h"

#include <algorithm>
#include <cstdint>

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
    void clear() { s = 0; }
    void add(C c) { s += c; }
    void add_mul(C b, C c) { s += std::uint64_t(b) * c; }
    // False when the sum is zero; else true with the sum in c.
    bool take(C& c) {
        c = C(s % std::uint64_t(gfc::MAGIC));
        return c != 0;
    }
};

// Residues below 2^32: one reduction a product, as the domain's lin_d.
template <>
struct Lazy_Sum<poly::VGF_Domain> {
    using C = vgf::VGF;
    std::vector<std::uint32_t> s;
    void clear() { s.assign(vgf::size_of_vectors, 0); }
    void add(C c) { vgf::add_into(s.data(), s.data(), c._v); }
    void add_mul(C b, C c) {
        const std::uint32_t* p = C::_prime._v;
        const std::uint64_t* m = C::_recip;
        for (unsigned i = 0, k = unsigned(s.size()); i < k; ++i)
            s[i] = vgf::reduce_VGF(s[i] + std::uint64_t(b._v[i]) * c._v[i], p[i], m[i]);
    }
    bool take(C& c) {
        if (std::all_of(s.begin(), s.end(), [](std::uint32_t r) { return r == 0; })) return false;
        vgf::allocate(c);
        std::copy(s.begin(), s.end(), c._v);
        return true;
    }
};

// The buffers of the heap reduction, kept from one call to the next (one
// computation runs at a time): a poll that unwinds leaves nothing to free.
template <class I>
struct Heap_Work {
    using P = poly::Term<I>;
    using E = typename I::E;
    using C = typename I::D::C;
    using L = typename I::L;
    using X = typename poly::Dmp<I>::X;
    using Key = std::uint64_t;
    struct Stream {
        C b;   // the multiplier (stream 0, p itself: unused)
        P* t;  // the next term
    };
    std::vector<Stream> streams;
    std::vector<E> shifts;    // W words a stream
    // The heap: an entry is the key of a stream's next monomial, then the
    // stream's index; the greatest key first.
    std::vector<Key> heap;
    std::vector<E> top, scratch;
    std::vector<P*> order;    // the reducers in the order they are tried
    Lazy_Sum<typename I::D> sum;
    unsigned W = 1, K = 0, S = 1;

    void reset() {
        W = std::max(1u, L::words());
        K = key_words();
        S = K + 1;
        streams.clear();
        shifts.clear();
        heap.clear();
        top.assign(W, E{});
        scratch.assign(W, E{});
    }

    // The order as one comparison of unsigned words, first word first: per
    // degree block its degree, then its order words (signed, greater when
    // smaller), or, without degrees, the order words (greater when greater),
    // kOBits bits a field.  A key costs a pass over the vector once, where
    // the heap compares it many times.
    static constexpr unsigned kPerKey = 64 / L::kOBits;
    static unsigned fields() { return L::owords() ? L::owords() + unsigned(L::kDegBlocks) : 0; }
    static unsigned key_words() { return (fields() + kPerKey - 1) / kPerKey; }
    void key(const E* e, Key* k) const {
        using OW = typename X::OWord;
        using UOW = typename X::UOWord;
        constexpr UOW sign = UOW(1) << (L::kOBits - 1);
        unsigned f = 0;
        for (unsigned i = 0; i < K; ++i) k[i] = 0;
        auto put = [&](UOW v) {
            k[f / kPerKey] |= Key(v) << (L::kOBits * (kPerKey - 1 - f % kPerKey));
            ++f;
        };
        const unsigned ow = L::owords();
        if (!ow) return;
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
    }
    Key* at(std::size_t h) { return &heap[h * S]; }
    std::size_t size() const { return heap.size() / S; }
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
    void copy_entry(std::size_t to, const Key* from) { copy_entry(at(to), from); }
    // The entry e (S words, not in the heap) placed from the hole h upwards / downwards.
    void sift_up(std::size_t h, const Key* e) {
        while (h > 0) {
            const std::size_t parent = (h - 1) / 2;
            if (!less(at(parent), e)) break;
            copy_entry(h, at(parent));
            h = parent;
        }
        copy_entry(h, e);
    }
    void sift_down(std::size_t h, const Key* e) {
        const std::size_t n = size();
        for (;;) {
            std::size_t c = 2 * h + 1;
            if (c >= n) break;
            if (c + 1 < n && less(at(c), at(c + 1))) ++c;
            if (!less(e, at(c))) break;
            copy_entry(h, at(c));
            h = c;
        }
        copy_entry(h, e);
    }
    // The next monomial of stream i made its entry in e.
    void entry(std::uint32_t i, Key* e) {
        X::add(&shifts[std::size_t(i) * W], streams[i].t->exp, scratch.data());
        key(scratch.data(), e);
        e[K] = i;
    }
    // A new stream b*x^m*t.
    void open(C b, const E* m, P* t) {
        const std::uint32_t i = std::uint32_t(streams.size());
        streams.push_back({b, t});
        shifts.resize(shifts.size() + W);
        X::copy(&shifts[std::size_t(i) * W], m);
        Key e[kMaxKey];
        entry(i, e);
        heap.resize(heap.size() + S);
        sift_up(size() - 1, e);
    }
    // The root's stream moved on: its next entry, or the last one, sifted down.
    void advance_root() {
        Key e[kMaxKey];
        const std::uint32_t i = std::uint32_t(at(0)[K]);
        if (streams[i].t) {
            entry(i, e);
        } else {
            copy_entry(e, at(size() - 1));
            heap.resize(heap.size() - S);
            if (!size()) return;
        }
        sift_down(0, e);
    }
    static constexpr unsigned kMaxKey = 2 * poly::kMaxExpoWords * (64 / L::kOBits) + 3;
};

}  // namespace

template <class I>
poly::Term<I>* Heap_Reduction<I>::reduce_all(P* p, const std::vector<P*>& R, bool by_basis) {
    using D = typename I::D;
    using C = typename D::C;
    using X = typename M::X;
    if (!p) return nullptr;
    static Heap_Work<I> w;
    w.reset();
    // The order in which the reducers are tried.
    if (by_basis) {
        w.order.assign(R.begin(), R.end());
        std::stable_sort(w.order.begin(), w.order.end(), [](P* a, P* b) { return X::greater(a->exp, b->exp) < 0; });
    }
    const std::vector<P*>& tried = by_basis ? w.order : R;
    M::info_string = "Fast reduction monic case";
    X::set_null(w.top.data());
    w.open(D::one(), w.top.data(), p);
    poly::Chain<P> out;
    typename Heap_Work<I>::Key top_key[Heap_Work<I>::kMaxKey];
    while (w.size()) {
        poll_interrupt();
        w.copy_entry(top_key, w.at(0));
        {
            const std::uint32_t i = std::uint32_t(w.at(0)[w.K]);
            X::add(&w.shifts[std::size_t(i) * w.W], w.streams[i].t->exp, w.top.data());
        }
        w.sum.clear();
        // Every stream at this monomial; each goes back with a smaller one.
        do {
            const std::uint32_t i = std::uint32_t(w.at(0)[w.K]);
            auto& s = w.streams[i];
            if (i == 0) {
                w.sum.add(s.t->coef);
                s.t = M::Terms::kill(s.t);  // p is consumed
            } else {
                w.sum.add_mul(s.b, s.t->coef);
                s.t = s.t->next;
            }
            w.advance_root();
        } while (w.size() && w.same(w.at(0), top_key));
        C c;
        if (!w.sum.take(c)) continue;
        P* q = Sugar<I>::reducer(tried, w.top.data());
        if (!q) {
            out.add(M::term(c, w.top.data()));
            continue;
        }
        if (!D::is_one(q->coef)) Fatal("Reduce by a non monic polynomial !\n");
        if (q->next) {
            E m[poly::kMaxExpoWords];
            X::sub(w.top.data(), q->exp, m);
            w.open(D::minus(c), m, q->next);
        }
        D::kill(c);
    }
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
