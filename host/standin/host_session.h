// One host request, made through the stand-in host exactly as a host makes
// it: init, internal_threads, one send per polynomial, compute, then one
// receive per result following the term counts handed back.  The integer
// build is used over the integers, the prime-field build modulo a prime.
//
// Header-only, like system_file.h: the command-line host, the benchmarks and
// the tests include it and link the library and the stand-in host themselves.
#ifndef QUOR_HOST_STANDIN_HOST_SESSION_H
#define QUOR_HOST_STANDIN_HOST_SESSION_H

#include <gmp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/C/entry_points.h"
#include "host/standin/standin.h"
#include "host/standin/system_file.h"

namespace quor::standin {

// How a request is made.
struct RequestOptions {
  long prime = 0;    // 0: over the integers (integer build); else modulo this prime (prime-field build)
  long threads = 0;  // > 0: internal_threads(threads) after the init
  bool record = false;  // the init's record flag
  int verbosity = 0;    // the compute entry's verbosity (the message sink's mode)
  std::string strategy = "QUOR_COMPUTE_GBASIS";
  std::vector<std::int32_t> extra;  // options o[1], o[2], ... (o[0] is their count + 1, at least 4)
  std::int32_t nb = 0;  // the compute entry's _nb: polynomials to reduce (normal forms), divisors (radical)
};

enum class RequestEnd {
  done,         // the results were received
  stopped,      // the compute entry returned -2 (the stop flag)
  interrupted,  // a host interrupt unwound the compute entry
};

struct RequestResult {
  RequestEnd end = RequestEnd::done;
  std::vector<Poly> basis;    // the results in the library's order (empty unless done)
  double cpu_seconds = 0;     // the time the compute entry assigned (done only)
  double compute_wall = 0;    // wall seconds of the compute call
};

// A call the library refused (host error), a refused transfer, or an
// interrupt outside the compute call; the text names the step.
class RequestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An interrupt unwound a call before the compute entry (an init or a send).
class RequestInterrupted : public RequestError {
 public:
  using RequestError::RequestError;
};

// Runs f(0), ..., f(count - 1) on up to width threads (the caller's among
// them; fewer when the system gives no more), each index once, in no
// particular order; rethrows the first exception.
template <class F>
void on_team(std::size_t count, std::size_t width, const F& f) {
  std::atomic<std::size_t> next{0};
  std::exception_ptr failed;
  std::mutex failed_lock;
  auto work = [&] {
    try {
      for (std::size_t i; (i = next.fetch_add(1)) < count;) f(i);
    } catch (...) {
      next = count;
      const std::lock_guard<std::mutex> hold(failed_lock);
      if (!failed) failed = std::current_exception();
    }
  };
  std::vector<std::thread> team;
  try {
    team.reserve(std::min(width, count));
    for (std::size_t t = 1; t < std::min(width, count); ++t) team.emplace_back(work);
  } catch (const std::exception&) {
    // No thread (or no memory) left: the threads already running and the
    // caller do the work.
  }
  work();
  for (std::thread& t : team) t.join();
  if (failed) std::rethrow_exception(failed);
}

namespace host_session_detail {

inline void check(const CallResult& r, const char* what) {
  if (r.interrupted) throw RequestInterrupted(std::string(what) + ": interrupted");
  if (r.raised) throw RequestError(std::string(what) + ": " + r.error);
}

inline void append_exponents(std::vector<std::int32_t>& e, const Term& t, std::size_t) {
  e.insert(e.end(), t.e.begin(), t.e.end());
}
inline void append_exponents(std::vector<std::int32_t>& e, const SparseTerm& t, std::size_t nvars) {
  const std::size_t at = e.size();
  e.resize(at + nvars, 0);
  for (const auto& [v, k] : t.e) e[at + std::size_t(v)] = k;
}

// Sends p; a sparse p costs the dense exponent rows of this one polynomial only.
template <class P>
void send(Host& h, const P& p, std::size_t nvars, long prime, std::size_t k) {
  std::vector<std::int32_t> e;
  for (const auto& t : p) append_exponents(e, t, nvars);
  if (prime != 0) {
    std::vector<std::int32_t> c;
    for (const auto& t : p) c.push_back(std::int32_t(mpz_fdiv_ui(t.c.get(), (unsigned long)prime)));
    e.push_back(0);  // never empty arrays
    c.push_back(0);
    std::int32_t code = 0;
    check(h.run([&] {
      code = quor_send_poly(std::uint32_t(nvars), std::uint32_t(p.size()), e.data(), c.data());
      return h.null();
    }),
          "send");
    if (code != 1) throw RequestError("send: polynomial " + std::to_string(k + 1) + " refused");
  } else {
    std::vector<HostValue> c;
    for (const auto& t : p) c.push_back(h.gmp_integer(t.c.get()));
    check(h.call(quor_int_send_poly_gmp, {h.integer(long(nvars)), h.integer(long(p.size())),
                                          h.rtable_int32(e, std::int32_t(e.size())), h.list(c)}),
          "send");
  }
}

// The results of the computation just done: their count and the first one's term count.
inline std::pair<long, long> result_count(Host& h) {
  return {long(h.to_int(h.assigned("count"))), long(h.to_int(h.assigned("first")))};
}

// Exports result index (nterms terms) modulo a prime into e (nvars words a
// term) and c, one word more each than the terms need; returns the next
// result's term count (when there is one).
inline long receive_residues(Host& h, std::int32_t index, std::int32_t nterms, std::size_t nvars, std::uint32_t* e,
                             std::uint32_t* c) {
  std::uint32_t next = 0;
  std::int32_t code = 0;
  check(h.run([&] {
    code = quor_receive_poly(index, std::uint32_t(nvars), std::uint32_t(nterms), e, c, &next);
    return h.null();
  }),
        "receive");
  if (code != 1) throw RequestError("receive: result " + std::to_string(index) + " cannot be read");
  return long(next);
}

// Reads the results of a request in the library's order.  Modulo a prime the
// library exports a result into a buffer and its terms are made from there
// (the host's GMP functions in place).  Alone, a result is made at once, the
// buffer still in the cache.  On several threads the caller's thread exports
// while a team makes the terms: the results go in batches of about
// batch_words words (exponents and coefficients), alternately into two
// buffers kept from one batch to the next, and a batch is handed to the team
// when the next result no longer fits; the caller makes results only while
// the team is a batch behind.  A result is claimed with one atomic operation:
// the export never waits for a lock a thread of the team holds.  The team
// starts once team_terms terms have been handed: a small basis waits for no
// thread.
class ResultReader {
 public:
  ResultReader(Host& h, std::size_t nvars, long prime, long threads, std::size_t batch_words = std::size_t(1) << 21,
               std::size_t team_terms = std::size_t(1) << 14)
      : h_(h),
        n_(nvars),
        prime_(prime),
        threads_(threads > 1 ? std::size_t(threads) : 1),
        batch_words_(batch_words),
        team_terms_(team_terms) {}
  ResultReader(const ResultReader&) = delete;
  ResultReader& operator=(const ResultReader&) = delete;
  // Results read since the last flush may be left empty.
  ~ResultReader() {
    stop_ = true;
    ++handed_;
    handed_.notify_all();
    for (std::thread& t : team_) t.join();
  }

