// Start-up of a windowed program on an X display (run it under Xvfb): the time
// from starting the program to its first painted top-level window with the
// given title, the peak resident memory by then, and whether the web engine
// is mapped into the process by then. One line of results per run.
// Usage: startup_probe TITLE PROGRAM [ARGS...]
// Prints: <milliseconds> <peak RSS kB> <web engine loaded: 0|1>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

bool HasTitle(Display* display, Window window, const char* title)
{
    char* name = nullptr;
    const bool match = XFetchName(display, window, &name) && name && std::strcmp(name, title) == 0;
    if (name)
        XFree(name);
    return match;
}

// A window that is mapped but not yet drawn holds one colour everywhere.
bool IsPainted(Display* display, Window window)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image)
        return false;
    const unsigned long first = XGetPixel(image, 0, 0);
    bool painted = false;
    for (int y = 0; y < attributes.height && !painted; y += 2)
        for (int x = 0; x < attributes.width && !painted; x += 2)
            painted = XGetPixel(image, x, y) != first;
    XDestroyImage(image);
    return painted;
}

// peak resident set size in kB, -1 when unknown
long PeakRss(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

bool WebEngineMapped(pid_t pid)
{
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("libQt6WebEngine") != std::string::npos)
            return true;
    return false;
}
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_probe TITLE PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "startup_probe: no X display (run under xvfb-run)\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        // the program's own messages would mix with the results
        if (const int null = open("/dev/null", O_WRONLY); null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(argv[2], argv + 2);
        _exit(127);
    }

    Window target = 0;
    const auto deadline = start + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !target && HasTitle(display, event.xmap.window, argv[1]))
                target = event.xmap.window;
        }
        if (target && IsPainted(display, target))
            break;
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "startup_probe: the program ended before its window was painted\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const bool painted = Clock::now() < deadline;
    const long peak = PeakRss(pid);
    const bool webEngine = WebEngineMapped(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(display);
    if (!painted) {
        std::fprintf(stderr, "startup_probe: no painted window \"%s\" within 30 s\n", argv[1]);
        return 1;
    }
    std::printf("%.1f %ld %d\n", ms, peak, webEngine ? 1 : 0);
    return 0;
}
