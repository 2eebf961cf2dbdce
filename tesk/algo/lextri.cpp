// Lextriangular decomposition (lextri.h).
#include "tesk/algo/lextri.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "tesk/algo/ideal_ops.h"
#include "tesk/algo/lex_walk.h"
#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/gfc.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/poly/staircase.h"

namespace tesk::algo {

namespace {

using I = Lextri::I;
using M = poly::Dmp<I>;
using P = poly::Term<I>;
using Lst = poly::List<I>;
using LL = poly::List_List<I>;
using D = I::D;
using C = D::C;

// The reduced basis of the ideal of F (intact) for the blocks in force, by
// the ideal-operations driver told the length of the first block.
Lst* basis(Lst* F) {
    want_block = int(I::L::k());
    return Ideal_Ops<I>::groebner(F);
}

// Coordinates on the staircase of a quotient.
using Vec = std::vector<C>;

// Reductions by a zero-dimensional reduced basis G (not owned): normal forms
// of products, the same where a reduction's products pass the exponents.
struct Reducers {
    Lst* G;
    std::vector<P*> R;   // monic copies of G's polynomials
    std::vector<P*> xs;  // the variables
    bool wide = false;   // a reduction has passed the exponents: the next that may, go wide at once
    explicit Reducers(Lst* G_) : G(G_) {
        if (!Normal_Forms<I>::monic_reducers(G, R)) Fatal("Lextriangular decomposition: a basis that is not monic\n");
        const unsigned n = I::L::n();
        for (unsigned k = 0; k < n; ++k) {
            Expo e(n, 0);
            e[k] = 1;
            xs.push_back(M::monom_raw(e.data(), C(1)));
        }
    }
    ~Reducers() {
        for (P* p : R) M::Terms::kill_all(p);
        for (P* p : xs) M::Terms::kill_all(p);
    }
    Reducers(const Reducers&) = delete;
    Reducers& operator=(const Reducers&) = delete;
    // The normal form of a*b (both intact).  The quotients are worked in one
    // block, ordered by degree first: no term of the reduction has more than
    // a*b's degree, and within the exponents' range it is made here; past
    // it, by Ideal_Ops, in wider exponents where a product passes the range.
    P* product(P* a, P* b) {
        if (degree(a) + degree(b) <= M::X::kMaxExp) return Sugar<I>::reduce_all(M::mult(a, b), R);
        return Ideal_Ops<I>::normal_form_of_product(G, a, b, &wide);
    }
    static unsigned degree(const P* p) {
        unsigned d = 0;
        for (; p; p = p->next) d = std::max(d, unsigned(M::X::totalDegree(p->exp)));
        return d;
    }
};

// The two ways of working in the quotient by a zero-dimensional reduced
// basis share one interface: Elt, an element (a normal form); Kept, one held
// for later products, and keep(v); one(); the products times(v, var) (v an
// Elt or a Kept) and times(v, c); coordinates(v) on the staircase;
// combination(a, low, vs) = sum a[k] * vs[k - low], k from low; extended(gens),
// the reduced basis of the ideal with gens added; and square_bytes(), the
// bytes the route holds per entry of the dim x dim square, at most.

// The quotient worked by linear algebra: its standard monomials, the
// coordinates of a normal form, and the multiplication by a variable as a
// matrix, made when first asked.  Products of normal forms then cost linear
// algebra on the quotient, not reductions of products, and a larger ideal's
// basis no S-polynomials.
struct Table_Quotient {
    using Elt = Vec;
    // The multiplication matrices of the n variables, the rows and
    // combinations of a Span, and the coordinates of the standard monomials
    // or of the powers beside it.
    static unsigned square_bytes() { return unsigned((I::L::n() + 3) * sizeof(C)); }
    // The multiplication by a variable x: for standard monomial r, place[r]
    // is the place of x * stair[r] when that is standard (most are), else
    // dim + the row of border that holds the coordinates of its normal form.
    // Only the border's rows are dense: at most the estimate's matrix.
    struct Mult {
        std::vector<unsigned> place;
        std::vector<Vec> border;
    };
    unsigned n;
    unsigned dim;
    Reducers red;
    std::vector<Expo> stair;           // standard monomials, greatest first
    std::map<Expo, unsigned> column;   // standard monomial -> its place in stair
    std::vector<Mult> mult;            // per variable, empty until asked
    Table_Quotient(Lst* G, unsigned dim_) : n(I::L::n()), dim(dim_), red(G), mult(n) {
        P* st = poly::Staircase<I>::escalier(G);
        for (P* t = st; t; t = t->next) stair.push_back(exponents<I>(t, n));
        M::Terms::kill_all(st);
        if (stair.size() != dim)
            Fatal("Lextriangular decomposition: %u standard monomials for %u solutions\n", unsigned(stair.size()), dim);
        for (unsigned k = 0; k < dim; ++k) column.emplace(stair[k], k);
    }
    Vec coordinates(const Vec& v) const { return v; }
    Vec coordinates(const P* p) const {
        Vec v(dim, 0);
        for (; p; p = p->next) {
            const auto it = column.find(exponents<I>(p, n));
            if (it == column.end())
                Fatal("Lextriangular decomposition: a normal form leaves the staircase of %u monomials\n", dim);
            v[it->second] = p->coef;
        }
        return v;
    }
    Vec one() const {
        Vec v(dim, 0);
        v[column.at(Expo(n, 0))] = 1;
        return v;
    }
    // The multiplication by x_var, made when first asked.
    const Mult& matrix(unsigned var) {
        Mult& m = mult[var];
        if (!m.place.empty()) return m;
        m.place.resize(dim);
        for (unsigned r = 0; r < dim; ++r) {
            Expo e = stair[r];
            ++e[var];
            if (const auto it = column.find(e); it != column.end()) {
                m.place[r] = it->second;
                continue;
            }
            P* t = M::monom_raw(stair[r].data(), C(1));
            P* p = red.product(t, red.xs[var]);
            M::Terms::kill_all(t);
            m.place[r] = dim + unsigned(m.border.size());
            m.border.push_back(coordinates(p));
            M::Terms::kill_all(p);
        }
        return m;
    }
    // out += a * x_var * stair[r].
    void add_row(Vec& out, const Mult& m, unsigned r, C a) const {
        if (m.place[r] < dim) {
            D::add_d(out[m.place[r]], a);
            return;
        }
        const Vec& row = m.border[m.place[r] - dim];
        for (unsigned k = 0; k < dim; ++k)
            if (row[k]) D::lin_d(out[k], a, row[k]);
    }
    // x_var times the element of coordinates v.
    Vec times(const Vec& v, unsigned var) {
        const Mult& m = matrix(var);
        Vec out(dim, 0);
        for (unsigned r = 0; r < dim; ++r)
            if (v[r]) add_row(out, m, r, v[r]);
        return out;
    }
    // An element kept for later products: its nonzero coordinates (at, val)
    // where they are fewer than half, else val dense (at empty).  The
    // normal forms of a lexicographic basis's walk are often sparse.
    struct Kept {
        std::vector<unsigned> at;
        Vec val;
    };
    Kept keep(Vec v) const {
        unsigned nonzero = 0;
        for (C x : v) nonzero += x != 0;
        if (2 * nonzero >= dim) return {{}, std::move(v)};
        Kept k;
        k.at.reserve(nonzero);
        k.val.reserve(nonzero);
        for (unsigned r = 0; r < dim; ++r)
            if (v[r]) k.at.push_back(r), k.val.push_back(v[r]);
        return k;
    }
    Vec times(const Kept& k, unsigned var) {
        if (k.at.empty()) return times(k.val, var);
        const Mult& m = matrix(var);
        Vec out(dim, 0);
        for (std::size_t i = 0; i < k.at.size(); ++i) add_row(out, m, k.at[i], k.val[i]);
        return out;
    }
    // c times the element of coordinates v.
    Vec times(const Vec& v, const P* c) {
        Vec out(dim, 0);
        for (; c; c = c->next) {
            const Expo e = exponents<I>(c, n);
            Vec w = v;
            for (unsigned j = 0; j < n; ++j)
                for (unsigned k = 0; k < e[j]; ++k) w = times(w, j);
            for (unsigned k = 0; k < dim; ++k)
                if (w[k]) D::lin_d(out[k], c->coef, w[k]);
        }
        return out;
    }
    // The reduced basis of the ideal of the basis behind Q and the elements
    // of coordinates gens.  Their ideal W in the quotient, the span of their
    // multiples, is kept in reduced echelon form, each row led by its
    // greatest monomial: the rows' leads and the basis's are the leading
    // monomials of the ideal (a member's normal form lies in W, led by its
    // own lead); each minimal one, less its normal form modulo W, is a
    // polynomial of the reduced basis.  Linear algebra, no S-polynomials.
    Lst* extended(std::vector<Vec> todo) {
        std::vector<Vec> rows;
        std::vector<unsigned> pivots;
        // v less its entries on the pivots.
        const auto reduce = [&](Vec& v) {
            for (size_t i = 0; i < rows.size(); ++i)
                if (const C f = v[pivots[i]]) {
                    const C g = D::minus(f);
                    for (unsigned k = pivots[i]; k < dim; ++k)
                        if (rows[i][k]) D::lin_d(v[k], g, rows[i][k]);
                }
        };
        while (!todo.empty()) {
            Vec v = std::move(todo.back());
            todo.pop_back();
            reduce(v);
            unsigned p = 0;
            while (p < dim && !v[p]) ++p;
            if (p == dim) continue;
            const C u = D::inv(v[p]);
            for (C& x : v) x = D::mult(x, u);
            for (Vec& r : rows)
                if (const C f = r[p]) {
                    const C g = D::minus(f);
                    for (unsigned k = p; k < dim; ++k)
                        if (v[k]) D::lin_d(r[k], g, v[k]);
                }
            for (unsigned var = 0; var < n; ++var) todo.push_back(times(v, var));
            rows.push_back(std::move(v));
            pivots.push_back(p);
        }
        // The leads: the basis's (its reducers, monic) and the rows'.
        std::vector<Expo> leads;
        for (P* b : red.R) leads.push_back(exponents<I>(b, n));
        for (unsigned p : pivots) leads.push_back(stair[p]);
        std::vector<P*> out;
        for (size_t i = 0; i < leads.size(); ++i) {
            bool minimal = true;
            for (size_t j = 0; j < leads.size() && minimal; ++j)
                minimal = j == i || !divides(leads[j], leads[i]);
            if (!minimal) continue;
            poly::Chain<P> c;
            Vec v;
            if (i < red.R.size()) {  // lead + its tail's normal form modulo W
                c.add(M::monom_raw(leads[i].data(), C(1)));
                v = coordinates(red.R[i]->next);
                reduce(v);
            } else {
                v = rows[i - red.R.size()];
            }
            for (unsigned k = 0; k < dim; ++k)
                if (v[k]) c.add(M::monom_raw(stair[k].data(), v[k]));
            out.push_back(c.finish());
        }
        std::sort(out.begin(), out.end(), [](P* a, P* b) { return M::X::greater(a->exp, b->exp) > 0; });
        Lst* B = nullptr;
        for (size_t i = out.size(); i-- > 0;) B = M::Lists::cons(out[i], B);
        return B;
    }
    // The coordinates of sum a[k] * vs[k - low], k from low.
    Vec combination(const std::vector<C>& a, std::size_t low, const std::vector<Vec>& vs) const {
        Vec v(dim, 0);
        for (std::size_t k = low; k < a.size(); ++k)
            if (a[k])
                for (unsigned i = 0; i < dim; ++i)
                    if (vs[k - low][i]) D::lin_d(v[i], a[k], vs[k - low][i]);
        return v;
    }
};

// A normal form of the reducing quotient, owned.
class Poly {
public:
    explicit Poly(P* p = nullptr) : p_(p) {}
    Poly(Poly&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Poly& operator=(Poly&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Poly() { M::Terms::kill_all(p_); }
    P* get() const { return p_; }

private:
    P* p_;
};

// The quotient worked by reductions: products reduced by the basis, a larger
// ideal's basis by S-polynomials.  Slower where normal forms are dense or the
// ideal splits, but its only dim x dim tables are a Span's: where the
// multiplication matrices would pass the memory allowed, it still answers.
struct Reducing_Quotient {
    using Elt = Poly;
    using Kept = Poly;
    // The rows and combinations of a Span.
    static unsigned square_bytes() { return unsigned(2 * sizeof(C)); }
    unsigned n;
    unsigned dim;
    Reducers red;
    std::map<Expo, unsigned> column;   // standard monomial -> coordinate, numbered as met
    Reducing_Quotient(Lst* G, unsigned dim_) : n(I::L::n()), dim(dim_), red(G) {}
    Poly one() const { return Poly(M::one()); }
    Poly keep(Poly v) const { return v; }
    Poly times(const Poly& v, unsigned var) { return Poly(red.product(v.get(), red.xs[var])); }
    Poly times(const Poly& v, P* c) { return Poly(red.product(v.get(), c)); }
    Vec coordinates(const Poly& v) {
        Vec c(dim, 0);
        for (const P* p = v.get(); p; p = p->next) {
            auto [it, fresh] = column.emplace(exponents<I>(p, n), unsigned(column.size()));
            if (it->second >= dim)
                Fatal("Lextriangular decomposition: a normal form leaves the staircase of %u monomials\n", dim);
            c[it->second] = p->coef;
        }
        return c;
    }
    Poly combination(const std::vector<C>& a, std::size_t low, const std::vector<Poly>& vs) const {
        P* p = nullptr;
        for (std::size_t k = low; k < a.size(); ++k)
            if (a[k]) p = M::add_dd(p, M::copy_scal(a[k], vs[k - low].get()));
        return Poly(p);
    }
    Lst* extended(std::vector<Poly> gens) const {
        Lst* F = red.G;
        for (Poly& g : gens) F = M::Lists::cons(g.get(), F);
        Lst* B = basis(F);
        while (F != red.G) F = M::Lists::kill_top(F);
        return B;
    }
};

// One element as the list extended() takes (an initializer list would copy).
template <class E>
std::vector<E> just(E e) {
    std::vector<E> v;
    v.push_back(std::move(e));
    return v;
}

// Vectors added one at a time, each kept when independent of those kept
// before, else written as their combination.  Every kept row is 1 at its
// pivot and 0 at the pivots of the rows before it.
struct Span {
    std::vector<std::vector<C>> rows, combs;  // row = combination of the kept vectors
    std::vector<unsigned> pivots;
    unsigned size() const { return unsigned(pivots.size()); }
    // true when v is kept; false with v = sum lambda[i] * (kept vector i).
    bool add(std::vector<C> v, std::vector<C>& lambda) {
        const unsigned s = size();
        std::vector<C> comb(s + 1, 0);
        comb[s] = 1;
        for (unsigned i = 0; i < s; ++i) {
            const C f = v[pivots[i]];
            if (!f) continue;
            const C g = D::minus(f);
            for (unsigned k = pivots[i]; k < v.size(); ++k)
                if (rows[i][k]) D::lin_d(v[k], g, rows[i][k]);
            for (unsigned k = 0; k <= i; ++k)
                if (combs[i][k]) D::lin_d(comb[k], g, combs[i][k]);
        }
        unsigned p = 0;
        while (p < v.size() && !v[p]) ++p;
        if (p == v.size()) {  // comb . (kept, v) = 0
            lambda.assign(s, 0);
            for (unsigned k = 0; k < s; ++k) lambda[k] = D::minus(comb[k]);
            return false;
        }
        const C u = D::inv(v[p]);
        for (C& x : v) x = D::mult(x, u);
        for (C& x : comb) x = D::mult(x, u);
        rows.push_back(std::move(v));
        combs.push_back(std::move(comb));
        pivots.push_back(p);
        return true;
    }
};

// The monic minimal polynomial m of c on the quotient (m[k]: coefficient of
// t^k) and c^k, k < deg m.
template <class E>
struct Min_Poly {
    std::vector<C> m;
    std::vector<E> powers;
};

template <class Q>
Min_Poly<typename Q::Elt> minimal_polynomial(Q& q, P* c) {
    Min_Poly<typename Q::Elt> r;
    Span s;
    std::vector<C> lambda;
    typename Q::Elt v = q.one();
    while (s.add(q.coordinates(v), lambda)) {
        r.powers.push_back(std::move(v));
        v = q.times(r.powers.back(), c);
    }
    r.m.assign(lambda.size() + 1, 0);
    for (size_t k = 0; k < lambda.size(); ++k) r.m[k] = D::minus(lambda[k]);
    r.m.back() = 1;
    return r;
}

// A polynomial of the decomposition needs x_j^d: fatal when the exponents of
// the prime-field build cannot hold it (the system has too many zeros).
void check_exponent(unsigned j, std::size_t d) {
    if (d > max_exponent_DRLDRL) {
        Var_Name nb;
        Fatal("Lextriangular decomposition: %s^%u does not fit the exponents of the prime-field build (at most %u)\n",
              M::X::var_name(j, nb), unsigned(d), max_exponent_DRLDRL);
    }
}

// Dense univariate polynomials modulo the prime (coefficient of t^k at k, no
// zero on top): a minimal polynomial's degree may pass what an exponent holds.
namespace dense {

using U = std::vector<C>;

void trim(U& a) {
    while (!a.empty() && !a.back()) a.pop_back();
}
U monic(U a) {
    if (a.empty()) return a;
    const C u = D::inv(a.back());
    for (C& x : a) x = D::mult(x, u);
    return a;
}
U derivative(const U& a) {
    U d(a.size() > 1 ? a.size() - 1 : 0, 0);
    for (size_t k = 1; k < a.size(); ++k) d[k - 1] = D::mult(a[k], C(k % std::uint64_t(gfc::MAGIC)));
    trim(d);
    return d;
}
// a = q b + r; q into *q when asked; returns r.
U divide(U a, const U& b, U* q = nullptr) {
    const C u = D::inv(b.back());
    if (q) q->assign(a.size() >= b.size() ? a.size() - b.size() + 1 : 0, 0);
    while (a.size() >= b.size()) {
        const size_t s = a.size() - b.size();
        const C f = D::mult(a.back(), u);
        if (q) (*q)[s] = f;
        const C g = D::minus(f);
        for (size_t k = 0; k < b.size(); ++k)
            if (b[k]) D::lin_d(a[s + k], g, b[k]);
        a.pop_back();  // its top is 0 now
        trim(a);
    }
    return a;
}
U gcd(U a, U b) {
    while (!b.empty()) {
        U r = divide(a, b);
        a = std::move(b);
        b = std::move(r);
    }
    return monic(std::move(a));
}
U quotient(const U& a, const U& b) {
    U q;
    divide(a, b, &q);
    trim(q);
    return q;
}
U times(const U& a, const U& b) {
    U c(a.size() + b.size() - 1, 0);
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t k = 0; k < b.size(); ++k)
            if (a[i] && b[k]) D::lin_d(c[i + k], a[i], b[k]);
    trim(c);
    return c;
}

// The monic square-free part of m (not zero), in characteristic p: u = m /
// gcd(m, m') holds the factors of a multiplicity prime to p, once each;
// those of a multiplicity p*k are in the gcd, whose square-free part is then
// joined to u.  A zero derivative makes m a p-th power, m(t) = r(t)^p with
// r's coefficients those of m (a^p = a modulo p).
U square_free(const U& m) {
    if (m.size() <= 1) return monic(m);
    const U d = derivative(m);
    if (d.empty()) {
        const size_t p = size_t(gfc::MAGIC);
        U r((m.size() - 1) / p + 1, 0);
        for (size_t k = 0; k < m.size(); k += p) r[k / p] = m[k];
        return square_free(r);
    }
    const U g = gcd(m, d);
    const U u = monic(quotient(m, g));
    if (g.size() <= 1) return u;
    const U r = square_free(g);  // u * r / gcd(u, r)
    return monic(times(u, quotient(r, gcd(u, r))));
}

}  // namespace dense

// The square-free part of each variable's minimal polynomial added to the
// reduced zero-dimensional basis G (released): the basis of the radical.
template <class Q>
Lst* radical(Lst* G, unsigned dim) {
    const unsigned n = I::L::n();
    Lst* B = nullptr;
    {
        Q q(G, dim);
        std::vector<typename Q::Elt> added;
        Expo e(n, 0);
        for (unsigned j = 0; j < n; ++j) {
            e[j] = 1;
            P* x = M::monom_raw(e.data(), C(1));
            e[j] = 0;
            const Min_Poly<typename Q::Elt> mp = minimal_polynomial(q, x);
            M::Terms::kill_all(x);
            // The square-free part r(x_j) joins the basis as its normal
            // form, sum r_k NF(x_j^k) (k below the minimal polynomial's
            // degree): the same ideal with G, without reducing a high power
            // of x_j through every monomial below it.
            const dense::U r = mp.m.size() > 2 ? dense::square_free(mp.m) : dense::U{};
            if (!r.empty() && r.size() < mp.m.size()) added.push_back(q.combination(r, 0, mp.powers));
        }
        if (!added.empty()) B = q.extended(std::move(added));
    }
    if (!B) return G;
    M::Lists::kill_all(G);
    return B;
}

// One polynomial of a reduced lexicographic basis: its leading monomial, main
// variable (the first with an exponent in it) and the polynomial itself.
struct Lex_Poly {
    Expo lead;
    unsigned main;
    P* p;
};

// The reduced lexicographic basis of the ideal of the reduced basis behind q,
// by increasing leading monomial: a normal form on the walk that depends on
// the earlier ones gives a basis polynomial.
template <class Q>
std::vector<Lex_Poly> lex_basis(Q& q) {
    const unsigned n = q.n;
    std::vector<Lex_Poly> out;
    std::vector<typename Q::Kept> nf;  // of each standard monomial
    Span s;
    std::vector<C> lambda;
    Lex_Walk w(n);
    Expo e;
    unsigned from, var;
    while (w.next(&e, &from, &var)) {
        typename Q::Elt p = nf.empty() ? q.one() : q.times(nf[from], var);
        if (s.add(q.coordinates(p), lambda)) {
            nf.push_back(q.keep(std::move(p)));
            w.standard(e);
            continue;
        }
        for (unsigned k = 0; k < n; ++k) check_exponent(k, e[k]);
        P* r = M::monom_raw(e.data(), C(1));
        for (unsigned l = 0; l < lambda.size(); ++l)
            if (lambda[l]) r = M::add_dd(r, M::monom_raw(w.stair()[l].data(), D::minus(lambda[l])));
        unsigned main = 0;
        while (main < n && !e[main]) ++main;
        out.push_back({e, main, r});
        w.leading(e);
    }
    if (w.stair().size() != q.dim)
        Fatal("Lextriangular decomposition: %u standard monomials for %u solutions\n", unsigned(w.stair().size()),
              q.dim);
    return out;
}

// The leading coefficient of l in its main variable (a polynomial in the
// variables after it).
P* initial(const Lex_Poly& l, unsigned n) {
    P* c = nullptr;
    for (P* t = l.p; t; t = t->next) {
        Expo e = exponents<I>(t, n);
        if (e[l.main] != l.lead[l.main]) continue;
        e[l.main] = 0;
        c = M::add_dd(c, M::monom_raw(e.data(), t->coef));
    }
    return c;
}

// The lowest variable with two polynomials in L (by increasing leading
// monomial), or n when each variable has one, monic in it: L is triangular.
unsigned split_level(const std::vector<Lex_Poly>& L, unsigned n) {
    std::vector<unsigned> count(n, 0);
    for (const Lex_Poly& l : L) ++count[l.main];
    for (unsigned j = n; j-- > 0;)
        if (count[j] != 1) return j;
    return n;
}

// The radical ideal of the reduced basis B, with d zeros, of a state reached
// after `splits` splits: its triangular set onto done, or its two parts onto
// todo.
template <class Q>
void split_or_finish(Lst* B, unsigned d, int splits, sState*& todo, sState*& done) {
    const unsigned n = I::L::n();
    Q q(B, d);
    std::vector<Lex_Poly> L = lex_basis(q);
    const unsigned j = split_level(L, n);
    if (j == n) {
        Lst* T = nullptr;
        for (const Lex_Poly& l : L) T = M::Lists::cons(l.p, T);
        done = new sState(splits, nullptr, T, done);
        return;
    }
    const Lex_Poly* f = nullptr;
    for (const Lex_Poly& l : L)
        if (l.main == j && !f) f = &l;
    P* c = initial(*f, n);
    if (M::constante(c))
        Fatal("Lextriangular decomposition: two basis polynomials in x%u, the smallest monic\n", j + 1);
    // Where c vanishes, and where it does not: q(c) with q the minimal
    // polynomial of c, its roots at 0 divided out.
    typename Q::Elt qc;
    {
        const Min_Poly<typename Q::Elt> mp = minimal_polynomial(q, c);
        unsigned low = 0;
        while (!mp.m[low]) ++low;
        if (low == 0) Fatal("Lextriangular decomposition: a leading coefficient that vanishes nowhere\n");
        qc = q.combination(mp.m, low, mp.powers);
    }
    todo = new sState(splits + 1, q.extended(just(std::move(qc))), nullptr, todo);
    todo = new sState(splits + 1, q.extended(just(q.times(q.one(), c))), nullptr, todo);
    M::Terms::kill_all(c);
    for (const Lex_Poly& l : L) M::Terms::kill_all(l.p);
}

}  // namespace

void Lextri::init() {
    static bool done = false;
    if (done) return;
    done = true;
    Sugar<I>::init();
    init_Objet_State();
}

namespace {

// The number of standard monomials of the reduced basis B; fatal when the
// route's tables would pass the memory allowed (Auto: the smaller tables of
// the reductions).
int held_solutions(Lst* B, Lextri_Route route) {
    const unsigned bytes =
        route == Lextri_Route::Matrices ? Table_Quotient::square_bytes() : Reducing_Quotient::square_bytes();
    return poly::Staircase<I>::held_nb_solutions(B, "Lextriangular decomposition", bytes);
}

// Whether a quotient of dim standard monomials is worked by its
// multiplication matrices: with Auto, when their tables fit the memory
// allowed, decided before any is made.
bool by_matrices(int dim, Lextri_Route route) {
    if (route != Lextri_Route::Auto) return route == Lextri_Route::Matrices;
    const unsigned __int128 bytes = (unsigned __int128)unsigned(dim) * unsigned(dim) * Table_Quotient::square_bytes();
    return bytes <= poly::Staircase<I>::kListBytes;
}

// The decomposition of the ideal of F, the layout one block.
LL* decompose_one_block(Lst* F, Lextri_Status* status, Lextri_Route route) {
    Lst* G = basis(F);
    const int dim = held_solutions(G, route);
    *status = dim < 0 ? Lextri_Status::Not_Dim0 : Lextri_Status::Done;
    if (dim <= 0) {  // not zero-dimensional, or the whole ring
        M::Lists::kill_all(G);
        return nullptr;
    }
    // Each state: the reduced basis of a radical ideal (pending), the number
    // of splits that led to it (n); a finished one holds its triangular set (T).
    Lst* rad = by_matrices(dim, route) ? radical<Table_Quotient>(G, unsigned(dim))
                                       : radical<Reducing_Quotient>(G, unsigned(dim));
    sState* todo = new sState(0, rad, nullptr, nullptr);
    sState* done = nullptr;
    while (todo) {
        sState* s = todo;
        todo = s->next;
        Lst* B = s->pending;
        const int d = held_solutions(B, route);
        if (d > 0) {  // else no zero left in this branch
            if (by_matrices(d, route))
                split_or_finish<Table_Quotient>(B, unsigned(d), s->n, todo, done);
            else
                split_or_finish<Reducing_Quotient>(B, unsigned(d), s->n, todo, done);
        }
        M::Lists::kill_all(B);
        kill_State(s);
    }
    LL* out = nullptr;
    while (done) {
        out = M::Lists2::cons(done->T, out);
        done = kill_State(done);
    }
    return out;
}

}  // namespace

poly::List_List<I>* Lextri::decompose(Lst* F, Lextri_Status* status, Lextri_Route route) {
    init();
    if (want_qhomogene) Fatal("Lextriangular decomposition: the staircases of -qhomog leave the last variable out\n");
    const unsigned n = I::L::n(), k = I::L::k();
    if (k == 0 || k >= n) return decompose_one_block(F, status, route);
    // The sets depend on the ideal only: computed from its degree basis,
    // which costs far less than bases for the blocks; the blocks order the
    // terms of the sets handed back.
    using Ops = Ideal_Ops<I>;
    Lst* c = M::Lists::copy_all(F);
    typename Ops::Detached d;
    Ops::detach({&c}, d);
    Sugar<I>::set(n, n, 0);
    Ops::attach(d, 0, {&c});
    LL* T = decompose_one_block(c, status, route);
    M::Lists::kill_all(c);
    std::vector<Lst*> sets;
    for (LL* s = T; s; s = s->next) sets.push_back(s->elt);
    M::Lists2::free_all(T);
    std::vector<Lst**> at;
    for (Lst*& s : sets) at.push_back(&s);
    typename Ops::Detached t;
    Ops::detach(at, t);
    Sugar<I>::set(n, k, 0);
    Ops::attach(t, 0, at);
    LL* out = nullptr;
    for (size_t i = sets.size(); i-- > 0;) out = M::Lists2::cons(sets[i], out);
    return out;
}

}  // namespace tesk::algo
