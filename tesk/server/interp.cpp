// Peer mode (server.h): the command interpreter of the channel.
//
// Every command is one code, then its items; every command gets one answer:
//   [13][n]            n variables, one block                    -> [5]
//   [85][n][k]         n variables, the first k in block 1       -> [5]
//                      (at most 500 variables in a block, as in file mode)
//   [9][p]             coefficients modulo the odd prime p < 65535 (prime-field build)   -> [5]
//   [172][k][p1..pk]   coefficients modulo k primes above 2^31 (integer build) -> [5]
//   [173][d]           offset of the default primes               -> [5]
//   [6] polys [7]      the system (protocol form)                 -> [5]
//   [15]               its reduced basis by the sugar loop        -> [6] polys [7]
//   [158]              the last basis again                       -> [6] polys [7]
//   [23] polynomial    its normal form by the basis               -> polynomial
//   [130] or [121]     the Hilbert series h(t)/(1-t)^dim of the basis's
//                      leading monomials -> [16][dim] [6] [16][h_0] ... [16][h_d] [7]
//   [25], [84] or [155]  the reduced lexicographic basis of the basis's
//                      ideal (zero-dimensional, a vector of primes) -> [6] polys [7]
//   [64], [82] or [156]  the lextriangular decomposition of the basis's ideal
//                      (zero-dimensional, modulo p) -> [6] ([6] polys [7])... [7]
//   [112][6] lists [7] the reduced basis of the intersection of the
//                      ideals of the lists (prime-field build; none: {1})
//                                                                 -> [6] polys [7]
//   [3] or [127]       the end                                    -> [5], then the server ends
// A command that cannot be done now, or that this server does not know, is
// answered [39][56][n] text, and the session goes on; so is a modulus that
// is not a prime, or primes of which one is not, and so is a command whose
// computation the engine gives up (an exponent past its range, an answer
// the build cannot hold: the engine's fatal text), the session keeping its
// system and basis as they were.  A domain command of
// the other build hands the session to its twin.  An item that does not read
// (bad code, count or range, a cut stream) is fatal: the server ends with
// status 3 and says what it met.
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/lextri.h"
#include "tesk/algo/ideal_ops.h"
#include "tesk/algo/sugar.h"
#include "tesk/base/gfc.h"
#include "tesk/base/switches.h"
#include "tesk/base/vgf.h"
#include "tesk/poly/protocol.h"
#include "tesk/server/server.h"

