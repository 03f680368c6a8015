// The commands that the guest probe sends to QEMU's CD-ROM drives through SG_IO and that the
// host comparer sends to the emulated drive, and how their replies are compared.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace linux_guest {

// What must agree between the two drives.
enum class Compare {
    kWhole,       // status, sense key and ASC, reply length and every data byte
    kDeviceType,  // status and the peripheral device type and removable bit of an INQUIRY reply
    // QEMU's reply departs from MMC (see the command): the emulated drive's reply is compared with
    // the MMC reply written in the table instead, and QEMU's is only shown.
    kMmcReply,
    kQemuOnly,  // sent to QEMU's drive only, as evidence for another comparison
};

// Which drive of the guest the command goes to.
enum class Drive {
    kDisc,   // the drive holding the ISO image
    kEmpty,  // the drive without a disc
};

struct ProbeCommand {
    std::string_view name;
    Drive drive;
    std::array<std::uint8_t, 12> cdb;
    std::uint8_t cdb_length;
    std::uint32_t allocation_length;  // data-in buffer handed with the command
    Compare compare;
    std::array<std::uint8_t, 12> mmc_reply{};  // with kMmcReply: the whole reply MMC asks for
    std::uint8_t mmc_reply_length = 0;
};

// READ TOC: byte 1 bit 1 asks for MSF addresses, byte 2 is the format, byte 6 the starting
// track, bytes 7-8 the allocation length.
inline constexpr ProbeCommand kProbeCommands[] = {
    {"inquiry", Drive::kDisc, {0x12, 0, 0, 0, 96, 0}, 6, 96, Compare::kDeviceType},
    // Exactly what the library sends.
    {"toc_format0_lba", Drive::kDisc, {0x43, 0x00, 0x00, 0, 0, 0, 0x00, 0x04, 0x00, 0}, 10, 1024, Compare::kWhole},
    {"toc_format0_msf", Drive::kDisc, {0x43, 0x02, 0x00, 0, 0, 0, 0x00, 0x04, 0x00, 0}, 10, 1024, Compare::kWhole},
    // Format 1 (session information). QEMU departs from MMC on both its drives: the IDE CD-ROM
    // reads the format from the obsolete SFF-8020 place, bits 6-7 of byte 9, ignores byte 2 and
    // answers with the format 0 reply; the SCSI CD-ROM (behind USB) leaves the first track's
    // descriptor zero. MMC's answer for a one-session disc whose first track is a data track at
    // LBA 0: sessions 1 to 1, then ADR 1 / control 4, track 1, start 0 (00:02:00).
    {"toc_format1_lba", Drive::kDisc, {0x43, 0x00, 0x01, 0, 0, 0, 0x00, 0x04, 0x00, 0}, 10, 1024, Compare::kMmcReply,
     {0x00, 0x0A, 0x01, 0x01, 0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, 12},
    {"toc_format1_msf", Drive::kDisc, {0x43, 0x02, 0x01, 0, 0, 0, 0x00, 0x04, 0x00, 0}, 10, 1024, Compare::kMmcReply,
     {0x00, 0x0A, 0x01, 0x01, 0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00}, 12},
    // The allocation length clips the reply but not its data length field.
    {"toc_format0_lba_alloc12", Drive::kDisc, {0x43, 0x00, 0x00, 0, 0, 0, 0x00, 0x00, 0x0C, 0}, 10, 12,
     Compare::kWhole},
    // Starting at the lead-out gives its descriptor only; past the last track is refused.
    {"toc_format0_lba_from_leadout", Drive::kDisc, {0x43, 0x00, 0x00, 0, 0, 0, 0xAA, 0x04, 0x00, 0}, 10, 1024,
     Compare::kWhole},
    {"toc_format0_lba_from_track2", Drive::kDisc, {0x43, 0x00, 0x00, 0, 0, 0, 0x02, 0x04, 0x00, 0}, 10, 1024,
     Compare::kWhole},
    // QEMU marks the lead-out of a data disc copy-permitted (ADR/control 0x16) though track 1 is
    // not (0x14). Format 0 reports what the lead-in's Q sub-channel holds, so its lead-out control
    // must be that of point A2 in the raw TOC (format 2). Format 2 here is asked for where either
    // of QEMU's drives looks for it: byte 2, and bits 6-7 of byte 9; byte 6 is the session.
    {"toc_format2_raw_qemu", Drive::kDisc, {0x43, 0x00, 0x02, 0, 0, 0, 0x01, 0x04, 0x00, 0x80}, 10, 1024,
     Compare::kQemuOnly},
    // Format 2 (the full TOC) in MSF as the extraction programs ask for it: the format in byte 2
    // and in bits 6-7 of byte 9, byte 6 the first session.
    {"toc_format2_msf", Drive::kDisc, {0x43, 0x02, 0x02, 0, 0, 0, 0x01, 0x04, 0x00, 0x80}, 10, 1024, Compare::kWhole},
    // An address far past the lead-out: ILLEGAL REQUEST, logical block address out of range.
    {"read10_past_leadout", Drive::kDisc, {0x28, 0, 0x00, 0x06, 0x1A, 0x80, 0, 0x00, 0x01, 0}, 10, 2048,
     Compare::kWhole},
    {"empty_test_unit_ready", Drive::kEmpty, {0x00, 0, 0, 0, 0, 0}, 6, 0, Compare::kWhole},
    {"empty_toc_format0_lba", Drive::kEmpty, {0x43, 0x00, 0x00, 0, 0, 0, 0x00, 0x04, 0x00, 0}, 10, 1024,
     Compare::kWhole},
};

inline std::span<const std::uint8_t> cdb_of(const ProbeCommand& command) {
    return {command.cdb.data(), command.cdb_length};
}

}  // namespace linux_guest
