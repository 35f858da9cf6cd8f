#pragma once
// Text formats that carry binary data inside HTTP header values.
#include <cstdint>
#include <string>
#include <string_view>

namespace vg {

// Base of the family: copies bytes unchanged. A negative length means a NUL-terminated input.
class TSTF {
 public:
  static std::string Encode(const char* data, int32_t length);
  static std::string Decode(const char* text, int32_t length);
  static std::string Encode(std::string_view data) { return Encode(data.data(), static_cast<int32_t>(data.size())); }
  static std::string Decode(std::string_view text) { return Decode(text.data(), static_cast<int32_t>(text.size())); }
};

// Three bytes to four table characters, most significant bits first, with a padding character.
// The table (shared with the gateway): "A".."Z", "a".."z", "0".."9", "-", "_" as digits 0..63,
// then "." as padding. All are legal in a header value; none is a separator, quote or blank.
class TSTF1 {
 public:
  static constexpr std::string_view kTable =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.";
  static constexpr char kPadding = '.';

  static std::string Encode(const char* data, int32_t length);
  static std::string Decode(const char* text, int32_t length);
  static std::string Encode(std::string_view data) { return Encode(data.data(), static_cast<int32_t>(data.size())); }
  static std::string Decode(std::string_view text) { return Decode(text.data(), static_cast<int32_t>(text.size())); }
};

}  // namespace vg
