// The four checks a prerequisite section can declare (service pack, display colours,
// processor clock, paging space) and the list helpers they share with the certified-version
// step. Each check shows and logs its own lines, verdict included, and returns the verdict.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zorvex::prereq {

// No verdict: the requirement is not a positive number, so the check counts neither way.
enum class Verdict { kPassed, kFailed, kNoVerdict };

// The pieces of a comma-separated list, empty ones left out, blanks kept.
std::vector<std::string> SplitList(const std::string& list);

// "A, B or C" from the comma-separated list "A,B,C"; empty pieces are skipped, blanks kept.
std::string FormatChoiceList(const std::string& list);

// True when `item` equals one piece of the comma-separated list, byte for byte.
bool IsInList(const std::string& list, const std::string& item);

// The actual value the display check shows for a colour depth: the table's texts, 2^depth
// with "%f" below 32, and 2^depth as a whole number from 32 on.
std::string ColourCountText(int bits_per_pixel);

// The sum of the maximum sizes (MB) in a paging-file list text: drive, colon, path, blank,
// initial size, blank, maximum size, the entries separated by NULs.
int64_t PagingListTotalMb(const std::string& list);

// SERVICE_PACK: a list accepts exactly its entries, a single level is a minimum in byte order.
Verdict CheckServicePack(const std::string& value, const platform::OsVersion& version);
// MIN_DISPLAY_COLORS: at least the given number of colours, less one.
Verdict CheckDisplayColors(const std::string& value);
// CPU: a clock of at least the given MHz.
Verdict CheckCpuSpeed(const std::string& value);
// SWAP_SPACE: at least the given MB of paging space. A requirement that is not a positive
// number fails; never kNoVerdict.
Verdict CheckSwapSpace(const std::string& value);

}  // namespace zorvex::prereq
