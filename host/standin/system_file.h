// Polynomial-system files, as the command-line host and the benchmarks read
// them, and the canonical text of a polynomial.
//
// File:
//   # name: <text>                 (optional)
//   # vars: x1,x2,...,xn           greatest first, once
//   # blocks: k                    (optional, once: x1..xk form the first block, 0 <= k < n)
//   [p1, p2, ..., pm]              integer coefficients, '*', '^', any spacing
// Other lines starting with '#' are comments.  Errors name the file, the
// line and the column ("file:line:column: what").
//
// Header-only so that every program that needs it can include it without a
// library of its own.
#ifndef QUOR_HOST_STANDIN_SYSTEM_FILE_H
#define QUOR_HOST_STANDIN_SYSTEM_FILE_H

#include <gmp.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <compare>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quor::standin {

// The most variables a request may have (the library refuses more).
inline constexpr std::size_t kMaxSystemVariables = 9999;
// The most bits a coefficient may have once its products and powers are
// computed: far above any system's, low enough that "99999^32767*..." is
// refused at once instead of building a number of millions of digits.
inline constexpr std::size_t kMaxCoefficientBits = std::size_t(1) << 20;
inline constexpr std::int32_t kMaxExponent = 32767;

// A malformed or unreadable system file; the text names the file and position.
class SystemFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Big integer with value semantics.
class Big {
 public:
  Big() { mpz_init(z_); }
  explicit Big(long v) { mpz_init_set_si(z_, v); }
  Big(const Big& o) { mpz_init_set(z_, o.z_); }
  Big(Big&& o) noexcept {
    mpz_init(z_);
    mpz_swap(z_, o.z_);
  }
  Big& operator=(const Big& o) {
    mpz_set(z_, o.z_);
    return *this;
  }
  Big& operator=(Big&& o) noexcept {
    mpz_swap(z_, o.z_);
    return *this;
  }
  ~Big() { mpz_clear(z_); }
  mpz_ptr get() { return z_; }
  mpz_srcptr get() const { return z_; }
  // Decimal text, '-' first when negative.
  std::string text() const {
    std::string d(mpz_sizeinbase(z_, 10) + 2, '\0');
    mpz_get_str(d.data(), 10, z_);
    d.resize(std::strlen(d.c_str()));
    return d;
  }

 private:
  mpz_t z_;
};

// The exponents of a term, as a std::vector of them (at most 65535), held in
// the term itself up to kInline variables: a basis of millions of terms then
// costs no heap block, nor its pages, per term for them.
class Exponents {
 public:
  static constexpr std::size_t kInline = 13;
  using value_type = std::int32_t;
  using iterator = std::int32_t*;
  using const_iterator = const std::int32_t*;

