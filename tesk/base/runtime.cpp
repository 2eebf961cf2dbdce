#include "tesk/base/runtime.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/times.h>
#include <unistd.h>

#include "tesk/base/bigblock.h"
#include "tesk/base/print.h"
#include "tesk/base/switches.h"

namespace tesk {

FILE* log_output = stdout;
FILE* remember_log_output = stdout;
FILE* tesk_stderr = nullptr;
FILE* lisp_file = stdout;
FILE* axiom_output = nullptr;
FILE* caspi_output = nullptr;
FILE* file = nullptr;
Boolean interactive = 1;
Boolean memo_interactive = interactive;
Boolean human_user = 1;
int Fatal_loop = 0;
float total_serveur = 0;
float last_serv = 0;
char* job_name = nullptr;
char last_file_input[256] = "";
char* host_name = nullptr;
long double epsilon = 1e-20L;
char* internal_TESKHOME = nullptr;
Boolean Tesk_int_read_from_string = 0;

// ---------------------------------------------------------------------------
// Messages

namespace {

void vwrite(FILE* f, const char* prefix, const char* fmt, va_list ap) {
    if (!f) return;
    if (prefix) fputs(prefix, f);
    vfprintf(f, fmt, ap);
    fflush(f);
}

// The system's text for an error number, whichever strerror_r the C library has.
[[maybe_unused]] const char* pick_msg(int r, const char* buf) { return r == 0 ? buf : "Unknown error"; }
[[maybe_unused]] const char* pick_msg(const char* r, const char*) { return r; }

Exit_Hook exit_hook = nullptr;

// Room for the fatal text handed to the exit hook.
char fatal_text[65526];

}  // namespace

void Output(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vwrite(log_output, nullptr, fmt, ap);
    va_end(ap);
}

void Stderr(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vwrite(tesk_stderr, nullptr, fmt, ap);
    va_end(ap);
}

void Warning(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vwrite(log_output, "#C Warning: ", fmt, ap);
    va_end(ap);
}

void Erreur(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vwrite(log_output, "Error: ", fmt, ap);
    va_end(ap);
}

void Perror(const char* fmt, ...) {
    int e = errno;
    char buf[512];
    const char* m = pick_msg(strerror_r(e, buf, sizeof buf), buf);
    if (log_output) {
        va_list ap;
        va_start(ap, fmt);
        vfprintf(log_output, fmt, ap);
        va_end(ap);
        fprintf(log_output, " : %s\n", m);
    }
    errno = 0;
    Flush();
}

void Fatal(const char* fmt, ...) {
    if (Fatal_loop) tesk_exit(5, "");
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(fatal_text, sizeof fatal_text, fmt, ap);
    va_end(ap);
    if (log_output) {
        va_start(ap, fmt);
        vwrite(log_output, "#error (fatal): ", fmt, ap);
        va_end(ap);
    }
    Fatal_loop = 1;
    last_info();
    close_file();
    tesk_exit(3, fatal_text);
}

void Inform(const char* s) {
    if (want_quiet || !s) return;
    if (log_output) fputs(s, log_output);
    Flush();
}

void Outputc(char c) {
    if (log_output) fputc(c, log_output);
    Flush();
}

void Flush() {
    if (log_output) fflush(log_output);
}

void switch_Output() {
    FILE* t = log_output;
    log_output = remember_log_output;
    remember_log_output = t;
}

Exit_Hook set_exit_hook(Exit_Hook h) {
    Exit_Hook old = exit_hook;
    exit_hook = h;
    return old;
}

Poll_Hook poll_hook = nullptr;

Poll_Hook set_poll_hook(Poll_Hook h) {
    Poll_Hook old = poll_hook;
    poll_hook = h;
    return old;
}

void tesk_exit(int status, const char* message) {
    if (Exit_Hook h = exit_hook) h(status, message ? message : "");
    std::exit(status);
}

// ---------------------------------------------------------------------------
// Time

namespace {
long clock_rate() {
    static long rate = 0;
    if (rate <= 0) rate = sysconf(_SC_CLK_TCK);
    return rate > 0 ? rate : 100;
}
}  // namespace

unsigned int ticks() {
    struct tms t;
    times(&t);
    return (unsigned int)(t.tms_utime + t.tms_stime);
}

float delay() { return (float)ticks() / (float)clock_rate(); }

float in_seconds(unsigned t) { return (float)t / (float)clock_rate(); }

float child_delay() {
    struct rusage r;
    if (getrusage(RUSAGE_CHILDREN, &r) != 0) return 0;
    return (float)(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           (float)(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000000.0f;
}

void add_serveur(float s) {
    last_serv = total_serveur;
    total_serveur += s;
}

float delay_serveur() { return total_serveur; }
float last_serveur() { return total_serveur - last_serv; }
int processSize() { return 0; }
void show_help(const char*) {}

void show_date(FILE* f) {
    if (!f) return;
    char buf[1000];
    time_t now = time(nullptr);
    struct tm tmv;
    localtime_r(&now, &tmv);
    size_t n = strftime(buf, sizeof buf, "%a %b %e %H:%M:%S", &tmv);
    buf[n] = 0;
    fputs(buf, f);
}

void Date() { show_date(log_output); }

// ---------------------------------------------------------------------------
// Files and names

bool shell_quote(char* dst, std::size_t cap, const char* s) {
    // '...' with every ' written as '\'' : the shell then sees the bytes as they are.
    std::size_t k = 0;
    auto put = [&](char c) {
        if (k + 1 >= cap) return false;
        dst[k++] = c;
        return true;
    };
    if (cap == 0) return false;
    if (!put('\'')) return false;
    for (const char* p = s; *p; ++p) {
        if (*p == '\'') {
            if (!put('\'') || !put('\\') || !put('\'') || !put('\'')) return false;
        } else if (!put(*p)) {
            return false;
        }
    }
    if (!put('\'')) return false;
    dst[k] = 0;
    return true;
}

namespace {

// Reads a compressed file through "gzip -cd".  popen succeeds even when the
// file is missing, so the file is checked first; the name is quoted so that
// blanks, quotes and shell characters reach gzip unchanged.
FILE* open_gzip_read(const char* name) {
    if (access(name, R_OK) != 0) return nullptr;
    char quoted[1000];
    // A leading '-' would read as an option of gzip.
    char prefixed[1000];
    const char* arg = name;
    if (name[0] == '-') {
        if (snprintf(prefixed, sizeof prefixed, "./%s", name) >= (int)sizeof prefixed) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        arg = prefixed;
    }
    if (!shell_quote(quoted, sizeof quoted, arg)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    char cmd[1000];
    if (snprintf(cmd, sizeof cmd, "gzip -cd %s", quoted) >= (int)sizeof cmd) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    fflush(nullptr);
    return popen(cmd, "r");
}

bool ends_with(const char* s, std::size_t len, const char* suffix) {
    std::size_t k = strlen(suffix);
    return len >= k && strcmp(s + len - k, suffix) == 0;
}

}  // namespace

FILE* ouvrir(const char* name, const char* mode) {
    if (!name) name = "";
    if (!mode) mode = "r";
    if (strcmp(name, "-") == 0) {
        if (strcmp(mode, "r") == 0) return stdin;
        if (strcmp(mode, "w") == 0) return stdout;
    }
    std::size_t len = strlen(name);
    bool reading = strcmp(mode, "r") == 0;
    FILE* f;
    if (reading && ((len > 2 && ends_with(name, len, ".gz")) || (len >= 2 && ends_with(name, len, ".Z"))))
        f = open_gzip_read(name);
    else
        f = fopen(name, mode);
    if (f) return f;

    if (!human_user) {
        Perror("fopen(%s,%s)", name, mode);
        Fatal("Fichier %s non ouvrable !\n", name);
    }
    char buf[256];
    snprintf(buf, sizeof buf, "%s", name);
    while (!f) {
        Perror("fopen(%s,%s)", buf, mode);
        if (mode[0] == 'w')
            Output("Je ne peux pas ouvrir %s !\n", buf);
        else if (mode[0] == 'r')
            Output("Je ne peux pas trouver %s !\n", buf);
        else
            Output("Fichier %s non ouvrable !\n", buf);
        Output("Entrer un nouveau nom: ");
        // Without a console answer the question would repeat for ever.
        if (scanf("%255s", buf) != 1) Fatal("Fichier %s non ouvrable !\n", buf);
        f = fopen(buf, mode);
    }
    return f;
}

FILE* try_path(const char* name, const char* first_dir, const char* second_dir, const char* mode) {
    char path[4096];
    if (first_dir && snprintf(path, sizeof path, "%s/%s", first_dir, name) < (int)sizeof path) {
        if (FILE* f = fopen(path, mode)) return f;
    }
    if (second_dir && snprintf(path, sizeof path, "%s/%s", second_dir, name) < (int)sizeof path) {
        if (FILE* f = fopen(path, mode)) return f;
    }
    Fatal("Cannot open %s !\n", name);
}

void principale(char* dst, const char* name) {
    while (*name && *name != '.') *dst++ = *name++;
    *dst = 0;
}

void ext_name(char* dst, const char* name, const char* ext) {
    strcpy(dst, name);
    if (!strchr(name, '.') && ext && *ext) {
        strcat(dst, ".");
        strcat(dst, ext);
    }
}

const char* name_of_init_file() { return want_Host_syntax ? ".hostrc" : ".teskrc"; }

void read_job(const char* name) {
    if (name && strcmp(name, "-") == 0) {
        file = stdin;
    } else if (!name || !*name) {
        file = ouvrir(last_file_input, "r");
    } else {
        file = ouvrir(name, "r");
        if (file && name != last_file_input) snprintf(last_file_input, sizeof last_file_input, "%s", name);
    }
    Boolean saved = Tesk_int_read_from_string;
    Tesk_int_read_from_string = 0;
    Tesk_int_switch_buffer(file, interactive, saved);
}

unsigned int Hash_String(const char* s) {
    unsigned int h = 0;
    for (; *s; ++s) h = (h * 256u + (unsigned int)(int)(signed char)*s) % 16777213u;
    return h;
}

namespace {

// A copy of s from the allocation hook (at least `min_room` bytes).
char* tesk_strdup(const char* s, std::size_t min_room) {
    std::size_t n = strlen(s) + 1;
    std::size_t room = n > min_room ? n : min_room;
    char* d = (char*)internal_Tesk_malloc((unsigned int)room);
    if (!d) d = (char*)std::malloc(room);
    if (d) memcpy(d, s, n);
    return d;
}

struct Path_Cache {
    bool done = false;
    int n = 0;
    char** dirs = nullptr;
};
Path_Cache path_cache;

}  // namespace

const char* which_command(const char* name) {
    if (!name) return nullptr;
    if (!path_cache.done) {
        const char* path = getenv("PATH");
        if (!path) return name;
        int n = 1;
        for (const char* p = path; *p; ++p)
            if (*p == ':') ++n;
        path_cache.dirs = (char**)std::malloc(sizeof(char*) * n);
        if (!path_cache.dirs) return name;
        const char* b = path;
        for (int i = 0; i < n; ++i) {
            const char* e = strchr(b, ':');
            std::size_t len = e ? (std::size_t)(e - b) : strlen(b);
            char* d = (char*)std::malloc(len + 1);
            if (d) {
                memcpy(d, b, len);
                d[len] = 0;
            }
            path_cache.dirs[i] = d;
            b = e ? e + 1 : b + len;
        }
        path_cache.n = n;
        path_cache.done = true;
    }
    char buf[1000];
    for (int i = 0; i < path_cache.n; ++i) {
        if (!path_cache.dirs[i]) continue;
        if (snprintf(buf, sizeof buf, "%s/%s", path_cache.dirs[i], name) >= (int)sizeof buf) continue;
        if (access(buf, X_OK) == 0) {
            char* r = (char*)std::malloc(strlen(buf) + 1);
            if (r) {
                strcpy(r, buf);
                return r;
            }
        }
    }
    return name;
}

void set_TESKHOME(const char* argv0) {
    if (internal_TESKHOME) return;
    if (argv0 && argv0[0] == '/') {
        char* d = tesk_strdup(argv0, 500);
        if (!d) Fatal("Cannot find the home directory of Tesk\n");
        *strrchr(d, '/') = 0;
        internal_TESKHOME = d;
        return;
    }
    if (argv0 && strchr(argv0, '/')) {
        char* d = tesk_strdup(argv0, 500);
        if (!d) Fatal("Cannot find the home directory of Tesk\n");
        *strrchr(d, '/') = 0;
        internal_TESKHOME = d;
        return;
    }
    if (argv0 && argv0[0] == '~') Fatal("Fail to find path in %s [2]\n", argv0);
    const char* r = which_command(argv0);
    if (!r) Fatal("Cannot find the home directory of Tesk\n");
    const char* slash = strrchr(r, '/');
    if (!slash) Fatal("Fail to find path in %s [3]\n", r);
    char* d = tesk_strdup(r, 500);
    if (!d) Fatal("Cannot find the home directory of Tesk\n");
    d[slash - r] = 0;
    internal_TESKHOME = d;
}

const char* get_TESKHOME() {
    if (!internal_TESKHOME) set_TESKHOME(nullptr);
    return internal_TESKHOME;
}

void set_path_TESKHOME(const char* dir) {
    char* d = tesk_strdup(dir ? dir : "", 1);
    if (d) internal_TESKHOME = d;
}

// ---------------------------------------------------------------------------
// Sorting

void shell_sort(char** a, int n, int (*cmp)(char*, char*)) {
    for (int gap = n / 2; gap > 0; gap /= 2)
        for (int i = gap; i < n; ++i)
            for (int j = i - gap; j >= 0; j -= gap) {
                if (cmp(a[j], a[j + gap]) <= 0) break;
                char* t = a[j];
                a[j] = a[j + gap];
                a[j + gap] = t;
            }
}

void shell_boolean_sort(void** a, int n, Boolean (*in_order)(void*, void*)) {
    for (int gap = n / 2; gap > 0; gap /= 2)
        for (int i = gap; i < n; ++i)
            for (int j = i - gap; j >= 0; j -= gap) {
                if (in_order(a[j], a[j + gap])) break;
                void* t = a[j];
                a[j] = a[j + gap];
                a[j + gap] = t;
            }
}

void improved_shell_sort(char** a, int n, int (*cmp)(char*, char*)) {
    int h = 1;
    while (h <= n) h = 3 * h + 1;
    for (h /= 3; h > 0; h /= 3)
        for (int i = h; i < n; ++i) {
            char* v = a[i];
            int j = i;
            while (j >= h && cmp(v, a[j - h]) < 0) {
                a[j] = a[j - h];
                j -= h;
            }
            a[j] = v;
        }
}

// ---------------------------------------------------------------------------
// Set-up and end

void init_admin() {
    static char job_fallback[255];
    static char host_fallback[500];
    // Both builds' set-ups come here: the names are made once.
    if (!job_name) job_name = (char*)internal_Tesk_malloc(255);
    if (!job_name) job_name = job_fallback;
    strcpy(job_name, "input");
    strcpy(last_file_input, "tesk.input");
    if (const char* e = getenv("TESKEPSILON")) {
        epsilon = atof(e);
        if (tesk_stderr) {
            fprintf(tesk_stderr, "Change epsilon by TESKEPSILON: %f !\n", (double)epsilon);
            fflush(tesk_stderr);
        }
    }
    if (!host_name) host_name = (char*)internal_Tesk_malloc(500);
    if (!host_name) host_name = host_fallback;
    bool ok = false;
    char buf[256];
    if (gethostname(buf, 255) == 0) {
        buf[255] = 0;
        if (struct hostent* h = gethostbyname(buf)) {
            if (h->h_name) {
                snprintf(host_name, 500, "%s", h->h_name);
                ok = true;
            }
        }
    }
    if (!ok) strcpy(host_name, "localhost");
}

void last_info() {
    if (want_time)
        Output("\n     Total Time: Central TESK: %.2f sec + Serveurs: %.2f sec\n", (double)delay(),
               (double)delay_serveur());
    if (want_storage) {
        Tesk_int_how_much_BigNum_I();
        Tesk_int_how_much_GC();
    }
}

namespace {

bool is_standard(FILE* f) { return f == stdin || f == stdout || f == stderr; }

bool descriptor_valid(FILE* f) {
    int fd = fileno(f);
    return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

// The streams that one close_file closes: gathered first, each once, then
// closed together; no global may keep a closed stream afterwards.
struct Closer {
    // Addresses only: a closed stream is compared, never used.
    std::uintptr_t list[8];
    int n = 0;

    bool has(std::uintptr_t a) const {
        for (int i = 0; i < n; ++i)
            if (list[i] == a) return true;
        return false;
    }
    // The process's standard streams belong to the host: they are flushed,
    // never closed.
    void add(FILE* f) {
        if (!f) return;
        if (is_standard(f)) {
            fflush(f);
            return;
        }
        if (!has((std::uintptr_t)f) && n < 8) list[n++] = (std::uintptr_t)f;
    }
    void close_all() const {
        for (int i = 0; i < n; ++i) fclose((FILE*)list[i]);
    }
    void forget(FILE*& g, FILE* replacement) const {
        if (has((std::uintptr_t)g)) g = replacement;
    }
};

}  // namespace

void close_file() {
    Closer c;
    if (!interactive) c.add(file);
    if (log_output != axiom_output) {
        if (want_log) c.add(log_output);
        if (axiom_output) c.add(axiom_output);
    } else if (log_output && (want_log || axiom_output) && descriptor_valid(log_output)) {
        c.add(log_output);
    }
    c.add(lisp_file);
    c.add(caspi_output);
    c.close_all();
    Tesk_int_close_all_bus();

    c.forget(file, nullptr);
    c.forget(log_output, stdout);
    c.forget(remember_log_output, stdout);
    c.forget(axiom_output, nullptr);
    c.forget(lisp_file, nullptr);
    c.forget(caspi_output, nullptr);
    c.forget(tesk_stderr, nullptr);
    c.forget(Fortran.f, nullptr);
    c.forget(Posso.f, nullptr);
    c.forget(Tex.f, nullptr);
    c.forget(Lib.f, nullptr);
}

int Tesk_int_how_much_BigNum_I() { return 0; }
void Tesk_int_how_much_GC() {}
void Tesk_int_close_all_bus() {}
void Tesk_int_switch_buffer(FILE*, Boolean, Boolean) {}
int Tesk_how_much_BigNum_I() { return 0; }
void Tesk_how_much_GC() {}
void Tesk_close_all_bus() {}
void Tesk_switch_buffer(FILE*, Boolean, Boolean) {}

}  // namespace tesk
