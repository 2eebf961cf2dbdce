// Wire forms of the polynomial package over DRLDRL and GFC.
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<DRLDRL__GFC>;
}  // namespace tesk::poly
