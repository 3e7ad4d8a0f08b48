#include "platform/platform.h"

#include "manifest/manifest.h"
#include "run/run_context.h"

namespace zorvex::platform {

const PathStyle kWindowsStyle = {'\\', ';', "javaw.exe", "java.exe", "C:\\TEMP", "Windows", true};
const PathStyle kPosixStyle = {'/', ':', "java", "java", "/tmp", "Linux", false};

Platform& Os() { return CurrentRun().platform; }

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  switch (Os().files->ReadFile(path, bytes)) {
    case FileSystem::ReadResult::kOk:
      return true;
    case FileSystem::ReadResult::kTooLarge:
      Os().console->WriteStderr("WARNING: " + path + " is larger than " +
                                std::to_string(kMaxReadBytes >> 20) + " MiB; it is not read.\n");
      return false;
    case FileSystem::ReadResult::kCannotOpen:
      break;
  }
  return false;
}

uint32_t RunAndWait(const std::string& command_line, bool* started) {
  uint32_t error = 0;
  std::unique_ptr<ChildProcess> child = Os().processes->Start(command_line, true, &error);
  if (started != nullptr) *started = child != nullptr;
  if (!child) return error;
  if (uint32_t wait_error = child->WaitForExit(); wait_error != 0) return wait_error;
  uint32_t code = 0;
  return child->ExitCode(&code, &error) ? code : error;
}

bool ReadLine(Console& console, std::string* line) {
  line->clear();
  int c;
  bool any = false;
  while ((c = console.ReadChar()) != -1) {
    any = true;
    if (c == '\n') break;
    line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

bool TreeWriter::Matches(const Expected& expected, uint64_t size,
                         const std::array<uint8_t, 32>& sha256, std::string* mismatch) {
  std::string text;
  if (size != expected.size) {
    text =
        std::to_string(size) + " bytes, where the manifest lists " + std::to_string(expected.size);
  } else if (sha256 != expected.sha256) {
    text = "SHA-256 " + manifest::ToHex(sha256) + ", where the manifest lists " +
           manifest::ToHex(expected.sha256);
  } else {
    return true;
  }
  if (mismatch != nullptr) *mismatch = text;
  return false;
}

bool TreeWriter::CheckAndCommit(safetree::TreeFile* out, int64_t mtime, const Expected* expected,
                                std::string* mismatch) {
  if (expected != nullptr) {
    std::vector<uint8_t> buffer(1 << 18);
    manifest::Sha256 hash;
    uint64_t size = 0;
    for (size_t got = 0;; size += got) {
      if (!out->ReadBack(size, buffer.data(), buffer.size(), &got)) return false;
      if (got == 0) break;
      hash.Update(buffer.data(), got);
    }
    if (!Matches(*expected, size, hash.Final(), mismatch)) return false;
  }
  bool exists = false;
  std::string error;
  return out->Commit(mtime, true, &exists, &error);
}

bool TreeWriter::CopyInto(const ReadSome& read, safetree::TreeFile* out, int64_t mtime,
                          const Expected* expected, std::string* mismatch) {
  std::vector<uint8_t> buffer(1 << 18);
  manifest::Sha256 hash;
  uint64_t copied = 0;
  for (;;) {
    size_t done = 0;
    if (!read(buffer.data(), buffer.size(), &done)) return false;
    if (done == 0) break;
    if (!out->Write(buffer.data(), done)) return false;
    if (expected != nullptr) hash.Update(buffer.data(), done);
    copied += done;
  }
  if (expected != nullptr && !Matches(*expected, copied, hash.Final(), mismatch)) return false;
  bool exists = false;
  std::string error;
  return out->Commit(mtime, true, &exists, &error);
}

}  // namespace zorvex::platform
