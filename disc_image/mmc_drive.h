// The emulated drive's command set: an opcode table, the drive-ready check made once before the
// handlers, and replies clipped to the allocation length in one place.
#pragma once

#include <optional>
#include <vector>

#include "disc.h"
#include "drive_entry.h"
#include "emulated_drive.h"
#include "sense.h"

namespace disc_image {

class MmcDrive final : public EmulatedDrive {
public:
    // other: the disc that a swap= fault puts in; without it, the swap leaves the drive empty.
    MmcDrive(std::optional<Disc> disc, FaultPlan faults, bool openable, std::optional<Disc> other = std::nullopt)
        : disc_(std::move(disc)), other_(std::move(other)), faults_(std::move(faults)), openable_(openable) {}

    bool can_open() const override { return openable_; }
    CommandReply execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data_in) override;

private:
    struct Request {
        std::span<const std::uint8_t> cdb;
        std::span<std::uint8_t> data_in;
        std::vector<std::uint8_t> reply;  // commands with an allocation length build their reply here
        std::uint32_t transferred = 0;    // read commands write data_in directly and count here
        bool overrun = false;             // read commands: data_in could not take all the data
    };
    struct Failure {
        Sense sense;
        std::optional<std::uint32_t> information;  // the failing address
    };
    using Outcome = std::optional<Failure>;
    using Handler = Outcome (MmcDrive::*)(Request&);
    struct Command;
    struct ReadFormat;
    static const Command* find_command(std::uint8_t opcode);
    CommandReply dispatch(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data_in);

    Outcome test_unit_ready(Request&);
    Outcome request_sense(Request&);
    Outcome inquiry(Request&);
    Outcome read_toc(Request&);
    Outcome read_toc_tracks(Request&, bool msf);
    Outcome read_toc_sessions(Request&, bool msf);
    Outcome read_full_toc(Request&);
    Outcome read10(Request&);
    Outcome read_cd(Request&);
    Outcome read_sectors(Request&, std::uint32_t lba, std::uint32_t count, const ReadFormat& format);

    std::optional<Disc> disc_;
    std::optional<Disc> other_;
    FaultPlan faults_;
    bool openable_;
    // The sense of the last command, when it ended with CHECK CONDITION.
    std::optional<std::array<std::uint8_t, 18>> last_sense_;
};

// Big-endian fields of CDBs and replies.
inline std::uint32_t get_be(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | bytes[offset + i];
    return value;
}

inline void put_be(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace disc_image
