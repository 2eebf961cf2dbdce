// Multiplication matrix by the last variable on the staircase and the sparse
// FGLM on it.  The matrix has its own monomial table (values: coordinate of a
// staircase monomial, ~i for the leading monomial of G[i]); it works under
// its own hash prime and gives the caller's back before returning, so the
// request's table and the stored hashes of G stay valid for later passes.
#include "engine/multmatrix.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/team_shared.h"
#include "core/zone.h"
#include "engine/staircase.h"
#include "host/C/host_services.h"
#include "minpolyvgf/fglm.h"
#include "minpolyvgf/unipoly.h"
#if !QUOR_INT
#include "minpolyvgf/prime_sign.h"
#endif

namespace quor::QUOR_NS {

namespace {

u64 count_debug = 0;  // lookups of products, over all calls (shown in one fatal message)

template <class T>
T* zone_array(u64 n) {
  return static_cast<T*>(QUOR_NAME(alloc64)((n ? n : 1) * sizeof(T)));
}

// A fresh record holding the given exponent words and their hash under the
// current prime.
u64* hashed_record(const u64* words) {
  const u32 B = nb_of_blocks_of_variables;
  u64* r = QUOR_NAME(new_Expos)();
  std::memcpy(r + 1, words, 8 * u64(B));
  r[0] = hash_Expos(r + 1);
  return r;
}

// The matrix's own table while it is being built.
struct Lookup {
  Table_de_Recherche t;
  u64* one;  // record of the monomial 1 (hash 0)
  // 1 with *value when the monomial with these exponent words is stored.
  i32 find(const u64* words, u32* value) const {
    return find_code_exact(hash_Expos(words), words, one, t, value);
  }
};

// Restores the caller's table sizing on every way out of the builder.
struct HashPrimeGuard {
  u32 index = quor_max_index, prime = quor_hash_prime;
  ~HashPrimeGuard() {
    quor_max_index = index;
    quor_hash_prime = prime;
  }
};

// Reduction graph of the products over the staircase that are not leading
// monomials (see the header).  Built with the matrix's own table; node
// monomials are kept by value, keyed by their exponent words.
class NodeGraph {
 public:
  NodeGraph(Dpol* G, u32 nG, const Lookup& L) : G_(G), nG_(nG), L_(L), B_(nb_of_blocks_of_variables) {}

  // Coordinate (>= 0) of a staircase monomial, else ~node (created when new).
  i32 classify(const u64* words) {
    u32 v = 0;
    if (L_.find(words, &v) && i32(v) >= 0) return i32(v);
    auto [it, fresh] = ids_.try_emplace(std::vector<u64>(words, words + B_), u32(ids_.size()));
    if (fresh) {
      words_.insert(words_.end(), words, words + B_);
      pending_.push_back(it->second);
    }
    return ~i32(it->second);
  }

  // Expands every pending node (its children become nodes in turn); each
  // child is smaller than its parent, so this ends.
  void expand() {
    std::vector<u64> q(B_), prod(B_);
    while (!pending_.empty()) {
      QUOR_NAME(checkInterrupt)();
      const u32 id = pending_.back();
      pending_.pop_back();
      const u64* P = &words_[u64(id) * B_];
      const Dpol g = is_reducible_by_G(P, G_, nG_);
      if (!g) QUOR_NAME(Fatal)("Bug in build_last_matrix(4)\n");
      const u64* lead = lead_Expos(g);
      for (u32 w = 0; w < B_; ++w) q[w] = P[w] - lead[w];  // lead | P: no borrow between slots
      if (poly_.size() <= id) poly_.resize(id + 1), first_.resize(id + 1);
      poly_[id] = g;
      first_[id] = u32(child_.size());
      for (u32 t = 1; t < g->nb_terms; ++t) {
        mul_Expos(prod.data(), q.data(), g->monoms[t] + 1);
        const i32 c = classify(prod.data());
        child_.push_back(c);
      }
    }
  }

