// The prime-field build has no multi-precision layer: the integer layer's
// exported names are do-nothing functions here, and integer mode is never
// entered.
#include "core/bigint.h"

namespace quor::QUOR_NS {

void QUOR_NAME(init_INT)(...) {}
void QUOR_NAME(estime_log_INT)(...) {}
void QUOR_NAME(is_one_INT)(...) {}
void QUOR_NAME(is_neg_one_INT)(...) {}
void QUOR_NAME(see_INT)(...) {}
void QUOR_NAME(GetSign_Int)(...) {}
void QUOR_NAME(maxi_INT)(...) {}
void QUOR_NAME(ucompare_INT)(...) {}
void QUOR_NAME(compare_INT)(...) {}
void QUOR_NAME(gcd_INT)(...) {}
void QUOR_NAME(SetSign_Int)(...) {}
void QUOR_NAME(exquo_INT)(...) {}
void QUOR_NAME(internal_sendINT)(...) {}

IntModeScope::IntModeScope() {}
IntModeScope::~IntModeScope() {}

}  // namespace quor::QUOR_NS
