// The number of standard monomials of a zero-dimensional monomial ideal,
// counted without listing them.  A staircase of a^100, ..., f^100 has 10^12
// monomials and one of x0^2, ..., x69^2 has 2^70: the count is a natural
// number of any size, held exactly.  Its cost follows the shape of the
// generators, not the count: x_i^2, x_i*x_(i+1) in 500 variables has
// Fib(502) standard monomials and is counted at once.
#ifndef TESK_POLY_STAIR_COUNT_H
#define TESK_POLY_STAIR_COUNT_H

#include <cstdint>
#include <string>
#include <vector>

namespace tesk::poly {

class Stair_Count {
public:
    Stair_Count() = default;
    explicit Stair_Count(std::uint64_t v);
    // Exact sum and products, of any size.
    Stair_Count& operator+=(const Stair_Count& b);
    Stair_Count& operator*=(std::uint32_t f);
    Stair_Count& operator*=(const Stair_Count& b);
    bool operator==(const Stair_Count& b) const = default;
    // The value, or INT64_MAX when it is larger (a count that stands for "at least").
    std::int64_t saturated() const;
    bool empty() const { return d_.empty(); }  // whether the value is 0
    // Whether the value is at most v.
    bool at_most(std::uint64_t v) const;
    std::string text() const;  // decimal

private:
    std::vector<std::uint32_t> d_;  // base 2^32, least significant first, no high zero digit
};

// The monomials in n variables outside the ideal of the m rows of n
// exponents (row i: exps[i*n .. i*n+n-1]).  The ideal must hold a pure
// power of every variable; a zero row (the monomial 1) gives 0.
Stair_Count count_standard(unsigned n, unsigned m, const std::uint16_t* exps);

}  // namespace tesk::poly

#endif
