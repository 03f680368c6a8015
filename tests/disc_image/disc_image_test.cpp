// The emulated drive and the images it serves: its answers to each command byte for byte, its
// refusals with their sense, injected faults, cue sheets that lay out as intended, bad images
// refused with the sheet's line and the reason, drives without a disc, and CDIF_DRIVES entries.
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "disc.h"
#include "disc_builder.h"
#include "drive_entry.h"
#include "emulated_drive.h"
#include "program_run.h"
#include "scsi_commands.h"

using namespace test_support;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;  // name and content of each file

// A FLAC file to write: CD audio samples encoded by the flac command with these further options,
// then cut after `keep` bytes.
std::string flac(const std::string& samples, const std::string& options = "", std::size_t keep = 0) {
    return "flac " + options + "|" + std::to_string(keep) + "|" + samples;
}

// A fresh folder for the images of one test, removed afterwards.
struct TempDir : program_test::Workspace {
    std::filesystem::path operator/(const std::string& name) const { return images() / name; }
    void write(const Files& files) const {
        for (const auto& [name, content] : files) {
            const std::filesystem::path path = images() / name;
            std::filesystem::create_directories(path.parent_path());
            const bool encode = content.starts_with("flac ");
            const std::size_t options = content.find('|'), keep = content.find('|', options + 1);
            const std::filesystem::path raw = encode ? images() / "samples.raw" : path;
            std::ofstream(raw, std::ios::binary) << (encode ? content.substr(keep + 1) : content);
            if (!encode) continue;
            const std::string command =
                "flac -s -f --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100 " +
                content.substr(5, options - 5) + " -o " + program_test::shell_quoted(path.string()) + " " +
                program_test::shell_quoted(raw.string());
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            std::filesystem::remove(raw);
            if (auto size = std::stoul(content.substr(options + 1, keep - options - 1))) std::filesystem::resize_file(path, size);
        }
    }
};

// One command's reply and the data it reported, from a data-in buffer of the given size.
struct Answer {
    disc_image::CommandReply reply;
    Bytes data;
};

Answer run(disc_image::EmulatedDrive& drive, const Bytes& cdb, std::size_t buffer = 4 * 2352) {
    Answer answer{{}, Bytes(buffer, 0xEE)};
    answer.reply = drive.execute(cdb, answer.data);
    EXPECT_LE(answer.reply.data_length, buffer);
    answer.data.resize(std::min<std::size_t>(answer.reply.data_length, buffer));
    return answer;
}

// 0 for GOOD; the sense key, ASC and ASCQ of a CHECK CONDITION as 0xKKAAQQ; -1 for other status.
int sense(const disc_image::CommandReply& reply) {
    if (reply.status == disc_image::kStatusGood) return 0;
    if (reply.status != disc_image::kStatusCheckCondition) return -1;
    return reply.sense[2] << 16 | reply.sense[12] << 8 | reply.sense[13];
}

// One track of every kind, with flags, INDEX 00 sectors, a PREGAP and a POSTGAP:
//   1 MODE1/2048 0-39 | 2 MODE1/2352 DCP 40-84, INDEX 01 at 45 | 3 MODE2/2352 85-134, PREGAP
//   85-94 | 4 AUDIO DCP PRE 135-188: PREGAP 135-137, INDEX 01 at 145, POSTGAP 185-188
// then session 2 (lead-out 189 + 11400): 5 AUDIO 4CH 11584-11618, INDEX 01 at 11589 | 6 MODE2/2352
// of form 2 sectors 11619-11628. Tracks 1 to 3 fill one file larger than the image reader's window;
// track 4 has a file of its own, tracks 5 and 6 share one.
class EveryKind : public testing::Test {
protected:
    std::unique_ptr<disc_image::EmulatedDrive> open(const std::string& options = "") const {
        return disc_image::EmulatedDrive::from_entry(disc.cue.string() + options);
    }
    TempDir dir;
    BuiltDisc disc = build_disc(dir.images(), "kinds",
                                {{TrackKind::mode1_2048, 40},
                                 {TrackKind::mode1_2352, 40, 5, 1, 0, 0, "DCP"},
                                 {TrackKind::mode2_2352, 40, 0, 1, 10},
                                 {TrackKind::audio, 40, 7, 1, 3, 4, "DCP PRE", true},
                                 {TrackKind::audio, 30, 5, 2, 0, 0, "4CH", true},
                                 {TrackKind::mode2_form2, 10, 0, 2}});
    // Bytes [begin, end) of the whole sector at lba.
    Bytes field(std::int32_t lba, int begin, int end) const {
        const Bytes raw = disc.raw_sector(lba);
        return {raw.begin() + begin, raw.begin() + end};
    }
    std::unique_ptr<disc_image::EmulatedDrive> drive = open();
    const std::int32_t mode1 = disc.tracks[1].start, mode2 = disc.tracks[2].start;
    const std::int32_t audio = disc.tracks[3].start, form2 = disc.tracks[5].start;
};

