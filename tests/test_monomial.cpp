// Monomials and the monomial hash table, checked against plain exponent arrays.
#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "core/column_index.h"
#include "tests/support/request_fixture.h"

QUOR_TEST_BEGIN

namespace {
bool fatal_says(const std::function<void()>& f, const std::string& part) {
  return fatal_text(f).find(part) != std::string::npos;
}
Vec unpack(const u64* e) {
  Vec v(max_nb_of_variables + 1);
  for (u32 i = 0; i < v.size(); ++i) v[i] = expos_slot(e, i);
  return v;
}
Vec pad(Vec v) {
  v.resize(max_nb_of_variables + 1, 0);
  return v;
}
Vec plus(Vec a, const u64* b) {
  for (u32 i = 0; i < a.size(); ++i) a[i] += expos_slot(b, i);
  return a;
}

// The order written slot by slot, as it is defined.
int ref_comp(const Vec& a, const Vec& b, u32 k, bool block2_degree) {
  u32 da = 0, db = 0;
  for (u32 i = 0; i < k; ++i) da += a[i], db += b[i];
  if (da != db) return da > db ? 1 : -1;
  for (u32 i = k; i-- > 0;)
    if (a[i] != b[i]) return a[i] > b[i] ? -1 : 1;
  if (block2_degree) {
    for (u32 i = k; i < a.size(); ++i) da += a[i], db += b[i];
    if (da != db) return da > db ? 1 : -1;
  }
  for (u32 i = u32(a.size()); i-- > k;)
    if (a[i] != b[i]) return a[i] > b[i] ? -1 : 1;
  return 0;
}

Vec random_vec(std::mt19937_64& rng, u32 n, u32 max_e) {
  Vec v(n + 1);
  for (auto& e : v) e = (rng() % 3 == 0) ? u32(rng() % (max_e + 1)) : u32(rng() % 3);
  return v;
}

// An emptied table for about capacity monomials of n variables.
Table_de_Recherche empty_table(u32 capacity, u32 n) {
  quor_max_index = capacity;
  set_hash_prime();
  layout(n, 0);
  Table_de_Recherche t = dynamic_Table_de_Recherche();
  clear_Table_de_Recherche(t);
  return t;
}

// Each entry's code-to-slot link holds, and every slot between its start slot
// and its own slot is flagged as passed over.
void expect_probe_invariant(Table_de_Recherche t) {
  const u32 p = quor_hash_prime, span = probe_span(t);
  for (u32 c = 0; c < t->count; ++c) {
    const u32 j = t->slots[c].code_slot;
    ASSERT_LT(j, span);
    ASSERT_EQ(t->slots[j].code, c);
    const u32 start = u32(t->slots[j].monom[-1] % p);
    for (u32 i = span == p ? start : start & (span - 1); i != j; i = i ? i - 1 : span - 1)
      ASSERT_EQ(t->slots[i].collision, 1u) << "code " << c;
  }
}

i32 before_lower_degree(const u64* a, const u64* b) { return degree_Expos(a) < degree_Expos(b); }
List_Expos cell(u32 d) {
  List_Expos c = QUOR_NAME(new_List_Expos)();
  c->expos = mono({d, 0, 0, 0}) + 1;
  c->next = nullptr;
  return c;
}
}  // namespace

class QUOR_SUITE(Monomial) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    zone_reset_memory(0);
    zone_init_tables();
    saved_index_ = quor_max_index;
    saved_prime_ = quor_hash_prime;
  }
  void TearDown() override {
    quor_max_index = saved_index_;
    quor_hash_prime = saved_prime_;
    std::fill(Liste_variables, Liste_variables + 8, nullptr);
    Host_kernel = nullptr;
  }
  quor::standin::Host host_;
  u32 saved_index_ = 0, saved_prime_ = 0;
};