  // Appends result index (nterms terms) to into, its terms filled now or by
  // flush() (empty after a refused read); next = the following result's term
  // count (when there is one).
  void read(std::int32_t index, std::int32_t nterms, const std::string& next_name, long& next,
            std::vector<Poly>& into) {
    if (prime_ != 0)
      read_residues(index, nterms, next, into);
    else
      into.push_back(read_integers(index, nterms, next_name, next));
  }

  // Completes every result read since the last flush.
  void flush() {
    hand(batches_[now_]);
    settle(batches_[1 - now_]);
    settle(batches_[now_]);
  }

 private:
  // Results exported into one buffer, and the polynomials made of them.
  struct Batch {
    std::vector<std::uint32_t> e, c;  // exponents (n_ a term) and coefficients
    std::size_t terms = 0;            // in e and c
    std::vector<std::size_t> first;   // each result's first term there
    std::vector<std::pair<std::vector<Poly>*, std::size_t>> to;  // where each result goes
    std::vector<Poly> made;           // each result, once made
    std::uint32_t seq = 0;            // the batch's number among those handed
    // The results handed, the next to claim (with seq in the high half: a
    // thread still on an earlier batch in this buffer claims none), and
    // those not yet made.
    std::atomic<std::uint32_t> count{0};
    std::atomic<std::uint64_t> claim{0};
    std::atomic<std::uint32_t> left{0};
  };

