// What each track mode of an image is: its cue sheet name, how its sectors lie in the image file,
// the header and control bits of its sectors, and the READ CD sector types it holds. Adding a mode
// means adding one enumerator and one row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace disc_image {

enum class TrackMode { audio, mode1_2048, mode1_2352, mode2_2352 };

// Control nibble bits of a track, as READ TOC reports them.
inline constexpr std::uint8_t kControlPreEmphasis = 0x01;
inline constexpr std::uint8_t kControlCopyPermitted = 0x02;
inline constexpr std::uint8_t kControlData = 0x04;
inline constexpr std::uint8_t kControlFourChannel = 0x08;

// READ CD expected sector types (CDB byte 1, bits 2 to 4).
inline constexpr int kReadCdAnyType = 0;
inline constexpr int kReadCdAudio = 1;
inline constexpr int kReadCdMode1 = 2;
inline constexpr int kReadCdMode2Formless = 3;
inline constexpr int kReadCdMode2Form1 = 4;
inline constexpr int kReadCdMode2Form2 = 5;
inline constexpr int kReadCdLastType = kReadCdMode2Form2;

constexpr std::uint8_t read_cd_type_bit(int type) { return static_cast<std::uint8_t>(1u << type); }

struct TrackModeTraits {
    TrackMode mode;
    std::string_view cue_name;      // the type word of a cue sheet's TRACK command
    std::size_t file_sector_size;   // bytes per sector in the image file
    std::size_t file_offset;        // where a file's sector begins in the 2352-byte raw sector
    std::size_t user_data_offset;   // where the 2048 user-data bytes begin in the raw sector
    std::uint8_t header_mode;       // the header's mode byte; 0 for audio, which has no header
    std::uint8_t control;           // the control bits the mode itself sets
    std::uint8_t read_cd_types;     // one bit per READ CD expected sector type the track may hold
};

// Mode 2 tracks are all XA (form 1 or 2, told apart by each sector's subheader); none holds
// formless Mode 2 sectors.
inline constexpr std::array<TrackModeTraits, 4> kTrackModes = {{
    {TrackMode::audio, "AUDIO", 2352, 0, 0, 0, 0, read_cd_type_bit(kReadCdAnyType) | read_cd_type_bit(kReadCdAudio)},
    {TrackMode::mode1_2048, "MODE1/2048", 2048, 16, 16, 1, kControlData,
     read_cd_type_bit(kReadCdAnyType) | read_cd_type_bit(kReadCdMode1)},
    {TrackMode::mode1_2352, "MODE1/2352", 2352, 0, 16, 1, kControlData,
     read_cd_type_bit(kReadCdAnyType) | read_cd_type_bit(kReadCdMode1)},
    {TrackMode::mode2_2352, "MODE2/2352", 2352, 0, 24, 2, kControlData,
     read_cd_type_bit(kReadCdAnyType) | read_cd_type_bit(kReadCdMode2Form1) | read_cd_type_bit(kReadCdMode2Form2)},
}};

constexpr const TrackModeTraits& traits_of(TrackMode mode) { return kTrackModes[static_cast<std::size_t>(mode)]; }

consteval bool rows_in_enum_order() {
    for (std::size_t i = 0; i < kTrackModes.size(); ++i)
        if (static_cast<std::size_t>(kTrackModes[i].mode) != i) return false;
    return true;
}
static_assert(rows_in_enum_order(), "kTrackModes must list the modes in the order of TrackMode");

}  // namespace disc_image
