// The Tesk engine's stand-alone server, run as a program: file mode in every
// output syntax, the save file, its fatal texts, and peer mode over loopback
// (a spawning channel, then a stream cut at every byte).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/normal_form.h"
#include "tesk/base/bus.h"
#include "tesk/poly/examples.h"
#include "tesk/poly/protocol.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_server_run.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using tesk_poly_model::canonical;
using tesk_poly_model::load_basis;
using tesk_poly_model::load_system;
using tesk_poly_model::Model;
using tesk_poly_model::sugar_set_up;

struct TempDir : quor_test::TempDir {
    TempDir() : quor_test::TempDir("tesk_server") {}
};

using tesk_server_run::expect_code;
using tesk_server_run::feed_peer;
using tesk_server_run::Peer_Run;
using tesk_server_run::quit_peer;
using tesk_server_run::read_file;
using tesk_server_run::Result;
using tesk_server_run::send_domain;
using tesk_server_run::server;
using tesk_server_run::write_file;

const char kSmall[] = "# name: small\n# vars: x,y\n[x*y-2, y^2-3]\n";

// x*y - 2, y^2 - 3 over x > y: the basis y^2 - 3, x - (2/3)y; 2/3 = 21841 mod 65521.
TEST(TeskServerFile, EveryOutputSyntaxOnASmallSystem) {
    TempDir d;
    write_file(d / "s.txt", kSmall);
    const std::string s = d / "s.txt";
    struct Case {
        const char* opts;
        std::string want;
    } cases[] = {
        {"", "[y^2+65518,x+43680*y]\n"},
        {"-fortran", "[y^2+65518,x+43680*y]\n"},
        {"-pretty", "  2                    \n[y + 65518,x + 43680y ]\n                       \n"},
        {"-tex", "$y^{2} + ...$ \\\\\n$x + ...$ \\\\\n"},
        {"-lisp", "((#(1 0 2 ) #(65518 0 0 )) (#(1 1 0 ) #(43680 0 1 )))\n"},
        {"-posso", "{{1b2,65518} , {1a,43680b}}\n"},
        {"-raw", "[y^2+65518,x+43680*y]\n"},
        {"-ohost", "[1*y^2+65518,1*x+43680*y]\n"},
        {"-host-input", "[\ny^2+65518\nx+43680*y\n]\n\n"},
        {"-head", "[y^2,x]\n"},
        {"-last", "[x+43680*y]\n"},
        {"-nooutput", ""},
        {"-prime 7", "[y^2+4,x+4*y]\n"},
        // The options of the plain text take that syntax back from -pretty and -posso; the last word wins.
        {"-pretty -raw", "[y^2+65518,x+43680*y]\n"},
        {"-posso -ohost", "[1*y^2+65518,1*x+43680*y]\n"},
        {"-pretty -host-input", "[\ny^2+65518\nx+43680*y\n]\n\n"},
        {"-pretty -out-approx", "[y^2+65518,x+43680*y]\n"},
        {"-raw -pretty", "  2                    \n[y + 65518,x + 43680y ]\n                       \n"},
        {"-tex -raw", "$y^{2} + ...$ \\\\\n$x + ...$ \\\\\n"},
    };
    for (const Case& c : cases) {
        const Result r = server(d, std::string(c.opts) + " " + s);
        EXPECT_EQ(r.status, 0) << c.opts << "\n" << r.out;
        EXPECT_EQ(r.out, c.want) << c.opts;
    }
    // Raw binary coefficients: "{" and the residue words of the two primes.
    for (const char* opts : {"-primes 2 -binary ", "-primes 2 -pretty -binary "}) {
        const Result b = server(d, opts + s);
        EXPECT_EQ(b.status, 0);
        EXPECT_EQ(b.out.substr(0, 6), "[y^2+{") << opts;
        EXPECT_EQ(b.out.size(), std::string("[y^2+{........,x+{........*y]\n").size()) << opts;
    }

    // Normal forms of a second list: x^2 = (2/3)^2*3 = 4/3 = 43682, x*y = 2; a constant stays.
    write_file(d / "q.txt", "# to reduce\n[x^2, x*y, 5, 0]\n");
    const Result nf = server(d, "-normal-form " + (d / "q.txt") + " " + s);
    EXPECT_EQ(nf.out, "[y^2+65518,x+43680*y]\n[43682,2,5,0]\n");
}

// -lex: the lexicographic basis of a zero-dimensional system over a vector
// of primes (x - y^2, y^4 - y; -1 shows as p - 1 for each default prime);
// refused for the prime-field build and for a positive-dimensional system.
TEST(TeskServerFile, LexicographicBasis) {
    TempDir d;
    write_file(d / "s.txt", "# vars: x,y\n[x^2-y, y^2-x]\n");
    // Only the basis: the matrices' memory notices are not among the results, nor anywhere.
    Result r = server(d, "-primes 2 -lex " + (d / "s.txt"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "[x+<4294967278 4294967290>*y^2,y^4+<4294967278 4294967290>*y]\n");
    r = server(d, "-lex " + (d / "s.txt"));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out.rfind("#error (fatal): Option -lex needs a vector of primes (-primes K)", 0), 0u) << r.out;
    r = server(d, "-primes 2 -lex -cyclic 4");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("the system is not zero-dimensional: no lexicographic basis"), std::string::npos) << r.out;
}

// The same basis from cyclic-5 and katsura-6 modulo 65521 as the F4 engine's,
// read back from the save file through a reading channel.
// The change of ordering's tables are counted as allocated (handles, residue
// vectors, what each step leaves on the coefficient heap, the kept normal
// forms): 8000 solutions are refused at once, where 4 bytes an entry let
// them through to gigabytes.  A small quotient still passes.
TEST(TeskServerFile, ChangeOfOrderingRefusedBeforeItsTables) {
    TempDir d;
    write_file(d / "big.txt", "# vars: x,y\n[x^80-1, y^100-1]\n");
    for (const char* k : {"1", "2"}) {
        const Result r = server(d, std::string("-primes ") + k + " -lex " + (d / "big.txt"), "", 10);
        EXPECT_EQ(r.status, 3) << k << ": " << r.out;
        EXPECT_NE(r.out.find("Change of ordering: the staircase has 8000 standard monomials, and its tables of"),
                  std::string::npos)
            << r.out;
    }
    write_file(d / "small.txt", "# vars: x,y\n[x^3-1, y^2-x]\n");
    const Result r = server(d, "-primes 2 -lex " + (d / "small.txt"));
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST(TeskServerFile, SaveFileReadsBack) {
    using I = DRLDRL__GFC;
    TempDir d;
    for (auto [name, n] : {std::pair<const char*, unsigned>{"cyclic-5", 5}, {"katsura-6", 7}}) {
        const std::string save = d / "save.bin";
        unlink(save.c_str());
        const std::string sys = std::string(QUOR_TEST_DATA_DIR) + "/" + name + ".txt";
        const Result r = server(d, "-nooutput -save " + save + " " + sys);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "");
        sugar_set_up<I>(n);
        RBUS in(save.c_str());
        ASSERT_EQ(in.get32(), std::uint32_t(MSG_TESK_Begin));
        List<I>* G = Wire<I>::read_list(in);
        in.kill();
        EXPECT_EQ(canonical<I>(G, false),
                  canonical<I>(load_basis<I>(name, std::string(name) + ".gf65521.gb.txt"), false))
            << name;
    }
}

