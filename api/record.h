// Record facility: while the recorder is on, every call of the public
// interface writes its statements into a C program that replays the request
// (compiled against core/call_quor.h and linked with the library).
//
// The program is created under "/tmp/" with a time-stamped name
// (quor_record_... / quor_record_modp_...), exclusively and without
// following a symbolic link (mode 0600); when that name is taken, the next
// free name with "_1", "_2", ... appended is used.  When /tmp cannot be
// written, "quorrecord" in the current directory is used instead.
#include "core/quor_build.h"
#if QUOR_INT
#ifndef QUOR_GUARD_API_RECORD_H_INT
#define QUOR_GUARD_API_RECORD_H_INT
#define QUOR_HDR_OPEN
#endif
#else
#ifndef QUOR_GUARD_API_RECORD_H_GF
#define QUOR_GUARD_API_RECORD_H_GF
#define QUOR_HDR_OPEN
#endif
#endif
#ifdef QUOR_HDR_OPEN
#undef QUOR_HDR_OPEN

#include <cstdio>
#include <string>

#include "core/channels.h"

namespace quor::QUOR_NS {

// 1 while the recorder is on (set by init_urgent); callers record only then.
extern i32 libmode_record;
// The open record program (null: none) and whether its header is written.
extern std::FILE* record_file;
extern i32 init_record_file;

// format "close": writes the tail and closes the program; "flush": flushes
// it; otherwise formats the statements (at most 65,525 characters, else
// fatal "Size of buf for record too small!\n") and appends them, opening a
// new program first when none is open.
QUOR_EXPORT void QUOR_NAME(record)(const char* format, ...) QUOR_PRINTF(1, 2);
// The statements ending a recorded computation: print the results when want_display, close its block, empty base; then flushes.
void record_result_display();
// Appends text unchanged to the open program (nothing when none is open).
void record1(const char* text);
// Path of the program open now, or of the last one opened ("" before any).
const std::string& record_file_name();
// text as the body of a C string literal (quotes, backslashes, control characters escaped).
std::string c_string_body(const char* text);

}  // namespace quor::QUOR_NS
#endif
