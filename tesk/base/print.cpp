#include "tesk/base/print.h"

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

Fortran_Print operator<<(Fortran_Print p, int x) {
    if (p.f) fprintf(p.f, "%d", x);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, unsigned int x) {
    if (p.f) fprintf(p.f, "%u", x);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, long x) {
    if (p.f) fprintf(p.f, "%ld", x);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, unsigned long x) {
    if (p.f) fprintf(p.f, "%lu", x);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, double x) {
    if (p.f) fprintf(p.f, "%.16lf", x);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, long double x) {
    if (p.f) fprintf(p.f, "%.10Lf", x);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, char c) {
    if (p.f) fputc(c, p.f);
    return p;
}
Fortran_Print operator<<(Fortran_Print p, const char* s) {
    if (p.f && s) fputs(s, p.f);
    return p;
}
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
Fortran_Print var_index(Fortran_Print p, const char* name, int i) {
    if (p.f) fprintf(p.f, "%s%d", name ? name : "", i);
    return p;
}
Fortran_Print hexa(Fortran_Print p, const void* x) {
    if (p.f) fprintf(p.f, "%lx", (unsigned long)x);
    return p;
}
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
Lib_Print operator<<(Lib_Print p, int x) {
    if (p.f) fprintf(p.f, "%d", x);
    return p;
}
Lib_Print operator<<(Lib_Print p, unsigned int x) {
    if (p.f) fprintf(p.f, "%u", x);
    return p;
}
Lib_Print operator<<(Lib_Print p, char c) {
    if (p.f) fputc(c, p.f);
    return p;
}
Lib_Print operator<<(Lib_Print p, const char* s) {
    if (p.f && s) fputs(s, p.f);
    return p;
}

// ---------------------------------------------------------------------------
// TeX

Tex_Print::Tex_Print() : f(stdout) {}
void Tex_Print::flush() {
    if (f) fflush(f);
}

Tex_Print operator<<(Tex_Print p, int x) {
    if (p.f) fprintf(p.f, "%d", x);
    return p;
}
Tex_Print operator<<(Tex_Print p, unsigned int x) {
    if (p.f) fprintf(p.f, "%u", x);
    return p;
}
Tex_Print operator<<(Tex_Print p, long x) {
    if (p.f) fprintf(p.f, "%ld", x);
    return p;
}
Tex_Print operator<<(Tex_Print p, double x) {
    if (p.f) fprintf(p.f, "%f", (double)(float)x);
    return p;
}
Tex_Print operator<<(Tex_Print p, long double x) {
    if (p.f) fprintf(p.f, "%f", (double)(float)x);
    return p;
}
Tex_Print operator<<(Tex_Print p, char c) {
    if (!p.f) return p;
    if (c == '\n')
        fputs(" \\\\\n", p.f);
    else
        fputc(c, p.f);
    return p;
}
Tex_Print operator<<(Tex_Print p, const char* s) {
    if (p.f && s) fputs(s, p.f);
    return p;
}
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
Tex_Print var_index(Tex_Print p, const char* name, int i) {
    if (p.f) fprintf(p.f, " $%s_{%d}$ ", name ? name : "", i);
    return p;
}

// ---------------------------------------------------------------------------
// Lisp

void Lisp_Print::flush() {
    if (lisp_file) fflush(lisp_file);
}
Lisp_Print operator<<(Lisp_Print p, int x) {
    if (lisp_file) fprintf(lisp_file, "%d", x);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, unsigned int x) {
    if (lisp_file) fprintf(lisp_file, "%u", x);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, long x) {
    if (lisp_file) fprintf(lisp_file, "%ld", x);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, float x) {
    if (lisp_file) fprintf(lisp_file, "%f", (double)x);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, double x) {
    if (lisp_file) fprintf(lisp_file, "%f", (double)(float)x);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, long double x) {
    if (lisp_file) fprintf(lisp_file, "%f", (double)(float)x);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, char c) {
    if (lisp_file) fputc(c, lisp_file);
    return p;
}
Lisp_Print operator<<(Lisp_Print p, const char* s) {
    if (lisp_file && s) fputs(s, lisp_file);
    return p;
}
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
Basic_Print operator<<(Basic_Print p, int x) {
    char b[32];
    snprintf(b, sizeof b, "%d", x);
    place(MAIN, b);
    return p;
}
Basic_Print operator<<(Basic_Print p, unsigned int x) {
    char b[32];
    snprintf(b, sizeof b, "%u", x);
    place(MAIN, b);
    return p;
}
Basic_Print operator<<(Basic_Print p, long x) {
    char b[32];
    snprintf(b, sizeof b, "%ld", x);
    place(MAIN, b);
    return p;
}
Basic_Print operator<<(Basic_Print p, unsigned long x) {
    char b[32];
    snprintf(b, sizeof b, "%lu", x);
    place(MAIN, b);
    return p;
}
Basic_Print operator<<(Basic_Print p, long double x) {
    char b[64];
    snprintf(b, sizeof b, "%f", (double)(float)x);
    place(MAIN, b);
    return p;
}
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
Basic_Print operator+(Basic_Print p, int x) {
    char b[32];
    snprintf(b, sizeof b, "%d", x);
    place(UPPER, b);
    return p;
}
Basic_Print operator-(Basic_Print p, const char* s) {
    place(LOWER, s);
    return p;
}
Basic_Print operator-(Basic_Print p, int x) {
    char b[32];
    snprintf(b, sizeof b, "%d", x);
    place(LOWER, b);
    return p;
}

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

AFFICHE AFFICHE::operator<<(const char* s) {
    if (!want_output) return *this;
    if (want_fortran)
        Fortran << s;
    else if (want_posso_output)
        Posso << s;
    else
        Pretty << s;
    return *this;
}
AFFICHE AFFICHE::operator<<(char* s) { return *this << (const char*)s; }
AFFICHE AFFICHE::operator<<(char c) {
    if (!want_output) return *this;
    if (want_fortran)
        Fortran << c;
    else if (want_posso_output)
        Posso << c;
    else
        Pretty << c;
    return *this;
}

}  // namespace tesk