// The example generators instead of a file: the same bases as the stored
// systems'; the solution count, the weights and the prepared-basis text.
TEST(TeskServerFile, ExampleSystemsAndReports) {
    using I = DRLDRL__GFC;
    TempDir d;
    const std::string save = d / "save.bin";
    struct Case {
        const char* opts;
        const char* system;
        unsigned n;
    } cases[] = {{"-cyclic 5", "cyclic-5", 5}, {"-katsura 7", "katsura-6", 7}};
    for (const Case& c : cases) {
        unlink(save.c_str());
        const Result r = server(d, "-nooutput -save " + save + " " + c.opts);
        ASSERT_EQ(r.status, 0) << r.out;
        sugar_set_up<I>(c.n);
        RBUS in(save.c_str());
        ASSERT_EQ(in.get32(), std::uint32_t(MSG_TESK_Begin));
        EXPECT_EQ(canonical<I>(Wire<I>::read_list(in), false),
                  canonical<I>(load_basis<I>(c.system, std::string(c.system) + ".gf65521.gb.txt"), false))
            << c.opts;
        in.kill();
    }
    // Hilbert series of the bases of stored systems (the expected ones from an independent system).
    const std::string data = QUOR_TEST_DATA_DIR;
    EXPECT_EQ(server(d, "-nooutput -hilbert " + data + "/katsura-6.txt").out,
              "h(t) = t^6+6*t^5+15*t^4+20*t^3+15*t^2+6*t+1\ndim = 0\n");
    EXPECT_EQ(server(d, "-nooutput -hilbert -primes 2 " + data + "/cyclic-6.txt").out,
              "h(t) = t^9+12*t^8+21*t^7+25*t^6+26*t^5+26*t^4+25*t^3+14*t^2+5*t+1\ndim = 0\n");
    EXPECT_EQ(server(d, "-nooutput -hilbert " + data + "/elim-ratcurve-b2.txt").out, "h(t) = -t^3+2*t^2+2*t+1\ndim = 1\n");
    write_file(d / "one.txt", "# vars: x\n[x, 3]\n");
    EXPECT_EQ(server(d, "-hilbert " + (d / "one.txt")).out, "[1]\nh(t) = 0\ndim = -1\n");
    EXPECT_EQ(server(d, "-nooutput -nbsol -cyclic 3").out, "#solutions 6\n");
    EXPECT_EQ(server(d, "-nooutput -nbsol -cyclic 4").out, "#solutions -1\n");
    EXPECT_EQ(server(d, "-nooutput -analyse -cyclic 4").out, "#weights <1 1 1 1 >\n");
    const Result p = server(d, "-nooutput -prepare -cyclic 3");
    EXPECT_EQ(p.out.substr(0, 49), "% nombre de variables:\n3\n% dimension:\n6\n% base du") << p.out;
    // Refused (an infinite staircase): its error, and the run fails.
    const Result infinite = server(d, "-nooutput -prepare -cyclic 4");
    EXPECT_EQ(infinite.status, 3) << infinite.out;
    EXPECT_EQ(infinite.out.rfind("Error: Preparation", 0), 0u) << infinite.out;
}

// Large staircases: counted from the leading monomials at once, in little
// memory (a child under an address-space limit), exactly; the prepared-basis
// listing refused with a fatal text, never a signal.
TEST(TeskServerFile, LargeStaircasesCountedNotListed) {
    TempDir d;
    const auto vars = [](unsigned n) {
        std::string s = "# vars: ";
        for (unsigned i = 0; i < n; ++i) s += (i ? ",v" : "v") + std::to_string(i);
        return s + "\n";
    };
    std::string squares = vars(26) + "[", chain = vars(60) + "[";
    for (unsigned i = 0; i < 26; ++i) squares += (i ? ", v" : "v") + std::to_string(i) + "^2-1";
    for (unsigned i = 0; i < 59; ++i) chain += "v" + std::to_string(i) + "^2-v" + std::to_string(i + 1) + ", ";
    write_file(d / "powers.txt", "# vars: a,b,c,d,e,f\n[a^100,b^100,c^100,d^100,e^100,f^100]\n");
    write_file(d / "squares.txt", squares + "]\n");
    write_file(d / "chain.txt", chain + "v59-59]\n");
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit;  // the sanitizer's shadow memory needs more address space than the limit
#else
    const std::string limit = "ulimit -v 300000;";
#endif
    struct Case {
        const char* file;
        const char* count;
    } cases[] = {{"powers.txt", "1000000000000"}, {"squares.txt", "67108864"}, {"chain.txt", "576460752303423488"}};
    for (const Case& c : cases) {
        const Result r = server(d, "-nooutput -nbsol -degree " + (d / c.file), limit);
        EXPECT_EQ(r.status, 0) << c.file << "\n" << r.out;
        EXPECT_EQ(r.out, "#solutions " + std::string(c.count) + "\ndegree = " + c.count + "\n") << c.file;
        const Result p = server(d, "-nooutput -prepare " + (d / c.file), limit);
        EXPECT_EQ(p.status, 3) << c.file << "\n" << p.out;
        EXPECT_NE(p.out.find("#error (fatal): Preparation: the staircase has " + std::string(c.count) +
                             " standard monomials; at most "),
                  std::string::npos)
            << c.file << "\n" << p.out;
    }
    // The decomposition and the change of ordering hold dense tables of the
    // staircase's size squared: refused before they are made.
    for (const char* o : {"-lextri ", "-primes 2 -lex "}) {
        const Result r = server(d, o + (d / "squares.txt"), limit);
        EXPECT_EQ(r.status, 3) << o << r.out;
        EXPECT_NE(r.out.find("the staircase has 67108864 standard monomials, and its tables of "), std::string::npos)
            << o << r.out;
    }
    // Past 64 bits the count is still exact.
    std::string wide = vars(70) + "[";
    for (unsigned i = 0; i < 70; ++i) wide += (i ? ", v" : "v") + std::to_string(i) + "^2-1";
    write_file(d / "wide.txt", wide + "]\n");
    EXPECT_EQ(server(d, "-nooutput -nbsol " + (d / "wide.txt"), limit).out, "#solutions 1180591620717411303424\n");
}

