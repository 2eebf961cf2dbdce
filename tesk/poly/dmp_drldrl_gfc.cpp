// The polynomial package over DRLDRL and GFC.
#include "tesk/poly/dmp_impl.h"

namespace tesk::poly {
TESK_POLY_INSTANTIATION(, DRLDRL__GFC)
}  // namespace tesk::poly
