// One F4 step: symbolic preprocessing, column order, row coding, the call of
// the elimination and the renormalisation of its results; the conversions of
// result rows back into polynomials.
#include "engine/symbolic.h"

#include <algorithm>
#include <cstring>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/monomial.h"
#include "core/reltable.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "host/C/host_services.h"

extern "C" {
quor::i32 QUOR_NAME(no_expand) = 0;
}

namespace quor::QUOR_NS {

i32 use_strong_order = 0;

namespace {

constexpr u32 kMarkLead = 1;
constexpr u32 kMarkOpen = 0;
constexpr u32 kMarkNoReductor = 0xFFFFFFFFu;

inline u64 even_up(u64 n) { return (n + 1) & ~u64(1); }

inline bool stop_requested() { return QUOR_NAME(stop_immediately_semaphore) != 0; }

// Rows may not reach quor_max_index + 1 nor room + 1; where = 5 (halves) or 8 (reductors).
void check_row_limits(u32 nrows, u32 room, int where) {
  if (nrows >= quor_max_index) {
    if (where == 5)
      QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (5) !%s",
                       quor_max_index, "\n");
    QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (8) !%s",
                     quor_max_index, "\n");
  }
  if (nrows >= room) {
    if (where == 5)
      QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (6) !%s",
                       room, "\n");
    QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (9) !%s", room,
                     "\n");
  }
}

// Bit (i mod 64) set when some slot i of e is non-zero: a divisor's bits are
// a subset of its multiple's, which rules most reductors out in one test.
inline u64 support_mask(const u64* e) {
  u64 m = 0;
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w) {
    const u64 x = e[w];
    if (!x) continue;
    for (u32 s = 0; s < 4; ++s)
      if ((x >> (16 * s)) & 0xFFFFu) m |= u64(1) << ((4 * w + s) & 63);
  }
  return m;
}

// Record (header first) of the monomial at position pos of the table's order.
inline u64* record_at(Table_slot* s, u32 pos) { return s[s[pos].code_slot].monom - 1; }

// Codes the row of source monomials monoms[0..n-1] times m (hash h) whose lead
// lies at position lp; scratch holds n offsets.
void code_row(sALGO_Dpol* row, u64 h, const u64* m, u64* const* monoms, u32 n, u32 lp,
              Table_de_Recherche t, u32* scratch) {
  scratch[0] = 0;
  for (u32 j = 1; j < n; ++j) scratch[j] = lp - find_code(h, m, monoms[j], t);
  u32 codes = 0;
  u64 bytes = 0;
  row->code = compress_lzw(scratch, n, &codes, &bytes);
  row->nb_codes = codes;
  row->encoding = CODE_LZW;
  row->multiplier = nullptr;
  row->source_monoms = nullptr;
}

}  // namespace

