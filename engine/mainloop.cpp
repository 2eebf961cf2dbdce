// The degree-by-degree F4 main loop and the Hilbert-series entry.
//
// Memory: the work table and the relative tables' chunks are taken from the
// working zone once per call, before any step; each step runs between a
// saved and a restored zone-1 mark, so everything symbolic preprocessing and
// the elimination build is given back, except the new polynomials, which the
// elimination makes in zone 2.  Pair records, lcms and multipliers go back to
// their free lists as soon as a step no longer needs them.
#include "engine/mainloop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#if !QUOR_INT
#include <omp.h>
#endif

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/reltable.h"
#include "core/team_shared.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/rrform.h"
#include "engine/symbolic.h"
#include "engine/tesk_bridge.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

i32 want_eliminated = 0;
i32 want_mingbasis = 0;
i32 want_mingbasis_strong = 1;
i32 want_Lexico = 0;
#if QUOR_INT
i32 want_rr = 0;
#endif
i32 QUOR_NAME(want_ignore_cste) = 0;
i32 QUOR_NAME(want_very_quiet) = 0;
i32 want_aggressive2_degree = 0;
i32 want_aggressive2_lim = 0;
#if !QUOR_INT
u32 aggressive_tab[kAggressiveDegrees] = {};
double global_time_symbolic = 0.0;
#endif

namespace {

// Below this many pairs in all, the new pairs of a step are filtered on one thread.
[[maybe_unused]] constexpr u64 kPairsPerTeam = 8192;

// The computation cannot go on: interrupted, or the elimination gave up.
inline bool failed() { return stop_requested() || elim_status() != kElimOk; }

inline double cpu_now() { return QUOR_NAME(cpu)(); }

// Returns a pair record to the free list of pairs (its monomials are handled
// by the caller).  The free list is linked through the record's first word.
inline void recycle_Crit_record(Crit c) {
  std::memcpy(static_cast<void*>(c), &root_of_Crit, sizeof root_of_Crit);
  root_of_Crit = c;
}

inline bool is_constant_lead(const sDpol* p) {
  const u64* e = lead_Expos(p);
  for (u32 w = 0; w < nb_of_blocks_of_variables; ++w)
    if (e[w] != 0) return false;
  return true;
}

// Pairs of p with the basis, the chain criterion on the old pairs, the
// filtered new pairs merged in, p into the basis; returns the new count.
u32 update_with(Dpol p, Crit* pairs, Dpol* basis, u32 count) {
  const u64* m = lead_Expos(p);
  Crit fresh = new_pairs_Crit(p, basis, count);  // sorted and filtered
  *pairs = crit2onLPC(m, *pairs);
  *pairs = updatD(fresh, *pairs);
  return updatF(m, p, basis, count);
}

}  // namespace

