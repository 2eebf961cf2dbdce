// Request set-up and memory: init_urgent, init, threads, primes, variables,
// the memory reset of both builds, and the interface's small services.
#include "api/request.h"

#include <omp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/bigint.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/poly.h"
#include "core/zone.h"
#include "engine/reconstruct.h"
#include "host/C/host_services.h"

// The other build's reset, declared here: a translation unit sees one build's headers.
#if QUOR_INT
namespace quor::quor_gf { void forget_build_memory(); }
#else
namespace quor::quor_int { void forget_build_memory(); }
#endif

namespace quor::QUOR_NS {

int QUOR_NAME(want_quiet) = 0;
i32 want_pipe = 1;
i32 want_secure = 0;

i32 deja_vu_Expos = 0;
i32 deja_vu_init_Crit = 0;

char* internal_id_vars[QUOR_MAX_VARIABLE_NAMES] = {};
u32 current_id_vars = 0;

#if QUOR_INT
const i32 QUOR_NAME(version) = 12625;
#else
const i32 QUOR_NAME(version) = 12624;
#endif
const char* const QUOR_NAME(version_svn) = " 398M ";

i32 global_nb = -1;
u32* QUOR_NAME(zone) = nullptr;

namespace {
#if QUOR_INT
constexpr i32 kLibMode = 2;
constexpr u32 kDomBytes = 4;
#else
constexpr i32 kLibMode = 1;
constexpr u32 kDomBytes = 2;
// A thread count has been set by internal_threads.
bool threads_set = false;
#endif
char question_mark[] = "?";
}  // namespace

void forget_request_results() {
  global_nb = 0;
  QUOR_NAME(zone) = nullptr;
}

// Forgets everything of this build that pointed into the released blocks.
void forget_build_memory() {
  deja_vu_init_Crit = 0;
  deja_vu_init_mem = 0;
  deja_vu_Expos = 0;
  QUOR_NAME(root_of_List_Expos) = nullptr;
  root_of_Crit = nullptr;
  root_of_Expos = nullptr;
  z_Crit = nullptr;
  QUOR_NAME(ptr_Base_Exposants) = nullptr;
  zone_forget_state();
#if QUOR_INT
  pseudo_share_memory_min = 0;
  pseudo_share_memory_cur = 0;
  buf_malloc_cur = nullptr;
  buf_malloc_lim = nullptr;
#endif
  forget_request_results();
}

namespace {
// The interrupt poll of hosts from version 13 releases the memory through this.
struct ResetHookInstaller {
  ResetHookInstaller() { reset_memory_hook = &QUOR_NAME(reset_memory); }
} reset_hook_installer;
}  // namespace

bool is_prime_u32(u32 p) {
  if (p < 2) return false;
  if (p % 2 == 0) return p == 2;
  for (u64 d = 3; d * d <= p; d += 2)
    if (p % d == 0) return false;
  return true;
}

}  // namespace quor::QUOR_NS

using namespace quor;
using namespace quor::QUOR_NS;

// ---------------------------------------------------------------- set-up

QUOR_CQ_TABLE QUOR_NAME(init_urgent)(UI32 sizeof_Dom, UI32 sizeof_NNI, const char* ordering, UI32 maxi_base,
                                     I32 record) {
  pseudo_share_memory_min = 0;
  libmode_record = record != 0 ? 1 : 0;
  QUOR_NAME(stderr) = stderr;
  QUOR_NAME(output) = stdout;
  const char* order = ordering != nullptr ? ordering : "";
  if (libmode_record) {
    QUOR_NAME(record)("  QUOR(init_urgent)(%u,%u,\"%s\",%u,0); /* sizeof(Dom), sizeof(NNI) */\n", sizeof_Dom,
                      sizeof_NNI, c_string_body(order).c_str(), maxi_base);
    QUOR_NAME(record)("flush");
  }
  if (sizeof_Dom != kDomBytes)
    QUOR_NAME(Fatal)("Coefficients (Dom): Tesk compiled for %d bits and Quor for %d bits !\n", int(8 * sizeof_Dom),
                     int(8 * kDomBytes));
  if (maxi_base != kMaxiBase) QUOR_NAME(Fatal)("MAXI_BASE=%d in Quor and %d in TESK\n", int(kMaxiBase), int(maxi_base));
  if (sizeof_NNI != 2)
    QUOR_NAME(Fatal)("Exponents: Host interface compiled for %d bits and Quor for %d bits in LIBMODE=%d!\n",
                     int(8 * sizeof_NNI), 16, kLibMode);
  // The terminator is compared too: a longer name is another order.
  if (std::strcmp(order, "DRLDRL") != 0)
    QUOR_NAME(Fatal)("Quor was compiled for a elimination ordering and Tesk for %s\n", order);
  QUOR_NAME(want_quiet) = 1;
  want_pipe = 1;
  want_pipe2 = 1;
  QUOR_NAME(output) = stdout;
  if (!deja_vu_init_mem || all_garbages == nullptr) {
    zone_init_tables();
    deja_vu_init_mem = 1;
  }
  Table_de_Recherche t = dynamic_Table_de_Recherche();
  clear_Table_de_Recherche(t);
  QUOR_NAME(ptr_Base_Exposants) = t;
  return t;
}

