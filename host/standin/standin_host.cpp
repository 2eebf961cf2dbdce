// Stand-in host: the external-call interface of host_api.h over values kept
// by a Host object, with the checks a real host would need.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_set>
#include <stdexcept>

#include "host/standin/standin.h"

using quor::standin::HostError;
using quor::standin::HostImpl;
using quor::standin::HostInterrupt;

namespace {
// Raised by Host::raise_interrupt_flag (a signal handler), taken by the next poll.
std::atomic<bool> interrupt_flag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is raised from a signal handler");
}  // namespace

struct HostKernelRec {
  HostImpl* host;
};

struct HostArgsRec {
  HostImpl* host;
  std::vector<HostValue> values;
};

struct HostValueRec {
  enum Kind { Null, Integer, Float, String, Name, List, RTable, Sum, Product, Power };
  explicit HostValueRec(Kind k) : kind(k) {}
  ~HostValueRec() {
    if (kind == Integer) mpz_clear(z);
  }
  HostValueRec(const HostValueRec&) = delete;
  HostValueRec& operator=(const HostValueRec&) = delete;

  Kind kind;
  mpz_t z;                       // Integer
  double d = 0.0;                // Float
  std::string text;              // String, Name
  HostValue assigned = nullptr;  // Name
  std::vector<HostValue> items;  // List; Sum, Product (operands); Power (base, exponent)
  // RTable
  HostRTableSettings settings{};
  std::int32_t lo[HOST_RTABLE_MAX_DIMS] = {1, 1};
  std::int32_t hi[HOST_RTABLE_MAX_DIMS] = {0, 0};
  void* data = nullptr;
  std::size_t bytes = 0;
  std::unique_ptr<unsigned char[]> storage;  // owned data followed by guard bytes
  bool guard_reported = false;
  bool gc_protected = false;
};

namespace {

constexpr std::size_t kGuardBytes = 32;
constexpr unsigned char kGuardByte = 0xA5;

// The host's own GMP memory functions: what must be in place whenever the
// host has control.
// GMP cannot take a failed allocation back: say why before the end.
[[noreturn]] void big_integer_out_of_memory(std::size_t n) {
  std::fprintf(stderr, "host: no memory left for a big integer of %zu bytes\n", n);
  std::abort();
}
void* host_gmp_alloc(std::size_t n) {
  void* p = std::malloc(n);
  if (p == nullptr) big_integer_out_of_memory(n);
  return p;
}
void* host_gmp_realloc(void* p, std::size_t, std::size_t n) {
  void* q = std::realloc(p, n);
  if (q == nullptr) big_integer_out_of_memory(n);
  return q;
}
void host_gmp_free(void* p, std::size_t) { std::free(p); }

bool host_functions_installed() {
  void* (*a)(std::size_t);
  void* (*r)(void*, std::size_t, std::size_t);
  void (*f)(void*, std::size_t);
  mp_get_memory_functions(&a, &r, &f);
  return a == host_gmp_alloc && r == host_gmp_realloc && f == host_gmp_free;
}

void install_host_functions() {
  mp_set_memory_functions(host_gmp_alloc, host_gmp_realloc, host_gmp_free);
}

std::size_t element_size(std::int32_t data_type) {
  switch (data_type) {
    case HOST_RTABLE_INTEGER32:
      return 4;
    case HOST_RTABLE_FLOAT64:
      return 8;
    default:
      return sizeof(HostValue);
  }
}

std::string mpz_text(mpz_srcptr z) {
  // Into our own buffer: mpz_get_str must not allocate with whatever
  // functions happen to be installed.
  std::string s(mpz_sizeinbase(z, 10) + 2, '\0');
  mpz_get_str(s.data(), 10, z);
  s.resize(std::strlen(s.c_str()));
  return s;
}

}  // namespace

