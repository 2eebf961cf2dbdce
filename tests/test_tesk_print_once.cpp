// Text forms of Tesk polynomials: the exact texts of every printer on small
// cases, the NTL form past the leading degree, the AFFICHE list operators
// (views that leave the caller's list alone, the binary save copy) and the
// pair printers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tesk/base/switches.h"
#include "tesk/poly/print.h"
#include "tesk/poly/protocol.h"
#include "tesk/base/front_end.h"
#include "tests/support/tesk_poly_model.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using namespace tesk_poly_model;

template <class T> std::string plain(T x) { return written(Fortran.f, [&] { Fortran << x; }); }
template <class T> std::string posso(T x) { return written(Posso.f, [&] { Posso << x; }); }
template <class T> std::string lisp(T x) { return written(lisp_file, [&] { Lisp_Print() << x; }); }
template <class T> std::string tex(T x) { return written(Tex.f, [&] { Tex << x; }); }
template <class T> std::string pretty(T x) { return written(log_output, [&] { Pretty << x << '\n'; }); }

// Switches and save channels as the tests found them.
class PrintTest : public ::testing::Test {
protected:
    std::vector<int*> sw = {&want_output, &want_fortran, &want_posso_output, &want_head, &want_last_equation,
                            &want_host_input, &want_Host_output, &want_rational_output, &want_raw_output};
    std::vector<int> saved;
    void SetUp() override {
        for (int* w : sw) saved.push_back(*w);
        want_quiet = 1;
        global_List_variables = nullptr;
    }
    void TearDown() override {
        for (size_t i = 0; i < sw.size(); ++i) *sw[i] = saved[i];
        vgf::want_to_save = gfc::want_to_save = 0;
        vgf::bin_save_file = nullptr;
    }
    template <class I>
    static void set_up(unsigned n, unsigned primes = 1) {
        Dmp<I>::init();
        if constexpr (I::D::kOnHeap)
            set_VGF(primes);
        else
            gfc::set_module_GFC(65521);
        Dmp<I>::set(n, n, 0);
    }
};

TEST_F(PrintTest, EveryFormOnSmallPolynomials) {
    using I = BigDexp__VGF;
    using M = Dmp<I>;
    set_up<I>(3);
    auto* p = Model<I>::poly({{{2, 0, 0}, 1}, {{0, 1, 1}, 2}, {{0, 0, 0}, 3}});
    auto* five = Model<I>::poly({{{0, 0, 0}, 5}});
    Term<I>* zero = nullptr;
    List<I>* none = nullptr;
    auto* l = M::Lists::cons(p, M::Lists::cons(zero, nullptr));
    auto* tagged = M::Lists::cons(M::link_one(M::copy(five)), M::Lists::cons(zero, nullptr));
    const std::pair<std::string, std::string> cases[] = {
        {plain(p), "a^2+2*b*c+3"}, {plain(zero), "0"}, {plain(l), "[a^2+2*b*c+3,0]"}, {plain(none), "[]"},
        {plain(M::Lists2::cons(l, M::Lists2::cons(nullptr, nullptr))), "[[a^2+2*b*c+3,0],[]]"},
        {plain(tagged), "[5,0]"},  // header cells are not printed
        {tex(p), "$a^{2} + ...$"}, {tex(five), "$1 + ...$"}, {tex(zero), "$0$"},
        {lisp(p), "(#(1 2 0 0 ) #(2 0 1 1 ) #(3 0 0 0 ))"}, {lisp(zero), "NIL"}, {lisp(none), "NIL"},
        {lisp(l), "((#(1 2 0 0 ) #(2 0 1 1 ) #(3 0 0 0 )) NIL)"}, {lisp(Garb_List<I>{tagged}), "((#(5 0 0 0 )) NIL)"},
        {posso(p), "{1a2,2bc,3}"}, {posso(zero), "{}"}, {posso(l), "{{1a2,2bc,3} , {}}"}, {posso(none), "{}"},
        {pretty(zero), " \n0\n \n"}, {pretty(none), "  \n[]\n  \n"},
        // Exponents on the upper line, "+ " before every term but the first.
        {pretty(p), " 2              \na + <2>b c + <3>\n                \n"},
        {pretty(Garb_List<I>{tagged}), "         \n[<5> , 0]\n         \n"},
        // Both domains write the coefficient alone over a denominator.
        {written(Fortran.f, [&] { pseudo_rational_fortran(Fortran, p, cVGF(7)); }), "1*a^2+2*b*c+3"},
    };
    for (auto& [got, want] : cases) EXPECT_EQ(got, want);
    want_Host_output = 1;
    EXPECT_EQ(plain(p), "1*a^2+2*b*c+3");
    want_Host_output = 0;
    M::print_coef(0);
    EXPECT_EQ(plain(p) + plain(five) + posso(five), "a^2+b*c+??{?}");
    want_raw_output = 1;
    EXPECT_EQ(plain(p), "1*a^2+2*b*c+?");
    EXPECT_EQ(M::print_coef(1), 0u);
    char name[64];
    EXPECT_STREQ(fill_DMP__BigDexp__VGF(name, "%s over %s"), "BigDexp over VGF");

    // The prime-field form, -1 after the first term ("+ " then "- "), and several primes.
    using G = DRLDRL__GFC;
    set_up<G>(2);
    auto* q = Model<G>::poly({{{1, 0}, 65520}, {{0, 2}, 1}});
    EXPECT_EQ(plain(q) + "|" + pretty(q) + "|" + lisp(q), "b^2+65520*a| 2      \nb + - a \n        \n|(#(1 0 2 ) #(65520 1 0 ))");
    set_up<I>(2, 3);
    auto* r = Model<I>::poly({{{1, 1}, 4}, {{0, 0}, 1}});
    EXPECT_EQ(plain(r) + lisp(r), "<4 4 4>*a*b+<1 1 1>(#(#(4 4 4) 1 1 ) #(#(1 1 1) 0 0 ))");
    Dmp<G>::Terms::kill_all(q);
    M::Terms::kill_all(r);
}