// The criteria of each new polynomial against the basis it meets are decided
// on the team (in the prime-field build); then, unless one of them needs the
// whole sort of its pairs (which may write), the old pairs meet the chain
// criterion of every new lead and the new pairs are merged in one pass.
u32 update_with_step(Dpol* news, u32 k, Crit* pairs, Dpol* basis, u32 count) {
  if (k == 0) return count;
  const u32 B = nb_of_blocks_of_variables;
  std::vector<u64> ms(u64(k) * B);
  for (u32 j = 0; j < k; ++j) std::memcpy(&ms[u64(j) * B], lead_Expos(news[j]), 8 * size_t(B));
  // Entry e of basis ++ news leaves the basis with the first later new
  // polynomial whose lead divides its own (removed_by[e], k when none).
  const u32 total = count + k;
  std::vector<Dpol> all(basis, basis + count);
  all.insert(all.end(), news, news + k);
  std::vector<u64> leads(u64(total) * B);
  for (u32 e = 0; e < total; ++e) std::memcpy(&leads[u64(e) * B], lead_Expos(all[e]), 8 * size_t(B));
  std::vector<u32> removed_by(total, k);
  [[maybe_unused]] u64 work = 0;
  for (u32 j = 0; j < k; ++j) {
    for (u32 e = 0; e < count + j; ++e)
      if (removed_by[e] == k && is_sub_Expos1(&leads[u64(e) * B], &ms[u64(j) * B])) removed_by[e] = j;
    work += count + j;
  }
  // The partners of news[j]: the basis it meets is the entries before it that are still in.
  std::vector<std::vector<Dpol>> partners(k);
  std::vector<u8> whole(k, 0);
  auto decide = [&](u32 j) {
    // The leads gathered above, copied in order: read through the
    // polynomials, each is three dependent loads.
    static thread_local std::vector<Dpol> met;
    static thread_local std::vector<u64> met_leads;
    met.resize(count + j);
    met_leads.resize(u64(count + j) * B);
    u32 n = 0;
    for (u32 e = 0; e < count + j; ++e)
      if (removed_by[e] >= j) {
        met[n] = all[e];
        for (u32 w = 0; w < B; ++w) met_leads[u64(n) * B + w] = leads[u64(e) * B + w];
        ++n;
      }
    whole[j] = !surviving_partners(news[j], met.data(), n, partners[j], met_leads.data());
  };
#if !QUOR_INT
  const i32 width = nb_threads > 1 && k > 1 && work >= kPairsPerTeam ? i32(team_width(u32(std::min(nb_threads, 1024)))) : 1;
#pragma omp parallel for num_threads(width) schedule(dynamic, 1)
  for (u32 j = 0; j < k; ++j) decide(j);
#else
  for (u32 j = 0; j < k; ++j) decide(j);
#endif
  bool any_whole = false;
  for (u32 j = 0; j < k; ++j) any_whole |= whole[j] != 0;
  if (any_whole) {
    for (u32 j = 0; j < k; ++j) {
      const Dpol p = news[j];
      Crit fresh = whole[j] ? new_pairs_Crit(p, basis, count)
                            : pairs_with_partners(p, partners[j].data(), u32(partners[j].size()));
      *pairs = crit2onLPC(lead_Expos(p), *pairs);
      *pairs = updatD(fresh, *pairs);
      count = updatF(lead_Expos(p), p, basis, count);
    }
    return count;
  }
  // No new pair has its older lead as lcm, so no comparison below writes.
  // A pair made for news[j] meets the chain criterion of the later leads; the
  // merges one after the other leave equal pairs in the order of their lists
  // (the old list first), which is the stable sort of the lists in turn.
  Crit old_pairs = crit2onLPC_many(ms.data(), k, *pairs);
  std::vector<Crit> fresh;
  for (u32 j = 0; j < k; ++j) {
    Crit list = pairs_with_partners(news[j], partners[j].data(), u32(partners[j].size()));
    list = crit2onLPC_many(ms.data() + u64(j + 1) * B, k - j - 1, list);
    for (Crit c = list; c; c = c->next) fresh.push_back(c);
  }
  std::stable_sort(fresh.begin(), fresh.end(), [](Crit a, Crit b) { return comp_Crit(a, b) < 0; });
  for (size_t i = 0; i + 1 < fresh.size(); ++i) fresh[i]->next = fresh[i + 1];
  if (!fresh.empty()) fresh.back()->next = nullptr;
  *pairs = updatD(fresh.empty() ? nullptr : fresh.front(), old_pairs);
  // The basis as updatF leaves it, with its check of the room at each entry.
  u32 size = count;
  for (u32 j = 0; j < k; ++j) {
    u32 gone = 0;
    for (u32 e = 0; e < count + j; ++e) gone += removed_by[e] == j;
    if (size - gone >= kBasisCapacity) QUOR_NAME(Fatal)("Not enough memory to store the result (base) !%s", "\n");
    size = size - gone + 1;
  }
  u32 n = 0;
  for (u32 e = 0; e < total; ++e)
    if (removed_by[e] == k) basis[n++] = all[e];
  return n;
}