QTEST_F(Monomial, LayoutAndPackingAtTheWordEdges) {
  struct { u32 n, B, sz, max; } cases[] = {{3, 1, 16, 3}, {4, 2, 24, 7}, {7, 2, 24, 7}, {8, 3, 32, 11}};
  for (auto c : cases) {
    layout(c.n, 0);
    EXPECT_EQ(nb_of_variables, c.n + 1);
    EXPECT_EQ(nb_of_blocks_of_variables, c.B);
    EXPECT_EQ(sz_Expos, c.sz);
    EXPECT_EQ(max_nb_of_variables, c.max);
    Vec v(c.n + 1);  // the top slot of each word holds the largest exponent
    for (u32 i = 0; i <= c.n; ++i) v[i] = (i % 4 == 3) ? EXPOS_MAX_EXPONENT : i + 1;
    EXPECT_EQ(unpack(mono(v) + 1), pad(v));
  }
  layout(4, 2);
  u64* e = mono({2, 0, 1, 0, 0}) + 1;  // x1^2*x3
  EXPECT_EQ(e[0], 0x0000000100000002ULL);
  EXPECT_EQ(e[1], 0u);
  EXPECT_EQ(degree_Expos(e), 3u);
  // Records cut for another layout are not reused.
  layout(3, 0);
  QUOR_NAME(kill_Expos)(QUOR_NAME(new_Expos)());
  layout(2, 0);
  EXPECT_NE(root_of_Expos, nullptr);
  layout(8, 0);
  EXPECT_EQ(root_of_Expos, nullptr);
}

QTEST_F(Monomial, WordPackingsAgree) {
  // The column index packs keys with either; they must give the same bits,
  // slot 0 lowest, f bits a slot, every slot below 2^f.
  std::mt19937_64 rng(7);
  for (u32 f = 1; f <= 16; ++f) {
    for (int t = 0; t < 200; ++t) {
      u64 w = 0, want = 0;
      for (u32 s = 0; s < 4; ++s) {
        const u64 x = (t == 0) ? (u64(1) << f) - 1 : rng() & ((u64(1) << f) - 1);
        w |= x << (16 * s);
        want |= x << (f * s);
      }
      ASSERT_EQ(expos_pack_word(w, f), want) << f;
      if (__builtin_cpu_supports("bmi2")) {
        ASSERT_EQ(expos_pack_word_pext(w, expos_pack_lanes(f)), want) << f;
      }
    }
  }
}

QTEST_F(Monomial, OrderMatchesSlotwiseDefinition) {
  std::mt19937_64 rng(7);
  for (u32 n : {1u, 3u, 4u, 7u, 8u, 13u})
    for (u32 k : {0u, 1u, n / 2, n - 1, n}) {
      layout(n, k);
      for (int t = 0; t < 400; ++t) {
        Vec a = random_vec(rng, n, 0x7FFF), b = random_vec(rng, n, 0x7FFF);
        if (t % 5 == 0) b = a, b[rng() % (n + 1)] ^= 1;  // near ties
        if (t % 17 == 0) b = a;
        u64* ea = mono(a) + 1;
        u64* eb = mono(b) + 1;
        ASSERT_EQ(comp_Expos(ea, eb), ref_comp(a, b, k, false)) << "n=" << n << " k=" << k;
        ASSERT_EQ(comp4_Expos(ea, eb), comp_Expos(ea, eb));
        ASSERT_EQ(comp5_Expos(ea, eb), ref_comp(a, b, k, true)) << "n=" << n << " k=" << k;
      }
    }
}

QTEST_F(Monomial, ArithmeticMatchesSlotwiseDefinition) {
  std::mt19937_64 rng(11);
  for (u32 n : {3u, 4u, 9u}) {
    layout(n, n / 2);
    for (int t = 0; t < 500; ++t) {
      Vec a = random_vec(rng, n, 0x3FFF), b = random_vec(rng, n, 0x3FFF);
      if (t % 3 == 0)
        for (u32 i = 0; i <= n; ++i) b[i] = u32(rng() % (a[i] + 1));  // b | a
      u64* ea = mono(a) + 1;
      u64* eb = mono(b) + 1;
      Vec mx(n + 1), quo(n + 1);
      bool divides = true;
      for (u32 i = 0; i <= n; ++i) {
        mx[i] = std::max(a[i], b[i]);
        quo[i] = a[i] - b[i];
        divides = divides && b[i] <= a[i];
      }
      u64 out[3], q[3];
      mul_Expos(out, ea, eb);
      ASSERT_EQ(unpack(out), pad(plus(a, eb)));
      ASSERT_TRUE(expos_product_in_range(ea, eb));
      ASSERT_EQ(unpack(QUOR_NAME(lcm_Expos)(ea, eb)), pad(mx));
      ASSERT_EQ(is_sub_Expos1(ea, eb), i32(divides));
      ASSERT_EQ(QUOR_NAME(is_sub_in_place_Expos)(ea, eb, q), i32(divides));
      if (divides) {
        ASSERT_EQ(unpack(q), pad(quo));
        ASSERT_EQ(unpack(sub_Expos(ea, eb)), pad(quo));
      }
    }
  }
}

