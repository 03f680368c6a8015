// The WAV header: 44.1 kHz 16-bit stereo PCM, little-endian, sized for a track's sectors.
#include <algorithm>
#include <cstring>

#include "palvane.h"

namespace {

void put_le16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_le32(std::uint8_t* at, std::uint32_t value) {
    put_le16(at, static_cast<std::uint16_t>(value));
    put_le16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::int64_t data_size(std::int32_t count) { return static_cast<std::int64_t>(std::max(count, 0)) * kRawSectorSize; }

}  // namespace

void fill_wav_header(std::uint8_t* header, std::int32_t count) {
    const auto size = static_cast<std::uint32_t>(data_size(count));
    std::memcpy(header, "RIFF", 4);
    put_le32(header + 4, size + 36);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    put_le32(header + 16, 16);
    put_le16(header + 20, 1);  // PCM
    put_le16(header + 22, 2);  // channels
    put_le32(header + 24, 44100);
    put_le32(header + 28, 176400);  // bytes per second
    put_le16(header + 32, 4);       // block align
    put_le16(header + 34, 16);      // bits per sample
    std::memcpy(header + 36, "data", 4);
    put_le32(header + 40, size);
}

std::int64_t wav_file_size(std::int32_t count) { return data_size(count) + kWavHeaderSize; }
