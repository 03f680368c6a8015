// Sense data as drives return it after CHECK CONDITION, read by the library (the sense it keeps)
// and by the Linux realization's command trace.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint8_t kSenseNotReady = 0x02;
inline constexpr std::uint8_t kSenseUnitAttention = 0x06;
inline constexpr std::uint8_t kAscBecomingReady = 0x04;    // with ASCQ 01 (in progress) or 04 (formatting)
inline constexpr std::uint8_t kAscMediumChanged = 0x28;    // not ready to ready: the medium may have changed
inline constexpr std::uint8_t kAscMediumNotPresent = 0x3A;

// Sense key, additional sense code and qualifier of a command that ended with CHECK CONDITION.
struct CommandSense {
    std::uint8_t key;
    std::uint8_t asc;
    std::uint8_t ascq;
};

// The key, ASC and ASCQ of length bytes of sense data in fixed (0x70, 0x71) or descriptor (0x72,
// 0x73) format; false, with all zero, for anything else, a short or empty area included.
inline bool decode_sense(const std::uint8_t* sense, std::size_t length, CommandSense& decoded) {
    decoded = {};
    const int response = length > 0 ? sense[0] & 0x7F : 0;
    if ((response == 0x70 || response == 0x71) && length >= 14)
        decoded = {static_cast<std::uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
    else if ((response == 0x72 || response == 0x73) && length >= 4)
        decoded = {static_cast<std::uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
    else
        return false;
    return true;
}