QTEST_F(Monomial, DivisibilityBoundsAndCopies) {
  layout(8, 4);
  u64* a = mono({5, 0, 3, 0, 0x7FFF, 0, 0, 1, 2}) + 1;
  EXPECT_EQ(is_sub_Expos1(a, a), 1);
  for (u32 i = 0; i <= 8; ++i) {  // one slot too large is never hidden by the others
    Vec d = unpack(a);
    d[i] += 1;
    EXPECT_EQ(is_sub_Expos1(a, mono(d) + 1), 0) << i;
  }
  EXPECT_EQ(nil_or_sub_Expos(a, a), nullptr);
  u64* freed = root_of_Expos;  // the unit quotient went back on the free list
  EXPECT_EQ(QUOR_NAME(new_Expos)(), freed);
  EXPECT_TRUE(expos_in_range(a));
  EXPECT_FALSE(expos_product_in_range(a, mono({0, 0, 0, 0, 1, 0, 0, 0, 0}) + 1));
  EXPECT_FALSE(expos_in_range(mono({0, 0, 0, 0, 0, 0, 0, 0, 0x8000}) + 1));
  EXPECT_EQ(unpack(zero_Expos()), pad({}));
  EXPECT_EQ(unpack(copy_offset_Expos(a)), unpack(a));
  u64 dst[3];
  copy_block1_Expos(dst, a - 1);
  EXPECT_EQ(unpack(dst), pad({5, 0, 3, 0}));
#if QUOR_INT
  std::vector<u64*> recs;
  for (u32 i = 0; i < 4; ++i) recs.push_back(QUOR_NAME(new_heap_Expos)()), recs[i][0] = 100 + i;
  std::vector<u64*> places = {recs[3], recs[1], recs[2], recs[1], recs[0]};
  std::vector<u64**> slots;
  for (auto& pl : places) slots.push_back(&pl);
  sort_Expos_Adresses(slots.data(), u32(slots.size()));
  for (u32 i = 1; i < slots.size(); ++i) ASSERT_LE(*slots[i - 1], *slots[i]);
  recs[0][3] = 77;
  in_place_copy_Expos(slots[0]);
  EXPECT_EQ((*slots[0])[0], 100u);  // header and exponent words
  EXPECT_EQ((*slots[0])[3], 77u);
#endif
}

QTEST_F(Monomial, ListsSortStablyAndMerge) {
  layout(3, 0);
  EXPECT_EQ(QUOR_NAME(trier_boolean_List_Expos)(nullptr, before_lower_degree), nullptr);
  List_Expos one = cell(0);
  EXPECT_EQ(QUOR_NAME(trier_boolean_List_Expos)(one, before_lower_degree), one);
  std::mt19937_64 rng(3);
  for (u32 len : {2u, 3u, 7u, 64u, 129u}) {
    std::vector<List_Expos> cells;
    List_Expos list = nullptr;
    for (u32 i = 0; i < len; ++i) {
      cells.push_back(cell(u32(rng() % 4)));
      list = QUOR_NAME(append_List_Expos)(list, cells.back());
    }
    std::stable_sort(cells.begin(), cells.end(),
                     [](List_Expos a, List_Expos b) { return before_lower_degree(a->expos, b->expos) != 0; });
    List_Expos s = QUOR_NAME(trier_boolean_List_Expos)(list, before_lower_degree);
    for (List_Expos c : cells) {
      ASSERT_EQ(s, c);  // same cells, equal keys in input order
      s = s->next;
    }
    ASSERT_EQ(s, nullptr);
  }
  List_Expos l = cell(1);
  l = QUOR_NAME(merge_boolean_List_Expos)(cell(3), l, before_lower_degree);  // at the end
  l = QUOR_NAME(merge_boolean_List_Expos)(cell(0), l, before_lower_degree);  // in front
  l = QUOR_NAME(merge_boolean_List_Expos)(cell(2), l, before_lower_degree);  // between
  Vec degs;
  for (List_Expos c = l; c; c = c->next) degs.push_back(degree_Expos(c->expos));
  EXPECT_EQ(degs, (Vec{0, 1, 2, 3}));
}

