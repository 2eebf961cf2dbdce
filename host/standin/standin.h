// The stand-in host: builds host values, calls entry points exactly as a
// host does (kernel handle, argument vector, one value back; errors and
// interrupts unwind to it) and records what a real host would suffer from.
//
// Checks (violations() lists them, tests expect it empty):
//   - control returns to the host (normally or by an error) while GMP's
//     memory functions are not the host's;
//   - a host integer is built, an error raised or an interrupt delivered
//     while the library's GMP allocator is installed;
//   - a write past the data block of an rtable the host owns (guard bytes);
//   - an argument read past the argument count, a list index out of range,
//     an assignment to something that is not a name.
//
// One Host installs its own GMP memory functions (the "host's") for its
// lifetime and puts the previous ones back when destroyed.
#ifndef QUOR_HOST_STANDIN_STANDIN_H
#define QUOR_HOST_STANDIN_STANDIN_H
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/C/host_api.h"
#include "host/standin/host_error.h"

namespace quor::standin {

struct HostImpl;

// Outcome of a call: the value, or the error / interrupt that unwound it.
struct CallResult {
  HostValue value = nullptr;
  bool raised = false;       // a host error unwound the call
  bool interrupted = false;  // an interrupt unwound the call
  std::string error;         // the error text, placeholders filled
  bool ok() const { return !raised && !interrupted; }
};

struct UserInfoEntry {
  int level;
  std::string name;
  std::string text;
};

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Kernel handle passed to entry points.
  HostKernel kernel() const;

  // ---- values (owned by the host until it is destroyed) ----
  HostValue integer(std::int64_t v);
  HostValue gmp_integer(mpz_srcptr z);
  // Integer from decimal text (throws std::invalid_argument when not one).
  HostValue integer_text(const std::string& decimal);
  HostValue floating(double d);
  HostValue string(const std::string& text);
  // The name with this text (the same value for the same text).
  HostValue name(const std::string& text);
  HostValue null();
  HostValue list(const std::vector<HostValue>& items);
  // INTEGER32 rtable owned by the host: rows x cols (cols 0: one dimension of
  // rows), bounds from 1, data given in the rtable's storage order.
  HostValue rtable_int32(const std::vector<std::int32_t>& data, std::int32_t rows,
                         std::int32_t cols = 0, int order = HOST_RTABLE_C_ORDER,
                         bool index_functions = false);
  // FLOAT64 one-dimensional rtable owned by the host.
  HostValue rtable_float64(const std::vector<double>& data);

  // ---- collection ----
  // The number of values made so far: a mark for collect_since.
  std::size_t value_mark() const;
  // Frees the values made since mark, as a host's collector frees what
  // nothing refers to any more: the caller holds none of them.  A name made
  // since is forgotten, an older one assigned such a value is unassigned.
  // Nothing is freed when one of them is protected (HostGcProtect).
  void collect_since(std::size_t mark);

  // ---- calls ----
  // Calls entry with args as the host does; never lets a host unwind escape.
  CallResult call(HostEntryPoint entry, const std::vector<HostValue>& args);
  // Runs body as if it were an entry point (same catching and checks).
  CallResult run(const std::function<HostValue()>& body);

  // ---- reading back ----
  // Value assigned to the name, nullptr when unassigned.
  HostValue assigned(const std::string& name) const;
  // The host's printed form ("x1^2*x2+x3", "[1, 2]", "\"text\"", "NULL").
  std::string print(HostValue v) const;
  bool is_integer(HostValue v) const;
  bool is_null(HostValue v) const;
  // The integer v (throws std::invalid_argument when not an integer fitting 64 bits).
  std::int64_t to_int(HostValue v) const;
  // The float or integer v as a double.
  double to_double(HostValue v) const;
  // Elements of a list.
  std::vector<HostValue> list_items(HostValue v) const;
  // Bounds (lo, hi) of each dimension of an rtable.
  std::vector<std::pair<std::int32_t, std::int32_t>> rtable_bounds(HostValue v) const;
  // Element (i) or (i, j) of an INTEGER32 rtable, by its bounds and order.
  std::int32_t rtable_at(HostValue v, std::int32_t i, std::int32_t j = 0) const;
  bool rtable_foreign(HostValue v) const;
  bool gc_protected(HostValue v) const;

  // ---- behaviour ----
  // Version text "Stand <major>.0, X86 64 LINUX, Dec 6 2026, Build ID 1"; the default is 13.
  void set_version(int major);
  // Any version text (e.g. a short one that cannot be read).
  void set_version_text(const std::string& text);
  // A poll is a call of HostGetInterruptValue or HostCheckInterrupt; the
  // interrupt becomes pending at poll number n (0: never) and stays pending
  // until HostCheckInterrupt delivers it.
  void interrupt_after_polls(long n);
  // Makes an interrupt pending at the next poll of whichever host polls
  // first, as a user's Ctrl-C does; safe to call from a signal handler.
  static void raise_interrupt_flag();
  // false: HostCheckInterrupt clears a pending interrupt but returns (a host that swallows it).
  void set_check_interrupt_unwinds(bool unwinds);
  long polls() const;
  long interrupts_delivered() const;

  // Captured HostPrintf output; echo also writes it to standard output.
  const std::string& output() const;
  void clear_output();
  void set_echo(bool echo);
  const std::vector<UserInfoEntry>& user_info() const;
  void clear_user_info();

  const std::vector<std::string>& violations() const;
  void clear_violations();
  // True when GMP's memory functions are the host's.
  bool host_gmp_functions_in_place() const;

 private:
  std::unique_ptr<HostImpl> impl_;
};

}  // namespace quor::standin
#endif
