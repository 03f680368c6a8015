// The units the test ASPI layer serves, configured from the environment:
//
//   TEST_ASPI_DEVICES   "ha:target:lun=unit;..." where unit is a disc image entry as CDIF_DRIVES
//                       takes it ("empty", "disc.cue", "disc.iso", with fault options), "disk" (a
//                       unit that reports a direct-access device), or "stall" (a unit that takes
//                       every command and completes none until it is aborted)
//   TEST_ASPI_ADAPTERS  number of host adapters; default one more than the highest in the devices
//   TEST_ASPI_HOST_ID   SCSI id of each host adapter itself, 0 to 7; default 7
//   TEST_ASPI_PENDING   a number of milliseconds: every command is reported pending and completed
//                       that long after, from another thread; unset, commands complete at once
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "emulated_drive.h"

namespace test_aspi {

enum class UnitKind { drive, disk, stall };

struct Unit {
    int host_adapter = 0;
    int target = 0;
    int lun = 0;
    UnitKind kind = UnitKind::drive;
    std::unique_ptr<disc_image::EmulatedDrive> drive;  // for UnitKind::drive
};

struct Config {
    int adapter_count = 0;
    int host_id = 7;
    int pending_delay_ms = -1;  // negative: complete at once
    std::vector<Unit> units;
};

// Reads the configuration from the values of the four variables (null when unset). Disc images
// are opened here; a bad image gives a drive without a disc, as in CDIF_DRIVES.
std::variant<Config, std::string> parse_config(const char* devices, const char* adapters, const char* host_id,
                                               const char* pending);

// The configuration of this process, read on first use. A malformed one is reported once on
// standard error and leaves the layer without host adapters.
Config& config();

// The unit at an address, or null when nothing answers there.
Unit* find_unit(int host_adapter, int target, int lun);

}  // namespace test_aspi
