#pragma once
// Language-level helpers shared by every part: the exception base, system texts and Format.
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace vg {

// Base of the system's exceptions; the message is a Windows-1251 text as shown to the user.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Raised by Format for a malformed format or an argument of the wrong kind.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// One argument of Format: an integer or a text (Windows-1251 bytes).
class FormatArg {
 public:
  FormatArg(int v) : isText_(false), int_(v) {}
  FormatArg(unsigned v) : isText_(false), int_(v) {}
  FormatArg(long v) : isText_(false), int_(v) {}
  FormatArg(unsigned long v) : isText_(false), int_(static_cast<int64_t>(v)) {}
  FormatArg(long long v) : isText_(false), int_(v) {}
  FormatArg(unsigned long long v) : isText_(false), int_(static_cast<int64_t>(v)) {}
  FormatArg(const char* s) : isText_(true), text_(s ? s : "") {}
  FormatArg(const std::string& s) : isText_(true), text_(s) {}
  FormatArg(std::string_view s) : isText_(true), text_(s) {}

  bool IsText() const { return isText_; }
  int64_t Int() const { return int_; }
  std::string_view Text() const { return text_; }

 private:
  bool isText_;
  int64_t int_ = 0;
  std::string_view text_;
};

// Formats like the resource-text formatter the system's texts were written for:
// "%" [index ":"] ["-"] [width] ["." precision] type, with types d, u, x, X, s and "%%".
// An index selects the argument and later unindexed specifiers continue after it.
std::string Format(std::string_view format, std::initializer_list<FormatArg> args);

namespace text_detail {
std::string ToSystem(const char* utf8);
}

}  // namespace vg

// A system text: written readable (UTF-8) in the source, converted once to Windows-1251 bytes.
#define VGT(utf8_literal)                                                             \
  ([]() -> const std::string& {                                                       \
    static const std::string converted = ::vg::text_detail::ToSystem(utf8_literal); \
    return converted;                                                                 \
  }())
