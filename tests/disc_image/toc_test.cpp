// The emulated drive's answers to INQUIRY, TEST UNIT READY and READ TOC, byte for byte.
#include "disc_builder.h"
#include "drive_helpers.h"

using namespace disc_image_test;
using test_support::TrackKind;

namespace {

// Track 1 data at 0, track 2 audio with 150 INDEX 00 sectors (INDEX 01 at 450), track 3 audio
// at 650, lead-out at 750.
class MixedDisc : public testing::Test {
protected:
    void SetUp() override {
        disc = test_support::build_disc(dir.path(), "mixed",
                                        {{TrackKind::mode1_2352, 300}, {TrackKind::audio, 200, 150}, {TrackKind::audio, 100}});
        drive = disc_image::EmulatedDrive::from_entry(disc.cue.string());
    }
    TempDir dir;
    test_support::BuiltDisc disc;
    std::unique_ptr<disc_image::EmulatedDrive> drive;
};

const Bytes kMixedTocLba = {0x00, 0x22, 0x01, 0x03,                          // length 34, tracks 1 to 3
                            0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // data track 1 at 0
                            0x00, 0x10, 0x02, 0x00, 0x00, 0x00, 0x01, 0xC2,  // audio track 2 at 450
                            0x00, 0x10, 0x03, 0x00, 0x00, 0x00, 0x02, 0x8A,  // audio track 3 at 650
                            0x00, 0x10, 0xAA, 0x00, 0x00, 0x00, 0x02, 0xEE}; // lead-out at 750

TEST_F(MixedDisc, TocInLbaFormListsTracksAndLeadOut) {
    EXPECT_EQ(disc.lead_out, 750);
    Answer toc = run(*drive, read_toc_cdb(false, 0, 0, 1024));
    EXPECT_EQ(toc.reply.status, disc_image::kStatusGood);
    EXPECT_EQ(toc.data, kMixedTocLba);
}

TEST_F(MixedDisc, StartingTrackSkipsEarlierTracks) {
    Bytes from_two = {0x00, 0x1A, 0x01, 0x03};
    from_two.insert(from_two.end(), kMixedTocLba.begin() + 12, kMixedTocLba.end());
    EXPECT_EQ(run(*drive, read_toc_cdb(false, 0, 2, 1024)).data, from_two);

    Bytes lead_out_only = {0x00, 0x0A, 0x01, 0x03};
    lead_out_only.insert(lead_out_only.end(), kMixedTocLba.end() - 8, kMixedTocLba.end());
    EXPECT_EQ(run(*drive, read_toc_cdb(false, 0, 0xAA, 1024)).data, lead_out_only);

    EXPECT_EQ(run(*drive, read_toc_cdb(false, 0, 1, 1024)).data, kMixedTocLba);
    EXPECT_TRUE(has_sense(run(*drive, read_toc_cdb(false, 0, 4, 1024)).reply, 5, 0x24, 0));
}

TEST_F(MixedDisc, ReplyIsCutToAllocationLengthAndBuffer) {
    Answer cut = run(*drive, read_toc_cdb(false, 0, 0, 12));
    EXPECT_EQ(cut.reply.status, disc_image::kStatusGood);
    EXPECT_FALSE(cut.reply.overrun);
    EXPECT_EQ(cut.data, Bytes(kMixedTocLba.begin(), kMixedTocLba.begin() + 12));  // data length still 34

    Bytes buffer(40, 0xEE);
    auto reply = drive->execute(read_toc_cdb(false, 0, 0, 1024), std::span(buffer).first(6));
    EXPECT_EQ(reply.data_length, 6u);
    EXPECT_TRUE(reply.overrun);
    EXPECT_EQ(buffer[6], 0xEE);
    EXPECT_EQ(run(*drive, read_toc_cdb(false, 0, 0, 0)).data.size(), 0u);
}

TEST_F(MixedDisc, InquiryTestUnitReadyAndUnknownCommands) {
    Answer inquiry = run(*drive, {0x12, 0, 0, 0, 0x80, 0});
    ASSERT_EQ(inquiry.data.size(), 36u);
    EXPECT_EQ(inquiry.data[0], 0x05);
    EXPECT_EQ(inquiry.data[4], 31);
    EXPECT_EQ(std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 16), "CDIF    ");
    EXPECT_EQ(run(*drive, {0x12, 0, 0, 0, 5, 0}).data.size(), 5u);
    EXPECT_TRUE(has_sense(run(*drive, {0x12, 1, 0x80, 0, 0x80, 0}).reply, 5, 0x24, 0));

    EXPECT_EQ(run(*drive, {0, 0, 0, 0, 0, 0}).reply.status, disc_image::kStatusGood);
    EXPECT_TRUE(has_sense(run(*drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x20, 0}).reply, 5, 0x20, 0));
    EXPECT_TRUE(has_sense(run(*drive, {0x43, 0, 0}).reply, 5, 0x24, 0));  // CDB too short
}

