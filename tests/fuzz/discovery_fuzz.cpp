// Drive discovery over a scripted system: drive strings and types, the ASPI layer's presence,
// support information, host adapters and the answers to every INQUIRY probe (at once, on the
// wait, or never), then late completions of the probes left with the layer. The devices found
// must be exactly the CD-ROM devices that answered, and a late completion must change nothing.
#include <cstring>

#include "fuzz_harness.h"
#include "library_support.h"

int toc_listing_enabled = 0;

static bool aspi_flag = false;
// Probes whose event never fires stay with the library for good; a cap keeps a long campaign
// within its memory limit.
static int never_completed = 0;

int use_aspi() { return aspi_flag ? 1 : 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The library's messages go to standard output.
    [[maybe_unused]] static std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    FuzzInput input{{data, size}};
    fresh_library();
    scripted::Script& script = scripted::script();
    const std::uint8_t flags = input.byte();
    aspi_flag = flags & 0x01;
    script.aspi_present = flags & 0x02;
    script.has_support_info = flags & 0x04;
    script.has_send_command = flags & 0x08;
    script.abort_result = flags & 0x10 ? SS_ERR : SS_COMP;
    script.unfired_wait_result = flags & 0x20 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    for (const std::uint8_t c : input.bytes(input.byte() % 128)) script.drive_strings += static_cast<char>(c);
    for (int n = input.byte() % 27; n > 0; --n)
        script.drive_types[static_cast<char>(input.byte())] = input.byte() % 6;
    script.support_info = input.number(2);
    for (int n = input.byte() % 5; n > 0; --n)
        script.host_adapters.push_back({input.byte() & 0x05u, input.byte()});

    std::vector<AspiDevice> answered_cdrom;  // in the order the probes were sent
    script.aspi_exec = [&](const SRB_ExecSCSICmd& request) {
        const std::uint8_t how = input.byte();
        scripted::AspiReply reply;
        reply.returned = how & 1 ? SS_PENDING : SS_COMP;
        reply.srb_status = how & 2 ? SS_ERR : SS_COMP;
        reply.data = {input.byte()};  // an INQUIRY's device type; a table of one track to anything else
        if (request.CDBByte[0] != 0x12)
            reply.data = {0, 18, 1, 1, 0, 0x10, 1, 0, 0, 0, 0, 0, 0, 0x10, 0xAA, 0, 0, 0, 3, 0xE8};
        reply.event_fires = (how & 4) == 0 || never_completed >= 20000;
        if (reply.returned == SS_PENDING && !reply.event_fires) ++never_completed;
        const bool completes = reply.returned != SS_PENDING || reply.event_fires;
        const bool cdrom = (reply.data[0] & 0x1F) == 5;
        if (request.CDBByte[0] == 0x12 && completes && reply.srb_status == SS_COMP && cdrom)
            answered_cdrom.push_back({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
        return reply;
    };

    const int started = CDIF_Init([] {});
    const bool aspi_usable = script.aspi_present && script.has_support_info && script.has_send_command;
    FUZZ_CHECK(!aspi_flag || aspi_usable || started == 0);
    for (int i = 0; i < drive_count && use_spti; ++i)
        FUZZ_CHECK(script.drive_types[static_cast<char>(drive_letters[i])] == DRIVE_CDROM);
    if (aspi_flag && aspi_usable && (script.support_info >> 8 & 0xFF) == SS_COMP && started) {
        bool scan_failed = false;
        for (std::size_t a = 0; a < (script.support_info & 0xFF); ++a)
            scan_failed |= a >= script.host_adapters.size() || script.host_adapters[a].returned != SS_COMP;
        const int expected = scan_failed ? 0 : std::min<int>(answered_cdrom.size(), kAspiDeviceSlots);
        FUZZ_CHECK(drive_count == expected &&
                   (expected == 0 ||  // memcmp takes no null pointer, not even for no bytes
                    std::memcmp(answered_cdrom.data(), aspi_devices, sizeof(AspiDevice) * expected) == 0));
    }

    // The layer completes what it still holds: the library must still own those records.
    const std::vector<AspiDevice> found(std::begin(aspi_devices), std::end(aspi_devices));
    for (const scripted::HeldRequest& request : std::vector(scripted::held_requests()))
        if (request.request->CDBByte[0] == 0x12) FUZZ_CHECK(scripted::complete_late(request.request));
    FUZZ_CHECK(std::memcmp(found.data(), aspi_devices, sizeof aspi_devices) == 0);
    return 0;
}
