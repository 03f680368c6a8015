#include "startup.h"

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
    return CDIF_Init(idle_callback);
}
