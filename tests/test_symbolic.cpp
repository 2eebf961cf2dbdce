// Symbolic preprocessing and matrix rows: random small systems against a
// reference closure (columns, their order, reductor rows, decoded rows), the
// row limits, the unexpanded form, the interrupt and the row conversions.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "core/channels.h"
#include "core/reltable.h"
#include "engine/elim_kernels.h"
#include "engine/symbolic.h"
#include "tests/support/request_fixture.h"

QUOR_TEST_BEGIN

namespace {
Vec add(const Vec& a, const Vec& b) {
  Vec c(a.size());
  for (size_t i = 0; i < a.size(); ++i) c[i] = a[i] + b[i];
  return c;
}
bool divides(const Vec& d, const Vec& m) {
  for (size_t i = 0; i < d.size(); ++i)
    if (d[i] > m[i]) return false;
  return true;
}
// Monomial order of the engine on exponent vectors (1 when a > b).
i32 cmp(const Vec& a, const Vec& b) {
  u64* x = mono(a);
  u64* y = mono(b);
  const i32 c = comp4_Expos(x + 1, y + 1);
  QUOR_NAME(kill_Expos)(x);
  QUOR_NAME(kill_Expos)(y);
  return c;
}
// A polynomial with these distinct monomials sorted decreasingly; the residue
// of term t in slot k is 1 + t + 7k.
Dpol poly(std::vector<Vec> terms) {
  std::sort(terms.begin(), terms.end(), [](const Vec& a, const Vec& b) { return cmp(a, b) > 0; });
  terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
  Dpol p = new_Dpol(u32(terms.size()));
  for (u32 t = 0; t < terms.size(); ++t) {
    p->monoms[t] = mono(terms[t]);
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) p->coeffs[k][t] = Dom(1 + t + 7 * k);
  }
  return p;
}
// Exponent words (no header) of a multiplier.
u64* mult(const Vec& v) { return mono(v) + 1; }

struct Half {
  Dpol p;
  u64* m;
  u8 flag;
};
// Puts the halves behind nothing (out = their table) with their multipliers and flags.
std::vector<Dpol> place(const std::vector<Half>& h) {
  std::vector<Dpol> out;
  reset_relative_Expos();
  reset_relative_CBoolean();
  for (u32 i = 0; i < h.size(); ++i) {
    out.push_back(h[i].p);
    set_relative_Expos(i, h[i].m);
    set_relative_CBoolean(i, h[i].flag);
  }
  return out;
}

Vec monom_at(u32 pos) {
  Table_slot* s = QUOR_NAME(ptr_Base_Exposants)->slots;
  return slots(s[s[pos].code_slot].monom);
}
// The terms of a row as polynomial: (monomial, residues of every slot).
std::vector<std::pair<Vec, std::vector<Dom>>> terms_of(Dpol p) {
  std::vector<std::pair<Vec, std::vector<Dom>>> v;
  for (u32 t = 0; t < p->nb_terms; ++t) {
    std::vector<Dom> c;
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) c.push_back(p->coeffs[k][t]);
    v.push_back({slots(p->monoms[t] + 1), c});
  }
  return v;
}
std::vector<std::pair<Vec, std::vector<Dom>>> product(const Vec& m, Dpol src) {
  auto v = terms_of(src);
  for (auto& t : v) t.first = add(t.first, m);
  return v;
}
// p with the integer coefficients c (in term order) reduced modulo each prime.
Dpol with(Dpol p, std::vector<i64> c) {
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    for (u32 t = 0; t < p->nb_terms; ++t) {
      const i64 q = QUOR_NAME(Primes)[k];
      p->coeffs[k][t] = Dom(((c[t] % q) + q) % q);
    }
  return p;
}
Dpol clone(const sALGO_Dpol* row, u32 ncols) {
  return QUOR_NAME(clone_lzw_ALGO_Dpol)(row, QUOR_NAME(ptr_Base_Exposants), ncols - row->lead);
}
}  // namespace

