#include "disc.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "wave_file.h"

namespace disc_image {
namespace {

constexpr std::uintmax_t kMaxCueSheetSize = 1 << 20;

// The entries of path's folder whose names differ from its own only in ASCII case, sorted:
// sheets written on Windows often name their files in another case than the disk has them.
std::vector<std::filesystem::path> same_name_any_case(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> matches;
    std::string wanted = ascii_lower(path.filename().string());
    std::error_code code;
    for (std::filesystem::directory_iterator it(path.parent_path().empty() ? "." : path.parent_path(), code), end;
         !code && it != end; it.increment(code))
        if (ascii_lower(it->path().filename().string()) == wanted) matches.push_back(it->path());
    std::sort(matches.begin(), matches.end());
    return matches;
}

// The file a FILE entry names, or why there is none. A backslash separates folders, as on
// Windows. A path that does not exist as written stands for the one file in its folder whose name
// differs from it only in case; failing that, for its last component in the sheet's folder: sheets
// name the ripper's folder, or its drive, which did not travel with them.
std::variant<std::filesystem::path, std::string> locate(const std::filesystem::path& sheet, const std::string& written) {
    std::string portable = written;
    std::replace(portable.begin(), portable.end(), '\\', '/');
    const std::filesystem::path name(portable), folder = sheet.parent_path();
    std::vector<std::filesystem::path> tried = {name.is_absolute() ? name : folder / name};
    if (name.has_parent_path() && name.has_filename()) tried.push_back(folder / name.filename());
    for (const std::filesystem::path& candidate : tried) {
        std::error_code code;
        if (std::filesystem::exists(std::filesystem::symlink_status(candidate, code))) return candidate;
        const std::vector<std::filesystem::path> matches = same_name_any_case(candidate);
        if (matches.size() == 1) return matches.front();
        if (matches.size() > 1) {
            std::string message = join({"cannot open ", quoted(candidate.string(), std::string::npos),
                                        "; names that differ from it only in case:"});
            for (const auto& match : matches) message += join({" ", quoted(std::string_view(match.filename().string()))});
            return message;
        }
    }
    // Opening it says why a plain name cannot be had.
    if (tried.size() == 1) return tried.front();
    return join({"cannot open ", quoted(written, std::string::npos), ": not found as written, nor as ",
                 quoted(name.filename().string(), std::string::npos), " in ",
                 quoted(folder.empty() ? "." : folder.string(), std::string::npos)});
}

Expected<Disc> load_cue(const std::filesystem::path& path) {
    // Checked before opening: opening a FIFO, say, would wait for a writer.
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) return ImageError{path.string(), 0, "cannot open the cue sheet"};
    const std::uintmax_t sheet_size = std::filesystem::file_size(path, code);
    if (code) return ImageError{path.string(), 0, "cannot open the cue sheet"};
    if (sheet_size > kMaxCueSheetSize) return ImageError{path.string(), 0, "too large for a cue sheet"};
    std::ifstream stream(path, std::ios::binary);
    if (!stream.is_open()) return ImageError{path.string(), 0, "cannot open the cue sheet"};
    // Sized by the file, and read no further: a sheet that grew since is cut at that size.
    std::string text(static_cast<std::size_t>(sheet_size), '\0');
    stream.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(stream.gcount()));
    if (text.empty()) return ImageError{path.string(), 0, "the cue sheet is empty"};

    auto parsed = parse_cue_sheet(text);
    if (auto* failed = std::get_if<CueError>(&parsed)) return ImageError{path.string(), failed->line, failed->message};
    const CueSheet& sheet = std::get<CueSheet>(parsed);

