// Times level changes until the first top-level window is mapped on the display (the on-screen
// display of a running Vexlo). Each change runs COMMAND with every "%L" in it replaced by the
// level, 20% and 50% in turn (pactl set-sink-volume SINK %L, amixer -q sset Master %L, ...).
// Prints one line per change: "<ms from the command's start> <ms after it returned>", or
// "timeout".
//
//   vexlo_osd_latency COUNT PAUSE_MS COMMAND [ARGS...]
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool Run(const std::vector<std::string>& command, const std::string& level) {
    std::vector<std::string> words;
    for (std::string word : command) {
        for (auto at = word.find("%L"); at != std::string::npos; at = word.find("%L", at)) {
            word.replace(at, 2, level);
            at += level.size();
        }
        words.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
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
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s COUNT PAUSE_MS COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const int pause = std::atoi(argv[2]);
    const std::vector<std::string> command(argv + 3, argv + argc);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    // From a level neither change sets, so that the first one is a change too.
    Run(command, "35%");
    for (int i = 0; i < count; ++i) {
        // The display is gone 1.3 s after a change; wait for that before the next one.
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        Drain(c);
        const std::string level = std::to_string(20 + (i % 2) * 30) + "%";
        const Clock::time_point start = Clock::now();
        if (!Run(command, level)) {
            std::printf("failed\n");
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
