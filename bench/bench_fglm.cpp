// The zero-dimensional path (QUOR_COMPUTE_MATRIXN: reduced basis, matrix of
// multiplication by the last variable on the staircase, sparse FGLM for the
// minimal polynomial and the parametrisation) against the quotient dimension
// D, on katsura-8 .. katsura-11 modulo 65521 (D = 256 .. 2048), 1 and 4
// threads; and over the integers (the minimal polynomial and the
// parametrisations in rational form, katsura-8 .. katsura-10 on one thread)
// beside giac's rational univariate representation over the rationals
// (gbasis(L, vars, rur), one thread) when giac is installed.
//
// Each run is a whole host request through the stand-in host, made in a
// child process with a time limit (environment QUOR_BENCH_TIMEOUT, seconds,
// default 120; 900 for the integer and giac runs), so that every run starts
// with a fresh library and OpenMP runtime.  The compute call runs at
// verbosity 3; its lines on standard error give the split: "Elapsed time
// DRL" is the wall time of the first basis, the rest of the compute call is
// the matrix stage (staircase, matrix, shape-position check and FGLM).
// Without that line, a separate QUOR_COMPUTE_GBASIS request on the same
// system gives the basis time.
//
// Counters: D (quotient dimension), total_s (wall seconds of the compute
// call; also the benchmark's manual time), request_s (init to last receive),
// gb_s / fglm_s (the two parts of total_s), fglm_pct (fglm_s in per cent of
// total_s), gb_line (1: gb_s from the timing line, 0: from a GBASIS request),
// stage_cpu_s (the library's CPU seconds of the matrix stage, printed on one
// thread only), ok (1: the minimal polynomial of the last variable is the
// reference's, 0: it is not, -1: no reference), speedup (1 thread over 4, on
// total_s).  Integer runs (int_1t): total_s, cpu_s, primes and passes, and
// the library's CPU seconds of the sparse FGLMs (fglm_s, every prime), of
// the rational form (rr_s, first pass only) and of the reconstruction
// (lift_s); the rest of cpu_s is the bases of the passes and the matrices.
// int_rrform_1t: the same through the change of ordering (QUOR_COMPUTE_RRFORM).
// ok compares F modulo 65521 with the reference.  giac runs (giac_rur_1t):
// total_s (wall), cpu_s, giac_primes, and x_int (giac's seconds over ours).
// Systems whose file is absent are not registered.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
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
using quor::bench::exec_in;
using quor::bench::installed;
using quor::bench::now;
using quor::bench::scratch;
using quor::bench::write_file;
using quor::standin::Poly;
using quor::standin::System;

constexpr long kPrime = 65521;
constexpr int kThreads[] = {1, 4};
constexpr const char* kSystems[] = {"katsura-8", "katsura-9", "katsura-10", "katsura-11"};

std::string system_path(const std::string& name) { return std::string(QUOR_SHARED_DIR) + "/systems/" + name + ".txt"; }

// A system and the text of its reference minimal polynomial ("" when there is none).
struct Loaded {
  std::string error;
  System sys;
  std::string minpoly;
};

// Loaded once, before any child is forked.
const Loaded& system_named(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Loaded>> cache;
  auto& slot = cache[name];
  if (!slot) {
    slot = std::make_unique<Loaded>();
    try {
      slot->sys = quor::standin::read_system(system_path(name));
      std::ifstream in(std::string(QUOR_SHARED_DIR) + "/reference/" + name + ".gf65521.minpoly.txt");
      for (char c; in.get(c);)
        if (!std::isspace(static_cast<unsigned char>(c))) slot->minpoly += c;
    } catch (const std::exception& e) {
      slot->error = e.what();
    }
  }
  return *slot;
}

// The result in the last variable alone (the minimal polynomial), nullptr when none.
const Poly* minimal_polynomial(const std::vector<Poly>& results, std::size_t nvars) {
  const Poly* found = nullptr;
  for (const Poly& p : results) {
    bool univariate = !p.empty();
    for (const auto& t : p)
      for (std::size_t j = 0; j + 1 < nvars && univariate; ++j) univariate = t.e[j] == 0;
    if (univariate) found = &p;
  }
  return found;
}