// Every sector, read whole with the next one by READ CD, and its user data by READ(10), is the
// image's, gaps made up as zeros; READ(10) refuses audio and form 2; the session gap and the
// lead-out are out of range. The reads cross the end of the reader's window and go from file to
// file and back.
TEST_F(EveryKind, EverySectorReadsAsTheImageHoldsIt) {
    for (std::int32_t lba = 0; lba <= disc.lead_out; ++lba) {
        Bytes both = disc.raw_sector(lba), next = disc.raw_sector(lba + 1);
        both.insert(both.end(), next.begin(), next.end());
        const bool in_range = both.size() == 2 * 2352;
        Answer whole = run(*drive, read_cd_cdb(lba, 2, 0, 0xF8));
        ASSERT_EQ(sense(whole.reply), in_range ? 0 : 0x052100) << "LBA " << lba;
        ASSERT_EQ(whole.data, in_range ? both : Bytes{}) << "LBA " << lba;

        Answer user = run(*drive, read10_cdb(lba, 1));
        const int refusal = !disc.track_at(lba) ? 0x052100 : disc.user_data(lba).empty() ? 0x056400 : 0;
        ASSERT_EQ(sense(user.reply), refusal) << "LBA " << lba;
        ASSERT_EQ(user.data, disc.user_data(lba)) << "LBA " << lba;  // none from audio or out of range
    }
}

// Format 0 in LBA form: ADR 1 and the control nibble (data bit and flags), track, LBA.
const Bytes kTracks = {0x00, 0x3A, 0x01, 0x06,                          // length 58, tracks 1 to 6
                       0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // track 1 at 0
                       0x00, 0x16, 0x02, 0x00, 0x00, 0x00, 0x00, 0x2D,  // track 2 at 45
                       0x00, 0x14, 0x03, 0x00, 0x00, 0x00, 0x00, 0x5F,  // track 3 at 95
                       0x00, 0x13, 0x04, 0x00, 0x00, 0x00, 0x00, 0x91,  // track 4 at 145
                       0x00, 0x18, 0x05, 0x00, 0x00, 0x00, 0x2D, 0x45,  // track 5 at 11589
                       0x00, 0x14, 0x06, 0x00, 0x00, 0x00, 0x2D, 0x63,  // track 6 at 11619
                       0x00, 0x14, 0xAA, 0x00, 0x00, 0x00, 0x2D, 0x6D}; // lead-out at 11629

// Format 2: per session the points A0 (first track; disc type 20, CD-ROM XA), A1 (last track),
// A2 (lead-out) and one per track, times as MSF of LBA + 150.
const Bytes kFullToc = {0x00, 0x86, 0x01, 0x02,
                        0x01, 0x14, 0, 0xA0, 0, 0, 0, 0, 0x01, 0x20, 0x00,
                        0x01, 0x13, 0, 0xA1, 0, 0, 0, 0, 0x04, 0x00, 0x00,
                        0x01, 0x13, 0, 0xA2, 0, 0, 0, 0, 0x00, 0x04, 0x27,   // 00:04:39
                        0x01, 0x14, 0, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00,   // 00:02:00
                        0x01, 0x16, 0, 0x02, 0, 0, 0, 0, 0x00, 0x02, 0x2D,   // 00:02:45
                        0x01, 0x14, 0, 0x03, 0, 0, 0, 0, 0x00, 0x03, 0x14,   // 00:03:20
                        0x01, 0x13, 0, 0x04, 0, 0, 0, 0, 0x00, 0x03, 0x46,   // 00:03:70
                        0x02, 0x18, 0, 0xA0, 0, 0, 0, 0, 0x05, 0x20, 0x00,
                        0x02, 0x14, 0, 0xA1, 0, 0, 0, 0, 0x06, 0x00, 0x00,
                        0x02, 0x14, 0, 0xA2, 0, 0, 0, 0, 0x02, 0x25, 0x04,   // 02:37:04
                        0x02, 0x18, 0, 0x05, 0, 0, 0, 0, 0x02, 0x24, 0x27,   // 02:36:39
                        0x02, 0x14, 0, 0x06, 0, 0, 0, 0, 0x02, 0x24, 0x45};  // 02:36:69

