// Polynomial transfer of the public interface: the polynomials a caller
// builds term by term, their normal form, and their export (the exported
// calls are declared in core/call_quor.h).
//
// Creation type: Dpol_INT in the integer build, Dpol in the prime-field
// build (InPoly below).  A polynomial is made in zone 3 with every
// coefficient 0 and every monomial unset; while terms are set a monomial slot
// holds the monomial's exponent words; full_sort_poly2 / full_sort_poly /
// sort_poly turn every slot into the record address (hash word first), which
// the engine and the export calls expect.
//
// Normal form (full_sort_poly2, full_sort_poly): terms with a zero
// coefficient are dropped, repeated monomials merged (their coefficients
// added, a zero sum dropped), the rest homogenised to the largest total
// degree and sorted decreasingly by comp5_Expos.  A term with a non-zero
// coefficient but no monomial, or a total degree above 32767, is fatal.
#pragma once
#include "core/quor_build.h"

#include "api/request.h"
#include "core/poly.h"

namespace quor::QUOR_NS {

#if QUOR_INT
using InPoly = sDpol_INT*;
#else
using InPoly = sDpol*;
#endif

#if QUOR_INT
// Moves the monomials of polys[0 .. n-1] that lie above the working zone's
// bump pointer down to it (shared records stay shared); prints
// "Copy %.2f for %u/%u exposants\n".  Monomials below stay where they are.
void glisser_expos_Dpols(Dpol* polys, u32 n);
#endif

}  // namespace quor::QUOR_NS
