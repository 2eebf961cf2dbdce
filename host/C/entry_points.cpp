// Host entry points: argument checks, the request's polynomial table, the
// calls into the public interface and the conversion of results to host
// values.
//
// Integer mode (GMP allocating from the zones) is on only around the
// library work of an integer entry; every host call that makes a host value
// or raises happens with the host's GMP functions in place.
#include "host/C/entry_points.h"
#include "host/C/entry_state.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <vector>

#include "api/request.h"
#include "api/transfer.h"
#include "core/bigint.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/dispatch.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

InPoly base[kMaxiBase];
i32 current_debug = 0;

void QUOR_NAME(local_reset_memory)() { QUOR_NAME(zone) = nullptr; }

OptionsCheck fill_comp_desc(sQUOR_Comp_Desc& d, I32 code, I32 nb, I32 force_elim, const I32* o, i64 count) {
  if (o == nullptr || count < 1 || o[0] < 4) return OptionsCheck::too_few;
  // o[0] counts the options; entries past o[10] are not read.
  const I32 used = o[0] < 11 ? o[0] : 11;
  if (used > count) return OptionsCheck::beyond_the_array;
  auto opt = [&](I32 k, I32 dflt) { return k < used ? o[k] : dflt; };
  d._compute = code;
  d._nb = nb;
  d._force_elim = force_elim;
  d._off = o[1];
  d._index = o[2];
  d._zone = o[3];
  d._memory = opt(4, 0);
  d._nb2 = opt(5, 0);
  d._bk2 = opt(6, 0);
  d._force_elim2 = opt(7, 0);
  d._aggressive2 = opt(8, -1);
  d._dlim = opt(9, -1);
  d._skip = opt(10, -1);
  return OptionsCheck::ok;
}

