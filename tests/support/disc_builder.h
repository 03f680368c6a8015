// Writes cue/bin disc images for tests, with content that differs in every sector and byte
// (so that a sector in the wrong place shows), and tells what each sector holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

enum class TrackKind { audio, mode1_2048, mode1_2352, mode2_2352 };

struct TrackSpec {
    TrackKind kind = TrackKind::audio;
    int sectors = 300;        // sectors from INDEX 01 to the next track (in the bin file)
    int index0_sectors = 0;   // INDEX 00 sectors before INDEX 01, stored in the bin file
    int session = 1;          // REM SESSION number; a new session starts 11400 sectors after the last lead-out
};

struct BuiltTrack {
    TrackKind kind;
    std::int32_t start;       // LBA of INDEX 01
    std::int32_t end;         // LBA of the sector after the track's last sector in the bin file
};

struct BuiltDisc {
    std::filesystem::path cue;          // the cue sheet (one bin file beside it)
    std::vector<BuiltTrack> tracks;     // tracks[0] is track 1
    std::int32_t lead_out = 0;          // LBA of the lead-out (the last session's)

    // The 2352 bytes of a sector of an audio track, or the 2048 user-data bytes of a data sector,
    // as the image holds them.
    std::vector<std::uint8_t> audio_sector(std::int32_t lba) const;
    std::vector<std::uint8_t> user_data(std::int32_t lba) const;
};

// Writes <dir>/<name>.cue and <dir>/<name>.bin.
BuiltDisc build_disc(const std::filesystem::path& dir, const std::string& name, const std::vector<TrackSpec>& tracks);

}  // namespace test_support
