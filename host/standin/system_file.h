// Polynomial-system files, as the command-line host and the benchmarks read
// them, and the canonical text of a polynomial.
//
// File:
//   # name: <text>                 (optional)
//   # vars: x1,x2,...,xn           greatest first
//   # blocks: k                    (optional: x1..xk form the first block)
//   [p1, p2, ..., pm]              integer coefficients, '*', '^', any spacing
// Other lines starting with '#' are comments.
//
// Header-only so that every program that needs it can include it without a
// library of its own.
#ifndef QUOR_HOST_STANDIN_SYSTEM_FILE_H
#define QUOR_HOST_STANDIN_SYSTEM_FILE_H

#include <gmp.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quor::standin {

// A malformed or unreadable system file; the text names the file and line.
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
  Big& operator=(const Big& o) {
    mpz_set(z_, o.z_);
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

// One term: coefficient and one exponent per variable of the system.
struct Term {
  Big c;
  std::vector<std::int32_t> e;
};
using Poly = std::vector<Term>;

struct System {
  std::string name;
  std::vector<std::string> vars;
  int blocks = 0;  // size of the first block; 0: one block
  std::vector<Poly> polys;
};

namespace system_file_detail {

inline std::string trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// Reader of the polynomial list; positions are reported by line.
class Parser {
 public:
  Parser(const std::string& path, const System& sys, std::string text, int first_line)
      : path_(path), sys_(sys), s_(std::move(text)), line_(first_line) {
    for (std::size_t j = 0; j < sys.vars.size(); ++j) index_[sys.vars[j]] = int(j);
  }

  std::vector<Poly> list() {
    skip();
    if (!eat('[')) error("'[' expected");
    std::vector<Poly> out;
    skip();
    if (eat(']')) error("empty system");
    for (;;) {
      out.push_back(poly());
      skip();
      if (eat(']')) break;
      if (!eat(',')) error("',' or ']' expected");
    }
    skip();
    if (i_ < s_.size()) error("text after the closing ']'");
    return out;
  }

 private:
  [[noreturn]] void error(const std::string& what) {
    throw SystemFileError(path_ + ":" + std::to_string(line_) + ": " + what);
  }

  void skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) {
      if (s_[i_] == '\n') ++line_;
      ++i_;
    }
  }
  bool eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  char peek() {
    skip();
    return i_ < s_.size() ? s_[i_] : '\0';
  }

  std::string digits() {
    std::string d;
    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) d += s_[i_++];
    return d;
  }

  Poly poly() {
    Poly p;
    bool first = true;
    for (;;) {
      const char c = peek();
      int sign = 1;
      if (c == '+' || c == '-') {
        sign = c == '-' ? -1 : 1;
        ++i_;
      } else if (!first) {
        return p;
      }
      p.push_back(term(sign));
      first = false;
    }
  }

  Term term(int sign) {
    Term t;
    t.e.assign(sys_.vars.size(), 0);
    mpz_set_si(t.c.get(), sign);
    for (;;) {
      factor(t);
      if (peek() != '*') return t;
      ++i_;
    }
  }

  void factor(Term& t) {
    const char c = peek();
    if (std::isdigit(static_cast<unsigned char>(c))) {
      const std::string d = digits();
      if (i_ < s_.size() && (std::isalpha(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' || s_[i_] == '_'))
        error("malformed number '" + d + s_[i_] + "'");
      Big v;
      mpz_set_str(v.get(), d.c_str(), 10);
      if (peek() == '^') {
        ++i_;
        mpz_pow_ui(v.get(), v.get(), exponent());
      }
      mpz_mul(t.c.get(), t.c.get(), v.get());
      return;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::string name;
      while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_')) name += s_[i_++];
      auto it = index_.find(name);
      if (it == index_.end()) error("unknown variable '" + name + "'");
      long e = 1;
      if (peek() == '^') {
        ++i_;
        e = long(exponent());
      }
      const long total = long(t.e[std::size_t(it->second)]) + e;
      if (total > 32767) error("exponent of " + name + " above 32767");
      t.e[std::size_t(it->second)] = std::int32_t(total);
      return;
    }
    if (c == '\0') error("unexpected end of the file");
    error(std::string("unexpected '") + c + "'");
  }

  unsigned long exponent() {
    skip();
    const std::string d = digits();
    if (d.empty()) error("exponent expected after '^'");
    if (d.size() > 5 || std::stol(d) > 32767) error("exponent " + d + " above 32767");
    return std::stoul(d);
  }

  const std::string& path_;
  const System& sys_;
  std::string s_;
  std::size_t i_ = 0;
  int line_;
  std::map<std::string, int> index_;
};

// "# key: value" (also "#C key: value"); false for other lines.
inline bool header_line(const std::string& line, std::string& key, std::string& value) {
  std::size_t k = 1;
  if (k < line.size() && line[k] == 'C') ++k;
  const std::size_t colon = line.find(':', k);
  if (colon == std::string::npos) return false;
  key = trim(line.substr(k, colon - k));
  value = trim(line.substr(colon + 1));
  return key == "name" || key == "vars" || key == "blocks";
}

}  // namespace system_file_detail

// The polynomials of the list "[p1, ..., pm]" over the variables of sys;
// errors are reported as "where:line: what".
inline std::vector<Poly> parse_poly_list(const std::string& text, const System& sys, const std::string& where) {
  system_file_detail::Parser parser(where, sys, text, 1);
  return parser.list();
}

// The system in the file at path; throws SystemFileError ("path:line: what") when it cannot.
inline System read_system(const std::string& path) {
  using system_file_detail::trim;
  auto fail = [&](int line, const std::string& what) -> SystemFileError {
    return SystemFileError(path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what);
  };
  std::ifstream in(path);
  if (!in) throw SystemFileError("cannot open " + path);
  System sys;
  std::string line, body;
  int n = 0, body_line = 0;
  bool seen_vars = false;
  while (std::getline(in, line)) {
    ++n;
    const std::string t = trim(line);
    if (body_line == 0 && !t.empty() && t[0] == '#') {
      std::string key, value;
      if (!system_file_detail::header_line(t, key, value)) continue;
      if (key == "name") {
        sys.name = value;
      } else if (key == "vars") {
        std::stringstream ss(value);
        std::string v;
        while (std::getline(ss, v, ',')) {
          v = trim(v);
          bool ok = !v.empty() && (std::isalpha(static_cast<unsigned char>(v[0])) || v[0] == '_');
          for (char ch : v) ok = ok && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
          if (!ok) throw fail(n, "malformed variable name '" + v + "'");
          for (const std::string& w : sys.vars)
            if (w == v) throw fail(n, "variable " + v + " listed twice");
          sys.vars.push_back(v);
        }
        seen_vars = true;
      } else {
        char* end = nullptr;
        const long k = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || k < 0) throw fail(n, "malformed block size");
        sys.blocks = int(k);
      }
      continue;
    }
    if (body_line == 0) {
      if (t.empty()) continue;
      body_line = n;
    }
    body += line + "\n";
  }
  if (!seen_vars || sys.vars.empty()) throw fail(0, "no '# vars:' line");
  if (sys.blocks >= int(sys.vars.size()))
    throw fail(0, "a first block of " + std::to_string(sys.blocks) + " variables leaves none for the second");
  if (body_line == 0) throw fail(n, "empty system");
  system_file_detail::Parser parser(path, sys, body, body_line);
  sys.polys = parser.list();
  return sys;
}

