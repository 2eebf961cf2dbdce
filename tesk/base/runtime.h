// Runtime of the Tesk engine: message and fatal-error functions, the log
// streams, CPU time, file opening (with gzip-compressed files), the home
// directory, sorting helpers and the one-time administrative set-up.
//
// One copy serves both builds.  Everything runs on one thread.
#ifndef TESK_BASE_RUNTIME_H
#define TESK_BASE_RUNTIME_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tesk {

// The engine's 32-bit truth type.  A class rather than an int so that the
// printers can print it as "true"/"false"; it converts to and from int
// freely.  Pass `(int)b` to printf-style functions.
struct Boolean {
    std::int32_t v = 0;
    constexpr Boolean() = default;
    constexpr Boolean(int x) : v(x) {}
    constexpr operator int() const { return v; }
    constexpr Boolean& operator|=(int x) { v |= x; return *this; }
    constexpr Boolean& operator&=(int x) { v &= x; return *this; }
};
static_assert(sizeof(Boolean) == 4);

// ---------------------------------------------------------------------------
// Global streams and flags.  A null stream is never written to.
extern FILE* log_output;           // main output (standard output at start)
extern FILE* remember_log_output;  // exchanged with log_output by switch_Output
extern FILE* tesk_stderr;          // diagnostics of Stderr; null until the bridge sets it
extern FILE* lisp_file;            // stream of the Lisp printer (standard output)
extern FILE* axiom_output;         // stream of the Fortran/PoSSo printers (null at start)
extern FILE* caspi_output;         // extra output stream closed at the end (null)
extern FILE* file;                 // current input file of the server (null)
extern Boolean interactive;        // 1; when 0, close_file also closes `file`
extern Boolean memo_interactive;   // copy of `interactive` taken at start-up
extern Boolean human_user;         // 1: an unopenable file is asked for again on the console
extern int Fatal_loop;             // set by the first Fatal; a second one exits with 5
extern float total_serveur;        // CPU seconds reported by auxiliary servers
extern float last_serv;            // total_serveur before the last addition
extern char* job_name;             // "input" after init_admin
extern char last_file_input[256];  // "tesk.input" after init_admin
extern char* host_name;            // this machine's name, set by init_admin
extern long double epsilon;        // 1e-20, or TESKEPSILON
extern char* internal_TESKHOME;    // the engine's home directory (null until set)
extern Boolean Tesk_int_read_from_string;  // saved and cleared by read_job

// ---------------------------------------------------------------------------
// Messages.  Each writes, then flushes its stream.
#define TESK_PRINTF(a, b) __attribute__((format(printf, a, b)))
void Output(const char* fmt, ...) TESK_PRINTF(1, 2);   // text on log_output
void Stderr(const char* fmt, ...) TESK_PRINTF(1, 2);   // text on tesk_stderr
void Warning(const char* fmt, ...) TESK_PRINTF(1, 2);  // "#C Warning: " + text on log_output
void Erreur(const char* fmt, ...) TESK_PRINTF(1, 2);   // "Error: " + text on log_output
void Perror(const char* fmt, ...) TESK_PRINTF(1, 2);   // text + " : <strerror(errno)>\n"; errno := 0
// "#error (fatal): " + text on log_output, closing report, close_file, then
// tesk_exit(3); a Fatal raised while one is running exits with 5 at once.
[[noreturn]] void Fatal(const char* fmt, ...) TESK_PRINTF(1, 2);
void Inform(const char* s);    // s unchanged on log_output; nothing while want_quiet
void Outputc(char c);          // one character on log_output
void Flush();                  // fflush(log_output)
void switch_Output();          // exchanges log_output and remember_log_output

// ---------------------------------------------------------------------------
// The end of the process.  Every exit of the engine goes through one hook:
// status and message (the fatal text without its prefix, "" when none).  The
// default hook calls exit(status).  A hook installed by a host bridge must
// not return (it unwinds to the host) and should clear Fatal_loop first.
using Exit_Hook = void (*)(int status, const char* message);
Exit_Hook set_exit_hook(Exit_Hook h);        // installs h (null: the default); returns the previous one
[[noreturn]] void tesk_exit(int status, const char* message);  // calls the hook; exit(status) if it returns

