// The matrix of multiplication by the last variable on the staircase of a
// reduced zero-dimensional basis modulo p (degree reverse lexicographic
// order, reference_gb.h), in the sparse FGLM's pieces: coordinates as
// StaircaseNF numbers them (1 is coordinate 0).  A product that leaves the
// staircase is a multiple q lead(g) of a basis element, whose normal form is
// -sum c_t NF(q m_t) / lc(g) over the tail of g (memoised).
#ifndef QUOR_TESTS_SUPPORT_XLAST_MATRIX_H
#define QUOR_TESTS_SUPPORT_XLAST_MATRIX_H
#include <cstdint>
#include <map>
#include <vector>

#include "tests/support/staircase_nf.h"

namespace refgb {

struct XlastMatrix {
  std::size_t D = 0;
  std::vector<std::int32_t> pairs, nosp;         // (dst, src) and (row, 0), each ended by -1, -1
  std::vector<std::vector<std::uint64_t>> rows;  // the dense rows in nosp order, residues
};

class XlastBuilder {
 public:
  XlastBuilder(const std::vector<Pol<std::uint64_t>>& G, std::uint64_t p) : G_(G), k_{p}, stair_(G, p) {}

  XlastMatrix build() {
    XlastMatrix m;
    m.D = stair_.dim();
    const auto& index = stair_.staircase();
    for (const auto& [s, c] : index) {
      Mono u = s;
      ++u.back();
      if (auto it = index.find(u); it != index.end()) {
        m.pairs.insert(m.pairs.end(), {std::int32_t(c), std::int32_t(it->second)});
        continue;
      }
      m.nosp.insert(m.nosp.end(), {std::int32_t(c), 0});
      m.rows.push_back(nf(u));
    }
    m.pairs.insert(m.pairs.end(), {-1, -1});
    m.nosp.insert(m.nosp.end(), {-1, -1});
    return m;
  }

 private:
  const std::vector<std::uint64_t>& nf(const Mono& u) {
    if (auto it = memo_.find(u); it != memo_.end()) return it->second;
    const Pol<std::uint64_t>* g = nullptr;
    for (const auto& h : G_)
      if (divides(h.begin()->first, u)) {
        g = &h;
        break;
      }
    if (g == nullptr) throw std::logic_error("a non-standard monomial that no leading monomial divides");
    const auto& index = stair_.staircase();
    const std::uint64_t il = k_.inv(g->begin()->second);
    std::vector<std::uint64_t> v(stair_.dim(), 0);
    for (auto t = std::next(g->begin()); t != g->end(); ++t) {
      Mono s = t->first;
      for (std::size_t i = 0; i < s.size(); ++i) s[i] += u[i] - g->begin()->first[i];
      const std::uint64_t c = k_.mul(k_.neg(t->second), il);
      if (auto it = index.find(s); it != index.end()) {
        v[it->second] = k_.add(v[it->second], c);
        continue;
      }
      const std::vector<std::uint64_t>& w = nf(s);
      for (std::size_t x = 0; x < v.size(); ++x) v[x] = (v[x] + c * w[x]) % k_.p;
    }
    return memo_.emplace(u, std::move(v)).first->second;
  }

  const std::vector<Pol<std::uint64_t>>& G_;
  Zp k_;
  StaircaseNF stair_;
  std::map<Mono, std::vector<std::uint64_t>> memo_;
};

}  // namespace refgb
#endif
