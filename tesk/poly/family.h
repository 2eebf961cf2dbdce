// Record families of the Tesk engine's polynomial layer.
//
// A family hands out records of one size from a free list, refills the list
// with large blocks taken through the build's allocation hook, and never
// gives a block back.  Records are plain structures chained through a `next`
// field; a chain ends with null.  Nothing here constructs, destroys or counts
// references: a record handed out belongs to its holder and must be released
// at most once.
//
// Family<S> is written once; S describes one family:
//   using R;                          the record; `R* next` is its link
//   static const char* name();        the family's name X ("List_DMP__BigDexp__VGF")
//   static constexpr unsigned K;      records per block
//   static unsigned stride();         bytes from one record to the next in a block
//   static unsigned shown_size();     the element size how_much prints
//   static Tesk_Malloc_Fn hook();     the build's allocation hook
//   static constexpr bool kTerm;      16-byte aligned blocks (one record fewer
//                                     when realigned) and the "Extend Memory" line
//   static constexpr bool kKeyed;     init_Objet re-initialises only when key() changes
//   static unsigned key();            (kKeyed) the exponent word count
// and, from Spec_Base unless it hides them, the element hooks:
//   on_fresh(r)      each record of a new block
//   on_kill(r)       kill: what the record holds besides itself
//   on_kill_all(r)   kill_all: the same, for each record of the chain
//   on_free(r)       kill_top / free, and the first record of free_all
//   copy_fields(d,s) copy_one / copy: d := s, link included (default: the bytes)
// The per-family names (new_List_DMP__BigDexp__VGF, ...) are thin forwarders
// to these members, generated with the families (dmp.h, scrit.h, ...).
#ifndef TESK_POLY_FAMILY_H
#define TESK_POLY_FAMILY_H

#include "tesk/base/bigblock.h"
#include "tesk/base/runtime.h"

namespace tesk::poly {

// Builds a chain front to back: add() links records in order, finish()
// ends the chain and returns its first record (null when none was added).
template <class R>
struct Chain {
    R* head = nullptr;
    R* tail = nullptr;
    void add(R* r) {
        (tail ? tail->next : head) = r;
        tail = r;
    }
    R* finish() {
        if (tail) tail->next = nullptr;
        return head;
    }
};

struct Spec_Base {
    static constexpr bool kTerm = false;
    static constexpr bool kKeyed = false;
    static unsigned key() { return 0; }
    static void on_fresh(void*) {}
    static void on_kill(void*) {}
    static void on_kill_all(void*) {}
    static void on_free(void*) {}
};

template <class S>
struct Family {
    using R = typename S::R;
    using Comparator = int (*)(R*, R*);
    using Predicate = Boolean (*)(R*, R*);

    // State of the family (root_X, z_X, stat_tesk_X, last_Objet_X).
    static R* root;             // first free record; never null once initialised
    static R* z;                // the sort's sentinel, linked to itself
    static unsigned stat_tesk;  // blocks taken since the last initialisation
    static unsigned last_Objet; // key() at the last initialisation (keyed families)

    // Counter 0, a first block, the sentinel; abandons any earlier free list.
    // A keyed family does this only when key() changed (or it never ran).
    static void init_Objet();
    // One block becomes the whole free list; fatal when the hook has no memory.
    static void tesk();
    // Pops the first free record.  Its link still points to the record the
    // next new_() returns, as long as nothing of the family is released between.
    static R* new_();
    // Null gives null.  Pushes r (and what on_kill releases); returns its old successor.
    static R* kill(R* r);
    // Null gives null.  Pushes r alone; returns its old successor.
    static R* kill_top(R* r);
    static R* free(R* r) { return kill_top(r); }
    // Releases a whole chain (deep, per on_kill_all) in one splice.
    static void kill_all(R* c);
    // Releases a chain's records only, in one splice; returns c.
    static R* free_all(R* c);
    // Destructive: a followed by b.
    static R* append(R* a, R* b);
    // Number of records of the chain (0 for null).
    static unsigned size(const R* c);
    // Follows n links; n must not exceed the chain's length.
    static R* rest(R* c, unsigned n);
    // The link of r (not null).
    static R* rest(R* r) { return r->next; }
    // Bottom-up merge sort in place: comparator(x, y) < 0 puts x (of the
    // earlier run) first, else y; equal records leave in the later run's
    // record first.  Uses one head record.
    static R* trier(R* c, Comparator cmp);
    // The same sort taking the later run's record only when in_order(later, earlier).
    static R* trier_boolean(R* c, Predicate in_order);
    // r (a chain of one) put before the first e of c with in_order(r, e), else at the end.
    static R* merge_boolean(R* r, R* c, Predicate in_order);
    // Free records F; writes the family's report line; returns F.
    static unsigned how_much();
    // A new record copied from r (copy_fields), its link r's.
    static R* copy_one(R* r);
    // A chain of new records copied from c, links rebuilt; null for null.
    static R* copy(R* c);

private:
    template <class Take>
    static R* merge(R* a, R* b, Take take_later);
    template <class Take>
    static R* sort(R* c, Take take_later);
};

// List families: cells {element, next}.  S adds
//   using Elt;                              the element (a pointer)
//   static Elt copy_elt(Elt);               deep copy of an element
//   static unsigned hash_elt(Elt, unsigned) hash of an element
// A cell does not own its element except for kill_all (deep).
template <class S>
struct List_Family : Family<S> {
    using R = typename S::R;
    using Elt = typename S::Elt;
    using F = Family<S>;

    static R* cons(Elt e, R* l);                // a new cell holding e in front of l
    static Elt elt(R* l, int k);                // element of cell k from 1 (k <= 1: the first); null past the end
    static R* delete_(Elt e, R* l);             // removes (kill) every cell holding the pointer e
    static R* reverse(R* l);                    // fresh cells, elements shared, reverse order
    static R* concat(R* a, R* b);               // fresh cells holding a's then b's elements
    static R* copy_all(R* l);                   // fresh cells, each element copied
    static unsigned Hash(R* l, unsigned seed);  // h := ((h*256 + hash(e, 0)) mod 2^32) mod 16777213
    static Elt first(R* l) { return l->elt; }           // element of the first cell (l not null)
    static R* safe_rest(R* l) { return l ? l->next : nullptr; }
};

}  // namespace tesk::poly

#endif
