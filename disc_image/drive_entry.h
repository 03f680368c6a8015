// One CDIF_DRIVES entry of an emulated drive: the image and the faults injected into it.
//
//   entry  = image [ "?" option { "&" option } ]
//   image  = "empty" | a path ending in .cue or .iso (any case)
//   option = "bad=" ranges            sectors that always fail with MEDIUM ERROR
//          | "flaky=" ranges "x" N    sectors that each fail N times, then read
//          | "noopen"                 the drive cannot be opened
//          | "fulltoc=bcd"            READ TOC format 2 gives track points and times in BCD
//          | "fulltoc=none"           READ TOC format 2 is refused
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

// How the drive answers READ TOC format 2, the full table of contents.
enum class FullTocReply { binary, bcd, none };

struct DriveEntry {
    std::string image;  // "empty" or the image path
    std::vector<SectorRange> bad;
    std::vector<FlakyRanges> flaky;
    bool no_open = false;
    FullTocReply full_toc = FullTocReply::binary;
};

// The image part of an entry: everything before the first "?".
std::string_view entry_image(std::string_view entry);

// The entry, or a message saying what is wrong with its options.
std::variant<DriveEntry, std::string> parse_drive_entry(std::string_view entry);

// The injected read faults of one drive, with what the flaky sectors have failed so far.
class FaultPlan {
public:
    FaultPlan() = default;
    explicit FaultPlan(const DriveEntry& entry) : bad_(entry.bad), flaky_(entry.flaky), full_toc_(entry.full_toc) {}

    // True when reading lba fails this time; a flaky sector counts the failure.
    bool read_fails(std::int32_t lba);

    FullTocReply full_toc() const { return full_toc_; }

private:
    std::vector<SectorRange> bad_;
    std::vector<FlakyRanges> flaky_;
    std::map<std::int32_t, int> failed_;
    FullTocReply full_toc_ = FullTocReply::binary;
};

}  // namespace disc_image
