// The lextriangular decomposition and the degree of an ideal through
// tesk-server, against Singular's radicals, vdims and multiplicities modulo
// 65521 (tools/make-lextri-data); the decomposition over a peer session.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tesk/algo/sugar.h"
#include "tesk/base/bus.h"
#include "tesk/poly/protocol.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_server_run.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using I = DRLDRL__GFC;
using M = Dmp<I>;
using S = algo::Sugar<I>;
using tesk_poly_model::load_basis;
using tesk_poly_model::load_system;
using tesk_poly_model::sugar_set_up;
using tesk_server_run::expect_code;
using tesk_server_run::feed_peer;
using tesk_server_run::quit_peer;
using tesk_server_run::send_domain;
using tesk_server_run::server;
using tesk_server_run::write_file;

struct TempDir : quor_test::TempDir {
    TempDir() : quor_test::TempDir("tesk_lextri") {}
};

const std::string kData = QUOR_TEST_DATA_DIR;

// "<name> <number>" lines of a data file.
std::map<std::string, long> numbers(const std::string& file) {
    std::map<std::string, long> m;
    std::ifstream in(kData + "/" + file);
    std::string name;
    long v;
    while (in >> name >> v) m[name] = v;
    return m;
}

// A polynomial modulo 65521 by exponents, lexicographically increasing (the
// variable 0 greatest): the leading term last.
using Lex = std::map<std::vector<std::uint16_t>, std::uint64_t>;
constexpr std::uint64_t kP = 65521;

Lex lex(Term<I>* p, unsigned n) {
    Lex l;
    for (; p; p = p->next) {
        std::vector<std::uint16_t> e(n);
        for (unsigned i = 0; i < n; ++i) e[i] = std::uint16_t(M::X::extraire(p->exp, i));
        l[e] = p->coef;
    }
    return l;
}

// d when the leading term of l is x_j^d (d > 0) with coefficient 1: l is then
// free of the variables before x_j and monic in it; else 0.
unsigned main_degree(const Lex& l, unsigned j) {
    if (l.empty() || l.rbegin()->second != 1) return 0;
    const std::vector<std::uint16_t>& e = l.rbegin()->first;
    for (unsigned i = 0; i < e.size(); ++i)
        if (i != j && e[i]) return 0;
    return e[j];
}

// The remainder of p by a triangular set T (T[j] monic in x_j, free of the
// variables before it: a lexicographic basis with leading monomials x_j^d_j).
bool reduces_to_zero(Lex p, const std::vector<Lex>& T, const std::vector<unsigned>& d) {
    while (!p.empty()) {
        auto top = std::prev(p.end());
        const std::vector<std::uint16_t> m = top->first;
        const std::uint64_t c = top->second;
        unsigned j = 0;
        while (j < T.size() && m[j] < d[j]) ++j;
        if (j == T.size()) return false;  // a standard monomial is left
        for (const auto& [e, a] : T[j]) {
            std::vector<std::uint16_t> f = m;
            for (size_t i = 0; i < f.size(); ++i) f[i] = std::uint16_t(f[i] + e[i] - (i == j ? d[j] : 0));
            std::uint64_t& x = p[f];
            x = (x + (kP - c) * a) % kP;
            if (!x) p.erase(f);
        }
    }
    return true;
}

// The reduced basis of the union of the lists.
List<I>* basis_of(std::vector<List<I>*> ls) {
    List<I>* F = nullptr;
    for (List<I>* l : ls)
        for (List<I>* c = l; c; c = c->next) F = M::Lists::cons(c->elt, F);
    List<I>* G = S::groebner(F);
    M::Lists::free_all(F);
    return G;
}

// The decomposition that tesk-server -lextri writes on its save channel, of
// a system of the data or of a file (a path), within the seconds given.
List_List<I>* lextri_by_server(const TempDir& d, const std::string& system, unsigned n, unsigned seconds = 60) {
    const std::string save = d / "save.bin";
    unlink(save.c_str());
    const std::string file = system[0] == '/' ? system : kData + "/" + system + ".txt";
    const auto r = server(d, "-nooutput -lextri -save " + save + " " + file, "", seconds);
    EXPECT_EQ(r.status, 0) << r.out;
    if (r.status != 0) return nullptr;  // no save file to read
    sugar_set_up<I>(n);
    RBUS in(save.c_str());
    EXPECT_EQ(in.get32(), std::uint32_t(MSG_TESK_Begin));
    List_List<I>* T = Wire<I>::read_list_list(in);
    in.kill();
    return T;
}