namespace {

// Words of the export buffer of quor_int_receive_poly.
[[maybe_unused]] constexpr u32 kExportWords = 1000000;

std::FILE* log_output = nullptr;
// Memory generation under which this build's request was opened (0: none).
u64 request_generation = 0;

// The host's GMP functions back (integer mode left); nothing when they are in place.
void leave_integer_mode() { Quor_pop_gmp_alloc_fnct(); }

[[noreturn]] void raise_text(const char* text) {
  leave_integer_mode();
  if (guard_depth > 0) unwind_to_guard(false, text);
  HostRaiseError(Host_kernel, text);
  process_exit(1);
}

[[noreturn]] void raise_with(const char* text, HostValue a) {
  leave_integer_mode();
  HostRaiseError1(Host_kernel, text, a);
  process_exit(1);
}

[[noreturn]] void raise_with_int(const char* text, i64 v) {
  leave_integer_mode();
  raise_with(text, ToHostInteger(Host_kernel, v));
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void raise_format(const char* format, ...) {
  char text[512];
  std::va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  raise_text(text);
}

[[noreturn]] void raise_count(i32 expected) { raise_with_int("%-1 arguments expected", expected); }

void check_count(HostArgs args, i32 expected) {
  if (HostNumArgs(args) != expected) raise_count(expected);
}

i32 int_arg(HostArgs args, i32 i) { return HostToInteger32(Host_kernel, HostArg(args, i)); }

// True while this build's request is open: its init ran since the last memory reset of either build.
bool request_open() {
  return global_nb >= 0 && request_generation != 0 && request_generation == memory_generation() &&
         deja_vu_init_mem != 0;
}

void require_request() {
  if (!request_open()) raise_text("Quor interface error: no request is open (call the init entry first)");
}

// Number of elements of an rtable (product of its dimensions).
i64 rtable_entries(HostValue v, const HostRTableSettings& s) {
  i64 n = 1;
  for (i32 d = 1; d <= s.num_dimensions; ++d) {
    i32 lo = 1, hi = 0;
    RTableGetBounds(Host_kernel, v, d, &lo, &hi);
    const i64 len = i64(hi) - lo + 1;
    n *= len > 0 ? len : 0;
  }
  return n;
}

#if QUOR_INT
// Raises unless v is an INTEGER32 rtable (the host's texts name parameter 1 whichever fails).
HostRTableSettings check_int32_rtable(HostValue v) {
  if (!IsHostRTable(v)) raise_text("rtable expected for parameter 1");
  HostRTableSettings s{};
  RTableGetSettings(Host_kernel, &s, v);
  if (s.data_type != HOST_RTABLE_INTEGER32) raise_text("integer[4] rtable expected for parameter 1");
  return s;
}

// The data of an INTEGER32 rtable, which must hold need entries (what names it in the errors).
I32* convert_Array_to_C(HostValue v, i64 need, const char* what) {
  const HostRTableSettings s = check_int32_rtable(v);
  i32 lo1 = 1, hi1 = 0, lo2 = 1, hi2 = 0;
  if (s.num_dimensions == 2) {
    RTableGetBounds(Host_kernel, v, 1, &lo1, &hi1);
    RTableGetBounds(Host_kernel, v, 2, &lo2, &hi2);
  }
  // The data are read term by term, row after row: a column-major table would be read transposed.
  if (s.num_dimensions == 2 && s.order != HOST_RTABLE_C_ORDER && hi1 > lo1 && hi2 > lo2)
    raise_format("Quor interface error: %s is stored column by column, row by row (C order) expected", what);
  const i64 have = rtable_entries(v, s);
  if (have < need)
    raise_format("Quor interface error: %s holds %lld entries, %lld expected", what, (long long)have, (long long)need);
  return static_cast<I32*>(RTableDataBlock(Host_kernel, v));
}

// Argument that must be an array: neither a null pointer nor an unassigned name.
HostValue array_arg(HostArgs args, i32 i, const char* text) {
  HostValue v = HostArg(args, i);
  if (IsHostPointerNULL(Host_kernel, v) || IsHostUnassignedName(Host_kernel, v)) raise_text(text);
  return v;
}

// Exponent rows of nterms terms of nvars variables (the request's variables at most).
void check_shape(i32 nvars, i32 nterms) {
  if (nvars < 0 || u32(nvars) > current_id_vars)
    raise_format("Quor interface error: %d variables, the request has %u", int(nvars), current_id_vars);
  if (nterms < 0) raise_format("Quor interface error: %d terms", int(nterms));
}

// A result is read with every variable of the request: fewer would drop exponents.
void check_receive_shape(i32 nvars, i32 nterms) {
  if (nvars >= 0 && u32(nvars) < current_id_vars)
    raise_format("Quor interface error: %d variables, the request has %u (a result is read with all of them)",
                 int(nvars), current_id_vars);
  check_shape(nvars, nterms);
}

#endif

// Index of a result the host may read.
bool readable(i32 index) { return request_open() && index >= 0 && index < global_nb; }

// A table of entries handles in zone 3 (long-lived, and off the host's stack).
InPoly* zone3_table(u64 entries) {
  Zone3Scope zone3;
  return static_cast<InPoly*>(QUOR_NAME(alloc64)((entries > 0 ? entries : 1) * sizeof(InPoly)));
}

// The inputs leave base for the computation; base is empty until the results come back.
InPoly* take_inputs(u32& n) {
  n = u32(global_nb);
  InPoly* copy = zone3_table(n);
  for (u32 i = 0; i < n; ++i) copy[i] = base[i];
  global_nb = 0;
  return copy;
}

// Gives the inputs back to base when the computation unwinds (a refused
// strategy, a fatal error, an interrupt that kept the memory): the host can
// correct its call and compute again instead of computing on nothing.
class InputsBack {
 public:
  InputsBack(const InPoly* copy, u32 n)
      : copy_(copy), n_(n), generation_(memory_generation()), unwinding_(std::uncaught_exceptions()) {}
  ~InputsBack() {
    if (std::uncaught_exceptions() <= unwinding_ || memory_generation() != generation_) return;
    for (u32 i = 0; i < n_; ++i) base[i] = copy_[i];
    global_nb = i32(n_);
  }
  InputsBack(const InputsBack&) = delete;
  InputsBack& operator=(const InputsBack&) = delete;

 private:
  const InPoly* copy_;
  u32 n_;
  u64 generation_;
  int unwinding_;
};

// Largest term count of the results and the count of the first.
void result_counts(u32 nb, u32& first, u32& largest) {
  first = nb > 0 ? base[0]->nb_terms : 0;
  largest = 0;
  for (u32 i = 0; i < nb; ++i)
    if (base[i]->nb_terms > largest) largest = base[i]->nb_terms;
}

// Restores the sink's mode on every exit.
class VerbosityScope {
 public:
  explicit VerbosityScope(i32 mode) : saved_(Quor_verb_info) { Quor_verb_info = mode; }
  ~VerbosityScope() { Quor_verb_info = saved_; }
  VerbosityScope(const VerbosityScope&) = delete;
  VerbosityScope& operator=(const VerbosityScope&) = delete;

 private:
  i32 saved_;
};

// ---- the entries written once for both builds ----

HostValue gbasis_init(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  request_generation = 0;
  request_interrupted = false;
  QUOR_NAME(reset_memory)();
  QUOR_NAME(local_reset_memory)();
  constexpr i32 expected = QUOR_INT ? 4 : 5;
  check_count(args, expected);
  i32 v[expected];
  for (i32 i = 1; i <= expected; ++i) {
    HostValue a = HostArg(args, i);
    if (!IsHostInteger32(kernel, a))
      HostRaiseError2(kernel, "integer expected for %-1 argument, instead got %2", ToHostInteger(kernel, i), a);
    v[i - 1] = HostToInteger32(kernel, a);
  }
  const i32 first = v[0], second = v[1];
  const i32 record = v[expected - 1];
  const i64 n = i64(first) + second;
  if (first < 0 || second < 0 || n < 1 || n > i64(kMaxVariables))
    raise_format("Quor interface error: %d + %d variables, between 1 and %u in all expected", int(first), int(second),
                 kMaxVariables);
#if !QUOR_INT
  const i32 prime = v[3];
  // Residues are 16 bits wide and every coefficient needs an inverse.
  if (prime < 2 || prime >= 65536 || !is_prime_u32(u32(prime)))
    raise_format("Quor interface error: the modulus %d should be a prime below 65536", int(prime));
#endif
  log_output = nullptr;
  set_stop_flag(0);
  if (HostVersion() < 11.0) std::signal(SIGINT, catch_sigint);
  {
    IntModeScope int_mode;
    QUOR_NAME(init_urgent)(QUOR_INT ? 4 : 2, 2, "DRLDRL", kMaxiBase, current_debug != 0 ? 1 : record);
    QUOR_NAME(init)(1, 1, 0, log_output);
    QUOR_NAME(internal_threads)(1);
    // The names live in recorded blocks until the next memory reset; the request keeps their addresses.
    auto** names = static_cast<char**>(Quor_malloc(u64(n) * sizeof(char*)));
    char* texts = static_cast<char*>(Quor_malloc(u64(n) * 16));
    if (names == nullptr || texts == nullptr) QUOR_NAME(Fatal)("Not enough memory [quor]");
    for (i64 i = 0; i < n; ++i) {
      names[i] = texts + 16 * i;
      std::snprintf(names[i], 16, "x%d", int(i + 1));
    }
#if QUOR_INT
    QUOR_NAME(reset_coeffs)(1);
#else
    const UI32 pr[1] = {UI32(prime)};
    QUOR_NAME(reset_coeffs)(1, pr);
#endif
    QUOR_NAME(reset_expos)(u32(first), u32(second), names);
    global_nb = 0;
    request_generation = memory_generation();
  }
  return ToHostInteger(kernel, 1);
}

// The compute entries assign the CPU time, the first result's term count and
// the result count to arguments 1 to 3: each must be a name, checked before
// any work so that a refused call costs nothing.
void check_result_names(HostKernel kernel, HostArgs args) {
  static const char* const receives[] = {"the CPU time", "the number of terms of the first result",
                                         "the number of results"};
  for (i32 i = 1; i <= 3; ++i) {
    HostValue v = HostArg(args, i);
    if (IsHostUnassignedName(kernel, v)) continue;
    char text[200];
    if (IsHostPointerNULL(kernel, v)) {
      std::snprintf(text, sizeof text, "Quor interface error: argument %d receives %s and must be a name, not nothing",
                    int(i), receives[i - 1]);
      raise_text(text);
    }
    const bool not_a_name = IsHostNULL(kernel, v) || IsHostInteger32(kernel, v) || IsHostList(kernel, v) ||
                            IsHostRTable(v) || (IsHostString != nullptr && IsHostString(kernel, v));
    if (not_a_name) {
      std::snprintf(text, sizeof text, "Quor interface error: argument %d receives %s and must be a name, not %%1",
                    int(i), receives[i - 1]);
      raise_with(text, v);
    }
  }
}

// Arguments 5 to 8 of the compute entries.
struct ComputeArgs {
  i32 pas0, bk0, final_restrict;
};

ComputeArgs read_compute_args(HostArgs args) {
  (void)HostArg(args, 4);
  Quor_verb_info = int_arg(args, 5);
  ComputeArgs c{};
  c.pas0 = int_arg(args, 6);
  c.bk0 = int_arg(args, 7);
  c.final_restrict = int_arg(args, 8);
  return c;
}

// Hands the results back: global_nb, the three names, the value returned.
HostValue finish_compute(HostKernel kernel, HostArgs args, u32 nb, double t, bool look_at_stop) {
  u32 first = 0, largest = 0;
  result_counts(nb, first, largest);
  global_nb = i32(nb);
  HostAssign(kernel, HostArg(args, 1), ToHostFloat(kernel, t));
  HostAssign(kernel, HostArg(args, 2), ToHostInteger(kernel, first));
  HostAssign(kernel, HostArg(args, 3), ToHostInteger(kernel, nb));
  if (look_at_stop && stop_flag() == 1) {
    set_stop_flag(0);
    request_interrupted = true;
    return ToHostInteger(kernel, -2);
  }
  return ToHostInteger(kernel, largest);
}

// Runs compute(inputs, n, &seconds) in integer mode on the inputs taken from
// base (given back if it unwinds), then hands its results back.
template <class Compute>
HostValue compute_on_inputs(HostKernel kernel, HostArgs args, bool look_at_stop, Compute compute) {
  require_request();
  request_interrupted = false;
  u32 n = 0;
  InPoly* inputs = take_inputs(n);
  double t = 0.0;
  u32 nb;
  {
    InputsBack on_failure(inputs, n);
    IntModeScope int_mode;
    nb = compute(inputs, n, &t);
  }
  return finish_compute(kernel, args, nb, t, look_at_stop);
}

HostValue gbasis_compute(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  const i32 argc = HostNumArgs(args);
  if (argc != 12)
    raise_with_int(
        "Incorrect number of arguments ! (C code new version with Options table/12 args --> receive %-1 arguments)",
        argc);
  check_result_names(kernel, args);
  const ComputeArgs c = read_compute_args(args);
  const char* strategy = HostToString(kernel, HostArg(args, 9));
  const i32 nb_extra = int_arg(args, 10);
  const i32 force_elim = int_arg(args, 11);
  HostValue ov = HostArg(args, 12);
  HostRTableSettings s{};
  if (IsHostRTable(ov)) RTableGetSettings(kernel, &s, ov);
  if (!IsHostRTable(ov) || s.data_type != HOST_RTABLE_INTEGER32 || s.has_index_functions != 0)
    raise_text("array is not of type INTEGER32");
  const I32* o = static_cast<const I32*>(RTableDataBlock(kernel, ov));
  const i64 count = rtable_entries(ov, s);
  // The options are checked before the inputs leave base: a refused call keeps the request intact.
  sQUOR_Comp_Desc desc{};
  switch (fill_comp_desc(desc, strategy_code(strategy), nb_extra, force_elim, o, count)) {
    case OptionsCheck::too_few:
      raise_text("Incorrect number of options for this version of the interface !");
    case OptionsCheck::beyond_the_array:
      raise_format("Quor interface error: the options array holds %lld entries and its first says %d", (long long)count,
                   int(o[0]));
    case OptionsCheck::ok:
      break;
  }
  if (o[0] > 11)
    std::fprintf(stderr,
                 "Warning some optional parameters (number %d) are not correctly parsed by this version of the "
                 "interface !\n",
                 int(o[0]));
  std::fflush(stderr);
  // The computation writes at most kMaxiBase results, straight into base.
  return compute_on_inputs(kernel, args, true, [&](InPoly* inputs, u32 n, double* t) {
    return groebner_request(inputs, n, base, 1, 0, t, c.bk0, c.pas0, c.final_restrict, &desc);
  });
}

HostValue hilbert_compute(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  if (HostNumArgs(args) != 12) raise_text("Incorrect number of arguments ! (C code - Hilbert)");
  check_result_names(kernel, args);
  const ComputeArgs c = read_compute_args(args);
  (void)HostToString(kernel, HostArg(args, 9));
  return compute_on_inputs(kernel, args, false, [&](InPoly* inputs, u32 n, double* t) {
    return QUOR_NAME(hilbert)(inputs, n, base, 1, 0, t, c.bk0, c.pas0, c.final_restrict);
  });
}

HostValue debug_level(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 1);
  const i32 level = int_arg(args, 1);
  const i32 previous = current_debug;
  current_debug = level;
  QUOR_NAME(debug)(level);
  return ToHostInteger(kernel, previous);
}

HostValue internal_report(HostKernel kernel, HostArgs) {
  Host_kernel = kernel;
  I32 version;
  {
    VerbosityScope to_stderr(3);
    version = QUOR_NAME(internal_report)();
  }
  return ToHostInteger(kernel, version);
}

HostValue internal_threads(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 1);
  const i32 n = int_arg(args, 1);
  I32 r;
  {
    VerbosityScope to_stderr(3);
    r = QUOR_NAME(internal_threads)(n);
  }
  return ToHostInteger(kernel, r);
}

