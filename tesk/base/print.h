// Printer values of the Tesk engine and the output dispatcher.
//
// A printer is a small value passed by value to free `operator<<`s, one per
// printer and item type; each returns its printer so items chain.  Printers
// holding a stream write nothing while that stream is null.
//   Basic_Print  three-line pretty printer (exponents above, indices below),
//                flushed through Output to log_output
//   Fortran_Print plain text on its stream (global `Fortran`, on axiom_output)
//   Posso_Print  plain text, PoSSo forms of exponents/polynomials (global `Posso`)
//   Tex_Print    TeX on its stream (global `Tex`, standard output)
//   Lisp_Print   Lisp on the global lisp_file
//   Lib_Print    plain text on its stream (global `Lib`, null)
//   AFFICHE      picks one of Fortran / Posso / Pretty from the want_ switches
#ifndef TESK_BASE_PRINT_H
#define TESK_BASE_PRINT_H

#include <cstdio>

#include "tesk/base/runtime.h"

namespace tesk {

// Separators of the plain and TeX printers.
enum Special_Char : int {
    SC_NONE = 0,       // plain: nothing        TeX: "$"
    SC_ARROW = 1,      // plain: " <- "         TeX: " $\leftarrow$ "
    SC_PARAGRAPH = 2,  // plain: "\n\n "        TeX: paragraph with vertical space
    SC_TIMES = 3,      // plain: "*"            TeX: "\,"
    SC_BLANK = 4       // plain: " "            TeX: "\,"
};

// One column of the pretty printer: upper, main and lower character.
struct Stack {
    char up, mid, low;
    Stack(char a, char b, char c) : up(a), mid(b), low(c) {}
    explicit Stack(char c) : up(c), mid(c), low(c) {}
};

struct Flush_All {};

// ---------------------------------------------------------------------------
struct Basic_Print {
    int dummy = 0;
    void flush();  // emits the pending columns as three lines, if any
};

struct Fortran_Print {
    FILE* f;
    Fortran_Print();                   // on axiom_output
    explicit Fortran_Print(FILE* s) : f(s) {}
    explicit Fortran_Print(const char* name);  // ouvrir(name, "w")
    Fortran_Print attach(FILE* s) { f = s; return *this; }  // replaces the stream
    FILE* detach() const { return f; }                      // the stream
    void kill();   // fclose of the stream when not null (the printer then holds null)
    void flush();  // fflush when not null
};

struct Posso_Print : Fortran_Print {
    Posso_Print() = default;
    explicit Posso_Print(FILE* s) : Fortran_Print(s) {}
};

struct Tex_Print {
    FILE* f;
    Tex_Print();  // on standard output
    explicit Tex_Print(FILE* s) : f(s) {}
    void flush();
};

struct Lisp_Print {
    void flush();  // fflush(lisp_file)
};

struct Lib_Print {
    FILE* f = nullptr;
    Lib_Print() = default;
    explicit Lib_Print(FILE* s) : f(s) {}
    Lib_Print(const Lib_Print&) = default;
    Lib_Print& operator=(const Lib_Print&) = default;
    void flush();
};

struct AFFICHE {
    AFFICHE operator<<(char c);
    AFFICHE operator<<(char* s);
    AFFICHE operator<<(const char* s);
};

// Global printers, built at start-up in this order.
extern Flush_All FLUSH;
extern Basic_Print Pretty;
extern Fortran_Print Fortran;
extern Posso_Print Posso;
extern Tex_Print Tex;
extern Lib_Print Lib;

// ---------------------------------------------------------------------------
// Plain text (Fortran_Print; Posso_Print keeps its type through a chain).
Fortran_Print operator<<(Fortran_Print p, int x);            // "%d"
Fortran_Print operator<<(Fortran_Print p, unsigned int x);   // "%u"
Fortran_Print operator<<(Fortran_Print p, long x);           // "%ld"
Fortran_Print operator<<(Fortran_Print p, unsigned long x);  // "%lu"
Fortran_Print operator<<(Fortran_Print p, double x);         // "%.16lf"
Fortran_Print operator<<(Fortran_Print p, long double x);    // "%.10Lf"
Fortran_Print operator<<(Fortran_Print p, char c);           // the character
Fortran_Print operator<<(Fortran_Print p, const char* s);    // the string; null prints nothing
Fortran_Print operator<<(Fortran_Print p, Special_Char c);   // see Special_Char
Fortran_Print var_index(Fortran_Print p, const char* name, int i);  // "%s%d"
Fortran_Print hexa(Fortran_Print p, const void* x);                  // "%lx"
Fortran_Print raw(Fortran_Print p, unsigned int x);                  // the 4 bytes, machine order

Posso_Print operator<<(Posso_Print p, int x);
Posso_Print operator<<(Posso_Print p, unsigned int x);
Posso_Print operator<<(Posso_Print p, long x);
Posso_Print operator<<(Posso_Print p, unsigned long x);
Posso_Print operator<<(Posso_Print p, double x);
Posso_Print operator<<(Posso_Print p, long double x);
Posso_Print operator<<(Posso_Print p, char c);
Posso_Print operator<<(Posso_Print p, const char* s);
Posso_Print operator<<(Posso_Print p, Special_Char c);

Lib_Print operator<<(Lib_Print p, int x);          // "%d"
Lib_Print operator<<(Lib_Print p, unsigned int x); // "%u"
Lib_Print operator<<(Lib_Print p, char c);         // the character
Lib_Print operator<<(Lib_Print p, const char* s);  // the string; null prints nothing

// TeX.
Tex_Print operator<<(Tex_Print p, int x);            // "%d"
Tex_Print operator<<(Tex_Print p, unsigned int x);   // "%u"
Tex_Print operator<<(Tex_Print p, long x);           // "%ld"
Tex_Print operator<<(Tex_Print p, double x);         // "%f" of (float)x
Tex_Print operator<<(Tex_Print p, long double x);    // "%f" of (float)x
Tex_Print operator<<(Tex_Print p, char c);           // newline -> " \\\\\n"
Tex_Print operator<<(Tex_Print p, const char* s);    // the string; null prints nothing
Tex_Print operator<<(Tex_Print p, Special_Char c);   // see Special_Char
Tex_Print var_index(Tex_Print p, const char* name, int i);  // " $%s_{%d}$ "

// Lisp, on lisp_file.
Lisp_Print operator<<(Lisp_Print p, int x);          // "%d"
Lisp_Print operator<<(Lisp_Print p, unsigned int x); // "%u"
Lisp_Print operator<<(Lisp_Print p, long x);         // "%ld"
Lisp_Print operator<<(Lisp_Print p, float x);        // "%f"
Lisp_Print operator<<(Lisp_Print p, double x);       // "%f" of (float)x
Lisp_Print operator<<(Lisp_Print p, long double x);  // "%f" of (float)x
Lisp_Print operator<<(Lisp_Print p, char c);
Lisp_Print operator<<(Lisp_Print p, const char* s);  // null prints nothing
void lisp_long(long x);           // "%ld"
void lisp_print(const char* s);   // the string
void lisp_Boolean(Boolean b);     // "true" when b is 1, else "false"

// Pretty printer.  Characters go to the main line; '+' and '-' forms go to
// the upper and lower lines.  Lines break before , [ ] + - past column 59,
// and at column 1000; a newline character flushes.
Basic_Print operator<<(Basic_Print p, char c);
Basic_Print operator<<(Basic_Print p, const char* s);   // null prints nothing
Basic_Print operator<<(Basic_Print p, int x);           // "%d"
Basic_Print operator<<(Basic_Print p, unsigned int x);  // "%u"
Basic_Print operator<<(Basic_Print p, long x);          // "%ld"
Basic_Print operator<<(Basic_Print p, unsigned long x); // "%lu"
Basic_Print operator<<(Basic_Print p, long double x);   // "%f" of (float)x
Basic_Print operator<<(Basic_Print p, Boolean b);       // "true" when not 0, else "false"
Basic_Print operator<<(Basic_Print p, Stack s);         // one column of three characters
Basic_Print operator+(Basic_Print p, const char* s);    // on the upper line
Basic_Print operator+(Basic_Print p, int x);            // "%d" on the upper line
Basic_Print operator-(Basic_Print p, const char* s);    // on the lower line
Basic_Print operator-(Basic_Print p, int x);            // "%d" on the lower line

void pretty_print(const char* s);      // main line of Pretty
void pretty_long(long x);              // "%ld"
void pretty_exp(int e);                // "%d" on the upper line; a blank on the main line when e is 1
void pretty_Boolean(Boolean b);        // "true" when b is 1, else "false"
void pretty_sup_print(const char* s);  // upper line
void pretty_inf_print(const char* s);  // lower line
void flush_pretty();                   // Pretty.flush()
void init_pretty();                    // drops the pending columns

}  // namespace tesk

#endif
