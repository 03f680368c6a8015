// Sector layouts written by the builder (EDC/ECC are left zero everywhere):
//   audio       2352 bytes of pattern
//   MODE1/2048  2048 bytes of pattern (the user data)
//   MODE1/2352  sync 00 FF*10 00 | header M S F (BCD of LBA+150) 01 | 2048 pattern | 288 zero
//   MODE2/2352  sync | header M S F 02 | subheader 00 00 08 00 00 00 08 00 (form 1, data)
//               | 2048 pattern | 280 zero
//   form 2      sync | header M S F 02 | subheader 00 00 20 00 00 00 20 00 | 2324 pattern | 4 zero
// The pattern byte is a hash of (LBA, offset of the byte in the 2352-byte sector), so no two
// sectors and no two neighbouring bytes are alike in general.
#include "disc_builder.h"

#include <fstream>
#include <stdexcept>

namespace test_support {
namespace {

constexpr int kRawSize = 2352;
constexpr int kUserSize = 2048;

std::uint8_t pattern(std::int32_t lba, int offset) {
    std::uint32_t x = std::uint32_t(lba) * 2654435761u ^ std::uint32_t(offset) * 40503u;
    x = (x ^ x >> 15) * 0x2c1b3c6du;
    x = (x ^ x >> 12) * 0x297a2d39u;
    return static_cast<std::uint8_t>(x ^ x >> 15);
}

std::uint8_t bcd(int value) { return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10)); }

// Where the pattern starts in a sector: an audio sector is all pattern.
int user_offset(TrackKind k) { return k == TrackKind::audio ? 0 : k >= TrackKind::mode2_2352 ? 24 : 16; }

// A sector as a drive reads it whole; without content it is a gap sector: zeros, and a data
// sector's sync and header.
std::vector<std::uint8_t> raw(TrackKind kind, std::int32_t lba, bool with_content) {
    const bool form2 = kind == TrackKind::mode2_form2, mode2 = form2 || kind == TrackKind::mode2_2352;
    std::vector<std::uint8_t> sector(kRawSize, 0);
    if (kind != TrackKind::audio) {
        std::fill(sector.begin() + 1, sector.begin() + 11, 0xFF);
        const std::int32_t a = lba + 150;
        sector[12] = bcd(a / 4500);
        sector[13] = bcd(a / 75 % 60);
        sector[14] = bcd(a % 75);
        sector[15] = mode2 ? 2 : 1;
    }
    if (mode2 && with_content) sector[18] = sector[22] = form2 ? 0x20 : 0x08;  // the submode, twice
    const int begin = user_offset(kind);
    const int end = kind == TrackKind::audio ? kRawSize : begin + (form2 ? 2324 : kUserSize);
    for (int i = begin; i < end && with_content; ++i) sector[i] = pattern(lba, i);
    return sector;
}

std::string two_digits(std::int64_t n) { return std::to_string(n / 10) + std::to_string(n % 10); }

std::string msf(std::int64_t frames) {
    return two_digits(frames / 4500) + ":" + two_digits(frames / 75 % 60) + ":" + two_digits(frames % 75);
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
    return raw(track->kind, lba, lba >= track->stored && lba < track->end);
}

std::vector<std::uint8_t> BuiltDisc::audio_sector(std::int32_t lba) const {
    const BuiltTrack* track = track_at(lba);
    return track != nullptr && track->kind == TrackKind::audio ? raw_sector(lba) : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> BuiltDisc::user_data(std::int32_t lba) const {
    const BuiltTrack* track = track_at(lba);
    if (!track || track->kind == TrackKind::audio || track->kind == TrackKind::mode2_form2) return {};
    auto sector = raw_sector(lba);
    return {sector.begin() + user_offset(track->kind), sector.begin() + user_offset(track->kind) + kUserSize};
}

BuiltDisc build_disc(const std::filesystem::path& dir, const std::string& name,
                     const std::vector<TrackSpec>& specs) {
    // By TrackKind.
    static const char* const kCueTypes[] = {"AUDIO", "MODE1/2048", "MODE1/2352", "MODE2/2352", "MODE2/2352"};
    BuiltDisc disc;
    disc.cue = dir / (name + ".cue");
    std::ofstream bin;
    std::ofstream cue(disc.cue, std::ios::trunc);
    std::int32_t lba = 0, file_sector = 0;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const TrackSpec& spec = specs[i];
        if (i > 0 && spec.session != specs[i - 1].session) {
            lba += (specs[i - 1].session == 1 ? 11400 : 6900) - spec.pregap - spec.index0_sectors;
            cue << "REM SESSION " << two_digits(spec.session) << "\n";
        }
        if (i == 0 || spec.new_file) {
            std::string file = name;
            if (i > 0) file.append("-").append(two_digits(i + 1));
            file += ".bin";
            bin = std::ofstream(dir / file, std::ios::binary | std::ios::trunc);
            cue << "FILE \"" << file << "\" BINARY\n";
            file_sector = 0;
        }
        cue << "TRACK " << two_digits(i + 1) << " " << kCueTypes[static_cast<int>(spec.kind)] << "\n";
        if (*spec.flags) cue << "FLAGS " << spec.flags << "\n";
        if (spec.pregap > 0) cue << "PREGAP " << msf(spec.pregap) << "\n";
        if (spec.index0_sectors > 0) cue << "INDEX 00 " << msf(file_sector) << "\n";
        cue << "INDEX 01 " << msf(file_sector + spec.index0_sectors) << "\n";
        if (spec.postgap > 0) cue << "POSTGAP " << msf(spec.postgap) << "\n";
        const std::int32_t start = lba + spec.pregap + spec.index0_sectors, end = start + spec.sectors;
        const BuiltTrack track{spec.kind, start, end, lba, lba + spec.pregap, end + spec.postgap};
        const bool user_data_only = spec.kind == TrackKind::mode1_2048;
        for (std::int32_t sector = track.stored; sector < track.end; ++sector) {
            const auto bytes = raw(spec.kind, sector, true);
            bin.write(reinterpret_cast<const char*>(bytes.data()) + (user_data_only ? 16 : 0),
                      user_data_only ? kUserSize : kRawSize);
        }
        file_sector += spec.index0_sectors + spec.sectors;
        lba = track.after;
        disc.tracks.push_back(track);
    }
    disc.lead_out = lba;
    if (!bin.flush() || !cue.flush()) throw std::runtime_error("cannot write " + disc.cue.string());
    return disc;
}

}  // namespace test_support
