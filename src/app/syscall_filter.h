#pragma once

#include <cstddef>
#include <cstdint>

// The system call allowlist the helper runs under once start-up is over: a classic BPF seccomp
// filter that lets through the calls listed in syscall_allowlist.cpp and kills the whole process
// on any other call, and on any call made through a foreign system call convention (a 32-bit
// or x32 call on x86_64, for example).

// One allowed call. With `arg` in 0..5 the call is allowed only when the low 32 bits of that
// argument, masked with `mask`, equal `value`; with `arg` -1 any arguments are allowed.
struct AllowedCall {
  long number;  // the __NR_ number of the architecture the helper is built for
  int arg;
  uint32_t mask;
  uint32_t value;
  const char* why;  // what the helper uses it for, in one line
};

// The list, in one place (syscall_allowlist.cpp).
extern const AllowedCall kAllowedCalls[];
extern const size_t kAllowedCallCount;

// Readies what the filter would forbid later (the local-time zone, so that log time stamps need
// no file), then sets no_new_privs and installs the filter on every thread of the process.
// Returns 0, or -errno of the step the kernel refused (-ESRCH: a thread could not take it; the
// filter is then not in force; the caller decides whether to go on).
int install_syscall_filter();
