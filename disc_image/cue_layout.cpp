// Lays a parsed cue sheet out on the disc: cuts each file into runs of sectors at its index
// points, gives every run its addresses with PREGAP and POSTGAP sectors between, and moves each
// later session to its gap after the previous session's lead-out.
#include <algorithm>
#include <optional>
#include <string>

#include "disc.h"

namespace disc_image {
namespace {

struct Run {
    std::size_t track;
    int file;
    std::uint64_t offset;      // bytes into the file
    std::int64_t count;        // sectors
    bool starts_track;         // begins at the track's INDEX 01
};

class Layout {
public:
    Layout(const CueSheet& sheet, const std::filesystem::path& cue_path) : sheet_(sheet), cue_(cue_path) {}

    std::optional<ImageError> cut_files(const std::vector<std::uint64_t>& sizes);
    std::optional<ImageError> place_runs();
    std::optional<ImageError> separate_sessions();
    std::vector<Session> sessions() const;

    std::vector<Track> tracks;
    std::vector<Extent> extents;

private:
    ImageError error(int line, std::string message) const { return {cue_.string(), line, std::move(message)}; }
    std::string file_name(int file) const { return quoted(sheet_.files[file].name, std::string::npos); }
    std::uint64_t sector_size(std::size_t track) const { return traits_of(sheet_.tracks[track].mode).file_sector_size; }

