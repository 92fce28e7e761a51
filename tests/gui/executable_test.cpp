// The real skimora binary on the test's X server: it shows the image named on its command line, and
// closing its window ends the process normally (threads joined, settings written).

#include "decode/heif_decoder.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Last: Xlib defines macros (None, Bool, Status) that other headers use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

std::string WindowName(Display* display, Window window) {
    const Atom utf8Name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, utf8Name, 0, 1024, False, utf8String, &type, &format, &count,
                           &remaining, &data) == Success &&
        data != nullptr) {
        name.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return name;
}

// The top-level window whose title contains `text`, among the root window's children.
std::optional<Window> FindWindow(Display* display, const std::string& text) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
        return std::nullopt;
    }
    std::optional<Window> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        if (WindowName(display, children[i]).find(text) != std::string::npos) {
            found = children[i];
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

void RequestClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

// Waits for the child to end; its exit status, or nothing when it had to be killed.
std::optional<int> WaitForExit(pid_t child) {
    for (int i = 0; i < 600; ++i) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return std::nullopt;
}

// The environment for a child skimora: its own settings folder, no leak report.
std::vector<std::string> ChildEnvironment(const std::string& configHome) {
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + configHome, "ASAN_OPTIONS=detect_leaks=0"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "XDG_CONFIG_HOME=", 16) != 0 &&
            std::strncmp(*variable, "ASAN_OPTIONS=", 13) != 0) {
            environment.emplace_back(*variable);
        }
    }
    return environment;
}

// Starts skimora with `arguments`; in `workingDirectory` and with its standard error written to
// `errorFile` when they are given.
pid_t SpawnSkimora(std::vector<std::string> arguments, std::vector<std::string> environment,
                   const std::string& workingDirectory = {}, const std::string& errorFile = {}) {
    const std::string program = std::string(SKIMORA_BIN_DIR) + "/skimora";
    std::vector<char*> environmentPointers;
    for (std::string& variable : environment) {
        environmentPointers.push_back(variable.data());
    }
    environmentPointers.push_back(nullptr);
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argumentPointers;
    for (std::string& argument : arguments) {
        argumentPointers.push_back(argument.data());
    }
    argumentPointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    }
    if (!errorFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t child = 0;
    const int result = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argumentPointers.data(),
                                     environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? child : 0;
}