#if QUOR_INT
QUOR_CQ_INTCRIT
#else
QUOR_CQ_GFCRIT
#endif
QUOR_NAME(init)(UI32 a, UI32 b, UI32 chinese_only, FILE* log) {
  if (libmode_record) QUOR_NAME(record)("  QUOR(init)(%d,%d,%d,log_output);\n", int(a), int(b), int(chinese_only));
  want_pipe2 = i32(b);
  QUOR_NAME(want_chinese_only) = int(chinese_only);
  want_secure = 0;
  QUOR_NAME(want_small) = 1;
  QUOR_NAME(want_quiet) = want_pipe = (a != 0 || b != 0) ? 1 : 0;
  QUOR_NAME(want_lift) = 1;
  if (!deja_vu_Expos) {
    for (char*& name : Liste_variables) name = nullptr;
    for (char*& name : internal_id_vars) name = nullptr;
    deja_vu_Expos = 1;
  }
  require_open_memory();
  deja_vu_init_Crit = 1;
  Crit sentinel = init_Objet_Crit();
  QUOR_NAME(output) = log;
  return sentinel;
}

I32 QUOR_NAME(internal_threads)(I32 n) {
#if QUOR_INT
  if (libmode_record) QUOR_NAME(record)("  Quor_int_internal_threads(%d);\n", int(n));
  QUOR_NAME(Stderr)("****************************** Warning : set number of OPENMP threads ignored\n");
  return -1;
#else
  if (libmode_record) QUOR_NAME(record)("  Quor_internal_threads(%d);\n", int(n));
  if (n == 0 && threads_set) return 0;
  const i32 count = n < 0 ? i32(omp_get_max_threads()) : (n == 0 ? 1 : n);
  QUOR_NAME(Stderr)("Set tr to %d\n", int(count));
  omp_set_num_threads(count);
  nb_threads = count;
  threads_set = true;
  return count;
#endif
}

#if QUOR_INT
void QUOR_NAME(reset_coeffs)(UI32 n) {
  if (libmode_record) QUOR_NAME(record)("  QUOR(reset_coeffs)(%u);\n", n);
  if (n < 1 || n > kDefaultPrimesCount)
    QUOR_NAME(Fatal)("Quor interface error: %u primes per block, should be between 1 and %u\n", n,
                     kDefaultPrimesCount);
  require_open_memory();
  QUOR_NAME(maxi_vectorize) = QUOR_NAME(vectorize) = n;
  // The constants live in zone 3; GMP allocates there only while integer
  // mode is on, and the host's functions are back before returning.
  IntModeScope int_mode;
  Zone3Scope zone3;
  init_Dom();
  QUOR_NAME(re_init_Chineese_INT)();
}
#else
void QUOR_NAME(reset_coeffs)(UI32 n, const UI32* pr) {
  (void)n;
  QUOR_NAME(vectorize) = 1;
  Zone3Scope zone3;
  const u32 p = pr != nullptr ? pr[0] : 0;
  if (libmode_record) {
    QUOR_NAME(record)("  {\n    UI32 pr[]={(UI32)(%u)};\n", p);
    QUOR_NAME(record)("    QUOR(reset_coeffs)(%u,pr);\n  }\n", n);
  }
  // The residues are 16 bits and the eliminations delay their reductions on
  // that bound; a composite modulus has no inverses.
  if (p >= 65536 || !is_prime_u32(p))
    QUOR_NAME(Fatal)("Quor interface error: the modulus %u should be a prime below 65536\n", p);
  set_field_prime(p);
}
#endif

