// palvane and tremick end to end, each run in a fresh folder on a disc image built for the test;
// the files they write are compared with what the image holds, and with bchunk's tracks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "disc_builder.h"
#include "program_run.h"

namespace fs = std::filesystem;
using namespace test_support;
using Bytes = std::vector<std::uint8_t>;
using Lbas = std::set<std::int32_t>;

namespace {

const char* const kPalvane = PALVANE_PATH;
const char* const kTremick = TREMICK_PATH;

class Extraction : public ::testing::Test {
protected:
    void make_disc(const std::vector<TrackSpec>& tracks) {
        disc = build_disc(space.images(), "disc", tracks);
    }
    // Runs the program in out, CDIF_DRIVES naming the disc followed by options ("?bad=...").
    program_test::ProgramRun run(const char* program, const std::string& options = "") const {
        return program_test::run_program(space, program, disc.cue.string() + options);
    }
    Bytes file(const std::string& name) const { return program_test::read_file<Bytes>(out / name); }

    // Expects the file palvane (.wav) or tremick (.iso) writes for sectors [first, end): each sector
    // as the image holds it, zero where the image holds no sector of that kind (the next track's
    // pregap) and at the unreadable LBAs; a WAV file starts with its header.
    void expect_file(const std::string& name, std::int32_t first, std::int32_t end,
                     const Lbas& unreadable = {}) {
        const bool audio = name.ends_with(".wav");
        std::string data;
        for (std::int32_t lba = first; lba < end; ++lba) {
            Bytes sector = audio ? disc.audio_sector(lba) : disc.user_data(lba);
            if (sector.empty() || unreadable.contains(lba)) sector.assign(audio ? 2352 : 2048, 0);
            data.append(sector.begin(), sector.end());
        }
        if (audio) data = riff_wave(fmt_chunk() + chunk("data", data));
        EXPECT_EQ(file(name), Bytes(data.begin(), data.end())) << name;
    }

    program_test::Workspace space;
    const fs::path out = space.work();  // the programs' current directory
    BuiltDisc disc;
};

struct TrackEnds {
    const char* name;
    std::vector<TrackSpec> disc;
    // Every file palvane and tremick write, with the sectors [first, end) it holds.
    std::map<std::string, std::pair<std::int32_t, std::int32_t>> files;
};

const TrackSpec kAudio300{TrackKind::audio, 300};
const TrackSpec kData100{TrackKind::mode1_2352, 100};

std::vector<TrackEnds> discs() {
    std::vector<TrackEnds> rows = {
        // A data track ends at the next track; an audio track at the next audio track, 225 sectors
        // short of a data track of its session, and at the lead-out.
        {"MixedDisc", {{TrackKind::mode1_2352, 200}, kAudio300, {TrackKind::audio, 250}, kData100},
         {{"01.iso", {0, 200}}, {"02.wav", {200, 500}}, {"03.wav", {500, 750 - 225}},
          {"04.iso", {750, 850}}}},
        // Too short for the cut: an empty file.
        {"ShortAudioBeforeData", {{TrackKind::audio, 100}, kData100},
         {{"01.wav", {0, 0}}, {"02.iso", {100, 200}}}},
        // A track before a later session ends at its own session's lead-out: 11400 sectors before
        // the second session's first track, 6900 before a later one's.
        {"ThreeSessions", {kAudio300, {TrackKind::audio, 200, 0, 2}, {TrackKind::mode1_2352, 100, 0, 3}},
         {{"01.wav", {0, 300}}, {"02.wav", {11700, 11900}}, {"03.iso", {18800, 18900}}}},
    };
    // The most tracks a disc holds; the last ends at the lead-out, which the track list keeps too.
    TrackEnds most{"NinetyNineTracks", std::vector<TrackSpec>(99, {TrackKind::audio, 3}), {}};
    for (int track = 1; track <= 99; ++track)
        most.files[(track < 10 ? "0" : "") + std::to_string(track) + ".wav"] = {3 * track - 3, 3 * track};
    rows.push_back(most);
    return rows;
}

class TrackEndsOnDiscs : public Extraction, public ::testing::WithParamInterface<TrackEnds> {};

TEST_P(TrackEndsOnDiscs, FilesHoldTheirTracksExactly) {
    make_disc(GetParam().disc);
    for (const char* program : {kPalvane, kTremick}) {
        program_test::ProgramRun result = run(program);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out.find(':'), std::string::npos) << "nothing to report:\n" << result.out;
        EXPECT_EQ(run(program).out, "") << "a second run finds every file complete";
    }
    const std::string bchunk =
        "cd '" + space.root().string() + "' && bchunk -w images/disc.bin images/disc.cue bchunk >/dev/null";
    ASSERT_EQ(std::system(bchunk.c_str()), 0);

    std::set<std::string> names;
    for (const auto& [name, range] : GetParam().files) {
        names.insert(name);
        expect_file(name, range.first, range.second);
        // bchunk's track runs on to the next track in the bin file; ours is the same data, or less of it.
        const Bytes written = file(name);
        const Bytes theirs = program_test::read_file<Bytes>(space.root() / ("bchunk" + name));
        const std::ptrdiff_t header = name.ends_with(".wav") ? 44 : 0;
        ASSERT_LE(written.size(), theirs.size()) << name;
        EXPECT_TRUE(std::equal(written.begin() + header, written.end(), theirs.begin() + header)) << name;
    }
    for (const auto& entry : fs::directory_iterator(out))
        EXPECT_TRUE(names.contains(entry.path().filename())) << "written and not expected: " << entry;
}

