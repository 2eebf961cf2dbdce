// Set-up of the Tesk engine for the library's bridge: the one-time
// initialisation of each build's engine side and the choice of its primes.
// The four calls are exported with plain C names; the core's bridge makes
// them (the integer build the VGF pair, the prime-field build the GFC pair).
#ifndef TESK_ALGO_BRIDGE_SETUP_H
#define TESK_ALGO_BRIDGE_SETUP_H

#include <cstdint>
#include <cstdio>

#define TESK_EXPORT extern "C" __attribute__((visibility("default")))

namespace tesk {
// Number of primes the bridge asked for (Tesk_set_Coeffs_*); 0 before.
extern int want_set_vectorize;
}  // namespace tesk

// Once per process, before any other bridge call: quiet engine, its printers
// on standard output, diagnostics on err, the BigDexp/BigLexp VGF packages.
TESK_EXPORT void Tesk_urgent_init_VGF(std::FILE* out, std::FILE* err);
// The same for the prime-field side: the DRLDRL GFC package.
TESK_EXPORT void Tesk_urgent_init_GFC(std::FILE* out, std::FILE* err);
// VGF coefficients modulo primes[0..k-1] (each between 2^31 and 2^32; fatal otherwise).
TESK_EXPORT void Tesk_set_Coeffs_VGF(unsigned k, const std::uint32_t* primes);
// GFC coefficients modulo primes[0] (a prime below 65,535; fatal otherwise); k is recorded.
TESK_EXPORT void Tesk_set_Coeffs_GFC(unsigned k, const std::uint32_t* primes);

#endif
