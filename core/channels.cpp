// Output and fatal channels: formatting into a stack buffer, then the host
// message sink or the build's fatal sink; file opening with gzip pipes.
#include "core/channels.h"

#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "host/C/host_services.h"

namespace quor::QUOR_NS {

std::FILE* QUOR_NAME(output) = stdout;
std::FILE* QUOR_NAME(stderr) = stderr;
i32 want_pipe2 = 1;

namespace {

void format_into(char* buf, const char* format, std::va_list ap) {
  // vsnprintf cuts a longer text at the buffer's end, always terminated.
  if (std::vsnprintf(buf, kChannelBufferSize, format, ap) < 0) buf[0] = '\0';
}

// Formats into a stack buffer and hands the text to sink.
void send_formatted(void (*sink)(const char*), const char* format, std::va_list ap) {
  char buf[kChannelBufferSize];
  format_into(buf, format, ap);
  sink(buf);
}

// Streams of ouvrir that are gzip pipes: they must be closed with pclose.
std::vector<std::FILE*> open_pipes;

bool ends_with(const char* name, std::size_t len, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  return len >= n && std::memcmp(name + len - n, suffix, n) == 0;
}

// The name as one shell word: inside single quotes nothing is special but
// the quote itself, written '\''.
std::string shell_quote(const char* name) {
  std::string q = "'";
  for (const char* p = name; *p; ++p) {
    if (*p == '\'')
      q += "'\\''";
    else
      q += *p;
  }
  q += '\'';
  return q;
}

std::FILE* open_pipe(const char* name, const char* command_prefix, const char* popen_mode,
                     const char* tag) {
  char command[kGzipCommandSize];
  const std::string quoted = shell_quote(name);
  const int n = std::snprintf(command, sizeof command, "%s%s", command_prefix, quoted.c_str());
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof command)
    QUOR_NAME(Fatal)("Can't popen (%s) %s: command longer than %zu bytes\n", tag, name,
                     kGzipCommandSize - 1);
  std::fflush(nullptr);  // the child must not repeat our buffered output
  std::FILE* f = popen(command, popen_mode);
  if (f == nullptr) QUOR_NAME(Fatal)("Can't popen (%s) %s\n", tag, command);
  open_pipes.push_back(f);
  return f;
}

}  // namespace

void QUOR_NAME(Output)(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  send_formatted(info_Host, format, ap);
  va_end(ap);
}

int QUOR_NAME(Stderr)(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  send_formatted(info_Host, format, ap);
  va_end(ap);
  return std::fflush(QUOR_NAME(stderr));
}

void QUOR_NAME(Infos)(const char* format, ...) {
  std::FILE* stream = want_pipe2 != 0 ? QUOR_NAME(stderr) : QUOR_NAME(output);
  std::va_list ap;
  va_start(ap, format);
  send_formatted(info_Host, format, ap);
  va_end(ap);
  std::fflush(stream);
}

void QUOR_NAME(Output_string)(const char* text) { info_Host(text); }

int QUOR_NAME(Flush)() { return std::fflush(QUOR_NAME(output)); }

void QUOR_NAME(Fatal)(const char* format, ...) {
  char buf[kChannelBufferSize];
  std::va_list ap;
  va_start(ap, format);
  format_into(buf, format, ap);
  va_end(ap);
  QUOR_NAME(error_Host)(buf);
}

void Fatal_deferred(const char* format, ...) {
  std::va_list ap;
  va_start(ap, format);
  send_formatted(defer_fatal, format, ap);
  va_end(ap);
}

std::FILE* ropen_gzip(const char* name) {
  // popen would succeed on a missing file and hand back an empty stream.
  if (access(name, R_OK) != 0) QUOR_NAME(Fatal)("Can't open %s%s", name, "\n");
  return open_pipe(name, "gzip -cd -- ", "r", "r");
}

std::FILE* wopen_gzip(const char* name) { return open_pipe(name, "gzip -c > ", "w", "w"); }

std::FILE* QUOR_NAME(ouvrir)(const char* name, const char* mode) {
  if (std::strcmp(name, "-") == 0 && std::strcmp(mode, "r") == 0) return stdin;
  const std::size_t len = std::strlen(name);
  const bool compressed = (len > 2 && ends_with(name, len, ".gz")) || ends_with(name, len, ".Z");
  std::FILE* f = nullptr;
  if (compressed) {
    // Any reading mode reads and appending appends: a write pipe would
    // truncate the file the caller meant to read or extend.
    if (mode[0] == 'r')
      f = ropen_gzip(name);
    else if (mode[0] == 'a')
      f = open_pipe(name, "gzip -c >> ", "w", "w");  // gzip members concatenate
    else
      f = wopen_gzip(name);
  } else {
    f = std::fopen(name, mode);
  }
  if (f == nullptr) QUOR_NAME(Fatal)("Can't open %s%s", name, "\n");
  return f;
}

int close_ouvrir(std::FILE* stream) {
  if (stream == nullptr || stream == stdin) return 0;
  for (auto it = open_pipes.begin(); it != open_pipes.end(); ++it) {
    if (*it == stream) {
      open_pipes.erase(it);
      return pclose(stream);
    }
  }
  return std::fclose(stream);
}

std::size_t file_name_stamp_at(const char* prefix, char* out, std::size_t size,
                               const std::tm& when) {
  if (out == nullptr || size == 0) return 0;
  const char* tag = QUOR_INT ? "quor_record_" : "quor_record_modp_";
  const int n = std::snprintf(out, size, "%s%s", prefix, tag);
  if (n < 0 || static_cast<std::size_t>(n) >= size) return 0;  // cut, still terminated
  const std::size_t r = std::strftime(out + n, size - n, "%a_%e_%b_%Hh_%Mm_%Ss", &when);
  if (r == 0) out[n] = '\0';
  return r;
}

std::size_t QUOR_NAME(file_name_stamp)(const char* prefix, char* out, std::size_t size) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return file_name_stamp_at(prefix, out, size, local);
}

i32 QUOR_NAME(GetTick)() { return 0; }

}  // namespace quor::QUOR_NS