// A reply of this header followed by the last bytes of another.
Bytes with_tail(Bytes header, const Bytes& whole, std::size_t size) {
    header.insert(header.end(), whole.end() - static_cast<std::ptrdiff_t>(size), whole.end());
    return header;
}

// Each command with the sense it ends with (0: GOOD) and the data it gives.
TEST_F(EveryKind, Exchanges) {
    const std::tuple<Bytes, int, Bytes> exchanges[] = {
        {read_toc_cdb(false, 0, 0, 1024), 0, kTracks},
        {read_toc_cdb(false, 0, 5, 1024), 0, with_tail({0x00, 0x1A, 0x01, 0x06}, kTracks, 24)},
        {read_toc_cdb(false, 0, 0xAA, 1024), 0, with_tail({0x00, 0x0A, 0x01, 0x06}, kTracks, 8)},
        {read_toc_cdb(false, 0, 0, 12), 0, Bytes(kTracks.begin(), kTracks.begin() + 12)},  // length still 58
        {read_toc_cdb(false, 0, 0, 0), 0, {}},
        // Format 1: the last session's first track.
        {read_toc_cdb(false, 1, 0, 1024), 0, {0x00, 0x0A, 0x01, 0x02, 0x00, 0x18, 0x05, 0, 0, 0, 0x2D, 0x45}},
        {read_toc_cdb(false, 2, 0, 1024), 0, kFullToc},
        {read_toc_cdb(true, 2, 1, 1024), 0, kFullToc},  // times either way; session 1 first
        {{0x43, 0, 0, 0, 0, 0, 2, 0x04, 0x00, 0x80}, 0, with_tail({0x00, 0x39, 0x01, 0x02}, kFullToc, 55)},
        {read_toc_cdb(false, 0, 7, 1024), 0x052400, {}},
        {read_toc_cdb(false, 2, 3, 1024), 0x052400, {}},
        {read_toc_cdb(false, 3, 0, 1024), 0x052400, {}},
        {{0x43, 0, 0}, 0x052400, {}},  // CDB too short
        {{0, 0, 0, 0, 0, 0}, 0, {}},
        {{0x12, 0, 0, 0, 16, 0}, 0, {0x05, 0x80, 0x05, 0x02, 31, 0, 0, 0, 'C', 'D', 'I', 'F', 32, 32, 32, 32}},
        {{0x12, 1, 0x80, 0, 0x80, 0}, 0x052400, {}},  // vital product data are not served
        {{0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x20, 0}, 0x052000, {}},
        {read_cd_cdb(audio, 1, 1, 0x10), 0, field(audio, 0, 2352)},  // READ CD: the fields selected
        {read_cd_cdb(mode1, 1, 2, 0x10), 0, field(mode1, 16, 2064)},
        {read_cd_cdb(mode1, 1, 2, 0x30), 0, field(mode1, 12, 2064)},
        {read_cd_cdb(mode2, 1, 4, 0x10), 0, field(mode2, 24, 2072)},
        {read_cd_cdb(mode2, 1, 4, 0x70), 0, field(mode2, 12, 2072)},
        {read_cd_cdb(mode2 - 1, 1, 4, 0xF8), 0, field(mode2 - 1, 0, 2352)},  // a PREGAP sector
        {read_cd_cdb(form2, 1, 5, 0x10), 0, field(form2, 24, 2348)},
        {read_cd_cdb(mode1, 1, 4, 0x10), 0x056400, {}},  // expected sector type of another mode
        {read_cd_cdb(mode2, 1, 5, 0x10), 0x056400, {}},  // form 2 asked of a form 1 sector
        {read_cd_cdb(form2, 1, 4, 0x10), 0x056400, {}},
        {read_cd_cdb(audio, 1, 2, 0x10), 0x056400, {}},
        {read10_cdb(disc.tracks[2].after - 1, 2), 0x056400, {}},  // from a data track into an audio track
        {read_cd_cdb(audio, 1, 6, 0x10), 0x052400, {}},     // no such sector type
        {read_cd_cdb(audio, 1, 1, 0x12), 0x052400, {}},     // C2 errors
        {{0xBE, 0x04, 0, 0, 0, 145, 0, 0, 1, 0x10, 1, 0}, 0x052400, {}},  // sub-channel data
        {read_cd_cdb(mode1, 1, 2, 0x28), 0x052400, {}},  // header and EDC/ECC without the user data
        {read_cd_cdb(mode1, 1, 2, 0x90), 0x052400, {}},  // sync and user data without the header
        {read_cd_cdb(mode2, 1, 4, 0x30), 0x052400, {}},  // header and user data without the subheader
        {{0x28, 0x20, 0, 0, 0, 45, 0, 0, 1, 0}, 0x052500, {}},  // LUN 1
        {read_cd_cdb(0xFFFFFF6A, 1, 0, 0x10), 0x052100, {}},  // LBA -150
        {read_cd_cdb(0xFFFFFFFF, 2, 0, 0x10), 0x052100, {}},
        {read_cd_cdb(0, 0xFFFFFF, 0, 0x10), 0x052100, {}},
        {read_cd_cdb(audio, 0, 1, 0x10), 0, {}},  // nothing to read
    };
    for (const auto& [cdb, expected_sense, reply] : exchanges) {
        Answer answer = run(*drive, cdb);
        EXPECT_EQ(sense(answer.reply), expected_sense) << testing::PrintToString(cdb);
        EXPECT_EQ(answer.data, reply) << testing::PrintToString(cdb);
        EXPECT_FALSE(answer.reply.overrun);
    }
    // Fixed-format sense; an illegal mode names the sector in the information field.
    const std::array<std::uint8_t, 18> illegal_mode{0xF0, 0, 0x05, 0, 0, 0, std::uint8_t(audio), 10,
                                                    0,    0, 0,    0, 0x64, 0, 0, 0, 0, 0};
    EXPECT_EQ(run(*drive, read10_cdb(audio, 1)).reply.sense, illegal_mode);
}