namespace quor::standin {

struct HostImpl {
  HostKernelRec kernel{this};
  std::deque<std::unique_ptr<HostValueRec>> values;
  // The values among them with a data block of their own and its guard
  // bytes, checked at every return (not the whole of values, which grows
  // with every integer a request hands over).
  std::vector<HostValueRec*> guarded_tables;
  std::map<std::string, HostValue> names;
  HostValue null_value = nullptr;
  std::string version_text;
  std::string output;
  bool echo = false;
  std::vector<UserInfoEntry> infos;
  std::vector<std::string> violations;
  long polls = 0;
  long interrupt_after = 0;
  bool pending = false;
  bool check_unwinds = true;
  long delivered = 0;
  void* (*prev_alloc)(std::size_t) = nullptr;
  void* (*prev_realloc)(void*, std::size_t, std::size_t) = nullptr;
  void (*prev_free)(void*, std::size_t) = nullptr;

  void violation(std::string what) { violations.push_back(std::move(what)); }

  HostValue make(HostValueRec::Kind kind) {
    values.push_back(std::make_unique<HostValueRec>(kind));
    return values.back().get();
  }

  // A new integer; built with the host's GMP functions even when the library
  // left its own installed (that fault is recorded by the caller).
  HostValue make_integer(const std::function<void(mpz_ptr)>& set) {
    void* (*a)(std::size_t);
    void* (*r)(void*, std::size_t, std::size_t);
    void (*f)(void*, std::size_t);
    mp_get_memory_functions(&a, &r, &f);
    const bool foreign = !host_functions_installed();
    if (foreign) install_host_functions();
    HostValue v = make(HostValueRec::Integer);
    mpz_init(v->z);
    set(v->z);
    if (foreign) mp_set_memory_functions(a, r, f);
    return v;
  }
  HostValue make_si(long i) {
    return make_integer([i](mpz_ptr z) { mpz_set_si(z, i); });
  }

  void check_gmp(const char* during) {
    if (!host_functions_installed())
      violation(std::string("library GMP allocator installed during ") + during);
  }

  void check_guards() {
    for (HostValueRec* v : guarded_tables) {
      if (v->guard_reported) continue;
      const unsigned char* g = v->storage.get() + v->bytes;
      for (std::size_t i = 0; i < kGuardBytes; ++i) {
        if (g[i] != kGuardByte) {
          violation("write past the data block of " + print(v));
          v->guard_reported = true;
          break;
        }
      }
    }
  }

  // Checks made whenever control comes back to the host.
  void on_return() {
    if (!host_functions_installed()) {
      violation("library GMP allocator still installed when control returned to the host");
      install_host_functions();
    }
    check_guards();
  }

  HostValue rtable(const HostRTableSettings& s, void* data, const std::int32_t* bounds) {
    HostValue v = make(HostValueRec::RTable);
    v->settings = s;
    std::int32_t dims = s.num_dimensions;
    if (dims < 1 || dims > HOST_RTABLE_MAX_DIMS) {
      violation("rtable of " + std::to_string(dims) + " dimensions");
      dims = 1;
    }
    v->settings.num_dimensions = dims;
    std::size_t count = 1;
    for (std::int32_t d = 0; d < dims; ++d) {
      v->lo[d] = bounds[2 * d];
      v->hi[d] = bounds[2 * d + 1];
      const std::int64_t n = std::int64_t(v->hi[d]) - v->lo[d] + 1;
      count *= n > 0 ? std::size_t(n) : 0;
    }
    v->bytes = count * element_size(s.data_type);
    if (s.foreign) {
      v->data = data;
    } else {
      v->storage = std::make_unique<unsigned char[]>(v->bytes + kGuardBytes);
      guarded_tables.push_back(v);
      if (data != nullptr)
        std::memcpy(v->storage.get(), data, v->bytes);
      else
        std::memset(v->storage.get(), 0, v->bytes);
      std::memset(v->storage.get() + v->bytes, kGuardByte, kGuardBytes);
      v->data = v->storage.get();
    }
    return v;
  }

  static bool is_int(HostValue v) { return v != nullptr && v->kind == HostValueRec::Integer; }
  static bool int_is(HostValue v, long i) { return is_int(v) && mpz_cmp_si(v->z, i) == 0; }

