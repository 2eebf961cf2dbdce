// Out-of-line parts of the packed exponent types: the lcm check, permutation,
// variable names and the printers, instantiated for the three layouts.
#include "tesk/base/expo_packed.h"

#include <algorithm>
#include <string>
#include <vector>

#include "tesk/base/bigdexp.h"
#include "tesk/base/biglexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/base/drldrl16.h"
#include "tesk/base/switches.h"

namespace tesk::expo {

// The degree to report when c, whose block degrees are sums, leaves the
// exact range; 0 while it is inside.
template <class L>
std::uint32_t Packed<L>::past_range(const V* c, const std::uint32_t sums[2]) {
    bool over = false;
    std::uint32_t report = sums[0] + sums[1];
    if constexpr (L::kDegBlocks > 0) {
        for (int blk = L::kDegBlocks - 1; blk >= 0; --blk)
            if (sums[blk] > kMaxDeg) {
                over = true;
                report = sums[blk];
            }
    }
    for (unsigned j = 0, W = L::words(); j < W && !over; ++j)
        if (c[j].w & L::div_mask(j)) over = true;
    return over ? std::max<std::uint32_t>(report, 1) : 0;
}

// The innermost overflow trap (expo_packed.h); one computation at a time.
static Overflow_Trap* innermost_trap = nullptr;

Overflow_Trap::Overflow_Trap() : outer_(innermost_trap) { innermost_trap = this; }
Overflow_Trap::~Overflow_Trap() { innermost_trap = outer_; }

bool Overflow_Trap::catch_one() {
    if (!innermost_trap) return false;
    innermost_trap->tripped_ = true;
    return true;
}

bool Overflow_Trap::innermost_tripped() { return innermost_trap && innermost_trap->tripped_; }

// Past the range the order and divisibility are wrong, and a computation
// that goes on does not end: it stops here, naming what left the range: a
// block's degree (sums) past its slot, else the first exponent past its
// bits (exponent(i) of variable i, named by name(i, nb)).
template <class L, class Exponent, class Name>
[[noreturn]] static void overflow_fatal(const std::uint32_t sums[2], Exponent exponent, Name name) {
    using X = Packed<L>;
    L::overflow_flag() = 1;
    if constexpr (L::kDegBlocks > 0)
        for (int blk = 0; blk < L::kDegBlocks; ++blk)
            if (sums[blk] > X::kMaxDeg) Fatal("Depassement du degre %d !\n", int(sums[blk]));
    for (unsigned i = 0, n = L::n(); i < n; ++i)
        if (const unsigned e = exponent(i); e > X::kMaxExp) {
            Var_Name nb;
            if constexpr (L::kDegBlocks > 0)
                Fatal("Exponent overflow: %s^%u (at most %u for an exponent, %u for a block's degree)\n",
                      name(i, nb), e, X::kMaxExp, X::kMaxDeg);
            else
                Fatal("Exponent overflow: %s^%u (at most %u for an exponent)\n", name(i, nb), e, X::kMaxExp);
        }
    Fatal("Depassement du degre %d !\n", int(std::max<std::uint32_t>(sums[0] + sums[1], 1)));
}

// The error of the lcm check for c, unless a trap takes it.
template <class L>
static void range_overflow(const typename L::V* c, const std::uint32_t sums[2]) {
    using X = Packed<L>;
    if (Overflow_Trap::catch_one()) return;
    overflow_fatal<L>(sums, [c](unsigned i) { return X::extraire(c, i); }, X::var_name);
}

template <class L>
void Packed<L>::sum_overflow(const V* a, const V* b) {
    std::vector<std::uint32_t> exps(L::n());
    std::uint32_t sums[2] = {0, 0};
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        exps[i] = extraire(a, i) + extraire(b, i);
        sums[block_of_var(i)] += exps[i];
    }
    if (Overflow_Trap::catch_one()) throw Range_Overflow();
    overflow_fatal<L>(sums, [&exps](unsigned i) { return unsigned(exps[i]); }, var_name);
}

