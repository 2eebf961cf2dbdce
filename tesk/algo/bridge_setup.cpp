// The engine's side of the bridge set-up.  The library never runs the
// stand-alone server, so the set-up does what its start-up would: the home
// directory, the administrative names, the printers, then the polynomial
// packages the bridge uses, and leaves the engine quiet.
#include "tesk/algo/bridge_setup.h"

#include "tesk/base/print.h"
#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"
#include "tesk/base/gfc.h"
#include "tesk/base/vgf.h"
#include "tesk/poly/dmp.h"

namespace tesk {
int want_set_vectorize = 0;

namespace {
// Common part of both set-ups; `packages` initialises the build's polynomial packages.
template <class Packages>
void urgent_init(std::FILE* out, std::FILE* err, Packages packages) {
    human_user = 0;
    Fortran.attach(out);
    tesk_stderr = err;
    set_TESKHOME("./serveur__DMP__Dexp__GF");
    init_admin();
    init_pretty();
    packages();
    // The caller's stream gives way to standard output: the engine's
    // printers write only what a request asks them to.
    axiom_output = log_output;
    Fortran.attach(axiom_output);
    Posso.attach(axiom_output);
    want_quiet = 1;
    want_pipe = 1;
    want_pipe2 = 0;
    want_fortran = 1;
}
}  // namespace
}  // namespace tesk

using namespace tesk;

TESK_EXPORT void Tesk_urgent_init_VGF(std::FILE* out, std::FILE* err) {
    urgent_init(out, err, [] {
        init_DMP__BigDexp__VGF();
        init_DMP__BigLexp__VGF();
    });
}

TESK_EXPORT void Tesk_urgent_init_GFC(std::FILE* out, std::FILE* err) {
    urgent_init(out, err, [] { init_DMP__DRLDRL__GFC(); });
}

TESK_EXPORT void Tesk_set_Coeffs_VGF(unsigned k, const std::uint32_t* primes) {
    if (k == 0 || primes == nullptr) Fatal("Tesk_set_Coeffs_VGF: no prime given\n");
    want_set_vectorize = int(k);
    set_module_VGF(primes[0]);
    set_VGF(k, primes);
}

TESK_EXPORT void Tesk_set_Coeffs_GFC(unsigned k, const std::uint32_t* primes) {
    if (k == 0 || primes == nullptr) Fatal("Tesk_set_Coeffs_GFC: no prime given\n");
    want_set_vectorize = int(k);
    gfc::set_module_GFC(primes[0]);
    gfc::set_GFC(k, primes);
}
