// Runtime, allocation hook, character source and printers of the Tesk engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tesk/base/bigblock.h"
#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/base/string_or_file.h"
#include "tesk/base/switches.h"
#include "tesk/base/bigdexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/server/switches.h"

extern char** environ;

namespace {

using namespace tesk;
using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::Not;

// A temporary stream whose text can be read back.
struct Capture {
    FILE* f = tmpfile();
    ~Capture() {
        if (f) fclose(f);
    }
    std::string text() {
        fflush(f);
        long n = ftell(f);
        std::string s(n, '\0');
        rewind(f);
        if (n > 0 && fread(s.data(), 1, n, f) != (size_t)n) s.clear();
        fseek(f, 0, SEEK_END);
        return s;
    }
};

// Saves the engine's global streams, printers and switches, restores them after each test.
class TeskRuntime : public ::testing::Test {
protected:
    FILE *log = log_output, *rem = remember_log_output, *err = tesk_stderr, *lisp = lisp_file,
         *axiom = axiom_output, *caspi = caspi_output, *in = file;
    Fortran_Print fo = Fortran;
    Posso_Print po = Posso;
    Tex_Print te = Tex;
    Lib_Print li = Lib;
    int quiet = want_quiet, out = want_output, fort = want_fortran, posso = want_posso_output,
        wlog = want_log;
    Boolean inter = interactive, human = human_user;
    void TearDown() override {
        log_output = log, remember_log_output = rem, tesk_stderr = err, lisp_file = lisp;
        axiom_output = axiom, caspi_output = caspi, file = in;
        Fortran = fo, Posso = po, Tex = te, Lib = li;
        want_quiet = quiet, want_output = out, want_fortran = fort, want_posso_output = posso;
        want_log = wlog, interactive = inter, human_user = human;
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

std::string read_all(FILE* f) {
    std::string s;
    int c;
    while ((c = fgetc(f)) != EOF) s += (char)c;
    return s;
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

// ---------------------------------------------------------------------------
// Messages

TEST_F(TeskRuntime, MessageFunctionsWriteTheirTexts) {
    Capture c, e;
    log_output = c.f;
    tesk_stderr = e.f;
    Output("a=%d ", 1);
    Warning("w%s\n", "1");
    Erreur("e%u\n", 2u);
    Outputc('!');
    want_quiet = 0;
    Inform("info\n");
    want_quiet = 1;
    Inform("hidden\n");
    errno = ENOENT;
    Perror("fopen(%s)", "x");
    EXPECT_EQ(errno, 0);
    Stderr("diag %d\n", 7);
    EXPECT_EQ(c.text(),
              "a=1 #C Warning: w1\nError: e2\n!info\nfopen(x) : No such file or directory\n");
    EXPECT_EQ(e.text(), "diag 7\n");

    // No stream yet: nothing is written, nothing breaks.
    tesk_stderr = nullptr;
    log_output = nullptr;
    Stderr("lost %d\n", 1);
    Output("lost\n");
    Warning("lost\n");
    Date();

    log_output = c.f;
    remember_log_output = e.f;
    switch_Output();
    EXPECT_EQ(log_output, e.f);
    EXPECT_EQ(remember_log_output, c.f);
}

TEST_F(TeskRuntime, FatalExitsWithThreeAndFiveWhenReentered) {
    EXPECT_EXIT(
        {
            log_output = stderr;
            Fatal("boom %d\n", 42);
        },
        ExitedWithCode(3), HasSubstr("#error (fatal): boom 42"));
    EXPECT_EXIT(
        {
            log_output = stderr;
            Fatal_loop = 1;
            Fatal("again\n");
        },
        ExitedWithCode(5), Not(HasSubstr("again")));
}

struct Hooked {
    int status;
    std::string message;
};

void throwing_hook(int status, const char* message) {
    Fatal_loop = 0;
    throw Hooked{status, message};
}

TEST_F(TeskRuntime, FatalEndsInTheExitHook) {
    Capture c;
    log_output = c.f;
    Exit_Hook old = set_exit_hook(throwing_hook);
    try {
        Fatal("Fichier %s non ouvrable !\n", "x");
        ADD_FAILURE() << "Fatal returned";
    } catch (const Hooked& h) {
        EXPECT_EQ(h.status, 3);
        EXPECT_EQ(h.message, "Fichier x non ouvrable !\n");
    }
    EXPECT_EQ(c.text(), "#error (fatal): Fichier x non ouvrable !\n");
    // Re-entry goes through the same hook.
    Fatal_loop = 1;
    try {
        Fatal("inner\n");
    } catch (const Hooked& h) {
        EXPECT_EQ(h.status, 5);
        EXPECT_EQ(h.message, "");
    }
    EXPECT_EQ(set_exit_hook(old), throwing_hook);

    EXPECT_EXIT(
        {
            set_exit_hook([](int s, const char*) { _exit(40 + s); });
            Fatal("x\n");
        },
        ExitedWithCode(43), "");
}

// ---------------------------------------------------------------------------
// Closing the streams

TEST_F(TeskRuntime, CloseFileAfterBridgeSetupKeepsStandardOutput) {
    // The bridge's state: log, Fortran/PoSSo and Lisp streams all standard output.
    axiom_output = log_output = lisp_file = stdout;
    Fortran.attach(axiom_output);
    Posso.attach(axiom_output);
    close_file();
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
    EXPECT_GE(fprintf(stdout, "%s", ""), 0);
    EXPECT_EQ(log_output, stdout);
}

TEST_F(TeskRuntime, CloseFileClosesASharedStreamOnce) {
    TempDir d;
    FILE* f = fopen("out.txt", "w");
    ASSERT_NE(f, nullptr);
    FILE* g = fopen("caspi.txt", "w");
    ASSERT_NE(g, nullptr);
    log_output = axiom_output = lisp_file = f;
    caspi_output = g;
    Fortran.attach(f);
    want_log = 1;
    fputs("kept", f);
    close_file();  // a second fclose of f would be a double free
    EXPECT_EQ(log_output, stdout);
    EXPECT_EQ(axiom_output, nullptr);
    EXPECT_EQ(lisp_file, nullptr);
    EXPECT_EQ(caspi_output, nullptr);
    EXPECT_EQ(Fortran.f, nullptr);
    FILE* r = fopen("out.txt", "r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(read_all(r), "kept");
    fclose(r);
    // Printers and the Lisp stream are now null: they write nothing.
    Fortran << "x" << 1;
    Lisp_Print() << "x";
    close_file();
}

// ---------------------------------------------------------------------------
// Files

TEST_F(TeskRuntime, OuvrirStandardStreamsAndPlainFiles) {
    TempDir d;
    human_user = 0;
    EXPECT_EQ(ouvrir("-", "r"), stdin);
    EXPECT_EQ(ouvrir("-", "w"), stdout);
    FILE* a = ouvrir("-", "a");  // only "r" and "w" mean the standard streams
    ASSERT_NE(a, nullptr);
    fclose(a);
    EXPECT_EQ(access("-", F_OK), 0);

    FILE* w = ouvrir("plain.gz", "w");  // written as it stands
    ASSERT_NE(w, nullptr);
    fputs("not compressed", w);
    fclose(w);
    FILE* r = fopen("plain.gz", "r");
    EXPECT_EQ(read_all(r), "not compressed");
    fclose(r);

    EXPECT_EXIT(ouvrir("missing.txt", "r"), ExitedWithCode(3), "");
}

TEST_F(TeskRuntime, OuvrirReadsCompressedFilesWithAwkwardNames) {
    TempDir d;
    human_user = 0;
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
    EXPECT_NE(access("pwned", F_OK), 0);
    EXPECT_NE(access("pwned2", F_OK), 0);
    EXPECT_NE(access("pwned3", F_OK), 0);
    // A missing compressed file is a failed open, not an empty stream.
    EXPECT_EXIT(
        {
            log_output = stderr;
            ouvrir("none here.gz", "r");
        },
        ExitedWithCode(3), HasSubstr("Fichier none here.gz non ouvrable !"));
}

TEST_F(TeskRuntime, OuvrirAsksAgainAndStopsAtEndOfInput) {
    TempDir d;
    write_file("good.txt", "ok");
    EXPECT_EXIT(
        {
            log_output = stderr;
            human_user = 1;
            FILE* in = fopen("answer", "w");
            fputs("good.txt\n", in);
            fclose(in);
            if (!freopen("answer", "r", stdin)) _exit(9);
            FILE* f = ouvrir("bad.txt", "r");
            _exit(f && fgetc(f) == 'o' ? 7 : 8);
        },
        ExitedWithCode(7), HasSubstr("Je ne peux pas trouver bad.txt !"));
    EXPECT_EXIT(
        {
            log_output = stderr;
            human_user = 1;
            if (!freopen("/dev/null", "r", stdin)) _exit(9);
            ouvrir("nodir/bad.txt", "w");
        },
        ExitedWithCode(3), HasSubstr("Je ne peux pas ouvrir nodir/bad.txt !\nEntrer un nouveau nom: "));
}

TEST_F(TeskRuntime, ShellQuoteKeepsEveryByte) {
    char b[64];
    ASSERT_TRUE(shell_quote(b, sizeof b, "a'b"));
    EXPECT_STREQ(b, "'a'\\''b'");
    ASSERT_TRUE(shell_quote(b, sizeof b, ""));
    EXPECT_STREQ(b, "''");
    EXPECT_FALSE(shell_quote(b, 4, "abc"));
}

TEST_F(TeskRuntime, NamesAndHashes) {
    char b[64];
    principale(b, "sys.tesk.gz");
    EXPECT_STREQ(b, "sys");
    ext_name(b, "sys", "tesk");
    EXPECT_STREQ(b, "sys.tesk");
    ext_name(b, "sys.in", "tesk");
    EXPECT_STREQ(b, "sys.in");
    EXPECT_STREQ(name_of_init_file(), ".teskrc");

    EXPECT_EQ(Hash_String(""), 0u);
    EXPECT_EQ(Hash_String("a"), 97u);
    // Folding the residue each step equals reducing the whole number once.
    EXPECT_EQ(Hash_String("abcd"), (unsigned)(0x61626364ull % 16777213ull));
    EXPECT_EQ(Hash_String("\x80"), (unsigned)(0xFFFFFF80ull % 16777213ull));
}

TEST_F(TeskRuntime, ReadJobRemembersTheFile) {
    TempDir d;
    human_user = 0;
    write_file("job.in", "J");
    read_job("job.in");
    EXPECT_STREQ(last_file_input, "job.in");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fgetc(file), 'J');
    fclose(file);
    read_job("");
    EXPECT_EQ(fgetc(file), 'J');
    fclose(file);
    read_job("-");
    EXPECT_EQ(file, stdin);
}

TEST_F(TeskRuntime, HomeDirectoryAndCommandSearch) {
    EXPECT_EXIT(
        {
            set_TESKHOME("./serveur__DMP__Dexp__GF");
            _exit(strcmp(get_TESKHOME(), ".") == 0 ? 0 : 1);
        },
        ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            set_TESKHOME("/opt/tesk/bin/serveur");
            set_TESKHOME("/elsewhere/x");  // only the first call counts
            _exit(strcmp(get_TESKHOME(), "/opt/tesk/bin") == 0 ? 0 : 1);
        },
        ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            log_output = stderr;
            set_TESKHOME("~serveur");
        },
        ExitedWithCode(3), HasSubstr("Fail to find path in ~serveur [2]"));
    EXPECT_EXIT(
        {
            unsetenv("PATH");
            const char* n = "nothing-such";
            _exit(which_command(n) == n ? 0 : 1);
        },
        ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("PATH", "/nonexistent:/bin:/usr/bin", 1);
            set_TESKHOME("sh");
            const char* h = get_TESKHOME();
            _exit(strcmp(h, "/bin") == 0 || strcmp(h, "/usr/bin") == 0 ? 0 : 1);
        },
        ExitedWithCode(0), "");
    set_path_TESKHOME("/srv/tesk");
    EXPECT_STREQ(get_TESKHOME(), "/srv/tesk");
}

TEST_F(TeskRuntime, AdminSetUpAndTimes) {
    EXPECT_EXIT(
        {
            Capture e;
            tesk_stderr = e.f;
            setenv("TESKEPSILON", "0.5", 1);
            init_admin();
            bool ok = strcmp(job_name, "input") == 0 && strcmp(last_file_input, "tesk.input") == 0 &&
                      host_name && host_name[0] && epsilon == 0.5L &&
                      e.text() == "Change epsilon by TESKEPSILON: 0.500000 !\n";
            _exit(ok ? 0 : 1);
        },
        ExitedWithCode(0), "");
    EXPECT_GE(delay(), 0.0f);
    float t0 = total_serveur;
    add_serveur(1.5f);
    add_serveur(2.0f);
    EXPECT_FLOAT_EQ(last_serveur(), 2.0f);
    EXPECT_FLOAT_EQ(delay_serveur(), t0 + 3.5f);
}

int cmp_str(char* a, char* b) { return strcmp(a, b); }
Boolean in_order(void* a, void* b) { return strcmp((char*)a, (char*)b) <= 0; }

TEST_F(TeskRuntime, ShellSorts) {
    const char* src[] = {"m", "c", "x", "a", "q", "b", "z", "k", "d"};
    const int n = 9;
    char* a[n];
    char* b[n];
    void* c[n];
    for (int i = 0; i < n; ++i) a[i] = b[i] = (char*)src[i], c[i] = (void*)src[i];
    shell_sort(a, n, cmp_str);
    improved_shell_sort(b, n, cmp_str);
    shell_boolean_sort(c, n, in_order);
    for (int i = 0; i + 1 < n; ++i) {
        EXPECT_LT(strcmp(a[i], a[i + 1]), 0);
        EXPECT_LT(strcmp(b[i], b[i + 1]), 0);
        EXPECT_LT(strcmp((char*)c[i], (char*)c[i + 1]), 0);
    }
    char* two[] = {(char*)"b", (char*)"a"};
    improved_shell_sort(two, 2, cmp_str);
    EXPECT_STREQ(two[0], "a");
    shell_sort(two, 0, cmp_str);
    shell_sort(two, 1, cmp_str);
}

// ---------------------------------------------------------------------------
// Allocation hook

bool aligned16(const void* p) { return ((std::uintptr_t)p & 15u) == 0; }

TEST(TeskBigBlock, ArenasAreFirstFitAndAligned) {
    Tesk_Arenas a;
    ASSERT_TRUE(a.open_arena());
    char* prev = nullptr;
    for (unsigned s : {1u, 3u, 7u, 13u, 16u, 17u, 33u, 100u}) {
        char* p = (char*)a.carve(s);
        EXPECT_TRUE(aligned16(p)) << s;
        if (prev) {
            EXPECT_GE(p - prev, 1);
        }
        prev = p;
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
    EXPECT_EQ(b.size_big_memory[0], 16u);
    b.carve(16);
    EXPECT_EQ(b.size_big_memory[0], 16u);
    EXPECT_EQ(b.size_big_memory[1], 42100000u - 16);
    char* small = (char*)b.carve(15);
    EXPECT_EQ(b.size_big_memory[0], 0u);
    EXPECT_TRUE(aligned16(small));
    EXPECT_EQ(b.cur_big_memory, 2u);
    b.carve(tesk_arena_size);  // a whole arena is served
    EXPECT_EQ(b.cur_big_memory, 3u);
    b.release();

    EXPECT_EXIT(
        {
            Tesk_Arenas c;
            c.carve(tesk_arena_size + 1);
        },
        ExitedWithCode(3), "");
}

TEST(TeskBigBlock, HookInBothModes) {
    // The mode is chosen at the first call of the process: run each in a
    // fresh process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("TESKBIGMEM");
            Capture e;
            tesk_stderr = e.f;
            bool ok = true;
            for (unsigned s = 1; s < 40; s += 3) ok = ok && aligned16((*Tesk_int_Tesk_malloc)(s));
            _exit(ok && e.text().empty() ? 0 : 1);
        },
        ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("TESKBIGMEM", "", 1);
            tesk_stderr = stderr;
            bool ok = true;
            for (unsigned s = 1; s < 40; s += 3) ok = ok && aligned16((*Tesk_Tesk_malloc)(s));
            ok = ok && aligned16(internal_Tesk_malloc(60000000)) && aligned16(internal_Tesk_malloc(60000000));
            _exit(ok ? 0 : 1);
        },
        ExitedWithCode(0), "^Use Big Memory from tesk !\n$");
    GTEST_FLAG_SET(death_test_style, "fast");
}

