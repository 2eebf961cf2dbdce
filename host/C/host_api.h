/* External-call interface between a host computer-algebra system and the
 * library: the host calls the library is written against.  The library only
 * declares them; the process that loads it provides them (the host itself,
 * or the stand-in of host/standin/ for the tests and the command-line host).
 * Plain C so that any host can provide it.
 *
 * Conventions
 * - An entry point has the signature  HostValue entry(HostKernel, HostArgs):
 *   the host passes its kernel handle and the argument vector and receives
 *   one host value back.  HostArg(args, i) reads argument i, 1-based.
 * - HostKernel and HostValue are opaque handles owned by the host; values
 *   stay valid until the host discards them (in the stand-in: until the Host
 *   object is destroyed).
 * - HostRaiseError* and HostCheckInterrupt (when an interrupt is pending) do
 *   not return: they unwind to the host's caller of the entry point.  A raise
 *   text may hold the placeholders %1, %2 (and %-1, %-2), which the host
 *   replaces by the printed values of the extra arguments.
 * - GMP integers are exchanged by pointer; HostToGMPInteger never allocates,
 *   so it may be called while the library's GMP allocator is installed. */
#ifndef QUOR_HOST_C_HOST_API_H
#define QUOR_HOST_C_HOST_API_H

#include <gmp.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_API __attribute__((visibility("default")))

typedef struct HostKernelRec* HostKernel;
typedef struct HostValueRec* HostValue;
typedef struct HostArgsRec* HostArgs;

/* Signature of an entry point with the host convention. */
typedef HostValue (*HostEntryPoint)(HostKernel kernel, HostArgs args);

/* ---- arguments ---------------------------------------------------------- */
/* Number of arguments of the call. */
HOST_API int32_t HostNumArgs(HostArgs args);
/* Argument i (1-based); outside 1..HostNumArgs the host notes the fault and gives NULL. */
HOST_API HostValue HostArg(HostArgs args, int32_t i);

/* ---- scalars ------------------------------------------------------------ */
/* Non-zero when v is an integer in the signed 32-bit range. */
HOST_API int IsHostInteger32(HostKernel k, HostValue v);
/* The 32-bit integer v; raises a host error for anything else. */
HOST_API int32_t HostToInteger32(HostKernel k, HostValue v);
/* A new host integer. */
HOST_API HostValue ToHostInteger(HostKernel k, int64_t i);
/* A new host float. */
HOST_API HostValue ToHostFloat(HostKernel k, double d);
/* The host's NULL value (the empty result). */
HOST_API HostValue ToHostNULL(HostKernel k);
/* Text of a string (or of a name); host-owned, zero-terminated; raises for other values. */
HOST_API char* HostToString(HostKernel k, HostValue v);
/* Assigns value to the name passed as argument (the host's assignment). */
HOST_API void HostAssign(HostKernel k, HostValue name, HostValue value);
/* Non-zero when v is the host's NULL value. */
HOST_API int IsHostNULL(HostKernel k, HostValue v);
/* Non-zero when v is a null pointer (no value at all). */
HOST_API int IsHostPointerNULL(HostKernel k, HostValue v);
/* Non-zero when v is a name without value. */
HOST_API int IsHostUnassignedName(HostKernel k, HostValue v);
/* Non-zero when v is a string.  Weak: a host may leave it out, and the
 * library then takes a string for a name (the host's assignment refuses it). */
HOST_API int IsHostString(HostKernel k, HostValue v) __attribute__((weak));

/* ---- errors and interrupts --------------------------------------------- */
/* Raises a host error with the text; unwinds to the caller of the entry point. */
HOST_API void HostRaiseError(HostKernel k, const char* msg);
/* The same, %1 / %-1 filled with the printed value of a1. */
HOST_API void HostRaiseError1(HostKernel k, const char* msg, HostValue a1);
/* The same, %1 / %-1 and %2 / %-2 filled with a1 and a2. */
HOST_API void HostRaiseError2(HostKernel k, const char* msg, HostValue a1, HostValue a2);
/* Non-zero when the user asked to interrupt. */
HOST_API int HostGetInterruptValue(HostKernel k);
/* Unwinds the current call when an interrupt is pending; returns otherwise. */
HOST_API void HostCheckInterrupt(HostKernel k);

