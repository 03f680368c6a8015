// The table of contents as a list of packed 8-byte track records, which the extraction
// programs walk: a record gives a track's kind and start, the next record its end.
#pragma once

#include <cstdint>

struct TrackRecord {
    std::uint8_t number;    // track number; 0 in the lead-out record
    std::uint8_t audio;     // 1 for an audio track, 0 for a data track and the lead-out
    std::uint8_t minutes;   // start time
    std::uint8_t seconds;
    std::uint8_t frames;
    std::uint8_t lba[3];    // start address, low 24 bits, big-endian
};
static_assert(sizeof(TrackRecord) == 8);

inline constexpr int kTrackRecords = 101;  // record 0 (zero), tracks 1 to 99, a 99-track disc's lead-out

struct TrackList {
    std::uint8_t reserved[4];
    TrackRecord records[kTrackRecords];
};
static_assert(sizeof(TrackList) == 4 + 8 * kTrackRecords);

extern TrackList track_list;

int build_track_list();

// The record's start address: the unsigned 24-bit value of its LBA bytes.
std::int32_t track_record_lba(const TrackRecord& record);
