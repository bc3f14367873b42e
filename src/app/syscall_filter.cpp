#include "app/syscall_filter.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <ctime>

namespace {

#if defined(__x86_64__)
constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
// x32 calls share the x86_64 architecture value and are told apart by this bit in the number.
constexpr uint32_t kForeignNumberBit = 0x40000000u;
#elif defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
constexpr uint32_t kForeignNumberBit = 0;
#else
#error "the system call filter knows x86_64 and little-endian aarch64 only"
#endif

// Both architectures are little-endian: an argument's low 32 bits come first.
constexpr uint32_t arg_low_offset(int arg) {
  return static_cast<uint32_t>(offsetof(seccomp_data, args) + 8 * arg);
}

// Room for the longest program: the architecture and number checks plus at most six
// instructions per allowed call. Built on the stack at start-up; nothing is kept.
constexpr size_t kMaxProgram = 8 + 6 * 64;

struct Program {
  sock_filter code[kMaxProgram];
  size_t length;
};

void emit(Program& program, uint16_t op, uint32_t k, uint8_t jt = 0, uint8_t jf = 0) {
  if (program.length < kMaxProgram) program.code[program.length] = {op, jt, jf, k};
  ++program.length;  // counted past the end so that build_program can refuse a list too long
}

// Every allowed call is a block of its own that either returns ALLOW or falls through to the
// next with the call's number in A, so no jump is ever longer than a block.
void build_program(Program& program) {
  constexpr uint32_t kAllow = SECCOMP_RET_ALLOW;
  constexpr uint32_t kKill = SECCOMP_RET_KILL_PROCESS;
  program.length = 0;
  emit(program, BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
  emit(program, BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0);
  emit(program, BPF_RET | BPF_K, kKill);
  emit(program, BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
  if (kForeignNumberBit != 0) {
    emit(program, BPF_JMP | BPF_JSET | BPF_K, kForeignNumberBit, 0, 1);
    emit(program, BPF_RET | BPF_K, kKill);
  }
  for (size_t i = 0; i < kAllowedCallCount; ++i) {
    const AllowedCall& call = kAllowedCalls[i];
    const auto number = static_cast<uint32_t>(call.number);
    if (call.arg < 0) {
      emit(program, BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1);
      emit(program, BPF_RET | BPF_K, kAllow);
      continue;
    }
    // The number is loaded again after the argument test, so that a later entry may allow the
    // same call with other arguments.
    emit(program, BPF_JMP | BPF_JEQ | BPF_K, number, 0, 4);
    emit(program, BPF_LD | BPF_W | BPF_ABS, arg_low_offset(call.arg));
    emit(program, BPF_ALU | BPF_AND | BPF_K, call.mask);
    emit(program, BPF_JMP | BPF_JEQ | BPF_K, call.value, 0, 1);
    emit(program, BPF_RET | BPF_K, kAllow);
    emit(program, BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
  }
  emit(program, BPF_RET | BPF_K, kKill);
}

}  // namespace

int install_syscall_filter() {
  // glibc reads the zone file on the first local-time conversion; after this it never opens
  // it again (localtime_r does not look for a changed zone).
  tzset();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);

  Program program;
  build_program(program);
  if (program.length > kMaxProgram) return -E2BIG;
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -errno;
  sock_fprog filter{static_cast<unsigned short>(program.length), program.code};
  // Every thread at once (the WiFi sender thread too), each also given no_new_privs. A positive
  // result names a thread that could not take it; the filter is then in force nowhere.
  long synced = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter);
  if (synced < 0) return -errno;
  if (synced > 0) return -ESRCH;
  return 0;
}
