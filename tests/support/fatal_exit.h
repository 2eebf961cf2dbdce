// Catching the fatal exit: the stand-in host turns a fatal error into an
// exception; suites that expect the process exit install a hook that throws.
#ifndef QUOR_TESTS_SUPPORT_FATAL_EXIT_H
#define QUOR_TESTS_SUPPORT_FATAL_EXIT_H
#include <exception>
#include <string>

namespace quor_test {
struct FatalExit {
  int status;
};
[[noreturn]] inline void throw_on_exit(int status) { throw FatalExit{status}; }

// Text of the fatal error f raised ("" when none).
template <class F>
std::string fatal_text(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "<fatal>";
  }
  return "";
}
}  // namespace quor_test
#endif
