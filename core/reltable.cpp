// Relative index tables: the five instances of this build and the out-of-line
// paths (zone chunks, fatal reports).
#include "core/reltable.h"

#include "core/channels.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

RelTable<u64*> rel_Expos{"Expos"};
RelTable<u32> rel_Indexes{"Indexes"};
RelTable<Crit> rel_Crit{"Crit"};
RelTable<u8> rel_CBoolean{"CBoolean"};
RelTable<MatrixRow_entry> rel_MatrixRow{"MatrixRow"};

void reltable_fail(const char* format, const char* name) { QUOR_NAME(Fatal)(format, name); }

void reltable_fail_extend(const char* name, u32 cur) {
  QUOR_NAME(Fatal)("Cannot extend %s data type cur=%d>=%d\n", name, i32(cur), i32(kRelMaxChunks));
}

void* reltable_chunk(u64 bytes) { return QUOR_NAME(alloc64)(bytes); }

void forget_relative_tables() {
  rel_Expos.forget();
  rel_Indexes.forget();
  rel_Crit.forget();
  rel_CBoolean.forget();
  rel_MatrixRow.forget();
}

}  // namespace quor::QUOR_NS
