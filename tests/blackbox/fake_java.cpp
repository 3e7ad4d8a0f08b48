// A recording stand-in for the Java program, built for both targets. It appends its
// working directory and argument vector to the file named by ZORVEX_FAKE_JAVA_RECORD,
// sleeps ZORVEX_FAKE_JAVA_SLEEP_MS milliseconds, and exits with ZORVEX_FAKE_JAVA_EXIT.
// With ZORVEX_FAKE_JAVA_READ it asks "java reads: " and records the line it reads from
// standard input ("read=..."); with ZORVEX_FAKE_JAVA_PLANT=DIR it plants links in the
// scratch directory it is given, as a Java installer or an unpacked archive might: one to
// DIR, one back to the scratch directory, one to itself. With ZORVEX_FAKE_JAVA_LIST it
// records every file and link below the scratch directory with its size ("staged=...").
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ScratchPath(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "-scratchPath") return argv[i + 1];
  }
  return "";
}

// Records what links could not be made, so that a test can tell the platform refused.
std::string PlantLinks(const fs::path& scratch, const fs::path& target) {
  std::error_code ec;
  fs::create_directories(scratch / "sub", ec);
  fs::create_directory_symlink(target, scratch / "outside", ec);
  if (ec) return "plant=failed\n";
  fs::create_directory_symlink(scratch, scratch / "sub" / "loop", ec);
  fs::create_directory_symlink(".", scratch / "self", ec);
  return "plant=done\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::error_code ec;
  std::string text = "cwd=" + fs::current_path(ec).string() + "\n";
  text += "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) text += "arg[" + std::to_string(i) + "]=" + argv[i] + "\n";
  if (const char* target = std::getenv("ZORVEX_FAKE_JAVA_PLANT")) {
    text += PlantLinks(ScratchPath(argc, argv), target);
  }
  if (std::getenv("ZORVEX_FAKE_JAVA_LIST") != nullptr) {
    const fs::path scratch = ScratchPath(argc, argv);
    std::vector<std::string> staged;
    for (auto it = fs::recursive_directory_iterator(scratch, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) continue;
      std::string rel = fs::relative(it->path(), scratch, ec).generic_string();
      if (rel.ends_with(".log")) continue;  // grows while the launcher waits
      uintmax_t size = it->is_symlink(ec) ? 0 : it->file_size(ec);
      staged.push_back("staged=" + rel + ":" + std::to_string(size) + "\n");
    }
    std::sort(staged.begin(), staged.end());
    for (const std::string& line : staged) text += line;
  }
  if (std::getenv("ZORVEX_FAKE_JAVA_READ") != nullptr) {
    std::cout << "java reads: " << std::flush;
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += "read=" + line + "\n";
  }
  text += "end\n";
  const char* record = std::getenv("ZORVEX_FAKE_JAVA_RECORD");
  if (record != nullptr && *record != '\0') {
    // Stand-ins started side by side append to one file; a lock directory (made
    // atomically on both targets) keeps their records whole, since Windows' append mode
    // seeks and writes in two steps.
    const fs::path lock = std::string(record) + ".lock";
    for (int i = 0; i < 2000 && !fs::create_directory(lock, ec); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (FILE* out = std::fopen(record, "ab")) {
      std::fwrite(text.data(), 1, text.size(), out);
      std::fclose(out);
    }
    fs::remove(lock, ec);
  }
  if (const char* sleep_ms = std::getenv("ZORVEX_FAKE_JAVA_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep_ms)));
  }
  const char* code = std::getenv("ZORVEX_FAKE_JAVA_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}
