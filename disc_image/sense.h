// Sense data as a value: key, additional sense code and its qualifier, with the conditions the
// emulated drive reports, and the one way a command ends with CHECK CONDITION.
#pragma once

#include <cstdint>
#include <optional>

#include "emulated_drive.h"

namespace disc_image {

struct Sense {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

inline constexpr std::uint8_t kSenseNotReady = 0x02;
inline constexpr std::uint8_t kSenseMediumError = 0x03;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x05;
inline constexpr std::uint8_t kSenseUnitAttention = 0x06;

inline constexpr Sense kNoSense{0x00, 0x00, 0x00};
inline constexpr Sense kMediumNotPresent{kSenseNotReady, 0x3A, 0x00};
inline constexpr Sense kBecomingReady{kSenseNotReady, 0x04, 0x01};
inline constexpr Sense kMediumMayHaveChanged{kSenseUnitAttention, 0x28, 0x00};
inline constexpr Sense kUnrecoveredReadError{kSenseMediumError, 0x11, 0x00};
inline constexpr Sense kInvalidOpcode{kSenseIllegalRequest, 0x20, 0x00};
inline constexpr Sense kLbaOutOfRange{kSenseIllegalRequest, 0x21, 0x00};
inline constexpr Sense kInvalidFieldInCdb{kSenseIllegalRequest, 0x24, 0x00};
inline constexpr Sense kLogicalUnitNotSupported{kSenseIllegalRequest, 0x25, 0x00};
inline constexpr Sense kIllegalModeForTrack{kSenseIllegalRequest, 0x64, 0x00};

// Fixed-format sense data (response code 0x70, additional length 10); the information field,
// with the VALID bit, when an address goes with the condition.
inline std::array<std::uint8_t, 18> fixed_sense(Sense sense, std::optional<std::uint32_t> information = std::nullopt) {
    std::array<std::uint8_t, 18> data{};
    data[0] = 0x70;
    data[2] = sense.key;
    data[7] = 10;
    data[12] = sense.asc;
    data[13] = sense.ascq;
    if (information) {
        data[0] |= 0x80;
        for (int i = 0; i < 4; ++i) data[3 + i] = static_cast<std::uint8_t>(*information >> (24 - 8 * i));
    }
    return data;
}

// Ends a command with CHECK CONDITION, after transferred bytes of data.
inline CommandReply check_condition(Sense sense, std::optional<std::uint32_t> information = std::nullopt,
                                    std::uint32_t transferred = 0) {
    CommandReply reply;
    reply.status = kStatusCheckCondition;
    reply.data_length = transferred;
    reply.sense = fixed_sense(sense, information);
    return reply;
}

}  // namespace disc_image
