// Record facility: while the recorder is on, every call of the public
// interface writes its statements into a C program that replays the request
// (compiled against core/call_quor.h and linked with the library).
//
// The program is created under "/tmp/" with a time-stamped name
// (quor_record_... / quor_record_modp_...), exclusively and without
// following a symbolic link (mode 0600); when that name is taken, the next
// free name with "_1", "_2", ... appended is used.  When /tmp cannot be
// written, "quorrecord" in the current directory is used instead.
#pragma once
#include "core/quor_build.h"

#include <cstdio>
#include <string>

#include "core/channels.h"

namespace quor::QUOR_NS {

// libmode_record, record() and record_result_display(), which the engine
// records its calls with, are declared in core/channels.h.

// The open record program (null: none) and whether its header is written.
extern std::FILE* record_file;
extern i32 init_record_file;

// Appends text unchanged to the open program (nothing when none is open).
void record1(const char* text);
// Path of the program open now, or of the last one opened ("" before any).
const std::string& record_file_name();
// text as the body of a C string literal (quotes, backslashes, control characters escaped).
std::string c_string_body(const char* text);

}  // namespace quor::QUOR_NS
