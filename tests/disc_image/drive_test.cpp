// The emulated drive's answers to INQUIRY, TEST UNIT READY, REQUEST SENSE, READ TOC, READ(10)
// and READ CD, byte for byte, its refusals with their sense, and injected faults.
#include "disc_builder.h"
#include "drive_helpers.h"

using namespace disc_image_test;

namespace {

// One track of every kind, with flags, INDEX 00 sectors, a PREGAP and a POSTGAP:
//   1 MODE1/2048 0-39 | 2 MODE1/2352 DCP 40-84, INDEX 01 at 45 | 3 MODE2/2352 85-134, PREGAP
//   85-94 | 4 AUDIO DCP PRE 135-188: PREGAP 135-137, INDEX 01 at 145, POSTGAP 185-188
// then session 2 (lead-out 189 + 11400): 5 AUDIO 4CH 11589-11618.
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
                                 {TrackKind::audio, 40, 7, 1, 3, 4, "DCP PRE"},
                                 {TrackKind::audio, 30, 0, 2, 0, 0, "4CH"}});
    // Bytes [begin, end) of the whole sector at lba.
    Bytes field(std::int32_t lba, int begin, int end) const {
        const Bytes raw = disc.raw_sector(lba);
        return {raw.begin() + begin, raw.begin() + end};
    }
    std::unique_ptr<disc_image::EmulatedDrive> drive = open();
    const std::int32_t mode1 = disc.tracks[1].start, mode2 = disc.tracks[2].start, audio = disc.tracks[3].start;
};

// Every sector, read whole with the next one by READ CD, and its user data by READ(10), is the
// image's, gaps made up as zeros; READ(10) refuses audio; the session gap and the lead-out are
// out of range.
TEST_F(EveryKind, EverySectorReadsAsTheImageHoldsIt) {
    for (std::int32_t lba = 0; lba <= disc.lead_out; ++lba) {
        Bytes both = disc.raw_sector(lba), next = disc.raw_sector(lba + 1);
        both.insert(both.end(), next.begin(), next.end());
        const bool in_range = both.size() == 2 * 2352;
        Answer whole = run(*drive, read_cd_cdb(lba, 2, 0, 0xF8));
        ASSERT_EQ(sense(whole.reply), in_range ? 0 : 0x052100) << "LBA " << lba;
        ASSERT_EQ(whole.data, in_range ? both : Bytes{}) << "LBA " << lba;

        const BuiltTrack* track = disc.track_at(lba);
        Answer user = run(*drive, read10_cdb(lba, 1));
        const int refusal = !track ? 0x052100 : track->kind == TrackKind::audio ? 0x056400 : 0;
        ASSERT_EQ(sense(user.reply), refusal) << "LBA " << lba;
        ASSERT_EQ(user.data, disc.user_data(lba)) << "LBA " << lba;  // none from audio or out of range
    }
}

// Format 0 in LBA form: ADR 1 and the control nibble (data bit and flags), track, LBA.
const Bytes kTracks = {0x00, 0x32, 0x01, 0x05,                          // length 50, tracks 1 to 5
                       0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // track 1 at 0
                       0x00, 0x16, 0x02, 0x00, 0x00, 0x00, 0x00, 0x2D,  // track 2 at 45
                       0x00, 0x14, 0x03, 0x00, 0x00, 0x00, 0x00, 0x5F,  // track 3 at 95
                       0x00, 0x13, 0x04, 0x00, 0x00, 0x00, 0x00, 0x91,  // track 4 at 145
                       0x00, 0x18, 0x05, 0x00, 0x00, 0x00, 0x2D, 0x45,  // track 5 at 11589
                       0x00, 0x18, 0xAA, 0x00, 0x00, 0x00, 0x2D, 0x63}; // lead-out at 11619