// Runs an xdotool command line; its standard output without the final newline.
std::string Xdotool(const std::string& arguments) {
    std::string output;
    FILE* pipe = ::popen(("xdotool " + arguments + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    ::pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
        output.pop_back();
    }
    return output;
}

// The colour (0xRRGGBB) at a point of a window as the X server shows it; polled until it is `expected`.
unsigned long WaitForColour(Display* display, Window window, int x, int y, unsigned long expected) {
    unsigned long colour = 0;
    for (int i = 0; i < 200; ++i) {
        if (XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap)) {
            colour = XGetPixel(image, 0, 0) & 0xFFFFFF;
            XDestroyImage(image);
        }
        if (colour == expected) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return colour;
}

// The id of the window whose title matches the xdotool pattern, waiting for it to appear.
std::string WaitForWindow(const std::string& pattern) {
    std::string window;
    for (int i = 0; i < 600 && window.empty(); ++i) {
        window = Xdotool("search --name '" + pattern + "'");
        if (window.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return window.substr(0, window.find('\n'));
}

// Polls the grey level (green channel) of the screen at the centre of `window` until it is within 12 of
// `level`; the last level read.
int WaitForCentreGrey(Display* display, Window window, int level) {
    int read = -1;
    for (int i = 0; i < 400; ++i) {
        XWindowAttributes attributes{};
        Window child = 0;
        int x = 0;
        int y = 0;
        if (XGetWindowAttributes(display, window, &attributes) != 0 &&
            XTranslateCoordinates(display, window, DefaultRootWindow(display), attributes.width / 2,
                                  attributes.height / 2, &x, &y, &child) != 0) {
            if (XImage* image =
                    XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap)) {
                read = static_cast<int>((XGetPixel(image, 0, 0) >> 8) & 0xFF);
                XDestroyImage(image);
            }
        }
        if (read >= level - 12 && read <= level + 12) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return read;
}

// Polls until the title xdotool reads for `window` is `expected`; the last title read.
std::string WaitForTitle(const std::string& window, const std::string& expected) {
    std::string title;
    for (int i = 0; i < 600; ++i) {
        title = Xdotool("getwindowname " + window);
        if (title == expected) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return title;
}

TEST(SkimoraExecutable, EndToEndAWheelTurnOverTheWindowShowsTheNextImage) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        GTEST_SKIP() << "no X display";
    }
    if (Xdotool("version").empty()) {
        GTEST_SKIP() << "xdotool is not installed";
    }
    testing_support::TemporaryDirectory folder;
    const auto shade = [](uint8_t level) {
        return testing_support::EncodeJpeg(320, 200, [level](uint32_t, uint32_t) {
            return testing_support::Rgb{level, level, level};
        });
    };
    const std::string first = folder.Write("album/01.jpg", shade(60));
    folder.Write("album/02.jpg", shade(120));
    folder.Write("album/10.jpg", shade(180));
    const pid_t child = SpawnSkimora({first}, ChildEnvironment(folder.File("config")));
    ASSERT_NE(child, 0);

    const std::string window = WaitForWindow("album/01.jpg \\[1/3\\]");
    ASSERT_FALSE(window.empty()) << "no window titled after the first image";
    EXPECT_EQ(WaitForTitle(window, "album/01.jpg [1/3] - 스키모라"), "album/01.jpg [1/3] - 스키모라");

    // One wheel notch down over the window (button 5) turns to the next image in natural order.
    Xdotool("mousemove --window " + window + " 200 200");
    Xdotool("click 5");
    EXPECT_EQ(WaitForTitle(window, "album/02.jpg [2/3] - 스키모라"), "album/02.jpg [2/3] - 스키모라");

    RequestClose(display.get(), static_cast<Window>(std::stoul(window)));
    EXPECT_EQ(WaitForExit(child), std::optional<int>(0));
}

TEST(SkimoraExecutable, ShowsTheCommandLineImageAndEndsNormallyWhenClosed) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        GTEST_SKIP() << "no X display";
    }
    testing_support::TemporaryDirectory folder;
    const std::string image =
        folder.Write("shots/only.jpg", testing_support::EncodeJpeg(64, 48, [](uint32_t x, uint32_t y) {
                         return testing_support::Rgb{uint8_t(x), uint8_t(y), 90};
                     }));
    const std::string configHome = folder.File("config");

    const std::string program = std::string(SKIMORA_BIN_DIR) + "/skimora";
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + configHome, "ASAN_OPTIONS=detect_leaks=0"};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "XDG_CONFIG_HOME=", 16) != 0 &&
            std::strncmp(*variable, "ASAN_OPTIONS=", 13) != 0) {
            environment.emplace_back(*variable);
        }
    }
    std::vector<char*> environmentPointers;
    for (std::string& variable : environment) {
        environmentPointers.push_back(variable.data());
    }
    environmentPointers.push_back(nullptr);
    std::string programArgument = program;
    std::string imageArgument = image;
    char* arguments[] = {programArgument.data(), imageArgument.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environmentPointers.data()),
              0);

    std::optional<Window> window;
    for (int i = 0; i < 600 && !window; ++i) {
        window = FindWindow(display.get(), "shots/only.jpg [1/1] - 스키모라");
        if (!window) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_TRUE(window) << "no window titled after the image";
    if (!window) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return;
    }
    RequestClose(display.get(), *window);
    EXPECT_EQ(WaitForExit(child), std::optional<int>(0));
    EXPECT_TRUE(std::filesystem::exists(configHome + "/skimora/settings.reg"));
}

TEST(SkimoraExecutable, EndToEndAPdfOnTheCommandLineOpensAtPageOneAndTheKeysAndWheelTurnIt) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        GTEST_SKIP() << "no X display";
    }
    if (Xdotool("version").empty()) {
        GTEST_SKIP() << "xdotool is not installed";
    }
    testing_support::TemporaryDirectory folder;
    const std::string document =
        folder.Write("docs/manual.pdf", testing_support::MakePdf({{612, 792, "1 0 0 rg 0 0 612 792 re f"},
                                                                  {612, 792, "0 0 1 rg 0 0 612 792 re f"},
                                                                  {612, 792, ""}}));
    const pid_t child = SpawnSkimora({document}, ChildEnvironment(folder.File("config")));
    ASSERT_NE(child, 0);

    const std::string window = WaitForWindow("manual.pdf \\[1/3\\]");
    ASSERT_FALSE(window.empty()) << "no window titled after the first page";
    EXPECT_EQ(WaitForTitle(window, "manual.pdf [1/3] - 스키모라"), "manual.pdf [1/3] - 스키모라");
    // The page fills the middle of the window: red on page 1, blue on page 2.
    const auto handle = static_cast<Window>(std::stoul(window));
    XWindowAttributes attributes{};
    XGetWindowAttributes(display.get(), handle, &attributes);
    const int centreX = attributes.width / 2;
    const int centreY = attributes.height / 2;
    EXPECT_EQ(WaitForColour(display.get(), handle, centreX, centreY, 0xFF0000), 0xFF0000u);

    // End goes to the last page; a wheel notch up turns back one page.
    Xdotool("windowfocus --sync " + window);
    Xdotool("key End");
    EXPECT_EQ(WaitForTitle(window, "manual.pdf [3/3] - 스키모라"), "manual.pdf [3/3] - 스키모라");
    EXPECT_EQ(WaitForColour(display.get(), handle, centreX, centreY, 0xFFFFFF), 0xFFFFFFu);
    Xdotool("mousemove --window " + window + " 200 200");
    Xdotool("click 4");
    EXPECT_EQ(WaitForTitle(window, "manual.pdf [2/3] - 스키모라"), "manual.pdf [2/3] - 스키모라");
    EXPECT_EQ(WaitForColour(display.get(), handle, centreX, centreY, 0x0000FF), 0x0000FFu);

    RequestClose(display.get(), handle);
    EXPECT_EQ(WaitForExit(child), std::optional<int>(0));
}

} // namespace