// Three working primes, a 4096-entry column table, relative tables forgotten.
class QUOR_SUITE(Symbolic) : public CoreTest {
 protected:
  void SetUp() override {
    slots_ = 3;
    CoreTest::SetUp();
    zone_memory_allocated = std::max<u32>(zone_memory_allocated, 1 << 22);
    use_index(4096);
    forget_relative_tables();
  }
  void TearDown() override {
    QUOR_NAME(no_expand) = 0;
    QUOR_NAME(stop_immediately_semaphore) = 0;
    use_strong_order = 0;
    forget_relative_tables();
    quor_max_index = 500000;
    set_hash_prime();
    QUOR_NAME(ptr_Base_Exposants) = nullptr;
    CoreTest::TearDown();
  }
  void use_index(u32 n) {
    quor_max_index = n;
    set_hash_prime();
    QUOR_NAME(ptr_Base_Exposants) = dynamic_Table_de_Recherche();
    clear_Table_de_Recherche(QUOR_NAME(ptr_Base_Exposants));
  }
  SymbolicMatrix build(const std::vector<Half>& h, std::vector<Dpol>& red, u32 room = 1u << 30) {
    out_ = place(h);
    return symbolic_build_matrix(u32(out_.size()), red.data(), u32(red.size()), out_.data(), room);
  }
  template <class F>
  std::string fatal_of(F f) {
    quor::standin::CallResult r = host_.run([&] {
      f();
      return host_.null();
    });
    return r.raised ? r.error : std::string();
  }
  std::vector<Dpol> out_;
};

