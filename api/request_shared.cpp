// State one copy serves for both builds: the generation of the library
// memory (both builds release one pool) and the strategy-name table.
#include <cstring>

#include "api/request_shared.h"
#include "core/call_quor.h"

namespace quor {

namespace {
u64 generation = 1;
}  // namespace

u64 memory_generation() { return generation; }
void memory_generation_advance() { ++generation; }

I32 strategy_code(const char* name) {
  if (name == nullptr) return QUOR_COMPUTE_GBASIS;
  // The names are compared whole, so no name is taken for a longer one.
  for (I32 code = QUOR_COMPUTE_RRFORM; code <= QUOR_COMPUTE_MATRIXN; ++code)
    if (std::strcmp(name, kStrategyNames[code - 1]) == 0) return code;
  return QUOR_COMPUTE_GBASIS;
}

const char* strategy_name(I32 code) {
  if (code < QUOR_COMPUTE_GBASIS || code > QUOR_COMPUTE_MATRIXN) return "QUOR_???";
  return kStrategyNames[code - 1];
}

}  // namespace quor