  // Moves the graph into M, nodes renumbered in increasing monomial order;
  // returns the renumbering (old id -> new id).
  std::vector<u32> store(MultMatrix* M) {
    const u32 N = u32(ids_.size());
    std::vector<u32> order(N), renum(N);
    for (u32 i = 0; i < N; ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](u32 a, u32 b) { return comp5_Expos(&words_[u64(a) * B_], &words_[u64(b) * B_]) < 0; });
    for (u32 i = 0; i < N; ++i) renum[order[i]] = i;
    M->nnodes = N;
    M->node_poly = zone_array<Dpol>(N);
    M->node_child = zone_array<i32*>(N);
    for (u32 i = 0; i < N; ++i) {
      const u32 old = order[i];
      const Dpol g = poly_[old];
      M->node_poly[i] = g;
      M->node_child[i] = zone_array<i32>(g->nb_terms);
      for (u32 t = 1; t < g->nb_terms; ++t) {
        const i32 c = child_[first_[old] + t - 1];
        M->node_child[i][t - 1] = c >= 0 ? c : ~i32(renum[u32(~c)]);
      }
    }
    return renum;
  }

 private:
  struct WordsHash {
    std::size_t operator()(const std::vector<u64>& w) const {
      u64 h = 0x9E3779B97F4A7C15ull;
      for (u64 x : w) h = (h ^ x) * 0xFF51AFD7ED558CCDull;
      return std::size_t(h ^ (h >> 29));
    }
  };
  Dpol* G_;
  u32 nG_;
  const Lookup& L_;
  u32 B_;
  std::unordered_map<std::vector<u64>, u32, WordsHash> ids_;
  std::vector<u64> words_;  // B words per node, by id
  std::vector<u32> pending_, first_;
  std::vector<Dpol> poly_;
  std::vector<i32> child_;
};

// Coordinates of the terms after the lead of g; every one must be under the
// staircase (G reduced), else false.
bool tail_coordinates(const sDpol* g, const Lookup& L, u32* out) {
  for (u32 t = 1; t < g->nb_terms; ++t) {
    u32 v = 0;
    if (!L.find(g->monoms[t] + 1, &v) || i32(v) < 0) return false;
    if (out) out[t - 1] = v;
  }
  return true;
}

}  // namespace

Dom** new_row_table(u32 nrows, u32 stride) {
  Dom** rows = zone_array<Dom*>(nrows);
  for (u32 r = 0; r < nrows; ++r) {
    rows[r] = zone_array<Dom>(stride);
    std::memset(rows[r], 0, u64(stride) * sizeof(Dom));
  }
  return rows;
}

