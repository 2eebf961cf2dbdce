// Strategy dispatch of a computation request and, in the integer build, the
// passes over blocks of primes.
//
// Memory plan of an integer request (marks m1, m2, m3 taken at entry):
//   pass      primes' constants, modular copies' monomials and the engine's
//             slabs go to zone 3 above the current state; the engine works
//             in zones 1 and 2; the lift computes the new coefficient values
//             in zone 1 while the pass results are still intact there, in
//             batches whose scratch goes back before the next (only the
//             values stay, moved down).
//   persist   zone 3 goes back to m3; what the old state keeps (its records,
//             monomials and the values of results completed before) moves
//             down there and the lifted values are copied above it (the
//             first pass has no old state: its monomial records, which may
//             sit in the pass's slabs, are first copied to zone 1); zones 1
//             and 2 go back to m1 and m2.
// Nothing is read after the memory holding it was released, and the final
// results sit in zone 3, which only the next memory reset ends.
#include "engine/dispatch.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/mainloop.h"
#include "engine/reconstruct.h"
#include "engine/twostage.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

i32 want_buildmatrix = 0;
i32 want_radical_strateg1 = 0;
i32 want_add_equations = 0;
#if QUOR_INT
i32 QUOR_NAME(debug_quor) = 0;
u64 lift_batch_bytes = u64(1) << 20;
#endif

namespace {

[[noreturn]] void refuse_strategy(i32 code) {
  if (code < 1 || code > 12) QUOR_NAME(Fatal)("Unknown strategy code %d\n", int(code));
  QUOR_NAME(Fatal)("Strategy %s is not available in this version\n", strategy_name(code));
}

[[maybe_unused]] inline double cpu_now() { return QUOR_NAME(cpu)(); }

void clear_free_lists() {
  root_of_Expos = nullptr;
  QUOR_NAME(root_of_List_Expos) = nullptr;
  root_of_Crit = nullptr;
}

// Puts the zone with identity 1 back into the working slots.
void working_zone_home() {
  if (cur_id_garbage == 2) QUOR_NAME(swap_zone)();
  else if (cur_id_garbage == 3) QUOR_NAME(swap_zone3)();
}

// What a request changes only for itself; restored on every way out,
// including a host error unwinding through the call.
struct RequestSwitches {
  int raw = QUOR_NAME(want_raw_output);
  i32 pipe2 = want_pipe2;
  i32 percent = QUOR_NAME(want_state_percent);
  i32 very_quiet = QUOR_NAME(want_very_quiet);
  u32 second_block = var_second_block;
#if QUOR_INT
  int lift = QUOR_NAME(want_lift);
  u32 vectorize = QUOR_NAME(vectorize);
  u32 maxi_vectorize = QUOR_NAME(maxi_vectorize);
  u32 offset = offset_primes;
#endif
  ~RequestSwitches() {
    working_zone_home();
    want_buildmatrix = want_radical_strateg1 = want_add_equations = 0;
    want_eliminated = 0;
    QUOR_NAME(want_raw_output) = raw;
    want_pipe2 = pipe2;
    QUOR_NAME(want_state_percent) = percent;
    QUOR_NAME(want_very_quiet) = very_quiet;
    var_second_block = second_block;
#if QUOR_INT
    QUOR_NAME(want_lift) = lift;
#endif
  }
};

// The replay program's statements of this call.
void record_call(u32 n, i32 mingbasis_strong, i32 restrict2, i32 final_restrict, const sQUOR_Comp_Desc* e) {
  if (!libmode_record) return;
  QUOR_NAME(record)("  {\n    int nb;\n\tstruct sQUOR_Comp_Desc Env;\n    QUOR_Comp_Desc env=&Env;\n");
  QUOR_NAME(record)("    env->_compute=%s;\n", strategy_name(e->_compute));
  QUOR_NAME(record)("    env->_nb=%d;\n", e->_nb);
  QUOR_NAME(record)("    env->_force_elim=%d;\n", e->_force_elim);
  QUOR_NAME(record)("    env->_off=%d;\n", e->_off);
  QUOR_NAME(record)("    env->_index=%d;\n", e->_index);
  QUOR_NAME(record)("    env->_zone=%d;\n", e->_zone);
  QUOR_NAME(record)("    env->_memory=%d;\n", e->_memory);
  QUOR_NAME(record)("    env->_nb2=%d;\n", e->_nb2);
  QUOR_NAME(record)("    env->_bk2=%d;\n", e->_bk2);
  QUOR_NAME(record)("    env->_force_elim2=%d;\n", e->_force_elim2);
  QUOR_NAME(record)("    env->_aggressive2=%d;\n", e->_aggressive2);
  QUOR_NAME(record)("    env->_dlim=%d;\n", e->_dlim);
  QUOR_NAME(record)("    env->_skip=%d;\n", e->_skip);
  QUOR_NAME(record)("    nb=QUOR(groebner)(base,%u,resultat,%d,%d,&t0,bk0,pas0,%d,env);\n", n, mingbasis_strong,
                    restrict2, final_restrict);
  record_result_display();
}

// Options shared by both builds: zone tables, monomial table, degree limit.
void common_setup(const sQUOR_Comp_Desc* e) {
  if (e->_memory > 0) {
    const u64 want = u64(e->_memory) * kZoneTableUnit;
    const u32 capacity = want > 0xFFFFFFFFull ? 0xFFFFFFFFu : u32(want);
    if (capacity > dynamic_max_garbages) zone_grow_tables(capacity);
  }
  if (e->_index > 0) {
    // A capacity whose table cannot be had is not kept: the capacity persists
    // across requests, and the next init would ask for that table again.
    struct KeepUnlessDone {
      u32 index = quor_max_index, prime = quor_hash_prime;
      bool done = false;
      ~KeepUnlessDone() {
        if (!done) quor_max_index = index, quor_hash_prime = prime;
      }
    } keep;
    quor_max_index = u32(e->_index);
    set_hash_prime();
    // Zone 3: the table must outlive every mark of this request.
    Zone3Scope zone3;
    Table_de_Recherche t = dynamic_Table_de_Recherche();
    clear_Table_de_Recherche(t);
    QUOR_NAME(ptr_Base_Exposants) = t;
    keep.done = true;
  }
  Dlim = e->_dlim > 0 ? u32(e->_dlim) : 1000000000u;
}

[[noreturn]] void refuse_option(int k, const char* field, i32 value, const char* range) {
  QUOR_NAME(Fatal)("Quor interface error: option o[%d] (%s) is %d, %s expected\n", k, field, int(value), range);
}

// The options whose values have a range, checked before any work: a value
// outside it would otherwise surface deep in the computation (a crash, or a
// memory or prime-table failure that names nothing the host gave).  _off,
// _zone, the switches and the thresholds take every value.
void check_options(const sQUOR_Comp_Desc* e, u32 n) {
  if (e->_index != 0 && (e->_index < i32(kMinMaxIndex) || e->_index > i32(kMaxMaxIndex)))
    QUOR_NAME(Fatal)("Quor interface error: option o[2] (_index, capacity of the monomial table) is %d, 0 (unchanged) "
                     "or %u .. %u expected\n",
                     int(e->_index), kMinMaxIndex, kMaxMaxIndex);
  if (e->_memory < 0 || u32(e->_memory) > kMaxMemoryOption)
    QUOR_NAME(Fatal)("Quor interface error: option o[4] (_memory, zone tables in units of %u entries) is %d, 0 .. %u "
                     "expected\n",
                     kZoneTableUnit, int(e->_memory), kMaxMemoryOption);
  if (e->_nb2 < 0 || u32(e->_nb2) > n) {
    if (e->_nb2 > 0 && e->_compute == QUOR_COMPUTE_GBASIS_MULTI)
      QUOR_NAME(Fatal)("Too many polynomials for 2nd computation (m=%d,m2=%d): option o[5] (_nb2) counts the inputs "
                       "kept for the second basis, 0 .. %u expected\n",
                       int(n), int(e->_nb2), n);
    char range[64];
    std::snprintf(range, sizeof range, "0 .. %u (inputs kept for the second basis)", n);
    refuse_option(5, "_nb2", e->_nb2, range);
  }
  const u32 vars = nb_of_affine_variables;
  if (e->_bk2 < 0 || u32(e->_bk2) >= vars) {
    char range[80];
    std::snprintf(range, sizeof range, "0 .. %u (variables of the second basis's first block)", vars - 1);
    refuse_option(6, "_bk2", e->_bk2, range);
  }
}

void check_arguments(const void* base, u32 n, const void* resultat, const sQUOR_Comp_Desc* env) {
  require_open_memory();
  if (env == nullptr) QUOR_NAME(Fatal)("Quor interface error: no computation descriptor\n");
  if ((n > 0 && base == nullptr) || resultat == nullptr)
    QUOR_NAME(Fatal)("Quor interface error: no table of polynomials\n");
  if (n > kMaxiBase) QUOR_NAME(Fatal)("Quor interface error: %u polynomials (at most %u)\n", n, kMaxiBase);
  check_options(env, n);
}

void check_result_count(u32 count) {
  if (count > kMaxiBase) QUOR_NAME(Fatal)("Not enough memory to store the result (base) !%s", "\n");
}

// A copy of p (record, residue arrays of the current block) in the current zone.
Dpol copy_Dpol_here(const sDpol* p) {
  Dpol q = raw_new_Dpol(p->nb_terms);
  q->id = p->id;
  q->new_flag = p->new_flag;
  q->row_flag = p->row_flag;
  q->input_flag = p->input_flag;
  q->property = p->property;
  for (u32 j = 0; j < p->nb_terms; ++j) q->monoms[j] = p->monoms[j];
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    if (p->nb_terms) std::memcpy(q->coeffs[k], p->coeffs[k], sizeof(Dom) * p->nb_terms);
  return q;
}

// Results of a driver that has already released the memory holding them are
// copied to zone 3 before anything allocates again.
void secure_results(Dpol* results, u32 count) {
  Zone3Scope zone3;
  for (u32 i = 0; i < count; ++i) results[i] = copy_Dpol_here(results[i]);
}

// Room the engine may fill in a result table (it writes up to quor_max_index).
u64 result_room(u32 n) {
  u64 r = quor_max_index;
  if (r < kMaxiBase) r = kMaxiBase;
  if (r < n) r = n;
  return r + 1;
}

// The results' table: null polynomials as many as the largest basis, whose
// pages are touched only where results go.
class NullTable {
 public:
  explicit NullTable(u64 room) : at_(new Dpol[room]) { zero_memory(at_.get(), room * sizeof(Dpol)); }
  Dpol* data() const { return at_.get(); }
  Dpol& operator[](u64 i) const { return at_[i]; }

