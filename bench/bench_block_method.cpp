// The block method against the scalar sparse FGLM on the multiplication
// matrix by the last variable of katsura-10 and katsura-11 modulo 65521
// (D = 1024, 2048).
//
//   block/<system>/8x8      8 sessions of the sparse FGLM entry (P = 1 .. 8,
//                           block size 8) run side by side, one process and
//                           one thread each, then their combination (session
//                           files read back, self test, block Hankel solve of
//                           degree D / 8); manual time: sessions + combination
//   scalar/<system>/<t>t    one sparse FGLM run for the minimal polynomial
//                           alone (2D terms, Berlekamp-Massey), on t threads
//   param/<system>/8t       one run for the whole parametrisation, 8 threads
//
// The matrix is made once per system in a child: the reduced basis by a
// request through the stand-in host, then the normal forms of x_last times
// the staircase (tests/support/xlast_matrix.h), written to a file that every
// run reads.  Every run is a child process with a time limit (environment
// QUOR_BENCH_TIMEOUT, default 300 s); the parent never calls the library.
//
// Counters: D; block: sessions_s (wall time from the first fork to the last
// exit), session_max_s (longest sparse FGLM call of a session), combine_s;
// scalar / param: fglm_s (wall time of the call).
#include <benchmark/benchmark.h>
#include <omp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/child_process.h"
#include "core/call_quor.h"
#include "host/standin/host_session.h"
#include "host/standin/standin.h"
#include "tests/support/xlast_matrix.h"

// The two entries of the block method as a host declares them (prime-field build).
extern "C" void Quor_w_fglm(std::uint32_t D, std::int32_t* pairs, std::int32_t* nosp, std::uint32_t nvars,
                            std::int32_t* idx, std::uint16_t** rows, std::int32_t version, std::int32_t* outdeg,
                            std::uint32_t* prime, std::int32_t verbose, std::int32_t print, char** names,
                            std::int32_t sqfr, std::int32_t minpoly_only, std::int32_t N, std::int32_t P,
                            std::int32_t b);
extern "C" void Quor_combine_results(const char* base, std::int32_t n, std::int32_t N);