void build_mult_matrix(Dpol* G, u32 nG, u32 D, MultMatrix* M) {
  const double t0 = QUOR_NAME(cpu)();
  const u32 n = nb_of_affine_variables;
  const u32 B = nb_of_blocks_of_variables;
  if (n == 0) QUOR_NAME(Fatal)("ne trouve pas find_main_var\n");
  for (u32 i = 0; i < nG; ++i)
    if (G[i]->nb_terms == 0) QUOR_NAME(Fatal)("Bug in build_last_matrix: zero polynomial in the basis\n");
  const u32 last = n - 1;

  HashPrimeGuard guard;
  quor_max_index = u32(std::min<u64>(std::max<u64>(u64(nG) + 4 * u64(D), 65536), 0xFFFFFFFFull));
  set_hash_prime();
  Lookup L{dynamic_Table_de_Recherche(), QUOR_NAME(new_Expos)()};
  clear_Table_de_Recherche(L.t);
  std::memset(L.one, 0, 8 * (u64(B) + 1));

  sort_totaldeg_Dpol(G, nG);
  u32 maxdeg = 0;
  for (u32 i = 0; i < nG; ++i) maxdeg = std::max(maxdeg, degree_Expos(lead_Expos(G[i])));
  QUOR_NAME(Stderr)("Maximal degree in G is %d\n", int(maxdeg + 1));

  u32 rmax = 0;
  for (u32 i = 0; i < nG; ++i)
    if (expos_slot(lead_Expos(G[i]), last)) {
      QUOR_NAME(insert_code)(hashed_record(lead_Expos(G[i])), L.t, ~i);
      ++rmax;
    }
  QUOR_NAME(Stderr)("Matrix (%d/%d)\n", int(rmax), int(D));

  u32 c = 0;
  u64** stair = staircase_records(G, nG, D, &c);
  if (c != D) QUOR_NAME(Fatal)("Bug in build_last_matrix nb=%u<>%u\n", c, D);
  shell_sort_indices(
      D, [&](u32 i, u32 j) { return comp5_Expos(stair[i] + 1, stair[j] + 1) >= 1; },
      [&](u32 i, u32 j) { std::swap(stair[i], stair[j]); });
  M->stair = zone_array<u64*>(D);
  for (u32 k = 0; k < D; ++k) {
    stair[k][0] = hash_Expos(stair[k] + 1);
    if (!QUOR_NAME(insert_code)(stair[k], L.t, k)) QUOR_NAME(Fatal)("two same elements in the staircase !\n");
    M->stair[k] = stair[k] + 1;
  }
  QUOR_NAME(Stderr)("Build the matrix (staircase: %.2f sec)\n", QUOR_NAME(cpu)() - t0);

  u64* xlast = QUOR_NAME(new_Expos)();
  std::memset(xlast, 0, 8 * (u64(B) + 1));
  expos_set_slot(xlast + 1, last, 1);
  const u64 hx = hash_Expos(xlast + 1);

  M->D = D;
  M->n = n;
  M->ndense = rmax;
  M->nrows = std::max(rmax, n);
  M->stride = u32((u64(D) + 1 + 7) & ~u64(7));
  M->pairs = zone_array<i32>(2 * u64(D) + 1);
  M->dense = zone_array<i32>(2 * (u64(D) + 1));
  M->idx = zone_array<i32>(n);
  M->dense_poly = zone_array<Dpol>(D);
  M->dense_cols = zone_array<u32*>(D);
  M->dense_node = zone_array<i32>(D);
  M->var_poly = zone_array<Dpol>(n);
  std::fill(M->idx, M->idx + n, -1);
  M->idx[last] = 0;
  std::fill(M->var_poly, M->var_poly + n, nullptr);
  QUOR_NAME(Stderr)("Build the matrix (1st step): %.2f sec\n", QUOR_NAME(cpu)() - t0);

  NodeGraph graph(G, nG, L);
  std::vector<u64> prod(B);
  u32 np = 0, nd = 0, nlead = 0;
  for (u32 k = 0; k < D; ++k) {
    QUOR_NAME(checkInterrupt)();
    u64* mrec = stair[k];
    ++count_debug;
    u32 v = 0;
    const i32 found = find_code_exact(hx, xlast + 1, mrec, L.t, &v);
    if (degree_Expos(mrec + 1) == 1) {
      u32 j = 0;
      while (j < n && !expos_slot(mrec + 1, j)) ++j;
      if (j == n) QUOR_NAME(Fatal)("ne trouve pas find_main_var\n");
      if (j != last) M->idx[j] = i32(k);
    }
    if (!found) {
      // A proper multiple of a leading monomial: its row is its normal form.
      mul_Expos(prod.data(), xlast + 1, mrec + 1);
      M->dense_poly[nd] = nullptr;
      M->dense_cols[nd] = nullptr;
      M->dense_node[nd] = ~graph.classify(prod.data());  // the graph's id until the renumbering
      M->dense[2 * nd] = i32(k);
      M->dense[2 * nd + 1] = 0;
      ++nd;
      continue;
    }
    if (i32(v) >= 0) {
      if (v > D)
        QUOR_NAME(Fatal)("Bug in build matrix: sparse[%d]=%d>%d [count_debug=%llu]!\n", int(2 * np + 1), int(v),
                         int(D), static_cast<unsigned long long>(count_debug));
      M->pairs[2 * np] = i32(k);
      M->pairs[2 * np + 1] = i32(v);
      ++np;
      continue;
    }
    const u32 i = ~v;
    if (i >= nG) QUOR_NAME(Fatal)("Bug in build_last_matrix\n ci=%d (max is %d)", int(i), int(nG));
    if (nlead++ >= rmax) QUOR_NAME(Fatal)("bug(2) in build_last_matrix\n");
    M->dense_poly[nd] = G[i];
    M->dense_node[nd] = -1;
    M->dense_cols[nd] = zone_array<u32>(G[i]->nb_terms);
    if (!tail_coordinates(G[i], L, M->dense_cols[nd]))
      QUOR_NAME(Fatal)("Bug in build_last_matrix: the basis is not reduced\n");
    M->dense[2 * nd] = i32(k);
    M->dense[2 * nd + 1] = 0;
    ++nd;
  }
  M->pairs[2 * np] = -1;
  M->dense[2 * nd] = -1;
  M->ndense = nd;
  M->nrows = std::max(nd, n);
  graph.expand();
  const std::vector<u32> renum = graph.store(M);
  for (u32 r = 0; r < nd; ++r)
    if (M->dense_node[r] >= 0) M->dense_node[r] = i32(renum[u32(M->dense_node[r])]);

  // Variables over the staircase: their basis element x_j + tail, the tail
  // on staircase monomials (checked here, used by the read-back).
  std::vector<u64> xj(B);
  for (u32 j = 0; j < last; ++j) {
    if (M->idx[j] >= 0) continue;
    std::fill(xj.begin(), xj.end(), 0);
    expos_set_slot(xj.data(), j, 1);
    for (u32 i = 0; i < nG; ++i)
      if (equal_Expos(lead_Expos(G[i]), xj.data())) {
        if (tail_coordinates(G[i], L, nullptr)) M->var_poly[j] = G[i];
        break;
      }
  }
}

