#include "tesk/base/print.h"

#include <cstdarg>
#include <cstring>

#include "tesk/base/switches.h"

namespace tesk {

Flush_All FLUSH;
Basic_Print Pretty;
Fortran_Print Fortran;
Posso_Print Posso;
Tex_Print Tex;
Lib_Print Lib(nullptr);

namespace {

bool is_standard(FILE* f) { return f == stdin || f == stdout || f == stderr; }

// ---------------------------------------------------------------------------
// Pretty-printer state: three lines of one text band and the current column.
char ligne1[1024];  // upper line: exponents
char ligne2[1024];  // main line
char ligne3[1024];  // lower line: indices
int cur_loc = 0;

enum Line { UPPER = 0, MAIN = 1, LOWER = 2 };

void pretty_flush() {
    if (cur_loc == 0) return;
    ligne1[cur_loc] = 0;
    ligne2[cur_loc] = 0;
    ligne3[cur_loc] = 0;
    cur_loc = 0;
    Output("%s\n%s\n%s\n", ligne1, ligne2, ligne3);
}

void place(Line l, char c) {
    if (cur_loc > 999) pretty_flush();
    if (cur_loc > 59 && c && strchr(",[]+-", c)) pretty_flush();
    if (c == '\n') {
        pretty_flush();
        return;
    }
    ligne1[cur_loc] = l == UPPER ? c : ' ';
    ligne2[cur_loc] = l == MAIN ? c : ' ';
    ligne3[cur_loc] = l == LOWER ? c : ' ';
    ++cur_loc;
}

void place(Line l, const char* s) {
    if (!s) return;
    for (; *s; ++s) place(l, *s);
}

// One item on a printer's stream; a printer without a stream prints nothing.
[[gnu::format(printf, 2, 3)]] void emit(FILE* f, const char* fmt, ...) {
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(f, fmt, ap);
    va_end(ap);
}
void emit(FILE* f, char c) {
    if (f) fputc(c, f);
}
void emit_string(FILE* f, const char* s) {
    if (f && s) fputs(s, f);
}

// One formatted item on line l of the pretty printer.
[[gnu::format(printf, 2, 3)]] void place_format(Line l, const char* fmt, ...) {
    char b[64];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(b, sizeof b, fmt, ap);
    va_end(ap);
    place(l, b);
}

}  // namespace

// ---------------------------------------------------------------------------
// Plain-text printers

Fortran_Print::Fortran_Print() : f(axiom_output) {}
Fortran_Print::Fortran_Print(const char* name) : f(ouvrir(name, "w")) {}

void Fortran_Print::kill() {
    if (!f) return;
    // The standard streams stay open for the rest of the process.
    if (is_standard(f))
        fflush(f);
    else
        fclose(f);
    f = nullptr;
}

void Fortran_Print::flush() {
    if (f) fflush(f);
}

Fortran_Print operator<<(Fortran_Print p, int x) { return emit(p.f, "%d", x), p; }
Fortran_Print operator<<(Fortran_Print p, unsigned int x) { return emit(p.f, "%u", x), p; }
Fortran_Print operator<<(Fortran_Print p, long x) { return emit(p.f, "%ld", x), p; }
Fortran_Print operator<<(Fortran_Print p, unsigned long x) { return emit(p.f, "%lu", x), p; }
Fortran_Print operator<<(Fortran_Print p, double x) { return emit(p.f, "%.16lf", x), p; }
Fortran_Print operator<<(Fortran_Print p, long double x) { return emit(p.f, "%.10Lf", x), p; }
Fortran_Print operator<<(Fortran_Print p, char c) { return emit(p.f, c), p; }
Fortran_Print operator<<(Fortran_Print p, const char* s) { return emit_string(p.f, s), p; }
Fortran_Print operator<<(Fortran_Print p, Special_Char c) {
    if (!p.f) return p;
    switch (c) {
        case SC_ARROW: fputs(" <- ", p.f); break;
        case SC_PARAGRAPH: fputs("\n\n ", p.f); break;
        case SC_TIMES: fputc('*', p.f); break;
        case SC_BLANK: fputc(' ', p.f); break;
        default: break;
    }
    return p;
}
Fortran_Print var_index(Fortran_Print p, const char* name, int i) { return emit(p.f, "%s%d", name ? name : "", i), p; }
Fortran_Print hexa(Fortran_Print p, const void* x) { return emit(p.f, "%lx", (unsigned long)x), p; }
Fortran_Print raw(Fortran_Print p, unsigned int x) {
    if (p.f) fwrite(&x, sizeof x, 1, p.f);
    return p;
}

// The PoSSo printer writes the plain forms and keeps its own type.
Posso_Print operator<<(Posso_Print p, int x) { return (Fortran_Print)p << x, p; }
Posso_Print operator<<(Posso_Print p, unsigned int x) { return (Fortran_Print)p << x, p; }
Posso_Print operator<<(Posso_Print p, long x) { return (Fortran_Print)p << x, p; }
Posso_Print operator<<(Posso_Print p, unsigned long x) { return (Fortran_Print)p << x, p; }
Posso_Print operator<<(Posso_Print p, double x) { return (Fortran_Print)p << x, p; }
Posso_Print operator<<(Posso_Print p, long double x) { return (Fortran_Print)p << x, p; }
Posso_Print operator<<(Posso_Print p, char c) { return (Fortran_Print)p << c, p; }
Posso_Print operator<<(Posso_Print p, const char* s) { return (Fortran_Print)p << s, p; }
Posso_Print operator<<(Posso_Print p, Special_Char c) { return (Fortran_Print)p << c, p; }

void Lib_Print::flush() {
    if (f) fflush(f);
}
Lib_Print operator<<(Lib_Print p, int x) { return emit(p.f, "%d", x), p; }
Lib_Print operator<<(Lib_Print p, unsigned int x) { return emit(p.f, "%u", x), p; }
Lib_Print operator<<(Lib_Print p, char c) { return emit(p.f, c), p; }
Lib_Print operator<<(Lib_Print p, const char* s) { return emit_string(p.f, s), p; }

// ---------------------------------------------------------------------------
// TeX

Tex_Print::Tex_Print() : f(stdout) {}
void Tex_Print::flush() {
    if (f) fflush(f);
}

Tex_Print operator<<(Tex_Print p, int x) { return emit(p.f, "%d", x), p; }
Tex_Print operator<<(Tex_Print p, unsigned int x) { return emit(p.f, "%u", x), p; }
Tex_Print operator<<(Tex_Print p, long x) { return emit(p.f, "%ld", x), p; }
Tex_Print operator<<(Tex_Print p, double x) { return emit(p.f, "%f", (double)(float)x), p; }
Tex_Print operator<<(Tex_Print p, long double x) { return emit(p.f, "%f", (double)(float)x), p; }
Tex_Print operator<<(Tex_Print p, char c) {
    if (!p.f) return p;
    if (c == '\n')
        fputs(" \\\\\n", p.f);
    else
        fputc(c, p.f);
    return p;
}
Tex_Print operator<<(Tex_Print p, const char* s) { return emit_string(p.f, s), p; }
Tex_Print operator<<(Tex_Print p, Special_Char c) {
    if (!p.f) return p;
    switch (c) {
        case SC_NONE: fputc('$', p.f); break;
        case SC_ARROW: fputs(" $\\leftarrow$ ", p.f); break;
        case SC_PARAGRAPH: fputs("\n\n\\vspace*{5mm}\n\n\\noindent \\,", p.f); break;
        case SC_TIMES:
        case SC_BLANK: fputs("\\,", p.f); break;
        default: break;
    }
    return p;
}
Tex_Print var_index(Tex_Print p, const char* name, int i) { return emit(p.f, " $%s_{%d}$ ", name ? name : "", i), p; }

// ---------------------------------------------------------------------------
// Lisp

void Lisp_Print::flush() {
    if (lisp_file) fflush(lisp_file);
}
Lisp_Print operator<<(Lisp_Print p, int x) { return emit(lisp_file, "%d", x), p; }
Lisp_Print operator<<(Lisp_Print p, unsigned int x) { return emit(lisp_file, "%u", x), p; }
Lisp_Print operator<<(Lisp_Print p, long x) { return emit(lisp_file, "%ld", x), p; }
Lisp_Print operator<<(Lisp_Print p, float x) { return emit(lisp_file, "%f", (double)x), p; }
Lisp_Print operator<<(Lisp_Print p, double x) { return emit(lisp_file, "%f", (double)(float)x), p; }
Lisp_Print operator<<(Lisp_Print p, long double x) { return emit(lisp_file, "%f", (double)(float)x), p; }
Lisp_Print operator<<(Lisp_Print p, char c) { return emit(lisp_file, c), p; }
Lisp_Print operator<<(Lisp_Print p, const char* s) { return emit_string(lisp_file, s), p; }
void lisp_long(long x) { Lisp_Print() << x; }
void lisp_print(const char* s) { Lisp_Print() << s; }
void lisp_Boolean(Boolean b) { Lisp_Print() << (b == 1 ? "true" : "false"); }

// ---------------------------------------------------------------------------
// Pretty printer

void Basic_Print::flush() { pretty_flush(); }

Basic_Print operator<<(Basic_Print p, char c) {
    place(MAIN, c);
    return p;
}
Basic_Print operator<<(Basic_Print p, const char* s) {
    place(MAIN, s);
    return p;
}
Basic_Print operator<<(Basic_Print p, int x) { return place_format(MAIN, "%d", x), p; }
Basic_Print operator<<(Basic_Print p, unsigned int x) { return place_format(MAIN, "%u", x), p; }
Basic_Print operator<<(Basic_Print p, long x) { return place_format(MAIN, "%ld", x), p; }
Basic_Print operator<<(Basic_Print p, unsigned long x) { return place_format(MAIN, "%lu", x), p; }
Basic_Print operator<<(Basic_Print p, long double x) { return place_format(MAIN, "%f", (double)(float)x), p; }
Basic_Print operator<<(Basic_Print p, Boolean b) {
    place(MAIN, b ? "true" : "false");
    return p;
}
Basic_Print operator<<(Basic_Print p, Stack s) {
    if (cur_loc >= 1000) pretty_flush();
    ligne1[cur_loc] = s.up;
    ligne2[cur_loc] = s.mid;
    ligne3[cur_loc] = s.low;
    ++cur_loc;
    return p;
}
Basic_Print operator+(Basic_Print p, const char* s) {
    place(UPPER, s);
    return p;
}
Basic_Print operator+(Basic_Print p, int x) { return place_format(UPPER, "%d", x), p; }
Basic_Print operator-(Basic_Print p, const char* s) {
    place(LOWER, s);
    return p;
}
Basic_Print operator-(Basic_Print p, int x) { return place_format(LOWER, "%d", x), p; }

void pretty_print(const char* s) { Pretty << s; }
void pretty_long(long x) { Pretty << x; }
void pretty_exp(int e) {
    if (e != 1)
        (void)(Pretty + e);
    else
        Pretty << ' ';
}
void pretty_Boolean(Boolean b) { Pretty << (b == 1 ? "true" : "false"); }
void pretty_sup_print(const char* s) { (void)(Pretty + s); }
void pretty_inf_print(const char* s) { (void)(Pretty - s); }
void flush_pretty() { pretty_flush(); }
void init_pretty() {
    cur_loc = 0;
    pretty_flush();
}

// ---------------------------------------------------------------------------
// Dispatcher

namespace {
// The item goes to the printer the switches choose.
template <class T>
void to_chosen_printer(T x) {
    if (want_fortran)
        Fortran << x;
    else if (want_posso_output)
        Posso << x;
    else
        Pretty << x;
}
}  // namespace

AFFICHE AFFICHE::operator<<(const char* s) {
    if (want_output) to_chosen_printer(s);
    return *this;
}
AFFICHE AFFICHE::operator<<(char* s) { return *this << (const char*)s; }
AFFICHE AFFICHE::operator<<(char c) {
    if (want_output) to_chosen_printer(c);
    return *this;
}

}  // namespace tesk