SymbolicMatrix symbolic_build_matrix(u32 nsel, Dpol* table, u32 nred, Dpol* out, u32 room) {
  SymbolicMatrix M{nullptr, 0, 0, 0, 0, 0, 0};
  Table_de_Recherche t = QUOR_NAME(ptr_Base_Exposants);
  const u32 V = QUOR_NAME(vectorize);
  // One mark per code: a code can never reach the table's prime.
  u32* mark = static_cast<u32*>(QUOR_NAME(alloc64)(u64(quor_hash_prime) * sizeof(u32)));
  fresh_relative_MatrixRow();
  empty_Table_de_Recherche(t);
  u32 nrows = 0, nreduce = 0, max_terms = 1;
  u32 code = 0;
  u64* rec = nullptr;

  // 1. The selected halves.
  for (u32 i = 0; i < nsel; ++i) {
    Dpol p = out[i];
    if (!p || p->nb_terms == 0) continue;
    const u32 flag = get_relative_CBoolean(i);
    u64* m = get_relative_Expos(i);
    const u64 h = m ? hash_Expos(m) : 0;
#if QUOR_INT
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) {
      M.stopped = 1;
      M.nhalves = M.nentries = nrows;
      return M;
    }
#endif
    Dpol d = new_Dpol(0);
    d->new_flag = flag;
    if (flag == 0)
      d->id = p->id;
    if (flag || d->input_flag) ++nreduce;
    set_relative_MatrixRow(nrows, MatrixRow_entry{d, p, m, u32(h)});
    QUOR_NAME(get_code)(h, m, p->monoms[0], t, &code, &rec);
    mark[code] = kMarkLead;
    for (u32 j = 1; j < p->nb_terms; ++j)
      if (QUOR_NAME(get_code)(h, m, p->monoms[j], t, &code, &rec)) mark[code] = kMarkOpen;
    max_terms = std::max(max_terms, p->nb_terms);
    check_row_limits(nrows, room, 5);
    ++nrows;
  }

  M.nhalves = nrows;

  // 2. Symbolic preprocessing: one pass over the codes in insertion order,
  // picking up the monomials that the reductor rows insert on the way.
  const u32 nb = nb_of_blocks_of_variables;
  // Scratch of the step lives in zone 1, so that a fatal error unwinding from
  // here leaks nothing: the caller's mark (or the next reset) takes it back.
  const u64** red_lead = static_cast<const u64**>(QUOR_NAME(alloc64)(u64(nred) * sizeof(u64*)));
  u64* red_mask = static_cast<u64*>(QUOR_NAME(alloc64)(u64(nred) * sizeof(u64)));
  u32* red_index = static_cast<u32*>(QUOR_NAME(alloc64)(u64(nred) * sizeof(u32)));
  u32 nr = 0;
  for (u32 r = 0; r < nred; ++r) {
    if (!table[r] || table[r]->nb_terms == 0) continue;
    red_lead[nr] = lead_Expos(table[r]);
    red_mask[nr] = support_mask(red_lead[nr]);
    red_index[nr] = r;
    ++nr;
  }
  for (u32 c = 0; c < t->count; ++c) {
    if (mark[c] != kMarkOpen) continue;
    u64* q = QUOR_NAME(new_Expos)();  // exponent words from q[0]
    const u64* u = monom_of_code(t, c);
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) {
      QUOR_NAME(kill_Expos)(q);
      M.stopped = 1;
      M.nentries = nrows;
      return M;
    }
    const u64 su = support_mask(u);
    Dpol g = nullptr;
    for (u32 r = 0; r < nr && !g; ++r) {
      if (red_mask[r] & ~su) continue;
      const u64* v = red_lead[r];
      u32 w = 0;
      for (; w < nb; ++w) {
        const u64 x = u[w] - v[w];
        if (x & EXPOS_SIGN_MASK) break;
        q[w] = x;
      }
      if (w == nb) g = table[red_index[r]];
    }
    if (!g) {
      mark[c] = kMarkNoReductor;
      QUOR_NAME(kill_Expos)(q);
      continue;
    }
    const u64 hq = hash_Expos(q);
    mark[c] = kMarkLead;
    Dpol d = new_Dpol(0);
    d->new_flag = 0;
    d->id = g->id;
    set_relative_MatrixRow(nrows, MatrixRow_entry{d, g, q, u32(hq)});
    for (u32 j = 1; j < g->nb_terms; ++j)
      if (QUOR_NAME(get_code)(hq, q, g->monoms[j], t, &code, &rec)) mark[code] = kMarkOpen;
    max_terms = std::max(max_terms, g->nb_terms);
    check_row_limits(nrows, room, 8);
    ++nrows;
  }
  M.nentries = nrows;

  // 3. Column order.  No two columns are equal, so any correct sort gives
  // the one ascending order; positions then go into the entries' values.
  const u32 ncols = t->count;
  Table_slot* s = t->slots;
  {
    u32* order = static_cast<u32*>(QUOR_NAME(alloc64)(u64(ncols) * sizeof(u32)));
    for (u32 i = 0; i < ncols; ++i) order[i] = s[i].code_slot;
    auto cmp = use_strong_order ? comp5_Expos : comp4_Expos;
    std::sort(order, order + ncols, [&](u32 a, u32 b) { return cmp(s[a].monom, s[b].monom) < 0; });
    for (u32 i = 0; i < ncols; ++i) {
      s[i].code_slot = order[i];
      s[order[i]].value = i;
    }
  }
  use_strong_order = 0;

  // 4. Row records, coded as they are built; coefficients are the sources'.
  ALGO_Dpol* rows = static_cast<ALGO_Dpol*>(QUOR_NAME(alloc64)(even_up(nrows) * sizeof(ALGO_Dpol)));
  u32* scratch = static_cast<u32*>(QUOR_NAME(alloc64)(u64(max_terms) * sizeof(u32)));
  const bool unexpanded = QUOR_NAME(no_expand) != 0;
  M.rows = rows;
  M.ncols = ncols;
  M.nreduce = nreduce;
  for (u32 i = 0; i < nrows; ++i) {
    const MatrixRow_entry* e = rel_MatrixRow.at(i);
    Dpol src = e->source;
    const u32 lp = find_code(e->hash, e->multiplier, src->monoms[0], t);
    ALGO_Dpol row = static_cast<ALGO_Dpol>(QUOR_NAME(alloc64)(ALGO_Dpol_bytes(V)));
    QUOR_NAME(checkInterrupt)();
    if (stop_requested()) {
      M.nrows = i;
      M.stopped = 1;
      return M;
    }
    row->key = e->descriptor->id;
    row->lead = ncols - lp;
    row->span = lp + 1;
    row->input_flag = e->descriptor->input_flag;
    row->new_flag = e->descriptor->new_flag;
    row->flag = (row->input_flag || row->new_flag) ? 1 : 0;
    row->dense = 0;
    row->pad_ = 0;
    for (u32 k = 0; k < V; ++k) row->coeffs[k] = src->coeffs[k];
    if (unexpanded) {
      row->encoding = CODE_UNEXPANDED;
      row->nb_codes = src->nb_terms;
      row->multiplier = e->multiplier;
      row->source_monoms = src->monoms;
      row->mult_hash = e->hash;
    } else {
      code_row(row, e->hash, e->multiplier, src->monoms, src->nb_terms, lp, t, scratch);
    }
    rows[i] = row;
  }
  M.nrows = nrows;
  return M;
}