// A buffer smaller than the transfer takes what fits and the rest is an overrun, which the host
// side reports as a failed transfer: a caller's undersized buffer cannot pass for a good read.
TEST_F(EveryKind, TransferStopsAtTheEndOfTheBuffer) {
    Answer cut = run(*drive, read_cd_cdb(audio, 2, 1, 0x10), 2500);  // writing past it shows under ASan
    EXPECT_EQ(sense(cut.reply), 0);
    EXPECT_TRUE(cut.reply.overrun);
    Bytes expected = disc.audio_sector(audio), second = disc.audio_sector(audio + 1);
    expected.insert(expected.end(), second.begin(), second.begin() + (2500 - 2352));
    EXPECT_EQ(cut.data, expected);
    EXPECT_FALSE(run(*drive, read_cd_cdb(audio, 2, 1, 0x10), 2 * 2352).reply.overrun);
    Answer toc = run(*drive, read_toc_cdb(false, 0, 0, 1024), 6);  // the allocation length is larger
    EXPECT_TRUE(toc.reply.overrun);
    EXPECT_EQ(toc.data, Bytes(kTracks.begin(), kTracks.begin() + 6));
}

// A bad sector fails every time, a flaky one its given number of times; a failure's sense is
// there for one REQUEST SENSE, which clears it by ending well. The full table of contents comes
// in BCD or not at all.
TEST_F(EveryKind, InjectedFaults) {
    auto faulty = open("?bad=" + std::to_string(audio) + "&flaky=" + std::to_string(audio + 1) + "x2");
    const Bytes request_sense = {0x03, 0, 0, 0, 18, 0};
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(sense(run(*faulty, read_cd_cdb(audio + 1, 1, 1, 0x10)).reply), attempt < 2 ? 0x031100 : 0);
        Answer bad = run(*faulty, read_cd_cdb(audio, 1, 1, 0x10));
        EXPECT_EQ(sense(bad.reply), 0x031100);
        EXPECT_EQ(run(*faulty, request_sense).data, Bytes(bad.reply.sense.begin(), bad.reply.sense.end()));
        EXPECT_EQ(run(*faulty, request_sense).data[2], 0);
    }
    EXPECT_FALSE(open("?noopen")->can_open());

    // The full table of contents in BCD, as some drives answer (A0's PSEC, the disc type, is a
    // code and stays), or none at all.
    Bytes full_toc = run(*open("?fulltoc=bcd"), read_toc_cdb(false, 2, 0, 1024)).data;
    for (std::size_t at = 4; at + 11 <= full_toc.size(); at += 11)
        for (std::size_t i : {3, 8, 9, 10})
            if (i == 3 ? full_toc[at + 3] < 0xA0 : i != 9 || full_toc[at + 3] != 0xA0)
                full_toc[at + i] = std::uint8_t(full_toc[at + i] - full_toc[at + i] / 16 * 6);
    EXPECT_EQ(full_toc, kFullToc);
    auto none = open("?fulltoc=none");
    EXPECT_EQ(sense(run(*none, read_toc_cdb(false, 2, 0, 1024)).reply), 0x052400);
    EXPECT_EQ(run(*none, read_toc_cdb(false, 0, 0, 1024)).data, kTracks);
}

