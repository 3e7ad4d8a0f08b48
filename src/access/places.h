// The one list of the places a run may touch. Every path the run reads, writes or hands to
// Java is one of four kinds, decided here and nowhere else: the medium's, the run's own
// (made by it), the user's explicit choice (named on the command line, and checked as the
// user's alone where the run writes), or the system's (whatever lies outside the medium's
// side: a runtime the parameter file names elsewhere, the inventory, /proc). A fallback or
// a default location the run works out for itself lands on the medium's side or in a place
// of the run's own, never in a class of its own.
//
// The medium's border is drawn once, from the launcher's real directory, before any option
// is read, and nothing moves it: the medium's places (the launcher's directory, and beside
// it what the run looks at on its own or the manifest lists) are the medium's whatever else
// names them, and a verified medium's side reaches no further up than the root of the file
// system, drive or share the launcher is on.
#pragma once

#include <string>
#include <vector>

namespace zorvex::access {

enum class Place { kMedium, kRunOwn, kUserChoice, kSystem };

// The places a run knows (held by the run's context).
struct MediumPlace {
  std::vector<std::string> keys;
  std::string shown;  // as messages name it
};
struct Places {
  bool medium_known = false;
  std::vector<std::string> side;  // a verified medium's side; the launcher's directory else
  std::vector<MediumPlace> medium;
  std::vector<std::vector<std::string>> run_own;
  std::vector<std::vector<std::string>> user_choices;
};

// Draws the medium's border. `launcher_dir` and the places `beside` it (paths relative to
// it, "../stage") are the medium's places: each, and everything below it, is the medium's.
// With `levels_up`, a verified medium's side too: everything below the launcher's
// directory's ancestor that many levels up, but never above the root of the file system,
// drive or share it lies on; places beside it beyond that root are the system's. Returns
// the levels the side reaches.
size_t DrawMediumBorder(const std::string& launcher_dir, const std::vector<std::string>& beside,
                        size_t levels_up);
// The number of levels the run looks above the launcher's directory on its own, and the
// places it looks at there (the parameter file beside the launcher's directory, images and
// jars, the components roots).
inline constexpr size_t kLevelsTheRunLooksUp = 2;
inline const std::vector<std::string> kPlacesTheRunLooksAt = {"../zorparam.ini", "../images",
                                                              "../jlib", "../stage", "../../stage"};

// Places learnt as the run goes. Relative paths are taken against the working directory.
void AddRunOwn(const std::string& dir);
void AddUserChoice(const std::string& path);

// What the path is: within one of the medium's places first, then below one of the run's
// own places, then below a user's choice, then on a verified medium's side; the system's
// otherwise.
Place Classify(const std::string& path);
// The same of a path's keys (see KeysOf), made once by the caller.
Place ClassifyKeys(const std::vector<std::string>& keys);

// Whether a place to write would touch the medium: it is one of the medium's places, lies
// below one, or (`or_holds`) holds one. *place then names the medium's place it meets.
bool MeetsTheMedium(const std::string& path, bool or_holds, std::string* place);

// The path's parts as the target's file system tells names apart (letter case folded on
// Windows), of its absolute form; "." and ".." folded.
std::vector<std::string> KeysOf(const std::string& path);

// True when `path` is `dir` or lies below it, as the file system tells names apart.
bool IsSameOrBelow(const std::vector<std::string>& path, const std::vector<std::string>& dir);

}  // namespace zorvex::access