TEST(SkimoraExecutable, EndToEndAComicArchiveOpensAtTheSelectedEntryAndTheWheelTurnsItsPages) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        GTEST_SKIP() << "no X display";
    }
    if (Xdotool("version").empty() || std::system("command -v zip >/dev/null") != 0) {
        GTEST_SKIP() << "xdotool or zip is not installed";
    }
    testing_support::TemporaryDirectory folder;
    for (const int page : {1, 2, 3}) {
        folder.Write("pages/p0" + std::to_string(page) + ".jpg",
                     testing_support::EncodeJpeg(320, 200, [page](uint32_t, uint32_t) {
                         const auto level = static_cast<uint8_t>(page * 60);
                         return testing_support::Rgb{level, level, level};
                     }));
    }
    const std::string book = folder.File("book.cbz");
    ASSERT_EQ(std::system(("cd '" + folder.Path().string() + "' && zip -q -r book.cbz pages").c_str()), 0);

    // Opened at its second page the way a shell integration asks for it.
    const pid_t child =
        SpawnSkimora({"-sel", book + "::pages/p02.jpg"}, ChildEnvironment(folder.File("config")));
    ASSERT_NE(child, 0);
    const std::string window = WaitForWindow("book.cbz::pages/p02.jpg \\[2/3\\]");
    ASSERT_FALSE(window.empty()) << "no window titled after the selected entry";

    const auto id = static_cast<Window>(std::stoul(window));
    // Each page is extracted and decoded in memory: the canvas shows its grey (60, 120, 180).
    EXPECT_NEAR(WaitForCentreGrey(display.get(), id, 120), 120, 12);
    Xdotool("mousemove --window " + window + " 200 200");
    Xdotool("click 5");
    EXPECT_EQ(WaitForTitle(window, "book.cbz::pages/p03.jpg [3/3] - 스키모라"),
              "book.cbz::pages/p03.jpg [3/3] - 스키모라");
    EXPECT_NEAR(WaitForCentreGrey(display.get(), id, 180), 180, 12);
    Xdotool("click 4");
    EXPECT_NEAR(WaitForCentreGrey(display.get(), id, 120), 120, 12);
    Xdotool("click 4");
    EXPECT_EQ(WaitForTitle(window, "book.cbz::pages/p01.jpg [1/3] - 스키모라"),
              "book.cbz::pages/p01.jpg [1/3] - 스키모라");
    EXPECT_NEAR(WaitForCentreGrey(display.get(), id, 60), 60, 12);

    RequestClose(display.get(), static_cast<Window>(std::stoul(window)));
    EXPECT_EQ(WaitForExit(child), std::optional<int>(0));
}

TEST(SkimoraExecutable, ShowsAHeifPictureNamedOnTheCommandLine) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        GTEST_SKIP() << "no X display";
    }
    SKIP_WITHOUT_SAMPLES();
    testing_support::TemporaryDirectory folder;
    const std::string picture = (testing_support::SamplesDir() / "heif/pillow_hopper.heif").string();
    const pid_t child = SpawnSkimora({picture}, ChildEnvironment(folder.File("config")));
    ASSERT_NE(child, 0);
    std::optional<Window> window;
    for (int i = 0; i < 600 && !window; ++i) {
        window = FindWindow(display.get(), "pillow_hopper.heif [");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(window) << "no window titled after the picture";
    const auto centre = [&]() -> unsigned long {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display.get(), *window, &attributes);
        XImage* image = XGetImage(display.get(), *window, attributes.width / 2, attributes.height / 2, 1, 1,
                                  AllPlanes, ZPixmap);
        const unsigned long pixel = image != nullptr ? XGetPixel(image, 0, 0) & 0xFFFFFF : 0x202020;
        if (image != nullptr) {
            XDestroyImage(image);
        }
        return pixel;
    };
    // The 128 x 128 picture is drawn unscaled in the middle: the window's centre shows its centre.
    decode::HeifDecoder decoder;
    ASSERT_TRUE(decoder.Load(picture, 0, 0, false));
    const uint8_t* expected = decoder.GetPixels() + 64 * decoder.GetStride() + 64 * 4;
    const auto matches = [&](unsigned long pixel) {
        return std::abs(int(pixel >> 16 & 0xFF) - expected[2]) < 24 &&
               std::abs(int(pixel >> 8 & 0xFF) - expected[1]) < 24 &&
               std::abs(int(pixel & 0xFF) - expected[0]) < 24;
    };
    unsigned long pixel = centre();
    for (int i = 0; i < 1200 && !matches(pixel); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pixel = centre();
    }
    EXPECT_TRUE(matches(pixel)) << "the window's centre shows " << std::hex << pixel;
    RequestClose(display.get(), *window);
    EXPECT_EQ(WaitForExit(child), std::optional<int>(0));
}

