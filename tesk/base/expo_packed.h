// Packed exponent vectors of the Tesk engine: the logic shared by BigDexp,
// BigLexp and DRLDRL, written once over a layout.
//
// A vector is an array of 64-bit storage words cut into slots of kBits bits
// (16 or 8), slot s being bits kBits*(s mod P) .. of word s/P, P = 64/kBits.
// The order reads the same memory as signed "order words" of kOBits bits
// (64, or 32 with the even word in the low half of a storage word).  Degree
// slots sit at the top of the first order word of their block, so one
// unsigned slot comparison and then one signed word comparison per word decide
// the order; products and quotients are word additions and subtractions, and
// divisibility is one masked subtraction per storage word.
//
// All of this is exact while every exponent is at most kMaxExp (2^15-1 or
// 2^7-1) and every block degree at most kMaxDeg (2^16-1 or 2^8-1).  The
// operations do not check their operands; the lcm check (zsup_verif_*) is
// where the engine sees a computation leave that range, and it ends it,
// unless an Overflow_Trap is set: then the trap records it, and the loop
// that set the trap gives up at a point where its records are whole.
//
// A layout L supplies (all static):
//   using V; kBits; kOBits; kDegBlocks (0: lexicographic, 1 or 2 blocks each
//   led by its degree); kName;
//   n(), k() (first-block length), words() (storage words), owords() (order
//   words), b1() (order words of block 1), phys(i) (slot of variable i),
//   var_of_slot(s) (variable in slot s, -1 for degree/padding slots),
//   deg_slot(b), div_mask(j) (sign bits of the variable slots of storage
//   word j), names(), extra(), list_start(header), overflow_flag().
#ifndef TESK_BASE_EXPO_PACKED_H
#define TESK_BASE_EXPO_PACKED_H

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "tesk/base/print.h"
#include "tesk/base/runtime.h"

namespace tesk {

// One storage word of each exponent type.  Distinct types so that overloads
// (printers, totalDegree) tell the vectors apart; a vector is handed around
// as a pointer to its first word.
struct BigDexp { std::uint64_t w; };
struct BigLexp { std::uint64_t w; };
struct DRLDRL { std::uint64_t w; };

// Size of the variable-name tables of the exponent types.
inline constexpr unsigned EXPO_NAME_TABLE = 2000;

// Room for a made-up variable name ("x%u" or one letter).
struct Var_Name {
    char buf[16];
};

namespace expo {

// While a trap lives, the lcm and range checks record a computation leaving
// the exact range in the innermost trap instead of ending the process; the
// owner asks tripped() at a safe point and gives up (by Range_Overflow,
// say).  Traps nest; each one sees only what happened while it was the
// innermost.
class Overflow_Trap {
public:
    Overflow_Trap();   // becomes the innermost trap
    ~Overflow_Trap();  // the enclosing one is the innermost again
    Overflow_Trap(const Overflow_Trap&) = delete;
    Overflow_Trap& operator=(const Overflow_Trap&) = delete;
    bool tripped() const { return tripped_; }
    // Records an overflow in the innermost trap: false when there is none.
    static bool catch_one();
    // True when the innermost trap has recorded an overflow.
    static bool innermost_tripped();

private:
    Overflow_Trap* outer_;
    bool tripped_ = false;
};

// Thrown by a computation that gave up on a tripped trap, its records released.
struct Range_Overflow {};

// Replicates a lane value over the 64 bits.
constexpr std::uint64_t lanes(unsigned bits, std::uint64_t x) {
    std::uint64_t r = 0;
    for (unsigned s = 0; s < 64; s += bits) r |= x << s;
    return r;
}

template <class L>
struct Packed {
    using V = typename L::V;
    static constexpr unsigned B = L::kBits;
    static constexpr unsigned P = 64 / B;  // slots per storage word
    static constexpr std::uint64_t kLane = (std::uint64_t{1} << B) - 1;
    static constexpr std::uint64_t kSign = lanes(B, std::uint64_t{1} << (B - 1));
    static constexpr unsigned kMaxExp = (1u << (B - 1)) - 1;
    static constexpr unsigned kMaxDeg = (1u << B) - 1;
    using OWord = std::conditional_t<L::kOBits == 64, std::int64_t, std::int32_t>;
    using UOWord = std::make_unsigned_t<OWord>;

    // The order compares order words as signed integers: the top lane of an
    // order word is a degree (equal when the words are compared) or a
    // variable whose exponent stays below the sign bit.
    static_assert(L::kOBits % B == 0 && 64 % L::kOBits == 0);

