/*
 * The binfmt_misc interpreter of 32-bit x86 programs on a kernel that cannot run them: starts the
 * program under qemu-i386 with wine32_fixes.so preloaded, and keeps its argv[0] (the entry has flag P).
 *
 *   binfmt_wrapper PROGRAM ARGV0 [ARGUMENTS...]        (as the kernel calls it)
 *
 * It is a static 64-bit program: registered with flag F the kernel opens it once, and it must run in any
 * mount namespace without a dynamic loader. The library removes itself from LD_PRELOAD in the program, so
 * 64-bit programs started from there never see it. Built by scripts/setup with QEMU and FIXES defined.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef QEMU
#define QEMU "/usr/bin/qemu-i386-static"
#endif
#ifndef FIXES
#error FIXES must name the installed wine32_fixes.so
#endif

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "binfmt_wrapper: called with %d arguments; expected PROGRAM ARGV0 ...\n", argc - 1);
        return 127;
    }
    if (access(FIXES, R_OK) == 0) {
        const char *earlier = getenv("LD_PRELOAD");
        size_t size = strlen(FIXES) + (earlier ? strlen(earlier) + 1 : 0) + 1;
        char *list = malloc(size);
        if (!list)
            return 127;
        snprintf(list, size, "%s%s%s", FIXES, earlier && *earlier ? ":" : "", earlier ? earlier : "");
        setenv("LD_PRELOAD", list, 1);
    }
    char **arguments = calloc((size_t)argc + 3, sizeof *arguments);
    if (!arguments)
        return 127;
    int n = 0;
    arguments[n++] = QEMU;
    arguments[n++] = "-0";
    arguments[n++] = argv[2];
    arguments[n++] = argv[1];
    for (int i = 3; i < argc; i++)
        arguments[n++] = argv[i];
    arguments[n] = NULL;
    execv(QEMU, arguments);
    perror("binfmt_wrapper: " QEMU);
    return 127;
}
