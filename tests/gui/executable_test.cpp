// The real skimora binary on the test's X server: it shows the image named on its command line, and
// closing its window ends the process normally (threads joined, settings written).

#include "tests/support/jpeg_writer.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <signal.h>
#include <spawn.h>
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

pid_t SpawnSkimora(const std::string& argument, std::vector<std::string> environment) {
    const std::string program = std::string(SKIMORA_BIN_DIR) + "/skimora";
    std::vector<char*> environmentPointers;
    for (std::string& variable : environment) {
        environmentPointers.push_back(variable.data());
    }
    environmentPointers.push_back(nullptr);
    std::string programArgument = program;
    std::string pathArgument = argument;
    char* arguments[] = {programArgument.data(), pathArgument.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environmentPointers.data()) !=
        0) {
        return 0;
    }
    return child;
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

// The first window whose name matches the pattern (xdotool search --name), polled for up to 30 s; empty
// when none appears.
std::string WaitForWindowNamed(const std::string& pattern) {
    std::string window;
    for (int i = 0; i < 600 && window.empty(); ++i) {
        window = Xdotool("search --name '" + pattern + "'");
        if (window.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return window.substr(0, window.find('\n'));
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
    const pid_t child = SpawnSkimora(first, ChildEnvironment(folder.File("config")));
    ASSERT_NE(child, 0);

    const std::string window = WaitForWindowNamed("album/01.jpg \\[1/3\\]");
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
    const pid_t child = SpawnSkimora(document, ChildEnvironment(folder.File("config")));
    ASSERT_NE(child, 0);

    const std::string window = WaitForWindowNamed("manual.pdf \\[1/3\\]");
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