 private:
  std::unique_ptr<Dpol[]> at_;
};

// want_eliminated for the duration of one basis computation.
struct EliminationSwitch {
  explicit EliminationSwitch(bool on) { want_eliminated = on ? 1 : 0; }
  ~EliminationSwitch() { want_eliminated = 0; }
};

}  // namespace

#if QUOR_INT

// ============================================================ integer build

namespace {

inline u64 limbs(const INT& a) { return u64(a._mp_size < 0 ? -i64(a._mp_size) : i64(a._mp_size)); }

// Codes this version computes: the basis, the no-op, the multiplication
// matrix, the change of ordering (the rational form, the minimal polynomial,
// square-free or not) and the two bases of QUOR_COMPUTE_GBASIS_MULTI, with a
// second basis or a change of ordering, the normal forms and the radical
// strategies.
bool strategy_runs(const sQUOR_Comp_Desc* e) {
  const i32 code = e->_compute;
  return code == QUOR_COMPUTE_GBASIS || code == QUOR_COMPUTE_NOP || code == QUOR_COMPUTE_MATRIXN ||
         code == QUOR_COMPUTE_GBASIS_MULTI || (code >= QUOR_COMPUTE_RRFORM && code <= QUOR_COMPUTE_MINPOLY_SQFR) ||
         code == QUOR_COMPUTE_GBASIS_NF || code == QUOR_COMPUTE_GBASIS_NF_RECOMPUTE ||
         code == QUOR_COMPUTE_RADICAL_STRATEG1 || code == QUOR_COMPUTE_RADICAL_STRATEG2;
}

// The second radical strategy takes its divisors last: _nb of them, after at
// least one polynomial of the system.
void check_divisors(const sQUOR_Comp_Desc* e, u32 n) {
  if (e->_compute != QUOR_COMPUTE_RADICAL_STRATEG2) return;
  if (e->_nb < 0 || u64(e->_nb) + 1 > n)
    QUOR_NAME(Fatal)("Strategy %s divides by the last _nb of the %u polynomials: _nb=%d should be in 0 .. %d\n",
                     strategy_name(e->_compute), n, int(e->_nb), int(n) - 1);
}

// Square-free switch and no_rr of the change-of-ordering codes 2 to 5.
struct ChangeSwitches {
  u32 sqfr;
  i32 no_rr;
};
ChangeSwitches change_switches(i32 code) {
  const i32 i = code - QUOR_COMPUTE_RRFORM;
  return {u32(i & 1), i32(i >> 1)};
}

bool normal_form_code(i32 code) {
  return code == QUOR_COMPUTE_GBASIS_NF || code == QUOR_COMPUTE_GBASIS_NF_RECOMPUTE;
}

// The normal-form strategies take the polynomials to reduce first: at least
// one, and the rest (the basis, or the system) after them.
void check_nb(const sQUOR_Comp_Desc* e, u32 n) {
  if (!normal_form_code(e->_compute)) return;
  if (e->_nb < 1 || u32(e->_nb) > n)
    QUOR_NAME(Fatal)("Strategy %s reduces the first _nb of the %u polynomials: _nb=%d should be in 1 .. %u\n",
                     strategy_name(e->_compute), n, int(e->_nb), n);
}

// Engine entry for one pass on the modular copies; the count of results.
u32 compute_pass(const sQUOR_Comp_Desc* e, Dpol* in, u32 n, Dpol* out, double* time, i32 bk0) {
  const i32 code = e->_compute;
  if (code == QUOR_COMPUTE_GBASIS) {
    EliminationSwitch elim(e->_force_elim != 0);
    return gbasis(in, n, out, time);
  }
  if (code == QUOR_COMPUTE_NOP) {
    for (u32 i = 0; i < n; ++i) out[i] = in[i];
    return n;
  }
  if (!strategy_runs(e)) refuse_strategy(code);
  u32 k = 0;
  if (normal_form_code(code)) {
    // The first _nb inputs are reduced by the basis of the others (code 6:
    // they already are one; code 7: computed, then enlarged by the results).
    const u32 nb = u32(e->_nb);
    want_add_equations = code == QUOR_COMPUTE_GBASIS_NF_RECOMPUTE ? 1 : 0;
    k = gbasis_universal_cmd(in + nb, n - nb, out, in, nb, time, 1, 1, want_add_equations, 0, 0, 0, 0, 0);
  } else if (code == QUOR_COMPUTE_MATRIXN) {
    want_buildmatrix = 1;
    want_mingbasis_strong = 1;
    k = gbasis_universal_cmd(in, n, out, nullptr, 0, time, 0, 0, 1, 0, 0, 0, 0, 0);
  } else if (code == QUOR_COMPUTE_RADICAL_STRATEG1) {
    want_radical_strateg1 = 1;
    k = gbasis_universal_cmd(in, n, out, nullptr, 0, time, 1, 1, 1, 0, 0, 0, 0, 0);
  } else if (code == QUOR_COMPUTE_RADICAL_STRATEG2) {
    want_radical_strateg1 = 1;
    QUOR_NAME(Stderr)("call gbasis_universal_cmd\n");
    const u32 nb = u32(e->_nb);
    k = gbasis_universal_cmd(in, n - nb, out, in + (n - nb), nb, time, 1, 0, 1, 0, 0, 0, 0, 0);
  } else if (code != QUOR_COMPUTE_GBASIS_MULTI) {
    const ChangeSwitches c = change_switches(code);
    k = gbasis_universal_cmd(in, n, out, nullptr, 0, time, c.sqfr, c.no_rr, 1, 0, 0, 0, 0, 0);
  } else {
    k = gbasis_universal_cmd(in, n, out, nullptr, 0, time, 0, 0, 1, u32(bk0), u32(e->_force_elim), u32(e->_nb2),
                             u32(e->_bk2), u32(e->_force_elim2));
  }
  // The driver gave its memory back before returning: keep the results.
  secure_results(out, k);
  return k;
}

// Shape and coefficients of one integer result, wherever they live now.
struct IntView {
  u32 id, new_flag, row_flag, input_flag, complete, nterms;
  u64* const* monoms;
  const INT* coefs;
};

IntView view_of(const sDpol_INT* p) {
  return {p->id, p->new_flag, p->row_flag, p->input_flag, p->complete_flag, p->nb_terms, p->monoms, p->coeffs};
}

using MonoCopies = std::unordered_map<const u64*, u64*>;

// A copy of the view in the current zone (monomial records shared as in the source).
Dpol_INT persist_here(const IntView& v, MonoCopies& copies) {
  Dpol_INT q = new_Dpol_INT(v.nterms);
  q->id = v.id;
  q->new_flag = v.new_flag;
  q->row_flag = v.row_flag;
  q->input_flag = v.input_flag;
  q->complete_flag = v.complete;
  for (u32 j = 0; j < v.nterms; ++j) {
    auto [it, fresh] = copies.try_emplace(v.monoms[j], nullptr);
    if (fresh) {
      it->second = static_cast<u64*>(QUOR_NAME(alloc64)(sz_Expos));
      std::memcpy(it->second, v.monoms[j], sz_Expos);
    }
    q->monoms[j] = it->second;
    q->coeffs[j] = QUOR_NAME(copy_INT)(v.coefs[j]);
  }
  return q;
}

// Modular copy of an integer input for the current block (zone 1; fresh
// monomial records, since the engine rewrites them); false when a prime of
// the block divides the leading coefficient.
bool modular_copy(const sDpol_INT* p, Dpol* out) {
  const u32 n = p->nb_terms;
  Dpol q = new_Dpol(n);
  q->id = p->id;
  q->new_flag = p->new_flag;
  q->row_flag = p->row_flag;
  q->input_flag = p->input_flag;
  for (u32 j = 0; j < n; ++j) {
    u64* r = QUOR_NAME(new_Expos)();
    std::memcpy(r, p->monoms[j], sz_Expos);
    q->monoms[j] = r;
  }
  bool lucky = true;
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
    const u32 prime = QUOR_NAME(Primes)[k];
    for (u32 j = 0; j < n; ++j) q->coeffs[k][j] = QUOR_NAME(INT_to_Dom)(p->coeffs[j], prime);
    if (n > 0 && q->coeffs[k][0] == 0 && p->coeffs[0]._mp_size != 0) lucky = false;
  }
  *out = q;
  return lucky;
}

