// The Tesk engine's stand-alone server: a program over the engine (the
// library never calls it).
//
//   tesk-server [options] FILE          file mode: the system in FILE ("-":
//                                       standard input), its reduced basis printed
//   tesk-server [options] [-slave] HOST PORT
//                                       peer mode: connects to HOST:PORT (as a
//                                       spawning channel starts it), then answers
//                                       the commands of the channel
//
// Every fatal condition prints "#error (fatal): " and its text on the log and
// ends the process with status 3, after the channels and files are closed.
#ifndef TESK_SERVER_SERVER_H
#define TESK_SERVER_SERVER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tesk/base/bus.h"
#include "tesk/base/string_or_file.h"
#include "tesk/poly/dmp.h"

namespace tesk::server {

// Which build computes: the prime-field one (DRLDRL__GFC, one prime below
// 2^16) or the integer one (BigDexp__VGF, a vector of primes above 2^31).
enum class Build { Prime, Vector };

enum class Format { Plain, Pretty, Tex, Lisp, Posso, NTL };

// At most this many variables in a block, in file mode and in peer mode.
inline constexpr unsigned kMaxVarsPerBlock = 500;

// 1 when p (below 2^32) is a prime.
bool is_prime32(std::uint32_t p);

struct Options {
    Build build = Build::Prime;
    std::uint32_t prime = 65521;  // -prime P, else TESKPRIME, else 65521
    unsigned nprimes = 2;         // -primes K: the first K default primes (offset by -offset)
    Format format = Format::Plain;
    const char* input = nullptr;        // file mode
    bool has_file = false;              // input names a file (else an example, input = argv[0])
    const char* peer_host = nullptr;    // peer mode
    int peer_port = -1;
    const char* normal_form = nullptr;  // -normal-form FILE: a list reduced by the basis
    bool hilbert = false;               // -hilbert
    bool lex = false;                   // -lex: the lexicographic basis instead (integer build)
    // An example system instead of a file: -cyclic N, -katsura N, -binaire N
    // (N variables; with -homog the last one homogenises), or -random N D
    // (N polynomials of degree D, in N variables unless FILE's header names them).
    enum class Example { None, Cyclic, Katsura, Binaire, Random } example = Example::None;
    unsigned example_vars = 0;
    unsigned random_degree = 0;
    bool orbit = false;       // -orbit: the cyclic orbit sum of each input polynomial
    bool canonic = false;     // -canonic: its canonical form (one term per orbit)
    bool sparse_dim = false;  // -sparse-dim: "#sparse-dim N", the distinct monomials of the input
    const char* save = nullptr;  // -save FILE: the results in binary, written when they are
    bool analyse = false;   // -analyse: the weights of the input ("#weights <...>")
    bool nb_sol = false;    // -nbsol: "#solutions N" after the basis (-1: not zero-dimensional)
    bool prepare = false;   // -prepare: the prepared-basis text of the basis
    bool lextri = false;    // -lextri: the lextriangular decomposition (prime-field build)
    bool degree = false;    // -degree: "degree = N", the degree of the ideal
    // Ideal operations of the prime-field build, one at most: -elim K (the
    // ideal's polynomials free of the first K variables), -intersect FILE2,
    // -quotient FILE2 (FILE2 over the same variables).
    unsigned elim = 0;
    const char* second = nullptr;
    bool quotient = false;
};

// Reads the command line and sets the engine's switches; fatal (status 3) on
// an unknown option, a missing or bad value; -h: the usage, status 0.
Options parse_options(int argc, char** argv);

// The channels the server holds, closed by its end (normal or fatal).
void hold_channel(BUS* b);
[[noreturn]] void end_server(int status);

// The save channel of the build on a fresh file beside `path` (mode 0644),
// which the successful end renames to `path`; any other end removes it, so
// a failing run leaves `path` as it was.
void open_save(const char* path, Build build);

// ---------------------------------------------------------------------------
// Input files: "# vars: x,y,..." (greatest first), optional "# blocks: k",
// "# extra: t,..." (extra trailing variables) and "# name: ..."; other lines
// beginning with '#' are comments; then one list [p1, ..., pm] of
// polynomials with integer coefficients ('*', '^', any spacing).
//
// In the prime-field build under -intersect or -quotient the header parser
// puts a tag variable "@" before the user's, alone in the first block, and
// sets want_block to 1.
struct Header {
    std::vector<std::string> vars;  // the tag, the user's variables, then the extra ones
    unsigned nvars = 0;
    unsigned block = 0;             // first-block length (0: one block)
    unsigned vars_line = 0;         // where the "# vars:" line is
    unsigned blocks_line = 0;       // where a "# blocks:" line is (0: none)
    std::vector<unsigned> var_columns;  // the column of each user's name there
};

// The header of the file (names given to add_variable / add_bvariable of the
// build when `names`); fatal "<file>:<line>: <what>" on a malformed one.  The
// source is left at the list.
template <class I>
Header read_header(String_or_File& in, const char* where, bool names = true);
// The list that follows (comment lines before it skipped), coefficients reduced modulo the build's primes; fatal
// "<file>:<line>: <what>" on malformed or truncated text.
template <class I>
poly::List<I>* read_list(String_or_File& in, const char* where, const Header& h);

// File mode of one build; returns the exit status.
template <class I>
int run_file(const Options& o);

// The Hilbert series h(t)/(1-t)^dim of the ideal of the leading monomials of
// l: h's coefficients from t^0 on into h, dim returned (-1 when 1 is in the ideal).
template <class I>
int hilbert_of(poly::List<I>* l, std::vector<std::int64_t>& h);
// The leading monomials of l's polynomials, n exponents a row, appended to
// rows; returns the number of rows.
template <class I>
unsigned leading_rows(poly::List<I>* l, std::vector<std::uint16_t>& rows);
// "t^2+2*t+1" (greatest degree first); "0" for no coefficient.
std::string hilbert_text(const std::vector<std::int64_t>& h);

// Peer mode: connects to the host and port of the options and answers the
// channel's commands (BUS::Tesk_int_parse, BUS::Tesk_parse) until the end
// code; returns the exit status.
int run_peer(const Options& o);

}  // namespace tesk::server

#endif
