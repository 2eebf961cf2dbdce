// Tesk coefficient domains: GFC and VGF arithmetic against wide references,
// the default prime table, text and wire round trips, the VGF heap (saved
// states, compaction under adversarial layouts) and dense VGF algebra.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tesk/base/dense_vgf.h"
#include "tesk/base/gfc.h"
#include "tesk/base/string_or_file.h"
#include "tesk/base/vgf.h"

namespace tesk_coeffs_test {

using namespace tesk;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using u128 = unsigned __int128;
using Words = std::vector<u32>;
using vgf::TESK_BLOCK_SIZE;
using vgf::TESK_BLOCK_TABLE;

// In-memory channel of 32-bit words (the byte order is the channel's business).
struct Word_Buffer {
    Words w;
    std::size_t rd = 0;
    int flushes = 0;
};
void put_word(Word_Buffer& b, u32 w) { b.w.push_back(w); }
u32 get_word(Word_Buffer& b) { return b.w.at(b.rd++); }
void flush_words(Word_Buffer& b) { ++b.flushes; }

// Death tests: the fatal text goes to stderr, where EXPECT_EXIT looks.
void fatal_to_stderr(int status, const char* msg) {
    fputs(msg, stderr);
    _exit(status);
}
#define EXPECT_FATAL(stmt, re) \
    EXPECT_EXIT({ set_exit_hook(fatal_to_stderr); stmt; }, ::testing::ExitedWithCode(3), re)

// Memory the engine never gives back stays reachable.
template <class T> T* keep(T* p) {
    static auto* kept = new std::vector<void*>;
    kept->push_back((void*)p);
    return p;
}
u64 mulmod(u64 a, u64 b, u64 p) { return (u64)((u128)a * b % p); }
u64 powmod(u64 a, u64 e, u64 p) {
    u64 r = 1 % p;
    for (a %= p; e; e >>= 1, a = mulmod(a, a, p))
        if (e & 1) r = mulmod(r, a, p);
    return r;
}
// Deterministic below 2^32 with bases 2, 7, 61.
bool is_prime32(u64 n) {
    if (n < 2) return false;
    for (u64 d : {2, 3, 5, 7, 11, 13, 61})
        if (n % d == 0) return n == d;
    u64 d = n - 1;
    int s = 0;
    while (!(d & 1)) d >>= 1, ++s;
    for (u64 a : {2, 7, 61}) {
        u64 x = powmod(a, d, n);
        if (x == 1 || x == n - 1) continue;
        bool comp = true;
        for (int r = 1; r < s && comp; ++r)
            if ((x = mulmod(x, x, n)) == n - 1) comp = false;
        if (comp) return false;
    }
    return true;
}
// Decimal text modulo p, digit by digit.
u64 text_mod(const std::string& s, u64 p) {
    u64 r = 0;
    bool neg = false;
    for (char c : s) {
        if (c == '-') neg = true;
        if (c >= '0' && c <= '9') r = (r * 10 + (u64)(c - '0')) % p;
    }
    return neg && r ? p - r : r;
}
std::string random_decimal(std::mt19937_64& g, int digits, bool neg) {
    std::string s = neg ? "-" : "";
    s += (char)('1' + g() % 9);
    for (int i = 1; i < digits; ++i) s += (char)('0' + g() % 10);
    return s;
}

// ===========================================================================
// GFC
class GfcTest : public ::testing::Test {
protected:
    void SetUp() override { gfc::init_GFC(); }
};

TEST_F(GfcTest, ArithmeticMatchesWideReference) {
    using namespace tesk::gfc;
    std::mt19937_64 g(7);
    for (u32 p : {2u, 3u, 251u, 32749u, 65519u, 65521u}) {
        set_module_GFC(p);
        ASSERT_EQ(Modulo6, 1000000u % p);
        for (u32 x = 1; x < p; ++x) ASSERT_EQ(mulmod(x, inv(x), p), 1u) << p << " " << x;
        for (int t = 0; t < 20000; ++t) {
            u32 a = g() % p, b = g() % p, c = g() % p;
            if (t < 3) a = b = c = p - 1;
            ASSERT_EQ(mult(a, b), mulmod(a, b, p));
            u32 x = a;
            ASSERT_EQ(add_d(x, b), (a + b) % p);
            x = a;
            ASSERT_EQ(lin_d(x, b, c), (a + (u64)b * c) % p);
            ASSERT_EQ(minus(a), (p - a) % p);
            if (b) {
                ASSERT_EQ(mulmod(quot(a, b), b, p), a);
            }
            std::int64_t v = (std::int64_t)g();
            ASSERT_EQ(cGFC(v), (u32)(((v % (std::int64_t)p) + p) % p));
            std::int64_t e = (std::int64_t)(g() % 2000) - 1000;
            if (a) {
                ASSERT_EQ(exp(a, e), e >= 0 ? powmod(a, e, p) : powmod(inv(a), -e, p));
            }
        }
        // Binomials against Pascal's triangle; 0 outside 0 <= k <= n.
        std::vector<u64> row{1};
        for (int n = 1; n <= 60 && (u64)n < p; ++n) {
            std::vector<u64> next(n + 1, 1);
            for (int k = 1; k < n; ++k) next[k] = (row[k - 1] + row[k]) % p;
            row = next;
            for (int k = 0; k <= n; ++k) ASSERT_EQ(binomial_GFC(n, k), row[k]) << n << " " << k;
            ASSERT_EQ(binomial_GFC(n, n + 1), 0u);
        }
    }
}

TEST_F(GfcTest, TextWireAndBadModulus) {
    using namespace tesk::gfc;
    set_module_GFC(65521);
    std::mt19937_64 g(3);
    for (int t = 0; t < 200; ++t) {
        std::string s = random_decimal(g, 6 + t % 40, t & 1);
        ASSERT_EQ(String_to_GFC(s.c_str()), text_mod(s, 65521)) << s;
    }
    EXPECT_STREQ(keep(coerce_Cste_String(65520)), "65520");
    Word_Buffer b;
    out_domain_protocol_GFC(b);
    out_protocol_GFC(b, Uniq_GFC(42));
    out_GFC(b, Uniq_GFC(7));
    EXPECT_EQ(b.w, (Words{9, 65521, 10, 42, 7}));
    Word_Buffer r{{65521 + 5}};
    unsigned a = 0;
    read_QFGFC(r, a);  // a word from the wire is reduced
    EXPECT_EQ(a, 5u);
    EXPECT_FATAL(set_module_GFC(65535), "Prime must be < 65535");
    for (u32 p : {0u, 1u, 4u, 9u, 65534u}) EXPECT_FATAL(set_module_GFC(p), "is not a prime");
    EXPECT_FATAL(set_modules_GFC(nullptr, 2), "set_module_GFC not implemented");
}

// ===========================================================================
// VGF
class VgfTest : public ::testing::Test {
protected:
    void SetUp() override {
        want_offset_primes = 0;
        want_quiet = 1;
        set_VGF(1);
    }
    void TearDown() override {
        want_offset_primes = 0;
        want_raw_binary_output = 0;
    }
    static Words primes() { return Words(VGF::_prime._v, VGF::_prime._v + size_of_vectors); }
    static VGF vec(const Words& r) {
        VGF a;
        vgf::allocate(a);
        std::copy(r.begin(), r.end(), a._v);
        return a;
    }
    static Words val(VGF a) { return Words(a._v, a._v + size_of_vectors); }
    // Residue-wise expectation.
    template <class F> static Words each(F f) {
        Words e(size_of_vectors);
        for (unsigned i = 0; i < size_of_vectors; ++i) e[i] = (u32)f(i, (u64)VGF::_prime._v[i]);
        return e;
    }
};

TEST_F(VgfTest, DefaultPrimeTableIsExact) {
    const u32* t = Default_Primes32.data();
    EXPECT_EQ(Default_Primes32.size(), 20000u);
    EXPECT_EQ(t[0], 4294519813u);
    EXPECT_EQ(t[19999], 4294967291u);
    // Every entry prime, and nothing prime between entries or above the last.
    for (unsigned i = 0; i < 20000; ++i) {
        ASSERT_TRUE(is_prime32(t[i])) << t[i];
        u64 next = i + 1 < 20000 ? t[i + 1] : (u64(1) << 32);
        ASSERT_LT(t[i], next);
        for (u64 x = t[i] + 2; x < next; x += 2) ASSERT_FALSE(is_prime32(x)) << x;
    }
    set_VGF(3);
    EXPECT_EQ(primes(), (Words{4294967231u, 4294967279u, 4294967291u}));
    want_offset_primes = 1;
    set_VGF(1);
    EXPECT_EQ(primes(), Words{4294967279u});
}

TEST_F(VgfTest, ArithmeticMatchesWideReference) {
    using namespace tesk::vgf;
    std::mt19937_64 g(11);
    // The smallest primes the domain accepts stress the reductions most.
    Words low;
    for (u64 x = 0x80000001u; low.size() < 5; x += 2)
        if (is_prime32(x)) low.push_back((u32)x);
    for (unsigned k : {1u, 3u, 17u, 256u, 0u}) {
        if (k) set_VGF(k); else set_VGF(k = 5, low.data());
        Words p = primes();
        for (int t = 0; t < 300; ++t) {
            Words a(k), b(k), c(k);
            for (unsigned i = 0; i < k; ++i) {
                a[i] = g() % p[i], b[i] = g() % p[i], c[i] = g() % p[i];
                if (t == 0) a[i] = b[i] = c[i] = p[i] - 1;
                if (t == 1 && i % 2) b[i] = 0;
            }
            VGF A = vec(a), B = vec(b), C = vec(c);
            ASSERT_EQ(val(add(A, B)), each([&](unsigned i, u64 q) { return (a[i] + (u64)b[i]) % q; }));
            ASSERT_EQ(val(sub(A, B)), each([&](unsigned i, u64 q) { return (a[i] + q - b[i]) % q; }));
            ASSERT_EQ(val(mult(A, B)), each([&](unsigned i, u64 q) { return mulmod(a[i], b[i], q); }));
            VGF L = copy(A);
            lin_d(L, B, C);
            ASSERT_EQ(val(L), each([&](unsigned i, u64 q) { return ((u128)b[i] * c[i] + a[i]) % q; }));
            ASSERT_EQ(val(A), a);  // copy made a new vector
            if (t != 1) {
                VGF Q = quot(A, B);
                for (unsigned i = 0; i < k; ++i) ASSERT_EQ(mulmod(Q._v[i], b[i], p[i]), a[i]);
            }
            std::int64_t v = (std::int64_t)(g() % ((u64(1) << 33) - 1)) - (std::int64_t(1) << 32) + 1;
            ASSERT_EQ(val(cVGF(v)), each([&](unsigned, u64 q) { return ((__int128)v % q + q) % q; })) << v;
            std::string s = random_decimal(g, 1 + t % 60, t & 1);
            ASSERT_EQ(val(String_to_VGF(s.c_str())), each([&](unsigned, u64 q) { return text_mod(s, q); })) << s;
        }
        VGF m1 = cVGF(-1);
        EXPECT_TRUE(is_neg_one(m1));
        EXPECT_TRUE(is_one(mult(m1, m1)));
        EXPECT_TRUE(is_one(quot(m1, m1)));
        EXPECT_TRUE(comp_EQ(neg_d(copy(m1)), cVGF(1)));
    }
}

TEST_F(VgfTest, TextAndWireFormsReadBack) {
    using namespace tesk::vgf;
    auto fortran_text = [](VGF a) {
        FILE* f = tmpfile();
        Fortran_Print(f) << a;
        rewind(f);
        String_or_File src(f);
        std::string t;
        for (int c; (c = src.get_char()) != -1;) t += (char)c;
        return src.close(), t;
    };
    set_VGF(2);
    EXPECT_EQ(fortran_text(cVGF(-1)), "<4294967278 4294967290>");
    std::mt19937_64 g(5);
    set_VGF(4);
    VGF a = cVGF(0);
    for (unsigned i = 0; i < 4; ++i) a._v[i] = (u32)(g() % VGF::_prime._v[i]);
    // '<' form through a string source, after the opening character.
    std::string t = fortran_text(a);
    ASSERT_EQ(t[0], '<');
    String_or_File s1(strcpy(new char[t.size()], t.c_str() + 1));
    VGF b;
    parse_raw_VGF(s1, b, '<');
    s1.close();
    EXPECT_TRUE(comp_EQ(a, b));
    // '{' form (raw words) through a file source.
    FILE* f = tmpfile();
    want_raw_binary_output = 1;
    Fortran_Print(f) << a;
    want_raw_binary_output = 0;
    rewind(f);
    String_or_File s2(f);
    ASSERT_EQ(s2.get_char(), '{');
    VGF c;
    parse_raw_VGF(s2, c, '{');
    EXPECT_TRUE(comp_EQ(a, c));
    s2.close();

    set_VGF(2);
    a = cVGF(-2);
    Word_Buffer wire;
    out_domain_protocol_VGF(wire);
    out_protocol_VGF(wire, a);
    EXPECT_EQ(wire.w, (Words{172, 2, 4294967279u, 4294967291u, 173, 0, 171, 2, 4294967277u, 4294967289u}));
    wire.rd = 7;
    VGF r;
    LIRE_VGF(wire, r, get_word(wire));
    EXPECT_TRUE(comp_EQ(a, r));
    Word_Buffer one{{7}};
    read_QFVGF(one, r);  // a word from the wire is reduced into every residue
    EXPECT_TRUE(comp_EQ(r, cVGF(7)));
}

TEST_F(VgfTest, FatalConditions) {
    using namespace tesk::vgf;
    EXPECT_FATAL(inv(cVGF(0)), "not inversible for p=4294967291");
    EXPECT_FATAL(set_modules_VGF(nullptr, 1), "VGF is not compiled for 64bits");
    EXPECT_FATAL({ set_VGF(3); set_modules_VGF(nullptr, 2); },
                 "Size of the list of primes is 2 and should be >= 3");
    EXPECT_FATAL({ Word_Buffer b; VGF a; LIRE_VGF(b, a, 2); }, "Can't read a 2-vector \\(should be 1\\)");
    EXPECT_FATAL({ want_offset_primes = 19999; set_VGF(2); }, "Can't choose 2 primes");
    EXPECT_FATAL({ u32 p[1] = {65521}; set_VGF(1, p); }, "must be between");
}

// ===========================================================================
// Heap: each test runs on a private heap put in force with swap_with_State.
// Block tables handed to the heap are kept for the life of the process, as
// the heap keeps its blocks.
char** kept_table(unsigned n) { return keep(new char*[n]()); }

class HeapTest : public VgfTest {
protected:
    Garbage_State outer;
    char** table = kept_table(TESK_BLOCK_TABLE);
    void SetUp() override {
        VgfTest::SetUp();
        vgf::creat_alloc_Implement_VGF(TESK_BLOCK_TABLE, TESK_BLOCK_SIZE, table, outer);
        vgf::swap_with_State(outer);
    }
    void TearDown() override {
        vgf::swap_with_State(outer);
        VgfTest::TearDown();
    }
    static VGF tagged(u32 tag) { return vec(each([&](unsigned i, u64) { return tag * 7919u + i; })); }
    // Live vectors with known residues (the garbage between them is made by the test).
    struct Layout {
        std::vector<VGF> h;
        std::vector<Words> want;
        std::vector<VGF*> handles;
        void add(VGF v) { h.push_back(v); }
        // Records the residues and the handle list (in the given order) before a roll-back.
        void seal() {
            for (auto& v : h) want.push_back(val(v)), handles.push_back(&v);
        }
        void check() const {
            for (std::size_t i = 0; i < h.size(); ++i) ASSERT_EQ(val(h[i]), want[i]) << "handle " << i;
        }
    };
    // The four sliding compactions.
    static void compact(int variant, std::vector<VGF*>& hs) {
        using namespace tesk::vgf;
        const unsigned n = (unsigned)hs.size();
        if (variant == 0) compacteur_glissant(n, hs.data(), 0);
        if (variant == 1) compacteur_glissant_dbl(n, hs.data());
        if (variant == 2) other_compacteur_glissant(n, hs.data());
        if (variant == 3) compacteur_glissant_zone2(n, hs.data());
    }
};

TEST_F(HeapTest, BlockBoundariesAndStates) {
    using namespace tesk::vgf;
    char* first = new_Implement_VGF();
    for (int i = 1; i < 249999; ++i) new_Implement_VGF();
    EXPECT_EQ(cur_garbages, 1);
    char* next = new_Implement_VGF();  // would end exactly at the block end
    EXPECT_EQ(cur_garbages, 2);
    EXPECT_EQ(lost_bignum, 4u);
    EXPECT_TRUE(next < first || next >= first + TESK_BLOCK_SIZE);

    Garbage_State g;
    save_tesk_state_VGF(&g);
    char* a = new_Implement_VGF();
    new_Implement_VGF();
    restore_tesk_state_VGF(&g);
    EXPECT_EQ(new_Implement_VGF(), a);

    char* big = alloc_Implement_VGF(999999);  // served from a fresh block
    EXPECT_EQ(big, all_garbages[cur_garbages - 1]);
    char* tas = tesk_bignum_tas;
    EXPECT_NE(keep(alloc_Implement_VGF(1000000)), nullptr);  // bypasses the heap
    EXPECT_EQ(tesk_bignum_tas, tas);

    // Rolling back reuses the recorded blocks.
    int blocks = max_garbages;
    Garbage_State start{};
    restore_tesk_state_VGF(&start);
    for (int i = 0; i < 249999 * 3; ++i) new_Implement_VGF();
    EXPECT_EQ(max_garbages, blocks);
}

TEST_F(HeapTest, CompactionSlidesSurvivorsDown) {
    using namespace tesk::vgf;
    set_VGF(3);
    std::mt19937 g(1);
    for (int variant = 0; variant < 3; ++variant) {
        Layout L;
        L.add(tagged(1));  // below the mark
        Garbage_State mark;
        save_tesk_state_VGF(&mark);
        for (u32 i = 0; i < 400; ++i) {
            for (int j = g() % 3; j > 0; --j) tagged(999);
            L.add(tagged(i + 2));
        }
        VGF foreign(new u32[3]{1, 2, 3});  // not on the heap
        L.add(foreign);
        L.seal();
        // Handles given in shuffled order; a handle listed twice.
        std::shuffle(L.handles.begin(), L.handles.end(), g);
        L.handles.push_back(L.handles[5]);
        restore_tesk_state_VGF(&mark);
        unsigned runs = Nb_glisser_VGF();
        compact(variant, L.handles);
        EXPECT_EQ(Nb_glisser_VGF(), runs + (variant == 0));
        L.check();
        for (std::size_t i = 1; i <= 400; ++i) ASSERT_EQ((char*)L.h[i]._v, mark.tesk_bignum_tas + 12 * (i - 1)) << i;
        delete[] foreign._v;
    }
}

TEST_F(HeapTest, SharedVectorsSurviveEveryVariant) {
    using namespace tesk::vgf;
    set_VGF(2);
    tagged(0);
    for (int variant = 0; variant < 4; ++variant) {
        Garbage_State mark;
        save_tesk_state_VGF(&mark);
        // Packed at the mark: nothing moves, so a second copy of the shared
        // vector would land on its neighbour.
        Layout L;
        for (u32 i = 0; i < 6; ++i) L.add(tagged(i + 10 * variant));
        for (int shared : {2, 2, 4}) L.add(L.h[shared]);
        L.seal();
        std::reverse(L.handles.begin(), L.handles.end());
        restore_tesk_state_VGF(&mark);
        compact(variant, L.handles);
        L.check();
        EXPECT_EQ(L.h[2]._v, L.h[6]._v);
        EXPECT_EQ(L.h[2]._v, L.h[7]._v);
        EXPECT_EQ(L.h[4]._v, L.h[8]._v);
        if (variant < 3) {
            EXPECT_EQ(tesk_bignum_tas, mark.tesk_bignum_tas + 8 * 6);
        }
        // Sharing survives: an update through one handle shows through the other.
        add_d(L.h[6], cVGF(1));
        EXPECT_TRUE(comp_EQ(L.h[2], L.h[6]));
    }
}

TEST_F(HeapTest, BlocksOutOfAddressOrderAcrossBlocks) {
    using namespace tesk::vgf;
    // Three caller blocks recorded in descending address order.
    const unsigned part = TESK_BLOCK_SIZE + 64;
    std::vector<char> area(3 * part);
    char** tbl = kept_table(16);
    Garbage_State mine;
    creat_alloc_Implement_VGF(3, 16, 3 * part, tbl, mine, area.data());
    std::swap(tbl[0], tbl[2]);
    swap_with_State(mine);
    set_VGF(20000);  // 80,000 bytes: twelve vectors per block
    std::mt19937 g(9);
    for (int round = 0; round < 4; ++round) {
        Garbage_State mark;
        restore_State(mark);
        restore_tesk_state_VGF(&mark);
        tagged(0);
        save_tesk_state_VGF(&mark);
        Layout L;
        for (u32 i = 0; i < 30; ++i) {
            if (g() % 2) tagged(77);
            L.add(tagged(i + 100 * round));
        }
        L.add(L.h[3]);
        L.seal();
        std::shuffle(L.handles.begin(), L.handles.end(), g);
        restore_tesk_state_VGF(&mark);
        compact(0, L.handles);
        L.check();
    }
    swap_with_State(mine);
}

TEST_F(HeapTest, Zone2CompactionSlidesWithinZone2) {
    using namespace tesk::vgf;
    set_VGF(4);
    Layout L;
    for (u32 i = 0; i < 30; ++i) {
        tagged(0);
        L.add(tagged(i));
    }
    L.seal();
    compact(3, L.handles);  // from zone 1 into zone 2
    L.check();
    // Again from the start of zone 2: the vectors slide within it.
    reset_zone2();
    char* start = tesk_bignum_tas2;
    compact(3, L.handles);
    L.check();
    for (std::size_t i = 0; i < L.h.size(); ++i) EXPECT_EQ((char*)L.h[i]._v, start + 16 * i);
}

TEST_F(HeapTest, RestoreNeverReclaimsThePrimes) {
    using namespace tesk::vgf;
    Garbage_State mark;
    save_tesk_state_VGF(&mark);
    set_VGF(3);
    Words p = primes();
    restore_tesk_state_VGF(&mark);
    for (int i = 0; i < 100; ++i) pretend_VGF(0xFFFFFFFFu);
    EXPECT_EQ(primes(), p);
    EXPECT_TRUE(is_one(mult(cVGF(-1), cVGF(-1))));
    EXPECT_TRUE(comp_EQ(String_to_VGF("1000000000000"), mult(cVGF(1000000), cVGF(1000000))));
}

TEST_F(HeapTest, CallerAreasAndFreeBlocks) {
    using namespace tesk::vgf;
    EXPECT_FATAL({ Garbage_State s; char* t[2]; creat_alloc_Implement_VGF(2, 2, 2000001, t, s, nullptr); },
                 "must be a product of 2");
    EXPECT_FATAL({ Garbage_State s; char* t[2]; creat_alloc_Implement_VGF(2, 2, 1999998, t, s, nullptr); },
                 "at least 2\\*1000000 bytes");
    EXPECT_FATAL({ Garbage_State s; char* t[1]; creat_alloc_Implement_VGF(1, 999999, t, s, nullptr); },
                 "at least 1000000 bytes");
    std::vector<char> area(2 * TESK_BLOCK_SIZE);
    char** tbl = kept_table(8);
    Garbage_State mine;
    creat_alloc_Implement_VGF(2, 8, 2 * TESK_BLOCK_SIZE, tbl, mine, area.data());
    swap_with_State(mine);
    EXPECT_EQ(new_Implement_VGF(), area.data());
    swap_with_State(mine);
    int before = max_garbages;
    tranfert_free_State(mine);  // the second caller block was never used
    EXPECT_EQ(max_garbages, before + 1);
    EXPECT_EQ(all_garbages[max_garbages - 1], area.data() + TESK_BLOCK_SIZE);
    EXPECT_EQ(mine.max_garbages, 1u);
}

// ===========================================================================
// Dense vectors and matrices.
class DenseTest : public VgfTest {
protected:
    void SetUp() override {
        VgfTest::SetUp();
        want_pipe = 1;
        set_VGF(3);
    }
    static VGF rnd(std::mt19937_64& g, bool maybe_zero = false) {
        if (maybe_zero && g() % 4 == 0) return cVGF(0);
        return vec(each([&](unsigned, u64 q) { return g() % q; }));
    }
};

TEST_F(DenseTest, MiseAJourMatchesDirectComputation) {
    using namespace tesk::vgf;
    std::mt19937_64 g(21);
    const unsigned n = 7;
    for (auto [i, j] : std::vector<std::pair<unsigned, unsigned>>{{6, 0}, {4, 2}, {3, 2}, {6, 5}}) {
        SM__QFVGF M(n);
        V__QFVGF v(n);
        for (unsigned r = 0; r < n; ++r) {
            v[r] = rnd(g, r != i);
            for (unsigned c = 0; c < n; ++c) M.elt(r, c) = rnd(g, true);
        }
        M.elt(i, 1) = cVGF(0);  // a zero multiplier column
        // Expected, residue by residue with 128-bit products.
        for (unsigned t = 0; t < size_of_vectors; ++t) {
            u64 p = VGF::_prime._v[t];
            auto at = [&](unsigned r, unsigned c) { return (u64)M.elt(r, c)._v[t]; };
            std::vector<std::vector<u64>> want(n, std::vector<u64>(n));
            u64 ip = powmod(v[i]._v[t], p - 2, p);
            for (unsigned c = 0; c < n; ++c) {
                u64 q = mulmod(at(i, c), ip, p);
                for (unsigned r = 0; r < n; ++r) want[r][c] = at(r, c);
                want[i][c] = at(j + 1, c);
                want[j + 1][c] = q;
                for (unsigned r = 0; r < n; ++r)
                    if (r <= j || r > i) want[r][c] = (want[r][c] + p - mulmod(q, v[r]._v[t], p)) % p;
            }
            SM__QFVGF C(n);
            for (unsigned r = 0; r < n; ++r)
                for (unsigned c = 0; c < n; ++c) C.elt(r, c) = copy(M.elt(r, c));
            mise_a_jour(i, j, C, v, cVGF(0));
            for (unsigned r = 0; r < n; ++r)
                for (unsigned c = 0; c < n; ++c)
                    ASSERT_EQ(C.elt(r, c)._v[t], want[r][c]) << i << j << " " << r << c;
            C.kill();
        }
        M.kill();
        v.kill();
    }
}

TEST_F(DenseTest, ProductsAndScratchVector) {
    using namespace tesk::vgf;
    std::mt19937_64 g(4);
    for (unsigned n : {3u, 5u, 3u}) {  // the scratch vector grows, then is reused
        SM__QFVGF M(n);
        V__QFVGF v(n), r(n), w(n), x(n);
        for (unsigned a = 0; a < n; ++a) {
            v[a] = rnd(g);
            w[a] = rnd(g);
            x[a] = copy(w[a]);
            for (unsigned b = 0; b < n; ++b) M.elt(a, b) = rnd(g);
        }
        mul(M, v, r);
        for (unsigned a = 0; a < n; ++a)
            for (unsigned t = 0; t < size_of_vectors; ++t) {
                u128 s = 0;
                for (unsigned b = 0; b < n; ++b) s += (u128)M.elt(a, b)._v[t] * v[b]._v[t];
                EXPECT_EQ(r[a]._v[t], (u32)(s % VGF::_prime._v[t]));
            }
        v *= M;
        EXPECT_EQ(dim_du_vect_auxilaire, n);
        for (unsigned a = 0; a < n; ++a) EXPECT_TRUE(comp_EQ(r[a], v[a]));
        x.comb_lin(cVGF(2), w);
        x += w;
        for (unsigned a = 0; a < n; ++a) EXPECT_TRUE(comp_EQ(x[a], mult(cVGF(4), w[a])));
        M.kill();
        for (auto* m : {&v, &r, &w, &x}) m->kill();
    }
}

TEST_F(DenseTest, WireForms) {
    using namespace tesk::vgf;
    set_VGF(1);
    V__QFVGF v(2);
    v[0] = cVGF(0);
    v[1] = cVGF(5);
    Word_Buffer b;
    out_V__QFVGF(b, v);
    EXPECT_EQ(b.w, (Words{65, 1, 0, 1, 5}));
    V__QFVGF back(2);
    Word_Buffer raw{{9, 4294967291u}};
    back.read_V__QFVGF(raw);
    EXPECT_TRUE(comp_EQ(back[0], cVGF(9)));
    EXPECT_TRUE(is_zero(back[1]));  // reduced modulo the prime

    // Streaming row product: rows travel as [37][row number][coefficient].
    unsigned map[2] = {1, 0};
    Tesk_map = map;
    VGF cells[4];
    RM__QFVGF R{cells, 2, 4, 2};
    R.one();
    V__QFVGF x(2), r(2);
    x[0] = cVGF(3);
    x[1] = cVGF(4);
    Word_Buffer out;
    R.mult(x, r, out);
    EXPECT_EQ(out.w, (Words{37, 1, 1, 4, 37, 0, 1, 3}));
    EXPECT_EQ(out.flushes, 2);
    EXPECT_TRUE(is_one(R[1][1]));  // logical row 1 is physical row 0
    Tesk_map = nullptr;
    for (auto* m : {&v, &back, &x, &r}) m->kill();
}

}  // namespace tesk_coeffs_test
