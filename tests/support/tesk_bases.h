// Stored systems and bases of the test data as Tesk polynomial lists.
#ifndef QUOR_TESTS_SUPPORT_TESK_BASES_H
#define QUOR_TESTS_SUPPORT_TESK_BASES_H

#include <gmp.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "host/standin/system_file.h"
#include "tesk/algo/sugar.h"
#include "tests/support/tesk_poly_model.h"

namespace tesk_poly_model {

// The polynomials of a system file as a Tesk list, their integer coefficients
// reduced modulo the instance's primes, in order.
template <class I>
tesk::poly::List<I>* to_tesk(const std::vector<quor::standin::Poly>& polys) {
    using M = tesk::poly::Dmp<I>;
    const auto primes = Model<I>::primes();
    std::vector<tesk::poly::Term<I>*> ps;
    for (const auto& q : polys) {
        tesk::poly::Term<I>* p = nullptr;
        for (const auto& t : q) {
            std::vector<std::uint16_t> e(t.e.begin(), t.e.end());
            std::vector<u32> r;
            for (u64 pr : primes) r.push_back(u32(mpz_fdiv_ui(t.c.get(), pr)));
            p = M::add_dd(p, M::monom_raw(e.data(), r.data(), unsigned(r.size())));
        }
        ps.push_back(p);
    }
    tesk::poly::List<I>* l = nullptr;
    for (auto it = ps.rbegin(); it != ps.rend(); ++it) l = M::Lists::cons(*it, l);
    return l;
}

// The polynomials of tests/data/<file> (one per line), over the variables of tests/data/<system>.txt, with their integer
// coefficients reduced modulo the instance's primes, in the file's order.
template <class I>
tesk::poly::List<I>* load_basis(const std::string& system, const std::string& file) {
    const std::string dir = QUOR_TEST_DATA_DIR;
    const auto sys = quor::standin::read_system(dir + "/" + system + ".txt");
    std::string text = "[", line;
    std::ifstream in(dir + "/" + file);
    while (std::getline(in, line))
        if (!line.empty()) text += (text.size() > 1 ? "," : "") + line;
    const auto polys = quor::standin::parse_poly_list(text + "]", sys, file);
    EXPECT_EQ(Model<I>::n(), sys.vars.size()) << file;
    return to_tesk<I>(polys);
}

// The system tests/data/<system>.txt.
template <class I>
tesk::poly::List<I>* load_system(const std::string& system) {
    const auto sys = quor::standin::read_system(std::string(QUOR_TEST_DATA_DIR) + "/" + system + ".txt");
    EXPECT_EQ(Model<I>::n(), sys.vars.size()) << system;
    return to_tesk<I>(sys.polys);
}

// The sugar loop's instance I over n variables (one block), modulo 65521 or
// two default primes.
template <class I>
void sugar_set_up(unsigned n) {
    tesk::want_quiet = 1;
    tesk::algo::Sugar<I>::init();
    if constexpr (I::D::kOnHeap)
        tesk::set_VGF(2);
    else
        tesk::gfc::set_module_GFC(65521);
    tesk::algo::Sugar<I>::set(n, I::L::kDegBlocks == 2 ? n : 0, 0);
}

// The polynomials of l (released), made monic when asked, in a canonical order.
template <class I>
std::vector<typename Model<I>::Poly> canonical(tesk::poly::List<I>* l, bool make_monic) {
    using M = tesk::poly::Dmp<I>;
    std::vector<typename Model<I>::Poly> v;
    for (tesk::poly::List<I>* c = l; c; c = c->next) v.push_back(Model<I>::read(make_monic ? M::hMonic(c->elt) : c->elt));
    M::Lists::kill_all(l);
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace tesk_poly_model

#endif
