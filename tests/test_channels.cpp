// Output and fatal channels ending in the stand-in host: sink modes, fatal
// errors and no-raise regions, file opening, time stamps, interrupt polls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <omp.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/channels.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/text_file.h"

QUOR_TEST_BEGIN

struct ExitCalled {
  int status;
};
[[noreturn]] void throwing_exit(int status) { throw ExitCalled{status}; }

int lib_allocs = 0;
void* lib_alloc(std::size_t n) {
  ++lib_allocs;
  return std::malloc(n);
}
void* lib_realloc(void* p, std::size_t, std::size_t n) { return std::realloc(p, n); }
void lib_free(void* p, std::size_t) { std::free(p); }

using quor_test::slurp;

class QUOR_SUITE(Channels) : public ::testing::Test {
 protected:
  void SetUp() override {
    quor::Host_kernel = host.kernel();
    quor::Quor_verb_info = 4;
    quor::info_Host_line_count = 0;
    old_hook = quor::set_process_exit_hook(throwing_exit);
    HostVersion_forget();
    interrupt_counter = 0;
    reset_memory_hook = nullptr;
  }
  void TearDown() override {
    for (const auto& v : host.violations()) ADD_FAILURE() << "host violation: " << v;
    EXPECT_FALSE(fatal_kept());
    EXPECT_EQ(no_raise_depth.load(), 0);
    quor::Host_kernel = nullptr;
    quor::Quor_verb_info = 0;
    quor::set_process_exit_hook(old_hook);
    HostVersion_forget();
    reset_memory_hook = nullptr;
    interrupt_counter = 0;
  }
  // Runs body as an entry point would.
  standin::CallResult as_entry(const std::function<void()>& body) {
    return host.run([&]() -> HostValue {
      body();
      return ToHostNULL(host.kernel());
    });
  }

  standin::Host host;
  quor::ProcessExitHook old_hook = nullptr;
};

QTEST_F(Channels, SinkModesRouteEveryChannel) {
  quor::Quor_verb_info = 4;
  QUOR_NAME(Output)("%d%% done\n", 50);
  QUOR_NAME(Output_string)("raw 100%\n");
  EXPECT_EQ(host.output(), "50% done\nraw 100%\n");  // '%' survives the host's printf

  host.clear_output();
  quor::Quor_verb_info = 2;
  QUOR_NAME(Infos)("step %s\n", "one");
  EXPECT_EQ(host.output(), "");
  ASSERT_EQ(host.user_info().size(), 1u);
  EXPECT_EQ(host.user_info()[0].level, 1);
  EXPECT_EQ(host.user_info()[0].name, "quor");
  EXPECT_EQ(host.user_info()[0].text, "step one\n");

  quor::Quor_verb_info = 3;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(QUOR_NAME(Stderr)("to %s\n", "stderr"), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "to stderr\n");

  for (int mode : {0, 5, -1}) {
    quor::Quor_verb_info = mode;
    ::testing::internal::CaptureStderr();
    QUOR_NAME(Output)("dropped\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
  EXPECT_EQ(host.output(), "");
  EXPECT_EQ(host.user_info().size(), 1u);
}

QTEST_F(Channels, FatalReachesTheHostWithItsTextAndTheHostAllocator) {
  lib_allocs = 0;
  standin::CallResult r = as_entry([] {
#if QUOR_INT
    quor::Quor_push_gmp_alloc_fnct(lib_alloc, lib_realloc, lib_free);
    ASSERT_TRUE(quor::gmp_alloc_switched());
#endif
    QUOR_NAME(Fatal)("Can't open %s%s", "data", "\n");
  });
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.error, "Can't open data\n");
  EXPECT_TRUE(host.host_gmp_functions_in_place());
  EXPECT_FALSE(quor::gmp_alloc_switched());
  // A placeholder-looking text reaches the host unchanged.
  r = as_entry([] { QUOR_NAME(Fatal)("bad %s", "%1 and %-2"); });
  EXPECT_EQ(r.error, "bad %1 and %-2");

  // Without a stored kernel the raise cannot happen: the process ends with 1.
  quor::Host_kernel = nullptr;
  ::testing::internal::CaptureStderr();
  try {
    QUOR_NAME(Fatal)("lost\n");
  } catch (const ExitCalled& e) {
    EXPECT_EQ(e.status, 1);
  }
  ::testing::internal::GetCapturedStderr();
  quor::Host_kernel = host.kernel();
}

QTEST_F(Channels, NoRaiseRegionKeepsTheFirstMessageUntilItsExit) {
  standin::CallResult r = as_entry([] {
    NoRaiseRegion outer;
    {
      NoRaiseRegion inner;
      Fatal_deferred("first %d\n", 1);
      Fatal_deferred("second\n");
      EXPECT_TRUE(fatal_kept());
    }
    EXPECT_TRUE(fatal_kept());  // the inner exit does not raise
  });
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.error, "first 1\n");
  EXPECT_FALSE(fatal_kept());

  // Threads of a parallel region keep one message; it is raised after the region.
  r = as_entry([] {
    NoRaiseRegion region;
#pragma omp parallel num_threads(4)
    {
      EXPECT_TRUE(raise_unsafe());
      Fatal_deferred("thread failure\n");
    }
    EXPECT_TRUE(fatal_kept());
  });
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.error, "thread failure\n");

  // A message kept under the bare depth counter surfaces at the next poll.
  r = as_entry([] {
    no_raise_depth.fetch_add(1);
    Fatal_deferred("kept in a callback\n");
    no_raise_depth.fetch_sub(1);
    QUOR_NAME(checkInterrupt)();
    ADD_FAILURE() << "returned";
  });
  EXPECT_EQ(r.error, "kept in a callback\n");

  // Outside any region the deferred form raises at once.
  r = as_entry([] {
    Fatal_deferred("now\n");
    ADD_FAILURE() << "returned";
  });
  EXPECT_EQ(r.error, "now\n");
}

