// One CDIF_DRIVES entry of an emulated drive: the image and the faults injected into it.
//
//   entry  = image [ "?" option { "&" option } ]
//   image  = "empty" | a path ending in .cue or .iso (any case)
//   option = "bad=" ranges            sectors that always fail with MEDIUM ERROR
//          | "flaky=" ranges "x" N    sectors that each fail N times, then read
//          | "noopen"                 the drive cannot be opened
//          | "eject=" LBA             the disc goes when that sector is asked for
//          | "swap=" LBA ":" image    another disc from that sector on (after a UNIT ATTENTION)
//          | "spinup=" N              the first N commands that need the disc find it becoming ready
//          | "fulltoc=bcd"            READ TOC format 2 gives track points and times in BCD
//          | "fulltoc=none"           READ TOC format 2 is refused
//   ranges = LBA [ "-" LBA ] { "," LBA [ "-" LBA ] }
// "flaky" may be given more than once, each with its own count.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
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
    std::optional<std::int32_t> eject;
    std::optional<std::int32_t> swap;  // the sector at which swap_image takes the disc's place
    std::string swap_image;
    int spinup = 0;
    FullTocReply full_toc = FullTocReply::binary;
};

// The image part of an entry: everything before the first "?".
std::string_view entry_image(std::string_view entry);

// The entry, or a message saying what is wrong with its options.
std::variant<DriveEntry, std::string> parse_drive_entry(std::string_view entry);

// What becomes of the disc when a sector is asked for.
enum class DiscEvent { none, eject, swap };

// The injected faults of one drive, with what the flaky sectors have failed so far, the commands
// left to spin up, and whether the disc has been ejected or swapped yet.
class FaultPlan {
public:
    FaultPlan() = default;
    explicit FaultPlan(const DriveEntry& entry)
        : bad_(entry.bad), flaky_(entry.flaky), eject_(entry.eject), swap_(entry.swap), spinup_(entry.spinup),
          full_toc_(entry.full_toc) {}

    // True when reading lba fails this time; a flaky sector counts the failure.
    bool read_fails(std::int32_t lba);
    // What happens to the disc when lba is asked for; each event happens once.
    DiscEvent disc_event(std::int32_t lba);
    // True while the drive is still becoming ready; each call counts one command.
    bool spinning_up();

    FullTocReply full_toc() const { return full_toc_; }

private:
    std::vector<SectorRange> bad_;
    std::vector<FlakyRanges> flaky_;
    std::map<std::int32_t, int> failed_;
    std::optional<std::int32_t> eject_;
    std::optional<std::int32_t> swap_;
    int spinup_ = 0;
    FullTocReply full_toc_ = FullTocReply::binary;
};

}  // namespace disc_image
