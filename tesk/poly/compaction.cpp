// Gathering of the coefficient handles to slide (compaction.h).
#include "tesk/poly/compaction.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tesk/base/vgf_heap.h"

namespace tesk::poly {

namespace {

// The handles of the current call; its memory is kept for the next ones.
std::vector<vgf::VGF*> handle_buffer;

// Handles gathered by one attempt, up to a capacity.
struct Gatherer {
    std::vector<vgf::VGF*>& buf;
    unsigned cap;
    bool full = false;
    void add(vgf::VGF& h) {
        if (full) return;
        buf.push_back(&h);
        if (buf.size() >= cap) full = true;
    }
    template <class I>
    void terms(Term<I>* p) {
        for (Term<I>* t = Dmp<I>::strip(p); t && !full; t = t->next) add(t->coef);
    }
    template <class I>
    void lists(List<I>* l) {
        for (; l && !full; l = l->next) terms(l->elt);
    }
};

// Gathers with gather(Gatherer&), doubling the capacity after each overflow
// report, then slides with slide(count, handles).
template <class I, class Gather, class Slide>
void run(const char* form, Gather gather, Slide slide) {
    std::vector<vgf::VGF*>& buf = handle_buffer;
    unsigned cap = std::max(Dmp<I>::MAX_COEF, 1u);
    for (;;) {
        buf.clear();
        Gatherer g{buf, cap};
        gather(g);
        if (!g.full) {
            slide(unsigned(buf.size()), buf.data());
            return;
        }
        char what[256];
        std::snprintf(what, sizeof what, form, I::kDMP, I::kDMP, I::kDMP);
        Erreur("Trop d'entiers a glisser dans %s !\n", what);
        cap *= 2;
    }
}

auto slide1(int flag) {
    return [flag](unsigned n, vgf::VGF** h) { vgf::compacteur_glissant(n, h, flag); };
}

}  // namespace

template <class I>
void Compaction<I>::glisser(C& a, P* p, P* q) {
    run<I>("glisser_%s(VGF& a,%s p,%s q)", [&](Gatherer& g) {
        g.add(a);
        g.terms(p);
        g.terms(q);
    }, slide1(1));
}

template <class I>
void Compaction<I>::glisser(C& a, C& b, C& c, P* p, P* q) {
    run<I>("glisser_%s(VGF& a,VGF& b,VGF& c,%s p,%s q)", [&](Gatherer& g) {
        g.add(a);
        g.add(b);
        g.add(c);
        g.terms(p);
        g.terms(q);
    }, slide1(1));
}

template <class I>
void Compaction<I>::glisser(C& a, C& b, P* p) {
    run<I>("glisser_%s(VGF& a,VGF& b,%s p)", [&](Gatherer& g) {
        g.add(a);
        g.add(b);
        g.terms(p);
    }, slide1(1));
}

template <class I>
void Compaction<I>::glisser(P* p, Boolean verif) {
    run<I>("glisser_%s(%s p,Boolean verif)", [&](Gatherer& g) { g.terms(p); }, slide1(verif));
}

template <class I>
void Compaction<I>::glisser2(P* p) {
    run<I>("glisser2_%s(%s p)", [&](Gatherer& g) { g.terms(p); },
           [](unsigned n, vgf::VGF** h) { vgf::compacteur_glissant_zone2(n, h); });
}

template <class I>
void Compaction<I>::glisser_List(Lst* l) {
    run<I>("glisser_List_%s(List_%s l)", [&](Gatherer& g) { g.lists(l); }, slide1(1));
}

template <class I>
void Compaction<I>::glisser_List(Lst* l, Boolean verif) {
    run<I>("glisser_List_%s(List_%s l,Boolean verif)", [&](Gatherer& g) { g.lists(l); }, slide1(verif));
}

template <class I>
void Compaction<I>::glisser_List_List(LL* l) {
    run<I>("glisser_List_List_%s(List_List_%s l)", [&](Gatherer& g) {
        for (; l && !g.full; l = l->next) g.lists(l->elt);
    }, slide1(1));
}

template <class I>
void Compaction<I>::glisser_garb_List(Lst* l) {
    run<I>("glisser_garb_List_%s", [&](Gatherer& g) { g.lists(l); }, slide1(1));
}

template struct Compaction<BigDexp__VGF>;
template struct Compaction<BigLexp__VGF>;

}  // namespace tesk::poly
