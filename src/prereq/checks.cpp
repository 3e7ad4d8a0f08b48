#include "prereq/checks.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "inventory/logs.h"

namespace zorvex::prereq {

namespace {

constexpr char kHotfixKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
// A colour depth is a small number; beyond this the whole-number text would only cost time.
constexpr int kMaxWholeNumberDepth = 1024;

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The leading decimal number of a text as the C runtime's atof reads it; 0 without one.
double LeadingDouble(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// The leading decimal integer as atoi reads it, held within 32 bits.
int32_t LeadingInt(const std::string& text) {
  errno = 0;
  long long n = std::strtoll(text.c_str(), nullptr, 10);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

// Reads what sscanf's "%d" reads at `*pos` (whitespace, a sign, digits); false without digits.
bool ScanInt(const std::string& text, size_t* pos, int64_t* value) {
  size_t i = *pos;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t digits = i;
  int64_t n = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (n < INT32_MAX) n = n * 10 + (text[i] - '0');
    ++i;
  }
  if (i == digits) return false;
  n = std::min<int64_t>(n, INT32_MAX);
  *value = negative ? -n : n;
  *pos = i;
  return true;
}

// The maximum size of one piece read as "%s %d %d" (a word, then two integers); 0 when the
// word or either number is missing.
int64_t PieceMaximumMb(const std::string& piece) {
  size_t i = 0;
  while (i < piece.size() && IsCSpace(piece[i])) ++i;
  if (i == piece.size()) return 0;
  while (i < piece.size() && !IsCSpace(piece[i])) ++i;
  int64_t initial = 0, maximum = 0;
  if (!ScanInt(piece, &i, &initial) || !ScanInt(piece, &i, &maximum)) return 0;
  return maximum;
}

// 2^n written out in decimal, for n >= 0.
std::string PowerOfTwo(int n) {
  std::vector<int> digits{1};  // least significant first
  for (int k = 0; k < n; ++k) {
    int carry = 0;
    for (int& d : digits) {
      d = d * 2 + carry;
      carry = d / 10;
      d %= 10;
    }
    if (carry > 0) digits.push_back(carry);
  }
  std::string text;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it)
    text.push_back(static_cast<char>('0' + *it));
  return text;
}

// Byte order: unsigned bytes, the first difference decides, a prefix is the smaller.
bool ByteOrderAtLeast(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x > y;
  }
  return a.size() >= b.size();
}

// The third blank-separated word of a service-pack name; empty when there are fewer.
std::string ServicePackLevel(const std::string& name) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < name.size()) {
    while (i < name.size() && name[i] == ' ') ++i;
    size_t start = i;
    while (i < name.size() && name[i] != ' ') ++i;
    if (i > start) words.push_back(name.substr(start, i - start));
  }
  return words.size() >= 3 ? words[2] : "";
}

Verdict Report(bool passed) {
  inventory::ReportMessage(passed ? "S_SPASSED" : "S_SFAILED");
  return passed ? Verdict::kPassed : Verdict::kFailed;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) pieces.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return pieces;
}

std::string FormatChoiceList(const std::string& list) {
  std::vector<std::string> pieces = SplitList(list);
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (!out.empty()) out += i + 1 < pieces.size() ? ", " : " or ";
    out += pieces[i];
  }
  return out;
}

bool IsInList(const std::string& list, const std::string& item) {
  for (const std::string& piece : SplitList(list)) {
    if (piece == item) return true;
  }
  return false;
}

std::string ColourCountText(int bits) {
  switch (bits) {
    case 4:
      return "16";
    case 8:
      return "256";
    case 15:
      return "32768";
    case 16:
      return "65536";
    case 24:
      return "16777216";
    case 32:
      return "4294967296";
    case 48:
      return "281474976710656";
    case 64:
      return "18446744073709551616";
    default:
      break;
  }
  if (bits >= 32) return PowerOfTwo(std::min(bits, kMaxWholeNumberDepth));
  char text[512];
  std::snprintf(text, sizeof text, "%f", std::pow(2.0, bits));
  return text;
}

