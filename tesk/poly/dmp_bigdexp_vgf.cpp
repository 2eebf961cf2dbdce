// The polynomial package over BigDexp and VGF.
#include "tesk/poly/dmp_impl.h"

namespace tesk::poly {
TESK_POLY_INSTANTIATION(, BigDexp__VGF)
}  // namespace tesk::poly
