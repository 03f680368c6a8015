// One CDIF_DRIVES entry of an emulated drive: the image and the faults injected into it.
//
//   entry  = image [ "?" option { "&" option } ]
//   image  = "empty" | a path ending in .cue or .iso (any case)
//   option = "bad=" ranges            sectors that always fail with MEDIUM ERROR
//          | "flaky=" ranges "x" N    sectors that each fail N times, then read
//          | "noopen"                 the drive cannot be opened
//   ranges = LBA [ "-" LBA ] { "," LBA [ "-" LBA ] }
// "flaky" may be given more than once, each with its own count.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace disc_image {

struct SectorRange {
    std::int32_t first = 0;
    std::int32_t last = 0;  // included

    bool holds(std::int32_t lba) const { return lba >= first && lba <= last; }
};

struct FlakyRanges {
    std::vector<SectorRange> ranges;
    int failures = 1;
};

struct DriveEntry {
    std::string image;  // "empty" or the image path
    std::vector<SectorRange> bad;
    std::vector<FlakyRanges> flaky;
    bool no_open = false;
};

// The image part of an entry: everything before the first "?".
std::string_view entry_image(std::string_view entry);

// The entry, or a message saying what is wrong with its options.
std::variant<DriveEntry, std::string> parse_drive_entry(std::string_view entry);

// The injected read faults of one drive, with what the flaky sectors have failed so far.
class FaultPlan {
public:
    FaultPlan() = default;
    explicit FaultPlan(const DriveEntry& entry) : bad_(entry.bad), flaky_(entry.flaky) {}

    // True when reading lba fails this time; a flaky sector counts the failure.
    bool read_fails(std::int32_t lba);

private:
    std::vector<SectorRange> bad_;
    std::vector<FlakyRanges> flaky_;
    std::map<std::int32_t, int> failed_;
};

}  // namespace disc_image
