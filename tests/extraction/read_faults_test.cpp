// Sectors the drive cannot read, and files that cannot be created or written.
#include <filesystem>

#include "extraction_fixture.h"

namespace fs = std::filesystem;

namespace {

TEST_F(Extraction, UnreadableSectorsAreZeroAndReported) {
    make_disc({{TrackKind::audio, 100}, {TrackKind::audio, 100}, {TrackKind::mode1_2352, 100}});
    // 31 and 32 straddle a chunk boundary.
    const std::string faults = "?bad=10-12,31-32,95,150,230";

    Outcome audio_run = run(kPalvane, faults);
    EXPECT_EQ(audio_run.status, 1);
    Bytes expected = wav_header(100);
    Bytes sectors = zero_sectors(audio(0, 100), 2352, 0, {10, 11, 12, 31, 32, 95});
    expected.insert(expected.end(), sectors.begin(), sectors.end());
    EXPECT_EQ(file("01.wav"), expected);
    EXPECT_EQ(file("02.wav"), wav_header(0));
    EXPECT_NE(audio_run.output.find("Track 01: 6 sectors could not be read (LBA 10 to 95); they are zero in 01.wav.\n"),
              std::string::npos);
    EXPECT_EQ(audio_run.output.find("Track 02:"), std::string::npos) << "LBA 150 lies in the 225-sector cut";

    Outcome data_run = run(kTremick, faults);
    EXPECT_EQ(file("03.iso"), zero_sectors(user_data(200, 300), 2048, 200, {230}));
    EXPECT_NE(data_run.output.find("Track 03: 1 sectors could not be read (LBA 230 to 230); they are zero in 03.iso.\n"),
              std::string::npos);
}

// A data track followed by an audio track whose INDEX 00 holds audio: the drive refuses those
// sectors to READ(10) as of another mode. They are the next track's pregap, not damage; a real
// medium error just before them still is.
TEST_F(Extraction, AudioPregapAtTheEndOfADataTrackIsNotUnreadable) {
    make_disc({{TrackKind::mode1_2352, 75}, {TrackKind::audio, 150, 150}});  // track 2: INDEX 00 at 75, 01 at 225
    const std::string pregap = "Track 01: the last 150 sectors are the next track's audio pregap; they are zero in 01.iso.\n";
    for (const auto& [faults, unreadable] : std::vector<std::pair<std::string, std::vector<std::int32_t>>>{
             {"", {}}, {"?bad=73-74", {73, 74}}}) {
        fs::remove(out / "01.iso");
        Outcome result = run(kTremick, faults);
        Bytes expected = user_data(0, 75);
        expected.resize(225 * 2048);
        EXPECT_EQ(file("01.iso"), zero_sectors(expected, 2048, 0, unreadable));
        const std::string report =
            unreadable.empty() ? "" : "Track 01: 2 sectors could not be read (LBA 73 to 74); they are zero in 01.iso.\n";
        EXPECT_TRUE(result.output.ends_with(").\n" + report + pregap)) << result.output;
    }
}

// The same for an audio track whose last sectors (before the 225-sector cut) are a data track's
// INDEX 00: READ CD asking for CD-DA is refused them.
TEST_F(Extraction, DataPregapAtTheEndOfAnAudioTrackIsNotUnreadable) {
    make_disc({{TrackKind::audio, 75}, {TrackKind::mode1_2352, 100, 300}});  // track 2: INDEX 00 at 75, 01 at 375
    Outcome result = run(kPalvane);
    Bytes expected = wav_header(150), sound = audio(0, 75);
    expected.insert(expected.end(), sound.begin(), sound.end());
    expected.resize(44 + 150 * 2352);
    EXPECT_EQ(file("01.wav"), expected);
    EXPECT_TRUE(result.output.ends_with(
        "Track 01: the last 75 sectors are the next track's data pregap; they are zero in 01.wav.\n"))
        << result.output;
}

TEST_F(Extraction, SectorThatReadsOnTheRetryIsNotReported) {
    make_disc({{TrackKind::audio, 50}});
    Outcome result = run(kPalvane, "?flaky=5-7x1");
    EXPECT_EQ(file("01.wav"), wav(0, 50));
    EXPECT_EQ(result.output.find("could not"), std::string::npos);
}

TEST_F(Extraction, FolderWhereFilesCannotBeCreated) {
    make_disc({{TrackKind::audio, 50}, {TrackKind::audio, 50}, {TrackKind::mode1_2048, 50}});
    for (const char* name : {"01.wav", "02.wav", "03.iso"}) fs::create_directory(out / name);
    const std::pair<const char*, const char*> runs[] = {
        {kPalvane, "Track 01: 01.wav could not be created; the track was not extracted.\n"
                   "Track 02: 02.wav could not be created; the track was not extracted.\n"},
        {kTremick, "Track 03: 03.iso could not be created; the track was not extracted.\n"}};
    for (const auto& [program, output] : runs) {
        Outcome result = run(program);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, output);
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"01.wav", "02.wav", "03.iso"}));
    for (const char* name : {"01.wav", "02.wav", "03.iso"}) EXPECT_TRUE(fs::is_empty(out / name));
}

// A write that fails, in a chunk or only when the file is closed (a header-only file stays in the
// stream's buffer until then).
TEST_F(Extraction, FailedWriteIsReportedAndTheNextTrackWritten) {
    make_disc({{TrackKind::audio, 50}, {TrackKind::audio, 100}, {TrackKind::mode1_2048, 50}});  // 02.wav: header only
    for (const char* full : {"01.wav", "02.wav"}) {
        fs::remove_all(out);
        fs::create_directory(out);
        fs::create_symlink("/dev/full", out / full);
        Outcome result = run(kPalvane);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.output.find(std::string("Track 0") + full[1] + ": " + full +
                                     " could not be written; the next run writes it again.\n"),
                  std::string::npos) << result.output;
    }
    EXPECT_EQ(file("01.wav"), wav(0, 50));
}

}  // namespace