// A staircase whose size follows the Fibonacci numbers: x_i^2+x_i,
// x_i*x_(i+1) in 60 variables, its own reduced basis, has Fib(62) standard
// monomials; the basis and its count come at once, in every build, as do
// those of 25 independent pairs x^127, y^127, xy (253^25).
TEST(TeskServerFile, StaircaseCountsOfChainsAndGroups) {
    TempDir d;
    std::string chain = "# vars: ", pairs = "# vars: ";
    for (unsigned i = 1; i <= 60; ++i) chain += (i > 1 ? ",x" : "x") + std::to_string(i);
    chain += "\n[";
    for (unsigned i = 1; i <= 60; ++i) {
        const std::string x = "x" + std::to_string(i);
        chain += (i > 1 ? ", " : "") + x + "^2+" + x + (i < 60 ? ", " + x + "*x" + std::to_string(i + 1) : "");
    }
    for (unsigned i = 1; i <= 50; ++i) pairs += (i > 1 ? ",x" : "x") + std::to_string(i);
    pairs += "\n[";
    for (unsigned i = 1; i <= 50; ++i)
        pairs += (i > 1 ? ", x" : "x") + std::to_string(i) + "^127" +
                 (i % 2 ? ", x" + std::to_string(i) + "*x" + std::to_string(i + 1) : "");
    write_file(d / "chain.txt", chain + "]\n");
    write_file(d / "pairs.txt", pairs + "]\n");
    for (const char* o : {"-nooutput -nbsol ", "-nooutput -nbsol -primes 1 "}) {
        const Result r = server(d, o + (d / "chain.txt"), "", 20);
        EXPECT_EQ(r.status, 0) << o << r.out;
        EXPECT_EQ(r.out, "#solutions 4052739537881\n") << o;
    }
    EXPECT_EQ(server(d, "-nooutput " + (d / "chain.txt"), "", 20).status, 0);
    const Result p = server(d, "-nooutput -nbsol " + (d / "pairs.txt"), "", 20);
    EXPECT_EQ(p.out, "#solutions 1196776435607632482790118858840382391829660917532091147865693\n") << p.status;
    // x_i^2, x_i*x_(i+1) in 500 variables: Fib(502) standard monomials, and
    // 1,499 generators whose pairs all go by the criteria.
    std::string big = "# vars: ";
    for (unsigned i = 1; i <= 500; ++i) big += (i > 1 ? ",x" : "x") + std::to_string(i);
    big += "\n[";
    for (unsigned i = 1; i <= 500; ++i)
        big += (i > 1 ? ", x" : "x") + std::to_string(i) + "^2" +
               (i < 500 ? ", x" + std::to_string(i) + "*x" + std::to_string(i + 1) : "");
    write_file(d / "big.txt", big + "]\n");
    const Result b = server(d, "-nooutput -nbsol " + (d / "big.txt"), "", 60);
    EXPECT_EQ(b.out,
              "#solutions 365014740723634211012237077906479355996081581501455497852747829366800"
              "199361550174096573645929019489792751\n")
        << b.status;
}

TEST(TeskServerFile, FatalTextsAndStatus) {
    TempDir d;
    auto names = [](const char* stem, int count) {
        std::string s;
        for (int i = 0; i < count; ++i) s += (i ? "," : "") + std::string(stem) + std::to_string(i);
        return s;
    };
    write_file(d / "many.txt", "# vars: " + names("v", 501) + "\n[v0]\n");
    write_file(d / "second.txt", "# vars: a," + names("w", 501) + "\n# blocks: 1\n[a]\n");
    write_file(d / "extra.txt", "# vars: x\n# extra: " + names("t", 500) + "\n[x]\n");
    write_file(d / "unknown.txt", "# vars: x,y\n\n[x+y,\n x*z]\n");
    write_file(d / "novars.txt", "[x]\n");
    write_file(d / "big.txt", "# vars: x\n[x^200]\n");
    // Answers past the exponents' 7 bits: the basis y^200 - 1, x - y;
    // x^100*y - 1, y^100*x - 1: y^199 (no degree past 255); z^255 first in a
    // basis up to x^211*y^43 - z^252; y^39999 past the 15 bits of the integer
    // build's (Singular's bases).
    write_file(d / "past.txt", "# vars: x,y\n[x^127*y^73-1, x-y]\n");
    write_file(d / "past2.txt", "# vars: x,y\n# blocks: 1\n[x^127*y^73-1, x-y]\n");
    write_file(d / "swap.txt", "# vars: x,y\n[x^100*y-1, y^100*x-1]\n");
    write_file(d / "degree.txt", "# vars: x,y,z\n[x^127*y^127-1, y*z^3-x]\n");
    write_file(d / "swap2.txt", "# vars: x,y\n[x^20000*y-1, y^20000*x-1]\n");
    const std::string limits = " (at most 127 for an exponent, 255 for a block's degree)\n";
    // The files of -intersect, -quotient and -normal-form: the option is named.
    write_file(d / "s.txt", kSmall);
    write_file(d / "blocks.txt", "# vars: x,y\n# blocks: 1\n[x-1]\n");
    mkdir((d / "dir").c_str(), 0700);
    const std::string s = d / "s.txt";
    struct Case {
        std::string args, text;
    } cases[] = {
        {d / "many.txt", "Too much variables in the 0 block!\n"},
        {d / "second.txt", "Too much variables in the 1 block!\n"},
        {d / "extra.txt", "Too much extra variables\n"},
        {d / "unknown.txt", d / "unknown.txt" + ":4: unknown variable 'z'\n"},
        {d / "novars.txt", d / "novars.txt" + ":1: no '# vars:' line before the list\n"},
        {d / "big.txt", d / "big.txt" + ":2: exponent 200 above 127\n"},
        {d / "past.txt", "Exponent overflow: y^200" + limits},
        {"-prime 7 " + (d / "past2.txt"), "Exponent overflow: y^200" + limits},
        {d / "swap.txt", "Exponent overflow: y^199" + limits},
        {d / "degree.txt", "Exponent overflow: z^255" + limits},
        {"-primes 2 " + (d / "swap2.txt"),
         "Exponent overflow: y^39999 (at most 32767 for an exponent, 65535 for a block's degree)\n"},
        {"-intersect " + (d / "absent.txt") + " " + s,
         "Fichier " + (d / "absent.txt") + " non ouvrable ! (option -intersect)\n"},
        {"-normal-form " + (d / "absent.txt") + " " + s,
         "Fichier " + (d / "absent.txt") + " non ouvrable ! (option -normal-form)\n"},
        {"-quotient " + (d / "dir") + " " + s, d / "dir" + " is a directory, not a file (option -quotient)\n"},
        {d / "dir", d / "dir" + " is a directory, not a file\n"},
        {"-intersect " + (d / "blocks.txt") + " " + s,
         d / "blocks.txt" + ":2: option -intersect: no '# blocks:' line in the second file"},
        {"-bogus x.txt", "Unknown option -bogus\n"},
        {"-prime 65536 x.txt", "Option -prime needs an odd prime below 65535, not '65536'\n"},
        {d / "absent.txt", "Fichier " + (d / "absent.txt") + " non ouvrable !\n"},
        {"", "No input file\n"},
    };
    for (const Case& c : cases) {
        const Result r = server(d, c.args);
        EXPECT_EQ(r.status, 3) << c.args;
        EXPECT_NE(r.out.find("#error (fatal): " + c.text), std::string::npos) << c.args << "\n" << r.out;
        const std::string why = "fopen(" + (d / "absent.txt") + ",r) : No such file or directory\n";
        if (c.text.find("non ouvrable") != std::string::npos) {
            EXPECT_NE(r.out.find(why), std::string::npos) << r.out;
        }
    }
    // A file cut at any byte before its closing bracket is refused, never a crash nor a hang.
    const std::string whole = kSmall;
    for (size_t cut = 0; cut < whole.rfind(']'); ++cut) {
        write_file(d / "cut.txt", whole.substr(0, cut));
        const Result r = server(d, d / "cut.txt");
        EXPECT_EQ(r.status, 3) << cut;
        EXPECT_NE(r.out.find("#error (fatal): " + (d / "cut.txt") + ":"), std::string::npos) << cut << r.out;
    }
}

