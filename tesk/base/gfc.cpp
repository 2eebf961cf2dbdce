// Coefficient domain GFC: the small prime field of the prime-field build.
#include "tesk/base/gfc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tesk/base/bigblock.h"
#include "tesk/base/runtime.h"

namespace tesk::gfc {

std::int64_t MAGIC = 0;
std::uint32_t inv_tab_GFC[GFC_TABLE_SIZE];
std::uint32_t Modulo6 = 0;
char state1[128];
std::uint64_t magic_recip_GFC = 0;

namespace {

bool is_small_prime(std::uint32_t p) {
    if (p < 2) return false;
    for (std::uint32_t d = 2; d * d <= p; ++d)
        if (p % d == 0) return false;
    return true;
}

// Extended Euclid that stops at the first remainder whose inverse is already
// in the table: x runs upwards and inverses are stored in pairs, so every
// remainder below x is known by then (r = 1 at the latest).
std::uint32_t find_inv(std::uint32_t x) {
    const std::int64_t p = MAGIC;
    std::int64_t r0 = p, r1 = x, t0 = 0, t1 = 1;
    while (inv_tab_GFC[r1] == 0) {
        std::int64_t q = r0 / r1;
        std::int64_t r2 = r0 % r1;
        r0 = r1;
        r1 = r2;
        std::int64_t t2 = (t0 - q * t1) % p;
        t0 = t1;
        t1 = t2;
    }
    if (t1 < 0) t1 += p;
    return mult(cGFC(t1), inv_tab_GFC[r1]);
}

}  // namespace

void init_random() {
    initstate(1, state1, sizeof state1);
    setstate(state1);
}

void init_GFC() {
    static bool done = false;
    if (done) return;
    done = true;
    MAGIC = 0;
    init_random();
    set_module_GFC(DEFAULT_MODULE_GFC);
}

int set_module_GFC(std::uint32_t p) {
    if (p > 65534) Fatal("Prime must be < %u !\n", 65535u);
    // A composite modulus has zero divisors: the inverse table could not be
    // built (Euclid would divide by zero) and quotients would be wrong.
    if (!is_small_prime(p)) Fatal("%u is not a prime !\n", p);
    if ((std::int64_t)p == MAGIC) return 2;
    MAGIC = p;
    magic_recip_GFC = ~std::uint64_t(0) / p + 1;
    std::memset(inv_tab_GFC, 0, sizeof(std::uint32_t) * p);
    inv_tab_GFC[1] = 1;
    std::uint32_t k = 1000 % p;
    Modulo6 = mult(k, k);
    for (std::uint32_t x = 2; x < p; ++x) {
        if (inv_tab_GFC[x]) continue;
        std::uint32_t y = find_inv(x);
        inv_tab_GFC[x] = y;
        inv_tab_GFC[y] = x;
    }
    return 1;
}

void set_GFC(unsigned) {}
void set_GFC(unsigned, const std::uint32_t*) {}

void set_modules_GFC(const std::uint32_t*, unsigned) { Fatal("set_module_GFC not implemented\n"); }

std::uint32_t cGFC(std::int64_t v) {
    std::int64_t r = v % MAGIC;
    return (std::uint32_t)(r < 0 ? r + MAGIC : r);
}

unsigned exp(unsigned a, std::int64_t e) {
    if (e == 0) return 1;
    std::uint64_t n;
    if (e < 0) {
        a = inv_tab_GFC[a];
        n = (std::uint64_t)0 - (std::uint64_t)e;
    } else {
        n = (std::uint64_t)e;
    }
    unsigned r = 1;
    while (n) {
        if (n & 1) r = mult(r, a);
        a = mult(a, a);
        n >>= 1;
    }
    return r;
}

unsigned binomial_GFC(std::int64_t n, std::int64_t k) {
    if (n < 0 || k < 0 || k > n) return 0;
    if (k == 0) return 1;
    if (2 * k > n) return binomial_GFC(n, n - k);
    unsigned r = cGFC(n);
    for (std::int64_t i = n - k + 1; i < n; ++i) mult_d(r, cGFC(i));
    for (std::int64_t i = 2; i <= k; ++i) mult_d(r, inv_tab_GFC[cGFC(i)]);
    return r;
}

unsigned rdm_GFC(unsigned) { return cGFC(random()); }

unsigned String_to_GFC(const char* s) {
    if (std::strlen(s) < 6) return cGFC(atol(s));
    // Groups of six digits from the right, weighted by powers of 10^6 mod p.
    unsigned acc = 0, weight = 1;
    const bool neg = six_digit_groups(s, [&](long g) {
        lin_d(acc, cGFC(g), weight);
        mult_d(weight, Modulo6);
    });
    if (neg) neg_d(acc);
    return acc;
}

char* coerce_Cste_String(unsigned a) {
    char* s = (char*)(*Tesk_Tesk_malloc)(12);
    if (!s) Fatal("Pas assez de memoire pour *UN* entier (%d)!\n", 12);
    std::snprintf(s, 12, "%u", a);
    return s;
}

Fortran_Print operator<<(Fortran_Print p, Uniq_GFC a) { return p << (long)(unsigned)a; }
Posso_Print operator<<(Posso_Print p, Uniq_GFC a) { return p << (long)(unsigned)a; }
Basic_Print operator<<(Basic_Print p, Uniq_GFC a) { return p << (long)(unsigned)a; }
Lisp_Print operator<<(Lisp_Print p, Uniq_GFC a) { return p << (long)(unsigned)a; }
void lisp(unsigned a) { lisp_long((long)a); }
Fortran_Print fortran_pseudo_rational(Fortran_Print p, unsigned a, unsigned) { return p << a; }

void afficherHeader_GFC() { Output("%ccoeffring %codulo %u\n", '#', 'm', (unsigned)MAGIC); }
void afficher_NTL_GFC() { Output("%u\n", (unsigned)MAGIC); }
void inter_info_GFC() { Output("Entier Z/%uZ codage classique \n", (unsigned)MAGIC); }

}  // namespace tesk::gfc
