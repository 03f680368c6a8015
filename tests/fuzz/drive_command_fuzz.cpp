// Any CDB with any data-in length against an emulated two-session disc, with the faults of a
// CDIF_DRIVES entry. The input is the entry's options (up to a newline), then per command 12
// CDB bytes and 3 bytes of data-in length. Data read is compared with what the disc holds, and
// every medium error with the injected faults.
#include <fstream>

#include "disc.h"
#include "drive_entry.h"
#include "fuzz_harness.h"
#include "mmc_drive.h"

using namespace disc_image;

namespace {

constexpr const char* kSheet =
    "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 00:01:00\nINDEX 01 00:02:00\n"
    "REM SESSION 02\nFILE b.bin BINARY\nTRACK 03 MODE1/2352\nINDEX 01 00:00:00\n"
    "FILE c.bin BINARY\nTRACK 04 MODE2/2352\nPREGAP 00:00:10\nINDEX 01 00:00:00\nPOSTGAP 00:00:05\n";
constexpr std::size_t kMaxDataIn = 1 << 18;

// The image, written once, every byte a function of its file and offset.
const std::filesystem::path& image() {
    static const std::filesystem::path path = [] {
        const std::pair<const char*, std::size_t> files[] = {{"a.bin", 400}, {"b.bin", 60}, {"c.bin", 40}};
        int seed = 0;
        for (const auto& [name, sectors] : files) {
            std::ofstream out(scratch_folder() / name, std::ios::binary);
            ++seed;
            for (std::size_t o = 0; o < sectors * kRawSectorSize; ++o) out.put(static_cast<char>((o * 131 + seed * 17 + (o >> 11)) & 0xFF));
        }
        std::ofstream(scratch_folder() / "disc.cue") << kSheet;
        return scratch_folder() / "disc.cue";
    }();
    return path;
}

bool in_any(const std::vector<SectorRange>& ranges, std::uint32_t lba) {
    return std::any_of(ranges.begin(), ranges.end(), [&](const SectorRange& r) { return lba <= 0x7FFFFFFFu && r.holds(std::int32_t(lba)); });
}

// The faults of the entry; entries that do not parse inject none.
DriveEntry entry_of(std::string_view options) {
    auto parsed = parse_drive_entry("disc.cue?" + std::string(options));
    auto* drive = std::get_if<DriveEntry>(&parsed);
    return drive != nullptr ? *drive : DriveEntry{};
}

// A read that succeeded: the sectors are the disc's, cut at the buffer; none is a bad sector.
void check_read(Disc& disc, const DriveEntry& faults, const GuardedReply& answer, std::uint32_t lba, std::uint32_t count,
                std::size_t sector_size, bool user_data, std::size_t length) {
    const std::uint64_t wanted = std::uint64_t{count} * sector_size;
    FUZZ_CHECK(answer.data.size() == std::min<std::uint64_t>(wanted, length) && answer.reply.overrun == (wanted > length));
    std::array<std::uint8_t, kRawSectorSize> raw;
    for (std::size_t done = 0, i = 0; done < answer.data.size(); done += sector_size, ++i) {
        const auto address = static_cast<std::int32_t>(lba + i);
        FUZZ_CHECK(!in_any(faults.bad, lba + i) && disc.read_raw(address, raw));
        const std::size_t offset = user_data ? traits_of(disc.track_at(address)->mode).user_data_offset : 0;
        const std::size_t size = std::min(sector_size, answer.data.size() - done);
        FUZZ_CHECK(std::equal(raw.begin() + offset, raw.begin() + offset + size, answer.data.begin() + done));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const DriveEntry faults = entry_of(input.until('\n'));
    static auto reference = load_image(image());  // what the disc holds, read apart from the drive
    auto served = load_image(image());
    FUZZ_CHECK(std::holds_alternative<Disc>(served) && std::holds_alternative<Disc>(reference));
    Disc& disc = std::get<Disc>(reference);
    MmcDrive drive(std::move(std::get<Disc>(served)), FaultPlan(faults), true);

    for (int command = 0; command < 32 && !input.empty(); ++command) {
        const std::vector<std::uint8_t> cdb = input.bytes(12);
        const std::size_t length = input.number(3) % kMaxDataIn;
        const GuardedReply answer = run_guarded(drive, cdb, length);
        if (cdb.size() < 10 || (cdb[0] != 0x28 && (cdb[0] != 0xBE || cdb.size() < 12))) continue;
        const std::uint32_t lba = get_be(cdb, 2, 4);
        const bool read10 = cdb[0] == 0x28;
        const std::uint32_t count = read10 ? get_be(cdb, 7, 2) : get_be(cdb, 6, 3);
        if (answer.reply.status != kStatusGood) {
            // A medium error names a sector that the entry made fail.
            if (answer.reply.sense[2] == 0x03) {
                const std::uint32_t failed = get_be(answer.reply.sense, 3, 4);
                FUZZ_CHECK(failed - lba < count && (in_any(faults.bad, failed) ||
                           std::any_of(faults.flaky.begin(), faults.flaky.end(),
                                       [&](const FlakyRanges& f) { return in_any(f.ranges, failed); })));
            }
            continue;
        }
        if (read10) check_read(disc, faults, answer, lba, count, kUserDataSize, true, length);
        else if (cdb[9] == 0xF8 && (cdb[1] & 0x1C) == 0) check_read(disc, faults, answer, lba, count, kRawSectorSize, false, length);
    }
    return 0;
}
