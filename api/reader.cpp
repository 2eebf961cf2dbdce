// Text reader of lists of polynomials: tokenizer, variable lookup, list
// parser.  Scratch (digit and name buffers, the terms of one polynomial)
// lives in zone 1 and goes back by restoring a mark; the polynomials are
// made in zone 2, their monomials come from the monomial free list.
#include "api/reader.h"

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "api/request.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

namespace {

// ---- position of the stream being read (for messages only) ----
struct Position {
  std::FILE* file = nullptr;
  u64 line = 1;
  u64 col = 0;       // column of the last character read (1-based)
  u64 prev_col = 0;  // column before the last line feed, for putting it back
  u64 tok_line = 1;  // where the current token (or error) starts
  u64 tok_col = 0;
  i32 parens = 0;        // parentheses open
  bool in_list = false;  // between "[" and "]"
};
Position pos;

void track(std::FILE* f) {
  if (pos.file != f) {
    pos = Position{};
    pos.file = f;
  }
}

int rd(std::FILE* f) {
  const int c = std::getc(f);
  if (c == '\n') {
    ++pos.line;
    pos.prev_col = pos.col;
    pos.col = 0;
  } else if (c != EOF) {
    ++pos.col;
  }
  return c;
}

// Puts back the last character read (one character of push-back at most).
void unrd(int c, std::FILE* f) {
  if (c == EOF) return;
  std::ungetc(c, f);
  if (c == '\n') {
    --pos.line;
    pos.col = pos.prev_col;
  } else {
    --pos.col;
  }
}

void mark_here() {
  pos.tok_line = pos.line;
  pos.tok_col = pos.col;
}

// Message body buffer: room is left for the position suffix, so a long name
// in the body cannot push the position out of the channel's buffer.
char fatal_body[kChannelBufferSize - 128];

// Fatal with the message followed by the position of the current token.
[[noreturn]] QUOR_PRINTF(1, 2) void reader_fatal(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  if (std::vsnprintf(fatal_body, sizeof fatal_body, format, ap) < 0) fatal_body[0] = '\0';
  va_end(ap);
  const std::size_t n = std::strlen(fatal_body);
  const char* sep = (n > 0 && fatal_body[n - 1] == '\n') ? "" : "\n";
  QUOR_NAME(Fatal)("%s%sat line %llu, column %llu\n", fatal_body, sep,
                   static_cast<unsigned long long>(pos.tok_line), static_cast<unsigned long long>(pos.tok_col));
}

[[noreturn]] void truncated() {
  mark_here();
  ++pos.tok_col;  // just past the last character
  reader_fatal("Unexpected end of file: the list of polynomials is not closed by ']'\n");
}

char printable(int c) { return (c >= 32 && c < 127) ? char(c) : '?'; }

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_blank_lf(int c) { return is_blank(c) || c == '\n'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_alnum(int c) { return is_letter(c) || is_digit(c); }
bool is_name_char(int c) { return is_alnum(c) || c == '_'; }

int skip_blanks(std::FILE* f, bool line_feeds) {
  int c;
  do c = rd(f);
  while (line_feeds ? is_blank_lf(c) : is_blank(c));
  return c;
}

// ---- growable text buffer in zone 1 ----
struct Text {
  char* data = nullptr;
  u64 size = 0;
  u64 cap = 0;
  void push(char c) {
    if (size + 1 >= cap) {
      const u64 ncap = cap ? 2 * cap : 256;
      char* d = static_cast<char*>(QUOR_NAME(alloc64)(ncap));
      if (size) std::memcpy(d, data, size);
      data = d;
      cap = ncap;
    }
    data[size++] = c;
    data[size] = '\0';
  }
  // The text, terminated (an empty one too).
  const char* str() {
    if (!data) {
      push('\0');
      size = 0;
    }
    return data;
  }
};

// Reads first and the characters after it that ok accepts; the first other
// one is put back.  limit > 0 refuses words of limit characters or more.
template <class Ok>
Text read_word(std::FILE* f, int first, Ok ok, u64 limit) {
  Text t;
  int c = first;
  while (c != EOF && ok(c)) {
    if (limit && t.size + 1 >= limit)
      reader_fatal("Limit for ASCII size of names is %u\n", unsigned(limit));
    t.push(char(c));
    c = rd(f);
  }
  unrd(c, f);
  t.str();
  return t;
}

// An unsigned decimal after optional blanks (and line feeds when asked),
// at most max; what names it in the messages.
u32 read_unsigned(std::FILE* f, bool line_feeds, u32 max, const char* what) {
  int c = skip_blanks(f, line_feeds);
  if (c == EOF) truncated();
  mark_here();
  if (!is_digit(c)) reader_fatal("%s expected, found '%c'\n", what, printable(c));
  u64 v = 0;
  while (is_digit(c)) {
    v = v * 10 + u64(c - '0');
    if (v > max) reader_fatal("%s larger than %u\n", what, max);
    c = rd(f);
  }
  unrd(c, f);
  return u32(v);
}

u32 read_exponent(std::FILE* f) { return read_unsigned(f, false, EXPOS_MAX_EXPONENT, "Exponent"); }

// Residues of the decimal number digits[0 .. len-1] into out.
void convert_number(const char* digits, u32 len, u32* out) {
#if QUOR_INT
  IntModeScope gmp_in_zone;
  String_to_Dom_length(digits, out, len);
#else
  const u32 p = QUOR_NAME(Primes)[0];
  if (len <= 5) {
    u32 v = 0;
    for (u32 i = 0; i < len; ++i) v = v * 10 + u32(digits[i] - '0');
    out[0] = v % p;
  } else {
    out[0] = complex_String_to_Dom(digits, len, 0);
  }
#endif
}

// Digits starting with first (a digit): at most kReaderDigitLimit - 2 of
// them, the buffer keeping room for its end.
void read_number(std::FILE* f, int first, u32* out) {
  Text t;
  int c = first;
  while (is_digit(c)) {
    if (t.size + 2 >= kReaderDigitLimit) reader_fatal("Limit for ASCII size of digits is %u\n", kReaderDigitLimit);
    t.push(char(c));
    c = rd(f);
  }
  unrd(c, f);
  convert_number(t.data, u32(t.size), out);
}

// A name after "#" or "#coeffring": letters and digits.
Text read_directive_word(std::FILE* f) { return read_word(f, rd(f), is_alnum, kReaderWordLimit); }

// Skips to the end of the line; copies it to the output when echo.  Returns
// EOF when the file ends first, else '\n'.
int skip_line(std::FILE* f, const char* echo_word) {
  Text line;
  int c;
  while ((c = rd(f)) != EOF) {
    if (echo_word) line.push(char(c));
    if (c == '\n') break;
  }
  if (echo_word) QUOR_NAME(Output)("#%s%s", echo_word, line.str());
  return c == EOF ? EOF : '\n';
}

constexpr i32 kNoToken = INT32_MIN;  // the directive gave no token: read the next one

// Argument of a directive with letter code fn.
i32 directive_argument(std::FILE* f, i32 fn, u32* coefficients) {
  const int c = skip_blanks(f, true);
  if (is_digit(c)) {
    unrd(c, f);
    coefficients[0] = read_unsigned(f, false, 0xFFFFFFFFu, "Number");
    if (fn == kTokModulo && coefficients[0] == 0) return kNoToken;
    return fn;
  }
  if (c == '<') {
    if (fn != kTokModulo) {
      QUOR_NAME(Output)("#C weights/gdegs ignored --> fn=%c\n", char(fn));
      return fn;
    }
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
      coefficients[k] = read_unsigned(f, true, 0xFFFFFFFFu, "Modulus");
    return kTokModulo;
  }
  if (c == EOF) return kTokEnd;
  QUOR_NAME(Output)("Syntax #modulo number or <p1 p2 ...>\n");
  return kNoToken;
}

i32 directive(std::FILE* f, u32* coefficients) {
  const Text w = read_directive_word(f);
  const char* s = w.data;
  auto is = [&](const char* name) { return std::strcmp(s, name) == 0; };
  if (is("C") || is("comment") || is("error"))
    return skip_line(f, want_pipe ? s : nullptr) == EOF ? kTokEnd : kNoToken;
  if (is("properties")) return skip_line(f, nullptr) == EOF ? kTokEnd : kNoToken;
  if (is("modulos")) {
    const int c = skip_blanks(f, false);
    unrd(c, f);
    const u32 k = is_digit(c) ? read_unsigned(f, false, 0xFFFFFFFFu, "Count") : 0;
    if (k == 0) reader_fatal("#modulos needs a count of at least 1\n");
#if QUOR_INT
    // Only the working primes exist: cells beyond them are left alone.
    for (u32 i = 0; i < QUOR_NAME(vectorize); ++i) coefficients[i] = QUOR_NAME(Primes)[i / k];
#else
    coefficients[0] = QUOR_NAME(Primes)[0];
#endif
    return kTokModulo;
  }
  if (is("modulo") || is("weights") || is("gdegs") || is("hdegs") || is("points") || is("gdeg"))
    return directive_argument(f, s[0], coefficients);
  if (is("coeffring")) {
    const Text ring = read_word(f, skip_blanks(f, true), is_alnum, kReaderWordLimit);
    if (std::strcmp(ring.data, "integer") == 0 || std::strcmp(ring.data, "rational") == 0) return kNoToken;
    if (std::strcmp(ring.data, "modulo") == 0) return directive_argument(f, kTokModulo, coefficients);
    reader_fatal("Bad syntax: #coeffring %s\n", ring.data);
  }
  if (is("begin") || is("list")) return kTokList;
  if (is("F4")) return kTokF4;
  if (is("vars")) return kTokVars;
  QUOR_NAME(Output)("Unknown fn #%s (ignored)\n", s);
  return kNoToken;
}

// "&decimal;precision&": read as the format says, then refused: such a
// coefficient has no exact residue.
[[noreturn]] void ampersand(std::FILE* f) {
  int c;
  while (!is_digit(c = rd(f)))
    if (c == EOF) mark_here(), reader_fatal("EOF during parsing &\n");
  auto decimal_char = [](int x) { return is_digit(x) || x == '.' || x == 'e' || x == 'E' || x == '-'; };
  const Text value = read_word(f, c, decimal_char, kReaderWordLimit);
  while ((c = rd(f)) != ';')
    if (c == EOF) mark_here(), reader_fatal("EOF during parsing & (2)\n");
  while (!is_digit(c = rd(f)))
    if (c == EOF) mark_here(), reader_fatal("EOF during parsing & (3)\n");
  unrd(c, f);
  const u32 precision = read_unsigned(f, false, 0xFFFFFFFFu, "Precision");
  while ((c = rd(f)) != '&')
    if (c == EOF) mark_here(), reader_fatal("EOF during parsing & (4)\n");
  reader_fatal("Floating-point coefficient &%s;%u& not supported\n", value.data, precision);
}

u32 prime(u32 k) { return QUOR_NAME(Primes)[k]; }

// Numbers need the primes, names the declared variables.
void require_request() {
  if (QUOR_NAME(Primes) == nullptr || nb_of_blocks_of_variables == 0)
    QUOR_NAME(Fatal)("The text reader needs the variables and the primes of an open request\n");
}

}  // namespace

u32 reader_coefficient_cells() {
#if QUOR_INT
  return QUOR_NAME(maxi_vectorize) > QUOR_NAME(vectorize) ? QUOR_NAME(maxi_vectorize) : QUOR_NAME(vectorize);
#else
  return 1;
#endif
}

u32 assoc_map(const char* name, std::FILE* file) {
  track(file);
  for (u32 i = 0; i < current_id_vars; ++i)
    if (internal_id_vars[i] && std::strcmp(internal_id_vars[i], name) == 0) return i;
  char context[201];
  u32 n = 0;
  for (int c; n < 200 && (c = std::getc(file)) != EOF;) context[n++] = char(c);
  context[n] = '\0';
  reader_fatal("%s is not a variable !\nContext: %s\n", name, context);
}

i32 get_token(std::FILE* f, u32* index, u32* exponent, u32* coefficients) {
  require_request();
  track(f);
  for (;;) {
    const int c = rd(f);
    mark_here();
    switch (c) {
      case ' ': case '\t': case '\n': case '\r': case '>':
        continue;
      case '(':
        ++pos.parens;
        continue;
      case ')':
        if (pos.parens == 0) {
          if (pos.in_list) reader_fatal("Unbalanced brackets: ')' without '('\n");
        } else {
          --pos.parens;
        }
        continue;
      case EOF:
        return kTokEnd;
      case '+': case ',': case '[': case ']':
        return c;
      case '#': {
        const i32 t = directive(f, coefficients);
        if (t == kNoToken) continue;
        return t;
      }
      case '&':
        ampersand(f);  // never returns
      case '*': {
        const int d = rd(f);
        if (d == '*') {
          *exponent = read_exponent(f);
          return kTokExponent;
        }
        if (d == EOF) return kTokEnd;
        unrd(d, f);  // a lone "*" separates factors
        continue;
      }
      case '-': {
        const int d = rd(f);
        if (d == '-') {
          if (skip_line(f, nullptr) == EOF) return kTokEnd;
          continue;
        }
        unrd(d, f);
        return kTokMinus;
      }
      case '^':
        *exponent = read_exponent(f);
        return kTokExponent;
      case '{':
        for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
          unsigned char b[4];
          for (unsigned char& x : b) {
            const int d = rd(f);
            if (d == EOF) truncated();
            x = static_cast<unsigned char>(d);
          }
          u32 w;
          std::memcpy(&w, b, 4);
          coefficients[k] = w % prime(k);
        }
        return kTokNumber;
      case '<':
        for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
          coefficients[k] = read_unsigned(f, true, 0xFFFFFFFFu, "Residue") % prime(k);
        return kTokNumber;
      case '/': {
        const int d = rd(f);
        if (is_digit(d)) {
          read_number(f, d, coefficients);
          return kTokDivisor;
        }
        if (is_letter(d)) {
          const Text name = read_word(f, d, is_name_char, kReaderWordLimit);
          assoc_map(name.data, f);
          reader_fatal("Division by %s not implemented\n", name.data);
        }
        if (d == EOF) truncated();
        reader_fatal("Cannot divide by: %c\n", printable(d));
      }
      default:
        break;
    }
    if (is_letter(c)) {
      const Text name = read_word(f, c, is_name_char, kReaderWordLimit);
      *index = assoc_map(name.data, f);
      *exponent = 1;
      const int d = skip_blanks(f, true);
      if (d == '^') {
        *exponent = read_exponent(f);
      } else if (d == '*') {
        const int e = rd(f);
        if (e == '*')
          *exponent = read_exponent(f);
        else
          unrd(e, f);
      } else {
        unrd(d, f);
      }
      return kTokVariable;
    }
    if (is_digit(c)) {
      read_number(f, c, coefficients);
      return kTokNumber;
    }
    reader_fatal("Unknown char %c%s", printable(c), "\n");
  }
}