bool same_monomial(const u64* a, const u64* b) {
  return std::memcmp(a + 1, b + 1, 8 * size_t(nb_of_blocks_of_variables)) == 0;
}

// The pass's results have the shape the first pass fixed.
bool same_shape(const std::vector<Dpol_INT>& stored, const Dpol* got, u32 count) {
  if (count != stored.size()) {
    std::fprintf(stderr, "pas le meme nombre de polynomes %u %u\n", unsigned(stored.size()), count);
    return false;
  }
  for (u32 i = 0; i < count; ++i) {
    if (stored[i]->nb_terms != got[i]->nb_terms) {
      std::fprintf(stderr, "Tailles incompatibles: %u %u\n", stored[i]->nb_terms, got[i]->nb_terms);
      return false;
    }
    for (u32 j = 0; j < got[i]->nb_terms; ++j)
      if (!same_monomial(stored[i]->monoms[j], got[i]->monoms[j])) {
        std::fprintf(stderr, "Tailles incompatibles: %u %u\n", stored[i]->nb_terms, got[i]->nb_terms);
        return false;
      }
  }
  return true;
}

// The state that survives a pass: integer results and the modulus of the
// passes that entered them.
// Up to this many primes every pass attempts every open result.
constexpr u32 kQuickAttemptsUpTo = 1024;
// Block schedule of the open passes (see next_block).  A pass holds its
// block's residues for every polynomial its steps make: doubling on to 64
// primes put a block of 32 in one pass, whose peak (katsura-10's rational
// form: 138 MB) was the request's, where two passes of 16 cost a pass's
// fixed part.
constexpr u32 kDoublingUpTo = 32;
constexpr u32 kSteadyBlock = 16;

