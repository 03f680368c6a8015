// Cue sheets that lay out as intended, and CDIF_DRIVES entries.
#include "disc.h"
#include "drive_entry.h"
#include "drive_helpers.h"

using namespace disc_image_test;
using disc_image::TrackMode;

namespace {

disc_image::Disc load(const std::filesystem::path& path) {
    auto loaded = disc_image::load_image(path);
    if (auto* failed = std::get_if<disc_image::ImageError>(&loaded)) ADD_FAILURE() << failed->text();
    return std::move(std::get<disc_image::Disc>(loaded));
}

struct Layout {
    int number, session;
    std::int32_t first, start, after;
};

void expect_layout(const disc_image::Disc& disc, const std::vector<Layout>& expected) {
    ASSERT_EQ(disc.tracks().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& track = disc.tracks()[i];
        EXPECT_EQ(track.number, expected[i].number);
        EXPECT_EQ(track.session, expected[i].session) << "track " << track.number;
        EXPECT_EQ(track.first, expected[i].first) << "track " << track.number;
        EXPECT_EQ(track.start, expected[i].start) << "track " << track.number;
        EXPECT_EQ(track.after, expected[i].after) << "track " << track.number;
    }
}

Bytes raw_at(disc_image::Disc& disc, std::int32_t lba) {
    Bytes raw(disc_image::kRawSectorSize);
    EXPECT_TRUE(disc.read_raw(lba, std::span<std::uint8_t, disc_image::kRawSectorSize>(raw.data(), raw.size())));
    return raw;
}

TEST(CueSheet, OneFileWithGapsFlagsAndLooseSpelling) {
    TempDir dir;
    dir.write("one.bin", std::string(2352 * 100, '\0'));
    dir.write("one.cue",
              "\xEF\xBB\xBFREM a comment\r\nCATALOG 0000000000000\r\nfile \"one.bin\" binary\r\n"
              "  track 01 audio\r\n    title \"x y\"\r\n    index 01 00:00:00\r\n    postgap 00:00:05\r\n"
              "\ttrack 02 AUDIO\n\tPREGAP 00:01:00\n\tINDEX 00 00:00:30\n\tINDEX 01 00:00:40\n\tINDEX 02 00:00:50\n");
    disc_image::Disc disc = load(dir / "one.cue");
    // Track 1: sectors 0-29 and 5 postgap; track 2: 75 pregap, then file sectors 30-99.
    expect_layout(disc, {{1, 1, 0, 0, 35}, {2, 1, 35, 35 + 75 + 10, 35 + 75 + 70}});
    EXPECT_EQ(disc.lead_out(), 180);
    EXPECT_EQ(disc.sessions().size(), 1u);
}

TEST(CueSheet, FilesPerTrackWithSpacesAndTheirOwnPregaps) {
    TempDir dir;
    std::string first(2352 * 20, 'a'), second(2048 * 10, 'b');
    dir.write("track one.bin", first);
    dir.write("track two.iso", second);
    std::filesystem::create_directory(dir / "sub");
    dir.write("sub/disc.cue",
              "FILE \"../track one.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
              "FILE \"" + (dir / "track two.iso").string() + "\" BINARY\nTRACK 02 MODE1/2048\n"
              "INDEX 00 00:00:00\nINDEX 01 00:00:02\n");
    disc_image::Disc disc = load(dir / "sub/disc.cue");
    expect_layout(disc, {{1, 1, 0, 0, 20}, {2, 1, 20, 22, 30}});
    EXPECT_EQ(raw_at(disc, 19)[2351], 'a');
    Bytes data = raw_at(disc, 20);
    EXPECT_EQ(data[15], 1);  // a made-up Mode 1 header
    EXPECT_EQ(data[16], 'b');
    EXPECT_EQ(data[2063], 'b');
    EXPECT_EQ(data[2064], 0);
}

// A file whose first track starts after its first sectors: those sectors are that track's pregap,
// in its own sector size, not a continuation of the previous file's track.
TEST(CueSheet, LeadingSectorsOfAFileAreThePregapOfItsFirstTrack) {
    TempDir dir;
    dir.write("a.bin", std::string(2048 * 10, 'd'));
    dir.write("b.bin", std::string(2352 * 3, 'p') + std::string(2352 * 5, 's'));
    dir.write("disc.cue", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
                          "FILE b.bin BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:03\n");
    disc_image::Disc disc = load(dir / "disc.cue");
    expect_layout(disc, {{1, 1, 0, 0, 10}, {2, 1, 10, 13, 18}});
    EXPECT_EQ(raw_at(disc, 10), Bytes(2352, 'p'));
    EXPECT_EQ(raw_at(disc, 13), Bytes(2352, 's'));
    EXPECT_EQ(raw_at(disc, 17), Bytes(2352, 's'));
}

TEST(CueSheet, PregapInThePreviousFileAndMixedSectorSizesInOneFile) {
    TempDir dir;
    // a.bin: 10 Mode 1 sectors of 2048 bytes, then 5 audio sectors that are track 2's INDEX 00.
    dir.write("a.bin", std::string(2048 * 10, 'd') + std::string(2352 * 5, 'p'));
    dir.write("b.bin", std::string(2352 * 8, 's'));
    dir.write("disc.cue", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:00:10\n"
                          "FILE b.bin BINARY\nINDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:00:06\n");
    disc_image::Disc disc = load(dir / "disc.cue");
    expect_layout(disc, {{1, 1, 0, 0, 10}, {2, 1, 10, 15, 21}, {3, 1, 21, 21, 23}});
    EXPECT_EQ(raw_at(disc, 14)[0], 'p');
    EXPECT_EQ(raw_at(disc, 15)[0], 's');
}

// A name in another case stands for the one file that matches it (see the WAVE image test), but
// not for one of several.
TEST(CueSheet, FileNamedInAnotherCaseWithTwoCandidates) {
    TempDir dir;
    dir.write("cdda.bin", std::string(2352 * 4, 'c'));
    dir.write("Cdda.Bin", std::string(2352 * 4, 'C'));
    dir.write("disc.cue", "FILE \"CDDA.BIN\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    auto loaded = disc_image::load_image(dir / "disc.cue");
    auto* error = std::get_if<disc_image::ImageError>(&loaded);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->text(), (dir / "disc.cue").string() + ":1: cannot open " + "\"" + (dir / "CDDA.BIN").string() +
                                 "\": No such file or directory; names that differ from it only in case: \"Cdda.Bin\" \"cdda.bin\"");
}

TEST(CueSheet, SessionsAndAPlainIso) {
    TempDir dir;
    dir.write("s.bin", std::string(2352 * 300, '\0'));
    dir.write("s.cue", "REM SESSION 01\nFILE s.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                       "REM SESSION 02\nTRACK 02 MODE2/2352\nINDEX 00 00:01:00\nINDEX 01 00:02:00\n");
    disc_image::Disc disc = load(dir / "s.cue");
    // Track 1 ends at 75; track 2's INDEX 01 lies 11400 after, its 75 INDEX 00 sectors before.
    expect_layout(disc, {{1, 1, 0, 0, 75}, {2, 2, 11475 - 75, 11475, 11475 + 150}});
    ASSERT_EQ(disc.sessions().size(), 2u);
    EXPECT_EQ(disc.sessions()[0].lead_out, 75);
    EXPECT_EQ(disc.track_at(11399), nullptr);
    EXPECT_NE(disc.track_at(11400), nullptr);

    dir.write("plain.ISO", std::string(2048 * 16, '\0'));
    disc_image::Disc iso = load(dir / "plain.ISO");
    expect_layout(iso, {{1, 1, 0, 0, 16}});
    EXPECT_EQ(iso.tracks()[0].mode, TrackMode::mode1_2048);
}

TEST(DriveEntry, OptionsAndImageNames) {
    auto parsed = disc_image::parse_drive_entry("a b.cue?bad=5,10-12&flaky=20-21x3&flaky=30x1&noopen");
    auto* entry = std::get_if<disc_image::DriveEntry>(&parsed);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->image, "a b.cue");
    ASSERT_EQ(entry->bad.size(), 2u);
    EXPECT_EQ(entry->bad[1].first, 10);
    EXPECT_EQ(entry->bad[1].last, 12);
    ASSERT_EQ(entry->flaky.size(), 2u);
    EXPECT_EQ(entry->flaky[0].failures, 3);
    EXPECT_TRUE(entry->no_open);

    for (const char* wrong : {"x.cue?bad=", "x.cue?bad=5-3", "x.cue?bad=-1", "x.cue?flaky=5", "x.cue?flaky=5x0",
                              "x.cue?bad=99999999999", "x.cue?slow", "x.cue?"})
        EXPECT_TRUE(std::holds_alternative<std::string>(disc_image::parse_drive_entry(wrong))) << wrong;

    for (const char* image : {"empty", "d.cue", "D.CUE", "/x/y.Iso", "d.cue?bad=1", "empty?noopen"})
        EXPECT_TRUE(disc_image::is_emulated_entry(image)) << image;
    for (const char* device : {"/dev/sr0", "cue", "d.cue.bin", "d.bin?x.cue"})
        EXPECT_FALSE(disc_image::is_emulated_entry(device)) << device;
}

}  // namespace