template <class L>
void Packed<L>::check_exponents(const std::uint16_t* exps, unsigned lead) {
    std::uint32_t sums[2] = {0, 0};
    bool over = false;
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        sums[block_of_var(i)] += exps[i];
        over = over || exps[i] > kMaxExp;
    }
    if (over || sums[0] > kMaxDeg || sums[1] > kMaxDeg)
        overflow_fatal<L>(sums, [exps](unsigned i) { return unsigned(exps[i]); }, [lead](unsigned i, Var_Name& nb) {
            const char* s = var_name(i, nb);
            return s == nb.buf && i >= lead ? made_up_name(i - lead, L::n() - lead, nb) : s;
        });
}

template <class L>
typename L::V* Packed<L>::zsup_verif(const V* a, const V* b, V* c) {
    std::uint32_t sums[2];
    zfold<true>(a, b, c, sums);
    // The lcm bounds the degrees met while reducing the pair in a graded
    // order, so this is where a computation leaving the exact range is seen.
    if (past_range(c, sums)) range_overflow<L>(c, sums);
    return c;
}

template <class L>
void Packed<L>::check_range(const V* v) {
    V small[64];
    std::vector<V> big;
    V* t = small;
    if (L::words() > 64) {
        big.resize(L::words());
        t = big.data();
    }
    std::uint32_t sums[2];
    zfold<true>(v, v, t, sums);
    if (past_range(v, sums)) range_overflow<L>(v, sums);
}

template <class L>
void Packed<L>::permut(V* v, const unsigned* p) {
    const unsigned n = L::n(), W = L::words();
    V small[64];
    std::vector<V> big;
    V* t = small;
    if (W > 64) {
        big.resize(W);
        t = big.data();
    }
    set_null(t);
    for (unsigned i = 0; i < n; ++i) ranger(t, extraire(v, i), p[i]);  // rebuilds the degrees
    copy(v, t);
}

template <class L>
const char* Packed<L>::var_name(unsigned i, Var_Name& nb) {
    const char* s = nullptr;
    if (global_List_variables) {
        if (i < EXPO_NAME_TABLE) s = global_List_variables[i];
    } else {
        if (i < EXPO_NAME_TABLE) s = L::names()[i];
        if (!s) s = made_up_name(i, L::n(), nb);
    }
    return s ? s : "?";
}

template <class L>
const char* Packed<L>::made_up_name(unsigned i, unsigned n, Var_Name& nb) {
    if (n > 9) {
        std::snprintf(nb.buf, sizeof nb.buf, "x%u", i + 1);
    } else {
        nb.buf[0] = char('a' + i);
        nb.buf[1] = 0;
    }
    return nb.buf;
}

template <class L>
unsigned Packed<L>::Hash_variable(unsigned i) {
    Var_Name nb;
    return Hash_String(var_name(i, nb));
}

template <class L>
unsigned Packed<L>::Hash_domain(unsigned seed) {
    std::uint32_t h = seed;
    for (unsigned i = L::list_start(false), n = L::n(); i < n; ++i) h += Hash_variable(i);
    return h % kHashPrime;
}

// ------------------------------------------------------------------ printers
template <class L>
Fortran_Print Packed<L>::fortran(Fortran_Print p, const V* v) {
    bool first = true;
    Var_Name nb;
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        const unsigned e = extraire(v, i);
        if (!e) continue;
        if (!first) p = p << '*';
        first = false;
        p = p << var_name(i, nb);
        if (e != 1) p = p << '^' << e;
    }
    return p;
}

template <class L>
Tex_Print Packed<L>::tex(Tex_Print p, const V* v) {
    bool first = true;
    Var_Name nb;
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        const unsigned e = extraire(v, i);
        if (!e) continue;
        if (!first) p = p << "\\,";
        first = false;
        p = p << var_name(i, nb);
        if (e != 1) p = p << "^" << "{" << e << "}";
    }
    return p;
}