// Text of a monomial ("x1^2*x3"; "" for 1).
inline std::string monomial_text(const std::vector<std::int32_t>& e, const std::vector<std::string>& vars) {
  std::string mono;
  for (std::size_t j = 0; j < vars.size() && j < e.size(); ++j) {
    if (e[j] == 0) continue;
    if (!mono.empty()) mono += '*';
    mono += vars[j];
    if (e[j] > 1) mono += '^' + std::to_string(e[j]);
  }
  return mono;
}

// Canonical text of p, terms in their stored order: "c*x1^2*x3" with
// coefficient 1 and exponent 1 omitted, "-c*m" for a negative term, "0" when empty.
inline std::string poly_text(const Poly& p, const std::vector<std::string>& vars) {
  if (p.empty()) return "0";
  std::string out;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const Term& t = p[i];
    const std::string mono = monomial_text(t.e, vars);
    Big a;
    mpz_abs(a.get(), t.c.get());
    const std::string digits = a.text();
    if (mpz_sgn(t.c.get()) < 0)
      out += '-';
    else if (i > 0)
      out += '+';
    if (mono.empty())
      out += digits;
    else if (digits == "1")
      out += mono;
    else
      out += digits + '*' + mono;
  }
  return out;
}

}  // namespace quor::standin

#endif  // QUOR_HOST_STANDIN_SYSTEM_FILE_H
