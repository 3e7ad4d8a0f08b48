// What zorvex-medium check finds, kept as findings (a level, a topic, a text) with a few
// lists beside them, and written as text for people or as JSON for scripts.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zorvex::medium {

// The text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

class Report {
 public:
  enum class Level { kInfo, kWarning, kError };
  struct Finding {
    Level level;
    std::string topic;
    std::string text;
  };
  void Info(const std::string& topic, const std::string& text) { Add(Level::kInfo, topic, text); }
  void Warn(const std::string& topic, const std::string& text) {
    Add(Level::kWarning, topic, text);
  }
  void Error(const std::string& topic, const std::string& text) { Add(Level::kError, topic, text); }
  // Settings as the launcher reads them: key, value, where it came from.
  void Setting(const std::string& key, const std::string& value, const std::string& source);
  void JavaElement(const std::string& element) { java_.push_back(element); }

  // 0 clean, 1 with warnings, 2 with errors.
  int ExitStatus() const;
  // The errors' texts, one per line.
  std::string ErrorText() const {
    std::string text;
    for (const Finding& f : findings_) {
      if (f.level == Level::kError) text += f.text + "\n";
    }
    return text;
  }
  std::string Text() const;
  std::string Json() const;

 private:
  void Add(Level level, const std::string& topic, const std::string& text) {
    findings_.push_back({level, topic, text});
  }
  std::vector<Finding> findings_;
  std::vector<std::vector<std::string>> settings_;
  std::vector<std::string> java_;
};

}  // namespace zorvex::medium
