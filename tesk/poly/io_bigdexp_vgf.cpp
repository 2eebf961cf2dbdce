// Printers and wire forms of the polynomial package over BigDexp and VGF.
#include "tesk/poly/print_impl.h"
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<BigDexp__VGF>;
template struct Print<BigDexp__VGF>;
}  // namespace tesk::poly