  void read_residues(std::int32_t index, std::int32_t nterms, long& next, std::vector<Poly>& into) {
    const std::size_t terms = std::size_t(nterms);
    if (batches_[now_].terms > 0 && (batches_[now_].terms + terms) * (n_ + 1) > batch_words_) {
      hand(batches_[now_]);
      now_ = 1 - now_;
      settle(batches_[now_]);
    }
    Batch& b = batches_[now_];
    if (b.first.empty()) b.claim = std::uint64_t(handed_.load()) << 32;  // before b changes
    // One word more than the result needs: never an empty array.
    const std::size_t e_end = (b.terms + terms) * n_ + 1, c_end = b.terms + terms + 1;
    if (b.e.size() < e_end) b.e.resize(e_end);
    if (b.c.size() < c_end) b.c.resize(c_end);
    next = receive_residues(h_, index, nterms, n_, b.e.data() + b.terms * n_, b.c.data() + b.terms);
    into.emplace_back();
    b.first.push_back(b.terms);
    b.to.emplace_back(&into, into.size() - 1);
    b.terms += terms;
    // Alone, made while the export is still in the cache.
    if (threads_ == 1) hand(b);
  }

  // Result k of b made into out.
  void make(const Batch& b, std::size_t k, Poly& out) const {
    const std::size_t first = b.first[k];
    const std::size_t terms = (k + 1 < b.first.size() ? b.first[k + 1] : b.terms) - first;
    out.resize(terms);
    const std::uint32_t* e = b.e.data() + first * n_;
    for (std::size_t i = 0; i < terms; ++i, e += n_) {
      mpz_set_ui(out[i].c.get(), b.c[first + i]);
      out[i].e.assign(e, e + n_);
    }
  }

  // Gives the results of b to the team, or makes them at once while there is none.
  void hand(Batch& b) {
    const std::size_t count = b.first.size();
    if (count == 0) return;
    handed_terms_ += b.terms;
    if (team_.empty() && threads_ > 1 && handed_terms_ >= team_terms_) start_team();
    if (team_.empty()) {
      for (std::size_t k = 0; k < count; ++k) make(b, k, (*b.to[k].first)[b.to[k].second]);
      clear(b);
      return;
    }
    b.made.resize(count);
    b.seq = handed_.load();
    b.count = std::uint32_t(count);
    b.left = std::uint32_t(count);
    ++handed_;
    handed_.notify_all();
  }

  // Makes results of batch seq in b until none is left to claim.
  void make_some(Batch& b, std::uint32_t seq) {
    const std::uint32_t count = b.count;
    std::uint64_t c = b.claim;
    while (!stop_ && c >> 32 == seq && std::uint32_t(c) < count) {
      if (!b.claim.compare_exchange_weak(c, c + 1)) continue;
      try {
        make(b, std::uint32_t(c), b.made[std::uint32_t(c)]);
      } catch (...) {
        const std::lock_guard<std::mutex> hold(failed_lock_);
        if (!failed_) failed_ = std::current_exception();
      }
      if (--b.left == 0) b.left.notify_all();
      c = b.claim;
    }
  }

  // Waits until b's results are made, making some meanwhile, and moves them
  // where they go; b is then empty.
  void settle(Batch& b) {
    if (b.first.empty()) return;
    make_some(b, b.seq);
    for (std::uint32_t l; (l = b.left) != 0;) b.left.wait(l);
    {
      const std::lock_guard<std::mutex> hold(failed_lock_);
      if (failed_) std::rethrow_exception(std::exchange(failed_, nullptr));
    }
    for (std::size_t k = 0; k < b.made.size(); ++k) (*b.to[k].first)[b.to[k].second] = std::move(b.made[k]);
    clear(b);
  }

