// Cue sheet text parsed into files, tracks and index points, checked for everything that can be
// checked without the files: commands, numbers, ranges and order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "track_mode.h"

namespace disc_image {

struct CueIndex {
    int number = 0;
    int file = 0;             // index into CueSheet::files
    std::int32_t frame = 0;   // position in that file, in sectors
    int line = 0;
};

struct CueTrack {
    int number = 0;
    TrackMode mode = TrackMode::audio;
    std::uint8_t flags = 0;   // from FLAGS: pre-emphasis, copy permitted, four channel
    int session = 1;
    std::int32_t pregap = 0;  // sectors, not in the file
    std::int32_t postgap = 0;
    // In order, INDEX 01 always among them. Within a file each lies after the one before it, and
    // INDEX 01 after the previous track's INDEX 01; INDEX 00 and those above 01 may lie before
    // other tracks' indexes.
    std::vector<CueIndex> indexes;
    int line = 0;
};

// flac: a FLAC file of CD audio, named by the FLAC type or by a ".flac" name of any type.
enum class FileType { binary, wave, flac };

struct CueFile {
    std::string name;         // as written in the sheet
    FileType type = FileType::binary;
    int line = 0;
};

// The track's INDEX 01, which a parsed sheet's tracks always have.
const CueIndex& start_of(const CueTrack& track);

struct CueSheet {
    std::vector<CueFile> files;
    std::vector<CueTrack> tracks;
};

struct CueError {
    int line = 0;
    std::string message;
};

inline constexpr std::size_t kMaxCueLineLength = 4096;

std::variant<CueSheet, CueError> parse_cue_sheet(std::string_view text);

}  // namespace disc_image
