// Writes cue/bin disc images for tests, with content that differs in every sector and byte
// (so that a sector in the wrong place shows), and tells what each sector holds; and RIFF/WAVE
// files, written chunk by chunk so that a test can make any malformed one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// mode2_form2: a MODE2/2352 track of form 2 sectors, 2324 user bytes each.
enum class TrackKind { audio, mode1_2048, mode1_2352, mode2_2352, mode2_form2 };

struct TrackSpec {
    TrackKind kind = TrackKind::audio;
    int sectors = 300;        // sectors from INDEX 01 to the next track (in the bin file)
    int index0_sectors = 0;   // INDEX 00 sectors before INDEX 01, stored in the bin file
    int session = 1;          // REM SESSION number; a new session starts 11400 sectors after the
                              // first session's lead-out, 6900 after a later one's
    int pregap = 0;           // PREGAP sectors before INDEX 00/01 (silence or zeros, not in the bin file)
    int postgap = 0;          // POSTGAP sectors after the track (not in the bin file)
    const char* flags = "";   // the words of a FLAGS line, none when empty
    bool new_file = false;    // the track starts a bin file of its own, <name>-NN.bin
};

struct BuiltTrack {
    TrackKind kind;
    std::int32_t start;       // LBA of INDEX 01
    std::int32_t end;         // LBA of the sector after the track's last sector in the bin file
    std::int32_t first = 0;   // LBA of the track's first sector, PREGAP included
    std::int32_t stored = 0;  // LBA of the first sector the bin file holds (INDEX 00, or INDEX 01)
    std::int32_t after = 0;   // LBA after the track, POSTGAP included
};

struct BuiltDisc {
    std::filesystem::path cue;          // the cue sheet (its bin files beside it)
    std::vector<BuiltTrack> tracks;     // tracks[0] is track 1
    std::int32_t lead_out = 0;          // LBA of the lead-out (the last session's)

    // The 2352 bytes of a sector of an audio track, or the 2048 user-data bytes of a form 1 data
    // sector, as the image holds them.
    std::vector<std::uint8_t> audio_sector(std::int32_t lba) const;
    std::vector<std::uint8_t> user_data(std::int32_t lba) const;
    // The whole 2352 bytes of any readable sector: audio as above; a data sector with its sync and
    // header (and Mode 2 subheader), EDC/ECC left zero. PREGAP/POSTGAP sectors carry zeros as
    // audio or user data (a data sector keeps its sync and header, its subheader is zero).
    // Empty when the LBA holds no sector of that kind.
    std::vector<std::uint8_t> raw_sector(std::int32_t lba) const;
    // The track holding lba (PREGAP to POSTGAP), or null in a session gap or past the lead-out.
    const BuiltTrack* track_at(std::int32_t lba) const;
};

// Writes <dir>/<name>.cue and <dir>/<name>.bin, and <name>-NN.bin for each track NN that asks for a
// file of its own. Sector sizes in the bins: 2352 bytes, or 2048 for MODE1/2048 tracks. The content
// depends only on the LBA and the byte, so a shifted sector shows.
BuiltDisc build_disc(const std::filesystem::path& dir, const std::string& name,
                     const std::vector<TrackSpec>& tracks);

// value as that many bytes, least significant first.
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
    return chunk("fmt ", le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) + le(align, 2) +
                             le(bits, 2));
}

inline std::string riff_wave(const std::string& chunks) {
    return "RIFF" + le(static_cast<std::uint32_t>(4 + chunks.size()), 4) + "WAVE" + chunks;
}

}  // namespace test_support
