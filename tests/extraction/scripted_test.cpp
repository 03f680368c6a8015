// The extraction code in-process, over the library's operations scripted: a table of contents, a
// drive at LUN 3 that answers READ(10) with sectors whose bytes are the low byte of their LBA
// (refusing a CDB that names another unit), and READ TOC replies in formats 1 and 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "cdif.h"
#include "track_end.h"
#include "track_list.h"
#include "tremick/tremick.h"

using Bytes = std::vector<std::uint8_t>;
using Ends = std::vector<std::int32_t>;

namespace {

// Session 1: audio track 1 at 0, data track 2 at 1000, lead-out 1600. Session 2: audio tracks 3
// at 13000 and 4 at 14000, lead-out 14600. Session 3: data track 5 at 21500, lead-out 22000.
// Each with the data bit of its MSF word, the only part of it the track list takes.
const std::vector<std::pair<std::int32_t, std::uint32_t>> kDisc = {{0, 0},     {1000, 4},  {13000, 0},
                                                                   {14000, 0}, {21500, 4}, {22000, 4}};
Bytes full_toc_reply;      // READ TOC format 2; empty: refused
Bytes session_info_reply;  // format 1; empty: refused
std::uint8_t data_area[2048];

// Without a usable full table: format 1 names track 5 as the first track of the last session.
const Bytes kSessionInfo = {0, 10, 1, 3, 0, 0x14, 5, 0, 0, 0, 0x53, 0xFC};
const Ends kFallbackEnds = {1000 - 225, 13000, 14000, 21500 - 6900, 22000};
const Ends kFullTocEnds = {1000 - 225, 1600, 14000, 14600, 22000};

// A descriptor: session, ADR 1 with the control nibble, TNO 0, the point, then PMIN:PSEC:PFRAME.
Bytes point(std::uint8_t session, std::uint8_t control, std::uint8_t point, std::int32_t lba) {
    const std::int32_t time = lba + 150;
    return {session, static_cast<std::uint8_t>(0x10 | control), 0, point, 0, 0, 0, 0,
            std::uint8_t(time / 4500), std::uint8_t(time / 75 % 60), std::uint8_t(time % 75)};
}

const Bytes kFullToc = [] {
    Bytes reply = {0, 2 + 11 * 11, 1, 3};  // the data length of 11 descriptors, sessions 1 to 3
    for (const Bytes& d : {point(1, 0, 0xA0, 1 * 4500 - 150), point(1, 4, 0xA1, 2 * 4500 - 150),
                           point(1, 4, 0xA2, 1600), point(1, 0, 1, 0), point(1, 4, 2, 1000),
                           Bytes{1, 0x54, 0, 0xB0, 2, 0, 0, 3, 0x4F, 0x3B, 0x47},  // ADR 5: next program area
                           point(2, 0, 0xA2, 14600), point(2, 0, 3, 13000), point(2, 0, 4, 14000),
                           point(3, 4, 0xA2, 22000), point(3, 4, 5, 21500)})
        reply.insert(reply.end(), d.begin(), d.end());
    return reply;
}();

// The reply with its track points and times in BCD, as some drives give it.
Bytes in_bcd(Bytes reply) {
    for (std::size_t at = 4; at + 11 <= reply.size(); at += 11)
        for (std::size_t i : {3, 8, 9, 10})
            if (i != 3 || reply[at + 3] < 0xA0) reply[at + i] = std::uint8_t(reply[at + i] / 10 * 6 + reply[at + i]);
    return reply;
}

Ends ends(Bytes full_toc, Bytes session_info = kSessionInfo) {
    full_toc_reply = std::move(full_toc);
    session_info_reply = std::move(session_info);
    session_table = {};  // nothing known yet of the drive's sessions
    build_track_list();
    return {track_end(1), track_end(2), track_end(3), track_end(4), track_end(5)};  // called in order
}

TEST(TrackEnd, FromTheFullTocElseFromTheSessionInformation) {
    EXPECT_EQ(ends(kFullToc), kFullTocEnds);
    EXPECT_EQ(ends(in_bcd(kFullToc)), kFullTocEnds);
    EXPECT_EQ(ends({}), kFallbackEnds);
    // Session information that puts the last session's start (as the second's) before track 4 has
    // begun: track 4 runs to track 5, and the caller is told.
    EXPECT_EQ(ends({}, {0, 10, 1, 2, 0, 0x14, 5, 0, 0, 0, 0x53, 0xFC}), (Ends{1000 - 225, 13000, 14000, 21500, 22000}));
    bool no_usable_sessions = false;
    track_end(4, &no_usable_sessions);
    EXPECT_TRUE(no_usable_sessions);
    // Session information refused, or with the last session's start off the disc (LBA -150,
    // 100:00:00): 225 sectors before every data track.
    for (const Bytes& info : {Bytes{}, Bytes{0, 10, 1, 3, 0, 0x14, 5, 0, 0xFF, 0xFF, 0xFF, 0x6A},
                              Bytes{0, 10, 1, 3, 0, 0x14, 5, 0, 0x00, 0x06, 0xDD, 0x3A}})
        EXPECT_EQ(ends({}, info), (Ends{1000 - 225, 13000, 14000, 21500 - 225, 22000}));
}

// Each row spoils one byte of the reply, in binary or in BCD, which one of the parser's checks must
// refuse either way.
TEST(TrackEnd, HostileFullTocIsRefused) {
    // The offset of a byte of descriptor d (from 0); descriptor 7 is track 3's.
    const auto in = [](int d, int byte) { return std::size_t(4 + 11 * d + byte); };
    const std::tuple<const char*, std::size_t, std::uint8_t> cases[] = {
        {"length not whole descriptors", 1, 122},
        {"length beyond the buffer", 0, 0xFF},
        {"first session after the last", 2, 4},
        {"session 0", in(7, 0), 0},
        {"seconds 60", in(7, 9), 60},
        {"beyond 99:59:74", in(7, 8), 100},
        {"before 00:02:00: track 1 at 00:01:00", in(3, 9), 1},
        {"track elsewhere than format 0 has it", in(7, 10), 26},
        {"track given twice", in(7, 3), 4},
        {"sessions going back: track 3 in session 3", in(7, 0), 3},
        {"lead-out before its last track", in(6, 9), 0},
        {"lead-out after the next session", in(2, 8), 3},
    };
    for (const auto& [what, at, value] : cases)
        for (Bytes reply : {kFullToc, in_bcd(kFullToc)}) {
            reply[at] = value;
            EXPECT_EQ(ends(reply), kFallbackEnds) << what;
        }
}

// tremick's READ(10) reaches the drive at its own LUN.
TEST(DataTracks, ReadFromTheSelectedUnit) {
    Bytes sectors(3 * 2048), expected;
    read_data_sectors(sectors.data(), 254, 3);
    for (int lba : {254, 255, 256}) expected.insert(expected.end(), 2048, static_cast<std::uint8_t>(lba));
    EXPECT_EQ(sectors, expected);
}

}  // namespace

