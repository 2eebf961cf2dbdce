// The block families of the change of ordering.
#include "tesk/poly/bloc.h"

#include "tesk/poly/family_impl.h"
#include "tesk/poly/print.h"

namespace tesk {

namespace poly {
template struct Family<Bloc_Spec>;
template struct Family<List_Bloc_Spec>;
template struct List_Family<List_Bloc_Spec>;

namespace {
using Terms = Family<Term_Spec<BigDexp__VGF>>;
void zero_head(sBloc* b) {
    if (b->head) b->head->coef = cVGF(0);
}
}  // namespace

void Bloc_Spec::on_kill(sBloc* b) {
    zero_head(b);
    Terms::kill(b->head);
    Terms::kill_all(b->nf);
}

void Bloc_Spec::copy_fields(sBloc* d, sBloc* s) {
    zero_head(s);
    d->head = Terms::copy(s->head);
    d->nf = Terms::copy(s->nf);
    d->len = s->len;
    d->next = s->next;
}
}  // namespace poly

sList_Bloc* creat_List_Bloc(sDMP__BigDexp__VGF* head, sDMP__BigDexp__VGF* nf, int len, sList_Bloc* rest) {
    sBloc* b = poly::Family<poly::Bloc_Spec>::new_();
    b->head = head;
    b->nf = nf;
    b->len = len;
    b->next = nullptr;
    if (nf) nf->coef = cVGF(1);
    return poly::List_Family<poly::List_Bloc_Spec>::cons(b, rest);
}

unsigned Hash_Bloc(sBloc*, unsigned) { Fatal("Pas fait Hash_Bloc\n"); }

Fortran_Print operator<<(Fortran_Print p, sList_Bloc* l) { return poly::print_elements(p, l, "[", ",", "]"); }
Basic_Print operator<<(Basic_Print p, sList_Bloc* l) { return poly::print_elements(p, l, "[", ",", "]"); }
Posso_Print operator<<(Posso_Print p, sList_Bloc* l) { return poly::print_elements(p, l, "{", " , ", "}"); }
Lisp_Print operator<<(Lisp_Print p, sList_Bloc* l) {
    if (!l) return p << "NIL";
    return poly::print_elements(p, l, "(", " ", ")");
}

}  // namespace tesk
