// The stand-in host on its own: calls, unwinding, symbolic values, rtables
// and the faults it must notice on the library's behalf.
#include <gtest/gtest.h>

#include <cstring>

#include "host/standin/standin.h"

namespace {

using quor::standin::CallResult;
using quor::standin::Host;

// Entry points written as the library writes them.
HostValue raise2(HostKernel k, HostArgs a) {
  HostRaiseError2(k, "integer expected for %-1 argument, instead got %2", HostArg(a, 1),
                  HostArg(a, 2));
  return ToHostNULL(k);
}

HostValue sum_of_args(HostKernel k, HostArgs a) {
  std::int64_t s = 0;
  for (int i = 1; i <= HostNumArgs(a) + 1; ++i)  // one too far on purpose
    if (IsHostInteger32(k, HostArg(a, i))) s += HostToInteger32(k, HostArg(a, i));
  return ToHostInteger(k, s);
}

HostValue overwrite_rtable(HostKernel k, HostArgs a) {
  HostRTableSettings s;
  RTableGetSettings(k, &s, HostArg(a, 1));
  auto* d = static_cast<std::int32_t*>(RTableDataBlock(k, HostArg(a, 1)));
  const std::int32_t n = HostToInteger32(k, HostArg(a, 2));
  for (std::int32_t i = 0; i < n; ++i) d[i] = i;
  return ToHostNULL(k);
}

int lib_allocs = 0;
void* lib_alloc(std::size_t n) {
  ++lib_allocs;
  return std::malloc(n);
}
void* lib_realloc(void* p, std::size_t, std::size_t n) { return std::realloc(p, n); }
void lib_free(void* p, std::size_t) { std::free(p); }

HostValue leaves_allocator(HostKernel k, HostArgs) {
  mp_set_memory_functions(lib_alloc, lib_realloc, lib_free);
  return ToHostInteger(k, 7);  // built while the library's allocator is in place
}

HostValue assign_and_list(HostKernel k, HostArgs a) {
  HostAssign(k, HostArg(a, 1), ToHostFloat(k, 0.5));
  HostAssign(k, HostArg(a, 2), ToHostInteger(k, 3));  // not a name
  HostValue l = HostListAlloc(k, 2);
  HostListAssign(k, l, 1, ToHostInteger(k, 10));
  HostListAssign(k, l, 3, ToHostInteger(k, 30));  // out of range
  return l;
}

HostValue poll_until_unwound(HostKernel k, HostArgs) {
  for (;;) HostCheckInterrupt(k);
}

HostValue lend_buffer(HostKernel k, HostArgs) {
  static std::int32_t buffer[6] = {1, 2, 3, 4, 5, 6};
  HostRTableSettings s;
  RTableGetDefaults(k, &s);
  s.data_type = HOST_RTABLE_INTEGER32;
  s.order = HOST_RTABLE_C_ORDER;
  s.num_dimensions = 2;
  s.foreign = 1;
  const std::int32_t bounds[4] = {1, 2, 1, 3};
  HostValue r = RTableCreate(k, &s, buffer, bounds);
  HostGcProtect(k, r);
  buffer[5] = 60;  // lent, not copied: the host sees the change
  return r;
}

TEST(StandinHost, ErrorPlaceholdersAreFilledWithPrintedValues) {
  Host h;
  CallResult r = h.call(raise2, {h.integer(3), h.string("abc")});
  EXPECT_TRUE(r.raised);
  EXPECT_FALSE(r.interrupted);
  EXPECT_EQ(r.error, "integer expected for 3 argument, instead got \"abc\"");
  r = h.call(raise2, {h.list({h.integer(-5), h.name("x")}), h.floating(1.5)});
  EXPECT_EQ(r.error, "integer expected for [-5, x] argument, instead got 1.5");
  // Placeholders without an argument and a lone '%' stay as written.
  r = h.run([&]() -> HostValue {
    HostRaiseError1(h.kernel(), "100% of %1, not %2", h.integer(1));
    return nullptr;
  });
  EXPECT_EQ(r.error, "100% of 1, not %2");
  EXPECT_TRUE(h.violations().empty());
}

TEST(StandinHost, ReadPastArgumentCountIsRecorded) {
  Host h;
  CallResult r = h.call(sum_of_args, {h.integer(2), h.integer(40)});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(h.to_int(r.value), 42);
  ASSERT_EQ(h.violations().size(), 1u);
  EXPECT_EQ(h.violations()[0], "argument 3 read, 2 passed");
}

TEST(StandinHost, WritePastOwnedRtableIsRecordedOnce) {
  Host h;
  HostValue rt = h.rtable_int32({9, 9, 9, 9}, 4);
  ASSERT_TRUE(h.call(overwrite_rtable, {rt, h.integer(4)}).ok());
  EXPECT_TRUE(h.violations().empty());
  EXPECT_EQ(h.rtable_at(rt, 4), 3);
  ASSERT_TRUE(h.call(overwrite_rtable, {rt, h.integer(5)}).ok());
  ASSERT_EQ(h.violations().size(), 1u);
  EXPECT_EQ(h.violations()[0], "write past the data block of rtable(1..4)");
  ASSERT_TRUE(h.call(overwrite_rtable, {rt, h.integer(5)}).ok());
  EXPECT_EQ(h.violations().size(), 1u);
}

TEST(StandinHost, LibraryAllocatorLeftInstalledIsRecordedAndRepaired) {
  Host h;
  lib_allocs = 0;
  CallResult r = h.call(leaves_allocator, {});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(h.to_int(r.value), 7);
  EXPECT_EQ(lib_allocs, 0) << "host integers must be made with the host's functions";
  ASSERT_EQ(h.violations().size(), 2u);
  EXPECT_EQ(h.violations()[0], "library GMP allocator installed during ToHostInteger");
  EXPECT_EQ(h.violations()[1],
            "library GMP allocator still installed when control returned to the host");
  EXPECT_TRUE(h.host_gmp_functions_in_place());
  // Raising with the library's functions in place is the same fault.
  h.clear_violations();
  r = h.run([&]() -> HostValue {
    mp_set_memory_functions(lib_alloc, lib_realloc, lib_free);
    HostRaiseError(h.kernel(), "boom");
    return nullptr;
  });
  EXPECT_EQ(r.error, "boom");
  EXPECT_EQ(h.violations().size(), 2u);
}

TEST(StandinHost, NamesListsAndAssignments) {
  Host h;
  HostValue t = h.name("t");
  EXPECT_EQ(h.name("t"), t);
  EXPECT_TRUE(IsHostUnassignedName(h.kernel(), t));
  CallResult r = h.call(assign_and_list, {t, h.integer(1)});
  ASSERT_TRUE(r.ok());
  ASSERT_NE(h.assigned("t"), nullptr);
  EXPECT_DOUBLE_EQ(h.to_double(h.assigned("t")), 0.5);
  EXPECT_EQ(h.print(r.value), "[10, NULL]");
  ASSERT_EQ(h.violations().size(), 2u);
  EXPECT_EQ(h.violations()[0], "assignment to 1, which is not a name");
  EXPECT_EQ(h.violations()[1], "list assignment at 3 of [10, NULL]");
}

TEST(StandinHost, SymbolicArithmeticPrintsLikeAHost) {
  Host h;
  HostKernel k = h.kernel();
  HostValue x1 = h.name("x1"), x2 = h.name("x2"), x3 = h.name("x3");
  // 1 * x1^2 * x2 + x3, built the way an export builds a sum of monomials.
  HostValue t = HostNumericMultiply(k, h.integer(1), HostNumericPower(k, x1, h.integer(2)));
  t = HostNumericMultiply(k, t, HostNumericPower(k, x2, h.integer(1)));
  HostValue sum = HostNumericAdd(k, HostNumericAdd(k, h.integer(0), t), x3);
  EXPECT_EQ(h.print(sum), "x1^2*x2+x3");
  EXPECT_EQ(h.print(HostNumericPower(k, HostNumericAdd(k, x1, x2), h.integer(-1))),
            "(x1+x2)^(-1)");
  EXPECT_EQ(h.print(HostNumericMultiply(k, HostNumericAdd(k, x1, x2), x3)), "(x1+x2)*x3");
  EXPECT_EQ(h.print(HostNumericPower(k, h.integer(2), h.integer(70))), "1180591620717411303424");
  // GMP integers travel both ways without loss.
  HostValue big = h.integer_text("-123456789012345678901234567890");
  mpz_t z;
  mpz_init_set(z, HostToGMPInteger(k, big));
  EXPECT_EQ(h.print(GMPIntegerToHost(k, z)), "-123456789012345678901234567890");
  mpz_clear(z);
  EXPECT_FALSE(IsHostInteger32(k, big));
  EXPECT_TRUE(IsHostInteger32(k, h.integer(-2147483647 - 1)));
  EXPECT_FALSE(IsHostInteger32(k, h.integer(2147483648LL)));
  EXPECT_TRUE(h.violations().empty());
}

TEST(StandinHost, ForeignRtableLendsDataWithoutCopy) {
  Host h;
  CallResult r = h.call(lend_buffer, {});
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(h.rtable_foreign(r.value));
  EXPECT_TRUE(h.gc_protected(r.value));
  EXPECT_EQ(h.rtable_at(r.value, 2, 3), 60);
  EXPECT_EQ(h.rtable_at(r.value, 2, 1), 4);
  EXPECT_EQ(h.print(r.value), "rtable(1..2, 1..3)");
  HostValue f = h.rtable_int32({1, 2, 3, 4, 5, 6}, 2, 3, HOST_RTABLE_FORTRAN_ORDER);
  EXPECT_EQ(h.rtable_at(f, 2, 1), 2);  // column-major storage
  EXPECT_TRUE(h.violations().empty());
}

TEST(StandinHost, InterruptBecomesPendingAfterNPolls) {
  Host h;
  h.interrupt_after_polls(5);
  CallResult r = h.call(poll_until_unwound, {});
  EXPECT_TRUE(r.interrupted);
  EXPECT_FALSE(r.raised);
  EXPECT_EQ(r.error, "interrupted");
  EXPECT_EQ(h.polls(), 5);
  EXPECT_EQ(h.interrupts_delivered(), 1);
  // Delivered once: later polls find nothing pending.
  EXPECT_EQ(HostGetInterruptValue(h.kernel()), 0);
  h.interrupt_after_polls(2);
  EXPECT_EQ(HostGetInterruptValue(h.kernel()), 0);
  EXPECT_EQ(HostGetInterruptValue(h.kernel()), 1);
  h.set_check_interrupt_unwinds(false);
  HostCheckInterrupt(h.kernel());  // swallowed, no unwind
  EXPECT_EQ(HostGetInterruptValue(h.kernel()), 0);
}

TEST(StandinHost, VersionOptionAndCapturedOutput) {
  Host h;
  h.set_version(10);
  HostValue v = HostKernelOptions(h.kernel(), "version", nullptr);
  const char* text = HostToString(h.kernel(), v);
  ASSERT_GT(std::strlen(text), 6u);
  EXPECT_EQ(std::atof(text + 6), 10.0);
  EXPECT_TRUE(IsHostNULL(h.kernel(), HostKernelOptions(h.kernel(), "other", nullptr)));
  // Converting a non-string is a host error, not a crash.
  CallResult r = h.run([&]() -> HostValue {
    HostToString(h.kernel(), h.integer(1));
    return nullptr;
  });
  EXPECT_EQ(r.error, "string expected, got 1");
}

}  // namespace
