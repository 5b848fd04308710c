/*
 * A 32-bit program that tells whether 32-bit programs run here the way the release tests need: through
 * binfmt_misc, under qemu-i386, with wine32_fixes.so loaded. The tests run it before any Windows program.
 *
 *   emulation_probe        prints "fixes loaded" (exit 0) or "fixes missing" (exit 1)
 */
#define _GNU_SOURCE
#include <link.h>
#include <stdio.h>
#include <string.h>

static int find_fixes(struct dl_phdr_info *info, size_t size, void *found)
{
    (void)size;
    if (info->dlpi_name && strstr(info->dlpi_name, "/wine32_fixes.so"))
        *(int *)found = 1;
    return 0;
}

int main(void)
{
    int found = 0;
    dl_iterate_phdr(find_fixes, &found);
    puts(found ? "fixes loaded" : "fixes missing");
    return found ? 0 : 1;
}