QTEST_F(Symbolic, RandomSystemsAgainstAReferenceClosure) {
  std::mt19937 g(2024);
  // x, y, z in one block; then 9 variables in two blocks, whose exponents
  // reach past the thresholds of the divisibility filter (6 per slot).
  const u32 layouts[][3] = {{3, 0, 1}, {9, 4, 3}};
  for (const auto& lay : layouts) {
  layout(lay[0], lay[1]);
  use_index(1 << 16);
  const u32 S = lay[0] + 1, scale = lay[2];
  // Homogeneous terms (the order is a well-order on each degree only): h completes the degree.
  auto rnd_vec = [&](u32 d) {
    d *= scale;
    Vec v(S, 0);
    u32 left = d;
    for (u32 i = 0; i + 1 < S; ++i) {
      v[i] = left ? u32(g() % (left + 1)) : 0;
      left -= v[i];
    }
    v[S - 1] = left;
    std::swap(v[g() % (S - 1)], v[g() % (S - 1)]);
    return v;
  };
  u32 total_reducer_rows = 0;
  for (int round = 0; round < 60; ++round) {
    // Reductors in the main loop's order (leads lexicographically decreasing).
    std::vector<Dpol> red;
    for (u32 i = 0, n = 2 + g() % 8; i < n; ++i) {
      std::vector<Vec> t;
      const u32 d = g() % 4;
      for (u32 j = 0, k = 1 + g() % 5; j < k; ++j) t.push_back(rnd_vec(d));
      red.push_back(poly(t));
    }
    resort_Dpol(red.data(), u32(red.size()));
    std::vector<Half> halves;
    for (u32 i = 0, n = g() % 7; i < n; ++i) {
      std::vector<Vec> t;
      const u32 d = 1 + g() % 3;
      for (u32 j = 0, k = 1 + g() % 5; j < k; ++j) t.push_back(rnd_vec(d));
      const bool unit = g() % 3 == 0;
      halves.push_back({g() % 9 == 0 ? nullptr : poly(t), unit ? nullptr : mult(rnd_vec(2)), u8(g() % 2)});
    }
    const u32 id_before = gen_sym_Dpol;
#if !QUOR_INT
    // Every other round looks its products up and finds its reductors on a team.
    nb_threads = round % 2 ? 3 : 1;
    symbolic_lookups_per_team = 1;
#endif
    SymbolicMatrix M = build(halves, red);
#if !QUOR_INT
    nb_threads = 1;
    symbolic_lookups_per_team = u64(1) << 18;
#endif
    ASSERT_EQ(M.stopped, 0);

    // Reference: closure of the columns under "the reductor whose lead divides
    // with the fewest terms less lead degree, the first in table order among those".
    std::set<Vec> cols, half_leads;
    std::vector<Vec> work;
    auto add_col = [&](const Vec& v) {
      if (cols.insert(v).second) work.push_back(v);
    };
    u32 nhalf = 0, nreduce = 0;
    for (const Half& h : halves) {
      if (!h.p) continue;
      ++nhalf;
      nreduce += h.flag;
      const Vec m = h.m ? slots(h.m) : Vec(S, 0);
      half_leads.insert(add(m, slots(lead_Expos(h.p))));
      for (auto& t : product(m, h.p)) add_col(t.first);
    }
    std::map<Vec, u32> reducer;  // column -> reductor index
    while (!work.empty()) {
      const Vec u = work.back();
      work.pop_back();
      if (half_leads.count(u)) continue;
      auto cost = [&](u32 r) { return i64(red[r]->nb_terms) - i64(degree_Expos(lead_Expos(red[r]))); };
      u32 best = u32(red.size());
      for (u32 r = 0; r < red.size(); ++r)
        if (divides(slots(lead_Expos(red[r])), u) && (best == red.size() || cost(r) < cost(best))) best = r;
      if (best == red.size()) continue;
      const Vec l = slots(lead_Expos(red[best]));
      reducer[u] = best;
      Vec q(S);
      for (u32 i = 0; i < S; ++i) q[i] = u[i] - l[i];
      for (auto& t : product(q, red[best])) add_col(t.first);
    }
    ASSERT_EQ(M.ncols, cols.size());
    ASSERT_EQ(M.nrows, nhalf + reducer.size());
    EXPECT_EQ(M.nreduce, nreduce);

    // Columns strictly decreasing from column 1; every position holds a column.
    std::set<Vec> seen;
    for (u32 pos = 0; pos < M.ncols; ++pos) {
      seen.insert(monom_at(pos));
      if (pos + 1 < M.ncols) {
        EXPECT_EQ(cmp(monom_at(pos), monom_at(pos + 1)), -1);
      }
    }
    EXPECT_EQ(seen, cols);

    // Rows: the halves in order, then one reductor row per reducible non-lead
    // column, from the reference's divisor, in column insertion order.
    std::map<Vec, u32> reducer_rows;
    i64 last_code = -1;
    Table_slot* slot = QUOR_NAME(ptr_Base_Exposants)->slots;
    for (u32 i = 0; i < M.nrows; ++i) {
      const sALGO_Dpol* row = M.rows[i];
      const MatrixRow_entry e = get_relative_MatrixRow(i);
      const Vec m = e.multiplier ? slots(e.multiplier) : Vec(S, 0);
      const Vec u = add(m, slots(lead_Expos(e.source)));
      EXPECT_EQ(row->span, M.ncols - row->lead + 1);
      EXPECT_EQ(monom_at(M.ncols - row->lead), u);
      const u32 gen = gen_sym_Dpol;
      Dpol c = clone(row, M.ncols);
      EXPECT_EQ(gen_sym_Dpol, gen);  // the conversion does not number polynomials
      EXPECT_EQ(terms_of(c), product(m, e.source));
      EXPECT_EQ(std::make_tuple(c->id, c->row_flag, c->new_flag), std::make_tuple(row->key, row->flag, row->new_flag));
      if (i < nhalf) {
        EXPECT_EQ(row->flag, row->new_flag);
        EXPECT_TRUE(row->flag ? row->key > id_before : row->key == e.source->id);
        continue;
      }
      ASSERT_TRUE(reducer.count(u));
      EXPECT_EQ(e.source, red[reducer[u]]);
      EXPECT_TRUE(reducer_rows.emplace(u, i).second);
      EXPECT_EQ(std::make_tuple(row->flag, row->new_flag, row->key), std::make_tuple(0u, 0u, e.source->id));
      const u32 code = slot[slot[M.ncols - row->lead].code_slot].code;
      EXPECT_GT(i64(code), last_code);
      last_code = code;
    }
    EXPECT_EQ(reducer_rows.size(), reducer.size());
    total_reducer_rows += u32(reducer.size());

    // Every row at once, on a team, through the records by position or the
    // table's slots: the polynomials of the rows one at a time.
    std::vector<Dpol> all(M.nrows);
    std::vector<u32> count(M.nrows);
    u64** by_position = records_by_position(QUOR_NAME(ptr_Base_Exposants), M.ncols);
    for (u64** records : {by_position, static_cast<u64**>(nullptr)}) {
      clone_lzw_rows(M.rows, M.nrows, M.ncols, QUOR_NAME(ptr_Base_Exposants), records, all.data(), count.data(), 4);
      for (u32 i = 0; i < M.nrows; ++i) {
        const Dpol one = clone(M.rows[i], M.ncols);
        EXPECT_EQ(terms_of(all[i]), terms_of(one)) << i;
        EXPECT_EQ(std::make_tuple(all[i]->id, all[i]->row_flag, all[i]->new_flag, all[i]->input_flag),
                  std::make_tuple(one->id, one->row_flag, one->new_flag, one->input_flag));
      }
    }
  }
  EXPECT_GT(total_reducer_rows, 100u);  // the systems do exercise the preprocessing
  }
}

