// The polynomial package over BigLexp and VGF.
#include "tesk/poly/dmp_impl.h"

namespace tesk::poly {
TESK_POLY_INSTANTIATION(, BigLexp__VGF)
}  // namespace tesk::poly
