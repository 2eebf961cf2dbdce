// Tesk polynomials on a channel: byte-exact fixtures of the writers, round
// trips through files, gzip pipes and loopback sockets, and readers that
// check codes, counts, ranges and order, reduce residues, and refuse every
// truncation of a fixture without reading past the end of the data.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tesk/poly/protocol.h"
#include "tests/support/loopback.h"
#include "tests/support/tesk_poly_model.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using namespace tesk_poly_model;
using Bytes = std::vector<unsigned char>;
constexpr std::uint32_t kP1 = 4294967291u, kP2 = 4294967279u, kAfter = 0xDEADBEEF;

// A wire image, word by word; `checked` marks the codes and counts.
struct Image {
    Bytes b;
    std::vector<bool> checked;
    Image& u32(std::uint32_t w, bool code = false) {
        for (int s = 24; s >= 0; s -= 8) b.push_back((unsigned char)(w >> s)), checked.push_back(code);
        return *this;
    }
    Image& code(std::uint32_t w) { return u32(w, true); }
    Image& halves(std::initializer_list<std::uint16_t> e) {
        for (auto x : e) b.push_back((unsigned char)(x >> 8)), b.push_back((unsigned char)x);
        checked.resize(b.size(), false);
        return *this;
    }
    Image& exps(std::initializer_list<std::uint16_t> e) { return code(12).halves(e); }
    Image& add(const Image& o) {
        b.insert(b.end(), o.b.begin(), o.b.end());
        checked.insert(checked.end(), o.checked.begin(), o.checked.end());
        return *this;
    }
    Image& vgf(std::uint32_t r1, std::uint32_t r2) { return code(171).code(2).u32(r1).u32(r2); }
};

// What write puts on a channel.
template <class F>
Bytes bytes_written(F write) {
    FILE* f = std::tmpfile();
    BUS w(dup(fileno(f)));
    write(w);
    w.kill();
    Bytes b;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) b.push_back((unsigned char)c);
    std::fclose(f);
    return b;
}
// A channel that reads these bytes and then meets the end of the data.
BUS* feed(const Bytes& b) {
    int fd[2];
    if (pipe(fd) != 0 || write(fd[1], b.data(), b.size()) != ssize_t(b.size())) return nullptr;
    close(fd[1]);
    return new BUS(fd[0]);
}

template <class I>
void set_up(unsigned n, unsigned k, std::vector<std::uint32_t> primes = {kP1, kP2}) {
    want_quiet = 1;
    Dmp<I>::init();
    if constexpr (I::D::kOnHeap)
        set_VGF(unsigned(primes.size()), primes.data());
    else
        gfc::set_module_GFC(65521);
    Dmp<I>::set(n, k, 0);
}

template <class I>
std::vector<typename Model<I>::Poly> polys(List<I>* l) {
    std::vector<typename Model<I>::Poly> v;
    for (; l; l = l->next) v.push_back(Model<I>::read(l->elt));
    return v;
}

// One item read back (a polynomial, its first code read here, or a list
// after its [6]): the polynomials and whether the next word is kAfter; or
// the fatal text.
template <class I>
std::pair<std::vector<typename Model<I>::Poly>, std::string> read_back(Image img, bool list) {
    img.u32(kAfter);
    BUS* b = feed(img.b);
    std::vector<typename Model<I>::Poly> got;
    const std::string fatal = fatal_of([&] {
        const std::uint32_t first = get_word(*b);
        if (list && first != MSG_TESK_Begin) Fatal("not a list\n");
        List<I>* l = list ? Wire<I>::read_list(*b) : Dmp<I>::Lists::cons(Wire<I>::read(*b, Messages(first)), nullptr);
        got = polys(l);
        Dmp<I>::Lists::kill_all(l);
        if (get_word(*b) != kAfter) Fatal("read past the item\n");
    });
    b->kill();
    delete b;
    return {got, fatal};
}

// 2*a^2*b + 3*c over BigDexp, two primes.
Image two_terms(bool drop = false) {
    Image i;
    i.code(123).code(11).vgf(2, 2);
    drop ? i.exps({2, 1}) : i.exps({2, 1, 0});
    i.code(14).vgf(3, 3);
    return drop ? i.exps({0, 0}) : i.exps({0, 0, 1});
}

