// Binary channel of the Tesk engine.
#include "tesk/base/bus.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tesk/base/switches.h"

namespace tesk {

// ---------------------------------------------------------------------------
// Byte order

namespace {

// Protocol position of each memory byte of a machine value.
unsigned char pos16[2];
unsigned char pos32[4];
bool protocol_ready = false;

void cleanup_protocol() {}

class Init_Protocol {
public:
    Init_Protocol() { C__initProtocol(); }
};

int sizeOfLong = 8;

}  // namespace

void C__initProtocol() {
    if (protocol_ready) return;
    sizeOfLong = 8;
    const std::uint16_t probe16 = 0x0201;
    const std::uint32_t probe32 = 0x04030201;
    unsigned char m[4];
    memcpy(m, &probe16, 2);
    for (int i = 0; i < 2; ++i) pos16[i] = (unsigned char)(2 - m[i]);
    memcpy(m, &probe32, 4);
    for (int i = 0; i < 4; ++i) pos32[i] = (unsigned char)(4 - m[i]);
    protocol_ready = true;
    if (atexit(cleanup_protocol) != 0) perror("atexit ");
}

namespace {
Init_Protocol dummy_Init_Protocol;

// Wire order: byte i of a word in memory goes to place pos[i] on the wire.
template <class W>
inline void to_wire(unsigned char* dst, W w, const unsigned char (&pos)[sizeof(W)]) {
    unsigned char m[sizeof(W)];
    memcpy(m, &w, sizeof(W));
    for (std::size_t i = 0; i < sizeof(W); ++i) dst[pos[i]] = m[i];
}
template <class W>
inline W from_wire(const unsigned char* src, const unsigned char (&pos)[sizeof(W)]) {
    unsigned char m[sizeof(W)];
    for (std::size_t i = 0; i < sizeof(W); ++i) m[i] = src[pos[i]];
    W w;
    memcpy(&w, m, sizeof(W));
    return w;
}
inline void to_wire32(unsigned char* dst, std::uint32_t w) { to_wire(dst, w, pos32); }
inline std::uint32_t from_wire32(const unsigned char* src) { return from_wire<std::uint32_t>(src, pos32); }
inline void to_wire16(unsigned char* dst, std::uint16_t h) { to_wire(dst, h, pos16); }
inline std::uint16_t from_wire16(const unsigned char* src) { return from_wire<std::uint16_t>(src, pos16); }

// The whole words of nbytes bytes at p, each read from memory and sent by put.
template <class W, class Put>
void put_words(const void* p, int nbytes, Put put) {
    const unsigned char* q = (const unsigned char*)p;
    for (int i = 0; i < nbytes / (int)sizeof(W); ++i) {
        W w;
        memcpy(&w, q + sizeof(W) * i, sizeof(W));
        put(w);
    }
}

const char* or_empty(const char* s) { return s ? s : ""; }
bool is_set(const char* s) { return s && *s; }
const char* this_host() { return host_name ? host_name : "localhost"; }
const char* where(const char* remote) { return is_set(remote) ? remote : "local"; }

// A word for a shell command line: unchanged when it holds only characters
// the shell takes literally, quoted otherwise, so no name can run commands.
std::string shell_word(const char* s) {
    s = or_empty(s);
    bool plain = *s != 0;
    for (const char* p = s; *p && plain; ++p) {
        char c = *p;
        plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                strchr("_@%+=:,./-", c) != nullptr;
    }
    if (plain) return s;
    std::string out = "'";
    for (const char* p = s; *p; ++p) {
        if (*p == '\'')
            out += "'\\''";
        else
            out += *p;
    }
    return out + "'";
}
std::string shell_word(const std::string& s) { return shell_word(s.c_str()); }

// A program path: as shell_word, but a leading "~" or "~user" stays unquoted
// so that the shell still expands it.
std::string shell_path(const std::string& path) {
    if (path.empty() || path[0] != '~') return shell_word(path);
    std::size_t slash = path.find('/');
    std::string prefix = path.substr(0, slash);
    for (std::size_t i = 1; i < prefix.size(); ++i) {
        char c = prefix[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '.' || c == '-';
        if (!ok) return shell_word(path);
    }
    if (slash == std::string::npos || slash + 1 == path.size()) return path.substr(0, slash == std::string::npos ? slash : slash + 1);
    return prefix + "/" + shell_word(path.substr(slash + 1));
}

// Always quoted: the words rsh hands on to the remote shell are quoted once
// more for it.
std::string shell_quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool debug_switch() { return getenv("TESKDEBUG") != nullptr; }

// Writes to a pipe or file whose reader may be gone: EPIPE is reported as an
// error instead of a SIGPIPE that would end the process behind the exit hook.
ssize_t write_no_sigpipe(int fd, const void* p, std::size_t n) {
    sigset_t pipe_set, old, pending;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    sigemptyset(&pending);
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old);
    ssize_t r = write(fd, p, n);
    const int e = errno;
    if (r < 0 && e == EPIPE && !was_pending) {
        struct timespec zero = {0, 0};
        sigtimedwait(&pipe_set, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = e;
    return r;
}

[[noreturn]] void socket_error() {
    if (want_Host_syntax) Fatal("\n");
    Fatal("socket error\n");
}

void sys_perror(const char* what) {
    if (!want_Host_syntax) perror(what);
}

// fd := a new TCP socket (closed on exec); failure is fatal.
void open_stream_socket(int& fd) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        sys_perror("opening stream socket");
        socket_error();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

BUS::BUS() { C__initProtocol(); }

BUS::BUS(int fd) : BUS() { attach(fd); }

void BUS::attach(int fd) {
    fd0 = fd1 = fd;
    name = host = "";
    x_out = x_in = max_in = stream_len = 0;
    spawned = 0;
    valid = 1;
    port = pid = -1;
    remote_ = nullptr;
    describe = 0;
    can_write_ = 1;
    struct stat st;
    is_socket_ = fd >= 0 && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

void BUS::make_invalid() {
    fd0 = fd1 = -1;
    valid = 0;
    x_out = x_in = max_in = stream_len = 0;
}

RBUS::RBUS(const char* path) {
    path = or_empty(path);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror("open");
        Erreur("Can't open %s !\n", path);
        make_invalid();
        can_write_ = 0;
        return;
    }
    attach(fd);
    can_write_ = 0;
}

WBUS::WBUS(const char* path) {
    path = or_empty(path);
    // Truncated: a shorter write must not leave the tail of an older file behind.
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (fd < 0) {
        perror("open");
        Erreur("Can't open %s !\n", path);
        make_invalid();
        return;
    }
    attach(fd);
    if (fchmod(fd, 0700) != 0) {
        perror("chmod");
        Erreur("Can't change mode %s !\n", path);
    }
}

RCBUS::RCBUS(const char* path) {
    path = or_empty(path);
    // "--": a name starting with '-' is a file, not an option of gzip.
    std::string cmd = std::string("gzip -cd -- ") + shell_word(path);
    // gzip would start on a missing file and give an empty stream: refuse it here.
    FILE* p = access(path, R_OK) == 0 ? popen(cmd.c_str(), "r") : nullptr;
    if (!p) Fatal("Can't popen (r) %s\n", cmd.c_str());
    attach(fileno(p));
    gz_pipe = p;
}

WCBUS::WCBUS(const char* path) {
    std::string target = std::string(or_empty(path)) + ".gz";
    std::string cmd = "gzip -c > " + shell_word(target);
    // The shell's redirection would fail after the data is in the pipe: make
    // sure the file can be written before anything is sent.
    int probe = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FILE* p = nullptr;
    if (probe >= 0) {
        close(probe);
        p = popen(cmd.c_str(), "w");
    }
    if (!p) Fatal("Can't popen (w) %s\n", cmd.c_str());
    attach(fileno(p));
    gz_pipe = p;
    gz_write = 1;
}

BUS::BUS(int port_, const char* host_) : BUS() { connect_client(port_, host_, 2); }

BUS::BUS(int port_, const char* host_, Boolean lisp) : BUS() {
    connect_client(port_, host_, lisp == 1 ? 3 : 1);
}

// form 2: the two-argument client; 1: the three-argument one; 3: the same for a Lisp peer.
void BUS::connect_client(int port_, const char* host_, int form) {
    name = "serveur";
    host = or_empty(host_);
    x_out = x_in = max_in = stream_len = 0;
    spawned = valid = 0;
    port = port_;
    pid = -1;
    remote_ = nullptr;
    describe = 0;
    can_write_ = 1;

    open_stream_socket(fd0);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (const int e = getaddrinfo(host, nullptr, &hints, &res); e != 0 || !res) {
        if (res) freeaddrinfo(res);
        close(fd0);
        fd0 = -1;
        if (form == 2) {
            // The resolver's own reason: errno does not hold it.
            const char* why = e == 0 ? "no address" : e == EAI_SYSTEM ? strerror(errno) : gai_strerror(e);
            fprintf(stderr, "gethostbyname : %s\n", why);
            fprintf(stdout, "%s: unknown host\n", host);
        } else {
            fprintf(stdout, "%s: unknown host0", host);
        }
        fflush(stdout);
        tesk_exit(2, "unknown host");
    }
    struct sockaddr_in addr;
    memcpy(&addr, res->ai_addr, sizeof addr);
    freeaddrinfo(res);
    addr.sin_port = htons((std::uint16_t)port_);
    int r;
    do {
        r = connect(fd0, (struct sockaddr*)&addr, sizeof addr);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        sys_perror(form == 2 ? "connecting stream socket (2)" : "connecting stream socket (1)");
        close(fd0);
        fd0 = -1;
        socket_error();
    }
    fd1 = fd0;
    is_socket_ = true;
    valid = 1;
    if (form == 3) {
        use_for_Lisp();
    } else {
        *this << MSG_TESK_PID;
        put32((std::uint32_t)getpid());
        flush();
    }
}

BUS::BUS(const char* name_, const char* /*ignored*/, const char* remote_host, Serveurs_Type type,
         Boolean no_wait, const char* remote_user)
    : BUS() {
    name = or_empty(name_);
    host = this_host();
    spawned = 1;
    valid = 0;
    remote_ = remote_host;
    const bool debug = debug_switch();
    const bool on_remote = is_set(remote_host);

    const int t = (int)type;
    const bool shown_only = t == 3 || t == 4 || t == 12 || t == 9 || t == 17 || t < 0 || t >= 20;
    // A peer started here calls back on the loopback address, so nobody else
    // on the network can pose as it; a peer elsewhere (remote, or started by
    // hand from the shown command) needs every address.
    const bool local_only = !on_remote && !shown_only;

    open_stream_socket(fd0);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(local_only ? INADDR_LOOPBACK : INADDR_ANY);
    addr.sin_port = 0;
    if (bind(fd0, (struct sockaddr*)&addr, sizeof addr) < 0) {
        sys_perror("binding stream socket");
        socket_error();
    }
    socklen_t len = sizeof addr;
    if (getsockname(fd0, (struct sockaddr*)&addr, &len) < 0) {
        sys_perror("getting socket name");
        socket_error();
    }
    port = ntohs(addr.sin_port);
    listen(fd0, 5);
    // The accept loop counts its attempts itself: it never blocks for ever.
    fcntl(fd0, F_SETFL, fcntl(fd0, F_GETFL) | O_NONBLOCK);

    const char* redirection = want_Host_syntax && !want_Host_show ? ">/dev/null 2>/dev/null" : "";
    const char* background = " &";
    char buf[64];
    std::string command;
    const char* option = nullptr;
    switch (t) {
        case 3:
            snprintf(buf, sizeof buf, " %d", port);
            command = std::string(name) + " " + this_host() + buf;
            break;
        case 4:
        case 12:
            snprintf(buf, sizeof buf, " %d%s", port, background);
            command = std::string(name) + " " + this_host() + buf;
            break;
        case 5: option = "-assist"; break;
        case 7: option = "-slave"; break;
        case 10: option = "-master"; break;
        case 0: case 1: case 2: case 6: case 8: case 11: case 13: case 14: case 15: case 16:
        case 18: case 19:
            option = "";
            break;
        default: command = "not running mode"; break;
    }

    bool run = false;
    if (option) {
        const char* home = get_TESKHOME();
        std::string path = (name[0] == '/' || name[0] == '~' || name[0] == '-')
                               ? std::string(name)
                               : std::string(or_empty(home)) + "/" + name;
        snprintf(buf, sizeof buf, "%d", port);
        if (on_remote) {
            // rsh joins its arguments into one line for the remote shell: the
            // words it passes on are quoted for that shell as well.
            std::string tail = std::string(" exec ") + shell_quoted(shell_path(path)) + " " + option +
                               " " + shell_word(shell_word(this_host())) + " " + buf + " " +
                               redirection + background;
            if (is_set(remote_user))
                command = "rsh -l " + shell_word(remote_user) + " " + shell_word(remote_host) + tail;
            else
                command = "rsh " + shell_word(remote_host) + tail;
        } else {
            command = shell_path(path) + " " + option + " 127.0.0.1 " + buf + " " + redirection +
                      background;
        }
        run = !debug;
    }

    if (run) {
        fflush(nullptr);
        if (system(command.c_str()) != 0) {
            perror("system: ");
            Erreur("Can't run %s\n", command.c_str());
            return;
        }
    } else if (want_pipe2) {
        if (tesk_stderr) {
            fprintf(tesk_stderr, "%s\n", command.c_str());
            fflush(tesk_stderr);
        }
    } else {
        fprintf(stdout, "#C %s\n", command.c_str());
        fflush(stdout);
    }

    fd1 = -1;
    if (t == 13) return;
    if (no_wait != 1) wait_connection(Boolean(1));
}

// ---------------------------------------------------------------------------
// Writing

void BUS::write_out(const unsigned char* p, std::size_t n) {
    if (!can_write_) return;  // a read-only channel counts the bytes as written
    while (n > 0) {
        ssize_t r = is_socket_ ? send(fd1, p, n, MSG_NOSIGNAL) : write_no_sigpipe(fd1, p, n);
        if (r >= 0) {
            p += r;
            n -= (std::size_t)r;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            struct pollfd pf = {fd1, POLLOUT, 0};
            poll(&pf, 1, -1);
            continue;
        }
        // On the way out of a fatal end what cannot be written is dropped:
        // failing again would start the end again from within itself.
        if (Fatal_loop) {
            can_write_ = 0;
            return;
        }
        if (want_Host_syntax) Fatal("\n");
        perror("write: ");
        Fatal("Error I/O (write)\n");
    }
}

void BUS::put32(std::uint32_t w) {
    if (x_out > BUS_BUFFER_SIZE - 5) flush();
    to_wire32(out_buf + x_out, w);
    x_out += 4;
}

void BUS::put16(std::uint16_t h) {
    if (x_out >= BUS_BUFFER_SIZE - 2) flush();
    to_wire16(out_buf + x_out, h);
    x_out += 2;
}

void BUS::put8(unsigned char c) {
    if (x_out >= BUS_BUFFER_SIZE - 1) flush();
    out_buf[x_out++] = c;
}

void BUS::flush() {
    if (x_out == 0) return;
    if (stream_len >= 1) {
        close_chunk();
        begin_chunk();
        return;
    }
    if (valid) write_out(out_buf, x_out);
    x_out = 0;
}

void BUS::begin_chunk() {
    put32(MSG_TESK_stream);
    put32(0);  // the length, filled in when the chunk closes
    stream_len = 0;
}

void BUS::close_chunk() {
    out_buf[x_out++] = 0;  // may take the spare byte
    ++stream_len;
    to_wire32(out_buf + 4, stream_len);
    // The whole chunk goes out: a short write would cut the stream.
    if (valid && can_write_) write_out(out_buf, x_out);
    x_out = 0;
    stream_len = 0;
}

void BUS::begin_stream() {
    flush();
    begin_chunk();
}

void BUS::ecrire_string(const char* p, int n) {
    for (int i = 0; i < n; ++i) {
        if (x_out > BUS_BUFFER_SIZE - 1) flush();
        out_buf[x_out++] = (unsigned char)p[i];
        ++stream_len;
    }
}

void BUS::end_stream() {
    close_chunk();
    put32(MSG_TESK_OK);
    flush();
}

BUS& BUS::operator<<(Messages m) {
    put32(m);
    return *this;
}

BUS& BUS::operator<<(int v) {
    put32(MSG_TESK_int);
    put32((std::uint32_t)v);
    return *this;
}

BUS& BUS::operator<<(float f) {
    std::uint32_t w;
    memcpy(&w, &f, 4);
    put32(MSG_TESK_float);
    put32(w);
    return *this;
}

BUS& BUS::operator<<(const char* s) {
    if (s)
        for (; *s; ++s) put8((unsigned char)*s);
    return *this;
}

void BUS::out_Atome(const char* s, unsigned n) {
    s = or_empty(s);
    if (n == 0) n = (unsigned)strlen(s);
    put32(MSG_TESK_Atome);
    put32(n);
    for (unsigned i = 0; i < n; ++i) put8((unsigned char)s[i]);
}

void BUS::sendIndice(unsigned n, const unsigned short* v) {
    put32(MSG_TESK_ARRAY_Indices);
    put32(n);
    for (unsigned i = 0; i < n; ++i) put16(v[i]);
}

void BUS::ecrirei(const void* p, int nbytes) {
    put_words<std::uint32_t>(p, nbytes, [this](std::uint32_t w) { put32(w); });
}

void BUS::ecrires(const void* p, int nbytes) {
    put_words<std::uint16_t>(p, nbytes, [this](std::uint16_t h) { put16(h); });
}

void BUS::ecrirec(const void* p, int n) {
    const unsigned char* q = (const unsigned char*)p;
    for (int i = 0; i < n; ++i) put8(q[i]);
}

// ---------------------------------------------------------------------------
// Reading

void BUS::refill() {
    if (!valid) Fatal("Try to read on invalid socket !\n");
    for (;;) {
        struct pollfd pf = {fd1, POLLIN, 0};
        int r = poll(&pf, 1, -1);
        if (r > 0 || (r < 0 && errno != EINTR)) break;
    }
    ssize_t r;
    do {
        r = read(fd1, in_buf, BUS_BUFFER_SIZE);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        if (want_Host_syntax) Fatal("\n");
        perror("reading stream");
        Fatal("socket error with %s on %s\n", or_empty(name), where(remote_));
    }
    if (r == 0) {
        // The readers expect a whole item: a missing one is an error, not zeros.
        if (want_Host_syntax) Fatal("\n");
        Fatal("Unexpected end of data with %s on %s\n", is_set(name) ? name : "channel", where(remote_));
    }
    x_in = 0;
    max_in = (std::uint32_t)r;
}

void BUS::get_bytes(unsigned char* dst, std::size_t n) {
    while (n > 0) {
        if (x_in >= max_in) refill();
        std::size_t k = max_in - x_in;
        if (k > n) k = n;
        memcpy(dst, in_buf + x_in, k);
        x_in += (std::uint32_t)k;
        dst += k;
        n -= k;
    }
}

std::uint32_t BUS::get32() {
    unsigned char b[4];
    get_bytes(b, 4);
    return from_wire32(b);
}

std::uint16_t BUS::get16() {
    unsigned char b[2];
    get_bytes(b, 2);
    return from_wire16(b);
}

unsigned char BUS::get8() {
    if (x_in >= max_in) refill();
    return in_buf[x_in++];
}

BUS& BUS::operator>>(Messages& m) {
    m = (Messages)get32();
    return *this;
}

BUS& BUS::operator>>(int& v) {
    get32();
    v = (int)get32();
    return *this;
}

BUS& BUS::operator>>(float& f) {
    get32();
    std::uint32_t w = get32();
    memcpy(&f, &w, 4);
    return *this;
}

unsigned BUS::receive(unsigned short* dst, unsigned max) {
    get32();
    unsigned n = get32();
    if (n > max) Fatal("Too many indices: %u (room for %u)\n", n, max);
    for (unsigned i = 0; i < n; ++i) dst[i] = get16();
    return n;
}

char* BUS::parse_Atome(Messages first) {
    if (first == 1) get32();
    std::uint32_t n = get32();
    char* s = new (std::nothrow) char[(std::size_t)n + 1];
    if (!s) Fatal("No memory for an atom of %u bytes\n", n);
    get_bytes((unsigned char*)s, n);
    s[n] = 0;
    return s;
}

void BUS::lirei(void* p, int nbytes) {
    unsigned char* q = (unsigned char*)p;
    for (int i = 0; i < nbytes / 4; ++i) {
        std::uint32_t w = get32();
        memcpy(q + 4 * i, &w, 4);
    }
}

void BUS::lires(void* p, int nbytes) {
    unsigned char* q = (unsigned char*)p;
    for (int i = 0; i < nbytes / 2; ++i) {
        std::uint16_t h = get16();
        memcpy(q + 2 * i, &h, 2);
    }
}

void BUS::lirec(void* p, int n) {
    if (n > 0) get_bytes((unsigned char*)p, (std::size_t)n);
}

void BUS::read_line(unsigned max, char* dst) {
    if (max == 0) return;
    unsigned i = 0;
    while (i + 1 < max) {
        char c = (char)get8();
        if (c == '\n') break;
        dst[i++] = c;
    }
    dst[i] = 0;
}

void BUS::next_line(unsigned max, char* dst) {
    do {
        read_line(max, dst);
    } while (max > 0 && dst[0] == '%');
}

unsigned BUS::fill_buffer(char* dst, unsigned max) {
    if (x_in >= max_in) refill();
    unsigned n = max_in - x_in;
    if (n > max) n = max;
    memcpy(dst, in_buf + x_in, n);
    x_in += n;
    dst[n] = '\n';
    dst[n + 1] = 0;
    return n + 1;
}

char* BUS::in_buffer(unsigned n) {
    char* p = (char*)in_buf + x_in;
    x_in = n < max_in - x_in ? x_in + n : max_in;
    return p;
}

// ---------------------------------------------------------------------------
// Connection of a started peer

namespace {
// Wait of the n-th accept attempt: growing, so a slow peer has time, yet the
// seven attempts of wait_connection end within seconds.
int attempt_wait_ms(int n) { return n < 10 ? 300 * n : 3000; }
}  // namespace

// The accepted descriptor, or -1 when no peer came within wait_ms (EAGAIN).
int BUS::accept_attempt(int wait_ms) {
    struct pollfd pf = {fd0, POLLIN, 0};
    if (poll(&pf, 1, wait_ms) < 0 && errno != EINTR) {
        perror("accept");
        Fatal("socket error\n");
    }
    int fd = accept4(fd0, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        // The data descriptor blocks; only the listening socket polls.
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return -1;
    perror("accept");
    Fatal("socket error\n");
}

void BUS::handshake() {
    valid = 1;
    is_socket_ = true;
    for (;;) {
        std::uint32_t m = get32();
        if (m == MSG_TESK_OK) break;
        if (m == MSG_TESK_PID) {
            pid = (int)get32();
            break;
        }
        if (m == MSG_TESK_DESCRIBE) {
            describe = get32();
            continue;
        }
        Output("Unknown %u message !", m);
    }
}

void BUS::wait_connection(Boolean verbose) {
    if (valid) return;
    if (fd0 < 0) Fatal("Try to read on invalid socket !\n");
    int failures = 0;
    while (fd1 < 0) {
        int fd = accept_attempt(attempt_wait_ms(failures + 1));
        if (fd >= 0) {
            fd1 = fd;
            break;
        }
        ++failures;
        if (failures == 3)
            Warning("Trying to connect ...");
        else if (failures >= 4 && failures <= 6)
            Output("\nWarning: Trying to connect again ...");
        else if (failures >= 7) {
            Output("\nError Timeout in trying to connect socket %s:%s\n", or_empty(remote_), or_empty(name));
            if (!debug_switch()) return;
        }
    }
    if (failures > 2) Output("done\n");
    if (verbose && !want_Host_syntax && !want_quiet)
        Output("Connection established with %s on %s\n", or_empty(name),
               is_set(remote_) ? remote_ : this_host());
    handshake();
}

int BUS::wait_connection(int max_tries) {
    if (valid) return 0;
    if (fd0 < 0) return 0;
    int failures = 0;
    while (fd1 < 0) {
        int fd = accept_attempt(100);
        if (fd >= 0) {
            fd1 = fd;
            break;
        }
        if (failures >= max_tries + 1) return 0;
        ++failures;
    }
    if (failures > 2) Output("done\n");
    handshake();
    return 1;
}

// ---------------------------------------------------------------------------
// Other operations

void BUS::kill() {
    if (spawned) {
        *this << MSG_TESK_QUIT;
        flush();
        if (fd1 >= 0) close(fd1);
        if (fd0 >= 0 && fd0 != fd1) close(fd0);
        if (pid > 0) {
            if (is_set(remote_)) {
                char buf[32];
                snprintf(buf, sizeof buf, " kill -TERM %d", pid);
                std::string cmd = "rsh " + shell_word(remote_) + buf;
                if (system(cmd.c_str()) != 0) Erreur("Can't kill %s on %s !\n", or_empty(name), remote_);
            } else {
                ::kill(pid, SIGTERM);
            }
        }
        pid = -1;
        make_invalid();
        return;
    }
    if (fd0 < 0 && !gz_pipe) return;  // already closed, or never opened
    flush();
    if (gz_pipe) {
        int status = pclose(gz_pipe);
        gz_status = status;
        gz_pipe = nullptr;
        make_invalid();
        // The file is only whole when gzip ended well.
        if (gz_write && status != 0 && !Fatal_loop) Fatal("Error I/O (write)\n");
        return;
    }
    close(fd0);
    make_invalid();
}

void BUS::info() {
    Output("(p=%d) %s ", pid, or_empty(name));
    if (remote_) Output("on %s ", remote_);
    Output("%s x_in=%d max_in=%d x_out=%d ", valid ? "Valid" : "Invalid", (int)x_in, (int)max_in, (int)x_out);
}

int BUS::want_to_speak(int) { return x_in < max_in ? 1 : 0; }

int BUS::want_to_speak(FILE* f) {
    if (x_in < max_in) return 1;
    return a_lire(fd1, f ? fileno(f) : -1);
}

int BUS::want_to_speak(FILE* f, FILE* g) {
    if (x_in < max_in) return 1;
    return a_lire(fd1, f ? fileno(f) : -1, g ? fileno(g) : -1);
}

FILE* BUS::socket_file() {
    fcntl(fd1, F_SETFD, FD_CLOEXEC);
    return fdopen(fd1, "r");
}

FILE* BUS::wsocket_file() {
    fcntl(fd1, F_SETFD, FD_CLOEXEC);
    return fdopen(fd1, "w");
}

void BUS::use_for_Lisp() { lisp_file = wsocket_file(); }

void kill(BUS* b) {
    if (b) b->kill();
}

void info(BUS* b) {
    if (b)
        b->info();
    else
        Output("NO bus info");
}

int want_to_speak(BUS* b, int x) { return b ? b->want_to_speak(x) : 0; }

int a_lire(int fd, int fd2, int fd3) {
    struct pollfd pf[3];
    int n = 0;
    for (int d : {fd, fd2, fd3})
        if (d >= 0) pf[n++] = {d, POLLIN, 0};
    if (n == 0) return 0;
    int r;
    do {
        r = poll(pf, (nfds_t)n, 0);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return 0;
    for (int i = 0; i < n; ++i)
        if (pf[i].revents & (POLLIN | POLLHUP | POLLERR)) return 1;
    return 0;
}

int a_lire(int fd) { return a_lire(fd, -1, -1); }
int a_lire(int fd, int fd2) { return a_lire(fd, fd2, -1); }

// ---------------------------------------------------------------------------
// Companion protocol and auxiliary servers

void out_SI(BUS& b, int v) {
    b << MSG_ZELT_int;
    b.put32((std::uint32_t)v);
}

void in_SI(BUS& b, int& v) {
    Messages m;
    b >> m;
    if (m != MSG_ZELT_int) Fatal("Erreur dans la transmission des int (POSSO)\n");
    v = (int)b.get32();
}

void add_serveur(BUS& b) {
    float s;
    b >> s;
    add_serveur(s);
}

int change_verbosity(BUS& b, int& v) {
    b << MSG_ZELT_ZELTVERB;
    out_SI(b, v);
    b.flush();
    Messages m;
    b >> m;
    if (m == MSG_ZELT_OK) {
        in_SI(b, v);
        return 1;
    }
    Warning("Unspecified error from Zelt (verbosity) !\n");
    return 0;
}

}  // namespace tesk