int64_t PagingListTotalMb(const std::string& list) {
  std::string line = list;
  for (char& c : line) {
    if (c == '\0') c = ' ';
  }
  int64_t total = 0;
  size_t start = line.find(':');
  while (start != std::string::npos) {
    size_t end = line.find(':', start + 1);
    total +=
        PieceMaximumMb(line.substr(start + 1, end == std::string::npos ? end : end - start - 1));
    start = end;
  }
  return total;
}

Verdict CheckServicePack(const std::string& value, const platform::OsVersion& version) {
  inventory::ReportMessage("S_CHECKING_FOR_SERVICE_PACK");
  inventory::PrintAndLog(FormatChoiceList(value));
  std::string name = version.service_pack;
  // Service Pack 6 of version 4 with hotfix Q246009 is the level the world calls 6a.
  if (version.major == 4 && name == "Service Pack 6" &&
      platform::Os().registry->KeyExists(kHotfixKey)) {
    name += "a";
  }
  inventory::ReportMessage("S_ACTUAL", {name.empty() ? "none" : name});
  std::string level = ServicePackLevel(name);
  if (level.empty()) return Report(false);
  if (IsInList(value, level)) return Report(true);
  bool single = value.find(',') == std::string::npos;
  return Report(single && ByteOrderAtLeast(level, value));
}

Verdict CheckDisplayColors(const std::string& value) {
  inventory::ReportMessage("S_CHECKING_FOR_DISP_COL", {value});
  int bits = platform::Os().system->DisplayBitsPerPixel();
  inventory::ReportMessage("S_HIGHER_THAN", {value});
  inventory::ReportMessage("S_ACTUAL", {ColourCountText(bits)});
  double wanted = LeadingDouble(value);
  if (!(wanted > 0)) return Verdict::kNoVerdict;
  return Report(bits >= 32 || std::pow(2.0, bits) >= wanted - 1);
}

Verdict CheckCpuSpeed(const std::string& value) {
  inventory::ReportMessage("S_CHECKING_FOR_CPU", {value});
  int32_t mhz = static_cast<int32_t>(platform::Os().system->CpuMhz());
  inventory::ReportMessage("S_ACTUAL_CPU", {mhz});
  int32_t wanted = LeadingInt(value);
  if (wanted < 1) return Verdict::kNoVerdict;
  return Report(mhz >= wanted);
}

Verdict CheckSwapSpace(const std::string& value) {
  double wanted = LeadingDouble(value);
  if (!(wanted > 0)) {
    inventory::ReportMessage("S_INVALID_SWAP_SPACE_REQ");
    return Report(false);
  }
  platform::PagingInfo paging = platform::Os().system->Paging();
  if (!paging.have_list) {
    constexpr uint32_t kMoreData = 234;  // the value does not fit the 1024-byte buffer
    inventory::ReportMessage(paging.list_error == kMoreData ? "S_REGISTRY_KEY_TOO_LARGE"
                                                            : "S_FAILED_TO_OPEN_REGISTRY");
    return Report(false);
  }
  int64_t total = PagingListTotalMb(paging.list);
  // System-managed paging files list no sizes; from version 6 on, ask for what is free.
  if (total == 0 && paging.vista_or_later) total = static_cast<int64_t>(paging.available_mb);
  if (static_cast<double>(total) < wanted) {
    inventory::ReportMessage("S_FAIL_CHECKING_FOR_SWAP", {static_cast<long long>(total), value});
    return Report(false);
  }
  inventory::ReportMessage("S_CHECKING_FOR_SWAP", {value});
  inventory::ReportMessage("S_ACTUAL_SWAP", {static_cast<long long>(total)});
  return Report(true);
}

}  // namespace zorvex::prereq
