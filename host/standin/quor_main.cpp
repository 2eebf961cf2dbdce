// quor: the command-line host.  Reads a polynomial system from a file,
// drives the library through the stand-in host exactly as a host does
// (init, send, compute, receive) and prints the reduced Groebner basis, one
// polynomial per line, leading term first.  The input format is described
// in host/standin/system_file.h.
#include <gmp.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/call_quor.h"
#include "host/C/entry_points.h"
#include "host/standin/host_session.h"
#include "host/standin/standin.h"
#include "host/standin/system_file.h"

namespace {

using quor::standin::Host;
using quor::standin::Poly;
using quor::standin::SparseSystem;
using quor::standin::system_file_detail::trim;

// A failure to report: the message, and the exit status.
struct Failure {
  std::string text;
  int status;
};

// Exit statuses: bad usage or a file that cannot be read, a request the
// library refused, the host's rules broken, an interrupt (128 + SIGINT).
constexpr int kBadUsage = 2, kRefused = 1, kHostRules = 3, kInterrupted = 130;

[[noreturn]] void fail(const std::string& text, int status = kBadUsage) { throw Failure{text, status}; }

// The monomial table's capacity when o[2] leaves the library's default.
constexpr long kDefaultTableCapacity = 500000;
// A full monomial table: the request is made again with a table four times
// larger, at most this many times.
constexpr int kTableRetries = 2;
// The messages of a full monomial table ([1] products, [3] the input's
// monomials) and of a matrix wider than the table allows (all bounded by o[2]).
constexpr const char* kTableFull[] = {"Sorry the size of the matrix is too big ![",
                                      "Sorry max number of columns is set to"};

bool table_full(const std::string& text) {
  return std::any_of(std::begin(kTableFull), std::end(kTableFull),
                     [&](const char* m) { return text.find(m) != std::string::npos; });
}

bool is_prime(long p) {
  if (p < 2) return false;
  for (long d = 2; d * d <= p; ++d)
    if (p % d == 0) return false;
  return true;
}

extern "C" void on_sigint(int) {
  // The library stops at its next poll; a second Ctrl-C ends the process at once.
  quor::standin::Host::raise_interrupt_flag();
  std::signal(SIGINT, SIG_DFL);
}

struct Options {
  std::string file;
  long prime = 0;  // 0: integers
  long threads = 0;
  bool verbose = false;
  bool record = false;
  std::string strategy = "QUOR_COMPUTE_GBASIS";
  std::vector<std::int32_t> extra;  // o[1] ...
  long nb = 0;           // _nb of the compute call
  bool hilbert = false;  // the Hilbert series of the basis instead of the basis
};

long number_arg(const std::string& opt, const std::string& v) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || errno != 0) fail(opt + ": malformed number '" + v + "'");
  return n;
}