// The NTL table spans the largest degree: in the lexicographic order a comes before b^3.
TEST_F(PrintTest, NtlFormSpansEveryDegree) {
    using I = BigLexp__VGF;
    set_up<I>(2);
    auto* l = Dmp<I>::Lists::cons(Model<I>::poly({{{1, 0}, 2}, {{0, 3}, 7}}),
                                  Dmp<I>::Lists::cons(Model<I>::poly({{{0, 0}, 1}, {{0, 2}, 3}}), Dmp<I>::Lists::cons(nullptr, nullptr)));
    EXPECT_EQ(written(Fortran.f, [&] { NTL_List_DMP__BigLexp__VGF(l); }), "[ 0 2 0 7]\n[ 1 0 3]\n[ 0]\n");
    Dmp<I>::Lists::kill_all(l);
}

// What AFFICHE shows and saves; the caller's list stays as it was.
TEST_F(PrintTest, AfficheShowsAViewAndSavesIt) {
    using I = BigDexp__VGF;
    using M = Dmp<I>;
    set_up<I>(3);
    auto* l = M::Lists::cons(Model<I>::poly({{{2, 0, 0}, 1}, {{0, 1, 1}, 2}}), M::Lists::cons(Model<I>::poly({{{0, 2, 0}, 3}, {{0, 0, 1}, 4}}), nullptr));
    const std::string all = plain(l);
    const unsigned terms0 = in_use<Term_Spec<I>>(), cells0 = in_use<List_Spec<I>>();
    char path[] = "/tmp/teskprint_XXXXXX";
    close(mkstemp(path));
    auto shown_and_saved = [&] {
        WBUS w(path);
        vgf::want_to_save = 1;
        vgf::bin_save_file = &w;
        const std::string shown = written(Fortran.f, [&] { AFFICHE() << l; });
        w.kill();
        RBUS r(path);
        get_word(r);
        List<I>* back = read_List_DMP__BigDexp__VGF(r);
        r.kill();
        const std::string saved = plain(back);
        M::Lists::kill_all(back);
        return shown + "|" + saved;
    };
    want_head = want_last_equation = 1;
    EXPECT_EQ(shown_and_saved(), "[3*b^2]|[3*b^2]");
    want_last_equation = 0;
    EXPECT_EQ(shown_and_saved(), "[a^2,3*b^2]|[a^2,3*b^2]");
    want_output = 0;
    EXPECT_EQ(shown_and_saved(), "|" + all);
    want_output = want_host_input = 1;
    want_head = 0;
    EXPECT_EQ(shown_and_saved(), "[\na^2+2*b*c\n3*b^2+4*c\n]\n|" + all);
    EXPECT_EQ(plain(l), all);
    EXPECT_EQ(in_use<Term_Spec<I>>(), terms0);
    EXPECT_EQ(in_use<List_Spec<I>>(), cells0);
    std::remove(path);
    // PoSSo without want_fortran, pretty without either, nothing without want_output.
    want_fortran = 0;
    want_posso_output = 1;
    EXPECT_EQ(written(Posso.f, [&] { AFFICHE() << l; }), "{{1a2,2bc} , {3b2,4c}}");
    want_posso_output = 0;
    EXPECT_EQ(written(log_output, [&] { AFFICHE() << l << '\n'; }).substr(0, 4), "  2 ");
    want_output = 0;
    EXPECT_EQ(written(log_output, [&] { AFFICHE() << M::Lists2::cons(l, nullptr) << '\n'; }), "");
    M::Lists::kill_all(l);
}

