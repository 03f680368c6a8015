// palvane and tremick end to end, each run in a fresh folder on a disc image built for the test;
// the files they write are compared with what the image holds, and with bchunk's tracks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "disc_builder.h"
#include "program_run.h"

namespace fs = std::filesystem;
using namespace test_support;

namespace {

const char* const kPalvane = PALVANE_PATH;
const char* const kTremick = TREMICK_PATH;
constexpr TrackKind kAudio = TrackKind::audio;
constexpr TrackKind kData = TrackKind::mode1_2352;

class Extraction : public ::testing::Test {
protected:
    // Runs the program in out, CDIF_DRIVES naming the disc followed by options ("?bad=...").
    program_test::ProgramRun run(const char* program, const std::string& options = "") const {
        return program_test::run_program(space, program, disc.cue.string() + options);
    }
    // Expects the file palvane (.wav) or tremick (.iso) writes for sectors [first, end): each sector
    // as the image holds it, zero where the image holds no sector of that kind (the next track's
    // pregap) and at the unreadable LBAs; a WAV file starts with its header.
    void expect_file(const std::string& name, std::int32_t first, std::int32_t end,
                     const std::set<std::int32_t>& unreadable = {}) {
        const bool audio = name.ends_with(".wav");
        std::string data;
        for (std::int32_t lba = first; lba < end; ++lba) {
            auto sector = audio ? disc.audio_sector(lba) : disc.user_data(lba);
            if (sector.empty() || unreadable.contains(lba)) sector.assign(audio ? 2352 : 2048, 0);
            data.append(sector.begin(), sector.end());
        }
        if (audio) data = riff_wave(fmt_chunk() + chunk("data", data));
        EXPECT_TRUE(program_test::read_file(out / name) == data) << name << " holds other bytes";
    }

    program_test::Workspace space;
    const fs::path out = space.work();  // the programs' current directory
    BuiltDisc disc;
};

using TrackEnds = std::pair<const char*, std::vector<TrackSpec>>;  // a name and a disc

// Each track's file holds the track as the image has it, from INDEX 01 up to the next track's
// sectors or the session's lead-out; an audio track stops 225 sectors short of a data track of
// its session (an empty file if it is shorter).
const TrackEnds kDiscs[] = {
    {"MixedDisc", {{kAudio, 100}, {kData, 200}, {kAudio, 300}, {kAudio, 250}, {kData, 100}}},
    {"ThreeSessions", {{kAudio, 300}, {kAudio, 200, 0, 2}, {kData, 100, 0, 3}}},
    // The most tracks a disc holds; the last ends at the lead-out, which the track list keeps too.
    {"NinetyNineTracks", std::vector<TrackSpec>(99, {kAudio, 3})},
};

class TrackEndsOnDiscs : public Extraction, public ::testing::WithParamInterface<TrackEnds> {};

TEST_P(TrackEndsOnDiscs, FilesHoldTheirTracksExactly) {
    const std::vector<TrackSpec>& specs = GetParam().second;
    disc = build_disc(space.images(), "disc", specs);
    for (const char* program : {kPalvane, kTremick}) {
        program_test::ProgramRun result = run(program);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out.find(':'), std::string::npos) << "nothing to report:\n" << result.out;
    }
    const std::string bchunk = "cd " + program_test::shell_quoted(space.root().string()) +
                               " && bchunk -w images/disc.bin images/disc.cue bchunk >/dev/null";
    ASSERT_EQ(std::system(bchunk.c_str()), 0);

    for (std::size_t i = 0; i < specs.size(); ++i) {
        const BuiltTrack& track = disc.tracks[i];
        const bool audio = track.kind == TrackKind::audio;
        const std::string name = (i < 9 ? "0" : "") + std::to_string(i + 1) + (audio ? ".wav" : ".iso");
        const bool cut = audio && i + 1 < specs.size() && specs[i + 1].kind != TrackKind::audio &&
                         specs[i + 1].session == specs[i].session;
        expect_file(name, track.start, cut ? std::max(track.start, track.end - 225) : track.end);
        // bchunk's track runs on to the next track in the bin file; ours is the same data, or less of it.
        const std::string ours = program_test::read_file(out / name);
        const std::string theirs = program_test::read_file(space.root() / ("bchunk" + name));
        const std::size_t header = audio ? 44 : 0;
        EXPECT_TRUE(ours.substr(header) == theirs.substr(header, ours.size() - header)) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), std::ssize(disc.tracks)) << "a file per track";
}

INSTANTIATE_TEST_SUITE_P(Discs, TrackEndsOnDiscs, ::testing::ValuesIn(kDiscs),
                         [](const auto& param) { return std::string(param.param.first); });