QTEST_F(Channels, FatalInsideARegionEndsTheProcessInsteadOfUnwinding) {
  ::testing::internal::CaptureStderr();
  int status = -1;
  try {
    NoRaiseRegion region;
#if QUOR_INT
    quor::Quor_push_gmp_alloc_fnct(lib_alloc, lib_realloc, lib_free);
#endif
    QUOR_NAME(Fatal)("inside GMP\n");
  } catch (const ExitCalled& e) {
    status = e.status;
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "inside GMP\n");
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(host.host_gmp_functions_in_place());
  EXPECT_FALSE(fatal_kept());  // dropped while the exit unwound the test's region
}

class QUOR_SUITE(Ouvrir) : public QUOR_SUITE(Channels) {
 protected:
  void SetUp() override {
    QUOR_SUITE(Channels)::SetUp();
    char tmpl[] = "/tmp/quor_ouvrir_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd), 0);
    std::system(("rm -rf '" + dir + "'").c_str());
    QUOR_SUITE(Channels)::TearDown();
  }
  void write_with(const std::string& name, const char* mode, const std::string& text) {
    std::FILE* f = QUOR_NAME(ouvrir)(name.c_str(), mode);
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    EXPECT_EQ(close_ouvrir(f), 0);
  }
  std::string read_with(const std::string& name, const char* mode) {
    std::FILE* f = QUOR_NAME(ouvrir)(name.c_str(), mode);
    std::string s;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    close_ouvrir(f);
    return s;
  }
  static bool gzipped(const std::string& path) {
    const std::string raw = slurp(path);
    return raw.size() > 2 && raw[0] == '\x1f' && raw[1] == '\x8b';
  }
  std::string dir;
  char old_cwd[4096];
};