// Format 2: per session the points A0 (first track; disc type 20, CD-ROM XA), A1 (last track),
// A2 (lead-out) and one per track, times as MSF of LBA + 150.
const Bytes kFullToc = {0x00, 0x7B, 0x01, 0x02,
                        0x01, 0x14, 0, 0xA0, 0, 0, 0, 0, 0x01, 0x20, 0x00,
                        0x01, 0x13, 0, 0xA1, 0, 0, 0, 0, 0x04, 0x00, 0x00,
                        0x01, 0x13, 0, 0xA2, 0, 0, 0, 0, 0x00, 0x04, 0x27,   // 00:04:39
                        0x01, 0x14, 0, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00,   // 00:02:00
                        0x01, 0x16, 0, 0x02, 0, 0, 0, 0, 0x00, 0x02, 0x2D,   // 00:02:45
                        0x01, 0x14, 0, 0x03, 0, 0, 0, 0, 0x00, 0x03, 0x14,   // 00:03:20
                        0x01, 0x13, 0, 0x04, 0, 0, 0, 0, 0x00, 0x03, 0x46,   // 00:03:70
                        0x02, 0x18, 0, 0xA0, 0, 0, 0, 0, 0x05, 0x20, 0x00,
                        0x02, 0x18, 0, 0xA1, 0, 0, 0, 0, 0x05, 0x00, 0x00,
                        0x02, 0x18, 0, 0xA2, 0, 0, 0, 0, 0x02, 0x24, 0x45,   // 02:36:69
                        0x02, 0x18, 0, 0x05, 0, 0, 0, 0, 0x02, 0x24, 0x27};  // 02:36:39

// A reply of this header followed by the last bytes of another.
Bytes with_tail(Bytes header, const Bytes& whole, std::size_t size) {
    header.insert(header.end(), whole.end() - static_cast<std::ptrdiff_t>(size), whole.end());
    return header;
}