// A sector the drive cannot read is zero in the file and reported after the track (256 and 257 lie
// in two chunks); one that reads on the retry is neither. A track's last sectors that the drive
// refuses as of the other kind are the next track's pregap: zero too, and not damage.
TEST_F(Extraction, UnreadableSectorsAndTheNextTracksPregap) {
    // Track 2: INDEX 00 at 75, INDEX 01 at 225. Track 3: INDEX 00 at 300, INDEX 01 at 600.
    disc = build_disc(space.images(), "disc", {{kData, 75}, {kAudio, 75, 150}, {kData, 100, 300}});
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

    // A second run skips a file of the complete size, without reading it again, and redoes a
    // shorter one.
    fs::resize_file(out / "01.iso", fs::file_size(out / "01.iso") - 1);
    EXPECT_EQ(run(kPalvane).out, "");
    run(kTremick);
    expect_file("01.iso", 0, 225);
}

// A disc removed or changed mid-track is no bad sector: the program stops at once, no later sector
// and no later track, the file keeps only what was read before (so it is not complete), one line
// says so, and the next run writes the files whole.
TEST_F(Extraction, DiscRemovedOrChangedMidTrack) {
    disc = build_disc(space.images(), "disc", {{kData, 100}, {kAudio, 300}, {kAudio, 75}, {kData, 100}});
    const BuiltDisc other = build_disc(space.images(), "other", {{kData, 100}, {kAudio, 300}});
    const std::string sheet = disc.cue.string(), swap = "?swap=300:" + other.cue.string();
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {kTremick, "?eject=40", "Track 01: the disc was removed from D: (" + sheet + "?eject=40) at LBA 40; 01.iso"},
        {kPalvane, swap, "Track 02: the disc in D: (" + sheet + swap + ") was changed at LBA 300; 02.wav"},
    };
    for (const auto& [program, options, line] : cases) {
        const std::string printed = run(program, options).out;
        EXPECT_TRUE(printed.ends_with(" ).\n" + line + " is incomplete, and the next run writes it again.\n")) << printed;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 2) << "no later track";
    EXPECT_EQ(fs::file_size(out / "01.iso"), 40u * 2048);
    EXPECT_EQ(fs::file_size(out / "02.wav"), 44u + 200 * 2352);
    run(kTremick);
    run(kPalvane);
    expect_file("01.iso", 0, 100);
    expect_file("02.wav", 100, 400);
    expect_file("04.iso", 475, 575);
}

// Progress lines, and files that cannot be created or written (in a chunk, or only when closed: a
// header alone stays in the stream's buffer until then): each is reported, and the next track is
// extracted.
TEST_F(Extraction, OutputOfARunWithFilesThatCannotBeWritten) {
    const TrackSpec audio50{kAudio, 50};
    disc = build_disc(space.images(), "disc", {{kAudio, 100}, {kData, 100}, audio50, audio50, {kAudio, 160}});
    fs::create_symlink("/dev/full", out / "01.wav");
    fs::create_directory(out / "03.wav");
    fs::create_symlink("/dev/full", out / "04.wav");
    EXPECT_EQ(run(kPalvane).out,
              "Reading Track 01 ( remainder 0 ).\n"
              "Track 01: 01.wav could not be written; the next run writes it again.\n"
              "Track 03: 03.wav could not be created; the track was not extracted.\n"
              "Reading Track 04 ( remainder 1 ).\nReading Track 04 ( remainder 0 ).\n"
              "Track 04: 04.wav could not be written; the next run writes it again.\n"
              // Hundreds of sectors left: before the first chunk of 32 (160 / 100 + 1), then after each
              "Reading Track 05 ( remainder 2 ).\nReading Track 05 ( remainder 1 ).\n"
              "Reading Track 05 ( remainder 0 ).\nReading Track 05 ( remainder 0 ).\n"
              "Reading Track 05 ( remainder 0 ).\nReading Track 05 ( remainder 0 ).\n");
    expect_file("05.wav", 300, 460);
}

// A WAVE file as rippers write one, with other chunks around its samples (one of odd length), named
// in the sheet in another case: palvane gives the samples back.
TEST_F(Extraction, SheetOfAWaveFileGivesItsSamplesBack) {
    disc = build_disc(space.images(), "disc", {{kAudio, 300}});
    const std::string samples = program_test::read_file(space.images() / "disc.bin");
    std::ofstream(space.images() / "01 Song.WAV", std::ios::binary)
        << riff_wave(chunk("LIST", "INFOrip") + fmt_chunk() + chunk("data", samples) + chunk("id3 ", "tag"));
    std::ofstream(disc.cue) << "FILE \"01 song.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    run(kPalvane);
    expect_file("01.wav", 0, 300);
}

}  // namespace
