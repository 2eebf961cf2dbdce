// Matrix file reader.  Arrays sized by the header are filled chunk by chunk
// as the data actually arrives, so a header that lies about its sizes ends
// in the short-read error rather than in a huge allocation; every column and
// row size is checked before a row is written.
#include "engine/matrixfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/multmatrix.h"
#include "minpolyvgf/fglm.h"
#if !QUOR_INT
#include "minpolyvgf/prime_sign.h"
#endif

namespace quor::QUOR_NS {

namespace {

#if QUOR_INT
using FileValue = u32;
constexpr const char* kNzRead = "fread(nz, sizeof(compact_Dom), nb,f)==nb";
constexpr int kNzLine = 17261;
#else
using FileValue = u16;
constexpr const char* kNzRead = "fread(nz, sizeof(short int), nb,f)==nb";
constexpr int kNzLine = 17259;
#endif

constexpr u64 kChunk = u64(1) << 20;  // entries read per step

struct Reader {
  std::FILE* f;
  std::vector<FileValue> nz;
  std::vector<u32> pos, sz;

  // Gives back everything, then raises: the file and the buffers must not
  // outlive the request.
  template <class... A>
  [[noreturn]] void fail(const char* format, A... args) {
    close_ouvrir(f);
    std::vector<FileValue>().swap(nz);
    std::vector<u32>().swap(pos);
    std::vector<u32>().swap(sz);
    QUOR_NAME(Fatal)(format, args...);
  }
  [[noreturn]] void short_read(const char* what, int line) {
    fail("algo13:%d: rebuild_matrix: Assertion `%s' failed.\n", line, what);
  }
  template <class T>
  void field(T* out, const char* what, int line) {
    if (std::fread(out, sizeof(T), 1, f) != 1) short_read(what, line);
  }
  template <class T>
  void array(std::vector<T>& v, u64 count, const char* what, int line) {
    v.clear();
    for (u64 done = 0; done < count;) {
      const u64 step = std::min(kChunk, count - done);
      v.resize(done + step);
      if (std::fread(v.data() + done, sizeof(T), step, f) != step) short_read(what, line);
      done += step;
    }
  }
};

template <class T>
T* zone_array(u64 n) {
  return static_cast<T*>(QUOR_NAME(alloc64)((n ? n : 1) * sizeof(T)));
}

}  // namespace

u32 rebuild_matrix(const char* name, Dpol* result) {
  const u32 n = nb_of_affine_variables;
  if (n == 0 || QUOR_NAME(Primes) == nullptr || QUOR_NAME(Primes)[0] < 2)
    QUOR_NAME(Fatal)("rebuild_matrix: declare the variables and the prime of the request first\n");
  const u32 last = n - 1;
  Reader in{QUOR_NAME(ouvrir)(name, "r"), {}, {}, {}};
  const u32 p0 = QUOR_NAME(Primes)[0];
  u32 N0 = 0, m = 0, mod = 0;
  u64 nb = 0;
  in.field(&N0, "n_inp=fread(&N0,sizeof(UI32), 1,f)==1", 17213);
  in.field(&m, "n_inp=fread(&m,sizeof(UI32), 1,f)==1", 17214);
  in.field(&mod, "n_inp=fread(&mod,sizeof(UI32), 1,f)==1", 17215);
  in.field(&nb, "n_inp=fread(&nb,sizeof(UI64),1,f)==1", 17216);
  std::fprintf(stderr, "%u x %u matrix\n", N0, m);
  std::fprintf(stderr, "mod %u\n", p0);
  std::fprintf(stderr, "Nb of Nz elements %llu (density %.2f)\n", static_cast<unsigned long long>(nb),
               100.0 * double(nb) / (double(N0) * double(m)));
  in.array(in.nz, nb, kNzRead, kNzLine);
  in.array(in.pos, nb, "fread(pos,sizeof(UI32),nb,f)==nb", 17264);
  in.array(in.sz, N0, "fread(sz, sizeof(UI32),N0, f)==N0", 17265);

  if (N0 == 0) in.fail("rebuild_matrix: %s holds an empty matrix\n", name);
  if (u64(N0) > u64(INT32_MAX / 2)) in.fail("rebuild_matrix: %s: matrix size %u too large\n", name, N0);
  u64 total = 0;
  for (u32 s : in.sz) total += s;
  if (total != nb)
    in.fail("rebuild_matrix: %s: the row sizes add up to %llu entries, the file holds %llu\n", name,
            static_cast<unsigned long long>(total), static_cast<unsigned long long>(nb));
  for (u64 e = 0; e < nb; ++e)
    if (in.pos[e] >= N0)
      in.fail("rebuild_matrix: %s: entry %llu in column %u, outside the %u columns\n", name,
              static_cast<unsigned long long>(e), in.pos[e], N0);
  close_ouvrir(in.f);

  // The three pieces.  The dense rows keep their entries (value, column) in
  // zone memory so that each prime of the block fills them again; the read
  // buffers go before the sparse FGLM runs.
  i32* pairs = zone_array<i32>(2 * u64(N0) + 1);
  i32* dense = zone_array<i32>(2 * u64(N0) + 2);
  u32 np = 0, r = 0;
  u64 ndv = 0;
  for (u32 s : in.sz)
    if (s != 1) ++r, ndv += s;
  u64* first = zone_array<u64>(u64(r) + 1);  // dense row d: entries first[d] .. first[d+1]-1
  FileValue* dval = zone_array<FileValue>(ndv);
  u32* dcol = zone_array<u32>(ndv);
  u64 e = 0, w = 0;
  r = 0;
  for (u32 i = 0; i < N0; e += in.sz[i], ++i) {
    if (in.sz[i] == 1) {
      pairs[2 * np] = i32(i);
      pairs[2 * np + 1] = i32(in.pos[e]);
      ++np;
      continue;
    }
    dense[2 * r] = i32(i);
    dense[2 * r + 1] = 0;
    first[r++] = w;
    for (u64 x = e; x < e + in.sz[i]; ++x, ++w) {
      dval[w] = in.nz[x];
      dcol[w] = in.pos[x];
    }
  }
  first[r] = w;
  pairs[2 * np] = -1;
  dense[2 * r] = -1;
  std::vector<FileValue>().swap(in.nz);
  std::vector<u32>().swap(in.pos);
  std::vector<u32>().swap(in.sz);
  std::fprintf(stderr, "\nSparse: %u Non sparse %u\n", np, r);

  const u32 stride = u32((u64(N0) + 1 + 7) & ~u64(7));
  // A row without an entry is a row of zeros: beyond the n rows that also
  // receive the results, such rows share one buffer, so that the table
  // grows with the file and not with its number of rows times the size.
  const u32 nrows = std::max(r, n);
  Dom** rows = zone_array<Dom*>(nrows);
  Dom* zero_row = nullptr;
  for (u32 d = 0; d < nrows; ++d) {
    const bool shared = d >= n && first[d + 1] == first[d];
    if (shared && zero_row != nullptr) {
      rows[d] = zero_row;
      continue;
    }
    rows[d] = zone_array<Dom>(stride);
    std::memset(rows[d], 0, u64(stride) * sizeof(Dom));
    if (shared) zero_row = rows[d];
  }
  i32* idx = zone_array<i32>(n);
  i32* outdeg = zone_array<i32>(n);
  std::fill(idx, idx + n, -1);
  idx[last] = 0;
  const u32 V = QUOR_NAME(vectorize);
  Dom** res = zone_array<Dom*>(V);
  i32* deg = zone_array<i32>(V);

  const double t = QUOR_NAME(cpu)();
  QUOR_NAME(Stderr)("Before QUOR(w_fglm) deg_minpol_estimate=%d\n", -1);
  for (u32 k = 0; k < V; ++k) {
    u32 p = QUOR_NAME(Primes)[k];
#if !QUOR_INT
    PrimeSign = i32(p);
    PrimeHalf = (PrimeSign - 1) / 2;
#endif
    for (u32 d = 0; d < r; ++d) {
      Dom* row = rows[d];
      if (row == zero_row) continue;
      std::memset(row, 0, u64(stride) * sizeof(Dom));
      for (u64 x = first[d]; x < first[d + 1]; ++x) {
        const u32 v = u32(dval[x]) % p;
#if QUOR_INT
        row[dcol[x]] = v;
#else
        row[dcol[x]] = Dom(u16(v > (p - 1) / 2 ? i32(v) - i32(p) : i32(v)));
#endif
      }
    }
    std::fill(outdeg, outdeg + n, -1);
    GC_state mark;
    QUOR_NAME(save_GC_state)(&mark);
    fglm_request(N0, pairs, dense, n, idx, rows, 1, outdeg, &p, 1, 0, Liste_variables, 0, 1, -1, -1, -1);
    QUOR_NAME(restore_GC_state)(&mark);
    deg[k] = std::min(std::max(outdeg[last], -1), i32(N0));
    res[k] = zone_array<Dom>(u64(deg[k] + 1));
    if (deg[k] >= 0) std::memcpy(res[k], rows[last], (u64(deg[k]) + 1) * sizeof(Dom));
  }
#if QUOR_INT
  QUOR_NAME(Stderr)("New FGLM: %.2f sec\n", QUOR_NAME(cpu)() - t);
#else
  if (nb_threads == 1) QUOR_NAME(Stderr)("New FGLM: %.2f sec\n", QUOR_NAME(cpu)() - t);
#endif
  result[0] = univariate_result(-1, V, res, deg);
  return 1;
}

}  // namespace quor::QUOR_NS
