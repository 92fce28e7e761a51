// Runs the real executables the way users and scripts do.

#include "tests/support/jpeg_writer.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
};

std::string Quote(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    // No display: the window build must answer from the command line alone.
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM SKIMORA_TRACE=0 "
                          "XDG_CONFIG_HOME=/proc/skimora-none " +
                          Quote(std::string(SKIMORA_BIN_DIR) + "/" + program);
    for (const auto& argument : arguments) {
        command += " " + Quote(argument);
    }
    command += " 2>&1";
    Outcome outcome;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return outcome;
    }
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        outcome.output.append(buffer.data(), got);
    }
    const int status = ::pclose(pipe);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

TEST(SkimoraDecode, FailsWithOneLineReasonOnBadItems) {
    testing_support::TemporaryDirectory folder;
    const std::string empty = folder.Write("empty.png", std::string());
    const std::string garbage = folder.Write("garbage.png", std::string(1000, '\x7F'));
    for (const std::string& item : {folder.File("missing.jpg"), empty, garbage, folder.Path().string(),
                                    folder.File("missing.zip") + "::a.png"}) {
        const Outcome outcome = RunProgram("skimora-decode", {item});
        EXPECT_EQ(outcome.exitCode, 1) << item << ": " << outcome.output;
        EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 1) << outcome.output;
    }
    EXPECT_EQ(RunProgram("skimora-decode", {"--max", "axb", garbage}).exitCode, 1);
    EXPECT_EQ(RunProgram("skimora-decode", {}).exitCode, 2);
    EXPECT_EQ(RunProgram("skimora-decode", {"--help"}).exitCode, 0);
}

TEST(SkimoraDecode, ListsAnArchiveInTheViewersOrderAndDecodesOneEntry) {
    testing_support::TemporaryDirectory folder;
    for (const int page : {10, 2}) {
        folder.Write("book/p" + std::to_string(page) + ".jpg",
                     testing_support::EncodeJpeg(40 + page, 30, [](uint32_t, uint32_t) {
                         return testing_support::Rgb{90, 90, 90};
                     }));
    }
    if (std::system(("cd " + Quote(folder.Path().string()) + " && zip -q -r book.cbz book").c_str()) != 0) {
        GTEST_SKIP() << "zip is not installed";
    }
    const std::string book = folder.File("book.cbz");
    const Outcome listing = RunProgram("skimora-decode", {"--list", book, "--sort", "1"});
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.output, book + "::book/p2.jpg\n" + book + "::book/p10.jpg\ncurrent 0\n");
    const Outcome decoded = RunProgram("skimora-decode", {book + "::book/p10.jpg"});
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.output, "50x30\n");
    EXPECT_EQ(RunProgram("skimora-decode", {book + "::book/p3.jpg"}).exitCode, 1);
}

#ifdef SKIMORA_WITH_WINDOW
TEST(SkimoraDecode, RendersAndListsThePagesOfAPdfDocument) {
    testing_support::TemporaryDirectory folder;
    const std::string document = folder.Write("doc.pdf", testing_support::MakePdf({{}, {612, 792, ""}, {}}));
    const Outcome page = RunProgram("skimora-decode", {"--max", "1920x1080", document + "::1"});
    EXPECT_EQ(page.exitCode, 0) << page.output;
    EXPECT_EQ(page.output, "834x1080\n");
    const Outcome listing = RunProgram("skimora-decode", {"--list", document});
    EXPECT_EQ(listing.output, document + "::0\n" + document + "::1\n" + document + "::2\ncurrent 0\n");
    for (const std::string& item : {document + "::3", document + "::one"}) {
        EXPECT_EQ(RunProgram("skimora-decode", {item}).exitCode, 1) << item;
    }
}

TEST(Skimora, FailsCleanlyWithoutADisplayButAnswersHelpAndVersion) {
    const Outcome plain = RunProgram("skimora", {"/a b/c.jpg"});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_NE(plain.output.find("no display"), std::string::npos) << plain.output;
#else
TEST(Skimora, ReportsWhatItWouldOpenFromTheRebuiltCommandLine) {
    const Outcome plain = RunProgram("skimora", {"/a b/c.jpg"});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_NE(plain.output.find("would open: /a b/c.jpg"), std::string::npos) << plain.output;

    const Outcome select = RunProgram("skimora", {"-sel", "/x/y.zip::dir/p 1.png"});
    EXPECT_EQ(select.exitCode, 0);
    EXPECT_NE(select.output.find("/x/y.zip (entry: dir/p 1.png)"), std::string::npos) << select.output;
#endif

    EXPECT_EQ(RunProgram("skimora", {"--help"}).exitCode, 0);
    const Outcome version = RunProgram("skimora", {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("skimora ", 0), 0u);
}

} // namespace
