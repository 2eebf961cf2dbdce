// A listening TCP socket on the loopback address, for channel tests.
#ifndef QUOR_TESTS_SUPPORT_LOOPBACK_H
#define QUOR_TESTS_SUPPORT_LOOPBACK_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace quor_test {

// A socket listening on 127.0.0.1 at a port the system chooses (into port); -1 on failure.
inline int listen_loopback(int& port) {
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

}  // namespace quor_test

#endif
