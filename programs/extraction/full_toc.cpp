// The full table of contents (READ TOC format 2, times as MSF) as the track ends use it: each
// track's session and each session's lead-out. The reply is untrusted: its length, session
// numbers and times are checked, and it must agree with the track list. Drives give the track
// points and times in binary or, as some do, in BCD: a reply that does not agree read as binary
// is read again as BCD.
#include <algorithm>
#include <iterator>

#include "cdif.h"
#include "track_end.h"

namespace {

constexpr std::uint32_t kHeaderLength = 4;  // data length (2 bytes), first and last session
constexpr std::uint32_t kDescriptorLength = 11;
constexpr int kMaxNumber = 99;              // of tracks and of sessions
constexpr int kAdrPosition = 1;             // the descriptor gives a position
constexpr int kFirstTrackPoint = 0xA0;      // the points from here on are not tracks
constexpr int kLeadOutPoint = 0xA2;         // PMIN:PSEC:PFRAME is the session's lead-out
constexpr int kPointTime = 8;               // PMIN, PSEC, PFRAME

// A byte of a track point or a time, or -1 for one that is not two BCD digits.
int number(std::uint8_t byte, bool bcd) {
    if (!bcd) return byte;
    return (byte >> 4) > 9 || (byte & 0x0F) > 9 ? -1 : (byte >> 4) * 10 + (byte & 0x0F);
}

// The LBA of a time on a CD (from 00:02:00 to the last lead-out there may be), or -1.
std::int32_t time_to_lba(const std::uint8_t* time, bool bcd) {
    const int minutes = number(time[0], bcd), seconds = number(time[1], bcd), frames = number(time[2], bcd);
    if (minutes < 0 || seconds < 0 || seconds > 59 || frames < 0 || frames > 74) return -1;
    std::int32_t lba = (minutes * 60 + seconds) * 75 + frames - 150;
    return lba >= 0 && lba <= kMaxLeadOutLba ? lba : -1;
}

int parse(const std::uint8_t* reply, std::uint32_t length, SessionTable& table, bool bcd) {
    if (length < kHeaderLength) return 0;
    const std::uint32_t total = ((std::uint32_t{reply[0]} << 8) | reply[1]) + 2;
    const int first_session = reply[2];
    const int last_session = reply[3];
    if (total > length || total < kHeaderLength || (total - kHeaderLength) % kDescriptorLength != 0) return 0;
    if (first_session < 1 || first_session > last_session || last_session > kMaxNumber) return 0;

    std::int32_t start[kTrackRecords];      // by track; -1 until given
    std::int32_t lead_out[kTrackRecords];   // by session; -1 until given
    std::uint8_t session_of[kTrackRecords] = {};
    std::fill(std::begin(start), std::end(start), -1);
    std::fill(std::begin(lead_out), std::end(lead_out), -1);
    for (std::uint32_t at = kHeaderLength; at < total; at += kDescriptorLength) {
        const std::uint8_t* descriptor = reply + at;
        const int session = descriptor[0];
        const int point = descriptor[3];
        if (session < first_session || session > last_session) return 0;
        // Other kinds (catalogue number, ISRC, multi-session pointers) and the points A0 and A1
        // are not needed.
        if (descriptor[1] >> 4 != kAdrPosition) continue;
        const int track = point < kFirstTrackPoint ? number(static_cast<std::uint8_t>(point), bcd) : -1;
        const bool is_track = track >= 1 && track <= kMaxNumber;
        if (!is_track && point != kLeadOutPoint) continue;
        const std::int32_t lba = time_to_lba(descriptor + kPointTime, bcd);
        std::int32_t& slot = is_track ? start[track] : lead_out[session];
        if (lba < 0 || slot >= 0) return 0;  // out of range, or given twice
        slot = lba;
        if (is_track) session_of[track] = static_cast<std::uint8_t>(session);
    }

    // Every track where the track list has it, in sessions that do not go back, each session's
    // lead-out after its tracks and before the next session.
    const int last = std::min(CDIF_GetLastTrack(), kTrackRecords - 2);
    for (int track = 1; track <= last; ++track) {
        const int session = session_of[track];
        if (start[track] != track_record_lba(track_list.records[track]) || lead_out[session] <= start[track]) return 0;
        if (track > 1 && session < session_of[track - 1]) return 0;
        if (track > 1 && session > session_of[track - 1] && lead_out[session_of[track - 1]] >= start[track]) return 0;
    }
    std::copy(std::begin(session_of), std::end(session_of), table.session_of_track);
    std::copy(std::begin(lead_out), std::end(lead_out), table.lead_out);
    table.known = 1;
    return 1;
}

}  // namespace

int parse_full_toc(const std::uint8_t* reply, std::uint32_t length, SessionTable& table) {
    return parse(reply, length, table, false) || parse(reply, length, table, true);
}
