// The fault sweep: each run of a program is first made once while its system calls are
// counted (N), then again N times, the Nth call failing with the error the system gives
// for it (tests/faults), and once killed at each of a spread of calls. After every run:
// no crash, hang or sanitizer report; success only when the run's result is whole and the
// failed step is one whose failure is ignored by design (the table below); else a status
// that says failure and a message naming what failed; the medium and everything else
// outside the run's own places unchanged; anything the run leaves in TEMP named. Built and
// run with the sanitizer build only, whose programs carry the fault layer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "blackbox/harness.h"
#include "zip_bytes.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

// The call that failed, as the fault layer reported it.
struct Fault {
  std::string call;
  std::string what;  // the path, or the file a descriptor was open on
  int error = 0;
};

// Steps whose failure a run survives by design, ending with success: it goes on without
// something that only helps, or the step's failure is one the launcher ignores. Each row:
// the program, the call and the path it was made on, what the run said about it
// (patterns), and why. A failure that a retry or another way makes good leaves the
// result whole and needs no row.
struct Ignored {
  const char* program;
  const char* call;
  const char* what;
  const char* said;
  const char* why;
};
const Ignored kIgnored[] = {
    {"unzip", "fstatvfs|statvfs", ".*", "[^]*",
     "the space check before unpacking only warns early"},
    {"unzip", "fchmod|futimens", ".*", "[^]*",
     "a directory's mode and time as the archive gives them: its attributes, not its "
     "contents"},
    {"setup", ".*", ".*", "[^]*Unpacking [^\\n]*zorvex\\.swd\\.zek\\.core[^]*",
     "the core step's unpacking: bootstrapping goes on without it, as the installer finds its "
     "core on the medium"},
    {"setup", "access|stat|chdir|GetFileAttributesW", ".*/temp", "[^]*",
     "TEMP unusable: the scratch directory goes to the fallback temporary directory (/tmp), "
     "and Java starts in another working directory (Java is given absolute paths only)"},
    {"setup", "fwrite|fflush|write", ".*\\.log", "[^]*",
     "a line of the install log: the installation goes on (the log is no part of its result)"},
    {"setup", "chdir", ".*/ZorInstall[^/]*", "[^]*Java starts in [^]*cannot be entered[^]*",
     "the scratch directory cannot be entered: Java starts in TEMP, which is the user's alone, "
     "and the run says so"},
};

bool IsIgnored(const std::string& program, const Fault& f, const std::string& said) {
  return std::any_of(std::begin(kIgnored), std::end(kIgnored), [&](const Ignored& row) {
    return program == row.program && std::regex_match(f.call, std::regex(row.call)) &&
           std::regex_match(f.what, std::regex(row.what)) &&
           std::regex_match(said, std::regex(row.said));
  });
}

// Every file, directory and link below `dir` except the names in `skip` (relative), with
// what changes when it is written.
std::string Snapshot(const std::string& dir, const std::set<std::string>& skip) {
  std::vector<std::string> lines;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::end(it); it.increment(ec)) {
    std::string rel = fs::relative(it->path(), dir).string();
    if (skip.count(rel) || rel.rfind(".std", 0) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st {};
    lstat(it->path().c_str(), &st);
    // A directory's time and size change with what comes and goes in it, which is seen.
    if (S_ISDIR(st.st_mode)) {
      lines.push_back(rel + " " + std::to_string(st.st_mode));
      continue;
    }
    lines.push_back(rel + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) +
                    " " + std::to_string(st.st_mtim.tv_sec) + "." +
                    std::to_string(st.st_mtim.tv_nsec));
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// The lines of one snapshot not in the other.
std::string Difference(const std::string& before, const std::string& after) {
  auto lines = [](const std::string& text) {
    std::set<std::string> set;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) set.insert(l);
    return set;
  };
  std::set<std::string> a = lines(before), b = lines(after);
  std::string diff;
  for (const std::string& l : a) {
    if (!b.count(l)) diff += "\n  was: " + l;
  }
  for (const std::string& l : b) {
    if (!a.count(l)) diff += "\n  now: " + l;
  }
  return diff;
}

