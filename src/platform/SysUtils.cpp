#include "platform/SysUtils.h"

#include <vector>

namespace vg {

namespace text_detail {
std::string ToSystem(const char* utf8) { return platform::Utf8ToCp1251(utf8); }
}  // namespace text_detail

namespace {

std::string Pad(std::string s, int width, bool left) {
  if (width > 0 && static_cast<int>(s.size()) < width) {
    const std::string fill(static_cast<size_t>(width) - s.size(), ' ');
    s = left ? s + fill : fill + s;
  }
  return s;
}

std::string FormatInt(const FormatArg& a, char type, int precision) {
  std::string digits;
  bool negative = false;
  if (type == 'd') {
    int64_t v = a.Int();
    negative = v < 0;
    uint64_t u = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    digits = std::to_string(u);
  } else if (type == 'u') {
    digits = std::to_string(static_cast<uint32_t>(a.Int()));
  } else {
    static const char* lower = "0123456789abcdef";
    static const char* upper = "0123456789ABCDEF";
    const char* table = type == 'x' ? lower : upper;
    uint64_t u = static_cast<uint64_t>(a.Int());
    if (a.Int() >= INT32_MIN && a.Int() <= UINT32_MAX) u &= 0xFFFFFFFFu;
    do {
      digits.insert(digits.begin(), table[u & 15]);
      u >>= 4;
    } while (u != 0);
  }
  if (precision > static_cast<int>(digits.size()))
    digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  const std::vector<FormatArg> list(args);
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  size_t i = 0;
  const size_t n = format.size();
  auto bad = [&]() -> EConvertError {
    return EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
  };
  auto readNumber = [&](int& value) {
    bool any = false;
    value = 0;
    while (i < n && format[i] >= '0' && format[i] <= '9') {
      if (value < 100000) value = value * 10 + (format[i] - '0');
      ++i;
      any = true;
    }
    return any;
  };
  while (i < n) {
    const char c = format[i++];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (i < n && format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    int number = 0;
    size_t save = i;
    if (readNumber(number) && i < n && format[i] == ':') {
      next = static_cast<size_t>(number);
      ++i;
    } else {
      i = save;
    }
    bool left = false;
    if (i < n && format[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    readNumber(width);
    int precision = -1;
    if (i < n && format[i] == '.') {
      ++i;
      readNumber(precision);
    }
    if (i >= n) throw bad();
    char type = format[i++];
    if (type >= 'A' && type <= 'Z' && type != 'X') type = static_cast<char>(type - 'A' + 'a');
    if (next >= list.size()) throw bad();
    const FormatArg& arg = list[next++];
    std::string piece;
    switch (type) {
      case 's':
        if (!arg.IsText()) throw bad();
        piece = std::string(arg.Text());
        if (precision >= 0 && static_cast<size_t>(precision) < piece.size())
          piece.resize(static_cast<size_t>(precision));
        break;
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        if (arg.IsText()) throw bad();
        piece = FormatInt(arg, type, precision);
        break;
      default:
        throw bad();
    }
    out += Pad(std::move(piece), width, left);
  }
  return out;
}

}  // namespace vg
