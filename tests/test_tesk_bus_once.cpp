// Message codes and the binary channel of the Tesk engine: wire bytes, round
// trips through files, gzip pipes, loopback sockets and a started peer, and
// the failure paths.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

using namespace tesk;
using ::testing::ExitedWithCode;
using Bytes = std::vector<unsigned char>;

std::string trim(const char* s) { return s[0] == ' ' ? s + 1 : s; }

// ---------------------------------------------------------------------------
// Message codes

TEST(TeskMessages, CodesAndNamesAgree) {
    // Enum value -> name, across both ranges and the table ends.
#define SAME(x) EXPECT_EQ(trim(C__debugMessages(x)), #x)
    SAME(MSG_TESK_UNKNOWN); SAME(MSG_TESK_QUIT); SAME(MSG_TESK_OK); SAME(MSG_TESK_Begin);
    SAME(MSG_TESK_NIL); SAME(MSG_TESK_GDMP); SAME(MSG_TESK_int); SAME(MSG_TESK_INT);
    SAME(MSG_TESK_stream); SAME(MSG_TESK_float); SAME(MSG_TESK_PID); SAME(MSG_TESK_ARRAY_Indices);
    SAME(MSG_TESK_Atome); SAME(MSG_TESK_DESCRIBE); SAME(MSG_TESK_Float); SAME(MSG_TESK_Init);
    SAME(MSG_TESK_Constante); SAME(MSG_TESK_NEED_SORT);
    SAME(MSG_TESK_COMPUTE_A_NEW_GROEBNER_BASIS_WITH_HILBERT); SAME(MSG_TESK_LOOPBACK);
    SAME(MSG_TESK_RAW); SAME(MSG_TESK_set_vect); SAME(MSG_TESK_set_offset);
    SAME(MSG_TESK_DUMP_MATRIX_RESULT_RAW); SAME(MSG_ZELT_UNKNOWN); SAME(MSG_ZELT_ZELTVERB);
    SAME(MSG_ZELT_INT); SAME(MSG_ZELT_int); SAME(MSG_ZELT_OK); SAME(MSG_ZELT_ZELTDL);
    SAME(MSG_ZELT_RAFINE);
#undef SAME
    EXPECT_EQ(MSG_TESK_DUMP_MATRIX_RESULT_RAW, 188u);
    EXPECT_EQ(MSG_ZELT_RAFINE, 100047u);
    EXPECT_EQ(MSG_TESK_RAW, 171u);
    EXPECT_EQ(MSG_ZELT_int, 100028u);

    // Name -> code: every name is unique and well formed, the tables are closed.
    std::set<std::string> names;
    int blanks = 0;
    for (unsigned c = 1; c <= 188; ++c) {
        const char* s = C__debugMessages(Messages(c));
        EXPECT_EQ(s, all_messages_tesk[c - 1]);
        EXPECT_EQ(trim(s).rfind("MSG_TESK_", 0), 0u) << c;
        names.insert(trim(s));
        blanks += s[0] == ' ';
    }
    for (unsigned c = 100000; c <= 100047; ++c) {
        const char* s = C__debugMessages(Messages(c));
        EXPECT_EQ(trim(s).rfind("MSG_ZELT_", 0), 0u) << c;
        names.insert(trim(s));
        blanks += s[0] == ' ';
    }
    EXPECT_EQ(names.size(), 188u + 48u);
    EXPECT_EQ(blanks, 85 + 1);
    EXPECT_EQ(all_messages_tesk[188], nullptr);
    EXPECT_EQ(all_messages_zelt[48], nullptr);
    EXPECT_STREQ(C__debugMessages(Messages(5)), " MSG_TESK_OK");
    EXPECT_STREQ(C__debugMessages(Messages(124)), " MSG_TESK_COMPUTE_A_NEW_GROEBNER_BASIS_WITH_HILBERT");
    EXPECT_STREQ(C__debugMessages(Messages(123)), "MSG_TESK_NEED_SORT");
    EXPECT_STREQ(C__debugMessages(Messages(100036)), " MSG_ZELT_ZELTDL");
}

