#include "bootstrap/progress.h"

#include "messages/console.h"
#include "options/option_state.h"
#include "platform/platform.h"

namespace zorvex::bootstrap {

namespace {
constexpr uint32_t kQuietMs = 1000;
constexpr size_t kLineWidth = 79;

std::string Mb(uint64_t bytes) { return std::to_string((bytes + (1u << 19)) >> 20) + " MB"; }
}  // namespace

Progress::Progress()
    : enabled_(!Options().silent && platform::Os().console->IsInteractive()),
      start_(platform::Os().system->TickCount()) {}

Progress::~Progress() {
  if (shown_) messages::PrintText("\r" + std::string(kLineWidth, ' ') + "\r");
}

void Progress::AddToTotal(uint64_t files, uint64_t bytes) {
  total_files_ += files;
  total_bytes_ += bytes;
}

void Progress::Step(const std::string& name, uint64_t files, uint64_t bytes) {
  done_files_ += step_files_;
  done_bytes_ += step_bytes_;
  step_ = name;
  step_files_ = files;
  step_bytes_ = bytes;
  Show();
}

void Progress::Show() {
  if (!enabled_) return;
  if (!shown_ && static_cast<uint32_t>(platform::Os().system->TickCount() - start_) < kQuietMs) {
    return;
  }
  std::string line = "  " + step_ + ": " + std::to_string(done_files_) + " of " +
                     std::to_string(total_files_) + " files";
  if (total_bytes_ > 0) line += ", " + Mb(done_bytes_) + " of " + Mb(total_bytes_);
  if (line.size() > kLineWidth) line.resize(kLineWidth);
  line.resize(kLineWidth, ' ');
  messages::PrintText("\r" + line);
  shown_ = true;
}

}  // namespace zorvex::bootstrap
