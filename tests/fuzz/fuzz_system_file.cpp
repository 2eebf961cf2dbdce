// The command-line host's system-file reader on any bytes: a system or a
// SystemFileError, nothing else; what it reads prints back and reads again
// to the same polynomials.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/standin/system_file.h"

using namespace quor::standin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SparseSystem s;
  try {
    s = read_sparse_system_text(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
  } catch (const SystemFileError&) {
    return 0;
  }
  if (s.vars.empty() || s.polys.empty() || s.blocks < 0 || std::size_t(s.blocks) >= s.vars.size()) std::abort();
  std::string text;
  for (const SparsePoly& p : s.polys) {
    for (const SparseTerm& t : p) {
      if (mpz_sizeinbase(t.c.get(), 2) > kMaxCoefficientBits) std::abort();
      for (std::size_t k = 0; k < t.e.size(); ++k)
        if (t.e[k].second < 1 || t.e[k].second > kMaxExponent || std::size_t(t.e[k].first) >= s.vars.size() ||
            (k > 0 && t.e[k - 1].first >= t.e[k].first))
          std::abort();
    }
    text += (text.empty() ? "[" : ", ") + poly_text(dense(p, s.vars.size()), s.vars);
  }
  const std::vector<Poly> again = parse_poly_list(text + "]", s, "printed");
  if (again.size() != s.polys.size()) std::abort();
  for (std::size_t i = 0; i < again.size(); ++i)
    if (poly_text(again[i], s.vars) != poly_text(dense(s.polys[i], s.vars.size()), s.vars)) std::abort();
  return 0;
}
