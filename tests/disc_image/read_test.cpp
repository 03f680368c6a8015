// READ(10) and READ CD on every track kind, the refusals with their sense bytes, and injected faults.
#include "disc_builder.h"
#include "drive_helpers.h"

using namespace disc_image_test;
using test_support::TrackKind;

namespace {

// One track of every kind, with INDEX 00 sectors, a PREGAP and a POSTGAP, then a second session.
class EveryKind : public testing::Test {
protected:
    void SetUp() override {
        disc = test_support::build_disc(dir.path(), "kinds",
                                        {{TrackKind::mode1_2048, 40},
                                         {TrackKind::mode1_2352, 40, 5},
                                         {TrackKind::mode2_2352, 40, 0, 1, 10},
                                         {TrackKind::audio, 40, 7, 1, 3, 4},
                                         {TrackKind::audio, 30, 0, 2}});
        drive = open();
    }
    std::unique_ptr<disc_image::EmulatedDrive> open(const std::string& options = "") {
        return disc_image::EmulatedDrive::from_entry(disc.cue.string() + options);
    }
    TempDir dir;
    test_support::BuiltDisc disc;
    std::unique_ptr<disc_image::EmulatedDrive> drive;
};

TEST_F(EveryKind, Read10GivesUserDataOfEveryDataSector) {
    for (int t = 0; t < 3; ++t) {
        const auto& track = disc.tracks[t];
        for (std::int32_t lba : {track.first, track.stored, track.start, track.end - 1}) {
            Answer read = run(*drive, read10_cdb(lba, 1));
            ASSERT_EQ(read.reply.status, disc_image::kStatusGood) << "LBA " << lba;
            EXPECT_EQ(read.data, disc.user_data(lba)) << "LBA " << lba;
        }
    }
    Answer several = run(*drive, read10_cdb(disc.tracks[0].end - 1, 3));  // across a track boundary
    Bytes expected;
    for (std::int32_t lba = disc.tracks[0].end - 1; lba < disc.tracks[0].end + 2; ++lba) {
        Bytes sector = disc.user_data(lba);
        expected.insert(expected.end(), sector.begin(), sector.end());
    }
    EXPECT_EQ(several.data, expected);
}

TEST_F(EveryKind, ReadCdGivesAudioRawAndUserData) {
    const auto& audio = disc.tracks[3];
    for (std::int32_t lba : {audio.first, audio.stored, audio.start, audio.end - 1, audio.after - 1}) {
        for (int type : {0, 1})
            EXPECT_EQ(run(*drive, read_cd_cdb(lba, 1, type, 0x10)).data, disc.audio_sector(lba)) << "LBA " << lba;
        EXPECT_EQ(run(*drive, read_cd_cdb(lba, 1, 1, 0xF8)).data, disc.audio_sector(lba));
    }
    for (int t = 0; t < 3; ++t) {
        std::int32_t lba = disc.tracks[t].start + 3;
        int type = t == 2 ? 4 : 2;
        EXPECT_EQ(run(*drive, read_cd_cdb(lba, 1, type, 0x10)).data, disc.user_data(lba)) << "track " << t + 1;
        EXPECT_EQ(run(*drive, read_cd_cdb(lba, 1, 0, 0xF8)).data, disc.raw_sector(lba)) << "track " << t + 1;
    }
    Bytes raw = disc.raw_sector(disc.tracks[2].start);
    EXPECT_EQ(run(*drive, read_cd_cdb(disc.tracks[2].start, 1, 4, 0x70)).data, Bytes(raw.begin() + 12, raw.begin() + 2072));
    EXPECT_EQ(run(*drive, read_cd_cdb(disc.tracks[3].start, 2, 1, 0x10)).data.size(), 2u * 2352);
}

// Each command a drive refuses, with the sense key and additional sense code it gives.
TEST_F(EveryKind, RefusedCommands) {
    const std::int32_t mode1 = disc.tracks[1].start, mode2 = disc.tracks[2].start, audio = disc.tracks[3].start;
    Bytes subchannel = read_cd_cdb(audio, 1, 1, 0x10), other_unit = read10_cdb(mode1, 1), toc_lun = read_toc_cdb(false, 0, 0, 12);
    subchannel[10] = 1;
    other_unit[1] = 0x20;
    toc_lun[1] = 0xE0;
    const struct {
        Bytes cdb;
        int key, asc;
    } refusals[] = {
        {read_cd_cdb(mode1, 1, 1, 0x10), 5, 0x64},  // expected sector type of another mode
        {read_cd_cdb(mode1, 1, 4, 0x10), 5, 0x64},
        {read_cd_cdb(mode2, 1, 2, 0x10), 5, 0x64},
        {read_cd_cdb(mode2, 1, 5, 0x10), 5, 0x64},
        {read_cd_cdb(audio, 1, 2, 0x10), 5, 0x64},
        {read10_cdb(disc.tracks[2].after - 1, 2), 5, 0x64},  // from a data track into an audio track
        {read_cd_cdb(audio, 1, 6, 0x10), 5, 0x24},           // no such sector type
        {read_cd_cdb(audio, 1, 1, 0x12), 5, 0x24},           // C2 errors
        {subchannel, 5, 0x24},
        {read_cd_cdb(mode1, 1, 2, 0x28), 5, 0x24},  // header and EDC/ECC without the user data
        {read_cd_cdb(mode1, 1, 2, 0x90), 5, 0x24},  // sync and user data without the header
        {read_cd_cdb(mode2, 1, 4, 0x30), 5, 0x24},  // header and user data without the subheader
        {other_unit, 5, 0x25},
        {toc_lun, 5, 0x25},
    };
    for (const auto& refusal : refusals) {
        Answer answer = run(*drive, refusal.cdb);
        EXPECT_TRUE(has_sense(answer.reply, refusal.key, refusal.asc, 0)) << testing::PrintToString(refusal.cdb);
        EXPECT_EQ(answer.data.size(), 0u);
    }
    // An illegal mode names the sector in the sense's information field.
    const std::array<std::uint8_t, 18> sense{0xF0, 0, 0x05, 0, 0, static_cast<std::uint8_t>(audio >> 8),
                                             static_cast<std::uint8_t>(audio), 10, 0, 0, 0, 0, 0x64, 0, 0, 0, 0, 0};
    EXPECT_EQ(run(*drive, read10_cdb(audio, 1)).reply.sense, sense);
    Answer none = run(*drive, read_cd_cdb(audio, 0, 1, 0x10));
    EXPECT_EQ(none.reply.status, disc_image::kStatusGood);
    EXPECT_EQ(none.data.size(), 0u);
}

TEST_F(EveryKind, AddressesPastLeadOutAndInSessionGapAreOutOfRange) {
    std::int32_t last = disc.lead_out - 1;
    EXPECT_EQ(run(*drive, read_cd_cdb(last, 1, 1, 0x10)).data, disc.audio_sector(last));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(last + 1, 1, 1, 0x10)).reply, 5, 0x21, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(last, 2, 1, 0x10)).reply, 5, 0x21, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(0xFFFFFF6A, 1, 0, 0x10)).reply, 5, 0x21, 0));  // LBA -150
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(0xFFFFFFFF, 2, 0, 0x10)).reply, 5, 0x21, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(0, 0xFFFFFF, 0, 0x10)).reply, 5, 0x21, 0));

    std::int32_t gap_begin = disc.tracks[3].after, gap_end = disc.tracks[4].first;
    ASSERT_EQ(gap_end - gap_begin, 11400);
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(gap_begin, 1, 0, 0x10)).reply, 5, 0x21, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(gap_end - 1, 1, 0, 0x10)).reply, 5, 0x21, 0));
    EXPECT_EQ(run(*drive, read_cd_cdb(gap_end, 1, 1, 0x10)).data, disc.audio_sector(gap_end));
}