    // ---------------------------------------------------------------- slots
    static unsigned slots() { return L::words() * P; }
    static unsigned slot(const V* v, unsigned s) {
        return unsigned(v[s / P].w >> ((s % P) * B)) & unsigned(kLane);
    }
    static void set_slot(V* v, unsigned s, unsigned x) {
        const unsigned sh = (s % P) * B;
        v[s / P].w = (v[s / P].w & ~(kLane << sh)) | ((std::uint64_t(x) & kLane) << sh);
    }
    static OWord oword(const V* v, unsigned j) {
        if constexpr (L::kOBits == 64)
            return OWord(v[j].w);
        else
            return OWord(UOWord(v[j >> 1].w >> ((j & 1) * 32)));
    }
    // Degree block of variable i (0 for one-block types).
    static int block_of_var(unsigned i) { return (L::kDegBlocks == 2 && i >= L::k()) ? 1 : 0; }
    static int block_of_slot(unsigned s) {
        return (L::kDegBlocks == 2 && s >= L::b1() * (L::kOBits / B)) ? 1 : 0;
    }
    // Full lanes of the variable slots of storage word j.
    static std::uint64_t var_lanes(unsigned j) { return (L::div_mask(j) >> (B - 1)) * kLane; }

    // ------------------------------------------------------ single variables
    static unsigned extraire(const V* v, unsigned i) { return slot(v, L::phys(i)); }
    static void ranger(V* v, unsigned e, unsigned i) {
        const unsigned s = L::phys(i);
        if constexpr (L::kDegBlocks > 0) {
            const unsigned d = L::deg_slot(block_of_var(i));
            set_slot(v, d, slot(v, d) - slot(v, s) + e);
        }
        set_slot(v, s, e);
    }
    static void ranger_add(V* v, unsigned d, unsigned i) { ranger(v, extraire(v, i) + d, i); }
    static unsigned totalDegree(const V* v) {
        if (L::words() == 0) return 0;
        if constexpr (L::kDegBlocks == 1) {
            return slot(v, L::deg_slot(0));
        } else if constexpr (L::kDegBlocks == 2) {
            return slot(v, L::deg_slot(0)) + slot(v, L::deg_slot(1));
        } else {
            unsigned t = 0;
            for (unsigned s = 0, S = slots(); s < S; ++s) t += slot(v, s);
            return t;
        }
    }

    // -------------------------------------------------------- whole vectors
    static int null(const V* v) {
        for (unsigned j = 0, W = L::words(); j < W; ++j)
            if (v[j].w) return 0;
        return 1;
    }
    static void set_null(V* v) {
        for (unsigned j = 0, W = L::words(); j < W; ++j) v[j].w = 0;
    }
    static void copy(V* d, const V* s) {
        for (unsigned j = 0, W = L::words(); j < W; ++j) d[j].w = s[j].w;
    }
    static int eq(const V* a, const V* b) {
        for (unsigned j = 0, W = L::words(); j < W; ++j)
            if (a[j].w != b[j].w) return 0;
        return 1;
    }
    static int eq(const V* a, const V* b, const V* c) {
        for (unsigned j = 0, W = L::words(); j < W; ++j)
            if (a[j].w != b[j].w + c[j].w) return 0;
        return 1;
    }
    static int eq(const V* a, const V* b, const V* c, const V* d) {
        for (unsigned j = 0, W = L::words(); j < W; ++j)
            if (a[j].w + b[j].w != c[j].w + d[j].w) return 0;
        return 1;
    }
    // c may be a or b.
    static V* add(const V* a, const V* b, V* c) {
        for (unsigned j = 0, W = L::words(); j < W; ++j) c[j].w = a[j].w + b[j].w;
        return c;
    }
    static V* sub(const V* a, const V* b, V* c) {
        for (unsigned j = 0, W = L::words(); j < W; ++j) c[j].w = a[j].w - b[j].w;
        return c;
    }

