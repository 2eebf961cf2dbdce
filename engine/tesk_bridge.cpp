// The core's side of the bridge into the Tesk engine: core records become
// Tesk records (monom_raw), the engine computes, and its results are drained
// term by term (extract_raw_first_...) into core records in the current zone.
//
// Every call runs inside a TeskCall: the engine is set up once per process,
// its end-of-process hook turns any fatal condition of the engine into this
// build's host error (the request fails, the next one works), its loops poll
// the core's interrupt check, and in the integer build the engine's
// coefficient heap goes back to its state of entry.
#include "engine/tesk_bridge.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "host/C/host_services.h"
#include "tesk/algo/bridge_setup.h"
#include "tesk/algo/fglm.h"
#include "tesk/algo/hilbert.h"
#include "tesk/algo/normal_form.h"
#include "tesk/base/runtime.h"
#include "tesk/base/vgf_heap.h"
#if QUOR_INT
#include "core/bigint.h"
#endif

namespace quor::QUOR_NS {

namespace {

#if QUOR_INT
using TP = tesk::DMP__BigDexp__VGF;
using TL = tesk::List_DMP__BigDexp__VGF;
using TM = tesk::poly::Dmp<tesk::poly::BigDexp__VGF>;
#else
using TP = tesk::DMP__DRLDRL__GFC;
using TL = tesk::List_DMP__DRLDRL__GFC;
using TM = tesk::poly::Dmp<tesk::poly::DRLDRL__GFC>;
#endif

// The engine's fatal end, as this build's host error.
[[noreturn]] void engine_ended(int status, const char* message) {
  tesk::Fatal_loop = 0;
  if (message && *message) QUOR_NAME(Fatal)("%s", message);
  QUOR_NAME(Fatal)("The Tesk engine stopped (status %d)\n", status);
}

// Unwinds the engine when the stop flag (SIGINT on older hosts) is set: the
// bridge call then ends with no result, as the core's loops end theirs.
struct EngineStopped {};

// The engine's interrupt poll: the core's poll asks the host, which unwinds
// the request itself when the user interrupted.
void engine_poll() {
  QUOR_NAME(checkInterrupt)();
  if (stop_requested()) throw EngineStopped{};
}

// One call into the engine (see the top of the file).
class TeskCall {
 public:
  TeskCall() {
    static bool ready = false;
    if (!ready) {
      std::FILE* out = QUOR_NAME(output) ? QUOR_NAME(output) : stdout;
      std::FILE* err = QUOR_NAME(stderr) ? QUOR_NAME(stderr) : stderr;
#if QUOR_INT
      Tesk_urgent_init_VGF(out, err);
#else
      Tesk_urgent_init_GFC(out, err);
#endif
      ready = true;
    }
    previous_ = tesk::set_exit_hook(engine_ended);
    previous_poll_ = tesk::set_poll_hook(engine_poll);
#if QUOR_INT
    tesk::vgf::save_tesk_state_VGF(&heap_);
#endif
  }
  ~TeskCall() {
#if QUOR_INT
    tesk::vgf::restore_tesk_state_VGF(&heap_);
#endif
    tesk::set_poll_hook(previous_poll_);
    tesk::set_exit_hook(previous_);
  }
  TeskCall(const TeskCall&) = delete;
  TeskCall& operator=(const TeskCall&) = delete;