// A buffer smaller than the transfer takes what fits and the rest is an overrun, which the host
// side reports as a failed transfer: a caller's undersized buffer cannot pass for a good read.
TEST_F(EveryKind, TransferStopsAtTheEndOfTheBuffer) {
    Bytes buffer(3000, 0xEE);
    const std::int32_t start = disc.tracks[3].start;
    auto reply = drive->execute(read_cd_cdb(start, 2, 1, 0x10), std::span(buffer).first(2500));
    EXPECT_EQ(reply.status, disc_image::kStatusGood);
    EXPECT_EQ(reply.data_length, 2500u);
    EXPECT_TRUE(reply.overrun);
    EXPECT_EQ(buffer[2500], 0xEE);
    Bytes expected = disc.audio_sector(start), second = disc.audio_sector(start + 1);
    expected.insert(expected.end(), second.begin(), second.begin() + (2500 - 2352));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 2500), expected);

    Bytes whole(2 * 2352);
    EXPECT_FALSE(drive->execute(read_cd_cdb(disc.tracks[3].start, 2, 1, 0x10), whole).overrun);
}

TEST_F(EveryKind, InjectedFaults) {
    std::int32_t audio = disc.tracks[3].start;
    auto faulty = open("?bad=" + std::to_string(audio) + "&flaky=" + std::to_string(audio + 1) + "-" +
                       std::to_string(audio + 2) + "x2");
    Answer bad = run(*faulty, read_cd_cdb(audio, 1, 1, 0x10));
    EXPECT_TRUE(has_sense(bad.reply, 3, 0x11, 0));
    EXPECT_EQ(bad.reply.sense[6], static_cast<std::uint8_t>(audio));
    EXPECT_TRUE(has_sense(run(*faulty, read_cd_cdb(audio, 1, 1, 0x10)).reply, 3, 0x11, 0));  // always

    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_TRUE(has_sense(run(*faulty, read_cd_cdb(audio + 1, 2, 1, 0x10)).reply, 3, 0x11, 0));
    // audio + 1 has failed twice now; audio + 2 fails twice on its own, then both read.
    EXPECT_TRUE(has_sense(run(*faulty, read_cd_cdb(audio + 1, 2, 1, 0x10)).reply, 3, 0x11, 0));
    EXPECT_TRUE(has_sense(run(*faulty, read_cd_cdb(audio + 2, 1, 1, 0x10)).reply, 3, 0x11, 0));
    EXPECT_EQ(run(*faulty, read_cd_cdb(audio + 1, 2, 1, 0x10)).reply.status, disc_image::kStatusGood);

    // The last failure's sense, address included, is there for one REQUEST SENSE; a command that
    // ends well clears it.
    const Bytes request_sense = {0x03, 0, 0, 0, 18, 0};
    const Bytes no_sense = {0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    bad = run(*faulty, read_cd_cdb(audio, 1, 1, 0x10));
    EXPECT_EQ(run(*faulty, request_sense).data, Bytes(bad.reply.sense.begin(), bad.reply.sense.end()));
    EXPECT_EQ(run(*faulty, request_sense).data, no_sense);
    run(*faulty, read_cd_cdb(audio, 1, 1, 0x10));
    run(*faulty, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(run(*faulty, request_sense).data, no_sense);
    EXPECT_FALSE(open("?noopen")->can_open());
    EXPECT_TRUE(open("?bad=1")->can_open());
}

}  // namespace

namespace {

// A Mode 2 sector as stored: sync, header, the subheader twice (submode 0x08 for form 1 data,
// 0x20 for form 2), then user data of `fill`.
std::string mode2_sector(std::uint8_t submode, char fill) {
    std::string raw(2352, '\0');
    for (int i = 1; i <= 10; ++i) raw[i] = '\xFF';
    raw[15] = 2;
    raw[18] = raw[22] = static_cast<char>(submode);
    std::fill(raw.begin() + 24, raw.end(), fill);
    return raw;
}

}  // namespace

// Form 2 sectors hold 2324 user bytes: READ CD asking for form 2 gets them, while READ(10) and
// READ CD asking for form 1 refuse them (and form 2 refuses a form 1 sector).
TEST(Mode2, FormsAreToldApartSectorBySector) {
    TempDir dir;
    std::string form1 = mode2_sector(0x08, 'a'), form2 = mode2_sector(0x20, 'b');
    dir.write("xa.bin", form1 + form2);
    dir.write("xa.cue", "FILE xa.bin BINARY\nTRACK 01 MODE2/2352\nINDEX 01 00:00:00\n");
    auto drive = disc_image::EmulatedDrive::from_entry((dir / "xa.cue").string());

    Answer user = run(*drive, read_cd_cdb(1, 1, 5, 0x10));
    ASSERT_EQ(user.reply.status, disc_image::kStatusGood);
    EXPECT_EQ(user.data, Bytes(2324, 'b'));
    EXPECT_EQ(run(*drive, read_cd_cdb(1, 1, 0, 0xF8)).data, Bytes(form2.begin(), form2.end()));
    EXPECT_EQ(run(*drive, read10_cdb(0, 1)).data, Bytes(2048, 'a'));

    EXPECT_TRUE(has_sense(run(*drive, read10_cdb(1, 1)).reply, 5, 0x64, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(1, 1, 4, 0x10)).reply, 5, 0x64, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(0, 1, 5, 0x10)).reply, 5, 0x64, 0));
}
