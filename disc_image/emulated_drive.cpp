#include "emulated_drive.h"

#include <cstdio>

#include "disc.h"
#include "drive_entry.h"
#include "mmc_drive.h"

namespace disc_image {
namespace {

// The disc of an image, or none for "empty" and for an image that cannot be used (reported).
std::optional<Disc> load_disc(const std::string& image) {
    if (ascii_lower(image) == "empty") return std::nullopt;
    auto loaded = load_image(image);
    if (auto* failed = std::get_if<ImageError>(&loaded)) {
        std::fprintf(stderr, "disc image %s\n", failed->text().c_str());
        return std::nullopt;
    }
    return std::move(std::get<Disc>(loaded));
}

}  // namespace

std::unique_ptr<EmulatedDrive> EmulatedDrive::from_entry(const std::string& entry) {
    auto parsed = parse_drive_entry(entry);
    if (auto* message = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "CDIF_DRIVES entry \"%s\": %s\n", clipped(entry).c_str(), message->c_str());
        return std::make_unique<MmcDrive>(std::nullopt, FaultPlan(), true);
    }
    const DriveEntry& drive = std::get<DriveEntry>(parsed);
    std::optional<Disc> disc = load_disc(drive.image);
    std::optional<Disc> other = drive.swap ? load_disc(drive.swap_image) : std::nullopt;
    return std::make_unique<MmcDrive>(std::move(disc), FaultPlan(drive), !drive.no_open, std::move(other));
}

bool is_emulated_entry(const std::string& entry) {
    const std::string image = ascii_lower(entry_image(entry));
    return image == "empty" || names_cue_sheet(image) || image.ends_with(".iso");
}

}  // namespace disc_image
