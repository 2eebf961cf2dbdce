// Dense vectors and matrices over VGF.
#include "tesk/base/dense_vgf.h"

#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"

namespace tesk::vgf {

unsigned* Tesk_map = nullptr;
V__QFVGF vect_auxilaire;
unsigned dim_du_vect_auxilaire = 0;

void V__QFVGF::zero() {
    for (unsigned i = 0; i < n; ++i) v[i] = cVGF(0);
}

V__QFVGF& V__QFVGF::operator+=(const V__QFVGF& w) {
    for (unsigned i = 0; i < n; ++i) add_d(v[i], w.v[i]);
    return *this;
}

void V__QFVGF::comb_lin(VGF c, const V__QFVGF& w) {
    for (unsigned i = 0; i < n; ++i) lin_d(v[i], c, w.v[i]);
}

V__QFVGF& V__QFVGF::operator*=(SM__QFVGF& M) {
    if (n != dim_du_vect_auxilaire) {
        vect_auxilaire.kill();   // its handles live on in the vector it was copied into
        vect_auxilaire = V__QFVGF(n);
        dim_du_vect_auxilaire = n;
    }
    mul(M, *this, vect_auxilaire);
    for (unsigned i = 0; i < n; ++i) v[i] = vect_auxilaire.v[i];
    return *this;
}

void V__QFVGF::kill() {
    delete[] v;
    v = nullptr;
    n = 0;
}

SM__QFVGF::SM__QFVGF(unsigned dim) : m(new VGF[(std::size_t)dim * dim]), n(dim), nn(dim * dim) {
    if (!want_pipe) {
        Output("\n*** Extend Memory (SM__QFVGF) ");
        Date();
        Output(" for %ux%u matrix = %u octets\n", dim, dim, 8 * dim * dim);
    }
}

void SM__QFVGF::one() {
    for (unsigned i = 0; i < n; ++i)
        for (unsigned j = 0; j < n; ++j) elt(i, j) = cVGF(i == j ? 1 : 0);
}

void SM__QFVGF::kill() {
    delete[] m;
    m = nullptr;
    n = nn = 0;
}

void RM__QFVGF::one() {
    for (unsigned r = 0; r < nrows; ++r)
        for (unsigned c = 0; c < ncols; ++c) m[(std::size_t)r * ncols + c] = cVGF(c == Tesk_map[r] ? 1 : 0);
}

void mul(const SM__QFVGF& M, const V__QFVGF& v, V__QFVGF& r) {
    for (unsigned i = 0; i < M.n; ++i) {
        VGF s = cVGF(0);
        for (unsigned j = 0; j < M.n; ++j) lin_d(s, M.elt(i, j), v[j]);
        r[i] = s;
    }
}

void mise_a_jour(unsigned i, unsigned j, SM__QFVGF& M, const V__QFVGF& v, VGF) {
    const unsigned n = M.n;
    const VGF p = v[i];
    for (unsigned k = 0; k < n; ++k) {
        VGF q = quot(M.elt(i, k), p);
        M.elt(i, k) = M.elt(j + 1, k);
        M.elt(j + 1, k) = q;
        if (is_zero(q)) continue;
        // The multiplier is a separate vector: row j + 1 keeps +q.
        VGF nq = minus(q);
        for (unsigned l = 0; l <= j; ++l)
            if (!is_zero(v[l])) lin_d(M.elt(l, k), nq, v[l]);
        for (unsigned l = i + 1; l < n; ++l)
            if (!is_zero(v[l])) lin_d(M.elt(l, k), nq, v[l]);
    }
}

// ---------------------------------------------------------------------------
Fortran_Print operator<<(Fortran_Print p, const V__QFVGF& x) {
    if (x.n == 0) return p;
    p = p << '[';
    for (unsigned i = 0; i < x.n; ++i) {
        if (is_zero(x.v[i]))
            p = p << " 0";
        else
            p = (p << x.v[i]) << ' ';
    }
    return p << ']';
}

Fortran_Print operator<<(Fortran_Print p, SM__QFVGF M) {
    if (M.n == 0) return p;
    p = p << '\n';
    for (unsigned i = 0; i < M.n; ++i) {
        p = p << '|';
        for (unsigned j = 0; j < M.n; ++j) {
            if (is_zero(M.elt(i, j)))
                p = p << " 0";
            else
                p = (p << ' ') << M.elt(i, j);
        }
        p = (p << '|') << '\n';
    }
    return p;
}

Basic_Print operator<<(Basic_Print p, const V__QFVGF& x) {
    if (x.n == 0) return p;
    p = p << Stack('T', ' ', ' ');
    p = p << '[';
    for (unsigned i = 0; i < x.n; ++i) p = p << (is_zero(x.v[i]) ? " 0" : " x");
    return p << ']';
}

namespace {
// Rows between bracket columns: the first opens, the last closes.
template <class Entry>
Basic_Print bracket_picture(Basic_Print p, unsigned rows, Entry entry) {
    if (rows == 0) return p;
    p = p << '\n';
    for (unsigned i = 0; i < rows; ++i) {
        Stack side = i == 0 ? Stack('_', '|', '|') : i + 1 == rows ? Stack('|', '|', '-') : Stack('|');
        p = p << side;
        p = entry(p, i);
        p = p << side;
        p = p << '\n';
    }
    return p;
}
}  // namespace

Basic_Print operator<<(Basic_Print p, SM__QFVGF M) {
    return bracket_picture(p, M.n, [&M](Basic_Print q, unsigned i) {
        for (unsigned j = 0; j < M.n; ++j) q = q << (is_zero(M.elt(i, j)) ? " 0" : " x");
        return q;
    });
}

Basic_Print operator<<(Basic_Print p, RM__QFVGF M) {
    unsigned rows = M.nrows < 5 ? M.nrows : 5;
    unsigned cols = M.ncols < 5 ? M.ncols : 5;
    return bracket_picture(p, rows, [&M, cols](Basic_Print q, unsigned i) {
        for (unsigned j = 0; j < cols; ++j) q = (q << ' ') << M.m[(std::size_t)i * M.ncols + j];
        return q;
    });
}

Lib_Print operator<<(Lib_Print p, const V__QFVGF& x) {
    p = p << '[';
    for (unsigned i = 0; i < x.n; ++i) {
        if (i) p = p << ',';
        p = p << x.v[i];
    }
    return p << ']';
}

void msee(void* M) {
    Pretty << *(SM__QFVGF*)M;
    Pretty << '\n';
}

}  // namespace tesk::vgf
