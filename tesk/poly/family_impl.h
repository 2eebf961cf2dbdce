// Definitions of the record family templates (family.h).  Included only by
// the files that instantiate the families, so that each family's state is
// defined once.
#ifndef TESK_POLY_FAMILY_IMPL_H
#define TESK_POLY_FAMILY_IMPL_H

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "tesk/base/switches.h"
#include "tesk/poly/family.h"

namespace tesk::poly {

template <class S> typename S::R* Family<S>::root = nullptr;
template <class S> typename S::R* Family<S>::z = nullptr;
template <class S> unsigned Family<S>::stat_tesk = 0;
template <class S> unsigned Family<S>::last_Objet = 0;

namespace detail {
// The free list, sentinel and block count a keyed family had for one key.
template <class R>
struct KeyedState {
    unsigned key;
    R* root;
    R* z;
    unsigned stat_tesk;
};
}  // namespace detail

template <class S>
void Family<S>::init_Objet() {
    if constexpr (S::kKeyed) {
        if (root && S::key() == last_Objet) return;
        // Each key keeps its records: switching back to a size seen before
        // takes its free list up again instead of a new block every time.
        // Never destroyed, like the blocks it points into: a static vector
        // is gone before the process's last look at its memory, and the
        // blocks of every other key would seem lost.
        static std::vector<detail::KeyedState<R>>& others = *new std::vector<detail::KeyedState<R>>;
        if (root) others.push_back({last_Objet, root, z, stat_tesk});
        last_Objet = S::key();
        for (std::size_t i = 0; i < others.size(); ++i)
            if (others[i].key == last_Objet) {
                root = others[i].root;
                z = others[i].z;
                stat_tesk = others[i].stat_tesk;
                others.erase(others.begin() + std::ptrdiff_t(i));
                return;
            }
    }
    stat_tesk = 0;
    tesk();
    z = new_();
    z->next = z;
}

template <class S>
void Family<S>::tesk() {
    const unsigned stride = S::stride();
    const unsigned bytes = S::K * stride;
    char* block = static_cast<char*>(S::hook()(bytes));
    if (!block) Fatal("\nPas assez de memoire dans tesk_%s pour %u octets\n", S::name(), bytes);
    unsigned count = S::K;
    if constexpr (S::kTerm) {
        const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(block);
        if (a % 16) {
            block += 16 - a % 16;
            --count;
        }
    }
    ++stat_tesk;
    if constexpr (S::kTerm) {
        if (!want_quiet) {
            Inform("\n>>> Extend Memory (");
            Inform(S::name());
            Inform(") ");
            show_date(log_output);
            Output(" %u alloc:%u octets\n", stat_tesk, bytes);
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        R* r = reinterpret_cast<R*>(block + std::size_t(i) * stride);
        S::on_fresh(r);
        r->next = i + 1 < count ? reinterpret_cast<R*>(block + std::size_t(i + 1) * stride) : nullptr;
    }
    root = reinterpret_cast<R*>(block);
}

template <class S>
typename S::R* Family<S>::new_() {
    R* r = root;
    if (!r->next) {
        tesk();
        r->next = root;
    } else {
        root = r->next;
    }
    return r;
}

template <class S>
typename S::R* Family<S>::kill(R* r) {
    if (!r) return nullptr;
    R* n = r->next;
    S::on_kill(r);
    r->next = root;
    root = r;
    return n;
}

template <class S>
typename S::R* Family<S>::kill_top(R* r) {
    if (!r) return nullptr;
    R* n = r->next;
    S::on_free(r);
    r->next = root;
    root = r;
    return n;
}

template <class S>
void Family<S>::kill_all(R* c) {
    if (!c) return;
    R* last = c;
    for (;;) {
        S::on_kill_all(last);
        if (!last->next) break;
        last = last->next;
    }
    last->next = root;
    root = c;
}

template <class S>
typename S::R* Family<S>::free_all(R* c) {
    if (!c) return c;
    S::on_free(c);
    R* last = c;
    while (last->next) last = last->next;
    last->next = root;
    root = c;
    return c;
}

template <class S>
typename S::R* Family<S>::append(R* a, R* b) {
    if (!a) return b;
    if (!b) return a;
    R* t = a;
    while (t->next) t = t->next;
    t->next = b;
    return a;
}

template <class S>
unsigned Family<S>::size(const R* c) {
    unsigned n = 0;
    for (; c; c = c->next) ++n;
    return n;
}

template <class S>
typename S::R* Family<S>::rest(R* c, unsigned n) {
    while (n--) c = c->next;
    return c;
}

// Merges two runs that end at the sentinel; the first record placed is the result.
template <class S>
template <class Take>
typename S::R* Family<S>::merge(R* a, R* b, Take take_later) {
    Chain<R> out;
    while (a != z && b != z) {
        if (take_later(a, b)) {
            out.add(b);
            b = b->next;
        } else {
            out.add(a);
            a = a->next;
        }
    }
    R* rest = a == z ? b : a;
    if (!out.head) return rest;
    out.tail->next = rest;
    return out.head;
}

// Passes over runs of N records counted from the front, N doubling, until a
// pass leaves the head's successor where the pass began.
template <class S>
template <class Take>
typename S::R* Family<S>::sort(R* c, Take take_later) {
    if (!c || !c->next) return c;
    R* t = c;
    while (t->next) t = t->next;
    t->next = z;
    R* h = new_();
    h->next = c;
    R* a = nullptr;
    for (unsigned N = 1; h->next != a; N *= 2) {
        R* pending = h->next;
        R* cc = h;
        while (pending != z) {
            a = pending;
            t = a;
            for (unsigned i = 1; i < N; ++i) t = t->next;
            R* b = t->next;
            t->next = z;
            t = b;
            for (unsigned i = 1; i < N; ++i) t = t->next;
            pending = t->next;
            t->next = z;
            cc->next = merge(a, b, take_later);
            for (unsigned i = 0; i < 2 * N; ++i) cc = cc->next;
        }
    }
    R* res = h->next;
    h->next = root;  // back on the free list, nothing released
    root = h;
    t = res;
    while (t->next != z) t = t->next;
    t->next = nullptr;
    return res;
}

template <class S>
typename S::R* Family<S>::trier(R* c, Comparator cmp) {
    return sort(c, [cmp](R* x, R* y) { return cmp(x, y) >= 0; });
}

template <class S>
typename S::R* Family<S>::trier_boolean(R* c, Predicate in_order) {
    return sort(c, [in_order](R* x, R* y) { return in_order(y, x) != 0; });
}

template <class S>
typename S::R* Family<S>::merge_boolean(R* r, R* c, Predicate in_order) {
    if (!c || in_order(r, c)) {
        r->next = c;
        return r;
    }
    R* prev = c;
    while (prev->next && !in_order(r, prev->next)) prev = prev->next;
    r->next = prev->next;
    prev->next = r;
    return c;
}

template <class S>
unsigned Family<S>::how_much() {
    unsigned f = 0;
    for (R* r = root; r; r = r->next) ++f;
    Output("Nb block %s = %d, Nb elts par block= %u, taille elt= %u,\n libre = %d block(s) + %d\n",
           S::name(), int(stat_tesk), S::K, S::shown_size(), int(f / S::K), int(f % S::K));
    return f;
}

template <class S>
typename S::R* Family<S>::copy_one(R* r) {
    R* d = new_();
    if constexpr (requires { S::copy_fields(d, r); })
        S::copy_fields(d, r);
    else
        std::memcpy(static_cast<void*>(d), static_cast<const void*>(r), S::stride());
    return d;
}

template <class S>
typename S::R* Family<S>::copy(R* c) {
    Chain<R> out;
    for (; c; c = c->next) out.add(copy_one(c));
    return out.finish();
}

// ---------------------------------------------------------------------------
template <class S>
typename S::R* List_Family<S>::cons(Elt e, R* l) {
    R* c = F::new_();
    c->elt = e;
    c->next = l;
    return c;
}

template <class S>
typename S::Elt List_Family<S>::elt(R* l, int k) {
    for (int i = 1; l && i < k; ++i) l = l->next;
    return l ? l->elt : nullptr;
}

template <class S>
typename S::R* List_Family<S>::delete_(Elt e, R* l) {
    R* head = l;
    R* prev = nullptr;
    while (l) {
        if (l->elt == e) {
            l = F::kill(l);
            if (prev)
                prev->next = l;
            else
                head = l;
        } else {
            prev = l;
            l = l->next;
        }
    }
    return head;
}

template <class S>
typename S::R* List_Family<S>::reverse(R* l) {
    R* r = nullptr;
    for (; l; l = l->next) r = cons(l->elt, r);
    return r;
}

template <class S>
typename S::R* List_Family<S>::concat(R* a, R* b) {
    R* dummy = F::new_();
    R* tail = dummy;
    for (R* src : {a, b})
        for (; src; src = src->next) {
            R* c = F::new_();
            c->elt = src->elt;
            tail->next = c;
            tail = c;
        }
    tail->next = nullptr;
    R* res = dummy->next;
    F::kill_top(dummy);
    return res;
}

template <class S>
typename S::R* List_Family<S>::copy_all(R* l) {
    Chain<R> out;
    for (; l; l = l->next) {
        R* c = F::new_();
        c->elt = S::copy_elt(l->elt);
        out.add(c);
    }
    return out.finish();
}

template <class S>
unsigned List_Family<S>::Hash(R* l, unsigned seed) {
    std::uint32_t h = seed;
    for (; l; l = l->next) h = (h * 256u + S::hash_elt(l->elt, 0)) % 16777213u;
    return h;
}

}  // namespace tesk::poly

#endif