// One kind of run: how to make its world, run it and judge what it left.
struct Scenario {
  std::string name;
  std::string program;  // the program whose calls fail: setup, unzip or zorvex-medium
  int ok_status = 0;
  std::function<void(Medium&)> prepare;
  std::function<RunResult(Medium&, const Env&)> run;
  // After a run that ended with ok_status: "" when its result is whole, else what lacks.
  std::function<std::string(Medium&)> whole;
  // After a run that failed: "" when it left things as a failure may, else what it left.
  std::function<std::string(Medium&)> failed;
  // Names below the medium's root that a run may write (TEMP is judged on its own).
  std::set<std::string> own;
  // Every k-th call is failed (1: all of them).
  int step = 1;
  // The sound run refuses (ok_status is its refusal): it must never end with 0.
  bool refuses = false;
  // A failure's message also gives the system's text of the error ("No space left on
  // device").
  bool says_error = false;
};

// What one failed run showed; empty when it survived.
struct Verdict {
  std::string problem;
  int status = 0;
  bool ignored = false;    // ended with success, the step being one ignored by design
  bool no_effect = false;  // ended with the whole result of a sound run all the same
};

// What the Java stand-in recorded, without what differs from run to run: the medium's
// temporary directory and the time in the scratch directory's name.
std::string Normalized(const Medium& m, std::string record) {
  for (const std::string& root : {m.TargetPath(m.root), m.root}) {
    for (size_t at; (at = record.find(root)) != std::string::npos;)
      record.replace(at, root.size(), "ROOT");
  }
  static const std::regex time(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d[AP]M)");
  return std::regex_replace(record, time, "TIME");
}

class Sweeper {
 public:
  explicit Sweeper(const Scenario& s, Target target = BuiltTargets()[0])
      : s_(s), target_(std::move(target)) {}