 private:
  tesk::Exit_Hook previous_ = nullptr;
  tesk::Poll_Hook previous_poll_ = nullptr;
#if QUOR_INT
  tesk::Garbage_State heap_{};
#endif
};

// The engine's polynomials over the request's variables, coefficients
// modulo the request's working primes.
void engine_layout() {
  const u32 n = nb_of_affine_variables;
#if QUOR_INT
  // The engine's order is the degree reverse lexicographic one.
  if (var_second_block != 0)
    QUOR_NAME(Fatal)("Normal forms need the degree reverse lexicographic order (one block of variables)\n");
  tesk::set_DMP__BigDexp__VGF(n);
  Tesk_set_Coeffs_VGF(QUOR_NAME(vectorize), QUOR_NAME(Primes));
#else
  // One block is the engine's first block holding every variable.
  tesk::set_DMP__DRLDRL__GFC(n, var_second_block ? var_second_block : n);
  Tesk_set_Coeffs_GFC(1, QUOR_NAME(Primes));
#endif
}

// Slots 0 .. n-1 of the exponent words e.
void exponents_of(const u64* e, std::uint16_t* out) {
  for (u32 v = 0; v < nb_of_affine_variables; ++v) out[v] = std::uint16_t(expos_slot(e, v));
}

// The engine's copy of p (terms re-sorted in its order).
TP to_engine(const sDpol* p) {
  const u32 V = QUOR_NAME(vectorize);
  std::vector<std::uint16_t> e(nb_of_affine_variables + 1);
  std::vector<std::uint32_t> r(V);
  tesk::poly::Chain<std::remove_pointer_t<TP>> chain;
  for (u32 t = 0; t < p->nb_terms; ++t) {
    exponents_of(p->monoms[t] + 1, e.data());
    for (u32 k = 0; k < V; ++k) r[k] = p->coeffs[k][t];
    if (TP term = TM::monom_raw(e.data(), r.data(), V)) chain.add(term);
  }
  return TM::sort_and_merge(chain.finish());
}

TL to_engine(Dpol* polys, u32 n) {
  tesk::poly::Chain<std::remove_pointer_t<TL>> chain;
  for (u32 i = 0; i < n; ++i) {
    TL cell = TM::Lists::new_();
    cell->elt = to_engine(polys[i]);
    chain.add(cell);
  }
  return chain.finish();
}

// A fresh monomial record of the current layout with slots 0 .. n-1 from e.
u64* core_monomial(const std::uint16_t* e) {
  u64* r = QUOR_NAME(new_Expos)();
  std::fill(r + 1, r + 1 + nb_of_blocks_of_variables, u64{0});
  for (u32 v = 0; v < nb_of_affine_variables; ++v) expos_set_slot(r + 1, v, e[v]);
  return r;
}

// Fills the hashes of p's monomial records and sorts its terms into the
// core's order (largest first).  Like a finished basis, p keeps h = 0.
void into_core_order(Dpol p) {
  const u32 nt = p->nb_terms, V = QUOR_NAME(vectorize);
  for (u32 t = 0; t < nt; ++t) p->monoms[t][0] = hash_Expos(p->monoms[t] + 1);
  shell_sort_indices(
      nt, [&](u32 a, u32 b) { return comp5_Expos(p->monoms[b] + 1, p->monoms[a] + 1) == 1; },
      [&](u32 a, u32 b) {
        std::swap(p->monoms[a], p->monoms[b]);
        for (u32 k = 0; k < V; ++k) std::swap(p->coeffs[k][a], p->coeffs[k][b]);
      });
}

// The polynomial of the list cell c, drained term by term into a core record.
Dpol from_engine(TL c) {
  const u32 nt = TM::Terms::size(TM::strip(c->elt));
  const u32 V = QUOR_NAME(vectorize);
  Dpol p = new_Dpol(nt);
  std::vector<std::uint16_t> e(nb_of_affine_variables + 1);
  std::vector<std::uint32_t> r(std::max<u32>(V, 1));
  for (u32 t = 0; t < nt; ++t) {
#if QUOR_INT
    tesk::extract_raw_first_List_DMP__BigDexp__VGF_multi(c, e.data(), r.data());
#else
    tesk::extract_raw_first_List_DMP__DRLDRL__GFC(c, e.data(), r.data());
#endif
    p->monoms[t] = core_monomial(e.data());
    for (u32 k = 0; k < V; ++k) p->coeffs[k][t] = Dom(r[k]);
  }
  into_core_order(p);
  return p;
}

void release(TL l) {
  for (TL c = l; c; c = c->next) TM::Terms::kill_all(c->elt);
  TM::Lists::free_all(l);
}

// Leading exponents (slots 0 .. n-1) of the non-zero polynomials.
std::vector<std::uint16_t> leading_exponents(HostDpol* polys, u32 n, u32* count) {
  const u32 nv = nb_of_affine_variables;
  std::vector<std::uint16_t> rows;
  *count = 0;
  for (u32 i = 0; i < n; ++i) {
    if (polys[i] == nullptr || polys[i]->nb_terms == 0) continue;
    rows.resize(rows.size() + nv);
    exponents_of(polys[i]->monoms[0] + 1, rows.data() + rows.size() - nv);
    ++*count;
  }
  return rows;
}

[[maybe_unused]] bool vanishes_modulo_every_prime(std::int64_t c) {
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    if (c % i64(QUOR_NAME(Primes)[k]) != 0) return false;
  return true;
}

// A univariate polynomial in x1 (exponent in slot 0) with the given
// coefficients, highest power first, zeros left out (prime field: those
// that vanish modulo the prime too).
HostDpol univariate(const std::vector<std::int64_t>& c) {
  std::vector<u32> powers;
  for (u32 i = u32(c.size()); i-- > 0;)
    if (c[i] != 0 && (QUOR_INT || !vanishes_modulo_every_prime(c[i]))) powers.push_back(i);
  const u32 nt = u32(powers.size());
  std::vector<std::uint16_t> e(nb_of_affine_variables + 1, 0);
  auto monomial = [&](u32 power) {
    e[0] = std::uint16_t(power);
    u64* r = core_monomial(e.data());
    r[0] = hash_Expos(r + 1);
    return r;
  };
#if QUOR_INT
  Dpol_INT p = new_Dpol_INT(nt);
  for (u32 t = 0; t < nt; ++t) {
    p->monoms[t] = monomial(powers[t]);
    mpz_init_set_si(&p->coeffs[t], long(c[powers[t]]));
  }
  p->complete_flag = 1;
#else
  Dpol p = new_Dpol(nt);
  for (u32 t = 0; t < nt; ++t) {
    p->monoms[t] = monomial(powers[t]);
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
      const i64 prime = i64(QUOR_NAME(Primes)[k]);
      p->coeffs[k][t] = Dom(((c[powers[t]] % prime) + prime) % prime);
    }
  }
#endif
  return p;
}

}  // namespace

