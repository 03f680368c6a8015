// What one sector costs: the programs read one sector per SCSI command, so the cost of a command
// through the whole stack (library transport, platform realization, emulated drive) bounds how
// fast a disc image is extracted. Measured for raw audio sectors (READ CD) and user data
// (READ(10)), and for the emulated drive alone, to tell the layers' shares apart.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "cdif.h"
#include "disc_builder.h"
#include "emulated_drive.h"

int toc_listing_enabled = 0;
int use_aspi() { return 0; }

namespace {

using test_support::TrackKind;

constexpr std::int32_t kTrackSectors = 4500;  // one minute per track

// A disc of one data and one audio track, made once, and the library initialised on it.
const test_support::BuiltDisc& disc() {
    static const test_support::BuiltDisc built = [] {
        auto dir = std::filesystem::temp_directory_path() / ("cdif_benchmark_" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
        auto made = test_support::build_disc(dir, "disc", {{TrackKind::mode1_2352, kTrackSectors},
                                                           {TrackKind::audio, kTrackSectors}});
        setenv("CDIF_DRIVES", made.cue.c_str(), 1);
        CDIF_Init([] {});
        return made;
    }();
    return built;
}

void read_cd_cdb(std::uint8_t* cdb, std::int32_t lba) {
    const std::uint8_t command[12] = {0xBE, 0x04, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                                      static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0, 1, 0x10, 0, 0};
    std::copy(command, command + 12, cdb);
}

void read10_cdb(std::uint8_t* cdb, std::int32_t lba) {
    const std::uint8_t command[10] = {0x28, 0, 0, static_cast<std::uint8_t>(lba >> 16), static_cast<std::uint8_t>(lba >> 8),
                                      static_cast<std::uint8_t>(lba), 0, 0, 1, 0};
    std::copy(command, command + 10, cdb);
}

// Sectors of one track, one command each, through CDIF_ExecCommand.
void through_library(benchmark::State& state, int track, int cdb_length, int sector_size, std::uint8_t* buffer,
                     void (*build)(std::uint8_t*, std::int32_t)) {
    const std::int32_t start = disc().tracks[track].start;
    std::int32_t lba = start;
    std::uint8_t cdb[12];
    for (auto _ : state) {
        build(cdb, lba);
        if (!CDIF_ExecCommand(buffer, static_cast<std::uint32_t>(sector_size), 0, 0, 0, cdb,
                              static_cast<std::uint8_t>(cdb_length)))
            state.SkipWithError("a sector did not read");
        benchmark::DoNotOptimize(buffer[0]);
        if (++lba == start + kTrackSectors) lba = start;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * sector_size);
}

void AudioSectorThroughLibrary(benchmark::State& state) {
    disc();
    through_library(state, 1, 12, kRawSectorSize, raw_sector_buffer, read_cd_cdb);
}
BENCHMARK(AudioSectorThroughLibrary);

void DataSectorThroughLibrary(benchmark::State& state) {
    disc();
    through_library(state, 0, 10, kDataSectorSize, data_sector_buffer, read10_cdb);
}
BENCHMARK(DataSectorThroughLibrary);

void AudioSectorFromEmulatedDrive(benchmark::State& state) {
    auto drive = disc_image::EmulatedDrive::from_entry(disc().cue.string());
    const std::int32_t start = disc().tracks[1].start;
    std::int32_t lba = start;
    std::uint8_t cdb[12];
    std::uint8_t sector[kRawSectorSize];
    for (auto _ : state) {
        read_cd_cdb(cdb, lba);
        benchmark::DoNotOptimize(drive->execute(cdb, sector).data_length);
        if (++lba == start + kTrackSectors) lba = start;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * kRawSectorSize);
}
BENCHMARK(AudioSectorFromEmulatedDrive);

}  // namespace

BENCHMARK_MAIN();