struct LiftState {
  std::vector<Dpol_INT> results;  // zone 3
  bool shaped = false;            // a first pass fixed the results
  INT M{0, 0, nullptr};           // zone 3; product of the primes lifted so far
  u32 primes_in_M = 0;
  GC_state mark{};                // zone 3 just above the state
};

// One batch of the lift: its scratch goes back at its end, the integers it
// keeps moved down to the mark taken at its start.
class LiftBatch {
 public:
  LiftBatch() { QUOR_NAME(save_GC_state)(&mark_); }
  void keep(INT* v) { kept_.push_back(v); }
  void keep(std::vector<INT>& row) {
    for (INT& v : row) kept_.push_back(&v);
  }
  void end() {
    QUOR_NAME(restore_GC_state)(&mark_);
    relocate_INTs(kept_);
  }

 private:
  GC_state mark_{};
  std::vector<INT*> kept_;
};

// Copies the state of the first pass to zone 3 from m3_entry on.  Zone 3 is
// released before the copy, so the monomial records (the pass slabs') are
// copied to the working zone first; the values and M already live there.
void persist_first(LiftState& s, std::vector<IntView>& views, const INT& M, const GC_state& m3_entry) {
  const u32 count = u32(views.size());
  u64 terms = 0;
  for (const IntView& v : views) terms += v.nterms;
  std::vector<u64*> monoms(terms);  // the views point into it
  {
    MonoCopies copies;
    u64 at = 0;
    for (IntView& v : views) {
      for (u32 j = 0; j < v.nterms; ++j) {
        auto [it, fresh] = copies.try_emplace(v.monoms[j], nullptr);
        if (fresh) {
          it->second = static_cast<u64*>(zone_alloc_exact(sz_Expos, alignof(u64)));
          std::memcpy(it->second, v.monoms[j], sz_Expos);
        }
        monoms[at + j] = it->second;
      }
      v.monoms = monoms.data() + at;
      at += v.nterms;
    }
  }
  QUOR_NAME(restore_tesk_state_z3)(&m3_entry);
  clear_free_lists();
  {
    Zone3Scope zone3;
    MonoCopies copies;
    s.results.assign(count, nullptr);
    for (u32 i = 0; i < count; ++i) s.results[i] = persist_here(views[i], copies);
    s.M = QUOR_NAME(copy_INT)(M);
  }
  QUOR_NAME(save_tesk_state_z3)(&s.mark);
}