#if QUOR_INT
// Builds one input polynomial from exponent rows and per-term coefficients and appends it to base.
template <class SetCoeff>
void append_poly(i32 nvars, i32 nterms, const I32* exps, SetCoeff set_coeff) {
  IntModeScope int_mode;
  InPoly p = QUOR_NAME(creat_poly)(u32(nterms));
  for (i32 i = 0; i < nterms; ++i) {
    QUOR_NAME(set_expos2)(p, u32(i), exps + i64(i) * nvars, u32(nvars));
    set_coeff(p, u32(i));
  }
  QUOR_NAME(full_sort_poly2)(p);
  // Stored only once complete: a refused term leaves the table as it was.
  base[global_nb] = p;
  ++global_nb;
}

// The code's text, then what it means for the host: a result that does not
// fit the export buffer, or no result at all after an interrupt.
[[noreturn]] void export_failure(i32 code, i32 tag, i32 shown) {
  leave_integer_mode();
  std::fprintf(stderr, "Export poly bug %d [%d]\n", int(code), int(tag));
  std::fflush(stderr);
  if (code == -2)
    raise_with_int(
        "cannot export poly: code=%-1: the coefficients are too large for the export buffer of 4,000,000 bytes "
        "(quor_int_receive_poly_gmp receives them)",
        shown);
  raise_with_int("cannot export poly: code=%-1", shown);
}