// The disc goes, or another takes its place (the command asking for the sector then ends with
// UNIT ATTENTION), when its sector is asked for; a spinning-up drive is becoming ready for the
// given number of commands that need the disc, INQUIRY aside.
TEST_F(EveryKind, DiscEjectedSwappedOrSpinningUp) {
    const BuiltDisc other = build_disc(dir.images(), "other", {{TrackKind::mode1_2352, 300}});
    const Bytes tur = {0, 0, 0, 0, 0, 0}, inquiry = {0x12, 0, 0, 0, 36, 0};
    const std::string at = std::to_string(mode1 + 1);
    const std::tuple<std::string, std::vector<std::pair<Bytes, int>>> cases[] = {
        {"?eject=" + at, {{read10_cdb(mode1, 1), 0}, {read10_cdb(mode1, 2), 0x023A00}, {read10_cdb(mode1, 1), 0x023A00}, {tur, 0x023A00}}},
        {"?swap=" + at + ":" + other.cue.string(), {{read10_cdb(mode1 + 1, 1), 0x062800}, {read10_cdb(mode1 + 1, 1), 0}, {tur, 0}}},
        {"?swap=" + at + ":/nowhere.cue", {{read10_cdb(mode1 + 1, 1), 0x062800}, {tur, 0x023A00}}},
        {"?spinup=2", {{inquiry, 0}, {tur, 0x020401}, {read10_cdb(mode1, 1), 0x020401}, {tur, 0}}},
    };
    for (const auto& [options, exchanges] : cases) {
        testing::internal::CaptureStderr();
        auto faulty = open(options);
        testing::internal::GetCapturedStderr();
        for (const auto& [cdb, expected] : exchanges) EXPECT_EQ(sense(run(*faulty, cdb).reply), expected) << options;
    }
    auto swapped = open("?swap=" + at + ":" + other.cue.string());
    run(*swapped, read10_cdb(mode1 + 1, 1));
    EXPECT_EQ(run(*swapped, read10_cdb(mode1 + 1, 1)).data, other.user_data(mode1 + 1));
}

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
                  "\ttrack 02 AUDIO\n\tPREGAP 00:01:00\n\tINDEX 00 00:00:30\n\tINDEX 01 00:00:40\n"
                  "\tINDEX 02 00:00:50\n\tPOSTGAP 00:00:05\n"},
      {"one.bin", sectors(100, 'x')}},
     {{1, 0, 0, 35}, {1, 35, 120, 185}},
     {{29, 'x'}, {30, 0}, {35, 0}, {110, 'x'}, {179, 'x'}, {180, 0}}},
    // Names relative to the sheet's folder or absolute; a 2048-byte file gets made-up headers.
    {"FilesPerTrackWithSpacesAndTheirOwnPregaps",
     {{"sub/disc.cue", "FILE \"../track one.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                       "FILE \"@/track two.iso\" BINARY\nTRACK 02 MODE1/2048\nINDEX 00 00:00:00\n"
                       "INDEX 01 00:00:02\n"},
      {"track one.bin", sectors(20, 'a')}, {"track two.iso", sectors(10, 'b', 2048)}},
     {{1, 0, 0, 20}, {1, 20, 22, 30}},
     {{19, 'a'}, {20, 'b'}, {29, 'b'}}},
    // a.bin: 10 Mode 1 sectors of 2048 bytes, then 5 audio sectors that are track 2's INDEX 00;
    // c.bin: sectors before its first track's INDEX 01 are that track's, in its sector size.
    {"PregapsInTheirOwnFileOrThePreviousOneAndMixedSectorSizes",
     {{"disc.cue", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
                   "INDEX 00 00:00:10\nFILE b.bin BINARY\nINDEX 01 00:00:00\nFILE c.bin BINARY\n"
                   "TRACK 03 MODE1/2048\nINDEX 01 00:00:03\n"},
      {"a.bin", sectors(10, 'd', 2048) + sectors(5, 'p')}, {"b.bin", sectors(6, 's')},
      {"c.bin", sectors(3, 'q', 2048) + sectors(2, 't', 2048)}},
     {{1, 0, 0, 10}, {1, 10, 15, 21}, {1, 21, 24, 26}},
     {{9, 'd'}, {10, 'p'}, {14, 'p'}, {15, 's'}, {20, 's'}, {21, 'q'}, {23, 'q'}, {24, 't'}, {25, 't'}}},
    {"PlainIso", {{"plain.ISO", sectors(16, 'i', 2048)}}, {{1, 0, 0, 16}}, {{0, 'i'}, {15, 'i'}}},
    // The rip's folder in the path, where the file lies; a drive path, whose file lies beside the sheet.
    {"WindowsPathsInASubfolderOrBesideTheSheet",
     {{"disc.cue", "FILE \"Album\\One.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                   "FILE \"D:\\Rips\\Album\\TWO.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n"},
      {"Album/One.bin", sectors(10, 'a')}, {"two.bin", sectors(5, 'b')}},
     {{1, 0, 0, 10}, {1, 10, 10, 15}},
     {{9, 'a'}, {10, 'b'}, {14, 'b'}}},
    // Track 1's INDEX 02 lies in track 2's pregap; track 3's INDEX 00 before track 2's INDEX 01 is
    // passed over; track 3 goes on into d.bin, which only its INDEX 02 names.
    {"IndexesThatContradictOtherTracks",
     {{"disc.cue", "FILE c.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 02 00:00:50\nTRACK 02 AUDIO\n"
                   "INDEX 00 00:00:40\nINDEX 01 00:00:60\nTRACK 03 AUDIO\nINDEX 00 00:00:55\nINDEX 01 00:01:00\n"
                   "FILE d.bin BINARY\nINDEX 02 00:00:02\n"},
      {"c.bin", sectors(40, 'p') + sectors(35, 'q') + sectors(5, 'r')}, {"d.bin", sectors(4, 's')}},
     {{1, 0, 0, 40}, {1, 40, 60, 75}, {1, 75, 75, 84}},
     {{39, 'p'}, {40, 'q'}, {74, 'q'}, {75, 'r'}, {80, 's'}, {83, 's'}}},
    {"FlacFilesNamedAsWaveOrByTheirType",
     {{"disc.cue", "FILE a.flac WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:00:10\n"
                   "INDEX 01 00:00:12\nFILE b.FLAC FLAC\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n"},
      {"a.flac", flac(sectors(10, 'f') + sectors(20, 'g'))}, {"b.FLAC", flac(sectors(3, 'h'))}},
     {{1, 0, 0, 10}, {1, 10, 12, 30}, {1, 30, 30, 33}},
     {{9, 'f'}, {10, 'g'}, {29, 'g'}, {30, 'h'}, {32, 'h'}}},
};