// The new state of a later pass over the old one, in zone 3 from m3_entry
// on: what the old state keeps -- its records, their monomial records and
// the values of the views that still read its own -- moves down in
// ascending address order (the relocation contract of core/zone.h), then
// the lifted values and M (in the working zone) are copied above it.
// Once a pass: cold, out of the way of the engine's code.
[[gnu::cold]] void persist_over(LiftState& s, const std::vector<IntView>& views, const INT& M,
                               const GC_state& m3_entry) {
  // What moves; term: a value's index, or one of the two kinds below.
  struct Piece {
    char* at;  // then where it went
    u64 size;
    u32 result, term;
  };
  constexpr u32 kRecord = ~0u, kMonomial = ~0u - 1;
  const u32 count = u32(views.size());
  std::unordered_map<const void*, void*> monomials;  // old address -> new
  std::vector<char> own(count);
  u64 n = 0;
  for (u32 i = 0; i < count; ++i) {
    const sDpol_INT* p = s.results[i];
    own[i] = views[i].coefs == p->coeffs;
    ++n;
    for (u32 j = 0; j < p->nb_terms; ++j) {
      n += monomials.try_emplace(p->monoms[j], nullptr).second ? 1 : 0;
      n += own[i] && limbs(p->coeffs[j]) != 0 ? 1 : 0;
    }
  }
  std::vector<Piece> pieces;
  pieces.reserve(n);
  for (u32 i = 0; i < count; ++i) {
    const sDpol_INT* p = s.results[i];
    char* base = reinterpret_cast<char*>(const_cast<sDpol_INT*>(p));
    // The record up to its last monomial pointer (its coefficient slots lie before).
    pieces.push_back({base, u64(reinterpret_cast<char*>(p->monoms + p->nb_terms) - base), i, kRecord});
    for (u32 j = 0; j < p->nb_terms; ++j) {
      void*& seen = monomials[p->monoms[j]];
      if (seen == nullptr) {
        seen = p->monoms[j];
        pieces.push_back({reinterpret_cast<char*>(p->monoms[j]), sz_Expos, i, kMonomial});
      }
      if (own[i] && limbs(p->coeffs[j]) != 0)
        pieces.push_back({reinterpret_cast<char*>(p->coeffs[j]._mp_d), limbs(p->coeffs[j]) * sizeof(mp_limb_t), i, j});
    }
  }
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return std::less<>()(a.at, b.at); });
  std::vector<Dpol_INT> records(count);
  QUOR_NAME(restore_tesk_state_z3)(&m3_entry);
  clear_free_lists();
  {
    Zone3Scope zone3;
    for (Piece& q : pieces) {
      char* to = static_cast<char*>(zone_alloc_exact(q.size, q.term >= kMonomial ? 16 : alignof(mp_limb_t)));
      if (to != q.at) std::memmove(to, q.at, q.size);
      if (q.term == kRecord) records[q.result] = reinterpret_cast<Dpol_INT>(to);
      else if (q.term == kMonomial) monomials[q.at] = to;
      q.at = to;
    }
    for (const Piece& q : pieces)
      if (q.term < kMonomial) records[q.result]->coeffs[q.term]._mp_d = reinterpret_cast<mp_limb_t*>(q.at);
    for (u32 i = 0; i < count; ++i) {
      const char* old = reinterpret_cast<const char*>(s.results[i]);
      Dpol_INT q = records[i];
      q->monoms = reinterpret_cast<u64**>(reinterpret_cast<char*>(q) +
                                          (reinterpret_cast<const char*>(q->monoms) - old));
      for (u32 j = 0; j < q->nb_terms; ++j) q->monoms[j] = static_cast<u64*>(monomials.at(q->monoms[j]));
      for (u32 j = 0; j < q->nb_terms; ++j) {
        INT& c = q->coeffs[j];
        if (!own[i]) c = QUOR_NAME(copy_INT)(views[i].coefs[j]);
        else if (limbs(c) == 0) mpz_init(&c);  // a zero keeps no limbs
      }
      q->complete_flag = views[i].complete;
      s.results[i] = q;
    }
    s.M = QUOR_NAME(copy_INT)(M);
  }
  QUOR_NAME(save_tesk_state_z3)(&s.mark);
}

}  // namespace

u32 first_prime_block(i32 pas0, Dpol_INT* base, u32 n) {
  u32 block;
  if (pas0 >= 0) {
    block = pas0 > 0 ? u32(pas0) : 1u;  // an empty block computes nothing
  } else {
    u32 w = 0;
    for (u32 i = 0; i < n; ++i)
      for (u32 j = 0; j < base[i]->nb_terms; ++j) {
        const u32 s = QUOR_NAME(Relative_GetLSize_Int)(base[i]->coeffs[j]);
        if (s > w) w = s;
      }
    const u64 b = 2 * u64(w) + 1;
    block = b < kMinAutoBlock ? kMinAutoBlock : (b > kMaxPrimeBlock ? kMaxPrimeBlock : u32(b));
  }
  return block > kMaxPrimeBlock ? kMaxPrimeBlock : block;
}

// Block of the next pass after the second.  The second pass repeats the
// first block; from then on the block doubles the modulus while most
// results are still open, up to kDoublingUpTo primes, and then adds a
// sixteenth (at least kSteadyBlock primes): results whose coefficients share
// one size (a parametrisation) all reconstruct in the same pass, and a
// doubling would overshoot that pass by up to as many primes as it needs,
// while a pass costs little more than its primes.
// Once at least half reconstruct, the sizes of
// their coefficients tell how many primes the others will want: in a
// reduced basis the largest coefficients are about twice the median's size
// (both counted as the 32-bit words of the largest coefficient plus those of
// the leading one), and the word bound of the reconstruction asks for about
// that many primes plus a margin of ten.  The next pass brings the total to
// this estimate; when the total already exceeds it, a quarter more.  Every
// pass replays at about the same cost per prime, so overshooting the needed
// modulus by a whole doubling costs more than an extra small pass.
static u32 next_block(const LiftState& s, u32 completed, u32 count) {
  const u32 total = s.primes_in_M;
  if (u64(completed) * 2 < count) return total < kDoublingUpTo ? total : std::max(kSteadyBlock, total / 16);
  std::vector<u64> need;
  need.reserve(completed);
  for (const sDpol_INT* p : s.results) {
    if (!p->complete_flag || p->nb_terms == 0) continue;
    u64 top = 0;
    for (u32 j = 0; j < p->nb_terms; ++j) {
      const u64 b = mpz_sizeinbase(&p->coeffs[j], 2);
      if (b > top) top = b;
    }
    need.push_back((top + 31) / 32 + (mpz_sizeinbase(&p->coeffs[0], 2) + 31) / 32);
  }
  u64 est = 0;
  if (!need.empty()) {
    std::sort(need.begin(), need.end());
    const u64 median = need[std::min<u64>(count / 2, need.size() - 1)];
    est = (median * 22 + 9) / 10 + 10;
  }
  u64 b = est > total ? est - total : (total + 3) / 4;
  if (b < 1) b = 1;
  return b > kMaxPrimeBlock ? kMaxPrimeBlock : u32(b);
}

// Results that need more than the table's primes end clearly (instead of
// the block choice refusing the offset): the last pass takes the primes that
// are left, then none is left.
u32 block_in_table(u32 offset, u32 block) {
  if (offset >= kDefaultPrimesCount)
    QUOR_NAME(Fatal)("No primes left: the results need more than the %u primes of the table\n",
                     kDefaultPrimesCount);
  return u64(offset) + block > kDefaultPrimesCount ? kDefaultPrimesCount - offset : block;
}

u32 prime_offset(i32 off) {
  if (off < 0) return u32((i64(random()) + 1) % 1250);
  return u32((8 * i64(off)) % 20000);
}
#endif

}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