QTEST_F(Monomial, HashPrimeAndRehash) {
  struct { u32 c, p; } cases[] = {{500000, 602947}, {524288, 602947}, {600000, 602947}, {602948, 1205891},
                                  {65536, 75367},   {512, 617},       {2147483648u, 2469606199u},
                                  {4294967295u, 2469606199u},         {1234803134, 2469606199u}};
  for (auto c : cases) {
    quor_max_index = c.c;
    set_hash_prime();
    EXPECT_EQ(quor_hash_prime, c.p) << c.c;
  }
  for (u32 c : {511u, 0u}) {
    quor_max_index = c;
    EXPECT_TRUE(fatal_says([] { set_hash_prime(); }, "Cannot find corresponding prime for MAX_INDEX=" + std::to_string(c)));
  }
  quor_max_index = 500000;
  set_hash_prime();
  layout(3, 0);
  u64 *x1 = mono({1, 0, 0, 0}), *x2 = mono({0, 1, 0, 0});
  const u64 h1 = x1[0], h2 = x2[0];
  u64* recs[3] = {x1, nullptr, x2};  // a null record is skipped
  x1[0] = x2[0] = 0;
  set_hash(3, recs);
  EXPECT_EQ(std::make_pair(x1[0], x2[0]), std::make_pair(h1, h2));

  // The hash is the exponent vector read in base 65536 modulo p, whatever the
  // prime, the width (past 64 words too) and the exponents.
  std::mt19937_64 rng(11);
  for (u32 p : {617u, 602947u, 2469606199u})
    for (u32 n : {3u, 12u, 300u}) {
      quor_hash_prime = p;
      layout(n, 0);
      for (int i = 0; i < 20; ++i) {
        const Vec v = random_vec(rng, n, EXPOS_MAX_EXPONENT);
        u64 h = 0;
        for (u32 s = 0; s < 4 * nb_of_blocks_of_variables; ++s) h = (h * 65536 + (s < v.size() ? v[s] : 0)) % p;
        ASSERT_EQ(mono(v)[0], h) << p << " " << n;
      }
    }
}

QTEST_F(Monomial, TableNumbersInFirstInsertionOrderWithoutFormingProducts) {
  quor_max_index = 512;  // p = 617: crowded, many collisions
  set_hash_prime();
  layout(5, 2);  // two words
  Table_de_Recherche t = dynamic_Table_de_Recherche();
  clear_Table_de_Recherche(t);
  std::mt19937_64 rng(5);
  std::map<Vec, u32> codes;  // the reference numbering
  std::vector<u64*> gen, terms;
  u32 code, code2;
  u64 *rec, *rec2;
  for (int i = 0; i < 60; ++i) gen.push_back(mono(random_vec(rng, 5, 6)));
  for (int i = 0; i < 120; ++i) {  // twice over, with duplicates
    u64* m = gen[i % 60];
    const Vec v = unpack(m + 1);
    const bool fresh = !codes.count(v);
    ASSERT_EQ(QUOR_NAME(get_code)(0, nullptr, m, t, &code, &rec), i32(fresh));
    if (fresh) {
      codes[v] = code, terms.push_back(m);
      ASSERT_EQ(rec, m);  // the caller's record itself is stored
    }
    ASSERT_EQ(code, codes[v]);
  }
  for (int i = 0; i < 6; ++i) {  // products m1 * term, numbered like the formed product
    u64* m1 = mono(random_vec(rng, 5, 3));
    for (u64* m : terms) {
      const Vec prod = plus(unpack(m1 + 1), m + 1);
      const bool fresh = !codes.count(prod);
      ASSERT_EQ(QUOR_NAME(get_code)(m1[0], m1 + 1, m, t, &code, &rec), i32(fresh));
      if (fresh) codes[prod] = code;
      ASSERT_EQ(code, codes[prod]);
      ASSERT_EQ(unpack(rec + 1), prod);
      ASSERT_EQ(rec[0], hash_Expos(rec + 1));
      ASSERT_EQ(QUOR_NAME(get_code)(m[0], m + 1, m1, t, &code2, &rec2), 0);  // m * m1
      ASSERT_EQ(QUOR_NAME(get_code)(0, nullptr, mono(prod), t, &code2, &rec2), 0);
      ASSERT_EQ(code2, code);
    }
  }
  ASSERT_EQ(t->count, codes.size());
  expect_probe_invariant(t);

  // Values: every lookup agrees; absent products are told apart (code 0's
  // value 0xFFFFFFFF reads -1 through find_code_or_fail, not through find_code_exact).
  auto value_of = [](u32 c) { return c == 0 ? 0xFFFFFFFFu : 1000 + c; };
  for (u32 c = 0; c < t->count; ++c) ASSERT_EQ(QUOR_NAME(insert_code)(monom_of_code(t, c) - 1, t, value_of(c)), 0);
  u64* unit = mono({});
  for (u32 c = 0; c < t->count; ++c) {
    u64* m = monom_of_code(t, c) - 1;
    ASSERT_EQ(find_code1(m, t->slots), value_of(c));
    ASSERT_EQ(QUOR_NAME(find_code)(unit[0], unit + 1, m, t), value_of(c));
  }
  for (int i = 0; i < 300; ++i) {
    u64* m1 = mono(random_vec(rng, 5, 9));
    u64* m2 = terms[rng() % terms.size()];
    auto it = codes.find(plus(unpack(m1 + 1), m2 + 1));
    u32 v = 0;
    ASSERT_EQ(find_code_exact(m1[0], m1 + 1, m2, t, &v), i32(it != codes.end()));
    ASSERT_EQ(find_code_or_fail(m1[0], m1 + 1, m2, t), it == codes.end() ? -1 : i32(value_of(it->second)));
    if (it != codes.end()) {
      ASSERT_EQ(v, value_of(it->second));
    }
  }
  EXPECT_TRUE(fatal_says([&] { find_code_or_fail(0, nullptr, unit, t); }, "NYA in find_code_or_fail"));

  empty_Table_de_Recherche(t);  // clears exactly the entries; codes restart at 0
  EXPECT_EQ(t->count, 0u);
  for (u32 i = 0; i < quor_hash_prime; ++i) ASSERT_TRUE(!t->slots[i].monom && !t->slots[i].collision);
  EXPECT_EQ(QUOR_NAME(get_code)(0, nullptr, terms[5], t, &code, &rec), 1);
  EXPECT_EQ(code, 0u);
}

