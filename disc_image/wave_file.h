// The samples of a RIFF/WAVE file, served as the audio sectors of a cue sheet's WAVE file.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <variant>

namespace disc_image {

// The data chunk: where the samples begin in the file, and their bytes.
struct WaveData {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Fills out from the file at offset; false when it cannot.
using ReadAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;

// Finds the data chunk of a WAVE file of size bytes, whose fmt chunk must say 16-bit stereo PCM at
// 44100 Hz (CD audio); other chunks are skipped. Otherwise, what is wrong, worded to follow the
// file's name ("is not a RIFF/WAVE file").
std::variant<WaveData, std::string> find_wave_data(const ReadAt& read, std::uint64_t size);

}  // namespace disc_image
