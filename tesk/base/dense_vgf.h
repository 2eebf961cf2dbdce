// Small dense linear algebra over VGF (integer build of the Tesk engine): a
// vector of handles, a square matrix in row order and a row matrix reached
// through the permutation Tesk_map, with products, the incremental
// Gauss-Jordan update mise_a_jour of the change of ordering, printers and
// wire writers.  Dimensions are trusted.
#ifndef TESK_BASE_DENSE_VGF_H
#define TESK_BASE_DENSE_VGF_H

#include "tesk/base/vgf.h"

namespace tesk::vgf {

struct SM__QFVGF;

// Vector: `n` handles at `v`; owning (V__QFVGF(n), released by kill) or a view.
struct V__QFVGF {
    VGF* v = nullptr;
    unsigned n = 0;
    V__QFVGF() = default;
    explicit V__QFVGF(unsigned dim) : v(new VGF[dim]), n(dim) {}   // entries unset
    V__QFVGF(VGF* p, unsigned dim) : v(p), n(dim) {}                 // a view, nothing owned
    VGF& operator[](int i) const { return v[i]; }
    void zero();                                      // every entry := cVGF(0)
    V__QFVGF& operator+=(const V__QFVGF& w);          // entry i += w[i], i < this dimension
    void comb_lin(VGF c, const V__QFVGF& w);          // entry i += c * w[i]
    V__QFVGF& operator*=(SM__QFVGF& M);               // this := M * this
    void kill();                                      // releases the handle array; dimension 0
    // Fills the entries from the channel, one word each (read_QFVGF).
    template <class C> void read_V__QFVGF(C& b) {
        for (unsigned i = 0; i < n; ++i) read_QFVGF(b, v[i]);
    }
};
inline unsigned dimension(const V__QFVGF& x) { return x.n; }

// Square matrix: n*n handles in row order, entry (i, j) at i*n + j.
struct SM__QFVGF {
    VGF* m = nullptr;
    unsigned n = 0;
    unsigned nn = 0;
    SM__QFVGF() = default;                  // empty
    explicit SM__QFVGF(unsigned dim);       // entries unset; prints a memory notice unless want_pipe
    V__QFVGF operator[](int i) const { return V__QFVGF(m + (std::size_t)i * n, n); }  // row view
    VGF& elt(int i, int j) const { return m[(std::size_t)i * n + j]; }
    void one();    // identity: cVGF(i == j)
    void kill();   // releases the handles; dimension 0
};

// Row permutation of the row matrices: logical row i is physical row Tesk_map[i].
extern unsigned* Tesk_map;

// Row matrix: `nrows` physical rows of `ncols` handles.
struct RM__QFVGF {
    VGF* m = nullptr;
    unsigned ncols = 0;
    unsigned count = 0;
    unsigned nrows = 0;
    V__QFVGF operator[](int i) const {   // logical row i
        return V__QFVGF(m + (std::size_t)Tesk_map[i] * ncols, ncols);
    }
    unsigned row() const { return nrows; }
    void one();   // physical row r: 1 in column Tesk_map[r], 0 elsewhere
    // r[i] := physical row i times v, each row sent as [37][Tesk_map[i]] and
    // the coefficient, then flushed, as soon as it is computed.
    template <class C> void mult(const V__QFVGF& x, V__QFVGF& r, C& b) const {
        for (unsigned i = 0; i < nrows; ++i) {
            VGF s = cVGF(0);
            const VGF* row = m + (std::size_t)i * ncols;
            for (unsigned j = 0; j < ncols; ++j) lin_d(s, row[j], x[j]);
            r[i] = s;
            put_word(b, MSG_TESK_INDEX);
            put_word(b, Tesk_map[i]);
            out_VGF(b, s);
            flush_words(b);
        }
    }
};

extern V__QFVGF vect_auxilaire;        // scratch vector of operator*=
extern unsigned dim_du_vect_auxilaire;

// r[i] := sum over j of M(i, j) * v[j], each r[i] a new vector.
void mul(const SM__QFVGF& M, const V__QFVGF& v, V__QFVGF& r);
// Gauss-Jordan step with pivot v[i]: row i, divided by the pivot, goes to
// row j + 1 (whose old content goes to row i) and is eliminated from rows
// 0..j and i+1..n-1 with the multipliers v[l].  c is not read.
void mise_a_jour(unsigned i, unsigned j, SM__QFVGF& M, const V__QFVGF& v, VGF c);

// Wire form: [65] then each entry as out_VGF.
template <class C> void out_V__QFVGF(C& b, const V__QFVGF& x) {
    put_word(b, MSG_TESK_VECTEUR);
    for (unsigned i = 0; i < x.n; ++i) out_VGF(b, x.v[i]);
}

Fortran_Print operator<<(Fortran_Print p, const V__QFVGF& x);  // [ 0 c ...]
Fortran_Print operator<<(Fortran_Print p, SM__QFVGF M);        // one |row| per line
Basic_Print operator<<(Basic_Print p, const V__QFVGF& x);      // T[ 0 x ...] zero pattern
Basic_Print operator<<(Basic_Print p, SM__QFVGF M);            // bracketed zero pattern
Basic_Print operator<<(Basic_Print p, RM__QFVGF M);            // first 5x5 coefficients
Lib_Print operator<<(Lib_Print p, const V__QFVGF& x);          // [c,c,...]; [] when empty
void msee(void* M);   // the square matrix on Pretty, then a newline

}  // namespace tesk::vgf

namespace tesk {
using vgf::RM__QFVGF;
using vgf::SM__QFVGF;
using vgf::V__QFVGF;
}  // namespace tesk

#endif