  std::string print(HostValue v) const {
    if (v == nullptr) return "<null pointer>";
    switch (v->kind) {
      case HostValueRec::Null:
        return "NULL";
      case HostValueRec::Integer:
        return mpz_text(v->z);
      case HostValueRec::Float: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", v->d);
        if (std::strpbrk(buf, ".eni") == nullptr) std::strcat(buf, ".");
        return buf;
      }
      case HostValueRec::String:
        return "\"" + v->text + "\"";
      case HostValueRec::Name:
        return v->text;
      case HostValueRec::List: {
        std::string s = "[";
        for (std::size_t i = 0; i < v->items.size(); ++i) {
          if (i) s += ", ";
          s += print(v->items[i]);
        }
        return s + "]";
      }
      case HostValueRec::RTable: {
        std::string s = "rtable(";
        for (std::int32_t d = 0; d < v->settings.num_dimensions; ++d) {
          if (d) s += ", ";
          s += std::to_string(v->lo[d]) + ".." + std::to_string(v->hi[d]);
        }
        return s + ")";
      }
      case HostValueRec::Sum: {
        std::string s;
        for (std::size_t i = 0; i < v->items.size(); ++i) {
          std::string t = print(v->items[i]);
          if (i && t[0] != '-') s += "+";
          s += t;
        }
        return s;
      }
      case HostValueRec::Product: {
        std::string s;
        for (std::size_t i = 0; i < v->items.size(); ++i) {
          if (i) s += "*";
          s += v->items[i]->kind == HostValueRec::Sum ? "(" + print(v->items[i]) + ")"
                                                      : print(v->items[i]);
        }
        return s;
      }
      case HostValueRec::Power: {
        HostValue b = v->items[0], e = v->items[1];
        std::string bs = print(b), es = print(e);
        const bool simple_base =
            (b->kind == HostValueRec::Name) || (is_int(b) && mpz_sgn(b->z) >= 0);
        const bool simple_exp =
            (e->kind == HostValueRec::Name) || (is_int(e) && mpz_sgn(e->z) >= 0);
        return (simple_base ? bs : "(" + bs + ")") + "^" + (simple_exp ? es : "(" + es + ")");
      }
    }
    return "?";
  }

  // Fills %N and %-N (N = 1..9) with the printed argument N when it exists.
  std::string fill(const char* msg, const std::vector<HostValue>& args) const {
    std::string out;
    if (msg == nullptr) return out;
    for (const char* p = msg; *p; ++p) {
      if (*p == '%') {
        const char* q = p + 1;
        if (*q == '-') ++q;
        if (*q >= '1' && *q <= '9' && std::size_t(*q - '0') <= args.size()) {
          out += print(args[*q - '1']);
          p = q;
          continue;
        }
      }
      out += *p;
    }
    return out;
  }

  [[noreturn]] void raise(const char* msg, const std::vector<HostValue>& args) {
    check_gmp("a host error raise");
    throw HostError(fill(msg, args));
  }

  void poll() {
    ++polls;
    if (interrupt_after > 0 && polls == interrupt_after) pending = true;
    if (interrupt_flag.load(std::memory_order_relaxed) && interrupt_flag.exchange(false)) pending = true;
  }

  void append_output(const std::string& s) {
    output += s;
    if (echo) {
      std::fputs(s.c_str(), stdout);
      std::fflush(stdout);
    }
  }

  CallResult guarded(const std::function<HostValue()>& body) {
    CallResult r;
    try {
      r.value = body();
    } catch (const HostInterrupt& e) {
      r.interrupted = true;
      r.error = e.text();
    } catch (const HostError& e) {
      r.raised = true;
      r.error = e.text();
    }
    on_return();
    return r;
  }
};

// ---- Host -----------------------------------------------------------------

Host::Host() : impl_(std::make_unique<HostImpl>()) {
  mp_get_memory_functions(&impl_->prev_alloc, &impl_->prev_realloc, &impl_->prev_free);
  install_host_functions();
  impl_->null_value = impl_->make(HostValueRec::Null);
  set_version(13);
}

