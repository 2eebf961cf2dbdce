// The server's input files (server.h): a header naming the variables, then
// one list of polynomials, read character by character from a
// String_or_File; every error names the file and the line.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tesk/base/front_end.h"
#include "tesk/base/gfc.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tesk/server/server.h"

namespace tesk::server {

namespace {

template <class I>
struct Reader {
    using M = poly::Dmp<I>;
    using X = typename M::X;
    using P = poly::Term<I>;

    String_or_File& in;
    const char* where;
    Reader(String_or_File& s, const char* w) : in(s), where(w) {}

    unsigned header_line = 0;  // while a header line is read: its number

    [[noreturn]] void error(const std::string& what) {
        Fatal("%s:%u: %s\n", where, header_line ? header_line : in.current_line(), what.c_str());
    }
    int get() {
        const int c = in.get_char();
        if (c == '\n') in.new_line();
        return c;
    }
    void unget(int c) {
        if (c == -1) return;
        if (c == '\n') --in.line;
        in.unget_char(c);
    }
    int peek() {  // the next character after blanks, left in the source
        int c;
        do c = get();
        while (c == ' ' || c == '\t' || c == '\r' || c == '\n');
        unget(c);
        return c;
    }
    bool eat(char ch) {
        if (peek() != ch) return false;
        get();
        return true;
    }
    std::string line() {  // the rest of the line, without its newline
        std::string s;
        for (int c = get(); c != -1 && c != '\n'; c = get()) s += char(c);
        return s;
    }
    static std::string trim(const std::string& s) {
        size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
        return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    }
    static bool ident_start(int c) { return c == '_' || std::isalpha(c); }
    static bool ident(int c) { return c == '_' || std::isalnum(c); }

    // Comment lines up to the list.
    void skip_comments() {
        while (peek() == '#') line();
    }

    // --------------------------------------------------------------- header
    // The names of a list; the column of each within `value` (from 0) into cols.
    std::vector<std::string> names(const std::string& value, std::vector<unsigned>* cols = nullptr) {
        std::vector<std::string> out;
        size_t start = 0;
        for (;;) {
            const size_t comma = value.find(',', start);
            const std::string raw = value.substr(start, comma == std::string::npos ? comma : comma - start);
            const std::string v = trim(raw);
            bool ok = !v.empty() && ident_start((unsigned char)v[0]);
            for (char ch : v) ok = ok && ident((unsigned char)ch);
            if (!ok) error("malformed variable name '" + v + "'");
            out.push_back(v);
            if (cols) cols->push_back(unsigned(start + (v.empty() ? 0 : raw.find(v))));
            if (comma == std::string::npos) return out;
            start = comma + 1;
        }
    }

    Header header(std::vector<std::string>& vars, bool register_names) {
        Header h;
        std::vector<std::string> extra;
        bool seen_vars = false;
        for (int c = peek(); c != '['; c = peek()) {
            if (c == -1) error("unexpected end of the file: no list");
            if (c != '#') error(std::string("'[' or a '#' line expected, not '") + char(c) + "'");
            header_line = in.current_line();
            get();
            std::string l = line();
            unsigned column = 2;  // of l's first character: after the '#'
            if (!l.empty() && l[0] == 'C') l.erase(0, 1), ++column;
            const size_t colon = l.find(':');
            if (colon == std::string::npos) {
                header_line = 0;
                continue;
            }
            const std::string key = trim(l.substr(0, colon)), value = trim(l.substr(colon + 1));
            if (key == "vars") {
                h.var_columns.clear();
                vars = names(value, &h.var_columns);
                const size_t lead = l.find_first_not_of(" \t\r", colon + 1);
                for (unsigned& c : h.var_columns) c += column + unsigned(lead == std::string::npos ? colon + 1 : lead);
                h.vars_line = header_line;
                seen_vars = true;
            } else if (key == "extra") {
                extra = names(value);
            } else if (key == "blocks") {
                char* end = nullptr;
                const long k = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || k < 0) error("malformed block size '" + value + "'");
                h.block = unsigned(k);
                h.blocks_line = header_line;
            }
            header_line = 0;
        }
        if (!seen_vars || vars.empty()) error("no '# vars:' line before the list");
        for (size_t i = 0; i < vars.size(); ++i)
            for (size_t j = 0; j < i; ++j)
                if (vars[i] == vars[j]) error("variable " + vars[i] + " listed twice");
        if (h.block >= vars.size() && h.block) error("a first block of " + std::to_string(h.block) +
                                                    " variables leaves none for the second");
        // The intersection's tag variable: the first block alone, the
        // user's variables after it.  "@" is a name no polynomial can use.
        bool tag = false;
        if constexpr (!I::D::kOnHeap) tag = want_intersect != 0;
        if (tag) {
            vars.insert(vars.begin(), "@");
            h.block = 1;
            want_block = 1;
        }
        // The names go to the build's table; the limits there are fatal.
        for (size_t i = 0; register_names && i < vars.size(); ++i) {
            const unsigned blk = h.block && i >= h.block ? 1 : 0;
            if constexpr (I::D::kOnHeap)
                vgf::add_variable(vars[i].c_str(), blk);
            else
                gfc::add_variable(vars[i].c_str(), blk);
        }
        for (const std::string& e : extra) {
            if (register_names) {
                if constexpr (I::D::kOnHeap)
                    vgf::add_bvariable(e.c_str());
                else
                    gfc::add_bvariable(e.c_str());
            }
            vars.push_back(e);
        }
        h.nvars = unsigned(vars.size());
        return h;
    }