// Each set triangular (x_j's polynomial j-th, free of x_0 .. x_(j-1), monic in
// x_j); the ideal of each contains Singular's radical of the input; any two
// sets have no common zero; the degrees add up to Singular's vdim of the
// radical.  Then the intersection of the sets' ideals, which holds the
// radical and whose quotient has the radical's dimension, is the radical.
TEST(TeskLextri, TriangularSetsIntersectToTheRadical) {
    TempDir d;
    const auto vdim = numbers("lextri.gf65521.vdim.txt");
    const std::pair<const char*, unsigned> systems[] = {
        {"cyclic-5", 5},         {"cyclic-6", 6},          {"katsura-5", 6},      {"katsura-4-squared", 5},
        {"lextri-multiroots", 3}, {"lextri-split5-a", 5}, {"lextri-split5-b", 5}};
    for (auto [name, n] : systems) {
        SCOPED_TRACE(name);
        List_List<I>* T = lextri_by_server(d, name, n);
        ASSERT_NE(T, nullptr);
        List<I>* radical = load_basis<I>(name, std::string(name) + ".radical.gf65521.gb.txt");
        std::vector<List<I>*> sets;
        long total = 0;
        for (List_List<I>* s = T; s; s = s->next) {
            sets.push_back(s->elt);
            ASSERT_EQ(M::Lists::size(s->elt), n);
            long degree = 1;
            std::vector<Lex> ts;
            std::vector<unsigned> ds;
            for (List<I>* c = s->elt; c; c = c->next) {
                ts.push_back(lex(c->elt, n));
                ds.push_back(main_degree(ts.back(), unsigned(ds.size())));
                ASSERT_GT(ds.back(), 0u) << "polynomial " << ds.size() - 1 << " of a set";
                degree *= ds.back();
            }
            total += degree;
            for (List<I>* r = radical; r; r = r->next) EXPECT_TRUE(reduces_to_zero(lex(r->elt, n), ts, ds));
        }
        EXPECT_EQ(total, vdim.at(name));
        for (size_t a = 0; a < sets.size(); ++a)
            for (size_t b = a + 1; b < sets.size(); ++b) {
                List<I>* G = basis_of({sets[a], sets[b]});
                EXPECT_TRUE(G && !G->next && M::constante(G->elt)) << "sets " << a << " and " << b << " meet";
                M::Lists::kill_all(G);
            }
        M::Lists::kill_all(radical);
        M::Lists2::kill_all(T);
    }
}

// The decomposition of a system of the data over a peer session whose first
// block has k of the n variables (0: one block).
List_List<I>* lextri_by_peer(const TempDir& d, const std::string& system, unsigned n, unsigned k) {
    sugar_set_up<I>(n);
    S::set(n, k ? k : n, 0);
    {
        WBUS w((d / "fixture").c_str());
        Wire<I>::out_domain_protocol(w);
        List<I>* F = load_system<I>(system);
        Wire<I>::out_protocol_list(w, F, 0);
        w << MSG_TESK_LEXTRI << MSG_TESK_QUIT;
        M::Lists::kill_all(F);
        w.kill();
    }
    const auto r = feed_peer(d, tesk_server_run::read_file(d / "fixture"));
    EXPECT_EQ(r.status, 0) << r.log;
    if (r.status != 0) return nullptr;
    write_file(d / "answers", r.answers);
    RBUS in((d / "answers").c_str());
    for (int i = 0; i < 3; ++i) expect_code(in, MSG_TESK_OK);  // [85] [9], the list
    expect_code(in, MSG_TESK_Begin);
    List_List<I>* T = Wire<I>::read_list_list(in);
    expect_code(in, MSG_TESK_OK);  // the end
    in.kill();
    return T;
}

// Each set of T as its polynomials' term maps, whatever the order of their terms.
std::vector<std::vector<Lex>> term_maps(List_List<I>* T, unsigned n) {
    std::vector<std::vector<Lex>> sets;
    for (; T; T = T->next) {
        sets.emplace_back();
        for (List<I>* c = T->elt; c; c = c->next) sets.back().push_back(lex(c->elt, n));
    }
    return sets;
}

