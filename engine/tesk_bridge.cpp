// The Tesk engine's algorithms behind these calls are not built yet: every
// bridge call refuses with a fatal error that names the missing service, so
// that no caller mistakes an empty result for an answer.
#include "engine/tesk_bridge.h"

#include "core/channels.h"

namespace quor::QUOR_NS {

namespace {
[[noreturn]] void not_available(const char* what) {
  QUOR_NAME(Fatal)("%s: not available in this version\n", what);
}
}  // namespace

u32 lib_hilbert_compute(HostDpol*, u32, HostDpol*) { not_available("Hilbert series"); }

u32 lib_normalForm(Dpol*, u32, Dpol*, u32, Dpol*, u32, i32, Dpol*) { not_available("Normal form"); }

}  // namespace quor::QUOR_NS
