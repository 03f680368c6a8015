// A disc as the drive serves it: tracks and sessions at their addresses, and the sectors behind
// them, read from the image files or made up for gaps that the files do not hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "cue_sheet.h"
#include "image_error.h"
#include "image_files.h"
#include "sector.h"

namespace disc_image {

// A later session's first track begins this many sectors after the previous session's lead-out,
// as on a pressed multi-session disc: that lead-out (6750 sectors after the first session, 2250
// after any later one), the next lead-in (4500) and the track's pregap (150). The sectors between
// are unreadable.
inline constexpr std::int32_t kFirstSessionGap = 6750 + 4500 + 150;
inline constexpr std::int32_t kLaterSessionGap = 2250 + 4500 + 150;

inline constexpr std::int32_t session_gap(int previous_session) {
    return previous_session == 1 ? kFirstSessionGap : kLaterSessionGap;
}

struct Track {
    int number = 0;
    TrackMode mode = TrackMode::audio;
    std::uint8_t control = 0;  // the control nibble READ TOC reports
    int session = 1;
    std::int32_t first = 0;    // first sector, pregap included
    std::int32_t start = 0;    // INDEX 01
    std::int32_t after = 0;    // the sector after the track, postgap included
};

struct Session {
    int number = 0;
    std::size_t first_track = 0;  // into Disc::tracks()
    std::int32_t lead_out = 0;
};

// A run of sectors of one track at consecutive addresses: from an image file, or zeros.
struct Extent {
    std::int32_t lba = 0;
    std::int32_t count = 0;
    std::size_t track = 0;         // into the track list
    int file = -1;                 // into the file list; -1 for sectors that no file holds
    std::uint64_t offset = 0;      // byte offset of the first sector in the file
};

class Disc {
public:
    Disc(std::vector<Track> tracks, std::vector<Session> sessions, std::vector<Extent> extents, ImageFiles files);

    const std::vector<Track>& tracks() const { return tracks_; }
    const std::vector<Session>& sessions() const { return sessions_; }
    std::int32_t lead_out() const { return sessions_.back().lead_out; }

    // The track holding lba, or null for an address before 0, in a session gap or past the lead-out.
    const Track* track_at(std::int32_t lba) const;

    // Fills raw with the whole sector at lba, which track_at must know. False when the image file
    // cannot be read there.
    bool read_raw(std::int32_t lba, RawSector raw);

private:
    const Extent* extent_at(std::int32_t lba) const;

    std::vector<Track> tracks_;
    std::vector<Session> sessions_;
    std::vector<Extent> extents_;  // in address order
    ImageFiles files_;
};

// True when the path names a cue sheet: it ends in ".cue", any case (a file named ".cue" too).
bool names_cue_sheet(const std::string& path);

// Reads a disc image: a cue sheet with its files, or else a plain image of 2048-byte sectors,
// served as one Mode 1 track.
Expected<Disc> load_image(const std::filesystem::path& path);

// Lays out a parsed cue sheet whose files are open, holding the given bytes of sectors each.
Expected<Disc> lay_out_cue_sheet(const CueSheet& sheet, const std::filesystem::path& cue_path, ImageFiles files,
                                 const std::vector<std::uint64_t>& sizes);

}  // namespace disc_image