// The options of the experiments on the input and of the output forms.
TEST(TeskServerFile, InputExperimentsAndNtlOutput) {
    TempDir d;
    write_file(d / "s.txt", kSmall);
    const std::string s = d / "s.txt";
    // Each dense univariate-looking row: y^2 - 3 is [-3 0 1], x - (2/3)y is [0 -2/3] by degree.
    EXPECT_EQ(server(d, "-ntl " + s).out, "[ 65518 0 1]\n[ 0 43680]\n");
    // Orbits under x <-> y: x*y - 2 stays, y^2 - 3 becomes x^2 + y^2 - 3; canonical: one term per orbit.
    EXPECT_EQ(server(d, "-nooutput -orbit " + s).out, "[x*y+65519,x^2+y^2+65518]\n");
    EXPECT_EQ(server(d, "-nooutput -canonic " + s).out, "[x*y+65519,x^2+65518]\n");
    EXPECT_EQ(server(d, "-nooutput -sparse-dim " + s).out, "#sparse-dim 3\n");
    // TESKPRIME is the default modulus, -prime overrides it.
    EXPECT_EQ(server(d, s, "TESKPRIME=7").out, "[y^2+4,x+4*y]\n");
    EXPECT_EQ(server(d, "-prime 65521 " + s, "TESKPRIME=7").out, "[y^2+65518,x+43680*y]\n");

    // -homog: homogenised with the extra last variable, computed, dehomogenised: the affine basis.
    write_file(d / "h.txt", "# vars: x,y\n# extra: h\n[x^2+y+1, y^2-x, x*y-2]\n");
    write_file(d / "a.txt", "# vars: x,y,h\n[x^2+y+1, y^2-x, x*y-2]\n");
    const Result homog = server(d, "-homog " + (d / "h.txt"));
    EXPECT_EQ(homog.status, 0) << homog.out;
    EXPECT_EQ(homog.out, server(d, d / "a.txt").out);
    const Result uses = server(d, "-homog " + s);
    EXPECT_EQ(uses.status, 3);
    EXPECT_NE(uses.out.find("-homog homogenises with the last variable y, which the system uses"), std::string::npos);

    // -random N D: the system first (N polynomials in N variables), then its basis; the same each run.
    const Result r = server(d, "-random 3 2");
    EXPECT_EQ(r.status, 0) << r.out;
    const size_t nl = r.out.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.begin() + long(nl), ','), 2) << r.out;
    EXPECT_NE(r.out.find("a^2"), std::string::npos);
    EXPECT_EQ(server(d, "-random 3 2").out, r.out);
    // With a file: its header's variables.
    const Result rf = server(d, "-random 2 3 " + s);
    EXPECT_EQ(rf.status, 0) << rf.out;
    EXPECT_NE(rf.out.find("x^3"), std::string::npos) << rf.out;
    EXPECT_EQ(server(d, "-random 40 40").status, 3);
}

// The usage, the texts of bad values, and the save file (regressions).
TEST(TeskServerFile, UsageMessagesAndSaveFile) {
    TempDir d;
    Result h = server(d, "-h");
    EXPECT_EQ(h.status, 0);
    for (const char* opt : {"-fortran", "-pretty", "-tex", "-lisp", "-posso", "-ntl", "-raw", "-binary", "-nooutput",
                            "-head", "-last", "-host-input", "-ohost", "-out-rational", "-prime P", "-primes K",
                            "-offset N", "-cyclic N", "-katsura N", "-binaire N", "-random N D", "-homog", "-qhomog",
                            "-analyse", "-orbit", "-canonic", "-sparse-dim", "-normal-form FILE", "-nbsol", "-prepare",
                            "-hilbert", "-lex", "-elim K", "-intersect FILE2", "-quotient FILE2", "-lextri",
                            "-degree", "-save FILE", "-teskhome DIR"})
        EXPECT_NE(h.out.find(std::string("\n  ") + opt + " "), std::string::npos) << opt;
    // Every option the parser takes is in the usage, one option a line, and
    // in the README's server section.
    const std::string parser = read_file(std::string(QUOR_SOURCE_DIR) + "/tesk/server/options.cpp");
    const std::string readme = read_file(std::string(QUOR_SOURCE_DIR) + "/README.md");
    const size_t from = readme.find("## The Tesk server");
    ASSERT_NE(from, std::string::npos);
    const std::string section = readme.substr(from, readme.find("\n## ", from + 1) - from);
    const std::string options = h.out.substr(h.out.find("Options:\n") + 9);
    std::vector<std::string> taken;
    for (size_t at = parser.find("a == \"-"); at != std::string::npos; at = parser.find("a == \"-", at + 1))
        taken.push_back(parser.substr(at + 6, parser.find('"', at + 6) - at - 6));
    EXPECT_GE(taken.size(), 45u);
    for (const std::string& opt : taken) {
        EXPECT_TRUE(options.find("\n  " + opt + " ") != std::string::npos || options.rfind("  " + opt + " ", 0) == 0 ||
                    options.find(opt + ",") != std::string::npos || options.find(opt + ")") != std::string::npos)
            << opt;
        EXPECT_NE(section.find("`" + opt), std::string::npos) << opt;
    }
    for (size_t at = 0; at < options.size(); at = options.find('\n', at) + 1)
        EXPECT_EQ(options.substr(at, 3), "  -") << options.substr(at, options.find('\n', at) - at);
    for (const char* says : {"modulo 65521 by default", "README.md", "<r1 ... rK>", "At most 500 variables in a block",
                             "reduced Groebner basis"})
        EXPECT_NE(h.out.find(says), std::string::npos) << says;
    // The options that take the plain syntax back are named before the list, here and in the README.
    const std::string preamble = h.out.substr(0, h.out.find("Options:\n"));
    const std::string told = section.substr(0, section.find("one each"));
    for (const std::string opt : {"-fortran", "-raw", "-binary", "-host-input", "-ohost", "-out-rational", "-out-float",
                                  "-out-approx", "-out-approx-modp"}) {
        EXPECT_TRUE(preamble.find(opt + ",") != std::string::npos || preamble.find(opt + ")") != std::string::npos)
            << opt;
        EXPECT_NE(told.find("`" + opt + "`"), std::string::npos) << opt;
    }
    EXPECT_NE(server(d, "").out.find("Options:\n  -h "), std::string::npos);

    struct Case {
        std::string args, env, text;
    } cases[] = {
        {"-katsura 1", "", "Option -katsura needs a number from 2 to 100, not '1'\n"},
        {"-cyclic x", "", "Option -cyclic needs a number from 2 to 100, not 'x'\n"},
        {"-binaire 101", "", "Option -binaire needs a number from 2 to 100, not '101'\n"},
        {"-prime 65535 x.txt", "", "Option -prime needs an odd prime below 65535, not '65535'\n"},
        {"-prime 2 x.txt", "", "Option -prime needs an odd prime below 65535, not '2'\n"},
        {"x.txt", "TESKPRIME=2", "TESKPRIME needs an odd prime below 65535, not '2'\n"},
        {"-prime 65533 x.txt", "", "Option -prime needs a prime, and 65533 is not one\n"},
        {"x.txt", "TESKPRIME=65533", "TESKPRIME needs a prime, and 65533 is not one\n"},
        {"-slave no-such-host.invalid 4000", "", "Unknown host no-such-host.invalid"},
    };
    for (const Case& c : cases) {
        const Result r = server(d, c.args, c.env);
        EXPECT_EQ(r.status, 3) << c.args;
        EXPECT_NE(r.out.find("#error (fatal): " + c.text), std::string::npos) << c.args << "\n" << r.out;
    }
    // The basis of an example is printed in a, b, c, and a second list may use those names.
    write_file(d / "q.txt", "[a^2, b*c, d]\n");
    const Result nf = server(d, "-katsura 4 -normal-form " + (d / "q.txt"));
    EXPECT_EQ(nf.status, 0) << nf.out;
    const size_t second = nf.out.find("\n[");
    ASSERT_NE(second, std::string::npos) << nf.out;
    EXPECT_EQ(std::count(nf.out.begin() + long(second), nf.out.end(), ','), 2) << nf.out;

    // -save F F: the input is read before F is written; mode 0644.
    const std::string f = d / "f.txt";
    write_file(f, kSmall);
    Result r = server(d, "-save " + f + " " + f);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "[y^2+65518,x+43680*y]\n");
    struct stat st {};
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    const std::string saved = read_file(f);
    EXPECT_GT(saved.size(), 40u);
    EXPECT_EQ(saved.substr(0, 4), std::string("\0\0\0\6", 4));
    // A failing run leaves it as it was, and leaves nothing beside it.
    for (const std::string& args : {d / "absent.txt", std::string("-katsura 1"), (d / "bad.txt")}) {
        write_file(d / "bad.txt", "# vars: x\n[x+]\n");
        r = server(d, "-save " + f + " " + args);
        EXPECT_EQ(r.status, 3) << args;
        EXPECT_EQ(read_file(f), saved) << args;
    }
    DIR* dir = opendir(d.path.c_str());
    ASSERT_NE(dir, nullptr);
    for (dirent* e; (e = readdir(dir));) EXPECT_NE(std::string(e->d_name).rfind("f.txt.", 0), 0u) << e->d_name;
    closedir(dir);
}

