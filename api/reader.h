// Text reader of lists of polynomials: a tokenizer (get_token) and the list
// parser (parse_List_Dpol) that builds residue-form Dpol polynomials of the
// current request.
//
// Text format, by example:
//   #C a comment line            -- also a comment to the end of the line
//   [3*x1^2*x2 - 2/3*x1 + 1,  x1**2 x2 - -x3,  <1 2 3 4 5>*x2]
// A term is a product of numbers (decimal, "<r1 .. rV>" residues, "{" V
// binary words), divisors "/digits" and variables with "^e" or "**e"; "*"
// and blanks separate factors; consecutive signs combine ("- -" is "+").
// Parentheses may only surround one factor or a signed term ("(-3)*x1").
//
// Precondition: the request is open (variables declared, primes set; fatal
// otherwise).  The reader keeps only the position of the stream it reads
// (for messages) between calls.
//
// Every malformed input is fatal through the build's fatal channel (the call
// does not return) with the line and column of the offending token:
// undeclared names, characters outside the format, numbers of 99,999 digits
// or more, exponents above 32767 or a monomial whose total degree exceeds
// 32767, polynomials of quor_max_index terms or more, signs without a term,
// unbalanced brackets, an empty polynomial inside a list, a list not closed
// by "]" before the end of the file, division by zero modulo a working prime.
#pragma once
#include "core/quor_build.h"

namespace quor {
// Token codes of get_token (the value goes to the out-parameters).
inline constexpr i32 kTokEnd = -1;        // end of file
inline constexpr i32 kTokPlus = '+';
inline constexpr i32 kTokComma = ',';
inline constexpr i32 kTokMinus = '-';
inline constexpr i32 kTokOpen = '[';
inline constexpr i32 kTokClose = ']';
inline constexpr i32 kTokF4 = 'F';        // #F4
inline constexpr i32 kTokVars = 'V';      // #vars
inline constexpr i32 kTokList = 'b';      // #begin, #list
inline constexpr i32 kTokExponent = 'e';  // "^e" or "**e" without a variable: exponent
inline constexpr i32 kTokGdeg = 'g';      // #gdegs, #gdeg n: n in cell 0
inline constexpr i32 kTokHdeg = 'h';      // #hdegs n
inline constexpr i32 kTokDivisor = 'i';   // "/digits": the residues (not inverted)
inline constexpr i32 kTokModulo = 'm';    // #modulo(s), #coeffring modulo
inline constexpr i32 kTokNumber = 'n';    // residues of a number
inline constexpr i32 kTokPoints = 'p';    // #points n
inline constexpr i32 kTokVariable = 'v';  // index and exponent
inline constexpr i32 kTokWeights = 'w';   // #weights n
// Polynomials a list may hold at most.
inline constexpr u32 kReaderMaxPolys = 10000;
// Buffer size of names, directive words and "&" items (longer ones are refused).
inline constexpr u32 kReaderWordLimit = 100000;
// Buffer size of the digits of a number or a divisor: 99,998 digits are read,
// 99,999 are refused.
inline constexpr u32 kReaderDigitLimit = 100000;
}  // namespace quor


#include <cstdio>

#include "core/poly.h"

namespace quor::QUOR_NS {

// Reads one token from file; *index / *exponent get a variable's (or an
// exponent token's) value, coefficients (reader_coefficient_cells() cells)
// a number's residues.  Returns a token code above.
i32 get_token(std::FILE* file, u32* index, u32* exponent, u32* coefficients);
// Index of name among the declared variables; fatal (with the next 200
// characters of file as context) when it is not declared.
u32 assoc_map(const char* name, std::FILE* file);
// Reads a list "[p1, p2, ...]" from file into table[0 ..] (at most
// min(capacity, 10000) polynomials, made in zone 2); returns how many.  A
// file without "[" gives 0.  A polynomial that cancels out is stored without
// terms.  Tokens before "[" are dropped.
u32 parse_List_Dpol(std::FILE* file, Dpol* table, u32 capacity = kReaderMaxPolys);
// The same on a text held in memory.
u32 parse_List_Dpol_text(const char* text, Dpol* table, u32 capacity = kReaderMaxPolys);
// The same on the file at path (names ending in .gz / .Z are read through gzip).
u32 parse_List_Dpol_file(const char* path, Dpol* table, u32 capacity = kReaderMaxPolys);
// Cells of a coefficient buffer for get_token in the current request.
u32 reader_coefficient_cells();

}  // namespace quor::QUOR_NS