// Generated systems whose decomposition splits (62 and 60 zeros): Singular's
// std, fglm and triangMH take about 25 ms on each, and the decomposition
// takes a tenth of a second, not minutes of S-polynomials (the limits leave
// room for a loaded machine).  A blocks line orders the printed terms only:
// the sets are those of the ideal (a basis for the blocks first took 103 s
// on the first with blocks 3, 95 s on the second with blocks 4).
TEST(TeskLextri, SplitSystemsFastWhateverTheBlocks) {
    TempDir d;
    for (const char* name : {"lextri-split5-a", "lextri-split5-b"}) {
        SCOPED_TRACE(name);
        List_List<I>* plain = lextri_by_server(d, name, 5, 30);
        ASSERT_NE(plain, nullptr);
        const auto want = term_maps(plain, 5);
        M::Lists2::kill_all(plain);
        const std::string text = tesk_server_run::read_file(kData + "/" + name + ".txt");
        const size_t at = text.find('[');
        for (const char* blocks : {"3", "4"}) {
            write_file(d / "blocks.txt", text.substr(0, at) + "# blocks: " + blocks + "\n" + text.substr(at));
            List_List<I>* T = lextri_by_server(d, d / "blocks.txt", 5, 30);
            ASSERT_NE(T, nullptr) << "blocks " << blocks;
            EXPECT_EQ(term_maps(T, 5), want) << "blocks " << blocks;
            M::Lists2::kill_all(T);
        }
        // A peer's session with a first block of 4: the sets of the system.
        List_List<I>* T = lextri_by_peer(d, name, 5, 4);
        ASSERT_NE(T, nullptr);
        EXPECT_EQ(term_maps(T, 5), want) << "peer";
        M::Lists2::kill_all(T);
    }
}

// Systems whose multiplication matrices would pass 1 GB (1,251 MB for the
// grid of 8,100 zeros, 2,004 MB for the monomial ideal of 7,641 standard
// monomials) were refused; the reductions' smaller tables answer them, as
// the previous release did (its output here): in file mode, with a blocks
// line, and over peer sessions with and without a first block.
TEST(TeskLextri, PastTheMatricesLimitByReductions) {
    TempDir d;
    struct Run {
        const char* name;
        unsigned n, k;
        const char* want;
    };
    const Run runs[] = {{"lextri-grid90", 2, 1, "[[x^90+65520*x+65520,y^90+65520*y+65518]]\n"},
                        {"lextri-monomial6", 6, 3, "[[x1,x2,x3,x4,x5,x6]]\n"}};
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        const std::string file = kData + "/" + run.name + ".txt";
        auto r = server(d, "-lextri " + file);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, run.want);
        const std::string text = tesk_server_run::read_file(file);
        const size_t at = text.find('[');
        write_file(d / "blocks.txt",
                   text.substr(0, at) + "# blocks: " + std::to_string(run.k) + "\n" + text.substr(at));
        r = server(d, "-lextri " + (d / "blocks.txt"));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, run.want) << "blocks";
        List_List<I>* W = lextri_by_server(d, run.name, run.n);
        ASSERT_NE(W, nullptr);
        const auto want = term_maps(W, run.n);  // read in the layout W was made in
        M::Lists2::kill_all(W);
        for (unsigned k : {0u, run.k}) {
            List_List<I>* T = lextri_by_peer(d, run.name, run.n, k);
            ASSERT_NE(T, nullptr) << "peer, first block " << k;
            EXPECT_EQ(term_maps(T, run.n), want) << "peer, first block " << k;
            M::Lists2::kill_all(T);
        }
    }
}