// This module's dispatcher Affiche: each list goes, at each call, to the
// printer the switches choose, over the instances of both builds.
TEST_F(PrintTest, ModuleAffichePrintsListsInTheSyntaxChosenAtEachCall) {
    auto every_syntax = [](auto* l) {
        const std::string lines = [&] {
            std::string t = "[\n";
            for (auto* c = l; c; c = c->next) t += plain(c->elt) + "\n";
            return t + "]\n";
        }();
        want_output = want_fortran = 1;
        want_head = want_last_equation = want_host_input = want_posso_output = 0;
        EXPECT_EQ(written(Fortran.f, [&] { Affiche << l; }), plain(l));
        want_host_input = 1;
        EXPECT_EQ(written(Fortran.f, [&] { Affiche << l; }), lines);
        want_fortran = 0;
        want_posso_output = 1;
        EXPECT_EQ(written(Posso.f, [&] { Affiche << l; }), posso(l));
        want_posso_output = 0;
        EXPECT_EQ(written(log_output, [&] { Affiche << l << '\n'; }), pretty(l));
        want_output = 0;
        EXPECT_EQ(written(log_output, [&] { Affiche << l << '\n'; }), "");
        EXPECT_EQ(written(Fortran.f, [&] { Affiche << l << '\n'; }), "");
    };
    set_up<BigDexp__VGF>(3);
    auto* v = Dmp<BigDexp__VGF>::Lists::cons(Model<BigDexp__VGF>::poly({{{2, 0, 0}, 1}, {{0, 1, 1}, 2}}),
                                             Dmp<BigDexp__VGF>::Lists::cons(Model<BigDexp__VGF>::poly({{{0, 0, 1}, 5}}), nullptr));
    every_syntax(v);
    EXPECT_EQ(plain(v), "[a^2+2*b*c,5*c]");
    Dmp<BigDexp__VGF>::Lists::kill_all(v);
    set_up<DRLDRL__GFC>(2);
    auto* f = Dmp<DRLDRL__GFC>::Lists::cons(Model<DRLDRL__GFC>::poly({{{1, 1}, 3}, {{0, 0}, 65520}}), nullptr);
    every_syntax(f);
    EXPECT_EQ(posso(f), "{{3ab,65520}}");
    Dmp<DRLDRL__GFC>::Lists::kill_all(f);
}

TEST_F(PrintTest, PairsPrintTheirPolynomialsAfterTheHeaders) {
    using I = DRLDRL__GFC;
    set_up<I>(2);
    Family<SCrit_Spec<I>>::init_Objet();
    auto* s = new_SCrit__DRLDRL__GFC();
    s->totdeg = 5;
    s->poli = Dmp<I>::link_one(Model<I>::poly({{{2, 0}, 1}}));
    s->polj = Dmp<I>::link_one(Model<I>::poly({{{0, 1}, 3}}));
    s->next = nullptr;
    expo::Packed<DRLDRL_Layout>::zsup(s->poli->next->exp, s->polj->next->exp, s->lcmfij);
    s->next = copy_one_SCrit__DRLDRL__GFC(s);
    std::string lcm;  // the lcm's raw exponents go to the pretty printer
    const std::string one = written(Fortran.f, [&] { lcm = written(log_output, [&] { Fortran << s, Pretty << '\n'; }); });
    EXPECT_EQ(one, "[lcmfij= ,totdeg= 5,poli= a^2,polj= 3*b]");
    EXPECT_EQ(lcm, "     \n[1,2]\n     \n");
    s_SCrit__DRLDRL__GFC* none = nullptr;
    EXPECT_EQ(written(Fortran.f, [&] { pseudo_list(Fortran, none); }), "[]");
    EXPECT_EQ(written(Fortran.f, [&] { pseudo_list(Fortran, s); }).substr(one.size() + 1, 5), " , [l");
    init_pretty();
    EXPECT_EQ(pretty(s), std::string(32, ' ') + "2" + std::string(11, ' ') +
                             "\n[lcmfij= [1,2],totdeg= 5,poli= a ,polj= 3b ]\n" + std::string(44, ' ') + "\n");
    kill_all_SCrit__DRLDRL__GFC(s);
}

}  // namespace
