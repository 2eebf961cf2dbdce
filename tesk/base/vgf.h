// Coefficient domain VGF of the Tesk engine (integer build): the image of an
// integer modulo k = size_of_vectors primes at once.  A VGF is a handle to k
// unsigned 32-bit residues on the VGF heap (vgf_heap.h); residue i lies in
// [0, p_i) for prime i of the domain's prime vector.  Handles are passed by
// value and may share a vector: operations without `_d` allocate a new
// vector, `_d` forms update the vector of their first argument in place.
//
// The operations share their names with the GFC domain (tesk::gfc).
#ifndef TESK_BASE_VGF_H
#define TESK_BASE_VGF_H

#include <cstdint>

#include "tesk/base/coeff_wire.h"
#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf_heap.h"

namespace tesk::vgf {

class VGF {
public:
    std::uint32_t* _v = nullptr;   // k residues
    VGF() = default;
    explicit VGF(std::uint32_t* v) : _v(v) {}
    std::uint32_t& operator[](unsigned i) const { return _v[i]; }
    static VGF _prime;             // the k primes
    static std::uint64_t* _recip;  // per prime: floor((2^64 - 1) / p_i), for the reductions
};

// ---------------------------------------------------------------------------
// The built-in table: the 20,000 largest primes below 2^32, ascending.
inline constexpr unsigned NB_DEFAULT_PRIMES32 = 20000;
struct Default_Primes32_Table {
    const std::uint32_t* data() const;                        // the whole table (built on first use)
    std::uint32_t operator[](unsigned i) const { return data()[i]; }
    static constexpr unsigned size() { return NB_DEFAULT_PRIMES32; }
};
inline constexpr Default_Primes32_Table Default_Primes32{};

inline constexpr std::uint32_t DEFAULT_MODULE_VGF = 2147483647u;
extern VGF Modulo6;   // 10^6 mod p_i

// ---------------------------------------------------------------------------
// Set-up.  The prime vector and its helpers are kept out of the heap, so no
// roll-back can reclaim them.
void init_VGF();                                    // once: heap tables, default primes
void set_VGF(unsigned k, const std::uint32_t* primes);  // k primes; fatal below 2^31
void set_VGF(unsigned k);                           // k default primes
// New prime vector: the first k entries of `primes`, or with null the
// default primes shifted down the table by want_offset_primes (fatal when
// the table has too few).
void set_vect_module_VGF(const std::uint32_t* primes);
int set_module_VGF(std::uint32_t x);                // default primes for the current k; 1
[[noreturn]] void set_modules_VGF(const std::uint32_t* list, unsigned n);  // always fatal
inline VGF all_primes_VGF() { return VGF::_prime; }
inline std::uint32_t characterisc_VGF() { return VGF::_prime._v[0]; }
const char* factorizer_VGF();                       // "VGF k"

// ---------------------------------------------------------------------------
// Reduction kernel.  x < 2^64, p < 2^32, m = floor((2^64 - 1) / p): the
// quotient estimate is at most one short, so one correction is enough.
inline std::uint32_t reduce_VGF(std::uint64_t x, std::uint32_t p, std::uint64_t m) {
    std::uint64_t q = (std::uint64_t)(((unsigned __int128)x * m) >> 64);
    std::uint64_t r = x - q * p;
    return (std::uint32_t)(r >= p ? r - p : r);
}

inline void allocate(VGF& a) { a._v = (std::uint32_t*)new_Implement_VGF(); }  // residues unset
VGF cVGF(std::int64_t v);   // |v| < 2^32: v mod p_i in every residue
inline VGF cVGF(int v) { return cVGF((std::int64_t)v); }
inline VGF cVGF(unsigned v) { return cVGF((std::int64_t)v); }
VGF copy(VGF a);                                         // a new vector, same residues
VGF pretend_VGF(std::uint32_t x);                        // every residue x
VGF pretend_block_VGF(const std::uint32_t* w, unsigned n);  // w[0..n), the rest 0 (n <= k)

// a + b mod p_i, residue by residue, into r (r may be a or b).
inline void add_into(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    const std::uint32_t* p = VGF::_prime._v;
    for (unsigned i = 0, k = size_of_vectors; i < k; ++i) {
        std::uint64_t s = (std::uint64_t)a[i] + b[i];
        r[i] = (std::uint32_t)(s >= p[i] ? s - p[i] : s);
    }
}
// New vector a + b.
inline VGF add(VGF a, VGF b) { VGF r; allocate(r); add_into(r._v, a._v, b._v); return r; }
inline VGF add_d(VGF a, VGF b) { add_into(a._v, a._v, b._v); return a; }  // a := a + b
VGF minus(VGF a);        // new vector p_i - a_i (0 for 0)
VGF neg_d(VGF a);        // a := minus(a)
VGF sub(VGF a, VGF b);   // new vector a - b

// a_i * b_i mod p_i into r (r may be a or b).
inline void mult_into(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    const std::uint32_t* p = VGF::_prime._v;
    const std::uint64_t* m = VGF::_recip;
    for (unsigned i = 0, k = size_of_vectors; i < k; ++i)
        r[i] = reduce_VGF((std::uint64_t)a[i] * b[i], p[i], m[i]);
}
inline VGF mult(VGF a, VGF b) { VGF r; allocate(r); mult_into(r._v, a._v, b._v); return r; }  // new a*b
inline VGF mult_d(VGF a, VGF b) { mult_into(a._v, a._v, b._v); return a; }  // a := a*b
inline VGF mul_d(VGF a, VGF b) { mult_into(a._v, a._v, b._v); return a; }   // a := a*b; the handle

// a = a + b*c mod p_i with one reduction per residue: residues below 2^32
// keep a + b*c below 2^64.
static_assert((unsigned __int128)0xFFFFFFFFu * 0xFFFFFFFFu + 0xFFFFFFFFu <= ~std::uint64_t(0),
              "VGF lin_d needs a + b*c in 64 bits");
inline VGF lin_d(VGF a, VGF b, VGF c) {
    const std::uint32_t* p = VGF::_prime._v;
    const std::uint64_t* m = VGF::_recip;
    std::uint32_t* x = a._v;
    const std::uint32_t* y = b._v;
    const std::uint32_t* z = c._v;
    for (unsigned i = 0, k = size_of_vectors; i < k; ++i)
        x[i] = reduce_VGF(x[i] + (std::uint64_t)y[i] * z[i], p[i], m[i]);
    return a;
}

VGF inv(VGF a);               // residue-wise inverse; fatal on a zero residue
VGF quot(VGF a, VGF b);       // a / b (fatal when b has a zero residue)
VGF quot_d(VGF a, VGF b);     // a := a / b
inline VGF gcd(VGF, VGF) { return cVGF(1); }

bool test(VGF a);             // some residue nonzero
inline int pseudo_sgn(VGF a) { return test(a); }
bool is_zero(VGF a);          // every residue 0
bool is_one(VGF a);           // every residue 1
bool is_neg_one(VGF a);       // every residue p_i - 1
bool comp_EQ(VGF a, VGF b);   // all residues equal
inline bool comp_NEQ(VGF a, VGF b) { return !comp_EQ(a, b); }
inline int size(VGF) { return 1; }
inline int is_complex(VGF) { return 0; }
inline VGF abs(VGF a) { return a; }
inline double estime_log(VGF) { return 0.0; }
inline void kill(VGF) {}
inline void Tesk_int_info_count_mult() {}
inline std::uint32_t coerce_unsigned(VGF a) { return a._v[0]; }
inline std::uint32_t* coerce_Implement_VGF(std::uint32_t*& w, VGF a) { return w = a._v; }
inline std::uint32_t* Rep(VGF a) { return a._v; }
std::uint32_t Hash_VGF(VGF a, std::uint32_t seed);   // (h*256 + r) mod 16777213 over the residues
VGF rdm_VGF(unsigned x);                             // cVGF(random()); x unused

// ---------------------------------------------------------------------------
// Text.
VGF String_to_VGF(const char* s);   // decimal text (optional blanks and '-') mod p_i

// A new vector read after its opening character c: '<' k unsigned decimals
// (src.scan), '{' k raw words (src.read); any other c gives zeros.  Values
// are reduced modulo their primes.
template <class Source>
void parse_raw_VGF(Source& src, VGF& a, int c) {
    allocate(a);
    const unsigned k = size_of_vectors;
    for (unsigned i = 0; i < k; ++i) a._v[i] = 0;
    if (c == '<') {
        for (unsigned i = 0; i < k; ++i) {
            unsigned x = 0;
            src.scan(x);
            a._v[i] = x;
        }
    } else if (c == '{') {
        src.read(a._v, k);
    }
    for (unsigned i = 0; i < k; ++i) a._v[i] = reduce_VGF(a._v[i], VGF::_prime._v[i], VGF::_recip[i]);
}

Fortran_Print operator<<(Fortran_Print p, VGF a);  // raw '{' form, host [..] form, or <r r>
Posso_Print operator<<(Posso_Print p, VGF a);      // the same, keeping the PoSSo printer
Tex_Print operator<<(Tex_Print p, VGF a);          // <r r ...>
Basic_Print operator<<(Basic_Print p, VGF a);      // <r r ...>
Lib_Print operator<<(Lib_Print p, VGF a);          // <r r ...>
Lisp_Print operator<<(Lisp_Print p, VGF a);        // r, or #(r r ...) with several primes
void fortran(VGF a);                               // on the global Fortran printer
void lisp(VGF a);                                  // does nothing
Fortran_Print fortran_pseudo_rational(Fortran_Print p, VGF a, VGF b);  // a alone
void afficherHeader_VGF();          // "\n#modulo <p ...>" on the log
void afficher_NTL_VGF();            // " p " per prime, newline
void defHost_VGF(const char* name); // "name:=[p,p ]:"
void inter_info_VGF();              // "Entier INT (Compatible with Quor k) ..."

// ---------------------------------------------------------------------------
// Wire forms (raw 32-bit words; see coeff_wire.h for the channel).
template <class C> void out_domain_protocol_VGF(C& b) {  // [172][k][primes][173][offset]
    put_word(b, MSG_TESK_set_vect);
    put_word(b, size_of_vectors);
    for (unsigned i = 0; i < size_of_vectors; ++i) put_word(b, VGF::_prime._v[i]);
    put_word(b, MSG_TESK_set_offset);
    put_word(b, (std::uint32_t)want_offset_primes);
}
template <class C> void out_domain_protocol_VGF(C& b, int) { out_domain_protocol_VGF(b); }
template <class C> void out_VGF(C& b, VGF a) {  // [k][residues]
    put_word(b, size_of_vectors);
    for (unsigned i = 0; i < size_of_vectors; ++i) put_word(b, a._v[i]);
}
template <class C> void out_protocol_VGF(C& b, VGF a) {  // [171][k][residues]
    put_word(b, MSG_TESK_RAW);
    out_VGF(b, a);
}
// A new vector of n words from the channel; fatal unless n = k.
template <class C> void LIRE_VGF(C& b, VGF& a, unsigned n) {
    if (n != size_of_vectors)
        Fatal("Can't read a %d-vector (should be %d)\n", (int)n, (int)size_of_vectors);
    allocate(a);
    for (unsigned i = 0; i < n; ++i)
        a._v[i] = reduce_VGF(get_word(b), VGF::_prime._v[i], VGF::_recip[i]);
}
// One word from the channel, made a coefficient with cVGF.
template <class C> void read_QFVGF(C& b, VGF& a) { a = cVGF((std::int64_t)get_word(b)); }

}  // namespace tesk::vgf

namespace tesk {
using vgf::VGF;
using vgf::size_of_vectors;
using vgf::Default_Primes32;
using vgf::init_VGF;
using vgf::set_VGF;
using vgf::set_module_VGF;
using vgf::set_modules_VGF;
using vgf::set_vect_module_VGF;
using vgf::cVGF;
}  // namespace tesk

#endif