    // ----------------------------------------------------------------- list
    std::vector<std::string> vars;
    std::vector<std::uint64_t> primes;

    unsigned exponent(unsigned max) {
        peek();
        const std::string d = digits();
        if (d.empty()) error("exponent expected after '^'");
        if (d.size() > 7 || std::stoul(d) > max) error("exponent " + d + " above " + std::to_string(max));
        return unsigned(std::stoul(d));
    }

    std::string digits() {
        std::string d;
        int c = get();
        while (std::isdigit(c)) {
            d += char(c);
            c = get();
        }
        unget(c);
        return d;
    }

    static std::uint64_t power(std::uint64_t a, unsigned e, std::uint64_t p) {
        std::uint64_t r = 1 % p;
        for (a %= p; e; e >>= 1, a = a * a % p)
            if (e & 1) r = r * a % p;
        return r;
    }

    P* term(bool negative) {
        const unsigned n = unsigned(vars.size());
        std::vector<unsigned> e(n, 0);
        std::vector<std::uint64_t> c(primes.size(), 1);
        for (;;) {
            const int ch = peek();
            if (std::isdigit(ch)) {
                const std::string d = digits();
                const int after = in.get_char();
                in.unget_char(after);
                if (ident(after) || after == '.') error("malformed number '" + d + char(after) + "'");
                unsigned pw = 1;
                if (eat('^')) pw = exponent(1u << 20);
                for (size_t i = 0; i < primes.size(); ++i) {
                    std::uint64_t v = 0;
                    for (char dc : d) v = (v * 10 + unsigned(dc - '0')) % primes[i];
                    c[i] = c[i] * power(v, pw, primes[i]) % primes[i];
                }
            } else if (ident_start(ch)) {
                std::string name;
                int x = get();
                while (ident(x)) {
                    name += char(x);
                    x = get();
                }
                unget(x);
                size_t v = 0;
                while (v < n && vars[v] != name) ++v;
                if (v == n) error("unknown variable '" + name + "'");
                unsigned pw = 1;
                if (eat('^')) pw = exponent(X::kMaxExp);
                e[v] += pw;
                if (e[v] > X::kMaxExp) error("exponent of " + name + " above " + std::to_string(X::kMaxExp));
            } else if (ch == -1) {
                error("unexpected end of the file");
            } else {
                error(std::string("unexpected '") + char(ch) + "'");
            }
            if (!eat('*')) break;
        }
        // Each block's degree must fit the type's degree field.
        unsigned deg[2] = {0, 0};
        for (unsigned v = 0; v < n; ++v) deg[X::block_of_var(v)] += e[v];
        if (deg[0] > X::kMaxDeg || deg[1] > X::kMaxDeg)
            error("a term of degree above " + std::to_string(X::kMaxDeg));
        std::vector<std::uint16_t> e16(e.begin(), e.end());
        std::vector<std::uint32_t> r(primes.size());
        for (size_t i = 0; i < primes.size(); ++i)
            r[i] = std::uint32_t(negative && c[i] ? primes[i] - c[i] : c[i]);
        return M::monom_raw(e16.data(), r.data(), unsigned(r.size()));
    }

    P* polynomial() {
        P* p = nullptr;
        for (bool first = true;; first = false) {
            const int c = peek();
            bool negative = false;
            if (c == '+' || c == '-') {
                get();
                negative = c == '-';
            } else if (!first) {
                return p;
            }
            p = M::add_dd(p, term(negative));
        }
    }

    poly::List<I>* list() {
        skip_comments();
        if (!eat('[')) error(peek() == -1 ? "unexpected end of the file: no list" : "'[' expected");
        if (peek() == ']') error("empty system");
        poly::Chain<poly::List<I>> out;
        for (;;) {
            out.add(M::Lists::cons(polynomial(), nullptr));
            if (eat(']')) break;
            if (peek() == -1) error("unexpected end of the file");
            if (!eat(',')) error("',' or ']' expected");
        }
        if (peek() != -1) error("text after the closing ']'");
        return out.finish();
    }
};

}  // namespace

template <class I>
Header read_header(String_or_File& in, const char* where, bool names) {
    Reader<I> r(in, where);
    std::vector<std::string> vars;
    Header h = r.header(vars, names);
    h.vars = vars;
    return h;
}

template <class I>
poly::List<I>* read_list(String_or_File& in, const char* where, const Header& h) {
    Reader<I> r(in, where);
    r.vars = h.vars;
    if constexpr (I::D::kOnHeap)
        for (unsigned i = 0; i < vgf::size_of_vectors; ++i) r.primes.push_back(VGF::_prime._v[i]);
    else
        r.primes.push_back(std::uint64_t(gfc::MAGIC));
    return r.list();
}

template Header read_header<poly::BigDexp__VGF>(String_or_File&, const char*, bool);
template Header read_header<poly::DRLDRL__GFC>(String_or_File&, const char*, bool);
template poly::List<poly::BigDexp__VGF>* read_list<poly::BigDexp__VGF>(String_or_File&, const char*, const Header&);
template poly::List<poly::DRLDRL__GFC>* read_list<poly::DRLDRL__GFC>(String_or_File&, const char*, const Header&);

}  // namespace tesk::server
