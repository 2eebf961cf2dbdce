// An open request of the build the target is compiled for, through the
// public calls, as a host opens one.
#pragma once
#include "core/quor_build.h"

#include <string>
#include <vector>

#include "api/request.h"
#include "core/call_quor.h"
#include "core/coeffs.h"
#include "core/hashtable.h"
#include "host/C/host_services.h"
#include "tests/fuzz/fuzz_host.h"

namespace quor_fuzz {

// Variables x1 .. x(first+second), the first `first` in block 1; `primes`
// working primes in the integer build, 65521 in the prime-field build; quiet.
inline void open_request(quor::u32 first, quor::u32 second, quor::u32 primes = 2) {
  using namespace quor::QUOR_NS;
  static std::vector<std::string> names;
  static std::vector<char*> ptrs;
  quor::Host_kernel = host().kernel();
  // A small monomial table: clearing the default one would take most of
  // the time of an input.
  quor_max_index = 8192;
  set_hash_prime();
  QUOR_NAME(reset_memory)();
  QUOR_NAME(init_urgent)(sizeof(Dom), 2, "DRLDRL", 100000, 0);
  QUOR_NAME(init)(1, 1, 0, nullptr);
  QUOR_NAME(internal_threads)(1);
#if QUOR_INT
  QUOR_NAME(reset_coeffs)(primes);
#else
  (void)primes;
  const UI32 pr[] = {65521};
  QUOR_NAME(reset_coeffs)(1, pr);
#endif
  names.clear();
  ptrs.clear();
  for (quor::u32 i = 1; i <= first + second; ++i) names.push_back("x" + std::to_string(i));
  for (auto& s : names) ptrs.push_back(s.data());
  QUOR_NAME(reset_expos)(first, second, ptrs.data());
  QUOR_NAME(want_quiet) = 1;
}

}  // namespace quor_fuzz