// ---------------------------------------------------------------------------
// Character source

char* owned(const char* s) {
    char* d = new char[strlen(s) + 1];
    strcpy(d, s);
    return d;
}

TEST(TeskStringOrFile, ReadsNumbersAndCharactersFromAString) {
    String_or_File s(owned("12ab 7 word\xe9"));
    EXPECT_EQ(s.current_line(), 1u);
    unsigned x = 0;
    EXPECT_EQ(s.scan(x), 1);
    EXPECT_EQ(x, 12u);
    EXPECT_EQ(s.get_char(), 'a');
    s.unget_char('a');
    EXPECT_EQ(s.get_char(), 'a');
    EXPECT_EQ(s.scan(x), 0);  // 'b' is no number: position unchanged
    EXPECT_EQ(s.get_char(), 'b');
    EXPECT_EQ(s.scan(x), 1);
    EXPECT_EQ(x, 7u);
    char buf[32];
    EXPECT_EQ(s.scan("%31s", buf), 1);
    EXPECT_STREQ(buf, "word\xe9");
    s.unget_char(0);
    EXPECT_EQ(s.get_char(), (int)(signed char)'\xe9');
    EXPECT_EQ(s.get_char(), -1);
    EXPECT_EQ(s.get_char(), -1);
    EXPECT_EQ(s.scan(x), -1);
    s.new_line();
    s.new_line();
    EXPECT_EQ(s.current_line(), 3u);
    s.close();  // releases the string (new[] / delete[])
    EXPECT_EQ(s.mode, String_or_File::EMPTY_MODE);
    s.close();

    String_or_File t(owned("z"));
    t.unget_char('q');  // never steps before the string
    EXPECT_EQ(t.get_char(), 'z');
    t.close();
}

