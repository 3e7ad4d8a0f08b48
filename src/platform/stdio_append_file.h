// An append-mode log file on a C runtime stream, for both targets: every write is flushed
// at once, so the file holds all that was written even if the launcher ends abruptly.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace zorvex::platform {

// Opens `path` with the C runtime's append `mode` ("a" or "ae"); null when it cannot.
std::unique_ptr<AppendFile> OpenStdioAppendFile(const std::string& path, const char* mode);

// Takes an open append-mode stream over; it is closed with the returned file.
std::unique_ptr<AppendFile> WrapStdioAppendFile(FILE* file);

}  // namespace zorvex::platform
