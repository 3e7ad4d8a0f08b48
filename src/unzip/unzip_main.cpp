// The medium's unzip: unpacks the jar archives of a component the way the launcher runs
// it (unzip -qqqo DIR/"*.jar" -d DEST), and serves as a small unzip of its own.
#include <string>
#include <vector>

#include "unzip/extract.h"
#include "unzip/inflate.h"
#include "unzip/system.h"
#include "unzip/zip_archive.h"

namespace zorvex::unzip {

namespace {

constexpr char kUsage[] =
    "Usage: unzip [-l | -t] [-o] [-q[q[q]]] ARCHIVE [-d DIR]\n"
    "  Unpacks ARCHIVE into DIR (default: the current directory). ARCHIVE may be a\n"
    "  wildcard (\"*\", \"?\", \"[...]\" in its last part): every match is unpacked, in\n"
    "  name order.\n"
    "  -l  list the entries        -t  test every entry's data\n"
    "  -o  replace existing files  -q  quieter (-qq, -qqq quieter still)\n"
    "  -d DIR  unpack into DIR, made when missing\n"
    "  -h  this help\n";

struct CommandLine {
  Options options;
  std::vector<std::string> archives;
  bool help = false;
};

// Options may be grouped ("-qqqo") and come before or after the archive. False for an
// option the program does not know.
bool Parse(const std::vector<std::string>& args, CommandLine* cl, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      cl->archives.push_back(arg);
      continue;
    }
    for (size_t j = 1; j < arg.size(); ++j) {
      switch (arg[j]) {
        case 'q':
          ++cl->options.quiet;
          break;
        case 'o':
          cl->options.overwrite = true;
          break;
        case 'l':
          cl->options.mode = Options::Mode::kList;
          break;
        case 't':
          cl->options.mode = Options::Mode::kTest;
          break;
        case 'h':
          cl->help = true;
          break;
        case 'd':
          if (j + 1 < arg.size()) {
            cl->options.destination = arg.substr(j + 1);
          } else if (i + 1 < args.size()) {
            cl->options.destination = args[++i];
          } else {
            *error = "-d needs a directory";
            return false;
          }
          j = arg.size();
          break;
        default:
          *error = std::string("unknown option -") + arg[j];
          return false;
      }
    }
  }
  return true;
}

}  // namespace

int Main(const std::vector<std::string>& args) {
  CommandLine cl;
  std::string error;
  if (!Parse(args, &cl, &error)) {
    PrintErr("unzip:  " + error + "\n" + kUsage);
    return kBadOptions;
  }
  if (cl.help || cl.archives.empty()) {
    PrintOut(std::string("unzip (Zorvex Meridal medium tools, ") + InflaterName() + ")\n" + kUsage);
    return kOk;
  }
  if (cl.archives.size() > 1) {
    PrintErr(
        "unzip:  one archive (or one wildcard) at a time; choosing members is not supported\n");
    return kBadOptions;
  }
  std::vector<std::string> paths = ExpandArchivePattern(cl.archives[0]);
  if (paths.empty()) {
    PrintErr("unzip:  cannot find or open " + cl.archives[0] + ".\n");
    return kNotFound;
  }
  int status = kOk;
  for (const std::string& path : paths) {
    int code = ProcessArchive(path, cl.options);
    if (code > status) status = code;
  }
  return status;
}

}  // namespace zorvex::unzip