void release_reductor_multipliers(const SymbolicMatrix& M) {
  for (u32 i = M.nhalves; i < M.nentries; ++i) QUOR_NAME(kill_Expos)(rel_MatrixRow.at(i)->multiplier);
}

void code_unexpanded_rows(SymbolicMatrix& M) {
  Table_de_Recherche t = QUOR_NAME(ptr_Base_Exposants);
  u32 most = 1;
  for (u32 i = 0; i < M.nrows; ++i)
    if (M.rows[i]->encoding == CODE_UNEXPANDED) most = std::max(most, M.rows[i]->nb_codes);
  u32* scratch = nullptr;
  for (u32 i = 0; i < M.nrows; ++i) {
    sALGO_Dpol* row = M.rows[i];
    if (row->encoding != CODE_UNEXPANDED) continue;
    if (!scratch) scratch = static_cast<u32*>(QUOR_NAME(alloc64)(u64(most) * sizeof(u32)));
    code_row(row, row->mult_hash, row->multiplier, row->source_monoms, row->nb_codes, M.ncols - row->lead, t,
             scratch);
  }
}

void internal_symbolic_reduction(u32 nsel, Dpol* table, u32 nred, Dpol* out, u32* room) {
  SymbolicMatrix M = symbolic_build_matrix(nsel, table, nred, out, *room);
  QUOR_NAME(checkInterrupt)();
  if (M.stopped || stop_requested()) {
    release_reductor_multipliers(M);
    *room = 0;
    return;
  }
  if (!QUOR_NAME(want_quiet)) QUOR_NAME(Output)("\nMatrix %u x %u x %u: ", M.nrows, M.ncols, M.nreduce);
  if (want_pipe2) QUOR_NAME(Stderr)("(%ux%u)", M.nrows, M.ncols);

  // The eliminations read coded rows only.
  code_unexpanded_rows(M);
  Dpol* result = static_cast<Dpol*>(QUOR_NAME(alloc64)(even_up(M.nreduce) * sizeof(Dpol)));
  const u32 k = QUOR_NAME(LINEAR_solve)(M.rows, M.nrows, M.ncols, M.nreduce, result,
                                        QUOR_NAME(ptr_Base_Exposants));
  // The rows are coded and done with: their multipliers are not kept anywhere.
  release_reductor_multipliers(M);
  nb_of_renormed = 0;
  *room = k;
  if (k == 0) return;
  for (u32 i = 0; i < k; ++i) {
    renorm_poly(&result[i]->nb_terms, &result[i]->monoms);
    out[i] = result[i];
  }
  // With want_automatique still 0, renorm_poly only counted: one such
  // polynomial switches it on for the next steps, two or more also now.
  if (nb_of_renormed >= 1) {
    want_automatique = 1;
    if (nb_of_renormed >= 2)
      for (u32 i = 0; i < k; ++i) renorm_poly(&out[i]->nb_terms, &out[i]->monoms);
  }
}

