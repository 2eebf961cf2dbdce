// Ideal operations (ideal_ops.h) for the two builds.
#include "tesk/algo/ideal_ops.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "tesk/algo/hilbert.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/gfc.h"

namespace tesk::algo {

namespace {

Sugar_Stats operation_work;  // of the operation under way, its attempts added up

// The instance an operation of I moves to when its exponents are too narrow (void: none).
template <class I>
struct Wider {
    using type = void;
};
template <>
struct Wider<poly::DRLDRL__GFC> {
    using type = poly::DRLDRL16__GFC;
};

// The pairs that a two-block basis of binomials may keep in its first
// tries: the degree basis of the homogenised route, then the plain loop.
constexpr unsigned degree_pair_limit = 4000, plain_pair_limit = 80000;

// Sugar<I>::groebner, its work added to the operation's; given up past
// pair_limit pairs (0: no limit).
template <class I>
poly::List<I>* counted_groebner(poly::List<I>* F, const Hilbert_Series* hilbert = nullptr, unsigned pair_limit = 0) {
    Sugar_Stats st;
    auto add = [&] {
        operation_work.pairs += st.pairs;
        operation_work.reductions += st.reductions;
        operation_work.zeros += st.zeros;
        operation_work.skipped += st.skipped;
        operation_work.examined += st.examined;
    };
    try {
        Sugar<I>::limit_pairs(pair_limit);
        poly::List<I>* G = Sugar<I>::groebner(F, &st, hilbert);
        add();
        return G;
    } catch (const expo::Range_Overflow&) {
        add();
        throw;
    } catch (const typename Sugar<I>::Pairs_Spent&) {
        add();
        throw;
    }
}

// Only an instance with two blocks of variables eliminates.
template <class I>
void need_two_blocks(const char* what) {
    if constexpr (I::L::kDegBlocks != 2)
        Fatal("%s needs an elimination order: %s has one block of variables\n", what, I::kDMP);
}

// The tag layout: the first block is x_0 alone and the inputs leave it out.
template <class I>
void need_tag_layout(const char* what, std::initializer_list<poly::List<I>*> ls) {
    need_two_blocks<I>(what);
    if (I::L::k() != 1 || I::L::n() < 2)
        Fatal("%s needs a first block of one tag variable, not %u of %u variables\n", what, I::L::k(), I::L::n());
    for (poly::List<I>* l : ls)
        for (; l; l = l->next)
            if (!poly::Dmp<I>::is_eliminated(poly::Dmp<I>::strip(l->elt), 1))
                Fatal("%s: an input holds the tag variable\n", what);
}

// The polynomials of B (released) free of the first k variables, in order.
template <class I>
poly::List<I>* keep_eliminated(poly::List<I>* B, unsigned k) {
    using M = poly::Dmp<I>;
    poly::Chain<poly::List<I>> out;
    while (B) {
        poly::List<I>* c = B;
        B = B->next;
        if (M::is_eliminated(c->elt, k)) {
            out.add(c);
        } else {
            c->next = nullptr;
            M::Lists::kill_all(c);
        }
    }
    return out.finish();
}

// The reduced basis of the Groebner basis B (released): the polynomials
// whose leading monomial no other one divides, monic, their tails reduced.
template <class I>
poly::List<I>* reduce_basis(poly::List<I>* B) {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    using X = typename M::X;
    std::vector<P*> all;
    for (poly::List<I>* c = B; c; c = c->next)
        if (c->elt) all.push_back(M::hMonic(c->elt)), c->elt = nullptr;
    M::Lists::kill_all(B);
    // By increasing leading monomial: a divisor comes before its multiples.
    std::sort(all.begin(), all.end(), [](P* a, P* b) { return X::greater(a->exp, b->exp) < 0; });
    std::vector<P*> kept;
    for (P* p : all) {
        if (M::constante(p)) {  // the whole ring
            for (P* q : all) M::Terms::kill_all(q);
            return M::Lists::cons(M::one(), nullptr);
        }
        bool divided = false;
        for (P* q : kept) divided = divided || X::is_sub(p->exp, q->exp);
        if (divided)
            M::Terms::kill_all(p);
        else
            kept.push_back(p);
    }
    poly::List<I>* out = nullptr;  // decreasing leading monomials: built from the smallest
    // A tail is below its own lead, so holds no multiple of it: every kept
    // polynomial serves as a reducer, the one reduced as its bare lead.
    for (P* lead : kept) {
        P* tail = lead->next;
        lead->next = nullptr;
        lead->next = keep_only_result<I>([&] { return Sugar<I>::reduce_all(tail, kept); });
        out = M::Lists::cons(lead, out);
    }
    return out;
}

// dh := the polynomials of d homogenised by a new last variable; false
// when a term's exponents would not fit the exponent type (the degree
// basis holds the whole degree in one block: the second block's share is
// at most that).
template <class I>
bool homogenise(const Detached_Lists& d, Detached_Lists& dh) {
    using X = typename poly::Dmp<I>::X;
    const unsigned n = d.n;
    dh.n = n + 1;
    dh.exps.clear();
    dh.residues = d.residues;
    dh.polys = d.polys;
    size_t at = 0;
    for (unsigned m : d.polys.empty() ? std::vector<unsigned>{} : d.polys[0]) {
        unsigned top = 0;
        for (unsigned j = 0; j < m; ++j) {
            unsigned deg = 0;
            for (unsigned v = 0; v < n; ++v) deg += d.exps[(at + j) * n + v];
            top = std::max(top, deg);
        }
        for (unsigned j = 0; j < m; ++j, ++at) {
            unsigned deg = 0;
            for (unsigned v = 0; v < n; ++v) {
                const std::uint16_t x = d.exps[at * n + v];
                dh.exps.push_back(x);
                deg += x;
            }
            dh.exps.push_back(std::uint16_t(top - deg));
            if (top - deg > X::kMaxExp || top > X::kMaxDeg) return false;
        }
    }
    return true;
}

// The degree basis of the last system whose block basis was asked, free of
// the exponent type: an operation that leaves the narrow exponents is done
// again in the wide ones, where the degree basis of the same system, which
// fitted, is taken as it was.
struct Degree_Basis_Memo {
    std::int64_t prime = 0;
    Detached_Lists of, basis;
};
Degree_Basis_Memo last_degree_basis;

bool same(const Detached_Lists& a, const Detached_Lists& b) {
    return a.n == b.n && a.exps == b.exps && a.residues == b.residues && a.polys == b.polys;
}

// The reduced basis of F (left intact) for the block order of the layout
// (n, k), through the homogenisation of its ideal; H holds the running
// loop's input.  The layout is given back when it returns.  With
// `eliminated`, only its polynomials free of the first block.
//
// A degree basis B of F, homogenised, is a degree basis of the ideal's
// homogenisation I^h (B's leading monomials are of top degree: they stay
// as they are), so that its leading monomials give the Hilbert series of
// I^h, and the block order's loop runs on B^h, driven by it.  Homogenising
// the generators instead gives a smaller ideal, whose bases carry every
// multiple of h that the ideal itself never needs: on sparse systems of
// high degree (binomials), thousands of polynomials more.
template <class I>
poly::List<I>* homogenised_basis(const Detached_Lists& d, unsigned k, poly::List<I>*& H, bool eliminated,
                                  unsigned degree_pair_limit) {
    using M = poly::Dmp<I>;
    using Ops = Ideal_Ops<I>;
    const unsigned n = d.n;
    // The degree basis: one block of the n variables.
    Degree_Basis_Memo& last = last_degree_basis;
    typename Ops::Detached db, dh;
    if (last.prime == gfc::MAGIC && same(last.of, d)) {
        db = last.basis;
    } else {
        // The whole degree in one block: the user's terms may not fit.
        for (size_t t = 0; t < d.exps.size(); t += n) {
            unsigned deg = 0;
            for (unsigned v = 0; v < n; ++v) deg += d.exps[t + v];
            if (deg > poly::Dmp<I>::X::kMaxDeg) throw expo::Range_Overflow();
        }
        Sugar<I>::set(n, n, 0);
        Ops::attach(d, 0, {&H});
        poly::List<I>* B = counted_groebner<I>(H, nullptr, degree_pair_limit);
        M::Lists::kill_all(H);
        H = B;
        Ops::detach({&H}, db);
        last.prime = gfc::MAGIC;
        last.of = d;
        last.basis = db;
    }
    if (!homogenise<I>(db, dh)) throw expo::Range_Overflow();
    std::vector<std::uint16_t> rows;
    unsigned m = 0;
    size_t at = 0;
    for (unsigned terms : dh.polys.empty() ? std::vector<unsigned>{} : dh.polys[0]) {
        rows.insert(rows.end(), &dh.exps[at * (n + 1)], &dh.exps[at * (n + 1)] + n + 1);  // the lead, h^0
        at += terms;
        ++m;
    }
    Hilbert_Series hs;
    const bool driven = try_hilbert_series(n + 1, m, rows.data(), hs);  // else every pair is reduced
    // The block order with h last in the second block: on homogeneous
    // polynomials, the homogenised block order, so that h = 1 gives a basis of F.
    Sugar<I>::set(n + 1, k, 0);
    Ops::attach(dh, 0, {&H});
    poly::List<I>* G = counted_groebner<I>(H, driven ? &hs : nullptr);
    M::Lists::kill_all(H);
    H = nullptr;
    typename Ops::Detached g;
    Ops::detach({&G}, g);
    for (size_t t = 0; t < g.exps.size(); t += n + 1) g.exps[t + n] = 0;
    Sugar<I>::set(n, k, 0);
    Ops::attach(g, 0, {&G});
    // Kept first: the others' leading monomials divide none of their terms,
    // so their tails, whose products may pass the exponents, need no reduction.
    if (eliminated) G = keep_eliminated<I>(G, k);
    return reduce_basis<I>(G);
}

// The reduced basis of F (left intact) for the two-block order, by the
// homogenised ideal: its Hilbert series, from a degree basis, tells the
// block order's loop which pairs reduce to zero.  Elimination orders make
// the plain loop wander through high degrees; homogeneous and driven, it
// reaches no degree past the homogeneous basis.  The layout is changed on
// the way and given back as it was: F's records stay valid.  With
// `eliminated`, the caller keeps only the polynomials free of the first
// block, and the others may be left out.
template <class I>
poly::List<I>* block_basis(poly::List<I>* F, bool eliminated = false) {
    using M = poly::Dmp<I>;
    using Ops = Ideal_Ops<I>;
    const unsigned n = I::L::n(), k = I::L::k();
    if constexpr (I::L::kDegBlocks != 2) return counted_groebner<I>(F);
    if (k == 0 || k >= n || !M::size(F)) return counted_groebner<I>(F);
    poly::List<I>* c = M::Lists::copy_all(F);
    typename Ops::Detached d;
    Ops::detach({&c}, d);
    // The homogenised route; nullptr when it gives up on the exponents'
    // range, or past `limit` pairs of its degree basis (0: none).
    const auto homogenised = [&](unsigned limit) -> poly::List<I>* {
        poly::List<I>* H = nullptr;  // the running loop's input
        try {
            expo::Overflow_Trap trap;
            return homogenised_basis<I>(d, k, H, eliminated, limit);
        } catch (const expo::Range_Overflow&) {
        } catch (const typename Sugar<I>::Pairs_Spent&) {
        }
        // The loop released its own records, in the layout they were made in.
        M::Lists::kill_all(H);
        Sugar<I>::set(n, k, 0);
        return nullptr;
    };
    // Binomials: the polynomials of either loop stay binomials, a pair
    // costs little and a bound of pairs bounds the time.  Where the degree
    // basis is not found within a few thousand pairs (sparse binomials of
    // high degree may need tens of thousands), the plain loop is tried
    // within a bound before it: it often ends in a fraction of that work.
    // Where it leaves exponents that have wider ones, so do most answers,
    // and the operation moves there at once (the homogenised route there
    // answers whatever it answers here).
    const std::vector<unsigned> terms = d.polys.empty() ? std::vector<unsigned>{} : d.polys[0];
    if (!terms.empty() && std::all_of(terms.begin(), terms.end(), [](unsigned t) { return t <= 2; })) {
        if (poly::List<I>* G = homogenised(degree_pair_limit)) return G;
        try {
            expo::Overflow_Trap trap;
            return counted_groebner<I>(F, nullptr, plain_pair_limit);
        } catch (const expo::Range_Overflow&) {
            Sugar<I>::set(n, k, 0);
            if constexpr (!std::is_void_v<typename Wider<I>::type>) throw;
        } catch (const typename Sugar<I>::Pairs_Spent&) {
            Sugar<I>::set(n, k, 0);
        }
    }
    if (poly::List<I>* G = homogenised(0)) return G;
    // The homogenised ideal leaves the exponents' range, or its loop does:
    // the plain loop, which may not.
    return counted_groebner<I>(F);
}

// A list released when it goes out of scope, unless taken: what an
// operation holds while a computation may give up on an overflow.
template <class I>
struct Owned {
    poly::List<I>* l = nullptr;
    explicit Owned(poly::List<I>* x = nullptr) : l(x) {}
    ~Owned() { poly::Dmp<I>::Lists::kill_all(l); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    poly::List<I>* take() { return std::exchange(l, nullptr); }
};

// The operations themselves (ideal_ops.h), in the current layout; each
// calls the others' bodies, so that an overflow anywhere in it is seen by
// the whole operation.
template <class I>
poly::List<I>* eliminate_of(poly::List<I>* F) {
    return keep_eliminated<I>(block_basis<I>(F, true), I::L::k());
}

template <class I>
poly::List<I>* intersect_of(poly::List<I>* F, poly::List<I>* G) {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    std::vector<std::uint16_t> e(I::L::n(), 0);
    e[0] = 1;
    P* t = M::monom_raw(e.data(), I::D::one());
    P* u = M::add_dd(M::one(), M::neg_d(M::copy(t)));  // 1 - t
    poly::Chain<poly::List<I>> H;
    bool in_F = false, in_G = false;
    for (poly::List<I>* c = F; c; c = c->next)
        if (P* p = M::strip(c->elt)) H.add(M::Lists::cons(M::mult(t, p), nullptr)), in_F = true;
    for (poly::List<I>* c = G; c; c = c->next)
        if (P* p = M::strip(c->elt)) H.add(M::Lists::cons(M::mult(u, p), nullptr)), in_G = true;
    M::Terms::kill_all(t);
    M::Terms::kill_all(u);
    Owned<I> h(H.finish());
    if (!in_F || !in_G) return nullptr;  // the zero ideal
    return keep_eliminated<I>(block_basis<I>(h.l, true), 1);
}

template <class I>
poly::List<I>* intersect_all_of(const std::vector<poly::List<I>*>& ls) {
    using M = poly::Dmp<I>;
    // From the given generators rather than a basis: a basis has more and
    // larger polynomials for the tag to multiply.
    if (ls.size() == 1) return block_basis<I>(ls[0]);
    Owned<I> R(intersect_of<I>(ls[0], ls[1]));
    for (size_t i = 2; i < ls.size() && R.l; ++i) {
        poly::List<I>* S = intersect_of<I>(R.l, ls[i]);
        M::Lists::kill_all(R.l);
        R.l = S;
    }
    return R.take();
}

template <class I>
poly::List<I>* normal_forms_of(poly::List<I>* G, poly::List<I>* Q) {
    using M = poly::Dmp<I>;
    Owned<I> out;
    poly::List<I>** at = &out.l;
    for (poly::List<I>* c = Q; c; c = c->next, at = &(*at)->next)
        *at = M::Lists::cons(Sugar<I>::normal_form(M::copy(c->elt), G), nullptr);
    return out.take();
}

// The normal form by G of the product of F's two polynomials, as a list.
template <class I>
poly::List<I>* product_normal_form_of(poly::List<I>* G, poly::List<I>* F) {
    using M = poly::Dmp<I>;
    return M::Lists::cons(Sugar<I>::normal_form(M::mult(F->elt, F->next->elt), G), nullptr);
}

template <class I>
poly::List<I>* quotient_of(poly::List<I>* F, poly::List<I>* G) {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    Owned<I> B(block_basis<I>(F)), R;
    bool first = true;
    for (poly::List<I>* c = G; c; c = c->next) {
        P* g = M::strip(c->elt);
        if (!g) continue;
        Owned<I> Q;
        if (!Sugar<I>::normal_form(M::copy(g), B.l)) {
            Q.l = M::Lists::cons(M::one(), nullptr);  // g in I: I : g is the whole ring
        } else {
            // I : g = (I ∩ (g)) / g, each quotient exact.
            Owned<I> gl(M::Lists::cons(M::copy(g), nullptr));
            Owned<I> K(intersect_of<I>(F, gl.l));
            for (poly::List<I>* k = K.l; k; k = k->next) k->elt = M::exquo(k->elt, gl.l);
            Q.l = block_basis<I>(K.l);
        }
        if (first) {
            R.l = Q.take(), first = false;
        } else {
            poly::List<I>* S = intersect_of<I>(R.l, Q.l);
            M::Lists::kill_all(R.l);
            R.l = S;
        }
    }
    return first ? M::Lists::cons(M::one(), nullptr) : R.take();
}

// body(in), an operation on lists of I, computed where its exponents fit:
// when the computation leaves I's range, it gives up, its lists released,
// and body runs again on copies of in in the wider instance, in the same
// layout; its answer comes back to I, fatal when it does not fit (the first
// `lead` variables, a tag, are not the user's).  in is left intact.  With
// went_wide, set once the computation moves: the attempt in I is skipped
// when it is already set.
template <class I, class Body>
poly::List<I>* with_room(const std::vector<poly::List<I>*>& in, unsigned lead, Body body, bool* went_wide = nullptr) {
    using W = typename Wider<I>::type;
    operation_work = {};
    if constexpr (std::is_void_v<W>) {
        return body(in);
    } else {
        using M = poly::Dmp<I>;
        if (!went_wide || !*went_wide) {
            try {
                expo::Overflow_Trap trap;
                return body(in);
            } catch (const expo::Range_Overflow&) {
                // Nothing of the attempt is left, and the layout is the caller's.
            }
            if (went_wide) *went_wide = true;
        }
        const unsigned n = I::L::n(), k = I::L::k();
        std::vector<poly::List<I>*> copies;
        std::vector<poly::List<I>**> from;
        for (poly::List<I>* l : in) copies.push_back(M::Lists::copy_all(l));
        for (poly::List<I>*& l : copies) from.push_back(&l);
        Detached_Lists d;
        Ideal_Ops<I>::detach(from, d);
        Sugar<W>::set(n, k, 0);
        std::vector<poly::List<W>*> wide(in.size(), nullptr);
        std::vector<poly::List<W>**> to;
        for (poly::List<W>*& l : wide) to.push_back(&l);
        Ideal_Ops<W>::attach(d, 0, to);
        poly::List<W>* r = body(wide);
        for (poly::List<W>* l : wide) poly::Dmp<W>::Lists::kill_all(l);
        Detached_Lists a;
        Ideal_Ops<W>::detach({&r}, a);
        for (size_t t = 0; n && t < a.exps.size(); t += n) poly::Dmp<I>::X::check_exponents(&a.exps[t], lead);
        poly::List<I>* out = nullptr;
        Ideal_Ops<I>::attach(a, 0, {&out});
        return out;
    }
}

}  // namespace

Sugar_Stats last_operation_work() { return operation_work; }

template <class I>
poly::List<I>* Ideal_Ops<I>::groebner(Lst* F) {
    return with_room<I>({F}, 0, [](auto& l) { return block_basis(l[0]); });
}

template <class I>
poly::List<I>* Ideal_Ops<I>::eliminate(Lst* F) {
    need_two_blocks<I>("The elimination");
    return with_room<I>({F}, 0, [](auto& l) { return eliminate_of(l[0]); });
}

template <class I>
poly::List<I>* Ideal_Ops<I>::intersect(Lst* F, Lst* G) {
    need_tag_layout<I>("The intersection", {F, G});
    return with_room<I>({F, G}, 1, [](auto& l) { return intersect_of(l[0], l[1]); });
}

template <class I>
poly::List<I>* Ideal_Ops<I>::intersect(LL* L) {
    if (!L) return M::Lists::cons(M::one(), nullptr);
    need_tag_layout<I>("The intersection", {L->elt});
    std::vector<Lst*> ls;
    for (LL* c = L; c; c = c->next) ls.push_back(c->elt);
    return with_room<I>(ls, 1, [](auto& l) { return intersect_all_of(l); });
}

template <class I>
poly::List<I>* Ideal_Ops<I>::quotient(Lst* F, Lst* G) {
    need_tag_layout<I>("The quotient", {F, G});
    return with_room<I>({F, G}, 1, [](auto& l) { return quotient_of(l[0], l[1]); });
}

template <class I>
poly::List<I>* Ideal_Ops<I>::normal_forms(Lst* G, Lst* Q) {
    // A reduction's products may pass the exponents that its input and
    // its normal form keep.
    return with_room<I>({G, Q}, 0, [](auto& l) { return normal_forms_of(l[0], l[1]); });
}

template <class I>
poly::Term<I>* Ideal_Ops<I>::normal_form_of_product(Lst* G, P* a, P* b, bool* went_wide) {
    // The product, and a reduction's products, may pass the exponents that
    // the factors, the basis and the normal form keep.
    Lst* F = M::Lists::cons(a, M::Lists::cons(b, nullptr));
    Lst* N = with_room<I>({G, F}, 0, [](auto& l) { return product_normal_form_of(l[0], l[1]); }, went_wide);
    M::Lists::free_all(F);
    P* p = N->elt;
    M::Lists::free_all(N);
    return p;
}

template <class I>
void Ideal_Ops<I>::detach(const std::vector<Lst**>& ls, Detached& d) {
    const unsigned n = I::L::n(), k = I::D::residues();
    d.n = n;
    std::vector<std::uint16_t> e(n + 1);
    std::vector<std::uint32_t> r(k);
    for (Lst** pl : ls) {
        std::vector<unsigned> counts;
        for (Lst* c = *pl; c; c = c->next) {
            unsigned m = 0;
            while (P* t = M::extract_raw_first(c, e.data(), r.data())) {
                M::Terms::kill(t);
                d.exps.insert(d.exps.end(), e.begin(), e.begin() + n);
                d.residues.insert(d.residues.end(), r.begin(), r.end());
                ++m;
            }
            counts.push_back(m);
        }
        d.polys.push_back(std::move(counts));
        M::Lists::kill_all(*pl);
        *pl = nullptr;
    }
}

template <class I>
void Ideal_Ops<I>::attach(const Detached& d, int shift, const std::vector<Lst**>& ls) {
    const unsigned n = I::L::n(), k = I::D::residues();
    std::vector<std::uint16_t> e(n + 1);
    size_t at = 0;
    for (size_t i = 0; i < ls.size(); ++i) {
        poly::Chain<Lst> out;
        for (unsigned m : i < d.polys.size() ? d.polys[i] : std::vector<unsigned>{}) {
            poly::Chain<P> terms;
            for (unsigned j = 0; j < m; ++j, ++at) {
                std::fill(e.begin(), e.end(), 0);
                for (unsigned v = 0; v < d.n; ++v) {
                    const std::uint16_t x = d.exps[at * d.n + v];
                    const long w = long(v) + shift;
                    if (!x) continue;
                    if (w < 0 || w >= long(n)) Fatal("Variable %u holds an exponent but has no place among %u\n", v, n);
                    e[size_t(w)] = x;
                }
                if (P* t = M::monom_raw(e.data(), &d.residues[at * k], k)) terms.add(t);
            }
            out.add(M::Lists::cons(M::sort_and_merge(terms.finish()), nullptr));
        }
        *ls[i] = out.finish();
    }
}

template struct Ideal_Ops<poly::BigDexp__VGF>;
template struct Ideal_Ops<poly::DRLDRL__GFC>;
template struct Ideal_Ops<poly::DRLDRL16__GFC>;

}  // namespace tesk::algo
