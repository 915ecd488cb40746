// The editor's file texts: what a load shows, what a save writes, and that a file with CR LF line
// breaks comes back byte for byte.

#include "memo/MemoText.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(MemoText, LineBreaksLoadAsLinesAndSaveAsCrLf)
{
    struct Case {
        std::string file, shown, saved;
    };
    const Case cases[] = {
        { "a\r\nb", "a\nb", "a\r\nb" },
        { "a\nb\rc\r\n", "a\nb\nc\n", "a\r\nb\r\nc\r\n" },
        { "\n\r", "\n\n", "\r\n\r\n" },
        { "", "", "" },
        { "no break", "no break", "no break" },
    };
    for (const Case& c : cases) {
        const TEditorText text = DecodeFileText(c.file);
        EXPECT_EQ(text.Utf8, c.shown) << c.file;
        EXPECT_FALSE(text.Latin1);
        EXPECT_EQ(EncodeFileText(text.Utf8, text.Latin1), c.saved) << c.file;
    }
}

TEST(MemoText, Utf8StaysUtf8AndOtherBytesAreLatin1)
{
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F"
                             "e \xE2\x82\xAC \xF0\x9F\x94\x8A";
    TEditorText text = DecodeFileText(utf8);
    EXPECT_FALSE(text.Latin1);
    EXPECT_EQ(text.Utf8, utf8);

    text = DecodeFileText("Gr\xFC\xDF"
                          "e\r\n\xA0\x80");
    EXPECT_TRUE(text.Latin1);
    EXPECT_EQ(text.Utf8,
        "Gr\xC3\xBC\xC3\x9F"
        "e\n\xC2\xA0\xC2\x80");
    EXPECT_EQ(EncodeFileText(text.Utf8, true),
        "Gr\xFC\xDF"
        "e\r\n\xA0\x80");
    // A character typed into a Latin-1 text that Latin-1 cannot hold: the whole text goes as UTF-8.
    EXPECT_EQ(EncodeFileText("\xC3\xBC \xE2\x82\xAC", true), "\xC3\xBC \xE2\x82\xAC");
}

TEST(MemoText, StrictUtf8)
{
    EXPECT_TRUE(IsUtf8(""));
    EXPECT_TRUE(IsUtf8(std::string("a\0b", 3)));
    EXPECT_TRUE(IsUtf8("\xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(IsUtf8("\xC0\x80")) << "overlong";
    EXPECT_FALSE(IsUtf8("\xE0\x80\xAF")) << "overlong";
    EXPECT_FALSE(IsUtf8("\xED\xA0\x80")) << "surrogate";
    EXPECT_FALSE(IsUtf8("\xF4\x90\x80\x80")) << "above U+10FFFF";
    EXPECT_FALSE(IsUtf8("\xE2\x82")) << "cut short";
    EXPECT_FALSE(IsUtf8("\x80"));
}

TEST(MemoText, ParagraphAndFrameCharactersAreReadByteByByte)
{
    for (const std::string ch : { "\xE2\x80\xA9", "\xEF\xB7\x90", "\xEF\xB7\x91" }) {
        const TEditorText text = DecodeFileText("a" + ch + "b");
        EXPECT_TRUE(text.Latin1);
        EXPECT_EQ(EncodeFileText(text.Utf8, text.Latin1), "a" + ch + "b");
    }
    EXPECT_FALSE(DecodeFileText("\xE2\x80\xA8").Latin1) << "a line separator stays inside its line";
}

// Any bytes whose line breaks are CR LF come back unchanged, read as UTF-8 or as Latin-1.
TEST(MemoText, CrLfFilesRoundTripByteForByte)
{
    std::mt19937 random(5);
    const std::string pieces[] = { "\r\n", "a", " ", "\xC3\xA4", "\xE2\x82\xAC", "\xFF", "\x80",
        std::string(1, '\0'), "\t", "\xE2\x80\xA9", "\xF0\x9F\x94\x8A", "\xC2\xA0" };
    for (int round = 0; round < 2000; ++round) {
        std::string file;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i)
            file += pieces[random() % std::size(pieces)];
        const TEditorText text = DecodeFileText(file);
        ASSERT_EQ(EncodeFileText(text.Utf8, text.Latin1), file) << round;
        ASSERT_TRUE(IsUtf8(text.Utf8));
        ASSERT_EQ(text.Utf8.find('\r'), std::string::npos);
    }
}

} // namespace
