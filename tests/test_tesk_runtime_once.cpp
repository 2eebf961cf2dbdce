// Runtime, allocation hook, character source and printers of the Tesk engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tesk/base/bigblock.h"
#include "tesk/base/bigdexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/base/string_or_file.h"
#include "tesk/base/switches.h"
#include "tesk/base/front_end.h"

extern char** environ;

namespace {

using namespace tesk;
using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::Not;

std::string read_all(FILE* f) {
    std::string s;
    for (int c; (c = fgetc(f)) != EOF;) s += (char)c;
    return s;
}

// A temporary stream whose text can be read back.
struct Capture {
    FILE* f = tmpfile();
    ~Capture() { fclose(f); }
    std::string text() { return fflush(f), rewind(f), read_all(f); }
};

// What log_output receives while f runs.
template <class F>
std::string logged(F f) {
    Capture c;
    FILE* saved = log_output;
    log_output = c.f;
    f();
    log_output = saved;
    return c.text();
}

// Saves the engine's global streams, printers and switches, restores them after each test.
class TeskRuntime : public ::testing::Test {
protected:
    FILE *log = log_output, *rem = remember_log_output, *err = tesk_stderr, *lisp = lisp_file,
         *axiom = axiom_output, *caspi = caspi_output, *in = file;
    Fortran_Print fo = Fortran;
    Posso_Print po = Posso;
    int quiet = want_quiet, out = want_output, fort = want_fortran, wlog = want_log;
    Boolean human = human_user;
    void TearDown() override {
        log_output = log, remember_log_output = rem, tesk_stderr = err, lisp_file = lisp;
        axiom_output = axiom, caspi_output = caspi, file = in;
        Fortran = fo, Posso = po;
        want_quiet = quiet, want_output = out, want_fortran = fort;
        want_log = wlog, human_user = human;
        init_pretty();
    }
};

// A fresh directory for file tests; the test works inside it.
struct TempDir {
    std::string path;
    char old[4096];
    TempDir() {
        char t[] = "/tmp/teskrt_XXXXXX";
        path = mkdtemp(t);
        if (!getcwd(old, sizeof old)) old[0] = 0;
        if (chdir(path.c_str()) != 0) path.clear();
    }
    ~TempDir() {
        if (chdir(old) != 0) return;
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str()) != 0) return;
    }
};

void write_file(const char* name, const char* text) {
    FILE* f = fopen(name, "w");
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
}

