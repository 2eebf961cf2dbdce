// Least-significant-digit radix sort for the large sorts of a step (the
// columns by monomial, the rows by lead), where a comparison sort spends
// most of its time in mispredicted branches.
#pragma once
#include "core/quor_build.h"

#include <cstring>
#include <utility>

namespace quor {

// Below this many records a comparison sort does as well.
inline constexpr u64 kRadixSortFrom = 2048;

// Sorts a[0 .. n-1] stably by key words word(a[j], 0), word(a[j], 1), ..., word(a[j], words - 1), the first the
// most significant; scratch holds n records.  Digits where every key agrees are not passed over.
template <class T, class Word>
void radix_sort(T* a, T* scratch, u64 n, u32 words, Word word) {
  constexpr u32 kBits = 11;
  constexpr u64 kMask = (u64(1) << kBits) - 1;
  T* src = a;
  T* dst = scratch;
  for (u32 i = words; i-- > 0;) {
    u64 any = 0, all = ~u64(0);
    for (u64 j = 0; j < n; ++j) {
      const u64 k = word(src[j], i);
      any |= k, all &= k;
    }
    const u64 differ = any ^ all;
    for (u32 shift = 0; shift < 64 && (differ >> shift) != 0; shift += kBits) {
      if (((differ >> shift) & kMask) == 0) continue;
      u64 start[kMask + 1] = {};
      for (u64 j = 0; j < n; ++j) ++start[(word(src[j], i) >> shift) & kMask];
      for (u64 d = 0, at = 0; d <= kMask; ++d) at += std::exchange(start[d], at);
      for (u64 j = 0; j < n; ++j) dst[start[(word(src[j], i) >> shift) & kMask]++] = src[j];
      std::swap(src, dst);
    }
  }
  if (src != a) std::memcpy(static_cast<void*>(a), src, n * sizeof(T));
}

}  // namespace quor
