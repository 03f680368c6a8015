// The built quorlan on this system's platform, with drive tables that need no disc image.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "library_support.h"

namespace {

class QuorlanBinary : public InTempDirectory {
protected:
    // Runs quorlan in the test's directory with CDIF_DRIVES set; returns its exit status.
    int run(const char* drives) {
        std::string command = std::string("CDIF_DRIVES='") + drives + "' '" + QUORLAN_PATH + "'";
        std::FILE* program = popen(command.c_str(), "r");
        EXPECT_NE(program, nullptr);
        if (program == nullptr) return -1;
        output_.clear();
        char chunk[256];
        while (std::size_t got = std::fread(chunk, 1, sizeof chunk, program)) output_.append(chunk, got);
        int status = pclose(program);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output_;
};

TEST_F(QuorlanBinary, NoDriveExitsZeroAndWritesNothing) {
    EXPECT_EQ(run(""), 0);
    EXPECT_EQ(output_, "");
    EXPECT_TRUE(std::filesystem::is_empty(directory_));
}

TEST_F(QuorlanBinary, DriveWithoutDiscExitsOneWithoutListing) {
    EXPECT_EQ(run("empty"), 1);
    EXPECT_EQ(output_, "");
    EXPECT_TRUE(std::filesystem::is_empty(directory_));

    std::FILE* earlier = std::fopen("TOC", "w");
    std::fputs("earlier\n", earlier);
    std::fclose(earlier);
    EXPECT_EQ(run("empty;empty"), 1);
    EXPECT_EQ(read_file("TOC"), "earlier\n");
}

}  // namespace