namespace {

// Input order: larger leading degree first, then the smaller leading
// monomial, then the larger id.
void sort_inputs(Dpol* in, u32 n) {
  shell_sort_indices(
      n,
      [in](u32 a, u32 b) {
        const u64* ea = lead_Expos(in[a]);
        const u64* eb = lead_Expos(in[b]);
        const u32 da = degree_Expos(ea), db = degree_Expos(eb);
        if (da != db) return da < db;
        const i32 c = comp_Expos(ea, eb);
        if (c != 0) return c > 0;
        return in[a]->id < in[b]->id;
      },
      [in](u32 a, u32 b) { std::swap(in[a], in[b]); });
}

// Puts the halves of one lcm group (relative indices 0 .. size-1 of the
// tables, halves[0 .. size-1]) in pivot order and moves the origins past it.
void close_group(Dpol* halves, u32 size) {
  // Null multiplier first (the polynomial whose lead is the lcm), then by id.
  shell_sort_indices(
      size,
      [halves](u32 a, u32 b) {
        const bool na = get_relative_Expos(a) == nullptr, nb = get_relative_Expos(b) == nullptr;
        if (na != nb) return nb;
        return halves[a]->id > halves[b]->id;
      },
      [halves](u32 a, u32 b) {
        std::swap(halves[a], halves[b]);
        swap_relative_Expos(a, b);
      });
  set_relative_CBoolean(0, 0);
  add_relative_Expos(size);
  add_relative_CBoolean(size);
}

bool id_in_group(u32 id, u32 size) {
  for (u32 i = 0; i < size; ++i)
    if (get_relative_Indexes(i) == id) return true;
  return false;
}

// One F4 step on halves table[nred .. nred+nsel-1]; the new polynomials
// replace the halves from table[nred] on; returns their number.  The step's
// working memory is given back when it returns.
u32 run_step(Dpol* table, u32 nred, u32 nsel, Dpol* reductors_tab, u32 nreductors) {
  // The one-step switches must not outlive the step, also when a host error
  // (an interrupt, a fatal condition) unwinds through it: the next request
  // would start with them set.
  struct StepSwitches {
    i32 aggressive = QUOR_NAME(want_aggressive);
    i32 degree = want_aggressive2_degree;
    i32 lim = want_aggressive2_lim;
    ~StepSwitches() {
      QUOR_NAME(want_aggressive) = aggressive;
      want_aggressive2_degree = degree;
      want_aggressive2_lim = lim;
      use_strong_order = 0;
#if QUOR_INT
      QUOR_NAME(want_ignore_simulin) = 0;
#endif
    }
  } switches;
  reset_relative_Expos();
  reset_relative_CBoolean();
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u32 room = quor_max_index - nred - nsel;
  internal_symbolic_reduction(nsel, reductors_tab, nreductors, table + nred, &room);
  QUOR_NAME(restore_GC_state)(&mark);
  // The step's polynomials are in the other zone: what it left here is dead.
  zone_spares_dead();
  return room;
}

// The records of polys[0..count-1] with the homogenising slot set to 0 and
// their hash made again.  Polynomials share most of their records (katsura-12:
// 35 thousand for 5.8 million terms): each is done once, marked meanwhile
// in the top bit of its word 0, which holds a value below 2^32.
void clear_h_slots(Dpol* polys, u32 count) {
  constexpr u64 kDone = u64(1) << 63;
  std::vector<u64*> done;
  for (u32 i = 0; i < count; ++i) {
    u64** m = polys[i]->monoms;
    for (u32 j = 0; j < polys[i]->nb_terms; ++j) {
      u64* r = m[j];
      if (r[0] & kDone) continue;
      expos_set_slot(r + 1, nb_of_affine_variables, 0);
      r[0] = hash_Expos(r + 1) | kDone;
      done.push_back(r);
    }
  }
  for (u64* r : done) r[0] &= ~kDone;
}

// Halves of the final steps: the basis itself, multiplier 1, all to reduce.
void basis_as_halves(Dpol* table, u32 nred, const Dpol* basis, u32 count) {
  if (u64(nred) + count >= quor_max_index) QUOR_NAME(Fatal)("Not enough memory for the table of reductors!\n");
  reset_relative_Expos();
  reset_relative_CBoolean();
  reset_relative_Indexes();
  for (u32 i = 0; i < count; ++i) {
    table[nred + i] = basis[i];
    set_relative_Expos(i, nullptr);
    set_relative_CBoolean(i, 1);
    set_relative_Indexes(i, basis[i]->id);
  }
}

// The replay program's statements for a Hilbert call (when recording).
void record_hilbert_call(u32 n, i32 a, i32 b, i32 c) {
  if (!libmode_record) return;
  QUOR_NAME(record)("  {\n    int nb;\n    nb=QUOR(hilbert)(base,%u,resultat,%d,%d,&t0,bk0,pas0,%d);\n", n, a, b, c);
  record_result_display();
}

// New polynomials of degree d printed when VERBOSE asks for that degree.
void show_step(const Dpol* fresh, u32 k) {
  QUOR_NAME(Output)("\n");
  for (u32 i = 0; i < k; ++i) {
    if (fresh[i]->new_flag) QUOR_NAME(Output)("Base ");
    QUOR_NAME(see_Dpol)(fresh[i]);
    QUOR_NAME(Output)("\n");
  }
}

// Zero-row threshold of the elimination for a matrix of degree d.
u32 aggressive_threshold(u32 d) {
  if (!QUOR_NAME(want_aggressive)) return quor_max_index;
#if QUOR_INT
  return d < kAggressiveDegrees ? 0 : quor_max_index;
#else
  return d < kAggressiveDegrees ? aggressive_tab[d] : quor_max_index;
#endif
}

}  // namespace

