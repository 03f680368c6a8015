#include "cue_sheet.h"

#include "image_error.h"

#include <algorithm>
#include <array>
#include <optional>

namespace disc_image {
namespace {

constexpr int kMaxTrack = 99;
constexpr int kMaxIndex = 99;
constexpr int kMaxSession = 99;
constexpr int kMaxMinutes = 99;

// Commands of the cue sheet format that carry nothing the drive serves.
constexpr std::array<std::string_view, 14> kIgnoredCommands = {
    "CATALOG",  "CDTEXTFILE", "TITLE", "PERFORMER", "SONGWRITER", "ISRC",      "ARRANGER",
    "COMPOSER", "MESSAGE",    "GENRE", "DISC_ID",   "UPC_EAN",    "SIZE_INFO", "TOC_INFO1"};

std::string upper(std::string_view word) {
    std::string result(word);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

// Splits a line into words at blanks; a word in double quotes keeps its blanks.
std::optional<std::vector<std::string>> split_words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
        } else if (line[i] == '"') {
            std::size_t end = line.find('"', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            words.emplace_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            std::size_t end = line.find_first_of(" \t", i);
            if (end == std::string_view::npos) end = line.size();
            words.emplace_back(line.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

// Decimal digits only, no sign, at most max.
bool parse_number(std::string_view text, int max, int& value) {
    if (text.empty()) return false;
    long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
        if (result > max) return false;
    }
    value = static_cast<int>(result);
    return true;
}

std::string two_digits(int number) { return join({number < 10 ? "0" : "", std::to_string(number)}); }

class Parser {
public:
    std::variant<CueSheet, CueError> run(std::string_view text);

private:
    std::optional<CueError> command(const std::vector<std::string>& words);
    std::optional<CueError> file(const std::vector<std::string>& words);
    std::optional<CueError> track(const std::vector<std::string>& words);
    std::optional<CueError> index(const std::vector<std::string>& words);
    std::optional<CueError> gap(const std::vector<std::string>& words, bool post);
    std::optional<CueError> flags(const std::vector<std::string>& words);
    std::optional<CueError> remark(const std::vector<std::string>& words);
    std::optional<CueError> msf(std::string_view text, std::int32_t& frames) const;
    std::optional<CueError> finish_track() const;
    CueError error(std::string message) const { return {line_, std::move(message)}; }

    CueSheet sheet_;
    int line_ = 0;
    int next_session_ = 1;
    bool postgap_seen_ = false;
    std::vector<bool> file_indexed_;  // per file: an INDEX lies in it
};

std::variant<CueSheet, CueError> Parser::run(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t start = 0;
    while (start < text.size()) {
        ++line_;
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
        if (line.size() > kMaxCueLineLength)
            return error(join({"line longer than ", std::to_string(kMaxCueLineLength), " characters"}));
        if (std::any_of(line.begin(), line.end(), [](char c) {
                auto byte = static_cast<unsigned char>(c);
                return (byte < 0x20 && c != '\t') || byte == 0x7F;
            }))
            return error("binary data: not a cue sheet");
        auto words = split_words(line);
        if (!words) return error("unterminated quoted name");
        if (words->empty()) continue;
        if (auto failed = command(*words)) return *failed;
    }
    if (sheet_.tracks.empty()) return error("no TRACK in the cue sheet");
    if (auto failed = finish_track()) return *failed;
    for (std::size_t i = 0; i < sheet_.files.size(); ++i)
        if (!file_indexed_[i]) return CueError{sheet_.files[i].line, "FILE without any INDEX"};
    return std::move(sheet_);
}

std::optional<CueError> Parser::command(const std::vector<std::string>& words) {
    std::string keyword = upper(words[0]);
    if (keyword == "FILE") return file(words);
    if (keyword == "TRACK") return track(words);
    if (keyword == "INDEX") return index(words);
    if (keyword == "PREGAP") return gap(words, false);
    if (keyword == "POSTGAP") return gap(words, true);
    if (keyword == "FLAGS") return flags(words);
    if (keyword == "REM") return remark(words);
    if (std::find(kIgnoredCommands.begin(), kIgnoredCommands.end(), keyword) != kIgnoredCommands.end())
        return std::nullopt;
    return error(join({"unknown command ", quoted(words[0])}));
}

std::optional<CueError> Parser::file(const std::vector<std::string>& words) {
    if (words.size() != 3) return error("FILE needs a name and a type");
    std::string type = upper(words[2]);
    if (type != "BINARY" && type != "WAVE" && type != "FLAC")
        return error(join({"file type ", quoted(words[2]), " is not supported (only BINARY, WAVE and FLAC files are read)"}));
    if (words[1].empty()) return error("FILE with an empty name");
    // Rippers write FLAC files into sheets as WAVE files: the name says what to decode.
    FileType kind = type == "FLAC" || ascii_lower(words[1]).ends_with(".flac") ? FileType::flac
                    : type == "WAVE"                                           ? FileType::wave
                                                                               : FileType::binary;
    sheet_.files.push_back({words[1], kind, line_});
    file_indexed_.push_back(false);
    return std::nullopt;
}

std::optional<CueError> Parser::finish_track() const {
    const CueTrack& last = sheet_.tracks.back();
    bool has_start = std::any_of(last.indexes.begin(), last.indexes.end(), [](const CueIndex& i) { return i.number == 1; });
    if (!has_start) return CueError{last.line, join({"track ", std::to_string(last.number), " has no INDEX 01"})};
    return std::nullopt;
}

std::optional<CueError> Parser::track(const std::vector<std::string>& words) {
    if (sheet_.files.empty()) return error("TRACK before any FILE");
    if (words.size() != 3) return error("TRACK needs a number and a type");
    CueTrack track;
    track.line = line_;
    if (!parse_number(words[1], kMaxTrack, track.number) || track.number == 0)
        return error(join({"track number ", quoted(words[1]), " out of range (1 to 99)"}));
    if (!sheet_.tracks.empty()) {
        if (auto failed = finish_track()) return failed;
        int expected = sheet_.tracks.back().number + 1;
        if (track.number != expected)
            return error(join({"track ", std::to_string(track.number), " out of order (expected ", std::to_string(expected), ")"}));
    }
    std::string type = upper(words[2]);
    auto known = std::find_if(kTrackModes.begin(), kTrackModes.end(),
                              [&](const TrackModeTraits& traits) { return traits.cue_name == type; });
    if (known == kTrackModes.end()) return error(join({"track type ", quoted(words[2]), " is not supported"}));
    track.mode = known->mode;
    track.session = next_session_;
    sheet_.tracks.push_back(std::move(track));
    postgap_seen_ = false;
    return std::nullopt;
}

std::optional<CueError> Parser::msf(std::string_view text, std::int32_t& frames) const {
    int minutes = 0, seconds = 0, sector = 0;
    std::size_t first = text.find(':');
    std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    auto digits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    // Three numbers apart from their range, or the message would blame a part that is not a number.
    if (second == std::string_view::npos || !digits(text.substr(0, first)) ||
        !digits(text.substr(first + 1, second - first - 1)) || !digits(text.substr(second + 1)))
        return error(join({"time ", quoted(text), " is not a time (MM:SS:FF)"}));
    if (!parse_number(text.substr(0, first), kMaxMinutes, minutes))
        return error(join({"minutes out of range in ", quoted(text), " (0 to 99)"}));
    if (!parse_number(text.substr(first + 1, second - first - 1), 59, seconds))
        return error(join({"seconds out of range in ", quoted(text), " (0 to 59)"}));
    if (!parse_number(text.substr(second + 1), 74, sector))
        return error(join({"frames out of range in ", quoted(text), " (0 to 74)"}));
    frames = (minutes * 60 + seconds) * 75 + sector;
    return std::nullopt;
}

std::optional<CueError> Parser::index(const std::vector<std::string>& words) {
    if (sheet_.tracks.empty()) return error("INDEX before any TRACK");
    if (words.size() != 3) return error("INDEX needs a number and a time");
    CueTrack& track = sheet_.tracks.back();
    if (postgap_seen_) return error("INDEX after POSTGAP");
    CueIndex point;
    point.line = line_;
    point.file = static_cast<int>(sheet_.files.size()) - 1;
    if (!parse_number(words[1], kMaxIndex, point.number))
        return error(join({"index number ", quoted(words[1]), " out of range (0 to 99)"}));
    int expected = track.indexes.empty() ? -1 : track.indexes.back().number + 1;
    if (expected < 0 ? point.number > 1 : point.number != expected)
        return error(join({"INDEX ", std::to_string(point.number), " out of order in track ", std::to_string(track.number)}));
    // Every track that owns sectors of a file has an index point in it (see the layout), so this
    // keeps data tracks out of WAVE and FLAC files.
    if (track.mode != TrackMode::audio && sheet_.files.back().type != FileType::binary)
        return error(join({"track ", std::to_string(track.number), " is a data track, which ",
                           sheet_.files.back().type == FileType::wave ? "WAVE" : "FLAC", " file ",
                           quoted(sheet_.files.back().name), " cannot hold"}));
    if (auto failed = msf(words[2], point.frame)) return failed;
    // Within a file, a track's indexes rise, and so do the tracks' INDEX 01. Others may lie before
    // another track's (rippers write such sheets): the layout is cut at INDEX 01 only, and at
    // INDEX 00 where that is sound.
    auto lies_after = [&](const CueIndex& before) { return before.file != point.file || point.frame > before.frame; };
    if (!track.indexes.empty() && !lies_after(track.indexes.back()))
        return error(join({"INDEX ", two_digits(point.number), " does not lie after the track's INDEX ",
                           two_digits(track.indexes.back().number)}));
    if (point.number == 1 && sheet_.tracks.size() > 1) {
        const CueTrack& previous = sheet_.tracks[sheet_.tracks.size() - 2];
        if (!lies_after(start_of(previous)))
            return error(join({"INDEX 01 does not lie after the INDEX 01 of track ", std::to_string(previous.number)}));
    }
    file_indexed_.back() = true;
    track.indexes.push_back(point);
    return std::nullopt;
}

std::optional<CueError> Parser::gap(const std::vector<std::string>& words, bool post) {
    const char* name = post ? "POSTGAP" : "PREGAP";
    if (sheet_.tracks.empty()) return error(join({std::string(name), " before any TRACK"}));
    if (words.size() != 2) return error(join({std::string(name), " needs a time"}));
    CueTrack& track = sheet_.tracks.back();
    if (post) {
        if (postgap_seen_ || track.indexes.empty() || track.indexes.back().number == 0)
            return error("POSTGAP belongs after the track's INDEX 01, once");
        postgap_seen_ = true;
        return msf(words[1], track.postgap);
    }
    if (!track.indexes.empty() || track.pregap > 0) return error("PREGAP belongs before the track's INDEX, once");
    return msf(words[1], track.pregap);
}

std::optional<CueError> Parser::flags(const std::vector<std::string>& words) {
    if (sheet_.tracks.empty()) return error("FLAGS before any TRACK");
    std::uint8_t bits = 0;
    for (std::size_t i = 1; i < words.size(); ++i) {
        std::string flag = upper(words[i]);
        if (flag == "DCP") bits |= kControlCopyPermitted;
        else if (flag == "4CH") bits |= kControlFourChannel;
        else if (flag == "PRE") bits |= kControlPreEmphasis;
        else if (flag != "SCMS") return error(join({"unknown flag ", quoted(words[i])}));
    }
    sheet_.tracks.back().flags = bits;
    return std::nullopt;
}

std::optional<CueError> Parser::remark(const std::vector<std::string>& words) {
    if (words.size() < 2 || upper(words[1]) != "SESSION") return std::nullopt;
    int session = 0;
    if (words.size() != 3 || !parse_number(words[2], kMaxSession, session) || session == 0)
        return error("REM SESSION needs a session number from 1 to 99");
    int current = sheet_.tracks.empty() ? 0 : sheet_.tracks.back().session;
    if (session != current && session != current + 1)
        return error(join({"session ", std::to_string(session), " out of order"}));
    if (!sheet_.tracks.empty() && session != current) {
        if (auto failed = finish_track()) return failed;
    }
    next_session_ = session;
    return std::nullopt;
}

}  // namespace

const CueIndex& start_of(const CueTrack& track) {
    return *std::find_if(track.indexes.begin(), track.indexes.end(), [](const CueIndex& i) { return i.number == 1; });
}

std::variant<CueSheet, CueError> parse_cue_sheet(std::string_view text) { return Parser().run(text); }

}  // namespace disc_image
