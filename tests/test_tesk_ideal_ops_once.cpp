// Ideal operations of the Tesk engine through its server: -elim, -intersect
// and -quotient against Singular's reduced bases modulo two primes
// (tests/data/ideal, made by tools/make-ideal-ops), their bad inputs, and a
// peer's intersection of a list of ideals, whole and cut at every byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/standin/system_file.h"
#include "tesk/algo/ideal_ops.h"
#include "tesk/base/bus.h"
#include "tesk/poly/protocol.h"
#include "tests/support/poly_list_text.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_server_run.h"
#include "tests/support/text_file.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using quor_test::canonical;
using quor_test::lines_to_list;
using quor_test::slurp;
using tesk_server_run::expect_code;
using tesk_server_run::quit_peer;
using tesk_server_run::Result;
using tesk_server_run::server;

const std::string kData = QUOR_TEST_DATA_DIR;

std::string system_path(const std::string& name) {
    const std::string p = kData + "/ideal/" + name + ".txt";
    return std::ifstream(p) ? p : kData + "/" + name + ".txt";
}

// The cases of a file of keyed lines ("key rest"), blank lines between
// cases: each key's lines joined, each ended by a new line.
std::vector<std::map<std::string, std::string>> keyed_cases(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::map<std::string, std::string>> cases(1);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            if (!cases.back().empty()) cases.emplace_back();
            continue;
        }
        if (line[0] == '#') continue;
        const std::string key = line.substr(0, line.find(' '));
        cases.back()[key] += line.substr(std::min(line.size(), key.size() + 1)) + "\n";
    }
    if (cases.back().empty()) cases.pop_back();
    return cases;
}
// Its lines under key ("" when none); with lines = false, the first without its new line.
std::string field(const std::map<std::string, std::string>& c, const std::string& key, bool lines = true) {
    const auto it = c.find(key);
    if (it == c.end()) return "";
    return lines ? it->second : it->second.substr(0, it->second.find('\n'));
}

// The work of the last ideal operation, every attempt's pairs counted (in
// 8-bit exponents, then in 16-bit ones), against a bound that the
// generators' homogenisation passed by far.
bool within() {
    const algo::Sugar_Stats w = algo::last_operation_work();
    return w.pairs < 12000 && w.reductions < 6000;
}

// Every case of tests/data/ideal/cases.txt, modulo both primes.
TEST(TeskIdealOps, ServerAgreesWithSingular) {
    quor_test::TempDir d("tesk_ideal");
    std::ifstream cases(kData + "/ideal/cases.txt");
    std::map<std::string, int> count;
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        std::string op, sys, arg;
        ls >> op >> sys >> arg;
        const auto S = quor::standin::read_system(system_path(sys));
        const std::string opt = op == "elim" ? "-elim " + arg : "-" + op + " " + system_path(arg);
        for (std::uint64_t p : {65521u, 32003u}) {
            const std::string args = "-prime " + std::to_string(p) + " " + opt + " " + system_path(sys);
            const Result r = server(d, args);
            ASSERT_EQ(r.status, 0) << args << "\n" << r.out;
            const std::string want =
                slurp(kData + "/ideal/" + op + "-" + sys + "-" + arg + "." + std::to_string(p) + ".txt");
            ASSERT_FALSE(want.empty()) << line;
            EXPECT_EQ(canonical(r.out.substr(0, r.out.find('\n')), S, p), canonical(lines_to_list(want), S, p))
                << args;
        }
        ++count[op];
    }
    EXPECT_GE(count["elim"], 6);
    EXPECT_GE(count["intersect"], 6);
    EXPECT_GE(count["quotient"], 6);
}