// Columns come out in the order's ascending sequence whatever the layout:
// one or two blocks, the strong order, exponents small or large (a compact
// sort key or none), degrees mixed.
// The filter of every layout, on both paths, against its definition; the
// top of each slot's field, and exponents past it, included.
QTEST_F(Symbolic, DivisorFilterFollowsItsDefinition) {
  struct Restore {
    ~Restore() { simd_cap = 2; }
  } restore;
  std::mt19937_64 g(17);
  for (u32 n = 1; n <= 40; ++n) {
    layout(n, n > 2 ? n / 2 : 0);
    const u32 slots = nb_of_variables, b = slots < 64 ? 64 / slots : 1;
    for (int round = 0; round < 200; ++round) {
      Vec v(slots);
      for (u32& x : v) x = round % 4 == 0 ? u32(g() % 3) * b / 2 + u32(g() % 2) : u32(g() % (b + 3));
      u64* m = mono(v);
      u64 want = 0;
      for (u32 j = 0; j < slots; ++j)
        for (u32 t = 1; t <= b && t <= v[j]; ++t) want |= u64(1) << ((j * b + t - 1) & 63);
      for (int cap : {2, 0}) {
        simd_cap = cap;
        ASSERT_EQ(divisor_filter(m + 1), want) << "slots " << slots << " cap " << cap;
      }
      QUOR_NAME(kill_Expos)(m);
    }
  }
}

QTEST_F(Symbolic, ColumnsFollowTheOrderInEveryLayout) {
  std::mt19937 g(77);
  struct Case {
    u32 n, k, top;
    bool strong;
  };
  const Case cases[] = {{3, 0, 9, false}, {7, 3, 20, false}, {7, 3, 20, true},
                        {9, 0, 300, false}, {9, 0, 3000, false}, {20, 5, 1000, true}, {20, 5, 2, false}};
  for (const Case& c : cases) {
    layout(c.n, c.k);
    std::set<Vec> terms;
    // Every other case has enough columns for the radix sort.
    while (terms.size() < ((&c - cases) % 2 ? 2500u : 300u)) {
      Vec v(c.n + 1);
      for (u32& x : v) x = g() % 3 ? u32(g() % (c.top + 1)) : 0;
      terms.insert(v);
    }
    std::vector<Half> halves;
    for (const Vec& v : terms) halves.push_back({poly({v}), nullptr, 1});
    std::vector<Dpol> red;
    use_strong_order = c.strong ? 1 : 0;
    SymbolicMatrix M = build(halves, red);
    ASSERT_EQ(M.ncols, terms.size());
    for (u32 pos = 0; pos + 1 < M.ncols; ++pos) {
      u64* a = mono(monom_at(pos));
      u64* b = mono(monom_at(pos + 1));
      EXPECT_EQ((c.strong ? comp5_Expos : comp4_Expos)(a + 1, b + 1), -1) << c.n << " " << c.k << " " << pos;
      QUOR_NAME(kill_Expos)(a);
      QUOR_NAME(kill_Expos)(b);
    }
    EXPECT_EQ(use_strong_order, 0);
  }
}

