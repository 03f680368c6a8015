// CDIF_ReadTOC, the TocEntry table and its accessors, the MSF conversion and the "TOC" listing.
#include <cstring>

#include "program_hooks.h"

namespace {

using scripted::calls_to;

class TableOfContents : public CdifListingTest {
protected:
    void SetUp() override {
        CdifListingTest::SetUp();
        use_spti = 1;
        drive_count = 1;
        drive_letters[0] = 'D';
        device_handle = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});
    }
    void answer(const std::vector<std::uint8_t>& reply) { scripted::script().pass_through = answer_read_toc(reply); }
    // A table left by an earlier read, which a failed read must keep.
    void earlier_table() {
        last_track = 2;
        toc_entries[1] = {0, 1};
        toc_entries[2] = {1000, 0};
        toc_entries[3] = {2000, 0};
    }
    void expect_earlier_table(const char* what) {
        EXPECT_EQ(last_track, 2) << what;
        EXPECT_EQ(CDIF_GetTrackLBA(3), 2000) << what;
        EXPECT_EQ(CDIF_GetTrackLBA(4), 0) << what;
    }
};

TEST_F(TableOfContents, AsksForTheWholeTableThreeTimesAtMost) {
    answer(toc_reply({{0}}, {1000}));
    ASSERT_EQ(CDIF_ReadTOC(), 1);
    auto block = scripted::record_of<PassThroughBlock>(calls_to("DeviceIoControl").at(0));
    const std::uint8_t cdb[16] = {0x43, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0};
    EXPECT_EQ(block.sptd.CdbLength, 10);
    EXPECT_EQ(std::memcmp(block.sptd.Cdb, cdb, sizeof cdb), 0);
    EXPECT_EQ(block.sptd.DataTransferLength, 1024u);
    EXPECT_EQ(calls_to("DeviceIoControl").size(), 1u);

    // On ASPI each attempt is one command; the third may succeed.
    use_scripted_aspi_layer();
    int attempts = 0;
    auto reply = toc_reply({{0}, {400}}, {1000});
    scripted::script().aspi_exec = [&](const SRB_ExecSCSICmd&) {
        return ++attempts < 3 ? scripted::AspiReply{SS_ERR, SS_ERR, {}, true}
                              : scripted::AspiReply{SS_COMP, SS_COMP, reply, true};
    };
    EXPECT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(last_track, 2);

    drive_count = 0;
    scripted::reset();
    EXPECT_EQ(CDIF_ReadTOC(), 0);
    EXPECT_TRUE(scripted::calls().empty()) << "without drives nothing is sent";
}

TEST_F(TableOfContents, DescriptorKIsEntryKPlusOneWithAudioFromControlBit) {
    // First track 5, odd track numbers and control bits: only the order and the value-4 bit count.
    auto reply = toc_reply({{150}, {9000}, {20000}}, {30000, true});
    reply[2] = 5;
    reply[4 + 2] = 7;
    reply[4 + 1] = 0x1B;       // value-4 bit clear: audio
    reply[4 + 8 + 1] = 0x16;   // set: data
    reply[4 + 16 + 1] = 0x40;  // clear: audio
    reply[1] = 200;            // the drive claims more data than the table needs
    answer(reply);
    ASSERT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_EQ(CDIF_GetLastTrack(), 3);
    const TocEntry expected[] = {{0, 0}, {150, 1}, {9000, 0}, {20000, 1}, {30000, 0}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(toc_entries[i].lba, expected[i].lba) << i;
        EXPECT_EQ(toc_entries[i].is_audio, expected[i].is_audio) << i;
    }
    EXPECT_EQ(CDIF_GetTrackLBA(5), 0) << "past the lead-out";
    EXPECT_EQ(CDIF_GetTrackMSF(5), 0u);
    EXPECT_EQ(CDIF_GetTrackMSF(0), 0x00020004u) << "entry 0: 00:02:00, data";
    drive_count = 0;
    EXPECT_EQ(CDIF_GetTrackLBA(1), 0) << "without drives";
    EXPECT_EQ(CDIF_GetTrackMSF(1), 0u);
}