// An index that reads no result: none is left after an interrupted request.
[[noreturn]] void unreadable(i32 tag, i32 shown) {
  if (request_interrupted) {
    leave_integer_mode();
    std::fprintf(stderr, "Export poly bug %d [%d]\n", -1, int(tag));
    std::fflush(stderr);
    raise_with_int("cannot export poly: code=%-1: the last request was interrupted and has no result", shown);
  }
  export_failure(-1, tag, shown);
}

// Assigns the term count of the result after index to the name, when there is one.
void assign_next(HostKernel kernel, HostValue name, i32 index) {
  if (index < global_nb - 1) HostAssign(kernel, name, ToHostInteger(kernel, base[index + 1]->nb_terms));
}
#endif

}  // namespace
}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

HostValue QUOR_LNAME(gbasis_init)(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return gbasis_init(kernel, args); });
}
HostValue QUOR_LNAME(gbasis_compute)(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return gbasis_compute(kernel, args); });
}
HostValue QUOR_LNAME(hilbert_compute)(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return hilbert_compute(kernel, args); });
}
HostValue QUOR_LNAME(debug_level)(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return debug_level(kernel, args); });
}
HostValue QUOR_LNAME(internal_report)(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return internal_report(kernel, args); });
}
HostValue QUOR_LNAME(internal_threads)(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return internal_threads(kernel, args); });
}
double QUOR_LNAME(my_cpu)() { return QUOR_NAME(cpu)(); }