TEST(TeskWire, WritersGiveTheFixtures) {
    using I = BigDexp__VGF;
    using M = Dmp<I>;
    set_up<I>(3, 3);
    auto* p = Model<I>::build({{{2, 1, 0}, {2, 2}}, {{0, 0, 1}, {3, 3}}});
    EXPECT_EQ(bytes_written([&](BUS& b) { out_protocol_DMP__BigDexp__VGF(b, p, 0); }), two_terms().b);
    EXPECT_EQ(bytes_written([&](BUS& b) { out_protocol_DMP__BigDexp__VGF(b, p, 1); }), two_terms(true).b);
    // A header cell does not travel; the zero polynomial is [123][8], lists are bracketed by [6] [7].
    auto* l = M::Lists::cons(M::link_one(M::copy(p)), M::Lists::cons(nullptr, nullptr));
    EXPECT_EQ(bytes_written([&](BUS& b) { out_protocol_List_DMP__BigDexp__VGF(b, l, 0); }),
              Image().code(6).add(two_terms()).code(123).code(8).code(7).b);
    auto* ll = M::Lists2::cons(nullptr, nullptr);
    EXPECT_EQ(bytes_written([&](BUS& b) { out_protocol_List_List_DMP__BigDexp__VGF(b, ll, 0); }),
              Image().code(6).code(6).code(7).code(7).b);
    // Compact: no 123, no coefficient or exponent codes.
    EXPECT_EQ(bytes_written([&](BUS& b) { out_DMP__BigDexp__VGF(b, p), out_DMP__BigDexp__VGF(b, nullptr); }),
              Image().code(11).code(2).u32(2).u32(2).halves({2, 1, 0}).code(14).code(2).u32(3).u32(3).halves({0, 0, 1})
                  .code(8).b);
    EXPECT_EQ(bytes_written([&](BUS& b) { out_domain_protocol_DMP__BigDexp__VGF(b); }),
              Image().code(13).code(3).code(172).code(2).u32(kP1).u32(kP2).code(173).code(0).b);
    M::Lists::kill_all(l);
    M::Lists2::kill_all(ll);
    M::Terms::kill_all(p);

    using G = DRLDRL__GFC;
    set_up<G>(2, 1);
    auto* q = Model<G>::build({{{1, 2}, {5}}});
    EXPECT_EQ(bytes_written([&](BUS& b) { out_protocol_DMP__DRLDRL__GFC(b, q, 0); }),
              Image().code(123).code(14).code(10).u32(5).exps({1, 2}).b);
    EXPECT_EQ(bytes_written([&](BUS& b) { out_domain_protocol_DMP__DRLDRL__GFC(b); }),
              Image().code(85).code(2).code(1).code(9).code(65521).b);
    Dmp<G>::Terms::kill_all(q);
}

