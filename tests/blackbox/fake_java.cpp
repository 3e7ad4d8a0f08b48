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
    if (FILE* out = std::fopen(record, "ab")) {
      std::error_code ec;
      std::string cwd = std::filesystem::current_path(ec).string();
      std::fprintf(out, "cwd=%s\nargc=%d\n", cwd.c_str(), argc);
      for (int i = 0; i < argc; ++i) std::fprintf(out, "arg[%d]=%s\n", i, argv[i]);
      std::fprintf(out, "end\n");
      std::fclose(out);
    }
  }
  if (const char* sleep_ms = std::getenv("ZORVEX_FAKE_JAVA_SLEEP_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep_ms)));
  }
  const char* code = std::getenv("ZORVEX_FAKE_JAVA_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}
