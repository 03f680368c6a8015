#include "startup.h"

#include <cstdio>

#include "cdif.h"
#include "platform.h"

namespace {

int aspi_flag = 0;

void idle_callback() {}

}  // namespace

int use_aspi() { return aspi_flag; }

int start_up() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    // A failed query leaves the platform id at 0: not the Windows 9x family.
    platform::GetVersionExA(&version);
    aspi_flag = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
    const int started = CDIF_Init(idle_callback);
    // Without a table the programs write nothing, and say nothing of an empty drive: a disc
    // numbered from another track would look the same.
    if (CDIF_GetLastTrack() == 0 && refused_first_track != 0)
        std::fprintf(stderr, "The disc's first track is %d, not 1: discs whose tracks are not numbered from 1 cannot be read.\n",
                     refused_first_track);
    return started;
}
