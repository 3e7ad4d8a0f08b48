// The one list of the places a run may touch. Every path the run reads, writes or hands to
// Java is one of four kinds, decided here and nowhere else: the medium's (below the
// launcher's directory and its parents as far up as the run looks: a verified medium
// lists every file of it), the run's own (made by it), the user's explicit choice (named
// on the command line, and checked as the user's alone where the run writes), or the
// system's (whatever lies outside the medium's side: a runtime the parameter file names
// elsewhere, the inventory, /proc). A fallback or a default location the run works out
// for itself lands on the medium's side or in a place of the run's own, never in a
// class of its own.
#pragma once

#include <string>
#include <vector>

namespace zorvex::access {

enum class Place { kMedium, kRunOwn, kUserChoice, kSystem };

// Forgets every place: the start of a run.
void ForgetPlaces();

// The medium's side of the disk: `launcher_dir` and everything below its ancestor
// `levels_up` directories above it (the parameter file one level up, the components
// root two levels up).
void SetMediumSide(const std::string& launcher_dir, size_t levels_up);
// The number of levels the run looks above the launcher's directory on its own.
inline constexpr size_t kLevelsTheRunLooksUp = 2;

// Places learnt as the run goes. Relative paths are taken against the working directory.
void AddRunOwn(const std::string& dir);
void AddUserChoice(const std::string& path);

// What the path is: below one of the run's own places first, then below a user's choice,
// then on the medium's side; the system's otherwise.
Place Classify(const std::string& path);

// The path's parts as the target's file system tells names apart (letter case folded on
// Windows), of its absolute form; "." and ".." folded.
std::vector<std::string> KeysOf(const std::string& path);

// True when `path` is `dir` or lies below it, as the file system tells names apart.
bool IsSameOrBelow(const std::vector<std::string>& path, const std::vector<std::string>& dir);

}  // namespace zorvex::access
