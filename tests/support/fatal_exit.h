// Process-exit hook for suites that expect the fatal exit: it throws instead.
#ifndef QUOR_TESTS_SUPPORT_FATAL_EXIT_H
#define QUOR_TESTS_SUPPORT_FATAL_EXIT_H
namespace quor_test {
struct FatalExit {
  int status;
};
[[noreturn]] inline void throw_on_exit(int status) { throw FatalExit{status}; }
}  // namespace quor_test
#endif
