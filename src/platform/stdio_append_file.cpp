#include "platform/stdio_append_file.h"

namespace zorvex::platform {

namespace {

class StdioAppendFile : public AppendFile {
 public:
  explicit StdioAppendFile(FILE* file) : file_(file) {}
  ~StdioAppendFile() override { std::fclose(file_); }
  StdioAppendFile(const StdioAppendFile&) = delete;
  StdioAppendFile& operator=(const StdioAppendFile&) = delete;
  bool Write(const std::string& bytes) override {
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    return std::fflush(file_) == 0 && ok;
  }

 private:
  FILE* file_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenStdioAppendFile(const std::string& path, const char* mode) {
  FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) return nullptr;
  return std::make_unique<StdioAppendFile>(file);
}

std::unique_ptr<AppendFile> WrapStdioAppendFile(FILE* file) {
  return std::make_unique<StdioAppendFile>(file);
}

}  // namespace zorvex::platform
