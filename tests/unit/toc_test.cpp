// CDIF_ReadTOC's attempts and the replies it refuses, and the MSF conversion. The read_toc fuzz
// target checks the table against any reply; the program tests compare the "TOC" listing.
#include "library_support.h"

int toc_listing_enabled = 0;  // as in the extraction programs

namespace {

using Bytes = std::vector<std::uint8_t>;

// A well-formed READ TOC reply (format 0, LBA) with audio tracks 1 to n at these addresses, then
// the lead-out.
Bytes toc_reply(const std::vector<std::int32_t>& starts) {
    const std::size_t length = 2 + 8 * starts.size();
    Bytes reply = {std::uint8_t(length >> 8), std::uint8_t(length), 1, std::uint8_t(starts.size() - 1)};
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const auto lba = static_cast<std::uint32_t>(starts[i]);
        const std::uint8_t number = i + 1 < starts.size() ? std::uint8_t(i + 1) : 0xAA;
        reply.insert(reply.end(), {0, 0x10, number, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16),
                                   std::uint8_t(lba >> 8), std::uint8_t(lba)});
    }
    return reply;
}

class TableOfContents : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        use_spti = 1;
        drive_count = 1;
    }
};

// On ASPI each attempt is one command; the third may succeed.
TEST_F(TableOfContents, AsksThreeTimesAtMost) {
    send_aspi_command = scripted::send_command;
    use_spti = 0;
    int attempts = 0;
    scripted::script().aspi_exec = [&](const SRB_ExecSCSICmd&) {
        if (++attempts < 3) return scripted::AspiReply{SS_ERR, SS_ERR};
        return scripted::AspiReply{SS_COMP, SS_COMP, toc_reply({0, 400, 1000})};
    };
    EXPECT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(CDIF_GetTrackLBA(3), 1000);
}

// Replies that do not hold what their last track number implies, or whose addresses do not rise
// strictly within a CD, are failed attempts that keep the earlier table: with the sanitizers, any
// read beyond the reply or the table shows up here.
TEST_F(TableOfContents, HostileRepliesAreFailedAttempts) {
    std::vector<std::int32_t> hundred(101);
    for (int i = 0; i <= 100; ++i) hundred[i] = i * 1000;
    Bytes one_byte_short = toc_reply({0, 500, 900});
    one_byte_short[1] -= 1;
    const std::pair<const char*, Bytes> cases[] = {
        {"empty reply", {}},
        {"one byte short", one_byte_short},
        {"4 bytes claiming 99 tracks", {0x03, 0x22, 0x01, 0x63}},
        {"100 tracks, each well-formed", toc_reply(hundred)},
        {"lead-out past 100:00:00", toc_reply({0, 449851})},
        {"track at -150", toc_reply({-150, 1000})},
        {"two tracks at one address", toc_reply({0, 500, 500, 900})},
    };
    for (const auto& [what, reply] : cases) {
        scripted::reset();
        last_track = 2;
        toc_entries[3] = {2000, 0};
        scripted::script().pass_through = [bytes = reply](HANDLE, auto&) {
            return scripted::PassThroughReply{TRUE, 0, bytes};
        };
        EXPECT_EQ(CDIF_ReadTOC(), 0) << what;
        EXPECT_EQ(scripted::calls_to("DeviceIoControl").size(), 3u) << what << ": three attempts, each GOOD";
        EXPECT_EQ(std::pair(last_track, CDIF_GetTrackLBA(3)), std::pair(2, 2000)) << what;
    }
}

// The packed MSF time of an address, up to the lead-out of a full CD; the low byte marks a data track.
TEST_F(TableOfContents, MsfConversion) {
    const std::pair<std::int32_t, std::uint32_t> cases[] = {
        {0, 0x00020000},    {74, 0x00024A00},   {75, 0x00030000},      // 00:02:00, 00:02:74, 00:03:00
        {4349, 0x003B4A00}, {4350, 0x01000000}, {449850, 0x64000000},  // 00:59:74, 01:00:00, 100:00:00
    };
    last_track = 1;
    for (const auto& [lba, msf] : cases) {
        for (int audio : {1, 0}) {
            toc_entries[1] = {lba, audio};
            EXPECT_EQ(CDIF_GetTrackMSF(1), msf | (audio ? 0u : 4u)) << lba;
        }
    }
}

}  // namespace