    const CueSheet& sheet_;
    std::filesystem::path cue_;
    std::vector<Run> runs_;
};

// Cuts every file at its index points into runs, each belonging to the track whose point begins
// it. The owner of a file's leading sectors (those before its first cut) is carried across files:
// they are the pregap of the track that cut opens when it is that track's first; otherwise they
// continue the track that ran at the end of the previous file (a track whose INDEX 00 lay there).
// A run marked starts_track begins at its track's INDEX 01.
std::optional<ImageError> Layout::cut_files(const std::vector<std::uint64_t>& sizes) {
    struct Point {
        std::size_t track;
        std::int32_t frame;
        int line;
        bool is_start;
    };
    // The cuts are each track's INDEX 01, and its INDEX 00 where that lies after the previous
    // track's INDEX 01 or in another file: in each file they rise. The other indexes mark
    // nothing that the drive serves, and the sheet may place them against other tracks.
    std::vector<std::vector<Point>> points(sheet_.files.size());
    std::vector<int> first_file(sheet_.tracks.size(), -1);  // where each track's first cut lies
    for (std::size_t t = 0; t < sheet_.tracks.size(); ++t) {
        const CueIndex* previous = t > 0 ? &start_of(sheet_.tracks[t - 1]) : nullptr;
        for (const CueIndex& index : sheet_.tracks[t].indexes) {
            if (index.number > 1 ||
                (index.number == 0 && previous && previous->file == index.file && previous->frame >= index.frame))
                continue;
            points[index.file].push_back({t, index.frame, index.line, index.number == 1});
            if (first_file[t] < 0) first_file[t] = index.file;
        }
    }

    std::size_t owner = 0;
    bool owner_starts = false;
    for (std::size_t f = 0; f < points.size(); ++f) {
        int file = static_cast<int>(f);
        // A file without cuts (only indexes above 01) goes on with the track that ran before it.
        if (!points[f].empty() && first_file[points[f].front().track] == file) {
            owner = points[f].front().track;
            owner_starts = false;
        }
        std::uint64_t cursor = 0;
        std::int32_t frame = 0;
        for (const Point& point : points[f]) {
            if (point.frame > frame) {
                std::uint64_t bytes = static_cast<std::uint64_t>(point.frame - frame) * sector_size(owner);
                if (bytes > sizes[f] - cursor)
                    return error(point.line, join({file_name(file), " is shorter than its tracks"}));
                runs_.push_back({owner, file, cursor, point.frame - frame, owner_starts});
                cursor += bytes;
            }
            owner = point.track;
            owner_starts = point.is_start;
            frame = point.frame;
        }
        std::uint64_t rest = sizes[f] - cursor;
        if (rest % sector_size(owner) != 0)
            return error(sheet_.files[f].line, join({file_name(file), " does not end on a whole ",
                                                         std::to_string(sector_size(owner)), "-byte sector"}));
        if (rest == 0)
            return error(points[f].empty() ? sheet_.files[f].line : points[f].back().line,
                         join({file_name(file), " is shorter than its tracks"}));
        if (rest / sector_size(owner) > static_cast<std::uint64_t>(kMaxLeadOut))
            return error(sheet_.files[f].line, join({file_name(file), " is larger than a CD holds"}));
        runs_.push_back({owner, file, cursor, static_cast<std::int64_t>(rest / sector_size(owner)), owner_starts});
        owner_starts = false;
    }
    return std::nullopt;
}

std::optional<ImageError> Layout::place_runs() {
    for (const CueTrack& cue_track : sheet_.tracks) {
        Track track;
        track.number = cue_track.number;
        track.mode = cue_track.mode;
        track.control = static_cast<std::uint8_t>(cue_track.flags | traits_of(cue_track.mode).control);
        track.session = cue_track.session;
        tracks.push_back(track);
    }
    std::int64_t lba = 0;
    auto add_gap = [&](std::size_t track, std::int32_t count) {
        if (count > 0) extents.push_back({static_cast<std::int32_t>(lba), count, track, -1, 0});
        lba += count;
    };
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        const Run& run = runs_[i];
        if (i == 0 || runs_[i - 1].track != run.track) {
            if (i > 0) {
                add_gap(runs_[i - 1].track, sheet_.tracks[runs_[i - 1].track].postgap);
                tracks[runs_[i - 1].track].after = static_cast<std::int32_t>(lba);
            }
            tracks[run.track].first = static_cast<std::int32_t>(lba);
            add_gap(run.track, sheet_.tracks[run.track].pregap);
        }
        if (run.starts_track) tracks[run.track].start = static_cast<std::int32_t>(lba);
        if (lba + run.count > kMaxLeadOut) return error(sheet_.files[run.file].line, "the disc is longer than 99:59:74");
        extents.push_back({static_cast<std::int32_t>(lba), static_cast<std::int32_t>(run.count), run.track, run.file, run.offset});
        lba += run.count;
    }
    add_gap(runs_.back().track, sheet_.tracks[runs_.back().track].postgap);
    tracks.back().after = static_cast<std::int32_t>(lba);
    if (lba > kMaxLeadOut) return error(sheet_.tracks.back().line, "the disc is longer than 99:59:74");
    return std::nullopt;
}

std::optional<ImageError> Layout::separate_sessions() {
    std::vector<std::int32_t> shift(tracks.size(), 0);
    for (std::size_t t = 1; t < tracks.size(); ++t) {
        shift[t] = shift[t - 1];
        if (tracks[t].session == tracks[t - 1].session) continue;
        const std::int32_t gap = session_gap(tracks[t - 1].session);
        if (tracks[t].start - tracks[t].first > gap)
            return error(sheet_.tracks[t].line, join({"the pregap of track ", std::to_string(tracks[t].number),
                                                          " is longer than the gap between sessions"}));
        std::int32_t lead_out = tracks[t - 1].after + shift[t - 1];
        shift[t] = lead_out + gap - tracks[t].start;
    }
    if (tracks.back().after + static_cast<std::int64_t>(shift.back()) > kMaxLeadOut)
        return error(sheet_.tracks.back().line, "the disc is longer than 99:59:74");
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        tracks[t].first += shift[t];
        tracks[t].start += shift[t];
        tracks[t].after += shift[t];
    }
    for (Extent& extent : extents) extent.lba += shift[extent.track];
    return std::nullopt;
}

std::vector<Session> Layout::sessions() const {
    std::vector<Session> result;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        if (result.empty() || result.back().number != tracks[t].session)
            result.push_back({tracks[t].session, t, 0});
        result.back().lead_out = tracks[t].after;
    }
    return result;
}

}  // namespace

Expected<Disc> lay_out_cue_sheet(const CueSheet& sheet, const std::filesystem::path& cue_path, ImageFiles files,
                                 const std::vector<std::uint64_t>& sizes) {
    Layout layout(sheet, cue_path);
    if (auto failed = layout.cut_files(sizes)) return *failed;
    if (auto failed = layout.place_runs()) return *failed;
    if (auto failed = layout.separate_sessions()) return *failed;
    // The sessions are taken before the tracks move: a call's arguments are evaluated in no fixed order.
    std::vector<Session> sessions = layout.sessions();
    return Disc(std::move(layout.tracks), std::move(sessions), std::move(layout.extents), std::move(files));
}

}  // namespace disc_image
