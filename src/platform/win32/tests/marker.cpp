// Test helper standing in for a mixer program: writes the command line it was started with
// into the file named by its first argument, then ends. Started without arguments (as the
// system's volume control is), it writes into a file beside itself: its own path + ".txt".
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    std::string target;
    if (argc >= 2) {
        target = argv[1];
    } else {
        char self[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return 2;
        target = std::string(self, n) + ".txt";
    }
    std::FILE* out = std::fopen(target.c_str(), "w");
    if (!out) return 1;
    std::fputs(GetCommandLineA(), out);
    std::fclose(out);
    return 0;
}