TEST_F(TableOfContents, MsfConversionWithItsEightBitReductions) {
    struct Case {
        std::int32_t lba;
        std::uint32_t msf;
    };
    const Case cases[] = {
        {0, 0x00020000},       {74, 0x00024A00},       {75, 0x00030000},
        {4349, 0x003B4A00},    {4350, 0x01000000},     // 00:59:74, then 01:00:00
        {449850, 0x64000000},  {1156503, 0x01020300},  // 100 minutes; 257 minutes wraps to 1
        {-150, 0x00000000},    {-151, 0x450A2D00},     {0x7FFFFFFF, 0x22251600},
    };
    last_track = 1;
    for (const Case& c : cases) {
        for (int audio : {1, 0}) {
            toc_entries[1] = {c.lba, audio};
            EXPECT_EQ(CDIF_GetTrackMSF(1), c.msf | (audio ? 0u : 4u)) << c.lba;
        }
    }
}

TEST_F(TableOfContents, ListingReplacesALongerOneByteForByte) {
    toc_listing_enabled = 1;
    std::FILE* earlier = std::fopen("TOC", "w");
    std::fputs(std::string(300, '.').c_str(), earlier);
    std::fclose(earlier);
    answer(toc_reply({{0}, {12345}, {200000, true}, {449849}}, {449850, true}));  // the last sector at 99:59:74
    ASSERT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_EQ(toc_listing_file, nullptr);
    EXPECT_EQ(read_file("TOC"),
              "Track 01 Audio 00:02:00 LBA=000000\r\n"
              "Track 02 Audio 02:46:45 LBA=012345\r\n"
              "Track 03 Data 44:28:50 LBA=200000\r\n"
              "Track 04 Audio 99:59:74 LBA=449849\r\n"
              "Track 05 Data 100:00:00 LBA=449850\r\n");

    toc_listing_enabled = 0;
    std::filesystem::remove("TOC");
    ASSERT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_FALSE(std::filesystem::exists("TOC")) << "switched off";
}

// Replies that do not hold what their last track number implies, or whose addresses do not rise
// strictly within a CD, are failed attempts: with the sanitizers, any read beyond the reply or
// the table shows up here.
TEST_F(TableOfContents, HostileRepliesAreFailedAttempts) {
    auto with_header = [](std::vector<std::uint8_t> reply, std::uint16_t length, std::uint8_t last) {
        reply[0] = static_cast<std::uint8_t>(length >> 8);
        reply[1] = static_cast<std::uint8_t>(length);
        reply[3] = last;
        return reply;
    };
    auto full = toc_reply(std::vector<TrackSpec>(99, TrackSpec{100}), {400000});
    std::vector<TrackSpec> hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back({i * 1000});
    auto two = toc_reply({{0}, {500}}, {900});
    struct Case {
        const char* what;
        std::vector<std::uint8_t> reply;
    };
    std::vector<Case> cases = {
        {"empty reply", {}},
        {"lead-out missing", with_header(two, 2 + 8 * 2, 2)},
        {"one byte short", with_header(two, 2 + 8 * 3 - 1, 2)},
        {"100 tracks, each well-formed", toc_reply(hundred, {100000})},
        {"last track 126, length claims 1022", with_header(full, 1022, 126)},
        {"last track 127, past the buffer", with_header(full, 0xFFFF, 127)},
        {"last track 255", with_header(full, 0xFFFF, 255)},
        {"4 bytes claiming 99 tracks", {0x03, 0x22, 0x01, 0x63}},
        {"lead-out at 0xFFFFFF", toc_reply({{0}}, {0xFFFFFF})},
        {"lead-out past 100:00:00", toc_reply({{0}}, {449851})},
        {"track at -150", toc_reply({{-150}}, {1000})},
        {"two tracks at one address", toc_reply({{0}, {500}, {500}}, {900})},
        {"lead-out before the last track", toc_reply({{0}, {500}}, {400})},
    };
    for (const Case& c : cases) {
        scripted::reset();
        earlier_table();
        answer(c.reply);
        EXPECT_EQ(CDIF_ReadTOC(), 0) << c.what;
        EXPECT_EQ(calls_to("DeviceIoControl").size(), 3u) << c.what << ": three attempts, each GOOD for the transport";
        expect_earlier_table(c.what);
    }
}

}  // namespace
