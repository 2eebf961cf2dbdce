// A Tesk server in peer mode fed a byte stream over loopback, for the tests
// of its command interpreter.
#ifndef QUOR_TESTS_SUPPORT_TESK_PEER_H
#define QUOR_TESTS_SUPPORT_TESK_PEER_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/loopback.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_file.h"

namespace quor_test {

// What a server in peer mode did with a stream: its exit status (-1 for a
// signal, -2 for a hang, killed), its log and its answers.
struct Peer_Run {
    int status;
    std::string log, answers;
};

// Starts TESK_SERVER_PATH as a peer of a loopback socket, sends it bytes,
// closes the writing side and reads its answers until it ends (10 s at most).
// With hang_up the peer closes its end as soon as it has sent the bytes,
// reading none of the answers.
inline Peer_Run feed_peer(const TempDir& d, const std::string& bytes, bool hang_up = false) {
    const std::string log = d / "log";
    int port = 0;
    const int ls = listen_loopback(port);
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
            } else {
                shutdown(c, SHUT_WR);
            }
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
    r.log = slurp(log);
    return r;
}

}  // namespace quor_test

#endif