namespace {

// acc[0..D-1] += c * v[0..D-1] modulo p (c, v[x] residues).  16-bit residues
// accumulate unreduced: a node adds at most one product per tail term of its
// basis element, fewer than 2^31 of them, each below 2^32.
template <class W>
void axpy_residues(u64* acc, const W* v, u64 c, u32 D, u32 p) {
  if constexpr (sizeof(W) <= 2) {
    static_assert(u64(0xFFFF) * 0xFFFF <= (~u64(0) >> 31), "2^31 products of 16-bit residues fit a u64");
    for (u32 x = 0; x < D; ++x) acc[x] += c * v[x];
  } else {
    // acc < p and c * v <= (p - 1)^2: the sum stays below 2^64.
    for (u32 x = 0; x < D; ++x) acc[x] = (acc[x] + c * v[x]) % p;
  }
}

// A residue row entry in the form the sparse FGLM reads.
inline Dom row_entry(u32 x, u32 p) {
#if QUOR_INT
  (void)p;
  return Dom(x);
#else
  // Symmetric form: the kernels of the sparse FGLM read signed words.
  return Dom(u16(x > (p - 1) / 2 ? i32(x) - i32(p) : i32(x)));
#endif
}

// Normal forms of the nodes of M modulo p, slot `slot` of the basis
// (values[i * D + x], residues), in node order: children come first.
std::vector<Dom> node_values(const MultMatrix* M, u32 slot, u32 p) {
  const u32 D = M->D;
  std::vector<Dom> val(u64(M->nnodes) * D);
  std::vector<u64> acc(D);
  for (u32 i = 0; i < M->nnodes; ++i) {
    std::fill(acc.begin(), acc.end(), 0);
    const sDpol* g = M->node_poly[i];
    for (u32 t = 1; t < g->nb_terms; ++t) {
      const u64 c = u32(g->coeffs[slot][t]) % p;
      if (!c) continue;
      const i32 child = M->node_child[i][t - 1];
      if (child >= 0)
        acc[u32(child)] = (acc[u32(child)] + c) % p;
      else
        axpy_residues(acc.data(), &val[u64(~child) * D], c, D, p);
    }
    Dom* out = &val[u64(i) * D];
    for (u32 x = 0; x < D; ++x) {
      const u32 r = u32(acc[x] % p);
      out[x] = Dom(r ? p - r : 0);  // the node is minus its basis element's tail
    }
  }
  return val;
}

}  // namespace

