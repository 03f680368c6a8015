#include "track_list.h"

#include <cstring>

#include "cdif.h"

TrackList track_list;

int build_track_list() {
    int last = CDIF_GetLastTrack();
    std::memset(&track_list, 0, sizeof track_list);
    // Records 1 to last + 1 (the lead-out); a table that claims more than 99 tracks keeps
    // what fits, the lead-out record of a 99-track disc included.
    for (int i = 1; i <= last + 1 && i < kTrackRecords; ++i) {
        std::uint32_t msf = CDIF_GetTrackMSF(i);
        std::uint32_t lba = static_cast<std::uint32_t>(CDIF_GetTrackLBA(i));
        TrackRecord& record = track_list.records[i];
        if (i != last + 1) {
            record.number = static_cast<std::uint8_t>(i);
            record.audio = (msf & 0xFF) == 0 ? 1 : 0;
        }
        record.minutes = static_cast<std::uint8_t>(msf >> 24);
        record.seconds = static_cast<std::uint8_t>(msf >> 16);
        record.frames = static_cast<std::uint8_t>(msf >> 8);
        record.lba[0] = static_cast<std::uint8_t>(lba >> 16);
        record.lba[1] = static_cast<std::uint8_t>(lba >> 8);
        record.lba[2] = static_cast<std::uint8_t>(lba);
    }
    return 1;
}

std::int32_t track_record_lba(const TrackRecord& record) {
    return static_cast<std::int32_t>(record.lba[0]) << 16 | static_cast<std::int32_t>(record.lba[1]) << 8 |
           static_cast<std::int32_t>(record.lba[2]);
}