TEST(TeskMessages, OutOfRangeAndShortNames) {
    for (unsigned c : {0u, 100048u, 0xFFFFFFFFu}) EXPECT_STREQ(C__debugMessages(Messages(c)), "??? ext");
    for (unsigned c : {189u, 5000u, 99999u}) EXPECT_STREQ(C__debugMessages(Messages(c)), "??? in");
    EXPECT_STREQ(Messages_to_String(MSG_TESK_UNKNOWN), "MSG_TESK_UNKNOWN");
    EXPECT_STREQ(Messages_to_String(MSG_TESK_NIL), "MSG_TESK_NIL");
    EXPECT_STREQ(Messages_to_String(MSG_TESK_NOT_NIL), "MSG_TESK_NOT_NIL");
    EXPECT_STREQ(Messages_to_String(MSG_TESK_Constante), "MSG_TESK_Constante");
    EXPECT_STREQ(Messages_to_String(MSG_TESK_OK), "MSG ?");
    EXPECT_STREQ(Messages_to_String(MSG_ZELT_NIL), "MSG ?");
}

// ---------------------------------------------------------------------------
// Helpers

struct TempDir {
    std::string path;
    TempDir() {
        char t[] = "/tmp/teskbus_XXXXXX";
        path = mkdtemp(t);
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str()) != 0) return;
    }
    std::string operator/(const std::string& f) const { return path + "/" + f; }
};

Bytes file_bytes(const std::string& p) {
    Bytes b;
    FILE* f = fopen(p.c_str(), "rb");
    if (!f) return b;
    int c;
    while ((c = fgetc(f)) != EOF) b.push_back((unsigned char)c);
    fclose(f);
    return b;
}