// Three sessions: audio track 1 at 0 (lead-out 300), audio track 2 at 300 + 11400 (lead-out
// 11900), data track 3 at 11900 + 6900 (lead-out 19100).
TEST(Sessions, GapsAndTheFullToc) {
    TempDir dir;
    auto disc = test_support::build_disc(dir.path(), "three",
                                         {{TrackKind::audio, 300}, {TrackKind::audio, 200, 0, 2},
                                          {TrackKind::mode1_2352, 300, 0, 3}});
    auto drive = disc_image::EmulatedDrive::from_entry(disc.cue.string());
    const Bytes sessions = {0x00, 0x0A, 0x01, 0x03, 0x00, 0x14, 0x03, 0x00, 0x00, 0x00, 0x49, 0x70};  // track 3 at 18800
    EXPECT_EQ(run(*drive, read_toc_cdb(false, 1, 0, 1024)).data, sessions);
    Bytes format1_old_form = read_toc_cdb(false, 0, 0, 1024);
    format1_old_form[9] = 0x40;  // the format where older drives take it
    EXPECT_EQ(run(*drive, format1_old_form).data, sessions);
    EXPECT_TRUE(has_sense(run(*drive, read_toc_cdb(false, 3, 0, 1024)).reply, 5, 0x24, 0));
    Bytes toc = run(*drive, read_toc_cdb(false, 0, 0, 1024)).data;
    ASSERT_EQ(toc.size(), 36u);
    EXPECT_EQ(Bytes(toc.end() - 8, toc.end()), (Bytes{0x00, 0x14, 0xAA, 0x00, 0x00, 0x00, 0x4A, 0x9C}));  // 19100

    const Bytes session3 = {0x03, 0x14, 0, 0xA0, 0, 0, 0, 0, 0x03, 0x00, 0x00,   // first track 3, CD-ROM
                            0x03, 0x14, 0, 0xA1, 0, 0, 0, 0, 0x03, 0x00, 0x00,   // last track 3
                            0x03, 0x14, 0, 0xA2, 0, 0, 0, 0, 0x04, 0x10, 0x32,   // lead-out 04:16:50
                            0x03, 0x14, 0, 0x03, 0, 0, 0, 0, 0x04, 0x0C, 0x32};  // track 3 at 04:12:50
    Bytes full = {0x00, 0x86, 0x01, 0x03,
                  0x01, 0x10, 0, 0xA0, 0, 0, 0, 0, 0x01, 0x00, 0x00,
                  0x01, 0x10, 0, 0xA1, 0, 0, 0, 0, 0x01, 0x00, 0x00,
                  0x01, 0x10, 0, 0xA2, 0, 0, 0, 0, 0x00, 0x06, 0x00,   // 00:06:00
                  0x01, 0x10, 0, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00,   // 00:02:00
                  0x02, 0x10, 0, 0xA0, 0, 0, 0, 0, 0x02, 0x00, 0x00,
                  0x02, 0x10, 0, 0xA1, 0, 0, 0, 0, 0x02, 0x00, 0x00,
                  0x02, 0x10, 0, 0xA2, 0, 0, 0, 0, 0x02, 0x28, 0x32,   // 02:40:50
                  0x02, 0x10, 0, 0x02, 0, 0, 0, 0, 0x02, 0x26, 0x00};  // 02:38:00
    full.insert(full.end(), session3.begin(), session3.end());
    EXPECT_EQ(run(*drive, read_toc_cdb(false, 2, 0, 1024)).data, full);
    EXPECT_EQ(run(*drive, read_toc_cdb(true, 2, 1, 1024)).data, full) << "times either way; session 1 first";
    Bytes old_form = read_toc_cdb(false, 0, 3, 1024);
    old_form[9] = 0x80;  // the format where older drives take it
    Bytes from_three = {0x00, 0x2E, 0x01, 0x03};
    from_three.insert(from_three.end(), session3.begin(), session3.end());
    EXPECT_EQ(run(*drive, old_form).data, from_three);
    EXPECT_TRUE(has_sense(run(*drive, read_toc_cdb(false, 2, 4, 1024)).reply, 5, 0x24, 0));
}

TEST(NoDisc, EveryMediumCommandIsNotReadyButInquiryAnswers) {
    auto drive = disc_image::EmulatedDrive::from_entry("empty");
    EXPECT_TRUE(drive->can_open());
    EXPECT_TRUE(has_sense(run(*drive, {0, 0, 0, 0, 0, 0}).reply, 2, 0x3A, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_toc_cdb(false, 0, 0, 1024)).reply, 2, 0x3A, 0));
    EXPECT_TRUE(has_sense(run(*drive, read10_cdb(0, 1)).reply, 2, 0x3A, 0));
    EXPECT_TRUE(has_sense(run(*drive, read_cd_cdb(0, 1, 1, 0x10)).reply, 2, 0x3A, 0));
    EXPECT_EQ(run(*drive, {0x12, 0, 0, 0, 0x80, 0}).data.size(), 36u);
    Answer sense = run(*drive, {0x03, 0, 0, 0, 18, 0});
    ASSERT_EQ(sense.data.size(), 18u);
    EXPECT_EQ(sense.data[2], 2);
    EXPECT_EQ(sense.data[12], 0x3A);
}

TEST(Flags, ControlNibbleCarriesFlagsAndDataBit) {
    TempDir dir;
    dir.write("f.bin", std::string(2352 * 20, '\0'));
    dir.write("f.cue", "FILE f.bin BINARY\nTRACK 01 AUDIO\nFLAGS DCP PRE\nINDEX 01 00:00:00\n"
                       "TRACK 02 AUDIO\nFLAGS 4CH\nINDEX 01 00:00:10\nTRACK 03 MODE1/2352\nFLAGS DCP\nINDEX 01 00:00:15\n");
    auto drive = disc_image::EmulatedDrive::from_entry((dir / "f.cue").string());
    Bytes toc = run(*drive, read_toc_cdb(false, 0, 0, 1024)).data;
    ASSERT_EQ(toc.size(), 36u);
    EXPECT_EQ(toc[5], 0x13);
    EXPECT_EQ(toc[13], 0x18);
    EXPECT_EQ(toc[21], 0x16);
}

}  // namespace
