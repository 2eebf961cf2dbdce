// Coefficient domain GFC of the Tesk engine (prime-field build): one residue
// modulo a prime MAGIC below 65,535, with a table of all inverses so that a
// division is one lookup and one product.  Residues are plain unsigned 32-bit
// values kept in [0, MAGIC); Uniq_GFC wraps one for printing and the wire.
//
// The operations share their names with the VGF domain (tesk::vgf) so that
// generated polynomial code reads the same over either; each domain lives in
// its own namespace.
#ifndef TESK_BASE_GFC_H
#define TESK_BASE_GFC_H

#include <cstdint>

#include "tesk/base/coeff_wire.h"
#include "tesk/base/print.h"

namespace tesk::gfc {

// ---------------------------------------------------------------------------
// State.
inline constexpr std::uint32_t DEFAULT_MODULE_GFC = 65521;
inline constexpr std::uint32_t GFC_TABLE_SIZE = 65536;
extern std::int64_t MAGIC;                          // the prime; 0 until init_GFC
extern std::uint32_t inv_tab_GFC[GFC_TABLE_SIZE];   // x -> 1/x mod MAGIC; entry 0 is 0
extern std::uint32_t Modulo6;                       // 10^6 mod MAGIC
extern char state1[128];                            // state of the process's random()
// Division-free reduction constant of MAGIC: ceil(2^64 / MAGIC).
extern std::uint64_t magic_recip_GFC;

// One residue, for printing and the wire.
class Uniq_GFC {
    std::uint32_t v_;
public:
    Uniq_GFC(unsigned v = 0) : v_(v) {}
    operator unsigned() const { return v_; }
};

// ---------------------------------------------------------------------------
// Set-up.
void init_random();                       // initstate(1, state1, 128), then setstate(state1)
void init_GFC();                          // once per process: random state, then the default prime
// Sets the prime: fatal when p > 65,534 or p is not a prime; 2 when p is
// already set (nothing changes), else 1 after rebuilding the inverse table.
int set_module_GFC(std::uint32_t p);
void set_GFC(unsigned k);                           // nothing: the domain has one prime
void set_GFC(unsigned k, const std::uint32_t* primes);  // nothing
[[noreturn]] void set_modules_GFC(const std::uint32_t* list, unsigned k);  // always fatal

// ---------------------------------------------------------------------------
// Arithmetic.  Residues are in [0, p).

// x mod p for any 32-bit x, without a division.
inline std::uint32_t reduce_GFC(std::uint32_t x) {
    std::uint64_t low = magic_recip_GFC * x;
    return (std::uint32_t)(((unsigned __int128)low * (std::uint64_t)MAGIC) >> 64);
}

std::uint32_t cGFC(std::int64_t v);  // v mod p in [0, p), also for negative v
inline unsigned copy(unsigned a) { return a; }
inline long coerce_long(unsigned a) { return (long)a; }
inline int coerce_int(unsigned a) { return (int)a; }
inline unsigned coerce_unsigned(unsigned a) { return a; }
inline unsigned pretend_GFC(long v) { return (unsigned)v; }                // v truncated to 32 bits
inline void coerce_Implement_GFC(unsigned& d, unsigned a) { d = a; }
inline unsigned pretend_block_GFC(const unsigned* w, unsigned) { return w[0]; }  // the first word

inline unsigned mult(unsigned a, unsigned b) { return reduce_GFC(a * b); }   // a*b mod p
inline unsigned mul_d(unsigned a, unsigned b) { return reduce_GFC(a * b); }  // a*b mod p; a unchanged
inline unsigned& mult_d(unsigned& a, unsigned b) { a = reduce_GFC(a * b); return a; }
inline unsigned& add_d(unsigned& a, unsigned b) {   // a = a + b mod p
    unsigned s = a + b;
    a = s >= (unsigned)MAGIC ? s - (unsigned)MAGIC : s;
    return a;
}
// a = a + b*c mod p with one reduction: p <= 65,534 keeps the sum in 32 bits.
static_assert(65533ull * 65533ull + 65533ull <= 0xFFFFFFFFull, "GFC lin_d needs one 32-bit sum");
inline unsigned& lin_d(unsigned& a, unsigned b, unsigned c) { a = reduce_GFC(a + b * c); return a; }
inline unsigned minus(unsigned a) { return a ? (unsigned)MAGIC - a : 0; }
inline unsigned& neg_d(unsigned& a) { a = minus(a); return a; }
inline unsigned inv(unsigned a) { return inv_tab_GFC[a]; }           // 0 for 0
inline unsigned quot(unsigned a, unsigned b) { return reduce_GFC(a * inv_tab_GFC[b]); }
inline unsigned& quot_d(unsigned& a, unsigned b) { a = quot(a, b); return a; }
unsigned exp(unsigned a, std::int64_t e);            // a^e; a negative e powers the inverse
unsigned binomial_GFC(std::int64_t n, std::int64_t k);  // C(n, k) mod p, 0 outside 0 <= k <= n
unsigned rdm_GFC(unsigned x);                        // cGFC(random()); x unused
inline unsigned gcd(unsigned, unsigned) { return 1; }

inline bool is_zero(unsigned a) { return a == 0; }
inline bool is_one(unsigned a) { return a == 1; }
inline bool is_neg_one(unsigned a) { return a == (unsigned)MAGIC - 1; }
inline unsigned test(unsigned a) { return a; }
inline bool comp_EQ(unsigned a, unsigned b) { return a == b; }
inline bool comp_NEQ(unsigned a, unsigned b) { return a != b; }
inline int pseudo_sgn(unsigned a) { return a != 0; }
inline int size(unsigned) { return 1; }
inline int is_complex(unsigned) { return 0; }
inline unsigned Hash_GFC(unsigned a, unsigned) { return a; }
inline double estime_log(unsigned) { return 0.0; }
inline void Tesk_info_count_mult() {}

// ---------------------------------------------------------------------------
// Text.
unsigned String_to_GFC(const char* s);   // decimal text (optional blanks and '-') mod p
char* coerce_Cste_String(unsigned a);    // new "%u" text from the allocation hook
// Reads one unsigned decimal from the character source into a (c unused).
template <class Source>
void parse_raw_GFC(Source& src, unsigned& a, int c) {
    unsigned x = 0;
    src.scan(x);
    a = x;
}

Fortran_Print operator<<(Fortran_Print p, Uniq_GFC a);  // "%ld"
Posso_Print operator<<(Posso_Print p, Uniq_GFC a);      // "%ld" (keeps the PoSSo printer in a chain)
Basic_Print operator<<(Basic_Print p, Uniq_GFC a);      // "%ld"
Lisp_Print operator<<(Lisp_Print p, Uniq_GFC a);        // "%ld" on lisp_file
void lisp(unsigned a);                                  // "%ld" on lisp_file
Fortran_Print fortran_pseudo_rational(Fortran_Print p, unsigned a, unsigned b);  // a alone, "%u"
void afficherHeader_GFC();   // "#coeffring #modulo p" on the log
void afficher_NTL_GFC();     // "p\n" on the log
void inter_info_GFC();       // "Entier Z/pZ codage classique" on the log

// ---------------------------------------------------------------------------
// Wire forms (raw 32-bit words; see coeff_wire.h for the channel).
template <class C> void out_domain_protocol_GFC(C& b, std::uint32_t p) {  // [9][p]
    put_word(b, MSG_TESK_set_module);
    put_word(b, p);
}
template <class C> void out_domain_protocol_GFC(C& b) {  // [9][current prime]
    out_domain_protocol_GFC(b, (std::uint32_t)MAGIC);
}
template <class C> void out_protocol_GFC(C& b, Uniq_GFC a) {  // [10][residue]
    put_word(b, MSG_TESK_GF);
    put_word(b, (unsigned)a);
}
template <class C> void out_GFC(C& b, Uniq_GFC a) { put_word(b, (unsigned)a); }  // the residue alone
// One word from the channel, made a residue.
template <class C> void read_QFGFC(C& b, unsigned& a) { a = cGFC((std::int64_t)get_word(b)); }

}  // namespace tesk::gfc

namespace tesk {
using gfc::Uniq_GFC;
}  // namespace tesk

#endif