u32 select_pairs_of_degree(Crit* pairs, u32 d, Dpol* halves, u32 capacity) {
  reset_relative_Expos();
  reset_relative_CBoolean();
  reset_relative_Indexes();
  reset_relative_Crit();
  u32 nsel = 0;        // halves selected so far
  u32 start = 0;       // first half of the open group
  u32 taken = 0;       // pairs taken off the list
  const u64* group_lcm = nullptr;
  auto add_half = [&](Dpol p, u64* multiplier) {
    if (nsel >= capacity) QUOR_NAME(Fatal)("Not enough memory for the table of reductors!\n");
    const u32 j = nsel - start;
    halves[nsel++] = p;
    set_relative_Expos(j, multiplier);
    set_relative_CBoolean(j, 1);
    set_relative_Indexes(j, p->id);
  };
  Crit c = *pairs;
  while (c && c->deg == d) {
    if (group_lcm && equal_Expos(c->lcm, group_lcm)) {
      const u32 size = nsel - start;
      if (!id_in_group(c->older->id, size)) add_half(c->older, c->cofactor1);
      else QUOR_NAME(kill_Expos)(c->cofactor1);
      const u32 size2 = nsel - start;
      if (!id_in_group(c->newer->id, size2)) add_half(c->newer, c->cofactor2);
      else QUOR_NAME(kill_Expos)(c->cofactor2);
    } else {
      if (group_lcm) close_group(halves + start, nsel - start);
      start = nsel;
      group_lcm = c->lcm;
      add_half(c->older, c->cofactor1);
      add_half(c->newer, c->cofactor2);
    }
    set_relative_Crit(taken++, c);
    c = c->next;
  }
  if (group_lcm) close_group(halves + start, nsel - start);
  *pairs = c;
  // The lcms served only the grouping; the records go back in the order taken.
  for (u32 i = 0; i < taken; ++i) {
    Crit x = get_relative_Crit(i);
    QUOR_NAME(kill_Expos)(x->lcm);
    recycle_Crit_record(x);
  }
  reset_relative_Expos();
  reset_relative_CBoolean();
  return nsel;
}

u32 minimal_basis(Dpol* G, u32 n) {
  // The leads side by side: on a large basis the n^2 tests would each chase
  // a polynomial's pointers to its lead.
  const u32 B = nb_of_blocks_of_variables;
  std::vector<u64> lead(u64(n) * B), divisor(u64(n) * B);
  for (u32 i = 0; i < n; ++i) std::memcpy(&lead[u64(i) * B], lead_Expos(G[i]), sizeof(u64) * B);
  leads_without_h(G, n, divisor.data());
  // Whether the lead of G[i] is divisible by the lead of some G[d], d in by.
  auto reducible = [&](u32 i, const std::vector<u32>& by) {
    const u64* m = &lead[u64(i) * B];
    for (const u32 d : by) {
      const u64* e = &divisor[u64(d) * B];
      u32 w = 0;
      while (w < B && !((m[w] - e[w]) & EXPOS_SIGN_MASK)) ++w;
      if (w == B) return true;
    }
    return false;
  };
  // Backward: a polynomial stays when no later survivor's lead divides its own.
  std::vector<u32> kept;
  for (u32 i = n; i-- > 0;)
    if (!reducible(i, kept)) kept.push_back(i);
  std::reverse(kept.begin(), kept.end());
  // Forward: against the survivors before it.
  std::vector<u32> survivors;
  for (const u32 i : kept)
    if (!reducible(i, survivors)) survivors.push_back(i);
  // Ascending, so each survivor moves down or stays.
  for (size_t k = 0; k < survivors.size(); ++k) G[k] = G[survivors[k]];
  return u32(survivors.size());
}

