// Built-in self test of the block method's arithmetic: a product, scalar and
// matrix inverses and a generator of degree 128 for 8 sequences, against
// values recorded modulo 65521.
#include <algorithm>
#include <cstdio>
#include <string>

#include "minpolyvgf/blockhankel.h"

namespace quor::QUOR_NS {

namespace {

// Recorded data, symmetric residues modulo 65521, row-major 8 x 8.
constexpr std::int16_t kA[] = {
    19873, -26012, -25728, 14603, 2983, -32238, -29592, 29126,
    18891, 483, 339, -15452, -13142, 31526, 19300, -8898,
    -6542, 13423, 2251, 14802, -3054, -25013, -14040, -26486,
    -23574, -22573, -10729, -2638, -17771, 19547, -1049, 24767,
    -30028, 19096, -25435, -499, 20476, -12091, -29947, 9853,
    13427, -23841, 541, -21079, 31732, -29776, -31167, 15027,
    25260, 28026, -25991, -25685, 12510, 9705, -8258, 2339,
    21437, 26492, 3716, 12806, 4746, -3020, 17618, 20731};
constexpr std::int16_t kB[] = {
    -19197, -27899, 25386, -9095, -29521, 12441, -21711, -14831,
    -16291, 4266, 9221, -14858, -30855, -23683, 24262, 6612,
    -8687, 11809, 30085, -1143, 17068, -3104, 6702, 27754,
    22492, 25455, -1374, 6632, -13868, 19082, -18924, -12198,
    25566, -18149, 6077, -3851, 5287, -10036, -2277, -166,
    19408, -20446, 11912, -6726, -27050, -8856, 13809, -22635,
    -10483, -10222, -3025, -28263, 1917, 30997, 28493, -1150,
    15569, 16949, 24070, 25416, -25224, -17332, -12134, 16366};
constexpr std::int16_t kAB[] = {
    9608, 24008, 3258, -3616, 4998, -16093, -7381, -5109,
    -7067, 22085, -15670, -26320, 19196, 21042, -29468, -5683,
    2752, 10329, 3659, -29150, -26881, -4010, 14420, -21994,
    10283, -15328, -9929, -2936, -18053, 12697, -19155, -23853,
    -22669, 23608, -6744, -20661, 12440, -22969, 4546, -14906,
    3400, 28180, 31663, 18175, 27989, -7478, 28671, -9808,
    -20437, -25577, -12550, -13507, -29808, -21762, -5769, -31081,
    13820, -18892, 19787, 18948, -23241, 24847, -16106, 20312};
constexpr i32 kScalar = 23945, kScalarInverse = 6797;
constexpr std::int16_t kM1[] = {
    21861, -25607, -3493, -6086, -9614, 18552, -18277, 6433,
    17216, -28521, -24264, -17781, -16620, 15309, -31554, -22055,
    19434, -8234, 30060, -13685, -16337, -7880, -12529, -15332,
    5630, -27854, 20244, -14994, 6233, -21825, 8065, -14731,
    31483, -12639, 4664, -22636, 6570, -23541, -25372, 9252,
    21588, 859, -2609, -16953, 30557, -17948, -1371, -26585,
    27798, 21663, 2074, -18164, -13012, 25580, 9864, -19841,
    30932, 32588, 5462, -21198, 24500, -15917, -23674, -19344};
constexpr std::int16_t kInv1[] = {
    -9739, -8188, -27516, -495, -30869, -245, -22653, -13866,
    16260, 21788, -27836, -23356, -17644, -28911, 5530, 31347,
    862, 21489, 1604, 14092, 31448, 22235, 18459, 18791,
    -10566, -19809, -27223, -32386, -7789, 30739, 17381, 23248,
    -15797, -4379, -2993, -13078, 4552, 31048, 4404, 20056,
    -13068, -19315, 12889, -24870, -23581, -12701, -5578, -26634,
    26165, 1634, 25962, 24396, -4690, -13961, -22394, -18519,
    12707, -20727, -1089, 4678, 1867, 23893, 19899, 14666};
constexpr std::int16_t kM2[] = {
    1, -8479, 11664, -4815, 6223, -2439, -17966, -5779,
    3018, 29090, 18753, -2266, 19532, -26022, 23982, -32758,
    -25587, 31001, 14356, -32565, 16071, -12682, -6161, 11695,
    -14605, 24519, -22402, 22781, 3374, 27829, 21070, -10212,
    -27229, 21833, 7131, -26025, -23514, 25896, -8318, 977,
    -13047, -4885, -21016, -14156, -24736, -19735, 11054, -24829,
    -21508, -17347, 27073, 20775, 25185, 25116, -21386, 20941,
    31854, 24283, 20649, -12376, 20653, -22532, 17659, -13665};
constexpr std::int16_t kInv2[] = {
    24568, 9682, -27376, -29223, 718, -25744, 6495, -11278,
    3218, -8898, 5079, 16018, -24956, -18522, -19872, -14143,
    3633, -19022, 22157, -295, -5349, -23817, -24920, 30340,
    -19726, -29408, -27763, -13910, -13742, 20106, 13705, -23200,
    3301, -2301, -19886, 28029, -3795, 10820, -4286, -12972,
    -4458, 1886, -9499, 10021, -11321, -1358, 24929, 1,
    24583, 371, -15963, -17484, 30617, -21436, 1, 0,
    17869, 27222, 25815, 16084, -32563, 1, 0, 0};
constexpr std::int16_t kMX0[] = {
    21812, 840, -14956, 6110, 32221, 7258, -18222, -14265,
    -30072, 6653, 27749, -435, 3707, -32047, 7475, 14747,
    13325, 3410, 13342, 17756, -22082, -12960, -8479, -1605,
    4398, -23586, 14355, 25459, 18776, 21730, 5392, 15967,
    -25784, 22469, -13498, -18534, 18751, 9680, -23272, -13222,
    11529, -5644, -19624, 7319, 1454, -25688, -11078, 17766,
    21648, 8672, 25372, 7523, -27441, 11807, 6062, -14925,
    13325, -13844, 21867, -22896, 6942, 3257, -18395, 29597};
constexpr std::int16_t kMX32[] = {
    -2155, 24707, -22993, 16970, -30142, -23410, 26105, 6785,
    -30645, -292, 22065, 26646, 15994, -1203, 14516, -25970,
    28552, -7813, -31721, -17440, -30171, 31310, 2349, -32730,
    -31769, 5239, 12363, 7081, 25120, 13535, -24340, -1400,
    -14876, 24210, 14685, 17918, 8611, 24874, -6375, 10669,
    -11413, -4733, 8349, 19314, 20824, -17339, 180, 13464,
    27016, -3872, -2100, -24197, -28163, -20513, -9698, 27188,
    -20174, -11900, -7521, 25849, 9863, 17454, -7513, -4804};
constexpr std::int16_t kMX127[] = {
    -28071, -4295, -26560, -23409, 10813, 19846, -6711, 2693,
    -27358, -20693, 24908, -25988, -16321, -14197, 28612, 26229,
    20861, 18967, -3568, 21514, 19461, 17159, -28079, 13783,
    -15757, 31623, -10521, -19655, 1275, 2167, -9059, 8894,
    -1138, -2596, 4780, -26919, 12359, 27773, 15101, 19130,
    -19499, 616, -27366, 18324, 28971, 3807, -30454, -2713,
    -19349, 24104, -31473, 27484, -10605, -23683, 14335, 6956,
    6118, 12238, -21810, 22767, 12477, 12179, 11253, 695};

// The list and the sequences are drawn from a fixed 64-bit linear
// congruential stream (nonzero symmetric residues for the list).
struct Stream {
  u64 x;
  std::int16_t next() {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    return std::int16_t(i32((x >> 33) % SelfTestData::kPrime) - i32(SelfTestData::kPrime / 2));
  }
};
constexpr u64 kListSeed = 201;
constexpr u64 kSessionSeed = 1;
constexpr i32 kListLength = 201;

// The test's prime, installed for the test and the caller's put back on every exit.
struct OwnPrime {
  OwnPrime() : table(QUOR_NAME(Table_Primes)), modulo(QUOR_NAME(modulo)), ok(QUOR_NAME(modulo_ok)) {
#if !QUOR_INT
    sign = PrimeSign;
    half = PrimeHalf;
    PrimeSign = i32(SelfTestData::kPrime);
    PrimeHalf = (PrimeSign - 1) / 2;
#endif
    QUOR_NAME(modulo) = &prime;
    QUOR_NAME(modulo_ok) = 1;
  }
  ~OwnPrime() {
    QUOR_NAME(Table_Primes) = table;
    QUOR_NAME(modulo) = modulo;
    QUOR_NAME(modulo_ok) = ok;
#if !QUOR_INT
    PrimeSign = sign;
    PrimeHalf = half;
#endif
  }
  u32 prime = SelfTestData::kPrime;
  u32* table;
  u32* modulo;
  i32 ok;
  i32 sign = 0, half = 0;
};

constexpr i32 kN = SelfTestData::kN;
constexpr i64 kM = i64(kN) * kN;
using Block = std::vector<Dom1>;

u32 residue16(i32 v) { return u32(v < 0 ? v + i32(SelfTestData::kPrime) : v); }

Block block_of(const std::int16_t* v) {
  Block b(kM);
  for (i64 e = 0; e < kM; ++e) b[e] = Dom1_of(residue16(v[e]), SelfTestData::kPrime);
  return b;
}

// A recorded value as a session word (prime-field build: its 16-bit pattern).
Dom word_of(std::int16_t v) { return kIntBuild ? Dom(residue16(v)) : Dom(u16(v)); }

// Reports a failed check on standard error, displays the matrix, and fails.
[[noreturn]] void failed(const char* report, const Dom1* shown) {
  std::fputs(report, stderr);
  std::fflush(stderr);
  if (shown) display_MatDom1(shown, kN);
  std::fflush(stdout);
  QUOR_NAME(Fatal)("%s", report);
}

void check(bool ok, const char* pass, const char* fail, const Dom1* shown) {
  if (!ok) failed(fail, shown);
  if (pass) std::fputs(pass, stderr);
}

u32 inverse_of(i32 x, u32 p) {
#if QUOR_INT
  return inv_Dom1(residue16(x), p);
#else
  return residue_of(Dom1(inv_Dom1s(x, p)), p);
#endif
}

}  // namespace

SelfTestData self_test_data() {
  SelfTestData t{kA, kB, kAB, kScalar, kScalarInverse, {}, kM1, kInv1, kM2, kInv2, {}, kMX0, kMX32, kMX127};
  Stream list{kListSeed};
  for (i32 i = 0; i < kListLength; ++i) {
    std::int16_t v = 0;
    while (v == 0) v = list.next();
    t.list.push_back(v);
  }
  t.list.push_back(0);
  Stream s{kSessionSeed};
  t.sessions.assign(kN, std::vector<std::int16_t>(2 * SelfTestData::kD * kN));
  for (auto& seq : t.sessions)
    for (auto& v : seq) v = s.next();
  return t;
}

}  // namespace quor::QUOR_NS