QTEST_F(Symbolic, RowLimitsAreRefusedClearly) {
  Dpol f = poly({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}});
  Dpol one = poly({{0, 0, 0, 0}});  // its lead divides every column
  std::vector<Dpol> red{one};
  std::vector<Dpol> nored;
  const std::vector<Half> three{{f, nullptr, 0}, {f, mult({1, 0, 0, 0}), 1}, {f, mult({0, 1, 0, 0}), 1}};
  EXPECT_EQ(fatal_of([&] { build(three, nored, 2); }),
            "Sorry max number of columns is set to 2 in quor linear algebra package (6) !\n");
  EXPECT_EQ(fatal_of([&] { build(three, nored, 3); }), "");
  EXPECT_EQ(fatal_of([&] { build({{f, nullptr, 0}}, red, 2); }),
            "Sorry max number of columns is set to 2 in quor linear algebra package (9) !\n");
  EXPECT_EQ(fatal_of([&] { build({{f, nullptr, 0}}, red, 3); }), "");

  // Hashes depend on the table's prime: the polynomials are made after it changes.
  use_index(512);
  Dpol f2 = poly({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}});
  std::vector<Dpol> red2{poly({{0, 0, 0, 0}})};
  std::vector<Half> many(513, Half{f2, nullptr, 1});
  EXPECT_EQ(fatal_of([&] { build(many, nored); }),
            "Sorry max number of columns is set to 512 in quor linear algebra package (5) !\n");
  many.resize(512);
  EXPECT_EQ(fatal_of([&] { build(many, nored); }), "");
  // A half of 600 terms, every non-lead column reducible by the constant: row 513 is refused.
  std::vector<Vec> t;
  for (u32 a = 0; a < 30 && t.size() < 600; ++a)
    for (u32 b = 0; a + b <= 40 && t.size() < 600; ++b) t.push_back({a, b, 40 - a - b, 0});
  Dpol big = poly(t);
  ASSERT_EQ(big->nb_terms, 600u);
  EXPECT_EQ(fatal_of([&] { build({{big, nullptr, 1}}, red2); }),
            "Sorry max number of columns is set to 512 in quor linear algebra package (8) !\n");
}

QTEST_F(Symbolic, UnexpandedRowsCodeToTheSameRows) {
  Dpol f = poly({{2, 1, 0, 0}, {1, 1, 1, 0}, {0, 0, 3, 0}, {0, 1, 2, 0}});
  std::vector<Dpol> red{poly({{1, 1, 0, 0}, {0, 0, 0, 2}, {0, 0, 1, 1}}), poly({{0, 0, 2, 0}, {0, 1, 0, 1}})};
  resort_Dpol(red.data(), 2);
  const std::vector<Half> h{{f, mult({0, 0, 0, 1}), 1}, {f, nullptr, 0}};
  auto shape = [](const sALGO_Dpol* r) {
    std::vector<u64> pos(64);
    pos.resize(lzw_decode(r->code, r->nb_codes, pos.data(), pos.size(), r->span));
    return std::make_tuple(pos, r->nb_codes, r->lead, r->encoding);
  };
  SymbolicMatrix A = build(h, red);
  std::vector<decltype(shape(nullptr))> coded;
  for (u32 i = 0; i < A.nrows; ++i) coded.push_back(shape(A.rows[i]));
  QUOR_NAME(no_expand) = 1;
  SymbolicMatrix B = build(h, red);
  ASSERT_EQ(B.nrows, A.nrows);
  for (u32 i = 0; i < B.nrows; ++i) EXPECT_EQ(B.rows[i]->encoding, CODE_UNEXPANDED);
  code_unexpanded_rows(B);
  for (u32 i = 0; i < B.nrows; ++i) EXPECT_EQ(shape(B.rows[i]), coded[i]);
}

QTEST_F(Symbolic, StrongOrderLastsOneStep) {
  Dpol f = poly({{2, 0, 0, 0}, {0, 1, 1, 0}, {0, 0, 0, 2}});
  std::vector<Dpol> none;
  use_strong_order = 1;
  SymbolicMatrix M = build({{f, nullptr, 1}}, none);
  EXPECT_EQ(use_strong_order, 0);
  for (u32 pos = 0; pos + 1 < M.ncols; ++pos) {
    u64* a = mono(monom_at(pos));
    u64* b = mono(monom_at(pos + 1));
    EXPECT_EQ(comp5_Expos(a + 1, b + 1), -1);
  }
}