    // ---------------------------------------------------------- divisibility
    // One masked subtraction per word: for lanes 0 <= a_s, b_s <= kMaxExp the
    // lane difference lies strictly between -2^(B-1) and 2^(B-1), so its sign
    // bit is set exactly when b_s > a_s; a borrow out of a failing lane only
    // changes lanes above it, and the test has already failed.  Degree lanes
    // are left out of the mask: they may reach kMaxDeg, and when every
    // variable lane of b is at most a's, so is the degree (no borrow).
    static_assert(2 * kMaxExp < (1u << B), "lane difference must fit below the sign bit");
    static_assert(kSign == lanes(B, kMaxExp + 1), "mask = the sign bit of every lane");
    static int is_sub(const V* a, const V* b) {
        for (unsigned j = 0, W = L::words(); j < W; ++j)
            if ((a[j].w - b[j].w) & L::div_mask(j)) return 0;
        return 1;
    }
    // Divisibility with b's exponent of the last variable taken as 0.
    static int is_homog_sub(const V* a, const V* b) {
        const unsigned n = L::n();
        if (n == 0) return is_sub(a, b);
        const unsigned s = L::phys(n - 1);
        const unsigned jh = s / P;
        const std::uint64_t keep = ~(kLane << ((s % P) * B));
        // b's block degree drops by the ignored exponent too, or a degree lane
        // could borrow from the variable above it.
        unsigned jd = ~0u;
        std::uint64_t drop = 0;
        if constexpr (L::kDegBlocks > 0) {
            const unsigned ds = L::deg_slot(block_of_var(n - 1));
            jd = ds / P;
            drop = std::uint64_t(slot(b, s)) << ((ds % P) * B);
        }
        for (unsigned j = 0, W = L::words(); j < W; ++j) {
            std::uint64_t bj = j == jh ? (b[j].w & keep) : b[j].w;
            if (j == jd) bj -= drop;
            if ((a[j].w - bj) & L::div_mask(j)) return 0;
        }
        return 1;
    }
    // Divisibility with b's second-block exponents taken as 0.
    static int is_block1_sub(const V* a, const V* b) {
        if constexpr (L::kDegBlocks < 2) {
            return is_sub(a, b);
        } else {
            const unsigned bits = L::b1() * L::kOBits;  // bits of block 1
            const unsigned full = bits / 64;
            for (unsigned j = 0; j < full; ++j)
                if ((a[j].w - b[j].w) & L::div_mask(j)) return 0;
            if (bits % 64) {
                const std::uint64_t low = (std::uint64_t{1} << (bits % 64)) - 1;
                if ((a[full].w - (b[full].w & low)) & L::div_mask(full) & low) return 0;
            }
            return 1;
        }
    }
    // Every slot of a, degrees included, at least b's.
    static int is_sub_intel(const V* a, const V* b) {
        for (unsigned s = 0, S = slots(); s < S; ++s)
            if (slot(a, s) < slot(b, s)) return 0;
        return 1;
    }
    // a := a / b when b divides a slot by slot (degrees included), returning
    // 1; otherwise 0 and a unchanged.
    static int is_sub_and_do(V* a, const V* b) {
        if (!is_sub_intel(a, b)) return 0;
        sub(a, b, a);
        return 1;
    }

    // ------------------------------------------------------------ lcm / gcd
    // c := slot-wise max (Max) or min over the variable slots, degree slots
    // := the 32-bit sums of their blocks (truncated).  Returns the sums.
    template <bool Max>
    static void zfold(const V* a, const V* b, V* c, std::uint32_t sums[2]) {
        sums[0] = sums[1] = 0;
        for (unsigned j = 0, W = L::words(); j < W; ++j) {
            const std::uint64_t x = a[j].w, y = b[j].w, vl = var_lanes(j);
            std::uint64_t r = 0;
            for (unsigned l = 0; l < P; ++l) {
                const unsigned sh = l * B;
                if (!((vl >> sh) & 1)) continue;
                const std::uint64_t xa = (x >> sh) & kLane, yb = (y >> sh) & kLane;
                const std::uint64_t m = Max ? (xa > yb ? xa : yb) : (xa < yb ? xa : yb);
                r |= m << sh;
                sums[block_of_slot(j * P + l)] += std::uint32_t(m);
            }
            c[j].w = r;
        }
        if (L::words() == 0) return;
        if constexpr (L::kDegBlocks >= 1) set_slot(c, L::deg_slot(0), sums[0]);
        if constexpr (L::kDegBlocks == 2) set_slot(c, L::deg_slot(1), sums[1]);
    }
    static V* zsup(const V* a, const V* b, V* c) {
        std::uint32_t s[2];
        zfold<true>(a, b, c, s);
        return c;
    }
    static V* zinf(const V* a, const V* b, V* c) {
        std::uint32_t s[2];
        zfold<false>(a, b, c, s);
        return c;
    }
    // As zsup; fatal when the lcm leaves the exact range: "Depassement du degre %d !"
    // for a block's degree, else "Exponent overflow: <var>^<e> (at most ...)";
    // recorded instead while an Overflow_Trap lives.
    static V* zsup_verif(const V* a, const V* b, V* c);
    // The same fatal error when v (its degree slots aside) leaves the exact range.
    static void check_range(const V* v);
    // True when a + b (each within the exact range) is within it too: the
    // product check of the reductions, whose tails may pass the range that
    // their leading terms keep.
    static bool sum_in_range(const V* a, const V* b) {
        std::uint64_t over = 0;
        for (unsigned j = 0, W = L::words(); j < W; ++j) over |= (a[j].w + b[j].w) & L::div_mask(j);
        if constexpr (L::kDegBlocks > 0)
            for (int blk = 0; blk < L::kDegBlocks; ++blk)
                if (slot(a, L::deg_slot(blk)) + slot(b, L::deg_slot(blk)) > kMaxDeg) return false;
        return over == 0;
    }
    // True when m + e is within the exact range for every e of a polynomial
    // led by `lead` (m and lead within it): in one graded block e's degree
    // is at most lead's, and a degree within kMaxExp bounds every exponent.
    static bool products_in_range(const V* m, const V* lead) {
        if constexpr (L::kDegBlocks == 0) {
            return false;
        } else {
            if (L::kDegBlocks == 2 && L::k() < L::n()) return false;  // the second block's degree is not bounded
            return slot(m, L::deg_slot(0)) + slot(lead, L::deg_slot(0)) <= kMaxExp;
        }
    }
    // a + b has left the exact range: Range_Overflow under an Overflow_Trap
    // (recorded in it), else the lcm check's fatal error naming a + b's
    // exponent or degree.
    [[noreturn]] static void sum_overflow(const V* a, const V* b);
    // The degree to report when c with block degrees sums leaves the exact range, else 0.
    static std::uint32_t past_range(const V* c, const std::uint32_t sums[2]);

