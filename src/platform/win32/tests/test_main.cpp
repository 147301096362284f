// Entry of the adapter tests: COM is set up as the program sets it up.
#include <gtest/gtest.h>

// clang-format off
#include "platform/win32/win.h"
#include <ole2.h>
// clang-format on

int main(int argc, char** argv) {
    OleInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