QTEST_F(Symbolic, InterruptEndsTheStepWithoutRows) {
  Dpol f = poly({{1, 1, 0, 0}, {0, 0, 1, 1}});
  std::vector<Dpol> red{poly({{0, 0, 1, 0}})};
  out_ = place({{f, nullptr, 1}});
  out_.resize(8, nullptr);
  QUOR_NAME(stop_immediately_semaphore) = 1;
  u32 room = 7;
  internal_symbolic_reduction(1, red.data(), 1, out_.data(), &room);
  EXPECT_EQ(room, 0u);
  EXPECT_EQ(out_[0], f);
}

QTEST_F(Symbolic, OneStepGivesTheReducedSPolynomial) {
  // f1 = x^2 + 2y^2, f2 = xy + 3z^2: the pair at x^2*y gives x*f2 - y*f1 =
  // 3xz^2 - 2y^3, that is y^3 - (3/2)xz^2 once monic; neither of its
  // monomials is reducible, so the matrix is 2 x 3 with one row to reduce.
  Dpol f1 = with(poly({{2, 0, 0, 0}, {0, 2, 0, 0}}), {1, 2});
  Dpol f2 = with(poly({{1, 1, 0, 0}, {0, 0, 2, 0}}), {1, 3});
  std::vector<Dpol> table{f1, f2};
  resort_Dpol(table.data(), 2);
  out_ = place({{f1, mult({0, 1, 0, 0}), 0}, {f2, mult({1, 0, 0, 0}), 1}});
  table.insert(table.end(), out_.begin(), out_.end());
  table.resize(8, nullptr);
  const u32 id_before = gen_sym_Dpol;
  u32 room = 6;
  internal_symbolic_reduction(2, table.data(), 2, table.data() + 2, &room);
  ASSERT_EQ(room, 1u);
  Dpol r = table[2];
  ASSERT_EQ(r->nb_terms, 2u);
  EXPECT_EQ(slots(r->monoms[0] + 1), (Vec{0, 3, 0, 0}));
  EXPECT_EQ(slots(r->monoms[1] + 1), (Vec{1, 0, 2, 0}));
  EXPECT_EQ(r->new_flag, 1u);
  EXPECT_GT(r->id, id_before);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
    const u32 q = QUOR_NAME(Primes)[k];
    EXPECT_EQ(r->coeffs[k][0], Dom(1));
    EXPECT_EQ((u64(r->coeffs[k][1]) * 2 + 3) % q, 0u) << "slot " << k;
  }
  // The records made for the columns go back to the free list unless r holds
  // them: the cancelled lead's comes back first, and the records handed out
  // after it leave r's terms as they were, with no mark left in their hash words.
  EXPECT_EQ(slots(QUOR_NAME(new_Expos)() + 1), (Vec{2, 1, 0, 0}));
  for (int i = 0; i < 64; ++i) std::fill_n(QUOR_NAME(new_Expos)(), 1 + nb_of_blocks_of_variables, ~u64(0));
  EXPECT_EQ(slots(r->monoms[0] + 1), (Vec{0, 3, 0, 0}));
  EXPECT_EQ(slots(r->monoms[1] + 1), (Vec{1, 0, 2, 0}));
  EXPECT_EQ(r->monoms[0][0] >> 32, 0u);
  EXPECT_EQ(r->monoms[1][0] >> 32, 0u);
}

