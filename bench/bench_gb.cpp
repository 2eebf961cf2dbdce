// Reduced Groebner bases of the standard systems, ours against the peers in
// one run.
//
// Ours: a whole host request (init, send, compute, receive) through the host
// entry points and the stand-in host, modulo 65521 on 1 and 8 threads and
// over the integers (the basis, and for some systems the multiplication
// matrix's rational form, QUOR_COMPUTE_MATRIXN).  Peers: mathicgb's `mgb` (F4 reducer, 1 and 8 threads),
// Singular (std modulo 65521, modStd over the rationals) and giac (gbasis
// modulo 65521 and over the rationals, one thread), run as external
// programs.  Peers that are not installed are not registered.
//
// An earlier build of ours (environment QUOR_BENCH_BASE: the path of its
// command-line host `quor`) runs beside, as an external program whose
// printed basis is checked like ours, so that a speed-up is a ratio of one
// run (tools/bench-gb --base REV builds one).
//
// Every measurement runs in a child process with a time limit (environment
// QUOR_BENCH_TIMEOUT, seconds, default 60): a run that takes longer is
// killed and reported as an error, and a library failure cannot take the
// benchmark process down.  The parent never calls the library, so each child
// starts with a fresh library and OpenMP runtime.  The parent holds no
// reference basis (the children read them), so that what a child inherits
// from it adds little to the child's peak.  A run shorter than a
// quarter of a second is made five times and the one of median wall time
// reported, ours and the peers' alike: a single run of a few milliseconds
// swings with whatever the machine did just before.
//
// Counters: wall_s (wall seconds of the run; also the benchmark's manual
// time), peak_mb (peak resident memory of the run, megabytes of 10^6 bytes:
// ours, the child's own peak at the end of the request, before the
// reference is read; a peer's or the earlier build's, its process's, from
// wait4), cpu_s (CPU seconds of every thread / process of the run; the CPU
// column of the report is the benchmark process's own, which only waits),
// compute_s (the computation alone: our compute call, the peers' own timers),
// polys (size of the basis), ref_lm / ref_exact (1: the basis has the
// reference's size and leading monomials / the same text, 0: it has not, -1:
// no reference), and the ratios: x_gf1 / x_gf8 / x_int = this run's wall time
// over ours of the same system (> 1: we are faster; for the earlier build,
// its speed-up), speedup = gf 1 thread over gf 8 threads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/child_process.h"
#include "host/standin/host_session.h"
#include "host/standin/standin.h"
#include "host/standin/system_file.h"

