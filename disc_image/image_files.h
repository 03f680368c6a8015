// The files of a disc image, read through one window of consecutive bytes: a run of sector reads
// through a file costs one system call (or, for a FLAC file, one decoding run) per window rather
// than one per sector, and the memory used is one window whatever the number and size of the
// files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "flac_file.h"

namespace disc_image {

class ImageFiles {
public:
    // Bytes read ahead in one go.
    static constexpr std::size_t kWindowSize = 256 * 1024;

    // Opens a regular, non-empty file and gives it the next index (0, 1, ...); otherwise says
    // what is wrong, in words for an error message.
    std::optional<std::string> open(const std::filesystem::path& path);
    // The same for a FLAC file, whose bytes are its decoded samples.
    std::optional<std::string> open_flac(const std::filesystem::path& path);

    // Narrows a file to length bytes from offset (a WAVE file's samples): its offsets and size
    // count from there on. The span must lie within the file.
    void narrow(std::size_t file, std::uint64_t offset, std::uint64_t length);

    std::size_t count() const { return files_.size(); }
    std::uint64_t size(std::size_t file) const { return files_[file].size; }

    // Fills out (at most a window) with the bytes at offset of the file; false when the file does
    // not hold them all.
    bool read(std::size_t file, std::uint64_t offset, std::span<std::uint8_t> out);

private:
    struct File {
        std::unique_ptr<std::ifstream> stream;  // or, for a FLAC file, its decoder
        std::unique_ptr<FlacFile> flac;
        std::uint64_t size;
        std::uint64_t base = 0;  // where offset 0 lies in the file on disk
    };
    // Loads the window with the bytes of the file from offset on, as many as it and the file hold.
    bool fill_window(std::size_t file, std::uint64_t offset);

    std::vector<File> files_;
    std::vector<std::uint8_t> window_;  // allocated by the first read
    std::size_t window_file_ = 0;
    std::uint64_t window_offset_ = 0;
    std::size_t window_bytes_ = 0;      // valid bytes in the window; 0 when it holds nothing
};

}  // namespace disc_image