long file_size(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

// Saves the switches and streams the channel reads.
class TeskBus : public ::testing::Test {
protected:
    FILE *log = log_output, *err = tesk_stderr;
    int pipe2 = want_pipe2, hostsyn = want_Host_syntax, show = want_Host_show, quiet = want_quiet;
    char *hn = host_name, *home = internal_TESKHOME;
    std::string home_text;
    // The engine's home directory, without the allocation that set_path_TESKHOME keeps for ever.
    void set_home(const std::string& dir) {
        home_text = dir;
        internal_TESKHOME = home_text.data();
    }
    void TearDown() override {
        log_output = log, tesk_stderr = err, host_name = hn, internal_TESKHOME = home;
        want_pipe2 = pipe2, want_Host_syntax = hostsyn, want_Host_show = show, want_quiet = quiet;
        unsetenv("TESKDEBUG");
    }
};

// Exit hook of the death tests: shows which status went through it.
void report_hook(int status, const char* msg) {
    fprintf(stderr, "hook %d: %s", status, msg);
    fflush(stderr);
    _exit(status);
}

// ---------------------------------------------------------------------------
// Every item type: written by write_items, checked by read_items.

const unsigned short kIdx[] = {1, 2, 0xFFFF};

void write_items(BUS& b) {
    b << MSG_TESK_Begin;
    b << 7 << -123456;
    b << 2.5f;
    b.out_Atome("ab");
    b.out_Atome("xyz", 2);
    b.out_Atome("");
    b.sendIndice(3, kIdx);
    out_SI(b, -5);
    const std::uint32_t words[3] = {0x01020304u, 0u, 0xFFFFFFFEu};
    b.ecrirei(words, sizeof words);
    const std::uint16_t halves[3] = {0x0102, 0xFFFF, 9};
    b.ecrires(halves, sizeof halves);
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
    int v = 0;
    b >> v;
    EXPECT_EQ(v, 7);
    b >> v;
    EXPECT_EQ(v, -123456);
    float f = 0;
    b >> f;
    EXPECT_EQ(f, 2.5f);
    char* s = b.parse_Atome(Messages(1));
    EXPECT_STREQ(s, "ab");
    delete[] s;
    ASSERT_EQ(b.get32(), (std::uint32_t)MSG_TESK_Atome);
    s = b.parse_Atome(Messages(0));
    EXPECT_STREQ(s, "xy");
    delete[] s;
    s = b.parse_Atome(Messages(1));
    EXPECT_STREQ(s, "");
    delete[] s;
    unsigned short idx[3] = {};
    ASSERT_EQ(b.receive(idx, 3), 3u);
    EXPECT_EQ(idx[0], 1);
    EXPECT_EQ(idx[2], 0xFFFF);
    in_SI(b, v);
    EXPECT_EQ(v, -5);
    std::uint32_t words[3] = {};
    b.lirei(words, sizeof words);
    EXPECT_EQ(words[0], 0x01020304u);
    EXPECT_EQ(words[2], 0xFFFFFFFEu);
    std::uint16_t halves[3] = {};
    b.lires(halves, sizeof halves);
    EXPECT_EQ(halves[0], 0x0102);
    EXPECT_EQ(halves[1], 0xFFFF);
    EXPECT_EQ(halves[2], 9);
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
    EXPECT_EQ(text[26], 'a');
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

TEST_F(TeskBus, WireBytesAreBigEndian) {
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
    const Bytes expect = {0, 0, 0, 0x10, 0, 0, 0, 7,                        // int
                          0, 0, 0, 0x38, 0, 0, 0, 2, 'a', 'b',              // atom
                          0, 0, 0, 0x14, 0, 0, 0, 3, 'h', 'i', 0, 0, 0, 0, 5,  // stream
                          0, 0, 0, 0x18, 0x3F, 0x80, 0, 0,                  // float
                          0, 0, 0, 0x2A, 0, 0, 0, 2, 0, 1, 0, 2,            // indices
                          0, 1, 0x86, 0xBC, 0, 0, 0, 3};                    // companion int
    EXPECT_EQ(file_bytes(p), expect);
}

TEST_F(TeskBus, BufferFlushesAtItsLimits) {
    TempDir d;
    std::string p = d / "w";
    WBUS w(p.c_str());
    for (int i = 0; i < 1023; ++i) put_word(w, i);
    EXPECT_EQ(w.x_out, 4092u);
    EXPECT_EQ(file_size(p), 0);
    put_word(w, 1023);
    EXPECT_EQ(file_size(p), 4092);
    EXPECT_EQ(w.x_out, 4u);
    w.flush();

    // A 5000-byte text: two chunks whose lengths (each with its NUL) add to 5002.
    std::string text(5000, 'q');
    w.begin_stream();
    w.ecrire_string(text.data(), 5000);
    w.end_stream();
    w.kill();
    Bytes b = file_bytes(p);
    ASSERT_EQ(b.size(), 4096u + 8 + 4089 + 8 + 913 + 4);
    auto word = [&](size_t at) { return (std::uint32_t)b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; };
    size_t at = 4096;
    EXPECT_EQ(word(at), 20u);
    EXPECT_EQ(word(at + 4), 4089u);
    at += 8 + 4089;
    EXPECT_EQ(word(at), 20u);
    EXPECT_EQ(word(at + 4), 913u);
    EXPECT_EQ(word(at + 8 + 913), 5u);
}

// ---------------------------------------------------------------------------
// Round trips

TEST_F(TeskBus, RoundTripThroughFile) {
    TempDir d;
    std::string p = d / "items";
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
    EXPECT_EQ(file_size(d / "pwned"), -1);
    EXPECT_EQ(file_size(d / "pwned2"), -1);
    EXPECT_EQ(file_size("pwned"), -1);
    RCBUS r((p + ".gz").c_str());
    read_items(r);
    r.kill();

    // A name that looks like an option of gzip is still a file.
    std::string cwd(4096, '\0');
    ASSERT_NE(getcwd(cwd.data(), cwd.size()), nullptr);
    ASSERT_EQ(chdir(d.path.c_str()), 0);
    WCBUS w2("-dash");
    w2 << MSG_TESK_QUIT;
    w2.kill();
    RCBUS r2("-dash.gz");
    Messages m;
    r2 >> m;
    EXPECT_EQ(m, MSG_TESK_QUIT);
    r2.kill();
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

// A loopback listening socket on a port the system chooses.
int listen_loopback(int& port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, (sockaddr*)&a, sizeof a) != 0 || listen(s, 1) != 0) return -1;
    socklen_t len = sizeof a;
    getsockname(s, (sockaddr*)&a, &len);
    port = ntohs(a.sin_port);
    return s;
}

TEST_F(TeskBus, RoundTripThroughLoopbackSocket) {
    int port = 0;
    int ls = listen_loopback(port);
    ASSERT_GE(ls, 0);
    BUS client(port, "127.0.0.1");
    ASSERT_TRUE(client.valid);
    EXPECT_STREQ(client.name, "serveur");
    int fd = accept(ls, nullptr, nullptr);
    close(ls);
    ASSERT_GE(fd, 0);
    BUS server(fd);
    Messages m;
    server >> m;
    EXPECT_EQ(m, MSG_TESK_PID);
    EXPECT_EQ((pid_t)server.get32(), getpid());

    // Each side writes in its own thread while the other reads.
    std::thread t([&] { write_items(client); });
    read_items(server);
    t.join();
    std::thread u([&] { write_items(server); });
    read_items(client);
    u.join();
    EXPECT_EQ(client.want_to_speak(0), 0);
    server << MSG_TESK_OK;
    server.flush();
    EXPECT_EQ(client.want_to_speak((FILE*)nullptr), 1);  // the descriptor has data
    client >> m;
    client.kill();
    server.kill();
}

TEST_F(TeskBus, VerbosityAndServerTimeExchange) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    BUS a(sv[0]), peer(sv[1]);
    {
        FILE* c = tmpfile();
        log_output = c;
        std::thread t([&] {
            Messages m;
            int v;
            peer >> m;
            in_SI(peer, v);
            peer << MSG_ZELT_OK;
            out_SI(peer, v + 1);
            peer.flush();
            peer >> m;
            in_SI(peer, v);
            peer << MSG_ZELT_NIL;
            peer << 1.5f;
            peer.flush();
        });
        int v = 4;
        EXPECT_EQ(change_verbosity(a, v), 1);
        EXPECT_EQ(v, 5);
        EXPECT_EQ(change_verbosity(a, v), 0);
        EXPECT_EQ(v, 5);
        float before = total_serveur;
        add_serveur(a);
        EXPECT_FLOAT_EQ(total_serveur - before, 1.5f);
        EXPECT_FLOAT_EQ(last_serveur(), 1.5f);
        t.join();
        fflush(c);
        rewind(c);
        char buf[128] = {};
        EXPECT_GT(fread(buf, 1, sizeof buf - 1, c), 0u);
        EXPECT_STREQ(buf, "#C Warning: Unspecified error from Zelt (verbosity) !\n");
        fclose(c);
    }
    a.kill();
    peer.kill();
}