HostValue QUOR_LNAME(scheduler)(HostKernel kernel, HostArgs) {
  Host_kernel = kernel;
  return ToHostInteger(kernel, QUOR_NAME(scheduler)());
}

HostValue QUOR_LNAME(internal_version)(HostKernel kernel, HostArgs) {
  Host_kernel = kernel;
  return ToHostInteger(kernel, QUOR_NAME(internal_version)());
}

#if QUOR_INT

static HostValue quor_int_send_poly_body(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 5);
  const i32 width = int_arg(args, 1);
  const i32 nvars = int_arg(args, 2);
  const i32 nterms = int_arg(args, 3);
  HostValue ev = HostArg(args, 4), cv = HostArg(args, 5);
  check_int32_rtable(ev);
  check_int32_rtable(cv);
  if (global_nb > i32(kMaxiBase) - 1) raise_text("Incorrect index");
  require_request();
  check_shape(nvars, nterms);
  if (width < 1) raise_format("Quor interface error: coefficients of %d words", int(width));
  const I32* exps = convert_Array_to_C(ev, i64(nterms) * nvars, "the exponent array");
  const I32* coeffs = convert_Array_to_C(cv, i64(nterms) * width, "the coefficient array");
  append_poly(nvars, nterms, exps, [&](InPoly p, u32 i) {
    QUOR_NAME(set_coeff_raw)(p, i, coeffs + i64(i) * width, u32(width));
  });
  return ToHostNULL(kernel);
}