// What a child reports on its last line.
struct Report {
  double request = 0, compute = 0;
  int ok = -1;
  long degree = -1;  // of the minimal polynomial; -1: none among the results
};

// The result p modulo kPrime, made monic (its reference form).
Poly monic_image(const Poly& p) {
  Poly q;
  for (const auto& t : p) {
    quor::standin::Term r;
    mpz_fdiv_r_ui(r.c.get(), t.c.get(), kPrime);
    r.e = t.e;
    if (mpz_sgn(r.c.get()) != 0) q.push_back(r);
  }
  if (q.empty()) return q;
  quor::standin::Big inv, m(kPrime);
  mpz_invert(inv.get(), q.front().c.get(), m.get());
  for (auto& t : q) mpz_mul(t.c.get(), t.c.get(), inv.get()), mpz_mod(t.c.get(), t.c.get(), m.get());
  return q;
}

// Child body: one request of l.sys with this strategy, modulo kPrime or
// (integers) over the integers on one OpenMP thread; writes "QUOR_FGLM
// request compute ok degree".
int request_child(int fd, const Loaded& l, int threads, const char* strategy, bool integers = false) {
  std::string report;
  try {
    quor::standin::Host h;
    quor::standin::RequestOptions o;
    // The integer build takes the OpenMP default, not the host's count.
    if (integers) omp_set_num_threads(threads);
    o.prime = integers ? 0 : kPrime;
    o.threads = integers ? 0 : threads;
    o.verbosity = 3;
    o.strategy = strategy;
    const double t0 = now();
    const quor::standin::RequestResult r = quor::standin::run_request(h, l.sys, o);
    const double request = now() - t0;
    if (r.end != quor::standin::RequestEnd::done) throw std::runtime_error("the computation was interrupted");
    if (!h.violations().empty()) throw std::runtime_error("host check: " + h.violations().front());
    const Poly* mu = minimal_polynomial(r.basis, l.sys.vars.size());
    int ok = -1;
    if (!l.minpoly.empty())
      ok = mu != nullptr && quor::standin::poly_text(monic_image(*mu), l.sys.vars) == l.minpoly ? 1 : 0;
    const long degree = mu != nullptr ? long(mu->front().e.back()) : -1;
    char b[160];
    std::snprintf(b, sizeof b, "\nQUOR_FGLM %.9f %.9f %d %ld\n", request, r.compute_wall, ok, degree);
    report = b;
  } catch (const std::exception& e) {
    report = std::string("\nQUOR_ERROR ") + e.what() + "\n";
  }
  return quor::bench::write_report(fd, report);
}

