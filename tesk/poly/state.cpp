// The decomposition-state family.
#include "tesk/poly/state.h"

#include "tesk/poly/family_impl.h"

namespace tesk {

namespace poly {
template struct Family<State_Spec>;
}  // namespace poly

void* sState::operator new(std::size_t) { return poly::Family<poly::State_Spec>::new_(); }
void sState::operator delete(void* p) { poly::Family<poly::State_Spec>::kill(static_cast<sState*>(p)); }

}  // namespace tesk
