// Catalogue texts are printf formats that translators write. Formatting one must never read
// an argument that was not passed or write through a pointer, whatever a catalogue holds,
// so a text's conversions are checked against the caller's arguments before use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex::messages {

// One argument of a message: a text (for %s) or a whole number (for %d, %u, %x, ...).
class FormatArg {
 public:
  enum class Kind { kText, kNumber };
  FormatArg(const std::string& text) : kind_(Kind::kText), text_(text) {}  // NOLINT
  FormatArg(const char* text) : kind_(Kind::kText), text_(text) {}         // NOLINT
  FormatArg(int number) : kind_(Kind::kNumber), number_(number) {}         // NOLINT
  FormatArg(long number) : kind_(Kind::kNumber), number_(number) {}        // NOLINT
  FormatArg(long long number) : kind_(Kind::kNumber), number_(number) {}   // NOLINT
  FormatArg(unsigned number) : kind_(Kind::kNumber), number_(number) {}    // NOLINT
  FormatArg(unsigned long number)                                          // NOLINT
      : kind_(Kind::kNumber), number_(static_cast<long long>(number)) {}
  Kind kind() const { return kind_; }
  const std::string& text() const { return text_; }
  long long number() const { return number_; }

 private:
  Kind kind_;
  std::string text_;
  long long number_ = 0;
};

using FormatArgs = std::vector<FormatArg>;

// The kinds a format's conversions take, in order: 's' for a text, 'd' for a number.
// Nullopt when the format holds a conversion the launcher never passes (%n, %p, %f, "*"
// widths, positional "%1$s", a width or precision above 1023, a "%" at the very end).
std::optional<std::string> ConversionKinds(std::string_view format);

// True when the format takes at most the given arguments, each of the kind passed.
bool FormatFits(std::string_view format, const FormatArgs& args);

// The formatted text, or nullopt when the format does not fit the arguments.
std::optional<std::string> FormatChecked(std::string_view format, const FormatArgs& args);

}  // namespace zorvex::messages
