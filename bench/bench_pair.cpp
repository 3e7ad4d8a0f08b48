// Times two shell commands side by side: each round runs A, then B, each `--runs` times,
// and prints both commands' CPU time (user + system of the finished children, from the
// kernel's accounting) and wall time per run with the ratio A/B of the round; at the end
// the median ratio and the peak resident memory of each. Runs are alternated round by
// round, so a machine whose speed drifts slows both sides alike. With --after, a command
// run after each timed run and not counted (removing what the run made, so that neither
// side runs on a fuller disk than the other, and the disk does not fill).
//   bench_pair [--rounds N] [--runs N] [--after 'COMMAND'] 'COMMAND A' 'COMMAND B'
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Sample {
  double cpu = 0;   // seconds
  double wall = 0;  // seconds
  long peak_kb = 0;
  int status = 0;
};

// Runs the command through /bin/sh, its output to /dev/null unless `show`.
Sample RunOnce(const std::string& command, bool show) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (!show) {
      FILE* null = std::fopen("/dev/null", "w");
      if (null != nullptr) {
        dup2(fileno(null), 1);
        dup2(fileno(null), 2);
      }
    }
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Sample s;
  s.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // wait4 reports the shell; the command's own children are in RUSAGE_CHILDREN below.
  s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return s;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// One measured batch: the children's CPU time is the growth of RUSAGE_CHILDREN, which
// counts every descendant that was waited for; `after` runs outside the count.
Sample Batch(const std::string& command, int runs, const std::string& after_each) {
  Sample total;
  for (int i = 0; i < runs; ++i) {
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    Sample s = RunOnce(command, false);
    getrusage(RUSAGE_CHILDREN, &after);
    total.cpu += Seconds(after.ru_utime) - Seconds(before.ru_utime) + Seconds(after.ru_stime) -
                 Seconds(before.ru_stime);
    total.wall += s.wall;
    total.status = std::max(total.status, s.status);
    if (!after_each.empty()) RunOnce(after_each, false);
  }
  total.cpu /= runs;
  total.wall /= runs;
  return total;
}

// Peak resident memory of one run, from a child process of its own so that nothing else
// of this program's children counts.
long PeakKb(const std::string& command) {
  pid_t pid = fork();
  if (pid == 0) {
    RunOnce(command, false);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    _exit(static_cast<int>(std::min<long>(usage.ru_maxrss / 1024, 255)));  // MiB
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;  // the largest of that process and its waited-for descendants
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5, runs = 10;
  std::string after_each;
  std::vector<std::string> commands;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--after") == 0 && i + 1 < argc) {
      after_each = argv[++i];
    } else {
      commands.push_back(argv[i]);
    }
  }
  if (commands.size() != 2 || rounds < 1 || runs < 1) {
    std::fprintf(stderr,
                 "usage: bench_pair [--rounds N] [--runs N] [--after 'COMMAND'] 'COMMAND A' "
                 "'COMMAND B'\n");
    return 2;
  }
  std::printf("A: %s\nB: %s\n%d rounds of %d runs each, A then B; times per run\n",
              commands[0].c_str(), commands[1].c_str(), rounds, runs);
  for (const std::string& command : commands) {  // warm the caches
    RunOnce(command, false);
    if (!after_each.empty()) RunOnce(after_each, false);
  }
  std::printf("%-6s %12s %12s %9s %12s %12s %9s\n", "round", "A cpu ms", "B cpu ms", "cpu A/B",
              "A wall ms", "B wall ms", "wall A/B");
  std::vector<double> cpu_ratios, wall_ratios, cpu_extra;
  int worst_status = 0;
  for (int r = 1; r <= rounds; ++r) {
    Sample a = Batch(commands[0], runs, after_each);
    Sample b = Batch(commands[1], runs, after_each);
    worst_status = std::max({worst_status, a.status, b.status});
    double cpu_ratio = b.cpu > 0 ? a.cpu / b.cpu : 0;
    double wall_ratio = b.wall > 0 ? a.wall / b.wall : 0;
    cpu_ratios.push_back(cpu_ratio);
    cpu_extra.push_back(a.cpu - b.cpu);
    wall_ratios.push_back(wall_ratio);
    std::printf("%-6d %12.3f %12.3f %9.3f %12.3f %12.3f %9.3f\n", r, a.cpu * 1e3, b.cpu * 1e3,
                cpu_ratio, a.wall * 1e3, b.wall * 1e3, wall_ratio);
  }
  std::printf("median cpu A/B %.3f, wall A/B %.3f, cpu A-B %.3f ms per run\n", Median(cpu_ratios),
              Median(wall_ratios), Median(cpu_extra) * 1e3);
  const long peak_a = PeakKb(commands[0]);
  if (!after_each.empty()) RunOnce(after_each, false);
  const long peak_b = PeakKb(commands[1]);
  if (!after_each.empty()) RunOnce(after_each, false);
  std::printf("peak memory (largest single process, the shell included): A %ld KiB, B %ld KiB\n",
              peak_a, peak_b);
  if (worst_status != 0) std::printf("note: a run ended with status %d\n", worst_status);
  return 0;
}