  Exponents() = default;
  Exponents(std::size_t n, std::int32_t v) { assign(n, v); }
  template <std::input_iterator It>
  Exponents(It first, It last) {
    assign(first, last);
  }
  Exponents(std::initializer_list<std::int32_t> l) { assign(l.begin(), l.end()); }
  Exponents(const Exponents& o) { assign(o.begin(), o.end()); }
  Exponents(Exponents&& o) noexcept { take(o); }
  Exponents& operator=(const Exponents& o) {
    if (this != &o) assign(o.begin(), o.end());
    return *this;
  }
  Exponents& operator=(Exponents&& o) noexcept {
    if (this != &o) {
      release();
      take(o);
    }
    return *this;
  }
  ~Exponents() { release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::int32_t* data() { return on_heap() ? heap() : in_; }
  const std::int32_t* data() const { return on_heap() ? heap() : in_; }
  iterator begin() { return data(); }
  iterator end() { return data() + size_; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + size_; }
  std::int32_t& operator[](std::size_t i) { return data()[i]; }
  std::int32_t operator[](std::size_t i) const { return data()[i]; }
  std::int32_t back() const { return data()[size_ - 1]; }

  // n exponents, all v.
  void assign(std::size_t n, std::int32_t v) {
    room(n, 0);
    std::fill_n(data(), n, v);
  }
  template <std::input_iterator It>
  void assign(It first, It last) {
    room(std::size_t(std::distance(first, last)), 0);
    std::copy(first, last, data());
  }
  // n exponents: the first ones kept, the new ones 0.
  void resize(std::size_t n) {
    const std::size_t kept = std::min<std::size_t>(n, size_);
    room(n, kept);
    std::fill(data() + kept, data() + n, 0);
  }

  friend bool operator==(const Exponents& a, const Exponents& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend auto operator<=>(const Exponents& a, const Exponents& b) {
    return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  static constexpr std::size_t kMax = 65535;
  bool on_heap() const { return cap_ > kInline; }
  // Room for n exponents, the first kept of them kept; size() becomes n.
  void room(std::size_t n, std::size_t kept) {
    if (n > cap_) {
      if (n > kMax) throw std::length_error("more than 65535 exponents in a term");
      auto* h = new std::int32_t[n];
      std::copy_n(data(), kept, h);
      release();
      std::memcpy(in_, &h, sizeof h);
      cap_ = std::uint16_t(n);
    }
    size_ = std::uint16_t(n);
  }
  // The heap block, its address kept in in_ (unaligned: a term of 72 bytes).
  std::int32_t* heap() const {
    std::int32_t* h;
    std::memcpy(&h, in_, sizeof h);
    return h;
  }
  void release() {
    if (on_heap()) delete[] heap();
    cap_ = kInline;
  }
  // Takes o's exponents (*this holding none); o is left empty.
  void take(Exponents& o) {
    size_ = o.size_;
    cap_ = o.cap_;
    std::memcpy(in_, o.in_, sizeof in_);
    o.size_ = 0;
    o.cap_ = kInline;
  }

  std::uint16_t size_ = 0, cap_ = kInline;
  std::int32_t in_[kInline];  // the exponents, or the address of their heap block
};

// One term: coefficient and one exponent per variable of the system.
struct Term {
  Big c;
  Exponents e;
};
static_assert(sizeof(Term) == 72);
using Poly = std::vector<Term>;

// One term as read: coefficient and the (variable index, exponent > 0) pairs
// by increasing index, so that a term costs what its text costs.
struct SparseTerm {
  Big c;
  std::vector<std::pair<std::int32_t, std::int32_t>> e;
};
using SparsePoly = std::vector<SparseTerm>;

template <class P>
struct SystemOf {
  std::string name;
  std::vector<std::string> vars;
  int blocks = 0;  // size of the first block; 0: one block
  std::vector<P> polys;
};
using System = SystemOf<Poly>;
using SparseSystem = SystemOf<SparsePoly>;

// p with one exponent per variable (n variables).
inline Poly dense(const SparsePoly& p, std::size_t n) {
  Poly out(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    out[i].c = p[i].c;
    out[i].e.assign(n, 0);
    for (const auto& [v, k] : p[i].e) out[i].e[std::size_t(v)] = k;
  }
  return out;
}

namespace system_file_detail {

inline std::string trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// Text of the file shown in a message: control bytes (NUL included) as \xNN,
// UTF-8 left as it is, at most limit bytes.
inline std::string shown(std::string_view s, std::size_t limit = 40) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i == limit) return out + "...";
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) {
      static const char* hex = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

inline bool name_start(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
inline bool name_char(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }
inline bool ascii_name(std::string_view v) {
  if (v.empty() || std::isdigit(static_cast<unsigned char>(v[0]))) return false;
  for (char ch : v)
    if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '_')) return false;
  return true;
}

// Reader of the polynomial list in s from offset start; errors name the line
// and column of the offending byte.
class Parser {
 public:
  Parser(const std::string& path, const std::vector<std::string>& vars, std::string_view s, std::size_t start)
      : path_(path), s_(s), i_(start) {
    for (std::size_t j = 0; j < vars.size(); ++j) index_.emplace(vars[j], std::int32_t(j));
  }

  std::vector<SparsePoly> list() {
    skip();
    if (!eat('[')) error("'[' expected" + found());
    std::vector<SparsePoly> out;
    skip();
    if (eat(']')) error("empty system", i_ - 1);
    for (;;) {
      out.push_back(poly());
      skip();
      if (eat(']')) break;
      if (!eat(',')) error("',' or ']' expected" + found());
    }
    skip();
    if (i_ < s_.size()) error("text after the closing ']'");
    return out;
  }

  [[noreturn]] void error(const std::string& what) { error(what, i_); }
  [[noreturn]] void error(const std::string& what, std::size_t at) {
    std::size_t line = 1, col = 1;
    for (std::size_t k = 0; k < at && k < s_.size(); ++k) {
      if (s_[k] == '\n') {
        ++line;
        col = 1;
      } else {
        ++col;
      }
    }
    throw SystemFileError(path_ + ":" + std::to_string(line) + ":" + std::to_string(col) + ": " + what);
  }

 private:
  bool at(char c) const { return i_ < s_.size() && s_[i_] == c; }
  void skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool eat(char c) {
    if (!at(c)) return false;
    ++i_;
    return true;
  }
  // ", found 'c'" for the byte at the position, or the end of the file.
  std::string found() const {
    if (i_ >= s_.size()) return ", found the end of the file";
    std::size_t n = 1;
    const unsigned char c = static_cast<unsigned char>(s_[i_]);
    if (c >= 0xC0)  // the whole UTF-8 character
      while (i_ + n < s_.size() && (static_cast<unsigned char>(s_[i_ + n]) & 0xC0) == 0x80) ++n;
    return ", found '" + shown(s_.substr(i_, n)) + "'";
  }
  [[noreturn]] void fraction() {
    error("'/': coefficients are integers; multiply each polynomial by the denominators of its coefficients");
  }

  std::string_view digits() {
    const std::size_t a = i_;
    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
    return s_.substr(a, i_ - a);
  }

  // Hash of a term's (variable, exponent) pairs.
  struct PairsHash {
    std::size_t operator()(const std::vector<std::pair<std::int32_t, std::int32_t>>& e) const {
      std::uint64_t h = 0;
      for (const auto& [v, k] : e)
        h = (h ^ (std::uint64_t(std::uint32_t(v)) << 32 | std::uint32_t(k))) * 0x9E3779B97F4A7C15ull;
      return std::size_t(h >> 16);
    }
  };

  // The terms in the order of their first appearance; a term whose monomial
  // came before joins it as it is read (x1+x1 is 2*x1): a polynomial costs
  // its distinct monomials, also once sent with an exponent per variable.
  SparsePoly poly() {
    SparsePoly p;
    std::unordered_map<std::vector<std::pair<std::int32_t, std::int32_t>>, std::size_t, PairsHash> seen;
    bool first = true;
    for (;;) {
      skip();
      int sign = 1;
      if (at('+') || at('-')) {
        sign = at('-') ? -1 : 1;
        ++i_;
      } else if (!first) {
        return p;
      }
      SparseTerm t = term(sign);
      first = false;
      const auto [it, fresh] = seen.try_emplace(t.e, p.size());
      if (fresh) {
        p.push_back(std::move(t));
        continue;
      }
      mpz_add(p[it->second].c.get(), p[it->second].c.get(), t.c.get());
    }
  }

  SparseTerm term(int sign) {
    SparseTerm t;
    mpz_set_si(t.c.get(), sign);
    skip();
    term_start_ = i_;
    for (;;) {
      factor(t);
      skip();
      if (at('/')) fraction();
      if (!eat('*')) break;
    }
    // Factors of one variable add up.
    std::sort(t.e.begin(), t.e.end());
    std::size_t k = 0;
    for (std::size_t j = 0; j < t.e.size(); ++j) {
      if (k > 0 && t.e[k - 1].first == t.e[j].first) {
        t.e[k - 1].second += t.e[j].second;
        if (t.e[k - 1].second > kMaxExponent)
          error("exponent of " + vars_by_index(t.e[j].first) + " above " + std::to_string(kMaxExponent) + " in this term",
                term_start_);
      } else {
        t.e[k++] = t.e[j];
      }
    }
    t.e.resize(k);
    return t;
  }

  std::string vars_by_index(std::int32_t v) const {
    for (const auto& [name, j] : index_)
      if (j == v) return name;
    return "?";
  }

  void factor(SparseTerm& t) {
    skip();
    const std::size_t start = i_;
    const unsigned char c = i_ < s_.size() ? static_cast<unsigned char>(s_[i_]) : 0;
    if (i_ < s_.size() && std::isdigit(c)) {
      const std::string_view d = digits();
      if (i_ < s_.size() && (name_char(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.'))
        error("malformed number '" + shown(d) + shown(s_.substr(i_, 1)) + "'", start);
      Big v;
      mpz_set_str(v.get(), std::string(d).c_str(), 10);
      skip();
      if (eat('^')) {
        const std::int32_t e = exponent();
        const std::size_t bits = mpz_sizeinbase(v.get(), 2);
        if (mpz_cmpabs_ui(v.get(), 1) > 0 && (bits - 1) * std::size_t(e) + 1 > kMaxCoefficientBits) too_big(start);
        mpz_pow_ui(v.get(), v.get(), (unsigned long)e);
      }
      if (mpz_sizeinbase(t.c.get(), 2) + mpz_sizeinbase(v.get(), 2) > kMaxCoefficientBits + 1) too_big(start);
      mpz_mul(t.c.get(), t.c.get(), v.get());
      if (mpz_sizeinbase(t.c.get(), 2) > kMaxCoefficientBits) too_big(start);
      return;
    }
    if (i_ < s_.size() && name_start(c)) {
      while (i_ < s_.size() && name_char(static_cast<unsigned char>(s_[i_]))) ++i_;
      const std::string name(s_.substr(start, i_ - start));
      auto it = index_.find(name);
      if (it == index_.end())
        error("unknown variable '" + shown(name) + "'" +
                  (ascii_name(name) ? "" : " (variable names are ASCII letters, digits and '_')"),
              start);
      std::int32_t e = 1;
      skip();
      if (eat('^')) e = exponent();
      if (e > 0) t.e.emplace_back(it->second, e);
      return;
    }
    if (c == '/') fraction();
    error("a number or a variable expected" + found());
  }

  [[noreturn]] void too_big(std::size_t at) {
    error("coefficient of more than " + std::to_string(kMaxCoefficientBits) +
              " bits (products and powers of integers inside a term are bounded)",
          at);
  }

  std::int32_t exponent() {
    skip();
    const std::size_t start = i_;
    std::string_view d = digits();
    if (d.empty()) error("exponent expected after '^'" + found());
    while (d.size() > 1 && d[0] == '0') d.remove_prefix(1);
    if (d.size() > 5 || std::stol(std::string(d)) > kMaxExponent)
      error("exponent " + shown(d) + " above " + std::to_string(kMaxExponent), start);
    return std::int32_t(std::stol(std::string(d)));
  }

  const std::string& path_;
  std::string_view s_;
  std::size_t i_;
  std::size_t term_start_ = 0;
  std::map<std::string, std::int32_t, std::less<>> index_;
};

// "# key: value" (also "#C key: value"); false for other lines.  colon: the
// offset of the ':' in line.
inline bool header_line(const std::string& line, std::string& key, std::string& value, std::size_t& colon) {
  std::size_t k = 1;
  if (k < line.size() && line[k] == 'C') ++k;
  colon = line.find(':', k);
  if (colon == std::string::npos) return false;
  key = trim(line.substr(k, colon - k));
  value = trim(line.substr(colon + 1));
  return key == "name" || key == "vars" || key == "blocks";
}

}  // namespace system_file_detail

// The system in text (the contents of a file named where); throws
// SystemFileError ("where:line:column: what") when it cannot.
inline SparseSystem read_sparse_system_text(std::string_view text, const std::string& where) {
  using namespace system_file_detail;
  SparseSystem sys;
  // Position of a header line's byte, as "where:line:column".
  auto fail = [&](std::size_t line, std::size_t col, const std::string& what) {
    return SystemFileError(where + ":" + std::to_string(line) + ":" + std::to_string(col) + ": " + what);
  };
  std::size_t pos = 0, n = 0, vars_line = 0, blocks_line = 0, blocks_col = 0;
  std::string blocks_value;
  while (pos < text.size()) {
    const std::size_t eol = std::min(text.find('\n', pos), text.size());
    const std::string raw(text.substr(pos, eol - pos));
    const std::string t = trim(raw);
    ++n;
    if (!t.empty() && t[0] != '#') break;  // the list starts here
    pos = eol + 1;
    std::string key, value;
    std::size_t colon = 0;
    if (t.empty() || !header_line(t, key, value, colon)) continue;
    const std::size_t indent = raw.find('#');
    // Column of the first byte of the value.
    std::size_t vcol = indent + colon + 2;
    while (vcol - 1 < raw.size() && std::isspace(static_cast<unsigned char>(raw[vcol - 1]))) ++vcol;
    if (key == "name") {
      sys.name = value;
    } else if (key == "vars") {
      if (vars_line != 0)
        throw fail(n, indent + 1, "a second '# vars:' line (the first is line " + std::to_string(vars_line) + ")");
      vars_line = n;
      if (value.empty()) throw fail(n, vcol, "the '# vars:' line names no variable");
      std::size_t a = 0;
      for (;;) {
        const std::size_t comma = std::min(value.find(',', a), value.size());
        const std::string v = trim(value.substr(a, comma - a));
        if (v.empty())
          throw fail(n, vcol + a, comma < value.size() || a > 0 ? "empty variable name" : "no variable");
        if (!ascii_name(v))
          throw fail(n, vcol + a,
                     "malformed variable name '" + shown(v) + "' (ASCII letters, digits and '_', not a digit first)");
        for (const std::string& w : sys.vars)
          if (w == v) throw fail(n, vcol + a, "variable " + v + " listed twice");
        sys.vars.push_back(v);
        if (sys.vars.size() > kMaxSystemVariables)
          throw fail(n, vcol + a, "more than " + std::to_string(kMaxSystemVariables) + " variables");
        if (comma == value.size()) break;
        a = comma + 1;
      }
    } else {
      if (blocks_line != 0)
        throw fail(n, indent + 1, "a second '# blocks:' line (the first is line " + std::to_string(blocks_line) + ")");
      blocks_line = n;
      blocks_col = vcol;
      blocks_value = value;
    }
  }
  if (vars_line == 0) throw SystemFileError(where + ": no '# vars:' line before the list of polynomials");
  if (blocks_line != 0) {
    const std::size_t nv = sys.vars.size();
    const bool digits = !blocks_value.empty() && std::all_of(blocks_value.begin(), blocks_value.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c));
    });
    std::string d = blocks_value;
    while (digits && d.size() > 1 && d[0] == '0') d.erase(0, 1);
    if (!digits || d.size() > 5 || std::stoul(d) >= nv)
      throw fail(blocks_line, blocks_col,
                 "block size '" + shown(blocks_value) + "' is not in 0 .. " + std::to_string(nv - 1) +
                     " (the first block must leave a variable to the second)");
    sys.blocks = int(std::stoul(d));
  }
  if (pos >= text.size()) throw SystemFileError(where + ":" + std::to_string(n) + ": empty system");
  system_file_detail::Parser parser(where, sys.vars, text, pos);
  sys.polys = parser.list();
  return sys;
}

// The system in the file at path, as read_sparse_system_text.
inline SparseSystem read_sparse_system(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw SystemFileError(path + ": a directory, not a system file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SystemFileError("cannot open " + path + ": " + std::strerror(errno));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw SystemFileError("cannot read " + path);
  return read_sparse_system_text(text, path);
}

// The system with one exponent per variable in every term.
inline System dense(const SparseSystem& s) {
  System out{s.name, s.vars, s.blocks, {}};
  for (const SparsePoly& p : s.polys) out.polys.push_back(dense(p, s.vars.size()));
  return out;
}

// The system in the file at path; throws SystemFileError ("path:line:column: what") when it cannot.
inline System read_system(const std::string& path) { return dense(read_sparse_system(path)); }

// The polynomials of the list "[p1, ..., pm]" over the variables of sys;
// errors are reported as "where:line:column: what".
template <class P>
std::vector<Poly> parse_poly_list(const std::string& text, const SystemOf<P>& sys, const std::string& where) {
  system_file_detail::Parser parser(where, sys.vars, text, 0);
  std::vector<Poly> out;
  for (const SparsePoly& p : parser.list()) out.push_back(dense(p, sys.vars.size()));
  return out;
}

namespace system_file_detail {
// A string written a piece at a time: room for a piece is checked once, and
// the characters then go in without an append's check each.
class TextOut {
 public:
  // Written into a buffer of the thread's, kept from one text to the next:
  // a text costs its characters, not the growth of a string of its own.
  TextOut() : buf_(scratch()), w_(buf_.data()) {}
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;
  // Room for k more characters.
  void room(std::size_t k) {
    if (std::size_t(buf_.data() + buf_.size() - w_) < k) {
      const std::size_t n = std::size_t(w_ - buf_.data());
      buf_.resize(std::max(2 * buf_.size(), n + k));
      w_ = buf_.data() + n;
    }
  }
  void put(char c) { *w_++ = c; }
  void put(const std::string& v) {
    std::memcpy(w_, v.data(), v.size());
    w_ += v.size();
  }
  template <class T>
  void number(T x) {
    w_ = std::to_chars(w_, buf_.data() + buf_.size(), x).ptr;
  }
  // The decimal text of |z|.
  void magnitude(mpz_srcptr z) {
    if (mpz_size(z) <= 1) return number(mpz_getlimbn(z, 0));
    mpz_t m;
    mpz_roinit_n(m, mpz_limbs_read(z), mpz_size(z));
    mpz_get_str(w_, 10, m);
    w_ += std::strlen(w_);
  }
  std::string take() const { return std::string(buf_.data(), w_); }

 private:
  static std::vector<char>& scratch() {
    thread_local std::vector<char> b(4096);
    return b;
  }
  std::vector<char>& buf_;
  char* w_;
};

// Appends term i of a polynomial: '-' when negative ('+' after the first
// term otherwise), then the magnitude (magnitude(out), at most digits
// characters) unless it is 1 beside a monomial, then the monomial of the
// exponents e[0 .. n) ("x1^2*x3"; nothing for 1).
template <class Exponents, class Magnitude>
void append_term(TextOut& out, std::size_t i, bool negative, bool unit, std::size_t digits, Magnitude magnitude,
                 const Exponents& e, std::size_t n, const std::vector<std::string>& vars) {
  // The variables present, 64 at a time as the bits of a mask: a branch per
  // variable present, not one per variable.
  auto present_from = [&](std::size_t base) {
    std::uint64_t present = 0;
    for (std::size_t k = 0, m = std::min<std::size_t>(64, n - base); k < m; ++k)
      present |= std::uint64_t(e[base + k] != 0) << k;
    return present;
  };
  std::size_t base = 0;
  std::uint64_t present = n ? present_from(0) : 0;
  while (!present && base + 64 < n) present = present_from(base += 64);
  out.room(digits + 2);
  if (negative)
    out.put('-');
  else if (i > 0)
    out.put('+');
  if (!present || !unit) {
    magnitude(out);
    if (present) out.put('*');
  }
  for (bool first = true;;) {
    for (; present; present &= present - 1) {
      const std::size_t v = base + std::size_t(__builtin_ctzll(present));
      const std::int32_t x = std::int32_t(e[v]);
      out.room(vars[v].size() + 13);
      if (!first) out.put('*');
      first = false;
      out.put(vars[v]);
      if (x > 1) {
        out.put('^');
        out.number(x);
      }
    }
    if (base + 64 >= n) break;
    present = present_from(base += 64);
  }
}
}  // namespace system_file_detail

// Canonical text of p, terms in their stored order: "c*x1^2*x3" with
// coefficient 1 and exponent 1 omitted, "-c*m" for a negative term, "0" when empty.
// Written in place: a large basis has millions of terms to print.
inline std::string poly_text(const Poly& p, const std::vector<std::string>& vars) {
  if (p.empty()) return "0";
  system_file_detail::TextOut out;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const mpz_srcptr c = p[i].c.get();
    // Digits with mpz_get_str's terminator.
    const std::size_t digits = mpz_size(c) <= 1 ? 21 : mpz_sizeinbase(c, 10) + 1;
    system_file_detail::append_term(
        out, i, mpz_sgn(c) < 0, mpz_cmpabs_ui(c, 1) == 0, digits, [c](auto& o) { o.magnitude(c); }, p[i].e,
        std::min(vars.size(), p[i].e.size()), vars);
  }
  return out.take();
}

// The text poly_text gives of the polynomial whose nterms terms come as a
// host receives them: vars.size() exponents a term in e, the coefficients in c.
inline std::string rows_text(const std::uint32_t* e, const std::uint32_t* c, std::size_t nterms,
                             const std::vector<std::string>& vars) {
  if (nterms == 0) return "0";
  system_file_detail::TextOut out;
  const std::size_t n = vars.size();
  for (std::size_t i = 0; i < nterms; ++i)
    system_file_detail::append_term(
        out, i, false, c[i] == 1, 10, [v = c[i]](auto& o) { o.number(v); }, e + i * n, n, vars);
  return out.take();
}

}  // namespace quor::standin

#endif  // QUOR_HOST_STANDIN_SYSTEM_FILE_H
