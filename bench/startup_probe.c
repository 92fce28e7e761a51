/* Helper of bench/startup.sh, compiled by it.
 *
 *   startup_probe generate OUT.jpg WIDTH HEIGHT
 *       Writes a JPEG of noisy gradients whose central third is the marker colour.
 *   startup_probe time TIMEOUT_MS PROGRAM [ARGS...]
 *       Starts PROGRAM, polls the screen at the centre of every top-level window until one shows the
 *       marker colour, prints the milliseconds since the start and ends the program. Exit status 1 on
 *       a timeout.
 *
 * Reading one pixel of the root window per candidate window keeps each poll far below a millisecond,
 * so the poll itself does not blur the measurement. Run under an X server without a compositor (Xvfb):
 * the root window's contents are then what is on the screen. */

#define _DEFAULT_SOURCE

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <turbojpeg.h>
#include <unistd.h>

enum { kMarkerRed = 30, kMarkerGreen = 160, kMarkerBlue = 220, kTolerance = 28 };

/* Windows come and go between listing and reading them; such errors only mean "not this one". */
static int IgnoreXError(Display* display, XErrorEvent* error) {
    (void)display;
    (void)error;
    return 0;
}

static double NowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
}

static int Generate(const char* path, int width, int height) {
    if (width < 16 || height < 16 || width > 20000 || height > 20000) {
        fprintf(stderr, "startup_probe: bad size\n");
        return 2;
    }
    unsigned char* rgb = malloc((size_t)width * (size_t)height * 3);
    if (rgb == NULL) {
        return 2;
    }
    unsigned int seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = rgb + ((size_t)y * (size_t)width + (size_t)x) * 3;
            const int inCentre = x > width / 3 && x < 2 * width / 3 && y > height / 3 && y < 2 * height / 3;
            seed = seed * 1103515245u + 12345u;
            const int noise = (int)((seed >> 16) & 31) - 16;
            if (inCentre) {
                pixel[0] = kMarkerRed;
                pixel[1] = kMarkerGreen;
                pixel[2] = kMarkerBlue;
            } else {
                const int r = x * 255 / width + noise;
                const int g = y * 255 / height + noise;
                const int b = 128 + noise;
                pixel[0] = (unsigned char)(r < 0 ? 0 : r > 255 ? 255 : r);
                pixel[1] = (unsigned char)(g < 0 ? 0 : g > 255 ? 255 : g);
                pixel[2] = (unsigned char)b;
            }
        }
    }
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = NULL;
    unsigned long size = 0;
    const int failed = compressor == NULL || tjCompress2(compressor, rgb, width, 0, height, TJPF_RGB, &jpeg,
                                                         &size, TJSAMP_420, 90, TJFLAG_FASTDCT) != 0;
    free(rgb);
    if (failed) {
        fprintf(stderr, "startup_probe: encoding failed\n");
        return 2;
    }
    FILE* out = fopen(path, "wb");
    const int written = out != NULL && fwrite(jpeg, 1, size, out) == size;
    if (out != NULL) {
        fclose(out);
    }
    tjFree(jpeg);
    tjDestroy(compressor);
    return written ? 0 : 2;
}

static int IsMarker(unsigned long pixel, const XImage* image) {
    const unsigned long red = (pixel & image->red_mask) >> 16;
    const unsigned long green = (pixel & image->green_mask) >> 8;
    const unsigned long blue = pixel & image->blue_mask;
    return labs((long)red - kMarkerRed) <= kTolerance && labs((long)green - kMarkerGreen) <= kTolerance &&
           labs((long)blue - kMarkerBlue) <= kTolerance;
}

/* Whether any mapped top-level window larger than 64 x 64 shows the marker at its centre. */
static int MarkerShown(Display* display) {
    Window root = DefaultRootWindow(display);
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = NULL;
    unsigned int count = 0;
    int shown = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) == 0) {
        return 0;
    }
    for (unsigned int i = 0; i < count && !shown; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) == 0 ||
            attributes.map_state != IsViewable || attributes.width < 64 || attributes.height < 64) {
            continue;
        }
        const int x = attributes.x + attributes.width / 2;
        const int y = attributes.y + attributes.height / 2;
        if (x < 0 || y < 0 || x >= DisplayWidth(display, 0) || y >= DisplayHeight(display, 0)) {
            continue;
        }
        XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image != NULL) {
            shown = IsMarker(XGetPixel(image, 0, 0), image);
            XDestroyImage(image);
        }
    }
    if (children != NULL) {
        XFree(children);
    }
    return shown;
}

static int TimeStartup(int timeoutMs, char** command) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "startup_probe: no display\n");
        return 2;
    }
    XSetErrorHandler(IgnoreXError);
    const double start = NowMs();
    const pid_t child = fork();
    if (child == 0) {
        /* The viewer must not hold the caller's output open after the probe ends. */
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(command[0], command);
        _exit(127);
    }
    if (child < 0) {
        return 2;
    }
    int result = 1;
    while (NowMs() - start < timeoutMs) {
        if (MarkerShown(display)) {
            printf("%.1f\n", NowMs() - start);
            result = 0;
            break;
        }
        if (waitpid(child, NULL, WNOHANG) == child) {
            fprintf(stderr, "startup_probe: %s ended early\n", command[0]);
            XCloseDisplay(display);
            return 1;
        }
        usleep(1000);
    }
    kill(child, SIGTERM);
    for (int i = 0; i < 200 && waitpid(child, NULL, WNOHANG) != child; ++i) {
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
    XCloseDisplay(display);
    return result;
}

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "generate") == 0) {
        return Generate(argv[2], atoi(argv[3]), atoi(argv[4]));
    }
    if (argc >= 4 && strcmp(argv[1], "time") == 0) {
        return TimeStartup(atoi(argv[2]), argv + 3);
    }
    fprintf(stderr, "usage: startup_probe generate OUT.jpg W H | time TIMEOUT_MS PROGRAM [ARGS...]\n");
    return 2;
}
