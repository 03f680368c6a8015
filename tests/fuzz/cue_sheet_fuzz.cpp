// Cue sheets: the parser, the layout, then the emulated drive over the disc. The input is the
// sheet's text, then optionally a zero byte and 4 bytes (big-endian) per FILE giving its size;
// a WAVE file's size is followed by 2 bytes giving a length and that many bytes of its header.
// The files read as zeros past what the input gives.
#include <fstream>
#include <optional>

#include "disc.h"
#include "fuzz_harness.h"
#include "scsi_commands.h"
#include "wave_file.h"

using namespace disc_image;

namespace {

// Every image file is one sparse file of 4 GiB of zeros.
const std::filesystem::path kZeros = [] {
    std::filesystem::path file = scratch_folder() / "zeros";
    std::ofstream{file};
    std::filesystem::resize_file(file, std::uint64_t{1} << 32);
    return file;
}();

// The data chunk of a WAVE file of size bytes that starts with head (zeros after it): one that the
// header walk read, its id and length just before it.
std::optional<WaveData> check_wave(const std::vector<std::uint8_t>& head, std::uint64_t size) {
    auto byte = [&](std::uint64_t at) -> std::uint32_t { return at < head.size() ? head[at] : 0; };
    const auto read = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        FUZZ_CHECK(offset + out.size() <= size);
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(byte(offset + i));
        return true;
    };
    auto found = find_wave_data(read, size);
    const WaveData* samples = std::get_if<WaveData>(&found);
    if (samples == nullptr) return std::nullopt;
    const std::uint64_t at = samples->offset;
    const std::uint32_t length = byte(at - 4) | byte(at - 3) << 8 | byte(at - 2) << 16 | byte(at - 1) << 24;
    FUZZ_CHECK(at >= 44 && samples->length <= size - at && samples->length == length && byte(at - 8) == 'd' &&
               byte(at - 7) == 'a' && byte(at - 6) == 't' && byte(at - 5) == 'a');
    return *samples;
}

// Tracks in order without overlap, each session opened by its first track, and a drive whose table
// of contents is that layout: each track's first sector reads, the lead-out does not.
void check_disc(Disc& disc) {
    const std::vector<Track> tracks = disc.tracks();
    const std::int32_t lead_out = disc.lead_out();
    for (std::size_t t = 0; t < tracks.size(); ++t)
        FUZZ_CHECK(tracks[t].first >= 0 && tracks[t].first <= tracks[t].start &&
                   tracks[t].start < tracks[t].after &&
                   tracks[t].after <= (t + 1 < tracks.size() ? tracks[t + 1].first : lead_out));
    FUZZ_CHECK(lead_out == tracks.back().after && lead_out <= kMaxLeadOut);
    for (const Session& session : disc.sessions())
        FUZZ_CHECK(session.first_track < tracks.size() &&
                   tracks[session.first_track].session == session.number &&
                   (session.first_track == 0 || tracks[session.first_track - 1].session < session.number));

    MmcDrive drive(std::move(disc), FaultPlan(), true);
    const auto [toc, listed] = run_guarded(drive, test_support::read_toc_cdb(false, 0, 0, 0xFFFF), 1024);
    FUZZ_CHECK(toc.status == kStatusGood && listed.size() == 4 + 8 * (tracks.size() + 1));
    for (std::size_t k = 0; k <= tracks.size(); ++k) {
        const auto lba = static_cast<std::uint32_t>(k < tracks.size() ? tracks[k].start : lead_out);
        FUZZ_CHECK(get_be(listed, 4 + 8 * k + 4, 4) == lba);
        // One whole sector.
        const auto [read, sector] = run_guarded(drive, test_support::read_cd_cdb(lba, 1, 0, 0xF8), 2352);
        FUZZ_CHECK(k < tracks.size() ? sector.size() == 2352 : read.sense[12] == 0x21);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input{{data, size}};
    auto parsed = parse_cue_sheet(input.until('\0'));
    const CueSheet* sheet = std::get_if<CueSheet>(&parsed);
    if (sheet == nullptr) return 0;

    ImageFiles files;
    std::vector<std::uint64_t> sizes;
    for (std::size_t f = 0; f < sheet->files.size(); ++f) {
        FUZZ_CHECK(!files.open(kZeros));
        sizes.push_back(input.rest.empty() ? 2352 * 100 : input.number(4));
        if (sheet->files[f].type != FileType::wave) continue;
        const std::optional<WaveData> samples = check_wave(input.bytes(input.number(2)), sizes.back());
        if (!samples) return 0;
        files.narrow(f, samples->offset, samples->length);
        sizes.back() = samples->length;
    }
    auto laid_out = lay_out_cue_sheet(*sheet, "fuzz.cue", std::move(files), sizes);
    if (Disc* disc = std::get_if<Disc>(&laid_out)) check_disc(*disc);
    return 0;
}
