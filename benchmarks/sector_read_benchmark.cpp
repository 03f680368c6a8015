// What one sector costs: the programs read one sector per SCSI command, so the cost of a command
// through the whole stack (library transport, platform realization, emulated drive) bounds how
// fast a disc image is extracted. Measured for raw audio sectors (READ CD) and user data
// (READ(10)), for the emulated drive alone, and for the image file's bytes alone, to tell the
// layers' shares apart.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "cdif.h"
#include "disc_builder.h"
#include "emulated_drive.h"
#include "image_files.h"
#include "scsi_commands.h"

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

// Sectors of one track, one command each, through CDIF_ExecCommand.
void through_library(benchmark::State& state, int track, int sector_size, std::uint8_t* buffer,
                     test_support::Bytes (*cdb_for)(std::uint32_t lba)) {
    const std::int32_t start = disc().tracks[track].start;
    std::int32_t lba = start;
    for (auto _ : state) {
        const test_support::Bytes cdb = cdb_for(static_cast<std::uint32_t>(lba));
        if (!CDIF_ExecCommand(buffer, static_cast<std::uint32_t>(sector_size), 0, 0, 0, cdb.data(),
                              static_cast<std::uint8_t>(cdb.size())))
            state.SkipWithError("a sector did not read");
        benchmark::DoNotOptimize(buffer[0]);
        if (++lba == start + kTrackSectors) lba = start;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * sector_size);
}

void AudioSectorThroughLibrary(benchmark::State& state) {
    disc();
    through_library(state, 1, kRawSectorSize, raw_sector_buffer,
                    [](std::uint32_t lba) { return test_support::read_cd_cdb(lba, 1, 1, 0x10); });
}
BENCHMARK(AudioSectorThroughLibrary);

void DataSectorThroughLibrary(benchmark::State& state) {
    disc();
    through_library(state, 0, kDataSectorSize, data_sector_buffer,
                    [](std::uint32_t lba) { return test_support::read10_cdb(lba, 1); });
}
BENCHMARK(DataSectorThroughLibrary);

void AudioSectorFromEmulatedDrive(benchmark::State& state) {
    auto drive = disc_image::EmulatedDrive::from_entry(disc().cue.string());
    const std::int32_t start = disc().tracks[1].start;
    std::int32_t lba = start;
    std::uint8_t sector[kRawSectorSize];
    for (auto _ : state) {
        const test_support::Bytes cdb = test_support::read_cd_cdb(static_cast<std::uint32_t>(lba), 1, 1, 0x10);
        benchmark::DoNotOptimize(drive->execute(cdb, sector).data_length);
        if (++lba == start + kTrackSectors) lba = start;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * kRawSectorSize);
}
BENCHMARK(AudioSectorFromEmulatedDrive);

// The bin file's sectors one after the other, through the read-ahead window.
void SectorBytesFromImageFile(benchmark::State& state) {
    disc_image::ImageFiles files;
    if (files.open(disc().cue.parent_path() / "disc.bin")) state.SkipWithError("the bin file did not open");
    const std::uint64_t sectors = files.size(0) / kRawSectorSize;
    std::uint64_t sector = 0;
    std::uint8_t bytes[kRawSectorSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(files.read(0, sector * kRawSectorSize, bytes));
        if (++sector == sectors) sector = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * kRawSectorSize);
}
BENCHMARK(SectorBytesFromImageFile);

}  // namespace

BENCHMARK_MAIN();
