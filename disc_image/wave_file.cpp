#include "wave_file.h"

#include <array>
#include <cstring>

#include "image_error.h"

namespace disc_image {
namespace {

// A file with more chunks before its samples is not one a ripper wrote; the bound keeps a
// hostile file of tiny chunks from costing a read per eight bytes.
constexpr int kMaxChunks = 64;

std::uint32_t le16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

}  // namespace

std::variant<WaveData, std::string> find_wave_data(const ReadAt& read, std::uint64_t size) {
    auto fetch = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        return offset <= size && out.size() <= size - offset && read(offset, out);
    };
    std::array<std::uint8_t, 12> riff{};
    if (!fetch(0, riff) || std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
        return std::string("is not a RIFF/WAVE file");
    bool format_seen = false;
    std::uint64_t at = riff.size();
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        std::array<std::uint8_t, 8> header{};
        if (!fetch(at, header)) return std::string(format_seen ? "has no data chunk" : "has no fmt chunk");
        const std::uint64_t body = at + header.size(), length = le32(header.data() + 4);
        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            std::array<std::uint8_t, 16> format{};
            if (length < format.size() || !fetch(body, format)) return std::string("has a fmt chunk cut short");
            const std::uint32_t tag = le16(format.data()), channels = le16(format.data() + 2), rate = le32(format.data() + 4),
                                align = le16(format.data() + 12), bits = le16(format.data() + 14);
            if (tag != 1 || channels != 2 || rate != 44100 || align != 4 || bits != 16)
                return join({"holds format ", std::to_string(tag), ", ", std::to_string(channels), " channels, ",
                             std::to_string(rate), " Hz, ", std::to_string(bits), " bits in blocks of ", std::to_string(align),
                             " bytes, not 16-bit stereo PCM at 44100 Hz"});
            format_seen = true;
        } else if (std::memcmp(header.data(), "data", 4) == 0) {
            if (!format_seen) return std::string("has its data chunk before the fmt chunk");
            if (length > size - body)
                return join({"has a data chunk cut short (", std::to_string(size - body), " of ", std::to_string(length), " bytes)"});
            return WaveData{body, length};
        }
        at = body + length + (length & 1);  // chunks start on even offsets
    }
    return join({"has no data chunk in its first ", std::to_string(kMaxChunks), " chunks"});
}

}  // namespace disc_image
