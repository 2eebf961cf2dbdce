// The server's main program: options, then file mode or peer mode (server.h).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tesk/base/front_end.h"
#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/server/server.h"

namespace tesk::server {

namespace {

std::vector<BUS*>& held() {
    static std::vector<BUS*> channels;
    return channels;
}

// The save file being written: its channel on the temporary beside it.
struct Save {
    std::string path, tmp;
    WBUS* bus = nullptr;
    bool pending = false;  // the temporary exists
} save;

// keep: the save channel is flushed and closed and the temporary becomes
// the save file (false when that fails); else the temporary is only
// removed, nothing more is written: the process is ending in a failure.
bool close_save(bool keep) {
    if (!save.pending) return true;
    bool ok = false;
    if (keep) {
        WBUS* b = save.bus;
        save.bus = nullptr;
        vgf::bin_save_file = gfc::bin_save_file = nullptr;
        b->kill();  // a failed write ends fatally, and the exit hook removes the temporary
        delete b;
        ok = std::rename(save.tmp.c_str(), save.path.c_str()) == 0;
    }
    if (!ok) std::remove(save.tmp.c_str());
    save.pending = false;
    return ok || !keep;
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

// Every end of the process, fatal ones included, closes the channels first;
// a save file not completed by a successful end is dropped.
void exit_hook(int status, const char*) {
    close_save(false);
    close_channels();
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace

void hold_channel(BUS* b) { held().push_back(b); }

void open_save(const char* path, Build build) {
    save.path = path;
    save.tmp = save.path + ".XXXXXX";
    const int fd = mkstemp(save.tmp.data());
    if (fd < 0) Fatal("Can't open the save file %s: %s\n", path, std::strerror(errno));
    close(fd);
    WBUS* w = new WBUS(save.tmp.c_str());
    if (!w->valid || chmod(save.tmp.c_str(), 0644) != 0) {
        std::remove(save.tmp.c_str());
        delete w;
        Fatal("Can't open the save file %s\n", path);
    }
    save.bus = w;
    save.pending = true;
    if (build == Build::Vector)
        vgf::bin_save_file = w;
    else
        gfc::bin_save_file = w;
}

void end_server(int status) {
    if (!close_save(status == 0)) Fatal("Can't write the save file %s\n", save.path.c_str());
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
    // No memory or trace lines among the results: the square matrices of the
    // change of ordering read want_pipe for that, the rest want_quiet.
    want_quiet = 1;
    want_pipe = 1;
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
