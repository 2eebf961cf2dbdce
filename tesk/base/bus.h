// Binary channel of the Tesk engine: a buffered, typed stream of 32-bit
// words, 16-bit values and bytes over one descriptor -- a TCP connection to
// another engine process, a plain file, or a pipe to gzip.  Every 16- and
// 32-bit value travels most significant byte first, whatever the machine.
// An item is led by a message code (messages.h); coefficients, exponents and
// polynomials write themselves with the word writers below.
//
// Failures of sockets, pipes and I/O end the process through Fatal; there
// are no error codes.  A channel belongs to one thread.
#ifndef TESK_BASE_BUS_H
#define TESK_BASE_BUS_H

#include <cstdint>
#include <cstdio>

#include "tesk/base/messages.h"
#include "tesk/base/runtime.h"

namespace tesk {

// How a spawning channel starts its peer (0 to 19): 5 "-assist", 7 "-slave",
// 10 "-master"; 0, 1, 2, 6, 8, 11, 13-16, 18, 19 no option; 3, 4, 12 (and any
// unknown value) only show the command for the user to run; 13 also leaves
// the listening socket non-blocking and returns without waiting.
enum Serveurs_Type : int {};

inline constexpr unsigned BUS_BUFFER_SIZE = 4096;

class BUS {
public:
    int fd0 = -1;             // descriptor opened by the constructor (listening socket of a spawning channel)
    int fd1 = -1;             // descriptor of the data; -1 while not connected
    const char* name = "";    // peer program: "serveur" (client), the program (spawning), "" otherwise
    const char* host = "";    // peer host: the given host (client), host_name (spawning), "" otherwise
    unsigned char out_buf[BUS_BUFFER_SIZE + 1];  // write buffer, one spare byte for a stream's NUL
    unsigned char in_buf[BUS_BUFFER_SIZE + 1];   // read buffer
    std::uint32_t x_out = 0;       // bytes in the write buffer
    std::uint32_t x_in = 0;        // read position in the read buffer
    std::uint32_t max_in = 0;      // bytes in the read buffer
    std::uint32_t stream_len = 0;  // bytes written into the open stream chunk
    Boolean spawned = 0;           // this channel started the peer
    Boolean valid = 0;             // the channel is connected (false after kill or a failed open)
    int port = -1;                 // TCP port, -1 when none
    int pid = -1;                  // peer's process id, -1 while unknown
    const char* remote_ = nullptr; // host of a started peer (null or "" when local)
    std::uint32_t describe = 0;    // word that came with MSG_TESK_DESCRIBE in the handshake
    Boolean can_write_ = 1;        // 0 for a read-only file channel
    int gz_status = 0;             // what pclose gave for the gzip pipe at kill (0: gzip ended well)

    // ---------------------------------------------------------------- construction
    // A channel on an open descriptor (valid; kill closes it).
    explicit BUS(int fd);
    // TCP client of an engine server at host:port; introduces itself with [35][pid].
    // An unknown host ends the process with status 2; a failed connection is fatal.
    BUS(int port, const char* host);
    // The same; with lisp = 1 the connection becomes lisp_file instead of sending the pid.
    BUS(int port, const char* host, Boolean lisp);
    // Starts peer `name` (locally, or through rsh on remote_host as remote_user)
    // and listens for it; see Serveurs_Type.  With TESKDEBUG set the command is
    // only shown.  Unless no_wait, waits for the peer (wait_connection).
    BUS(const char* name, const char* ignored, const char* remote_host, Serveurs_Type type,
        Boolean no_wait, const char* remote_user);
    BUS(const BUS&) = delete;  // a copy would close the descriptor twice
    BUS& operator=(const BUS&) = delete;

    // ---------------------------------------------------------------- writing
    BUS& operator<<(Messages m);    // one word m
    BUS& operator<<(int v);         // [16][v]
    BUS& operator<<(float f);       // [24][IEEE-754 bits of f]
    BUS& operator<<(const char* s); // the bytes of s: no tag, length nor terminator (null: nothing)
    void out_Atome(const char* s, unsigned n = 0);         // [56][n][n bytes]; n = strlen(s) when 0
    void sendIndice(unsigned n, const unsigned short* v);  // [42][n] then n 16-bit values
    void ecrirei(const void* p, int nbytes);  // nbytes/4 raw words from memory
    void ecrires(const void* p, int nbytes);  // nbytes/2 raw 16-bit values from memory
    void ecrirec(const void* p, int n);       // n raw bytes
    void put32(std::uint32_t w);              // one raw word
    void put16(std::uint16_t h);              // one raw 16-bit value
    void put8(unsigned char c);               // one raw byte
    // Text stream: [20][len] bytes NUL per chunk (len counts the NUL), then [5].
    // No flush may be requested between begin_stream and the first byte.
    void begin_stream();
    void ecrire_string(const char* p, int n);
    void end_stream();
    void flush();  // sends the buffer (closes and reopens a stream chunk inside a stream)