static HostValue quor_int_send_poly_gmp_body(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 4);
  const i32 nvars = int_arg(args, 1);
  const i32 nterms = int_arg(args, 2);
  HostValue ev = array_arg(args, 3, "Incorrect paramaters 3 not an array");
  HostValue lv = HostArg(args, 4);
  if (!IsHostList(kernel, lv)) raise_text("Args 3 is not a list !\n");
  if (global_nb > i32(kMaxiBase) - 1) raise_text("Incorrect index");
  require_request();
  check_shape(nvars, nterms);
  const I32* exps = convert_Array_to_C(ev, i64(nterms) * nvars, "the exponent array");
  const i32 length = HostListLength(kernel, lv);
  if (length < nterms)
    raise_format("Quor interface error: the list holds %d coefficients for %d terms", int(length), int(nterms));
  // Read before integer mode: a non-integer element raises with the host's functions in place.
  std::vector<mpz_srcptr> coeffs(static_cast<std::size_t>(nterms));
  for (i32 i = 0; i < nterms; ++i) coeffs[std::size_t(i)] = HostToGMPInteger(kernel, HostListSelect(kernel, lv, i + 1));
  append_poly(nvars, nterms, exps, [&](InPoly p, u32 i) { QUOR_NAME(set_coeff_gmp)(p, i, coeffs[i]); });
  return ToHostNULL(kernel);
}

static HostValue quor_int_receive_poly_body(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 5);
  const i32 index = int_arg(args, 1);
  const i32 nvars = int_arg(args, 2);
  const i32 nterms = int_arg(args, 3);
  HostValue ev = HostArg(args, 4);
  check_int32_rtable(ev);
  if (!readable(index)) unreadable(7, -1);
  check_receive_shape(nvars, nterms);
  auto* exps = reinterpret_cast<u32*>(convert_Array_to_C(ev, i64(nterms) * nvars, "the exponent array"));
  if (QUOR_NAME(zone) == nullptr) {
    QUOR_NAME(zone) = static_cast<u32*>(Quor_malloc(u64(kExportWords) * sizeof(u32)));
    if (QUOR_NAME(zone) == nullptr) QUOR_NAME(Fatal)("Not enough memory [quor]");
  }
  UI32 B = 0;
  {
    IntModeScope int_mode;
    // The buffer's size bounds B x nterms: the export refuses what would not fit.
    const I32 code =
        Quor_int_export_poly_INT(u32(nvars), u32(nterms), exps, QUOR_NAME(zone), kExportWords, base[index], &B);
    if (code < 0) export_failure(code, 7, code);
  }
  assign_next(kernel, HostArg(args, 5), index);
  HostRTableSettings s{};
  RTableGetDefaults(kernel, &s);
  s.data_type = HOST_RTABLE_INTEGER32;
  s.order = HOST_RTABLE_C_ORDER;
  s.num_dimensions = 2;
  s.foreign = 1;
  const i32 bounds[4] = {1, nterms, 1, i32(B)};
  HostValue r = RTableCreate(kernel, &s, QUOR_NAME(zone), bounds);
  HostGcProtect(kernel, r);
  return r;
}