TEST_F(TeskBus, ReaderHelpersOnAFile) {
    TempDir d;
    std::string p = d / "t";
    FILE* f = fopen(p.c_str(), "w");
    fputs("abcdefgh", f);
    fclose(f);
    RBUS r(p.c_str());
    EXPECT_EQ(r.want_to_speak(0), 0);
    char buf[8];
    EXPECT_EQ(r.fill_buffer(buf, 3), 4u);
    EXPECT_STREQ(buf, "abc\n");
    EXPECT_EQ(r.want_to_speak(0), 1);
    EXPECT_EQ(*r.in_buffer(2), 'd');
    EXPECT_EQ(*r.in_buffer(100), 'f');  // skipping stops at the end of the data
    EXPECT_EQ(r.x_in, r.max_in);
    r.kill();
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(TeskBus, UnopenableFileGivesAnInvalidChannel) {
    TempDir d;
    FILE* c = tmpfile();
    log_output = c;
    RBUS r((d / "missing").c_str());
    EXPECT_FALSE(r.valid);
    EXPECT_EQ(r.fd0, -1);
    EXPECT_EQ(r.fd1, -1);
    WBUS w(d.path.c_str());  // a directory cannot be written
    EXPECT_FALSE(w.valid);
    const int in_flags = fcntl(0, F_GETFD);
    w << MSG_TESK_OK;
    w.flush();
    w.kill();
    r.kill();
    EXPECT_EQ(fcntl(0, F_GETFD), in_flags);  // descriptor 0 is left alone
    fclose(c);
    log_output = log;
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            RBUS bad((d / "missing").c_str());
            Messages m;
            bad >> m;
        },
        ExitedWithCode(3), "hook 3: Try to read on invalid socket !");
}