// The interrupt poll of the engine's long loops.  A host bridge installs a
// hook that asks its host whether the user interrupted, and unwinds the
// computation (it does not return) when so; without a hook nothing happens.
using Poll_Hook = void (*)();
extern Poll_Hook poll_hook;
Poll_Hook set_poll_hook(Poll_Hook h);  // installs h (null: none); returns the previous one
inline void poll_interrupt() {         // calls the hook, if any
    if (Poll_Hook h = poll_hook) h();
}

// ---------------------------------------------------------------------------
// Time.
float delay();                 // CPU time (user + system) of the process, seconds
unsigned int ticks();          // the same in clock ticks
float in_seconds(unsigned t);  // ticks -> seconds
float child_delay();           // CPU time of the finished children, seconds
void add_serveur(float s);     // last_serv := total_serveur; total_serveur += s
float delay_serveur();         // total_serveur
float last_serveur();          // total_serveur - last_serv
int processSize();             // 0
void show_help(const char*);   // does nothing
void show_date(FILE* f);       // "%a %b %e %H:%M:%S", no newline (nothing on a null stream)
void Date();                   // show_date(log_output)

// ---------------------------------------------------------------------------
// Files and names.
// Opens `name`: "-" is stdin ("r") or stdout ("w"); with mode "r" a name
// ending in ".gz" or ".Z" is read through gzip.  Failure is fatal
// ("Fichier %s non ouvrable !\n"), or asked again on the console while
// human_user is set.
FILE* ouvrir(const char* name, const char* mode);
// Opens "<first_dir>/<name>", else "<second_dir>/<name>"; fatal "Cannot open %s !\n".
FILE* try_path(const char* name, const char* first_dir, const char* second_dir, const char* mode);
void principale(char* dst, const char* name);                // stem of name before the first '.'
void ext_name(char* dst, const char* name, const char* ext);  // name, plus "."ext when it has no '.'
const char* name_of_init_file();                             // ".hostrc" / ".teskrc"
void read_job(const char* name);                             // opens the job file into `file`
unsigned int Hash_String(const char* s);                     // (h*256 + c) mod 16777213 over s
void set_TESKHOME(const char* argv0);     // first call only: home directory from the program path
const char* get_TESKHOME();               // the home directory (fatal when it cannot be found)
void set_path_TESKHOME(const char* dir);  // home directory := copy of dir
// First executable "<dir>/<name>" over PATH, newly allocated; name itself when none.
const char* which_command(const char* name);
// Shell-quotes `s` into dst (at most `cap` bytes, NUL included); returns false when it does not fit.
bool shell_quote(char* dst, std::size_t cap, const char* s);

// Reads a decimal text: blanks and '-' signs first (any '-' makes it
// negative), then digits, handed to group(long) in groups of six from the
// right, rightmost first (an empty run gives one group 0); returns negative.
template <class Group>
bool six_digit_groups(const char* s, Group group) {
    bool neg = false;
    while (*s == ' ' || *s == '\t' || *s == '-') {
        if (*s == '-') neg = true;
        ++s;
    }
    std::size_t end = 0;
    while (s[end] >= '0' && s[end] <= '9') ++end;
    char digits[8];
    for (;;) {
        const std::size_t start = end > 6 ? end - 6 : 0;
        std::memcpy(digits, s + start, end - start);
        digits[end - start] = 0;
        group(atol(digits));
        if (start == 0) return neg;
        end = start;
    }
}

// ---------------------------------------------------------------------------
// Sorting, in place, ascending.
void shell_sort(char** a, int n, int (*cmp)(char*, char*));
void improved_shell_sort(char** a, int n, int (*cmp)(char*, char*));
void shell_boolean_sort(void** a, int n, Boolean (*in_order)(void*, void*));

// ---------------------------------------------------------------------------
// Set-up and end.
void init_admin();   // job_name, last_file_input, TESKEPSILON, host_name
void last_info();    // closing report (total time with want_time, report hooks with want_storage)
void close_file();   // closes the output files; never closes a stream twice nor a standard stream

// Report and switch hooks, one set per build (empty).
int Tesk_int_how_much_BigNum_I();
void Tesk_int_how_much_GC();
void Tesk_int_close_all_bus();
void Tesk_int_switch_buffer(FILE*, Boolean, Boolean);
int Tesk_how_much_BigNum_I();
void Tesk_how_much_GC();
void Tesk_close_all_bus();
void Tesk_switch_buffer(FILE*, Boolean, Boolean);

}  // namespace tesk

#endif
