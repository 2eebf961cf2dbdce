// The Tesk engine's stand-alone server, run as a program: file mode in every
// output syntax, the save file, its fatal texts, and peer mode over loopback
// (a spawning channel, then a stream cut at every byte).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/normal_form.h"
#include "tesk/base/bus.h"
#include "tesk/poly/protocol.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tesk_bases.h"

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

std::string read_file(const std::string& p) {
    std::string s;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
        std::fclose(f);
    }
    return s;
}

void write_file(const std::string& p, const std::string& text) {
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

struct Result {
    int status;  // exit status, -1 when killed by a signal
    std::string out;
};

// The server with these arguments, its standard output and error together.
Result server(const TempDir& d, const std::string& args) {
    const std::string out = d / "out.txt";
    // Bounded: a server that does not end fails the test (status 124) instead of hanging it.
    const std::string cmd = "timeout 60 " + std::string(TESK_SERVER_PATH) + " " + args + " >" + out + " 2>&1 </dev/null";
    const int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(out)};
}

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
    };
    for (const Case& c : cases) {
        const Result r = server(d, std::string(c.opts) + " " + s);
        EXPECT_EQ(r.status, 0) << c.opts << "\n" << r.out;
        EXPECT_EQ(r.out, c.want) << c.opts;
    }
    // Raw binary coefficients: "{" and the residue words of the two primes.
    const Result b = server(d, "-primes 2 -binary " + s);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(b.out.substr(0, 6), "[y^2+{");
    EXPECT_EQ(b.out.size(), std::string("[y^2+{........,x+{........*y]\n").size());

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
    Result r = server(d, "-primes 2 -lex " + (d / "s.txt"));
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string want = "[x+<4294967278 4294967290>*y^2,y^4+<4294967278 4294967290>*y]\n";
    ASSERT_GE(r.out.size(), want.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - want.size()), want);
    r = server(d, "-lex " + (d / "s.txt"));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out.rfind("#error (fatal): Option -lex needs a vector of primes (-primes K)", 0), 0u) << r.out;
    r = server(d, "-primes 2 -lex -cyclic 4");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("the system is not zero-dimensional: no lexicographic basis"), std::string::npos) << r.out;
}

