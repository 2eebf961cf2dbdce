// Definitions of the polynomial wire forms (protocol.h).  Included only by
// the files that instantiate them, one per instance.
#ifndef TESK_POLY_PROTOCOL_IMPL_H
#define TESK_POLY_PROTOCOL_IMPL_H

#include <type_traits>

#include "tesk/poly/protocol.h"

namespace tesk::poly {

// The coefficient wire forms of each domain, after the coefficient's code.
template <class D> struct Coef_Wire;
template <>
struct Coef_Wire<VGF_Domain> {
    static constexpr Messages kCode = MSG_TESK_RAW;
    static void out_protocol(BUS& b, VGF c) { vgf::out_protocol_VGF(b, c); }
    static void out(BUS& b, VGF c) { vgf::out_VGF(b, c); }
    static void out_domain(BUS& b) { vgf::out_domain_protocol_VGF(b); }
    static VGF read(BUS& b) {  // [k] residues, each reduced; fatal unless k is the number of primes
        VGF a;
        vgf::LIRE_VGF(b, a, get_word(b));
        return a;
    }
};
template <>
struct Coef_Wire<GFC_Domain> {
    static constexpr Messages kCode = MSG_TESK_GF;
    static void out_protocol(BUS& b, unsigned c) { gfc::out_protocol_GFC(b, Uniq_GFC(c)); }
    static void out(BUS& b, unsigned c) { gfc::out_GFC(b, Uniq_GFC(c)); }
    static void out_domain(BUS& b) { gfc::out_domain_protocol_GFC(b); }
    static unsigned read(BUS& b) {  // one word, reduced
        unsigned a;
        gfc::read_QFGFC(b, a);
        return a;
    }
};

// The trailing variables the server front end adds to each exponent type.
template <class L>
int extra_end_vars() {
    if constexpr (std::is_same_v<L, BigDexp_Layout>)
        return extra_nb_end_vars_BigDexp;
    else if constexpr (std::is_same_v<L, BigLexp_Layout>)
        return extra_nb_end_vars_BigLexp;
    else
        return extra_nb_end_vars_DRLDRL;
}

namespace wire_detail {
inline bool starts_polynomial(std::uint32_t c) {
    return c == MSG_TESK_NEED_SORT || c == MSG_TESK_NIL || c == MSG_TESK_GDMP || c == MSG_TESK_LAST_GDMP;
}
// A chain being read: when a refusal unwinds the read (an exit hook that
// does not end the process), its records and what they hold go back to their
// family instead of being lost.
template <class Fam, class R>
struct Reading {
    Chain<R> chain;
    Reading() = default;
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;
    ~Reading() {
        if (chain.head) Fam::kill_all(chain.finish());
    }
    // The chain read, which the caller now owns.
    R* take() {
        R* r = chain.finish();
        chain.head = chain.tail = nullptr;
        return r;
    }
};

[[noreturn]] inline void refuse(std::uint32_t code, const char* expected, const char* inst) {
    Fatal("Unexpected code %u on the channel where %s of %s was expected\n", code, expected, inst);
}
inline Messages next_code(BUS& b) { return Messages(get_word(b)); }
}  // namespace wire_detail

// ------------------------------------------------------------------ writers
template <class I>
void Wire<I>::out_protocol(BUS& b, P* p, Boolean drop_last) {
    put_word(b, MSG_TESK_NEED_SORT);
    p = Dmp<I>::strip(p);
    if (!p) return put_word(b, MSG_TESK_NIL);
    for (P* t = p; t; t = t->next) {
        put_word(b, t->next ? MSG_TESK_GDMP : MSG_TESK_LAST_GDMP);
        Coef_Wire<typename I::D>::out_protocol(b, t->coef);
        expo::out_protocol<typename I::L>(b, t->exp, drop_last);
    }
}

template <class I>
void Wire<I>::out_protocol_list(BUS& b, Lst* l, Boolean drop_last) {
    put_word(b, MSG_TESK_Begin);
    for (; l; l = l->next) out_protocol(b, l->elt, drop_last);
    put_word(b, MSG_TESK_End);
}

template <class I>
void Wire<I>::out_protocol_list_list(BUS& b, LL* l, Boolean) {
    put_word(b, MSG_TESK_Begin);
    for (; l; l = l->next) out_protocol_list(b, l->elt, 0);
    put_word(b, MSG_TESK_End);
}

template <class I>
void Wire<I>::out_domain_protocol(BUS& b) {
    expo::out_domain_protocol<typename I::L>(b);
    Coef_Wire<typename I::D>::out_domain(b);
}

template <class I>
void Wire<I>::out(BUS& b, P* p) {
    p = Dmp<I>::strip(p);
    if (!p) return put_word(b, MSG_TESK_NIL);
    for (P* t = p; t; t = t->next) {
        put_word(b, t->next ? MSG_TESK_GDMP : MSG_TESK_LAST_GDMP);
        Coef_Wire<typename I::D>::out(b, t->coef);
        expo::out_exponents<typename I::L>(b, t->exp, I::L::n());
    }
}

template <class I>
void Wire<I>::out_list(BUS& b, Lst* l) {
    put_word(b, MSG_TESK_Begin);
    for (; l; l = l->next) out(b, l->elt);
    put_word(b, MSG_TESK_End);
}

template <class I>
void Wire<I>::out_list_list(BUS& b, LL* l) {
    put_word(b, MSG_TESK_Begin);
    for (; l; l = l->next) out_list(b, l->elt);
    put_word(b, MSG_TESK_End);
}

// ------------------------------------------------------------------ readers
template <class I>
Term<I>* Wire<I>::lire(BUS& b) {
    using L = typename I::L;
    using CW = Coef_Wire<typename I::D>;
    if (const std::uint32_t c = get_word(b); c != CW::kCode) wire_detail::refuse(c, "a coefficient", I::kDMP);
    const typename I::D::C coef = CW::read(b);
    if (const std::uint32_t c = get_word(b); c != MSG_TESK_DIRPCAT) wire_detail::refuse(c, "exponents (12)", I::kDMP);
    const unsigned n = L::n();
    const int lead = L::extra(), tail = extra_end_vars<L>();
    if (lead < 0 || tail < 0 || unsigned(lead) + unsigned(tail) > n)
        Fatal("%d leading and %d trailing added variables do not fit the %u variables of %s\n", lead, tail, n,
              L::kName);
    std::uint16_t exps[kMaxExpoWords * (64 / L::kBits)];
    for (unsigned i = 0; i < n; ++i) exps[i] = 0;
    for (unsigned i = unsigned(lead); i < n - unsigned(tail); ++i) exps[i] = get_half(b);
    return Dmp<I>::monom_raw(exps, coef);  // refuses exponents the type cannot hold
}

template <class I>
Term<I>* Wire<I>::read(BUS& b, Messages first) {
    const bool summing = first == MSG_TESK_NEED_SORT;
    std::uint32_t code = summing ? get_word(b) : first;
    if (code == MSG_TESK_NIL) return nullptr;
    const char* expected = summing ? "a term (11 or 14) or zero (8)" : "a polynomial (123, 8, 11 or 14)";
    wire_detail::Reading<typename Dmp<I>::Terms, P> out;
    bool sorted = true;
    for (;;) {
        if (code != MSG_TESK_GDMP && code != MSG_TESK_LAST_GDMP) wire_detail::refuse(code, expected, I::kDMP);
        if (P* t = lire(b)) {
            if (out.chain.tail && expo::Packed<typename I::L>::greater(out.chain.tail->exp, t->exp) <= 0) {
                if (!summing) {
                    Dmp<I>::Terms::kill(t);
                    Fatal("Terms out of order in a polynomial of %s read from the channel (only code 123 sorts)\n",
                          I::kDMP);
                }
                sorted = false;
            }
            out.chain.add(t);
        }
        if (code == MSG_TESK_LAST_GDMP) break;
        code = get_word(b);
        expected = "a term (11 or 14)";
    }
    P* p = out.take();
    return sorted ? p : Dmp<I>::sort_and_merge(p);
}

template <class I>
List<I>* Wire<I>::read_list(BUS& b) {
    wire_detail::Reading<typename Dmp<I>::Lists, Lst> out;
    for (Messages code = wire_detail::next_code(b); code != MSG_TESK_End; code = wire_detail::next_code(b)) {
        if (!wire_detail::starts_polynomial(code))
            wire_detail::refuse(code, "a polynomial (123, 8, 11 or 14) or the end of a list (7)", I::kDMP);
        P* p = read(b, code);
        Lst* c = Dmp<I>::Lists::new_();
        c->elt = p;
        out.chain.add(c);
    }
    return out.take();
}

template <class I>
List_List<I>* Wire<I>::read_list_list(BUS& b) {
    wire_detail::Reading<typename Dmp<I>::Lists2, LL> out;
    for (Messages code = wire_detail::next_code(b); code != MSG_TESK_End; code = wire_detail::next_code(b)) {
        if (code != MSG_TESK_Begin) wire_detail::refuse(code, "a list (6) or the end of a list (7)", I::kDMP);
        Lst* l = read_list(b);
        LL* c = Dmp<I>::Lists2::new_();
        c->elt = l;
        out.chain.add(c);
    }
    return out.take();
}

}  // namespace tesk::poly

#endif
