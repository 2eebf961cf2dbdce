// The stand-in host on its own: the error texts the tests compare, and the
// faults it must notice on the library's behalf.
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

// Values made since a mark are freed as a collector would: a name made
// since is forgotten, an older name assigned one of them is unassigned, the
// rtables among them are no longer checked, and a protected value keeps all.
HostValue assigns_answer(HostKernel k, HostArgs a) {
  HostAssign(k, HostArg(a, 1), ToHostInteger(k, 42));
  return ToHostNULL(k);
}

TEST(StandinHost, CollectedValuesLeaveNamesAndChecksConsistent) {
  Host h;
  HostValue kept = h.integer(5);
  HostValue old_name = h.name("old");
  const std::size_t mark = h.value_mark();
  ASSERT_TRUE(h.call(assigns_answer, {old_name}).ok());
  ASSERT_TRUE(h.call(assigns_answer, {h.name("fresh")}).ok());
  HostValue rt = h.rtable_int32({1, 2}, 2);
  ASSERT_EQ(h.to_int(h.assigned("old")), 42);
  h.collect_since(mark);
  EXPECT_EQ(h.value_mark(), mark);
  EXPECT_EQ(h.assigned("old"), nullptr);
  EXPECT_EQ(h.assigned("fresh"), nullptr);
  EXPECT_EQ(h.to_int(kept), 5);
  ASSERT_TRUE(h.call(assigns_answer, {h.name("fresh")}).ok());  // made again, then assigned
  EXPECT_EQ(h.to_int(h.assigned("fresh")), 42);
  EXPECT_TRUE(h.violations().empty());  // the freed rtable's guard is not read
  (void)rt;
  const std::size_t mark2 = h.value_mark();
  HostValue v = h.integer(7);
  ASSERT_TRUE(h.run([&]() -> HostValue {
                 HostGcProtect(h.kernel(), v);
                 return ToHostNULL(h.kernel());
               }).ok());
  h.collect_since(mark2);
  EXPECT_EQ(h.to_int(v), 7);
  EXPECT_GT(h.value_mark(), mark2);
}

}  // namespace