namespace {

using quor::bench::ChildRun;
using quor::bench::describe_failure;
using quor::bench::exec_in;
using quor::bench::installed;
using quor::bench::now;
using quor::bench::run_child;
using quor::bench::scratch;
using quor::bench::self_cpu;
using quor::bench::write_file;
using quor::standin::Host;
using quor::standin::Poly;
using quor::standin::System;
using quor::standin::Term;
namespace fs = std::filesystem;

constexpr long kPrime = 65521;
constexpr int kManyThreads = 8;

double time_limit() { return quor::bench::time_limit(60.0); }

// ---------------------------------------------------------------------------
// Systems and their reference bases (loaded once, before any child is forked)
// ---------------------------------------------------------------------------

struct Reference {
  bool present = false;
  // Leading monomial of each polynomial, and its canonical text.
  std::vector<std::pair<quor::standin::Exponents, std::string>> entries;
};

struct Loaded {
  std::string error;  // non-empty: the system cannot be used
  System sys;
  // The reference files (read in the children) and their line counts.
  std::string gf_path, qq_path;
  long gf_size = -1, qq_size = -1;
};

// Non-empty lines of a file, -1 when it cannot be read.
long count_lines(const std::string& path) {
  std::ifstream in(path);
  if (!in) return -1;
  long n = 0;
  std::string line;
  while (std::getline(in, line))
    if (line.find_first_not_of(" \t\r") != std::string::npos) ++n;
  return n > 0 ? n : -1;
}

std::string shared_dir() { return QUOR_SHARED_DIR; }

// A system file: the shared systems first, then the repository's own (bench/systems).
std::string system_path(const std::string& name) {
  const std::string shared = shared_dir() + "/systems/" + name + ".txt";
  if (fs::exists(shared)) return shared;
  return std::string(QUOR_SOURCE_DIR) + "/bench/systems/" + name + ".txt";
}

Reference load_reference(const System& sys, const std::string& path) {
  Reference ref;
  std::ifstream in(path);
  if (!in) return ref;
  std::string line, list = "[";
  std::vector<std::string> lines;
  while (std::getline(in, line)) {
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    if (line.empty()) continue;
    if (!lines.empty()) list += ",\n";
    list += line;
    lines.push_back(line);
  }
  list += "]";
  if (lines.empty()) return ref;
  const std::vector<Poly> polys = quor::standin::parse_poly_list(list, sys, path);
  for (std::size_t i = 0; i < polys.size(); ++i) ref.entries.emplace_back(polys[i].front().e, lines[i]);
  std::sort(ref.entries.begin(), ref.entries.end());
  ref.present = true;
  return ref;
}

const Loaded& system_named(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Loaded>> cache;
  auto& slot = cache[name];
  if (!slot) {
    slot = std::make_unique<Loaded>();
    try {
      slot->sys = quor::standin::read_system(system_path(name));
      slot->gf_path = shared_dir() + "/reference/" + name + ".gf65521.gb.txt";
      slot->qq_path = shared_dir() + "/reference/" + name + ".qq.gb.txt";
      slot->gf_size = count_lines(slot->gf_path);
      slot->qq_size = count_lines(slot->qq_path);
    } catch (const std::exception& e) {
      slot->error = e.what();
    }
  }
  return *slot;
}

// 1: the basis has the reference's size and leading monomials; 0: it has
// not; -1: no reference.  exact likewise for the whole canonical text.
void compare(const std::vector<Poly>& basis, const System& sys, const Reference& ref, int& lm, int& exact) {
  lm = exact = -1;
  if (!ref.present) return;
  std::vector<std::pair<quor::standin::Exponents, std::string>> ours;
  for (const Poly& p : basis) {
    if (p.empty()) {
      ours.emplace_back(quor::standin::Exponents(), "0");
      continue;
    }
    ours.emplace_back(p.front().e, quor::standin::poly_text(p, sys.vars));
  }
  std::sort(ours.begin(), ours.end());
  lm = exact = 0;
  if (ours.size() != ref.entries.size()) return;
  for (std::size_t i = 0; i < ours.size(); ++i)
    if (ours[i].first != ref.entries[i].first) return;
  lm = 1;
  for (std::size_t i = 0; i < ours.size(); ++i)
    if (ours[i].second != ref.entries[i].second) return;
  exact = 1;
}

// ---------------------------------------------------------------------------
// Ours: one host request through the entry points
// ---------------------------------------------------------------------------

struct OursResult {
  double wall = 0, compute = 0, cpu = 0;
  long peak_kb = 0;  // the process's peak at the end of the request
  std::vector<Poly> basis;
};

// The results of a computation modulo a prime as the command-line host
// receives them: residues exported a few at a time, made text at once.
std::vector<std::string> receive_lines(Host& h, const std::vector<std::string>& vars) {
  const std::size_t nvars = vars.size();
  auto [count, terms] = quor::standin::result_count(h);
  std::vector<std::string> lines;
  std::vector<std::uint32_t> e, c;
  for (long i = 0; i < count; ++i) {
    if (terms < 0 || terms > INT32_MAX) throw std::runtime_error("a result has " + std::to_string(terms) + " terms");
    const std::size_t t = std::size_t(terms);
    if (e.size() < (t + 1) * nvars) e.resize((t + 1) * nvars);
    if (c.size() < t + 1) c.resize(t + 1);
    terms = quor::standin::receive_residues(h, std::int32_t(i), std::int32_t(t), nvars, e.data(), c.data());
    lines.push_back(quor::standin::rows_text(e.data(), c.data(), t, vars));
  }
  return lines;
}

// The whole request (init, threads, send, compute, receive) of s, modulo
// kPrime on `threads` threads, or over the integers, for the strategy.
// The results are received as the command-line host receives them (made
// text, see receive_lines and receive_integer_lines), and made polynomials
// after the peak is read.
OursResult run_request(const System& s, bool gf, int threads, const std::string& strategy) {
  Host h;
  quor::standin::RequestOptions o;
  o.prime = gf ? kPrime : 0;
  o.threads = gf ? threads : 0;
  o.strategy = strategy;
  const double t0 = now(), c0 = self_cpu();
  quor::standin::RequestResult r;
  std::vector<std::string> lines;
  quor::standin::open_request(h, s, o);
  r = quor::standin::compute(h, o);
  if (r.end == quor::standin::RequestEnd::done)
    lines = gf ? receive_lines(h, s.vars) : quor::standin::receive_integer_lines(h, s.vars, 1);
  if (r.end != quor::standin::RequestEnd::done) throw std::runtime_error("the computation was interrupted");
  OursResult out;
  out.wall = now() - t0;
  out.cpu = self_cpu() - c0;
  out.peak_kb = quor::bench::self_peak_kb();
  out.compute = r.compute_wall;
  {
    std::string list = "[";
    for (std::size_t i = 0; i < lines.size(); ++i) list += (i ? ",\n" : "") + lines[i];
    std::vector<std::string>().swap(lines);
    out.basis = quor::standin::parse_poly_list(list + "]", s, "the results");
  }
  if (!h.violations().empty()) throw std::runtime_error("host check: " + h.violations().front());
  return out;
}

// ---------------------------------------------------------------------------
// Peers
// ---------------------------------------------------------------------------

// mathicgb's ideal format: "p n r", r weight rows, the count, one polynomial a line over a, b, c, ...
// The two-block order is given by weights: the first block's degree, then
// the degrees of x1..x(k-1), x1..x(k-2), ..., x1 (which with the first block's
// degree fixed order it by reverse lexicographic comparison), then the second
// block's degree; the remaining ties are broken reverse-lexicographically.
std::string mgb_ideal(const System& s) {
  const std::size_t n = s.vars.size();
  if (n > 26) throw std::runtime_error("more than 26 variables");
  std::vector<std::vector<int>> rows;
  if (s.blocks == 0) {
    rows.emplace_back(n, 1);
  } else {
    for (int j = s.blocks; j >= 1; --j) {
      std::vector<int> w(n, 0);
      std::fill(w.begin(), w.begin() + j, 1);
      rows.push_back(w);
    }
    std::vector<int> w(n, 0);
    std::fill(w.begin() + s.blocks, w.end(), 1);
    rows.push_back(w);
  }
  std::string out = std::to_string(kPrime) + " " + std::to_string(n) + " " + std::to_string(rows.size()) + "\n";
  for (const auto& w : rows) {
    for (int x : w) {
      out += ' ';
      out += std::to_string(x);
    }
    out += "\n";
  }
  out += std::to_string(s.polys.size()) + "\n";
  for (const Poly& p : s.polys) {
    std::string line;
    for (const Term& t : p) {
      const unsigned long c = mpz_fdiv_ui(t.c.get(), (unsigned long)kPrime);
      if (c == 0) continue;
      std::string mono;
      for (std::size_t j = 0; j < n; ++j) {
        if (t.e[j] == 0) continue;
        mono += char('a' + j);
        if (t.e[j] > 1) mono += std::to_string(t.e[j]);
      }
      if (!line.empty()) line += "+";
      if (mono.empty() || c != 1) line += std::to_string(c);
      line += mono;
    }
    out += (line.empty() ? "0" : line) + "\n";
  }
  return out;
}

// Singular's script: the ring, the ideal, the reduced basis timed by Singular itself.
std::string singular_script(const System& s, bool rationals) {
  const std::size_t n = s.vars.size();
  std::string vars;
  for (std::size_t j = 0; j < n; ++j) vars += (j ? "," : "") + s.vars[j];
  const std::string order = s.blocks == 0 ? "dp"
                                          : "(dp(" + std::to_string(s.blocks) + "),dp(" +
                                                std::to_string(int(n) - s.blocks) + "))";
  std::string out = "system(\"--ticks-per-sec\",1000);\n";
  if (rationals) out += "LIB \"modstd.lib\";\n";
  out += "ring r = " + std::string(rationals ? "0" : std::to_string(kPrime)) + ", (" + vars + "), " + order + ";\n";
  out += "option(redSB); option(redTail);\n";
  out += "ideal i =\n";
  for (std::size_t k = 0; k < s.polys.size(); ++k)
    out += quor::standin::poly_text(s.polys[k], s.vars) + (k + 1 < s.polys.size() ? ",\n" : ";\n");
  out += "int t0 = rtimer;\n";
  out += std::string("ideal g = ") + (rationals ? "modStd(i)" : "std(i)") + ";\n";
  out += "int t1 = rtimer;\n";
  out += "print(\"QUOR_BENCH \" + string(size(g)) + \" \" + string(t1 - t0));\nquit;\n";
  return out;
}

// giac's script: the reduced basis for the reverse lexicographic order on one
// thread (modulo the prime: the inputs reduced by `%`), its size printed.
std::string giac_script(const System& s, bool rationals) {
  if (s.blocks != 0) throw std::runtime_error("two-block order not given to giac");
  std::string vars, list;
  for (std::size_t j = 0; j < s.vars.size(); ++j) vars += (j ? "," : "") + s.vars[j];
  for (std::size_t k = 0; k < s.polys.size(); ++k)
    list += (k ? ",\n" : "") + quor::standin::poly_text(s.polys[k], s.vars);
  std::string out = "threads:=1;\n";
  out += "G:=gbasis([" + list + "]" + (rationals ? "" : " % " + std::to_string(kPrime)) + ",[" + vars +
         "],revlex):;\n";
  out += "print(\"QUOR_BENCH \"+size(G));\n";
  return out;
}

// The earlier build's command-line host, or empty when none is given.
std::string base_program() {
  const char* b = std::getenv("QUOR_BENCH_BASE");
  return b != nullptr && access(b, X_OK) == 0 ? std::string(b) : std::string();
}

// ---------------------------------------------------------------------------
// The benchmarks
// ---------------------------------------------------------------------------

enum class Variant {
  gf1, gf8, integer, int_matrixn, base_gf1, base_gf8, base_int, base_int_matrixn,
  mgb1, mgb8, sing_std, sing_modstd, giac_gf, giac_qq
};

constexpr const char* kMatrixN = "QUOR_COMPUTE_MATRIXN";

const char* variant_name(Variant v) {
  switch (v) {
    case Variant::gf1: return "quor_gf_1t";
    case Variant::gf8: return "quor_gf_8t";
    case Variant::integer: return "quor_int";
    case Variant::int_matrixn: return "quor_int_mn";
    case Variant::mgb1: return "mgb_1t";
    case Variant::mgb8: return "mgb_8t";
    case Variant::sing_std: return "singular_std";
    case Variant::sing_modstd: return "singular_modstd";
    case Variant::base_gf1: return "base_gf_1t";
    case Variant::base_gf8: return "base_gf_8t";
    case Variant::base_int: return "base_int";
    case Variant::base_int_matrixn: return "base_int_mn";
    case Variant::giac_gf: return "giac_gf";
    case Variant::giac_qq: return "giac_qq";
  }
  return "?";
}

// Wall times of ours in this run, by system and variant.
std::map<std::pair<std::string, Variant>, double>& ours_wall() {
  static std::map<std::pair<std::string, Variant>, double> m;
  return m;
}

struct Sample {
  double wall = 0, cpu = 0, compute = -1;
  long peak_kb = 0;
  long polys = -1;
  int lm = -1, exact = -1;
};

// Outcome of one run: the sample, or the reason it has none.
struct Outcome {
  std::optional<Sample> sample;
  std::string error;
};

Outcome run_ours(const Loaded& l, Variant v, double limit) {
  const bool gf = v == Variant::gf1 || v == Variant::gf8;
  const bool matrixn = v == Variant::int_matrixn;
  const int threads = v == Variant::gf8 ? kManyThreads : 1;
  const ChildRun c = run_child(
      [&](int fd) {
        std::string report;
        try {
          const OursResult r = run_request(l.sys, gf, threads, matrixn ? kMatrixN : "QUOR_COMPUTE_GBASIS");
          const long peak = r.peak_kb;
          int lm = -1, exact = -1;
          if (!matrixn) compare(r.basis, l.sys, load_reference(l.sys, gf ? l.gf_path : l.qq_path), lm, exact);
          char b[256];
          std::snprintf(b, sizeof b, "QUOR_BENCH %.9f %.9f %.9f %zu %d %d %ld\n", r.wall, r.compute, r.cpu,
                        r.basis.size(), lm, exact, peak);
          report = b;
        } catch (const std::exception& e) {
          report = std::string("QUOR_ERROR ") + e.what() + "\n";
        }
        return quor::bench::write_report(fd, report);
      },
      limit);
  Outcome o;
  const std::size_t at = c.output.find("QUOR_BENCH ");
  Sample s;
  std::size_t polys = 0;
  if (!c.timed_out && at != std::string::npos &&
      std::sscanf(c.output.c_str() + at, "QUOR_BENCH %lf %lf %lf %zu %d %d %ld", &s.wall, &s.compute, &s.cpu,
                  &polys, &s.lm, &s.exact, &s.peak_kb) == 7) {
    s.polys = long(polys);
    o.sample = s;
    return o;
  }
  const std::size_t e = c.output.find("QUOR_ERROR ");
  o.error = e != std::string::npos ? c.output.substr(e + 11) : describe_failure(c, limit);
  while (!o.error.empty() && o.error.back() == '\n') o.error.pop_back();
  return o;
}

long reference_size(const Loaded& l, bool rationals) { return rationals ? l.qq_size : l.gf_size; }

// A peer's sample: the child's times, the number of polynomials it printed
// and its own compute time (-1: not reported); lm tells whether the count is
// the reference's.
Outcome peer_sample(const Loaded& l, const ChildRun& c, bool rationals, long count, double compute) {
  Sample s;
  s.wall = c.wall;
  s.cpu = c.cpu;
  s.peak_kb = c.peak_kb;
  s.compute = compute;
  s.polys = count;
  const long want = reference_size(l, rationals);
  s.lm = want < 0 ? -1 : int(want == count);
  Outcome o;
  o.sample = s;
  return o;
}

Outcome run_mgb(const Loaded& l, const std::string& name, int threads, double limit) {
  Outcome o;
  const fs::path dir = scratch() / ("mgb-" + name + "-" + std::to_string(threads));
  fs::create_directories(dir);
  const std::string project = "sys";
  std::error_code ec;
  fs::remove(dir / (project + ".gb"), ec);
  try {
    write_file(dir / (project + ".ideal"), mgb_ideal(l.sys));
  } catch (const std::exception& e) {
    o.error = e.what();
    return o;
  }
  const ChildRun c = run_child(
      [&](int) {
        return exec_in(dir, {"mgb", "gb", project, "-reducer", "26", "-threadCount", std::to_string(threads),
                             "-outputResult", "on"});
      },
      limit);
  if (c.timed_out || !c.exited || c.status != 0) {
    o.error = describe_failure(c, limit);
    return o;
  }
  std::ifstream gb(dir / (project + ".gb"));
  long count = -1;
  if (!(gb >> count)) {
    o.error = "no basis written";
    return o;
  }
  const std::size_t at = c.output.find("total compute time:");
  return peer_sample(l, c, false, count, at != std::string::npos ? std::atof(c.output.c_str() + at + 19) : -1);
}

Outcome run_singular(const Loaded& l, const std::string& name, bool rationals, double limit) {
  Outcome o;
  const fs::path dir = scratch() / ("singular-" + name + (rationals ? "-qq" : "-gf"));
  fs::create_directories(dir);
  write_file(dir / "sys.sing", singular_script(l.sys, rationals));
  const ChildRun c = run_child([&](int) { return exec_in(dir, {"Singular", "-q", "--no-rc", "sys.sing"}); }, limit);
  const std::size_t at = c.output.find("QUOR_BENCH ");
  long count = -1, ms = -1;
  if (c.timed_out || at == std::string::npos ||
      std::sscanf(c.output.c_str() + at, "QUOR_BENCH %ld %ld", &count, &ms) != 2) {
    o.error = describe_failure(c, limit);
    return o;
  }
  return peer_sample(l, c, rationals, count, double(ms) / 1000.0);
}

Outcome run_giac(const Loaded& l, const std::string& name, bool rationals, double limit) {
  Outcome o;
  const fs::path dir = scratch() / ("giac-" + name + (rationals ? "-qq" : "-gf"));
  fs::create_directories(dir);
  try {
    write_file(dir / "sys.giac", giac_script(l.sys, rationals));
  } catch (const std::exception& e) {
    o.error = e.what();
    return o;
  }
  const ChildRun c = run_child([&](int) { return exec_in(dir, {"giac", "sys.giac"}); }, limit);
  const std::size_t at = c.output.find("QUOR_BENCH ");
  long count = -1;
  if (c.timed_out || at == std::string::npos || std::sscanf(c.output.c_str() + at, "QUOR_BENCH %ld", &count) != 1) {
    o.error = describe_failure(c, limit);
    return o;
  }
  const std::size_t t = c.output.find("Groebner basis computation time");
  return peer_sample(l, c, rationals, count, t != std::string::npos ? std::atof(c.output.c_str() + t + 31) : -1);
}

// The earlier build's command-line host on the system file; its printed
// basis (one polynomial a line) is checked against the reference, in a
// child of its own (the parent stays lean).
Outcome run_base(const Loaded& l, const std::string& name, Variant v, double limit) {
  Outcome o;
  const std::string prog = base_program();
  const bool gf = v == Variant::base_gf1 || v == Variant::base_gf8;
  const bool matrixn = v == Variant::base_int_matrixn;
  const fs::path dir = scratch() / ("base-" + name + "-" + variant_name(v));
  fs::create_directories(dir);
  const fs::path basis = dir / "basis.txt";
  std::vector<std::string> argv{prog};
  if (gf) argv.insert(argv.end(), {"--prime", std::to_string(kPrime), "--threads",
                                   std::to_string(v == Variant::base_gf8 ? kManyThreads : 1)});
  if (matrixn) argv.insert(argv.end(), {"--strategy", kMatrixN});
  argv.push_back(system_path(name));
  const ChildRun c = run_child(
      [&](int) {
        const int fd = open(basis.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0) return 126;
        close(fd);
        return exec_in(dir, argv);
      },
      limit);
  if (c.timed_out || !c.exited || c.status != 0) {
    o.error = describe_failure(c, limit);
    return o;
  }
  Sample s;
  s.wall = c.wall;
  s.cpu = c.cpu;
  s.peak_kb = c.peak_kb;
  const ChildRun check = run_child(
      [&](int fd) {
        const Reference got = load_reference(l.sys, basis.string());
        int lm = -1, exact = -1;
        const Reference ref = matrixn ? Reference{} : load_reference(l.sys, gf ? l.gf_path : l.qq_path);
        if (ref.present) {
          lm = exact = 0;
          if (got.entries.size() == ref.entries.size()) {
            lm = exact = 1;
            for (std::size_t i = 0; i < got.entries.size(); ++i) {
              if (got.entries[i].first != ref.entries[i].first) lm = exact = 0;
              if (got.entries[i].second != ref.entries[i].second) exact = 0;
            }
          }
        }
        return quor::bench::write_report(
            fd, "QUOR_CHECK " + std::to_string(got.entries.size()) + " " + std::to_string(lm) + " " +
                    std::to_string(exact) + "\n");
      },
      limit);
  const std::size_t at = check.output.find("QUOR_CHECK ");
  if (at == std::string::npos ||
      std::sscanf(check.output.c_str() + at, "QUOR_CHECK %ld %d %d", &s.polys, &s.lm, &s.exact) != 3) {
    o.error = "the basis could not be checked: " + describe_failure(check, limit);
    return o;
  }
  o.sample = s;
  return o;
}

// Runs shorter than this (wall seconds) are made kShortRuns times.
constexpr double kShortRun = 0.25;
constexpr std::size_t kShortRuns = 5;

void run_benchmark(benchmark::State& state, const std::string& name, Variant v) {
  const Loaded& l = system_named(name);
  if (!l.error.empty()) {
    state.SkipWithError(l.error.c_str());
    return;
  }
  const double limit = time_limit();
  Sample sum;
  sum.wall = sum.cpu = 0;
  long peak_kb = 0;
  double compute_sum = 0;
  bool have_compute = true;
  long iters = 0;
  auto run_once = [&]() -> Outcome {
    switch (v) {
      case Variant::gf1:
      case Variant::gf8:
      case Variant::integer:
      case Variant::int_matrixn: return run_ours(l, v, limit);
      case Variant::mgb1: return run_mgb(l, name, 1, limit);
      case Variant::mgb8: return run_mgb(l, name, kManyThreads, limit);
      case Variant::sing_std: return run_singular(l, name, false, limit);
      case Variant::sing_modstd: return run_singular(l, name, true, limit);
      case Variant::base_gf1:
      case Variant::base_gf8:
      case Variant::base_int:
      case Variant::base_int_matrixn: return run_base(l, name, v, limit);
      case Variant::giac_gf: return run_giac(l, name, false, limit);
      case Variant::giac_qq: return run_giac(l, name, true, limit);
    }
    return Outcome{};
  };
  for (auto _ : state) {
    Outcome o = run_once();
    // A run of a few milliseconds measures the machine's state as much as
    // the program: it is repeated, and the run of median wall time kept
    // (a check that fails in any of them fails the sample).
    if (o.sample && o.sample->wall < kShortRun) {
      std::vector<Sample> runs{*o.sample};
      while (o.sample && runs.size() < kShortRuns) {
        o = run_once();
        if (o.sample) runs.push_back(*o.sample);
      }
      if (o.sample) {
        std::sort(runs.begin(), runs.end(), [](const Sample& a, const Sample& b) { return a.wall < b.wall; });
        Sample m = runs[runs.size() / 2];
        for (const Sample& r : runs) m.lm = std::min(m.lm, r.lm), m.exact = std::min(m.exact, r.exact);
        o.sample = m;
      }
    }
    if (!o.sample) {
      state.SkipWithError(o.error.c_str());
      return;
    }
    const Sample& s = *o.sample;
    state.SetIterationTime(s.wall);
    sum.wall += s.wall;
    sum.cpu += s.cpu;
    peak_kb = std::max(peak_kb, s.peak_kb);
    if (s.compute < 0) have_compute = false;
    compute_sum += s.compute;
    sum.polys = s.polys;
    // A check that fails once fails the benchmark's record.
    sum.lm = iters == 0 ? s.lm : std::min(sum.lm, s.lm);
    sum.exact = iters == 0 ? s.exact : std::min(sum.exact, s.exact);
    ++iters;
  }
  if (iters == 0) return;
  const double wall = sum.wall / double(iters);
  state.counters["wall_s"] = wall;
  state.counters["cpu_s"] = sum.cpu / double(iters);
  state.counters["peak_mb"] = double(peak_kb) * 1024.0 / 1e6;
  if (have_compute) state.counters["compute_s"] = compute_sum / double(iters);
  state.counters["polys"] = double(sum.polys);
  state.counters["ref_lm"] = sum.lm;
  if (v == Variant::gf1 || v == Variant::gf8 || v == Variant::integer || v == Variant::int_matrixn)
    ours_wall()[{name, v}] = wall;
  if (v == Variant::gf1 || v == Variant::gf8 || v == Variant::integer || v == Variant::base_gf1 ||
      v == Variant::base_gf8 || v == Variant::base_int)
    state.counters["ref_exact"] = sum.exact;
  auto ratio = [&](const char* counter, Variant base) {
    const auto it = ours_wall().find({name, base});
    if (it != ours_wall().end() && it->second > 0) state.counters[counter] = wall / it->second;
  };
  switch (v) {
    case Variant::gf8: {
      const auto it = ours_wall().find({name, Variant::gf1});
      if (it != ours_wall().end() && wall > 0) state.counters["speedup"] = it->second / wall;
      break;
    }
    case Variant::mgb1:
    case Variant::giac_gf:
    case Variant::base_gf1:
    case Variant::sing_std: ratio("x_gf1", Variant::gf1); break;
    case Variant::base_gf8:
    case Variant::mgb8: ratio("x_gf8", Variant::gf8); break;
    case Variant::giac_qq:
    case Variant::base_int:
    case Variant::sing_modstd: ratio("x_int", Variant::integer); break;
    case Variant::base_int_matrixn: ratio("x_int", Variant::int_matrixn); break;
    default: break;
  }
  if (sum.lm == 0) state.SetLabel("basis differs from the reference");
}

struct Entry {
  const char* system;
  bool rationals;        // also over the integers / rationals
  bool matrixn = false;  // also the rational form over the integers
};

// Registered in this order; each system's ours come before its peers, so the ratios can be taken.
constexpr Entry kSystems[] = {
    {"katsura-8", true},  {"katsura-9", true, true}, {"katsura-10", true, true}, {"katsura-11", true, true},
    {"katsura-12", true}, {"cyclic-6", true},  {"cyclic-7", true},   {"cyclic-8", false},
    {"eco-11", true},     {"eco-12", false},   {"noon-7", true},     {"noon-8", true},
    {"elim-katsura-8-b2", true},             {"elim-ratcurve-b2", true},
};

int register_all() {
  const bool have_mgb = installed("mgb");
  const bool have_singular = installed("Singular");
  const bool have_giac = installed("giac");
  const bool have_base = !base_program().empty();
  for (const Entry& e : kSystems) {
    std::vector<Variant> vs = {Variant::gf1, Variant::gf8};
    if (e.rationals) vs.push_back(Variant::integer);
    if (e.matrixn) vs.push_back(Variant::int_matrixn);
    if (have_base) {
      vs.push_back(Variant::base_gf1);
      vs.push_back(Variant::base_gf8);
      if (e.rationals) vs.push_back(Variant::base_int);
      if (e.matrixn) vs.push_back(Variant::base_int_matrixn);
    }
    if (have_mgb) {
      vs.push_back(Variant::mgb1);
      vs.push_back(Variant::mgb8);
    }
    if (have_singular) {
      vs.push_back(Variant::sing_std);
      if (e.rationals) vs.push_back(Variant::sing_modstd);
    }
    if (have_giac && std::string(e.system).rfind("elim-", 0) != 0) {
      vs.push_back(Variant::giac_gf);
      if (e.rationals) vs.push_back(Variant::giac_qq);
    }
    for (Variant v : vs) {
      const std::string name = e.system;
      benchmark::RegisterBenchmark(("gb/" + name + "/" + variant_name(v)).c_str(),
                                   [name, v](benchmark::State& st) { run_benchmark(st, name, v); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  return 0;
}

[[maybe_unused]] const int registered = register_all();

}  // namespace
