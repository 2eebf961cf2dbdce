// Record facility: the replayable C program of a request.
#include "api/record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "core/call_quor.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

i32 libmode_record = 0;
std::FILE* record_file = nullptr;
i32 init_record_file = 0;

namespace {
std::string file_name;
// Statements are formatted here rather than on the host's stack.
char record_buf[kChannelBufferSize];
// Names tried after the time-stamped one is taken.
constexpr int kNameAttempts = 1000;

// Creates path for writing only when nothing (not even a link) stands there.
std::FILE* create_exclusive(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) close(fd);
  return f;
}

void open_program() {
  char stamp[256];
  QUOR_NAME(file_name_stamp)("/tmp/", stamp, sizeof stamp - 16);
  std::FILE* f = nullptr;
  std::string path = stamp;
  for (int k = 0; k < kNameAttempts && f == nullptr; ++k) {
    path = k == 0 ? std::string(stamp) : std::string(stamp) + "_" + std::to_string(k);
    f = create_exclusive(path);
    if (f == nullptr && errno != EEXIST) break;  // /tmp itself refuses: no other name will do
  }
  if (f == nullptr) {
    path = "quorrecord";
    f = QUOR_NAME(ouvrir)(path.c_str(), "w");
  }
  record_file = f;
  file_name = path;
  init_record_file = 1;
  std::fputs(QUOR_INT ? "#define LIBMODE 2\n" : "#define LIBMODE 1\n", f);
  std::fputs("#include \"call_quor.h\"\n\n", f);
  std::fputs("#define Quor_MAXI_BASE 100000\n\n", f);
  std::fputs("static Dpol base[Quor_MAXI_BASE];\nstatic I32 global_nb=-1;\n", f);
  std::fputs("static Dpol resultat[Quor_MAXI_BASE];\n\n", f);
  std::fputs(
      "int main(int argc,char**argv)\n{\n  int want_display=((argc>1) ? atoi(argv[1]) : 0);\n"
      "  int pas0=((argc>2) ? atoi(argv[2]) : 8);\n  int bk0=((argc>3) ? atoi(argv[3]) : 0);\n"
      "  Dpol_INT prev;\n  double t0;  global_nb=0;\n",
      f);
}
}  // namespace

const std::string& record_file_name() { return file_name; }

std::string c_string_body(const char* text) {
  std::string s;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p == '"' || *p == '\\') {
      s += '\\';
      s += char(*p);
    } else if (*p < 0x20 || *p == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\%03o", unsigned(*p));
      s += esc;
    } else {
      s += char(*p);
    }
  }
  return s;
}

void record1(const char* text) {
  if (record_file != nullptr) std::fputs(text, record_file);
}

void QUOR_NAME(record)(const char* format, ...) {
  if (std::strcmp(format, "close") == 0) {
    if (record_file != nullptr) {
      std::fputs("  exit(0);\n}\n", record_file);
      close_ouvrir(record_file);
    }
    record_file = nullptr;
    init_record_file = 0;
    return;
  }
  if (std::strcmp(format, "flush") == 0) {
    if (record_file != nullptr) std::fflush(record_file);
    return;
  }
  if (record_file == nullptr) open_program();
  std::va_list ap;
  va_start(ap, format);
  const int n = std::vsnprintf(record_buf, sizeof record_buf, format, ap);
  va_end(ap);
  if (n < 0 || std::size_t(n) >= sizeof record_buf) QUOR_NAME(Fatal)("Size of buf for record too small!\n");
  record1(record_buf);
}

void record_result_display() {
  // A replay has no host to set the message sink, which the printers end in:
  // the display turns it to standard error while it prints, then puts it back.
  QUOR_NAME(record)("    if (want_display)\n      {\n\tint i;\n\tI32 sink=Quor_verb_info;\n\tQuor_verb_info=3;\n"
                    "\tfprintf(stderr,\"[\\n\");\n\tfor(i=0;i<nb;i++)\n\t  {\n"
#if QUOR_INT
                    "\t    see_Dpol_INT(resultat[i]);\n"
#else
                    "\t    QUOR(see_Dpol)(resultat[i]);\n"
#endif
                    "\t    if (i<(nb-1))\n\t      fprintf(stderr,\",\");\n\t  }\n\tfprintf(stderr,\"]\\n\");\n"
                    "\tQuor_verb_info=sink;\n      }\n");
  QUOR_NAME(record)("  }\n  global_nb=0;\n");
  QUOR_NAME(record)("flush");
}

void QUOR_NAME(debug)(i32 n) {
  if (n != 0)
    QUOR_NAME(record)("/* start debug */\n");
  else
    QUOR_NAME(record)("close");
}

}  // namespace quor::QUOR_NS

const char* QUOR_NAME(record_file_name)() { return quor::QUOR_NS::record_file_name().c_str(); }
