// Reads back the change of ordering's binary matrix dump: big-endian 32-bit
// words dim, var, the prime count, the primes, then the entries.
#ifndef QUOR_TESTS_SUPPORT_FMAT_READER_H
#define QUOR_TESTS_SUPPORT_FMAT_READER_H

#include <cstdio>
#include <string>

#include "tesk/algo/fglm.h"

namespace quor_test {

// The matrix in `path`; dim ~0 when the file is longer than its words say,
// an empty matrix when it is missing or shorter.
inline tesk::algo::Mult_Matrix read_fmat(const std::string& path) {
    tesk::algo::Mult_Matrix M;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return M;
    auto word = [&](std::uint32_t& w) {
        unsigned char b[4];
        if (std::fread(b, 1, 4, f) != 4) return false;
        w = std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
        return true;
    };
    std::uint32_t k = 0;
    bool ok = word(M.dim) && word(M.var) && word(k) && k < (1u << 16) && M.dim < (1u << 12);
    if (ok) {
        M.primes.resize(k);
        M.a.resize(std::size_t(k) * M.dim * M.dim);
        for (auto& p : M.primes) ok = ok && word(p);
        for (auto& w : M.a) ok = ok && word(w);
    }
    unsigned char extra;
    if (ok && std::fread(&extra, 1, 1, f) == 1) M.dim = ~0u;
    std::fclose(f);
    return ok ? M : tesk::algo::Mult_Matrix{};
}

}  // namespace quor_test

#endif