QTEST_F(Ouvrir, PlainDashAndCompressedNames) {
  EXPECT_EQ(QUOR_NAME(ouvrir)("-", "r"), stdin);
  write_with("-", "w", "dash");  // only "-" with "r" is standard input
  EXPECT_EQ(slurp("-"), "dash");
  write_with("plain.txt", "w", "plain");
  EXPECT_EQ(read_with("plain.txt", "r"), "plain");

  write_with("a.gz", "w", "hello gz\n");
  EXPECT_TRUE(gzipped("a.gz"));
  EXPECT_EQ(read_with("a.gz", "r"), "hello gz\n");
  // A binary read mode reads too: a write pipe would have truncated the file.
  EXPECT_EQ(read_with("a.gz", "rb"), "hello gz\n");
  EXPECT_TRUE(gzipped("a.gz"));
  write_with("a.gz", "a", "more\n");  // gzip members concatenate
  EXPECT_EQ(read_with("a.gz", "r"), "hello gz\nmore\n");

  // Compressed by the suffix: ".Z" too, and a name that is only the suffix.
  const std::pair<const char*, bool> names[] = {{"b.Z", true}, {".gz", true}, {".Z", true}, {"gz", false}};
  for (auto [name, gz] : names) {
    write_with(name, "w", name);
    EXPECT_EQ(gzipped(name), gz) << name;
    EXPECT_EQ(read_with(name, "r"), name);
  }
}

QTEST_F(Ouvrir, NamesWithBlanksAndQuotesCannotInjectCommands) {
  const std::string name = "my file 'x'; touch injected; \"$(touch injected2)\".gz";
  write_with(name, "w", "safe\n");
  EXPECT_TRUE(gzipped(name));
  EXPECT_EQ(read_with(name, "r"), "safe\n");
  EXPECT_NE(access("injected", F_OK), 0);
  EXPECT_NE(access("injected2", F_OK), 0);
  write_with("-lead.gz", "w", "dash\n");  // not taken for a gzip option
  EXPECT_EQ(read_with("-lead.gz", "r"), "dash\n");
}

QTEST_F(Ouvrir, FailuresAreFatalWithTheirTexts) {
  standin::CallResult r = as_entry([] { QUOR_NAME(ouvrir)("missing.gz", "r"); });
  EXPECT_EQ(r.error, "Can't open missing.gz\n");
  r = as_entry([] { QUOR_NAME(ouvrir)("no/such/dir/file", "w"); });
  EXPECT_EQ(r.error, "Can't open no/such/dir/file\n");
  const std::string long_name = std::string(995, 'n') + ".gz";
  r = as_entry([&] { wopen_gzip(long_name.c_str()); });
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.error.rfind("Can't popen (w) " + long_name + ": command longer than 999 bytes\n", 0),
            0u);
  EXPECT_NE(access(long_name.c_str(), F_OK), 0);
}

QTEST(FileNameStamp, FormatAndSafeCut) {
  std::tm when{};
  when.tm_year = 2021 - 1900, when.tm_mon = 11, when.tm_mday = 5, when.tm_hour = 13, when.tm_min = 5, when.tm_sec = 9;
  char out[255];
  const std::string tag = QUOR_INT ? "quor_record_" : "quor_record_modp_";
  EXPECT_EQ(file_name_stamp_at("/tmp/", out, sizeof out, when), std::strlen("Sun_ 5_Dec_13h_05m_09s"));
  EXPECT_EQ(std::string(out), "/tmp/" + tag + "Sun_ 5_Dec_13h_05m_09s");
  char small[12];  // cut, never overrun
  EXPECT_EQ(file_name_stamp_at("/tmp/", small, sizeof small, when), 0u);
  EXPECT_EQ(std::strlen(small), sizeof small - 1);
}

int resets = 0;
void count_reset() { ++resets; }

QTEST_F(Channels, InterruptPollAsksTheHostEvery4096thCall) {
  for (int version : {10, 12, 13}) {
    host.set_version(version);
    HostVersion_forget();
    host.interrupt_after_polls(0);
    interrupt_counter = 0;
    for (int i = 0; i < 3 * 4096 - 1; ++i) QUOR_NAME(checkInterrupt)();
    // 10: never asked; 12: HostCheckInterrupt per ask; 13: value then check.
    EXPECT_EQ(host.polls(), version == 10 ? 0 : version == 12 ? 2 : 4) << version;
  }
  // An unreadable version text counts as 0 and is asked again next time.
  host.set_version_text("Stand");
  HostVersion_forget();
  EXPECT_EQ(HostVersion(), 0.0);
  host.set_version(12);
  EXPECT_EQ(HostVersion(), 12.0);
  host.set_version(13);
  EXPECT_EQ(HostVersion(), 12.0);  // cached
}