// ---------------------------------------------------------------------------
// Peer mode

// The basis of `system` from the peer: its domain, the list, then [15].
template <class I>
void peer_basis(BUS& b, const std::string& system, unsigned n, const std::string& reference, bool monic_ref) {
    send_domain<I>(b, n);
    List<I>* F = load_system<I>(system);
    Wire<I>::out_protocol_list(b, F, 0);
    b << MSG_TESK_GROEBNER;
    b.flush();
    expect_code(b, MSG_TESK_OK);
    expect_code(b, MSG_TESK_Begin);
    List<I>* G = Wire<I>::read_list(b);
    EXPECT_EQ(canonical<I>(G, false), canonical<I>(load_basis<I>(system, reference), monic_ref)) << system;
    Dmp<I>::Lists::kill_all(F);
}

// The peer's normal form of x1^3 + 5*x2*x7 (7 variables) by its last basis
// equals the library's normal-form call by `basis` (released): the pair (1, NF).
template <class I>
void peer_normal_form(BUS& b, List<I>* basis, int (*library)(List<I>*, List<I>*, List<I>*, int, List<I>**)) {
    Term<I>* c = Model<I>::poly({{{3, 0, 0, 0, 0, 0, 0}, 1}, {{0, 1, 0, 0, 0, 0, 1}, 5}});
    b << MSG_TESK_NORMAL_FORM;
    Wire<I>::out_protocol(b, c, 0);
    b.flush();
    expect_code(b, MSG_TESK_NEED_SORT);
    Term<I>* nf = Wire<I>::read(b, MSG_TESK_NEED_SORT);
    List<I>* one = Model<I>::list({c});
    List<I>* pair = nullptr;
    ASSERT_EQ(library(one, basis, nullptr, 0, &pair), 0);
    ASSERT_TRUE(pair && pair->next && pair->next->elt);
    EXPECT_EQ(Model<I>::take(nf), Model<I>::read(pair->next->elt));
    Dmp<I>::Lists::kill_all(pair);
    Dmp<I>::Lists::kill_all(one);
    Dmp<I>::Lists::kill_all(basis);
}

