// File mode (server.h): the system of the input file, its reduced basis by
// the sugar loop, printed in the chosen syntax; then the normal forms of a
// second list when asked.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/hilbert.h"
#include "tesk/algo/lextri.h"
#include "tesk/algo/ideal_ops.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/front_end.h"
#include "tesk/base/gfc.h"
#include "tesk/base/print.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tesk/poly/examples.h"
#include "tesk/poly/print.h"
#include "tesk/poly/protocol.h"
#include "tesk/poly/staircase.h"
#include "tesk/server/server.h"

namespace tesk::server {

namespace {

// The list in the syntax of the options; a copy goes to the save channel.
template <class I>
void show(const Options& o, poly::List<I>* l) {
    AFFICHE affiche;
    switch (o.format) {
    case Format::Plain:
    case Format::Pretty:
    case Format::Posso:
        affiche << l << '\n';
        return;  // AFFICHE copies to the save channel itself
    case Format::Tex:
        if (want_output)
            for (poly::List<I>* c = l; c; c = c->next) Tex << c->elt << '\n';
        break;
    case Format::Lisp:
        if (want_output) Lisp_Print() << l << "\n";
        break;
    case Format::NTL:
        if (want_output) poly::Print<I>::NTL_List(l);
        break;
    }
    int saving;
    WBUS* save;
    if constexpr (I::D::kOnHeap)
        saving = vgf::want_to_save, save = vgf::bin_save_file;
    else
        saving = gfc::want_to_save, save = gfc::bin_save_file;
    if (saving && save) poly::Wire<I>::out_protocol_list(*save, l, 0);
}

// The triangular sets of the decomposition, as a list of lists.
void show_sets(const Options& o, poly::List_List<poly::DRLDRL__GFC>* T) {
    using I = poly::DRLDRL__GFC;
    switch (o.format) {
    case Format::Plain:
    case Format::Pretty:
    case Format::Posso:
        AFFICHE() << T << '\n';
        return;
    case Format::Tex:
        if (want_output)
            for (poly::List_List<I>* s = T; s; s = s->next) {
                for (poly::List<I>* c = s->elt; c; c = c->next) Tex << c->elt << '\n';
                Tex << '\n';
            }
        break;
    case Format::Lisp:
        if (want_output) Lisp_Print() << T << "\n";
        break;
    case Format::NTL:
        if (want_output)
            for (poly::List_List<I>* s = T; s; s = s->next) {
                poly::Print<I>::NTL_List(s->elt);
                Fortran << "\n";
            }
        break;
    }
    if (gfc::want_to_save && gfc::bin_save_file) poly::Wire<I>::out_protocol_list_list(*gfc::bin_save_file, T, 0);
}

// The lextriangular decomposition T (released) with its status st, in
// place of the basis; fatal when the ideal is not zero-dimensional.
void show_lextri(const Options& o, poly::List_List<poly::DRLDRL__GFC>* T, algo::Lextri_Status st) {
    // After an ideal operation, say which ideal: that of its result.
    const char* ideal = o.elim ? "elimination ideal (of -elim)"
                        : o.second ? (o.quotient ? "quotient (of -quotient)" : "intersection (of -intersect)")
                                   : "system";
    if (st == algo::Lextri_Status::Not_Dim0)
        Fatal("%s: the %s is not zero-dimensional: no lextriangular decomposition\n", o.input, ideal);
    show_sets(o, T);
    poly::Dmp<poly::DRLDRL__GFC>::Lists2::kill_all(T);
}

// The lexicographic basis of the degree basis G in place of G; fatal when
// there is none.
void show_lex(const Options& o, poly::List<poly::BigDexp__VGF>* G, unsigned n) {
    algo::Fglm::init();
    algo::Fglm::set(n, 0, 0);
    algo::Fglm_Status st;
    poly::List<poly::BigLexp__VGF>* lex = algo::Fglm::change_ordering(G, &st);
    if (st == algo::Fglm_Status::Not_Dim0)
        Fatal("%s: the system is not zero-dimensional: no lexicographic basis\n", o.input);
    if (st == algo::Fglm_Status::Bad_Prime)
        Fatal("%s: a pivot vanishes modulo some of the primes: choose other primes (-offset N)\n", o.input);
    show(o, lex);
    poly::Dmp<poly::BigLexp__VGF>::Lists::kill_all(lex);
}

// A file of the command line opened for reading ("-": standard input); the
// option that named it, if any, is told with what cannot be read.  A
// directory is refused as such: read, it would look like an empty file.
FILE* open_input(const char* name, const char* option) {
    if (std::strcmp(name, "-") == 0) return stdin;
    const std::string by = option ? std::string(" (option ") + option + ")" : std::string();
    struct stat st {};
    if (stat(name, &st) != 0 || access(name, R_OK) != 0) {
        Perror("fopen(%s,r)", name);
        Fatal("Fichier %s non ouvrable !%s\n", name, by.c_str());
    }
    if (S_ISDIR(st.st_mode)) Fatal("%s is a directory, not a file%s\n", name, by.c_str());
    return ouvrir(name, "r");
}

// The names of vars joined by ',', the tag left out.
std::string joined(const std::vector<std::string>& vars) {
    std::string s;
    for (const std::string& v : vars)
        if (v != "@") s += (s.empty() ? "" : ",") + v;
    return s;
}

// The list of the second file of -intersect / -quotient, over the variables
// of the first (header h); fatal at the first name that differs.
template <class I>
poly::List<I>* read_second(const Options& o, const Header& h) {
    const char* op = o.quotient ? "-quotient" : "-intersect";
    String_or_File in(open_input(o.second, op));
    const Header h2 = read_header<I>(in, o.second, false);
    // The operation sets the blocks itself; a line that says otherwise would go unheeded.
    if (h2.blocks_line)
        Fatal("%s:%u: option %s: no '# blocks:' line in the second file: the operation puts its own blocks\n",
              o.second, h2.blocks_line, op);
    if (h2.vars != h.vars) {
        size_t i = 0;
        while (i < h.vars.size() && i < h2.vars.size() && h.vars[i] == h2.vars[i]) ++i;
        // The columns are those of the user's names, after the tag.
        const size_t at = i && h2.vars[0] == "@" ? i - 1 : i;
        const unsigned col = at < h2.var_columns.size() ? h2.var_columns[at] : 1;
        Fatal("%s:%u:%u: option %s: the variables %s are not those of %s (%s)\n", o.second, h2.vars_line, col, op,
              joined(h2.vars).c_str(), o.input, joined(h.vars).c_str());
    }
    poly::List<I>* G = read_list<I>(in, o.second, h);
    in.close();
    return G;
}

// The number of terms of a dense polynomial of degree d in n variables,
// C(n + d, d), or a value above cap once it passes cap.
unsigned long long dense_terms(unsigned n, unsigned d, unsigned long long cap) {
    unsigned long long c = 1;
    for (unsigned i = 1; i <= d && c <= cap; ++i) c = c * (n + i) / i;
    return c;
}

// The experiments on the input that print before the basis.
template <class I>
void input_reports(const Options& o, poly::List<I>* F) {
    using M = poly::Dmp<I>;
    if (o.analyse) {  // on a copy: the analysis rescales the coefficients
        poly::List<I>* c = M::Lists::copy_all(F);
        analyse_system(c);
        M::Lists::kill_all(c);
    }
    if (o.orbit || o.canonic) {
        poly::Chain<poly::List<I>> orbits, canonics;
        for (poly::List<I>* c = F; c; c = c->next) {
            if (o.orbit) orbits.add(M::Lists::cons(M::orbit(c->elt), nullptr));
            if (o.canonic) canonics.add(M::Lists::cons(M::canonic(c->elt), nullptr));
        }
        for (poly::List<I>* l : {orbits.finish(), canonics.finish()}) {
            if (l) Fortran << l << "\n";
            M::Lists::kill_all(l);
        }
    }
    if (o.sparse_dim) Output("#sparse-dim %u\n", poly::sparse_dim(F));
}

// -homog homogenises with the last variable: a polynomial that is not
// homogeneous already must not use it.
template <class I>
void check_homogenisable(const Options& o, poly::List<I>* F, const Header& h) {
    using X = typename poly::Dmp<I>::X;
    const unsigned last = h.nvars - 1;
    for (poly::List<I>* c = F; c; c = c->next) {
        unsigned lo = ~0u, hi = 0;
        bool uses_last = false;
        for (poly::Term<I>* t = c->elt; t; t = t->next) {
            const unsigned d = X::totalDegree(t->exp);
            lo = std::min(lo, d), hi = std::max(hi, d);
            uses_last = uses_last || X::extraire(t->exp, last) != 0;
        }
        if (uses_last && lo != hi)
            Fatal("%s: -homog homogenises with the last variable %s, which the system uses: add one (\"# extra: h\")\n",
                  o.input, h.vars[last].c_str());
    }
}

// The result of -elim K, -intersect or -quotient in its own variables, one
// block, the first k (eliminated, or the tag) dropped: what follows sees the
// ideal as if it were read from a file.  The names move with the variables.
template <class I>
void own_variables(poly::List<I>*& G, Header& h, unsigned k) {
    if constexpr (!I::D::kOnHeap) {
        using Ops = algo::Ideal_Ops<I>;
        typename Ops::Detached d;
        Ops::detach({&G}, d);
        const unsigned n = h.nvars - k;
        algo::Sugar<I>::set(n, n, 0);
        Ops::attach(d, -int(k), {&G});
        if (global_List_variables) global_List_variables += k;
        h.vars.erase(h.vars.begin(), h.vars.begin() + k);
        h.var_columns.erase(h.var_columns.begin(), h.var_columns.begin() + std::min<size_t>(k, h.var_columns.size()));
        h.nvars = n;
        h.block = 0;
    }
}

}  // namespace

template <class I>
int run_file(const Options& o) {
    using S = algo::Sugar<I>;
    using M = poly::Dmp<I>;
    using X = typename M::X;
    // The header first: the names, then the domain and the variable count,
    // then the polynomials (no term record before the count).
    const bool random = o.example == Options::Example::Random;
    const bool example = !o.has_file;  // -random N D FILE: FILE's header gives the variables
    FILE* f = example ? nullptr : open_input(o.input, nullptr);
    String_or_File in = example ? String_or_File() : String_or_File(f);
    S::init();  // before the names: it sets the exponent type up
    Header h;
    if (example)
        h.nvars = o.example_vars;
    else
        h = read_header<I>(in, o.input);
    if (random) {  // every polynomial is dense: refuse what cannot be held
        constexpr unsigned long long kMaxTerms = 200000;
        if (dense_terms(h.nvars, o.random_degree, kMaxTerms) > kMaxTerms)
            Fatal("Option -random: polynomials of degree %u in %u variables have more than %llu terms\n",
                  o.random_degree, h.nvars, kMaxTerms);
    }
    if constexpr (I::D::kOnHeap) {
        if (h.block) Fatal("%s: two blocks of variables need the prime-field build (-prime)\n", o.input);
        set_VGF(o.nprimes);
        S::set(h.nvars, 0, 0);
    } else {
        gfc::set_module_GFC(o.prime);
        if (o.elim && h.nvars < 2)
            Fatal("Option -elim %u: %s has %u variable, and an elimination leaves one at least\n", o.elim, o.input,
                  h.nvars);
        if (o.elim && o.elim >= h.nvars)
            Fatal("Option -elim %u: K must be from 1 to %u, one less than the %u variables of %s\n", o.elim,
                  h.nvars - 1, h.nvars, o.input);
        S::set(h.nvars, o.elim ? o.elim : h.block ? h.block : h.nvars, 0);
    }
    if (h.vars.empty()) {  // the names the printers give, so that -normal-form may use them
        Var_Name nb;
        for (unsigned i = 0; i < h.nvars; ++i) h.vars.push_back(X::var_name(i, nb));
    }
    poly::List<I>* F;
    switch (o.example) {
    case Options::Example::Cyclic: F = poly::Examples<I>::cyclic(h.nvars, want_homog); break;
    case Options::Example::Katsura: F = poly::Examples<I>::katsura(h.nvars, want_homog); break;
    case Options::Example::Binaire: F = poly::Examples<I>::exemple_binaire(h.nvars, want_homog); break;
    case Options::Example::Random: F = poly::Examples<I>::random_List(o.random_degree, o.example_vars); break;
    default: F = read_list<I>(in, o.input, h);
    }
    in.close();
    input_reports(o, F);
    // -homog: the basis of the homogenised system, dehomogenised and reduced
    // again (a basis already: the second run only reduces it).
    const unsigned last = h.nvars - 1;
    if (want_homog && o.example == Options::Example::None) {
        check_homogenisable(o, F, h);
        F = M::homog_d(F, last);
    }
    using Ops = algo::Ideal_Ops<I>;
    poly::List<I>* G;
    if (o.second) {
        poly::List<I>* F2 = read_second<I>(o, h);
        G = o.quotient ? Ops::quotient(F, F2) : Ops::intersect(F, F2);
        M::Lists::kill_all(F2);
    } else {
        G = o.elim ? Ops::eliminate(F) : Ops::groebner(F);
    }
    // With a blocks line, the decomposition, which depends on the ideal
    // alone, is made from the input: its degree basis costs far less than
    // one from the basis for the blocks.
    poly::List_List<poly::DRLDRL__GFC>* sets = nullptr;
    algo::Lextri_Status sets_status = algo::Lextri_Status::Done;
    const bool sets_from_input = o.lextri && h.block && !o.elim && !o.second && !want_homog;
    if constexpr (!I::D::kOnHeap)
        if (sets_from_input) sets = algo::Lextri::decompose(F, &sets_status);
    M::Lists::kill_all(F);
    if (want_homog) {
        G = M::de_homog_d(G, last);
        poly::List<I>* R = S::groebner(G);
        M::Lists::kill_all(G);
        G = R;
    }
    if (o.elim || o.second) own_variables(G, h, o.elim ? o.elim : 1);

    // Only the final results go to the save channel, opened now: a run that
    // fails before leaves the save file as it was.
    if (o.save) open_save(o.save, I::D::kOnHeap ? Build::Vector : Build::Prime);
    if constexpr (I::D::kOnHeap)
        vgf::want_to_save = 1;
    else
        gfc::want_to_save = 1;
    if constexpr (I::D::kOnHeap) {
        if (o.lex) show_lex(o, G, h.nvars);
        else show(o, G);
    } else {
        if (o.lextri) {
            if (!sets_from_input) sets = algo::Lextri::decompose(G, &sets_status);
            show_lextri(o, sets, sets_status);
        }
        else show(o, G);
    }
    if (o.normal_form) {
        FILE* g = open_input(o.normal_form, "-normal-form");
        String_or_File nf_in(g);
        poly::List<I>* Q = read_list<I>(nf_in, o.normal_form, h);
        nf_in.close();
        poly::List<I>* N = Ops::normal_forms(G, Q);
        M::Lists::kill_all(Q);
        show(o, N);
        M::Lists::kill_all(N);
    }
    if (o.nb_sol) Output("#solutions %s\n", poly::Staircase<I>::nb_solutions_text(G).c_str());
    if (o.prepare) {
        Lib = Lib_Print(stdout);
        const int prepared = Preparation(G);
        Lib.flush();
        if (prepared < 0) {  // refused, its error on the log: the run fails
            M::Lists::kill_all(G);
            return 3;
        }
    }
    if (o.hilbert) {
        std::vector<std::int64_t> num;
        const int dim = hilbert_of(G, num);
        Output("h(t) = %s\ndim = %d\n", hilbert_text(num).c_str(), dim);
    }
    if (o.degree) {
        if (h.block) Fatal("%s: the degree needs one block of variables, not a first block of %u\n", o.input, h.block);
        std::vector<std::uint16_t> rows;
        const unsigned m = leading_rows(G, rows);
        int dim;
        const std::int64_t deg = I::D::kOnHeap ? Tesk_compute_Degree_VGF(h.nvars, m, rows.data(), &dim)
                                               : Tesk_compute_Degree_GFC(h.nvars, m, rows.data(), &dim);
        Output("degree = %lld\n", (long long)deg);
    }
    M::Lists::kill_all(G);
    return 0;
}

template <class I>
unsigned leading_rows(poly::List<I>* l, std::vector<std::uint16_t>& rows) {
    using X = typename poly::Dmp<I>::X;
    const unsigned n = I::L::n();
    unsigned m = 0;
    for (; l; l = l->next)
        if (poly::Term<I>* p = poly::Dmp<I>::strip(l->elt)) {
            for (unsigned i = 0; i < n; ++i) rows.push_back(std::uint16_t(X::extraire(p->exp, i)));
            ++m;
        }
    return m;
}

template <class I>
int hilbert_of(poly::List<I>* l, std::vector<std::int64_t>& h) {
    const unsigned n = I::L::n();
    std::vector<std::uint16_t> rows;
    const unsigned m = leading_rows(l, rows);
    if constexpr (I::D::kOnHeap)
        return Tesk_compute_Hilbert_VGF(n, m, rows.data(), &h);
    else
        return Tesk_compute_Hilbert_GFC(n, m, rows.data(), &h);
}

std::string hilbert_text(const std::vector<std::int64_t>& h) {
    std::string s;
    for (size_t i = h.size(); i-- > 0;) {
        const std::int64_t c = h[i];
        if (!c) continue;
        if (c < 0) s += "-";
        else if (!s.empty()) s += "+";
        const std::uint64_t a = c < 0 ? std::uint64_t(0) - std::uint64_t(c) : std::uint64_t(c);
        if (a != 1 || i == 0) s += std::to_string(a) + (i ? "*" : "");
        if (i) s += i == 1 ? "t" : "t^" + std::to_string(i);
    }
    return s.empty() ? "0" : s;
}

template unsigned leading_rows<poly::BigDexp__VGF>(poly::List<poly::BigDexp__VGF>*, std::vector<std::uint16_t>&);
template unsigned leading_rows<poly::DRLDRL__GFC>(poly::List<poly::DRLDRL__GFC>*, std::vector<std::uint16_t>&);
template int hilbert_of<poly::BigDexp__VGF>(poly::List<poly::BigDexp__VGF>*, std::vector<std::int64_t>&);
template int hilbert_of<poly::DRLDRL__GFC>(poly::List<poly::DRLDRL__GFC>*, std::vector<std::int64_t>&);
template int run_file<poly::BigDexp__VGF>(const Options&);
template int run_file<poly::DRLDRL__GFC>(const Options&);

}  // namespace tesk::server