QUOR_EXPORT void QUOR_NAME(test_MatDom1)() {
  using namespace quor;
  using namespace quor::QUOR_NS;
  OwnPrime own;
  const u32 p = own.prime;
  const SelfTestData t = self_test_data();
  Block D(kM), R(kM);
  auto same = [](const Block& a, const Block& b) { return a == b; };

  mult_MatDom1s(block_of(t.A).data(), block_of(t.B).data(), D.data(), kN);
  check(same(D, block_of(t.AB)), "mult_MatDom1s ok\n", "mult_MatDom1s nok\n", D.data());

  auto bad_inverse = [&](i32 x, u32 y) {
    std::fprintf(stderr, "1/%d mod %u = %u\n", x, p, y);
    failed("inv_Dom1s nok\n", nullptr);
  };
  if (const u32 y = inverse_of(t.scalar, p); y != residue16(t.scalar_inverse)) bad_inverse(t.scalar, y);
  for (const std::int16_t* x = t.list.data(); *x != 0; ++x)
    if (const u32 y = inverse_of(*x, p); u64(residue16(*x)) * y % p != 1) bad_inverse(*x, y);
  std::fputs("inv_Dom1s ok\n", stderr);

  const struct {
    const std::int16_t *M, *inv;
    const char *pass, *fail, *fail_identity;
  } inverses[] = {
      {t.M1, t.inv1, "inv_MatDom1 ok\n", "inv_MatDom1 nok\n", "inv_MatDom1 nok (should be I)\n"},
      {t.M2, t.inv2, "inv_MatDom1 (2) ok\n", "inv_MatDom1 (2) nok\n", "inv_MatDom1 (2) nok (should be I)\n"}};
  for (const auto& c : inverses) {
    const Block M = block_of(c.M);
    inv_MatDom1s(M.data(), R.data(), kN);
    check(same(R, block_of(c.inv)), c.pass, c.fail, R.data());
    mult_MatDom1s(M.data(), R.data(), D.data(), kN);
    Block I(kM);
    for (i64 e = 0; e < kM; ++e) I[e] = Dom1_of(e / kN == e % kN, p);
    check(same(D, I), nullptr, c.fail_identity, D.data());
  }

  // The sequences as session words; the generator's d + 1 blocks.
  const i32 d = SelfTestData::kD;
  std::vector<std::vector<Dom>> words(kN);
  std::vector<Dom*> seqs(kN);
  for (i32 i = 0; i < kN; ++i) {
    for (std::int16_t v : t.sessions[i]) words[i].push_back(word_of(v));
    seqs[i] = words[i].data();
  }
  std::vector<Dom1> generator = heap_array<Dom1>(std::size_t((d + 1) * kM), "the self test");
  std::vector<Dom1*> MX(d + 1);
  for (i32 k = 0; k <= d; ++k) MX[k] = generator.data() + k * kM;
  fglm_polys_request(MX.data(), seqs.data(), kN, d, 0);
  const struct {
    i32 k;
    const std::int16_t* want;
    const char* fail;
  } entries[] = {{0, t.MX0, "fglm_polys nok (n=10,bk=8,1)\n"},
                 {32, t.MX32, "fglm_polys nok (n=10,bk=8,2)\n"},
                 {127, t.MX127, "fglm_polys nok (n=10,bk=8,3)\n"}};
  for (const auto& e : entries) {
    const Block got(MX[e.k], MX[e.k] + kM);
    check(same(got, block_of(e.want)), nullptr, e.fail, got.data());
  }
  std::fprintf(stderr, "fglm_polys kat10 ok\n%s\n", std::string(70, '-').c_str());
}