static HostValue quor_int_receive_poly_gmp_body(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 5);
  const i32 index = int_arg(args, 1);
  const i32 nvars = int_arg(args, 2);
  const i32 nterms = int_arg(args, 3);
  HostValue ev = array_arg(args, 4, "args 4 is not array !\n");
  if (!readable(index)) unreadable(3, -1);
  check_receive_shape(nvars, nterms);
  auto* exps = reinterpret_cast<u32*>(convert_Array_to_C(ev, i64(nterms) * nvars, "the exponent array"));
  mpz_ptr* coeffs;
  {
    IntModeScope int_mode;
    coeffs = Quor_int_export_poly_INT_gmp(u32(nvars), u32(nterms), exps, base[index]);
    if (coeffs == nullptr) export_failure(-1, 3, -1);
  }
  assign_next(kernel, HostArg(args, 5), index);
  // Copies made with the host's allocator: integer mode is off here.
  HostValue list = HostListAlloc(kernel, nterms);
  for (i32 i = 0; i < nterms; ++i) HostListAssign(kernel, list, i + 1, GMPIntegerToHost(kernel, coeffs[i]));
  return list;
}

static HostValue quor_int_receive_poly_new_body(HostKernel kernel, HostArgs args) {
  Host_kernel = kernel;
  check_count(args, 3);
  const i32 index = int_arg(args, 1);
  HostValue vars = HostArg(args, 2);
  const i32 nvars = int_arg(args, 3);
  if (!readable(index)) unreadable(6, 3);
  check_receive_shape(nvars, 0);
  if (!IsHostList(kernel, vars) || HostListLength(kernel, vars) < nvars)
    raise_format("Quor interface error: a list of %d variables expected", int(nvars));
  InPoly p = base[index];
  std::vector<u32> e(static_cast<std::size_t>(nvars > 0 ? nvars : 1));
  HostValue result = HostListAlloc(kernel, 2);
  HostValue sum = ToHostInteger(kernel, 0);
  for (u32 i = 0; i < p->nb_terms; ++i) {
    {
      IntModeScope int_mode;
      if (Quor_int_export_monom_INT(i, u32(nvars), e.data(), p) == nullptr) export_failure(-1, 5, -1);
    }
    HostValue t = ToHostInteger(kernel, 1);
    for (i32 j = 0; j < nvars; ++j) {
      if (e[std::size_t(j)] == 0) continue;
      // Exponents are capped at 10: the host only needs the shape of the monomials.
      const u32 k = e[std::size_t(j)] < 10 ? e[std::size_t(j)] : 10;
      HostValue power = HostNumericPower(kernel, HostListSelect(kernel, vars, j + 1), ToHostInteger(kernel, k));
      t = HostNumericMultiply(kernel, t, power);
    }
    if (i == 0) HostListAssign(kernel, result, 1, t);
    sum = HostNumericAdd(kernel, sum, t);
  }
  HostListAssign(kernel, result, 2, sum);
  return result;
}

void quor_int_receive_monom() {}

const char* quor_int_my_time() {
  const std::time_t now = std::time(nullptr);
  return std::ctime(&now);
}

static HostValue quor_int_unload_body(HostKernel kernel) {
  Host_kernel = kernel;
  request_generation = 0;
  Quor_int_free_memory();
  QUOR_NAME(local_reset_memory)();
  return ToHostInteger(kernel, 1);
}

