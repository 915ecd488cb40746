// Placeholder expansion with a scripted user: each case lists the answers given, the queries
// expected (prompt and proposed value), the result and the memory afterwards.

#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>

namespace {

struct Asked {
    std::string caption, prompt, proposed;
    bool operator==(const Asked&) const = default;
};

class ScriptedUser : public TPlaceholderPrompter {
public:
    explicit ScriptedUser(std::deque<std::optional<std::string>> answers)
        : answers(std::move(answers))
    {
    }
    bool Query(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        asked.push_back({ caption, prompt, value });
        if (answers.empty())
            ADD_FAILURE() << "unexpected query for " << prompt;
        if (answers.empty() || !answers.front()) {
            if (!answers.empty())
                answers.pop_front();
            return false;
        }
        value = *answers.front();
        answers.pop_front();
        return true;
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::deque<std::optional<std::string>> answers;
    std::vector<Asked> asked;
    std::vector<std::string> errors;
};

constexpr auto Cancel = std::nullopt;
const std::string Caption = "Enter Parameter Value";
const std::string Unterminated = "Unterminated <?...> Sequence!";

struct Case {
    const char* title;
    std::string text;
    TParamMemory memoryBefore;
    std::deque<std::optional<std::string>> answers;
    std::vector<std::pair<std::string, std::string>> asked; // prompt, proposed
    bool result;
    std::string textAfter;
    TParamMemory memoryAfter;
    std::vector<std::string> errors;
};

class ExpandPlaceholdersCases : public ::testing::TestWithParam<Case> { };

TEST_P(ExpandPlaceholdersCases, AsksReplacesAndRemembers)
{
    const Case& c = GetParam();
    ScriptedUser user(c.answers);
    std::string text = c.text;
    TParamMemory memory = c.memoryBefore;
    EXPECT_EQ(ExpandPlaceholders(text, memory, user), c.result);
    EXPECT_EQ(text, c.textAfter);
    EXPECT_EQ(memory, c.memoryAfter);
    std::vector<Asked> expected;
    for (const auto& [prompt, proposed] : c.asked)
        expected.push_back({ Caption, prompt, proposed });
    EXPECT_EQ(user.asked, expected);
    EXPECT_EQ(user.errors, c.errors);
    EXPECT_TRUE(user.answers.empty()) << "answers left over";
}

INSTANTIATE_TEST_SUITE_P(Placeholders, ExpandPlaceholdersCases,
    ::testing::Values(Case { "NoPlaceholder", "ping <IP> -c 3", {}, {}, {}, true, "ping <IP> -c 3", {}, {} },
        Case { "PortAskedOnceAndRemembered", "telnet.exe 10.0.0.5 <?Port>", {}, { "23" }, { { "Port", "" } },
            true, "telnet.exe 10.0.0.5 23", { { "Port", "23" } }, {} },
        Case { "RememberedValueProposed", "nc <?Port> <?Port>", { { "Port", "23" } }, { "24" },
            { { "Port", "23" } }, true, "nc 24 24", { { "Port", "24" } }, {} },
        Case { "SameTextAskedOnce", "x <?A:1> <?A:1>", {}, { "7" }, { { "A", "1" } }, true, "x 7 7",
            { { "A", "7" } }, {} },
        Case { "SameNameWrittenDifferentlyAskedAgainWithAnswer", "x <?A:1> <?A>", {}, { "7", "8" },
            { { "A", "1" }, { "A", "7" } }, true, "x 7 8", { { "A", "8" } }, {} },
        Case { "RememberedWinsOverDefault", "<?Port:23>", { { "Port", "80" } }, { "80" },
            { { "Port", "80" } }, true, "80", { { "Port", "80" } }, {} },
        Case { "ColonAfterPlaceholderIsNoDefault", "copy <?File> C:\\temp", {}, { "a.txt" },
            { { "File", "" } }, true, "copy a.txt C:\\temp", { { "File", "a.txt" } }, {} },
        Case { "DefaultKeepsFurtherColons", "<?Host:a:b>", {}, { "a:b" }, { { "Host", "a:b" } }, true, "a:b",
            { { "Host", "a:b" } }, {} },
        Case { "EmptyName", "[<?>]", {}, { "v" }, { { "", "" } }, true, "[v]", { { "", "v" } }, {} },
        Case { "EmptyNameWithDefault", "[<?:x>]", {}, { "x" }, { { "", "x" } }, true, "[x]", { { "", "x" } },
            {} },
        Case { "EmptyAnswerRemovesPlaceholder", "a<?B>c", {}, { "" }, { { "B", "" } }, true, "ac",
            { { "B", "" } }, {} },
        Case { "Unterminated", "ping <?Host", {}, {}, {}, false, "ping <?Host", {}, { Unterminated } },
        Case { "UnterminatedAfterOne", "<?A> <?B", {}, { "1" }, { { "A", "" } }, false, "1 <?B",
            { { "A", "1" } }, { Unterminated } },
        Case { "AnswerHoldingPlaceholderIsAskedAgain", "<?X>", {}, { "<?X>", "<?X>", Cancel },
            { { "X", "" }, { "X", "<?X>" }, { "X", "<?X>" } }, false, "<?X>", { { "X", "<?X>" } }, {} },
        Case { "AnswerHoldingOtherPlaceholder", "<?X>", {}, { "a<?Y:2>", "3" }, { { "X", "" }, { "Y", "2" } },
            true, "a3", { { "X", "a<?Y:2>" }, { "Y", "3" } }, {} },
        Case { "AnswerOpeningUnterminatedPlaceholder", "<?X>!", {}, { "<?oops" }, { { "X", "" } }, false,
            "<?oops!", { { "X", "<?oops" } }, { Unterminated } },
        Case { "CancelWithoutDefaultLeavesEmptyEntry", "<?P> <?Q>", {}, { "1", Cancel },
            { { "P", "" }, { "Q", "" } }, false, "1 <?Q>", { { "P", "1" }, { "Q", "" } }, {} },
        Case { "CancelWithDefaultRemembersNothing", "<?Q:5>", {}, { Cancel }, { { "Q", "5" } }, false,
            "<?Q:5>", {}, {} },
        Case { "NamesAreCaseSensitive", "<?port> <?Port>", {}, { "1", "2" },
            { { "port", "" }, { "Port", "" } }, true, "1 2", { { "Port", "2" }, { "port", "1" } }, {} }),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.title); });

