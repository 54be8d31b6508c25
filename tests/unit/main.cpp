#include <objbase.h>

#include <gtest/gtest.h>

// Every test runs in a single-threaded apartment, as the engine's clients do.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
