// The tesk-server program run by the tests: in file mode with arguments, and
// in peer mode fed a byte stream over loopback.
#ifndef QUOR_TESTS_SUPPORT_TESK_SERVER_RUN_H
#define QUOR_TESTS_SUPPORT_TESK_SERVER_RUN_H

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tesk/base/bus.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tesk_peer.h"
#include "tests/support/text_file.h"

namespace tesk_server_run {

using tesk::BUS;
using tesk::Messages;

inline std::string read_file(const std::string& p) { return quor_test::slurp(p); }

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

// The server with these arguments (and environment assignments before
// them), its standard output and error together.
inline Result server(const quor_test::TempDir& d, const std::string& args, const std::string& env = "") {
    const std::string out = d / "out.txt";
    const std::string cmd = env + " " + std::string(TESK_SERVER_PATH) + " " + args + " >" + out + " 2>&1 </dev/null";
    const int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(out)};
}

inline void expect_code(BUS& b, Messages want) {
    Messages m;
    b >> m;
    EXPECT_EQ(m, want);
}

// Peer mode: the stream fed over loopback (tests/support/tesk_peer.h).
using quor_test::feed_peer;
using quor_test::Peer_Run;

}  // namespace tesk_server_run

#endif
