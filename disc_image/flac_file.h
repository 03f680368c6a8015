// The samples of a FLAC file, decoded as they are read and served as the audio sectors of a cue
// sheet's FLAC file. Decoding needs libFLAC; a build without it refuses every FLAC file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <variant>

namespace disc_image {

class FlacFile {
public:
    // The file, if it holds 16-bit stereo samples at 44100 Hz (CD audio) and says how many, and its
    // first and last samples decode. Otherwise what is wrong, worded to follow the file's name
    // ("is not a FLAC file").
    static std::variant<std::unique_ptr<FlacFile>, std::string> open(const std::filesystem::path& path);

    virtual ~FlacFile() = default;

    // The samples' bytes: 4 for each, left then right, 16 bits little-endian, as in a WAVE file.
    virtual std::uint64_t size() const = 0;

    // Fills out with the bytes at offset, which must lie within size(): as many as decode, up to
    // the first frame that does not (which a damaged file has), and returns their number.
    virtual std::size_t read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

}  // namespace disc_image
