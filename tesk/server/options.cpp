// The server's command line (server.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tesk/base/front_end.h"
#include "tesk/base/switches.h"
#include "tesk/server/server.h"

namespace tesk::server {

namespace {

const char kUsage[] =
    "usage: tesk-server [options] FILE\n"
    "       tesk-server [options] [-slave|-assist|-master] HOST PORT\n"
    "File mode: reads the system in FILE (\"-\": standard input; \"# vars: x,y,...\" then [p1, ...]: the\n"
    "input format of README.md), computes its reduced Groebner basis by Buchberger's algorithm with sugar\n"
    "(degree reverse lexicographic order; \"# blocks: k\": two blocks) and prints it, then in this order\n"
    "what is asked: normal forms, solution count, prepared basis, Hilbert series.\n"
    "Coefficients modulo 65521 by default (else TESKPRIME in the environment, or -prime P); -primes K\n"
    "computes modulo K primes above 2^31 at once and prints each coefficient as the vector <r1 ... rK> of\n"
    "its residues.  At most 500 variables in a block (file and peer mode alike).\n"
    "Output in the plain syntax unless -pretty, -tex, -lisp, -posso or -ntl chooses another; the options of the plain\n"
    "text (-fortran, -raw, -binary, -host-input, -ohost, -out-rational, -out-float, -out-approx, -out-approx-modp)\n"
    "choose it again after -pretty or -posso.\n"
    "Peer mode: connects to HOST:PORT and answers the commands of the channel.\n"
    "Options:\n"
    "  -h                 this text (also -help, --help)\n"
    "  -slave HOST PORT   peer mode, as without it (also -assist, -master)\n"
    "  -fortran           plain output syntax (default)\n"
    "  -pretty            three-line pretty output\n"
    "  -tex               TeX output (leading terms)\n"
    "  -lisp              Lisp output\n"
    "  -posso             PoSSo output\n"
    "  -ntl               NTL output: each polynomial as [c0 c1 ... cd] by total degree\n"
    "  -raw               raw coefficients\n"
    "  -binary            raw binary coefficients\n"
    "  -nooutput          no basis printed\n"
    "  -head              leading terms only\n"
    "  -last              the last polynomial only\n"
    "  -host-input        one polynomial a line\n"
    "  -ohost             coefficients in the host's syntax\n"
    "  -out-rational      coefficients over the leading one (also -out-float, -out-approx, -out-approx-modp)\n"
    "  -prime P           coefficients modulo the odd prime P < 65535\n"
    "  -primes K          coefficients modulo K primes above 2^31 at once (residue vectors)\n"
    "  -offset N          the default primes taken N further down their table\n"
    "  -cyclic N          the cyclic-N system instead of FILE\n"
    "  -katsura N         the katsura system in N variables instead of FILE\n"
    "  -binaire N         the binary system in N variables instead of FILE\n"
    "  -random N D        N random polynomials of degree D, in N variables or FILE's, instead; printed first\n"
    "  -homog             homogenised input (last variable; examples made so), basis dehomogenised, reduced\n"
    "  -qhomog            the last variable left out of staircases and divisibility\n"
    "  -analyse           the weights of the input (\"#weights <...>\") before the basis\n"
    "  -orbit             the cyclic orbit sum of each input polynomial, before the basis\n"
    "  -canonic           the canonical form of each input polynomial (one term per orbit), before the basis\n"
    "  -sparse-dim        \"#sparse-dim N\": the number of distinct monomials of the input\n"
    "  -normal-form FILE  the normal forms of FILE's list by the basis, after it\n"
    "  -nbsol             \"#solutions N\" after the basis (-1: not zero-dimensional)\n"
    "  -prepare           the prepared-basis text of the basis\n"
    "  -hilbert           the Hilbert series of the basis\n"
    "  -lex               with -primes: the lexicographic basis of a zero-dimensional system instead\n"
    "  -elim K            modulo P: the basis of the elimination ideal of the first K variables instead\n"
    "  -intersect FILE2   modulo P: the basis of the intersection with the ideal of FILE2 (same variables)\n"
    "  -quotient FILE2    modulo P: the basis of the quotient FILE : FILE2 (same variables) instead\n"
    "  -lextri            modulo P: the lextriangular decomposition of a zero-dimensional system instead\n"
    "  -degree            the degree of the ideal, after the basis\n"
    "  -save FILE         the results also in binary in FILE (left as it was when the run fails)\n"
    "  -teskhome DIR      the engine's home directory\n";

const char kSeeUsage[] = "(tesk-server -h lists the options)\n";

// "Option -x" or, for what is not an option (TESKPRIME, PORT), its name.
std::string source(const char* opt) { return opt[0] == '-' ? std::string("Option ") + opt : std::string(opt); }

// A whole decimal number in [lo, hi], else fatal naming the option and what
// it needs (by default "a number from lo to hi").
long number(const char* opt, const char* text, long lo, long hi, const char* needs = nullptr) {
    char* end = nullptr;
    const long v = text ? std::strtol(text, &end, 10) : 0;
    if (!text || !*text || *end || v < lo || v > hi) {
        if (needs)
            Fatal("%s needs %s, not '%s'\n%s", source(opt).c_str(), needs, text ? text : "", kSeeUsage);
        Fatal("%s needs a number from %ld to %ld, not '%s'\n%s", source(opt).c_str(), lo, hi, text ? text : "",
              kSeeUsage);
    }
    return v;
}

// An odd prime below 65535, else fatal naming where it came from.  2 is
// left out: the square-free parts and the printed residues assume p odd.
std::uint32_t small_prime(const char* opt, const char* text) {
    const auto p = std::uint32_t(number(opt, text, 3, 65534, "an odd prime below 65535"));
    if (!is_prime32(p)) Fatal("%s needs a prime, and %u is not one\n%s", source(opt).c_str(), p, kSeeUsage);
    return p;
}

}  // namespace

// Trial division by 6k +- 1 up to the square root: at most about 11,000
// steps for 32 bits, done once per prime that enters.
bool is_prime32(std::uint32_t p) {
    if (p < 2) return false;
    if (p % 2 == 0) return p == 2;
    if (p % 3 == 0) return p == 3;
    for (std::uint64_t d = 5; d * d <= p; d += 6)
        if (p % d == 0 || p % (d + 2) == 0) return false;
    return true;
}

Options parse_options(int argc, char** argv) {
    Options o;
    if (const char* p = std::getenv("TESKPRIME")) o.prime = small_prime("TESKPRIME", p);
    std::vector<const char*> free_args;
    std::vector<const char*> ideal_ops;  // -elim, -intersect, -quotient as given
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* opt = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Fatal("Option %s needs a value\n%s", opt, kSeeUsage);
            return argv[++i];
        };
        // What only the plain syntax prints: it takes that syntax back from
        // -pretty and -posso given before (TeX, Lisp and NTL keep theirs).
        auto plain = [&] {
            want_fortran = 1;
            if (o.format == Format::Pretty || o.format == Format::Posso) o.format = Format::Plain;
        };
        if (a == "-h" || a == "-help" || a == "--help") {
            std::fputs(kUsage, stdout);
            end_server(0);
        }
        else if (a == "-nooutput") want_output = 0;
        else if (a == "-fortran") plain(), o.format = Format::Plain;
        else if (a == "-pretty") want_fortran = 0, want_posso_output = 0, o.format = Format::Pretty;
        else if (a == "-tex") o.format = Format::Tex;
        else if (a == "-lisp") o.format = Format::Lisp;
        else if (a == "-posso") want_posso_output = 1, want_fortran = 0, o.format = Format::Posso;
        else if (a == "-ntl") o.format = Format::NTL;
        else if (a == "-head") want_head = 1;
        else if (a == "-last") want_last_equation = 1;
        else if (a == "-host-input") plain(), want_host_input = 1;
        else if (a == "-ohost") plain(), want_Host_output = 1;
        else if (a == "-out-rational" || a == "-out-float" || a == "-out-approx" || a == "-out-approx-modp")
            plain(), want_rational_output = 1;
        else if (a == "-raw") plain(), want_raw_output = 1;
        else if (a == "-binary") plain(), want_raw_output = 1, want_raw_binary_output = 1;
        else if (a == "-homog") want_homog = 1;
        else if (a == "-qhomog") want_qhomogene = 1;
        else if (a == "-save") o.save = value();
        else if (a == "-teskhome") set_path_TESKHOME(value());
        else if (a == "-prime") o.build = Build::Prime, o.prime = small_prime(opt, value());
        else if (a == "-primes") o.build = Build::Vector, o.nprimes = unsigned(number(opt, value(), 1, 20000));
        else if (a == "-offset") want_offset_primes = int(number(opt, value(), 0, 19999));
        else if (a == "-normal-form") o.normal_form = value();
        else if (a == "-hilbert") o.hilbert = true;
        else if (a == "-lex") o.lex = true;
        else if (a == "-analyse") o.analyse = true;
        else if (a == "-nbsol") o.nb_sol = true;
        else if (a == "-prepare") o.prepare = true;
        else if (a == "-lextri") o.lextri = true;
        else if (a == "-degree") o.degree = true;
        else if (a == "-elim") {
            ideal_ops.push_back(argv[i]);
            o.elim = unsigned(number("-elim", value(), 1, 999));
            want_elim = 1;
            want_block = int(o.elim);
        } else if (a == "-intersect" || a == "-quotient") {
            // The quotient is made of intersections: both switches, and the
            // header then lists the variables from the first again.
            ideal_ops.push_back(argv[i]);
            o.second = value();
            o.quotient = a == "-quotient";
            want_elim = want_intersect = 1;
            if (o.quotient) want_quotient_display = 1;
        }
        else if (a == "-orbit") o.orbit = true;
        else if (a == "-canonic") o.canonic = true;
        else if (a == "-sparse-dim") o.sparse_dim = true;
        else if (a == "-cyclic" || a == "-katsura" || a == "-binaire") {
            o.example = a == "-cyclic" ? Options::Example::Cyclic
                        : a == "-katsura" ? Options::Example::Katsura : Options::Example::Binaire;
            o.example_vars = unsigned(number(opt, value(), 2, 100));
        }
        else if (a == "-random") {
            o.example = Options::Example::Random;
            o.example_vars = unsigned(number(opt, value(), 1, 100));
            o.random_degree = unsigned(number(opt, value(), 1, 100));
        }
        else if (a == "-slave" || a == "-assist" || a == "-master") continue;
        else if (a.size() > 1 && a[0] == '-') Fatal("Unknown option %s\n%s", opt, kSeeUsage);
        else free_args.push_back(argv[i]);
    }
    const bool random = o.example == Options::Example::Random;
    if (o.example != Options::Example::None && free_args.empty()) {
        o.input = argv[0];  // file mode on the example
    } else if (free_args.size() == 1 && (o.example == Options::Example::None || random)) {
        o.input = free_args[0];
        o.has_file = true;
    } else if (free_args.size() == 2 && o.example == Options::Example::None) {
        o.peer_host = free_args[0];
        o.peer_port = int(number("PORT", free_args[1], 1, 65535));
    } else {
        if (free_args.empty() && argc <= 1) Fatal("No input file\n%s", kUsage);  // the usage in full
        Fatal("%s\n%s", free_args.empty() ? "No input file" : "Too many arguments", kSeeUsage);
    }
    if (o.lextri && o.build != Build::Prime) Fatal("Option -lextri needs the prime-field build (-prime P)\n%s", kSeeUsage);
    if (!ideal_ops.empty()) {
        const char* op = ideal_ops[0];
        if (ideal_ops.size() > 1) Fatal("Options %s and %s exclude one another\n%s", op, ideal_ops[1], kSeeUsage);
        if (o.build != Build::Prime)
            Fatal("Option %s needs the prime-field build (-prime P): the integer build has one block of variables\n",
                  op);
        if (!o.input) Fatal("Option %s needs a system file\n%s", op, kSeeUsage);
        if (o.second && o.example != Options::Example::None)
            Fatal("Option %s needs a system file, not an example\n%s", op, kSeeUsage);
        if (want_homog) Fatal("Options %s and -homog exclude one another\n%s", op, kSeeUsage);
    }
    if (o.lex && o.build != Build::Vector) Fatal("Option -lex needs a vector of primes (-primes K)\n");
    // Both work on the whole quotient, whose staircase -qhomog cuts short.
    if (want_qhomogene && (o.lex || o.lextri))
        Fatal("Options %s and -qhomog exclude one another\n%s", o.lex ? "-lex" : "-lextri", kSeeUsage);
    return o;
}

}  // namespace tesk::server