TEST(TeskStringOrFile, ReadsFromAStreamAndTheEmptySource) {
    FILE* f = tmpfile();
    fputs("  42 hello\n", f);
    unsigned int w[2] = {0x01020304u, 0xA0B0C0D0u};
    fwrite(w, 4, 2, f);
    rewind(f);
    String_or_File s(f);
    unsigned x = 0;
    EXPECT_EQ(s.scan(x), 1);
    EXPECT_EQ(x, 42u);
    char buf[16];
    EXPECT_EQ(s.scan("%15s", buf), 1);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(s.get_char(), '\n');
    unsigned r[2] = {0, 0};
    EXPECT_EQ(s.read(r, 2), 2u);
    EXPECT_EQ(r[1], 0xA0B0C0D0u);
    EXPECT_EQ(s.get_char(), -1);
    s.close();

    String_or_File e;
    x = 5;
    EXPECT_EQ(e.scan(x), -1);
    EXPECT_EQ(x, 5u);
    EXPECT_EQ(e.get_char(), -1);
    EXPECT_EQ(e.read(r, 2), ~0u);
    e.close();

    EXPECT_EXIT(
        {
            String_or_File t(owned("<1 2>"));
            t.read(r, 1);
        },
        ExitedWithCode(3), "");
}

// ---------------------------------------------------------------------------
// Printers

