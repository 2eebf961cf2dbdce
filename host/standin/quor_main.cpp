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
#include "host/standin/standin.h"
#include "host/standin/system_file.h"

namespace {

using quor::standin::CallResult;
using quor::standin::Host;
using quor::standin::Poly;
using quor::standin::System;
using quor::standin::Term;
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

// The host's side of one request.
class Session {
 public:
  Session(const Options& o, const System& s) : o_(o), s_(s), gf_(o.prime != 0) {}

  std::vector<Poly> run() {
    const std::int32_t n = std::int32_t(s_.vars.size());
    const std::int32_t first = s_.blocks > 0 ? s_.blocks : n;
    const std::int32_t record = o_.record ? 1 : 0;
    if (gf_)
      check(h_.call(quor_gbasis_init, {I(first), I(n - first), I(0), I(o_.prime), I(record)}), "init");
    else
      check(h_.call(quor_int_gbasis_init, {I(first), I(n - first), I(0), I(record)}), "init");
    if (o_.threads > 0)
      check(h_.call(gf_ ? quor_internal_threads : quor_int_internal_threads, {I(o_.threads)}), "threads");
    for (std::size_t k = 0; k < s_.polys.size(); ++k) send(s_.polys[k], k);
    std::vector<std::int32_t> opts = {std::int32_t(o_.extra.size() + 1)};
    opts.insert(opts.end(), o_.extra.begin(), o_.extra.end());
    while (opts.size() < 4) opts.push_back(0);
    if (opts[0] < 4) opts[0] = 4;
    const CallResult r =
        h_.call(gf_ ? quor_gbasis_compute : quor_int_gbasis_compute,
                {h_.name("t"), h_.name("first"), h_.name("count"), I(0), I(o_.verbose ? 3 : 0), I(8), I(0), I(0),
                 h_.string(o_.strategy), I(0), I(0), h_.rtable_int32(opts, std::int32_t(opts.size()))});
    check(r, "compute");
    if (h_.to_int(r.value) == -2) fail("the computation was interrupted", 1);
    const long count = long(h_.to_int(h_.assigned("count")));
    long terms = long(h_.to_int(h_.assigned("first")));
    std::vector<Poly> out;
    for (long i = 0; i < count; ++i) {
      const std::string next = "next" + std::to_string(i);
      out.push_back(receive(std::int32_t(i), std::int32_t(terms), next));
      if (i + 1 < count) terms = long(h_.to_int(h_.assigned(next)));
    }
    if (o_.verbose) std::fprintf(stderr, "%ld polynomials, %.2f s\n", count, h_.to_double(h_.assigned("t")));
    for (const std::string& v : h_.violations()) std::fprintf(stderr, "quor: host check: %s\n", v.c_str());
    if (!h_.violations().empty()) fail("the library broke the host's rules", 3);
    return out;
  }

 private:
  HostValue I(long v) { return h_.integer(v); }

  void check(const CallResult& r, const char* what) {
    if (r.interrupted) fail(std::string(what) + ": interrupted", 1);
    if (r.raised) fail(std::string(what) + ": " + r.error, 1);
  }

  void send(const Poly& p, std::size_t k) {
    const std::size_t n = s_.vars.size();
    std::vector<std::int32_t> e;
    for (const Term& t : p) e.insert(e.end(), t.e.begin(), t.e.end());
    if (gf_) {
      std::vector<std::int32_t> c;
      for (const Term& t : p) c.push_back(std::int32_t(mpz_fdiv_ui(t.c.get(), (unsigned long)o_.prime)));
      e.push_back(0);
      c.push_back(0);
      std::int32_t code = 0;
      check(h_.run([&] {
        code = quor_send_poly(std::uint32_t(n), std::uint32_t(p.size()), e.data(), c.data());
        return h_.null();
      }),
            "send");
      if (code != 1) fail("send: polynomial " + std::to_string(k + 1) + " refused", 1);
    } else {
      std::vector<HostValue> c;
      for (const Term& t : p) c.push_back(h_.gmp_integer(t.c.get()));
      check(h_.call(quor_int_send_poly_gmp,
                    {I(long(n)), I(long(p.size())), h_.rtable_int32(e, std::int32_t(e.size())), h_.list(c)}),
            "send");
    }
  }

  Poly receive(std::int32_t index, std::int32_t nterms, const std::string& next) {
    const std::size_t n = s_.vars.size();
    Poly p(static_cast<std::size_t>(nterms));
    if (gf_) {
      std::vector<std::uint32_t> e(std::size_t(nterms) * n + 1), c(std::size_t(nterms) + 1);
      std::uint32_t nx = 0;
      std::int32_t code = 0;
      check(h_.run([&] {
        code = quor_receive_poly(index, std::uint32_t(n), std::uint32_t(nterms), e.data(), c.data(), &nx);
        return h_.null();
      }),
            "receive");
      if (code != 1) fail("receive: result " + std::to_string(index) + " cannot be read", 1);
      HostAssign(h_.kernel(), h_.name(next), I(nx));
      for (std::int32_t i = 0; i < nterms; ++i) {
        mpz_set_ui(p[std::size_t(i)].c.get(), c[std::size_t(i)]);
        p[std::size_t(i)].e.assign(e.begin() + long(i) * long(n), e.begin() + long(i + 1) * long(n));
      }
    } else {
      std::vector<std::int32_t> zeros(std::size_t(nterms) * n + 1, 0);
      HostValue ev = h_.rtable_int32(zeros, std::int32_t(zeros.size()));
      const CallResult r = h_.call(quor_int_receive_poly_gmp, {I(index), I(long(n)), I(nterms), ev, h_.name(next)});
      check(r, "receive");
      const std::vector<HostValue> c = h_.list_items(r.value);
      for (std::int32_t i = 0; i < nterms; ++i) {
        Term& t = p[std::size_t(i)];
        mpz_set_str(t.c.get(), h_.print(c[std::size_t(i)]).c_str(), 10);
        for (std::size_t j = 0; j < n; ++j) t.e.push_back(h_.rtable_at(ev, std::int32_t(i * long(n) + long(j) + 1)));
      }
    }
    return p;
  }

  const Options& o_;
  const System& s_;
  bool gf_;
  Host h_;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse_args(argc, argv);
    const System sys = quor::standin::read_system(o.file);
    Session session(o, sys);
    const std::vector<Poly> basis = session.run();
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