#if QUOR_INT
UI32 quor::QUOR_NS::groebner_request(Dpol_INT* base, UI32 n, Dpol_INT* resultat, I32 mingbasis_strong,
                                     I32 restrict2, double* t, I32 bk0, I32 pas0, I32 final_restrict,
                                     QUOR_Comp_Desc env) {
  check_arguments(base, n, resultat, env);
  double t_local = 0;
  if (t == nullptr) t = &t_local;
  IntModeScope int_mode;
  RequestSwitches switches;
  working_zone_home();
  const sQUOR_Comp_Desc desc = *env;
  const i32 code = desc._compute;

  *t = 0;
  const double t0 = cpu_now();
  record_call(n, mingbasis_strong, restrict2, final_restrict, &desc);
  // Refused strategies are refused before any work.
  if (!strategy_runs(&desc)) refuse_strategy(code);
  check_nb(&desc, n);
  check_divisors(&desc, n);

  u32 block = first_prime_block(pas0, base, n);
  const u32 offset = prime_offset(desc._off);
  QUOR_NAME(Stderr)("Set offset primes to %u/%d\n", offset, 20000);
  want_automatique = 1;
  QUOR_NAME(want_aggressive) = 0;
  offset_primes = offset;
  common_setup(&desc);
  QUOR_NAME(want_lift) = 1;
  QUOR_NAME(Stderr)("Lin Bk ignored [NEW lib]");
  if (QUOR_NAME(debug_quor)) QUOR_NAME(attendre)();

  GC_state m1, m2, m3;
  QUOR_NAME(save_GC_state)(&m1);
  QUOR_NAME(save_tesk_state_z3)(&m3);
  QUOR_NAME(swap_zone)();
  QUOR_NAME(save_GC_state)(&m2);
  QUOR_NAME(swap_zone)();
  const u32 gen_sym0 = gen_sym_Dpol;

  LiftState state;
  state.mark = m3;
  std::vector<Dpol> copies(n > 0 ? n : 1);
  NullTable table(result_room(n));
  bool interrupted = false, complete = false;
  u32 rejects = 0;
  double lift_time = 0;
  i32 pass = 1;
  u32 pass_index = 0;

  // Everything a pass left in zones 1 and 2, and zone 3 above the state.
  auto drop_pass = [&] {
    QUOR_NAME(restore_GC_state)(&m1);
    QUOR_NAME(restore_tesk_state_z2)(&m2);
    QUOR_NAME(restore_tesk_state_z3)(&state.mark);
    clear_free_lists();
    zone_all_spares_dead();
  };

  for (;; ++pass) {
    if (pass > kMaxPasses) QUOR_NAME(Fatal)("Pas fait max_step !\n");
    // ---- the block of this pass ----
    block = block_in_table(offset_primes, block);
    QUOR_NAME(maxi_vectorize) = QUOR_NAME(vectorize) = block;
    gen_sym_Dpol = gen_sym0;
    {
      Zone3Scope zone3;
      init_Dom();  // primes and reconstruction constants of the block
    }
    const u32 pass_offset = offset_primes;
    bool lucky = true;
    for (u32 i = 0; i < n; ++i) lucky &= modular_copy(base[i], &copies[i]);
    QUOR_NAME(Stderr)("/S:%d -> %u/", int(pass_index), state.primes_in_M + block);
    QUOR_NAME(Stderr)(" [RES=%.1fM,VIRT=%.1fM]", 0.0, 0.0);
    want_mingbasis = 0;
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) {
      interrupted = true;
      drop_pass();
      break;
    }

    // ---- the computation ----
    u32 count = 0;
    bool rejected = !lucky;
    const u32 mem_before = total_allocated;
    if (lucky) {
      double pass_time = 0;
      nb_of_renormed = 0;
      want_automatique = 0;
      QUOR_NAME(want_raw_output) = 1;
      want_mingbasis_strong = mingbasis_strong;
      const bool writes_trace = !state.shaped;
      want_pipe2 = writes_trace ? 1 : 0;
      QUOR_NAME(want_state_percent) = writes_trace ? 1 : 0;
      QUOR_NAME(want_very_quiet) = writes_trace ? 0 : 1;
      simul_write = writes_trace ? 1 : 0;
      QUOR_NAME(reset_simulation)();
      elim_status_clear();
      // The copies are sorted for the request's order; a driver of an
      // earlier pass may have left the order of its own bases.
      var_second_block = switches.second_block;
      count = compute_pass(&desc, copies.data(), n, table.data(), &pass_time, bk0);
      QUOR_NAME(want_raw_output) = switches.raw;
      *t += pass_time;
      QUOR_NAME(checkInterrupt)();
      if (stop_requested() || elim_status() == kElimInterrupted) {
        interrupted = true;
        drop_pass();
        break;
      }
      if (elim_status() == kElimBadPrime) rejected = true;
      if (!rejected && restrict2 != 0) {
        const u32 keep = var_second_block;
        var_second_block = u32(restrict2);
        count = restriction(table.data(), count);
        var_second_block = keep;
      }
      if (!rejected && state.shaped && !same_shape(state.results, table.data(), count)) rejected = true;
      if (!rejected) check_result_count(count);
    }
    const u32 mem_after = total_allocated;

    if (rejected) {
      // Other primes compute the pass again; a first pass that later passes
      // keep contradicting is itself suspect and is computed again.
      QUOR_NAME(Stderr)("\nBad primes: pass %d is computed again with other primes\n", pass);
      drop_pass();
      offset_primes = pass_offset + block;
      if (state.shaped && ++rejects >= kRejectsBeforeRestart) {
        QUOR_NAME(Stderr)("The first pass is computed again\n");
        QUOR_NAME(restore_tesk_state_z3)(&m3);
        clear_free_lists();
        state = LiftState{};
        state.mark = m3;
        rejects = 0;
        pass_index = 0;
        block = first_prime_block(pas0, base, n);
      }
      continue;
    }
    rejects = 0;

    // ---- the lift, while the pass results are intact ----
    QUOR_NAME(Stderr)("restore Z1 ");
    const double lift_start = cpu_now();
    std::vector<IntView> views(count);
    std::vector<std::vector<INT>> values(count);
    // Pairing (normal forms): the lcm of the denominators of result 2j+1,
    // once it reconstructs, is the multiplier of its pair, result 2j.
    const bool paired = code == QUOR_COMPUTE_GBASIS_NF;
    std::vector<INT> multipliers(paired ? count : 0);
    std::vector<char> lifted(paired ? count : 0, 0);
    auto extra_of = [&](u32 i) -> INT* {
      if (!paired || i % 2 == 0) return nullptr;
      lifted[i] = 1;
      return &multipliers[i];
    };
    // The results go in batches of about lift_batch_bytes of values (at
    // least one result each): a batch's scratch (Chinese values, the
    // reconstruction's temporaries) goes back before the next, its values
    // and multipliers kept, so the working zone holds the lifted values and
    // one batch's scratch.
    const auto keep_lifted = [&](LiftBatch& batch, u32 i) {
      batch.keep(values[i]);
      if (paired && lifted[i]) batch.keep(&multipliers[i]);
    };
    u32 completed = 0;
    INT newM{0, 0, nullptr};
    if (!state.shaped) {
      newM = QUOR_NAME(copy_INT)(QUOR_NAME(product_of_primes));
      const u64 value_bytes = 8 * (limbs(newM) + 1);
      for (u32 lo = 0, hi = 0; lo < count; lo = hi) {
        for (u64 bytes = 0; hi < count; ++hi) {
          const u64 b = table[hi]->nb_terms * value_bytes;
          if (bytes > 0 && bytes + b > lift_batch_bytes) break;
          bytes += b;
        }
        LiftBatch batch;
        for (u32 i = lo; i < hi; ++i) {
          const sDpol* r = table[i];
          values[i].resize(r->nb_terms);
          const int ok =
              r->nb_terms == 0 ? 1 : QUOR_NAME(primpart)(extra_of(i), values[i].data(), r->coeffs, r->nb_terms);
          if (!ok && paired) lifted[i] = 0;
          views[i] = {r->id, r->new_flag, r->row_flag, r->input_flag, u32(ok), r->nb_terms, r->monoms,
                      values[i].data()};
          completed += ok ? 1 : 0;
          keep_lifted(batch, i);
        }
        batch.end();
      }
    } else {
      const INT P = QUOR_NAME(product_of_primes);
      const INT E_new = QUOR_NAME(mult_INT)(state.M, QUOR_NAME(inv_mod_INT)(state.M, P));
      newM = QUOR_NAME(mult_INT)(state.M, P);
      // A modulus below five limbs has no word bound yet: only the
      // remainders are combined, the reconstruction waits for more primes.
      const bool bounded = limbs(newM) >= 5;
      const u32 bound = bounded ? QUOR_NAME(compute_bound_size)(newM) : 0;
      if (bounded) QUOR_NAME(Stderr)("Compute_upper bound %u\n", bound);
      // Past kQuickAttemptsUpTo primes, a pass stops attempting after its
      // first failure: the others are only combined.  The request cannot
      // complete in that pass anyway, and in the pass where it can, no
      // attempt fails; long runs (parametrisations of thousands of primes)
      // otherwise spend much of their time in failing Euclidean runs on
      // huge moduli.  Last results first: a minimal polynomial comes last
      // and completes long before its parametrisations.
      const bool quick = state.primes_in_M + block <= kQuickAttemptsUpTo;
      bool failed = false;
      const u64 value_bytes = 8 * (limbs(newM) + 1);
      for (u32 hi = count, lo = count; hi > 0; hi = lo) {
        for (u64 bytes = 0; lo > 0; --lo) {
          const sDpol_INT* old = state.results[lo - 1];
          const u64 b = old->complete_flag ? 0 : old->nb_terms * value_bytes;
          if (bytes > 0 && bytes + b > lift_batch_bytes) break;
          bytes += b;
        }
        LiftBatch batch;
        // The batch's open values combined with the block's first (their
        // terms shared out over a team), then the attempts.
        std::vector<UpgradeJob> jobs;
        for (u32 i = lo; i < hi; ++i) {
          const sDpol_INT* old = state.results[i];
          if (old->complete_flag) continue;
          values[i].assign(old->coeffs, old->coeffs + old->nb_terms);
          jobs.push_back({values[i].data(), table[i]->coeffs, old->nb_terms});
        }
        if (!jobs.empty()) combine_upgrade_many(jobs, newM, E_new);
        for (u32 i = hi; i-- > lo;) {
          const sDpol_INT* old = state.results[i];
          views[i] = view_of(old);
          if (old->complete_flag) {
            ++completed;
            continue;
          }
          int ok = 0;
          if (bounded && (quick || !failed)) {
            ok = primpart_lift(extra_of(i), values[i].data(), old->nb_terms, newM, bound);
            if (!ok && paired) lifted[i] = 0;
            failed |= !ok;
          }
          views[i].coefs = values[i].data();
          views[i].complete = u32(ok);
          completed += ok ? 1 : 0;
          keep_lifted(batch, i);
        }
        batch.end();
      }
    }
    if (paired)
      for (u32 i = 1; i < count; i += 2) {
        if (!lifted[i] || views[i - 1].nterms != 1) continue;
        values[i - 1].assign(1, multipliers[i]);
        views[i - 1].coefs = values[i - 1].data();
        if (state.shaped) {
          QUOR_NAME(see_INT)(multipliers[i]);
          QUOR_NAME(Output)("\n");
        }
      }
    complete = completed == count;
    if (complete) QUOR_NAME(Stderr)(" {done}\n");
    else QUOR_NAME(Stderr)("{%.2f per completed}\n", 100.0 * completed / count);
    if (state.shaped) persist_over(state, views, newM, m3);
    else persist_first(state, views, newM, m3);
    lift_time += cpu_now() - lift_start;
    state.shaped = true;
    state.primes_in_M += block;
    QUOR_NAME(restore_GC_state)(&m1);
    QUOR_NAME(restore_tesk_state_z2)(&m2);
    QUOR_NAME(Stderr)("SWAP Z1/2 ");
    // Only the state in zone 3 below its mark lives on: the next pass takes
    // the pages the others leave before it makes new ones resident.
    zone_all_spares_dead();
    elim_give_back_room();
    QUOR_NAME(Stderr)("Memory usage (estimate):  %.3f\n", double(mem_after - mem_before) / 1024.0);
    if (complete) break;

    // ---- the next block: fresh primes, doubling while memory allows ----
    offset_primes = pass_offset + block;
    if (mem_after <= kBlockFreezeKb) block = pass_index == 0 ? state.primes_in_M : next_block(state, completed, count);
    else QUOR_NAME(Stderr)("pas=%d\n", int(block));
    if (block > kMaxPrimeBlock) block = kMaxPrimeBlock;
    ++pass_index;
  }

  // The request's primes and constants again (the pass constants are gone
  // with the zone 3 state above the results).
  QUOR_NAME(vectorize) = switches.vectorize;
  QUOR_NAME(maxi_vectorize) = switches.maxi_vectorize;
  offset_primes = switches.offset;
  if (QUOR_NAME(vectorize) > 0 && QUOR_NAME(vectorize) <= QUOR_NAME(maxi_vectorize)) {
    Zone3Scope zone3;
    init_Dom();
  }

  u32 count = 0;
  if (!interrupted) {
    count = u32(state.results.size());
    if (final_restrict != 0 && count != 0) {
      u32 k = 0;
      for (u32 i = 0; i < count; ++i)
        if (is_eliminated(state.results[i]->nb_terms, state.results[i]->monoms, var_second_block))
          state.results[k++] = state.results[i];
      count = k;
      if (!QUOR_NAME(want_quiet)) QUOR_NAME(Stderr)("\nRestriction a %u pols\n", count);
    }
    for (u32 i = 0; i < count; ++i) resultat[i] = state.results[i];
  }
  // The results sit in zone 3; the host makes its own copies next.
  zone_all_spares_dead();
  zone_give_back_dead();
  // Where the time went: the passes' engine and the reconstruction.
  QUOR_NAME(Stderr)("Lift: %.2f sec, %u primes in %d passes\n", lift_time, state.primes_in_M, pass);
  *t = cpu_now() - t0;
  return count;
}