u32 lib_hilbert_compute(HostDpol* polys, u32 n, HostDpol* out) {
  const u32 nv = nb_of_affine_variables;
  if (nv == 0) QUOR_NAME(Fatal)("Hilbert series: the request has no variable\n");
  u32 count = 0;
  std::vector<std::uint16_t> rows = leading_exponents(polys, n, &count);
  std::vector<std::int64_t> numerator;
  int dim;
  try {
    TeskCall call;
#if QUOR_INT
    dim = Tesk_compute_Hilbert_VGF(nv, count, rows.data(), &numerator);
#else
    dim = Tesk_compute_Hilbert_GFC(nv, count, rows.data(), &numerator);
#endif
  } catch (const EngineStopped&) {
    return 0;
  }
  // The numerator goes back in one 16-bit exponent slot: a higher power
  // would come back as another one.
  if (numerator.size() > kHilbertMaxDegree + 1)
    QUOR_NAME(Fatal)("Hilbert series: the numerator has degree %zu, beyond the %u the Hilbert entry returns\n",
                     numerator.size() - 1, kHilbertMaxDegree);
  // The results outlive the request's scratch, as its inputs do.
  Zone3Scope zone3;
  IntModeScope int_mode;
  out[0] = univariate(numerator);
  out[1] = univariate({std::int64_t(dim) + 2});
  return 2;
}

u32 lib_normalForm(Dpol* F, u32 nF, Dpol* G, u32 nG, Dpol* H, u32 nH, i32 univ, Dpol* out) {
#if !QUOR_INT
  // One prime only: the engine's prime-field coefficients hold one residue.
  if (QUOR_NAME(vectorize) != 1) return 0;
#endif
  TeskCall call;
  engine_layout();
  // The engine's lists go back to its free lists on every way out, an
  // interrupt's or a fatal condition's too.
  struct Lists {
    TL f = nullptr, g = nullptr, h = nullptr, results = nullptr;
    ~Lists() {
      for (TL l : {f, g, h, results}) release(l);
    }
  } l;
  l.f = to_engine(F, nF);
  l.g = to_engine(G, nG);
  l.h = univ ? to_engine(H, nH) : nullptr;
  int bad = 0;
  try {
#if QUOR_INT
    bad = Tesk_normalForm_VGF(l.f, l.g, l.h, univ, &l.results);
#else
    bad = Tesk_normalForm_GFC(l.f, l.g, l.h, univ, &l.results);
#endif
  } catch (const EngineStopped&) {
    bad = -1;
  }
  if (bad < 0) {
    elim_fail(kElimInterrupted, "interrupted\n", false);
    return 0;
  }
  if (bad) {
#if QUOR_INT
    elim_fail(kElimBadPrime, "A leading coefficient of the basis vanishes modulo a prime of the block\n");
    return 0;
#else
    QUOR_NAME(Fatal)("A leading coefficient of the basis vanishes modulo %u\n", QUOR_NAME(Primes)[0]);
#endif
  }
  u32 k = 0;
  for (TL c = l.results; c; c = c->next, ++k) {
#if QUOR_INT
    out[k] = from_engine(c);
#else
    // The prime-field build reads back the normal forms only.
    if (k % 2 == 1) out[k / 2] = from_engine(c);
#endif
  }
  return QUOR_INT ? k : k / 2;
}

#if QUOR_INT
void lib_dump_mult_matrix(Dpol* G, u32 nG) {
  const u32 n = nb_of_affine_variables;
  std::string path;
  bool ok = false;
  tesk::algo::Fglm_Status st;
  {
    TeskCall call;
    engine_layout();
    TL g = to_engine(G, nG);
    tesk::algo::Mult_Matrix M;
    st = tesk::algo::compute_C_Mult_by_xi(g, n - 1, &M);
    release(g);
    if (st == tesk::algo::Fglm_Status::Done) ok = tesk::algo::dump_Mult_Matrix(M, &path);
  }
  if (st != tesk::algo::Fglm_Status::Done)
    QUOR_NAME(Stderr)("No matrix dump: %s\n", st == tesk::algo::Fglm_Status::Not_Dim0
                                                 ? "the basis is not zero-dimensional"
                                                 : "a leading coefficient vanishes modulo a prime of the block");
  else if (!ok)
    QUOR_NAME(Stderr)("Can't write the matrix dump %s\n", path.c_str());
  else
    QUOR_NAME(Stderr)("Matrix of x%u written in %s\n", n, path.c_str());
}
#endif

}  // namespace quor::QUOR_NS
