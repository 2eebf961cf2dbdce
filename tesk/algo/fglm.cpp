// Change of ordering (fglm.h).
#include "tesk/algo/fglm.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/dense_vgf.h"
#include "tesk/base/runtime.h"
#include "tesk/poly/bloc.h"
#include "tesk/poly/staircase.h"

namespace tesk::algo {

// The elimination state: M sends the k-th independent normal form (written
// on the degree staircase as mu) to the k-th unit vector; lambda = M * mu.
SM__QFVGF M;
V__QFVGF mu;
V__QFVGF lambda;

namespace {

using Src = Fglm::Src;
using Dst = Fglm::Dst;
using SM = poly::Dmp<Src>;
using DM = poly::Dmp<Dst>;
using SP = poly::Term<Src>;
using Expo = std::vector<std::uint16_t>;  // exponents in variable order

// Exponents of a term of the degree package.
Expo exponents(const SP* t, unsigned n) {
    Expo e(n);
    for (unsigned i = 0; i < n; ++i) e[i] = std::uint16_t(SM::X::extraire(t->exp, i));
    return e;
}

bool divides(const Expo& a, const Expo& b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] > b[i]) return false;
    return true;
}

struct Walk {
    unsigned n;
    int dim;
    Walk(unsigned vars, int d) : n(vars), dim(d) {}
    std::vector<SP*> R;       // the monic reducers
    std::vector<SP*> xs;      // x_k, one term each
    std::map<Expo, unsigned> column;  // degree-staircase monomial -> coordinate
    std::vector<Expo> stair;  // lex standard monomials, in the order found
    std::vector<SP*> nf;      // their normal forms
    std::vector<Expo> leads;  // lex leading monomials found
    // Candidates by increasing lex order (variable 0 the greatest), with the
    // standard monomial and the variable that make each one.
    std::map<Expo, std::pair<unsigned, unsigned>> todo;

    // mu := the coordinates of p; false when p leaves the staircase of dim monomials.
    bool coordinates(SP* p) {
        mu.zero();
        for (SP* t = p; t; t = t->next) {
            auto [it, fresh] = column.emplace(exponents(t, n), unsigned(column.size()));
            if (it->second >= unsigned(dim)) return false;
            mu[int(it->second)] = t->coef;
        }
        return true;
    }
    void offer(unsigned from) {
        for (unsigned k = 0; k < n; ++k) {
            Expo e = stair[from];
            ++e[k];
            bool skip = todo.count(e) != 0;
            for (const Expo& l : leads) skip = skip || divides(l, e);
            if (!skip) todo.emplace(std::move(e), std::make_pair(from, k));
        }
    }
    // x^e minus its coordinates lambda[0 .. s) on the lex standard monomials.
    poly::Term<Dst>* relation(const Expo& e, unsigned s) {
        poly::Term<Dst>* p = DM::monom_raw(e.data(), cVGF(1));
        for (unsigned l = 0; l < s; ++l)
            if (test(lambda[int(l)])) p = DM::add_dd(p, DM::monom_raw(stair[l].data(), vgf::minus(lambda[int(l)])));
        return p;
    }
    ~Walk() {
        for (SP* p : R) SM::Terms::kill_all(p);
        for (SP* p : xs) SM::Terms::kill_all(p);
        for (SP* p : nf) SM::Terms::kill_all(p);
    }
};

}  // namespace

void Fglm::init() {
    static bool done = false;
    if (done) return;
    done = true;
    DM::init();
    init_Objet_Bloc();
    init_List_Bloc();
}

void Fglm::set(unsigned n, unsigned a, unsigned b) { DM::set(n, a, b); }

poly::List<Dst>* Fglm::change_ordering(poly::List<Src>* G, Fglm_Status* status, int* solutions) {
    const unsigned n = Src::L::n();
    const int dim = poly::Staircase<Src>::calculer_nb_solutions(G);
    if (solutions) *solutions = dim;
    *status = Fglm_Status::Not_Dim0;
    if (dim < 0) return nullptr;
    *status = Fglm_Status::Done;
    const Expo zero(n, 0);
    if (dim == 0) return DM::Lists::cons(DM::monom_raw(zero.data(), cVGF(1)), nullptr);

    Walk w(n, dim);
    if (!Normal_Forms<Src>::monic_reducers(G, w.R)) {
        *status = Fglm_Status::Bad_Prime;
        return nullptr;
    }
    for (unsigned k = 0; k < n; ++k) {
        Expo e(n, 0);
        e[k] = 1;
        w.xs.push_back(SM::monom_raw(e.data(), cVGF(1)));
    }
    M.kill();
    mu.kill();
    lambda.kill();
    M = SM__QFVGF(unsigned(dim));
    M.one();
    mu = V__QFVGF(unsigned(dim));
    lambda = V__QFVGF(unsigned(dim));

    poly::List<Dst>* out = nullptr;
    w.todo.emplace(zero, std::make_pair(0u, 0u));
    while (!w.todo.empty()) {
        poll_interrupt();
        auto node = w.todo.extract(w.todo.begin());
        const Expo& e = node.key();
        bool skip = false;
        for (const Expo& l : w.leads) skip = skip || divides(l, e);
        if (skip) continue;
        const unsigned s = unsigned(w.stair.size());
        SP* p = s == 0 ? SM::monom_raw(zero.data(), cVGF(1))
                       : SM::mult_dd(SM::copy(w.nf[node.mapped().first]), w.xs[node.mapped().second]);
        p = Sugar<Src>::reduce_all(p, w.R);
        if (!w.coordinates(p)) Fatal("Change of ordering: a normal form leaves the staircase of %d monomials\n", dim);
        mul(M, mu, lambda);
        unsigned i = s;
        while (i < unsigned(dim) && !test(lambda[int(i)])) ++i;
        if (i == unsigned(dim)) {  // a dependence: a basis polynomial
            out = DM::Lists::cons(w.relation(e, s), out);
            w.leads.push_back(e);
            SM::Terms::kill_all(p);
            continue;
        }
        if (!Normal_Forms<Src>::invertible(lambda[int(i)])) {
            SM::Terms::kill_all(p);
            DM::Lists::kill_all(out);
            *status = Fglm_Status::Bad_Prime;
            return nullptr;
        }
        // The first vector is 1, coordinate 0 of the identity: nothing to eliminate.
        if (s > 0) mise_a_jour(i, s - 1, M, lambda, lambda[int(i)]);
        w.stair.push_back(e);
        w.nf.push_back(p);
        w.offer(s);
    }
    if (w.stair.size() != unsigned(dim)) Fatal("Change of ordering: %u standard monomials for %d solutions\n",
                                               unsigned(w.stair.size()), dim);
    return out;
}

}  // namespace tesk::algo