QTEST_F(Monomial, CollisionsFullTableAndGrowth) {
  quor_max_index = 512;
  set_hash_prime();
  layout(3, 0);
  const u32 p = quor_hash_prime;
  Table_de_Recherche t = dynamic_Table_de_Recherche();
  clear_Table_de_Recherche(t);

  // Two monomials with one hash: the second lands below the first, which is flagged.
  std::map<u64, u64*> by_hash;
  u64 *a = nullptr, *b = nullptr;
  for (u32 e = 1; !a; ++e) {
    u64* m = mono({e, e % 7, 0, 0});
    if (by_hash.count(m[0]) && m[0] > 0) a = by_hash[m[0]], b = m;
    by_hash[m[0]] = m;
  }
  EXPECT_EQ(QUOR_NAME(insert_code)(a, t, 10), 1);
  EXPECT_EQ(QUOR_NAME(insert_code)(b, t, 20), 1);
  EXPECT_EQ(t->slots[1].code_slot, a[0] - 1);
  EXPECT_EQ(t->slots[a[0]].collision, 1u);
  EXPECT_EQ(find_code1(a, t->slots), 10u);
  EXPECT_EQ(QUOR_NAME(insert_code)(b, t, 30), 0);  // only the value changes
  EXPECT_EQ(find_code1(b, t->slots), 30u);
  EXPECT_EQ(t->count, 2u);

  // Every slot taken: the next new monomial is refused after one full wrap.
  std::vector<u64*> all;
  u32 code;
  u64* rec;
  for (u32 e = 0; t->count < p; ++e) {
    all.push_back(mono({e % 100, e / 100, 1, 0}));
    QUOR_NAME(get_code)(0, nullptr, all.back(), t, &code, &rec);
  }
  u64* extra = mono({0, 0, 9, 9});
  EXPECT_TRUE(fatal_says([&] { QUOR_NAME(get_code)(0, nullptr, extra, t, &code, &rec); },
                         "Sorry the size of the matrix is too big ![3]"));
  EXPECT_TRUE(fatal_says([&] { QUOR_NAME(get_code)(extra[0], extra + 1, all[3], t, &code, &rec); },
                         "Sorry the size of the matrix is too big ![1] (the monomial table is full: " +
                             std::to_string(p) + " monomials in " + std::to_string(p) + " slots for a capacity of " +
                             std::to_string(quor_max_index) + "; option o[2] enlarges it)\n"));
  EXPECT_TRUE(fatal_says([&] { QUOR_NAME(insert_code)(extra, t, 0); }, "Sorry the size of the hash table is too small !"));
  EXPECT_EQ(QUOR_NAME(get_code)(0, nullptr, all[17], t, &code, &rec), 0);
  expect_probe_invariant(t);

  // A larger capacity: a new table, rehashed monomials, numbering from 0 again.
  quor_max_index = 5000;
  set_hash_prime();
  EXPECT_EQ(quor_hash_prime, 9431u);
  all.push_back(extra);
  set_hash(u32(all.size()), all.data());
  Table_de_Recherche big = dynamic_Table_de_Recherche();
  clear_Table_de_Recherche(big);
  for (u32 i = 0; i < all.size(); ++i) {
    ASSERT_EQ(QUOR_NAME(get_code)(0, nullptr, all[i], big, &code, &rec), 1);
    ASSERT_EQ(code, i);
  }
}

