// The server's main program: options, then file mode or peer mode (server.h).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tesk/base/front_end.h"
#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/server/server.h"

namespace tesk::server {

namespace {

std::vector<BUS*>& held() {
    static std::vector<BUS*> channels;
    return channels;
}

// Taken off the list before closing, so that an end raised while closing
// does not close them again.
void close_channels() {
    std::vector<BUS*> channels;
    channels.swap(held());
    vgf::bin_save_file = gfc::bin_save_file = nullptr;
    for (BUS* b : channels) {
        b->kill();
        delete b;
    }
}

// Every end of the process, fatal ones included, closes the channels first.
void exit_hook(int status, const char*) {
    close_channels();
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace

void hold_channel(BUS* b) { held().push_back(b); }

void end_server(int status) {
    close_channels();
    close_file();
    tesk_exit(status, "");
}

}  // namespace tesk::server

int main(int argc, char** argv) {
    using namespace tesk;
    using namespace tesk::server;
    set_exit_hook(exit_hook);
    std::signal(SIGPIPE, SIG_IGN);  // a peer that went away is a failed write, reported as such
    want_quiet = 1;  // no memory or trace lines among the results
    human_user = 0;  // a file that cannot be opened is an error, not a question
    init_admin();
    Fortran.attach(stdout);
    Posso.attach(stdout);
    lisp_file = stdout;
    const Options o = parse_options(argc, argv);
    int status;
    if (o.input)
        status = o.build == Build::Vector ? run_file<poly::BigDexp__VGF>(o) : run_file<poly::DRLDRL__GFC>(o);
    else
        status = run_peer(o);
    end_server(status);
}
