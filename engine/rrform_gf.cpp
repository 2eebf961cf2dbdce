// The prime-field build computes no rational form.
#include "engine/rrform.h"

QUOR_EXPORT void QUOR_NAME(Pprime)(quor::u32, const quor::u32*, const quor::u32*, const quor::u32*, quor::u32*,
                                   quor::u32) {}