// Codes appended in runs, another table's between them, leave the slots
// that entering the same monomials one by one leaves: a page met again keeps
// what it holds.
QTEST_F(Monomial, AppendedCodesLeaveTheTableAsGetCodeDoes) {
  quor_max_index = 5000;  // 9431 slots, some 55 pages
  set_hash_prime();
  layout(4, 0);
  std::mt19937_64 rng(5);
  std::vector<const u64*> words;
  Table_de_Recherche direct = dynamic_Table_de_Recherche(), appended = dynamic_Table_de_Recherche(),
                     other = dynamic_Table_de_Recherche();
  for (Table_de_Recherche t : {direct, appended, other}) clear_Table_de_Recherche(t);
  u32 code;
  u64* rec;
  while (words.size() < 4000) {
    u64* r = mono(random_vec(rng, 4, 30));
    if (QUOR_NAME(get_code)(0, nullptr, r, direct, &code, &rec)) words.push_back(r + 1);
  }
  append_codes(appended, words.data(), 1500);
  append_codes(other, words.data(), 700);
  append_codes(appended, words.data(), 4000);
  ASSERT_EQ(appended->count, direct->count);
  for (u32 i = 0; i < quor_hash_prime; ++i) {
    const Table_slot &a = direct->slots[i], &b = appended->slots[i];
    ASSERT_EQ(a.monom, b.monom) << i;
    ASSERT_EQ(a.collision, b.collision) << i;
    if (a.monom) {
      ASSERT_EQ(a.code, b.code) << i;
    }
    if (i < direct->count) {
      ASSERT_EQ(a.code_slot, b.code_slot) << i;
    }
  }
  expect_probe_invariant(appended);
}

// Tables widening span after span through get_code (terms and products),
// insert_code and append_codes in runs: after each widening every entry and
// lookup holds and the tables match slot for slot; spanning p at last, a full
// table is refused as before.
QTEST_F(Monomial, WideningTablesKeepEveryEntry) {
  Table_de_Recherche direct = empty_table(4096, 4), valued = dynamic_Table_de_Recherche(),
                     appended = dynamic_Table_de_Recherche();
  const u32 p = quor_hash_prime;  // 4919: spans 1024, 2048, 4096, then p
  for (Table_de_Recherche t : {valued, appended}) clear_Table_de_Recherche(t);
  std::vector<Vec> vecs;  // three starting at slot 0 at every span (the third wraps to the top), then others
  for (u32 e = 0; vecs.size() < 3; ++e)
    if (mono({0, 0, 0, e})[0] % 4096 == 0) vecs.push_back({0, 0, 0, e});
  for (u32 k = 0; vecs.size() <= p; ++k) vecs.push_back({1 + k % 17, k / 17 % 17, k / 289});
  u64 *x = mono({1}), *unit = mono({}), *rec;
  std::vector<const u64*> words;
  u32 code, v, span = 1024;
  for (u32 k = 0; k < p; ++k) {
    const bool product = vecs[k][0] > 0 && k % 3;
    Vec w = vecs[k];
    w[0] -= product;
    ASSERT_EQ(QUOR_NAME(get_code)(product ? x[0] : 0, product ? x + 1 : nullptr, mono(w), direct, &code, &rec), 1);
    ASSERT_TRUE(code == k && rec[0] == hash_Expos(rec + 1));  // the hash, whatever the span
    words.push_back(rec + 1);
    ASSERT_EQ(QUOR_NAME(insert_code)(rec, valued, 7 * k + 3), 1);
    if (k % 700 == 0) append_codes(appended, words.data(), k + 1);
    if (probe_span(direct) == span && k + 1 < p) continue;
    span = probe_span(direct);
    append_codes(appended, words.data(), k + 1);
    u64* absent = mono(vecs[k + 1]);
    ASSERT_TRUE(!find_code_exact(0, nullptr, absent, valued, &v) &&
                (k + 1 == p || find_code_or_fail(unit[0], unit + 1, absent, valued) == -1));
    for (u32 c = 0; c <= k; ++c) {
      u64* r = const_cast<u64*>(words[c]) - 1;
      ASSERT_TRUE(monom_of_code(valued, c) == r + 1 && find_code1(r, valued->slots) == 7 * c + 3 &&
                  QUOR_NAME(find_code)(unit[0], unit + 1, r, valued) == 7 * c + 3 &&
                  find_code_or_fail(unit[0], unit + 1, r, valued) == i32(7 * c + 3) &&
                  find_code_exact(0, nullptr, r, valued, &v) && v == 7 * c + 3) << c;
      ASSERT_TRUE(!QUOR_NAME(get_code)(0, nullptr, r, direct, &code, &rec) && code == c);
    }
    for (u32 i = 0; i < p; ++i)
      for (const Table_slot* b : {&valued->slots[i], &appended->slots[i]}) {
        const Table_slot& a = direct->slots[i];
        ASSERT_TRUE(a.monom == b->monom && a.collision == b->collision && (!a.monom || a.code == b->code)) << i;
        ASSERT_TRUE((i > k || a.code_slot == b->code_slot) && (i < span || !a.monom)) << i;
      }
    for (Table_de_Recherche t : {direct, valued, appended}) expect_probe_invariant(t);
  }
  u64* extra = mono({0, 0, 0, 9, 9});
  EXPECT_TRUE(fatal_says([&] { QUOR_NAME(get_code)(0, nullptr, extra, direct, &code, &rec); },
                         "too big ![3] (the monomial table is full: " + std::to_string(p) + " monomials in " +
                             std::to_string(p) + " slots"));
  EXPECT_TRUE(fatal_says([&] { QUOR_NAME(insert_code)(extra, valued, 0); }, "the hash table is too small !"));
  empty_Table_de_Recherche(valued);  // a step keeps the span, a new table starts small
  clear_Table_de_Recherche(direct);
  EXPECT_TRUE(probe_span(valued) == p && probe_span(direct) == 1024u);
}