template <class L>
Posso_Print Packed<L>::posso(Posso_Print p, const V* v) {
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        const unsigned e = extraire(v, i);
        if (!e) continue;
        p = p << char('a' + i);
        if (e != 1) p = p << e;
    }
    return p;
}

template <class L>
Lib_Print Packed<L>::lib(Lib_Print p, const V* v) {
    for (unsigned i = 0, n = L::n(); i < n; ++i) p = p << extraire(v, i) << ' ';
    return p;
}

template <class L>
Basic_Print Packed<L>::zpretty(Basic_Print p, const V* v) {
    bool any = false;
    Var_Name nb;
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        const unsigned e = extraire(v, i);
        if (!e) continue;
        any = true;
        p = p << var_name(i, nb);
        if (e != 1)
            p = p + int(e);
        else
            p = p << ' ';
    }
    if (!any) p = p << "1";
    return p;
}

template <class L>
void Packed<L>::zprint(const V* v) {
    Basic_Print p = Pretty;
    if constexpr (L::kDegBlocks == 1) p = p << "(d=" << totalDegree(v) << ")";
    p = p << "[";
    for (unsigned i = L::n(); i-- > 0;) {
        p = p << extraire(v, i);
        if (i) p = p << ',';
    }
    p << "]";
}

template <class L>
void Packed<L>::rawOutput(const V* v) {
    Var_Name nb;
    Output("<");
    for (unsigned i = 0, n = L::n(); i < n; ++i)
        if (const unsigned e = extraire(v, i)) Output("%s^%u", var_name(i, nb), e);
    Output(">");
}

// Names "?" and "@" hold a place and are left out of the variable lists.
static bool placeholder(const char* s) { return (s[0] == '?' || s[0] == '@') && s[1] == 0; }

template <class L>
static std::string joined_names(unsigned from) {
    std::string r;
    Var_Name nb;
    for (unsigned i = from, n = L::n(); i < n; ++i) {
        const char* s = Packed<L>::var_name(i, nb);
        if (placeholder(s)) continue;
        if (!r.empty()) r += ',';
        r += s;
    }
    return r;
}

template <class L>
void Packed<L>::afficherHeader(bool to_stderr) {
    const std::string s = "#vars [" + joined_names<L>(L::list_start(true)) + "]\n\n";
    if (to_stderr)
        Stderr("%s", s.c_str());
    else
        Output("%s", s.c_str());
}

template <class L>
void Packed<L>::display_list_of_vars() {
    Output("%s", joined_names<L>(L::list_start(false)).c_str());
}

template <class L>
void Packed<L>::assign_list_of_vars() {
    Var_Name nb;
    for (unsigned i = L::list_start(false), n = L::n(); i < n; ++i) {
        const char* s = var_name(i, nb);
        if (!placeholder(s)) Output("%s:=Var(%s);\n", s, s);
    }
}

template <class L>
Posso_Print Packed<L>::out_posso_txt(Posso_Print p) {
    const unsigned n = L::n();
    auto ones = [&](const char* head) {
        p = p << head;
        for (unsigned i = 1; i < n; ++i) p = p << "1, ";
        p = p << "1}},\n";
    };
    p = p << "{\n " << int(n);
    ones(",\n {C, {");
    if constexpr (L::kDegBlocks == 1) ones(" {V, {");
    p = p << " {N, {";
    for (unsigned i = 0; i < n; ++i) p = p << char('a' + i) << (i + 1 < n ? ", " : "}}\n");
    if (n == 0) p = p << "}}\n";
    return p << "}\n";
}

template struct Packed<BigDexp_Layout>;
template struct Packed<BigLexp_Layout>;
template struct Packed<DRLDRL_Layout>;
template struct Packed<DRLDRL16_Layout>;

// Clears the entries of a name table from `from` (at least 0) to the end.
void clear_names(char** t, int from) {
    for (unsigned i = from > 0 ? unsigned(from) : 0; i < EXPO_NAME_TABLE; ++i) t[i] = nullptr;
}

}  // namespace tesk::expo
