// The host entry points of both builds driven with random argument vectors
// through the stand-in host: wrong kinds, counts and sizes, short rtables,
// bad strategy names and options arrays, calls in any order.  A crash, a
// sanitizer report or a broken host rule (fuzz_host.h) is a fault; a host
// error is an answer.  Long computations are cut by an interrupt after a
// bounded number of polls.
#include <gmp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/call_quor.h"
#include "host/C/entry_points.h"
#include "tests/fuzz/fuzz_host.h"

namespace {

using quor_fuzz::Bytes;

struct Entry {
  HostEntryPoint fn;
  enum Kind { plain, init, threads, compute, receive } kind;
};
// quor_*_debug_level is left out: it writes record programs under /tmp.
const Entry kEntries[] = {
    {quor_int_gbasis_init, Entry::init},     {quor_int_send_poly, Entry::plain},
    {quor_int_send_poly_gmp, Entry::plain},  {quor_int_gbasis_compute, Entry::compute},
    {quor_int_hilbert_compute, Entry::compute}, {quor_int_receive_poly, Entry::receive},
    {quor_int_receive_poly_gmp, Entry::receive}, {quor_int_receive_poly_new, Entry::receive},
    {quor_int_scheduler, Entry::plain},      {quor_int_internal_version, Entry::plain},
    {quor_int_internal_threads, Entry::threads}, {quor_int_unload, Entry::plain},
    {quor_gbasis_init, Entry::init},         {quor_gbasis_compute, Entry::compute},
    {quor_hilbert_compute, Entry::compute},    {quor_scheduler, Entry::plain},
    {quor_internal_version, Entry::plain},   {quor_internal_threads, Entry::threads},
};
constexpr unsigned kEntryCount = sizeof kEntries / sizeof kEntries[0];
const char* kNames[] = {"t", "first", "count", "next0", "next1", "x"};

std::int64_t small_or_wide(Bytes& in) {
  const std::uint8_t k = in.u8();
  if (k < 200) return std::int64_t(k % 20) - 4;
  if (k < 240) return std::int32_t(in.u32());
  return std::int64_t(std::uint64_t(in.u32()) << 32 | in.u32());
}

HostValue value(quor::standin::Host& h, Bytes& in, int depth) {
  switch (in.u8() % 11) {
    case 0: case 1: case 2: return h.integer(small_or_wide(in));
    case 3: {
      mpz_t z;
      mpz_init(z);
      mpz_ui_pow_ui(z, 2, 32 + in.u8());
      if (in.u8() & 1) mpz_neg(z, z);
      HostValue v = h.gmp_integer(z);
      mpz_clear(z);
      return v;
    }
    case 4: {
      const std::uint8_t k = in.u8();
      if (k < 12) return h.string(quor::kStrategyNames[k]);
      return h.string(std::string(k % 7, char('A' + k % 26)));
    }
    case 5: return h.name(kNames[in.u8() % 6]);
    case 6: return h.null();
    case 7: return h.floating(double(small_or_wide(in)) / 3);
    case 8: {
      std::vector<HostValue> items;
      const unsigned n = depth > 1 ? 0 : in.u8() % 5;
      for (unsigned i = 0; i < n; ++i) items.push_back(value(h, in, depth + 1));
      return h.list(items);
    }
    default: {
      // An INTEGER32 rtable, often shaped like an options array; its declared
      // rows may be fewer than the values a call would want.
      const unsigned rows = in.u8() % 16, cols = in.u8() % 8 == 0 ? 1 + in.u8() % 4 : 0;
      std::vector<std::int32_t> d(std::size_t(rows) * (cols ? cols : 1));
      for (std::size_t i = 0; i < d.size(); ++i) d[i] = std::int32_t(small_or_wide(in));
      if (!d.empty() && in.u8() % 2) d[0] = std::int32_t(rows);  // o[0]: the count
      return h.rtable_int32(d, std::int32_t(rows), std::int32_t(cols),
                            in.u8() % 2 ? HOST_RTABLE_C_ORDER : HOST_RTABLE_FORTRAN_ORDER);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quor::standin::Host& h = quor_fuzz::fresh_host();
  Bytes in(data, size);
  h.interrupt_after_polls(20000);
  for (int call = 0; call < 8 && !in.empty(); ++call) {
    const Entry& e = kEntries[in.u8() % kEntryCount];
    std::vector<HostValue> args;
    const unsigned n = in.u8() % 14;
    for (unsigned i = 0; i < n; ++i) args.push_back(value(h, in, 0));
    // No record programs; no more threads than a test machine has.
    if (e.kind == Entry::init && !args.empty() && h.is_integer(args.back())) args.back() = h.integer(0);
    // The entries assign their results to names the host passes, and the
    // host interface has no test for a name that may already hold a value:
    // those places get names (a value there is the host's own error).
    if (e.kind == Entry::compute)
      for (unsigned k = 0; k < 3 && k < args.size(); ++k) args[k] = h.name(kNames[k]);
    if (e.kind == Entry::receive && args.size() >= 5) args[4] = h.name(kNames[3]);
    if (e.kind == Entry::threads)
      for (HostValue& a : args)
        if (h.is_integer(a)) a = h.integer(1 + std::int64_t(in.u8() % 2));
    h.call(e.fn, args);
    quor_fuzz::check_host();
    h.clear_output();
    h.clear_user_info();
    h.interrupt_after_polls(20000);
  }
  return 0;
}
