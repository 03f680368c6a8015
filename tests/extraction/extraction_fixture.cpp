#include "extraction_fixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

void Extraction::make_disc(const std::vector<TrackSpec>& tracks) {
    disc = test_support::build_disc(space.images(), "disc", tracks);
}

Outcome Extraction::run(const char* program, const std::string& options) {
    program_test::ProgramRun run = program_test::run_program(space, program, disc.cue.string() + options);
    return {run.exit_code, run.out};
}

Bytes Extraction::sectors(std::int32_t first, std::int32_t end, bool audio) const {
    Bytes data;
    for (std::int32_t lba = first; lba < end; ++lba) {
        Bytes sector = audio ? disc.audio_sector(lba) : disc.user_data(lba);
        EXPECT_EQ(sector.size(), audio ? 2352u : 2048u) << "no such sector at LBA " << lba;
        data.insert(data.end(), sector.begin(), sector.end());
    }
    return data;
}

Bytes Extraction::wav(std::int32_t first, std::int32_t end) const {
    Bytes data = wav_header(end - first);
    Bytes sectors = audio(first, end);
    data.insert(data.end(), sectors.begin(), sectors.end());
    return data;
}

Bytes Extraction::file(const std::string& name) const { return program_test::read_file<Bytes>(out / name); }

void Extraction::write_file(const std::string& name, const Bytes& content) const {
    std::ofstream(out / name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

std::vector<std::string> Extraction::listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes wav_header(std::int32_t count) {
    Bytes header = {'R', 'I', 'F', 'F', 0, 0, 0, 0,                      // RIFF size: data size + 36
                    'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,  // format chunk of 16 bytes
                    1, 0, 2, 0,                                          // PCM, two channels
                    0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00,      // 44100 Hz, 176400 bytes/s
                    4, 0, 16, 0,                                         // block align, bits per sample
                    'd', 'a', 't', 'a', 0, 0, 0, 0};                     // data size
    const auto size = static_cast<std::uint32_t>(count) * 2352;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<std::uint8_t>((size + 36) >> (8 * i));
        header[40 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    return header;
}

Bytes zero_sectors(Bytes data, int sector_size, std::int32_t first, const std::vector<std::int32_t>& lbas) {
    for (std::int32_t lba : lbas) {
        auto at = data.begin() + static_cast<std::ptrdiff_t>(lba - first) * sector_size;
        std::fill(at, at + sector_size, 0);
    }
    return data;
}