// -qhomog leaves the last variable out of the staircases: the decomposition
// and the change of ordering, which need the whole quotient, are refused
// with it, before anything is computed (they answered [] with success, or
// ended on an internal error).
TEST(TeskLextri, QhomogRefused) {
    TempDir d;
    write_file(d / "four.txt", "# vars: x,y,z\n[x*y-1, y^2-z, z^2-2]\n");
    write_file(d / "h.txt", "# vars: x,y,h\n[x*y-1, x^2-y^2+x]\n");
    const std::pair<const char*, const char*> runs[] = {{"-qhomog -lextri", "four.txt"},
                                                        {"-elim 1 -qhomog -lextri", "four.txt"},
                                                        {"-qhomog -lextri", "h.txt"},
                                                        {"-primes 2 -qhomog -lex", "h.txt"},
                                                        {"-primes 1 -qhomog -lex", "four.txt"}};
    for (auto [args, file] : runs) {
        const auto r = server(d, std::string(args) + " " + (d / file));
        EXPECT_EQ(r.status, 3) << args << " " << file << ": " << r.out;
        EXPECT_NE(r.out.find("and -qhomog exclude one another"), std::string::npos) << args << " " << file << ": " << r.out;
    }
    EXPECT_EQ(server(d, "-lextri " + (d / "four.txt")).status, 0);
}

TEST(TeskLextri, OutputAndRefusals) {
    TempDir d;
    auto r = server(d, kData + "/lextri-multiroots.txt -lextri");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "[[x+65520*y,y^3+65520*y,z],[x+65520*z,y+65520*z,z^2+65520]]\n");
    // In the NTL syntax, each set then an empty line.
    EXPECT_EQ(server(d, "-ntl -lextri " + kData + "/lextri-multiroots.txt").out,
              "[ 0 65520]\n[ 0 65520 0 1]\n[ 0 1]\n\n[ 0 65520]\n[ 0 65520]\n[ 65520 0 1]\n\n");
    write_file(d / "one.txt", "# vars: x,y\n[x*y-1, x]\n");
    EXPECT_EQ(server(d, "-lextri " + (d / "one.txt")).out, "[]\n");
    // Modulo 7, x^14 - 2x^7 + 1 = (x - 1)^14: a root of x's minimal polynomial
    // of a multiplicity divisible by the characteristic.
    write_file(d / "p7.txt", "# vars: x,y\n[x^14-2*x^7+1, y^2-x*y]\n");
    EXPECT_EQ(server(d, "-prime 7 -lextri " + (d / "p7.txt")).out, "[[x+6,y^2+6*y]]\n");
    r = server(d, "-lextri " + kData + "/cyclic-4.txt");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("#error (fatal): " + kData +
                         "/cyclic-4.txt: the system is not zero-dimensional: no lextriangular decomposition"),
              std::string::npos)
        << r.out;
    // After -elim, the elimination ideal is decomposed in its own variables
    // y, z (zero-dimensional there: 5 zeros), as if read from a file.
    r = server(d, "-elim 1 -lextri " + kData + "/lextri-multiroots.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "[[y^3+65520*y,z],[y+65520*z,z^2+65520]]\n");
    // 128 zeros, 128 values of x8: the lexicographic basis needs x8^128, past
    // the exponent type; the refusal names the user's variable.
    r = server(d, "-lextri " + kData + "/katsura-7.txt");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("#error (fatal): Lextriangular decomposition: x8^128 does not fit the exponents"),
              std::string::npos)
        << r.out;
    // A minimal polynomial past the exponents (x^252 = 1 here) is no refusal
    // when the answer fits: the system is already triangular and radical.
    write_file(d / "x126.txt", "# vars: x,y\n[x^126-y, y^2-1]\n");
    r = server(d, "-lextri " + (d / "x126.txt"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "[[x^126+65520*y,y^2+65520]]\n");
    r = server(d, "-primes 2 -lextri " + kData + "/cyclic-5.txt");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out.rfind("#error (fatal): Option -lextri needs the prime-field build (-prime P)", 0), 0u) << r.out;
}

// -degree against Singular's mult of the standard basis, zero- and
// positive-dimensional, over both builds; 0 for the whole ring.
TEST(TeskDegree, MultiplicityOfTheStandardBasis) {
    TempDir d;
    const auto mult = numbers("degree.gf65521.mult.txt");
    ASSERT_GE(mult.size(), 6u);
    for (const auto& [name, m] : mult) {
        const std::string file = kData + "/" + name + ".txt";
        EXPECT_EQ(server(d, "-nooutput -degree " + file).out, "degree = " + std::to_string(m) + "\n") << name;
        EXPECT_EQ(server(d, "-nooutput -primes 2 -degree " + file).out, "degree = " + std::to_string(m) + "\n")
            << name;
    }
    write_file(d / "one.txt", "# vars: x,y\n[x*y-1, x]\n");
    EXPECT_EQ(server(d, "-nooutput -degree " + (d / "one.txt")).out, "degree = 0\n");
    const auto r = server(d, "-nooutput -degree " + kData + "/elim-ratcurve-b2.txt");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("the degree needs one block of variables, not a first block of 2"), std::string::npos)
        << r.out;
}

