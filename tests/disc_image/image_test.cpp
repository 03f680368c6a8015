// Images: cue sheets that lay out as intended, bad images refused with the sheet's line and the
// reason, drives without a disc, CDIF_DRIVES entries, and the windowed reader of image files.
#include <array>
#include <random>

#include "disc.h"
#include "drive_entry.h"
#include "drive_helpers.h"
#include "image_files.h"
#include "wave_chunks.h"

using namespace disc_image_test;

namespace {

// Session, first sector (PREGAP included), INDEX 01, end (POSTGAP included).
using Layout = std::array<std::int32_t, 4>;

struct Image {
    const char* name;
    Files files;                                       // the first is the image; '@' stands for its folder
    std::vector<Layout> tracks;
    std::vector<std::pair<std::int32_t, char>> bytes;  // byte 16 of the whole sector at an LBA
};

std::string sectors(int count, char fill, int size = 2352) { return std::string(count * size, fill); }

const Image kImages[] = {
    // Track 1: file sectors 0-29 and 5 POSTGAP; track 2: 75 PREGAP, file sectors 30-99, 5 POSTGAP.
    {"OneFileWithGapsFlagsAndLooseSpelling",
     {{"one.cue", "\xEF\xBB\xBFREM a comment\r\nCATALOG 0000000000000\r\nfile \"one.bin\" binary\r\n"
                  "  track 01 audio\r\n    title \"x y\"\r\n    index 01 00:00:00\r\n    postgap 00:00:05\r\n"
                  "\ttrack 02 AUDIO\n\tPREGAP 00:01:00\n\tINDEX 00 00:00:30\n\tINDEX 01 00:00:40\n\tINDEX 02 00:00:50\n"
                  "\tPOSTGAP 00:00:05\n"},
      {"one.bin", sectors(100, 'x')}},
     {{1, 0, 0, 35}, {1, 35, 120, 185}},
     {{29, 'x'}, {30, 0}, {35, 0}, {110, 'x'}, {179, 'x'}, {180, 0}}},
    // Names relative to the sheet's folder or absolute; a 2048-byte file gets made-up headers.
    {"FilesPerTrackWithSpacesAndTheirOwnPregaps",
     {{"sub/disc.cue", "FILE \"../track one.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                       "FILE \"@/track two.iso\" BINARY\nTRACK 02 MODE1/2048\nINDEX 00 00:00:00\nINDEX 01 00:00:02\n"},
      {"track one.bin", sectors(20, 'a')}, {"track two.iso", sectors(10, 'b', 2048)}},
     {{1, 0, 0, 20}, {1, 20, 22, 30}},
     {{19, 'a'}, {20, 'b'}, {29, 'b'}}},
    // a.bin: 10 Mode 1 sectors of 2048 bytes, then 5 audio sectors that are track 2's INDEX 00;
    // c.bin: sectors before its first track's INDEX 01 are that track's, in its sector size.
    {"PregapsInTheirOwnFileOrThePreviousOneAndMixedSectorSizes",
     {{"disc.cue", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:00:10\n"
                   "FILE b.bin BINARY\nINDEX 01 00:00:00\nFILE c.bin BINARY\nTRACK 03 MODE1/2048\nINDEX 01 00:00:03\n"},
      {"a.bin", sectors(10, 'd', 2048) + sectors(5, 'p')}, {"b.bin", sectors(6, 's')},
      {"c.bin", sectors(3, 'q', 2048) + sectors(2, 't', 2048)}},
     {{1, 0, 0, 10}, {1, 10, 15, 21}, {1, 21, 24, 26}},
     {{9, 'd'}, {10, 'p'}, {14, 'p'}, {15, 's'}, {20, 's'}, {21, 'q'}, {23, 'q'}, {24, 't'}, {25, 't'}}},
    // A session's first INDEX 01 lies 11400 sectors after the first session's lead-out, 6900 after
    // a later one's; its INDEX 00 sectors come before it.
    {"Sessions",
     {{"s.cue", "REM SESSION 01\nFILE s.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nREM SESSION 02\n"
                "TRACK 02 MODE2/2352\nINDEX 00 00:01:00\nINDEX 01 00:02:00\n"
                "REM SESSION 03\nTRACK 03 AUDIO\nINDEX 01 00:03:00\n"},
      {"s.bin", sectors(75, 'a') + sectors(150, 'b') + sectors(75, 'c')}},
     {{1, 0, 0, 75}, {2, 11400, 11475, 11550}, {3, 18450, 18450, 18525}},
     {{74, 'a'}, {11400, 'b'}, {11549, 'b'}, {18450, 'c'}}},
    {"PlainIso", {{"plain.ISO", sectors(16, 'i', 2048)}}, {{1, 0, 0, 16}}, {{0, 'i'}, {15, 'i'}}},
};

class CueLayout : public testing::TestWithParam<Image> {};

TEST_P(CueLayout, TracksAndSectorsLieWhereTheSheetSays) {
    TempDir dir;
    for (auto [name, content] : GetParam().files) {
        if (auto at = content.find('@'); at != std::string::npos) content.replace(at, 1, dir.images().string());
        dir.write({{name, content}});
    }
    auto loaded = disc_image::load_image(dir / GetParam().files[0].first);
    auto* disc = std::get_if<disc_image::Disc>(&loaded);
    ASSERT_NE(disc, nullptr) << std::get<disc_image::ImageError>(loaded).text();
    std::vector<Layout> layout;
    for (const auto& track : disc->tracks()) layout.push_back({track.session, track.first, track.start, track.after});
    EXPECT_EQ(layout, GetParam().tracks);
    EXPECT_EQ(disc->lead_out(), layout.back()[3]);
    std::array<std::uint8_t, disc_image::kRawSectorSize> raw;
    for (auto [lba, byte] : GetParam().bytes) {
        ASSERT_TRUE(disc->track_at(lba) && disc->read_raw(lba, raw)) << "LBA " << lba;
        EXPECT_EQ(raw[16], static_cast<std::uint8_t>(byte)) << "LBA " << lba;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, CueLayout, testing::ValuesIn(kImages),
                         [](const auto& row) { return row.param.name; });

// Entries the drive cannot understand are refused, and only image names stand for emulated drives.
TEST(DriveEntry, RefusedEntriesAndImageNames) {
    for (const char* wrong : {"x.cue?bad=", "x.cue?bad=5-3", "x.cue?bad=-1", "x.cue?flaky=5", "x.cue?flaky=5x0",
                              "x.cue?bad=99999999999", "x.cue?slow", "x.cue?"})
        EXPECT_TRUE(std::holds_alternative<std::string>(disc_image::parse_drive_entry(wrong))) << wrong;

    for (const char* image : {"empty", "d.cue", "D.CUE", "/x/y.Iso", "d.cue?bad=1", "empty?noopen"})
        EXPECT_TRUE(disc_image::is_emulated_entry(image)) << image;
    for (const char* device : {"/dev/sr0", "cue", "d.cue.bin", "d.bin?x.cue"})
        EXPECT_FALSE(disc_image::is_emulated_entry(device)) << device;
}

constexpr std::size_t kRaw = 2352;
const std::string kHead = "FILE d.bin BINARY\nTRACK 01 AUDIO\n";
const std::string kWaveSheet = "FILE d.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
const std::string kSamples = chunk("data", std::string(kRaw, 's'));
const std::string kTwoSectors = riff_wave(fmt_chunk() + chunk("data", std::string(2 * kRaw, 's')));

Files bin(std::size_t size) { return {{"d.bin", std::string(size, '\0')}}; }
Files wav(const std::string& content) { return {{"d.wav", content}}; }

struct Malformed {
    const char* name;
    std::string sheet;          // the image's content
    int line;                   // expected line, 0 for none
    const char* message;        // expected part of the message
    Files files = bin(kRaw);    // beside the image
    const char* image = "d.cue";
};

const Malformed kMalformed[] = {
    {"missing bin", kHead + "INDEX 01 00:00:00\n", 1, "cannot open", {}},
    {"binary sheet", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10), 1, "binary data"},
    {"endless line", "REM " + std::string(100000, 'x') + "\n", 1, "line longer than"},
    {"unknown command", kHead + "INDEX 01 00:00:00\nFROBNICATE 3\n", 4, "unknown command"},
    {"open quote", "FILE \"d.bin BINARY\n", 1, "unterminated"},
    {"track before file", "TRACK 01 AUDIO\n", 1, "before any FILE"},
    {"track skipped", kHead + "INDEX 01 00:00:00\nTRACK 03 AUDIO\n", 4, "out of order"},
    {"track zero", "FILE d.bin BINARY\nTRACK 00 AUDIO\n", 2, "out of range"},
    {"track 100", kHead + "INDEX 01 00:00:00\nTRACK 100 AUDIO\n", 4, "out of range"},
    {"index before 01", kHead + "INDEX 02 00:00:00\n", 3, "out of order"},
    {"index 100", kHead + "INDEX 100 00:00:00\n", 3, "out of range"},
    {"time goes back", kHead + "INDEX 01 00:00:05\nTRACK 02 AUDIO\nINDEX 01 00:00:04\n", 5, "after"},
    {"seconds 60", kHead + "INDEX 01 00:60:00\n", 3, "seconds out of range"},
    {"frames 75", kHead + "INDEX 01 00:00:75\n", 3, "frames out of range"},
    {"overflow", kHead + "INDEX 01 00:00:99999999999999999999\n", 3, "frames out of range"},
    {"minutes 100", kHead + "PREGAP 100:00:00\n", 3, "minutes out of range"},
    {"negative time", kHead + "INDEX 01 -1:00:00\n", 3, "not a time (MM:SS:FF)"},
    {"no index 01", kHead + "INDEX 00 00:00:00\n", 2, "no INDEX 01"},
    {"no track", "FILE d.bin BINARY\n", 1, "no TRACK"},
    {"unsupported track", "FILE d.bin BINARY\nTRACK 01 MODE2/2336\n", 2, "not supported"},
    {"aiff file", "FILE d.aif AIFF\n", 1, "not supported"},
    {"pregap after index", kHead + "INDEX 01 00:00:00\nPREGAP 00:02:00\n", 4, "PREGAP"},
    {"session 3 after 1", kHead + "INDEX 01 00:00:00\nREM SESSION 03\n", 4, "session 3"},
    {"file without index", kHead + "INDEX 01 00:00:00\nFILE d.bin BINARY\n", 4, "without any INDEX"},
    {"index at bin end", kHead + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:10\n", 5, "shorter",
     bin(kRaw * 10)},
    {"partial sector", kHead + "INDEX 01 00:00:00\n", 1, "whole 2352-byte", bin(kRaw * 10 + 5)},
    {"empty bin", kHead + "INDEX 01 00:00:00\n", 1, "d.bin\" is empty", bin(0)},
    {"folder as bin", "FILE . BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1, "cannot open"},
    {"two names in another case", "FILE CDDA.BIN BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1,
     "names that differ from it only in case: \"Cdda.Bin\" \"cdda.bin\"",
     {{"cdda.bin", kSamples}, {"Cdda.Bin", kSamples}}},
    {"session gap too short", kHead + "INDEX 01 00:00:00\nREM SESSION 02\nTRACK 02 AUDIO\nPREGAP 03:00:00\n"
                                      "INDEX 01 00:00:01\n", 5, "longer than the gap", bin(kRaw * 2)},
    {"wave of another kind", kWaveSheet, 1, "d.wav\" is not a RIFF/WAVE file", wav(std::string(kRaw, 'x'))},
    {"wave header cut", kWaveSheet, 1, "has a fmt chunk cut short", wav(riff_wave(fmt_chunk()).substr(0, 30))},
    {"float wave", kWaveSheet, 1, "holds format 3, 2 channels, 44100 Hz, 32 bits",
     wav(riff_wave(fmt_chunk(3, 2, 44100, 32) + kSamples))},
    {"mono 48 kHz wave", kWaveSheet, 1, "not 16-bit stereo PCM at 44100 Hz",
     wav(riff_wave(fmt_chunk(1, 1, 48000) + kSamples))},
    {"wave without samples", kWaveSheet, 1, "has no data chunk", wav(riff_wave(fmt_chunk() + chunk("LIST", "x")))},
    {"wave samples first", kWaveSheet, 1, "data chunk before the fmt chunk", wav(riff_wave(kSamples + fmt_chunk()))},
    {"wave samples cut", kWaveSheet, 1, "cut short (2352 of 4704 bytes)",
     wav(kTwoSectors.substr(0, kTwoSectors.size() - kRaw))},
    {"data track in wave", "FILE d.wav WAVE\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", 3,
     "data track, which WAVE file \"d.wav\"", wav(kTwoSectors)},
    {"empty sheet named .cue", "", 0, "the cue sheet is empty", bin(kRaw), ".cue"},
    {"sheet over 1 MiB", std::string((1 << 20) + 1, '\n'), 0, "too large"},
    {"empty iso", "", 0, "empty", {}, "d.iso"},
    {"odd iso", std::string(2049, 'x'), 0, "2048-byte", {}, "d.iso"},
};

class MalformedImage : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedImage, IsRefusedWithItsLineAndWhy) {
    const Malformed& bad = GetParam();
    TempDir dir;
    dir.write(bad.files);
    dir.write({{bad.image, bad.sheet}});
    auto loaded = disc_image::load_image(dir / bad.image);
    auto* error = std::get_if<disc_image::ImageError>(&loaded);
    ASSERT_NE(error, nullptr) << "accepted";
    EXPECT_EQ(error->file, (dir / bad.image).string());
    EXPECT_EQ(error->line, bad.line) << error->message;
    EXPECT_NE(error->message.find(bad.message), std::string::npos) << error->message;
    EXPECT_LT(error->text().size(), 400u);
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedImage, testing::ValuesIn(kMalformed), [](const auto& row) {
    std::string name = row.param.name;
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
});

// Without a disc (none named, an image that cannot be loaded, an entry that is not understood)
// the drive is NOT READY for every medium command but answers INQUIRY and REQUEST SENSE; the
// reason goes to standard error in one line, a huge entry shown by its start and its end.
TEST(NoDisc, OnlyInquiryAndRequestSenseAnswer) {
    const std::string huge = "/nonexistent/" + std::string(100000, 'x') + "/disc.cue";
    const std::pair<std::string, std::string> entries[] = {
        {"empty", ""},
        {"/nonexistent/folder/disc.cue?bad=3", "disc image /nonexistent/folder/disc.cue: cannot open the cue sheet\n"},
        {"disc.cue?fast", "CDIF_DRIVES entry \"disc.cue?fast\": unknown option \"fast\""},
        {huge, "disc image /nonexistent/" + std::string(115, 'x') + "..." + std::string(119, 'x') + "/disc.cue: "},
        {huge + "?fast", "CDIF_DRIVES entry \"/nonexistent/" + std::string(115, 'x') + "..."},
    };
    const Bytes medium[] = {{0, 0, 0, 0, 0, 0}, read_toc_cdb(false, 0, 0, 1024), read10_cdb(0, 1),
                            read_cd_cdb(0, 1, 1, 0x10)};
    const Bytes not_ready = {0x70, 0, 2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0, 0, 0, 0, 0};
    for (const auto& [entry, start] : entries) {
        testing::internal::CaptureStderr();
        auto drive = disc_image::EmulatedDrive::from_entry(entry);
        std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(printed.starts_with(start)) << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), start.empty() ? 0 : 1) << printed;
        EXPECT_LT(printed.size(), 400u);
        EXPECT_TRUE(drive->can_open());
        for (const Bytes& cdb : medium) EXPECT_EQ(sense(run(*drive, cdb).reply), 0x023A00);
        EXPECT_EQ(run(*drive, {0x12, 0, 0, 0, 0x80, 0}).data.size(), 36u);
        EXPECT_EQ(run(*drive, {0x03, 0, 0, 0, 18, 0}).data, not_ready);
    }
}