// gzip run without a shell, so the test does not depend on the quoting under test.
void gzip_file(const char* name) {
    pid_t pid;
    char* argv[] = {(char*)"gzip", (char*)"-f", (char*)"--", (char*)name, nullptr};
    ASSERT_EQ(posix_spawnp(&pid, "gzip", nullptr, nullptr, argv, environ), 0);
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

bool aligned16(const void* p) { return ((std::uintptr_t)p & 15u) == 0; }

// ---------------------------------------------------------------------------
// The end of the process

struct Hooked {
    int status;
    std::string message;
};

void throwing_hook(int status, const char* message) {
    Fatal_loop = 0;
    throw Hooked{status, message};
}

TEST_F(TeskRuntime, FatalStatusesAndTheExitHook) {
    // The default hook exits: 3, or 5 at once when a Fatal is already running.
    EXPECT_EXIT({ log_output = stderr; Fatal("boom %d\n", 42); }, ExitedWithCode(3),
                HasSubstr("#error (fatal): boom 42"));
    EXPECT_EXIT({ log_output = stderr; Fatal_loop = 1; Fatal("again\n"); }, ExitedWithCode(5),
                Not(HasSubstr("again")));

    // A host's hook receives status and text, and Fatal never returns past it.
    Exit_Hook old = set_exit_hook(throwing_hook);
    for (int loop : {0, 1}) {
        Hooked got{-1, "?"};
        std::string t = logged([&] {
            try {
                Fatal_loop = loop;
                Fatal("Fichier %s non ouvrable !\n", "x");
            } catch (const Hooked& h) {
                got = h;
            }
        });
        EXPECT_EQ(got.status, loop ? 5 : 3);
        EXPECT_EQ(got.message, loop ? "" : "Fichier x non ouvrable !\n");
        EXPECT_EQ(t, loop ? "" : "#error (fatal): Fichier x non ouvrable !\n");
    }
    EXPECT_EQ(set_exit_hook(old), throwing_hook);
}

// ---------------------------------------------------------------------------
// Closing the streams

TEST_F(TeskRuntime, CloseFileClosesEachStreamOnceAndNeverAStandardOne) {
    // The bridge's state: log, Fortran/PoSSo and Lisp streams all standard output.
    axiom_output = log_output = lisp_file = stdout;
    Fortran.attach(axiom_output);
    Posso.attach(axiom_output);
    close_file();
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
    EXPECT_EQ(log_output, stdout);

    TempDir d;
    FILE* f = fopen("out.txt", "w");
    FILE* g = fopen("caspi.txt", "w");
    ASSERT_TRUE(f && g);
    log_output = axiom_output = lisp_file = f;
    caspi_output = g;
    Fortran.attach(f);
    want_log = 1;
    fputs("kept", f);
    close_file();  // a second fclose of f would be a double free
    EXPECT_EQ(log_output, stdout);
    for (FILE* s : {axiom_output, lisp_file, caspi_output, Fortran.f}) EXPECT_EQ(s, nullptr);
    FILE* r = fopen("out.txt", "r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(read_all(r), "kept");
    fclose(r);
    // Printers and the Lisp stream are now null: they write nothing.
    Fortran << "x" << 1 << 1.0 << SC_ARROW;
    Lisp_Print() << "x" << 1.0;
    lisp_Boolean(1);
    Lib_Print() << 1 << "x";
    want_output = want_fortran = 1;
    AFFICHE() << "nowhere" << 'x';
    close_file();
}

// ---------------------------------------------------------------------------
// Files

TEST_F(TeskRuntime, OuvrirStandardStreamsAndCompressedFilesWithAwkwardNames) {
    TempDir d;
    human_user = 0;
    EXPECT_EQ(ouvrir("-", "r"), stdin);
    EXPECT_EQ(ouvrir("-", "w"), stdout);
    fclose(ouvrir("-", "a"));  // only "r" and "w" mean the standard streams
    EXPECT_EQ(access("-", F_OK), 0);
    fclose(ouvrir("plain.gz", "w"));  // written as it stands, not through gzip
    EXPECT_EQ(access("plain.gz", F_OK), 0);
    const char* names[] = {"a b.txt", "it's \"q\".txt", "x;touch pwned;$(touch pwned2).txt",
                           "-dash.txt", "back\\slash `touch pwned3`.txt"};
    for (const char* n : names) {
        write_file(n, n);
        gzip_file(n);
        std::string gz = std::string(n) + ".gz";
        FILE* f = ouvrir(gz.c_str(), "r");
        ASSERT_NE(f, nullptr) << n;
        EXPECT_EQ(read_all(f), n);
        pclose(f);
    }
    for (const char* p : {"pwned", "pwned2", "pwned3"}) EXPECT_NE(access(p, F_OK), 0) << p;
    // A missing compressed file is a failed open, not an empty stream.
    EXPECT_EXIT({ log_output = stderr; ouvrir("none here.gz", "r"); }, ExitedWithCode(3),
                HasSubstr("Fichier none here.gz non ouvrable !"));
    char b[8];
    EXPECT_FALSE(shell_quote(b, 4, "abc"));  // no room: refused, not cut short
}

TEST_F(TeskRuntime, OuvrirAsksAgainAndStopsAtEndOfInput) {
    TempDir d;
    write_file("good.txt", "ok");
    write_file("answer", "good.txt\n");
    EXPECT_EXIT(
        {
            log_output = stderr;
            human_user = 1;
            if (!freopen("answer", "r", stdin)) _exit(9);
            FILE* f = ouvrir("bad.txt", "r");
            _exit(f && fgetc(f) == 'o' ? 7 : 8);
        },
        ExitedWithCode(7), HasSubstr("Je ne peux pas trouver bad.txt !"));
    // Without an answer the question would repeat for ever.
    EXPECT_EXIT(
        {
            log_output = stderr;
            human_user = 1;
            if (!freopen("/dev/null", "r", stdin)) _exit(9);
            ouvrir("nodir/bad.txt", "w");
        },
        ExitedWithCode(3), HasSubstr("Je ne peux pas ouvrir nodir/bad.txt !\nEntrer un nouveau nom: "));
}

// ---------------------------------------------------------------------------
// Allocation hook

TEST(TeskBigBlock, ArenasAreFirstFitAndAligned) {
    Tesk_Arenas a;
    ASSERT_TRUE(a.open_arena());
    for (unsigned s : {1u, 3u, 7u, 13u, 16u, 17u, 33u, 100u}) {
        char* p = (char*)a.carve(s);
        EXPECT_TRUE(aligned16(p)) << s;
        p[s - 1] = 1;
    }
    a.release();

    Tesk_Arenas b;
    ASSERT_TRUE(b.open_arena());
    char* p1 = (char*)b.carve(60000000);
    char* p2 = (char*)b.carve(60000000);  // 42,100,000 left: a second arena
    EXPECT_EQ(b.cur_big_memory, 2u);
    EXPECT_TRUE(aligned16(p2));
    EXPECT_FALSE(p2 >= p1 && p2 < p1 + 60000000);
    // Leave 16 bytes in arena 0: 16 does not fit there (more than the
    // request must remain) and goes to arena 1; 15 does.
    b.carve(42100000 - 16);
    b.carve(16);
    EXPECT_EQ(b.size_big_memory[0], 16u);
    EXPECT_EQ(b.size_big_memory[1], 42100000u - 16);
    EXPECT_TRUE(aligned16(b.carve(15)));
    EXPECT_EQ(b.size_big_memory[0], 0u);
    b.carve(tesk_arena_size);  // a whole arena is served
    EXPECT_EQ(b.cur_big_memory, 3u);
    b.release();

    EXPECT_EXIT({ Tesk_Arenas c; c.carve(tesk_arena_size + 1); }, ExitedWithCode(3), "");
}

TEST(TeskBigBlock, HookInBothModes) {
    // The mode is chosen at the first call of the process: run each in a fresh process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (bool big : {false, true}) {
        EXPECT_EXIT(
            {
                if (big) setenv("TESKBIGMEM", "", 1); else unsetenv("TESKBIGMEM");
                tesk_stderr = stderr;
                bool ok = true;
                for (unsigned s = 1; s < 40; s += 3) ok = ok && aligned16((*Tesk_int_Tesk_malloc)(s));
                for (unsigned s = 1; s < 40; s += 3) ok = ok && aligned16((*Tesk_Tesk_malloc)(s));
                ok = ok && aligned16(internal_Tesk_malloc(60000000)) && aligned16(internal_Tesk_malloc(60000000));
                _exit(ok ? 0 : 1);
            },
            ExitedWithCode(0), big ? "^Use Big Memory from tesk !\n$" : "^$");
    }
    GTEST_FLAG_SET(death_test_style, "fast");
}

// ---------------------------------------------------------------------------
// Character source

char* owned(const char* s) { return strcpy(new char[strlen(s) + 1], s); }

TEST(TeskStringOrFile, StringFileAndEmptySources) {
    String_or_File s(owned("12ab 7 w\xe9"));
    unsigned x = 0;
    EXPECT_EQ(s.scan(x), 1);
    EXPECT_EQ(x, 12u);
    EXPECT_EQ(s.get_char(), 'a');
    s.unget_char('a');
    EXPECT_EQ(s.get_char(), 'a');
    EXPECT_EQ(s.scan(x), 0);  // 'b' is no number: position unchanged
    EXPECT_EQ(s.get_char(), 'b');
    char buf[32];
    EXPECT_EQ(s.scan("%31s", buf), 1);
    EXPECT_STREQ(buf, "7");
    EXPECT_EQ(s.scan("%31s", buf), 1);
    s.unget_char(0);
    EXPECT_EQ(s.get_char(), (int)(signed char)'\xe9');
    EXPECT_EQ(s.get_char(), -1);
    EXPECT_EQ(s.get_char(), -1);  // the end stays the end
    EXPECT_EQ(s.scan(x), -1);
    s.close();  // releases the string (new[] / delete[])
    s.close();
    String_or_File t(owned("z"));
    t.unget_char('q');  // never steps before the string
    EXPECT_EQ(t.get_char(), 'z');
    t.close();

    FILE* f = tmpfile();
    fputs(" 42 ", f);
    unsigned int w[2] = {0x01020304u, 0xA0B0C0D0u};
    fwrite(w, 4, 2, f);
    rewind(f);
    String_or_File fs(f);
    EXPECT_EQ(fs.scan(x), 1);
    EXPECT_EQ(fs.get_char(), ' ');
    unsigned r[2] = {0, 0};
    EXPECT_EQ(fs.read(r, 2), 2u);  // raw words after the text
    EXPECT_EQ(r[1], 0xA0B0C0D0u);
    EXPECT_EQ(fs.read(r, 2), 0u);
    fs.close();

    String_or_File e;
    x = 5;
    EXPECT_EQ(e.scan(x), -1);
    EXPECT_EQ(x, 5u);
    EXPECT_EQ(e.get_char(), -1);
    EXPECT_EQ(e.read(r, 2), ~0u);
    EXPECT_EXIT({ String_or_File b(owned("<1 2>")); b.read(r, 1); }, ExitedWithCode(3), "");
}

// ---------------------------------------------------------------------------
// Variable names of the server's parser

TEST(TeskServerNames, BlocksAndExtraVariables) {
    EXPECT_EXIT(
        {
            char buf[8] = "x";
            vgf::add_variable(buf, 0);
            strcpy(buf, "z");  // the table keeps its own copy
            vgf::add_variable(buf, 1);
            vgf::add_variable("y", 0);  // a late first-block name keeps the second block intact
            vgf::add_bvariable("u");
            bool ok = global_List_variables == Liste_variables_BigDexp && extra_nb_vars_BigDexp == 1 &&
                      extra_nb_vars_DRLDRL == 0;
            for (int i = 0; i < 4; ++i) ok = ok && global_List_variables[i] == std::string(1, "xyzu"[i]);
            gfc::add_variable("a", 0);
            ok = ok && global_List_variables == Liste_variables_DRLDRL;
            _exit(ok ? 0 : 1);
        },
        ExitedWithCode(0), "");
    // The name tables are bounded.
    EXPECT_EXIT({ log_output = stderr; for (int i = 0; i <= 500; ++i) gfc::add_variable("v", 1); },
                ExitedWithCode(3), HasSubstr("Too much variables in the 1 block!"));
    EXPECT_EXIT({ log_output = stderr; for (int i = 0; i <= 499; ++i) vgf::add_bvariable("e"); },
                ExitedWithCode(3), HasSubstr("Too much extra variables"));
}

}  // namespace