TEST(TeskServerPeer, SpawnedSessionOverLoopback) {
    using G = DRLDRL__GFC;
    using V = BigDexp__VGF;
    if (!internal_TESKHOME) set_path_TESKHOME("/");
    want_quiet = 1;
    BUS b(TESK_SERVER_PATH, nullptr, nullptr, Serveurs_Type(7), 0, nullptr);
    ASSERT_TRUE(b.valid);
    ASSERT_GT(b.pid, 0);

    peer_basis<G>(b, "cyclic-5", 5, "cyclic-5.gf65521.gb.txt", false);
    // An unknown command is answered and the session goes on.
    b << Messages(200);
    b.flush();
    expect_code(b, MSG_TESK_ERROR);
    char* text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "Unknown command 200 (??? in)");
    delete[] text;
    peer_basis<G>(b, "katsura-6", 7, "katsura-6.gf65521.gb.txt", false);

    // Normal forms by the last basis: an input reduces to zero, x1^3 + 5*x2*x7 as the library reduces it.
    List<G>* F = load_system<G>("katsura-6");
    b << MSG_TESK_NORMAL_FORM;
    Wire<G>::out_protocol(b, F->next->elt, 0);
    b.flush();
    expect_code(b, MSG_TESK_NEED_SORT);
    EXPECT_EQ(Wire<G>::read(b, MSG_TESK_NEED_SORT), nullptr);
    Dmp<G>::Lists::kill_all(F);
    peer_normal_form<G>(b, load_basis<G>("katsura-6", "katsura-6.gf65521.gb.txt"), Tesk_normalForm_GFC);

    // The Hilbert series of the last basis: h(t) = (1 + t)^6, dimension 0.
    b << MSG_TESK_RMT_HILBERT;
    b.flush();
    int dim = -2;
    b >> dim;
    EXPECT_EQ(dim, 0);
    expect_code(b, MSG_TESK_Begin);
    std::vector<int> h;
    for (Messages m; b >> m, m != MSG_TESK_End;) h.push_back(int(b.get32()));
    EXPECT_EQ(h, (std::vector<int>{1, 6, 15, 20, 15, 6, 1}));

    // No change of ordering modulo a small prime: answered, the session goes on.
    b << MSG_TESK_CHANGE;
    b.flush();
    expect_code(b, MSG_TESK_ERROR);
    text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "The change of ordering needs a vector of primes (code 172)");
    delete[] text;

    // A system sent for another domain is not computed.
    b << MSG_TESK_set_nb_var << Messages(5) << MSG_TESK_GROEBNER;
    b.flush();
    expect_code(b, MSG_TESK_OK);
    expect_code(b, MSG_TESK_ERROR);
    text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "The domain changed since the system came: send it again");
    delete[] text;

    // Over a vector of primes: the integer build's twin takes over.
    peer_basis<V>(b, "cyclic-5", 5, "cyclic-5.qq.gb.txt", true);
    peer_basis<V>(b, "katsura-6", 7, "katsura-6.qq.gb.txt", true);
    b << MSG_TESK_RMT_SEND_GBASIS;
    b.flush();
    expect_code(b, MSG_TESK_Begin);
    EXPECT_EQ(canonical<V>(Wire<V>::read_list(b), false),
              canonical<V>(load_basis<V>("katsura-6", "katsura-6.qq.gb.txt"), true));
    peer_normal_form<V>(b, load_basis<V>("katsura-6", "katsura-6.qq.gb.txt"), Tesk_normalForm_VGF);

    // The lexicographic basis of the last basis, as the engine computes it here.
    b << MSG_TESK_FGLM;
    b.flush();
    expect_code(b, MSG_TESK_Begin);
    algo::Fglm::init();
    algo::Fglm::set(7, 0, 0);
    List<BigLexp__VGF>* lex = Wire<BigLexp__VGF>::read_list(b);
    List<V>* Gv = Dmp<V>::hMonic_List(load_basis<V>("katsura-6", "katsura-6.qq.gb.txt"));
    algo::Fglm_Status st;
    EXPECT_EQ(canonical<BigLexp__VGF>(lex, false), canonical<BigLexp__VGF>(algo::Fglm::change_ordering(Gv, &st), false));
    EXPECT_EQ(st, algo::Fglm_Status::Done);
    Dmp<V>::Lists::kill_all(Gv);

    // A composite modulus is refused, and the session keeps its primes.
    b << MSG_TESK_set_vect << Messages(1) << Messages(4294967295u);
    b.flush();
    expect_code(b, MSG_TESK_ERROR);
    text = b.parse_Atome(Messages(1));
    EXPECT_STREQ(text, "Bad primes: 4294967295 is not a prime above 2^31");
    delete[] text;
    b << MSG_TESK_set_module << Messages(65535 - 2);  // 65533 = 19 * 3449
    b.flush();
    expect_code(b, MSG_TESK_ERROR);
    delete[] b.parse_Atome(Messages(1));
    // The variables: at most 500 in a block, as in file mode.
    for (auto [n, k, good] : {std::tuple{501u, 0u, false}, {500u, 0u, true}, {1000u, 500u, true}, {1001u, 500u, false}}) {
        if (k)
            b << MSG_TESK_set_nb_block << Messages(n) << Messages(k);
        else
            b << MSG_TESK_set_nb_var << Messages(n);
        b.flush();
        expect_code(b, good ? MSG_TESK_OK : MSG_TESK_ERROR);
        if (!good) delete[] b.parse_Atome(Messages(1));
    }

    // The end code stops the server.
    quit_peer(b);
}

// The codes the interpreter's header lists as commands without items are
// known to it, and the codes it does not list are not: every listed one
// gets an answer other than "Unknown command".
TEST(TeskServerPeer, TheHeaderListsTheCodesTheInterpreterTakes) {
    const std::string src = read_file(std::string(QUOR_SOURCE_DIR) + "/tesk/server/interp.cpp");
    const std::string head = src.substr(0, src.find("#include"));
    std::vector<unsigned> listed;
    for (size_t at = head.find("\n//   ["); at != std::string::npos; at = head.find("\n//   [", at + 1)) {
        std::string line = head.substr(at + 6, head.find('\n', at + 1) - at - 6);
        line = line.substr(0, line.find("  "));  // the command, before its description
        if (line.find("][") != std::string::npos || line.find("] p") != std::string::npos) continue;  // with items
        for (size_t b = line.find('['); b != std::string::npos; b = line.find('[', b + 1))
            listed.push_back(unsigned(std::stoul(line.substr(b + 1))));
    }
    EXPECT_GE(listed.size(), 8u);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 103u), 0);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), 124u), 0);
    if (!internal_TESKHOME) set_path_TESKHOME("/");
    want_quiet = 1;
    BUS b(TESK_SERVER_PATH, nullptr, nullptr, Serveurs_Type(7), 0, nullptr);
    ASSERT_TRUE(b.valid);
    auto answer = [&](unsigned code) {
        b << Messages(code);
        b.flush();
        Messages m;
        b >> m;
        std::string text;
        if (m == MSG_TESK_ERROR) {
            char* t = b.parse_Atome(Messages(1));
            text = t;
            delete[] t;
        } else {
            text = "answered";
        }
        return text;
    };
    for (unsigned code : listed) {
        if (code == MSG_TESK_QUIT || code == MSG_TESK_RMT_QUIT) continue;
        EXPECT_EQ(answer(code).find("Unknown command"), std::string::npos) << code;
    }
    for (unsigned code : {103u, 124u}) EXPECT_EQ(answer(code).rfind("Unknown command", 0), 0u) << code;
    quit_peer(b);
}

// A command stream cut at every byte, or with any one byte changed: the
// server ends with status 3 and its fatal text each time, never with a
// signal nor a hang.
TEST(TeskServerPeer, StreamCutOrCorruptedAtEveryByte) {
    using G = DRLDRL__GFC;
    TempDir d;
    sugar_set_up<G>(2);
    {
        WBUS w((d / "fixture").c_str());
        Wire<G>::out_domain_protocol(w);
        List<G>* F = Model<G>::list({Model<G>::poly({{{1, 1}, 1}, {{0, 0}, -2}}), Model<G>::poly({{{0, 2}, 1}, {{0, 0}, -3}})});
        Wire<G>::out_protocol_list(w, F, 0);
        w << MSG_TESK_GROEBNER;
        w.kill();
        Dmp<G>::Lists::kill_all(F);
    }
    const std::string bytes = read_file(d / "fixture");
    ASSERT_GT(bytes.size(), 60u);
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        const Peer_Run r = feed_peer(d, bytes.substr(0, cut));
        EXPECT_EQ(r.status, 3) << "cut " << cut;
        EXPECT_NE(r.log.find("#error (fatal): "), std::string::npos) << cut;
        if (cut == bytes.size()) {
            EXPECT_GT(r.answers.size(), 3 * 4 + 40u) << "the basis came back";
        }
    }
    for (size_t at = 0; at < bytes.size(); ++at) {
        std::string bad = bytes;
        bad[at] = char(~bad[at]);
        const Peer_Run r = feed_peer(d, bad);
        EXPECT_EQ(r.status, 3) << "byte " << at << "\n" << r.log;
        EXPECT_NE(r.log.find("#error (fatal): "), std::string::npos) << at;
    }
}

// The refusal [39][56][n] text that r starts with, "" when r starts otherwise.
std::string refusal(RBUS& r) {
    Messages m;
    r >> m;
    if (m != MSG_TESK_ERROR) return "";
    char* t = r.parse_Atome(Messages(1));
    std::string text = t;
    delete[] t;
    return text;
}

