// Where a track ends, for both extraction programs: at the next track, at its own session's
// lead-out when the next track opens a later session, or, for an audio track before a data track
// of the same session, 225 sectors early. The sessions come from the drive's full table of
// contents (READ TOC format 2), read at most once per run and only when a track end needs them.
// Track 0 is the audio some discs hide before track 1, in its pregap.
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
    // first (READ TOC format 1), else 0, and the gap before it: the first lead-out, the lead-in
    // and the pregap when it is the second session, a later lead-out and the rest when later.
    int first_track_of_later_session;
    std::int32_t later_session_gap;
};

extern SessionTable session_table;

// Fills table from a full table of contents reply of length bytes, checked against the track list:
// every track of the list at its address, sessions in order, each session's lead-out after its
// tracks and before the next session. The track points and times are read as binary, and again as
// BCD when that fails. Returns 1, or 0 for a reply that fails a check either way.
int parse_full_toc(const std::uint8_t* reply, std::uint32_t length, SessionTable& table);

// The end (exclusive) of a track of the track list, or of track 0 (track 1's start). An end
// computed from the session information that does not lie after the track's start is not used:
// the track then ends at the next track, and *no_usable_sessions (when given) is set.
std::int32_t track_end(int track, bool* no_usable_sessions = nullptr);

// What the sectors from LBA 0 up to an audio track 1 hold, read one at a time with read into
// sector (2352 bytes) up to the first that is not digital silence or that the drive refuses, or
// until the disc or the drive is gone (none).
enum class HiddenTrack { none, audio, refused };
struct HiddenTrackProbe {
    HiddenTrack found;
    std::int32_t refused_lba;  // with HiddenTrack::refused
};
HiddenTrackProbe probe_hidden_track(int (*read)(std::uint8_t*, std::int32_t, std::int32_t), std::uint8_t* sector);
