#include "startup.h"

#include <cstdio>
#include <cstring>

#include "cdif.h"
#include "platform.h"

namespace {

int aspi_flag = 0;

void idle_callback() {}

// One line on standard error naming each drive tried and why it gave no table of contents.
void report_no_disc(const char* listing) {
    std::fprintf(stderr, "No drive holds a readable disc:");
    for (int index = 0; index < drives_tried; ++index) {
        char drive[256];
        CDIF_DriveName(index, drive, sizeof drive);
        const DriveOutcome& outcome = drive_outcomes[index];
        const char* why = outcome.failure == kDriveNoDisc            ? "has no disc"
                          : outcome.failure == kDriveNotReady        ? "is not ready"
                          : outcome.failure == kDriveCannotOpen      ? "cannot be opened"
                          : outcome.failure == kDriveNotFromTrackOne ? "holds a disc whose first track is"
                                                                     : "gives no readable table of contents";
        std::fprintf(stderr, "%s %s %s", index == 0 ? "" : ";", drive, why);
        if (outcome.failure == kDriveCannotOpen && outcome.detail != 0)
            std::fprintf(stderr, ": %s", std::strerror(outcome.detail));
        // The library's table holds tracks from 1 on.
        if (outcome.failure == kDriveNotFromTrackOne)
            std::fprintf(stderr, " %d, not 1 (discs not numbered from track 1 cannot be read)", outcome.detail);
    }
    platform::FileStat status{};
    if (listing != nullptr && platform::_stat(listing, &status) == 0)
        std::fprintf(stderr, ". The %s in this folder is from an earlier run", listing);
    std::fprintf(stderr, ".\n");
}

}  // namespace

int use_aspi() { return aspi_flag; }

int start_up(const char* listing) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    // A failed query leaves the platform id at 0: not the Windows 9x family.
    platform::GetVersionExA(&version);
    aspi_flag = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
    const int started = CDIF_Init(idle_callback);
    if (started && drives_tried > 0 && drive_outcomes[current_drive].failure != kDriveRead) report_no_disc(listing);
    return started;
}
