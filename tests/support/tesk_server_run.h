// The tesk-server program run by the tests: in file mode with arguments, and
// in peer mode fed a byte stream over loopback.
#ifndef QUOR_TESTS_SUPPORT_TESK_SERVER_RUN_H
#define QUOR_TESTS_SUPPORT_TESK_SERVER_RUN_H

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tesk/base/bus.h"
#include "tesk/poly/protocol.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_peer.h"
#include "tests/support/text_file.h"

namespace tesk_server_run {

using tesk::BUS;
using tesk::Messages;

inline std::string read_file(const std::string& p) { return quor_test::slurp(p); }

inline void write_file(const std::string& p, const std::string& text) {
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);  // bytes too: NULs included
    std::fclose(f);
}

struct Result {
    int status;  // exit status, -1 when killed by a signal
    std::string out;
};

// The server with these arguments (and environment assignments before
// them), its standard output and error together.
inline Result server(const quor_test::TempDir& d, const std::string& args, const std::string& env = "",
                     unsigned seconds = 60) {
    const std::string out = d / "out.txt";
    // Bounded: a server that does not end fails the test (status 124) instead of hanging it.
    const std::string cmd = env + " timeout " + std::to_string(seconds) + " " + std::string(TESK_SERVER_PATH) + " " +
                            args + " >" + out + " 2>&1 </dev/null";
    const int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(out)};
}

// The last line of out (an error, when there is one), at most 200 bytes.
inline std::string last_line(const std::string& out) {
    std::string s = out.substr(0, out.find_last_not_of('\n') + 1);
    s = s.substr(s.rfind('\n') == std::string::npos ? 0 : s.rfind('\n') + 1);
    return s.substr(0, 200);
}

inline double cpu_seconds_of_children() {
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// A bounded run of the server (status 124 past the seconds) with its wall
// clock and CPU seconds: the differentials report their slowest runs.
struct Timed {
    Result r;
    double wall, cpu;
};

inline Timed timed_server(const quor_test::TempDir& d, const std::string& args, unsigned seconds) {
    const double cpu = cpu_seconds_of_children();
    const auto t0 = std::chrono::steady_clock::now();
    Result r = server(d, args, "", seconds);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - t0;
    return {std::move(r), wall.count(), cpu_seconds_of_children() - cpu};
}

inline void expect_code(BUS& b, Messages want) {
    Messages m;
    b >> m;
    EXPECT_EQ(m, want);
}

// Whether the process pid has ended (within 3 s).
inline bool gone(int pid) {
    for (int i = 0; i < 300; ++i, usleep(10000)) {
        const std::string st = read_file("/proc/" + std::to_string(pid) + "/stat");
        if (st.empty() || st.find(") Z ") != std::string::npos) return true;
    }
    return false;
}

// The domain of instance I over n variables set up here and sent to the
// peer, which accepts each of its items.
template <class I>
void send_domain(BUS& b, unsigned n) {
    tesk_poly_model::sugar_set_up<I>(n);
    tesk::poly::Wire<I>::out_domain_protocol(b);
    b.flush();
    const int items = I::D::kOnHeap ? 3 : 2;  // [13] [172] [173] or [85] [9]
    for (int i = 0; i < items; ++i) expect_code(b, tesk::MSG_TESK_OK);
}

// The end code: the peer answers it and its process ends.
inline void quit_peer(BUS& b) {
    const int pid = b.pid;
    b << tesk::MSG_TESK_QUIT;
    b.flush();
    expect_code(b, tesk::MSG_TESK_OK);
    EXPECT_TRUE(gone(pid));
    b.pid = -1;
    b.kill();
}

// Peer mode: the stream fed over loopback (tests/support/tesk_peer.h).
using quor_test::feed_peer;
using quor_test::Peer_Run;

}  // namespace tesk_server_run

#endif