  static void clear(Batch& b) {
    b.terms = 0;
    b.first.clear();
    b.to.clear();
    b.made.clear();
  }

  // The caller and up to threads_ - 1 threads (those the system gives).
  void start_team() {
    try {
      for (std::size_t t = 1; t < threads_; ++t) team_.emplace_back([this] {
          for (std::uint32_t seq = 0;; ++seq) {
            handed_.wait(seq);
            if (stop_) return;
            for (Batch& b : batches_) make_some(b, seq);
          }
        });
    } catch (const std::exception&) {
      // No thread (or no memory) left: the threads already running and the caller do the work.
    }
  }

  Poly read_integers(std::int32_t index, std::int32_t nterms, const std::string& next_name, long& next) {
    Host& h = h_;
    const std::size_t n = n_;
    Poly p(static_cast<std::size_t>(nterms));
    HostValue ev = h.rtable_int32(std::vector<std::int32_t>(std::size_t(nterms) * n + 1, 0),
                                  std::int32_t(std::size_t(nterms) * n + 1));
    const CallResult r = h.call(quor_int_receive_poly_gmp,
                                {h.integer(index), h.integer(long(n)), h.integer(nterms), ev, h.name(next_name)});
    check(r, "receive");
    const std::vector<HostValue> c = h.list_items(r.value);
    if (c.size() != std::size_t(nterms)) throw RequestError("receive: wrong number of coefficients");
    for (std::int32_t i = 0; i < nterms; ++i) {
      Term& t = p[std::size_t(i)];
      mpz_set(t.c.get(), HostToGMPInteger(h.kernel(), c[std::size_t(i)]));
      t.e.resize(n);
      for (std::size_t j = 0; j < n; ++j) t.e[j] = h.rtable_at(ev, std::int32_t(long(i) * long(n) + long(j) + 1));
    }
    if (HostValue v = h.assigned(next_name)) next = long(h.to_int(v));
    return p;
  }

  Host& h_;
  const std::size_t n_;
  const long prime_;
  const std::size_t threads_;
  const std::size_t batch_words_, team_terms_;
  Batch batches_[2];
  int now_ = 0;                    // the batch being filled
  std::size_t handed_terms_ = 0;   // terms handed so far
  std::atomic<std::uint32_t> handed_{0};  // batches handed to the team so far
  std::atomic<bool> stop_{false};
  std::vector<std::thread> team_;
  std::mutex failed_lock_;
  std::exception_ptr failed_;  // the first failure to make a result (under failed_lock_)
};

// Result index of nterms terms; next = the following result's term count (when there is one).
inline Poly receive(Host& h, std::int32_t index, std::int32_t nterms, std::size_t n, long prime,
                    const std::string& next_name, long& next) {
  ResultReader reader(h, n, prime, 1);
  std::vector<Poly> one;
  reader.read(index, nterms, next_name, next, one);
  reader.flush();
  return std::move(one.front());
}

// Appends every result of the call that just returned to into, following the
// term counts handed back.
inline void read_results(Host& h, ResultReader& reader, std::vector<Poly>& into) {
  auto [count, terms] = result_count(h);
  for (long i = 0; i < count; ++i) {
    long next = 0;
    reader.read(std::int32_t(i), std::int32_t(terms), "next" + std::to_string(i), next, into);
    terms = next;
  }
  reader.flush();
}

// Reads the time, then every result of the call that just returned, into out.
inline void receive_results(Host& h, std::size_t nvars, const RequestOptions& o, RequestResult& out) {
  out.cpu_seconds = h.to_double(h.assigned("t"));
  ResultReader reader(h, nvars, o.prime, o.threads);
  read_results(h, reader, out.basis);
}

}  // namespace host_session_detail

using host_session_detail::receive_residues;
using host_session_detail::receive;
using host_session_detail::result_count;

// The lines of the results over the integers (over vars), as a host
// receives them: a chunk of results at a time, made text on `threads`
// threads, their host integers then collected (as a host's collector would),
// so that the host holds the text and one chunk, not every coefficient three
// times over.  Throws RequestError on a result it cannot read.
inline std::vector<std::string> receive_integer_lines(Host& h, const std::vector<std::string>& vars, long threads) {
  constexpr std::size_t kChunkResults = 256, kChunkTerms = std::size_t(1) << 14;
  const std::size_t n = vars.size(), width = std::size_t(std::max<long>(1, threads));
  auto [count, terms] = result_count(h);
  std::vector<std::string> lines(std::size_t(std::max<long>(0, count)));
  std::vector<Poly> chunk;
  std::size_t first = 0, chunk_terms = 0;
  const std::size_t mark = h.value_mark();
  auto flush = [&] {
    on_team(chunk.size(), width, [&](std::size_t i) { lines[first + i] = poly_text(chunk[i], vars); });
    first += chunk.size();
    chunk.clear();
    chunk_terms = 0;
    h.collect_since(mark);
  };
  for (long i = 0; i < count; ++i) {
    if (terms < 0 || terms > INT32_MAX)
      throw RequestError("receive: result " + std::to_string(i) + " has " + std::to_string(terms) + " terms");
    long next = 0;
    chunk.push_back(receive(h, std::int32_t(i), std::int32_t(terms), n, 0, "next", next));
    chunk_terms += std::size_t(terms);
    terms = next;
    if (chunk.size() == kChunkResults || chunk_terms >= kChunkTerms) flush();
  }
  if (!chunk.empty()) flush();
  return lines;
}

// Bytes of memory the process may have: the physical memory, or less under
// an address-space or data limit.
inline std::uint64_t memory_within_reach() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  std::uint64_t bytes = pages > 0 && page > 0 ? std::uint64_t(pages) * std::uint64_t(page) : UINT64_MAX;
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit r{};
    if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY) bytes = std::min<std::uint64_t>(bytes, r.rlim_cur);
  }
  return bytes;
}