u32 gbasis(Dpol* inputs, u32 n, Dpol* result, double* t) {
  const char* verbose_env = std::getenv("VERBOSE");
  const u32 verbose_degree = verbose_env ? u32(std::atoi(verbose_env)) : 0;
  const double t0 = cpu_now();
#if !QUOR_INT
  const double wall0 = omp_get_wtime();
  global_time_symbolic = 0.0;
#endif
  if (n == 0) return 0;
  elim_status_clear();
  // A zero polynomial (no term) adds nothing to the ideal and has no lead to
  // pair: such inputs are moved behind the others and left out.
  {
    u32 m = 0;
    for (u32 i = 0; i < n; ++i)
      if (inputs[i]->nb_terms != 0) std::swap(inputs[m++], inputs[i]);
    if (m == 0) {
      *t = cpu_now() - t0;
      return 0;
    }
    n = m;
  }
#if QUOR_INT
  // A prime of the block that divides a leading coefficient (an input sorted
  // for another order than the one its copies were checked in) has no
  // inverse for it: a bad prime, for the pass driver to replace.
  for (u32 i = 0; i < n; ++i)
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
      if (inputs[i]->coeffs[k][0] == 0) {
        elim_fail(kElimBadPrime, "A prime of the block divides the leading coefficient of an input\n");
        *t = cpu_now() - t0;
        return 0;
      }
#endif

  // ---- preparation ----
  // Zone 2 above this mark will hold only the steps' polynomials.
  GC_state steps_z1, steps_z2;
  QUOR_NAME(save_tesk_state2)(&steps_z1, &steps_z2);
  for (u32 i = 0; i < n; ++i) inputs[i]->input_flag = 1;
  sort_inputs(inputs, n);
  for (u32 i = 0; i < n; ++i) set_hash(inputs[i]->nb_terms, inputs[i]->monoms);

  Crit pairs = nullptr;
  monic_d(inputs[0]);
  u32 count = updatF(lead_Expos(inputs[0]), inputs[0], result, 0);
  for (u32 i = 1; i < n; ++i) {
    monic_d(inputs[i]);
    count = update_with(inputs[i], &pairs, result, count);
  }

  // The work table: reductors first, then the halves of a step.
  Dpol* table = static_cast<Dpol*>(QUOR_NAME(alloc64)(u64(quor_max_index) * sizeof(Dpol)));
  forget_relative_tables();
  reset_relative_Expos();
  reset_relative_Indexes();
  reset_relative_Crit();
  reset_relative_CBoolean();
  u32 nred = 0;
  reductors(table, &nred, result, count, quor_max_index);

  // ---- the loop ----
  u64 steps = 0;
  std::vector<Dpol> news;
  while (pairs && pairs->deg <= Dlim) {
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) break;
    const u32 d = pairs->deg;
    if (d > kMaxPairDegree) QUOR_NAME(Fatal)("You should recompile with BIGNNI=1 (degree =%u)\n", d);
    if (!QUOR_NAME(want_very_quiet) || want_pipe2) QUOR_NAME(Infos)("[%u]", d);

    const u32 nsel = select_pairs_of_degree(&pairs, d, table + nred, quor_max_index - 1 - nred);
    QUOR_NAME(want_aggressive2) = i32(aggressive_threshold(d));
#if !QUOR_INT
    const double s0 = omp_get_wtime();
#endif
    const u32 k = run_step(table, nred, nsel, table, nred);
#if !QUOR_INT
    const double s = omp_get_wtime() - s0;
    global_time_symbolic += s;
    if (s > 1.0) QUOR_NAME(Stderr)("{S=%.2fsec}", s);
#endif
    // The multipliers served only this step's rows.
    for (u32 i = 0; i < nsel; ++i) QUOR_NAME(kill_Expos)(get_relative_Expos(i));
    if (elim_status() != kElimOk) break;
    Dpol* fresh = table + nred;
    if (verbose_degree != 0 && verbose_degree == d) show_step(fresh, k);

    // The new basis polynomials up to the first constant one.
    news.clear();
    Dpol constant = nullptr;
    for (u32 i = 0; i < k && !constant; ++i) {
      Dpol p = fresh[i];
      if (!p->new_flag) continue;
      if (is_constant_lead(p))
        constant = p;
      else
        news.push_back(p);
    }
    count = update_with_step(news.data(), u32(news.size()), &pairs, result, count);
    if (Dpol p = constant) {
      if (QUOR_NAME(want_ignore_cste)) {
        QUOR_NAME(Stderr)("!");
        if (count >= kBasisCapacity) QUOR_NAME(Fatal)("Not enough memory to store the result (base) !%s", "\n");
        result[count] = p;
        *t = cpu_now() - t0;
        return count + 1;
      }
      result[0] = p;
      QUOR_NAME(Infos)("\n#C Dimension: -1, Degree: -1\n");
      *t = cpu_now() - t0;
      return 1;
    }
    reductors(table, &nred, fresh, k, quor_max_index);
    if (++steps >= kMaxSteps) break;
  }
