// The run log keeps its newest whole lines within its cap.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/worker/run/run_log.h"

TEST(RunLog, KeepsTheNewestWholeLines)
{
    struct {
        const char *label;
        std::string text;
        unsigned cap;
        std::string kept;
    } cases[] = {
        {"within the cap", "a\r\nb\r\n", 100, "a\r\nb\r\n"},
        {"exactly the cap", "a\r\nb\r\n", 6, "a\r\nb\r\n"},
        {"oldest line dropped", "first\r\nsecond\r\n", 10, "second\r\n"},
        {"a line that no longer fits is dropped whole", "first\r\nsecond\r\n", 7, ""},
        {"many lines", "1\r\n2\r\n3\r\n4\r\n", 7, "3\r\n4\r\n"},
    };
    for (const auto &c : cases) {
        unsigned start = KeptLogTail(c.text.data(), static_cast<unsigned>(c.text.size()), c.cap);
        EXPECT_EQ(c.kept, c.text.substr(start)) << c.label;
        EXPECT_LE(c.text.size() - start, c.cap) << c.label;
    }
}
