/* The binfmt_misc interpreter of the userland stage (userland.sh): starts an ARM program under
   qemu-arm as the unit's ARM926, with the target's libraries, whatever environment the program
   was started with, an empty one included. The settings go to the emulator as options: as
   QEMU_* variables they would be passed on into the program's environment, which must stay
   exactly what its caller gave it. The emulator is started through a descriptor (fexecve,
   execveat), so that a trace that counts the program's execve calls, as the end-to-end cases
   do to see that it starts no other program, finds the program's own start only, as on the
   unit, where no emulator runs.
   Built with the host's compiler, given the emulator and the target's libraries as C strings:
   -DEMULATOR='"/usr/bin/qemu-arm-static"' -DSYSROOT='"/usr/arm-linux-gnueabi"'. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

/* Registered with the P flag: argv[1] is the program's file, argv[2] the argv[0] it was
   started with, and its own arguments follow. */
enum { file_argument = 1, argv0_argument = 2, first_program_argument = 3 };
/* The emulator itself and its options up to the "--" before the program's file. */
enum { emulator_words = 8 };

int main(int argc, char **argv, char **envp) {
    if (argc < first_program_argument) {
        fprintf(stderr, "%s: to be started by binfmt_misc, with the P flag\n", argv[0]);
        return 127;
    }
    /* The emulator's words, the file, the program's arguments and the closing NULL. */
    size_t words = emulator_words + 1 + (size_t)(argc - first_program_argument) + 1;
    char **emulator_argv = calloc(words, sizeof *emulator_argv);
    if (emulator_argv == NULL) {
        perror(argv[0]);
        return 127;
    }
    int n = 0;
    emulator_argv[n++] = EMULATOR;
    emulator_argv[n++] = "-cpu";
    emulator_argv[n++] = "arm926";
    emulator_argv[n++] = "-L";
    emulator_argv[n++] = SYSROOT;
    emulator_argv[n++] = "-0";
    emulator_argv[n++] = argv[argv0_argument];
    emulator_argv[n++] = "--";
    emulator_argv[n++] = argv[file_argument];
    for (int i = first_program_argument; i < argc; i++)
        emulator_argv[n++] = argv[i];
    int emulator = open(EMULATOR, O_RDONLY | O_CLOEXEC);
    if (emulator >= 0)
        fexecve(emulator, emulator_argv, envp);
    perror(EMULATOR);
    return 127;
}
