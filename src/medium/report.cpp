#include "medium/report.h"

#include <cstdio>

namespace zorvex::medium {

namespace {

const char* Name(Report::Level level) {
  switch (level) {
    case Report::Level::kInfo:
      return "info";
    case Report::Level::kWarning:
      return "warning";
    case Report::Level::kError:
      return "error";
  }
  return "";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", c);
          out += code;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

void Report::Setting(const std::string& key, const std::string& value, const std::string& source) {
  settings_.push_back({key, value, source});
}

int Report::ExitStatus() const {
  int status = 0;
  for (const Finding& f : findings_) {
    if (f.level == Level::kError) return 2;
    if (f.level == Level::kWarning) status = 1;
  }
  return status;
}

std::string Report::Text() const {
  std::string out;
  std::string topic;
  for (const Finding& f : findings_) {
    if (f.topic != topic) {
      topic = f.topic;
      out += "\n" + topic + ":\n";
    }
    out += std::string(f.level == Level::kInfo      ? "  "
                       : f.level == Level::kWarning ? "  warning: "
                                                    : "  ERROR: ") +
           f.text + "\n";
  }
  if (!settings_.empty()) {
    out += "\nSettings of the parameter file's main section, as the launcher reads them:\n";
    for (const auto& s : settings_) out += "  " + s[0] + " = " + s[1] + "  (" + s[2] + ")\n";
  }
  if (!java_.empty()) {
    out += "\nThe Java command line the launcher would start, element by element:\n";
    for (size_t i = 0; i < java_.size(); ++i) {
      out += "  [" + std::to_string(i) + "] " + java_[i] + "\n";
    }
  }
  int status = ExitStatus();
  out += std::string("\n") +
         (status == 0   ? "No problems found."
          : status == 1 ? "Warnings found."
                        : "Errors found.") +
         "\n";
  return out;
}

std::string Report::Json() const {
  std::string out = "{\n  \"status\": " + std::to_string(ExitStatus()) + ",\n  \"findings\": [";
  for (size_t i = 0; i < findings_.size(); ++i) {
    const Finding& f = findings_[i];
    out += std::string(i == 0 ? "\n" : ",\n") + "    {\"level\": \"" + Name(f.level) +
           "\", \"topic\": " + JsonString(f.topic) + ", \"message\": " + JsonString(f.text) + "}";
  }
  out += "\n  ],\n  \"settings\": [";
  for (size_t i = 0; i < settings_.size(); ++i) {
    const auto& s = settings_[i];
    out += std::string(i == 0 ? "\n" : ",\n") + "    {\"key\": " + JsonString(s[0]) +
           ", \"value\": " + JsonString(s[1]) + ", \"source\": " + JsonString(s[2]) + "}";
  }
  out += "\n  ],\n  \"java_command\": [";
  for (size_t i = 0; i < java_.size(); ++i) {
    out += std::string(i == 0 ? "\n    " : ",\n    ") + JsonString(java_[i]);
  }
  return out + "\n  ]\n}\n";
}

}  // namespace zorvex::medium
