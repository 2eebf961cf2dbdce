// The staircase operations of the three instances.
#include "tesk/poly/staircase_impl.h"

namespace tesk::poly {
#define TESK_STAIRCASE_DEFINE(inst, dom) template struct Staircase<inst>;
TESK_POLY_INSTANCES(TESK_STAIRCASE_DEFINE)
#undef TESK_STAIRCASE_DEFINE
}  // namespace tesk::poly
