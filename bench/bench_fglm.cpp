// The zero-dimensional path (QUOR_COMPUTE_MATRIXN: reduced basis, matrix of
// multiplication by the last variable on the staircase, sparse FGLM for the
// minimal polynomial and the parametrisation) against the quotient dimension
// D, on katsura-8 .. katsura-11 modulo 65521 (D = 256 .. 2048), 1 and 4
// threads.
//
// Each run is a whole host request through the stand-in host, made in a
// child process with a time limit (environment QUOR_BENCH_TIMEOUT, seconds,
// default 120), so that every run starts with a fresh library and OpenMP
// runtime.  The compute call runs at verbosity 3; its lines on standard
// error give the split: "Elapsed time DRL" is the wall time of the first
// basis, the rest of the compute call is the matrix stage (staircase, matrix,
// shape-position check and FGLM).  Without that line, a separate
// QUOR_COMPUTE_GBASIS request on the same system gives the basis time.
//
// Counters: D (quotient dimension), total_s (wall seconds of the compute
// call; also the benchmark's manual time), request_s (init to last receive),
// gb_s / fglm_s (the two parts of total_s), fglm_pct (fglm_s in per cent of
// total_s), gb_line (1: gb_s from the timing line, 0: from a GBASIS request),
// stage_cpu_s (the library's CPU seconds of the matrix stage, printed on one
// thread only), ok (1: the minimal polynomial of the last variable is the
// reference's, 0: it is not, -1: no reference), speedup (1 thread over 4, on
// total_s).  Systems whose file is absent are not registered.
#include <benchmark/benchmark.h>

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
using quor::bench::now;
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

// Child body: one request of l.sys with this strategy; writes "QUOR_FGLM request compute ok degree".
int request_child(int fd, const Loaded& l, int threads, const char* strategy) {
  std::string report;
  try {
    quor::standin::Host h;
    quor::standin::RequestOptions o;
    o.prime = kPrime;
    o.threads = threads;
    o.verbosity = 3;
    o.strategy = strategy;
    const double t0 = now();
    const quor::standin::RequestResult r = quor::standin::run_request(h, l.sys, o);
    const double request = now() - t0;
    if (r.end != quor::standin::RequestEnd::done) throw std::runtime_error("the computation was interrupted");
    if (!h.violations().empty()) throw std::runtime_error("host check: " + h.violations().front());
    const Poly* mu = minimal_polynomial(r.basis, l.sys.vars.size());
    int ok = -1;
    if (!l.minpoly.empty()) ok = mu != nullptr && quor::standin::poly_text(*mu, l.sys.vars) == l.minpoly ? 1 : 0;
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
                              std::string& error) {
  const ChildRun c =
      quor::bench::run_child([&](int fd) { return request_child(fd, l, threads, strategy); }, limit);
  output = c.output;
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
  return 0;
}

[[maybe_unused]] const int registered = register_all();

}  // namespace
