// The track ends of both extraction programs, and the one reading of the drive's sessions they
// rest on. Without a usable full table of contents a track still stops short of the track that
// opens the last session (READ TOC format 1), by the usual gap between sessions.
#include "track_end.h"

#include <algorithm>

#include "cdif.h"
#include "sector_reader.h"

SessionTable session_table;

namespace {

constexpr std::int32_t kDataTrackGap = 225;        // left unread before a data track of the same session
constexpr std::int32_t kSecondSessionGap = 11400;  // the first lead-out (6750), the lead-in and pregap
constexpr std::int32_t kLaterSessionGap = 6900;    // a later lead-out (2250), the lead-in and pregap
constexpr std::uint32_t kFullTocLength = 8192;     // room for 744 descriptors: every point of 99 tracks and sessions
constexpr std::uint32_t kSessionInfoLength = 12;

std::uint8_t full_toc_area[kFullTocLength + 15];

int read_toc(std::uint8_t* reply, std::uint32_t length, const std::uint8_t (&cdb)[10]) {
    const AspiDevice device = selected_device;
    return CDIF_ExecCommand(reply, length, device.host_adapter, device.target, device.lun, cdb, sizeof cdb);
}

void learn_sessions() {
    session_table.asked = 1;
    // Format 2 with times, from session 1; the format also in bits 6-7 of the last byte, where
    // older drives take it.
    const std::uint8_t full_toc[10] = {0x43, 0x02, 0x02, 0x00, 0x00, 0x00, 0x01, kFullTocLength >> 8, 0x00, 0x80};
    std::uint8_t* reply = align16(full_toc_area);
    if (read_toc(reply, kFullTocLength, full_toc) && parse_full_toc(reply, kFullTocLength, session_table)) return;

    // The session information, used only when whole and with the last session's start on the disc.
    const std::uint8_t session_info[10] = {0x43, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, kSessionInfoLength, 0x00};
    if (!read_toc(reply, kSessionInfoLength, session_info)) return;
    const std::uint32_t data_length = (reply[0] << 8) | reply[1];
    const auto lba = static_cast<std::int32_t>((std::uint32_t{reply[8]} << 24) | (reply[9] << 16) | (reply[10] << 8) | reply[11]);
    if (data_length + 2 < kSessionInfoLength || lba < 0 || lba >= kMaxLeadOutLba) return;
    const int first_session = reply[2];
    const int last_session = reply[3];
    if (last_session <= first_session) return;
    session_table.first_track_of_later_session = reply[6];
    session_table.later_session_gap = last_session == 2 ? kSecondSessionGap : kLaterSessionGap;
}

}  // namespace

std::int32_t track_end(int track, bool* no_usable_sessions) {
    const TrackRecord& next = track_list.records[track + 1];
    const std::int32_t next_start = track_record_lba(next);
    if (track == 0 || next.number == 0) return next_start;  // track 1, or the lead-out
    if (!session_table.asked) learn_sessions();
    const SessionTable& table = session_table;
    if (table.known) {
        const int session = table.session_of_track[track];
        if (table.session_of_track[track + 1] > session) return table.lead_out[session];
    } else if (table.first_track_of_later_session == track + 1) {
        const std::int32_t end = next_start - table.later_session_gap;
        if (end > track_record_lba(track_list.records[track])) return end;
        if (no_usable_sessions) *no_usable_sessions = true;
        return next_start;
    }
    if (track_list.records[track].audio != 1 || next.audio == 1) return next_start;
    return next_start - kDataTrackGap;
}

HiddenTrackProbe probe_hidden_track(int (*read)(std::uint8_t*, std::int32_t, std::int32_t), std::uint8_t* sector) {
    const TrackRecord& first = track_list.records[1];
    if (CDIF_GetLastTrack() < 1 || first.audio != 1) return {HiddenTrack::none, 0};
    const std::int32_t end = track_record_lba(first);
    for (std::int32_t lba = 0; lba < end; ++lba) {
        unreadable_sectors = {};
        other_mode_tail = {};
        read(sector, lba, 1);
        // Gone: no further sector is asked for, and the track loop says so.
        if (drive_gone != kDriveThere) return {HiddenTrack::none, 0};
        if (unreadable_sectors.count > 0 || other_mode_tail.count > 0) return {HiddenTrack::refused, lba};
        if (std::any_of(sector, sector + kRawSectorSize, [](std::uint8_t byte) { return byte != 0; }))
            return {HiddenTrack::audio, 0};
    }
    return {HiddenTrack::none, 0};
}
