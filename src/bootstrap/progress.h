// Progress of a long staging on the console: the step, and the files and bytes done of
// the total, one line rewritten in place. Only where a person watches the console (a
// terminal or the launcher's own console), never in silent runs, never in the install
// log, and only once staging has taken about a second.
#pragma once

#include <cstdint>
#include <string>

namespace zorvex::bootstrap {

class Progress {
 public:
  Progress();
  ~Progress();  // clears the line it showed
  // What the whole staging holds (bytes 0: not known, files only).
  void AddToTotal(uint64_t files, uint64_t bytes);
  // The bytes the planned steps will write, as added so far.
  uint64_t total_bytes() const { return total_bytes_; }
  // A step begins; its files and bytes count as done when the next step begins.
  void Step(const std::string& name, uint64_t files, uint64_t bytes);

 private:
  void Show();
  bool enabled_;
  uint32_t start_;
  bool shown_ = false;
  std::string step_;
  uint64_t total_files_ = 0, total_bytes_ = 0;
  uint64_t done_files_ = 0, done_bytes_ = 0;
  uint64_t step_files_ = 0, step_bytes_ = 0;
};

}  // namespace zorvex::bootstrap