const char* kUsage =
    "usage: quor [--prime P] [--threads N] [--verbose] [--strategy NAME] [--options a,b,...] [--nb K]\n"
    "            [--hilbert] [--record] FILE\n"
    "  --prime P      compute modulo the prime P < 65536 (default: over the integers)\n"
    "  --options      the options o[1], o[2], ... of the computation (o[0] is their count + 1)\n"
    "  --nb K         the first K polynomials are the ones to reduce (QUOR_COMPUTE_GBASIS_NF and _RECOMPUTE),\n"
    "                 the last K the divisors (QUOR_COMPUTE_RADICAL_STRATEG2)\n"
    "  --hilbert      print the Hilbert series h(t)/(1-t)^dim of the basis instead of the basis\n";

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
      if (!is_prime(o.prime)) fail("--prime: " + std::to_string(o.prime) + " is not a prime (P should be a prime below 65536)");
    } else if (a == "--threads") {
      o.threads = number_arg(a, value());
      if (o.threads < 1 || o.threads > 1024) fail("--threads: " + std::to_string(o.threads) + " is not in 1 .. 1024");
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--hilbert") {
      o.hilbert = true;
    } else if (a == "--nb") {
      o.nb = number_arg(a, value());
      if (o.nb < 0 || o.nb > INT32_MAX) fail("--nb: " + std::to_string(o.nb) + " is not a count");
    } else if (a == "--record") {
      o.record = true;
    } else if (a == "--strategy") {
      o.strategy = value();
      const auto& names = quor::kStrategyNames;
      if (std::find_if(std::begin(names), std::end(names), [&](const char* n) { return o.strategy == n; }) ==
          std::end(names)) {
        std::string list;
        for (const char* n : names) list += std::string("\n  ") + n;
        fail("--strategy: unknown strategy '" + quor::standin::system_file_detail::shown(o.strategy) +
             "'; the strategies are:" + list);
      }
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

// Coefficients as the user reads them: modulo a prime, the symmetric residue.
void symmetric(std::vector<Poly>& polys, long prime) {
  if (prime == 0) return;
  for (Poly& p : polys)
    for (quor::standin::Term& t : p)
      if (mpz_cmp_ui(t.c.get(), (unsigned long)prime / 2) > 0) mpz_sub_ui(t.c.get(), t.c.get(), (unsigned long)prime);
}

// The basis as the user reads it, a polynomial per line: modulo a prime
// the lines themselves, made as the results come (their terms would cost
// more than their text); over the integers the polynomials.
struct Basis {
  std::vector<std::string> lines;
  std::vector<Poly> polys;
  std::size_t size() const { return lines.size() + polys.size(); }
};

// The text of a large basis takes as long as a step of the computation: it
// is made on the threads the computation was given, a chunk at a time.
constexpr std::size_t kTextChunk = 256;

// Prints the basis, a polynomial per line, in order.
void print_basis(const Basis& basis, const std::vector<std::string>& vars, long threads) {
  for (const std::string& l : basis.lines) {
    std::fwrite(l.data(), 1, l.size(), stdout);
    std::fputc('\n', stdout);
  }
  const std::size_t width = std::size_t(std::max<long>(1, threads));
  std::vector<std::string> texts(std::min(kTextChunk, basis.polys.size()));
  for (std::size_t from = 0; from < basis.polys.size(); from += kTextChunk) {
    const std::size_t n = std::min(kTextChunk, basis.polys.size() - from);
    quor::standin::on_team(
        n, width, [&](std::size_t i) { texts[i] = quor::standin::poly_text(basis.polys[from + i], vars); });
    for (std::size_t i = 0; i < n; ++i) {
      std::fwrite(texts[i].data(), 1, texts[i].size(), stdout);
      std::fputc('\n', stdout);
    }
  }
}

// The lines of the results of the computation just done modulo a prime, as
// the host receives them: exported a chunk of results at a time into
// buffers kept from one chunk to the next, then made text on the team.
std::vector<std::string> receive_lines(Host& h, const std::vector<std::string>& vars, long threads) {
  const std::size_t n = vars.size(), width = std::size_t(std::max<long>(1, threads));
  auto [count, terms] = quor::standin::result_count(h);
  std::vector<std::string> lines(std::size_t(std::max<long>(0, count)));
  std::vector<std::uint32_t> e, c;
  std::vector<std::size_t> first;  // each result's first term in e and c, and the end
  for (long from = 0; from < count; from += long(kTextChunk)) {
    const std::size_t k = std::size_t(std::min<long>(long(kTextChunk), count - from));
    first.assign(1, 0);
    for (std::size_t i = 0; i < k; ++i) {
      if (terms < 0 || terms > INT32_MAX)
        throw quor::standin::RequestError("receive: result " + std::to_string(from + long(i)) + " has " +
                                          std::to_string(terms) + " terms");
      const std::size_t at = first.back(), end = at + std::size_t(terms);
      if (e.size() < end * n + 1) e.resize(end * n + 1);
      if (c.size() < end + 1) c.resize(end + 1);
      terms = quor::standin::receive_residues(h, std::int32_t(from + long(i)), std::int32_t(end - at), n,
                                              e.data() + at * n, c.data() + at);
      first.push_back(end);
    }
    quor::standin::on_team(k, width, [&](std::size_t i) {
      lines[std::size_t(from) + i] =
          quor::standin::rows_text(e.data() + first[i] * n, c.data() + first[i], first[i + 1] - first[i], vars);
    });
  }
  return lines;
}

// The line of the dimension, from the constant dim + 2 the library sends
// (modulo the prime, if any).  dim is one of -1 .. n: modulo a prime up to
// n + 2 several may share the residue, and then all of them are named.
std::string dimension_line(long constant, long prime, long n) {
  if (prime == 0) return "dim = " + std::to_string(constant - 2);
  const long r = ((constant % prime) + prime) % prime;
  std::vector<long> dims;
  for (long d = -1; d <= n; ++d)
    if ((d + 2) % prime == r) dims.push_back(d);
  if (dims.size() == 1) return "dim = " + std::to_string(dims[0]);
  const long residue = ((r - 2) % prime + prime) % prime;
  std::string line = "dim = " + std::to_string(residue) + " modulo " + std::to_string(prime) + " (one of";
  for (std::size_t i = 0; i < dims.size(); ++i) line += (i ? ", " : " ") + std::to_string(dims[i]);
  return line + ")";
}

// One request through the stand-in host, checked as a host would check it.
Basis run_once(const Options& o, const SparseSystem& s) {
  Host h;
  quor::standin::RequestOptions ro;
  ro.prime = o.prime;
  ro.threads = o.threads;
  ro.record = o.record;
  ro.verbosity = o.verbose ? 3 : 0;
  ro.strategy = o.strategy;
  ro.extra = o.extra;
  ro.nb = std::int32_t(o.nb);
  quor::standin::RequestResult r;
  Basis out;
  bool interrupted = false;
  try {
    constexpr auto kDone = quor::standin::RequestEnd::done;
    if (!o.hilbert) {
      quor::standin::open_request(h, s, ro);
      r = quor::standin::compute(h, ro);
      if (r.end == kDone)
        out.lines = o.prime != 0 ? receive_lines(h, s.vars, o.threads) : quor::standin::receive_integer_lines(h, s.vars, o.threads);
    } else {
      r = quor::standin::run_request(h, s, ro);
      if (o.hilbert && r.end == kDone) r = quor::standin::hilbert_request(h, s, ro);
      out.polys = std::move(r.basis);
    }
    interrupted = r.end != kDone;
  } catch (const quor::standin::RequestInterrupted&) {
    interrupted = true;
  } catch (const quor::standin::RequestError& e) {
    fail(e.what(), kRefused);
  }
  // A record program gets its tail when the host sets the debug level back
  // to 0: after an interrupt too, so that it replays the request up to there.
  if (o.record) {
    try {
      quor::standin::close_record(h, o.prime != 0);
    } catch (const quor::standin::RequestError& e) {
      fail(e.what(), kRefused);
    }
    // The name holds the time of day (and a blank), which nobody can guess: quoted, it pastes into a shell.
    const char* name = o.prime != 0 ? Quor_record_file_name() : Quor_int_record_file_name();
    if (*name != '\0') std::fprintf(stderr, "quor: record program written to '%s'\n", name);
  }
  if (interrupted) fail("interrupted", kInterrupted);
  if (o.verbose) std::fprintf(stderr, "%zu polynomials, %.2f s\n", out.size(), r.cpu_seconds);
  for (const std::string& v : h.violations()) std::fprintf(stderr, "quor: host check: %s\n", v.c_str());
  if (!h.violations().empty()) fail("the library broke the host's rules", kHostRules);
  return out;
}

// The request; a full monomial table is made four times larger (o[2]) and
// the request made again, kTableRetries times at most.
Basis run(Options o, const SparseSystem& s) {
  for (int attempt = 0;; ++attempt) {
    try {
      return run_once(o, s);
    } catch (const Failure& f) {
      if (f.status != kRefused || !table_full(f.text) || attempt == kTableRetries) throw;
      if (o.extra.size() < 2) o.extra.resize(2, 0);
      const long now = o.extra[1] > 0 ? o.extra[1] : kDefaultTableCapacity;
      const long next = std::min<long>(4 * now, INT32_MAX);
      if (next == now) throw;
      o.extra[1] = std::int32_t(next);
      if (o.verbose)
        std::fprintf(stderr, "quor: the monomial table of %ld entries is full; again with %ld entries (option o[2])\n",
                     now, next);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse_args(argc, argv);
    std::signal(SIGINT, on_sigint);
    const SparseSystem sys = quor::standin::read_sparse_system(o.file);
    Basis result = run(o, sys);
    if (o.hilbert) {
      std::vector<Poly>& basis = result.polys;
      // Result 0: h(t) in the first variable's slot; result 1: the constant dim + 2.
      if (basis.size() != 2)
        fail("the Hilbert series came back as " + std::to_string(basis.size()) + " polynomials", kHostRules);
      symmetric(basis, o.prime);
      std::vector<std::string> t(sys.vars.size(), "?");
      t[0] = "t";
      const long constant = basis[1].empty() ? 0 : mpz_get_si(basis[1][0].c.get());
      std::printf("h(t) = %s\n%s\n", quor::standin::poly_text(basis[0], t).c_str(),
                  dimension_line(constant, o.prime, long(sys.vars.size())).c_str());
      return 0;
    }
    // The zero ideal: its basis is empty, printed as the one polynomial 0.
    if (result.size() == 0) std::printf("0\n");
    print_basis(result, sys.vars, o.threads);
    // Freeing a large basis term by term takes about as long as printing it:
    // it is left to the end of the process, which gives the memory back at once
    // (held by a static, so a leak checker sees it still reachable).
    [[maybe_unused]] static Basis* volatile kept_to_the_end = nullptr;
    kept_to_the_end = new Basis(std::move(result));
    return 0;
  } catch (const quor::standin::SystemFileError& e) {
    std::fprintf(stderr, "quor: %s\n", e.what());
    return kBadUsage;
  } catch (const Failure& f) {
    std::fprintf(stderr, "quor: %s\n", f.text.c_str());
    return f.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quor: %s\n", e.what());
    return kRefused;
  }
}
