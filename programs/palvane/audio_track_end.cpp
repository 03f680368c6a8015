// Where an audio track ends. Before the lead-out and before another audio track it ends at
// the next record's start. Before a data track it ends 225 sectors early (the gap that a
// mixed disc leaves before its data track), or, when that data track opens a later session
// (an Enhanced CD), 11400 sectors early: the first session's lead-out, the next session's
// lead-in and the data track's pregap.
#include <cstdint>

#include "cdif.h"
#include "palvane.h"
#include "track_list.h"

namespace {

constexpr std::int32_t kDataTrackGap = 225;
constexpr std::int32_t kSessionGap = 11400;
constexpr int kSessionInfoLength = 12;

// Asks the drive for the session information (READ TOC format 1) and tells whether track is
// the first track of the disc's last session, that session not being the first. A drive that
// refuses the request, or a reply that is not sound, gives 0.
int opens_later_session(int track) {
    std::uint8_t area[kSessionInfoLength + 15] = {};
    std::uint8_t* reply = align16(area);
    const std::uint8_t cdb[10] = {0x43, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, kSessionInfoLength, 0x00};
    const AspiDevice device = selected_device;
    if (!CDIF_ExecCommand(reply, kSessionInfoLength, device.host_adapter, device.target, device.lun, cdb, 10))
        return 0;
    const std::uint32_t data_length = (reply[0] << 8) | reply[1];
    const auto lba = static_cast<std::int32_t>((std::uint32_t{reply[8]} << 24) | (reply[9] << 16) | (reply[10] << 8) | reply[11]);
    if (data_length + 2 < kSessionInfoLength || lba < 0 || lba >= kMaxLeadOutLba) return 0;
    const int first_session = reply[2];
    const int last_session = reply[3];
    const int first_track_of_last_session = reply[6];
    return last_session > first_session && first_track_of_last_session == track ? 1 : 0;
}

}  // namespace

std::int32_t audio_track_end(int track) {
    const TrackRecord& next = track_list.records[track + 1];
    const std::int32_t next_start = track_record_lba(next);
    if (next.number == 0 || next.audio == 1) return next_start;  // the lead-out, or another audio track
    if (opens_later_session(next.number)) return next_start - kSessionGap;
    return next_start - kDataTrackGap;
}
