// Host services that one copy serves for both builds: the kernel handle, the
// message sink, the end-of-process hook and the switch of GMP's memory
// functions (process-wide state of GMP).
#include "host/C/host_sink_shared.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quor {

HostKernel Host_kernel = nullptr;
i32 Quor_verb_info = 0;
int info_Host_line_count = 0;

namespace {

std::string double_percents(const char* text) {
  std::string s;
  for (const char* p = text; *p; ++p) {
    s += *p;
    if (*p == '%') s += '%';
  }
  return s;
}

void host_print(const char* text) {
  if (Host_kernel == nullptr) {
    std::fputs(text, stderr);
    return;
  }
  std::string doubled = double_percents(text);
  HostPrintf(Host_kernel, doubled.c_str());  // NOLINT: the text is the format, its '%' doubled
}

ProcessExitHook exit_hook = nullptr;

// The remembered triple: the functions in place at the first install.
bool memo_set = false;
GmpAlloc memo_alloc = nullptr;
GmpRealloc memo_realloc = nullptr;
GmpFree memo_free = nullptr;

}  // namespace

void info_Host(const char* text) {
  if (text == nullptr) return;
  switch (Quor_verb_info) {
    case 1: {
      // Keep the host's lines short: break before a "]" or after ten pieces.
      if (std::strchr(text, '\n') != nullptr) {
        info_Host_line_count = 0;
      } else {
        ++info_Host_line_count;
        if (std::strchr(text, ']') != nullptr || info_Host_line_count > 10) {
          host_print("\n");
          info_Host_line_count = 0;
        }
      }
      if (*text) host_print(text);
      break;
    }
    case 2:
      if (Host_kernel == nullptr)
        std::fputs(text, stderr);
      else
        HostUserInfo(Host_kernel, 1, "quor", text);
      break;
    case 3:
      std::fputs(text, stderr);
      std::fflush(stderr);
      break;
    case 4:
      host_print(text);
      break;
    default:
      break;
  }
}

[[noreturn]] void process_exit(int status) {
  if (exit_hook != nullptr) exit_hook(status);
  std::exit(status);
}

ProcessExitHook set_process_exit_hook(ProcessExitHook hook) {
  ProcessExitHook old = exit_hook;
  exit_hook = hook;
  return old;
}

void Quor_push_gmp_alloc_fnct(GmpAlloc alloc, GmpRealloc realloc, GmpFree free) {
  if (!memo_set) {
    mp_get_memory_functions(&memo_alloc, &memo_realloc, &memo_free);
    memo_set = true;
  }
  mp_set_memory_functions(alloc, realloc, free);
}

void Quor_pop_gmp_alloc_fnct() {
  // Without a remembered triple there is nothing of the host's to put back;
  // installing null pointers would select GMP's defaults, not the host's.
  if (!memo_set) return;
  mp_set_memory_functions(memo_alloc, memo_realloc, memo_free);
  memo_set = false;
}

bool gmp_alloc_switched() { return memo_set; }

bool host_version_probe(double& version) {
  version = 0.0;
  if (Host_kernel == nullptr) return false;
  HostValue v = HostKernelOptions(Host_kernel, "version", nullptr);
  if (v == nullptr || IsHostNULL(Host_kernel, v)) return false;
  const char* text = HostToString(Host_kernel, v);
  if (text == nullptr || std::strlen(text) <= 6) return false;
  version = std::atof(text + 6);
  return true;
}

void Quor_pop_safe_gmp_alloc_fnct() {
  double version = 0.0;
  host_version_probe(version);
  std::fprintf(stderr, "Quor_pop_safe_gmp_alloc_fnct %f\n", version);
  std::fflush(stderr);
  process_exit(4);
}

}  // namespace quor
