// The main of every test program: each process gets a temporary folder of
// its own, so that tests of one program run side by side (ctest -j) never
// share a file name under ::testing::TempDir().
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv)
{
    std::string folder;
    char pattern[] = "/tmp/orva-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        folder = pattern;
        setenv("TEST_TMPDIR", (folder + "/").c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return result;
}