// Each command with the sense it ends with (0: GOOD) and the data it gives.
TEST_F(EveryKind, Exchanges) {
    const std::tuple<Bytes, int, Bytes> exchanges[] = {
        {read_toc_cdb(false, 0, 0, 1024), 0, kTracks},
        {read_toc_cdb(false, 0, 5, 1024), 0, with_tail({0x00, 0x12, 0x01, 0x05}, kTracks, 16)},
        {read_toc_cdb(false, 0, 0xAA, 1024), 0, with_tail({0x00, 0x0A, 0x01, 0x05}, kTracks, 8)},
        {read_toc_cdb(false, 0, 0, 12), 0, Bytes(kTracks.begin(), kTracks.begin() + 12)},  // length still 50
        {read_toc_cdb(false, 0, 0, 0), 0, {}},
        // Format 1: the last session's first track.
        {read_toc_cdb(false, 1, 0, 1024), 0, {0x00, 0x0A, 0x01, 0x02, 0x00, 0x18, 0x05, 0x00, 0x00, 0x00, 0x2D, 0x45}},
        {read_toc_cdb(false, 2, 0, 1024), 0, kFullToc},
        {read_toc_cdb(true, 2, 1, 1024), 0, kFullToc},  // times either way; session 1 first
        {{0x43, 0, 0, 0, 0, 0, 2, 0x04, 0x00, 0x80}, 0, with_tail({0x00, 0x2E, 0x01, 0x02}, kFullToc, 44)},  // old form
        {read_toc_cdb(false, 0, 6, 1024), 0x052400, {}},
        {read_toc_cdb(false, 2, 3, 1024), 0x052400, {}},
        {read_toc_cdb(false, 3, 0, 1024), 0x052400, {}},
        {{0x43, 0, 0}, 0x052400, {}},  // CDB too short
        {{0, 0, 0, 0, 0, 0}, 0, {}},
        {{0x12, 0, 0, 0, 16, 0}, 0, {0x05, 0x80, 0x05, 0x02, 31, 0, 0, 0, 'C', 'D', 'I', 'F', ' ', ' ', ' ', ' '}},
        {{0x12, 1, 0x80, 0, 0x80, 0}, 0x052400, {}},  // vital product data are not served
        {{0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x20, 0}, 0x052000, {}},
        {read_cd_cdb(audio, 1, 1, 0x10), 0, field(audio, 0, 2352)},  // READ CD: the fields selected
        {read_cd_cdb(mode1, 1, 2, 0x10), 0, field(mode1, 16, 2064)},
        {read_cd_cdb(mode1, 1, 2, 0x30), 0, field(mode1, 12, 2064)},
        {read_cd_cdb(mode2, 1, 4, 0x10), 0, field(mode2, 24, 2072)},
        {read_cd_cdb(mode2, 1, 4, 0x70), 0, field(mode2, 12, 2072)},
        {read_cd_cdb(mode2 - 1, 1, 4, 0xF8), 0, field(mode2 - 1, 0, 2352)},  // a PREGAP sector
        {read_cd_cdb(mode1, 1, 4, 0x10), 0x056400, {}},  // expected sector type of another mode
        {read_cd_cdb(mode2, 1, 5, 0x10), 0x056400, {}},
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
    const std::array<std::uint8_t, 18> illegal_mode{0xF0, 0, 0x05, 0, 0, 0, static_cast<std::uint8_t>(audio), 10,
                                                    0,    0, 0,    0, 0x64, 0, 0, 0, 0, 0};
    EXPECT_EQ(run(*drive, read10_cdb(audio, 1)).reply.sense, illegal_mode);
}

// A buffer smaller than the transfer takes what fits and the rest is an overrun, which the host
// side reports as a failed transfer: a caller's undersized buffer cannot pass for a good read.
TEST_F(EveryKind, TransferStopsAtTheEndOfTheBuffer) {
    Answer cut = run(*drive, read_cd_cdb(audio, 2, 1, 0x10), 2500);  // a write past it shows under the sanitizers
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

// A bad sector fails every time, each of a flaky range its given number of times; a failure's
// sense, address included, is there for one REQUEST SENSE, which clears it by ending well.
TEST_F(EveryKind, InjectedFaults) {
    auto faulty = open("?bad=" + std::to_string(audio) + "&flaky=" + std::to_string(audio + 1) + "-" +
                       std::to_string(audio + 2) + "x2");
    const Bytes request_sense = {0x03, 0, 0, 0, 18, 0};
    for (int attempt = 0; attempt < 3; ++attempt) {
        Answer bad = run(*faulty, read_cd_cdb(audio, 1, 1, 0x10));
        EXPECT_EQ(sense(bad.reply), 0x031100);
        EXPECT_EQ(bad.reply.sense[6], static_cast<std::uint8_t>(audio));
        EXPECT_EQ(run(*faulty, request_sense).data, Bytes(bad.reply.sense.begin(), bad.reply.sense.end()));
        EXPECT_EQ(run(*faulty, request_sense).data[2], 0);
        for (std::int32_t flaky : {audio + 1, audio + 2})
            EXPECT_EQ(sense(run(*faulty, read_cd_cdb(flaky, 1, 1, 0x10)).reply), attempt < 2 ? 0x031100 : 0);
    }
    EXPECT_FALSE(open("?noopen")->can_open());
    EXPECT_TRUE(open("?bad=1")->can_open());
}

// Form 2 sectors hold 2324 user bytes: READ CD asking for form 2 gets them, while READ(10) and
// READ CD asking for form 1 refuse them (and form 2 refuses a form 1 sector).
TEST(Mode2, FormsAreToldApartSectorBySector) {
    std::string form1(2352, 'a'), form2(2352, 'b');
    for (std::string* raw : {&form1, &form2}) {
        const std::string sync_header("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\0\0\x02", 16);
        raw->replace(0, 24, sync_header + std::string(8, '\0'));
        (*raw)[18] = (*raw)[22] = static_cast<char>(raw == &form1 ? 0x08 : 0x20);  // the submode, twice
    }
    TempDir dir;
    dir.write({{"xa.bin", form1 + form2}, {"xa.cue", "FILE xa.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n"}});
    auto drive = disc_image::EmulatedDrive::from_entry((dir / "xa.cue").string());
    EXPECT_EQ(run(*drive, read_cd_cdb(1, 1, 5, 0x10)).data, Bytes(2324, 'b'));
    EXPECT_EQ(run(*drive, read_cd_cdb(1, 1, 0, 0xF8)).data, Bytes(form2.begin(), form2.end()));
    EXPECT_EQ(run(*drive, read10_cdb(0, 1)).data, Bytes(2048, 'a'));
    EXPECT_EQ(sense(run(*drive, read10_cdb(1, 1)).reply), 0x056400);
    EXPECT_EQ(sense(run(*drive, read_cd_cdb(1, 1, 4, 0x10)).reply), 0x056400);
    EXPECT_EQ(sense(run(*drive, read_cd_cdb(0, 1, 5, 0x10)).reply), 0x056400);
}

}  // namespace