    // Every slot, degrees included, times s (B-bit wrap): the s-th power.
    static V* zscal(unsigned s, V* v) {
        for (unsigned j = 0, W = L::words(); j < W; ++j) {
            std::uint64_t r = 0;
            for (unsigned l = 0; l < P; ++l)
                r |= ((((v[j].w >> (l * B)) & kLane) * s) & kLane) << (l * B);
            v[j].w = r;
        }
        return v;
    }

    // ------------------------------------------------------------ the order
    // 1 when a > b, -1 when a < b, 0 when equal.  Prod: compare a with b*c
    // (degree sums unwrapped, word sums wrapping).  Rev: word sense reversed.
    template <bool Rev, bool Prod>
    static int order(const V* a, const V* b, const V* c) {
        const unsigned W = L::owords();
        auto wb = [&](unsigned j) {
            if constexpr (Prod) return OWord(UOWord(UOWord(oword(b, j)) + UOWord(oword(c, j))));
            else return oword(b, j);
        };
        if constexpr (L::kDegBlocks == 0) {
            for (unsigned j = 0; j < W; ++j) {
                const OWord x = oword(a, j), y = wb(j);
                if (x != y) return (x > y) != Rev ? 1 : -1;
            }
            return 0;
        } else {
            if (W == 0) return 0;
            unsigned j = 0;
            for (int blk = 0; blk < L::kDegBlocks; ++blk) {
                const unsigned ds = L::deg_slot(blk);
                const std::uint32_t da = slot(a, ds);
                std::uint32_t db = slot(b, ds);
                if constexpr (Prod) db += slot(c, ds);
                if (da != db) return da > db ? 1 : -1;
                const unsigned end = blk + 1 < L::kDegBlocks ? L::b1() : W;
                for (; j < end; ++j) {
                    const OWord x = oword(a, j), y = wb(j);
                    if (x != y) return (x < y) != Rev ? 1 : -1;
                }
            }
            return 0;
        }
    }
    static int greater(const V* a, const V* b) { return order<false, false>(a, b, nullptr); }
    static int greater(const V* a, const V* b, const V* c) { return order<false, true>(a, b, c); }
    static int rev_greater(const V* a, const V* b) { return order<true, false>(a, b, nullptr); }
    // Variable by variable from variable 0: 1 when a's exponent is larger.
    static int lex_greater(const V* a, const V* b) {
        if constexpr (L::kDegBlocks == 0) {
            return greater(a, b);
        } else {
            for (unsigned i = 0, n = L::n(); i < n; ++i) {
                const unsigned x = extraire(a, i), y = extraire(b, i);
                if (x != y) return x > y ? 1 : -1;
            }
            return 0;
        }
    }
    static int greater2(const V* a, const V* b) {
        for (unsigned i = 0, n = L::n(); i < n; ++i) {
            const unsigned x = extraire(a, i), y = extraire(b, i);
            if (x != y) return x > y ? -1 : 1;
        }
        return 0;
    }
    static int optim(const V* a, const V* b) { return totalDegree(a) == totalDegree(b); }

    // ---------------------------------------------------------------- hashes
    static constexpr std::uint32_t kHashPrime = 16777213;
    static unsigned Hash(const V* v, unsigned seed) {
        std::uint32_t h = seed;
        for (unsigned j = L::words(); j-- > 0;)
            h += std::uint32_t(std::int64_t(v[j].w) % std::int64_t(kHashPrime));
        return h % kHashPrime;
    }
    // Slots from the last down, h := ((h << B) + slot) mod m; the first slot
    // is taken unreduced.  m must not be 0.
    static unsigned hash(const V* v, unsigned m) {
        const unsigned S = slots();
        if (S == 0) return 0;
        std::uint32_t h = slot(v, S - 1);
        for (unsigned s = S - 1; s-- > 0;) h = std::uint32_t((h << B) + slot(v, s)) % m;
        return h;
    }
    // hash of the product a*b, from the slot sums.
    static unsigned hash(const V* a, const V* b, unsigned m) {
        const unsigned S = slots();
        if (S == 0) return 0;
        std::uint32_t h = slot(a, S - 1) + slot(b, S - 1);
        for (unsigned s = S - 1; s-- > 0;)
            h = std::uint32_t((h << B) + slot(a, s) + slot(b, s)) % m;
        return h;
    }

