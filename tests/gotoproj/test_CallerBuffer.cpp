// Texts into and out of callers' C buffers: cut to size - 1, zero-filled, never past the end.

#include "gotoproj/CallerBuffer.h"

#include <gtest/gtest.h>

namespace {

TEST(CallerBuffer, WriteCutsZeroFillsAndStaysInside)
{
    struct Case {
        std::string text;
        int size;
        std::string expected; // the first size bytes afterwards; the guard bytes stay '#'
    };
    const Case cases[] = {
        { "0123456789", 8, std::string("0123456\0", 8) },
        { "abc", 6, std::string("abc\0\0\0", 6) },
        { "abc", 1, std::string("\0", 1) },
        { "", 3, std::string("\0\0\0", 3) },
        { "ab\xC3\xA4xy", 4, std::string("ab\0\0", 4) }, // no half of the two-byte character
        { "ab\xC3\xA4xy", 5, std::string("ab\xC3\xA4\0", 5) },
    };
    for (const Case& c : cases) {
        std::string buffer(static_cast<size_t>(c.size) + 2, '#');
        WriteCallerBuffer(c.text, buffer.data(), c.size);
        EXPECT_EQ(buffer, c.expected + "##") << c.text << " / " << c.size;
    }
    std::string untouched = "####";
    WriteCallerBuffer("text", untouched.data(), 0);
    WriteCallerBuffer("text", untouched.data(), -1);
    WriteCallerBuffer("text", nullptr, 4);
    EXPECT_EQ(untouched, "####");
}

TEST(CallerBuffer, ReadStopsAtZeroOrSize)
{
    const char text[] = { 'a', 'b', 'c', 'd' };
    EXPECT_EQ(ReadCallerBuffer(text, 4), "abcd");
    EXPECT_EQ(ReadCallerBuffer(text, 2), "ab");
    EXPECT_EQ(ReadCallerBuffer("xy\0z", 4), "xy");
    EXPECT_EQ(ReadCallerBuffer(text, 0), "");
    EXPECT_EQ(ReadCallerBuffer(text, -3), "");
    EXPECT_EQ(ReadCallerBuffer(nullptr, 4), "");
}

} // namespace
