// Normal forms modulo a zero-dimensional reduced Gröbner basis (degree
// reverse lexicographic order, reference_gb.h), as dense vectors over the
// staircase.  Membership checks of polynomials of high degree in one
// variable, where term-by-term reduction would take millions of steps.
#ifndef QUOR_TESTS_SUPPORT_STAIRCASE_NF_H
#define QUOR_TESTS_SUPPORT_STAIRCASE_NF_H
#include <cstdint>
#include <deque>
#include <map>
#include <stdexcept>
#include <vector>

#include "tests/support/reference_gb.h"

namespace refgb {

class StaircaseNF {
 public:
  using Vec = std::vector<std::uint64_t>;

  StaircaseNF(const std::vector<Pol<std::uint64_t>>& G, std::uint64_t p) : G_(G), k_{p} {
    if (G_.empty()) throw std::invalid_argument("empty basis");
    nvars_ = G_[0].begin()->first.size();
    // The standard monomials, breadth first from 1 (finite: zero-dimensional).
    std::deque<Mono> todo{Mono(nvars_, 0)};
    while (!todo.empty()) {
      const Mono m = todo.front();
      todo.pop_front();
      if (index_.count(m) || !standard(m)) continue;
      if (index_.size() > kMaxStaircase) throw std::invalid_argument("not zero-dimensional");
      index_.emplace(m, index_.size());
      for (std::size_t i = 0; i < nvars_; ++i) {
        Mono u = m;
        ++u[i];
        todo.push_back(u);
      }
    }
  }

  std::size_t dim() const { return index_.size(); }
  // The standard monomials and their coordinates (1 is coordinate 0).
  const std::map<Mono, std::size_t>& staircase() const { return index_; }

  // The normal form of f.
  Vec of(const Pol<std::uint64_t>& f) {
    Vec v(dim(), 0);
    for (const auto& [m, c] : f) add(v, nf(m), c);
    return v;
  }

  static bool zero(const Vec& v) {
    for (std::uint64_t x : v)
      if (x) return false;
    return true;
  }

 private:
  static constexpr std::size_t kMaxStaircase = 1u << 20;

  bool standard(const Mono& m) const {
    for (const auto& g : G_)
      if (divides(g.begin()->first, m)) return false;
    return true;
  }
  void add(Vec& v, const Vec& w, std::uint64_t c) const {
    if (!c) return;
    for (std::size_t s = 0; s < v.size(); ++s)
      if (w[s]) v[s] = k_.add(v[s], k_.mul(w[s], c));
  }
  // NF of one monomial, memoised.  A non-standard u that is no leading
  // monomial is x_i u' with u' non-standard: NF(u) = sum NF(u')_s NF(x_i s),
  // and every x_i s is below u in the order, so the recursion ends.
  const Vec& nf(const Mono& u) {
    if (auto it = memo_.find(u); it != memo_.end()) return it->second;
    Vec v(dim(), 0);
    if (auto it = index_.find(u); it != index_.end()) {
      v[it->second] = 1;
      return memo_.emplace(u, std::move(v)).first->second;
    }
    for (const auto& g : G_)
      if (g.begin()->first == u) {
        for (auto t = std::next(g.begin()); t != g.end(); ++t) v[index_.at(t->first)] = k_.neg(t->second);
        if (g.begin()->second != 1) {
          const std::uint64_t c = k_.inv(g.begin()->second);
          for (auto& x : v) x = k_.mul(x, c);
        }
        return memo_.emplace(u, std::move(v)).first->second;
      }
    std::size_t i = 0;
    Mono w = u;
    for (; i < nvars_; ++i) {
      if (!u[i]) continue;
      w = u;
      --w[i];
      if (!standard(w)) break;
    }
    if (i == nvars_) throw std::logic_error("a minimal non-standard monomial that leads no basis element");
    const Vec inner = nf(w);
    for (const auto& [s, at] : index_) {
      if (!inner[at]) continue;
      Mono xs = s;
      ++xs[i];
      add(v, nf(xs), inner[at]);
    }
    return memo_.emplace(u, std::move(v)).first->second;
  }

  std::vector<Pol<std::uint64_t>> G_;
  Zp k_;
  std::size_t nvars_ = 0;
  std::map<Mono, std::size_t> index_;
  std::map<Mono, Vec> memo_;
};

}  // namespace refgb
#endif
