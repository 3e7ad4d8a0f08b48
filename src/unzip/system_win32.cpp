// The Windows side of the unzip beyond the tree it writes: every name goes through the
// wide-character calls, so that names beyond the ANSI code page arrive intact.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "safetree/tree.h"
#include "safetree/win32_text.h"
#include "unzip/system.h"

namespace zorvex::unzip {

namespace {

using safetree::NarrowFrom;
using safetree::WideFrom;

std::string ErrorText(DWORD code) { return "system error " + std::to_string(code); }

class Win32Mapped : public MappedArchive {
 public:
  Win32Mapped(HANDLE file, HANDLE mapping, const void* view, size_t size)
      : file_(file), mapping_(mapping), view_(view), size_(size) {}
  ~Win32Mapped() override {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    CloseHandle(file_);
  }
  const uint8_t* data() const override {
    static const uint8_t kEmpty = 0;
    return view_ != nullptr ? static_cast<const uint8_t*>(view_) : &kEmpty;
  }
  size_t size() const override { return size_; }
  // Open with others' reading alone shared: nobody writes to the file while it is.
  safetree::SystemFile Descriptor() const override {
    return reinterpret_cast<safetree::SystemFile>(file_);
  }

 private:
  HANDLE file_;
  HANDLE mapping_;
  const void* view_;
  size_t size_;
};

bool HasWildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

// Whether the name matches the pattern ("*", "?", "[...]"), as Windows tells names apart
// (in one letter case): the name as it is, never the short (8.3) name that the system's
// own search also matches, where "*.jar" takes "two.jarx" by its short name TWO~1.JAR.
bool Matches(const std::string& pattern, const std::string& name) {
  const std::string p = safetree::NameKey(pattern), n = safetree::NameKey(name);
  size_t pi = 0, ni = 0, star = std::string::npos, resume = 0;
  while (ni < n.size()) {
    bool one = false;
    size_t next = pi + 1;
    if (pi < p.size() && p[pi] == '[') {
      const size_t close = p.find(']', pi + 1);
      if (close != std::string::npos) {
        const bool negate = pi + 1 < close && p[pi + 1] == '!';
        const std::string set =
            p.substr(pi + 1 + (negate ? 1 : 0), close - pi - 1 - (negate ? 1 : 0));
        one = (set.find(n[ni]) != std::string::npos) != negate;
        next = close + 1;
      } else {
        one = n[ni] == '[';
      }
    } else if (pi < p.size() && p[pi] != '*') {
      one = p[pi] == '?' || p[pi] == n[ni];
    }
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      resume = ni;
    } else if (one) {
      pi = next;
      ++ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++resume;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

std::unique_ptr<MappedArchive> MapUnchangeableArchive(const std::string&) { return nullptr; }

namespace {

// The regular file at `path`, open for reading, with its size. INVALID_HANDLE_VALUE with
// *error otherwise.
HANDLE OpenRegular(const std::string& path, LARGE_INTEGER* size, std::string* error) {
  HANDLE file =
      CreateFileW(safetree::LongPathOf(WideFrom(path)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = ErrorText(GetLastError());
  } else if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    *error = "not a regular file";
    file = INVALID_HANDLE_VALUE;
  } else if (!GetFileSizeEx(file, size)) {
    *error = ErrorText(GetLastError());
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

namespace {

// The archive read into the program's own memory from a file that stays open, with
// others' reading alone shared: what the file holds stays what was read, so that the
// system may copy (share blocks) from it.
class HeldArchive : public OwnedArchive {
 public:
  HeldArchive(HANDLE file, size_t size) : OwnedArchive(size), file_(file) {}
  ~HeldArchive() override { CloseHandle(file_); }
  HeldArchive(const HeldArchive&) = delete;
  HeldArchive& operator=(const HeldArchive&) = delete;
  safetree::SystemFile Descriptor() const override {
    return reinterpret_cast<safetree::SystemFile>(file_);
  }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<MappedArchive> ReadArchive(const std::string& path, std::string* error) {
  LARGE_INTEGER size;
  HANDLE file = OpenRegular(path, &size, error);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  auto archive = std::make_unique<HeldArchive>(file, static_cast<size_t>(size.QuadPart));
  constexpr size_t kPiece = 1 << 20;  // ReadFile takes at most 4 GiB at a time
  size_t done = 0;
  while (done < archive->size()) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min(kPiece, archive->size() - done));
    if (!::ReadFile(file, archive->bytes() + done, want, &n, nullptr)) {
      *error = ErrorText(GetLastError());
      return nullptr;
    }
    if (n == 0) break;
    done += n;
  }
  archive->Shrink(done);
  return archive;
}

namespace {

// Gives back what ReadArchiveTail took from the system.
void ReleaseTail(void* memory, size_t) { VirtualFree(memory, 0, MEM_RELEASE); }

}  // namespace

std::unique_ptr<MappedArchive> ReadArchiveTail(const std::string& path, uint64_t from,
                                               std::string* error) {
  LARGE_INTEGER length;
  HANDLE file = OpenRegular(path, &length, error);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const size_t size = static_cast<size_t>(length.QuadPart);
  void* memory = from <= size ? VirtualAlloc(nullptr, std::max<size_t>(size, 1),
                                             MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)
                              : nullptr;
  if (memory == nullptr) {
    *error = from > size ? "shorter than where its directory begins" : ErrorText(GetLastError());
    CloseHandle(file);
    return nullptr;
  }
  auto archive = std::make_unique<ZeroedArchive>(memory, size, ReleaseTail);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(from);
  bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
  for (size_t done = from; ok && done < size;) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1 << 20));
    ok = ::ReadFile(file, static_cast<uint8_t*>(memory) + done, want, &n, nullptr) && n > 0;
    done += n;
  }
  if (!ok) *error = ErrorText(GetLastError());
  CloseHandle(file);
  if (!ok) return nullptr;
  return archive;
}

std::unique_ptr<MappedArchive> MapArchive(const std::string& path, std::string* error) {
  LARGE_INTEGER size;
  HANDLE file = OpenRegular(path, &size, error);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (size.QuadPart == 0) return std::make_unique<Win32Mapped>(file, nullptr, nullptr, 0);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (view == nullptr) {
    *error = ErrorText(GetLastError());
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<Win32Mapped>(file, mapping, view, static_cast<size_t>(size.QuadPart));
}

bool ExpandArchivePattern(const std::string& pattern, std::vector<std::string>* matches,
                          std::string* error) {
  matches->clear();
  size_t cut = pattern.find_last_of("\\/");
  std::string leaf = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (!HasWildcard(leaf)) {
    matches->push_back(pattern);
    return true;
  }
  std::string dir = cut == std::string::npos ? "" : pattern.substr(0, cut + 1);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(WideFrom(pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return true;  // nothing matches
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::string name = NarrowFrom(data.cFileName);
    if (Matches(leaf, name)) matches->push_back(dir + name);
  } while (FindNextFileW(find, &data));
  const DWORD code = GetLastError();
  FindClose(find);
  if (code != ERROR_NO_MORE_FILES) {
    // A listing cut short would unpack some of the archives and say nothing of the rest.
    matches->clear();
    *error = "system error " + std::to_string(code);
    return false;
  }
  std::sort(matches->begin(), matches->end());
  return true;
}

// A console takes UTF-16; a file or pipe takes the UTF-8 bytes.
void Print(DWORD which, FILE* stream, const std::string& text) {
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  if (h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    std::wstring wide = WideFrom(text);
    DWORD written = 0;
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void PrintOut(const std::string& text) { Print(STD_OUTPUT_HANDLE, stdout, text); }
void PrintErr(const std::string& text) { Print(STD_ERROR_HANDLE, stderr, text); }

std::string FormatLocalTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_s(&local, &t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

bool MakesLinks() { return false; }
bool BackslashSeparates() { return true; }

}  // namespace zorvex::unzip
