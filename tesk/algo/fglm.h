// Change of ordering of the Tesk engine (integer build): from the reduced
// basis of a zero-dimensional ideal for the degree order (BigDexp__VGF, as
// the sugar loop returns it) to its reduced lexicographic basis
// (BigLexp__VGF), by linear algebra on the quotient.
//
// The monomials are walked in increasing lexicographic order, each one a
// variable times an earlier standard one, multiples of the leading monomials
// already found skipped.  The normal form of each by the degree basis is
// written on the degree staircase and tested against the earlier ones by an
// incremental Gauss-Jordan elimination (the square matrix M, kept so that it
// sends the k-th independent vector to the k-th unit vector): a dependence
// gives a basis polynomial, an independence a new standard monomial.
#ifndef TESK_ALGO_FGLM_H
#define TESK_ALGO_FGLM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tesk/poly/dmp.h"

namespace tesk::algo {

// What change_ordering met.
enum class Fglm_Status {
    Done,             // the lex basis
    Not_Dim0,         // the ideal is not zero-dimensional: nothing computed
    Bad_Prime,        // a pivot vanishes modulo some primes of the vector only
};

struct Fglm {
    using Src = poly::BigDexp__VGF;
    using Dst = poly::BigLexp__VGF;

    // Once per process: the lexicographic package and the block families.
    static void init();
    // n variables for the lexicographic package (a, b as for the degree one).
    static void set(unsigned n, unsigned a, unsigned b);
    // The bytes that change_ordering allocates per entry of the dim x dim square, at most.
    static unsigned square_bytes();
    // The reduced lex basis of the ideal of G (the reduced, monic degree basis,
    // no header cells; left intact), by decreasing leading monomial; {1} for
    // the whole ring.  Null unless *status is Done.  *solutions: the
    // dimension of the quotient (-1 when not zero-dimensional).
    static poly::List<Dst>* change_ordering(poly::List<Src>* G, Fglm_Status* status, int* solutions = nullptr);
};

// The matrix of multiplication by x_var on the quotient of a zero-dimensional
// ideal, one matrix per prime of the domain: coordinates number the
// standard monomials of the degree basis in increasing order (1 is 0), and
// row r holds the coordinates of the normal form of x_var * m_r.
struct Mult_Matrix {
    unsigned dim = 0;
    unsigned var = 0;
    std::vector<std::uint32_t> primes;
    std::vector<std::uint32_t> a;  // residue k of entry (r, c) at (k * dim + r) * dim + c
    std::uint32_t at(unsigned k, unsigned r, unsigned c) const { return a[(std::size_t(k) * dim + r) * dim + c]; }
    bool operator==(const Mult_Matrix&) const = default;
};

// Text forms: NTL "[[a b]\n[c d]\n]" after the prime's line; host
// "M_p:=Matrix([[a,b],[c,d]]):"; one matrix per prime.  Binary: big-endian
// 32-bit words dim, var, the prime count, the primes, then `a` in order.
enum class Matrix_Syntax { NTL, Host, Binary };

// Clears want_rational_output and want_float_output while a matrix is
// printed and puts back what they were, however the printing ends.
class Plain_Coefficients {
public:
    Plain_Coefficients();
    ~Plain_Coefficients();
    Plain_Coefficients(const Plain_Coefficients&) = delete;
    Plain_Coefficients& operator=(const Plain_Coefficients&) = delete;
private:
    int rational_, floating_;
};

// Writes M on f in the syntax; false when a write or the flush failed.
bool write_Mult_Matrix(const Mult_Matrix& M, Matrix_Syntax s, std::FILE* f);
// The matrix of x_var for the ideal of G (the reduced degree basis, no
// header cells; left intact) into *M, then written on f when f is given
// (*written: whether that succeeded).  Not_Dim0 / Bad_Prime: M left empty.
Fglm_Status compute_C_Mult_by_xi(poly::List<Fglm::Src>* G, unsigned var, Mult_Matrix* M, std::FILE* f = nullptr,
                                 Matrix_Syntax s = Matrix_Syntax::NTL, bool* written = nullptr);
// The binary form of M in "/tmp/fmat<process id>" (mode 0644, replaced
// whole); the name into *path; false when it could not be written.
bool dump_Mult_Matrix(const Mult_Matrix& M, std::string* path);

}  // namespace tesk::algo

namespace tesk {
TESK_FWD(init_ORDERING__DMP__BigDexp__VGF__DMP__BigLexp__VGF, algo::Fglm::init)
TESK_FWD(set_ORDERING__DMP__BigDexp__VGF__DMP__BigLexp__VGF, algo::Fglm::set)
}  // namespace tesk

#endif