    // ------------------------------------------------------- pure powers etc.
    // Variable index of a pure power (exponent into e), -1 otherwise.
    static int is_power(const V* v, unsigned& e) {
        int found = -1;
        for (unsigned j = 0, W = L::words(); j < W; ++j) {
            const std::uint64_t x = v[j].w & var_lanes(j);
            if (!x) continue;
            if (found >= 0) return -1;
            const unsigned l = unsigned(__builtin_ctzll(x)) / B;
            if (x & ~(kLane << (l * B))) return -1;
            found = int(j * P + l);
        }
        if (found < 0) return -1;
        e = slot(v, unsigned(found));
        return L::var_of_slot(unsigned(found));
    }
    static int slow_is_power(const V* v, unsigned& e) {
        int idx = -1;
        unsigned ex = 0;
        for (unsigned i = 0, n = L::n(); i < n; ++i) {
            const unsigned x = extraire(v, i);
            if (!x) continue;
            if (idx >= 0) return -1;
            idx = int(i);
            ex = x;
        }
        if (idx >= 0) e = ex;
        return idx;
    }
    // 1 + index of the first variable with a nonzero exponent (exponent into
    // *e when given); -1 when none.
    static int main_variable(const V* v, unsigned* e) {
        for (unsigned i = 0, n = L::n(); i < n; ++i)
            if (const unsigned x = extraire(v, i)) {
                if (e) *e = x;
                return int(i) + 1;
            }
        return -1;
    }
    static int is_eliminated(const V* v, unsigned k) {
        for (unsigned i = 0; i < k; ++i)
            if (extraire(v, i)) return 0;
        return 1;
    }
    static int is_sym_orbit(const V* v) {
        for (unsigned i = 1, n = L::n(); i < n; ++i)
            if (extraire(v, i) > extraire(v, i - 1)) return 0;
        return 1;
    }
    // d := the order words [from, to) of v, the others zero.
    static void keep_owords(V* d, const V* v, unsigned from, unsigned to) {
        constexpr unsigned per = 64 / L::kOBits;
        for (unsigned j = 0, W = L::words(); j < W; ++j) {
            std::uint64_t m = 0;
            for (unsigned h = 0; h < per; ++h) {
                const unsigned o = j * per + h;
                if (o >= from && o < to) m |= (~std::uint64_t{0} >> (64 - L::kOBits)) << (h * L::kOBits);
            }
            d[j].w = v[j].w & m;
        }
    }
    static void extract_block1(V* d, const V* v) {
        if constexpr (L::kDegBlocks == 2) keep_owords(d, v, 0, L::b1());
        else copy(d, v);
    }
    static void extract_block2(V* d, const V* v) {
        if constexpr (L::kDegBlocks == 2) keep_owords(d, v, L::b1(), L::owords());
        else set_null(d);
    }
    // In place: the exponent of variable i moves to variable p[i].
    static void permut(V* v, const unsigned* p);
    // d := 0, then slot i of s into slot p[i] of d for i < n, degree slots of
    // d from s.
    static void permut_fast(V* d, const V* s, const unsigned* p) {
        set_null(d);
        for (unsigned i = 0, n = L::n(); i < n; ++i) set_slot(d, p[i], slot(s, i));
        if (L::words() == 0) return;
        if constexpr (L::kDegBlocks >= 1) set_slot(d, L::deg_slot(0), slot(s, L::deg_slot(0)));
    }
    // Reverses all slots in place.
    static void mirror(V* v) {
        for (unsigned s = 0, S = slots(); s < S / 2; ++s) {
            const unsigned x = slot(v, s), y = slot(v, S - 1 - s);
            set_slot(v, s, y);
            set_slot(v, S - 1 - s, x);
        }
    }

    // ------------------------------------------------------ flat exponents
    using Flat = std::conditional_t<B == 16, std::uint16_t, std::uint8_t>;
    static unsigned size_memory_buf() { return L::n() * unsigned(sizeof(Flat)); }
    static unsigned out_memory(void* buf, const V* v) {
        const unsigned n = L::n();
        for (unsigned i = 0; i < n; ++i) {
            const Flat x = Flat(extraire(v, i));
            std::memcpy(static_cast<char*>(buf) + i * sizeof(Flat), &x, sizeof(Flat));
        }
        return n;
    }
    static unsigned parse_memory(const void* buf, V* v) {
        const unsigned n = L::n();
        set_null(v);
        for (unsigned i = 0; i < n; ++i) {
            Flat x;
            std::memcpy(&x, static_cast<const char*>(buf) + i * sizeof(Flat), sizeof(Flat));
            ranger(v, x, i);
        }
        return n;
    }