namespace {

// The count of near-white pixels in the middle third of the window: the centred failure notice's text.
int BrightPixelsInTheMiddle(Display* display, Window window) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0 || attributes.width < 3 ||
        attributes.height < 3) {
        return 0;
    }
    const int width = attributes.width / 3;
    const int height = attributes.height / 3;
    XImage* image = XGetImage(display, window, width, height, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return 0;
    }
    int bright = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            bright += ((pixel >> 16) & 0xFF) > 200 && ((pixel >> 8) & 0xFF) > 200 && (pixel & 0xFF) > 200;
        }
    }
    XDestroyImage(image);
    return bright;
}

std::string ReadText(const std::string& path) {
    std::ifstream stream(path);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace

// Paths as people type them: folders with and without the slash, relative paths, and what cannot be
// opened (told on standard error and in the window, never a silent welcome screen).
TEST(SkimoraExecutable, EndToEndPathsAsTypedAndWhatCannotBeOpened) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        GTEST_SKIP() << "no X display";
    }
    if (Xdotool("version").empty()) {
        GTEST_SKIP() << "xdotool is not installed";
    }
    testing_support::TemporaryDirectory folder;
    const auto image = testing_support::EncodeJpeg(64, 48, [](uint32_t, uint32_t) {
        return testing_support::Rgb{90, 90, 90};
    });
    folder.Write("album/b.jpg", image);
    folder.Write("album/a.jpg", image);
    folder.Write("album/c.jpg", image);
    folder.Write("broken/x.jpg", std::string(300, '\x55'));
    const std::string root = folder.Path().string();

    struct Case {
        std::string argument;
        std::string title;   // a title the window reaches
        std::string error;   // the standard-error line, empty for none
        bool notice = false; // the centred failure notice is drawn
    };
    const Case cases[] = {
        {"album", "album/a.jpg [1/3] - 스키모라", "", false},
        {root + "/album/", "album/a.jpg [1/3] - 스키모라", "", false},
        {"./album/b.jpg", "album/b.jpg [2/3] - 스키모라", "", false},
        {"missing.jpg", "missing.jpg - 스키모라",
         "skimora: cannot open " + root + "/missing.jpg: no such file or directory\n", true},
        {"broken/x.jpg", "broken/x.jpg [1/1] - 스키모라",
         "skimora: cannot open " + root + "/broken/x.jpg: the image cannot be decoded\n", true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.argument);
        const std::string errors = folder.File("stderr.txt");
        const pid_t child =
            SpawnSkimora({test.argument}, ChildEnvironment(folder.File("config")), root, errors);
        ASSERT_NE(child, 0);
        std::string window;
        for (int i = 0; i < 600 && window.empty(); ++i) {
            window = Xdotool("search --name '스키모라'");
            if (window.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        window = window.substr(0, window.find('\n'));
        ASSERT_FALSE(window.empty());
        EXPECT_EQ(WaitForTitle(window, test.title), test.title);
        if (!test.error.empty()) {
            std::string written;
            for (int i = 0; i < 400 && written.find("cannot open") == std::string::npos; ++i) {
                written = ReadText(errors);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            // Exactly one line says so (Qt may write its own notes beside it).
            const size_t found = written.find(test.error);
            EXPECT_NE(found, std::string::npos) << written;
            EXPECT_EQ(written.find("cannot open", found + test.error.size()), std::string::npos) << written;
        }
        const Window handle = static_cast<Window>(std::stoul(window));
        int bright = 0;
        for (int i = 0; i < 100 && test.notice && bright == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            bright = BrightPixelsInTheMiddle(display.get(), handle);
        }
        if (test.notice) {
            EXPECT_GT(bright, 20);
        } else {
            EXPECT_EQ(BrightPixelsInTheMiddle(display.get(), handle), 0);
        }
        RequestClose(display.get(), handle);
        EXPECT_EQ(WaitForExit(child), std::optional<int>(0));
        if (test.error.empty()) {
            EXPECT_EQ(ReadText(errors).find("cannot open"), std::string::npos);
        }
    }
}
