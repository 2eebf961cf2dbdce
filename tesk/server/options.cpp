// The server's command line (server.h).
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
    "usage: tesk-server [options] FILE | [-slave|-assist|-master] HOST PORT\n"
    "  output:  -fortran (default) -pretty -tex -lisp -posso -raw -binary -nooutput\n"
    "           -head -last -host-input -ohost -out-rational -out-float -out-approx -out-approx-modp\n"
    "  domain:  -prime P (modulo P < 65535) | -primes K (K primes above 2^31 at once) -offset N\n"
    "  input:   FILE | -cyclic N | -katsura N | -binaire N; -analyse\n"
    "  other:   -homog -qhomog -save FILE -teskhome DIR -normal-form FILE -hilbert -nbsol -prepare\n"
    "           -lex (with -primes: the lexicographic basis of a zero-dimensional system)\n"
    "  -lextri  the lextriangular decomposition of a zero-dimensional system (modulo P): a list of triangular sets\n"
    "  -degree  the degree of the ideal (h(1) of the Hilbert series of a one-block basis)\n"
    "  ideals:  -elim K (prime field: the basis of the ideal's polynomials free of the first K variables)\n"
    "           -intersect FILE2 (prime field: the intersection with the ideal of FILE2, same variables)\n"
    "           -quotient FILE2 (prime field: the quotient ideal FILE : FILE2, same variables)\n";

// A whole decimal number in [lo, hi], else fatal naming the option.
long number(const char* opt, const char* text, long lo, long hi) {
    char* end = nullptr;
    const long v = text ? std::strtol(text, &end, 10) : 0;
    if (!text || !*text || *end || v < lo || v > hi)
        Fatal("Option %s needs a number from %ld to %ld, not '%s'\n%s", opt, lo, hi, text ? text : "", kUsage);
    return v;
}

}  // namespace

Options parse_options(int argc, char** argv) {
    Options o;
    if (const char* p = std::getenv("TESKPRIME")) o.prime = std::uint32_t(number("TESKPRIME", p, 3, 65534));
    const char* save = nullptr;
    std::vector<const char*> free_args;
    std::vector<const char*> ideal_ops;  // -elim, -intersect, -quotient as given
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Fatal("Option %s needs a value\n%s", argv[i], kUsage);
            return argv[++i];
        };
        if (a == "-nooutput") want_output = 0;
        else if (a == "-fortran") want_fortran = 1, o.format = Format::Plain;
        else if (a == "-pretty") want_fortran = 0, want_posso_output = 0, o.format = Format::Pretty;
        else if (a == "-tex") o.format = Format::Tex;
        else if (a == "-lisp") o.format = Format::Lisp;
        else if (a == "-posso") want_posso_output = 1, want_fortran = 0, o.format = Format::Posso;
        else if (a == "-head") want_head = 1;
        else if (a == "-last") want_last_equation = 1;
        else if (a == "-host-input") want_host_input = 1;
        else if (a == "-ohost") want_Host_output = 1;
        else if (a == "-out-rational" || a == "-out-float" || a == "-out-approx" || a == "-out-approx-modp")
            want_rational_output = 1;
        else if (a == "-raw") want_raw_output = 1;
        else if (a == "-binary") want_raw_output = 1, want_raw_binary_output = 1;
        else if (a == "-homog") want_homog = 1;
        else if (a == "-qhomog") want_qhomogene = 1;
        else if (a == "-save") save = value();
        else if (a == "-teskhome") set_path_TESKHOME(value());
        else if (a == "-prime") o.build = Build::Prime, o.prime = std::uint32_t(number("-prime", value(), 3, 65534));
        else if (a == "-primes") o.build = Build::Vector, o.nprimes = unsigned(number("-primes", value(), 1, 20000));
        else if (a == "-offset") want_offset_primes = int(number("-offset", value(), 0, 19999));
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
        else if (a == "-cyclic" || a == "-katsura" || a == "-binaire") {
            o.example = a == "-cyclic" ? Options::Example::Cyclic
                        : a == "-katsura" ? Options::Example::Katsura : Options::Example::Binaire;
            o.example_vars = unsigned(number(argv[i], value(), 2, 100));
        }
        else if (a == "-slave" || a == "-assist" || a == "-master") continue;
        else if (a.size() > 1 && a[0] == '-') Fatal("Unknown option %s\n%s", argv[i], kUsage);
        else free_args.push_back(argv[i]);
    }
    if (o.example != Options::Example::None && free_args.empty()) {
        o.input = argv[0];  // file mode on the example
    } else if (free_args.size() == 1 && o.example == Options::Example::None) {
        o.input = free_args[0];
    } else if (free_args.size() == 2) {
        o.peer_host = free_args[0];
        o.peer_port = int(number("PORT", free_args[1], 1, 65535));
    } else {
        Fatal("%s\n%s", free_args.empty() ? "No input file" : "Too many arguments", kUsage);
    }
    if (o.lex && o.build != Build::Vector) Fatal("Option -lex needs a vector of primes (-primes K)\n%s", kUsage);
    if (o.lextri && o.build != Build::Prime) Fatal("Option -lextri needs the prime-field build (-prime P)\n%s", kUsage);
    if (!ideal_ops.empty()) {
        const char* op = ideal_ops[0];
        if (ideal_ops.size() > 1) Fatal("Options %s and %s exclude one another\n%s", op, ideal_ops[1], kUsage);
        if (o.build != Build::Prime)
            Fatal("Option %s needs the prime-field build (-prime P): the integer build has one block of variables\n",
                  op);
        if (!o.input) Fatal("Option %s needs a system file\n%s", op, kUsage);
        if (o.second && o.example != Options::Example::None)
            Fatal("Option %s needs a system file, not an example\n%s", op, kUsage);
    }
    if (save) {
        // The save channel belongs to the build that computes.
        WBUS* w = new WBUS(save);
        if (!w->valid) Fatal("Can't open the save file %s\n", save);
        hold_channel(w);
        if (o.build == Build::Vector)
            vgf::bin_save_file = w;
        else
            gfc::bin_save_file = w;
    }
    return o;
}

}  // namespace tesk::server
