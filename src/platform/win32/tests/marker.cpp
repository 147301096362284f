// Test helper standing in for a mixer program: writes the command line it was started with
// into the file named by its first argument, then ends.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) return 1;
    std::fputs(GetCommandLineA(), out);
    std::fclose(out);
    return 0;
}