namespace {

// Terms of the polynomial being read: exponent words and V residues each.
struct Terms {
  u64** mono = nullptr;
  u32* coef = nullptr;
  u32 n = 0;
  u32 cap = 0;
  u32 V = 0;
  // The distinct monomials so far by a hash of their words: open addressing,
  // a slot holds a term's index + 1 (0: empty); nslots is a power of 2.
  u32* slots = nullptr;
  u32 nslots = 0;
  u32* at(u32 t) { return coef + u64(t) * V; }
  static u32 hash(const u64* e) {
    u64 h = 0;
    for (u32 w = 0; w < nb_of_blocks_of_variables; ++w) h = (h ^ e[w]) * 0x9E3779B97F4A7C15ull;
    return u32(h >> 32);
  }
  // Enters term i (distinct from those entered) in the slots.
  void enter(u32 i) {
    u32 s = hash(mono[i]) & (nslots - 1);
    while (slots[s] != 0) s = (s + 1) & (nslots - 1);
    slots[s] = i + 1;
  }
  // The last term, now complete, joins an earlier one with the same monomial
  // (x1+x1 is 2*x1): a polynomial being read costs its distinct monomials,
  // not its written terms.
  void merge_last() {
    if (n == 0) return;
    const u32 last = n - 1;
    if (2 * u64(n) > nslots) {
      while (2 * u64(n) > nslots) nslots = nslots ? 2 * nslots : 128;
      slots = static_cast<u32*>(QUOR_NAME(alloc64)(u64(nslots) * sizeof(u32)));
      std::memset(slots, 0, u64(nslots) * sizeof(u32));
      for (u32 i = 0; i < last; ++i) enter(i);
    }
    for (u32 s = hash(mono[last]) & (nslots - 1);; s = (s + 1) & (nslots - 1)) {
      if (slots[s] == 0) {
        slots[s] = last + 1;
        return;
      }
      const u32 j = slots[s] - 1;
      if (equal_Expos(mono[j], mono[last])) {
        u32* a = at(j);
        const u32* c = at(last);
        for (u32 k = 0; k < V; ++k) a[k] = add_mod(a[k], c[k], prime(k));
        QUOR_NAME(kill_Expos)(mono[last] - 1);
        --n;
        return;
      }
    }
  }
  // A new last term (unit monomial, coefficient sign * 1).
  void start(bool negative) {
    merge_last();
    // The new term's index is n.
    if (n >= quor_max_index)
      reader_fatal("[parser] The limit for the number of monomials in a polynom is set to %u (2)\n",
                   quor_max_index);
    if (n == cap) {
      const u32 ncap = cap ? (2 * u64(cap) < quor_max_index ? 2 * cap : quor_max_index) : 64;
      u64** m = static_cast<u64**>(QUOR_NAME(alloc64)(u64(ncap) * sizeof(u64*)));
      u32* c = static_cast<u32*>(QUOR_NAME(alloc64)(u64(ncap) * V * sizeof(u32)));
      if (n) {
        std::memcpy(m, mono, u64(n) * sizeof(u64*));
        std::memcpy(c, coef, u64(n) * V * sizeof(u32));
      }
      mono = m;
      coef = c;
      cap = ncap;
    }
    mono[n] = zero_Expos();
    u32* c = at(n);
    for (u32 k = 0; k < V; ++k) c[k] = negative ? prime(k) - 1 : 1;
    ++n;
  }
  void negate_last() {
    u32* c = at(n - 1);
    for (u32 k = 0; k < V; ++k) c[k] = neg_mod(c[k], prime(k));
  }
  void multiply_last(const u32* by) {
    u32* c = at(n - 1);
    for (u32 k = 0; k < V; ++k) c[k] = mul_mod(c[k], by[k], prime(k));
  }
  void raise_last(u32 index, u32 exponent) {
    // A slot past the declared variables would be the homogenising one.
    if (index >= nb_of_affine_variables)
      reader_fatal("Variable %u outside the %u declared\n", index, nb_of_affine_variables);
    u64* e = mono[n - 1];
    const u32 s = expos_slot(e, index) + exponent;
    if (s > EXPOS_MAX_EXPONENT) reader_fatal("Exponent %u larger than %u\n", s, EXPOS_MAX_EXPONENT);
    expos_set_slot(e, index, s);
  }
};

// Reads the terms of one polynomial up to "," or "]" (returned).
i32 read_terms(std::FILE* f, Terms& t, u32* buf) {
  u32 index = 0, exponent = 0;
  bool after_sign = false;
  for (;;) {
    const i32 tok = get_token(f, &index, &exponent, buf);
    switch (tok) {
      case kTokEnd:
        truncated();
      case kTokComma:
      case kTokClose:
        if (after_sign) reader_fatal("Sign without a term\n");
        if (pos.parens != 0) reader_fatal("Unbalanced brackets: '(' not closed\n");
        t.merge_last();
        return tok;
      case kTokOpen:
        reader_fatal("Unbalanced brackets: '[' inside a list\n");
      case kTokPlus:
      case kTokMinus:
        if (t.n > 0 && after_sign) {
          // Signs in a row combine: "- -x" is "+x".
          if (tok == kTokMinus) t.negate_last();
        } else {
          // Parentheses do not group sums: a sign inside them may not split a term.
          if (t.n > 0 && pos.parens > 0) reader_fatal("Parenthesised sums are not supported\n");
          t.start(tok == kTokMinus);
        }
        after_sign = true;
        continue;
      case kTokNumber:
        if (t.n == 0) t.start(false);
        t.multiply_last(buf);
        break;
      case kTokDivisor:
        for (u32 k = 0; k < t.V; ++k)
          if (buf[k] == 0) reader_fatal("Division by zero modulo %u\n", prime(k));
        QUOR_NAME(vect_inv)(buf);
        if (t.n == 0) t.start(false);
        t.multiply_last(buf);
        break;
      case kTokVariable:
        if (t.n == 0) t.start(false);
        t.raise_last(index, exponent);
        break;
      case kTokExponent:
        reader_fatal("Erreur de syntaxe: <var>^<nombre>%s", "\n");
      default:
        break;  // directives inside a list change nothing
    }
    after_sign = false;
  }
}

// Homogenises, sorts, merges repeated monomials and drops zero terms; returns
// the number of terms left (first in t).
u32 normalise_terms(Terms& t, u32 number) {
  const u32 V = t.V;
  for (u32 i = 0; i < t.n; ++i) {
    const u32 d = degree_Expos(t.mono[i]);
    // The homogenising slot takes the largest degree: it must fit the slot.
    if (d > EXPOS_MAX_EXPONENT)
      reader_fatal("Polynomial %u has a monomial of total degree %u, larger than %u\n", number, d,
                   EXPOS_MAX_EXPONENT);
  }
  renormalize_input(t.mono, t.n);
  shell_sort_indices(
      t.n, [&](u32 i, u32 j) { return comp4_Expos(t.mono[j], t.mono[i]) == 1; },
      [&](u32 i, u32 j) {
        std::swap(t.mono[i], t.mono[j]);
        u32* a = t.at(i);
        u32* b = t.at(j);
        for (u32 k = 0; k < V; ++k) std::swap(a[k], b[k]);
      });
  u32 kept = 0;
  for (u32 i = 0; i < t.n;) {
    u32* acc = t.at(i);
    u32 j = i + 1;
    for (; j < t.n && equal_Expos(t.mono[i], t.mono[j]); ++j) {
      const u32* c = t.at(j);
      for (u32 k = 0; k < V; ++k) acc[k] = add_mod(acc[k], c[k], prime(k));
      QUOR_NAME(kill_Expos)(t.mono[j] - 1);
    }
    bool zero = true;
    for (u32 k = 0; k < V; ++k) zero &= acc[k] == 0;
    if (zero) {
      QUOR_NAME(kill_Expos)(t.mono[i] - 1);
    } else {
      t.mono[kept] = t.mono[i];
      if (kept != i) std::memcpy(t.at(kept), acc, V * sizeof(u32));
      ++kept;
    }
    i = j;
  }
  return kept;
}

// The Dpol of the first n terms, made in zone 2.
Dpol make_Dpol(Terms& t, u32 n) {
  const u32 V = t.V;
  QUOR_NAME(swap_zone)();
  Dpol p = new_Dpol(n);
  QUOR_NAME(swap_zone)();
  u32** rows = static_cast<u32**>(QUOR_NAME(alloc64)(u64(n ? n : 1) * sizeof(u32*)));
  for (u32 j = 0; j < n; ++j) {
    rows[j] = t.at(j);
    p->monoms[j] = t.mono[j] - 1;
    for (u32 k = 0; k < V; ++k) p->coeffs[k][j] = Dom(rows[j][k]);
  }
  p->property = u32(QUOR_NAME(find_property)(rows, n));
  return p;
}

// Streams the text and file wrappers opened and a fatal error left open.
std::FILE* pending_text = nullptr;
std::FILE* pending_file = nullptr;

}  // namespace

