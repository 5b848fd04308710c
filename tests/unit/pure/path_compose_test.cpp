#include <gtest/gtest.h>
#include "../../../src/common/path_compose.h"

TEST(PathCompose, ProgramDataFromTheRegistryTakesOnlyTheSystemDrive)
{
    struct Row {
        const char *value, *windows, *expected; // expected 0: refused
    } rows[] = {
        {"%SystemDrive%\\ProgramData", "C:\\Windows", "C:\\ProgramData"},
        {"%SYSTEMDRIVE%\\ProgramData", "d:\\WINDOWS", "d:\\ProgramData"},
        {"C:\\ProgramData", "D:\\Windows", "C:\\ProgramData"},
        {"%SystemDrive%", "C:\\Windows", 0},                  // the bare drive, not a folder
        {"%SystemRoot%\\ProgramData", "C:\\Windows", 0},      // any other variable
        {"%SystemDrive%\\%USERNAME%", "C:\\Windows", 0},
        {"%SystemDrive\\ProgramData", "C:\\Windows", 0},      // an unclosed variable
        {"%SystemDrive%\\ProgramData", "\\\\server\\Windows", 0},
        {"ProgramData", "C:\\Windows", 0},                    // relative
        {"\\\\server\\share\\ProgramData", "C:\\Windows", 0},
        {"", "C:\\Windows", 0},
    };
    for (const Row &row : rows) {
        char buffer[PATH_BYTES] = "";
        bool expanded = ExpandSystemDrive(buffer, row.value, row.windows);
        EXPECT_EQ(row.expected != 0, expanded) << row.value;
        if (row.expected && expanded)
            EXPECT_STREQ(row.expected, buffer) << row.value;
    }
    std::string longest = "%SystemDrive%\\" + std::string(PATH_BYTES, 'a');
    char buffer[PATH_BYTES];
    EXPECT_FALSE(ExpandSystemDrive(buffer, longest.c_str(), "C:\\Windows")) << "too long for a path";
}