HostValue quor_int_send_poly(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return quor_int_send_poly_body(kernel, args); });
}

HostValue quor_int_send_poly_gmp(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return quor_int_send_poly_gmp_body(kernel, args); });
}

HostValue quor_int_receive_poly(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return quor_int_receive_poly_body(kernel, args); });
}

HostValue quor_int_receive_poly_gmp(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return quor_int_receive_poly_gmp_body(kernel, args); });
}

HostValue quor_int_receive_poly_new(HostKernel kernel, HostArgs args) {
  return entry_guard([&] { return quor_int_receive_poly_new_body(kernel, args); });
}

HostValue quor_int_unload(HostKernel kernel, HostArgs) {
  return entry_guard([&] { return quor_int_unload_body(kernel); });
}

#else  // prime-field build: plain transfer functions

namespace {
// A refusal of a plain entry: the reason on standard error, -1 to the host.
I32 refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
I32 refuse(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
  std::fflush(stderr);
  return -1;
}
}  // namespace

static I32 send_poly_body(UI32 nvars, UI32 nterms, const I32* exps, const I32* coeffs) {
  if (global_nb > i32(kMaxiBase) - 1) return -1;
  if (!request_open()) return refuse("quor_send_poly: no request is open\n");
  if (nvars > current_id_vars)
    return refuse("quor_send_poly: %u variables, the request has %u\n", nvars, current_id_vars);
  if (nterms > 0 && (coeffs == nullptr || (nvars > 0 && exps == nullptr))) return refuse("quor_send_poly: no data\n");
  const u32 prime = QUOR_NAME(Primes)[0];
  // Checked before anything is built: a plain entry reports by its value, not by a host error.
  u32 m = 0;
  for (u32 i = 0; i < nterms; ++i) {
    if (i64(coeffs[i]) % prime == 0) continue;
    ++m;
    i64 degree = 0;
    for (u32 j = 0; j < nvars; ++j) {
      const I32 e = exps[u64(i) * nvars + j];
      if (e < 0 || e > kMaxExponent)
        return refuse("quor_send_poly: exponent %d of term %u outside 0 .. %d\n", int(e), i, int(kMaxExponent));
      degree += e;
    }
    if (degree > kMaxExponent)
      return refuse("quor_send_poly: term %u of degree %lld above %d\n", i, (long long)degree, int(kMaxExponent));
  }
  InPoly p = QUOR_NAME(creat_poly)(m);
  u32 k = 0;
  for (u32 i = 0; i < nterms; ++i) {
    if (i64(coeffs[i]) % prime == 0) continue;
    QUOR_NAME(set_expos2)(p, k, exps + u64(i) * nvars, nvars);
    // Reduced into 0 .. p-1 by the call, never cut to 16 bits.
    QUOR_NAME(set_coeff_I32)(p, k, coeffs[i]);
    ++k;
  }
  QUOR_NAME(full_sort_poly2)(p);
  base[global_nb] = p;
  ++global_nb;
  return 1;
}

static I32 receive_poly_body(I32 index, UI32 nvars, UI32 nterms, UI32* exps, UI32* coeffs, UI32* next) {
  if (!readable(index))
    return request_interrupted ? refuse("quor_receive_poly: the last request was interrupted and has no result\n") : -1;
  if (nvars != current_id_vars)
    return refuse("quor_receive_poly: %u variables, the request has %u (a result is read with all of them)\n", nvars,
                  current_id_vars);
  const I32 code = QUOR_NAME(export_poly)(nvars, nterms, exps, coeffs, base[index]);
  if (index < global_nb - 1 && next != nullptr) *next = base[index + 1]->nb_terms;
  return code;
}

I32 quor_send_poly(UI32 nvars, UI32 nterms, const I32* exps, const I32* coeffs) {
  return entry_guard([&] { return send_poly_body(nvars, nterms, exps, coeffs); });
}

I32 quor_receive_poly(I32 index, UI32 nvars, UI32 nterms, UI32* exps, UI32* coeffs, UI32* next) {
  return entry_guard([&] { return receive_poly_body(index, nvars, nterms, exps, coeffs, next); });
}

#endif
