// What a host pays after the compute call of a large basis: reading the
// results through the stand-in host (read_results: the export, then the
// terms) on 1 and 8 threads, and the text the command-line host prints
// (poly_text, one thread).  The basis is computed once, modulo 65521 on 8
// threads (katsura-11, 1,276 polynomials, 28 MB of text; QUOR_BENCH_SYSTEM
// names another file of the shared systems); every iteration reads the same
// results again.  Counters: terms (read or printed per iteration), and
// Mterms_s.  Without the system file nothing is registered.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/standin/host_session.h"
#include "host/standin/standin.h"
#include "host/standin/system_file.h"

namespace {

namespace sf = quor::standin;

// The computed request, its results still readable.
struct Computed {
  sf::Host host;
  sf::System sys;
  std::vector<sf::Poly> basis;
  double terms = 0;
};

Computed* computed() {
  static std::unique_ptr<Computed> c = [] {
    const char* name = std::getenv("QUOR_BENCH_SYSTEM");
    const std::filesystem::path file =
        std::filesystem::path(QUOR_SHARED_DIR) / "systems" / (std::string(name ? name : "katsura-11") + ".txt");
    if (!std::filesystem::exists(file)) return std::unique_ptr<Computed>();
    auto r = std::make_unique<Computed>();
    r->sys = sf::read_system(file.string());
    sf::RequestOptions o;
    o.prime = 65521;
    o.threads = 8;
    r->basis = sf::run_request(r->host, r->sys, o).basis;
    for (const sf::Poly& p : r->basis) r->terms += double(p.size());
    return r;
  }();
  return c.get();
}

void count_terms(benchmark::State& state, double terms) {
  state.counters["terms"] = terms;
  state.counters["Mterms_s"] = benchmark::Counter(terms * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadResults(benchmark::State& state) {
  Computed& c = *computed();
  for (auto _ : state) {
    std::vector<sf::Poly> basis;
    sf::host_session_detail::ResultReader reader(c.host, c.sys.vars.size(), 65521, state.range(0));
    sf::host_session_detail::read_results(c.host, reader, basis);
    state.PauseTiming();
    if (basis.size() != c.basis.size()) state.SkipWithError("a different number of results");
    basis = {};
    malloc_trim(0);  // the next reading faults its memory in, as the first one does
    state.ResumeTiming();
  }
  if (!c.host.violations().empty()) state.SkipWithError(c.host.violations().front().c_str());
  count_terms(state, c.terms);
}

void BM_PolyText(benchmark::State& state) {
  Computed& c = *computed();
  for (auto _ : state)
    for (const sf::Poly& p : c.basis) benchmark::DoNotOptimize(sf::poly_text(p, c.sys.vars));
  count_terms(state, c.terms);
}

const bool registered = [] {
  if (computed() == nullptr) return false;
  benchmark::RegisterBenchmark("read_results", BM_ReadResults)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("poly_text", BM_PolyText)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
