// The library's polynomial text reader on any text, over 1 to 4 variables
// in one or two blocks: a list or a host error, never a crash, a hang or a
// polynomial that breaks the engine's invariants.
#include <cstdint>
#include <cstdlib>

#include "api/reader.h"
#include "core/monomial.h"
#include "core/poly.h"
#include "tests/fuzz/fuzz_request.h"

using namespace quor;
using namespace quor::QUOR_NS;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quor_fuzz::Bytes in(data, size);
  const u32 shape = in.u8();
  const u32 n = 1 + shape % 4, first = (shape / 4) % n;
  const std::string text = in.rest();
  static Dpol table[16];
  quor_fuzz::run([&] {
    quor_fuzz::open_request(first == 0 ? n : first, first == 0 ? 0 : n - first);
    const u32 count = parse_List_Dpol_text(text.c_str(), table, 16);
    if (count > 16) std::abort();
    for (u32 i = 0; i < count; ++i) {
      const Dpol p = table[i];
      for (u32 j = 0; j + 1 < p->nb_terms; ++j)
        if (comp4_Expos(p->monoms[j] + 1, p->monoms[j + 1] + 1) != 1) std::abort();
      for (u32 j = 0; j < p->nb_terms; ++j)
        for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
          if (p->coeffs[k][j] >= QUOR_NAME(Primes)[k]) std::abort();
    }
  });
  return 0;
}