class CueLayout : public testing::TestWithParam<Image> {};

TEST_P(CueLayout, TracksAndSectorsLieWhereTheSheetSays) {
    if (!CDIF_HAVE_FLAC && std::string(GetParam().name).find("Flac") != std::string::npos) GTEST_SKIP() << "no libFLAC";
    TempDir dir;
    for (auto [name, content] : GetParam().files) {
        if (auto at = content.find('@'); at != std::string::npos) content.replace(at, 1, dir.images());
        dir.write({{name, content}});
    }
    auto loaded = disc_image::load_image(dir / GetParam().files[0].first);
    auto* disc = std::get_if<disc_image::Disc>(&loaded);
    ASSERT_NE(disc, nullptr) << std::get<disc_image::ImageError>(loaded).text();
    std::vector<Layout> layout;
    for (const auto& t : disc->tracks()) layout.push_back({t.session, t.first, t.start, t.after});
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

// A disc's bin as a FLAC file reads as the bin does, sector for sector, read from the end back to
// the start: each read seeks, most into the middle of a frame, then decodes on.
TEST(FlacImage, SectorsReadBackwardsAsTheSamplesHoldThem) {
    if (!CDIF_HAVE_FLAC) GTEST_SKIP() << "no libFLAC";
    TempDir dir;
    const BuiltDisc disc = build_disc(dir.images(), "disc", {{TrackKind::audio, 150, 10}, {TrackKind::audio, 90}});
    std::string sheet = program_test::read_file(disc.cue);
    sheet.replace(sheet.find("disc.bin\" BINARY"), 16, "disc.flac\" WAVE");
    dir.write({{"disc.cue", sheet}, {"disc.flac", flac(program_test::read_file(dir / "disc.bin"))}});
    std::filesystem::remove(dir / "disc.bin");
    auto drive = disc_image::EmulatedDrive::from_entry(disc.cue.string());
    for (std::int32_t lba = disc.lead_out - 1; lba >= 0; --lba)
        ASSERT_EQ(run(*drive, read_cd_cdb(lba, 1, 1, 0x10)).data, disc.audio_sector(lba)) << "LBA " << lba;
}

// Entries the drive cannot understand are refused, and only image names stand for emulated drives.
TEST(DriveEntry, RefusedEntriesAndImageNames) {
    for (const char* wrong : {"x.cue?bad=", "x.cue?bad=5-3", "x.cue?bad=-1", "x.cue?flaky=5", "x.cue?",
                              "x.cue?flaky=5x0", "x.cue?bad=99999999999", "x.cue?slow", "x.cue?eject=",
                              "x.cue?swap=5", "x.cue?swap=5:", "x.cue?spinup=-1", "x.cue?fulltoc=hex"})
        EXPECT_TRUE(std::holds_alternative<std::string>(disc_image::parse_drive_entry(wrong))) << wrong;

    for (auto [entry, image] : {std::pair{"empty?noopen", true}, {"D.CUE", true}, {"/x/y.Iso", true},
                                {"/dev/sr0", false}, {"cue", false}, {"d.cue.bin", false}, {"a?b.cue", false}})
        EXPECT_EQ(disc_image::is_emulated_entry(entry), image) << entry;
}

constexpr std::size_t kRaw = 2352;
const std::string kHead = "FILE d.bin BINARY\nTRACK 01 AUDIO\n";
const std::string kWaveSheet = "FILE d.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
const std::string kSamples = chunk("data", std::string(kRaw, 's'));
const std::string kTwoSectors = riff_wave(fmt_chunk() + chunk("data", std::string(2 * kRaw, 's')));

const std::string kFlacSheet = "FILE d.flac WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
const char* const kNoFlac = "d.flac\" is a FLAC file, which this build cannot decode: it was built without libFLAC";
const std::string kNoise = [] {  // samples that do not compress
    std::string samples(20 * kRaw, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<char>((i * 2654435761u) >> 13);
    return samples;
}();

Files bin(std::size_t size) { return {{"d.bin", std::string(size, '\0')}}; }
Files flac_file(const std::string& content) { return {{"d.flac", content}}; }
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
    {"binary_sheet", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10), 1, "binary data"},
    {"endless_line", "REM " + std::string(100000, 'x') + "\n", 1, "line longer than"},
    {"unknown_command", kHead + "INDEX 01 00:00:00\nFROBNICATE 3\n", 4, "unknown command"},
    {"open_quote", "FILE \"d.bin BINARY\n", 1, "unterminated"},
    {"track_before_file", "TRACK 01 AUDIO\n", 1, "before any FILE"},
    {"track_skipped", kHead + "INDEX 01 00:00:00\nTRACK 03 AUDIO\n", 4, "out of order"},
    {"track_100", kHead + "INDEX 01 00:00:00\nTRACK 100 AUDIO\n", 4, "out of range"},
    {"index_before_01", kHead + "INDEX 02 00:00:00\n", 3, "out of order"},
    {"time_goes_back", kHead + "INDEX 01 00:00:05\nTRACK 02 AUDIO\nINDEX 01 00:00:04\n", 5,
     "INDEX 01 does not lie after the INDEX 01 of track 1"},
    {"index_before_its_tracks", kHead + "INDEX 01 00:00:05\nINDEX 02 00:00:05\n", 4,
     "INDEX 02 does not lie after the track's INDEX 01"},
    {"seconds_60", kHead + "INDEX 01 00:60:00\n", 3, "seconds out of range"},
    {"frames_75", kHead + "INDEX 01 00:00:75\n", 3, "frames out of range"},
    {"overflow", kHead + "INDEX 01 00:00:99999999999999999999\n", 3, "frames out of range"},
    {"negative_time", kHead + "INDEX 01 -1:00:00\n", 3, "not a time (MM:SS:FF)"},
    {"no_index_01", kHead + "INDEX 00 00:00:00\n", 2, "no INDEX 01"},
    {"no_track", "FILE d.bin BINARY\n", 1, "no TRACK"},
    {"unsupported_track", "FILE d.bin BINARY\nTRACK 01 MODE2/2336\n", 2, "not supported"},
    {"aiff_file", "FILE d.aif AIFF\n", 1, "not supported"},
    {"pregap_after_index", kHead + "INDEX 01 00:00:00\nPREGAP 00:02:00\n", 4, "PREGAP"},
    {"session_3_after_1", kHead + "INDEX 01 00:00:00\nREM SESSION 03\n", 4, "session 3"},
    {"file_without_index", kHead + "INDEX 01 00:00:00\nFILE d.bin BINARY\n", 4, "without any INDEX"},
    {"index_at_bin_end", kHead + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:10\n", 5, "shorter",
     bin(kRaw * 10)},
    {"partial_sector", kHead + "INDEX 01 00:00:00\n", 1, "whole 2352-byte", bin(kRaw * 10 + 5)},
    {"folder_as_bin", "FILE . BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1, "cannot open"},
    {"two_names_in_another_case", "FILE CDDA.BIN BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1,
     "names that differ from it only in case: \"Cdda.Bin\" \"cdda.bin\"",
     {{"cdda.bin", kSamples}, {"Cdda.Bin", kSamples}}},
    {"session_gap_too_short", kHead + "INDEX 01 00:00:00\nREM SESSION 02\nTRACK 02 AUDIO\nPREGAP 03:00:00\n"
                                      "INDEX 01 00:00:01\n", 5, "longer than the gap", bin(kRaw * 2)},
    {"wave_of_another_kind", kWaveSheet, 1, "d.wav\" is not a RIFF/WAVE file", wav(std::string(kRaw, 'x'))},
    {"wave_header_cut", kWaveSheet, 1, "fmt chunk cut short", wav(riff_wave(fmt_chunk()).substr(0, 30))},
    {"float_wave", kWaveSheet, 1, "holds format 3, 2 channels, 44100 Hz, 32 bits",
     wav(riff_wave(fmt_chunk(3, 2, 44100, 32) + kSamples))},
    {"wave_without_samples", kWaveSheet, 1, "no data chunk", wav(riff_wave(fmt_chunk() + chunk("LIST", "x")))},
    {"wave_samples_first", kWaveSheet, 1, "data chunk before", wav(riff_wave(kSamples + fmt_chunk()))},
    {"wave_samples_cut", kWaveSheet, 1, "cut short (2352 of 4704 bytes)",
     wav(kTwoSectors.substr(0, kTwoSectors.size() - kRaw))},
    {"data_track_in_wave", "FILE d.wav WAVE\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", 3,
     "data track, which WAVE file \"d.wav\"", wav(kTwoSectors)},
    {"data_track_in_flac", "FILE d.flac FLAC\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", 3, "data track, which FLAC file"},
    {"wave_named_flac", kFlacSheet, 1, CDIF_HAVE_FLAC ? "d.flac\" is not a FLAC file" : kNoFlac, flac_file(kTwoSectors)},
    {"flac_of_another_format", kFlacSheet, 1, CDIF_HAVE_FLAC ? "d.flac\" holds 1 channels of 16 bits at 48000 Hz" : kNoFlac,
     flac_file(flac(kNoise, "--channels=1 --sample-rate=48000"))},
    {"flac_cut_short", kFlacSheet, 1, CDIF_HAVE_FLAC ? "does not decode to its end: it is damaged or cut short" : kNoFlac,
     flac_file(flac(kNoise, "", kNoise.size() / 2))},
    {"windows_path_nowhere", "FILE \"D:\\Rips\\gone.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1,
     "cannot open \"D:\\Rips\\gone.bin\": not found as written, nor as \"gone.bin\" in \"/"},
    {"empty_sheet_named__cue", "", 0, "the cue sheet is empty", bin(kRaw), ".cue"},
    {"sheet_over_1_MiB", std::string((1 << 20) + 1, '\n'), 0, "too large"},
    {"empty_iso", "", 0, "empty", {}, "d.iso"},
    {"odd_iso", std::string(2049, 'x'), 0, "2048-byte", {}, "d.iso"},
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

INSTANTIATE_TEST_SUITE_P(Table, MalformedImage, testing::ValuesIn(kMalformed),
                         [](const auto& row) { return row.param.name; });

// Without a disc (none named, an image that cannot be loaded, an entry that is not understood)
// the drive is NOT READY for every medium command but answers INQUIRY and REQUEST SENSE; the
// reason goes to standard error in one line, a huge entry shown by its start.
TEST(NoDisc, OnlyInquiryAndRequestSenseAnswer) {
    const std::string huge = "/nonexistent/" + std::string(100000, 'x') + "/disc.cue";
    const std::pair<std::string, std::string> entries[] = {
        {"empty", ""},
        {"/nowhere/disc.cue?bad=3", "disc image /nowhere/disc.cue: cannot open the cue sheet\n"},
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

}  // namespace
