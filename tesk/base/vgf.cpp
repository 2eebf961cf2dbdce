// Coefficient domain VGF: residue vectors modulo k primes above 2^31.
#include "tesk/base/vgf.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"

namespace tesk::vgf {

unsigned size_of_vectors = 1;
VGF VGF::_prime;
std::uint64_t* VGF::_recip = nullptr;
VGF Modulo6;

// ---------------------------------------------------------------------------
// The default prime table, sieved on first use over the window just below
// 2^32 that holds the 20,000 largest primes (the smallest is 4,294,519,813).
namespace {

constexpr std::uint64_t kTop = std::uint64_t(1) << 32;
constexpr std::uint64_t kWindowLow = 4294500000u;

std::uint32_t default_table[NB_DEFAULT_PRIMES32];

bool build_default_table() {
    std::vector<std::uint32_t> small;
    std::vector<char> composite_small(65537, 0);
    for (std::uint32_t d = 2; d <= 65536; ++d) {
        if (composite_small[d]) continue;
        small.push_back(d);
        for (std::uint32_t m = d * d; m <= 65536; m += d) composite_small[m] = 1;
    }
    std::vector<char> composite(kTop - kWindowLow, 0);
    for (std::uint32_t d : small) {
        std::uint64_t first = (kWindowLow + d - 1) / d * d;
        for (std::uint64_t m = first; m < kTop; m += d) composite[m - kWindowLow] = 1;
    }
    unsigned n = NB_DEFAULT_PRIMES32;
    for (std::uint64_t x = kTop - 1; n > 0 && x >= kWindowLow; --x)
        if (!composite[x - kWindowLow]) default_table[--n] = (std::uint32_t)x;
    if (n != 0) Fatal("The table of default primes is incomplete (%u missing)\n", n);
    return true;
}

// Storage of the prime vector and its helpers, kept off the heap: a heap
// roll-back must not hand them out again.
unsigned store_cap = 0;
std::uint64_t* store = nullptr;

std::uint32_t inverse_mod(std::uint32_t a, std::uint32_t p) {
    std::int64_t t0 = 0, t1 = 1;
    std::uint32_t r0 = p, r1 = a;
    while (r1) {
        std::uint32_t q = r0 / r1;
        std::uint32_t r2 = r0 - q * r1;
        r0 = r1;
        r1 = r2;
        std::int64_t t2 = t0 - (std::int64_t)q * t1;
        t0 = t1;
        t1 = t2;
    }
    return (std::uint32_t)(t0 < 0 ? t0 + p : t0);
}

std::uint32_t c_residue(std::int64_t v, std::uint32_t p) {
    if (v >= 0) {
        std::uint32_t m = (std::uint32_t)v;
        return m >= p ? m - p : m;
    }
    std::uint32_t m = (std::uint32_t)((std::uint64_t)0 - (std::uint64_t)v);
    if (m >= p) m -= p;
    return m ? p - m : 0;
}

}  // namespace

const std::uint32_t* Default_Primes32_Table::data() const {
    static const bool built = build_default_table();
    (void)built;
    return default_table;
}

// ---------------------------------------------------------------------------
void init_VGF() {
    static bool done = false;
    if (done) return;
    done = true;
    init_Implement_VGF();
    set_vect_module_VGF(nullptr);
}

void set_VGF(unsigned k, const std::uint32_t* primes) {
    size_of_vectors = k;
    init_VGF();
    set_vect_module_VGF(primes);
}

void set_VGF(unsigned k) { set_VGF(k, nullptr); }

void set_vect_module_VGF(const std::uint32_t* primes) {
    const unsigned k = size_of_vectors;
    if (k == 0) Fatal("Can't choose %u primes from offset %d in a table of %u primes\n", k,
                      want_offset_primes, NB_DEFAULT_PRIMES32);
    const std::uint32_t* src = primes;
    if (!src) {
        if (want_offset_primes < 0 || (std::uint64_t)k + (unsigned)want_offset_primes > NB_DEFAULT_PRIMES32)
            Fatal("Can't choose %u primes from offset %d in a table of %u primes\n", k,
                  want_offset_primes, NB_DEFAULT_PRIMES32);
        src = Default_Primes32.data() + (NB_DEFAULT_PRIMES32 - k - (unsigned)want_offset_primes);
    }
    // The reductions and the wrap rule of the sums rely on p >= 2^31.
    for (unsigned i = 0; i < k; ++i)
        if (src[i] < 0x80000000u) Fatal("Prime %u must be between 2^31 and 2^32 !\n", src[i]);
    if (k > store_cap) {
        // One block: k reduction constants, then the k primes and 10^6 mod p_i.
        std::uint64_t* grown = new std::uint64_t[2 * (std::size_t)k];
        std::uint32_t* primes_at = (std::uint32_t*)(grown + k);
        std::memcpy(primes_at, src, 4 * (std::size_t)k);   // src may be the old prime vector
        src = primes_at;
        delete[] store;
        store = grown;
        VGF::_recip = grown;
        VGF::_prime._v = primes_at;
        Modulo6._v = primes_at + k;
        store_cap = k;
    }
    std::memmove(VGF::_prime._v, src, 4 * (std::size_t)k);
    for (unsigned i = 0; i < k; ++i) {
        std::uint32_t p = VGF::_prime._v[i];
        VGF::_recip[i] = ~std::uint64_t(0) / p;
        Modulo6._v[i] = reduce_VGF(1000000u, p, VGF::_recip[i]);
    }
}

int set_module_VGF(std::uint32_t) {
    set_vect_module_VGF(nullptr);
    return 1;
}

void set_modules_VGF(const std::uint32_t*, unsigned n) {
    if (n >= size_of_vectors) Fatal("VGF is not compiled for %ubits !\n", 64u);
    Fatal("Size of the list of primes is %u and should be >= %u\n", n, size_of_vectors);
}

const char* factorizer_VGF() {
    static char text[32];
    std::snprintf(text, sizeof text, "VGF %d", (int)size_of_vectors);
    return text;
}

// ---------------------------------------------------------------------------
VGF cVGF(std::int64_t v) {
    VGF r;
    allocate(r);
    const std::uint32_t* p = VGF::_prime._v;
    for (unsigned i = 0; i < size_of_vectors; ++i) r._v[i] = c_residue(v, p[i]);
    return r;
}

VGF copy(VGF a) {
    VGF r;
    allocate(r);
    std::memcpy(r._v, a._v, internal_taille_bignum());
    return r;
}

VGF pretend_VGF(std::uint32_t x) {
    VGF r;
    allocate(r);
    for (unsigned i = 0; i < size_of_vectors; ++i) r._v[i] = x;
    return r;
}

VGF pretend_block_VGF(const std::uint32_t* w, unsigned n) {
    VGF r;
    allocate(r);
    for (unsigned i = 0; i < size_of_vectors; ++i) r._v[i] = i < n ? w[i] : 0;
    return r;
}

namespace {
void minus_into(std::uint32_t* r, const std::uint32_t* a) {
    const std::uint32_t* p = VGF::_prime._v;
    for (unsigned i = 0; i < size_of_vectors; ++i) r[i] = a[i] ? p[i] - a[i] : 0;
}
}  // namespace

VGF minus(VGF a) {
    VGF r;
    allocate(r);
    minus_into(r._v, a._v);
    return r;
}

VGF neg_d(VGF a) {
    minus_into(a._v, a._v);
    return a;
}

VGF sub(VGF a, VGF b) {
    VGF r;
    allocate(r);
    minus_into(r._v, b._v);
    add_into(r._v, r._v, a._v);
    return r;
}

namespace {
// r = a / b residue by residue; fatal at the first zero residue of b.
void quot_into(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    const std::uint32_t* p = VGF::_prime._v;
    const std::uint64_t* m = VGF::_recip;
    for (unsigned i = 0; i < size_of_vectors; ++i) {
        if (b[i] == 0) Fatal("not inversible for p=%u\n", p[i]);
        std::uint32_t y = inverse_mod(b[i], p[i]);
        r[i] = a ? reduce_VGF((std::uint64_t)a[i] * y, p[i], m[i]) : y;
    }
}
}  // namespace

VGF inv(VGF a) {
    VGF r;
    allocate(r);
    quot_into(r._v, nullptr, a._v);
    return r;
}

VGF quot(VGF a, VGF b) {
    VGF r;
    allocate(r);
    quot_into(r._v, a._v, b._v);
    return r;
}

VGF quot_d(VGF a, VGF b) {
    quot_into(a._v, a._v, b._v);
    return a;
}

bool test(VGF a) {
    for (unsigned i = 0; i < size_of_vectors; ++i)
        if (a._v[i]) return true;
    return false;
}

bool is_zero(VGF a) { return !test(a); }

bool is_one(VGF a) {
    for (unsigned i = 0; i < size_of_vectors; ++i)
        if (a._v[i] != 1) return false;
    return true;
}

bool is_neg_one(VGF a) {
    for (unsigned i = 0; i < size_of_vectors; ++i)
        if (a._v[i] != VGF::_prime._v[i] - 1) return false;
    return true;
}

bool comp_EQ(VGF a, VGF b) { return std::memcmp(a._v, b._v, internal_taille_bignum()) == 0; }

std::uint32_t Hash_VGF(VGF a, std::uint32_t seed) {
    std::uint32_t h = seed;
    for (unsigned i = 0; i < size_of_vectors; ++i) h = (h * 256u + a._v[i]) % 16777213u;
    return h;
}

VGF rdm_VGF(unsigned) { return cVGF((std::int64_t)random()); }

VGF String_to_VGF(const char* s) {
    if (std::strlen(s) <= 5) return cVGF((std::int64_t)atol(s));
    const unsigned k = size_of_vectors;
    const std::uint32_t* p = VGF::_prime._v;
    const std::uint64_t* m = VGF::_recip;
    VGF acc = cVGF(0);
    std::vector<std::uint32_t> weight(k, 1);
    // Groups of six digits from the right, weighted by powers of 10^6 mod p_i.
    const bool neg = six_digit_groups(s, [&](long digits) {
        const std::uint64_t g = (std::uint64_t)digits;
        for (unsigned i = 0; i < k; ++i)
            acc._v[i] = reduce_VGF(acc._v[i] + (std::uint64_t)c_residue((std::int64_t)g, p[i]) * weight[i],
                                   p[i], m[i]);
        for (unsigned i = 0; i < k; ++i)
            weight[i] = reduce_VGF((std::uint64_t)weight[i] * Modulo6._v[i], p[i], m[i]);
    });
    if (neg) neg_d(acc);
    return acc;
}

// ---------------------------------------------------------------------------
Fortran_Print operator<<(Fortran_Print p, VGF a) {
    const unsigned k = size_of_vectors;
    if (want_raw_binary_output) {
        p = p << '{';
        for (unsigned i = 0; i < k; ++i) p = raw(p, a._v[i]);
    } else if (want_Host_output) {
        if (k > 1) p = p << '[';
        for (unsigned i = 0; i < k; ++i) {
            if (i) p = p << ',';
            p = p << a._v[i];
        }
        if (k > 1) p = p << ']';
    } else {
        if (k != 1) p = p << '<';
        for (unsigned i = 0; i < k; ++i) {
            if (i) p = p << ' ';
            p = p << a._v[i];
        }
        if (k != 1) p = p << '>';
    }
    return p;
}

Posso_Print operator<<(Posso_Print p, VGF a) {
    Fortran_Print(p.f) << a;
    return p;
}

namespace {
template <class P> P angle_form(P p, VGF a) {
    p = p << '<';
    for (unsigned i = 0; i < size_of_vectors; ++i) {
        if (i) p = p << ' ';
        p = p << a._v[i];
    }
    return p << '>';
}
}  // namespace

Tex_Print operator<<(Tex_Print p, VGF a) { return angle_form(p, a); }
Basic_Print operator<<(Basic_Print p, VGF a) { return angle_form(p, a); }
Lib_Print operator<<(Lib_Print p, VGF a) { return angle_form(p, a); }

// Several residues would run together in the Lisp reader: they go as a vector.
Lisp_Print operator<<(Lisp_Print p, VGF a) {
    if (size_of_vectors == 1) return p << a._v[0];
    p = p << "#(";
    for (unsigned i = 0; i < size_of_vectors; ++i) {
        if (i) p = p << ' ';
        p = p << a._v[i];
    }
    return p << ')';
}

void fortran(VGF a) { Fortran << a; }
void lisp(VGF) {}
Fortran_Print fortran_pseudo_rational(Fortran_Print p, VGF a, VGF) { return p << a; }

void afficherHeader_VGF() {
    Output("\n#modulo <");
    for (unsigned i = 0; i < size_of_vectors; ++i) Output("%u ", VGF::_prime._v[i]);
    Output(">\n");
}

void afficher_NTL_VGF() {
    for (unsigned i = 0; i < size_of_vectors; ++i) Output(" %u ", VGF::_prime._v[i]);
    Output("\n");
}

void defHost_VGF(const char* name) {
    Output("%s:=[%u", name, VGF::_prime._v[0]);
    for (unsigned i = 1; i < size_of_vectors; ++i) Output(",%u ", VGF::_prime._v[i]);
    Output("]:\n");
}

void inter_info_VGF() {
    Output("Entier INT (Compatible with Quor %u) codage classique \n", size_of_vectors);
}

}  // namespace tesk::vgf