void fill_dense_rows(const MultMatrix* M, u32 slot, u32 p, Dom** rows) {
  const std::vector<Dom> val = M->nnodes ? node_values(M, slot, p) : std::vector<Dom>();
  for (u32 r = 0; r < M->ndense; ++r) {
    Dom* row = rows[r];
    std::memset(row, 0, u64(M->stride) * sizeof(Dom));
    if (M->dense_node[r] >= 0) {
      const Dom* v = &val[u64(M->dense_node[r]) * M->D];
      for (u32 x = 0; x < M->D; ++x) row[x] = row_entry(v[x], p);
      continue;
    }
    const sDpol* g = M->dense_poly[r];
    const Dom* a = g->coeffs[slot];
    for (u32 t = 1; t < g->nb_terms; ++t) {
      const u32 x = u32(a[t]) % p;
      row[M->dense_cols[r][t - 1]] = row_entry(x ? p - x : 0, p);
    }
  }
}

Dpol univariate_result(i32 lead_var, u32 slots, Dom* const* coeffs, const i32* deg) {
  const u32 B = nb_of_blocks_of_variables;
  const u32 last = nb_of_affine_variables - 1;
  i32 top = -1;
  for (u32 k = 0; k < slots; ++k) top = std::max(top, deg[k]);
  auto nonzero = [&](i32 i) {
    for (u32 k = 0; k < slots; ++k)
      if (i <= deg[k] && coeffs[k][i]) return true;
    return false;
  };
  u32 z = 0;
  for (i32 i = 0; i <= top; ++i) z += nonzero(i);
  const u32 extra = lead_var >= 0 ? 1 : 0;
  Dpol P = new_Dpol(extra + z);
  auto monomial = [&](u32 var, u32 e) {
    u64* r = QUOR_NAME(new_Expos)();
    std::memset(r + 1, 0, 8 * u64(B));
    if (e) expos_set_slot(r + 1, var, e);
    r[0] = hash_Expos(r + 1);
    return r;
  };
  const u32 V = QUOR_NAME(vectorize);
  u32 t = 0;
  if (extra) {
    P->monoms[t] = monomial(u32(lead_var), 1);
    for (u32 k = 0; k < V; ++k) P->coeffs[k][t] = 1;
    ++t;
  }
  for (i32 i = top; i >= 0; --i) {
    if (!nonzero(i)) continue;
    P->monoms[t] = monomial(last, u32(i));
    for (u32 k = 0; k < V; ++k) P->coeffs[k][t] = k < slots && i <= deg[k] ? coeffs[k][i] : 0;
    ++t;
  }
  return P;
}

namespace {

// Parametrisation of a variable over the staircase modulo one prime (the
// univariate arithmetic reads it through `modulo`): from its basis element
// x_j + sum c_t m_t, g_j = sum c_t h(m_t) mod mu, where h replaces each x_i
// of m_t by -g_i(x_last).  A variable dividing a staircase monomial is under
// the staircase itself, so the sparse FGLM has given its g_i.  res/deg: that
// prime's results, res[last] the monic mu.  Writes g_j to out (room for
// deg mu entries) and returns its degree.
i32 substituted_tail(const sDpol* g, u32 k, u32 p, Dom* const* res, const i32* deg, const i32* idx, Dom* out) {
  const u32 last = nb_of_affine_variables - 1;
  const Dom* mu = res[last];
  const i32 dm = deg[last];
  i32 room = dm;
  for (u32 i = 0; i < last; ++i) room = std::max(room, deg[i]);
  std::vector<Dom> h(2 * u64(room) + 2), t(2 * u64(room) + 2), neg(u64(room) + 1);
  i32 ds = -1;
  for (u32 term = 1; term < g->nb_terms; ++term) {
    const Dom c = Dom(g->coeffs[k][term] % p);
    if (!c) continue;
    const u64* m = g->monoms[term] + 1;
    h[0] = 1;
    i32 dh = rem_d(h.data(), 0, mu, dm);
    for (u32 i = 0; i < last && dh >= 0; ++i) {
      const u32 e = expos_slot(m, i);
      if (!e) continue;
      if (idx[i] < 0) QUOR_NAME(Fatal)("Bug in build_last_matrix: variable %u has no parametrisation\n", i);
      for (i32 x = 0; x <= deg[i]; ++x) neg[x] = Dom(res[i][x] ? p - res[i][x] : 0);
      for (u32 r = 0; r < e && dh >= 0; ++r) {
        i32 dt = -1;
        mul_tronquer(t.data(), &dt, h.data(), dh, neg.data(), deg[i], dh + std::max(deg[i], 0) + 1);
        dh = rem_d(t.data(), dt, mu, dm);
        std::copy(t.begin(), t.begin() + (dh + 1), h.begin());
      }
    }
    for (u32 r = expos_slot(m, last); r > 0 && dh >= 0; --r)
      dh = rem_d(h.data(), QUOR_NAME(shift_X)(h.data(), dh), mu, dm);
    ds = QUOR_NAME(combi_lin)(out, ds, c, h.data(), dh);
  }
  return exact_degree(out, ds);
}

}  // namespace