namespace {

using quor::bench::now;
using Dom = std::uint16_t;
using i32 = std::int32_t;
using u32 = std::uint32_t;

constexpr u32 kPrime = 65521;
constexpr i32 kBlock = 8;
constexpr const char* kSystems[] = {"katsura-10", "katsura-11"};

const std::filesystem::path& work_dir() {
  static const std::filesystem::path d = [] {
    auto p = std::filesystem::temp_directory_path() / ("quor_bench_block_" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    std::atexit([] { std::filesystem::remove_all(work_dir()); });
    return p;
  }();
  return d;
}

// The matrix file: D, nvars, idx[nvars], pair count, pairs, dense count,
// dense list, then the dense rows as D residues each (i32 header words, u16 rows).
struct Matrix {
  i32 D = 0, nvars = 0;
  std::vector<i32> idx, pairs, nosp;
  std::vector<std::vector<Dom>> store;  // aligned rows with room for D + 1 results
  std::vector<Dom*> rows;

  static std::optional<Matrix> load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Matrix m;
    auto word = [&] {
      i32 v = 0;
      in.read(reinterpret_cast<char*>(&v), sizeof v);
      return v;
    };
    auto list = [&](std::vector<i32>& v, i32 n) {
      v.resize(std::size_t(n));
      in.read(reinterpret_cast<char*>(v.data()), std::streamsize(sizeof(i32) * v.size()));
    };
    m.D = word();
    m.nvars = word();
    list(m.idx, m.nvars);
    list(m.pairs, word());
    const i32 ndense = word();
    list(m.nosp, 2 * ndense + 2);
    const std::size_t stride = (std::size_t(m.D) + 1 + 7) / 8 * 8 + 8;
    for (i32 r = 0; r < std::max(ndense, m.nvars); ++r) {
      m.store.emplace_back(stride, Dom(0));
      m.rows.push_back(reinterpret_cast<Dom*>((reinterpret_cast<std::uintptr_t>(m.store.back().data()) + 15) & ~std::uintptr_t(15)));
      if (r < ndense) in.read(reinterpret_cast<char*>(m.rows.back()), std::streamsize(sizeof(Dom) * m.D));
    }
    if (!in) return std::nullopt;
    return m;
  }
};

// The reduced basis of the system modulo kPrime and its matrix, written to a file; "" and why on failure.
std::string make_matrix(const std::string& name, std::string& why) {
  const std::string path = (work_dir() / (name + ".matrix")).string();
  const auto run = quor::bench::run_child(
      [&](int fd) {
        quor::standin::Host h;
        const quor::standin::System sys =
            quor::standin::read_system(std::string(QUOR_SHARED_DIR) + "/systems/" + name + ".txt");
        quor::standin::RequestOptions o;
        o.prime = kPrime;
        o.threads = 8;
        const auto gb = quor::standin::run_request(h, sys, o).basis;
        std::vector<refgb::Pol<std::uint64_t>> G;
        for (const auto& f : gb) {
          auto& g = G.emplace_back();
          for (const auto& t : f) g[refgb::Mono(t.e.begin(), t.e.end())] = mpz_fdiv_ui(t.c.get(), kPrime);
        }
        const refgb::XlastMatrix T = refgb::XlastBuilder(G, kPrime).build();
        const auto& stair = refgb::StaircaseNF(G, kPrime).staircase();
        const i32 nvars = i32(sys.vars.size());
        std::vector<i32> idx(std::size_t(nvars), -1);
        for (i32 j = 0; j + 1 < nvars; ++j) {
          refgb::Mono x(std::size_t(nvars), 0);
          x[std::size_t(j)] = 1;
          if (auto it = stair.find(x); it != stair.end()) idx[std::size_t(j)] = i32(it->second);
        }
        idx.back() = 0;
        std::ofstream out(path, std::ios::binary);
        auto word = [&](i32 v) { out.write(reinterpret_cast<const char*>(&v), sizeof v); };
        word(i32(T.D));
        word(nvars);
        for (i32 v : idx) word(v);
        word(i32(T.pairs.size()));
        for (i32 v : T.pairs) word(v);
        word(i32(T.rows.size()));
        for (i32 v : T.nosp) word(v);
        for (const auto& r : T.rows)
          for (std::uint64_t v : r) {  // symmetric words, as the sparse FGLM reads its rows
            const Dom w = Dom(std::uint16_t(std::int16_t(v > kPrime / 2 ? i32(v) - i32(kPrime) : i32(v))));
            out.write(reinterpret_cast<const char*>(&w), sizeof w);
          }
        out.close();
        return quor::bench::write_report(fd, out ? "\nQUOR_MATRIX ok\n" : "\nQUOR_MATRIX write failed\n");
      },
      quor::bench::time_limit(300.0));
  if (run.output.find("\nQUOR_MATRIX ok\n") == std::string::npos) {
    why = quor::bench::describe_failure(run, quor::bench::time_limit(300.0));
    return "";
  }
  return path;
}

const std::string& matrix_of(const std::string& name, std::string& why) {
  static std::map<std::string, std::pair<std::string, std::string>> made;
  auto it = made.find(name);
  if (it == made.end()) {
    std::string w;
    const std::string path = make_matrix(name, w);
    it = made.emplace(name, std::make_pair(path, w)).first;
  }
  why = it->second.second;
  return it->second.first;
}

// One sparse FGLM call on m; its wall time.
double fglm_call(Matrix& m, u32 p, i32 minpoly_only, i32 P, i32 b) {
  std::vector<i32> deg(std::size_t(m.nvars), -1);
  std::vector<std::string> names(std::size_t(m.nvars), "x");
  std::vector<char*> nm;
  for (auto& s : names) nm.push_back(s.data());
  const double t0 = now();
  Quor_w_fglm(u32(m.D), m.pairs.data(), m.nosp.data(), u32(m.nvars), m.idx.data(), m.rows.data(), 1, deg.data(), &p, 0,
              0, nm.data(), 0, minpoly_only, m.D, P, b);
  return now() - t0;
}

// A request set-up that makes kPrime the working prime, then t threads.
void open_library(i32 threads) {
  Quor_reset_memory();
  Quor_init_urgent(2, 2, "DRLDRL", 100000, 0);
  Quor_init(1, 1, 0, nullptr);
  const UI32 pr[] = {kPrime};
  Quor_reset_coeffs(1, pr);
  Quor_internal_threads(threads);
}

// Child: the sessions in grandchildren, then the combination here.
int block_child(int fd, const std::string& path) {
  std::optional<Matrix> m = Matrix::load(path);
  if (!m) return quor::bench::write_report(fd, "\nQUOR_ERROR cannot read " + path + "\n");
  const std::string base = path + ".session";
  std::vector<int> pipes;
  setenv("QUOR_SESSION", base.c_str(), 1);
  const double t0 = now();
  for (i32 P = 1; P <= kBlock; ++P) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    if (fork() == 0) {
      close(fds[0]);
      omp_set_num_threads(1);
      const double t = fglm_call(*m, kPrime, 0, P, kBlock);
      _exit(quor::bench::write_report(fds[1], std::to_string(t) + "\n"));
    }
    close(fds[1]);
    pipes.push_back(fds[0]);
  }
  double longest = 0;
  for (int f : pipes) {
    char buf[64] = {};
    const ssize_t got = read(f, buf, sizeof buf - 1);
    if (got > 0) longest = std::max(longest, std::atof(buf));
    close(f);
  }
  int status = 0;
  bool failed = false;
  while (wait(&status) > 0) failed = failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  const double sessions = now() - t0;
  if (failed) return quor::bench::write_report(fd, "\nQUOR_ERROR a session failed\n");