// What follows an operation sees its result in the result's own variables,
// as if that ideal were read from a file: no eliminated variable and no tag
// counts as free (values from Singular).
TEST(TeskIdealOps, FollowUpsSeeTheResultInItsOwnVariables) {
    quor_test::TempDir d("tesk_ideal");
    const std::string z = d / "z.txt", z2 = d / "z2.txt", a = d / "a.txt", b = d / "b.txt", i = d / "i.txt",
                      j = d / "j.txt";
    std::ofstream(z) << "# vars: x,y,z\n[x^2-y, y^2-z, z^2-1]\n";
    std::ofstream(z2) << "# vars: x,y,z\n[x-y, y^2-1, z-1]\n";
    std::ofstream(a) << "# vars: x,y,z\n[x-1, z]\n";
    std::ofstream(b) << "# vars: x,y,z\n[x*y, z]\n";
    std::ofstream(i) << "# vars: x,y,z\n[x^2-y, x*y-z]\n";
    std::ofstream(j) << "# vars: x,y,z\n[x-1, y-z^2]\n";
    const auto tail = [](const std::string& out) { return out.substr(out.find('\n') + 1); };
    Result r = server(d, "-nbsol -degree -elim 1 " + z);
    EXPECT_EQ(r.out, "[y^2+65520*z,z^2+65520]\n#solutions 4\ndegree = 4\n");
    r = server(d, "-nbsol -hilbert -intersect " + z2 + " " + z);
    EXPECT_EQ(tail(r.out), "#solutions 9\nh(t) = t^3+4*t^2+3*t+1\ndim = 0\n") << r.out;
    r = server(d, "-nbsol -quotient " + z2 + " " + z);
    EXPECT_EQ(tail(r.out), "#solutions 7\n") << r.out;
    r = server(d, "-hilbert -intersect " + a + " " + b);
    EXPECT_EQ(r.out, "[x^2*y+65520*x*y,z]\nh(t) = t^2+t+1\ndim = 1\n");
    r = server(d, "-degree -quotient " + j + " " + i);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(tail(r.out), "degree = 3\n") << r.out;
    // -lextri decomposes the result: 4, 9 and 7 zeros, in the user's names.
    for (const std::string& args : {"-elim 1 " + z, "-intersect " + z2 + " " + z, "-quotient " + z2 + " " + z}) {
        r = server(d, "-lextri " + args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.out;
        EXPECT_EQ(r.out.find('@'), std::string::npos) << r.out;
    }
    EXPECT_EQ(server(d, "-lextri -elim 1 " + z).out, "[[y^2+65520*z,z^2+65520]]\n");
}

// Four quadrics modulo 11: the block order's loop once passed a block degree
// of 255 on the way; the answer is one polynomial of degree 16 (Singular's).
TEST(TeskIdealOps, EliminationStaysInTheDegreesOfItsAnswer) {
    quor_test::TempDir d("tesk_ideal");
    const Result r = server(d, "-prime 11 -elim 3 " + system_path("four-quadrics"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "[d^16+4*d^15+2*d^14+d^13+7*d^12+8*d^11+4*d^10+5*d^9+7*d^8+2*d^7+5*d^6+2*d^5+7*d^4+2*d^3+4*d^2+10*d+"
              "10]\n");
}

TEST(TeskIdealOps, BadInputIsFatalAndNamed) {
    quor_test::TempDir d("tesk_ideal");
    const std::string curve = system_path("curve"), other = d / "other.txt", cut = d / "cut.txt",
                      one = d / "one.txt";
    {
        std::ofstream(other) << "# name: other\n#C vars: x, z,y\n[x]\n";
        std::ofstream(one) << "# vars: x\n[x^2-1]\n";
    }
    struct Case {
        std::string args, text;
    } cases[] = {
        {"-intersect " + other + " " + curve,
         other + ":2:13: option -intersect: the variables x,z,y are not those of " + curve + " (x,y,z)\n"},
        {"-quotient " + other + " " + curve, other + ":2:13: option -quotient"},
        {"-elim 3 " + curve, "Option -elim 3: K must be from 1 to 2, one less than the 3 variables of " + curve},
        {"-elim 1 " + one, "Option -elim 1: " + one + " has 1 variable, and an elimination leaves one at least"},
        {"-elim 0 " + curve, "Option -elim needs a number from 1 to 999, not '0'"},
        {"-elim 1 -intersect " + curve + " " + curve, "Options -elim and -intersect exclude one another"},
        {"-primes 2 -quotient " + curve + " " + curve, "Option -quotient needs the prime-field build (-prime P)"},
        {"-intersect " + curve + " -cyclic 3", "Option -intersect needs a system file, not an example"},
        {"-intersect " + (d / "absent.txt") + " " + curve, "Fichier " + (d / "absent.txt") + " non ouvrable !"},
    };
    for (const Case& c : cases) {
        const Result r = server(d, c.args);
        EXPECT_EQ(r.status, 3) << c.args;
        EXPECT_NE(r.out.find("#error (fatal): " + c.text), std::string::npos) << c.args << "\n" << r.out;
    }
    // A second file cut anywhere is refused with its name and line.
    const std::string whole = slurp(system_path("line"));
    for (size_t at = 0; at < whole.rfind(']'); ++at) {
        std::ofstream(cut) << whole.substr(0, at);
        const Result r = server(d, "-intersect " + cut + " " + curve);
        EXPECT_EQ(r.status, 3) << at;
        EXPECT_NE(r.out.find("#error (fatal): " + cut + ":"), std::string::npos) << at << "\n" << r.out;
    }
}

// The cases of tests/data/ideal/intermediate-exponents.txt: computations
// that pass the exponents' 7 bits or a block degree of 255 on the way to an
// answer that fits (a homogenising variable's growth, a degree basis in one
// block, the tag of an intersection, a quotient's products) are answered,
// as Singular answers them.
TEST(TeskIdealOps, IntermediateExponentsPastTheRangeAreAnswered) {
    quor_test::TempDir d("tesk_ideal");
    const auto cases = keyed_cases(kData + "/ideal/intermediate-exponents.txt");
    ASSERT_EQ(cases.size(), 12u);
    for (const auto& c : cases) {
        const std::string f = d / "f.txt", f2 = d / "f2.txt";
        std::ofstream(f) << field(c, "file");
        std::ofstream(f2) << field(c, "file2");
        const std::string args =
            "-prime 65521 " + field(c, "op", false) + (field(c, "file2").empty() ? "" : " " + f2) + " " + f;
        const Result r = server(d, args);
        EXPECT_EQ(r.status, 0) << field(c, "file") << args << "\n" << r.out;
        if (r.status != 0) continue;
        const auto S = quor::standin::read_system(f);
        EXPECT_EQ(canonical(r.out.substr(0, r.out.find('\n')), S, 65521),
                  canonical(lines_to_list(field(c, "answer")), S, 65521))
            << field(c, "file") << args << "\n" << r.out;
    }
}

// The cases of tests/data/ideal/sparse-binomials.txt, two blocks of
// variables: the answers that fit are Singular's, computed in the process
// within a bound of work, and those that do not are refused by the server,
// naming their exponent or block degree.  Their
// homogenised generators once led the loops through tens of thousands of
// pairs (seconds to minutes) where their ideal needs a few thousand.
TEST(TeskIdealOps, SparseBinomialsOfHighDegree) {
    using I = DRLDRL__GFC;
    using M = Dmp<I>;
    quor_test::TempDir d("tesk_ideal");
    const auto cases = keyed_cases(kData + "/ideal/sparse-binomials.txt");
    ASSERT_EQ(cases.size(), 5u);
    unsigned answered = 0;
    for (const auto& c : cases) {
        const std::string f = d / "f.txt";
        std::ofstream(f) << field(c, "file");
        const auto S = quor::standin::read_system(f);
        const unsigned prime = unsigned(std::stoul(field(c, "prime", false)));
        auto compute = [&] {
            tesk_poly_model::sugar_set_up<I>(unsigned(S.vars.size()));
            gfc::set_module_GFC(prime);
            algo::Sugar<I>::set(unsigned(S.vars.size()), unsigned(S.blocks), 0);
            List<I>* F = tesk_poly_model::to_tesk<I>(S.polys);
            List<I>* G = algo::Ideal_Ops<I>::groebner(F);
            M::Lists::kill_all(F);
            return G;
        };
        const std::string refused = field(c, "refused", false);
        if (!refused.empty()) {
            // In the user's names, as the server reads them.
            const Result r = server(d, "-prime " + std::to_string(prime) + " " + f);
            EXPECT_EQ(r.status, 3) << field(c, "file");
            EXPECT_EQ(r.out, "#error (fatal): " + refused + "\n") << field(c, "file");
            continue;
        }
        List<I>* G = compute();
        const algo::Sugar_Stats w = algo::last_operation_work();
        EXPECT_TRUE(within()) << field(c, "file") << w.pairs << " pairs, " << w.reductions << " reductions";
        const std::string want = lines_to_list(field(c, "answer"));
        List<I>* A = tesk_poly_model::to_tesk<I>(quor::standin::parse_poly_list(want, S, "answer"));
        EXPECT_EQ(tesk_poly_model::canonical<I>(G, false), tesk_poly_model::canonical<I>(A, false)) << field(c, "file");
        ++answered;
    }
    EXPECT_EQ(answered, 3u);
}

// An answer that does not fit is refused with its own exponent or block
// degree, in the user's variables: never the tag, nor a made-up name.
TEST(TeskIdealOps, AnswerPastTheRangeIsRefusedInTheUsersNames) {
    quor_test::TempDir d("tesk_ideal");
    const std::string a = d / "a.txt", b = d / "b.txt", c = d / "c.txt";
    std::ofstream(a) << "# vars: x,y,z\n[x^127*y^127-1]\n";
    std::ofstream(b) << "# vars: x,y,z\n[z^2-1]\n";
    std::ofstream(c) << "# vars: x,y,z\n[x^50+z]\n";
    const std::string limits = " (at most 127 for an exponent, 255 for a block's degree)\n";
    // (x^127*y^127 - 1)*(z^2 - 1) and (x^100 + y)*(x^50 + z), the products
    // of coprime principal ideals.
    Result r = server(d, "-intersect " + b + " " + a);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(r.out, "#error (fatal): Depassement du degre 256 !\n");
    std::ofstream(a) << "# vars: x,y,z\n[x^100+y]\n";
    r = server(d, "-intersect " + c + " " + a);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(r.out, "#error (fatal): Exponent overflow: x^150" + limits);
    // Singular's basis x - y^9900*z, y^10000*z - 1: the homogenising
    // variable, past 127 first, is not named.
    std::ofstream(a) << "# vars: x,y,z\n# blocks: 1\n[x*y^100-1, x^100-z]\n";
    r = server(d, a);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(r.out, "#error (fatal): Depassement du degre 9901 !\n");
}

// A reducer's tail times the multiplier may pass the second block's degree
// while the terms it reduces stay inside: the normal form of a0*y0^60 by
// a0*y0 - y0^100*y1^100 is y0^159*y1^100, which does not fit, and was
// printed as y0^160*y1^100 (the degree's carry in the next slot).  Where
// the normal form fits, it is computed in wider exponents: y0^159*y1^100*y2
// reduces to y0^59 by the second polynomial.
TEST(TeskIdealOps, ProductsPastTheRangeInsideAReduction) {
    quor_test::TempDir d("tesk_ideal");
    const std::string f = d / "f.txt", g = d / "g.txt", q = d / "q.txt";
    const std::string vars = "# vars: a0,a1,a2,a3,y0,y1,y2,y3,y4,y5,y6\n# blocks: 4\n";
    std::ofstream(f) << vars << "[a0*y0-y0^100*y1^100]\n";
    std::ofstream(g) << vars << "[a0*y0-y0^100*y1^100, y0^100*y1^100*y2-1]\n";
    std::ofstream(q) << "[a0*y0^60]\n";
    Result r = server(d, "-normal-form " + q + " " + f);
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("#error (fatal): Depassement du degre 259 !\n"), std::string::npos) << r.out;
    std::ofstream(q) << "[a0*y0^60*y2, a0*y0^27*y2, a0*y0^60*y3]\n";
    r = server(d, "-nooutput -normal-form " + q + " " + g);
    EXPECT_EQ(r.status, 3) << r.out;  // the third is y0^159*y1^100*y3
    std::ofstream(q) << "[a0*y0^60*y2, a0*y0^27*y2]\n";
    r = server(d, "-normal-form " + q + " " + g);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\n[y0^59,y0^26]\n"), std::string::npos) << r.out;
}

// The normal form of a product by a basis: y^90 * y^60 passes the exponents
// and is reduced in wider ones (y^150 = y^51 + y^50 modulo y^100 - y - 1),
// which the flag tells; y^40 * y^60 stays inside, and gives the same answer
// once the flag sends every product to the wider exponents at once.
TEST(TeskIdealOps, NormalFormOfAProductPastTheRange) {
    using G = DRLDRL__GFC;
    using M = Dmp<G>;
    using Model = tesk_poly_model::Model<G>;
    using Ops = algo::Ideal_Ops<G>;
    tesk_poly_model::sugar_set_up<G>(2);
    List<G>* B = Model::list({Model::poly({{{1, 0}, 1}, {{0, 0}, -2}}),
                              Model::poly({{{0, 100}, 1}, {{0, 1}, -1}, {{0, 0}, -1}})});
    Term<G>* y40 = Model::poly({{{0, 40}, 1}});
    Term<G>* y60 = Model::poly({{{0, 60}, 1}});
    Term<G>* y90 = Model::poly({{{0, 90}, 1}});
    Term<G>* past = Model::poly({{{0, 51}, 1}, {{0, 50}, 1}});
    Term<G>* inside = Model::poly({{{0, 1}, 1}, {{0, 0}, 1}});
    const std::pair<Term<G>*, bool> runs[] = {{y90, false}, {y40, false}, {y40, true}};
    for (auto [a, wide_before] : runs) {
        bool wide = wide_before;
        Term<G>* r = Ops::normal_form_of_product(B, a, y60, &wide);
        EXPECT_TRUE(M::eq(r, a == y90 ? past : inside)) << M::Terms::size(r) << " terms";
        EXPECT_EQ(wide, a == y90 || wide_before);
        M::Terms::kill_all(r);
    }
    for (Term<G>* p : {y40, y60, y90, past, inside}) M::Terms::kill_all(p);
    M::Lists::kill_all(B);
}

// A peer's two blocks (code 85, 3 variables, the first alone): the basis of
// a saturation (code 15) whose homogenising variable passes 127, then an
// intersection (code 112) whose answer does not fit, refused in the peer's
// variables a, b, c; the session goes on.
TEST(TeskIdealOps, PeerBlocksPastTheRange) {
    using G = DRLDRL__GFC;
    using M = Dmp<G>;
    using tesk_poly_model::Model;
    if (!internal_TESKHOME) set_path_TESKHOME("/");
    want_quiet = 1;
    BUS b(TESK_SERVER_PATH, nullptr, nullptr, Serveurs_Type(7), 0, nullptr);
    ASSERT_TRUE(b.valid);
    tesk_poly_model::sugar_set_up<G>(3);
    set_nb_var_DRLDRL(3, 1);
    Wire<G>::out_domain_protocol(b);
    List<G>* F = Model<G>::list({Model<G>::poly({{{1, 1, 0}, 1}, {{0, 0, 0}, -1}}),
                                 Model<G>::poly({{{0, 65, 0}, 1}, {{0, 64, 1}, -1}})});
    Wire<G>::out_protocol_list(b, F, 0);
    M::Lists::kill_all(F);
    b << MSG_TESK_GROEBNER;
    b.flush();
    for (int i = 0; i < 3; ++i) expect_code(b, MSG_TESK_OK);  // the domain, the prime, the list
    expect_code(b, MSG_TESK_Begin);
    List<G>* B = Wire<G>::read_list(b);
    List<G>* want = Model<G>::list({Model<G>::poly({{{1, 0, 1}, 1}, {{0, 0, 0}, -1}}),
                                    Model<G>::poly({{{0, 1, 0}, 1}, {{0, 0, 1}, -1}})});
    EXPECT_EQ(tesk_poly_model::canonical<G>(B, true), tesk_poly_model::canonical<G>(want, true));
    List_List<G>* L = M::Lists2::new_();
    L->elt = Model<G>::list({Model<G>::poly({{{100, 0, 0}, 1}, {{0, 1, 0}, 1}})});
    L->next = M::Lists2::new_();
    L->next->elt = Model<G>::list({Model<G>::poly({{{50, 0, 0}, 1}, {{0, 0, 1}, 1}})});
    L->next->next = nullptr;
    b << MSG_TESK_ACTION7;
    Wire<G>::out_protocol_list_list(b, L, 0);
    b.flush();
    M::Lists2::kill_all(L);
    expect_code(b, MSG_TESK_ERROR);
    char* text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "Exponent overflow: a^150 (at most 127 for an exponent, 255 for a block's degree)");
    delete[] text;
    quit_peer(b);
}