// The step index against the table itself: the same calls give the same
// answers, codes and products, and once synced the table holds the same slots,
// codes and collision flags, whether the keys stay narrow, widen, or cannot
// hold the exponents and hand the rest of the step to the table.
QTEST_F(Monomial, StepIndexLeavesTheTableAsGetCodeDoes) {
  quor_max_index = 2048;  // p = 2459: crowded, many collisions
  set_hash_prime();
  const u32 p = quor_hash_prime;
  struct Case {
    u32 n, small, large;  // variables, usual and occasional exponent bound
  };
  const Case cases[] = {{5, 3, 3}, {5, 2, 40}, {8, 3, 2000}, {25, 2, 9}};
  for (const Case& c : cases) {
    layout(c.n, 0);
    std::mt19937_64 rng(c.n * 31 + c.large);
    auto vec = [&] { return random_vec(rng, c.n, rng() % 50 == 0 ? c.large : c.small); };
    std::vector<std::vector<u64*>> polys(12);
    for (auto& terms : polys)
      for (u32 j = 0, k = 1 + u32(rng() % 40); j < k; ++j) terms.push_back(mono(vec()));
    Table_de_Recherche direct = dynamic_Table_de_Recherche(), fronted = dynamic_Table_de_Recherche();
    clear_Table_de_Recherche(direct);
    clear_Table_de_Recherche(fronted);
    ColumnIndex index;
    index.start(fronted, 2);
    u32 code;
    u64* rec;
    for (int row = 0; row < 70 && direct->count + 50 < p; ++row) {
      const std::vector<u64*>& terms = polys[rng() % polys.size()];
      u64* m = rng() % 5 ? mono(vec()) : nullptr;
      const u64 h = m ? m[0] : 0;
      const u64* w = m ? m + 1 : nullptr;
      std::vector<u32> codes(terms.size()), fresh;
      if (row % 3 == 1) {
        index.get_codes(h, w, terms.data(), 0, u32(terms.size()), codes.data(), [&](u32 k, u64* r) {
          fresh.push_back(k);
          ASSERT_EQ(index.words(k), r + 1);
        });
      } else if (row % 3 == 2 && index.indexed()) {
        // A team's read-only lookups, then the absent products entered in order.
        ColumnIndex::Key km = 0;
        const ColumnIndex::Key* keys = nullptr;
        for (u32 g = index.generation() + 1; g != index.generation() && index.indexed();) {
          g = index.generation();
          index.key_terms({{terms.data(), u32(terms.size())}}, 2);
          km = index.multiplier_key(w);
          keys = index.term_keys(terms.data(), u32(terms.size()));
        }
        std::vector<u32> absent(terms.size());
        for (u32 j = 0; j < terms.size(); ++j) absent[j] = j;
        if (keys) {
          absent.resize(index.find_codes(km, keys, 0, u32(terms.size()), codes.data(), absent.data()));
          for (u32 j = 0, a = 0; j < terms.size(); ++j)
            if (codes[j] == ColumnIndex::kAbsent) {
              ASSERT_EQ(absent.at(a++), j);
            }
        }
        // With the lookup keys where they still stand: a product that needs
        // wider keys, or one past a widening, goes the long way.
        const u32 gen = index.generation();
        for (u32 j : absent) {
          const i32 is_new = keys ? index.get_code_keyed(gen, km + keys[j], h, w, terms[j], &codes[j], &rec)
                                  : index.get_code(h, w, terms[j], &codes[j], &rec);
          if (is_new) fresh.push_back(codes[j]);
        }
      } else {
        for (u32 j = 0; j < terms.size(); ++j)
          if (index.get_code(h, w, terms[j], &codes[j], &rec)) fresh.push_back(codes[j]);
      }
      for (u32 j = 0, f = 0; j < terms.size(); ++j) {
        const i32 is_new = QUOR_NAME(get_code)(h, w, terms[j], direct, &code, &rec);
        ASSERT_EQ(codes[j], code);
        ASSERT_EQ(is_new, f < fresh.size() && fresh[f] == code);
        f += is_new;
        ASSERT_EQ(unpack(index.words(code)), unpack(rec + 1));
        ASSERT_EQ(index.words(code)[-1], rec[0]);
        if (!m && is_new) {
          ASSERT_EQ(index.words(code), terms[j] + 1);
        }
      }
      ASSERT_EQ(index.count(), direct->count);
      if (row == 35) index.sync();  // a sync in the middle changes nothing
    }
    index.sync();
    ASSERT_EQ(fronted->count, direct->count);
    for (u32 i = 0; i < p; ++i) {
      const Table_slot &a = direct->slots[i], &b = fronted->slots[i];
      ASSERT_EQ(a.monom != nullptr, b.monom != nullptr) << i;
      ASSERT_EQ(a.collision, b.collision) << i;
      if (a.monom) {
        ASSERT_EQ(a.code, b.code);
        ASSERT_EQ(unpack(a.monom), unpack(b.monom));
      }
      if (i < direct->count) {
        ASSERT_EQ(a.code_slot, b.code_slot);
      }
    }
    expect_probe_invariant(fronted);
  }

  // A full table is refused through the index as the table refuses it.
  Table_de_Recherche t = empty_table(512, 3);
  ColumnIndex index;
  index.start(t, 3);
  u32 code;
  u64* rec;
  u64* one = mono({0, 0, 0, 0});
  for (u32 e = 0; index.count() < quor_hash_prime; ++e) index.get_code(0, nullptr, mono({e % 30, e / 30, 0, 1}), &code, &rec);
  u64* x = mono({0, 0, 7, 7});
  EXPECT_TRUE(fatal_says([&] { index.get_code(x[0], x + 1, one, &code, &rec); },
                         "Sorry the size of the matrix is too big ![1] (the monomial table is full: " +
                             std::to_string(quor_hash_prime) + " monomials"));
}

