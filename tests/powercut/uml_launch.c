/* Starts User-Mode Linux (argv[1...]) so that it keeps the guest's floating-point registers in
 * the classic FXSAVE layout. Linux 6.1's UML sets a guest process's registers with
 * PTRACE_SETREGSET(NT_X86_XSTATE) and a buffer sized for AVX, which a host whose XSAVE area is
 * larger (AVX-512, AMX) refuses with EFAULT: every guest process then dies at its first
 * system call. Made to fail its probe of that request, UML falls back to PTRACE_GETFPREGS and
 * PTRACE_SETFPREGS, which every x86-64 host takes. A seccomp filter answers EIO to
 * ptrace(PTRACE_GETREGSET or PTRACE_SETREGSET, ..., NT_X86_XSTATE, ...); all else is allowed. */
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <unistd.h>

#define NT_X86_XSTATE_NOTE 0x202
#define ARG_LOW(n) (offsetof(struct seccomp_data, args) + 8 * (n))

int main(int argc, char **argv) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_ptrace, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARG_LOW(0)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PTRACE_GETREGSET, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PTRACE_SETREGSET, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARG_LOW(2)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NT_X86_XSTATE_NOTE, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (argc < 2) {
        fputs("usage: uml_launch LINUX.UML [ARGUMENT...]\n", stderr);
        return 2;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("uml_launch: seccomp");
        return 1;
    }
    execvp(argv[1], argv + 1);
    perror("uml_launch: exec");
    return 1;
}
