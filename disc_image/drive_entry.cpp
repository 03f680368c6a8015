#include "drive_entry.h"

#include <algorithm>
#include <limits>

#include "image_error.h"

namespace disc_image {
namespace {

bool parse_count(std::string_view text, long long max, long long& value) {
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= max;
}

constexpr long long kMaxLba = std::numeric_limits<std::int32_t>::max();

bool parse_ranges(std::string_view text, std::vector<SectorRange>& ranges) {
    while (true) {
        std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        std::size_t dash = item.find('-');
        long long first = 0, last = 0;
        if (!parse_count(item.substr(0, dash), kMaxLba, first)) return false;
        last = first;
        if (dash != std::string_view::npos && !parse_count(item.substr(dash + 1), kMaxLba, last)) return false;
        if (last < first) return false;
        ranges.push_back({static_cast<std::int32_t>(first), static_cast<std::int32_t>(last)});
        if (comma == std::string_view::npos) return true;
        text.remove_prefix(comma + 1);
    }
}

}  // namespace

std::string_view entry_image(std::string_view entry) { return entry.substr(0, entry.find('?')); }

std::variant<DriveEntry, std::string> parse_drive_entry(std::string_view entry) {
    DriveEntry result;
    result.image = std::string(entry_image(entry));
    if (result.image.size() == entry.size()) return result;
    std::string_view options = entry.substr(result.image.size() + 1);
    while (true) {
        std::size_t amp = options.find('&');
        std::string_view option = options.substr(0, amp);
        if (option == "noopen") {
            result.no_open = true;
        } else if (option == "fulltoc=bcd" || option == "fulltoc=none") {
            result.full_toc = option == "fulltoc=bcd" ? FullTocReply::bcd : FullTocReply::none;
        } else if (option.starts_with("bad=")) {
            if (!parse_ranges(option.substr(4), result.bad)) return join({"bad sector list ", quoted(option), " is not LBA[-LBA][,...]"});
        } else if (option.starts_with("flaky=")) {
            std::string_view value = option.substr(6);
            std::size_t x = value.rfind('x');
            FlakyRanges flaky;
            long long failures = 0;
            if (x == std::string_view::npos || !parse_ranges(value.substr(0, x), flaky.ranges) ||
                !parse_count(value.substr(x + 1), 1000000, failures) || failures == 0)
                return join({"flaky sector list ", quoted(option), " is not LBA[-LBA][,...]xN"});
            flaky.failures = static_cast<int>(failures);
            result.flaky.push_back(std::move(flaky));
        } else if (option.starts_with("eject=")) {
            long long lba = 0;
            if (!parse_count(option.substr(6), kMaxLba, lba)) return join({"eject ", quoted(option), " is not eject=LBA"});
            result.eject = static_cast<std::int32_t>(lba);
        } else if (option.starts_with("swap=")) {
            std::string_view value = option.substr(5);
            std::size_t colon = value.find(':');
            long long lba = 0;
            if (colon == std::string_view::npos || !parse_count(value.substr(0, colon), kMaxLba, lba) ||
                colon + 1 == value.size())
                return join({"swap ", quoted(option), " is not swap=LBA:image"});
            result.swap = static_cast<std::int32_t>(lba);
            result.swap_image = std::string(value.substr(colon + 1));
        } else if (option.starts_with("spinup=")) {
            long long commands = 0;
            if (!parse_count(option.substr(7), 1000000, commands)) return join({"spin-up ", quoted(option), " is not spinup=N"});
            result.spinup = static_cast<int>(commands);
        } else {
            return join({"unknown option ", quoted(option), " (bad=, flaky=, noopen, eject=, swap=, spinup=, fulltoc=bcd, fulltoc=none)"});
        }
        if (amp == std::string_view::npos) return result;
        options.remove_prefix(amp + 1);
    }
}

bool FaultPlan::read_fails(std::int32_t lba) {
    auto holds = [lba](const SectorRange& range) { return range.holds(lba); };
    if (std::any_of(bad_.begin(), bad_.end(), holds)) return true;
    for (const FlakyRanges& flaky : flaky_) {
        if (std::none_of(flaky.ranges.begin(), flaky.ranges.end(), holds)) continue;
        int& failed = failed_[lba];
        if (failed >= flaky.failures) return false;
        ++failed;
        return true;
    }
    return false;
}

DiscEvent FaultPlan::disc_event(std::int32_t lba) {
    if (eject_ == lba) {
        eject_.reset();
        return DiscEvent::eject;
    }
    if (swap_ == lba) {
        swap_.reset();
        return DiscEvent::swap;
    }
    return DiscEvent::none;
}

bool FaultPlan::spinning_up() {
    if (spinup_ == 0) return false;
    --spinup_;
    return true;
}

}  // namespace disc_image
