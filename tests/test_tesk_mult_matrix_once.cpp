// The change of ordering's multiplication matrices and their writers, its
// blocks, and the permutation with traces.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/switches.h"
#include "tesk/poly/bloc.h"
#include "tests/support/fmat_reader.h"
#include "tests/support/tesk_bases.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using Src = BigDexp__VGF;
using tesk_poly_model::fatal_of;
using tesk_poly_model::Model;
using tesk_poly_model::written;

Term<Src>* term(std::vector<std::uint16_t> e, int c) { return Dmp<Src>::monom_raw(e.data(), cVGF(c)); }

// The reduced basis of x*y - 2, y^2 - 3 (x > y): y^2 - 3, x - (2/3)*y.
List<Src>* small_basis() {
    tesk_poly_model::sugar_set_up<Src>(2);
    List<Src>* F = Model<Src>::list({Dmp<Src>::add_dd(term({1, 1}, 1), term({0, 0}, -2)),
                                     Dmp<Src>::add_dd(term({0, 2}, 1), term({0, 0}, -3))});
    List<Src>* G = algo::Sugar<Src>::groebner(F);
    Dmp<Src>::Lists::kill_all(F);
    return G;
}

std::uint32_t inverse(std::uint64_t a, std::uint64_t p) { return std::uint32_t(tesk_poly_model::pw(a, p - 2, p)); }

TEST(TeskMultMatrix, MatrixOfEachVariableAndItsTexts) {
    List<Src>* G = small_basis();
    algo::Mult_Matrix X, Y;
    ASSERT_EQ(algo::compute_C_Mult_by_xi(G, 0, &X), algo::Fglm_Status::Done);
    ASSERT_EQ(algo::compute_C_Mult_by_xi(G, 1, &Y), algo::Fglm_Status::Done);
    ASSERT_EQ(X.dim, 2u);
    ASSERT_EQ(X.primes.size(), 2u);
    // Staircase 1, y.  x*1 = (2/3) y, x*y = 2; y*1 = y, y*y = 3.
    for (unsigned k = 0; k < 2; ++k) {
        const std::uint64_t p = X.primes[k];
        const std::uint32_t two_thirds = std::uint32_t(2 * std::uint64_t(inverse(3, p)) % p);
        EXPECT_EQ(std::vector<std::uint32_t>({X.at(k, 0, 0), X.at(k, 0, 1), X.at(k, 1, 0), X.at(k, 1, 1)}),
                  std::vector<std::uint32_t>({0, two_thirds, 2, 0}));
        EXPECT_EQ(std::vector<std::uint32_t>({Y.at(k, 0, 0), Y.at(k, 0, 1), Y.at(k, 1, 0), Y.at(k, 1, 1)}),
                  std::vector<std::uint32_t>({0, 1, 3, 0}));
    }
    const std::string p0 = std::to_string(Y.primes[0]), p1 = std::to_string(Y.primes[1]);
    FILE* out = std::tmpfile();
    EXPECT_TRUE(algo::write_Mult_Matrix(Y, algo::Matrix_Syntax::NTL, out));
    EXPECT_TRUE(algo::write_Mult_Matrix(Y, algo::Matrix_Syntax::Host, out));
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += char(c);
    std::fclose(out);
    EXPECT_EQ(text, p0 + "\n[[0 1]\n[3 0]\n]\n" + p1 + "\n[[0 1]\n[3 0]\n]\nM_" + p0 + ":=Matrix([[0,1],[3,0]]):\nM_" +
                        p1 + ":=Matrix([[0,1],[3,0]]):\n");

    // The unit ideal: an empty matrix; a curve: none.
    List<Src>* one = Model<Src>::list({term({0, 0}, 1)});
    algo::Mult_Matrix E;
    EXPECT_EQ(algo::compute_C_Mult_by_xi(one, 1, &E), algo::Fglm_Status::Done);
    EXPECT_EQ(E.dim, 0u);
    List<Src>* curve = Model<Src>::list({Dmp<Src>::add_dd(term({2, 0}, 1), term({0, 0}, -1))});
    EXPECT_EQ(algo::compute_C_Mult_by_xi(curve, 1, &E), algo::Fglm_Status::Not_Dim0);
    EXPECT_EQ(E.dim, 0u);
    Dmp<Src>::Lists::kill_all(one);
    Dmp<Src>::Lists::kill_all(curve);
    Dmp<Src>::Lists::kill_all(G);
}

