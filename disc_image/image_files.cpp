#include "image_files.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "image_error.h"

namespace disc_image {

namespace {

// Checked before opening: opening a FIFO, say, would wait for a writer.
std::optional<std::string> not_regular(const std::filesystem::path& path) {
    std::error_code code;
    if (std::filesystem::is_regular_file(path, code)) return std::nullopt;
    return join({"cannot open ", quoted(path.string(), std::string::npos), ": ", code ? code.message() : "not a regular file"});
}

}  // namespace

std::optional<std::string> ImageFiles::open_flac(const std::filesystem::path& path) {
    if (auto failed = not_regular(path)) return failed;
    auto opened = FlacFile::open(path);
    if (auto* why = std::get_if<std::string>(&opened)) return join({quoted(path.string(), std::string::npos), " ", *why});
    auto& flac = std::get<std::unique_ptr<FlacFile>>(opened);
    const std::uint64_t size = flac->size();
    files_.push_back({nullptr, std::move(flac), size});
    return std::nullopt;
}

std::optional<std::string> ImageFiles::open(const std::filesystem::path& path) {
    if (auto failed = not_regular(path)) return failed;
    std::error_code code;
    std::uint64_t size = std::filesystem::file_size(path, code);
    auto stream = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (code || !stream->is_open()) return join({"cannot open ", quoted(path.string(), std::string::npos)});
    if (size == 0) return join({quoted(path.string(), std::string::npos), " is empty"});
    files_.push_back({std::move(stream), nullptr, size});
    return std::nullopt;
}

void ImageFiles::narrow(std::size_t file, std::uint64_t offset, std::uint64_t length) {
    files_[file].base += offset;
    files_[file].size = length;
    window_bytes_ = 0;  // it holds bytes at the old offsets
}

bool ImageFiles::fill_window(std::size_t file, std::uint64_t offset) {
    window_bytes_ = 0;
    if (offset >= files_[file].size) return false;
    window_.resize(kWindowSize);
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, files_[file].size - offset));
    const std::uint64_t at = files_[file].base + offset;
    std::size_t got = 0;
    if (files_[file].flac) {
        got = files_[file].flac->read(at, std::span(window_).first(wanted));
    } else {
        std::ifstream& stream = *files_[file].stream;
        stream.clear();
        stream.seekg(static_cast<std::streamoff>(at));
        stream.read(reinterpret_cast<char*>(window_.data()), static_cast<std::streamsize>(wanted));
        got = static_cast<std::size_t>(stream.gcount());
    }
    window_file_ = file;
    window_offset_ = offset;
    window_bytes_ = got;
    return window_bytes_ > 0;
}

bool ImageFiles::read(std::size_t file, std::uint64_t offset, std::span<std::uint8_t> out) {
    if (file >= files_.size() || out.size() > kWindowSize) return false;
    auto holds = [&] {
        return window_bytes_ > 0 && window_file_ == file && offset >= window_offset_ &&
               offset - window_offset_ <= window_bytes_ && out.size() <= window_bytes_ - (offset - window_offset_);
    };
    // A read the window does not hold starts a new one there: the reads that follow it are
    // usually the sectors after it.
    if (!holds() && (!fill_window(file, offset) || !holds())) return false;
    std::memcpy(out.data(), window_.data() + (offset - window_offset_), out.size());
    return true;
}

}  // namespace disc_image