TEST_F(TeskRuntime, PlainPrinters) {
    Capture c;
    Fortran_Print p(c.f);
    p << 1 << ' ' << 2u << ' ' << -3L << ' ' << 4UL << ' ' << 0.5 << ' ' << (long double)0.25 << ' '
      << "s" << (const char*)nullptr << SC_NONE << SC_ARROW << SC_TIMES << SC_BLANK << SC_PARAGRAPH;
    var_index(p, "x", 3);
    hexa(p, (void*)0xabc);
    raw(p, 0x64636261u);
    EXPECT_EQ(c.text(),
              "1 2 -3 4 0.5000000000000000 0.2500000000 s <- * \n\n x3abcabcd");

    Capture d;
    Posso_Print q(d.f);
    Posso_Print chained = q << 1 << "+" << 'a';  // keeps its type through a chain
    chained << 2;
    EXPECT_EQ(d.text(), "1+a2");

    Capture l;
    Lib_Print lib(l.f);
    lib << -1 << 2u << 'c' << "t" << (const char*)nullptr;
    EXPECT_EQ(l.text(), "-12ct");

    // No stream: nothing written, nothing breaks.
    Fortran_Print none(static_cast<FILE*>(nullptr));
    none << 1 << "x" << 'c' << 1.0 << SC_ARROW;
    raw(none, 1);
    Lib_Print() << 1 << "x";
    Posso_Print(static_cast<FILE*>(nullptr)) << "x";
}