#if !QUOR_INT
  QUOR_NAME(Stderr)("\nElapsed time: %.2fs/%.2fs (Total/Symb+Linalg)\n", omp_get_wtime() - wall0,
                    global_time_symbolic);
#endif

  // ---- end of the computation ----
#if !QUOR_INT
  // The large steps are over: their pages and the scratch chunks they left
  // go back before the last steps and the results take new ones (the
  // integer build's next pass would only make them resident again).
  zone_give_back_dead();
  scratch_chunks_release();
#endif
  if (failed()) {
    // Whatever stands in the tables is no basis: report the stop, not a result.
    *t = cpu_now() - t0;
    QUOR_NAME(info_count_lzw)();
    return 0;
  }
  if (want_eliminated) count = restriction(result, count);
  count = minimal_basis(result, count);
  if (!QUOR_NAME(want_very_quiet)) info_Host("\n");
  if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("Collect %u pols\n", count);

  if (want_mingbasis) {
    basis_as_halves(table, nred, result, count);
    if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("[<-]");
    count = run_step(table, nred, count, table, nred);
    std::memmove(result, table + nred, sizeof(Dpol) * count);
  }

  QUOR_NAME(checkInterrupt)();
  if (!failed() && want_mingbasis_strong) {
    // Last step: h set to 0 everywhere, columns in the strong order, the
    // basis reducing itself.
    clear_h_slots(result, count);
    basis_as_halves(table, nred, result, count);
    if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("[<-]");
    QUOR_NAME(Stderr)("Mingbasis2\n");
    use_strong_order = 1;
#if QUOR_INT
    QUOR_NAME(want_ignore_simulin) = 1;
#endif
    // Its rows replace every polynomial the steps made: the new ones take
    // their place in zone 2 instead of its next pages.
    struct ResultsOver {
      explicit ResultsOver(const GC_state* m) { elim_results_over = m; }
      ~ResultsOver() { elim_results_over = nullptr; }
    } over(&steps_z2);
    count = run_step(table, nred, count, result, count);  // clears both switches
    std::memmove(result, table + nred, sizeof(Dpol) * count);
  }

  if (!failed()) {
    if (want_Lexico && count != real_nb_of_affine_variables)
      QUOR_NAME(Fatal)("This is not a triangular system !\n");
#if QUOR_INT
    if (want_rr) apply_rr(result, count);
#endif
  }
#if !QUOR_INT
  // The last steps' pages too, before the host receives the results.
  zone_give_back_dead();
  scratch_chunks_release();
#endif
  *t = cpu_now() - t0;
  QUOR_NAME(info_count_lzw)();
  QUOR_NAME(checkInterrupt)();
  return failed() ? 0 : count;
}

}  // namespace quor::QUOR_NS

// ---- Hilbert series ----

using namespace quor;
using namespace quor::QUOR_NS;

QUOR_EXPORT UI32 QUOR_NAME(hilbert)(HostDpol* base, UI32 n, HostDpol* resultat, I32 mingbasis_strong,
                                    I32 restrict2, double* t, I32 bk0, I32 pas0, I32 final_restrict) {
  (void)bk0;
  (void)pas0;
  record_hilbert_call(n, mingbasis_strong, restrict2, final_restrict);
  root_of_Expos = nullptr;
  QUOR_NAME(root_of_List_Expos) = nullptr;
  root_of_Crit = nullptr;
  want_mingbasis_strong = 1;
  want_mingbasis = 0;
  nb_of_renormed = 0;
  want_automatique = 0;
  const double t0 = cpu_now();
  const u32 k = lib_hilbert_compute(base, n, resultat);
  *t = cpu_now() - t0;
  return k;
}