  // Runs the scenario with the environment; judges the run.
  // With `after_kill`, TEMP holds what a killed run left, which is judged by the caller.
  Verdict RunOnce(Medium& m, const Env& faults, const std::string& base, Fault* fault,
                  bool after_kill = false) {
    std::error_code ec;
    if (!after_kill) {
      fs::remove_all(m.temp_dir, ec);
      fs::create_directories(m.temp_dir);
    }
    fs::remove(m.record_file, ec);
    for (const std::string& own : s_.own) fs::remove_all(m.root + "/" + own, ec);
    const std::string registry = Snapshot(m.registry_dir, {});
    const std::string report = m.root + "/fault-report";
    fs::remove(report, ec);
    Env env = faults;
    if (env.count("ZORVEX_FAULT_TRACE")) {
      env["ZORVEX_FAULT_TRACE"] = m.TargetPath(env["ZORVEX_FAULT_TRACE"]);
    }
    env["ZORVEX_FAULT_PROGRAM"] = s_.program;
    env["ZORVEX_FAKE_JAVA_LIST"] = "1";
    env["ZORVEX_FAULT_REPORT"] = m.TargetPath(report);
    Verdict v;
    RunResult r = s_.run(m, env);
    v.status = r.status;
    // "N CALL WHAT ERRNO", WHAT possibly with blanks.
    if (std::string line = Slurp(report); !line.empty()) {
      size_t a = line.find(' '), b = line.find(' ', a + 1), z = line.find_last_of(' ');
      fault->call = line.substr(a + 1, b - a - 1);
      fault->what = line.substr(b + 1, z - b - 1);
      fault->error = std::atoi(line.c_str() + z + 1);
      // A Windows path of Wine's Z: drive, as the Unix side names it.
      if (fault->what.rfind("\\\\?\\", 0) == 0) fault->what.erase(0, 4);
      if (fault->what.rfind("Z:\\", 0) == 0) {
        fault->what.erase(0, 2);
        std::replace(fault->what.begin(), fault->what.end(), '\\', '/');
      }
    }
    std::string log;
    for (const auto& e : fs::recursive_directory_iterator(m.temp_dir, ec)) {
      if (e.path().extension() == ".log") log += Slurp(e.path());
    }
    const std::string said = r.out + r.err + log;
    auto problem = [&](const std::string& what) {
      if (v.problem.empty()) v.problem = what;
    };
    if (r.err.find("Sanitizer") != std::string::npos ||
        r.err.find("runtime error") != std::string::npos)
      problem("sanitizer report");
    if (r.err == "timed out") problem("hang");
    if (r.status > 128 && r.status < 160)
      problem("killed by signal " + std::to_string(r.status - 128));
    if (std::string now = Snapshot(m.root, Skipped(m)); now != base) {
      problem("changed outside its own places: " + Difference(base, now));
    }
    // The registry probe writes and removes; what it cannot remove must be named. (What
    // it removes may be what a killed run's probe left under the same name.)
    if (std::string now = Snapshot(m.registry_dir, {}); now != registry) {
      const std::string diff = Difference(registry, now);
      if (diff.find("now: ") != std::string::npos &&
          said.find("remove it by hand") == std::string::npos) {
        problem("left in the registry unnamed: " + diff);
      }
      fs::remove_all(m.registry_dir, ec);
      fs::create_directories(m.registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE");
    }
    if (s_.refuses && r.status == 0) problem("a refused run went on");
    if (r.status == s_.ok_status) {
      // Success is sound when the result is whole: the failure was retried, went another
      // way, or (the table) is ignored by design.
      std::string lacks = s_.whole ? s_.whole(m) : "";
      std::string record = Normalized(m, Slurp(m.record_file));
      if (lacks.empty() && !fault->call.empty() && s_.program == "setup" && record != baseline_) {
        lacks = "Java was not started as a sound run starts it:" + Difference(baseline_, record);
      }
      if (fault->call.empty()) baseline_ = record;  // the run without a fault
      if (lacks.empty()) {
        v.no_effect = !fault->call.empty();
      } else if (!fault->call.empty() && IsIgnored(s_.program, *fault, said)) {
        v.ignored = true;
      } else {
        problem("reported success, but " + lacks);
      }
    } else if (std::string left = s_.failed ? s_.failed(m) : ""; !left.empty()) {
      problem(left);
    } else if (!Names(said, fault->what)) {
      problem("no message names " + fault->what);
    } else if (s_.says_error && said.find(strerror(fault->error)) == std::string::npos &&
               !(fault->error == ENOSPC && said.find("disk full") != std::string::npos)) {
      problem("no message says " + std::string(strerror(fault->error)));
    }
    // What a run leaves in TEMP beside its log is named.
    for (const auto& e : fs::directory_iterator(m.temp_dir, ec)) {
      if (after_kill) break;
      std::string name = e.path().filename().string();
      if (e.path().extension() == ".log" || name.rfind(".std", 0) == 0) continue;
      if (said.find(name) == std::string::npos) problem("left " + name + " in TEMP unnamed");
    }
    if (!v.problem.empty()) v.problem += " (status " + std::to_string(r.status) + ")\n" + said;
    return v;
  }

  std::set<std::string> Skipped(const Medium& m) const {
    std::set<std::string> skip = s_.own;
    skip.insert(fs::relative(m.temp_dir, m.root).string());
    skip.insert(fs::relative(m.record_file, m.root).string());
    skip.insert("fault-report");
    skip.insert("fault-trace");
    skip.insert(fs::relative(m.registry_dir, m.root).string());
    return skip;
  }

  // A message names the failure when it holds the last or next-to-last name of the path
  // (the file, or the directory a temporary file was written in); a call without a path
  // (a pipe, a child) needs some message.
  static bool Names(const std::string& said, std::string what) {
    if (said.find_first_not_of(" \n") == std::string::npos) return false;
    if (what.empty() || what[0] != '/') return true;
    // The call named with the system's error code, as the launcher's messages give it.
    if (std::regex_search(said, std::regex("\\(\\) failed with system error [0-9]+"))) return true;
    if (what == "/") return said.find(" / ") != std::string::npos;
    if (size_t d = what.find(" (deleted)"); d != std::string::npos) what.erase(d);
    fs::path p(what);
    // Registry keys and Windows names are the same in any letter case.
    auto lower = [](std::string t) {
      for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return t;
    };
    const std::string text = lower(said);
    for (fs::path name : {p.filename(), p.parent_path().filename()}) {
      std::string n = lower(name.string());
      if (!n.empty() && n != "." && n[0] != '#' && text.find(n) != std::string::npos) return true;
    }
    return false;
  }

  // Counts the calls of a whole run, then fails each in turn on `workers` threads, each
  // with a world of its own. Returns the summary line.
  std::string Sweep(int workers) {
    Medium first(target_);
    s_.prepare(first);
    const std::string base = Snapshot(first.root, Skipped(first));
    Fault none;
    const std::string trace = first.root + "/fault-trace";
    Verdict clean = RunOnce(first, {{"ZORVEX_FAULT_TRACE", trace}}, base, &none);
    EXPECT_EQ(clean.problem, "") << s_.name << ": the run without a fault";
    std::vector<std::string> calls;
    std::istringstream lines(Slurp(trace));
    for (std::string l; std::getline(lines, l);) calls.push_back(l);
    const long n = static_cast<long>(calls.size());
    EXPECT_GT(n, 0) << s_.name;
    // Under Wine a run takes a second: every k-th call, some 40 runs in all.
    if (target_.windows)
      s_.step =
          static_cast<int>(std::max(1L, n / (std::getenv("ZORVEX_SWEEP_WINE_RUNS")
                                                 ? std::atol(std::getenv("ZORVEX_SWEEP_WINE_RUNS"))
                                                 : 40)));

    std::mutex mu;
    long next = 1, survived = 0, ignored = 0, no_effect = 0, failed = 0;
    std::vector<std::string> problems;
    auto work = [&] {
      auto m = std::make_unique<Medium>(target_);
      s_.prepare(*m);
      std::string mine = Snapshot(m->root, Skipped(*m));
      for (;;) {
        long k;
        {
          std::lock_guard<std::mutex> lock(mu);
          if (next > n) return;
          k = next;
          next += s_.step;
        }
        Fault f;
        Verdict v = RunOnce(*m, {{"ZORVEX_FAULT_AT", std::to_string(k)}}, mine, &f);
        std::lock_guard<std::mutex> lock(mu);
        ++failed;
        if (v.problem.empty()) {
          ++survived;
          ignored += v.ignored;
          no_effect += v.no_effect;
          continue;
        }
        problems.push_back("call " + std::to_string(k) + " (" + calls[k - 1] + "): " + v.problem);
        // A world the failed run spoiled is made afresh.
        m = std::make_unique<Medium>(target_);
        s_.prepare(*m);
        mine = Snapshot(m->root, Skipped(*m));
      }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
    std::sort(problems.begin(), problems.end());
    for (const std::string& p : problems) ADD_FAILURE() << s_.name << ": " << p;
    std::string summary = s_.name + ": swept " + std::to_string(failed) + " calls";
    if (s_.step > 1)
      summary += " (every " + std::to_string(s_.step) + "th of " + std::to_string(n) + ")";
    summary += ": " + std::to_string(survived) + " survived (" + std::to_string(no_effect) +
               " with the whole result all the same, " + std::to_string(ignored) +
               " ignored by design)";
    return summary;
  }

  // Makes each call of the run that moves bytes (a read, a write, a copy the kernel makes)
  // move fewer than asked, in turn: the system may always do so, and a sound program goes on
  // until all is moved. Every such run must end as the sound run does, its result whole.
  std::string SweepShort(int workers) {
    Medium first(target_);
    s_.prepare(first);
    const std::string base = Snapshot(first.root, Skipped(first));
    Fault none;
    const std::string trace = first.root + "/fault-trace";
    EXPECT_EQ(RunOnce(first, {{"ZORVEX_FAULT_TRACE", trace}}, base, &none).problem, "");
    // Each process of the program counts its own calls (a launcher starts several unzips):
    // the Nth call of each is made short in one run.
    std::map<long, std::string> calls;
    std::vector<long> moving;
    std::istringstream lines(Slurp(trace));
    static const std::regex kMoves(R"(\d+ (read|pread|write|pwrite|copy_file_range|sendfile) .*)");
    for (std::string l; std::getline(lines, l);) {
      const long k = std::atol(l.c_str());
      if (!std::regex_match(l, kMoves) || calls.count(k) > 0) continue;
      calls[k] = l;
      moving.push_back(k);
    }
    std::sort(moving.begin(), moving.end());
    std::mutex mu;
    size_t next = 0;
    long whole = 0;
    std::vector<std::string> problems;
    auto work = [&] {
      auto m = std::make_unique<Medium>(target_);
      s_.prepare(*m);
      std::string mine = Snapshot(m->root, Skipped(*m));
      for (;;) {
        long k;
        {
          std::lock_guard<std::mutex> lock(mu);
          if (next >= moving.size()) return;
          k = moving[next++];
        }
        Fault f;
        Verdict v = RunOnce(
            *m, {{"ZORVEX_FAULT_AT", std::to_string(k)}, {"ZORVEX_FAULT_SHORT", "1"}}, mine, &f);
        std::lock_guard<std::mutex> lock(mu);
        if (v.problem.empty() && !v.ignored && v.status == s_.ok_status) {
          ++whole;
          continue;
        }
        problems.push_back("call " + std::to_string(k) + " (" + calls[k] + ") moved short: " +
                           (v.problem.empty() ? "status " + std::to_string(v.status) : v.problem));
        m = std::make_unique<Medium>(target_);
        s_.prepare(*m);
        mine = Snapshot(m->root, Skipped(*m));
      }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
    std::sort(problems.begin(), problems.end());
    for (const std::string& p : problems) ADD_FAILURE() << s_.name << ": " << p;
    return s_.name + ": " + std::to_string(moving.size()) + " calls that move bytes moved short, " +
           std::to_string(whole) + " of them with the whole result";
  }

  // Kills the run at `points` calls spread over it (and at each wait for a child, which is
  // Java's run or an unzip, and each step of the registry probe), each time running it again on
  // what the killed run left: the next run must work, and what stays in TEMP must be what a killed
  // run is documented to leave (`left`). Returns the summary line.
  std::string Kill(int points, const std::regex& left) {
    Medium m(target_);
    s_.prepare(m);
    const std::string base = Snapshot(m.root, Skipped(m));
    const std::string trace = m.root + "/fault-trace";
    Fault none;
    EXPECT_EQ(RunOnce(m, {{"ZORVEX_FAULT_TRACE", trace}}, base, &none).problem, "");
    std::vector<std::string> calls;
    std::istringstream lines(Slurp(trace));
    for (std::string l; std::getline(lines, l);) calls.push_back(l);
    const long n = static_cast<long>(calls.size());
    std::set<long> at;
    for (int i = 1; i <= points; ++i) at.insert(std::max(1L, n * i / points));
    for (long k = 1; k <= n; ++k) {
      // Each wait for a child, and each step of the registry probe: a kill there leaves
      // the probe's value or key in the machine's registry for the next run to meet.
      if (calls[k - 1].find(" waitpid ") != std::string::npos ||
          calls[k - 1].find("zorvex_zek_tmp") != std::string::npos) {
        at.insert(k);
      }
    }
    fs::remove_all(m.temp_dir);
    fs::create_directories(m.temp_dir);
    long worked = 0;
    for (long k : at) {
      for (const std::string& own : s_.own) fs::remove_all(m.root + "/" + own);
      Env env = {{"ZORVEX_FAULT_PROGRAM", s_.program}, {"ZORVEX_FAULT_KILL", std::to_string(k)}};
      RunResult killed = s_.run(m, env);
      EXPECT_EQ(killed.status, 128 + 9) << s_.name << ": not killed at call " << k;
      // A child the killed run started (Java, an unzip) ends on its own; under Wine a
      // process takes longer to start.
      std::this_thread::sleep_for(std::chrono::milliseconds(target_.windows ? 2000 : 300));
      Fault f;
      Verdict v = RunOnce(m, {}, base, &f, true);
      // A build killed after removing its marker leaves a directory the next build cannot
      // tell from someone else's: it stays, and the next build names it.
      const bool named_leftover =
          v.problem.rfind("changed outside its own places: \n  now: out.building", 0) == 0 &&
          v.problem.find("out.building is not this build's and stays") != std::string::npos;
      if (named_leftover) fs::remove_all(m.root + "/out.building");
      if (v.problem.empty() || named_leftover) {
        ++worked;
      } else {
        ADD_FAILURE() << s_.name << ": the run after one killed at call " << k << " ("
                      << calls[k - 1] << "): " << v.problem;
      }
      for (const auto& e : fs::directory_iterator(m.temp_dir)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, left))
            << s_.name << ": killed at call " << k << ", left " << name << " in TEMP";
      }
    }
    size_t left_count = 0;
    for (const auto& e : fs::directory_iterator(m.temp_dir)) left_count += e.is_directory();
    return s_.name + ": killed at " + std::to_string(at.size()) + " of " + std::to_string(n) +
           " calls: the next run worked after " + std::to_string(worked) + " of them" +
           (left_count ? "; " + std::to_string(left_count) +
                             " scratch directories of killed runs left in TEMP, as the README "
                             "names them"
                       : "");
  }

 private:
  Scenario s_;
  Target target_;
  std::string baseline_;  // what the run without a fault recorded, normalized
};

int Workers() { return std::max(2u, std::thread::hardware_concurrency()); }

std::string Fields(Medium& m, const std::string& dir) { return Slurp(m.root + "/" + dir); }

// The unzip alone on an archive with a link and a directory, and on a ZIP64 archive.
Scenario UnzipScenario(const std::string& name, bool zip64) {
  Scenario s;
  s.name = name;
  s.program = "unzip";
  s.says_error = true;
  s.own = {"out"};
  s.prepare = [zip64](Medium& m) {
    testing::ZipBytes z;
    testing::ZipBytes::Options dir, file, link;
    dir.external = 040755u << 16;
    file.zip64_fields = zip64;
    link.external = 0120777u << 16;
    z.Add("lib/", "", dir);
    z.Add("lib/a.txt", "first file", file);
    z.Add("lib/b.txt", std::string(70000, 'b'), file);
    if (!zip64) z.Add("lib/current", "a.txt", link);
    Spit(m.root + "/in.jar", z.Finish(zip64));
  };
  s.run = [](Medium& m, const Env& env) {
    return RunBuilt(BuiltTargets()[0], "unzip", {"-q", "-o", "in.jar", "-d", "out"}, m.root, env);
  };
  s.whole = [zip64](Medium& m) -> std::string {
    if (Fields(m, "out/lib/a.txt") != "first file") return "lib/a.txt is not what was packed";
    if (Fields(m, "out/lib/b.txt") != std::string(70000, 'b')) return "lib/b.txt differs";
    if (!zip64 && fs::read_symlink(m.root + "/out/lib/current") != "a.txt") return "no link";
    return "";
  };
  return s;
}

// The launcher, waited for, with the Java stand-in ending with 0: Java must have started
// from what the run staged (or the medium's runtime, for a run that stages nothing).
Scenario LauncherScenario(const std::string& name, std::function<void(Medium&)> prepare,
                          std::vector<std::string> args = {}) {
  Scenario s;
  s.name = name;
  s.program = "setup";
  s.prepare = std::move(prepare);
  args.insert(args.begin(), {"-silent", "-noconsole", "-waitForCompletion"});
  s.run = [args](Medium& m, const Env& env) {
    Env e = env;
    e["ZORVEX_FAKE_JAVA_EXIT"] = "0";
    return m.Run(args, e);
  };
  return s;
}

void DistributionMedium(Medium& m) {
  m.AddRuntimeComponent("17.0.1");
  m.AddComponent("zorvex.swd.zek", "2.0", {{"zek/jlib/zorinstaller.jar", "two"}});
  m.AddComponent("zorvex.swd.zek.core", "1.0", {{"zek/jlib/zorcore.jar", "core"}});
  m.AddComponent("zorvex.swd.zpatch", "1.0", {{"ZPatch/patch.txt", "patch"}});
  m.WriteParamFile(
      "DISTRIBUTION=TRUE\nJRE_LOCATION=" +
      m.TargetPath(m.medium_dir + "/../stage/Components/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n");
}

void PlainMedium(Medium& m) {
  const std::string zek = m.root + "/zekdir";
  Spit(zek + "/jlib/zorinstaller.jar", "plain");
  m.WriteParamFile("BOOTSTRAP=TRUE\nZEK_LOCATION=" + zek + "\nZEK_CORE_LOCATION=" + zek +
                   "\nZPATCH_LOCATION=" + zek + "\n");
}

TEST(FaultSweep, LauncherRefusedByAPrerequisite) {
  Scenario s = LauncherScenario("setup, refused by a prerequisite", [](Medium& m) {
    m.WriteParamFile("[Generic Prereqs]\nCPU=10000000\nCPU_FAILURE_MESSAGE=Too slow.\n");
  });
  s.ok_status = 255;
  s.refuses = true;
  s.whole = [](Medium& m) -> std::string { return m.JavaRuns().empty() ? "" : "Java started"; };
  std::cout << Sweeper(s).Sweep(Workers()) << "\n";
}

// The inputs of zorvex-medium build: the stand-in runtime with its release file, two jars,
// a component with a script and a link, and a launcher with its unzip and catalogues. The
// launcher and the unzip are the native build's without their symbols: the tool takes the
// same steps on them as on any, and each of the many reads of a large program is a run of
// its own in the sweep.
void MediumInputs(Medium& m) {
  Spit(m.jre_dir + "/release", "JAVA_VERSION=\"17.0.2\"\n");
  Spit(m.root + "/in/zorinstaller.jar", "installer");
  Spit(m.root + "/in/zorcore.jar", "core");
  Spit(m.root + "/in/extra/extra/run.sh", "#!/bin/sh\n");
  fs::create_symlink("run.sh", m.root + "/in/extra/extra/link");
  const std::string native = std::string(ZORVEX_SOURCE_DIR) + "/build/native";
  const std::string launcher = m.root + "/launcher";
  fs::create_directories(launcher);
  fs::copy(native + "/resource", launcher + "/resource");
  for (const char* program : {"setup", "unzip"}) {
    EXPECT_EQ(std::system(("strip --strip-all -o '" + launcher + "/" + program + "' '" + native +
                           "/" + program + "'")
                              .c_str()),
              0);
  }
}

RunResult BuildMedium(Medium& m, const std::string& out, const Env& env) {
  return RunBuilt(
      BuiltTargets()[0], "zorvex-medium",
      {"build", "--out", out, "--target", "linux", "--launcher-dir", m.root + "/launcher",
       "--runtime", m.jre_dir, "--installer-jar", m.root + "/in/zorinstaller.jar", "--core-jar",
       m.root + "/in/zorcore.jar", "--component", "extra.comp:2.0:" + m.root + "/in/extra"},
      m.root, env);
}

Scenario MediumBuildScenario() {
  Scenario s;
  s.name = "zorvex-medium build";
  s.program = "zorvex-medium";
  s.says_error = true;
  s.own = {"out"};
  s.prepare = MediumInputs;
  s.run = [](Medium& m, const Env& env) { return BuildMedium(m, m.root + "/out", env); };
  // A build that fails leaves no half medium; one that succeeds passes the check.
  s.whole = [](Medium& m) -> std::string {
    RunResult checked =
        RunBuilt(BuiltTargets()[0], "zorvex-medium", {"check", m.root + "/out/Disk1"}, m.root);
    return checked.status == 0 ? "" : "the medium fails the check:\n" + checked.out;
  };
  s.failed = [](Medium& m) -> std::string {
    return fs::exists(m.root + "/out") ? "a half medium left at the output" : "";
  };
  return s;
}

TEST(FaultSweep, MediumToolBuild) {
  std::cout << Sweeper(MediumBuildScenario()).Sweep(Workers()) << "\n";
}

// A build killed part way leaves its working directory beside the output, which the next
// build on this machine removes (its marker names a build that no longer runs).
TEST(FaultSweep, MediumToolBuildKilled) {
  std::cout << Sweeper(MediumBuildScenario()).Kill(8, std::regex("")) << "\n";
}

TEST(FaultSweep, MediumToolCheck) {
  Scenario s;
  s.name = "zorvex-medium check";
  s.program = "zorvex-medium";
  s.prepare = [](Medium& m) {
    MediumInputs(m);
    EXPECT_EQ(BuildMedium(m, m.root + "/built", {}).status, 0);
  };
  s.run = [](Medium& m, const Env& env) {
    return RunBuilt(BuiltTargets()[0], "zorvex-medium", {"check", m.root + "/built/Disk1"}, m.root,
                    env);
  };
  std::cout << Sweeper(s).Sweep(Workers()) << "\n";
}

TEST(FaultSweep, LauncherStagingADistributionMedium) {
  std::cout << Sweeper(LauncherScenario("setup, distribution staging", DistributionMedium))
                   .Sweep(Workers())
            << "\n";
}

TEST(FaultSweep, LauncherKilledWhileStagingRunningJavaAndCleaningUp) {
  // What a killed run leaves: its scratch directory and the log of the run, by the names
  // the README gives.
  const std::regex left(
      R"((ZorInstall|installActions)\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d[AP]M(_\d+)?(\.log)?)");
  std::cout
      << Sweeper(LauncherScenario("setup, distribution staging", DistributionMedium)).Kill(12, left)
      << "\n";
}

// setup.exe with the fault layer (the windows build's faults/) under Wine: the same
// distribution staging, every k-th of its system calls failed with the error Windows gives.
TEST(FaultSweep, WindowsLauncherStagingADistributionMedium) {
  const std::string build = std::string(ZORVEX_SOURCE_DIR) + "/build/windows/faults";
  const std::string tests = std::string(ZORVEX_SOURCE_DIR) + "/build/windows/tests";
  if (!fs::exists(build + "/setup.exe") || !fs::exists(tests + "/envrun.exe")) {
    if (std::getenv("ZORVEX_REQUIRE_WINDOWS") != nullptr) FAIL() << "no " << build << "/setup.exe";
    GTEST_SKIP() << "the windows build's programs with the fault layer are not there";
  }
  Target windows{"windows", true, build, tests};
  Sweeper sweeper(
      LauncherScenario("setup.exe under Wine, distribution staging", DistributionMedium), windows);
  std::cout << sweeper.Sweep(Workers()) << "\n";
  // And killed (TerminateProcess) at spread points, each followed by a run that must work.
  const std::regex left(
      R"((ZorInstall|installActions)\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d[AP]M(_\d+)?(\.log)?)");
  std::cout << sweeper.Kill(6, left) << "\n";
}

TEST(FaultSweep, LauncherStagingAPlainMedium) {
  Sweeper sweeper(LauncherScenario("setup, plain staging", PlainMedium));
  std::cout << sweeper.Sweep(Workers()) << "\n";
  std::cout << sweeper.SweepShort(Workers()) << "\n";
}

TEST(FaultSweep, UnzipOnAJarWithALink) {
  Sweeper sweeper(UnzipScenario("unzip, a jar with a link", false));
  std::cout << sweeper.Sweep(Workers()) << "\n";
  std::cout << sweeper.SweepShort(Workers()) << "\n";
}

TEST(FaultSweep, UnzipOnAZip64Archive) {
  std::cout << Sweeper(UnzipScenario("unzip, a ZIP64 archive", true)).Sweep(Workers()) << "\n";
}

// The distribution staging with each of its reads and writes (and those of the unzips it
// starts) moving short in turn.
TEST(FaultSweep, LauncherStagingWithShortReadsAndWrites) {
  for (const char* program : {"setup", "unzip"}) {
    Scenario s =
        LauncherScenario(std::string("setup, distribution staging, ") + program + "'s calls short",
                         DistributionMedium);
    s.program = program;
    std::cout << Sweeper(s).SweepShort(Workers()) << "\n";
  }
}

}  // namespace
}  // namespace zorvex::blackbox
