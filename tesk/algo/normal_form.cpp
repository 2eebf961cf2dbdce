// Normal forms (normal_form.h).
#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/runtime.h"

namespace tesk::algo {

template <class I>
bool Normal_Forms<I>::invertible(C c) {
    if constexpr (I::D::kOnHeap) {
        for (unsigned i = 0; i < vgf::size_of_vectors; ++i)
            if (c[i] == 0) return false;
        return true;
    } else {
        return c != 0;
    }
}

template <class I>
bool Normal_Forms<I>::monic_reducers(Lst* G, std::vector<P*>& R) {
    R.clear();
    for (Lst* c = G; c; c = c->next) {
        P* g = M::strip(c->elt);
        if (!g) continue;
        if (!invertible(g->coef)) {
            for (P* r : R) M::Terms::kill_all(r);
            R.clear();
            return false;
        }
        R.push_back(M::hMonic(M::copy(g)));
    }
    return true;
}

template <class I>
poly::Term<I>* Normal_Forms<I>::normal_form(P* p, const std::vector<P*>& R) {
    return Sugar<I>::reduce_all(p, R);
}

template <class I>
poly::List<I>* Normal_Forms<I>::compute(Lst* F, Lst* G, Lst* H, int univ, int* bad) {
    *bad = 0;
    if (univ)
        for (Lst* c = H; c; c = c->next)
            if (P* h = M::strip(c->elt); h && !invertible(h->coef)) {
                *bad = 1;
                return nullptr;
            }
    std::vector<P*> R;
    if (!monic_reducers(G, R)) {
        *bad = 1;
        return nullptr;
    }
    poly::Chain<Lst> out;
    auto push = [&](P* p) {
        Lst* cell = M::Lists::new_();
        cell->elt = p;
        out.add(cell);
    };
    for (Lst* c = F; c; c = c->next) {
        P* nf = keep_only_result<I>([&] {
            P* f = M::copy(M::strip(c->elt));
            if (univ) {
                for (Lst* h = H; h && f; h = h->next) {
                    poll_interrupt();
                    if (!M::strip(h->elt)) continue;
                    Lst one{M::strip(h->elt), nullptr};
                    f = M::exquo(f, &one);
                }
                Stderr("Take NF of deg %d --> ", int(M::totalDegree(f)));
            }
            P* r = normal_form(f, R);
            if (univ) Stderr("%d \n", int(M::totalDegree(r)));
            return r;
        });
        push(M::one());
        push(nf);
    }
    for (P* r : R) M::Terms::kill_all(r);
    return out.finish();
}

template struct Normal_Forms<poly::BigDexp__VGF>;
template struct Normal_Forms<poly::DRLDRL__GFC>;

}  // namespace tesk::algo

TESK_EXPORT int Tesk_normalForm_VGF(tesk::List_DMP__BigDexp__VGF F, tesk::List_DMP__BigDexp__VGF G,
                                    tesk::List_DMP__BigDexp__VGF H, int univ, tesk::List_DMP__BigDexp__VGF* out) {
    int bad = 0;
    *out = tesk::algo::Normal_Forms<tesk::poly::BigDexp__VGF>::compute(F, G, H, univ, &bad);
    return bad;
}

TESK_EXPORT int Tesk_normalForm_GFC(tesk::List_DMP__DRLDRL__GFC F, tesk::List_DMP__DRLDRL__GFC G,
                                    tesk::List_DMP__DRLDRL__GFC H, int univ, tesk::List_DMP__DRLDRL__GFC* out) {
    int bad = 0;
    *out = tesk::algo::Normal_Forms<tesk::poly::DRLDRL__GFC>::compute(F, G, H, univ, &bad);
    return bad;
}