// A list with a zero and tagged polynomials, and [l, [], l], over a file, a
// gzip pipe and a loopback socket.
template <class I>
void round_trips(unsigned n, unsigned k, unsigned primes) {
    using Mo = Model<I>;
    using M = Dmp<I>;
    std::vector<std::uint32_t> pr;
    for (unsigned i = 0; i < primes; ++i) pr.push_back(vgf::Default_Primes32[vgf::NB_DEFAULT_PRIMES32 - 1 - i]);
    set_up<I>(n, k, pr);
    std::mt19937_64 g(n * 31 + k);
    std::vector<typename Mo::Poly> want;
    List<I>* l = nullptr;
    for (int i = 0; i < 40; ++i) {
        want.insert(want.begin(), i % 9 == 4 ? typename Mo::Poly{} : Mo::random(g, 1 + unsigned(g() % 30), 6));
        l = M::Lists::cons(i % 5 == 1 ? M::link_one(Mo::build(want[0])) : Mo::build(want[0]), l);
    }
    auto* ll = M::Lists2::cons(l, M::Lists2::cons(nullptr, M::Lists2::cons(l, nullptr)));
    auto send = [&](BUS& w) {
        Wire<I>::out_protocol_list(w, l, 0);
        Wire<I>::out_protocol_list_list(w, ll, 0);
        w.kill();
    };
    auto receive = [&](BUS& r) {
        EXPECT_EQ(get_word(r), 6u);
        List<I>* back = Wire<I>::read_list(r);
        EXPECT_EQ(polys(back), want);
        EXPECT_EQ(get_word(r), 6u);
        List_List<I>* back2 = Wire<I>::read_list_list(r);
        EXPECT_EQ(polys(M::Lists2::elt(back2, 3)), want);
        EXPECT_EQ(M::Lists2::size(back2), 3u);
        EXPECT_EQ(M::Lists2::elt(back2, 2), nullptr);
        M::Lists::kill_all(back);
        M::Lists2::kill_all(back2);
        r.kill();
    };
    char path[] = "/tmp/teskwire_XXXXXX";
    close(mkstemp(path));
    WBUS w(path);
    send(w);
    RBUS r(path);
    receive(r);
    WCBUS z(path);
    send(z);
    RCBUS rz((std::string(path) + ".gz").c_str());
    receive(rz);
    std::remove(path);
    std::remove((std::string(path) + ".gz").c_str());
    int port = 0;
    const int ls = quor_test::listen_loopback(port);
    std::thread peer([&] {
        BUS c(port, "127.0.0.1");  // introduces itself with [35][pid]
        send(c);
    });
    BUS s(accept(ls, nullptr, nullptr));
    EXPECT_EQ(get_word(s), std::uint32_t(MSG_TESK_PID));
    get_word(s);
    receive(s);
    peer.join();
    close(ls);
    M::Lists2::free_all(ll);
    M::Lists::kill_all(l);
}

TEST(TeskWire, RoundTripsThroughFilesGzipAndSockets) {
    round_trips<BigDexp__VGF>(7, 7, 3);
    round_trips<BigLexp__VGF>(5, 5, 2);
    round_trips<DRLDRL__GFC>(6, 2, 1);
}

TEST(TeskWire, ReadersCheckCodesRangesAndOrder) {
    using I = BigDexp__VGF;
    using Poly = Model<I>::Poly;
    set_up<I>(3, 3);
    const Exps a2b{2, 1, 0}, c{0, 0, 1};
    auto one = [](Image img) {
        auto [got, fatal] = read_back<I>(img, false);
        return fatal.empty() ? got.at(0) : Poly{{{9, 9, 9}, {}}};
    };
    auto refused = [](Image img) { return read_back<I>(img, false).second; };
    // Summed after 123: 2x + 3x - 5x is zero; increasing terms come back sorted.
    EXPECT_EQ(one(Image().code(123).code(11).vgf(2, 2).exps({1, 0, 0}).code(11).vgf(3, 3).exps({1, 0, 0})
                      .code(14).vgf(kP1 - 5, kP2 - 5).exps({1, 0, 0})),
              Poly{});
    EXPECT_EQ(one(Image().code(123).code(11).vgf(3, 3).exps({0, 0, 1}).code(14).vgf(2, 2).exps({2, 1, 0})),
              (Poly{{a2b, {2, 2}}, {c, {3, 3}}}));
    // Linked: zero terms go wherever they stand, the others stay; residues are reduced.
    EXPECT_EQ(one(Image().code(11).vgf(0, 0).exps({2, 1, 0}).code(14).vgf(3, 3).exps({0, 0, 1})), (Poly{{c, {3, 3}}}));
    EXPECT_EQ(one(Image().code(11).vgf(2, 2).exps({2, 1, 0}).code(14).vgf(kP1, kP2).exps({0, 0, 1})),
              (Poly{{a2b, {2, 2}}}));
    EXPECT_EQ(one(Image().code(14).vgf(0xFFFFFFFF, 0xFFFFFFFF).exps({0, 0, 1})), (Poly{{c, {4, 16}}}));
    const std::pair<Image, std::string> bad[] = {
        {Image().code(11).vgf(3, 3).exps({0, 0, 1}).code(14).vgf(2, 2).exps({2, 1, 0}), "Terms out of order"},
        {Image().code(14).code(171).code(3).u32(1).u32(1).u32(1).exps({0, 0, 1}), "Can't read a 3-vector (should be 2)"},
        {Image().code(14).code(10).u32(1).exps({0, 0, 1}),
         "Unexpected code 10 on the channel where a coefficient of DMP__BigDexp__VGF was expected"},
        {Image().code(6), "Unexpected code 6 "},
        {Image().code(14).vgf(1, 1).exps({0x8000, 0, 0}), "Exponent 32768 of variable 1"},
    };
    for (auto& [img, text] : bad) EXPECT_NE(refused(img).find(text), std::string::npos) << text;
    // The server's added variables: one leading, then one trailing.
    extra_nb_vars_BigDexp = 1;
    EXPECT_EQ(one(Image().code(14).vgf(1, 1).exps({4, 5})), (Poly{{{0, 4, 5}, {1, 1}}}));
    std::swap(extra_nb_vars_BigDexp, extra_nb_end_vars_BigDexp);
    EXPECT_EQ(one(Image().code(14).vgf(1, 1).exps({4, 5})), (Poly{{{4, 5, 0}, {1, 1}}}));
    extra_nb_end_vars_BigDexp = 0;
    // Two-block exponents are 8-bit: 300 is refused, not cut to its low byte.
    using G = DRLDRL__GFC;
    set_up<G>(2, 2);
    EXPECT_EQ(read_back<G>(Image().code(14).code(10).u32(65528).exps({1, 0}), false).first.at(0),
              (Model<G>::Poly{{{1, 0}, {7}}}));
    EXPECT_NE(read_back<G>(Image().code(14).code(10).u32(1).exps({300, 0}), false).second.find("Exponent 300"),
              std::string::npos);
}