/* ---- rtables (rectangular tables of machine data) ---------------------- */
enum HostRTableDataType {
  HOST_RTABLE_ANYTHING = 0, /* host values */
  HOST_RTABLE_INTEGER32 = 1,
  HOST_RTABLE_FLOAT64 = 2
};
enum HostRTableOrder {
  HOST_RTABLE_FORTRAN_ORDER = 0, /* column-major */
  HOST_RTABLE_C_ORDER = 1        /* row-major */
};
enum HostRTableSubtype { HOST_RTABLE_ARRAY = 0, HOST_RTABLE_MATRIX = 1 };
#define HOST_RTABLE_MAX_DIMS 2

typedef struct HostRTableSettings {
  int32_t data_type;           /* HostRTableDataType */
  int32_t subtype;             /* HostRTableSubtype */
  int32_t order;               /* HostRTableOrder */
  int32_t num_dimensions;      /* 1 or 2 */
  int32_t foreign;             /* non-zero: data lent by the caller, not copied */
  int32_t has_index_functions; /* non-zero: elements computed by indexing functions */
} HostRTableSettings;

/* Non-zero when v is an rtable. */
HOST_API int IsHostRTable(HostValue v);
/* Settings of the rtable rt. */
HOST_API void RTableGetSettings(HostKernel k, HostRTableSettings* s, HostValue rt);
/* The host's default settings for a new rtable. */
HOST_API void RTableGetDefaults(HostKernel k, HostRTableSettings* s);
/* Address of the rtable's data (row-major or column-major by its order). */
HOST_API void* RTableDataBlock(HostKernel k, HostValue rt);
/* Bounds of dimension d (1-based) of rt, into *lo and *hi. */
HOST_API void RTableGetBounds(HostKernel k, HostValue rt, int32_t d, int32_t* lo, int32_t* hi);
/* New rtable: bounds = {lo1, hi1, lo2, hi2}; with s->foreign the data is lent
 * (not copied, never freed by the host), otherwise copied (data may be NULL: zeros). */
HOST_API HostValue RTableCreate(HostKernel k, const HostRTableSettings* s, void* data,
                                const int32_t* bounds);
/* Keeps v from the host's garbage collector until the host session ends. */
HOST_API void HostGcProtect(HostKernel k, HostValue v);

/* ---- lists (1-based) ---------------------------------------------------- */
/* Non-zero when v is a list. */
HOST_API int IsHostList(HostKernel k, HostValue v);
/* A new list of n elements, each the host NULL until assigned. */
HOST_API HostValue HostListAlloc(HostKernel k, int32_t n);
/* Element i (1-based) of list := v. */
HOST_API void HostListAssign(HostKernel k, HostValue list, int32_t i, HostValue v);
/* Element i (1-based) of list. */
HOST_API HostValue HostListSelect(HostKernel k, HostValue list, int32_t i);
/* Number of elements of list. */
HOST_API int32_t HostListLength(HostKernel k, HostValue list);

/* ---- GMP integers ------------------------------------------------------- */
/* Pointer to the host's own GMP integer of v (read-only, no allocation); raises for non-integers. */
HOST_API mpz_srcptr HostToGMPInteger(HostKernel k, HostValue v);
/* A new host integer holding a copy of z (made with the host's GMP allocator). */
HOST_API HostValue GMPIntegerToHost(HostKernel k, mpz_srcptr z);

/* ---- symbolic arithmetic ----------------------------------------------- */
/* a + b, a * b, a ^ b, with the host's automatic simplifications. */
HOST_API HostValue HostNumericAdd(HostKernel k, HostValue a, HostValue b);
HOST_API HostValue HostNumericMultiply(HostKernel k, HostValue a, HostValue b);
HOST_API HostValue HostNumericPower(HostKernel k, HostValue a, HostValue b);

/* ---- output, options ---------------------------------------------------- */
/* printf-style text into the host's output. */
HOST_API void HostPrintf(HostKernel k, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
/* An information message at a level under a name. */
HOST_API void HostUserInfo(HostKernel k, int32_t level, const char* name, const char* text);
/* Value of a kernel option ("version": a string such as "Stand 12.0, ..."); value NULL reads. */
HOST_API HostValue HostKernelOptions(HostKernel k, const char* option, HostValue value);

#ifdef __cplusplus
}
#endif
#endif
