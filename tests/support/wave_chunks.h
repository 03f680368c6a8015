// RIFF/WAVE files for tests, written chunk by chunk so that a test can make any malformed one.
#pragma once

#include <cstdint>
#include <string>

namespace test_support {

// value in bytes little-endian bytes.
inline std::string le(std::uint32_t value, int bytes) {
    std::string result;
    for (int i = 0; i < bytes; ++i) result += static_cast<char>(value >> (8 * i) & 0xFF);
    return result;
}

// A chunk: its four-letter id, its length, its body and the pad byte after an odd body.
inline std::string chunk(const std::string& id, const std::string& body) {
    return id + le(static_cast<std::uint32_t>(body.size()), 4) + body + std::string(body.size() % 2, '\0');
}

// A fmt chunk of PCM-style fields; the defaults are CD audio.
inline std::string fmt_chunk(int tag = 1, int channels = 2, int rate = 44100, int bits = 16) {
    const int align = channels * bits / 8;
    return chunk("fmt ", le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) + le(align, 2) + le(bits, 2));
}

inline std::string riff_wave(const std::string& chunks) {
    return "RIFF" + le(static_cast<std::uint32_t>(4 + chunks.size()), 4) + "WAVE" + chunks;
}

}  // namespace test_support
