// Runs one command on an emulated drive with a guard zone after the data-in buffer, and checks
// what every reply must satisfy: nothing written past the buffer or reported beyond it, GOOD or
// CHECK CONDITION, and fixed-format sense with the latter.
#pragma once

#include <algorithm>
#include <vector>

#include "emulated_drive.h"
#include "fuzz_input.h"

struct GuardedReply {
    disc_image::CommandReply reply;
    std::vector<std::uint8_t> data;  // the bytes the drive reported
};

inline GuardedReply run_guarded(disc_image::EmulatedDrive& drive, const std::vector<std::uint8_t>& cdb,
                                std::size_t length) {
    constexpr std::size_t kGuard = 64;
    constexpr std::uint8_t kFill = 0xA5;
    std::vector<std::uint8_t> buffer(length + kGuard, kFill);
    GuardedReply result;
    result.reply = drive.execute(cdb, std::span<std::uint8_t>(buffer.data(), length));
    FUZZ_CHECK(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(length), buffer.end(),
                           [](std::uint8_t b) { return b == kFill; }));
    FUZZ_CHECK(result.reply.data_length <= length);
    const bool good = result.reply.status == disc_image::kStatusGood;
    FUZZ_CHECK(good || result.reply.status == disc_image::kStatusCheckCondition);
    if (!good) FUZZ_CHECK((result.reply.sense[0] & 0x7F) == 0x70 && result.reply.sense[7] == 10 && result.reply.sense[2] != 0);
    buffer.resize(result.reply.data_length);
    result.data = std::move(buffer);
    return result;
}