Host::~Host() {
  install_host_functions();  // the values' integers were made with them
  impl_->guarded_tables.clear();
  impl_->values.clear();
  mp_set_memory_functions(impl_->prev_alloc, impl_->prev_realloc, impl_->prev_free);
}

HostKernel Host::kernel() const { return &impl_->kernel; }

std::size_t Host::value_mark() const { return impl_->values.size(); }

void Host::collect_since(std::size_t mark) {
  auto& values = impl_->values;
  if (mark >= values.size()) return;
  std::unordered_set<HostValue> gone;
  for (std::size_t i = mark; i < values.size(); ++i) {
    if (values[i]->gc_protected) return;
    gone.insert(values[i].get());
  }
  auto& tables = impl_->guarded_tables;
  tables.erase(std::remove_if(tables.begin(), tables.end(), [&](HostValueRec* v) { return gone.count(v) != 0; }),
               tables.end());
  for (auto it = impl_->names.begin(); it != impl_->names.end();) {
    if (gone.count(it->second)) {
      it = impl_->names.erase(it);
      continue;
    }
    if (gone.count(it->second->assigned)) it->second->assigned = nullptr;
    ++it;
  }
  // The values' integers were made with the host's functions.
  void* (*a)(std::size_t);
  void* (*r)(void*, std::size_t, std::size_t);
  void (*f)(void*, std::size_t);
  mp_get_memory_functions(&a, &r, &f);
  install_host_functions();
  values.resize(mark);
  mp_set_memory_functions(a, r, f);
}

HostValue Host::integer(std::int64_t v) { return impl_->make_si(long(v)); }
HostValue Host::gmp_integer(mpz_srcptr z) {
  return impl_->make_integer([z](mpz_ptr t) { mpz_set(t, z); });
}
HostValue Host::integer_text(const std::string& decimal) {
  bool ok = true;
  HostValue v = impl_->make_integer(
      [&](mpz_ptr t) { ok = mpz_set_str(t, decimal.c_str(), 10) == 0; });
  if (!ok) throw std::invalid_argument("not a decimal integer: " + decimal);
  return v;
}
HostValue Host::floating(double d) {
  HostValue v = impl_->make(HostValueRec::Float);
  v->d = d;
  return v;
}
HostValue Host::string(const std::string& text) {
  HostValue v = impl_->make(HostValueRec::String);
  v->text = text;
  return v;
}
HostValue Host::name(const std::string& text) {
  auto it = impl_->names.find(text);
  if (it != impl_->names.end()) return it->second;
  HostValue v = impl_->make(HostValueRec::Name);
  v->text = text;
  impl_->names.emplace(text, v);
  return v;
}
HostValue Host::null() { return impl_->null_value; }
HostValue Host::list(const std::vector<HostValue>& items) {
  HostValue v = impl_->make(HostValueRec::List);
  v->items = items;
  return v;
}

HostValue Host::rtable_int32(const std::vector<std::int32_t>& data, std::int32_t rows,
                             std::int32_t cols, int order, bool index_functions) {
  const std::size_t n = std::size_t(rows < 0 ? 0 : rows) * std::size_t(cols > 0 ? cols : 1);
  if (cols < 0 || data.size() != n) throw std::invalid_argument("rtable data of the wrong size");
  HostRTableSettings s{};
  s.data_type = HOST_RTABLE_INTEGER32;
  s.subtype = HOST_RTABLE_ARRAY;
  s.order = order;
  s.num_dimensions = cols > 0 ? 2 : 1;
  s.has_index_functions = index_functions ? 1 : 0;
  const std::int32_t bounds[4] = {1, rows, 1, cols};
  return impl_->rtable(s, const_cast<std::int32_t*>(data.data()), bounds);
}