TEST_F(TeskBus, WritingAFileTruncatesIt) {
    TempDir d;
    std::string p = d / "old";
    FILE* f = fopen(p.c_str(), "w");
    fputs(std::string(10000, 'z').c_str(), f);
    fclose(f);
    WBUS w(p.c_str());
    w << MSG_TESK_OK;
    w.kill();
    EXPECT_EQ(file_bytes(p), (Bytes{0, 0, 0, 5}));

    WCBUS z(p.c_str());  // the compressed twin also starts afresh
    z << MSG_TESK_NIL;
    z.kill();
    RCBUS rz((p + ".gz").c_str());
    Messages m;
    rz >> m;
    EXPECT_EQ(m, MSG_TESK_NIL);
    EXPECT_EQ(rz.want_to_speak(0), 0);
    rz.kill();
}

TEST_F(TeskBus, FailuresEndThroughTheExitHook) {
    TempDir d;
    std::string p = d / "short";
    FILE* f = fopen(p.c_str(), "w");
    fputs("ab", f);
    fclose(f);
    // Reading past the end of the data is an error, not zeros.
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            RBUS r(p.c_str());
            r.get32();
        },
        ExitedWithCode(3), "hook 3: Unexpected end of data");
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            RCBUS r((d / "none.gz").c_str());
        },
        ExitedWithCode(3), "hook 3: Can't popen \\(r\\) gzip -cd -- ");
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            WCBUS w((d / "no/such/dir/x").c_str());
        },
        ExitedWithCode(3), "hook 3: Can't popen \\(w\\) gzip -c > ");
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            BUS b(1, "no-such-host.invalid");
        },
        ExitedWithCode(2), "hook 2: unknown host");
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            BUS b(1, "127.0.0.1");  // nobody listens on port 1
        },
        ExitedWithCode(3), "hook 3: socket error");
    // A peer that went away: the write fails through the hook, not by SIGPIPE.
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            int port = 0;
            int ls = listen_loopback(port);
            BUS b(port, "127.0.0.1");
            close(accept(ls, nullptr, nullptr));
            for (int i = 0; i < 1000; ++i) {
                for (int k = 0; k < 1024; ++k) put_word(b, k);
                b.flush();
            }
        },
        ExitedWithCode(3), "hook 3: Error I/O \\(write\\)");
    // A longer index list than the receiver's room.
    EXPECT_EXIT(
        {
            set_exit_hook(report_hook);
            std::string q = d / "idx";
            WBUS w(q.c_str());
            w.sendIndice(3, kIdx);
            w.kill();
            RBUS r(q.c_str());
            unsigned short room[2];
            r.receive(room, 2);
        },
        ExitedWithCode(3), "hook 3: Too many indices");
}

TEST_F(TeskBus, NullChannel) {
    FILE* c = tmpfile();
    log_output = c;
    EXPECT_EQ(want_to_speak(nullptr, 0), 0);
    kill(nullptr);
    info(nullptr);
    BUS b(-1);
    b.valid = 0;
    b.info();
    fflush(c);
    rewind(c);
    char buf[128] = {};
    EXPECT_GT(fread(buf, 1, sizeof buf - 1, c), 0u);
    EXPECT_STREQ(buf, "NO bus info(p=-1)  Invalid x_in=0 max_in=0 x_out=0 ");
    fclose(c);
}

// ---------------------------------------------------------------------------
// Spawning a peer

std::string shown_command(Serveurs_Type type, const char* remote, const char* user, int& port,
                          bool local_bind = false) {
    FILE* c = tmpfile();
    tesk_stderr = c;
    BUS b("serveur", nullptr, remote, type, 1, user);
    port = b.port;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(b.fd0, (sockaddr*)&a, &len);
    EXPECT_EQ(a.sin_addr.s_addr == htonl(INADDR_LOOPBACK), local_bind) << (int)type;
    EXPECT_FALSE(b.valid);
    b.kill();
    fflush(c);
    rewind(c);
    std::string s;
    int ch;
    while ((ch = fgetc(c)) != EOF) s += (char)ch;
    fclose(c);
    return s;
}