    // ---------------------------------------------------------------- reading
    // A read that finds no more data (end of file, closed peer) is fatal, as is
    // any read on a channel that is not valid.
    BUS& operator>>(Messages& m);  // one word
    BUS& operator>>(int& v);       // two words: the tag (dropped) and v
    BUS& operator>>(float& f);     // two words: the tag (dropped) and f's bits
    std::uint32_t get32();         // one raw word
    std::uint16_t get16();         // one raw 16-bit value
    unsigned char get8();          // one raw byte
    // [tag][n] then n 16-bit values into dst, which holds `max`; returns n.
    // Fatal when n > max (the sender does not know the receiver's room).
    unsigned receive(unsigned short* dst, unsigned max);
    // With first == 1 one code word first; then [n] and n bytes: a new[]
    // string of n + 1 bytes, NUL-terminated, owned by the caller.
    char* parse_Atome(Messages first);
    void lirei(void* p, int nbytes);  // nbytes/4 raw words into memory
    void lires(void* p, int nbytes);  // nbytes/2 raw 16-bit values into memory
    void lirec(void* p, int n);       // n raw bytes
    // Bytes up to a newline (dropped) or max - 1 bytes; dst always NUL-terminated (max >= 1).
    void read_line(unsigned max, char* dst);
    void next_line(unsigned max, char* dst);  // read_line, skipping lines that start with '%'
    // Waits for data, copies at most max unread bytes then "\n" and NUL (dst
    // holds max + 2); returns the count plus one.
    unsigned fill_buffer(char* dst, unsigned max);
    char* in_buffer(unsigned n);  // the unread bytes; skips n of them (at most to the end of the buffer)

    // ---------------------------------------------------------------- other
    // Closes: a spawning channel sends [3], closes both descriptors and ends
    // its peer (SIGTERM, or rsh kill on a remote host); a gzip channel closes
    // its pipe; any other flushes and closes its descriptor.  A second kill does nothing.
    void kill();
    void info();  // "(p=pid) name [on remote] Valid|Invalid x_in=.. max_in=.. x_out=.." on the log
    // Accepts the started peer and runs the handshake (5 ends it, 35 brings
    // the pid and ends it, 72 brings `describe`).  Gives up after seven
    // failed attempts unless TESKDEBUG is set.  Call as wait_connection(Boolean(1)).
    void wait_connection(Boolean verbose);
    // The same, quietly: 0 when already valid or after max_tries + 2 failed
    // attempts, 1 after the handshake.
    int wait_connection(int max_tries);
    int want_to_speak(int);                 // 1 when unread bytes are buffered
    int want_to_speak(FILE* f);             // ... or fd1 or f has data
    int want_to_speak(FILE* f, FILE* g);    // ... or fd1, f or g has data
    FILE* socket_file();   // close-on-exec on fd1, then fdopen(fd1, "r")
    FILE* wsocket_file();  // close-on-exec on fd1, then fdopen(fd1, "w")
    void use_for_Lisp();   // wsocket_file() becomes lisp_file
    int get_fd() const { return fd1; }
    // The stand-alone server's command interpreter on this channel, of the
    // integer build (BigDexp/VGF) and its prime-field twin (DRLDRL/GFC):
    // answers the commands read here until the end code (0), or until a
    // domain command asks for the twin (2).  Defined by the server program
    // (tesk/server), which the library never calls.
    int Tesk_int_parse();
    int Tesk_parse();
    const char* remote() const { return remote_; }  // host of a started peer, null or "" when local
    Boolean can_write() const { return can_write_; }

protected:
    BUS();                   // fields only; the subclasses attach the descriptor
    void attach(int fd);     // as BUS(fd)
    void make_invalid();     // no descriptor, nothing to read, writes dropped
    FILE* gz_pipe = nullptr; // the gzip pipe of RCBUS / WCBUS (pclose'd by kill)
    Boolean gz_write = 0;    // the pipe writes a file: a failed gzip is reported at kill

private:
    bool is_socket_ = false;
    void refill();
    void get_bytes(unsigned char* dst, std::size_t n);
    void write_out(const unsigned char* p, std::size_t n);
    void close_chunk();
    void begin_chunk();
    void connect_client(int port, const char* host, int form);
    int accept_attempt(int wait_ms);
    void handshake();
};

// Reads a file.  A file that cannot be opened gives an invalid channel (reads are fatal).
class RBUS : public BUS {
public:
    explicit RBUS(const char* path);
};

// Writes a file, created or truncated, mode 0700.  A file that cannot be
// opened gives an invalid channel (writes are dropped).
class WBUS : public BUS {
public:
    explicit WBUS(const char* path);
};

// Reads a gzip-compressed file through "gzip -cd"; a missing file is fatal.
class RCBUS : public BUS {
public:
    explicit RCBUS(const char* path);
};

// Writes "<path>.gz" through "gzip -c"; a file that cannot be created is fatal.
class WCBUS : public BUS {
public:
    explicit WCBUS(const char* path);
};

// Forms that accept a null channel: nothing / "NO bus info" / 0.
void kill(BUS* b);
void info(BUS* b);
int want_to_speak(BUS* b, int);

// 1 when one of the given descriptors has data to read now (negative ones are ignored).
int a_lire(int fd);
int a_lire(int fd, int fd2);
int a_lire(int fd, int fd2, int fd3);

// Companion-protocol int item: [100028][v].
void out_SI(BUS& b, int v);
// Reads a companion int item; fatal when the code is not MSG_ZELT_int.
void in_SI(BUS& b, int& v);
// Reads a float item (CPU seconds of an auxiliary server) and adds it to total_serveur.
void add_serveur(BUS& b);
// Sends the verbosity v to a companion server and reads its new value into
// v: 1 on MSG_ZELT_OK, else a warning and 0.
int change_verbosity(BUS& b, int& v);

// Word interface of the coefficient and exponent wire forms (found by
// argument-dependent lookup from their templates).
inline void put_word(BUS& b, std::uint32_t w) { b.put32(w); }
inline void put_half(BUS& b, std::uint16_t h) { b.put16(h); }
inline void put_atom(BUS& b, const char* s) { b.out_Atome(s ? s : "", 0); }
inline std::uint32_t get_word(BUS& b) { return b.get32(); }
inline std::uint16_t get_half(BUS& b) { return b.get16(); }
inline void flush_words(BUS& b) { b.flush(); }

// Sets up the byte order of the protocol (run once at start-up; idempotent).
void C__initProtocol();

}  // namespace tesk

#endif
