// The matrix-file reader on any bytes (a file of the native layout): a
// minimal polynomial or a host error, never a crash or a read past the data.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/matrixfile.h"
#include "tests/fuzz/fuzz_request.h"

using namespace quor;
using namespace quor::QUOR_NS;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    std::atexit([] { std::remove(("/tmp/quor-fuzz-matrix-" + std::to_string(::getpid())).c_str()); });
    return "/tmp/quor-fuzz-matrix-" + std::to_string(::getpid());
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  quor_fuzz::run([&] {
    quor_fuzz::open_request(2, 0);
    Dpol result[1] = {nullptr};
    if (rebuild_matrix(path.c_str(), result) != 1) std::abort();
  });
  return 0;
}
