// The prime-field build reconstructs nothing: the reconstruction's exported
// names are do-nothing functions here.
#include "engine/reconstruct.h"

namespace quor::QUOR_NS {

void QUOR_NAME(lift_row_INT)(...) {}
void QUOR_NAME(invalid)(...) {}
void QUOR_NAME(re_init_Chineese_INT)(...) {}
void QUOR_NAME(recursive_init_Chinese)(...) {}
void QUOR_NAME(recursive_lift_row_INT)(...) {}

}  // namespace quor::QUOR_NS
