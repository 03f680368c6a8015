// CDIF_ReadTOC, the TocEntry table and its accessors, and the MSF conversion. The "TOC" listing
// itself is compared by the program tests.
#include <filesystem>

#include "library_support.h"

int toc_listing_enabled = 0;  // as in the extraction programs

namespace {

using scripted::calls_to;

class TableOfContents : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        use_spti = 1;
        drive_count = 1;
        drive_letters[0] = 'D';
        device_handle = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});
    }
    void answer(const std::vector<std::uint8_t>& reply) {
        scripted::script().pass_through = [reply](HANDLE, const SCSI_PASS_THROUGH_DIRECT& sptd) {
            return sptd.Cdb[0] == 0x43 ? scripted::PassThroughReply{TRUE, 0, reply} : scripted::PassThroughReply{FALSE};
        };
    }
};

// On ASPI each attempt is one command; the third may succeed.
TEST_F(TableOfContents, AsksThreeTimesAtMost) {
    use_scripted_aspi_layer();
    int attempts = 0;
    auto reply = toc_reply({{0}, {400}}, {1000});
    scripted::script().aspi_exec = [&](const SRB_ExecSCSICmd&) {
        return ++attempts < 3 ? scripted::AspiReply{SS_ERR, SS_ERR} : scripted::AspiReply{SS_COMP, SS_COMP, reply};
    };
    EXPECT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(last_track, 2);
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
    std::filesystem::remove("TOC");
    ASSERT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_FALSE(std::filesystem::exists("TOC")) << "the listing is switched off";
    EXPECT_EQ(CDIF_GetLastTrack(), 3);
    const TocEntry expected[] = {{0, 0}, {150, 1}, {9000, 0}, {20000, 1}, {30000, 0}};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::pair(toc_entries[i].lba, toc_entries[i].is_audio), std::pair(expected[i].lba, expected[i].is_audio));
    EXPECT_EQ(CDIF_GetTrackLBA(5), 0) << "past the lead-out";
    EXPECT_EQ(CDIF_GetTrackMSF(5), 0u);
    EXPECT_EQ(CDIF_GetTrackMSF(1), 0x00040000u) << "00:04:00, audio";
    EXPECT_EQ(CDIF_GetTrackMSF(0), 0x00020004u) << "entry 0: 00:02:00, data";
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

// Replies that do not hold what their last track number implies, or whose addresses do not rise
// strictly within a CD, are failed attempts that keep the earlier table: with the sanitizers, any
// read beyond the reply or the table shows up here.
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
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"empty reply", {}},
        {"lead-out missing", with_header(two, 2 + 8 * 2, 2)},
        {"one byte short", with_header(two, 2 + 8 * 3 - 1, 2)},
        {"100 tracks, each well-formed", toc_reply(hundred, {100000})},
        {"last track 127, past the buffer", with_header(full, 0xFFFF, 127)},
        {"4 bytes claiming 99 tracks", {0x03, 0x22, 0x01, 0x63}},
        {"lead-out past 100:00:00", toc_reply({{0}}, {449851})},
        {"track at -150", toc_reply({{-150}}, {1000})},
        {"two tracks at one address", toc_reply({{0}, {500}, {500}}, {900})},
        {"lead-out before the last track", toc_reply({{0}, {500}}, {400})},
    };
    for (const auto& [what, reply] : cases) {
        scripted::reset();
        last_track = 2;
        toc_entries[3] = {2000, 0};
        answer(reply);
        EXPECT_EQ(CDIF_ReadTOC(), 0) << what;
        EXPECT_EQ(calls_to("DeviceIoControl").size(), 3u) << what << ": three attempts, each GOOD for the transport";
        EXPECT_EQ(std::pair(last_track, CDIF_GetTrackLBA(3)), std::pair(2, 2000)) << what;
        EXPECT_EQ(CDIF_GetTrackLBA(4), 0) << what;
    }
}

}  // namespace