// The same basis from cyclic-5 and katsura-6 modulo 65521 as the F4 engine's,
// read back from the save file through a reading channel.
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
    // The basis y^200 - 1, x - y: past the exponents' 8 bits while computing.
    write_file(d / "past.txt", "# vars: x,y\n[x^127*y^73-1, x-y]\n");
    write_file(d / "past2.txt", "# vars: x,y\n# blocks: 1\n[x^127*y^73-1, x-y]\n");
    struct Case {
        std::string args, text;
    } cases[] = {
        {d / "many.txt", "Too much variables in the 0 block!\n"},
        {d / "second.txt", "Too much variables in the 1 block!\n"},
        {d / "extra.txt", "Too much extra variables\n"},
        {d / "unknown.txt", d / "unknown.txt" + ":4: unknown variable 'z'\n"},
        {d / "novars.txt", d / "novars.txt" + ":1: no '# vars:' line before the list\n"},
        {d / "big.txt", d / "big.txt" + ":2: exponent 200 above 127\n"},
        {d / "past.txt", "Depassement du degre 200 !\n"},
        {"-prime 7 " + (d / "past2.txt"), "Depassement du degre 200 !\n"},
        {"-bogus x.txt", "Unknown option -bogus\n"},
        {"-prime 65536 x.txt", "Option -prime needs a number from 3 to 65534, not '65536'\n"},
        {d / "absent.txt", "Fichier " + (d / "absent.txt") + " non ouvrable !\n"},
        {"", "No input file\n"},
    };
    for (const Case& c : cases) {
        const Result r = server(d, c.args);
        EXPECT_EQ(r.status, 3) << c.args;
        EXPECT_NE(r.out.find("#error (fatal): " + c.text), std::string::npos) << c.args << "\n" << r.out;
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

// ---------------------------------------------------------------------------
// Peer mode

void expect_code(BUS& b, Messages want) {
    Messages m;
    b >> m;
    EXPECT_EQ(m, want);
}

// The basis of `system` from the peer: its domain, the list, then [15].
template <class I>
void peer_basis(BUS& b, const std::string& system, unsigned n, const std::string& reference, bool monic_ref) {
    sugar_set_up<I>(n);
    Wire<I>::out_domain_protocol(b);
    b.flush();
    const int items = I::D::kOnHeap ? 3 : 2;  // [13] [172] [173] or [85] [9]
    for (int i = 0; i < items; ++i) expect_code(b, MSG_TESK_OK);
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

bool gone(int pid) {
    for (int i = 0; i < 300; ++i, usleep(10000)) {
        const std::string st = read_file("/proc/" + std::to_string(pid) + "/stat");
        if (st.empty() || st.find(") Z ") != std::string::npos) return true;
    }
    return false;
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

    // The end code stops the server.
    const int pid = b.pid;
    b << MSG_TESK_QUIT;
    b.flush();
    expect_code(b, MSG_TESK_OK);
    EXPECT_TRUE(gone(pid));
    b.pid = -1;
    b.kill();
}

// What a server in peer mode did with a stream: its exit status (-1 for a
// signal, -2 for a hang, killed), its log and its answers.
struct Peer_Run {
    int status;
    std::string log, answers;
};

// With hang_up the peer closes its end as soon as it has sent the bytes,
// reading none of the answers.
Peer_Run feed_peer(const TempDir& d, const std::string& bytes, bool hang_up = false) {
    const std::string log = d / "log";
    int port = 0;
    const int ls = quor_test::listen_loopback(port);
    if (ls < 0) return {-3, "", ""};
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        const std::string p = std::to_string(port);
        execl(TESK_SERVER_PATH, "tesk-server", "-slave", "127.0.0.1", p.c_str(), (char*)nullptr);
        _exit(127);
    }
    Peer_Run r{0, "", ""};
    pollfd pf{ls, POLLIN, 0};
    if (poll(&pf, 1, 10000) == 1) {
        int c = accept(ls, nullptr, nullptr);
        unsigned char hello[8];
        if (recv(c, hello, 8, MSG_WAITALL) == 8 && hello[3] == 35) {
            (void)!send(c, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (hang_up) {
                close(c);
                c = -1;
            }
            shutdown(c, SHUT_WR);
            char buf[4096];
            for (pollfd q{c, POLLIN, 0}; c >= 0 && poll(&q, 1, 10000) == 1;) {
                const ssize_t k = recv(c, buf, sizeof buf, 0);
                if (k <= 0) break;
                r.answers.append(buf, size_t(k));
            }
        }
        if (c >= 0) close(c);
    }
    close(ls);
    int st = 0;
    pid_t w = 0;
    for (int i = 0; i < 1000 && (w = waitpid(pid, &st, WNOHANG)) == 0; ++i) usleep(10000);
    if (w == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        r.status = -2;
    } else {
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    r.log = read_file(log);
    return r;
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

// Exponents past their 8 bits while a basis is computed for a peer, in one
// block or two, modulo small and large primes: the server ends with the
// fatal text, never runs on.
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
            w << MSG_TESK_GROEBNER;
            w.kill();
            Dmp<G>::Lists::kill_all(F);
        }
        const Peer_Run r = feed_peer(d, read_file(d / "fixture"));
        EXPECT_EQ(r.status, 3) << prime << "\n" << r.log;
        EXPECT_NE(r.log.find("#error (fatal): Depassement du degre 200 !\n"), std::string::npos) << prime << "\n" << r.log;
    }
    gfc::set_module_GFC(65521);
}

// A peer that goes away while the server still has answers to write: the
// failed write ends the server once, with the fatal line and status 3; the
// channel closed on the way out drops what it cannot send.
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
