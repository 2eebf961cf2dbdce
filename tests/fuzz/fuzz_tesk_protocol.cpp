// The Tesk channel readers on any bytes, for the three polynomial packages:
// a polynomial, a list or a list of lists, or the engine's fatal end
// (caught), never a crash or a read past the data.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tesk/poly/protocol.h"

using namespace tesk;
using namespace tesk::poly;

namespace {

struct Fatal_Hit {};
void throwing_hook(int, const char*) {
  Fatal_loop = 0;
  throw Fatal_Hit{};
}

// Each package is set up once (n variables, the first k in the first block,
// two primes for VGF): setting one up again is not what is tried here.
template <class I>
void read_one(BUS& b, unsigned n, unsigned k) {
  static const bool ready = [&] {
    Dmp<I>::init();
    if constexpr (I::D::kOnHeap) {
      static std::uint32_t primes[] = {4294967291u, 4294967279u};
      set_VGF(2, primes);
    } else {
      gfc::set_module_GFC(65521);
    }
    Dmp<I>::set(n, k, 0);
    return true;
  }();
  (void)ready;
  const std::uint32_t first = get_word(b);
  if (first == MSG_TESK_Begin) {
    const std::uint32_t second = get_word(b);
    if (second == MSG_TESK_Begin) {
      Dmp<I>::Lists::kill_all(Wire<I>::read_list(b));
      Dmp<I>::Lists2::kill_all(Wire<I>::read_list_list(b));
    } else {
      // The list holds the polynomial before the rest is read: a refusal
      // there gives both back (one call's two arguments would not).
      List<I>* l = Dmp<I>::Lists::cons(Wire<I>::read(b, Messages(second)), nullptr);
      try {
        l->next = Wire<I>::read_list(b);
      } catch (const Fatal_Hit&) {
        Dmp<I>::Lists::kill_all(l);
        throw;
      }
      Dmp<I>::Lists::kill_all(l);
    }
  } else {
    Dmp<I>::Lists::kill_all(Dmp<I>::Lists::cons(Wire<I>::read(b, Messages(first)), nullptr));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 60000) return 0;  // a pipe holds the whole input
  const unsigned pick = data[0];  // the package
  int fd[2];
  if (pipe(fd) != 0) return 0;
  if (size > 1 && write(fd[1], data + 1, size - 1) != ssize_t(size - 1)) std::abort();
  close(fd[1]);
  BUS b(fd[0]);
  want_quiet = 1;
  FILE* log = log_output;
  log_output = nullptr;
  const Exit_Hook old = set_exit_hook(throwing_hook);
  try {
    switch (pick % 3) {
      case 0: read_one<BigDexp__VGF>(b, 3, 3); break;
      case 1: read_one<BigLexp__VGF>(b, 4, 4); break;
      default: read_one<DRLDRL__GFC>(b, 4, 2); break;
    }
  } catch (const Fatal_Hit&) {
  }
  set_exit_hook(old);
  log_output = log;
  b.kill();
  return 0;
}
