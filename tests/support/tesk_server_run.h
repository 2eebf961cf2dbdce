// The tesk-server program run by the tests: in file mode with arguments, and
// in peer mode fed a byte stream over loopback.
#ifndef QUOR_TESTS_SUPPORT_TESK_SERVER_RUN_H
#define QUOR_TESTS_SUPPORT_TESK_SERVER_RUN_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tesk/base/bus.h"
#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"

namespace tesk_server_run {

using tesk::BUS;
using tesk::Messages;

inline std::string read_file(const std::string& p) {
    std::string s;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
        std::fclose(f);
    }
    return s;
}

inline void write_file(const std::string& p, const std::string& text) {
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
inline Result server(const quor_test::TempDir& d, const std::string& args) {
    const std::string out = d / "out.txt";
    const std::string cmd = std::string(TESK_SERVER_PATH) + " " + args + " >" + out + " 2>&1 </dev/null";
    const int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(out)};
}

inline void expect_code(BUS& b, Messages want) {
    Messages m;
    b >> m;
    EXPECT_EQ(m, want);
}

// What a server in peer mode did with a stream: its exit status (-1 for a
// signal, -2 for a hang, killed), its log and its answers.
struct Peer_Run {
    int status;
    std::string log, answers;
};

inline Peer_Run feed_peer(const quor_test::TempDir& d, const std::string& bytes) {
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
        const int c = accept(ls, nullptr, nullptr);
        unsigned char hello[8];
        if (recv(c, hello, 8, MSG_WAITALL) == 8 && hello[3] == 35) {
            (void)!send(c, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            shutdown(c, SHUT_WR);
            char buf[4096];
            for (pollfd q{c, POLLIN, 0}; poll(&q, 1, 10000) == 1;) {
                const ssize_t k = recv(c, buf, sizeof buf, 0);
                if (k <= 0) break;
                r.answers.append(buf, size_t(k));
            }
        }
        close(c);
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

}  // namespace tesk_server_run

#endif
