// tremick's track loop in-process, over tables of contents no cue sheet can describe: tracks
// whose next record does not start after them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "scripted_library.h"
#include "tremick/tremick.h"

namespace fs = std::filesystem;

namespace {

class DataTracks : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "data-tracks-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        previous = fs::current_path();
        fs::current_path(folder);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(folder);
    }
    std::string rip() {
        testing::internal::CaptureStdout();
        EXPECT_EQ(rip_data_tracks(), 1);
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
    fs::path folder, previous;
};

TEST_F(DataTracks, TrackWithoutSectors) {
    scripted::load({{100, false}, {100, false}, {300, false}});
    EXPECT_EQ(rip().rfind("Reading Track 01 ( remainder 1 ).\nReading Track 02 ( remainder 3 ).\n", 0), 0u);
    EXPECT_EQ(fs::file_size("01.iso"), 0u);
    EXPECT_EQ(fs::file_size("02.iso"), 200u * 2048);
    std::ifstream image("02.iso", std::ios::binary);
    image.seekg(2048 * 199);
    EXPECT_EQ(image.get(), 299 & 0xFF);  // the last sector is LBA 299
    EXPECT_EQ(rip(), "");         // an empty image is complete when the count is 0
}

TEST_F(DataTracks, NextRecordBeforeTheTrack) {
    scripted::load({{500, false}, {100, true}, {600, false}});
    std::ofstream("01.iso") << "old";
    EXPECT_EQ(rip(), "Reading Track 01 ( remainder -3 ).\n");  // count -400
    EXPECT_EQ(fs::file_size("01.iso"), 0u);
    EXPECT_EQ(rip(), "Reading Track 01 ( remainder -3 ).\n");  // empty is complete only for count 0
}

}  // namespace
