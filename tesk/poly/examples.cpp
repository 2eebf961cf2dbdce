// The generators and the weight analysis of the three instances.
#include "tesk/poly/examples_impl.h"

namespace tesk::poly {
#define TESK_EXAMPLES_DEFINE(inst, dom) template struct Examples<inst>;
TESK_POLY_INSTANCES(TESK_EXAMPLES_DEFINE)
#undef TESK_EXAMPLES_DEFINE
}  // namespace tesk::poly