ShapeResidues sparse_fglm_slots(const MultMatrix* Mp, i32 sqfr, bool minpoly_only, i32 N) {
  const MultMatrix& M = *Mp;
  const u32 D = M.D, n = M.n, last = n - 1;
  Dom** rows = new_row_table(M.nrows, M.stride);

  // One sparse FGLM per prime of the block: every prime slot of the results
  // gets its own residues.  Its results are copied out of its rows (where
  // the FGLM leaves them) into arrays of room D + 1 taken beforehand.
  const u32 V = QUOR_NAME(vectorize);
  const u32 j0 = minpoly_only ? last : 0;
  // The sparse FGLM's progress lines, once per prime of every pass, only
  // when the request's messages are shown at all.
  const i32 verbose = Quor_verb_info >= 1 && Quor_verb_info <= 4 ? 1 : 0;
  Dom** res = zone_array<Dom*>(u64(V) * n);  // res[k * n + j]
  i32* deg = zone_array<i32>(u64(V) * n);
  for (u64 i = 0; i < u64(V) * n; ++i) {
    const u32 j = u32(i % n);
    const bool computed = j >= j0 && (j == last || M.idx[j] >= 0);
    res[i] = computed ? zone_array<Dom>(u64(D) + 1) : nullptr;
    deg[i] = -1;
  }
#if QUOR_INT
  // The integer build runs the primes side by side (the FGLM's state is per
  // thread there, see QUOR_FGLM_LOCAL), each thread on rows of its own.
  // Only where a failing prime returns softly: a fatal condition of the
  // FGLM could not be raised from the team.
  const u32 team = want_fglm_soft_failure && !minpoly_only
                       ? team_width(std::max(1u, std::min(V, u32(omp_get_max_threads()))))
                       : 1;
#else
  const u32 team = 1;
#endif
  std::vector<Dom**> rows_of(team, rows);
  for (u32 t = 1; t < team; ++t) rows_of[t] = new_row_table(M.nrows, M.stride);
  std::vector<std::vector<i32>> outdeg_of(team, std::vector<i32>(n));
  // Degrees above D (a fault of the FGLM) are kept, not copied, and refused below.
  const auto run_prime = [&](u32 k, u32 t) {
    u32 p = QUOR_NAME(Primes)[k];
    Dom** r = rows_of[t];
    i32* od = outdeg_of[t].data();
    fill_dense_rows(&M, k, p, r);
    std::fill(od, od + n, -1);
    fglm_request(D, M.pairs, M.dense, n, M.idx, r, 1, od, &p, verbose, 0, Liste_variables, sqfr,
                      minpoly_only ? 1 : 0, N, -1, -1);
    for (u32 j = j0; j < n; ++j) {
      if (!res[k * n + j]) continue;
      const i32 d = std::max(od[j], -1);
      deg[k * n + j] = d;
      if (d >= 0 && d <= i32(D)) std::memcpy(res[k * n + j], r[j], (u64(d) + 1) * sizeof(Dom));
    }
  };
  if (team == 1) {
    for (u32 k = 0; k < V; ++k) run_prime(k, 0);
  } else {
    // One prime per thread and round: between rounds, outside the team, the
    // interrupt poll may unwind the request.
    for (u32 first = 0; first < V; first += team) {
      QUOR_NAME(checkInterrupt)();
      const u32 end = std::min(V, first + team);
      NoRaiseRegion guard;
      std::atomic<u32> next{first};
#pragma omp parallel num_threads(end - first)
      {
        const u32 t = u32(omp_get_thread_num());
        for (u32 k; (k = next.fetch_add(1)) < end;) run_prime(k, t);
      }
    }
  }
  for (u64 i = 0; i < u64(V) * n; ++i)
    if (deg[i] > i32(D)) QUOR_NAME(Fatal)("Bug in build_last_matrix: degree %d > %u\n", deg[i], D);

  if (!minpoly_only)
    for (u32 j = 0; j < last; ++j) {
      if (M.idx[j] >= 0) continue;
      if (!M.var_poly[j])
        QUOR_NAME(Fatal)("No parametrisation for variable %u: not under the staircase and no reduced basis "
                         "element with that leading monomial\n",
                         j);
      for (u32 k = 0; k < V; ++k) {
        u32 p = QUOR_NAME(Primes)[k];
        const i32 dm = deg[k * n + last];
        if (dm < 0) {
          // The sparse FGLM failed softly at this prime: nothing to substitute.
          if (!want_fglm_soft_failure)
            QUOR_NAME(Fatal)("Bug in build_last_matrix: no minimal polynomial modulo %u\n", p);
          deg[k * n + j] = -1;
          res[k * n + j] = nullptr;
          continue;
        }
        Dom* mu = res[k * n + last];
        if (mu[dm] != 1) {
          const u64 il = inv_Dom(mu[dm], p);
          for (i32 x = 0; x <= dm; ++x) mu[x] = Dom(mu[x] * il % p);
        }
        u32* saved = QUOR_NAME(modulo);
        QUOR_NAME(modulo) = &p;
        res[k * n + j] = zone_array<Dom>(u64(dm) + 1);
        deg[k * n + j] = substituted_tail(M.var_poly[j], k, p, res + k * n, deg + k * n, M.idx, res[k * n + j]);
        QUOR_NAME(modulo) = saved;
      }
    }
  return {res, deg, j0};
}

