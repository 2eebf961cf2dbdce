#include "tesk/base/string_or_file.h"

#include <cstring>

#include "tesk/base/runtime.h"

namespace tesk {

String_or_File::String_or_File(char* s) : start(s), mode(s ? STRING_MODE : EMPTY_MODE), line(1) {
    source.pos = s;
}

String_or_File::String_or_File(FILE* f) : start(nullptr), mode(f ? FILE_MODE : EMPTY_MODE), line(1) {
    source.f = f;
}

String_or_File::String_or_File() : start(nullptr), mode(EMPTY_MODE), line(1) { source.f = nullptr; }

int String_or_File::get_char() {
    switch (mode) {
        case FILE_MODE: return fgetc(source.f);
        case STRING_MODE:
            if (*source.pos == 0) return -1;
            return (signed char)*source.pos++;
        default: return -1;
    }
}

void String_or_File::unget_char(int c) {
    if (mode == FILE_MODE)
        ungetc(c, source.f);
    else if (mode == STRING_MODE && source.pos > start)  // never before the string
        --source.pos;
}

int String_or_File::scan(unsigned int& x) {
    switch (mode) {
        case FILE_MODE: return fscanf(source.f, "%u", &x);
        case STRING_MODE: {
            int used = 0;
            int r = sscanf(source.pos, "%u%n", &x, &used);
            if (r >= 1) source.pos += used;
            return r;
        }
        default: return -1;
    }
}

int String_or_File::scan(const char* fmt, char* buf) {
    switch (mode) {
        case FILE_MODE: return fscanf(source.f, fmt, buf);
        case STRING_MODE: {
            char fmt2[1000];
            if (snprintf(fmt2, sizeof fmt2, "%s%%n", fmt) >= (int)sizeof fmt2) return 0;
            int used = 0;
            int r = sscanf(source.pos, fmt2, buf, &used);
            if (r >= 1) source.pos += used;
            return r;
        }
        default: return -1;
    }
}

void String_or_File::close() {
    if (mode == FILE_MODE) {
        if (source.f == stdin || source.f == stdout || source.f == stderr)
            fflush(source.f);
        else
            fclose(source.f);
    } else if (mode == STRING_MODE) {
        delete[] start;
    }
    source.f = nullptr;
    start = nullptr;
    mode = EMPTY_MODE;
}

unsigned String_or_File::read(unsigned int* buf, unsigned int n) {
    switch (mode) {
        case FILE_MODE: return (unsigned)fread(buf, 4, n, source.f);
        case STRING_MODE:
            Stderr("NYA read in String_or_File for String\n");
            tesk_exit(3, "NYA read in String_or_File for String\n");
        default: return ~0u;
    }
}

}  // namespace tesk
