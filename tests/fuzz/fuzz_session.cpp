// The session-file reader on any text, for any count of values: a refusal
// leaves zeros where no value was read, nothing is written past the count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "minpolyvgf/session.h"
#include "tests/fuzz/fuzz_request.h"

using namespace quor;
using namespace quor::QUOR_NS;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quor_fuzz::Bytes in(data, size);
  const i32 count = i32(in.u8()) - 8;
  std::string text = in.rest();
  std::FILE* f = fmemopen(text.data(), text.size(), "r");
  if (f == nullptr) f = std::tmpfile();  // fmemopen refuses an empty buffer
  std::vector<Dom> out(std::size_t(count > 0 ? count : 0) + 1, Dom(0x5A5A));
  i32 ok = -1;
  quor_fuzz::run([&] { ok = read_session(f, "fuzz", out.data(), count); });
  std::fclose(f);
  if (ok != 0 && ok != 1 && ok != -1) std::abort();
  if (out.back() != Dom(0x5A5A)) std::abort();  // written past count
  // Refused: cleared, or the values missing at the end left 0.
  if (ok == 0 && count > 0 && out[std::size_t(count - 1)] != 0) std::abort();
  return 0;
}
