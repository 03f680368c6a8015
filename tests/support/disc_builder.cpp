// Sector layouts written by the builder (EDC/ECC are left zero everywhere):
//   audio       2352 bytes of pattern
//   MODE1/2048  2048 bytes of pattern (the user data)
//   MODE1/2352  sync 00 FF*10 00 | header M S F (BCD of LBA+150) 01 | 2048 pattern | 288 zero
//   MODE2/2352  sync | header M S F 02 | subheader 00 00 08 00 00 00 08 00 (form 1, data)
//               | 2048 pattern | 280 zero
// The pattern byte is a hash of (LBA, offset of the byte in the 2352-byte sector), so no two
// sectors and no two neighbouring bytes are alike in general.
#include "disc_builder.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace test_support {
namespace {

constexpr int kRawSize = 2352;
constexpr int kUserSize = 2048;
// From a session's lead-out to the next session's INDEX 01: 11400 after the first session, 6900 later.
constexpr int kFirstSessionGap = 11400;
constexpr int kLaterSessionGap = 6900;

std::uint8_t pattern(std::int32_t lba, int offset) {
    std::uint32_t x = static_cast<std::uint32_t>(lba) * 2654435761u ^ static_cast<std::uint32_t>(offset) * 40503u;
    x ^= x >> 15;
    x *= 0x2c1b3c6du;
    x ^= x >> 12;
    x *= 0x297a2d39u;
    x ^= x >> 15;
    return static_cast<std::uint8_t>(x);
}

std::uint8_t bcd(int value) { return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10)); }

bool is_data(TrackKind kind) { return kind != TrackKind::audio; }

int user_offset(TrackKind kind) { return kind == TrackKind::mode2_2352 ? 24 : 16; }

// A data sector as a drive reads it whole; with_content false gives a zero (gap) sector.
std::vector<std::uint8_t> data_raw(TrackKind kind, std::int32_t lba, bool with_content) {
    std::vector<std::uint8_t> raw(kRawSize, 0);
    for (int i = 1; i <= 10; ++i) raw[i] = 0xFF;
    std::int32_t a = lba + 150;
    raw[12] = bcd(a / 4500);
    raw[13] = bcd(a / 75 % 60);
    raw[14] = bcd(a % 75);
    raw[15] = kind == TrackKind::mode2_2352 ? 2 : 1;
    if (!with_content) return raw;
    if (kind == TrackKind::mode2_2352) raw[18] = raw[22] = 0x08;
    int offset = user_offset(kind);
    for (int i = 0; i < kUserSize; ++i) raw[offset + i] = pattern(lba, offset + i);
    return raw;
}

std::vector<std::uint8_t> audio_raw(std::int32_t lba, bool with_content) {
    std::vector<std::uint8_t> raw(kRawSize, 0);
    if (with_content)
        for (int i = 0; i < kRawSize; ++i) raw[i] = pattern(lba, i);
    return raw;
}

const char* cue_type(TrackKind kind) {
    switch (kind) {
    case TrackKind::audio: return "AUDIO";
    case TrackKind::mode1_2048: return "MODE1/2048";
    case TrackKind::mode1_2352: return "MODE1/2352";
    case TrackKind::mode2_2352: return "MODE2/2352";
    }
    return "";
}

std::string msf(std::int64_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(frames / 4500),
                  static_cast<int>(frames / 75 % 60), static_cast<int>(frames % 75));
    return text;
}

}  // namespace

const BuiltTrack* BuiltDisc::track_at(std::int32_t lba) const {
    for (const auto& track : tracks)
        if (lba >= track.first && lba < track.after) return &track;
    return nullptr;
}

std::vector<std::uint8_t> BuiltDisc::raw_sector(std::int32_t lba) const {
    const BuiltTrack* track = track_at(lba);
    if (track == nullptr) return {};
    bool stored = lba >= track->stored && lba < track->end;
    return is_data(track->kind) ? data_raw(track->kind, lba, stored) : audio_raw(lba, stored);
}

std::vector<std::uint8_t> BuiltDisc::audio_sector(std::int32_t lba) const {
    const BuiltTrack* track = track_at(lba);
    if (track == nullptr || is_data(track->kind)) return {};
    return raw_sector(lba);
}

std::vector<std::uint8_t> BuiltDisc::user_data(std::int32_t lba) const {
    const BuiltTrack* track = track_at(lba);
    if (track == nullptr || !is_data(track->kind)) return {};
    auto raw = raw_sector(lba);
    auto begin = raw.begin() + user_offset(track->kind);
    return {begin, begin + kUserSize};
}

BuiltDisc build_disc(const std::filesystem::path& dir, const std::string& name, const std::vector<TrackSpec>& specs) {
    BuiltDisc disc;
    disc.cue = dir / (name + ".cue");
    std::ofstream bin(dir / (name + ".bin"), std::ios::binary | std::ios::trunc);
    std::ofstream cue(disc.cue, std::ios::trunc);
    if (!bin || !cue) throw std::runtime_error("cannot write the test image " + disc.cue.string());
    cue << "FILE \"" << name << ".bin\" BINARY\n";

    std::int32_t lba = 0;            // next LBA on the disc
    std::int64_t file_sector = 0;    // next sector of the bin file
    int session = 1;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const TrackSpec& spec = specs[i];
        if (spec.session != session) {
            lba += (session == 1 ? kFirstSessionGap : kLaterSessionGap) - spec.pregap - spec.index0_sectors;
            session = spec.session;
            cue << "REM SESSION " << (session < 10 ? "0" : "") << session << "\n";
        }
        cue << "  TRACK " << (i + 1 < 10 ? "0" : "") << i + 1 << " " << cue_type(spec.kind) << "\n";
        if (spec.pregap > 0) cue << "    PREGAP " << msf(spec.pregap) << "\n";
        BuiltTrack track{spec.kind, 0, 0};
        track.first = lba;
        lba += spec.pregap;
        track.stored = lba;
        if (spec.index0_sectors > 0) cue << "    INDEX 00 " << msf(file_sector) << "\n";
        cue << "    INDEX 01 " << msf(file_sector + spec.index0_sectors) << "\n";
        if (spec.postgap > 0) cue << "    POSTGAP " << msf(spec.postgap) << "\n";
        track.start = lba + spec.index0_sectors;
        track.end = track.start + spec.sectors;
        track.after = track.end + spec.postgap;
        for (std::int32_t sector = track.stored; sector < track.end; ++sector) {
            std::vector<std::uint8_t> raw =
                is_data(spec.kind) ? data_raw(spec.kind, sector, true) : audio_raw(sector, true);
            if (spec.kind == TrackKind::mode1_2048)
                bin.write(reinterpret_cast<const char*>(raw.data()) + 16, kUserSize);
            else
                bin.write(reinterpret_cast<const char*>(raw.data()), kRawSize);
        }
        file_sector += spec.index0_sectors + spec.sectors;
        lba = track.after;
        disc.tracks.push_back(track);
    }
    disc.lead_out = lba;
    if (!bin.flush() || !cue.flush()) throw std::runtime_error("cannot write the test image " + disc.cue.string());
    return disc;
}

}  // namespace test_support