Dpol QUOR_NAME(clone_lzw_ALGO_Dpol)(const sALGO_Dpol* row, Table_de_Recherche t, u32 lp) {
  const u64 n = lzw_count_entries(row->code, row->nb_codes);
  if (n > u64(lp) + 1) QUOR_NAME(Fatal)("bug dans Quor(clone_lzw)\n");
  Dpol p = raw_new_Dpol(u32(n));
  p->id = row->key;
  p->new_flag = row->new_flag;
  p->row_flag = row->flag;
  p->input_flag = row->input_flag;
  Table_slot* s = t->slots;
  u64** mo = p->monoms;
  u32 j = 0;
  bool bad = false;
  mo[j++] = record_at(s, lp);
  lzw_walk(
      row->code, row->nb_codes,
      [&](u64 o) {
        if (o > lp) bad = true;
        else mo[j++] = record_at(s, u32(lp - o));
      },
      [&](u64 o, u32 r) {
        if (o + r - 1 > lp) bad = true;
        else
          for (u32 x = 0; x < r; ++x) mo[j++] = record_at(s, u32(lp - o - x));
      });
  if (bad) QUOR_NAME(Fatal)("bug dans Quor(clone_lzw)\n");
  const u32 V = QUOR_NAME(vectorize);
  for (u32 k = 0; k < V; ++k) std::memcpy(p->coeffs[k], row->coeffs[k], n * sizeof(Dom));
  return p;
}

}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

sDpol* QUOR_NAME(clone_ALGO_Dpol)(const sALGO_Dpol* row, Table_de_Recherche t, u32 lp) {
  const u32 V = QUOR_NAME(vectorize);
  const u64 span = std::min<u64>(row->span, u64(lp) + 1);
  Dom* const* c = row->coeffs;
  auto present = [&](u64 i) { return c[0][i] != 0 || (V >= 2 && c[1][i] != 0); };
  if (V >= 2) {
    bool differ = false, uncorrectable = false;
    for (u64 i = 0; i < span; ++i) {
      if ((c[0][i] == 0) != (c[1][i] == 0)) differ = true;
      if (V >= 3 && c[0][i] == 0 && c[1][i] == 0 && c[2][i] != 0) uncorrectable = true;
    }
    if (differ) {
      if (V < 3) QUOR_NAME(Fatal)("Impossible de conclure !\n");
      if (uncorrectable) QUOR_NAME(Fatal)("impossible de corriger !\n");
    }
  }
  u32 n = 0;
  for (u64 i = 0; i < span; ++i) n += present(i);
  Dpol p = raw_new_Dpol(n);
  p->id = row->key;
  p->new_flag = row->new_flag;
  p->row_flag = row->flag;
  p->input_flag = row->input_flag;
  Table_slot* s = t->slots;
  u32 j = 0;
  for (u64 i = 0; i < span; ++i) {
    if (!present(i)) continue;
    p->monoms[j] = s[s[lp - i].code_slot].monom - 1;
    for (u32 k = 0; k < V; ++k) p->coeffs[k][j] = c[k][i];
    ++j;
  }
  return p;
}

void QUOR_NAME(compactify)(u8* buffer, u64 capacity, const u32* positions, u32 n, u32* codes, u64* bytes) {
  // The code is checked against the room before every byte, so a buffer too
  // small is refused without being overrun.
  if (capacity == 0) QUOR_NAME(Fatal)("bug dans Quor(compact)\n");
  u32 nc = 0;
  const u64 b = n < 2 ? 0 : lzw_encode(positions, n, buffer, capacity - 1, &nc);
  if (b == ~u64(0)) QUOR_NAME(Fatal)("bug dans Quor(compact)\n");
  *codes = nc;
  *bytes = b;
}