    ImageFiles files;
    std::vector<std::uint64_t> sizes;
    for (const CueFile& entry : sheet.files) {
        auto located = locate(path, entry.name);
        if (auto* why = std::get_if<std::string>(&located)) return ImageError{path.string(), entry.line, *why};
        const std::filesystem::path& resolved = std::get<std::filesystem::path>(located);
        if (auto message = entry.type == FileType::flac ? files.open_flac(resolved) : files.open(resolved))
            return ImageError{path.string(), entry.line, *message};
        const std::size_t file = files.count() - 1;
        if (entry.type == FileType::wave) {
            auto samples = find_wave_data(
                [&](std::uint64_t offset, std::span<std::uint8_t> out) { return files.read(file, offset, out); }, files.size(file));
            if (auto* why = std::get_if<std::string>(&samples))
                return ImageError{path.string(), entry.line, join({quoted(resolved.string(), std::string::npos), " ", *why})};
            files.narrow(file, std::get<WaveData>(samples).offset, std::get<WaveData>(samples).length);
        }
        sizes.push_back(files.size(file));
    }
    return lay_out_cue_sheet(sheet, path, std::move(files), sizes);
}

Expected<Disc> load_iso(const std::filesystem::path& path) {
    ImageFiles files;
    if (auto failed = files.open(path)) return ImageError{path.string(), 0, *failed};
    const std::uint64_t size = files.size(0);
    if (size % kUserDataSize != 0) return ImageError{path.string(), 0, "does not end on a whole 2048-byte sector"};
    if (size / kUserDataSize > static_cast<std::uint64_t>(kMaxLeadOut)) return ImageError{path.string(), 0, "larger than a CD holds"};
    auto sectors = static_cast<std::int32_t>(size / kUserDataSize);
    Track track;
    track.number = 1;
    track.mode = TrackMode::mode1_2048;
    track.control = traits_of(track.mode).control;
    track.after = sectors;
    return Disc({track}, {Session{1, 0, sectors}}, {Extent{0, sectors, 0, 0, 0}}, std::move(files));
}

}  // namespace

Disc::Disc(std::vector<Track> tracks, std::vector<Session> sessions, std::vector<Extent> extents, ImageFiles files)
    : tracks_(std::move(tracks)), sessions_(std::move(sessions)), extents_(std::move(extents)), files_(std::move(files)) {}

const Extent* Disc::extent_at(std::int32_t lba) const {
    auto after = std::upper_bound(extents_.begin(), extents_.end(), lba,
                                  [](std::int32_t address, const Extent& extent) { return address < extent.lba; });
    if (after == extents_.begin()) return nullptr;
    const Extent& extent = *(after - 1);
    return lba - extent.lba < extent.count ? &extent : nullptr;
}

const Track* Disc::track_at(std::int32_t lba) const {
    const Extent* extent = extent_at(lba);
    return extent != nullptr ? &tracks_[extent->track] : nullptr;
}

bool Disc::read_raw(std::int32_t lba, RawSector raw) {
    const Extent* extent = extent_at(lba);
    if (extent == nullptr) return false;
    const Track& track = tracks_[extent->track];
    const TrackModeTraits& traits = traits_of(track.mode);
    // Zeros where the file has no bytes: the whole sector without a file, else the fields its
    // file sectors leave out.
    std::size_t begin = 0, end = 0;
    if (extent->file >= 0) {
        begin = traits.file_offset;
        end = begin + traits.file_sector_size;
        if (!files_.read(static_cast<std::size_t>(extent->file),
                         extent->offset + static_cast<std::uint64_t>(lba - extent->lba) * traits.file_sector_size,
                         raw.subspan(begin, end - begin)))
            return false;
    }
    std::fill(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(begin), 0);
    std::fill(raw.begin() + static_cast<std::ptrdiff_t>(end), raw.end(), 0);
    // Sectors that no file holds, and data sectors whose file leaves out the sync and header, get
    // a made-up sync and header; EDC and ECC stay zero.
    if (traits.header_mode != 0 && (traits.file_offset != 0 || extent->file < 0))
        write_sync_and_header(raw, lba, traits.header_mode);
    return true;
}

bool names_cue_sheet(const std::string& path) { return ascii_lower(path).ends_with(".cue"); }

Expected<Disc> load_image(const std::filesystem::path& path) {
    if (names_cue_sheet(path.string())) return load_cue(path);
    return load_iso(path);
}

}  // namespace disc_image
