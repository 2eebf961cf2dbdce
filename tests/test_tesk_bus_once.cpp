// Message codes and the binary channel of the Tesk engine: wire bytes, round
// trips through files, gzip pipes, loopback sockets and a started peer, and
// the failure paths.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tesk/base/bus.h"
#include "tesk/base/gfc.h"
#include "tesk/base/messages.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tesk;
using ::testing::ExitedWithCode;
using Bytes = std::vector<unsigned char>;


struct TempDir : quor_test::TempDir {
    TempDir() : quor_test::TempDir("teskbus") {}
};

// The text of a stream (closed afterwards); "" for a null one.
std::string text_of(FILE* f) {
    std::string s;
    if (!f) return s;
    fflush(f);
    rewind(f);
    for (int ch; (ch = fgetc(f)) != EOF;) s += (char)ch;
    fclose(f);
    return s;
}

Bytes file_bytes(const std::string& p) {
    std::string s = text_of(fopen(p.c_str(), "rb"));
    return Bytes(s.begin(), s.end());
}

void write_text(const std::string& p, const std::string& text) {
    FILE* f = fopen(p.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(text.c_str(), f);
    fclose(f);
}

long file_size(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

// Exit hook of the death tests: shows which status went through it.
void report_hook(int status, const char* msg) {
    fprintf(stderr, "hook %d: %s", status, msg);
    fflush(stderr);
    _exit(status);
}
#define EXPECT_HOOK_EXIT(stmt, status, re) \
    EXPECT_EXIT({ set_exit_hook(report_hook); stmt; }, ExitedWithCode(status), "hook " #status ": " re)

using quor_test::listen_loopback;

// Saves the switches and streams the channel reads.
class TeskBus : public ::testing::Test {
protected:
    FILE *log = log_output, *err = tesk_stderr;
    int pipe2 = want_pipe2, hostsyn = want_Host_syntax, quiet = want_quiet;
    char *hn = host_name, *home = internal_TESKHOME;
    std::string home_text;
    // The engine's home directory, without the allocation that set_path_TESKHOME keeps for ever.
    void set_home(const std::string& dir) {
        home_text = dir;
        internal_TESKHOME = home_text.data();
    }
    void TearDown() override {
        log_output = log, tesk_stderr = err, host_name = hn, internal_TESKHOME = home;
        want_pipe2 = pipe2, want_Host_syntax = hostsyn, want_quiet = quiet;
        unsetenv("TESKDEBUG");
    }
};

// ---------------------------------------------------------------------------
// Message codes

// ---------------------------------------------------------------------------
// Every item type: written by write_items, checked by read_items.

const unsigned short kIdx[] = {1, 2, 0xFFFF};
const std::uint32_t kWords[3] = {0x01020304u, 0u, 0xFFFFFFFEu};
const std::uint16_t kHalves[3] = {0x0102, 0xFFFF, 9};

void write_items(BUS& b) {
    b << MSG_TESK_Begin;
    b << 7 << -123456;
    b << 2.5f;
    b.out_Atome("ab");
    b.out_Atome("xyz", 2);
    b.out_Atome("");
    b.sendIndice(3, kIdx);
    out_SI(b, -5);
    b.ecrirei(kWords, sizeof kWords);
    b.ecrires(kHalves, sizeof kHalves);
    b.ecrirec("bytes", 5);
    gfc::out_protocol_GFC(b, gfc::Uniq_GFC(12345));  // a coefficient's own wire form
    for (std::uint32_t i = 0; i < 1500; ++i) put_word(b, i * 2654435761u);  // crosses buffers
    b.put8(0xAB);  // leaves later words unaligned in the buffer
    b.begin_stream();
    std::string text(5000, 'x');
    for (int i = 0; i < 5000; ++i) text[i] = (char)('a' + i % 26);
    b.ecrire_string(text.data(), (int)text.size());
    b.end_stream();
    b << "% comment\nhello\nworld\n";
    b << MSG_TESK_End;
    b.flush();
}

void read_items(BUS& b) {
    Messages m;
    b >> m;
    ASSERT_EQ(m, MSG_TESK_Begin);
    int v = 0, v2 = 0;
    b >> v >> v2;
    EXPECT_EQ(v, 7);
    EXPECT_EQ(v2, -123456);
    float f = 0;
    b >> f;
    EXPECT_EQ(f, 2.5f);
    auto atom = [&](Messages first) {
        char* s = b.parse_Atome(first);
        std::string r = s;
        delete[] s;
        return r;
    };
    EXPECT_EQ(atom(Messages(1)), "ab");
    ASSERT_EQ(b.get32(), (std::uint32_t)MSG_TESK_Atome);  // the code word, read by the caller
    EXPECT_EQ(atom(Messages(0)), "xy");
    EXPECT_EQ(atom(Messages(1)), "");
    unsigned short idx[3] = {};
    ASSERT_EQ(b.receive(idx, 3), 3u);
    EXPECT_TRUE(std::equal(idx, idx + 3, kIdx));
    in_SI(b, v);
    EXPECT_EQ(v, -5);
    std::uint32_t words[3] = {};
    b.lirei(words, sizeof words);
    EXPECT_TRUE(std::equal(words, words + 3, kWords));
    std::uint16_t halves[3] = {};
    b.lires(halves, sizeof halves);
    EXPECT_TRUE(std::equal(halves, halves + 3, kHalves));
    char bytes[6] = {};
    b.lirec(bytes, 5);
    EXPECT_STREQ(bytes, "bytes");
    EXPECT_EQ(get_word(b), 10u);
    EXPECT_EQ(get_word(b), 12345u);
    for (std::uint32_t i = 0; i < 1500; ++i) ASSERT_EQ(get_word(b), i * 2654435761u) << i;
    EXPECT_EQ(b.get8(), 0xAB);
    std::string text;
    for (;;) {
        b >> m;
        if (m == MSG_TESK_OK) break;
        ASSERT_EQ(m, MSG_TESK_stream);
        std::uint32_t len = b.get32();
        ASSERT_GE(len, 1u);
        std::string chunk(len, '\0');
        b.lirec(chunk.data(), (int)len);
        EXPECT_EQ(chunk.back(), '\0');
        text += chunk.substr(0, len - 1);
    }
    ASSERT_EQ(text.size(), 5000u);
    EXPECT_EQ(text[4999], (char)('a' + 4999 % 26));
    char line[64];
    b.next_line(sizeof line, line);
    EXPECT_STREQ(line, "hello");
    b.read_line(3, line);
    EXPECT_STREQ(line, "wo");
    b.read_line(sizeof line, line);
    EXPECT_STREQ(line, "rld");
    b >> m;
    EXPECT_EQ(m, MSG_TESK_End);
}

// ---------------------------------------------------------------------------
// Wire bytes

TEST_F(TeskBus, WireBytesAndBufferLimits) {
    TempDir d;
    std::string p = d / "w";
    WBUS w(p.c_str());
    ASSERT_TRUE(w.valid);
    w << 7;
    w.out_Atome("ab");
    w.begin_stream();
    w.ecrire_string("hi", 2);
    w.end_stream();
    w << 1.0f;
    w.sendIndice(2, kIdx);
    out_SI(w, 3);
    w.kill();
    const Bytes expect = {0, 0, 0, 0x10, 0, 0, 0, 7,                           // int
                          0, 0, 0, 0x38, 0, 0, 0, 2, 'a', 'b',                 // atom
                          0, 0, 0, 0x14, 0, 0, 0, 3, 'h', 'i', 0, 0, 0, 0, 5,  // stream
                          0, 0, 0, 0x18, 0x3F, 0x80, 0, 0,                     // float
                          0, 0, 0, 0x2A, 0, 0, 0, 2, 0, 1, 0, 2,               // indices
                          0, 1, 0x86, 0xBC, 0, 0, 0, 3};                       // companion int
    EXPECT_EQ(file_bytes(p), expect);

    // The buffer goes out when the next word would not fit.
    WBUS w2(p.c_str());
    for (int i = 0; i < 1023; ++i) put_word(w2, i);
    EXPECT_EQ(file_size(p), 0);
    put_word(w2, 1023);
    EXPECT_EQ(file_size(p), 4092);
    w2.flush();
    // A 5000-byte text: two chunks whose lengths (each with its NUL) add to 5002.
    std::string text(5000, 'q');
    w2.begin_stream();
    w2.ecrire_string(text.data(), 5000);
    w2.end_stream();
    w2.kill();
    Bytes b = file_bytes(p);
    ASSERT_EQ(b.size(), 4096u + 8 + 4089 + 8 + 913 + 4);
    auto word = [&](size_t at) { return (std::uint32_t)b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; };
    const size_t second = 4096 + 8 + 4089;
    EXPECT_EQ(word(4096), 20u);
    EXPECT_EQ(word(4100), 4089u);
    EXPECT_EQ(word(second), 20u);
    EXPECT_EQ(word(second + 4), 913u);
    EXPECT_EQ(word(second + 8 + 913), 5u);
}

// ---------------------------------------------------------------------------
// Round trips

TEST_F(TeskBus, FileChannels) {
    TempDir d;
    std::string p = d / "items";
    write_text(p, std::string(100000, 'z'));  // an older, longer file is truncated
    WBUS w(p.c_str());
    write_items(w);
    w.kill();
    w.kill();  // a second kill does nothing
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    RBUS r(p.c_str());
    ASSERT_TRUE(r.valid);
    EXPECT_EQ((int)r.can_write(), 0);
    read_items(r);
    r.kill();
    EXPECT_LT(file_size(p), 100000);

    // A file that cannot be opened gives an invalid channel; descriptor 0 is left alone.
    FILE* c = tmpfile();
    log_output = c;
    RBUS bad((d / "missing").c_str());
    EXPECT_FALSE(bad.valid);
    EXPECT_EQ(bad.fd0, -1);
    EXPECT_EQ(bad.fd1, -1);
    WBUS dir(d.path.c_str());  // a directory cannot be written
    EXPECT_FALSE(dir.valid);
    const int in_flags = fcntl(0, F_GETFD);
    dir << MSG_TESK_OK;
    dir.flush();
    dir.kill();
    bad.kill();
    EXPECT_EQ(fcntl(0, F_GETFD), in_flags);
    fclose(c);
    log_output = log;

    write_text(p, "abcdefgh");
    RBUS t(p.c_str());
    char buf[8];
    EXPECT_EQ(t.fill_buffer(buf, 3), 4u);
    EXPECT_STREQ(buf, "abc\n");
    EXPECT_EQ(*t.in_buffer(2), 'd');
    EXPECT_EQ(*t.in_buffer(100), 'f');  // skipping stops at the end of the data
    EXPECT_EQ(t.x_in, t.max_in);
    t.kill();
    EXPECT_EQ(want_to_speak(nullptr, 0), 0);  // the free forms accept a null channel
    kill(nullptr);
    EXPECT_HOOK_EXIT(RBUS b((d / "missing").c_str()); Messages m; b >> m, 3, "Try to read on invalid socket !");
}

TEST_F(TeskBus, RoundTripThroughGzip) {
    TempDir d;
    // Blanks, quotes and shell characters reach gzip unchanged and run nothing.
    std::string p = d / "h i'st; touch pwned $(touch pwned2)";
    WCBUS w(p.c_str());
    write_items(w);
    w.kill();
    EXPECT_GT(file_size(p + ".gz"), 0);
    EXPECT_EQ(file_size(p), -1);
    for (std::string q : {d / "pwned", d / "pwned2", std::string("pwned")}) EXPECT_EQ(file_size(q), -1) << q;
    RCBUS r((p + ".gz").c_str());
    read_items(r);
    r.kill();
    WCBUS z(p.c_str());  // the compressed twin also starts afresh
    z << MSG_TESK_NIL;
    z.kill();
    RCBUS rz((p + ".gz").c_str());
    Messages m;
    rz >> m;
    EXPECT_EQ(m, MSG_TESK_NIL);
    EXPECT_EQ(rz.want_to_speak(0), 0);
    rz.kill();

    // A name that looks like an option of gzip is still a file.
    std::string cwd(4096, '\0');
    ASSERT_NE(getcwd(cwd.data(), cwd.size()), nullptr);
    ASSERT_EQ(chdir(d.path.c_str()), 0);
    WCBUS w2("-dash");
    w2 << MSG_TESK_QUIT;
    w2.kill();
    RCBUS r2("-dash.gz");
    r2 >> m;
    EXPECT_EQ(m, MSG_TESK_QUIT);
    r2.kill();
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(TeskBus, FailuresEndThroughTheExitHook) {
    TempDir d;
    std::string p = d / "short";
    write_text(p, "ab");
    // Reading past the end of the data is an error, not zeros.
    EXPECT_HOOK_EXIT(RBUS r(p.c_str()); r.get32(), 3, "Unexpected end of data");
    EXPECT_HOOK_EXIT(RCBUS r((d / "none.gz").c_str()), 3, "Can't popen \\(r\\) gzip -cd -- ");
    EXPECT_HOOK_EXIT(WCBUS w((d / "no/such/dir/x").c_str()), 3, "Can't popen \\(w\\) gzip -c > ");
    EXPECT_HOOK_EXIT(BUS b(1, "no-such-host.invalid"), 2, "unknown host");
    // The resolver's reason, not errno's (which it does not set).
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int e = getaddrinfo("no-such-host.invalid", nullptr, &hints, &found);
    if (found) freeaddrinfo(found);
    ASSERT_NE(e, 0);
    ASSERT_NE(e, EAI_SYSTEM);
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            BUS b(1, "no-such-host.invalid");
        },
        ExitedWithCode(2), std::string("gethostbyname : ") + gai_strerror(e) + "\nhook 2: unknown host");
    EXPECT_HOOK_EXIT(BUS b(1, "127.0.0.1"), 3, "socket error");  // nobody listens on port 1
    // A peer that went away: the write fails through the hook, not by SIGPIPE.
    EXPECT_HOOK_EXIT(
        {
            int port = 0;
            int ls = listen_loopback(port);
            BUS b(port, "127.0.0.1");
            close(accept(ls, nullptr, nullptr));
            for (int i = 0; i < 1000; ++i) {
                for (int k = 0; k < 1024; ++k) put_word(b, k);
                b.flush();
            }
        },
        3, "Error I/O \\(write\\)");
    // A longer index list than the receiver's room.
    EXPECT_HOOK_EXIT(
        {
            std::string q = d / "idx";
            WBUS w(q.c_str());
            w.sendIndice(3, kIdx);
            w.kill();
            RBUS r(q.c_str());
            unsigned short room[2];
            r.receive(room, 2);
        },
        3, "Too many indices");
}

// ---------------------------------------------------------------------------
// Spawning a peer

// The command a spawning channel shows in debug mode, and whether it listens on loopback only.
std::string shown_command(const char* name, int type, const char* remote, const char* user, int& port,
                          bool& loopback) {
    FILE* c = tmpfile();
    tesk_stderr = c;
    BUS b(name, nullptr, remote, Serveurs_Type(type), 1, user);
    port = b.port;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(b.fd0, (sockaddr*)&a, &len);
    loopback = a.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
    EXPECT_FALSE(b.valid);
    b.kill();
    return text_of(c);
}

TEST_F(TeskBus, SpawnCommandsQuoteHostileNames) {
    setenv("TESKDEBUG", "1", 1);
    want_pipe2 = 1;
    char calc[] = "calc";
    host_name = calc;
    set_home("/opt/tesk");
    struct Case {
        const char* name;
        int type;
        const char* remote;
        const char* user;
        bool host_syntax;
        std::string head, tail;  // around the port
        bool loopback;           // a peer started here calls back on loopback only
    };
    const Case cases[] = {
        {"serveur", 7, "far.example", "bob", false, "rsh -l bob far.example exec '/opt/tesk/serveur' -slave calc ", "  &", false},
        {"serveur", 5, "far.example", nullptr, false, "rsh far.example exec '/opt/tesk/serveur' -assist calc ", "  &", false},
        // Hostile names are quoted for the local shell and, past rsh, for the remote one.
        {"serveur", 10, "h;id", "u$(id)", false, "rsh -l 'u$(id)' 'h;id' exec '/opt/tesk/serveur' -master calc ", "  &", false},
        {"serveur", 0, nullptr, nullptr, true, "/opt/tesk/serveur  127.0.0.1 ", " >/dev/null 2>/dev/null &", true},
        {"/abs/x y", 7, nullptr, nullptr, false, "'/abs/x y' -slave 127.0.0.1 ", "  &", true},
        {"serveur", 3, nullptr, nullptr, false, "serveur calc ", "", false},
        {"serveur", 12, nullptr, nullptr, false, "serveur calc ", " &", false},
        {"serveur", 9, nullptr, nullptr, false, "not running mode", "", false},
    };
    for (const Case& c : cases) {
        want_Host_syntax = c.host_syntax;
        int port = 0;
        bool loopback = false;
        std::string s = shown_command(c.name, c.type, c.remote, c.user, port, loopback);
        std::string shown_port = c.type == 9 ? "" : std::to_string(port);
        EXPECT_EQ(s, c.head + shown_port + c.tail + "\n") << c.type;
        EXPECT_EQ(loopback, c.loopback) << c.type;
    }
}

// A peer in bash: connects back, describes itself, gives its pid, then echoes.
const char kPeer[] = R"SH(#!/bin/bash
host=${@: -2:1}; port=${@: -1}
exec 3<>/dev/tcp/$host/$port || exit 1
w() { printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1>>24&255)) $(($1>>16&255)) $(($1>>8&255)) $(($1&255)))" >&3; }
w 72; w 9; w 35; w $$
exec cat <&3 >&3
)SH";

TEST_F(TeskBus, SpawnedPeerRoundTrip) {
    if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no bash";
    TempDir d;
    std::string script = d / "peer";
    write_text(script, kPeer);
    chmod(script.c_str(), 0755);
    set_home(d.path);
    want_quiet = 1;
    BUS b("peer", nullptr, nullptr, Serveurs_Type(7), 0, nullptr);
    ASSERT_TRUE(b.valid);
    EXPECT_EQ(b.describe, 9u);
    ASSERT_GT(b.pid, 0);
    const int pid = b.pid;
    std::thread t([&] { write_items(b); });
    read_items(b);  // the echo
    t.join();
    b.kill();
    EXPECT_FALSE(b.valid);
    // The peer ends: gone, or a zombie waiting for its reaper.
    std::string stat_path = "/proc/" + std::to_string(pid) + "/stat", st;
    for (int i = 0; i < 200; ++i, usleep(10000)) {
        Bytes raw = file_bytes(stat_path);
        st.assign(raw.begin(), raw.end());
        if (st.find(") Z ") != std::string::npos || st.empty()) break;
    }
    EXPECT_TRUE(st.find(") Z ") != std::string::npos || st.empty()) << st;
}

}  // namespace
