// Writes the sample discs into a folder:
//   sample.cue/.bin      a mixed disc: track 1 a Mode 1 data track holding an ISO 9660 file
//                        system of the given files and a two-second POSTGAP (as a pressed mixed
//                        disc has between its data and audio tracks), then four audio tracks of
//                        different sounds (track 3 with two seconds of silence as INDEX 00)
//   enhanced.cue/.bin    an audio track, then a second session with a data track whose file
//                        system sits at the session's address
//   sample-data.iso, enhanced-data.iso   the two file systems as 2048-byte sectors
// The file systems are made with xorriso. Data sectors are raw (2352 bytes) with sync and header;
// EDC and ECC are left zero.
//
// Usage: sample_disc <output folder> <folder of files for the data tracks>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "disc.h"
#include "sector.h"

namespace {

namespace fs = std::filesystem;
using Sample = std::function<std::pair<double, double>(double seconds)>;  // left, right in -1..1

constexpr int kSamplesPerSector = 588;
constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

struct AudioTrack {
    int silent_sectors;  // INDEX 00, in the file
    int sectors;
    Sample sound;
};

// A position in a cue sheet: MM:SS:FF of a sector count.
std::string cue_time(std::int32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500 % 100, sectors / 75 % 60, sectors % 75);
    return text;
}

std::string quoted(const fs::path& path) {
    std::string result = "'";
    for (char c : path.string()) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// An ISO 9660 file system of the files, with addresses starting at first_lba.
std::vector<char> make_file_system(const fs::path& iso, const fs::path& files, const std::string& volume, int first_lba) {
    std::string command = "xorriso -as mkisofs -quiet -V " + volume + (first_lba > 0 ? " -C 0," + std::to_string(first_lba) : "") +
                          " -o " + quoted(iso) + " " + quoted(files) + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "sample_disc: xorriso could not make %s\n", iso.string().c_str());
        std::exit(1);
    }
    std::ifstream in(iso, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_data_track(std::ofstream& bin, const std::vector<char>& iso, std::int32_t first_lba) {
    std::array<std::uint8_t, disc_image::kRawSectorSize> raw{};
    for (std::size_t i = 0; i * disc_image::kUserDataSize < iso.size(); ++i) {
        raw.fill(0);
        disc_image::write_sync_and_header(raw, first_lba + static_cast<std::int32_t>(i), 1);
        std::size_t size = std::min(disc_image::kUserDataSize, iso.size() - i * disc_image::kUserDataSize);
        std::copy_n(iso.data() + i * disc_image::kUserDataSize, size, raw.begin() + 16);
        bin.write(reinterpret_cast<const char*>(raw.data()), raw.size());
    }
}

void put_sample(std::ofstream& bin, double value) {
    auto v = static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32000));
    char bytes[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
    bin.write(bytes, 2);
}

void write_audio_track(std::ofstream& bin, const AudioTrack& track) {
    for (int s = 0; s < track.silent_sectors * kSamplesPerSector * 2; ++s) put_sample(bin, 0);
    int samples = track.sectors * kSamplesPerSector;
    for (int s = 0; s < samples; ++s) {
        double t = s / kRate;
        double fade = std::min({1.0, t / 0.05, (samples - s) / kRate / 0.05});  // no clicks at the ends
        auto [left, right] = track.sound(t);
        put_sample(bin, left * fade);
        put_sample(bin, right * fade);
    }
}

// Four different sounds; each changes over time, so no two sectors of a track are alike.
std::vector<AudioTrack> sample_audio() {
    auto glide = [](double t) {  // 220 Hz rising to 440 Hz over four seconds, a fifth above on the right
        double phase = 2 * kPi * (220 * t + 220 * t * t / 8);
        return std::pair{0.5 * std::sin(phase), 0.5 * std::sin(1.5 * phase)};
    };
    auto vibrato = [](double t) {
        double phase = 2 * kPi * 330 * t + 3 * std::sin(2 * kPi * 5.5 * t);
        double v = std::tanh(2 * std::sin(phase)) * (0.3 + 0.1 * t);
        return std::pair{v, -v};
    };
    auto chord = [](double t) {
        double beat = std::fmod(t, 0.5), strike = std::exp(-6 * beat) * (0.6 - 0.05 * t);
        return std::pair{strike * (std::sin(2 * kPi * 262 * t) + std::sin(2 * kPi * 330 * t)) / 2,
                         strike * (std::sin(2 * kPi * 392 * t) + std::sin(2 * kPi * 523 * t)) / 2};
    };
    auto noise = [state = std::uint32_t{12345}](double t) mutable {
        state = state * 1664525u + 1013904223u;
        double v = (static_cast<double>(state >> 8) / (1 << 24) - 0.5) * (1 - t / 2);
        return std::pair{v, v * 0.5};
    };
    return {{0, 300, glide}, {150, 225, vibrato}, {0, 375, chord}, {0, 150, noise}};
}

void write_sample(const fs::path& out, const fs::path& files) {
    auto iso = make_file_system(out / "sample-data.iso", files, "CDIF_SAMPLE", 0);
    std::ofstream bin(out / "sample.bin", std::ios::binary | std::ios::trunc);
    std::ofstream cue(out / "sample.cue", std::ios::trunc);
    cue << "FILE \"sample.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n    POSTGAP 00:02:00\n";
    write_data_track(bin, iso, 0);
    std::int32_t position = static_cast<std::int32_t>((iso.size() + 2047) / 2048);
    int number = 2;
    for (const AudioTrack& track : sample_audio()) {
        cue << "  TRACK 0" << number++ << " AUDIO\n";
        if (track.silent_sectors > 0) cue << "    INDEX 00 " << cue_time(position) << "\n";
        cue << "    INDEX 01 " << cue_time(position + track.silent_sectors) << "\n";
        write_audio_track(bin, track);
        position += track.silent_sectors + track.sectors;
    }
}

void write_enhanced(const fs::path& out, const fs::path& files) {
    AudioTrack audio = sample_audio()[2];
    audio.sectors = 450;
    std::int32_t data_start = audio.sectors + disc_image::kFirstSessionGap;
    auto iso = make_file_system(out / "enhanced-data.iso", files, "CDIF_EXTRA", data_start);
    std::ofstream bin(out / "enhanced.bin", std::ios::binary | std::ios::trunc);
    std::ofstream cue(out / "enhanced.cue", std::ios::trunc);
    cue << "REM SESSION 01\nFILE \"enhanced.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
        << "REM SESSION 02\n  TRACK 02 MODE1/2352\n    INDEX 01 " << cue_time(audio.sectors) << "\n";
    write_audio_track(bin, audio);
    write_data_track(bin, iso, data_start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sample_disc <output folder> <folder of files for the data tracks>\n");
        return 2;
    }
    fs::path out = argv[1];
    fs::create_directories(out);
    write_sample(out, argv[2]);
    write_enhanced(out, argv[2]);
    return 0;
}
