#include "app/command_line.h"
#include "app/open_failure.h"

#include <gtest/gtest.h>

namespace {

using app::ParseCommandLine;

TEST(NextToken, SplitsAtBlanksAndKeepsQuotes) {
    const std::string text = "  first\t\"a b\" \"unterminated c";
    size_t position = 0;
    std::string token;
    ASSERT_TRUE(app::NextToken(text, position, token));
    EXPECT_EQ(token, "first");
    ASSERT_TRUE(app::NextToken(text, position, token));
    EXPECT_EQ(token, "\"a b\"");
    ASSERT_TRUE(app::NextToken(text, position, token));
    EXPECT_EQ(token, "\"unterminated c");
    EXPECT_FALSE(app::NextToken(text, position, token));
    position = 0;
    EXPECT_FALSE(app::NextToken(" \t ", position, token));
}

TEST(ParseCommandLine, PlainPathTakesTheFirstTokenOnly) {
    EXPECT_EQ(ParseCommandLine("\"/a b/c.jpg\"").path, "/a b/c.jpg");
    EXPECT_EQ(ParseCommandLine("/a b/c.jpg").path, "/a") << "unquoted: only the text before the space";
    EXPECT_EQ(ParseCommandLine("/one.jpg /two.jpg").path, "/one.jpg");
    EXPECT_EQ(ParseCommandLine("\"\"").path, "") << "an empty quoted token is an empty path";
    EXPECT_EQ(ParseCommandLine("\"").path, "\"") << "a lone quote is not stripped";
    const auto empty = ParseCommandLine("");
    EXPECT_TRUE(empty.path.empty());
    EXPECT_FALSE(empty.selectEntry);
    EXPECT_TRUE(ParseCommandLine("   ").path.empty());
}

TEST(ParseCommandLine, SelFormSplitsAtTheFirstSeparator) {
    const auto request = ParseCommandLine("-sel \"/x/y.zip::dir/p 1.png\"");
    EXPECT_TRUE(request.selectEntry);
    EXPECT_EQ(request.archivePath, "/x/y.zip");
    EXPECT_EQ(request.entryName, "dir/p 1.png");
    EXPECT_TRUE(request.path.empty());

    const auto upper = ParseCommandLine("-SEL /x.cbz::a::b.jpg ignored");
    EXPECT_TRUE(upper.selectEntry);
    EXPECT_EQ(upper.archivePath, "/x.cbz");
    EXPECT_EQ(upper.entryName, "a::b.jpg") << "everything after the first separator";

    EXPECT_FALSE(ParseCommandLine("-sel /x.zip").selectEntry);
    EXPECT_TRUE(ParseCommandLine("-sel /x.zip").path.empty());
    EXPECT_FALSE(ParseCommandLine("-sel").selectEntry);
}

TEST(ParseCommandLine, SelectColonForm) {
    const auto request = ParseCommandLine("\"-Select:/a b.zip::p.png\"");
    EXPECT_TRUE(request.selectEntry);
    EXPECT_EQ(request.archivePath, "/a b.zip");
    EXPECT_EQ(request.entryName, "p.png");
    EXPECT_FALSE(ParseCommandLine("-select:/a.zip").selectEntry);
    EXPECT_EQ(ParseCommandLine("-select:").path, "-select:") << "exactly eight characters is a plain path";
}

TEST(JoinArguments, QuotesArgumentsWithBlanksSoTheyParseBack) {
    const char* argv[] = {"skimora", "-sel", "/x/y.zip::dir/p 1.png", "extra"};
    const std::string text = app::JoinArguments(4, argv);
    EXPECT_EQ(text, "-sel \"/x/y.zip::dir/p 1.png\" extra");
    EXPECT_EQ(ParseCommandLine(text).entryName, "dir/p 1.png");
    const char* spaced[] = {"skimora", "/a b/c.jpg"};
    EXPECT_EQ(ParseCommandLine(app::JoinArguments(2, spaced)).path, "/a b/c.jpg");
    EXPECT_EQ(app::JoinArguments(1, argv), "");
}

TEST(AbsolutePath, RelativePathsJoinTheWorkingDirectoryAndLoseDotSteps) {
    const std::pair<std::string, std::string> cases[] = {
        {"photo.jpg", "/home/u/photo.jpg"},
        {"./a/b.jpg", "/home/u/a/b.jpg"},
        {"../x.png", "/home/x.png"},
        {"Pictures", "/home/u/Pictures"},
        {"Pictures/", "/home/u/Pictures/"},
        {"/abs//y.jpg", "/abs/y.jpg"},
        {"", ""},
    };
    for (const auto& [typed, absolute] : cases) {
        EXPECT_EQ(app::AbsolutePath(typed, "/home/u"), absolute) << typed;
    }
}

} // namespace