    // --------------------------------------------------------------- names
    // Name of variable i: global_List_variables, else the type's table, else
    // made_up_name(i, n); "?" for a null entry.
    static const char* var_name(unsigned i, Var_Name& nb);
    // The name given to variable i of n unnamed ones: "x<i+1>" (more than 9) or one letter.
    static const char* made_up_name(unsigned i, unsigned n, Var_Name& nb);
    // Fatal, as the lcm check, when exps (n unsigned exponents in variable
    // order) leave the exact range; the first `lead` variables (a tag) are
    // not the user's, whose made-up names are then counted after them.
    static void check_exponents(const std::uint16_t* exps, unsigned lead);
    static unsigned Hash_variable(unsigned i);
    static unsigned Hash_domain(unsigned seed);

    // -------------------------------------------------------------- printers
    static Fortran_Print fortran(Fortran_Print p, const V* v);
    static Tex_Print tex(Tex_Print p, const V* v);
    static Posso_Print posso(Posso_Print p, const V* v);
    static Lib_Print lib(Lib_Print p, const V* v);
    static Basic_Print zpretty(Basic_Print p, const V* v);
    static void zprint(const V* v);
    static void rawOutput(const V* v);
    static void afficherHeader(bool to_stderr);
    static void display_list_of_vars();
    static void assign_list_of_vars();
    static Posso_Print out_posso_txt(Posso_Print p);
};

// Clears the entries of a name table from `from` (at least 0) to the end.
void clear_names(char** t, int from);

// ------------------------------------------------------------ wire forms
// The exponent writers are templates over the channel type C.  They need,
// found by argument-dependent lookup in C's namespace (the words travel in
// protocol order, which the channel sees to):
//   void put_word(C&, std::uint32_t w);   // one raw 32-bit word (ecrirei)
//   void put_half(C&, std::uint16_t h);   // one raw 16-bit value (ecrires)
//   void put_atom(C&, const char* s);     // an atom item [56][len][bytes] (out_Atome)
namespace wire_codes {
inline constexpr std::uint32_t kDirpcat = 12;            // one exponent vector
inline constexpr std::uint32_t kSetNbVar = 13;           // number of variables
inline constexpr std::uint32_t kSetNbBlock = 85;         // variables and first block
inline constexpr std::uint32_t kListVariables = 170;     // the variable names
}  // namespace wire_codes

template <class L, class C>
void out_domain_protocol(C& ch) {
    if constexpr (L::kDegBlocks == 2) {
        put_word(ch, wire_codes::kSetNbBlock);
        put_word(ch, L::n());
        put_word(ch, L::k());
    } else {
        put_word(ch, wire_codes::kSetNbVar);
        put_word(ch, L::n());
    }
}
// The first `count` exponents, each as an unsigned 16-bit value.
template <class L, class C>
void out_exponents(C& ch, const typename L::V* v, unsigned count) {
    for (unsigned i = 0; i < count; ++i) put_half(ch, std::uint16_t(Packed<L>::extraire(v, i)));
}
// [12] then the exponents; with flag set the last (homogenising) variable is left out.
template <class L, class C>
void out_protocol(C& ch, const typename L::V* v, int flag) {
    put_word(ch, wire_codes::kDirpcat);
    const unsigned n = L::n();
    out_exponents<L>(ch, v, flag && n ? n - 1 : n);
}
// The domain words, [170], then one atom per entry of the name table ("" for none).
template <class L, class C>
void out_liste(C& ch) {
    out_domain_protocol<L>(ch);
    put_word(ch, wire_codes::kListVariables);
    char** t = L::names();
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        const char* s = i < EXPO_NAME_TABLE ? t[i] : nullptr;
        put_atom(ch, s ? s : "");
    }
}

}  // namespace expo

