// Scanners, indexers and backup agents open a freshly written file for a moment, often
// without letting others delete or rename it meanwhile: deleting, renaming or opening it for
// deletion then fails with a sharing violation or "access denied" for a fraction of a
// second. Windows' own installers ride this out by trying again; so does every place of
// the launcher and the unzip that deletes, renames or replaces.
#pragma once

#include "safetree/win32_text.h"  // <windows.h>

#include <algorithm>
#include <atomic>

namespace zorvex::safetree {

// What waiting costs at most: one call about two seconds, in growing pauses; the whole
// process ten seconds, so that a tree of files truly denied to the user is named as left
// behind without a long wait for each.
inline constexpr DWORD kHeldWaitMs = 2000;
inline constexpr DWORD kHeldBudgetMs = 10000;
inline std::atomic<DWORD> g_held_waited_ms{0};

// Whether a failure may be a passing hold by another process: a sharing or lock violation,
// access denied, and for a directory one that still holds names (a file deleted while open
// keeps its name until the last handle goes).
inline bool MayBeHeld(DWORD error, bool directory) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || (directory && error == ERROR_DIR_NOT_EMPTY);
}

// Calls `attempt` (which returns true on success and leaves the last error set on
// failure) again while it fails as MayBeHeld says, pausing 10 ms, then twice as long each
// time (at most half a second), until kHeldWaitMs have passed or the process's budget is
// spent. The last error stays that of the last attempt.
template <typename Attempt>
bool RetryWhileHeld(Attempt attempt, bool directory = false) {
  DWORD pause = 10, waited = 0;
  for (;;) {
    if (attempt()) return true;
    const DWORD error = GetLastError();
    if (!MayBeHeld(error, directory) || waited >= kHeldWaitMs ||
        g_held_waited_ms.load() >= kHeldBudgetMs) {
      SetLastError(error);
      return false;
    }
    Sleep(pause);
    waited += pause;
    g_held_waited_ms += pause;
    pause = std::min<DWORD>(pause * 2, 500);
  }
}

}  // namespace zorvex::safetree