QTEST_F(Channels, InterruptUnwindsOnlyOnAskingPolls) {
  resets = 0;
  reset_memory_hook = count_reset;
  host.set_version(12);
  host.interrupt_after_polls(1);
  lib_allocs = 0;
  long calls = 0;
  standin::CallResult r = as_entry([&] {
#if QUOR_INT
    quor::Quor_push_gmp_alloc_fnct(lib_alloc, lib_realloc, lib_free);
#endif
    for (;;) {
      ++calls;
      QUOR_NAME(checkInterrupt)();
    }
  });
  EXPECT_TRUE(r.interrupted);
  EXPECT_EQ(calls, 4096);
  EXPECT_EQ(resets, 0);  // version 12 keeps the memory
#if QUOR_INT
  // The poll left integer mode for the host; the unwind skipped its return.
  quor::Quor_pop_gmp_alloc_fnct();
#endif

  host.set_version(13);
  HostVersion_forget();
  interrupt_counter = 0;
  host.interrupt_after_polls(3);  // second ask: value, then check
  r = as_entry([] {
    for (;;) QUOR_NAME(checkInterrupt)();
  });
  EXPECT_TRUE(r.interrupted);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(interrupt_counter, 2u * 4096u);

  // A host that swallows the interrupt after the memory is gone: the call still ends.
  host.interrupt_after_polls(1);
  host.set_check_interrupt_unwinds(false);
  interrupt_counter = 0;
  r = as_entry([] {
    for (;;) QUOR_NAME(checkInterrupt)();
  });
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.error, "interrupted");
  EXPECT_EQ(resets, 2);
  host.set_check_interrupt_unwinds(true);

  // Inside a no-raise region the host is not asked at all.
  host.interrupt_after_polls(1);
  interrupt_counter = 0;
  {
    NoRaiseRegion region;
    for (int i = 0; i < 4096; ++i) QUOR_NAME(checkInterrupt)();
  }
  EXPECT_EQ(host.polls(), 0);
}

QTEST_F(Channels, InIntegerModeThePollLetsTheHostLookWithItsOwnAllocator) {
#if QUOR_INT
  host.set_version(13);
  quor::Quor_push_gmp_alloc_fnct(lib_alloc, lib_realloc, lib_free);
  for (int i = 0; i < 4096; ++i) QUOR_NAME(checkInterrupt)();
  EXPECT_TRUE(host.violations().empty());
  EXPECT_TRUE(quor::gmp_alloc_switched());  // back in integer mode after the look
  void* (*a)(std::size_t);
  void* (*re)(void*, std::size_t, std::size_t);
  void (*f)(void*, std::size_t);
  mp_get_memory_functions(&a, &re, &f);
  EXPECT_EQ(a, lib_alloc);
  quor::Quor_pop_gmp_alloc_fnct();
  EXPECT_TRUE(host.host_gmp_functions_in_place());
  quor::Quor_pop_gmp_alloc_fnct();  // nothing remembered: nothing changes
  EXPECT_TRUE(host.host_gmp_functions_in_place());
#endif
  EXPECT_EQ(host.polls(), QUOR_INT ? 2 : 0);
}

QTEST_F(Channels, EmergencyStopAndSigint) {
  host.set_version(12);
  ::testing::internal::CaptureStderr();
  int status = -1;
  try {
    quor::Quor_pop_safe_gmp_alloc_fnct();
  } catch (const ExitCalled& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 4);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Quor_pop_safe_gmp_alloc_fnct 12.000000\n");

  QUOR_NAME(stop_immediately_semaphore) = 0;
  auto old = std::signal(SIGINT, catch_sigint);
  std::raise(SIGINT);
  std::signal(SIGINT, old);
  EXPECT_EQ(QUOR_NAME(stop_immediately_semaphore), 1);
  QUOR_NAME(stop_immediately_semaphore) = 0;
}

QUOR_TEST_END