namespace tesk::server {

namespace {

// The domain the peer asked for, shared by the twins.
struct Domain {
    unsigned n = 0, k = 0;
    bool have_vars = false;
    Build build = Build::Prime;
    std::uint32_t prime = 65521;
    unsigned nprimes = 2;               // default primes when no list was sent
    std::vector<std::uint32_t> primes;  // the primes sent, else empty
    unsigned version = 1;
} domain;

void ok(BUS& b) {
    b << MSG_TESK_OK;
    b.flush();
}

void refuse(BUS& b, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void refuse(BUS& b, const char* fmt, ...) {
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    b << MSG_TESK_ERROR;
    b.out_Atome(text, 0);
    b.flush();
}

// A fatal error of the engine raised while a command computes.
struct Refused {
    std::string text;
};

// While a command computes, the engine's fatal end (status 3) unwinds to the
// command instead; any other end, and every end outside, is the server's.
Exit_Hook server_end = nullptr;

[[noreturn]] void refuse_hook(int status, const char* text) {
    if (status != 3) {
        set_exit_hook(server_end);
        tesk_exit(status, text);
    }
    Fatal_loop = 0;
    throw Refused{text};
}

// The hook of refuse_hook for as long as it lives.
struct Computing {
    Computing() { server_end = set_exit_hook(refuse_hook); }
    ~Computing() { set_exit_hook(server_end); }
    Computing(const Computing&) = delete;
    Computing& operator=(const Computing&) = delete;
};

// One build's side of the session: its system and basis.
template <class I>
struct Session {
    using S = algo::Sugar<I>;
    using M = poly::Dmp<I>;
    using W = poly::Wire<I>;
    static constexpr Build kBuild = I::D::kOnHeap ? Build::Vector : Build::Prime;

    static inline poly::List<I>* system = nullptr;
    static inline poly::List<I>* basis = nullptr;
    static inline unsigned version = 0;  // the domain version the records were made for

    static void forget() {
        M::Lists::kill_all(system);
        M::Lists::kill_all(basis);
        system = basis = nullptr;
    }
    // The domain in force for this build; fatal when items come before it.
    static void ready() {
        if (!domain.have_vars) Fatal("Polynomials received before the number of variables (code 13 or 85)\n");
        if (version == domain.version) return;
        if (version) forget();
        S::init();
        if constexpr (I::D::kOnHeap) {
            // A first block sent after the primes leaves this build one block
            // to read lists in; the list itself is refused (blocks_refused).
            if (domain.primes.empty())
                set_VGF(domain.nprimes);
            else
                set_VGF(unsigned(domain.primes.size()), domain.primes.data());
        } else {
            gfc::set_module_GFC(domain.prime);
        }
        layout();
        version = domain.version;
    }
    // Refuses the command (after its items were read) when this build
    // cannot take the domain's first block; false when it can.
    static bool blocks_refused(BUS& b) {
        if (!I::D::kOnHeap || !domain.k) return false;
        refuse(b, "The integer build has one block of variables, not a first block of %u of %u", domain.k, domain.n);
        return true;
    }
    // The exponent layout of the session; tagged: that of an intersection,
    // its tag variable alone in a first block before the peer's.
    static void layout(bool tagged = false) {
        if constexpr (I::D::kOnHeap)
            S::set(domain.n, 0, 0);
        else if (tagged)
            S::set(domain.n + 1, 1, 0);
        else
            S::set(domain.n, domain.k ? domain.k : domain.n, 0);
    }

    // Runs compute, the computation of a command, and tells whether it was
    // done.  When the engine gives it up with a fatal error, the command is
    // refused with that text and the session goes on: the coefficients made
    // meanwhile are dropped, what the computation held is left, and the
    // layout (tagged: that of an intersection) comes back, so that the system
    // and basis are as they were.  Reading items and writing answers stay
    // outside: a stream that does not read, or a peer gone, ends the server.
    template <class F>
    static bool attempt(BUS& b, F compute, bool tagged = false) {
        Garbage_State heap{};
        if constexpr (I::D::kOnHeap) vgf::save_tesk_state_VGF(&heap);
        const int block = want_block;
        std::string text;
        try {
            Computing c;
            compute();
            return true;
        } catch (const Refused& r) {
            text = r.text;
        }
        if constexpr (I::D::kOnHeap) vgf::restore_tesk_state_VGF(&heap);
        want_block = block;
        layout(tagged);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        refuse(b, "%s", text.c_str());
        return false;
    }

    static void send(BUS& b, poly::List<I>* l) {
        W::out_protocol_list(b, l, 0);
        b.flush();
    }
    static bool have_basis(BUS& b) {
        if (basis && version == domain.version) return true;
        if (!system || version != domain.version) {
            refuse(b, "No system: send a list first");
            return false;
        }
        M::Lists::kill_all(basis);
        basis = nullptr;
        return attempt(b, [] { basis = algo::Ideal_Ops<I>::groebner(system); });
    }

    // The lexicographic basis of the basis, or the reason there is none.
    static void change_ordering(BUS& b) {
        algo::Fglm_Status st;
        poly::List<poly::BigLexp__VGF>* lex = nullptr;
        if (!attempt(b, [&] {
                algo::Fglm::init();
                algo::Fglm::set(domain.n, 0, 0);
                lex = algo::Fglm::change_ordering(basis, &st);
            }))
            return;
        if (st == algo::Fglm_Status::Not_Dim0)
            refuse(b, "The basis is not zero-dimensional: no change of ordering");
        else if (st == algo::Fglm_Status::Bad_Prime)
            refuse(b, "A pivot vanishes modulo some of the primes: choose other primes");
        else
            poly::Wire<poly::BigLexp__VGF>::out_protocol_list(b, lex, 0), b.flush();
        poly::Dmp<poly::BigLexp__VGF>::Lists::kill_all(lex);
    }

    // The triangular sets of the basis's ideal, or the reason there are none.
    static void lextri(BUS& b) {
        algo::Lextri_Status st;
        poly::List_List<I>* T = nullptr;
        // The sets depend on the ideal alone: with a first block they come
        // from the system, whose degree basis costs far less than the
        // conversion of the basis for the blocks.
        poly::List<I>* from = domain.k && system ? system : basis;
        if (!attempt(b, [&] { T = algo::Lextri::decompose(from, &st); })) return;
        if (st == algo::Lextri_Status::Not_Dim0)
            refuse(b, "The basis is not zero-dimensional: no lextriangular decomposition");
        else
            W::out_protocol_list_list(b, T, 0), b.flush();
        M::Lists2::kill_all(T);
    }

    // The intersection of the ideals of L (released), computed with a tag
    // variable before the peer's; the system and basis kept across.
    static void intersect(BUS& b, poly::List_List<I>* L) {
        using Ops = algo::Ideal_Ops<I>;
        std::vector<poly::List<I>*> lists;
        for (poly::List_List<I>* c = L; c; c = c->next) lists.push_back(c->elt), c->elt = nullptr;
        M::Lists2::kill_all(L);
        poly::List<I>* R = nullptr;
        std::vector<poly::List<I>**> kept{&system, &basis}, all = kept;
        for (auto& l : lists) all.push_back(&l);
        typename Ops::Detached d;
        Ops::detach(all, d);
        const int block = want_block;
        want_block = 1;
        layout(true);
        Ops::attach(d, 1, all);
        poly::Chain<poly::List_List<I>> in;
        for (auto& l : lists) {
            poly::List_List<I>* c = M::Lists2::new_();
            c->elt = l;
            in.add(c);
        }
        poly::List_List<I>* T = in.finish();
        // Refused, the lists are left as the operation left them; the
        // system and basis go back to the peer's variables all the same.
        const bool done = attempt(b, [&] { R = Ops::intersect(T); }, true);
        if (done) M::Lists2::kill_all(T);
        kept.push_back(&R);
        typename Ops::Detached e;
        Ops::detach(kept, e);
        layout();
        want_block = block;
        Ops::attach(e, -1, kept);
        if (done) send(b, R);
        M::Lists::kill_all(R);
    }

    // Answers commands until the end code (0) or a domain of the twin (2).
    static int parse(BUS& b) {
        for (;;) {
            Messages m;
            b >> m;
            switch (m) {
            case MSG_TESK_set_nb_var:
            case MSG_TESK_set_nb_block: {
                const unsigned n = b.get32();
                const unsigned k = m == MSG_TESK_set_nb_block ? b.get32() : 0;
                const unsigned first = k && k < n ? k : n;
                if (n == 0 || k > n || first > kMaxVarsPerBlock || n - first > kMaxVarsPerBlock)
                    refuse(b, "Bad number of variables %u (first block %u): 1 to %u in a block", n, k,
                           kMaxVarsPerBlock);
                else
                    domain.n = n, domain.k = k == n ? 0 : k, domain.have_vars = true, ++domain.version, ok(b);
                break;
            }
            case MSG_TESK_set_module: {
                const std::uint32_t p = b.get32();
                if (p < 3 || p > 65534 || !is_prime32(p)) {
                    refuse(b, "Bad prime %u: an odd prime below 65535", p);
                    break;
                }
                domain.build = Build::Prime, domain.prime = p, ++domain.version;
                ok(b);
                if (kBuild != Build::Prime) return 2;
                break;
            }
            case MSG_TESK_set_vect: {
                const unsigned k = b.get32();
                if (k == 0 || k > vgf::NB_DEFAULT_PRIMES32) Fatal("Bad count of primes %u in a domain item\n", k);
                std::vector<std::uint32_t> ps(k);
                bool good = true;
                std::uint32_t bad = 0;
                for (auto& p : ps)
                    if ((p = b.get32()) < 0x80000000u || !is_prime32(p)) good = false, bad = p;
                if (!good) {
                    refuse(b, "Bad primes: %u is not a prime above 2^31", bad);
                    break;
                }
                if (domain.k) {  // the vector build orders its variables in one block
                    refuse(b, "A vector of primes needs one block of variables, not a first block of %u of %u",
                           domain.k, domain.n);
                    break;
                }
                domain.build = Build::Vector, domain.primes = ps, ++domain.version;
                ok(b);
                if (kBuild != Build::Vector) return 2;
                break;
            }
            case MSG_TESK_set_offset:
                want_offset_primes = int(b.get32());
                ok(b);
                break;
            case MSG_TESK_Begin:
                ready();
                forget();
                system = W::read_list(b);
                if (blocks_refused(b)) {
                    forget();
                    break;
                }
                ok(b);
                break;
            case MSG_TESK_GROEBNER:
                if (!system || version != domain.version) {
                    refuse(b, system ? "The domain changed since the system came: send it again"
                                     : "No system: send a list first");
                    break;
                }
                M::Lists::kill_all(basis);
                basis = nullptr;
                if (attempt(b, [] { basis = algo::Ideal_Ops<I>::groebner(system); })) send(b, basis);
                break;
            case MSG_TESK_RMT_SEND_GBASIS:
                if (have_basis(b)) send(b, basis);
                break;
            case MSG_TESK_NORMAL_FORM: {
                ready();
                Messages first;
                b >> first;
                poly::Term<I>* p = W::read(b, first);
                if (!have_basis(b)) {
                    M::Terms::kill_all(p);
                    break;
                }
                // p stays whole until the normal form is made: refused, it goes.
                poly::List<I>* in = M::Lists::cons(p, nullptr);
                poly::List<I>* nf = nullptr;
                const bool done = attempt(b, [&] { nf = algo::Ideal_Ops<I>::normal_forms(basis, in); });
                M::Lists::kill_all(in);
                if (!done) break;
                p = nf->elt;
                nf->elt = nullptr;
                M::Lists::kill_all(nf);
                W::out_protocol(b, p, 0);
                b.flush();
                M::Terms::kill_all(p);
                break;
            }
            case MSG_TESK_RMT_HILBERT:
            case MSG_TESK_FN_HILBERT: {
                if (!have_basis(b)) break;
                std::vector<std::int64_t> h;
                int dim = 0;
                if (!attempt(b, [&] { dim = hilbert_of(basis, h); })) break;
                if (std::any_of(h.begin(), h.end(), [](std::int64_t c) { return c != std::int32_t(c); })) {
                    refuse(b, "A coefficient of the Hilbert series does not fit an int item");
                    break;
                }
                b << dim << MSG_TESK_Begin;
                for (std::int64_t c : h) b << int(c);
                b << MSG_TESK_End;
                b.flush();
                break;
            }
            case MSG_TESK_CHANGE:
            case MSG_TESK_FGLM:
            case MSG_TESK_RMT_CHANGE:
                if constexpr (I::D::kOnHeap) {
                    if (have_basis(b)) change_ordering(b);
                } else {
                    refuse(b, "The change of ordering needs a vector of primes (code 172)");
                }
                break;
            case MSG_TESK_LEXTRIANG:
            case MSG_TESK_LEXTRI:
            case MSG_TESK_RMT_LEXTRI:
                if constexpr (I::D::kOnHeap) {
                    refuse(b, "The lextriangular decomposition needs an odd prime below 65535 (code 9)");
                } else {
                    if (have_basis(b)) lextri(b);
                }
                break;
            case MSG_TESK_ACTION7: {
                ready();
                Messages first;
                b >> first;
                if (first != MSG_TESK_Begin)
                    Fatal("Unexpected code %u on the channel where a list of lists (6) was expected\n", unsigned(first));
                poly::List_List<I>* L = W::read_list_list(b);
                if constexpr (I::D::kOnHeap) {
                    M::Lists2::kill_all(L);
                    refuse(b, "The intersection needs the prime-field build (code 9)");
                } else {
                    intersect(b, L);
                }
                break;
            }
            case MSG_TESK_QUIT:
            case MSG_TESK_RMT_QUIT:
                ok(b);
                return 0;
            default:
                refuse(b, "Unknown command %u (%s)", unsigned(m), C__debugMessages(m));
                break;
            }
        }
    }
};

}  // namespace

int run_peer(const Options& o) {
    want_quiet = 1;
    // The channel ends the process on its own for a host it cannot find.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = getaddrinfo(o.peer_host, nullptr, &hints, &found); e != 0)
        Fatal("Unknown host %s: %s\n", o.peer_host, gai_strerror(e));
    freeaddrinfo(found);
    domain.build = o.build;
    domain.prime = o.prime;
    domain.nprimes = o.nprimes;
    BUS* b = new BUS(o.peer_port, o.peer_host);  // introduces itself with its pid
    hold_channel(b);
    for (Build cur = o.build;; cur = cur == Build::Vector ? Build::Prime : Build::Vector) {
        const int r = cur == Build::Vector ? b->Tesk_int_parse() : b->Tesk_parse();
        if (r == 0) return 0;
    }
}

}  // namespace tesk::server

namespace tesk {
int BUS::Tesk_int_parse() { return server::Session<poly::BigDexp__VGF>::parse(*this); }
int BUS::Tesk_parse() { return server::Session<poly::DRLDRL__GFC>::parse(*this); }
}  // namespace tesk