// A basis past the exponents' bits (y^200 - 1, x - y) for a peer, in one
// block or two, modulo small and large primes: the command is refused with
// the engine's text, and the session goes on to its end.
TEST(TeskServerPeer, DegreePastTheExponentRange) {
    using G = DRLDRL__GFC;
    TempDir d;
    for (auto [prime, k] : {std::pair{65521u, 2u}, {11u, 2u}, {7u, 1u}, {32003u, 1u}}) {
        sugar_set_up<G>(2);
        gfc::set_module_GFC(prime);
        set_nb_var_DRLDRL(2, k);
        {
            WBUS w((d / "fixture").c_str());
            Wire<G>::out_domain_protocol(w);
            List<G>* F = Model<G>::list({Model<G>::poly({{{127, 73}, 1}, {{0, 0}, -1}}), Model<G>::poly({{{1, 0}, 1}, {{0, 1}, -1}})});
            Wire<G>::out_protocol_list(w, F, 0);
            w << MSG_TESK_GROEBNER << MSG_TESK_QUIT;
            w.kill();
            Dmp<G>::Lists::kill_all(F);
        }
        const Peer_Run r = feed_peer(d, read_file(d / "fixture"));
        ASSERT_EQ(r.status, 0) << prime << "\n" << r.log;  // else the answers are not all there
        write_file(d / "answers", r.answers);
        RBUS in((d / "answers").c_str());
        for (int i = 0; i < 3; ++i) expect_code(in, MSG_TESK_OK);  // [85] [9], the list
        EXPECT_EQ(refusal(in), "Exponent overflow: b^200 (at most 127 for an exponent, 255 for a block's degree)")
            << prime;
        expect_code(in, MSG_TESK_OK);  // the end
        in.kill();
    }
    gfc::set_module_GFC(65521);
}

// x*y - 2, y^2 - 3; x^e*y - 1, y^e*x - 1, whose basis holds y^(2e-1) (the
// variables a and b of a peer, which names none).
template <class I>
List<I>* small_system() {
    return Model<I>::list({Model<I>::poly({{{1, 1}, 1}, {{0, 0}, -2}}), Model<I>::poly({{{0, 2}, 1}, {{0, 0}, -3}})});
}
template <class I>
List<I>* swapped_powers(unsigned e) {
    return Model<I>::list({Model<I>::poly({{{e, 1}, 1}, {{0, 0}, -1}}), Model<I>::poly({{{1, e}, 1}, {{0, 0}, -1}})});
}

// The list answered next on in, in a canonical order.
template <class I>
std::vector<typename Model<I>::Poly> answered_basis(RBUS& in) {
    expect_code(in, MSG_TESK_Begin);
    return canonical<I>(Wire<I>::read_list(in), false);
}

// The answers to the commands that `commands` writes on a fixture, then the
// end code, in d/answers; whether the peer ended normally (else the answers
// are not all there).
template <class Commands>
bool peer_session(const TempDir& d, Commands commands) {
    {
        WBUS w((d / "fixture").c_str());
        commands(w);
        w << MSG_TESK_QUIT;
        w.kill();
    }
    const Peer_Run r = feed_peer(d, read_file(d / "fixture"));
    write_file(d / "answers", r.answers);
    return r.status == 0;
}

// A computation the engine gives up is answered with its text and the
// session goes on with the system and basis it had: an intersection
// (computed with a tag variable), a basis and a lextriangular decomposition
// modulo a prime, and a basis over a vector of primes.
TEST(TeskServerPeer, ComputationGivenUpIsRefusedAndTheSessionGoesOn) {
    using G = DRLDRL__GFC;
    using V = BigDexp__VGF;
    TempDir d;
    auto session = [&](auto commands) { return peer_session(d, commands); };
    ASSERT_TRUE(session([&](WBUS& w) {
        sugar_set_up<G>(2);
        Wire<G>::out_domain_protocol(w);
        List<G>* S = small_system<G>();
        List<G>* P = swapped_powers<G>(100);
        List_List<G>* L = Dmp<G>::Lists2::cons(Model<G>::list({Model<G>::poly({{{1, 0}, 1}, {{0, 0}, -1}})}), nullptr);
        Wire<G>::out_protocol_list(w, S, 0);
        w << MSG_TESK_GROEBNER << MSG_TESK_ACTION7;
        L = Dmp<G>::Lists2::cons(P, L);
        Wire<G>::out_protocol_list_list(w, L, 0);
        w << MSG_TESK_RMT_SEND_GBASIS;
        Wire<G>::out_protocol_list(w, P, 0);
        w << MSG_TESK_GROEBNER << MSG_TESK_LEXTRIANG;
        Wire<G>::out_protocol_list(w, S, 0);
        w << MSG_TESK_GROEBNER;
        Dmp<G>::Lists2::kill_all(L);
        Dmp<G>::Lists::kill_all(S);
    }));
    {
        sugar_set_up<G>(2);
        const auto B = canonical<G>(algo::Sugar<G>::groebner(small_system<G>()), false);
        RBUS in((d / "answers").c_str());
        for (int i = 0; i < 3; ++i) expect_code(in, MSG_TESK_OK);  // [85] [9], the list
        EXPECT_EQ(answered_basis<G>(in), B);
        EXPECT_NE(refusal(in), "");           // the intersection
        EXPECT_EQ(answered_basis<G>(in), B);  // kept, over the peer's variables again
        expect_code(in, MSG_TESK_OK);
        EXPECT_EQ(refusal(in), "Exponent overflow: b^199 (at most 127 for an exponent, 255 for a block's degree)");
        EXPECT_NE(refusal(in), "");  // the basis the decomposition needs
        expect_code(in, MSG_TESK_OK);
        EXPECT_EQ(answered_basis<G>(in), B);
        expect_code(in, MSG_TESK_OK);  // the end
        in.kill();
    }

    // katsura-7 has 128 solutions, as many values of x1: no triangular set
    // fits the exponents, and the basis stays.
    ASSERT_TRUE(session([&](WBUS& w) {
        sugar_set_up<G>(8);
        Wire<G>::out_domain_protocol(w);
        List<G>* F = load_system<G>("katsura-7");
        Wire<G>::out_protocol_list(w, F, 0);
        w << MSG_TESK_GROEBNER << MSG_TESK_LEXTRI << MSG_TESK_RMT_SEND_GBASIS;
        Dmp<G>::Lists::kill_all(F);
    }));
    {
        sugar_set_up<G>(8);
        RBUS in((d / "answers").c_str());
        for (int i = 0; i < 3; ++i) expect_code(in, MSG_TESK_OK);
        const auto B = answered_basis<G>(in);
        EXPECT_GT(B.size(), 8u);
        EXPECT_NE(refusal(in), "");
        EXPECT_EQ(answered_basis<G>(in), B);
        expect_code(in, MSG_TESK_OK);
        in.kill();
    }

    // Over a vector of primes: b^39999 is past an exponent's 15 bits.
    ASSERT_TRUE(session([&](WBUS& w) {
        sugar_set_up<V>(2);
        Wire<V>::out_domain_protocol(w);
        List<V>* P = swapped_powers<V>(20000);
        List<V>* S = small_system<V>();
        Wire<V>::out_protocol_list(w, P, 0);
        w << MSG_TESK_GROEBNER;
        Wire<V>::out_protocol_list(w, S, 0);
        w << MSG_TESK_GROEBNER;
        Dmp<V>::Lists::kill_all(P);
        Dmp<V>::Lists::kill_all(S);
    }));
    {
        sugar_set_up<V>(2);
        RBUS in((d / "answers").c_str());
        for (int i = 0; i < 4; ++i) expect_code(in, MSG_TESK_OK);  // [13] [172] [173], the list
        EXPECT_EQ(refusal(in),
                  "Exponent overflow: b^39999 (at most 32767 for an exponent, 65535 for a block's degree)");
        expect_code(in, MSG_TESK_OK);
        EXPECT_EQ(answered_basis<V>(in), canonical<V>(algo::Sugar<V>::groebner(small_system<V>()), false));
        expect_code(in, MSG_TESK_OK);
        in.kill();
    }
}

