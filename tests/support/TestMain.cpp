// The entry of every test program.
#include <gtest/gtest.h>

#include <windows.h>

int main(int argc, char** argv) {
    // The runner's pipes stay out of every child started from here, whoever starts it: under Wine a child that
    // outlives this program with a copy of them keeps the runner waiting for their end.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
