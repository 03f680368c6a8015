// CD sector layouts: addresses as time, the sync and header of data sectors, and the fields a
// READ CD main-channel selection picks from a 2352-byte sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace disc_image {

inline constexpr std::size_t kRawSectorSize = 2352;
inline constexpr std::size_t kUserDataSize = 2048;
inline constexpr std::int32_t kFramesPerSecond = 75;
inline constexpr std::int32_t kLbaTimeOffset = 150;  // LBA 0 is 00:02:00
// The largest lead-out address: the one after a last sector at 99:59:74 (time 100:00:00).
inline constexpr std::int32_t kMaxLeadOut = 100 * 60 * kFramesPerSecond - kLbaTimeOffset;

using RawSector = std::span<std::uint8_t, kRawSectorSize>;
using ConstRawSector = std::span<const std::uint8_t, kRawSectorSize>;

struct Msf {
    std::uint8_t minutes, seconds, frames;
};

// A number below 100 as two BCD digits, as the Q sub-channel and the sector headers write it.
inline std::uint8_t to_bcd(int value) { return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10)); }

// The time of an LBA (LBA + 150 frames); minutes wrap at 256 as in a one-byte field.
Msf lba_to_msf(std::int32_t lba);

// What a sector holds, as far as the drive's read commands care.
enum class SectorForm { audio, mode1, mode2_form1, mode2_form2 };

// The form of a Mode 2 (XA) sector, from the form bit of its subheader's submode byte.
SectorForm mode2_form(ConstRawSector raw);

// Writes the sync pattern and the header (BCD time of the LBA, mode 1 or 2) of a data sector.
void write_sync_and_header(RawSector raw, std::int32_t lba, int mode);

// Copies into out the fields of raw that a READ CD main-channel selection byte asks for (sync
// 0x80, header codes 0x60, user data 0x10, EDC/ECC 0x08), in sector order; for an audio sector
// any selection with the user-data bit gives all 2352 bytes. Returns the bytes written, or
// nothing is written and 0 is returned when out is too small.
std::size_t select_main_channel(SectorForm form, ConstRawSector raw, std::uint8_t selection, std::span<std::uint8_t> out);

// The bytes select_main_channel would write.
std::size_t main_channel_size(SectorForm form, std::uint8_t selection);

// Whether the multimedia command standard allows this main-channel selection for a sector of this
// form: the fields picked from a data sector must lie side by side (no sync without the header, no
// header with EDC/ECC but without the user data between them). Every selection is allowed for audio.
bool main_channel_selection_legal(SectorForm form, std::uint8_t selection);

}  // namespace disc_image
