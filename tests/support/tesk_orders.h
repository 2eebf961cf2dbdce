// The monomial orders of the Tesk exponent types written variable by
// variable, for the tests that check the packed forms against them.
#ifndef QUOR_TESTS_SUPPORT_TESK_ORDERS_H
#define QUOR_TESTS_SUPPORT_TESK_ORDERS_H

#include <vector>

namespace tesk_orders {

// 1 when a > b, -1 when a < b, 0 when equal.  blocks = 0: lexicographic from
// variable 0; 1 or 2: blocks of variables (the first k, then the rest), each
// compared by degree, then reverse lexicographically.
inline int ref_order(const std::vector<unsigned>& a, const std::vector<unsigned>& b, int blocks, unsigned k) {
    const unsigned n = unsigned(a.size());
    if (blocks == 0) {
        for (unsigned i = 0; i < n; ++i)
            if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
        return 0;
    }
    if (blocks == 1) k = n;
    const unsigned lo[2] = {0, k}, hi[2] = {k, n};
    for (int blk = 0; blk < 2; ++blk) {
        unsigned da = 0, db = 0;
        for (unsigned i = lo[blk]; i < hi[blk]; ++i) da += a[i], db += b[i];
        if (da != db) return da > db ? 1 : -1;
        for (unsigned i = hi[blk]; i-- > lo[blk];)
            if (a[i] != b[i]) return a[i] < b[i] ? 1 : -1;
    }
    return 0;
}

}  // namespace tesk_orders

#endif
