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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
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

// Reads the results of a request in the library's order.  Modulo a prime the
// export of several results goes into buffers kept from one result to the
// next, and a batch of them becomes terms between two calls (the host's GMP
// functions in place) on the request's threads: a term's exponent vector and
// limb, two heap blocks, are most of what a large basis costs to receive.
class ResultReader {
 public:
  // A batch holds about batch_words words (exponents and coefficients) and
  // is completed on the caller's thread alone below team_terms terms.
  ResultReader(Host& h, std::size_t nvars, long prime, long threads, std::size_t batch_words = std::size_t(1) << 23,
               std::size_t team_terms = std::size_t(1) << 14)
      : h_(h),
        n_(nvars),
        prime_(prime),
        threads_(threads > 1 ? std::size_t(threads) : 1),
        batch_words_(batch_words),
        team_terms_(team_terms) {}
  ResultReader(const ResultReader&) = delete;
  ResultReader& operator=(const ResultReader&) = delete;

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
    const std::size_t width = batch_terms_ >= team_terms_ ? threads_ : 1;
    on_team(pending_.size(), width, [&](std::size_t k) { complete(pending_[k]); });
    pending_.clear();
    batch_terms_ = 0;
  }

 private:
  struct Pending {
    std::vector<Poly>* into;
    std::size_t slot;   // its index in *into
    std::size_t terms;
    std::size_t first;  // its first term in the batch
  };

  void read_residues(std::int32_t index, std::int32_t nterms, long& next, std::vector<Poly>& into) {
    const std::size_t terms = std::size_t(nterms);
    if (batch_terms_ > 0 && (batch_terms_ + terms) * (n_ + 1) > batch_words_) flush();
    // One word more than the result needs: never an empty array.
    const std::size_t e_end = (batch_terms_ + terms) * n_ + 1, c_end = batch_terms_ + terms + 1;
    if (e_.size() < e_end) e_.resize(e_end);
    if (c_.size() < c_end) c_.resize(c_end);
    std::uint32_t* e = e_.data() + batch_terms_ * n_;
    std::uint32_t* c = c_.data() + batch_terms_;
    std::uint32_t nx = 0;
    std::int32_t code = 0;
    check(h_.run([&] {
      code = quor_receive_poly(index, std::uint32_t(n_), std::uint32_t(nterms), e, c, &nx);
      return h_.null();
    }),
          "receive");
    if (code != 1) throw RequestError("receive: result " + std::to_string(index) + " cannot be read");
    next = long(nx);
    into.emplace_back();
    pending_.push_back({&into, into.size() - 1, terms, batch_terms_});
    batch_terms_ += terms;
    // Alone, completed while the export is still in the cache.
    if (threads_ == 1) flush();
  }

  void complete(const Pending& r) const {
    Poly& p = (*r.into)[r.slot];
    p.resize(r.terms);
    const std::uint32_t* e = e_.data() + r.first * n_;
    for (std::size_t i = 0; i < r.terms; ++i, e += n_) {
      mpz_set_ui(p[i].c.get(), c_[r.first + i]);
      p[i].e.assign(e, e + n_);
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
  std::vector<std::uint32_t> e_, c_;  // the batch's exponents (n_ a term) and coefficients
  std::size_t batch_terms_ = 0;
  std::vector<Pending> pending_;
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
  const long count = long(h.to_int(h.assigned("count")));
  long terms = long(h.to_int(h.assigned("first")));
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

// Opens a request of s through h: init, internal_threads, one send per polynomial.
// Throws RequestError when a step is refused.
template <class P>
void open_request(Host& h, const SystemOf<P>& s, const RequestOptions& o) {
  using namespace host_session_detail;
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

// Computes on the polynomials the open request holds and receives the results
// (over the variables of s); throws RequestError when a step is refused.
template <class P>
RequestResult compute_request(Host& h, const SystemOf<P>& s, const RequestOptions& o) {
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
  receive_results(h, s.vars.size(), o, out);
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