INSTANTIATE_TEST_SUITE_P(Discs, TrackEndsOnDiscs, ::testing::ValuesIn(discs()),
                         [](const auto& param) { return std::string(param.param.name); });

// A second run skips a file of the complete size without reading it back, and redoes a shorter one.
TEST_F(Extraction, SecondRunRedoesOnlyFilesOfAnotherSize) {
    make_disc({{TrackKind::mode1_2352, 40}, {TrackKind::audio, 40}});
    run(kPalvane);
    run(kTremick);
    std::fstream(out / "02.wav", std::ios::in | std::ios::out | std::ios::binary).seekp(100).put('x');
    const Bytes kept = file("02.wav");
    fs::resize_file(out / "01.iso", fs::file_size(out / "01.iso") - 1);
    EXPECT_EQ(run(kPalvane).out, "");
    EXPECT_EQ(run(kTremick).out, "Reading Track 01 ( remainder 1 ).\nReading Track 01 ( remainder 0 ).\n"
                                 "Reading Track 01 ( remainder 0 ).\n");
    EXPECT_EQ(file("02.wav"), kept);
    expect_file("01.iso", 0, 40);
}

// A sector the drive cannot read is zero in the file and reported after the track (256 and 257 lie
// in two chunks); one that reads on the retry is neither. A track's last sectors that the drive
// refuses as of the other kind are the next track's pregap: zero too, and not damage.
TEST_F(Extraction, UnreadableSectorsAndTheNextTracksPregap) {
    // Track 2: INDEX 00 at 75, INDEX 01 at 225. Track 3: INDEX 00 at 300, INDEX 01 at 600.
    make_disc({{TrackKind::mode1_2352, 75}, {TrackKind::audio, 75, 150}, {TrackKind::mode1_2352, 100, 300}});
    const std::string faults = "?bad=73-74,240-242,256-257&flaky=260-262x1";

    EXPECT_NE(run(kTremick, faults).out.find(
                  "Track 01: 2 sectors could not be read (LBA 73 to 74); they are zero in 01.iso.\n"
                  "Track 01: the last 150 sectors are the next track's audio pregap; they are zero in 01.iso.\n"
                  "Reading Track 03"),
              std::string::npos);
    expect_file("01.iso", 0, 225, {73, 74});

    EXPECT_TRUE(run(kPalvane, faults).out.ends_with(
        "Track 02: 5 sectors could not be read (LBA 240 to 257); they are zero in 02.wav.\n"
        "Track 02: the last 75 sectors are the next track's data pregap; they are zero in 02.wav.\n"));
    expect_file("02.wav", 225, 600 - 225, {240, 241, 242, 256, 257});
}

// Progress lines, and files that cannot be created or written (in a chunk, or only when closed: a
// header alone stays in the stream's buffer until then): each is reported, and the next track is
// extracted.
TEST_F(Extraction, OutputOfARunWithFilesThatCannotBeWritten) {
    const TrackSpec audio50{TrackKind::audio, 50};
    make_disc({{TrackKind::audio, 100}, kData100, audio50, audio50, {TrackKind::audio, 250}});
    fs::create_symlink("/dev/full", out / "01.wav");
    fs::create_directory(out / "03.wav");
    fs::create_symlink("/dev/full", out / "04.wav");
    EXPECT_EQ(run(kPalvane).out,
              "Reading Track 01 ( remainder 0 ).\n"
              "Track 01: 01.wav could not be written; the next run writes it again.\n"
              "Track 03: 03.wav could not be created; the track was not extracted.\n"
              "Reading Track 04 ( remainder 1 ).\nReading Track 04 ( remainder 0 ).\n"
              "Track 04: 04.wav could not be written; the next run writes it again.\n"
              "Reading Track 05 ( remainder 3 ).\n"  // before the first chunk of 32 sectors: 250 / 100 + 1
              "Reading Track 05 ( remainder 2 ).\n"  // 218 left
              "Reading Track 05 ( remainder 1 ).\nReading Track 05 ( remainder 1 ).\n"
              "Reading Track 05 ( remainder 1 ).\n"  // 122 left
              "Reading Track 05 ( remainder 0 ).\nReading Track 05 ( remainder 0 ).\n"
              "Reading Track 05 ( remainder 0 ).\n"  // 26 left
              "Reading Track 05 ( remainder 0 ).\n");
    expect_file("05.wav", 300, 550);
}

// A WAVE file as rippers write one, with other chunks around its samples (one of odd length), named
// in the sheet in another case: palvane gives the samples back.
TEST_F(Extraction, SheetOfAWaveFileGivesItsSamplesBack) {
    std::string samples(300 * 2352, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<char>(i * 7 + i / 2352);
    std::ofstream(space.images() / "01 Song.WAV", std::ios::binary)
        << riff_wave(chunk("LIST", "INFOrip") + fmt_chunk() + chunk("data", samples) + chunk("id3 ", "tag"));
    disc.cue = space.images() / "rip.cue";
    std::ofstream(disc.cue) << "FILE \"01 song.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    run(kPalvane);
    const std::string expected = riff_wave(fmt_chunk() + chunk("data", samples));
    EXPECT_EQ(file("01.wav"), Bytes(expected.begin(), expected.end()));
}

}  // namespace
