// Word channel used by the coefficient wire forms.
//
// The coefficient writers and readers (GFC, VGF, dense VGF vectors) are
// templates over the channel type C.  They need, found by argument-dependent
// lookup in C's namespace:
//   void put_word(C&, std::uint32_t w);   // one raw 32-bit word
//   std::uint32_t get_word(C&);           // the next raw 32-bit word
//   void flush_words(C&);                 // sends what is buffered
// The channel itself puts words in protocol (big-endian) order.  Items are
// led by the codes of messages.h.
#ifndef TESK_BASE_COEFF_WIRE_H
#define TESK_BASE_COEFF_WIRE_H

#include <cstdint>

#include "tesk/base/messages.h"

#endif