// The number after the last occurrence of key in text, if any.
std::optional<double> after_last(const std::string& text, const std::string& key) {
  const std::size_t at = text.rfind(key);
  if (at == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const char* start = text.c_str() + at + key.size();
  const double v = std::strtod(start, &end);
  if (end == start) return std::nullopt;
  return v;
}

// One request in a child; the report, or the reason there is none (in error).
std::optional<Report> run_one(const Loaded& l, int threads, const char* strategy, double limit, std::string& output,
                              std::string& error, bool integers = false, double* cpu = nullptr) {
  const ChildRun c =
      quor::bench::run_child([&](int fd) { return request_child(fd, l, threads, strategy, integers); }, limit);
  output = c.output;
  if (cpu) *cpu = c.cpu;
  Report r;
  const std::size_t at = c.output.rfind("\nQUOR_FGLM ");
  if (!c.timed_out && at != std::string::npos &&
      std::sscanf(c.output.c_str() + at + 1, "QUOR_FGLM %lf %lf %d %ld", &r.request, &r.compute, &r.ok, &r.degree) == 4)
    return r;
  const std::size_t e = c.output.rfind("\nQUOR_ERROR ");
  error = e != std::string::npos ? c.output.substr(e + 12) : quor::bench::describe_failure(c, limit);
  while (!error.empty() && error.back() == '\n') error.pop_back();
  return std::nullopt;
}

// total_s of the 1-thread runs, by system.
std::map<std::string, double>& one_thread_total() {
  static std::map<std::string, double> m;
  return m;
}

void run_benchmark(benchmark::State& state, const std::string& name, int threads) {
  const Loaded& l = system_named(name);
  if (!l.error.empty()) {
    state.SkipWithError(l.error.c_str());
    return;
  }
  const double limit = quor::bench::time_limit(120.0);
  double total = 0, request = 0, gb = 0, stage_cpu = 0;
  bool gb_line = true, have_stage_cpu = true;
  long D = -1, iters = 0;
  int ok = -1;
  for (auto _ : state) {
    std::string output, error;
    const std::optional<Report> r = run_one(l, threads, "QUOR_COMPUTE_MATRIXN", limit, output, error);
    if (!r) {
      state.SkipWithError(error.c_str());
      return;
    }
    std::optional<double> g = after_last(output, "Elapsed time DRL:");
    if (!g) {
      gb_line = false;
      std::string gb_output;
      const std::optional<Report> b = run_one(l, threads, "QUOR_COMPUTE_GBASIS", limit, gb_output, error);
      if (!b) {
        state.SkipWithError(("GBASIS request: " + error).c_str());
        return;
      }
      g = b->compute;
    }
    // The staircase size the library reports; in shape position it is also the minimal polynomial's degree.
    const auto d = after_last(output, "Found dimension:");
    D = d ? long(*d) : r->degree;
    if (const auto s = after_last(output, "#C Second step time"))
      stage_cpu += *s;
    else
      have_stage_cpu = false;
    state.SetIterationTime(r->compute);
    total += r->compute;
    request += r->request;
    gb += *g;
    // A check that fails once fails the benchmark's record.
    ok = iters == 0 ? r->ok : std::min(ok, r->ok);
    ++iters;
  }
  if (iters == 0) return;
  const double k = double(iters);
  total /= k;
  gb /= k;
  state.counters["D"] = double(D);
  state.counters["total_s"] = total;
  state.counters["request_s"] = request / k;
  state.counters["gb_s"] = gb;
  state.counters["fglm_s"] = total - gb;
  if (total > 0) state.counters["fglm_pct"] = 100.0 * (total - gb) / total;
  state.counters["gb_line"] = gb_line ? 1 : 0;
  if (have_stage_cpu) state.counters["stage_cpu_s"] = stage_cpu / k;
  state.counters["ok"] = ok;
  if (threads == 1) {
    one_thread_total()[name] = total;
  } else {
    const auto it = one_thread_total().find(name);
    if (it != one_thread_total().end() && total > 0) state.counters["speedup"] = it->second / total;
  }
  if (ok == 0) state.SetLabel("minimal polynomial differs from the reference");
}

// Sum of the numbers after every occurrence of key in text.
double sum_after(const std::string& text, const std::string& key) {
  double sum = 0;
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
    sum += std::strtod(text.c_str() + at + key.size(), nullptr);
  return sum;
}

// Our integer runs' seconds, for giac's ratio.
std::map<std::string, double>& int_total() {
  static std::map<std::string, double> m;
  return m;
}

void run_integer(benchmark::State& state, const std::string& name, const char* strategy) {
  const Loaded& l = system_named(name);
  if (!l.error.empty()) {
    state.SkipWithError(l.error.c_str());
    return;
  }
  const double limit = quor::bench::time_limit(900.0);
  for (auto _ : state) {
    std::string output, error;
    double cpu = 0;
    const std::optional<Report> r = run_one(l, 1, strategy, limit, output, error, true, &cpu);
    if (!r) {
      state.SkipWithError(error.c_str());
      return;
    }
    state.SetIterationTime(r->compute);
    state.counters["total_s"] = r->compute;
    state.counters["cpu_s"] = cpu;
    // The change of ordering prints its sparse FGLMs' time as "FGLM:".
    const bool matrix = std::string(strategy) == "QUOR_COMPUTE_MATRIXN";
    state.counters["fglm_s"] = sum_after(output, matrix ? "New FGLM:" : "FGLM:");
    state.counters["rr_s"] = sum_after(output, "Time RR:");
    double lift = -1;
    int primes = -1, passes = -1;
    const std::size_t at = output.rfind("Lift:");
    if (at != std::string::npos) std::sscanf(output.c_str() + at, "Lift: %lf sec, %d primes in %d passes", &lift, &primes, &passes);
    state.counters["lift_s"] = lift;
    state.counters["primes"] = primes;
    state.counters["passes"] = passes;
    state.counters["ok"] = r->ok;
    if (matrix) int_total()[name] = r->compute;
    if (r->ok == 0) state.SetLabel("F differs from the reference modulo 65521");
  }
}

// giac's script: the rational univariate representation, timed by giac itself.
std::string giac_script(const System& s) {
  std::string vars, polys;
  for (std::size_t i = 0; i < s.vars.size(); ++i) {
    if (i) vars += ',';
    vars += s.vars[i];
  }
  for (std::size_t k = 0; k < s.polys.size(); ++k) {
    if (k) polys += ',';
    polys += quor::standin::poly_text(s.polys[k], s.vars);
  }
  return "threads:=1;\nL:=[" + polys + "];\nt0:=time();\nG:=gbasis(L,[" + vars +
         "],rur):;\nt1:=time();\nprint(\"QUOR_BENCH\",t1-t0);\n";
}

void run_giac(benchmark::State& state, const std::string& name) {
  const Loaded& l = system_named(name);
  if (!l.error.empty()) {
    state.SkipWithError(l.error.c_str());
    return;
  }
  const double limit = quor::bench::time_limit(900.0);
  const std::filesystem::path dir = scratch() / ("giac-" + name);
  std::filesystem::create_directories(dir);
  write_file(dir / "sys.giac", giac_script(l.sys));
  for (auto _ : state) {
    const ChildRun c = quor::bench::run_child(
        [&](int) {
          setenv("OMP_NUM_THREADS", "1", 1);
          return exec_in(dir, {"giac", "sys.giac"});
        },
        limit);
    const std::optional<double> t = after_last(c.output, "QUOR_BENCH,");
    if (c.timed_out || !t) {
      state.SkipWithError(quor::bench::describe_failure(c, limit).c_str());
      return;
    }
    state.SetIterationTime(c.wall);
    state.counters["total_s"] = c.wall;
    state.counters["cpu_s"] = c.cpu;
    state.counters["giac_s"] = *t;
    state.counters["giac_primes"] = after_last(c.output, "#Primes").value_or(-1);
    const auto ours = int_total().find(name);
    if (ours != int_total().end() && ours->second > 0) state.counters["x_int"] = c.wall / ours->second;
  }
}

int register_all() {
  for (const char* s : kSystems) {
    const std::string name = s;
    if (!std::filesystem::exists(system_path(name))) {
      std::fprintf(stderr, "bench_fglm: %s skipped (no file %s)\n", s, system_path(name).c_str());
      continue;
    }
    for (int threads : kThreads)
      benchmark::RegisterBenchmark(("fglm/" + name + "/" + std::to_string(threads) + "t").c_str(),
                                   [name, threads](benchmark::State& st) { run_benchmark(st, name, threads); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  }
  const bool have_giac = installed("giac");
  for (const char* s : {"katsura-8", "katsura-9", "katsura-10"}) {
    const std::string name = s;
    if (!std::filesystem::exists(system_path(name))) continue;
    benchmark::RegisterBenchmark(("fglm/" + name + "/int_1t").c_str(),
                                 [name](benchmark::State& st) { run_integer(st, name, "QUOR_COMPUTE_MATRIXN"); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("fglm/" + name + "/int_rrform_1t").c_str(),
                                 [name](benchmark::State& st) { run_integer(st, name, "QUOR_COMPUTE_RRFORM"); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    if (have_giac)
      benchmark::RegisterBenchmark(("fglm/" + name + "/giac_rur_1t").c_str(),
                                   [name](benchmark::State& st) { run_giac(st, name); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  }
  return 0;
}

[[maybe_unused]] const int registered = register_all();

}  // namespace
