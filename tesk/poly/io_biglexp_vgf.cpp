// Printers and wire forms of the polynomial package over BigLexp and VGF.
#include "tesk/poly/print_impl.h"
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<BigLexp__VGF>;
template struct Print<BigLexp__VGF>;
}  // namespace tesk::poly