// The vector build orders its variables in one block: a vector of primes
// sent while a first block is set is refused, and so is a list sent in the
// vector build after a first block; the session goes on either way.
TEST(TeskServerPeer, AFirstBlockAndAVectorOfPrimesAreRefusedTogether) {
    using G = DRLDRL__GFC;
    using V = BigDexp__VGF;
    TempDir d;
    auto run = [&](auto commands) { EXPECT_TRUE(peer_session(d, commands)); };
    const std::string one_block = "A vector of primes needs one block of variables, not a first block of 1 of 2";
    // [85 2 1] [9 p], then [172 ...]: refused, and the prime field goes on.
    sugar_set_up<G>(2);
    algo::Sugar<G>::set(2, 1, 0);
    run([&](WBUS& w) {
        Wire<G>::out_domain_protocol(w);
        w << MSG_TESK_set_vect << Messages(2) << Messages(4294967291u) << Messages(4294967279u);
        List<G>* S = small_system<G>();
        Wire<G>::out_protocol_list(w, S, 0);
        w << MSG_TESK_GROEBNER;
        Dmp<G>::Lists::kill_all(S);
    });
    {
        const auto B = canonical<G>(algo::Sugar<G>::groebner(small_system<G>()), false);
        RBUS in((d / "answers").c_str());
        for (int i = 0; i < 2; ++i) expect_code(in, MSG_TESK_OK);  // [85] [9]
        EXPECT_EQ(refusal(in), one_block);
        expect_code(in, MSG_TESK_OK);  // the list
        EXPECT_EQ(answered_basis<G>(in), B);
        expect_code(in, MSG_TESK_OK);  // the end
        in.kill();
    }
    // The vector build's domain, then [85 2 1] and a list: the list is
    // refused, and one block again lets the next list through.
    sugar_set_up<V>(2);
    run([&](WBUS& w) {
        Wire<V>::out_domain_protocol(w);
        w << MSG_TESK_set_nb_block << Messages(2) << Messages(1);
        List<V>* S = small_system<V>();
        Wire<V>::out_protocol_list(w, S, 0);
        w << MSG_TESK_GROEBNER << MSG_TESK_set_nb_var << Messages(2);
        Wire<V>::out_protocol_list(w, S, 0);
        w << MSG_TESK_GROEBNER;
        Dmp<V>::Lists::kill_all(S);
    });
    {
        const auto B = canonical<V>(algo::Sugar<V>::groebner(small_system<V>()), false);
        RBUS in((d / "answers").c_str());
        for (int i = 0; i < 4; ++i) expect_code(in, MSG_TESK_OK);  // [13] [172] [173] [85]
        EXPECT_EQ(refusal(in), "The integer build has one block of variables, not a first block of 1 of 2");
        EXPECT_EQ(refusal(in), "No system: send a list first");
        expect_code(in, MSG_TESK_OK);  // [13]
        expect_code(in, MSG_TESK_OK);  // the list
        EXPECT_EQ(answered_basis<V>(in), B);
        expect_code(in, MSG_TESK_OK);  // the end
        in.kill();
    }
}

// A peer that goes away while the server still has answers to write: the
// failed write ends the server once, with the fatal line and status 3; the
// channel closed on the way out drops what it cannot send.
// A basis for two blocks of variables: the server computes it from the
// homogenised system in a layout of its own and gives the session's back;
// the answer is the plain loop's, and the session goes on over the same
// variables.
TEST(TeskServerPeer, ABasisForTwoBlocksKeepsTheSessionsLayout) {
    using G = DRLDRL__GFC;
    TempDir d;
    sugar_set_up<G>(5);
    algo::Sugar<G>::set(5, 3, 0);
    {
        WBUS w((d / "fixture").c_str());
        Wire<G>::out_domain_protocol(w);
        List<G>* F = Examples<G>::katsura(5, 0);
        Wire<G>::out_protocol_list(w, F, 0);
        w << MSG_TESK_GROEBNER << MSG_TESK_RMT_SEND_GBASIS << MSG_TESK_QUIT;
        Dmp<G>::Lists::kill_all(F);
        w.kill();
    }
    const Peer_Run r = feed_peer(d, read_file(d / "fixture"));
    EXPECT_EQ(r.status, 0);
    write_file(d / "answers", r.answers);
    List<G>* F = Examples<G>::katsura(5, 0);
    const auto B = canonical<G>(algo::Sugar<G>::groebner(F), false);
    Dmp<G>::Lists::kill_all(F);
    RBUS in((d / "answers").c_str());
    for (int i = 0; i < 3; ++i) expect_code(in, MSG_TESK_OK);  // the domain, the list
    EXPECT_EQ(answered_basis<G>(in), B);
    EXPECT_EQ(answered_basis<G>(in), B);  // kept
    expect_code(in, MSG_TESK_OK);         // the end
    in.kill();
}

TEST(TeskServerPeer, PeerGoneWhileAnswering) {
    using G = DRLDRL__GFC;
    TempDir d;
    sugar_set_up<G>(5);
    {
        WBUS w((d / "fixture").c_str());
        Wire<G>::out_domain_protocol(w);
        List<G>* F = load_system<G>("cyclic-5");
        Wire<G>::out_protocol_list(w, F, 0);
        for (int i = 0; i < 40; ++i) w << MSG_TESK_GROEBNER;
        w.kill();
        Dmp<G>::Lists::kill_all(F);
    }
    const std::string bytes = read_file(d / "fixture");
    for (int run = 0; run < 5; ++run) {
        const Peer_Run r = feed_peer(d, bytes, true);
        EXPECT_EQ(r.status, 3) << r.log.substr(0, 2000);
        size_t fatal = 0;
        for (size_t at = 0; (at = r.log.find("#error (fatal): ", at)) != std::string::npos; ++at) ++fatal;
        EXPECT_EQ(fatal, 1u) << r.log.substr(0, 2000);
        EXPECT_NE(r.log.find("#error (fatal): Error I/O (write)\n"), std::string::npos) << r.log.substr(0, 2000);
        EXPECT_LT(r.log.size(), 1000u);
    }
}

}  // namespace
