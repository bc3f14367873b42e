#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Starting the servers under test pinned to one CPU, and reading what the kernel counts for them.

struct Child {
  pid_t pid = -1;
  std::string name;
};

// Starts `argv` through `taskset -c <cpu>` (cpu < 0: unpinned) with standard output and error
// written to `log_path` (emptied first). The child's pid is that of the program itself (taskset
// execs it).
bool start_pinned(Child& child, const std::string& name, const std::vector<std::string>& argv,
                  int cpu, const std::string& log_path);

// Sends SIGTERM, waits up to 3 s, then SIGKILL; reaps the child.
void stop_child(Child& child);

// Pins the calling thread (and threads it starts later) to `cpu`; -1 lets it run on every CPU.
// False when the kernel refused.
bool pin_self(int cpu);

// CPU time the process has run, in nanoseconds, summed over all its threads
// (/proc/PID/task/*/schedstat, first field). -1 when it can't be read.
int64_t cpu_ns(pid_t pid);

// A "Name:  value kB"-style field of /proc/PID/status as a number (kB for memory fields,
// a count for voluntary_ctxt_switches); -1 when absent.
int64_t status_field(pid_t pid, const char* name);

// Resident kB of the program's own image: the mappings of its executable file plus the
// anonymous mapping right behind them (its zero-initialised statics). -1 when unreadable.
int64_t image_rss_kb(pid_t pid);

// Voluntary context switches summed over all threads: how often the process went to sleep.
int64_t voluntary_switches(pid_t pid);

// First line of /proc/cpuinfo's model name and the kernel release, for the results header.
std::string machine_description();

// The 1-minute load average, as /proc/loadavg gives it.
std::string load_average();