// A peer session: a system, its decomposition as a list of lists, a refusal for a system that is not zero-dimensional;
// the command stream cut at every byte is refused with status 3.
TEST(TeskLextriPeer, DecompositionAsListOfLists) {
    if (!internal_TESKHOME) set_path_TESKHOME("/");
    want_quiet = 1;
    BUS b(TESK_SERVER_PATH, nullptr, nullptr, Serveurs_Type(7), 0, nullptr);
    ASSERT_TRUE(b.valid);
    send_domain<I>(b, 3);
    List<I>* F = load_system<I>("lextri-multiroots");
    Wire<I>::out_protocol_list(b, F, 0);
    b << MSG_TESK_LEXTRI;
    b.flush();
    expect_code(b, MSG_TESK_OK);
    expect_code(b, MSG_TESK_Begin);
    List_List<I>* got = Wire<I>::read_list_list(b);
    using Model = tesk_poly_model::Model<I>;
    // [x - y, y^3 - y, z] and [x - z, y - z, z^2 - 1], as in file mode.
    List_List<I>* want = M::Lists2::cons(
        Model::list({Model::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, -1}}), Model::poly({{{0, 3, 0}, 1}, {{0, 1, 0}, -1}}),
                     Model::poly({{{0, 0, 1}, 1}})}),
        M::Lists2::cons(Model::list({Model::poly({{{1, 0, 0}, 1}, {{0, 0, 1}, -1}}),
                                     Model::poly({{{0, 1, 0}, 1}, {{0, 0, 1}, -1}}),
                                     Model::poly({{{0, 0, 2}, 1}, {{0, 0, 0}, -1}})}),
                        nullptr));
    ASSERT_EQ(M::Lists2::size(got), 2u);
    for (List_List<I>* g = got, *w = want; g && w; g = g->next, w = w->next) {
        ASSERT_EQ(M::Lists::size(g->elt), 3u);
        for (List<I>* p = g->elt, *q = w->elt; p && q; p = p->next, q = q->next) EXPECT_TRUE(M::eq(p->elt, q->elt));
    }
    M::Lists2::kill_all(got);
    M::Lists2::kill_all(want);
    M::Lists::kill_all(F);

    // x*y, y^2: not zero-dimensional; answered, and the session goes on.
    F = Model::list({Model::poly({{{1, 1, 0}, 1}}), Model::poly({{{0, 2, 0}, 1}})});
    Wire<I>::out_protocol_list(b, F, 0);
    b << MSG_TESK_RMT_LEXTRI;
    b.flush();
    expect_code(b, MSG_TESK_OK);
    expect_code(b, MSG_TESK_ERROR);
    char* text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "The basis is not zero-dimensional: no lextriangular decomposition");
    delete[] text;
    quit_peer(b);
    M::Lists::kill_all(F);

    // The same exchange as bytes, cut anywhere.
    TempDir d;
    sugar_set_up<I>(2);
    {
        WBUS w((d / "fixture").c_str());
        Wire<I>::out_domain_protocol(w);
        List<I>* G = Model::list({Model::poly({{{2, 0}, 1}, {{0, 1}, -1}}), Model::poly({{{0, 2}, 1}, {{1, 0}, -1}})});
        Wire<I>::out_protocol_list(w, G, 0);
        w << MSG_TESK_LEXTRIANG;
        w.kill();
        M::Lists::kill_all(G);
    }
    const std::string bytes = tesk_server_run::read_file(d / "fixture");
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        const auto r = feed_peer(d, bytes.substr(0, cut));
        EXPECT_EQ(r.status, 3) << "cut " << cut;
        EXPECT_NE(r.log.find("#error (fatal): "), std::string::npos) << cut;
        // The whole stream: [5] [5] [5], then [6] [6] two polynomials [7] [7].
        if (cut == bytes.size()) {
            EXPECT_GT(r.answers.size(), 3 * 4 + 4 * 4 + 40u);
        }
    }
}

}  // namespace