TEST_F(TeskBus, SpawnCommandsInDebugMode) {
    setenv("TESKDEBUG", "1", 1);
    want_pipe2 = 1;
    char calc[] = "calc";
    host_name = calc;
    set_home("/opt/tesk");
    int port = 0;
    std::string s = shown_command(Serveurs_Type(7), "far.example", "bob", port);
    EXPECT_EQ(s, "rsh -l bob far.example exec '/opt/tesk/serveur' -slave calc " + std::to_string(port) + "  &\n");
    s = shown_command(Serveurs_Type(5), "far.example", nullptr, port);
    EXPECT_EQ(s, "rsh far.example exec '/opt/tesk/serveur' -assist calc " + std::to_string(port) + "  &\n");
    // Hostile names are quoted for the local shell and, past rsh, for the remote one.
    s = shown_command(Serveurs_Type(10), "h;id", "u$(id)", port);
    EXPECT_EQ(s, "rsh -l 'u$(id)' 'h;id' exec '/opt/tesk/serveur' -master calc " + std::to_string(port) + "  &\n");
    want_Host_syntax = 1;
    s = shown_command(Serveurs_Type(0), nullptr, nullptr, port, true);
    EXPECT_EQ(s, "/opt/tesk/serveur  127.0.0.1 " + std::to_string(port) + " >/dev/null 2>/dev/null &\n");
    want_Host_syntax = 0;
    s = shown_command(Serveurs_Type(3), nullptr, nullptr, port);
    EXPECT_EQ(s, "serveur calc " + std::to_string(port) + "\n");
    s = shown_command(Serveurs_Type(12), nullptr, nullptr, port);
    EXPECT_EQ(s, "serveur calc " + std::to_string(port) + " &\n");
    s = shown_command(Serveurs_Type(9), nullptr, nullptr, port);
    EXPECT_EQ(s, "not running mode\n");

    want_pipe2 = 0;
    testing::internal::CaptureStdout();
    {
        BUS b("/abs/x y", nullptr, nullptr, Serveurs_Type(7), 1, nullptr);
        port = b.port;
        b.kill();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "#C '/abs/x y' -slave 127.0.0.1 " + std::to_string(port) + "  &\n");
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
    FILE* f = fopen(script.c_str(), "w");
    fputs(kPeer, f);
    fclose(f);
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

    // A non-blocking listener (13) is polled by the caller instead.
    BUS p("peer", nullptr, nullptr, Serveurs_Type(13), 0, nullptr);
    EXPECT_FALSE(p.valid);
    int ok = 0;
    for (int i = 0; i < 20 && !ok; ++i) ok = p.wait_connection(1);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(p.wait_connection(1), 0);  // already connected
    p << MSG_TESK_LOOPBACK;
    p.flush();
    Messages m;
    p >> m;
    EXPECT_EQ(m, MSG_TESK_LOOPBACK);
    p.kill();
}

TEST_F(TeskBus, WaitingForAnAbsentPeerGivesUp) {
    setenv("TESKDEBUG", "1", 1);
    want_pipe2 = 1;
    FILE* c = tmpfile();
    tesk_stderr = c;
    set_home("/opt/tesk");
    BUS b("serveur", nullptr, nullptr, Serveurs_Type(13), 0, nullptr);
    EXPECT_EQ(b.wait_connection(0), 0);
    EXPECT_FALSE(b.valid);

    // A peer that describes itself and ends the handshake with [5].
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((std::uint16_t)b.port);
    ASSERT_EQ(connect(s, (sockaddr*)&a, sizeof a), 0);
    const unsigned char hello[] = {0, 0, 0, 72, 0, 0, 1, 0, 0, 0, 0, 5};
    ASSERT_EQ(write(s, hello, sizeof hello), (ssize_t)sizeof hello);
    EXPECT_EQ(b.wait_connection(0), 1);
    EXPECT_EQ(b.describe, 256u);
    EXPECT_EQ(b.pid, -1);
    b.kill();
    unsigned char quit[4] = {};
    EXPECT_EQ(read(s, quit, 4), 4);
    EXPECT_EQ(quit[3], 3);
    close(s);
    fclose(c);
}

}  // namespace