// Bytes the polynomials of s take once each term holds an exponent for every
// variable: the library's monomial records of all the terms (two bytes a
// variable and one more slot, in 8-byte words, and a header word) and the
// host's exponent rows of the largest polynomial (four bytes a variable).
template <class P>
std::uint64_t dense_layout_bytes(const SystemOf<P>& s, std::uint64_t* terms) {
  const std::uint64_t n = s.vars.size(), record = 8 + 8 * ((n + 1 + 3) / 4);
  std::uint64_t all = 0, largest = 0;
  for (const P& p : s.polys) {
    all += p.size();
    largest = std::max<std::uint64_t>(largest, p.size());
  }
  *terms = all;
  return all * record + largest * n * 4;
}

// Refuses s before anything is sent when its dense exponent layout cannot
// fit in the memory the process may have.
template <class P>
void check_dense_layout(const SystemOf<P>& s) {
  std::uint64_t terms = 0;
  const std::uint64_t need = dense_layout_bytes(s, &terms), have = memory_within_reach();
  if (need <= have) return;
  auto mb = [](std::uint64_t b) { return std::to_string((b + (1 << 20) - 1) >> 20) + " MB"; };
  throw RequestError("the system does not fit in memory: its " + std::to_string(terms) + " terms in " +
                     std::to_string(s.vars.size()) + " variables take " + mb(need) +
                     " with an exponent for every variable in every term, and the process may have " + mb(have));
}

// Opens a request of s through h: init, internal_threads, one send per polynomial.
// Throws RequestError when a step is refused (or s cannot fit, before any step).
template <class P>
void open_request(Host& h, const SystemOf<P>& s, const RequestOptions& o) {
  using namespace host_session_detail;
  check_dense_layout(s);
  const bool gf = o.prime != 0;
  const std::size_t n = s.vars.size();
  const std::int32_t first = s.blocks > 0 ? s.blocks : std::int32_t(n);
  const std::int32_t second = std::int32_t(n) - first;
  auto I = [&](long v) { return h.integer(v); };
  if (gf)
    check(h.call(quor_gbasis_init, {I(first), I(second), I(0), I(o.prime), I(o.record ? 1 : 0)}), "init");
  else
    check(h.call(quor_int_gbasis_init, {I(first), I(second), I(0), I(o.record ? 1 : 0)}), "init");
  if (o.threads > 0) check(h.call(gf ? quor_internal_threads : quor_int_internal_threads, {I(o.threads)}), "threads");
  for (std::size_t k = 0; k < s.polys.size(); ++k) send(h, s.polys[k], n, o.prime, k);
}

