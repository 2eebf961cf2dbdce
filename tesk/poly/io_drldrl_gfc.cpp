// Printers and wire forms of the polynomial package over DRLDRL and GFC.
#include "tesk/poly/print_impl.h"
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<DRLDRL__GFC>;
template struct Print<DRLDRL__GFC>;
}  // namespace tesk::poly