  open_library(1);
  const int out = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  std::fflush(stdout);
  dup2(null, 1);  // the generator's printing
  const double t1 = now();
  Quor_combine_results(base.c_str(), kBlock, m->D);
  const double combine = now() - t1;
  std::fflush(stdout);
  dup2(out, 1);
  char b[160];
  std::snprintf(b, sizeof b, "\nQUOR_BLOCK %.9f %.9f %.9f\n", sessions, longest, combine);
  return quor::bench::write_report(fd, b);
}

// Child: one scalar run on t threads.
int scalar_child(int fd, const std::string& path, i32 threads, i32 minpoly_only) {
  std::optional<Matrix> m = Matrix::load(path);
  if (!m) return quor::bench::write_report(fd, "\nQUOR_ERROR cannot read " + path + "\n");
  open_library(threads);
  const double t = fglm_call(*m, kPrime, minpoly_only, -1, -1);
  return quor::bench::write_report(fd, "\nQUOR_SCALAR " + std::to_string(t) + "\n");
}

// Runs body in a child and returns the numbers after key on its last report line.
std::optional<std::vector<double>> measure(const std::function<int(int)>& body, const std::string& key,
                                           std::string& why) {
  const double limit = quor::bench::time_limit(300.0);
  const auto c = quor::bench::run_child(body, limit);
  const std::size_t at = c.output.rfind("\n" + key + " ");
  if (c.timed_out || at == std::string::npos) {
    why = quor::bench::describe_failure(c, limit);
    return std::nullopt;
  }
  std::vector<double> v;
  std::istringstream in(c.output.substr(at + key.size() + 2));
  for (double x; in >> x;) v.push_back(x);
  return v;
}

void run(benchmark::State& state, const std::string& name, const std::string& kind, i32 threads) {
  std::string why;
  const std::string& path = matrix_of(name, why);
  if (path.empty()) {
    state.SkipWithError(("matrix: " + why).c_str());
    return;
  }
  const std::optional<Matrix> m = Matrix::load(path);  // for D only (the parent does not call the library)
  double sum[3] = {0, 0, 0};
  long iters = 0;
  for (auto _ : state) {
    std::optional<std::vector<double>> r;
    if (kind == "block")
      r = measure([&](int fd) { return block_child(fd, path); }, "QUOR_BLOCK", why);
    else
      r = measure([&](int fd) { return scalar_child(fd, path, threads, kind == "scalar" ? 1 : 0); }, "QUOR_SCALAR",
                  why);
    if (!r || r->empty()) {
      state.SkipWithError(why.c_str());
      return;
    }
    state.SetIterationTime(kind == "block" ? (*r)[0] + (*r)[2] : (*r)[0]);
    for (std::size_t k = 0; k < r->size() && k < 3; ++k) sum[k] += (*r)[k];
    ++iters;
  }
  if (iters == 0) return;
  state.counters["D"] = m ? m->D : -1;
  if (kind == "block") {
    state.counters["sessions_s"] = sum[0] / iters;
    state.counters["session_max_s"] = sum[1] / iters;
    state.counters["combine_s"] = sum[2] / iters;
  } else {
    state.counters["fglm_s"] = sum[0] / iters;
  }
}

int register_all() {
  for (const char* s : kSystems) {
    const std::string name = s;
    if (!std::filesystem::exists(std::string(QUOR_SHARED_DIR) + "/systems/" + name + ".txt")) continue;
    auto reg = [&](const std::string& label, const std::string& kind, i32 threads) {
      benchmark::RegisterBenchmark(label.c_str(), [=](benchmark::State& st) { run(st, name, kind, threads); })
          ->Iterations(3)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    };
    reg("block/" + name + "/8x8", "block", 1);
    reg("scalar/" + name + "/1t", "scalar", 1);
    reg("scalar/" + name + "/8t", "scalar", 8);
    reg("param/" + name + "/8t", "param", 8);
  }
  return 0;
}

[[maybe_unused]] const int registered = register_all();

}  // namespace
