// Character and number source of the engine's text readers: an open stream
// or a string in memory, read the same way.  Counts lines for messages.
#ifndef TESK_BASE_STRING_OR_FILE_H
#define TESK_BASE_STRING_OR_FILE_H

#include <cstdio>

namespace tesk {

struct String_or_File {
    enum Mode : unsigned { FILE_MODE = 0, STRING_MODE = 1, EMPTY_MODE = 2 };

    union {
        FILE* f;      // file mode
        char* pos;    // string mode: the next character
    } source;
    char* start;      // string mode: the string, released by close
    unsigned mode;
    unsigned line;    // starts at 1

    // String mode on s; the source owns s from then on (allocate it with new[]).
    explicit String_or_File(char* s);
    explicit String_or_File(FILE* f);  // file mode on f
    String_or_File();                   // empty mode
    // The source owns its string: a copy would release it twice.
    String_or_File(const String_or_File&) = delete;
    String_or_File& operator=(const String_or_File&) = delete;

    int get_char();            // next character, -1 at the end (string bytes >= 128 come back negative)
    void unget_char(int c);    // gives one character back
    int scan(unsigned int& x); // one unsigned decimal; the scanf result (-1 on an empty source)
    int scan(const char* fmt, char* buf);  // one item with a scanf format; the scanf result
    void new_line() { ++line; }
    unsigned current_line() const { return line; }
    // Closes the stream (the standard streams stay open) or releases the string; then empty.
    void close();
    // n raw 32-bit words: file mode fread (the count read); empty mode all ones;
    // string mode is not provided (status 3).
    unsigned read(unsigned int* buf, unsigned int n);
};

}  // namespace tesk

#endif
