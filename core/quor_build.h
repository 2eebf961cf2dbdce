// The build switch: one source, two builds.
//
// Every source of the core, the engine, the interface and the sparse linear
// algebra is compiled twice.  QUOR_INT selects the build:
//   QUOR_INT=1  integer build      names Quor_int_*, quor_int_*, Tesk_int_*,
//                                  namespace quor::quor_int, residues u32
//   QUOR_INT=0  prime-field build  names Quor_*, quor_*, Tesk_*,
//                                  namespace quor::quor_gf, residues u16
// Names that carry the build prefix are written QUOR_NAME(x) (and
// QUOR_LNAME(x) for the lower-case host entries); everything else lives
// inside the build namespace, so the two builds never share state unless a
// "_shared.cpp" file says so (those declare into namespace quor).
//
// This header has no include guard on purpose: a test or a cross-build file
// may define QUOR_INT, include the dual headers, redefine it and include
// them again.  Each dual header guards itself once per build with
// QUOR_GUARD_* names (see core/README of any header for the pattern).
#ifndef QUOR_INT
#error "QUOR_INT must be defined to 0 or 1 (set by the build)"
#endif

#undef QUOR_NS
#undef QUOR_NAME
#undef QUOR_LNAME
#undef QUOR_TNAME
#undef QUOR_BRIDGE
#undef QUOR_BUILD_TAG
#undef QUOR_BUILD_STR
#undef QUOR_FGLM_LOCAL

#define QUOR_CAT_(a, b) a##b
#define QUOR_CAT(a, b) QUOR_CAT_(a, b)

#if QUOR_INT
#define QUOR_NS quor_int
#define QUOR_NAME(x) Quor_int_##x
#define QUOR_LNAME(x) quor_int_##x
#define QUOR_TNAME(x) Tesk_int_##x
#define QUOR_BRIDGE(x) x##_VGF
#define QUOR_BUILD_TAG Int
#define QUOR_BUILD_STR "int"
// The integer build runs the sparse FGLMs of a block's primes side by side:
// the state of one run (prime, matrix, random stream) is per thread there.
#define QUOR_FGLM_LOCAL thread_local
#else
#define QUOR_NS quor_gf
#define QUOR_NAME(x) Quor_##x
#define QUOR_LNAME(x) quor_##x
#define QUOR_TNAME(x) Tesk_##x
#define QUOR_BRIDGE(x) x##_GFC
#define QUOR_BUILD_TAG Gf
#define QUOR_BUILD_STR "gf"
#define QUOR_FGLM_LOCAL
#endif

#ifndef QUOR_BUILD_COMMON_H
#define QUOR_BUILD_COMMON_H
#include <cstdint>

#define QUOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace quor {
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i32 = std::int32_t;
using i64 = std::int64_t;

// Residue types of the two builds (see core/coeffs.h for the arithmetic).
namespace quor_int { using Dom = u32; inline constexpr bool kIntBuild = true; }
namespace quor_gf { using Dom = u16; inline constexpr bool kIntBuild = false; }
}  // namespace quor
#endif
