// Any CDB with any data-in length against an emulated two-session disc, with the faults of a
// CDIF_DRIVES entry. The input is the entry's options (up to a newline), then per command 12
// CDB bytes and 3 bytes of data-in length. Data read is compared with what the disc builder says
// each sector holds, and every medium error with the injected faults.
#include "disc.h"
#include "disc_builder.h"
#include "drive_entry.h"
#include "fuzz_harness.h"

using namespace disc_image;
using test_support::TrackKind;

namespace {

// Audio tracks 1 and 2 (with an INDEX 00), then a session of a Mode 1 track and a Mode 2 track
// with a PREGAP and a POSTGAP.
const test_support::BuiltDisc kDisc = test_support::build_disc(
    scratch_folder(), "disc",
    {{TrackKind::audio, 75}, {TrackKind::audio, 250, 75}, {TrackKind::mode1_2352, 60, 0, 2},
     {TrackKind::mode2_2352, 40, 0, 2, 10, 5}});

bool in_any(const std::vector<SectorRange>& ranges, std::uint32_t lba) {
    return std::any_of(ranges.begin(), ranges.end(), [&](auto& range) { return range.holds(int(lba)); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{{data, size}};
    auto entry = parse_drive_entry("disc.cue?" + std::string(input.until('\n')));
    const DriveEntry* parsed = std::get_if<DriveEntry>(&entry);
    const DriveEntry faults = parsed != nullptr ? *parsed : DriveEntry();
    MmcDrive drive(std::get<Disc>(load_image(kDisc.cue)), FaultPlan(faults), true);

    for (int command = 0; command < 32 && !input.rest.empty(); ++command) {
        const std::vector<std::uint8_t> cdb = input.bytes(12);
        const std::size_t length = input.number(3) % (1 << 18);
        const auto [reply, read] = run_guarded(drive, cdb, length);
        const bool read10 = cdb.size() >= 10 && cdb[0] == 0x28;
        if (!read10 && (cdb.size() < 12 || cdb[0] != 0xBE)) continue;
        const std::uint32_t lba = get_be(cdb, 2, 4);
        const std::uint32_t count = read10 ? get_be(cdb, 7, 2) : get_be(cdb, 6, 3);
        if (reply.status != kStatusGood) {
            // A medium error names a sector that the entry made fail.
            const std::uint32_t failed = get_be(reply.sense, 3, 4);
            const bool flaky = std::any_of(faults.flaky.begin(), faults.flaky.end(),
                                           [&](auto& f) { return in_any(f.ranges, failed); });
            const bool injected = failed - lba < count && (in_any(faults.bad, failed) || flaky);
            FUZZ_CHECK(reply.sense[2] != 0x03 || injected);
            continue;
        }
        // READ(10), or READ CD of whole sectors of any type: the disc's sectors, cut at the buffer,
        // none of them a bad one.
        if (!read10 && (cdb[9] != 0xF8 || (cdb[1] & 0x1C) != 0)) continue;
        const std::size_t sector_size = read10 ? 2048 : 2352;
        const std::uint64_t wanted = std::uint64_t{count} * sector_size;
        FUZZ_CHECK(read.size() == std::min<std::uint64_t>(wanted, length) &&
                   reply.overrun == (wanted > length));
        for (std::size_t done = 0; done < read.size(); done += sector_size) {
            const auto at = static_cast<std::int32_t>(lba + done / sector_size);
            const auto sector = read10 ? kDisc.user_data(at) : kDisc.raw_sector(at);
            const auto piece = static_cast<std::ptrdiff_t>(std::min(sector_size, read.size() - done));
            FUZZ_CHECK(!in_any(faults.bad, at) && sector.size() == sector_size &&
                       std::equal(sector.begin(), sector.begin() + piece, read.begin() + done));
        }
    }
    return 0;
}
