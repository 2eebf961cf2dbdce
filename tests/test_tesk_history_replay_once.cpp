// Damaged histories of the sugar loop: the corrupted histories that fuzzing
// found, replayed from gzip files as a user's history is, and the loop's own
// history with any one byte changed, in the file and in its text.  Each
// time the loop ends with the basis of a run without history, or takes the
// history whole and gives a basis that reduces every input to zero.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "tests/fuzz/history_replay.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace history_replay;
using namespace tesk;

std::string read_file(const std::string& p) {
    std::string s;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
        std::fclose(f);
    }
    return s;
}

void write_file(const std::string& p, const std::string& s) {
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
}

}  // namespace

namespace history_replay {
void PrintTo(Outcome o, std::ostream* os) {
    *os << (o == Outcome::Plain ? "plain basis" : o == Outcome::Accepted ? "accepted history" : "wrong basis");
}
}  // namespace history_replay

namespace {

Outcome replay(const std::string& bytes, const char* gz_base = nullptr) {
    return history_replay::replay(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), gz_base);
}

// gzip's complaints about the damaged files go to /dev/null while f runs.
template <class F>
void quietly(F f) {
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
    f();
    dup2(saved, 2);
    close(saved);
}

TEST(TeskHistoryReplay, TheFuzzCorpus) {
    quor_test::TempDir d("tesk_replay");
    const std::string base = d / "h";
    unsigned files = 0;
    quietly([&] {
        for (const auto& e : std::filesystem::directory_iterator(QUOR_SOURCE_DIR "/tests/fuzz/corpus/history_replay")) {
            ++files;
            EXPECT_NE(replay(read_file(e.path()), base.c_str()), Outcome::Wrong) << e.path();
        }
    });
    EXPECT_GT(files, 10u);
}

template <class I>
void own_history(char tag) {
    using S = algo::Sugar<I>;
    using R = Replay<I>;
    R& r = R::get();
    quor_test::TempDir d("tesk_replay");
    const std::string base = d / "h";
    S::open_write_history(base.c_str());
    EXPECT_EQ(R::canon(S::groebner(r.F)), r.plain);
    S::open_read_history(base.c_str());
    algo::Sugar_Stats st;
    EXPECT_EQ(R::canon(S::groebner(r.F, &st)), r.plain);
    EXPECT_EQ(st.reductions, 0u);
    EXPECT_GT(st.replayed, 5u);

    // Any byte of the file: gzip's check finds what the items' checks do not.
    const std::string gz = read_file(base + ".gz");
    ASSERT_GT(gz.size(), 100u);
    FILE* log = log_output;
    log_output = nullptr;
    quietly([&] {
        for (size_t at = 0; at < gz.size(); ++at) {
            std::string bad = gz;
            bad[at] = char(~bad[at]);
            write_file(base + ".gz", bad);
            S::open_read_history(base.c_str());
            EXPECT_EQ(R::canon(S::groebner(r.F)), r.plain) << "byte " << at;
        }
    });
    log_output = log;

    // Any byte of its text, cut anywhere.
    std::string text;
    write_file(base + ".gz", gz);
    FILE* z = popen(("gzip -cd '" + base + ".gz'").c_str(), "r");
    ASSERT_NE(z, nullptr);
    for (int c; (c = std::fgetc(z)) != EOF;) text += char(c);
    pclose(z);
    text.insert(text.begin(), tag);
    EXPECT_EQ(replay(text), Outcome::Plain);
    for (size_t at = 1; at < text.size(); ++at) {
        std::string bad = text;
        bad[at] = char(bad[at] ^ (1 << (at % 8)));
        EXPECT_NE(replay(bad), Outcome::Wrong) << "byte " << at;
        if (at % 4 == 0) {
            EXPECT_EQ(replay(text.substr(0, at)), Outcome::Plain) << "cut at " << at;
        }
    }
}

TEST(TeskHistoryReplay, OwnHistoryWholeOrDamagedModuloAPrime) { own_history<poly::DRLDRL__GFC>(0); }

TEST(TeskHistoryReplay, OwnHistoryWholeOrDamagedModuloTwoPrimes) { own_history<poly::BigDexp__VGF>(1); }

}  // namespace
