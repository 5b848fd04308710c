// Prints the sign of the worker's version comparison for each pair of lines on standard input
// (installed, then announced; code page 932 bytes), so that other tools can be checked against it.
#include <cstdio>
#include <cstring>
#include "../../src/worker/feed/version_compare.h"

int main()
{
    char installed[4096];
    char announced[4096];
    while (std::fgets(installed, sizeof installed, stdin) && std::fgets(announced, sizeof announced, stdin)) {
        installed[std::strcspn(installed, "\n")] = 0;
        announced[std::strcspn(announced, "\n")] = 0;
        int result = CompareVersions(installed, announced);
        std::printf("%d\n", (result > 0) - (result < 0));
    }
    return 0;
}