void QUOR_NAME(reset_expos)(UI32 first, UI32 second, char** names) {
  const u64 n64 = u64(first) + second;
  if (libmode_record && n64 >= 1 && n64 <= kMaxVariables && names != nullptr) {
    QUOR_NAME(record)("  {\n    char* vars[%d]={\"%s\"", int(n64),
                      c_string_body(names[0] ? names[0] : "").c_str());
    for (u64 i = 1; i < n64; ++i) QUOR_NAME(record)(",\"%s\"", c_string_body(names[i] ? names[i] : "").c_str());
    QUOR_NAME(record)("};\n    QUOR(reset_expos)(%u,%u,vars);\n  }\n", first, second);
  }
  if (n64 < 1 || n64 > kMaxVariables)
    QUOR_NAME(Fatal)("Quor interface error: %llu variables, should be between 1 and %u\n", (unsigned long long)n64,
                     kMaxVariables);
  const u32 n = u32(n64);
  if (names == nullptr) QUOR_NAME(Fatal)("Quor interface error: no names for the %u variables\n", n);
  for (u32 i = 0; i < n; ++i)
    if (names[i] == nullptr) QUOR_NAME(Fatal)("Quor interface error: variable %u has no name\n", i + 1);
  var_second_block = first;
  set_Expos(n);
  for (u32 i = 0; i < n; ++i) {
    Liste_variables[i] = names[i];
    internal_id_vars[i] = names[i];
  }
  current_id_vars = n;
  Liste_variables[n] = question_mark;
}

// ---------------------------------------------------------------- memory

void QUOR_NAME(reset_memory)() {
  if (libmode_record) QUOR_NAME(record)("  QUOR(reset_memory)();\n");
  gen_sym_Dpol = 0;
  QUOR_NAME(previous_alloc) = nullptr;
  QUOR_NAME(reset_memory_internal)(0);
}

void QUOR_NAME(reset_memory_internal)(I32 keep_other) {
  if (keep_other == 0) {
    Quor_malloc_reset();
    memory_generation_advance();
#if QUOR_INT
    quor::quor_gf::forget_build_memory();
#else
    quor::quor_int::forget_build_memory();
#endif
  }
  forget_build_memory();
}

I32 QUOR_NAME(free_memory)() {
#if QUOR_INT
  // Every release goes through the reset, so both builds forget what it freed.
  QUOR_NAME(reset_memory_internal)(0);
  return 1;
#else
  return Quor_int_free_memory();
#endif
}

// ---------------------------------------------------------------- services

I32 QUOR_NAME(internal_version)() { return QUOR_NAME(version); }

