#include "messages/format.h"

#include <cstdio>
#include <cstring>

namespace zorvex::messages {

namespace {

constexpr int kMaxWidth = 1023;

struct Conversion {
  std::string shape;  // flags, width and precision, e.g. "-10.3"
  char type = 0;      // 's', 'd', 'i', 'u', 'x', 'X', 'o', 'c' or '%'
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads digits at `*i`; false when they exceed the largest width the launcher allows.
bool ReadNumber(std::string_view f, size_t* i, std::string* shape) {
  int value = 0;
  while (*i < f.size() && IsDigit(f[*i])) {
    value = value * 10 + (f[*i] - '0');
    if (value > kMaxWidth) return false;
    shape->push_back(f[(*i)++]);
  }
  return true;
}

// Parses the conversion that starts after the '%' at `*i`.
std::optional<Conversion> ParseConversion(std::string_view f, size_t* i) {
  Conversion c;
  while (*i < f.size() && std::strchr("-+ #0", f[*i]) != nullptr) c.shape.push_back(f[(*i)++]);
  if (!ReadNumber(f, i, &c.shape)) return std::nullopt;
  if (*i < f.size() && f[*i] == '.') {
    c.shape.push_back(f[(*i)++]);
    if (!ReadNumber(f, i, &c.shape)) return std::nullopt;
  }
  // Length modifiers are accepted and dropped: numbers are always passed as long long.
  while (*i < f.size() && std::strchr("hlLqjzt", f[*i]) != nullptr) ++*i;
  if (*i >= f.size()) return std::nullopt;
  c.type = f[(*i)++];
  if (std::strchr("sdiuxXoc", c.type) == nullptr && !(c.type == '%' && c.shape.empty())) {
    return std::nullopt;
  }
  return c;
}

std::optional<std::vector<Conversion>> ParseFormat(std::string_view f) {
  std::vector<Conversion> conversions;
  for (size_t i = 0; i < f.size();) {
    if (f[i++] != '%') continue;
    std::optional<Conversion> c = ParseConversion(f, &i);
    if (!c) return std::nullopt;
    if (c->type != '%') conversions.push_back(*c);
  }
  return conversions;
}

char KindOf(char type) { return type == 's' ? 's' : 'd'; }

std::string Render(const Conversion& c, const FormatArg& arg) {
  std::string shape = "%" + c.shape;
  char buffer[2 * kMaxWidth + 64];
  if (c.type == 's') {
    shape += 's';
    // Width and precision are at most 1023, so only the text itself can be long.
    if (c.shape.empty()) return arg.text();
    int n = std::snprintf(nullptr, 0, shape.c_str(), arg.text().c_str());
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, shape.c_str(), arg.text().c_str());
    return out;
  }
  if (c.type == 'd' || c.type == 'i' || c.type == 'c') {
    shape += c.type == 'c' ? "c" : "lld";
    if (c.type == 'c') {
      std::snprintf(buffer, sizeof buffer, shape.c_str(), static_cast<int>(arg.number()));
    } else {
      std::snprintf(buffer, sizeof buffer, shape.c_str(), arg.number());
    }
  } else {
    shape += "ll";
    shape += c.type;
    // Unsigned conversions show the value as the 32-bit pattern callers pass (error codes).
    std::snprintf(buffer, sizeof buffer, shape.c_str(),
                  static_cast<unsigned long long>(static_cast<uint32_t>(arg.number())));
  }
  return buffer;
}

}  // namespace

std::optional<std::string> ConversionKinds(std::string_view format) {
  std::optional<std::vector<Conversion>> conversions = ParseFormat(format);
  if (!conversions) return std::nullopt;
  std::string kinds;
  for (const Conversion& c : *conversions) kinds.push_back(KindOf(c.type));
  return kinds;
}

bool FormatFits(std::string_view format, const FormatArgs& args) {
  std::optional<std::string> kinds = ConversionKinds(format);
  if (!kinds || kinds->size() > args.size()) return false;
  for (size_t i = 0; i < kinds->size(); ++i) {
    char wanted = args[i].kind() == FormatArg::Kind::kText ? 's' : 'd';
    if ((*kinds)[i] != wanted) return false;
  }
  return true;
}

std::optional<std::string> FormatChecked(std::string_view format, const FormatArgs& args) {
  if (!FormatFits(format, args)) return std::nullopt;
  std::string out;
  size_t next_arg = 0;
  for (size_t i = 0; i < format.size();) {
    char ch = format[i++];
    if (ch != '%') {
      out.push_back(ch);
      continue;
    }
    Conversion c = *ParseConversion(format, &i);
    if (c.type == '%') {
      out.push_back('%');
      continue;
    }
    out += Render(c, args[next_arg++]);
  }
  return out;
}

}  // namespace zorvex::messages