u32 parse_List_Dpol(std::FILE* file, Dpol* table, u32 capacity) {
  // A stream at its start is a fresh one, even at an address seen before.
  if (pos.file == file && std::ftell(file) == 0) pos.file = nullptr;
  track(file);
  pos.in_list = false;
  const u32 limit = capacity < kReaderMaxPolys ? capacity : kReaderMaxPolys;
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u32* buf = static_cast<u32*>(QUOR_NAME(alloc64)(u64(reader_coefficient_cells()) * sizeof(u32)));
  u32 index = 0, exponent = 0;
  for (;;) {
    const i32 tok = get_token(file, &index, &exponent, buf);
    if (tok == kTokEnd) {
      QUOR_NAME(restore_GC_state)(&mark);
      return 0;
    }
    if (tok == kTokOpen) break;
    if (tok == kTokClose) reader_fatal("Unbalanced brackets: ']' before '['\n");
  }
  pos.in_list = true;
  pos.parens = 0;
  GC_state poly_mark;
  QUOR_NAME(save_GC_state)(&poly_mark);
  u32 count = 0;
  for (;;) {
    Terms t;
    t.V = QUOR_NAME(vectorize);
    const i32 end = read_terms(file, t, buf);
    if (t.n == 0) {
      if (end == kTokComma) reader_fatal("Empty polynomial in the list\n");
      break;
    }
    // A polynomial has fewer terms than a step's scratch arrays hold.
    if (t.n >= quor_max_index)
      reader_fatal("parser] The limit for the number of monomials in a polynom is set to %u (1)\n", quor_max_index);
    if (count >= limit)
      reader_fatal("#error List of input polynomials too long to be parsed (max=%u)!%s", limit, "\n");
    const u32 n = normalise_terms(t, count + 1);
    table[count++] = make_Dpol(t, n);
    QUOR_NAME(restore_GC_state)(&poly_mark);
    if (end == kTokClose) break;
  }
  pos.in_list = false;
  QUOR_NAME(restore_GC_state)(&mark);
  return count;
}

u32 parse_List_Dpol_text(const char* text, Dpol* table, u32 capacity) {
  if (pending_text) std::fclose(pending_text);
  pending_text = nullptr;
  const std::size_t n = std::strlen(text);
  if (n == 0) return 0;
  std::FILE* f = fmemopen(const_cast<char*>(text), n, "r");
  if (!f) QUOR_NAME(Fatal)("Cannot read a text of %zu bytes\n", n);
  pending_text = f;
  pos = Position{};
  pos.file = f;
  const u32 count = parse_List_Dpol(f, table, capacity);
  pending_text = nullptr;
  std::fclose(f);
  return count;
}

u32 parse_List_Dpol_file(const char* path, Dpol* table, u32 capacity) {
  if (pending_file) close_ouvrir(pending_file);
  pending_file = nullptr;
  std::FILE* f = QUOR_NAME(ouvrir)(path, "r");
  pending_file = f;
  pos = Position{};
  pos.file = f;
  const u32 count = parse_List_Dpol(f, table, capacity);
  pending_file = nullptr;
  close_ouvrir(f);
  return count;
}

}  // namespace quor::QUOR_NS
