// Where a track ends, for both extraction programs: at the next track, at its own session's
// lead-out when the next track opens a later session, or, for an audio track before a data track
// of the same session, 225 sectors early. The sessions come from the drive's full table of
// contents (READ TOC format 2), read at most once per run and only when a track end needs them.
#pragma once

#include <cstdint>

#include "track_list.h"

// Each track's session and each session's lead-out, as the full table of contents gives them.
struct SessionTable {
    int asked;      // 1 once the drive has been asked
    int known;      // 1 when its reply passed every check; else the fallbacks apply
    std::uint8_t session_of_track[kTrackRecords];  // by track number
    std::int32_t lead_out[kTrackRecords];          // by session number
    // Without a full table: the first track of the last session when that session is not the
    // first (READ TOC format 1), else 0.
    int first_track_of_later_session;
};

extern SessionTable session_table;

// Fills table from a full table of contents reply of length bytes, checked against the track list:
// every track of the list at its address, sessions in order, each session's lead-out after its
// tracks and before the next session. Returns 1, or 0 for a reply that fails a check.
int parse_full_toc(const std::uint8_t* reply, std::uint32_t length, SessionTable& table);

// The end (exclusive) of a track of the track list.
std::int32_t track_end(int track);
