// quor: the command-line host.  Reads a polynomial system from a file,
// drives the library through the stand-in host exactly as a host does
// (init, send, compute, receive) and prints the reduced Groebner basis, one
// polynomial per line, leading term first.  The input format is described
// in host/standin/system_file.h.
#include <gmp.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/C/entry_points.h"
#include "host/standin/host_session.h"
#include "host/standin/standin.h"
#include "host/standin/system_file.h"

namespace {

using quor::standin::Host;
using quor::standin::Poly;
using quor::standin::System;
using quor::standin::system_file_detail::trim;

// A failure to report: the message, and the exit status.
struct Failure {
  std::string text;
  int status;
};

[[noreturn]] void fail(const std::string& text, int status = 2) { throw Failure{text, status}; }

struct Options {
  std::string file;
  long prime = 0;  // 0: integers
  long threads = 0;
  bool verbose = false;
  bool record = false;
  std::string strategy = "QUOR_COMPUTE_GBASIS";
  std::vector<std::int32_t> extra;  // o[1] ...
};

long number_arg(const std::string& opt, const std::string& v) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || errno != 0) fail(opt + ": malformed number '" + v + "'");
  return n;
}

const char* kUsage =
    "usage: quor [--prime P] [--threads N] [--verbose] [--strategy NAME] [--options a,b,...] [--record] FILE\n"
    "  --prime P      compute modulo the prime P < 65536 (default: over the integers)\n"
    "  --options      the options o[1], o[2], ... of the computation (o[0] is their count + 1)\n";

Options parse_args(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail(a + " needs a value\n" + kUsage);
      return argv[++i];
    };
    if (a == "--prime") {
      o.prime = number_arg(a, value());
      if (o.prime < 2 || o.prime >= 65536) fail("--prime: " + std::to_string(o.prime) + " is not in 2 .. 65535");
    } else if (a == "--threads") {
      o.threads = number_arg(a, value());
      if (o.threads < 1 || o.threads > 1024) fail("--threads: " + std::to_string(o.threads) + " is not in 1 .. 1024");
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--record") {
      o.record = true;
    } else if (a == "--strategy") {
      o.strategy = value();
    } else if (a == "--options") {
      std::stringstream ss(value());
      std::string v;
      while (std::getline(ss, v, ',')) {
        const long n = number_arg("--options", trim(v));
        if (n < INT32_MIN || n > INT32_MAX) fail("--options: " + v + " is not a 32-bit integer");
        o.extra.push_back(std::int32_t(n));
      }
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (!a.empty() && a[0] == '-') {
      fail("unknown option " + a + "\n" + kUsage);
    } else if (o.file.empty()) {
      o.file = a;
    } else {
      fail(std::string("one input file expected\n") + kUsage);
    }
  }
  if (o.file.empty()) fail(kUsage);
  return o;
}

// One request through the stand-in host, checked as a host would check it.
std::vector<Poly> run(const Options& o, const System& s) {
  Host h;
  quor::standin::RequestOptions ro;
  ro.prime = o.prime;
  ro.threads = o.threads;
  ro.record = o.record;
  ro.verbosity = o.verbose ? 3 : 0;
  ro.strategy = o.strategy;
  ro.extra = o.extra;
  quor::standin::RequestResult r;
  try {
    r = quor::standin::run_request(h, s, ro);
    // A record program gets its tail when the host sets the debug level back to 0.
    if (o.record) quor::standin::close_record(h, o.prime != 0);
  } catch (const quor::standin::RequestError& e) {
    fail(e.what(), 1);
  }
  if (r.end != quor::standin::RequestEnd::done) fail("the computation was interrupted", 1);
  if (o.verbose) std::fprintf(stderr, "%zu polynomials, %.2f s\n", r.basis.size(), r.cpu_seconds);
  for (const std::string& v : h.violations()) std::fprintf(stderr, "quor: host check: %s\n", v.c_str());
  if (!h.violations().empty()) fail("the library broke the host's rules", 3);
  return std::move(r.basis);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse_args(argc, argv);
    const System sys = quor::standin::read_system(o.file);
    const std::vector<Poly> basis = run(o, sys);
    for (const Poly& p : basis) std::printf("%s\n", quor::standin::poly_text(p, sys.vars).c_str());
    return 0;
  } catch (const quor::standin::SystemFileError& e) {
    std::fprintf(stderr, "quor: %s\n", e.what());
    return 2;
  } catch (const Failure& f) {
    std::fprintf(stderr, "quor: %s\n", f.text.c_str());
    return f.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quor: %s\n", e.what());
    return 1;
  }
}