TEST_F(TeskRuntime, TexAndLispPrinters) {
    Capture c;
    Tex_Print t(c.f);
    t << 1 << 'a' << '\n' << 2.5 << SC_NONE << SC_ARROW << SC_TIMES << SC_PARAGRAPH;
    var_index(t, "x", 2);
    EXPECT_EQ(c.text(),
              "1a \\\\\n2.500000$ $\\leftarrow$ \\,\n\n\\vspace*{5mm}\n\n\\noindent \\, $x_{2}$ ");

    Capture l;
    lisp_file = l.f;
    Lisp_Print() << 1 << ' ' << 2u << ' ' << 3L << ' ' << 0.5f << ' ' << "s";
    lisp_long(-4);
    lisp_Boolean(1);
    lisp_Boolean(2);
    EXPECT_EQ(l.text(), "1 2 3 0.500000 s-4truefalse");
    lisp_file = nullptr;
    Lisp_Print() << "dropped";
    lisp_Boolean(1);
}

TEST_F(TeskRuntime, PrettyPrinterPlacesThreeLines) {
    Capture c;
    log_output = c.f;
    init_pretty();
    Pretty << "x+y";
    flush_pretty();
    EXPECT_EQ(c.text(), "   \nx+y\n   \n");

    Capture d;
    log_output = d.f;
    Pretty << 'x';
    pretty_exp(3);
    Pretty << 'y';
    pretty_exp(1);
    (void)(Pretty - "i");
    Pretty << Stack('^', '|', 'v') << Boolean(0) << (char*)nullptr << '\n';
    EXPECT_EQ(d.text(), " 3   ^     \nx y  |false\n    iv     \n");

    Capture e;
    log_output = e.f;
    for (int i = 0; i < 60; ++i) Pretty << 'a';
    Pretty << '+';
    flush_pretty();
    std::string a60(60, 'a'), b60(60, ' ');
    EXPECT_EQ(e.text(), b60 + "\n" + a60 + "\n" + b60 + "\n \n+\n \n");

    Capture f;
    log_output = f.f;
    for (int i = 0; i < 59; ++i) Pretty << 'a';
    Pretty << '+';
    flush_pretty();
    EXPECT_EQ(f.text(), std::string(60, ' ') + "\n" + std::string(59, 'a') + "+\n" +
                            std::string(60, ' ') + "\n");

    Capture g;
    log_output = g.f;
    Pretty << "dropped";
    init_pretty();
    flush_pretty();
    EXPECT_EQ(g.text(), "");
}