// The library operations the extraction code calls, scripted over kDisc.
int CDIF_GetLastTrack() { return static_cast<int>(kDisc.size()) - 1; }
std::int32_t CDIF_GetTrackLBA(int i) { return kDisc[i - 1].first; }
std::uint32_t CDIF_GetTrackMSF(int i) { return kDisc[i - 1].second; }
std::uint8_t* data_sector_buffer = data_area;
AspiDevice selected_device{1, 2, 3};
CommandSense last_failure_sense{};
int drive_gone = kDriveThere;

int CDIF_ExecCommand(std::uint8_t* buffer, std::uint32_t length, int, int, int lun, const std::uint8_t* cdb,
                     std::uint8_t) {
    // READ(10) gives a sector of the low byte of its LBA; before any other reply the buffer is
    // zeroed, as the library does.
    const bool read10 = cdb[0] == 0x28;
    std::memset(buffer, read10 ? cdb[5] : 0, length);
    if (read10) return cdb[1] >> 5 == lun ? 1 : 0;  // as a unit refuses a command naming another
    const Bytes& reply = cdb[2] == 2 ? full_toc_reply : session_info_reply;
    std::copy_n(reply.begin(), std::min<std::size_t>(length, reply.size()), buffer);
    return reply.empty() ? 0 : 1;
}
