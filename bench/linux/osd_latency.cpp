// Times level changes made with pactl until the first top-level window is mapped on the
// display (the on-screen display of a running Vexlo). Prints one line per change:
// "<ms from pactl start> <ms after pactl returned>", or "timeout".
//
//   vexlo_osd_latency SINK COUNT [PAUSE_MS]
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool Pactl(const std::string& sink, const std::string& level) {
    const char* argv[] = {"pactl", "set-sink-volume", sink.c_str(), level.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "pactl", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
        0) {
        return false;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Waits for a MapNotify of a child of the root window.
bool WaitForMap(xcb_connection_t* c, Clock::time_point deadline) {
    const int fd = xcb_get_file_descriptor(c);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(e);
            if (mapped) return true;
        }
        pollfd p {fd, POLLIN, 0};
        poll(&p, 1, 1);
    }
    return false;
}

void Drain(xcb_connection_t* c) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) std::free(e);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SINK COUNT [PAUSE_MS]\n", argv[0]);
        return 2;
    }
    const std::string sink = argv[1];
    const int count = std::atoi(argv[2]);
    const int pause = argc > 3 ? std::atoi(argv[3]) : 2000;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    for (int i = 0; i < count; ++i) {
        // The display is gone 1.3 s after a change; wait for that before the next one.
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        Drain(c);
        const std::string level = std::to_string(20 + (i % 2) * 30) + "%";
        const Clock::time_point start = Clock::now();
        if (!Pactl(sink, level)) {
            std::printf("pactl failed\n");
            continue;
        }
        const Clock::time_point returned = Clock::now();
        if (WaitForMap(c, start + std::chrono::seconds(3))) {
            const Clock::time_point mapped = Clock::now();
            std::printf("%.2f %.2f\n", Ms(mapped - start), Ms(mapped - returned));
        } else {
            std::printf("timeout\n");
        }
        std::fflush(stdout);
    }
    xcb_disconnect(c);
    return 0;
}