TEST_F(TeskRuntime, DispatcherFollowsTheSwitches) {
    Capture fo, po, pr;
    Fortran.attach(fo.f);
    Posso.attach(po.f);
    log_output = pr.f;
    init_pretty();

    want_output = 0;
    want_fortran = 1;
    AFFICHE() << "none";
    want_output = 1;
    want_posso_output = 1;
    AFFICHE() << "F" << 'f';
    want_fortran = 0;
    AFFICHE() << "P";
    want_posso_output = 0;
    AFFICHE() << (char*)"B" << '\n';
    EXPECT_EQ(fo.text(), "Ff");
    EXPECT_EQ(po.text(), "P");
    EXPECT_EQ(pr.text(), " \nB\n \n");

    // The default set-up: Fortran still has no stream.
    Fortran.attach(nullptr);
    want_fortran = 1;
    AFFICHE() << "nowhere" << 'x';
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
            bool ok = global_List_variables == Liste_variables_BigDexp &&
                      strcmp(global_List_variables[0], "x") == 0 &&
                      strcmp(global_List_variables[1], "y") == 0 &&
                      strcmp(global_List_variables[2], "z") == 0 &&
                      strcmp(global_List_variables[3], "u") == 0 && extra_nb_vars_BigDexp == 1 &&
                      extra_nb_vars_DRLDRL == 0;
            gfc::add_variable("a", 0);
            ok = ok && global_List_variables == Liste_variables_DRLDRL &&
                 vgf::want_to_save == 0 && vgf::bin_save_file == nullptr && gfc::want_to_save == 0;
            _exit(ok ? 0 : 1);
        },
        ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            log_output = stderr;
            for (int i = 0; i <= 500; ++i) gfc::add_variable("v", 1);
        },
        ExitedWithCode(3), HasSubstr("Too much variables in the 1 block!"));
    EXPECT_EXIT(
        {
            log_output = stderr;
            for (int i = 0; i <= 499; ++i) vgf::add_bvariable("e");
        },
        ExitedWithCode(3), HasSubstr("Too much extra variables"));
}

}  // namespace
