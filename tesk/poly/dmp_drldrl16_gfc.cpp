// The polynomial package over DRLDRL16 and GFC.
#include "tesk/poly/dmp_impl.h"

namespace tesk::poly {
TESK_POLY_INSTANTIATION(, DRLDRL16__GFC)
}  // namespace tesk::poly
