// Output and fatal channels of the core, one copy per build.
//
// Every formatted text goes to the host message sink info_Host (whose mode
// decides where it appears); a channel's own stream is only flushed.  Each
// call formats into a buffer of kChannelBufferSize bytes on its own stack
// frame, so a message holds at most kChannelBufferSize - 1 characters; a
// longer text is cut there.  Fatal ends in the build's host error call and
// never returns (see host/C/host_services.h for no-raise regions).
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include <cstdio>
#include <ctime>
namespace quor {
inline constexpr std::size_t kChannelBufferSize = 65526;
// Size of the buffer of a gzip command text.
inline constexpr std::size_t kGzipCommandSize = 1000;
}  // namespace quor
#define QUOR_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))


namespace quor::QUOR_NS {

// Output and diagnostic streams (standard output and standard error until the set-up changes them).
QUOR_EXPORT std::FILE* QUOR_NAME(output);
QUOR_EXPORT std::FILE* QUOR_NAME(stderr);
// Non-zero: the progress lines of the core and the engine are not written (set by the request set-up).
QUOR_EXPORT int QUOR_NAME(want_quiet);
// Non-zero: Infos flushes the diagnostic stream, else the output stream.
extern i32 want_pipe2;

// Formats and hands the text to info_Host.
QUOR_EXPORT void QUOR_NAME(Output)(const char* format, ...) QUOR_PRINTF(1, 2);
// Formats, hands the text to info_Host, flushes the diagnostic stream; returns the flush result.
QUOR_EXPORT int QUOR_NAME(Stderr)(const char* format, ...) QUOR_PRINTF(1, 2);
// Formats, hands the text to info_Host, flushes the stream want_pipe2 selects.
QUOR_EXPORT void QUOR_NAME(Infos)(const char* format, ...) QUOR_PRINTF(1, 2);
// Hands text to info_Host unformatted.
QUOR_EXPORT void QUOR_NAME(Output_string)(const char* text);
// Flushes the output stream (a null stream: every open output stream); returns the flush result.
QUOR_EXPORT int QUOR_NAME(Flush)();
// Formats and calls the build's fatal sink; never returns.
QUOR_EXPORT __attribute__((noreturn)) void QUOR_NAME(Fatal)(const char* format, ...) QUOR_PRINTF(1, 2);
// For no-raise regions: formats, then raises now when safe, else keeps the message and returns.
void Fatal_deferred(const char* format, ...) QUOR_PRINTF(1, 2);

// Opens name: "-" with "r" is standard input; names ending in .gz / .Z go
// through gzip (reading for modes beginning with 'r', appending for 'a',
// writing otherwise); any other name by fopen.  Failure is fatal.
QUOR_EXPORT std::FILE* QUOR_NAME(ouvrir)(const char* name, const char* mode);
// Reads name through "gzip -cd"; fatal when it cannot be read or the pipe fails.
std::FILE* ropen_gzip(const char* name);
// Writes name through "gzip -c >" (truncates name); fatal when the pipe fails.
std::FILE* wopen_gzip(const char* name);
// Closes a stream from ouvrir (pclose for gzip pipes, waiting for gzip; nothing for stdin); returns the close result.
int close_ouvrir(std::FILE* stream);

// out = prefix + "quor_record_" (prime field: "quor_record_modp_") + local time "%a_%e_%b_%Hh_%Mm_%Ss";
// returns the characters the time formatting wrote (0 when it did not fit).
QUOR_EXPORT std::size_t QUOR_NAME(file_name_stamp)(const char* prefix, char* out, std::size_t size);
// The same at a given broken-down time.
std::size_t file_name_stamp_at(const char* prefix, char* out, std::size_t size, const std::tm& when);

// ---- the record facility (defined in api/record.cpp), which every layer records its calls with ----
// 1 while the recorder is on (set by init_urgent); callers record only then.
extern i32 libmode_record;
// format "close": writes the tail and closes the program; "flush": flushes
// it; otherwise formats the statements (at most 65,525 characters, else
// fatal "Size of buf for record too small!\n") and appends them, opening a
// new program first when none is open.
QUOR_EXPORT void QUOR_NAME(record)(const char* format, ...) QUOR_PRINTF(1, 2);
// The statements ending a recorded computation: print the results when want_display, close its block, empty base; then flushes.
void record_result_display();
// The debug line: n != 0 starts a debug block, 0 closes the record program.
QUOR_EXPORT void QUOR_NAME(debug)(i32 n);
// Always 0.
QUOR_EXPORT i32 QUOR_NAME(GetTick)();

}  // namespace quor::QUOR_NS