// A read refused under an exit hook that unwinds gives back what it had
// read: the free lists are as long after 200 refusals as before.
TEST(TeskWire, ARefusedReadKeepsNothing) {
    using I = BigDexp__VGF;
    set_up<I>(3, 3);
    using M = Dmp<I>;
    // Two terms, then one out of order; a list of one polynomial, then a bad code.
    const Image poly = Image().code(11).vgf(2, 2).exps({2, 1, 0}).code(11).vgf(3, 3).exps({0, 0, 1}).code(14)
                           .vgf(4, 4).exps({3, 0, 0});
    const Image list = Image().code(6).add(two_terms()).code(6);
    read_back<I>(poly, false), read_back<I>(list, true);  // the free lists reach their size
    const unsigned terms = M::Terms::size(M::Terms::root), lists = M::Lists::size(M::Lists::root);
    for (int k = 0; k < 100; ++k) {
        EXPECT_NE(read_back<I>(poly, false).second.find("Terms out of order"), std::string::npos);
        EXPECT_NE(read_back<I>(list, true).second.find("Unexpected code 6"), std::string::npos);
    }
    EXPECT_EQ(M::Terms::size(M::Terms::root), terms);
    EXPECT_EQ(M::Lists::size(M::Lists::root), lists);
}

// Every truncation is refused at the end of the data; every corrupted code
// or count is refused; another corrupted byte gives valid polynomials and
// leaves the stream right after the item (read_back checks both).
TEST(TeskWire, TruncatedOrCorruptedStreamsAreRefused) {
    using I = BigDexp__VGF;
    set_up<I>(3, 3);
    Image list = Image().code(6).add(two_terms());
    list.code(11).vgf(5, 6).exps({0, 3, 0}).code(14).vgf(1, 1).exps({0, 0, 0}).code(7);
    ASSERT_EQ(read_back<I>(list, true).second, "");
    for (size_t i = 0; i < list.b.size(); ++i) {
        Image cut = list;
        cut.b.resize(i);
        BUS* b = feed(cut.b);
        EXPECT_NE(fatal_of([&] { get_word(*b), Wire<I>::read_list(*b); }).find("Unexpected end of data"),
                  std::string::npos) << i;
        b->kill();
        delete b;
        Image bad = list;
        bad.b[i] ^= 0xFF;
        const std::string fatal = read_back<I>(bad, true).second;
        EXPECT_TRUE(fatal.find("read past") == std::string::npos && (fatal != "" || !list.checked[i])) << i << fatal;
    }
}

}  // namespace
