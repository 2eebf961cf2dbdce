// Printers and wire forms of the polynomial package over DRLDRL16 and GFC.
#include "tesk/poly/print_impl.h"
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<DRLDRL16__GFC>;
template struct Print<DRLDRL16__GFC>;
}  // namespace tesk::poly
