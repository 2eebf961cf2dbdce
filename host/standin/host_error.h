// Unwinding of the stand-in host: a raised host error or an interrupt leaves
// the entry point as one of these exceptions and reaches the host's caller.
#ifndef QUOR_HOST_STANDIN_HOST_ERROR_H
#define QUOR_HOST_STANDIN_HOST_ERROR_H
#include <exception>
#include <string>
#include <utility>

namespace quor::standin {

// Anything that unwinds an entry point back to the host.
class HostUnwind : public std::exception {
 public:
  explicit HostUnwind(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }
  // The text with its placeholders filled.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// A host error raised by HostRaiseError, HostRaiseError1 or HostRaiseError2 (or by a host conversion).
class HostError : public HostUnwind {
 public:
  using HostUnwind::HostUnwind;
};

// A pending interrupt delivered by HostCheckInterrupt.
class HostInterrupt : public HostUnwind {
 public:
  using HostUnwind::HostUnwind;
};

}  // namespace quor::standin
#endif