// Products entered with their lookup keys: the first one needs wider keys,
// so those that follow come after a widening and must be found again under
// the new keys, as the table finds them.
QTEST_F(Monomial, KeyedEntriesAfterAWideningStayFindable) {
  Table_de_Recherche t = empty_table(2048, 3);
  ColumnIndex index;
  index.start(t, 2);  // slots of 2 bits: 3 fits, 4 does not
  std::vector<u64*> terms = {mono({3, 0, 0}), mono({0, 1, 0}), mono({0, 0, 1}), mono({1, 1, 1})};
  const u32 n = u32(terms.size());
  u64* m = mono({1, 0, 0});
  index.key_terms({{terms.data(), n}}, 2);
  const ColumnIndex::Key km = index.multiplier_key(m + 1);
  const ColumnIndex::Key* keys = index.term_keys(terms.data(), n);
  ASSERT_NE(keys, nullptr);
  std::vector<u32> codes(n), absent(n);
  ASSERT_EQ(index.find_codes(km, keys, 0, n, codes.data(), absent.data()), n);
  const u32 gen = index.generation();
  u64* rec;
  for (u32 j = 0; j < n; ++j) {
    EXPECT_EQ(index.get_code_keyed(gen, km + keys[j], m[0], m + 1, terms[j], &codes[j], &rec), 1);
    EXPECT_EQ(codes[j], j);
  }
  EXPECT_NE(index.generation(), gen);
  for (u32 j = 0; j < n; ++j) {
    u32 again;
    EXPECT_EQ(index.get_code(m[0], m + 1, terms[j], &again, &rec), 0) << j;
    EXPECT_EQ(again, j);
    EXPECT_EQ(unpack(rec + 1), unpack(index.words(j)));
  }
}

QUOR_TEST_END
