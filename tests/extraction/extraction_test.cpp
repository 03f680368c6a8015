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

// A disc, by name, and the fault options of its drive.
struct DiscRow {
    const char* name;
    std::vector<TrackSpec> specs;
    std::string options = "";
};

const TrackSpec kShort{kAudio, 30};
const std::vector<TrackSpec> kThreeSessions = {{kAudio, 300}, {kAudio, 200, 0, 2}, {kData, 100, 0, 3}};

// Each track's file holds the track as the image has it, from INDEX 01 up to the next track's
// sectors or the session's lead-out; an audio track stops 225 sectors short of a data track of
// its session (an empty file if it is shorter). Sound before track 1 is track 0, 00.wav; silence
// there gives no file.
const DiscRow kDiscs[] = {
    {"MixedDisc", {{kAudio, 100}, {kData, 200}, {kAudio, 300}, {kAudio, 250}, {kData, 100}}},
    {"ThreeSessions", kThreeSessions},
    // The full table of contents in BCD; tracks 10 and 11 open sessions 2 and 3.
    {"ThreeSessionsInBcd", {kShort, kShort, kShort, kShort, kShort, kShort, kShort, kShort, kShort,
                            {kAudio, 200, 0, 2}, {kData, 100, 0, 3}}, "?fulltoc=bcd"},
    {"TwoSessionsInBcd", {{kAudio, 300}, {kData, 100, 0, 2}}, "?fulltoc=bcd"},
    // Without it, the session information gives the last session's start.
    {"TwoSessionsWithoutAFullToc", {{kAudio, 300}, {kAudio, 200, 0, 2}}, "?fulltoc=none"},
    {"SoundBeforeTrackOne", {{kAudio, 300, 200}, {kAudio, 100}}},
    {"SilenceBeforeTrackOne", {{kAudio, 300, 0, 1, 33}}},
    // The most tracks a disc holds; the last ends at the lead-out, which the track list keeps too.
    {"NinetyNineTracks", std::vector<TrackSpec>(99, {kAudio, 3})},
};

class TrackEndsOnDiscs : public Extraction, public ::testing::WithParamInterface<DiscRow> {};

TEST_P(TrackEndsOnDiscs, FilesHoldTheirTracksExactly) {
    const std::vector<TrackSpec>& specs = GetParam().specs;
    disc = build_disc(space.images(), "disc", specs);
    for (const char* program : {kPalvane, kTremick}) {
        program_test::ProgramRun result = run(program, GetParam().options);
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
    const bool hidden = specs[0].kind == kAudio && specs[0].index0_sectors > 0;
    if (hidden) expect_file("00.wav", 0, disc.tracks[0].start);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), std::ssize(disc.tracks) + hidden) << "a file per track";
}

INSTANTIATE_TEST_SUITE_P(Discs, TrackEndsOnDiscs, ::testing::ValuesIn(kDiscs),
                         [](const auto& param) { return std::string(param.param.name); });

// Without a full table of contents the track before the last session still ends at its lead-out;
// the track before the second of three sessions runs through the gap, whose sectors are unreadable.
TEST_F(Extraction, ThreeSessionsWithoutAFullToc) {
    disc = build_disc(space.images(), "disc", kThreeSessions);
    const std::string printed = run(kPalvane, "?fulltoc=none").out;
    EXPECT_NE(printed.find("\nTrack 01: 11400 sectors could not be read (LBA 300 to 11699); they are zero in 01.wav.\n"
                           "Reading Track 02"), std::string::npos) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), ':'), 1) << printed;
    expect_file("01.wav", 0, disc.tracks[1].start);
    expect_file("02.wav", disc.tracks[1].start, disc.tracks[1].end);
}

// Sectors before track 1 that the drive refuses cost no file and one line. A disc removed there
// is looked at no further (one READ CD and its resend), and track 1 says so.
TEST_F(Extraction, RefusedSectorsBeforeTrackOne) {
    disc = build_disc(space.images(), "disc", {{kAudio, 100, 40}});
    EXPECT_TRUE(run(kPalvane, "?bad=0-39").out.starts_with(
        "Track 00: the sectors before track 1 could not be read (LBA 0); 00.wav was not written.\n"
        "Reading Track 01 ( remainder 2 ).\n"));
    EXPECT_FALSE(fs::exists(out / "00.wav"));
    const auto removed = program_test::run_program(space, kPalvane, disc.cue.string() + "?eject=0", "CDIF_TRACE=-");
    EXPECT_TRUE(removed.out.starts_with("Track 01: the disc was removed from")) << removed.out;
    std::size_t reads = 0;
    for (std::size_t at = 0; (at = removed.err.find("| be ", at)) != std::string::npos; ++at) ++reads;
    EXPECT_EQ(reads, 2u) << removed.err;
}

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
// in the sheet in another case: palvane gives the samples back. So it does from a FLAC file of
// them that holds two tracks, named as a WAVE file by the ripper's drive path, track 2's INDEX 00
// before track 1's INDEX 02.
TEST_F(Extraction, SheetOfAWaveOrFlacFileGivesItsSamplesBack) {
    disc = build_disc(space.images(), "disc", {{kAudio, 300}});
    const std::string samples = program_test::read_file(space.images() / "disc.bin");
    std::ofstream(space.images() / "01 Song.WAV", std::ios::binary)
        << riff_wave(chunk("LIST", "INFOrip") + fmt_chunk() + chunk("data", samples) + chunk("id3 ", "tag"));
    std::ofstream(disc.cue) << "FILE \"01 song.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    run(kPalvane);
    expect_file("01.wav", 0, 300);
    if (!CDIF_HAVE_FLAC) return;

    fs::remove(out / "01.wav");
    const std::string flac = "cd " + program_test::shell_quoted(space.images().string()) +
                             " && flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16"
                             " --sample-rate=44100 -o rip.flac disc.bin && rm disc.bin";
    ASSERT_EQ(std::system(flac.c_str()), 0);
    std::ofstream(disc.cue) << "FILE \"D:\\Rips\\Album\\rip.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                               "INDEX 02 00:01:40\nTRACK 02 AUDIO\nINDEX 00 00:01:30\nINDEX 01 00:01:47\n";
    EXPECT_EQ(run(kPalvane).err, "");
    expect_file("01.wav", 0, 122);
    expect_file("02.wav", 122, 300);
}

// A disc numbered from track 4, as a few are: every program says so in one line, and writes nothing.
TEST_F(Extraction, DiscWhoseFirstTrackIsNotOne) {
    disc = build_disc(space.images(), "disc", {{kAudio, 100}, {kData, 100}});
    std::string sheet = program_test::read_file(disc.cue);
    sheet.replace(sheet.find("TRACK 01"), 8, "TRACK 04").replace(sheet.find("TRACK 02"), 8, "TRACK 05");
    std::ofstream(disc.cue) << sheet;
    for (const char* program : {QUORLAN_PATH, kPalvane, kTremick}) {
        program_test::ProgramRun result = run(program);
        EXPECT_EQ(result.out + result.err,
                  "No drive holds a readable disc: D: (" + disc.cue.string() +
                      ") holds a disc whose first track is 4, not 1 (discs not numbered from track 1 cannot be read).\n");
        EXPECT_EQ(result.exit_code, 1);
    }
    EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
