// Reads through the window give a file's bytes wherever they fall, and nothing past its end.
#include <random>

#include "drive_helpers.h"
#include "image_files.h"

using namespace disc_image_test;
using disc_image::ImageFiles;

namespace {

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

TEST(ImageFiles, ReadsAnywhereInAnyFile) {
    constexpr std::size_t kWindow = ImageFiles::kWindowSize;
    TempDir dir;
    const std::string contents[] = {random_bytes(2 * kWindow + 1000, 1), random_bytes(3000, 2)};
    dir.write("a.bin", contents[0]);
    dir.write("b.bin", contents[1]);
    ImageFiles files;
    ASSERT_FALSE(files.open(dir / "a.bin"));
    ASSERT_FALSE(files.open(dir / "b.bin"));
    EXPECT_TRUE(files.open(dir / "missing.bin"));
    EXPECT_EQ(files.count(), 2u);

    struct Read {
        std::size_t file;
        std::uint64_t offset;
        std::size_t size;
        bool served;
    };
    const Read reads[] = {
        {0, 0, 2352, true},    {1, 100, 2352, true},  // from one file to the other and back
        {0, 2352, 2352, true}, {0, kWindow - 1000, 2352, true},  // across the window's end
        {0, 10, 100, true},                                       // backwards
        {0, 2 * kWindow + 1000 - 2352, 2352, true},               // a file's last bytes
        {0, 2 * kWindow + 1000 - 100, 2352, false}, {1, 3000, 1, false}, {2, 0, 1, false},
        {0, 0, kWindow + 1, false},  // more than a window
    };
    for (const Read& read : reads) {
        std::vector<std::uint8_t> out(read.size);
        ASSERT_EQ(files.read(read.file, read.offset, out), read.served) << read.file << "@" << read.offset;
        if (!read.served) continue;
        EXPECT_EQ(std::string(out.begin(), out.end()), contents[read.file].substr(read.offset, read.size))
            << read.file << "@" << read.offset;
    }
}

}  // namespace
