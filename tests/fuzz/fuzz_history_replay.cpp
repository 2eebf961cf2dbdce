// The sugar loop replaying any bytes as its history (history_replay.h):
// it ends, never fatally, with the basis of a run without history or, when
// it takes the history whole, a basis that reduces every input to zero.
#include <cstdint>
#include <cstdlib>

#include "tests/fuzz/history_replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;
  if (history_replay::replay(data, size) == history_replay::Outcome::Wrong) std::abort();
  return 0;
}