// Reads through the window give a file's bytes wherever they fall, and nothing past its end.
TEST(ImageFiles, ReadsAnywhereInAnyFile) {
    constexpr std::size_t kWindow = disc_image::ImageFiles::kWindowSize;
    std::mt19937 generator(1);
    std::string contents[] = {std::string(2 * kWindow + 1000, '\0'), std::string(3000, '\0')};
    for (std::string& content : contents)
        for (char& c : content) c = static_cast<char>(generator());
    TempDir dir;
    dir.write({{"a.bin", contents[0]}, {"b.bin", contents[1]}});
    disc_image::ImageFiles files;
    ASSERT_FALSE(files.open(dir / "a.bin"));
    ASSERT_FALSE(files.open(dir / "b.bin"));
    EXPECT_TRUE(files.open(dir / "missing.bin"));
    EXPECT_EQ(files.count(), 2u);

    const std::tuple<std::size_t, std::uint64_t, std::size_t, bool> reads[] = {  // file, offset, size, served
        {0, 0, 2352, true},    {1, 100, 2352, true},  // from one file to the other and back
        {0, 2352, 2352, true}, {0, kWindow - 1000, 2352, true},  // across the window's end
        {0, 10, 100, true},                                       // backwards
        {0, 2 * kWindow + 1000 - 2352, 2352, true},               // a file's last bytes
        {0, 2 * kWindow + 1000 - 100, 2352, false}, {1, 3000, 1, false}, {2, 0, 1, false},
        {0, 0, kWindow + 1, false},  // more than a window
    };
    for (const auto& [file, offset, size, served] : reads) {
        std::vector<std::uint8_t> out(size);
        ASSERT_EQ(files.read(file, offset, out), served) << file << "@" << offset;
        const std::string expected = served ? contents[file].substr(offset, size) : std::string(size, '\0');
        EXPECT_EQ(std::string(out.begin(), out.end()), expected) << file << "@" << offset;
    }
}

}  // namespace