HostValue Host::rtable_float64(const std::vector<double>& data) {
  HostRTableSettings s{};
  s.data_type = HOST_RTABLE_FLOAT64;
  s.num_dimensions = 1;
  const std::int32_t bounds[2] = {1, std::int32_t(data.size())};
  return impl_->rtable(s, const_cast<double*>(data.data()), bounds);
}

CallResult Host::call(HostEntryPoint entry, const std::vector<HostValue>& args) {
  HostArgsRec rec{impl_.get(), args};
  return impl_->guarded([&] { return entry(&impl_->kernel, &rec); });
}

CallResult Host::run(const std::function<HostValue()>& body) { return impl_->guarded(body); }

HostValue Host::assigned(const std::string& name) const {
  auto it = impl_->names.find(name);
  return it == impl_->names.end() ? nullptr : it->second->assigned;
}

std::string Host::print(HostValue v) const { return impl_->print(v); }
bool Host::is_integer(HostValue v) const { return HostImpl::is_int(v); }
bool Host::is_null(HostValue v) const { return v != nullptr && v->kind == HostValueRec::Null; }

std::int64_t Host::to_int(HostValue v) const {
  if (!HostImpl::is_int(v) || !mpz_fits_slong_p(v->z))
    throw std::invalid_argument("not a 64-bit integer: " + print(v));
  return mpz_get_si(v->z);
}

double Host::to_double(HostValue v) const {
  if (v != nullptr && v->kind == HostValueRec::Float) return v->d;
  if (HostImpl::is_int(v)) return mpz_get_d(v->z);
  throw std::invalid_argument("not a number: " + print(v));
}

std::vector<HostValue> Host::list_items(HostValue v) const {
  if (v == nullptr || v->kind != HostValueRec::List)
    throw std::invalid_argument("not a list: " + print(v));
  return v->items;
}

std::vector<std::pair<std::int32_t, std::int32_t>> Host::rtable_bounds(HostValue v) const {
  if (!IsHostRTable(v)) throw std::invalid_argument("not an rtable: " + print(v));
  std::vector<std::pair<std::int32_t, std::int32_t>> b;
  for (std::int32_t d = 0; d < v->settings.num_dimensions; ++d) b.emplace_back(v->lo[d], v->hi[d]);
  return b;
}

std::int32_t Host::rtable_at(HostValue v, std::int32_t i, std::int32_t j) const {
  if (!IsHostRTable(v) || v->settings.data_type != HOST_RTABLE_INTEGER32)
    throw std::invalid_argument("not an INTEGER32 rtable: " + print(v));
  const bool two = v->settings.num_dimensions == 2;
  const std::int64_t rows = std::int64_t(v->hi[0]) - v->lo[0] + 1;
  const std::int64_t cols = two ? std::int64_t(v->hi[1]) - v->lo[1] + 1 : 1;
  const std::int64_t r = std::int64_t(i) - v->lo[0];
  const std::int64_t c = two ? std::int64_t(j) - v->lo[1] : 0;
  if (r < 0 || r >= rows || c < 0 || c >= cols) throw std::out_of_range("rtable index");
  const std::int64_t at = v->settings.order == HOST_RTABLE_C_ORDER ? r * cols + c : c * rows + r;
  return static_cast<const std::int32_t*>(v->data)[at];
}

bool Host::rtable_foreign(HostValue v) const { return IsHostRTable(v) && v->settings.foreign; }
bool Host::gc_protected(HostValue v) const { return v != nullptr && v->gc_protected; }

void Host::set_version(int major) {
  impl_->version_text =
      "Stand " + std::to_string(major) + ".0, X86 64 LINUX, Dec 6 2026, Build ID 1";
}
void Host::set_version_text(const std::string& text) { impl_->version_text = text; }
void Host::interrupt_after_polls(long n) {
  impl_->interrupt_after = n;
  impl_->polls = 0;
  impl_->pending = false;
}
void Host::raise_interrupt_flag() { interrupt_flag.store(true); }

void Host::set_check_interrupt_unwinds(bool unwinds) { impl_->check_unwinds = unwinds; }
long Host::polls() const { return impl_->polls; }
long Host::interrupts_delivered() const { return impl_->delivered; }

