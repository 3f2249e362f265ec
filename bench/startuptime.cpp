// Start-up time of windowed programs: from starting the process to its first top-level window
// being mapped on the X server in $DISPLAY (an Xvfb without a window manager, so a map request
// maps at once). The programs are started in turn, each run after the previous one was killed,
// and the median of each is printed with its ratio to the first program's.
// Usage: startuptime RUNS PROGRAM... (each PROGRAM one command word)

#include <xcb/xcb.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from spawning the program to the first MapNotify of a child of the root window;
// negative when the program could not be started or exited without mapping a window.
double timeToMap(xcb_connection_t *connection, const char *program)
{
    char *argv[] = {const_cast<char *>(program), nullptr};
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return -1;
    double elapsed = -1;
    while (
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event {xcb_wait_for_event(connection), &std::free}) {
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    // Maps by the dying program (none expected) are not counted against the next one.
    while (xcb_generic_event_t *late = xcb_poll_for_event(connection))
        std::free(late);
    return elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM...\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot connect to the X server in DISPLAY\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const int programs = argc - 2;
    std::vector<std::vector<double>> times(programs);
    for (int run = 0; run < runs + 1; ++run) { // the first round warms the caches and is dropped
        for (int p = 0; p < programs; ++p) {
            const double ms = timeToMap(connection, argv[2 + p]);
            if (ms < 0) {
                std::fprintf(stderr, "%s: no window was mapped\n", argv[2 + p]);
                return 1;
            }
            if (run > 0)
                times[p].push_back(ms);
        }
    }
    const double reference = median(times[0]);
    for (int p = 0; p < programs; ++p) {
        const double m = median(times[p]);
        std::printf("%-40s median %6.1f ms of %d (range %.1f-%.1f)  %.2fx\n", argv[2 + p], m, runs,
                    *std::min_element(times[p].begin(), times[p].end()),
                    *std::max_element(times[p].begin(), times[p].end()), m / reference);
    }
    xcb_disconnect(connection);
    return 0;
}