I32 QUOR_NAME(internal_report)() {
  auto line = [](const char* name, long value) { QUOR_NAME(Output)("\t%s = %d\n", name, int(value)); };
  QUOR_NAME(Output)("Quor version:%d svn:%s (LIBMODE=%d)\n", int(QUOR_NAME(version)), QUOR_NAME(version_svn),
                    kLibMode);
  QUOR_NAME(Output)("    sizeof(UI32_or_64)=%d\n", 8);
  QUOR_NAME(Output)("    sizeof(UI32)=%d\n", 4);
  QUOR_NAME(Output)("    sizeof(UI64)=%d\n", 8);
  QUOR_NAME(Output)("    compiled with gcc %d.%d\n", 4, 6);
#if QUOR_INT
  QUOR_NAME(Output)("    linked with gmp %d", 5);
  QUOR_NAME(Output)(".%d", 1);
  QUOR_NAME(Output)(".%d", 2);
  QUOR_NAME(Output)("\n");
#else
  QUOR_NAME(Output)("\tOPENMP\n");
#endif
  QUOR_NAME(Output)("\t%s\n", jc_malloc_report());
#if QUOR_INT
  QUOR_NAME(Output)("\tno SSE Signed\n");
  QUOR_NAME(Output)("\tAVOID LONGLONG\n");
  QUOR_NAME(Output)("\tNO IMPOSSIBLE CASE\n");
  constexpr int coef = 2, single_prime = 0, compact = 0, simul = 1;
  const long maxi_vect = QUOR_NAME(maxi_vectorize);
#else
  QUOR_NAME(Output)("\tSSE signed\n");
  QUOR_NAME(Output)("\tAVOID LONGLONG\n");
  QUOR_NAME(Output)("\tCOMPLEXITE(2nd)\n");
  constexpr int coef = 1, single_prime = 1, compact = 1, simul = 0;
  const long maxi_vect = 1;
#endif
  line("CHOIX_ORDRE", 3);
  line("CHOIX_COEF", coef);
  line("DYNAMIC_MAX_INDEX", 1);
  line("VAR_ZONE_MEMORY", 1);
  line("zone_memory_allocated", long(zone_memory_allocated));
  line("MAX_INDEX", long(quor_max_index));
  line("HASH_PRIME", long(quor_hash_prime));
  const char* const zeros1[] = {"SPECIAL_FILTRE", "NEW_ALGO"};
  line("AFFINE_SET_ZERO", 1);
  for (const char* s : zeros1) line(s, 0);
  line("USE_TESK", 1);
  const char* const zeros2[] = {"ALGO_F6_pre", "ALGO_F6", "VERB_F5", "FORCE_F5", "FULL_HEAD",
                                "F5_SYM",      "F5_SYM_INVARIANT", "F5_SYM_F6"};
  for (const char* s : zeros2) line(s, 0);
  line("F5_SYM_DENSE", 1);
  line("F5_SYM_NO_HASH", 0);
  line("F5_SYM_AFFINE", 0);
  line("SPARSE_LINEAR_ALGEBRA", 1);
  line("LENGTH_MONOM", 1);
  line("NEW_ALGO_AFFINE", 0);
  line("EXPLICIT_RENORMS", 0);
  line("ONLINE_RENORMS", 0);
  line("MAXI_VECTORIZE", maxi_vect);
  line("INFO_SIZE_MATRIX", 1);
  line("BIGNNI", 1);
  line("INCREMENTAL_DIM", 0);
  line("FINAL_DIM", 1);
  line("CHOIX_ORDRE", 3);
  line("CHOIX_COEF", coef);
  line("USE_CALLGB", 0);
  line("USE_MANAGER", 0);
  line("SINGLE_PRIME", single_prime);
  const char* const zeros3[] = {"BEST_ORDER", "SQUARE_FREE", "ZIVAD", "STATS_USEFUL_POLYS", "GENERATE_CODE"};
  for (const char* s : zeros3) line(s, 0);
  line("GENERATE_CODE_COMPACT", compact);
  line("STRATEG_GENERATE_CODE", 2);
  line("GENERATE_CODE_UNROLL", 0);
  line("USE_INCREMENTAL_INFO", 0);
  line("USE_TESK", 1);
  QUOR_NAME(Output)("      Endian\n");
  QUOR_NAME(Output)("\tQUOR_EXPERIMENTAL\n");
  QUOR_NAME(Output)(QUOR_INT ? "\tMODP_BCLASSIC\n" : "\tMODP_CLASSIC\n");
  line("SIMUL_OUT", simul);
  line("SIMUL_IN", simul);
  line("SIMUL_IN_VIRTUEL", 0);
  line("WEIGHTS", 0);
  QUOR_NAME(Output)("\tMAX_GARBAGES=%d\n", int(dynamic_max_garbages));
  return QUOR_NAME(version);
}

void QUOR_NAME(log)(FILE* stream) { QUOR_NAME(output) = stream; }

I32 QUOR_NAME(scheduler)() { return 0; }

I32 QUOR_NAME(stop_immediately)() {
  QUOR_NAME(checkInterrupt)();
  return stop_flag();
}

double QUOR_NAME(cpu)() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000000.0;
}

I32 QUOR_NAME(want_full_lift)() { return QUOR_NAME(want_lift); }
void QUOR_NAME(mark_useless)(I32) {}
I32 QUOR_NAME(is_useful)() { return 1; }

void QUOR_NAME(attendre)() {
  QUOR_NAME(Stderr)("Attendre\n");
  for (;;) pause();
}

I32 QUOR_NAME(attendre1)() { return 1; }

#if QUOR_INT
void Quor_int_enter() { Quor_int_enter_INT(); }
void Quor_int_exit() { Quor_int_exit_INT(); }
void Quor_int_safe_exit() { Quor_int_safe_exit_INT(); }
#else
void Quor_enter() {}
void Quor_exit() {}
void Quor_safe_exit() {}
#endif
