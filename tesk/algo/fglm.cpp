// Change of ordering (fglm.h).
#include "tesk/algo/fglm.h"

#include <cstdint>
#include <map>
#include <vector>

#include "tesk/algo/lex_walk.h"
#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/dense_vgf.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
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

struct Walk {
    unsigned n;
    int dim;
    Walk(unsigned vars, int d) : n(vars), dim(d), lex(vars) {}
    std::vector<SP*> R;       // the monic reducers
    std::vector<SP*> xs;      // x_k, one term each
    std::map<Expo, unsigned> column;  // degree-staircase monomial -> coordinate
    Lex_Walk lex;             // the lex standard monomials, in the order found
    // One block per standard monomial (newest first in the list; by index in
    // the vector): head the monomial, nf its normal form made monic, len the
    // independent multiples found from it.  scale[l]: the normal form of
    // lex.stair()[l] is scale[l] * nf, so the elimination sees exact normal forms.
    sList_Bloc* blocks = nullptr;
    std::vector<sBloc*> block;
    std::vector<VGF> scale;

    // mu is only read: one zero for its empty places, not dim new ones a step.
    VGF zero = cVGF(0);
    // mu := the coordinates of p; false when p leaves the staircase of dim monomials.
    bool coordinates(SP* p) {
        for (unsigned i = 0; i < unsigned(dim); ++i) mu[int(i)] = zero;
        for (SP* t = p; t; t = t->next) {
            auto [it, fresh] = column.emplace(exponents<Src>(t, n), unsigned(column.size()));
            if (it->second >= unsigned(dim)) return false;
            mu[int(it->second)] = t->coef;
        }
        return true;
    }
    // x^e minus its coordinates lambda[0 .. s) on the lex standard monomials.
    poly::Term<Dst>* relation(const Expo& e, unsigned s) {
        poly::Term<Dst>* p = DM::monom_raw(e.data(), cVGF(1));
        for (unsigned l = 0; l < s; ++l)
            if (test(lambda[int(l)]))
                p = DM::add_dd(p, DM::monom_raw(lex.stair()[l].data(), vgf::minus(lambda[int(l)])));
        return p;
    }
    // The block of a new standard monomial e with exact normal form p
    // (consumed); false when its leading coefficient is not invertible
    // modulo every prime.
    bool keep(const Expo& e, SP* p) {
        const VGF u = copy(p->coef);  // hMonic below changes the coefficient in place
        if (!Normal_Forms<Src>::invertible(u)) {
            SM::Terms::kill_all(p);
            return false;
        }
        scale.push_back(u);
        blocks = creat_List_Bloc(SM::monom_raw(e.data(), cVGF(1)), SM::hMonic(p), 0, blocks);
        block.push_back(blocks->elt);
        return true;
    }
    ~Walk() {
        for (SP* p : R) SM::Terms::kill_all(p);
        for (SP* p : xs) SM::Terms::kill_all(p);
        kill_all_List_Bloc(blocks);
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

unsigned Fglm::square_bytes() {
    const unsigned vec = 4 * vgf::size_of_vectors;
    // The matrix's handle and vector; what each step leaves on the coefficient
    // heap, never given back (its product, and the elimination's quotient and
    // multiplier); a term of the normal form kept per standard monomial.
    return unsigned(sizeof(VGF)) + vec + 3 * vec + poly::Term_Spec<Src>::stride() + vec;
}

poly::List<Dst>* Fglm::change_ordering(poly::List<Src>* G, Fglm_Status* status, int* solutions) {
    const unsigned n = Src::L::n();
    if (want_qhomogene) Fatal("Change of ordering: the staircases of -qhomog leave the last variable out\n");
    const int dim = poly::Staircase<Src>::held_nb_solutions(G, "Change of ordering", square_bytes());
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
    Expo e;
    unsigned parent, var;
    while (w.lex.next(&e, &parent, &var)) {
        poll_interrupt();
        const unsigned s = unsigned(w.lex.stair().size());
        SP* p = s == 0 ? SM::monom_raw(zero.data(), cVGF(1)) : SM::mult_dd(SM::copy(w.block[parent]->nf), w.xs[var]);
        p = Sugar<Src>::reduce_all(p, w.R);
        if (s > 0) p = SM::scal(w.scale[parent], p);
        if (!w.coordinates(p)) Fatal("Change of ordering: a normal form leaves the staircase of %d monomials\n", dim);
        mul(M, mu, lambda);
        unsigned i = s;
        while (i < unsigned(dim) && !test(lambda[int(i)])) ++i;
        if (i == unsigned(dim)) {  // a dependence: a basis polynomial
            out = DM::Lists::cons(w.relation(e, s), out);
            w.lex.leading(e);
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
        if (!w.keep(e, p)) {
            DM::Lists::kill_all(out);
            *status = Fglm_Status::Bad_Prime;
            return nullptr;
        }
        if (s > 0) ++w.block[parent]->len;
        w.lex.standard(e);
    }
    if (w.lex.stair().size() != unsigned(dim))
        Fatal("Change of ordering: %u standard monomials for %d solutions\n", unsigned(w.lex.stair().size()), dim);
    return out;
}

}  // namespace tesk::algo
