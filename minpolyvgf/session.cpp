// Prime and random stream of the sparse linear-algebra library, session
// files, displays and the CPU clock.
#include "minpolyvgf/session.h"

#include <sys/resource.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "core/channels.h"
#include "minpolyvgf/prime_sign.h"

namespace quor::QUOR_NS {

QUOR_FGLM_LOCAL u32* QUOR_NAME(Table_Primes) = nullptr;
QUOR_FGLM_LOCAL u32* QUOR_NAME(modulo) = nullptr;
QUOR_FGLM_LOCAL i32 QUOR_NAME(modulo_ok) = 0;
QUOR_FGLM_LOCAL const char* w_lvars = nullptr;
const char* session_base = nullptr;

#if !QUOR_INT
i32 PrimeSign = -1;
i32 PrimeHalf = -1;
#endif

namespace {
// Private stream of the start vectors, apart from the process's random()
// (which it leaves alone), so that every computation draws the same vectors.
QUOR_FGLM_LOCAL char state1[128];
QUOR_FGLM_LOCAL random_data stream;

void restart_stream() {
  stream = random_data{};
  initstate_r(1, state1, sizeof state1, &stream);
}

// Values as the session files and the displays write them.
#if QUOR_INT
void put_value(std::FILE* f, Dom v) { std::fprintf(f, "%u", v); }
#else
void put_value(std::FILE* f, Dom v) { std::fprintf(f, "%d", int(std::int16_t(v))); }
#endif
}  // namespace

void init_wiedemann() {
  QUOR_NAME(modulo) = QUOR_NAME(Table_Primes);
  QUOR_NAME(modulo_ok) = 1;
  restart_stream();
}

void choose_random(Dom* x, i32 n) {
  const u32 p = *QUOR_NAME(modulo);
  if (stream.state == nullptr) restart_stream();
  for (i32 i = 0; i < n; ++i) {
    std::int32_t v = 0;
    random_r(&stream, &v);
    x[i] = Dom(u32(v) % p);
  }
}

void write_session(std::FILE* file, const Dom* v, i32 n) {
  std::fputc('[', file);
  for (i32 i = 0; i < n; ++i) {
    if (i) std::fputc(',', file);
    put_value(file, v[i]);
  }
  std::fputs("]\n", file);
}

bool session_file_name(char* out, const char* base, i32 P) {
  const int len = std::snprintf(out, kSessionNameSize, "%s.%d", base ? base : "", P);
  return len >= 0 && std::size_t(len) < kSessionNameSize;
}

std::FILE* QUOR_NAME(ouvrir_paral)(i32 P) {
  const char* env = std::getenv("QUOR_SESSION");
  const char* base = session_base ? session_base : env && *env ? env : "/tmp/quor_session";
  char name[kSessionNameSize];
  if (!session_file_name(name, base, P)) QUOR_NAME(Fatal)("Session name too long: %.64s... (%d)\n", base, P);
  QUOR_NAME(Stderr)("Save session in %s for proc %d\n", name, P);
  return QUOR_NAME(ouvrir)(name, "w");
}

namespace {
bool is_separator(int c) {
  return c == ']' || c == '[' || c == ',' || c == ':' || c == '\n' || c == ' ' || c == '\r' ||
         c == '\t';
}

// The values a session may hold: 16-bit words as signed or unsigned integers
// (prime-field build), unsigned 32-bit residues (integer build).
#if QUOR_INT
constexpr i64 kMinValue = 0;
constexpr i64 kMaxValue = 0xFFFFFFFFll;
#else
constexpr i64 kMinValue = -32768;
constexpr i64 kMaxValue = 0xFFFF;
#endif
}  // namespace

i32 read_session(std::FILE* file, const char* name, Dom* out, i32 count) {
  if (count < 0) count = 0;
  if (name == nullptr) name = "(session)";
  auto clear_from = [&](i32 from) {
    if (count > from) std::memset(out + from, 0, sizeof(Dom) * std::size_t(count - from));
  };
  i32 stored = 0;
  i64 offset = 0;  // characters consumed, for the reports
  int c = std::fgetc(file);
  while (c != EOF) {
    if (is_separator(c)) {
      c = std::fgetc(file);
      ++offset;
      continue;
    }
    const i64 start = offset;
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      c = std::fgetc(file);
      ++offset;
    }
    if (c == EOF || !std::isdigit(c)) {
      QUOR_NAME(Stderr)("Malformed session file %s: no number at offset %lld\n", name,
                        (long long)start);
      clear_from(0);
      return 0;
    }
    i64 value = 0;
    while (c != EOF && std::isdigit(c)) {
      value = value * 10 + (c - '0');
      if (value > kMaxValue + 1) break;  // out of range already; stop before overflow
      c = std::fgetc(file);
      ++offset;
    }
    if (negative) value = -value;
    if (value < kMinValue || value > kMaxValue || (c != EOF && !is_separator(c))) {
      QUOR_NAME(Stderr)("Malformed session file %s: bad value at offset %lld\n", name,
                        (long long)start);
      clear_from(0);
      return 0;
    }
    if (stored == count) {
      QUOR_NAME(Stderr)("Ignore data in session file !\n");
      return 1;
    }
    out[stored++] = Dom(value);  // low bits: a negative word keeps its two's complement
  }
  if (stored != count) {
    QUOR_NAME(Stderr)("Expect %d data in file %s but received %d\n", count, name, stored);
    clear_from(stored);
    return 0;
  }
  return 1;
}

i32 read_session_file(const char* base, i32 P, Dom* out, i32 count) {
  char name[kSessionNameSize];
  if (!session_file_name(name, base, P))
    QUOR_NAME(Fatal)("Session name too long: %.64s... (%d)\n", base ? base : "", P);
  std::FILE* f = QUOR_NAME(ouvrir)(name, "r");
  const i32 ok = read_session(f, name, out, count);
  close_ouvrir(f);
  return ok;
}

void display_poly(const Dom* c, i32 count) {
  const char* name = w_lvars ? w_lvars : "x";
  if (c == nullptr) {
    std::printf(")");
    return;
  }
  bool printed = false;
  for (i32 i = count - 1; i >= 0; --i) {
    if (c[i] == 0) continue;
    if (printed) std::printf("+");
    // The coefficients are residues in [0, p): print them whole (a signed
    // 16-bit reading would misprint residues from 32768 on).
    std::printf(" %u ", unsigned(c[i]));
    printed = true;
    if (i == 0) break;
    std::printf("*%s^%d", name, i);
  }
  std::printf("\n");
}

double delay() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace quor::QUOR_NS
