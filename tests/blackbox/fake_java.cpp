// A recording stand-in for the Java program, built for both targets. It appends its
// working directory and argument vector to the file named by ZORVEX_FAKE_JAVA_RECORD,
// sleeps ZORVEX_FAKE_JAVA_SLEEP_MS milliseconds, and exits with ZORVEX_FAKE_JAVA_EXIT.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const char* record = std::getenv("ZORVEX_FAKE_JAVA_RECORD");
  if (record != nullptr && *record != '\0') {
    std::error_code ec;
    std::string text = "cwd=" + std::filesystem::current_path(ec).string() + "\n";
    text += "argc=" + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i) text += "arg[" + std::to_string(i) + "]=" + argv[i] + "\n";
    text += "end\n";
    // Stand-ins started side by side append to one file; a lock directory (made
    // atomically on both targets) keeps their records whole, since Windows' append mode
    // seeks and writes in two steps.
    const std::filesystem::path lock = std::string(record) + ".lock";
    for (int i = 0; i < 2000 && !std::filesystem::create_directory(lock, ec); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (FILE* out = std::fopen(record, "ab")) {
      std::fwrite(text.data(), 1, text.size(), out);
      std::fclose(out);
    }
    std::filesystem::remove(lock, ec);
  }
  if (const char* sleep_ms = std::getenv("ZORVEX_FAKE_JAVA_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep_ms)));
  }
  const char* code = std::getenv("ZORVEX_FAKE_JAVA_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}