const std::string& Host::output() const { return impl_->output; }
void Host::clear_output() { impl_->output.clear(); }
void Host::set_echo(bool echo) { impl_->echo = echo; }
const std::vector<UserInfoEntry>& Host::user_info() const { return impl_->infos; }
void Host::clear_user_info() { impl_->infos.clear(); }
const std::vector<std::string>& Host::violations() const { return impl_->violations; }
void Host::clear_violations() { impl_->violations.clear(); }
bool Host::host_gmp_functions_in_place() const { return host_functions_installed(); }

}  // namespace quor::standin

// ---- the C interface ---------------------------------------------------------

static HostImpl& impl_of(HostKernel k) {
  if (k == nullptr || k->host == nullptr) {
    std::fputs("stand-in host: call without a kernel handle\n", stderr);
    std::abort();
  }
  return *k->host;
}

extern "C" {

int32_t HostNumArgs(HostArgs args) { return int32_t(args->values.size()); }

HostValue HostArg(HostArgs args, int32_t i) {
  const int32_t n = int32_t(args->values.size());
  if (i < 1 || i > n) {
    args->host->violation("argument " + std::to_string(i) + " read, " + std::to_string(n) +
                          " passed");
    return args->host->null_value;
  }
  return args->values[std::size_t(i - 1)];
}

int IsHostInteger32(HostKernel, HostValue v) {
  return HostImpl::is_int(v) && mpz_cmp_si(v->z, INT32_MIN) >= 0 &&
         mpz_cmp_si(v->z, INT32_MAX) <= 0;
}

int32_t HostToInteger32(HostKernel k, HostValue v) {
  if (!IsHostInteger32(k, v)) impl_of(k).raise("integer[4] expected, got %1", {v});
  return int32_t(mpz_get_si(v->z));
}

HostValue ToHostInteger(HostKernel k, int64_t i) {
  HostImpl& h = impl_of(k);
  h.check_gmp("ToHostInteger");
  return h.make_si(long(i));
}

HostValue ToHostFloat(HostKernel k, double d) {
  HostValue v = impl_of(k).make(HostValueRec::Float);
  v->d = d;
  return v;
}

HostValue ToHostNULL(HostKernel k) { return impl_of(k).null_value; }

char* HostToString(HostKernel k, HostValue v) {
  if (v == nullptr || (v->kind != HostValueRec::String && v->kind != HostValueRec::Name))
    impl_of(k).raise("string expected, got %1", {v});
  return v->text.data();
}

void HostAssign(HostKernel k, HostValue name, HostValue value) {
  HostImpl& h = impl_of(k);
  if (name == nullptr || name->kind != HostValueRec::Name) {
    h.violation("assignment to " + h.print(name) + ", which is not a name");
    return;
  }
  name->assigned = value;
}

int IsHostNULL(HostKernel, HostValue v) { return v != nullptr && v->kind == HostValueRec::Null; }
int IsHostPointerNULL(HostKernel, HostValue v) { return v == nullptr; }
int IsHostUnassignedName(HostKernel, HostValue v) {
  return v != nullptr && v->kind == HostValueRec::Name && v->assigned == nullptr;
}
int IsHostString(HostKernel, HostValue v) { return v != nullptr && v->kind == HostValueRec::String; }

void HostRaiseError(HostKernel k, const char* msg) { impl_of(k).raise(msg, {}); }
void HostRaiseError1(HostKernel k, const char* msg, HostValue a1) {
  impl_of(k).raise(msg, {a1});
}
void HostRaiseError2(HostKernel k, const char* msg, HostValue a1, HostValue a2) {
  impl_of(k).raise(msg, {a1, a2});
}

int HostGetInterruptValue(HostKernel k) {
  HostImpl& h = impl_of(k);
  h.poll();
  return h.pending ? 1 : 0;
}

void HostCheckInterrupt(HostKernel k) {
  HostImpl& h = impl_of(k);
  h.poll();
  if (!h.pending) return;
  h.pending = false;
  if (!h.check_unwinds) return;
  ++h.delivered;
  h.check_gmp("an interrupt");
  throw HostInterrupt("interrupted");
}

int IsHostRTable(HostValue v) { return v != nullptr && v->kind == HostValueRec::RTable; }

void RTableGetSettings(HostKernel k, HostRTableSettings* s, HostValue rt) {
  if (!IsHostRTable(rt)) impl_of(k).raise("rtable expected, got %1", {rt});
  *s = rt->settings;
}

void RTableGetDefaults(HostKernel, HostRTableSettings* s) {
  *s = HostRTableSettings{};
  s->data_type = HOST_RTABLE_ANYTHING;
  s->subtype = HOST_RTABLE_ARRAY;
  s->order = HOST_RTABLE_FORTRAN_ORDER;
  s->num_dimensions = 1;
}

void* RTableDataBlock(HostKernel k, HostValue rt) {
  if (!IsHostRTable(rt)) impl_of(k).raise("rtable expected, got %1", {rt});
  return rt->data;
}

void RTableGetBounds(HostKernel k, HostValue rt, int32_t d, int32_t* lo, int32_t* hi) {
  if (!IsHostRTable(rt)) impl_of(k).raise("rtable expected, got %1", {rt});
  if (d < 1 || d > rt->settings.num_dimensions) {
    impl_of(k).violation("bounds of dimension " + std::to_string(d) + " of " +
                         impl_of(k).print(rt));
    *lo = 1;
    *hi = 0;
    return;
  }
  *lo = rt->lo[d - 1];
  *hi = rt->hi[d - 1];
}

HostValue RTableCreate(HostKernel k, const HostRTableSettings* s, void* data,
                       const int32_t* bounds) {
  return impl_of(k).rtable(*s, data, bounds);
}

void HostGcProtect(HostKernel k, HostValue v) {
  if (v != nullptr) v->gc_protected = true;
}

int IsHostList(HostKernel, HostValue v) { return v != nullptr && v->kind == HostValueRec::List; }

HostValue HostListAlloc(HostKernel k, int32_t n) {
  HostImpl& h = impl_of(k);
  HostValue v = h.make(HostValueRec::List);
  v->items.assign(std::size_t(n < 0 ? 0 : n), h.null_value);
  return v;
}

void HostListAssign(HostKernel k, HostValue list, int32_t i, HostValue v) {
  HostImpl& h = impl_of(k);
  if (!IsHostList(k, list) || i < 1 || std::size_t(i) > list->items.size()) {
    h.violation("list assignment at " + std::to_string(i) + " of " + h.print(list));
    return;
  }
  list->items[std::size_t(i - 1)] = v;
}

HostValue HostListSelect(HostKernel k, HostValue list, int32_t i) {
  HostImpl& h = impl_of(k);
  if (!IsHostList(k, list) || i < 1 || std::size_t(i) > list->items.size()) {
    h.violation("list selection at " + std::to_string(i) + " of " + h.print(list));
    return h.null_value;
  }
  return list->items[std::size_t(i - 1)];
}

int32_t HostListLength(HostKernel k, HostValue list) {
  return IsHostList(k, list) ? int32_t(list->items.size()) : 0;
}

mpz_srcptr HostToGMPInteger(HostKernel k, HostValue v) {
  if (!HostImpl::is_int(v)) impl_of(k).raise("integer expected, got %1", {v});
  return v->z;
}

HostValue GMPIntegerToHost(HostKernel k, mpz_srcptr z) {
  HostImpl& h = impl_of(k);
  h.check_gmp("GMPIntegerToHost");
  return h.make_integer([z](mpz_ptr t) { mpz_set(t, z); });
}

namespace {
bool is_float(HostValue v) { return v != nullptr && v->kind == HostValueRec::Float; }
double as_double(HostValue v) { return is_float(v) ? v->d : mpz_get_d(v->z); }

HostValue flat(HostImpl& h, HostValueRec::Kind kind, HostValue a, HostValue b) {
  HostValue v = h.make(kind);
  for (HostValue x : {a, b}) {
    if (x->kind == kind)
      v->items.insert(v->items.end(), x->items.begin(), x->items.end());
    else
      v->items.push_back(x);
  }
  return v;
}
}  // namespace

HostValue HostNumericAdd(HostKernel k, HostValue a, HostValue b) {
  HostImpl& h = impl_of(k);
  if (a == nullptr || b == nullptr) h.raise("cannot add %1 and %2", {a, b});
  if (HostImpl::is_int(a) && HostImpl::is_int(b)) {
    h.check_gmp("HostNumericAdd");
    return h.make_integer([&](mpz_ptr t) { mpz_add(t, a->z, b->z); });
  }
  if ((is_float(a) || HostImpl::is_int(a)) && (is_float(b) || HostImpl::is_int(b)))
    return ToHostFloat(k, as_double(a) + as_double(b));
  if (HostImpl::int_is(a, 0)) return b;
  if (HostImpl::int_is(b, 0)) return a;
  return flat(h, HostValueRec::Sum, a, b);
}

HostValue HostNumericMultiply(HostKernel k, HostValue a, HostValue b) {
  HostImpl& h = impl_of(k);
  if (a == nullptr || b == nullptr) h.raise("cannot multiply %1 and %2", {a, b});
  if (HostImpl::is_int(a) && HostImpl::is_int(b)) {
    h.check_gmp("HostNumericMultiply");
    return h.make_integer([&](mpz_ptr t) { mpz_mul(t, a->z, b->z); });
  }
  if ((is_float(a) || HostImpl::is_int(a)) && (is_float(b) || HostImpl::is_int(b)))
    return ToHostFloat(k, as_double(a) * as_double(b));
  if (HostImpl::int_is(a, 0) || HostImpl::int_is(b, 0)) return h.make_si(0);
  if (HostImpl::int_is(a, 1)) return b;
  if (HostImpl::int_is(b, 1)) return a;
  return flat(h, HostValueRec::Product, a, b);
}

HostValue HostNumericPower(HostKernel k, HostValue a, HostValue b) {
  HostImpl& h = impl_of(k);
  if (a == nullptr || b == nullptr) h.raise("cannot raise %1 to %2", {a, b});
  if (HostImpl::int_is(b, 0)) return h.make_si(1);
  if (HostImpl::int_is(b, 1) || HostImpl::int_is(a, 1)) return a;
  if (HostImpl::is_int(a) && HostImpl::is_int(b) && mpz_sgn(b->z) > 0 &&
      mpz_cmp_ui(b->z, 4096) <= 0) {
    h.check_gmp("HostNumericPower");
    const unsigned long e = mpz_get_ui(b->z);
    return h.make_integer([&](mpz_ptr t) { mpz_pow_ui(t, a->z, e); });
  }
  HostValue v = h.make(HostValueRec::Power);
  v->items = {a, b};
  return v;
}

void HostPrintf(HostKernel k, const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string s;
  if (n > 0) {
    s.resize(std::size_t(n) + 1);
    std::vsnprintf(s.data(), s.size(), format, ap2);
    s.resize(std::size_t(n));
  }
  va_end(ap2);
  impl_of(k).append_output(s);
}

void HostUserInfo(HostKernel k, int32_t level, const char* name, const char* text) {
  HostImpl& h = impl_of(k);
  h.infos.push_back({level, name ? name : "", text ? text : ""});
  if (h.echo) {
    std::printf("%s: %s", name ? name : "", text ? text : "");
    std::fflush(stdout);
  }
}

HostValue HostKernelOptions(HostKernel k, const char* option, HostValue value) {
  HostImpl& h = impl_of(k);
  if (option != nullptr && std::strcmp(option, "version") == 0) {
    HostValue v = h.make(HostValueRec::String);
    v->text = h.version_text;
    return v;
  }
  return h.null_value;
}

}  // extern "C"