// Computes on the polynomials the open request holds; when it is done, the
// results wait in the library (result_count, receive_residues) and
// cpu_seconds holds the time it assigned.  Throws RequestError when refused.
inline RequestResult compute(Host& h, const RequestOptions& o) {
  using namespace host_session_detail;
  const bool gf = o.prime != 0;
  auto I = [&](long v) { return h.integer(v); };
  std::vector<std::int32_t> opts = {std::int32_t(o.extra.size() + 1)};
  opts.insert(opts.end(), o.extra.begin(), o.extra.end());
  while (opts.size() < 4) opts.push_back(0);
  if (opts[0] < 4) opts[0] = 4;
  RequestResult out;
  const auto t0 = std::chrono::steady_clock::now();
  const CallResult r = h.call(gf ? quor_gbasis_compute : quor_int_gbasis_compute,
                              {h.name("t"), h.name("first"), h.name("count"), I(0), I(o.verbosity), I(8), I(0), I(0),
                               h.string(o.strategy), I(o.nb), I(0), h.rtable_int32(opts, std::int32_t(opts.size()))});
  out.compute_wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (r.interrupted) {
    out.end = RequestEnd::interrupted;
    return out;
  }
  check(r, "compute");
  if (h.to_int(r.value) == -2) {
    out.end = RequestEnd::stopped;
    return out;
  }
  out.cpu_seconds = h.to_double(h.assigned("t"));
  return out;
}

// Computes on the polynomials the open request holds and receives the results
// (over the variables of s); throws RequestError when a step is refused.
template <class P>
RequestResult compute_request(Host& h, const SystemOf<P>& s, const RequestOptions& o) {
  RequestResult out = compute(h, o);
  if (out.end == RequestEnd::done) host_session_detail::receive_results(h, s.vars.size(), o, out);
  return out;
}

// The Hilbert series of the polynomials the open request holds (after a
// basis request: of the basis): result 0 is the numerator h(t) in the first
// variable, result 1 the constant dim + 2.  Throws RequestError when refused.
template <class P>
RequestResult hilbert_request(Host& h, const SystemOf<P>& s, const RequestOptions& o) {
  using namespace host_session_detail;
  const bool gf = o.prime != 0;
  auto I = [&](long v) { return h.integer(v); };
  std::vector<std::int32_t> opts = {4, 0, 0, 0};
  RequestResult out;
  const auto t0 = std::chrono::steady_clock::now();
  const CallResult r = h.call(gf ? quor_hilbert_compute : quor_int_hilbert_compute,
                              {h.name("t"), h.name("first"), h.name("count"), I(0), I(o.verbosity), I(8), I(0), I(0),
                               h.string("HILBERT"), I(0), I(0), h.rtable_int32(opts, 4)});
  out.compute_wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (r.interrupted) {
    out.end = RequestEnd::interrupted;
    return out;
  }
  check(r, "hilbert");
  receive_results(h, s.vars.size(), o, out);
  return out;
}

// Closes the build's record program (the host's debug level 0: the program gets its tail).
inline void close_record(Host& h, bool prime_field) {
  host_session_detail::check(h.call(prime_field ? quor_debug_level : quor_int_debug_level, {h.integer(0)}),
                             "debug_level");
}

// One whole request (open_request, then compute_request). The host's checks
// (h.violations()) are left to the caller.
template <class P>
RequestResult run_request(Host& h, const SystemOf<P>& s, const RequestOptions& o) {
  open_request(h, s, o);
  return compute_request(h, s, o);
}

}  // namespace quor::standin

#endif  // QUOR_HOST_STANDIN_HOST_SESSION_H
