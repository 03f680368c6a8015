// An emulated MMC CD-ROM drive that serves a disc image (.cue/.bin or .iso) to SCSI commands,
// so that the library can be run and tested on machines without a drive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace disc_image {

inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;

// What the drive answers to one command.
struct CommandReply {
    std::uint8_t status = kStatusGood;
    std::uint32_t data_length = 0;             // bytes placed at the start of the data-in buffer
    std::array<std::uint8_t, 18> sense{};      // fixed-format sense data, valid with CHECK CONDITION
    // The command had more data for the host than the data-in buffer holds: the part that fits
    // is there, and a host adapter reports the rest as a data overrun, not as a good transfer.
    bool overrun = false;
};

class EmulatedDrive {
public:
    // A drive described by one entry of CDIF_DRIVES: "empty", "path.cue" or "path.iso", optionally
    // followed by fault-injection options (see the README). A bad image is reported on standard
    // error in one line and gives a drive without a disc; it never fails here.
    static std::unique_ptr<EmulatedDrive> from_entry(const std::string& entry);

    virtual ~EmulatedDrive() = default;

    // False when the entry asked for a drive whose open fails.
    virtual bool can_open() const = 0;

    // Executes one data-in command. Never touches data_in beyond its size.
    virtual CommandReply execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data_in) = 0;
};

// True when a CDIF_DRIVES entry names a disc image (or "empty") rather than a device node.
bool is_emulated_entry(const std::string& entry);

}  // namespace disc_image