// ---------------------------------------------------------------------------
// The vocabulary every exponent type offers, with the type as suffix.  T is
// the vector word type, L its layout.  Operations on raw vectors; results go
// into vectors the caller supplies; nothing allocates.
#define TESK_EXPO_VOCABULARY(T, L)                                                              \
    /* number of variables / of the first / of the second block */                             \
    inline unsigned Nombre_variables_##T() { return L::n(); }                                   \
    inline unsigned nb_first_block_##T() { return L::k(); }                                     \
    inline unsigned nb_second_block_##T() { return L::n() > L::k() ? L::n() - L::k() : 0; }    \
    /* slot index of variable i */                                                              \
    inline unsigned phys_index_##T(unsigned i) { return L::phys(i); }                           \
    /* exponent of variable i */                                                                \
    inline unsigned extraire_##T(const T* v, unsigned i) { return expo::Packed<L>::extraire(v, i); } \
    /* exponent of variable i := e, its block degree adjusted (wrapping) */                    \
    inline void ranger_##T(T* v, unsigned e, unsigned i) { expo::Packed<L>::ranger(v, e, i); }  \
    /* exponent of variable i += d */                                                           \
    inline void ranger_add_##T(T* v, unsigned d, unsigned i) { expo::Packed<L>::ranger_add(v, d, i); } \
    /* total degree */                                                                          \
    inline unsigned totalDegree_##T(const T* v) { return expo::Packed<L>::totalDegree(v); }     \
    /* 1 when every word is 0 (the unit monomial) */                                           \
    inline int null_##T(const T* v) { return expo::Packed<L>::null(v); }                       \
    inline void set_null_##T(T* v) { expo::Packed<L>::set_null(v); }                            \
    inline void copy_##T(T* dst, const T* src) { expo::Packed<L>::copy(dst, src); }             \
    /* a = b; a = b*c; a*b = c*d (word sums) */                                                 \
    inline int eq_##T(const T* a, const T* b) { return expo::Packed<L>::eq(a, b); }             \
    inline int eq_##T(const T* a, const T* b, const T* c) { return expo::Packed<L>::eq(a, b, c); } \
    inline int eq_##T(const T* a, const T* b, const T* c, const T* d) {                          \
        return expo::Packed<L>::eq(a, b, c, d);                                                 \
    }                                                                                           \
    /* c := a*b; returns c (c may be a or b) */                                                 \
    inline T* add_##T(const T* a, const T* b, T* c) { return expo::Packed<L>::add(a, b, c); }   \
    /* c := a/b, valid when b divides a; returns c */                                           \
    inline T* sub_##T(const T* a, const T* b, T* c) { return expo::Packed<L>::sub(a, b, c); }   \
    /* 1 when b divides a */                                                                    \
    inline int is_sub_##T(const T* a, const T* b) { return expo::Packed<L>::is_sub(a, b); }     \
    /* 1 when b, its second block ignored, divides a */                                         \
    inline int is_block1_sub_##T(const T* a, const T* b) { return expo::Packed<L>::is_block1_sub(a, b); } \
    /* 1 when b, its last variable ignored, divides a */                                        \
    inline int is_homog_sub_##T(const T* a, const T* b) { return expo::Packed<L>::is_homog_sub(a, b); } \
    /* c := lcm / gcd of a and b, degrees rebuilt; returns c */                                 \
    inline T* zsup_##T(const T* a, const T* b, T* c) { return expo::Packed<L>::zsup(a, b, c); } \
    inline T* zinf_##T(const T* a, const T* b, T* c) { return expo::Packed<L>::zinf(a, b, c); } \
    /* as zsup; warns once when the lcm leaves the exact range */                               \
    inline T* zsup_verif_##T(const T* a, const T* b, T* c) { return expo::Packed<L>::zsup_verif(a, b, c); } \
    /* v := v^s (every slot times s, wrapping); returns v */                                    \
    inline T* zscal_##T(unsigned s, T* v) { return expo::Packed<L>::zscal(s, v); }              \
    /* a := a/b and 1 when every slot of b is at most a's; else 0, a unchanged */              \
    inline int is_sub_and_do_##T(T* a, const T* b) { return expo::Packed<L>::is_sub_and_do(a, b); } \
    /* 1 when every slot of a is at least b's */                                                \
    inline int is_sub_intel_##T(const T* a, const T* b) { return expo::Packed<L>::is_sub_intel(a, b); } \
    /* index of the variable of a pure power (exponent into e), else -1 */                     \
    inline int is_power_##T(const T* v, unsigned& e) { return expo::Packed<L>::is_power(v, e); } \
    inline int slow_is_power_##T(const T* v, unsigned& e) { return expo::Packed<L>::slow_is_power(v, e); } \
    /* 1 + index of the first variable present, -1 when none */                                \
    inline int mainVariable_##T(const T* v) { return expo::Packed<L>::main_variable(v, nullptr); } \
    /* 1 when variables 0 .. k-1 are absent */                                                  \
    inline int is_eliminated_##T(const T* v, unsigned k) { return expo::Packed<L>::is_eliminated(v, k); } \
    /* 1 when the exponents do not increase from variable 0 to n-1 */                          \
    inline int is_sym_orbit_##T(const T* v) { return expo::Packed<L>::is_sym_orbit(v); }       \
    /* d := the first-block part / the second-block part of v */                               \
    inline void extract_block1_##T(T* d, const T* v) { expo::Packed<L>::extract_block1(d, v); } \
    inline void extract_block2_##T(T* d, const T* v) { expo::Packed<L>::extract_block2(d, v); } \
    /* in place: the exponent of variable i moves to variable p[i] */                          \
    inline void permut_##T(T* v, const unsigned* p) { expo::Packed<L>::permut(v, p); }          \
    /* 1 when the degrees are equal */                                                          \
    inline int optim_##T(const T* a, const T* b) { return expo::Packed<L>::optim(a, b); }       \
    /* hash of the words mod 16777213, from seed */                                             \
    inline unsigned Hash_##T(const T* v, unsigned seed) { return expo::Packed<L>::Hash(v, seed); } \
    /* slot hash mod m (m > 0); of the product a*b without forming it */                       \
    inline unsigned hash_##T(const T* v, unsigned m) { return expo::Packed<L>::hash(v, m); }    \
    inline unsigned hash_##T(const T* a, const T* b, unsigned m) { return expo::Packed<L>::hash(a, b, m); } \
    /* bytes of a flat copy; write / read the n exponents in variable order (returns n) */      \
    inline unsigned size_memory_buf_##T() { return expo::Packed<L>::size_memory_buf(); }        \
    inline unsigned out_memory_##T(void* buf, const T* v) { return expo::Packed<L>::out_memory(buf, v); } \
    inline unsigned parse_memory_##T(const void* buf, T* v) { return expo::Packed<L>::parse_memory(buf, v); } \
    /* the order: 1 when a > b (a > b*c), -1 when smaller, 0 when equal */                      \
    inline int greater_##T(const T* a, const T* b) { return expo::Packed<L>::greater(a, b); }   \
    inline int greater_##T(const T* a, const T* b, const T* c) { return expo::Packed<L>::greater(a, b, c); } \
    /* the order with the words' sense reversed */                                              \
    inline int rev_greater_##T(const T* a, const T* b) { return expo::Packed<L>::rev_greater(a, b); } \
    /* lexicographic from variable 0: 1 when a is greater / -1 when a is greater */            \
    inline int lex_greater_##T(const T* a, const T* b) { return expo::Packed<L>::lex_greater(a, b); } \
    inline int greater2_##T(const T* a, const T* b) { return expo::Packed<L>::greater2(a, b); } \
    /* name of variable i (buf holds made-up names) */                                          \
    inline const char* affiche_variable_##T(unsigned i, Var_Name& buf) {                        \
        return expo::Packed<L>::var_name(i, buf);                                               \
    }                                                                                           \
    /* Hash_String of the name of variable i */                                                 \
    inline unsigned Hash_variable_##T(unsigned i) { return expo::Packed<L>::Hash_variable(i); } \
    /* (seed + sum of the listed names' hashes) mod 16777213 */                                 \
    inline unsigned Hash_domain_##T(unsigned seed) { return expo::Packed<L>::Hash_domain(seed); } \
    /* monomial printers: plain (names joined by '*'), TeX, PoSSo, every exponent */            \
    inline Fortran_Print fortran_##T(Fortran_Print p, const T* v) { return expo::Packed<L>::fortran(p, v); } \
    inline void fsee_##T(const T* v) { expo::Packed<L>::fortran(Fortran, v) << "\n"; }          \
    inline Tex_Print tex_##T(Tex_Print p, const T* v) { return expo::Packed<L>::tex(p, v); }    \
    inline Posso_Print posso_##T(Posso_Print p, const T* v) { return expo::Packed<L>::posso(p, v); } \
    inline Lib_Print operator<<(Lib_Print p, const T* v) { return expo::Packed<L>::lib(p, v); } \
    /* the monomial on the pretty printer, exponents on the upper line */                      \
    inline Basic_Print zpretty_##T(Basic_Print p, const T* v) { return expo::Packed<L>::zpretty(p, v); } \
    inline void pretty_##T(const T* v) { expo::Packed<L>::zpretty(Pretty, v); }                 \
    inline Basic_Print operator<<(Basic_Print p, const T* v) { return expo::Packed<L>::zpretty(p, v); } \
    /* the raw exponents on the pretty printer */                                               \
    inline void zprint_##T(const T* v) { expo::Packed<L>::zprint(v); }                          \
    /* "<name^e...>" on the log */                                                              \
    inline void rawOutput_##T(const T* v) { expo::Packed<L>::rawOutput(v); }                    \
    /* "#vars [names]" on the log / on the error stream */                                      \
    inline void afficherHeader_##T(int flag) { expo::Packed<L>::afficherHeader(false); }       \
    inline void info_##T() { expo::Packed<L>::afficherHeader(true); }                           \
    /* the names joined by ","; "name:=Var(name);" lines */                                     \
    inline void display_list_of_vars_##T() { expo::Packed<L>::display_list_of_vars(); }        \
    inline void assign_list_of_vars_##T() { expo::Packed<L>::assign_list_of_vars(); }          \
    /* the PoSSo header of the domain */                                                        \
    inline Posso_Print out_posso_txt_##T(Posso_Print p) { return expo::Packed<L>::out_posso_txt(p); } \
    /* wire: domain words; [12] + exponents; exponents alone; domain + names */                \
    template <class C> void out_domain_protocol_##T(C& ch) { expo::out_domain_protocol<L>(ch); } \
    template <class C> void out_protocol_##T(C& ch, const T* v, int flag) { expo::out_protocol<L>(ch, v, flag); } \
    template <class C> void out_##T(C& ch, const T* v) { expo::out_exponents<L>(ch, v, L::n()); } \
    template <class C> void out_liste_##T(C& ch) { expo::out_liste<L>(ch); }

}  // namespace tesk

#endif