TEST(ExpandPlaceholders, CancelledNameWithoutDefaultThenProposesEmptyOverItsDefault)
{
    TParamMemory memory;
    ScriptedUser first({ Cancel });
    std::string text = "<?Port>";
    EXPECT_FALSE(ExpandPlaceholders(text, memory, first));
    ScriptedUser second({ "" });
    text = "<?Port:23>";
    EXPECT_TRUE(ExpandPlaceholders(text, memory, second));
    ASSERT_EQ(second.asked.size(), 1u);
    EXPECT_EQ(second.asked[0].proposed, "");
}

TEST(StringHelpers, ReplaceAllAndLines)
{
    EXPECT_EQ(ReplaceAll("<IP> x <IP><IP>", "<IP>", "1.2.3.4"), "1.2.3.4 x 1.2.3.41.2.3.4");
    EXPECT_EQ(ReplaceAll("<ip> <IP>", "<IP>", "a"), "<ip> a");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("ab", "a", "aa"), "aab") << "inserted text is not scanned again";
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");

    EXPECT_EQ(SplitLines(""), TStringToks { "" });
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (TStringToks { "a", "b", "c", "d" }));
    EXPECT_EQ(SplitLines("a\r\n"), (TStringToks { "a", "" }));
    EXPECT_EQ(SplitLines("\n\r\r\n"), (TStringToks { "", "", "", "" })) << "LF CR is two breaks";
}

} // namespace
