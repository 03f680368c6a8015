#include "emulated_drive.h"

#include <cstdio>

#include "disc.h"
#include "drive_entry.h"
#include "mmc_drive.h"

namespace disc_image {

std::unique_ptr<EmulatedDrive> EmulatedDrive::from_entry(const std::string& entry) {
    auto parsed = parse_drive_entry(entry);
    if (auto* message = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "CDIF_DRIVES entry \"%s\": %s\n", clipped(entry).c_str(), message->c_str());
        return std::make_unique<MmcDrive>(std::nullopt, FaultPlan(), true);
    }
    const DriveEntry& drive = std::get<DriveEntry>(parsed);
    std::optional<Disc> disc;
    if (ascii_lower(drive.image) != "empty") {
        auto loaded = load_image(drive.image);
        if (auto* failed = std::get_if<ImageError>(&loaded))
            std::fprintf(stderr, "disc image %s\n", failed->text().c_str());
        else
            disc.emplace(std::move(std::get<Disc>(loaded)));
    }
    return std::make_unique<MmcDrive>(std::move(disc), FaultPlan(drive), !drive.no_open);
}

bool is_emulated_entry(const std::string& entry) {
    const std::string image = ascii_lower(entry_image(entry));
    return image == "empty" || names_cue_sheet(image) || image.ends_with(".iso");
}

}  // namespace disc_image