TEST(TeskMultMatrix, DumpReadsBackToTheSameMatrix) {
    List<Src>* G = small_basis();
    algo::Mult_Matrix M;
    ASSERT_EQ(algo::compute_C_Mult_by_xi(G, 0, &M), algo::Fglm_Status::Done);
    std::string path;
    ASSERT_TRUE(algo::dump_Mult_Matrix(M, &path));
    EXPECT_EQ(path, "/tmp/fmat" + std::to_string(getpid()));
    EXPECT_EQ(quor_test::read_fmat(path), M);
    // A larger one replaces it whole.
    List<Src>* K = algo::Sugar<Src>::groebner(Model<Src>::list(
        {Dmp<Src>::add_dd(term({3, 0}, 1), term({0, 1}, -5)), Dmp<Src>::add_dd(term({0, 3}, 1), term({1, 0}, 7))}));
    algo::Mult_Matrix N;
    ASSERT_EQ(algo::compute_C_Mult_by_xi(K, 1, &N), algo::Fglm_Status::Done);
    EXPECT_EQ(N.dim, 9u);
    ASSERT_TRUE(algo::dump_Mult_Matrix(N, &path));
    EXPECT_EQ(quor_test::read_fmat(path), N);
    std::remove(path.c_str());
    Dmp<Src>::Lists::kill_all(K);
    Dmp<Src>::Lists::kill_all(G);
}

// Both switches come back as they were: after a normal end, after an
// output that fails, and after a fatal end inside the computation.
TEST(TeskMultMatrix, SwitchesRestoredHoweverTheOutputEnds) {
    List<Src>* G = small_basis();
    for (int r : {0, 1})
        for (int f : {0, 1}) {
            want_rational_output = r;
            want_float_output = f;
            algo::Mult_Matrix M;
            bool ok = false;
            FILE* out = std::tmpfile();
            EXPECT_EQ(algo::compute_C_Mult_by_xi(G, 0, &M, out, algo::Matrix_Syntax::Host, &ok),
                      algo::Fglm_Status::Done);
            std::fclose(out);
            EXPECT_TRUE(ok);
            EXPECT_EQ(want_rational_output, r);
            EXPECT_EQ(want_float_output, f);
            if (FILE* full = std::fopen("/dev/full", "w")) {
                for (auto s : {algo::Matrix_Syntax::NTL, algo::Matrix_Syntax::Host, algo::Matrix_Syntax::Binary}) {
                    EXPECT_FALSE(algo::write_Mult_Matrix(M, s, full));
                    EXPECT_EQ(want_rational_output, r);
                    EXPECT_EQ(want_float_output, f);
                }
                EXPECT_EQ(algo::compute_C_Mult_by_xi(G, 1, &M, full, algo::Matrix_Syntax::NTL, &ok),
                          algo::Fglm_Status::Done);
                EXPECT_FALSE(ok);
                EXPECT_EQ(want_rational_output, r);
                EXPECT_EQ(want_float_output, f);
                std::fclose(full);
            }
            EXPECT_EQ(fatal_of([&] { algo::compute_C_Mult_by_xi(G, 5, &M); }),
                      "Multiplication matrix: no variable 5 among 2\n");
            EXPECT_EQ(want_rational_output, r);
            EXPECT_EQ(want_float_output, f);
        }
    want_rational_output = want_float_output = 0;
    Dmp<Src>::Lists::kill_all(G);
}

TEST(TeskMultMatrix, BlocksAndTracedPermutation) {
    tesk_poly_model::sugar_set_up<Src>(3);
    algo::Fglm::init();
    // A block takes its polynomials and makes the normal form's leading coefficient 1.
    Term<Src>* nf = Dmp<Src>::add_dd(term({1, 0, 0}, 1), term({0, 0, 1}, 4));
    sList_Bloc* l = creat_List_Bloc(term({0, 1, 0}, 1), nf, 2, nullptr);
    l = creat_List_Bloc(term({0, 0, 1}, 1), Dmp<Src>::copy(nf), 0, l);
    ASSERT_EQ(size_List_Bloc(l), 2u);
    EXPECT_EQ(l->next->elt->len, 2);
    EXPECT_EQ(l->next->elt->next, nullptr);
    EXPECT_EQ(Model<Src>::read(l->elt->nf), Model<Src>::read(nf));
    EXPECT_EQ(Model<Src>::read(l->next->elt->head), Model<Src>::read(term({0, 1, 0}, 1)));
    kill_all_List_Bloc(l);

    // x0^2*x1 + 3*x1*x2^2 + 5, variables 0 -> 2 -> 1 -> 0.
    Term<Src>* p = Dmp<Src>::add_dd(Dmp<Src>::add_dd(term({2, 1, 0}, 1), term({0, 1, 2}, 3)), term({0, 0, 0}, 5));
    const unsigned perm[3] = {2, 0, 1};
    const auto before = Model<Src>::read(p);
    Term<Src>* q = nullptr;
    const std::string trace = written(Fortran.f, [&] { q = permut_fast_DMP__BigDexp__VGF(p, perm); });
    EXPECT_EQ(Model<Src>::read(p), before);
    Term<Src>* r = permut_DMP__BigDexp__VGF_d(Dmp<Src>::copy(p), perm);
    EXPECT_EQ(Model<Src>::read(q), Model<Src>::read(r));
    EXPECT_NE(Model<Src>::read(q), before);
    EXPECT_EQ(trace.rfind("Avant ", 0), 0u) << trace;
    EXPECT_NE(trace.find("\nApres "), std::string::npos) << trace;
    for (Term<Src>* t : {p, q, r}) Dmp<Src>::Terms::kill_all(t);
}

}  // namespace