QTEST_F(Symbolic, NewPolynomialsDivisibleByHSwitchTheRenormalisation) {
  // Halves y*f1 (pivot), x*f2 and possibly x*f3, all multiples of h: every
  // new polynomial is divisible by h.  One such polynomial stays as it is and
  // switches the renormalisation on; two are divided in the same step.
  for (int n = 1; n <= 2; ++n) {
    want_automatique = 0;
    Dpol f1 = with(poly({{2, 0, 0, 1}, {0, 2, 0, 1}}), {1, 2});
    Dpol f2 = with(poly({{1, 1, 0, 1}, {0, 0, 2, 1}}), {1, 3});
    Dpol f3 = with(poly({{1, 1, 0, 1}, {0, 1, 1, 1}}), {1, 5});
    std::vector<Dpol> table{f1, f2, f3};
    resort_Dpol(table.data(), 3);
    std::vector<Half> h{{f1, mult({0, 1, 0, 0}), 0}, {f2, mult({1, 0, 0, 0}), 1}};
    if (n == 2) h.push_back({f3, mult({1, 0, 0, 0}), 1});
    out_ = place(h);
    table.insert(table.end(), out_.begin(), out_.end());
    table.resize(16, nullptr);
    u32 room = 10;
    internal_symbolic_reduction(u32(h.size()), table.data(), 3, table.data() + 3, &room);
    ASSERT_EQ(room, u32(n));
    EXPECT_EQ(want_automatique, 1);
    for (u32 i = 0; i < room; ++i)
      for (u32 t = 0; t < table[3 + i]->nb_terms; ++t)
        EXPECT_EQ(slots(table[3 + i]->monoms[t] + 1)[3], n == 2 ? 0u : 1u) << n;
  }
  // The reductor row z * (x*y*h + ...) after the three halves: its multiplier went back to the free list.
  const MatrixRow_entry e = get_relative_MatrixRow(3);
  ASSERT_EQ(slots(lead_Expos(e.source)), (Vec{1, 1, 0, 1}));  // f2 or f3, whichever stands first
  bool recycled = false;
  for (u64* r = root_of_Expos; r && !recycled; r = reinterpret_cast<u64*>(r[0])) recycled = r == e.multiplier;
  EXPECT_TRUE(recycled);
}

QTEST_F(Symbolic, DenseRowsBecomePolynomials) {
  // Entries are kept where slot 0 (or slot 1) is non-zero; with several
  // slots their zero patterns must agree, or be corrected by slot 2.
  Dpol f = poly({{1, 1, 0, 0}, {1, 0, 1, 0}, {0, 0, 1, 1}});
  std::vector<Dpol> none;
  ASSERT_EQ(build({{f, nullptr, 1}}, none).ncols, 3u);
  const u32 V = QUOR_NAME(vectorize);
  std::vector<unsigned char> mem(ALGO_Dpol_bytes(V));
  auto* row = reinterpret_cast<sALGO_Dpol*>(mem.data());
  std::vector<std::vector<Dom>> res(V, std::vector<Dom>(3, 0));
  for (u32 k = 0; k < V; ++k) row->coeffs[k] = res[k].data();
  row->key = 77;
  // Dense: lead column 1 (position 2), entries at positions 2 and 0.
  row->dense = 1;
  row->lead = 1;
  row->span = 3;
  for (u32 k = 0; k < V; ++k) {
    res[k][0] = Dom(1);
    res[k][1] = 0;
    res[k][2] = Dom(3 + k);
  }
  Dpol d = QUOR_NAME(clone_ALGO_Dpol)(row, QUOR_NAME(ptr_Base_Exposants), 2);
  ASSERT_EQ(d->nb_terms, 2u);
  EXPECT_EQ(d->id, 77u);
  EXPECT_EQ(slots(d->monoms[0] + 1), monom_at(2));
  EXPECT_EQ(slots(d->monoms[1] + 1), monom_at(0));
  for (u32 k = 0; k < V; ++k) EXPECT_EQ(d->coeffs[k][1], Dom(3 + k));
#if QUOR_INT
  // Slots 0 and 1 disagree on which entries vanish.
  res[1][2] = 0;
  EXPECT_EQ(fatal_of([&] { QUOR_NAME(clone_ALGO_Dpol)(row, QUOR_NAME(ptr_Base_Exposants), 2); }), "");
  res[2][1] = 4;  // slots 0 and 1 zero where slot 2 is not
  res[1][1] = 0;
  EXPECT_EQ(fatal_of([&] { QUOR_NAME(clone_ALGO_Dpol)(row, QUOR_NAME(ptr_Base_Exposants), 2); }),
            "impossible de corriger !\n");
  QUOR_NAME(vectorize) = 2;
  EXPECT_EQ(fatal_of([&] { QUOR_NAME(clone_ALGO_Dpol)(row, QUOR_NAME(ptr_Base_Exposants), 2); }),
            "Impossible de conclure !\n");
  QUOR_NAME(vectorize) = 3;
#endif
}

QUOR_TEST_END
