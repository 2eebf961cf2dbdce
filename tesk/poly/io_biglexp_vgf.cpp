// Wire forms of the polynomial package over BigLexp and VGF.
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<BigLexp__VGF>;
}  // namespace tesk::poly
