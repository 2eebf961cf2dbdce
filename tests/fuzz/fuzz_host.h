// What every fuzz target shares: one stand-in host for the process, a call
// made as the host makes it (a host error or interrupt unwinds to it), and
// the host's checks turned into a crash the fuzzer reports.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/standin/standin.h"

namespace quor_fuzz {

inline std::unique_ptr<quor::standin::Host>& host_slot() {
  static std::unique_ptr<quor::standin::Host> h;
  return h;
}
inline quor::standin::Host& fresh_host();
// The host of the current input.
inline quor::standin::Host& host() {
  if (!host_slot()) fresh_host();
  return *host_slot();
}
// A new host for the next input: the values of the last one go with its host.
inline quor::standin::Host& fresh_host() {
  host_slot().reset();
  host_slot() = std::make_unique<quor::standin::Host>();
  host_slot()->set_echo(false);
  return *host_slot();
}

// A broken host rule (write past an rtable, read past the arguments, the
// library's GMP allocator left installed, ...) is a fault like a crash.
inline void check_host() {
  quor::standin::Host& h = host();
  if (h.violations().empty()) return;
  for (const std::string& v : h.violations()) std::fprintf(stderr, "host check: %s\n", v.c_str());
  std::abort();
}

// body as an entry point, on a fresh host; true when it returned normally.
inline bool run(const std::function<void()>& body) {
  quor::standin::Host& h = fresh_host();
  const quor::standin::CallResult r = h.run([&] {
    body();
    return h.null();
  });
  h.clear_output();
  h.clear_user_info();
  check_host();
  return r.ok();
}

// Reads the fuzzer's bytes in order; zeros once they run out.
class Bytes {
 public:
  Bytes(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
  std::uint8_t u8() { return i_ < n_ ? d_[i_++] : 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v << 8 | u8();
    return v;
  }
  bool empty() const { return i_ >= n_; }
  // The bytes not read yet.
  std::string rest() {
    std::string s(reinterpret_cast<const char*>(d_ + i_), n_ - i_);
    i_ = n_;
    return s;
  }

 private:
  const std::uint8_t* d_;
  std::size_t n_, i_ = 0;
};

}  // namespace quor_fuzz
