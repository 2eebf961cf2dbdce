// The four instances of the polynomial package: an exponent type and a
// coefficient domain each.  BigDexp__VGF and BigLexp__VGF serve the integer
// build, DRLDRL__GFC the prime-field build, DRLDRL16__GFC its ideal
// operations where DRLDRL's exponents are too narrow.  The generated code of the
// package reads the same over every instance; what differs is gathered here.
#ifndef TESK_POLY_INSTANCE_H
#define TESK_POLY_INSTANCE_H

#include <cstdint>
#include <cstring>

#include "tesk/base/bigblock.h"
#include "tesk/base/bigdexp.h"
#include "tesk/base/biglexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/base/drldrl16.h"
#include "tesk/base/gfc.h"
#include "tesk/base/vgf.h"

namespace tesk::poly {

// Coefficient domains under one vocabulary.  `_d` forms update their first
// argument; the others leave it and (VGF) allocate their result on the heap.
struct VGF_Domain {
    using C = vgf::VGF;
    using Value = std::uint32_t;  // monom_raw's one-word form: every residue from one value
    static constexpr const char* kName = "VGF";
    static constexpr bool kOnHeap = true;  // coefficients live on the VGF heap
    static void init() { vgf::init_VGF(); }
    static C from_int(std::int64_t v) { return vgf::cVGF(v); }  // |v| < 2^32
    static C one() { return vgf::cVGF(std::int64_t{1}); }
    static C copy(C a) { return vgf::copy(a); }
    static void kill(C a) { vgf::kill(a); }
    static void add_d(C& a, C b) { vgf::add_d(a, b); }
    static void mult_d(C& a, C b) { vgf::mult_d(a, b); }
    static void quot_d(C& a, C b) { vgf::quot_d(a, b); }
    static void neg_d(C& a) { vgf::neg_d(a); }
    static void lin_d(C& a, C b, C c) { vgf::lin_d(a, b, c); }  // a := a + b*c
    static C mult(C a, C b) { return vgf::mult(a, b); }
    static C quot(C a, C b) { return vgf::quot(a, b); }
    static C minus(C a) { return vgf::minus(a); }
    static C inv(C a) { return vgf::inv(a); }
    static C gcd(C a, C b) { return vgf::gcd(a, b); }
    static bool test(C a) { return vgf::test(a); }
    static bool is_zero(C a) { return vgf::is_zero(a); }
    static bool is_one(C a) { return vgf::is_one(a); }
    static bool equal(C a, C b) { return vgf::comp_EQ(a, b); }
    static unsigned hash(C a, unsigned seed) { return vgf::Hash_VGF(a, seed); }
    static int size(C a) { return vgf::size(a); }
    static double estime_log(C a) { return vgf::estime_log(a); }
    static C random() { return vgf::rdm_VGF(1000); }
    static std::uint32_t to_unsigned(C a) { return vgf::coerce_unsigned(a); }  // the first residue
    static unsigned residues() { return vgf::size_of_vectors; }
    // The first n words of w (the rest 0), each reduced modulo its prime.
    static C from_residues(const std::uint32_t* w, unsigned n) {
        C a = vgf::pretend_block_VGF(w, n);
        for (unsigned i = 0; i < n && i < vgf::size_of_vectors; ++i)
            a._v[i] = vgf::reduce_VGF(a._v[i], C::_prime._v[i], C::_recip[i]);
        return a;
    }
    static C from_value(Value x) {
        C a = vgf::pretend_VGF(x);
        for (unsigned i = 0; i < vgf::size_of_vectors; ++i)
            a._v[i] = vgf::reduce_VGF(a._v[i], C::_prime._v[i], C::_recip[i]);
        return a;
    }
    static void to_residues(C a, std::uint32_t* out) { std::memcpy(out, a._v, 4 * std::size_t(residues())); }
    static Fortran_Print print(Fortran_Print p, C a) { return p << a; }
};

struct GFC_Domain {
    using C = unsigned;
    // A residue is already one word: the one-word monom_raw form is the
    // coefficient form itself, so this type only keeps the overloads apart.
    struct Value { explicit Value() = default; };
    static constexpr const char* kName = "GFC";
    static constexpr bool kOnHeap = false;
    static void init() { gfc::init_GFC(); }
    static C from_int(std::int64_t v) { return gfc::cGFC(v); }
    static C one() { return 1; }
    static C copy(C a) { return a; }
    static void kill(C) {}
    static void add_d(C& a, C b) { gfc::add_d(a, b); }
    static void mult_d(C& a, C b) { gfc::mult_d(a, b); }
    static void quot_d(C& a, C b) { gfc::quot_d(a, b); }
    static void neg_d(C& a) { gfc::neg_d(a); }
    static void lin_d(C& a, C b, C c) { gfc::lin_d(a, b, c); }
    static C mult(C a, C b) { return gfc::mult(a, b); }
    static C quot(C a, C b) { return gfc::quot(a, b); }
    static C minus(C a) { return gfc::minus(a); }
    static C inv(C a) { return gfc::inv(a); }
    static C gcd(C a, C b) { return gfc::gcd(a, b); }
    static bool test(C a) { return a != 0; }
    static bool is_zero(C a) { return a == 0; }
    static bool is_one(C a) { return a == 1; }
    static bool equal(C a, C b) { return a == b; }
    static unsigned hash(C a, unsigned seed) { return gfc::Hash_GFC(a, seed); }
    static int size(C a) { return gfc::size(a); }
    static double estime_log(C a) { return gfc::estime_log(a); }
    static C random() { return gfc::rdm_GFC(1000); }
    static std::uint32_t to_unsigned(C a) { return a; }
    static unsigned residues() { return 1; }
    static C from_residues(const std::uint32_t* w, unsigned n) { return n ? gfc::reduce_GFC(w[0]) : 0; }
    static C from_value(Value) { return 0; }
    static void to_residues(C a, std::uint32_t* out) { out[0] = a; }
    static Fortran_Print print(Fortran_Print p, C a) { return gfc::operator<<(p, Uniq_GFC(a)); }
};

// The names every family of an instance carries.
#define TESK_POLY_INSTANCE_NAMES(inst)                                 \
    static constexpr const char* kInst = #inst;                        \
    static constexpr const char* kDMP = "DMP__" #inst;                 \
    static constexpr const char* kList = "List_DMP__" #inst;           \
    static constexpr const char* kListList = "List_List_DMP__" #inst;  \
    static constexpr const char* kStats = "Statistiques_DMP__" #inst;  \
    static constexpr const char* kSCrit = "SCrit__" #inst;

// An instance: L (exponent layout), E (exponent word), D (domain), the
// allocation hook of its build, the exponent type's set-up, the one-argument
// elimination test, and whether the build has the pair family over it.
struct BigDexp__VGF {
    using L = BigDexp_Layout;
    using E = BigDexp;
    using D = VGF_Domain;
    TESK_POLY_INSTANCE_NAMES(BigDexp__VGF)
    static constexpr bool kPairs = true;
    static constexpr bool kParseNew = true;
    static Tesk_Malloc_Fn hook() { return Tesk_int_Tesk_malloc; }
    static void init_expo() { init_BigDexp(); }
    static void set_nb_var(unsigned n, unsigned a, unsigned b) { set_nb_var_BigDexp(n, a, b); }
    static int is_eliminated(const E* e) { return is_eliminated_BigDexp(e); }
};

struct BigLexp__VGF {
    using L = BigLexp_Layout;
    using E = BigLexp;
    using D = VGF_Domain;
    TESK_POLY_INSTANCE_NAMES(BigLexp__VGF)
    static constexpr bool kPairs = false;
    static constexpr bool kParseNew = false;
    static Tesk_Malloc_Fn hook() { return Tesk_int_Tesk_malloc; }
    static void init_expo() { init_BigLexp(); }
    static void set_nb_var(unsigned n, unsigned a, unsigned b) { set_nb_var_BigLexp(n, a, b); }
    static int is_eliminated(const E* e) { return is_eliminated_BigLexp(e); }
};

struct DRLDRL__GFC {
    using L = DRLDRL_Layout;
    using E = DRLDRL;
    using D = GFC_Domain;
    TESK_POLY_INSTANCE_NAMES(DRLDRL__GFC)
    static constexpr bool kPairs = true;
    static constexpr bool kParseNew = true;
    static Tesk_Malloc_Fn hook() { return Tesk_Tesk_malloc; }
    static void init_expo() { init_DRLDRL(); }
    static void set_nb_var(unsigned n, unsigned a, unsigned b) { set_nb_var_DRLDRL(n, a, b); }
    static int is_eliminated(const E* e) { return is_eliminated_DRLDRL(e); }
};

// DRLDRL__GFC's order with 16-bit exponents.
struct DRLDRL16__GFC {
    using L = DRLDRL16_Layout;
    using E = DRLDRL16;
    using D = GFC_Domain;
    TESK_POLY_INSTANCE_NAMES(DRLDRL16__GFC)
    static constexpr bool kPairs = true;
    static constexpr bool kParseNew = true;
    static Tesk_Malloc_Fn hook() { return Tesk_Tesk_malloc; }
    static void init_expo() { init_DRLDRL16(); }
    static void set_nb_var(unsigned n, unsigned a, unsigned b) { set_nb_var_DRLDRL16(n, a, b); }
    static int is_eliminated(const E* e) { return is_eliminated_DRLDRL16(e); }
};

// Applies X(instance, domain) to every instance; each layer of the package
// generates its per-instance names with it.
#define TESK_POLY_INSTANCES(X) X(BigDexp__VGF, VGF) X(BigLexp__VGF, VGF) X(DRLDRL__GFC, GFC) X(DRLDRL16__GFC, GFC)

}  // namespace tesk::poly

#endif
