// Wire forms of the polynomial package over BigDexp and VGF.
#include "tesk/poly/protocol_impl.h"

namespace tesk::poly {
template struct Wire<BigDexp__VGF>;
}  // namespace tesk::poly