// The lists of the two systems as a list of lists.
template <class I>
List_List<I>* two_ideals(const std::string& a, const std::string& b) {
    using M = Dmp<I>;
    List_List<I>* l = M::Lists2::new_();
    l->elt = tesk_poly_model::load_system<I>("ideal/" + a);
    l->next = M::Lists2::new_();
    l->next->elt = tesk_poly_model::load_system<I>("ideal/" + b);
    l->next->next = nullptr;
    return l;
}

TEST(TeskIdealOps, PeerIntersectsAListOfIdeals) {
    using G = DRLDRL__GFC;
    using tesk_poly_model::canonical;
    using tesk_poly_model::load_basis;
    if (!internal_TESKHOME) set_path_TESKHOME("/");
    want_quiet = 1;
    BUS b(TESK_SERVER_PATH, nullptr, nullptr, Serveurs_Type(7), 0, nullptr);
    ASSERT_TRUE(b.valid);
    tesk_poly_model::sugar_set_up<G>(3);
    Wire<G>::out_domain_protocol(b);
    // A system and its basis first: they outlast the intersection.
    List<G>* F = tesk_poly_model::load_system<G>("ideal/points");
    Wire<G>::out_protocol_list(b, F, 0);
    b << MSG_TESK_GROEBNER;
    b.flush();
    for (int i = 0; i < 3; ++i) expect_code(b, MSG_TESK_OK);
    expect_code(b, MSG_TESK_Begin);
    const auto basis = canonical<G>(Wire<G>::read_list(b), true);

    List_List<G>* L = two_ideals<G>("curve", "line");
    b << MSG_TESK_ACTION7;
    Wire<G>::out_protocol_list_list(b, L, 0);
    b.flush();
    Dmp<G>::Lists2::kill_all(L);
    expect_code(b, MSG_TESK_Begin);
    EXPECT_EQ(canonical<G>(Wire<G>::read_list(b), true),
              canonical<G>(load_basis<G>("ideal/curve", "ideal/intersect-curve-line.65521.txt"), true));
    // No ideal at all: the whole ring.
    b << MSG_TESK_ACTION7 << MSG_TESK_Begin << MSG_TESK_End;
    b.flush();
    expect_code(b, MSG_TESK_Begin);
    List<G>* one = Wire<G>::read_list(b);
    ASSERT_TRUE(one && !one->next && Dmp<G>::constante(one->elt) && one->elt);
    Dmp<G>::Lists::kill_all(one);
    b << MSG_TESK_RMT_SEND_GBASIS;
    b.flush();
    expect_code(b, MSG_TESK_Begin);
    EXPECT_EQ(canonical<G>(Wire<G>::read_list(b), true), basis);
    Dmp<G>::Lists::kill_all(F);
    // Over a vector of primes: one block, no intersection; the session goes on.
    tesk_poly_model::sugar_set_up<BigDexp__VGF>(3);
    Wire<BigDexp__VGF>::out_domain_protocol(b);
    b << MSG_TESK_ACTION7 << MSG_TESK_Begin << MSG_TESK_Begin << MSG_TESK_End << MSG_TESK_End;
    b.flush();
    for (int i = 0; i < 3; ++i) expect_code(b, MSG_TESK_OK);
    expect_code(b, MSG_TESK_ERROR);
    char* text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "The intersection needs the prime-field build (code 9)");
    delete[] text;
    quit_peer(b);
}

// The same message cut at every byte: status 3 and the fatal text, never a
// signal nor a hang; whole, the intersection comes back.
TEST(TeskIdealOps, PeerListOfListsCutAtEveryByte) {
    using G = DRLDRL__GFC;
    quor_test::TempDir d("tesk_ideal");
    tesk_poly_model::sugar_set_up<G>(3);
    {
        WBUS w((d / "fixture").c_str());
        Wire<G>::out_domain_protocol(w);
        List_List<G>* L = two_ideals<G>("curve", "line");
        w << MSG_TESK_ACTION7;
        Wire<G>::out_protocol_list_list(w, L, 0);
        w.kill();
        Dmp<G>::Lists2::kill_all(L);
    }
    const std::string bytes = slurp(d / "fixture");
    ASSERT_GT(bytes.size(), 100u);
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        const quor_test::Peer_Run r = quor_test::feed_peer(d, bytes.substr(0, cut));
        EXPECT_EQ(r.status, 3) << "cut " << cut;
        EXPECT_NE(r.log.find("#error (fatal): "), std::string::npos) << cut;
        if (cut == bytes.size()) {
            EXPECT_GT(r.answers.size(), 2 * 4 + 6 * 20u) << "the intersection came back";
        }
    }
}

}  // namespace
