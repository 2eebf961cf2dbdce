// The integer transfer format on the way in (a polynomial built term by term
// from sign-and-magnitude words) and out (its export into a buffer of any
// size): host errors or results, and the results add up to what came in.
#include <gmp.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "api/transfer.h"
#include "tests/fuzz/fuzz_request.h"

using namespace quor;
using namespace quor::QUOR_NS;

namespace {
// The value of len transfer words, as import_INT reads them.
void value_of(mpz_t out, const std::uint32_t* w, std::uint32_t len) {
  mpz_set_ui(out, 0);
  if (len <= 1) return;
  mpz_import(out, len - 1, -1, sizeof(std::uint32_t), 0, 0, w + 1);
  if (std::int32_t(w[0]) < 0) mpz_neg(out, out);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quor_fuzz::Bytes in(data, size);
  const u32 n = 1 + in.u8() % 3;
  const u32 terms = in.u8() % 6;
  std::vector<std::vector<I32>> exps(terms);
  std::vector<std::vector<std::uint32_t>> words(terms);
  for (u32 i = 0; i < terms; ++i) {
    const u32 nv = in.u8() % (n + 1);
    for (u32 j = 0; j < nv; ++j) exps[i].push_back(I32(in.u8() % 5 == 0 ? in.u32() : in.u8() % 8));
    const u32 len = in.u8() % 9;
    for (u32 j = 0; j < len; ++j) words[i].push_back(in.u32());
  }
  const std::int64_t max = std::int64_t(in.u8()) * 4 - 8;
  mpz_t sum_in, sum_out, v;
  mpz_inits(sum_in, sum_out, v, nullptr);
  for (u32 i = 0; i < terms; ++i) {
    value_of(v, words[i].data(), u32(words[i].size()));
    mpz_add(sum_in, sum_in, v);
  }
  std::vector<std::uint32_t> buf(std::size_t(max > 0 ? max : 0) + 1, 0xA5A5A5A5u), ex(terms * n + 1);
  I32 code = 0;
  u32 B = 0, kept = 0;
  const bool done = quor_fuzz::run([&] {
    quor_fuzz::open_request(n, 0);
    InPoly p = Quor_int_creat_poly(terms);
    for (u32 i = 0; i < terms; ++i) {
      Quor_int_set_expos2(p, i, exps[i].data(), u32(exps[i].size()));
      Quor_int_set_coeff_raw(p, i, reinterpret_cast<const I32*>(words[i].data()), u32(words[i].size()));
    }
    Quor_int_full_sort_poly2(p);
    kept = Quor_int_nb_terms(p);
    code = Quor_int_export_poly_INT(n, kept, ex.data(), buf.data(), max, p, &B);
  });
  if (done) {
    if (kept > terms || (code != 1 && code != -2)) std::abort();
    if (code == 1) {
      if (std::int64_t(B) * kept > max) std::abort();
      for (u32 i = 0; i < kept; ++i) {
        value_of(v, buf.data() + std::size_t(i) * B, B);
        if (mpz_sgn(v) == 0) std::abort();  // zero terms are dropped
        mpz_add(sum_out, sum_out, v);
      }
      if (mpz_cmp(sum_in, sum_out) != 0) std::abort();
    }
    if (buf.back() != 0xA5A5A5A5u) std::abort();  // nothing past max words
  }
  mpz_clears(sum_in, sum_out, v, nullptr);
  return 0;
}