QUOR_EXPORT UI32 Quor_int_groebner(Dpol_INT* base, UI32 n, Dpol_INT* resultat, I32 mingbasis_strong, I32 restrict2,
                                   double* t, I32 bk0, I32 pas0, I32 final_restrict, QUOR_Comp_Desc env) {
  return entry_guard(
      [&] { return groebner_request(base, n, resultat, mingbasis_strong, restrict2, t, bk0, pas0, final_restrict, env); });
}

QUOR_EXPORT u32 Quor_int_gbasis_rr_form(Dpol* base, u32 n, Dpol* resultat, double* t) {
  return gbasis_universal_cmd(base, n, resultat, nullptr, 0, t, 0, want_buildmatrix != 0 ? 1 : 0, 1, 0, 0, 0, 0, 0);
}

#else

// ============================================================ prime-field build

UI32 quor::QUOR_NS::groebner_request(Dpol* base, UI32 n, Dpol* resultat, I32 mingbasis_strong, I32 restrict2,
                                     double* t, I32 bk0, I32 pas0, I32 final_restrict, QUOR_Comp_Desc env) {
  (void)bk0;
  (void)pas0;
  check_arguments(base, n, resultat, env);
  double t_local = 0;
  if (t == nullptr) t = &t_local;
  RequestSwitches switches;
  working_zone_home();
  const sQUOR_Comp_Desc desc = *env;
  const i32 code = desc._compute;

  clear_free_lists();
  want_mingbasis_strong = 1;
  want_mingbasis = 0;
  nb_of_renormed = 0;
  want_automatique = 0;
  record_call(n, mingbasis_strong, restrict2, final_restrict, &desc);
  // This build computes bases and the multiplication matrix only.
  if (code != QUOR_COMPUTE_GBASIS && code != QUOR_COMPUTE_MATRIXN)
    refuse_strategy(code);
  common_setup(&desc);
  if (desc._aggressive2 < 1) {
    QUOR_NAME(want_aggressive) = 0;
  } else {
    QUOR_NAME(want_aggressive2) = desc._aggressive2;
    for (u32 d = 0; d < kAggressiveDegrees; ++d) aggressive_tab[d] = u32(desc._aggressive2);
    QUOR_NAME(want_aggressive) = 1;
    std::fprintf(stderr, "********** Set block2 %d\n", int(desc._aggressive2));
  }
  if (desc._skip > 0) QUOR_NAME(want_skip_comput) = desc._skip;

  GC_state m1, m2;
  QUOR_NAME(save_GC_state)(&m1);
  QUOR_NAME(swap_zone)();
  QUOR_NAME(save_GC_state)(&m2);
  QUOR_NAME(swap_zone)();

  // The engine reorders its input table: the caller's stays as it was.
  std::vector<Dpol> inputs(base, base + n);
  NullTable table(result_room(n));
  u32 count = 0;
  if (code == QUOR_COMPUTE_GBASIS) {
    EliminationSwitch elim(desc._force_elim != 0);
    count = gbasis(inputs.data(), n, table.data(), t);
  } else {
    want_buildmatrix = 1;
    want_mingbasis_strong = 1;
    count = gbasis_universal_cmd(inputs.data(), n, table.data(), nullptr, 0, t, 0, 1);
  }
  if (stop_requested() || elim_status() != kElimOk) count = 0;
  if (restrict2 != 0) {
    const u32 keep = var_second_block;
    var_second_block = u32(restrict2);
    count = restriction(table.data(), count);
    var_second_block = keep;
  }
  if (final_restrict != 0) count = restriction(table.data(), count);
  check_result_count(count);
  // The results move to zone 3; the engine's zones go back to their marks.
  secure_results(table.data(), count);
  QUOR_NAME(restore_GC_state)(&m1);
  QUOR_NAME(restore_tesk_state_z2)(&m2);
  // The results sit in zone 3; the host makes its own copies next.
  zone_all_spares_dead();
  zone_give_back_dead();
  for (u32 i = 0; i < count; ++i) resultat[i] = table[i];
  return count;
}

QUOR_EXPORT UI32 Quor_groebner(Dpol* base, UI32 n, Dpol* resultat, I32 mingbasis_strong, I32 restrict2, double* t,
                               I32 bk0, I32 pas0, I32 final_restrict, QUOR_Comp_Desc env) {
  return entry_guard(
      [&] { return groebner_request(base, n, resultat, mingbasis_strong, restrict2, t, bk0, pas0, final_restrict, env); });
}

QUOR_EXPORT u32 Quor_gbasis_rr_form(Dpol* base, u32 n, Dpol* resultat, double* t) {
  return gbasis_universal_cmd(base, n, resultat, nullptr, 0, t, 0, want_buildmatrix != 0 ? 1 : 0);
}

#endif

QUOR_EXPORT int QUOR_NAME(recompute)(char* s, std::size_t size) {
  if (s == nullptr || size == 0) return 0;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return int(std::strftime(s, size, "%a %b %e %H:%M:%S", &local));
}

QUOR_EXPORT void QUOR_NAME(memory_state)() {}