Dpol shape_result(const ShapeResidues& r, u32 j) {
  const u32 V = QUOR_NAME(vectorize), n = nb_of_affine_variables;
  std::vector<Dom*> cf(V);
  std::vector<i32> dg(V);
  for (u32 k = 0; k < V; ++k) cf[k] = r.res[k * n + j], dg[k] = r.deg[k * n + j];
  return univariate_result(j + 1 < n ? i32(j) : -1, V, cf.data(), dg.data());
}

u32 build_last_matrix(Dpol* G, u32 nG, Dpol* result, u32 D) {
  if (nG == 0) return 0;
  const double t0 = QUOR_NAME(cpu)();
#if !QUOR_INT
  PrimeSign = i32(QUOR_NAME(Primes)[0]);
  PrimeHalf = (PrimeSign - 1) / 2;
#endif
  MultMatrix M;
  build_mult_matrix(G, nG, D, &M);
  const bool minpoly_only = std::getenv("MINPOLY") != nullptr;
  const double t1 = QUOR_NAME(cpu)();
  if (minpoly_only) QUOR_NAME(Stderr)("**** WARNING MinPoly Only !");
  QUOR_NAME(Stderr)("Build the matrix: %.2f sec\n", t1 - t0);
  QUOR_NAME(Stderr)("Before QUOR(w_fglm) deg_minpol_estimate=%d\n", -1);
  const ShapeResidues r = sparse_fglm_slots(&M, 0, minpoly_only, -1);
  for (u32 j = r.j0; j < M.n; ++j) result[j - r.j0] = shape_result(r, j);
#if QUOR_INT
  QUOR_NAME(Stderr)("New FGLM: %.2f sec\n", QUOR_NAME(cpu)() - t1);
#else
  if (nb_threads == 1) QUOR_NAME(Stderr)("New FGLM: %.2f sec\n", QUOR_NAME(cpu)() - t1);
#endif
  return M.n - r.j0;
}

}  // namespace quor::QUOR_NS
