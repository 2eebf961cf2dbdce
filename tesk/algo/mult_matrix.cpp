// The multiplication matrices of the change of ordering and their writers
// (fglm.h).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/lex_walk.h"
#include "tesk/algo/normal_form.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tesk/poly/staircase.h"

namespace tesk::algo {

namespace {

using Src = Fglm::Src;
using SM = poly::Dmp<Src>;
using SP = poly::Term<Src>;

bool put_word(std::FILE* f, std::uint32_t w) {
    const unsigned char b[4] = {std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8), std::uint8_t(w)};
    return std::fwrite(b, 1, 4, f) == 4;
}

}  // namespace

Plain_Coefficients::Plain_Coefficients() : rational_(want_rational_output), floating_(want_float_output) {
    want_rational_output = 0;
    want_float_output = 0;
}

Plain_Coefficients::~Plain_Coefficients() {
    want_rational_output = rational_;
    want_float_output = floating_;
}

bool write_Mult_Matrix(const Mult_Matrix& M, Matrix_Syntax s, std::FILE* f) {
    Plain_Coefficients plain;
    bool ok = true;
    if (s == Matrix_Syntax::Binary) {
        ok = put_word(f, M.dim) && put_word(f, M.var) && put_word(f, std::uint32_t(M.primes.size()));
        for (std::uint32_t p : M.primes) ok = ok && put_word(f, p);
        for (std::uint32_t w : M.a) ok = ok && put_word(f, w);
        return std::fflush(f) == 0 && ok && !std::ferror(f);
    }
    const bool ntl = s == Matrix_Syntax::NTL;
    for (unsigned k = 0; k < M.primes.size() && ok; ++k) {
        ok = (ntl ? std::fprintf(f, "%u\n[", M.primes[k]) : std::fprintf(f, "M_%u:=Matrix([", M.primes[k])) > 0;
        for (unsigned r = 0; r < M.dim && ok; ++r) {
            ok = std::fputc('[', f) != EOF;
            for (unsigned c = 0; c < M.dim && ok; ++c)
                ok = std::fprintf(f, c ? (ntl ? " %u" : ",%u") : "%u", M.at(k, r, c)) > 0;
            ok = ok && std::fputs(ntl ? "]\n" : r + 1 < M.dim ? "]," : "]", f) != EOF;
        }
        ok = ok && std::fputs(ntl ? "]\n" : "]):\n", f) != EOF;
    }
    return std::fflush(f) == 0 && ok && !std::ferror(f);
}

Fglm_Status compute_C_Mult_by_xi(poly::List<Src>* G, unsigned var, Mult_Matrix* M, std::FILE* f, Matrix_Syntax s,
                                 bool* written) {
    Plain_Coefficients plain;
    *M = Mult_Matrix{};
    if (written) *written = true;
    const unsigned n = Src::L::n();
    if (var >= n) Fatal("Multiplication matrix: no variable %u among %u\n", var, n);
    const int dim = poly::Staircase<Src>::held_nb_solutions(G, "Multiplication matrix", 4 * vgf::size_of_vectors);
    if (dim < 0) return Fglm_Status::Not_Dim0;
    std::vector<SP*> R;
    if (!Normal_Forms<Src>::monic_reducers(G, R)) return Fglm_Status::Bad_Prime;
    const unsigned k = vgf::size_of_vectors, D = unsigned(dim);
    M->dim = D;
    M->var = var;
    M->primes.assign(VGF::_prime._v, VGF::_prime._v + k);
    M->a.assign(std::size_t(k) * D * D, 0);
    // The staircase comes greatest first: coordinate D-1 down to 0.
    std::vector<Expo> stair;
    std::map<Expo, unsigned> column;
    SP* st = D ? poly::Staircase<Src>::escalier(G) : nullptr;
    for (SP* t = st; t; t = t->next) stair.push_back(exponents<Src>(t, n));
    SM::Terms::kill_all(st);
    if (stair.size() != D) Fatal("Multiplication matrix: %u standard monomials for %u\n", unsigned(stair.size()), D);
    for (unsigned c = 0; c < D; ++c) column[stair[D - 1 - c]] = c;
    for (const auto& [e, r] : column) {
        Expo x = e;
        ++x[var];
        SP* p = Sugar<Src>::reduce_all(SM::monom_raw(x.data(), cVGF(1)), R);
        for (SP* t = p; t; t = t->next) {
            const auto it = column.find(exponents<Src>(t, n));
            if (it == column.end()) Fatal("Multiplication matrix: a normal form leaves the staircase\n");
            for (unsigned j = 0; j < k; ++j) M->a[(std::size_t(j) * D + r) * D + it->second] = t->coef._v[j];
        }
        SM::Terms::kill_all(p);
    }
    for (SP* r : R) SM::Terms::kill_all(r);
    if (f) {
        const bool ok = write_Mult_Matrix(*M, s, f);
        if (written) *written = ok;
    }
    return Fglm_Status::Done;
}

bool dump_Mult_Matrix(const Mult_Matrix& M, std::string* path) {
    *path = "/tmp/fmat" + std::to_string(int(getpid()));
    // A fresh file beside the dump, renamed over it once complete.
    const std::string tmp = *path + ".part";
    std::remove(tmp.c_str());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        std::remove(tmp.c_str());
        return false;
    }
    const bool ok = write_Mult_Matrix(M, Matrix_Syntax::Binary, f);
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path->c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace tesk::algo
