// The pair families of the two builds.
#include "tesk/poly/scrit.h"

#include "tesk/poly/family_impl.h"

namespace tesk::poly {
template struct Family<SCrit_Spec<BigDexp__VGF>>;
template struct Family<SCrit_Spec<DRLDRL__GFC>>;
template struct Family<SCrit_Spec<DRLDRL16__GFC>>;
}  // namespace tesk::poly
