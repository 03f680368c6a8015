// The programs' start-up: the transport the platform version chooses, the CD-ROM drive letters,
// the ASPI host adapter scan with its INQUIRY probes, and the drive selected.
#include <map>
#include <tuple>

#include "library_support.h"
#include "startup.h"

namespace {

using scripted::calls;
using scripted::calls_to;
using Address = std::tuple<int, int, int>;  // host adapter, target, LUN
// The ASPI records are packed: their fields are copied as values (unary +), never bound to references.

constexpr DWORD kAspiReady = 0x0100;  // support info: status SS_COMP, adapter count in the low byte

Address address_of(const AspiDevice& device) { return {device.host_adapter, device.target, device.lun}; }

// The units that the execution requests of one opcode went to, in order.
std::vector<Address> sent_to(std::uint8_t opcode) {
    std::vector<Address> found;
    for (const auto& call : calls_to("SendASPI32Command")) {
        auto request = scripted::record_of<SRB_ExecSCSICmd>(call);
        if (call.args[0] == SC_EXEC_SCSI_CMD && request.CDBByte[0] == opcode)
            found.emplace_back(+request.SRB_HaId, +request.SRB_Target, +request.SRB_Lun);
    }
    return found;
}

// An ASPI layer whose units answer INQUIRY with the given first byte; every other command fails.
scripted::AspiHandler units(std::map<Address, std::uint8_t> answers) {
    return [answers](const SRB_ExecSCSICmd& request) {
        auto found = answers.find({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
        if (request.CDBByte[0] == 0x12 && found != answers.end()) return scripted::AspiReply{SS_COMP, SS_COMP, {found->second}};
        return scripted::AspiReply{SS_ERR, SS_ERR};
    };
}

class Discovery : public LibraryTest {
protected:
    // One CD-ROM drive letter on a Windows 9x system whose ASPI layer has adapters of SCSI id 7.
    void aspi_layer(int adapters) {
        scripted::add_drive('D', DRIVE_CDROM);
        scripted::script().platform_id = VER_PLATFORM_WIN32_WINDOWS;
        scripted::script().aspi_present = true;
        scripted::script().support_info = kAspiReady | adapters;
        scripted::script().host_adapters.assign(adapters, {SS_COMP, 7});
    }
};

// The ASPI layer on Windows 9x only; without any part of it start-up ends with its message alone.
TEST_F(Discovery, PlatformVersionChoosesTheTransport) {
    constexpr DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
    struct Case {
        BOOL version_works;
        DWORD platform;
        bool drive, module, support_info, send_command;
        int status, spti;
        std::string output;
    } cases[] = {
        {TRUE, VER_PLATFORM_WIN32_NT, true, true, true, true, 1, 1, ""},
        {FALSE, k9x, true, true, true, true, 1, 1, ""},  // a failed query: not the Windows 9x family
        {TRUE, k9x, false, true, true, true, 0, 0, ""},  // no CD-ROM drive: nothing is loaded or opened
        {TRUE, k9x, true, false, true, true, 0, 0, "CDIF_Init: \"WNASPI32.DLL\" not found."},
        {TRUE, k9x, true, true, false, true, 0, 0, "CDIF_Init: DLL function \"GetASPI32SupportInfo\" not found."},
        {TRUE, k9x, true, true, true, false, 0, 0, "CDIF_Init: DLL function \"SendASPI32Command\" not found."},
    };
    for (const Case& c : cases) {
        reset_library_state();
        scripted::reset();
        if (c.drive) scripted::add_drive('D', DRIVE_CDROM);
        scripted::script().version_result = c.version_works;
        scripted::script().platform_id = c.platform;
        scripted::script().aspi_present = c.module;
        scripted::script().has_support_info = c.support_info;
        scripted::script().has_send_command = c.send_command;
        testing::internal::CaptureStdout();
        EXPECT_EQ(start_up(), c.status) << c.platform << c.output;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ(use_spti, c.spti);
        EXPECT_EQ(calls_to("LoadLibraryA").size(), c.spti || !c.drive ? 0u : 1u);
        EXPECT_EQ(calls_to("CreateFileA").size(), c.spti ? 1u : 0u);
    }
}

TEST_F(Discovery, WalksTheDriveStringsForCdromDrives) {
    for (auto [letter, type] : {std::pair{'A', 2u}, {'C', 3u}, {'D', DRIVE_CDROM}, {'E', 4u}, {'G', DRIVE_CDROM}})
        scripted::add_drive(letter, type);
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(std::string(drive_letters, drive_letters + drive_count), "DG");
}

// The walk stops at 26 drives, even when the strings fill the buffer to its last byte.
TEST_F(Discovery, TwentySixDrivesAtMost) {
    for (char letter = 'A'; letter <= '['; ++letter) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::script().drive_strings.resize(106);
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(drive_count, 26);
}

TEST_F(Discovery, AspiStatusOtherThanOneKeepsTheDriveLettersUnaddressed) {
    aspi_layer(2);
    for (char letter : {'E', 'F', 'G', 'H', 'I'}) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::script().support_info = 0xE802;  // SS_NO_ADAPTERS
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(drive_count, 6);
    EXPECT_EQ(use_spti, 0);
    EXPECT_EQ(calls_to("SendASPI32Command").size(), 18u) << "three READ TOC attempts per drive, no scan";
    aspi_devices[1] = {1, 2, 3};
    EXPECT_EQ(CDIF_SelectDrive(5), 0);
    EXPECT_EQ(current_drive, 5);
    EXPECT_EQ(address_of(selected_device), Address(0, 0, 0)) << "every drive, beyond the four slots too";
}

TEST_F(Discovery, ScanProbesEveryLunButTheAdaptersOwnIdInOrder) {
    aspi_layer(2);
    scripted::script().host_adapters[1].scsi_id = 2;
    // 0xA5: qualifier bits set, still type 5. 0x7F: no unit. 0x00: a disk.
    scripted::script().aspi_exec = units({{{1, 3, 2}, 0x05}, {{0, 1, 0}, 0x05}, {{1, 5, 7}, 0xA5},
                                          {{0, 0, 0}, 0x00}, {{0, 3, 0}, 0x7F}});
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(host_adapter_count, 2);
    ASSERT_EQ(drive_count, 3);
    const Address found[] = {{0, 1, 0}, {1, 3, 2}, {1, 5, 7}};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(address_of(aspi_devices[i]), found[i]);
    // Each device selected in turn is asked for its table three times, at its own address.
    std::vector<Address> tables = sent_to(0x43);
    ASSERT_EQ(tables.size(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(tables[i], found[i / 3]);

    std::vector<Address> probes = sent_to(0x12);
    ASSERT_EQ(probes.size(), 2u * 7 * 8);
    EXPECT_TRUE(std::is_sorted(probes.begin(), probes.end()));
    for (const auto& [adapter, target, lun] : probes) EXPECT_NE(target, adapter == 0 ? 7 : 2) << "own id, LUN " << lun;
    const std::uint8_t inquiry_cdb[16] = {0x12, 0, 0, 0, 0x80, 0};
    auto first = scripted::record_of<SRB_ExecSCSICmd>(calls_to("SendASPI32Command")[1]);
    EXPECT_EQ(std::memcmp(first.CDBByte, inquiry_cdb, sizeof inquiry_cdb), 0);
}

TEST_F(Discovery, FailedAdapterInquiryEndsTheScanWithNoDrives) {
    aspi_layer(3);
    scripted::script().host_adapters[1].returned = SS_ERR;
    scripted::script().aspi_exec = units({{{0, 2, 1}, 0x05}});
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(drive_count, 0);
    for (const auto& [adapter, target, lun] : sent_to(0x12)) EXPECT_EQ(adapter, 0);
}

TEST_F(Discovery, FourDevicesAreRecordedAndEveryUnitProbed) {
    aspi_layer(1);
    std::map<Address, std::uint8_t> six;
    for (int target = 0; target < 6; ++target) six[{0, target, 0}] = 0x05;
    scripted::script().aspi_exec = units(six);
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(drive_count, 4);
    EXPECT_EQ(address_of(aspi_devices[3]), Address(0, 3, 0));
    EXPECT_EQ(sent_to(0x12).size(), 7u * 8);
}

// The unit 0:1:0 never answers its probe; 0:2:0 is a CD-ROM drive. The layer still holds the
// silent probe afterwards: completing it late must write into a record and buffer that are still
// the probe's own (the sanitizer build catches freed memory), and its event must stay open.
TEST_F(Discovery, SilentUnitIsSkippedAndItsProbeLeftValid) {
    struct Case {
        DWORD wait_result, abort_result;
        const char* output;
        std::size_t aborts;
    } cases[] = {{WAIT_TIMEOUT, SS_COMP, "", 1}, {WAIT_TIMEOUT, SS_ERR, "service_abort() failed.", 1},
                 {WAIT_FAILED, SS_COMP, "", 0}};
    for (const Case& c : cases) {
        reset_library_state();
        scripted::reset();
        aspi_layer(1);
        scripted::script().unfired_wait_result = c.wait_result;
        scripted::script().abort_result = c.abort_result;
        scripted::script().aspi_exec = [](const SRB_ExecSCSICmd& request) {
            bool answers = request.SRB_Target == 2;
            if ((request.SRB_Target == 1 || answers) && request.SRB_Lun == 0)
                return scripted::AspiReply{SS_PENDING, SS_COMP, {5}, answers};
            return scripted::AspiReply{SS_ERR, SS_ERR};
        };
        testing::internal::CaptureStdout();
        EXPECT_EQ(start_up(), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ(drive_count, 1);
        EXPECT_EQ(address_of(aspi_devices[0]), Address(0, 2, 0));
        auto waits = calls_to("WaitForSingleObject");
        EXPECT_EQ(waits.at(0).args[1], 10000u) << "the silent unit";
        EXPECT_EQ(waits.at(1).args[1], 10000u) << "the CD-ROM unit";

        ASSERT_EQ(scripted::held_requests().size(), 1u);
        SRB_ExecSCSICmd* held = scripted::held_requests()[0].request;
        std::uint8_t* held_buffer = held->SRB_BufPointer;
        std::size_t aborts = 0;
        for (const auto& call : calls_to("SendASPI32Command")) {
            if (call.args[0] == SC_ABORT_SRB) {
                EXPECT_EQ(+scripted::record_of<SRB_Abort>(call).SRB_ToAbort, held);
                ++aborts;
            } else if (call.args[0] == SC_EXEC_SCSI_CMD && call.args[1] != reinterpret_cast<std::uintptr_t>(held)) {
                EXPECT_NE(+scripted::record_of<SRB_ExecSCSICmd>(call).SRB_BufPointer, held_buffer) << "reused";
            }
        }
        EXPECT_EQ(aborts, c.aborts);
        for (const auto& call : calls_to("CloseHandle"))
            EXPECT_NE(call.args[0], reinterpret_cast<std::uintptr_t>(held->SRB_PostProc)) << "the held event";
        EXPECT_EQ(held->SRB_Target, 1) << "the record was overwritten";
        ASSERT_TRUE(scripted::complete_late(held));
        EXPECT_EQ(held_buffer[0], 5);
        EXPECT_EQ(drive_count, 1) << "a late answer changes nothing";
    }
}

TEST_F(Discovery, SelectionOutsideTheDrivesChangesNothing) {
    use_spti = 1;
    drive_count = 2;
    current_drive = 1;
    for (int index : {-1, 2, 26}) EXPECT_EQ(CDIF_SelectDrive(index), 0) << index;
    EXPECT_EQ(current_drive, 1);
    EXPECT_TRUE(calls().empty());
}

// D: never reads; E: holds a disc. When no drive reads, the last one stays open.
TEST_F(Discovery, FirstReadableDriveIsSelectedElseTheLastStaysOpen) {
    for (bool e_reads : {true, false}) {
        reset_library_state();
        scripted::reset();
        scripted::add_drive('D', DRIVE_CDROM);
        scripted::add_drive('E', DRIVE_CDROM);
        auto reply = toc_reply({{0}}, {30000});
        scripted::script().pass_through = [=](HANDLE device, const SCSI_PASS_THROUGH_DIRECT&) {
            if (e_reads && scripted::opened_path(device) == "\\\\.\\E:") return scripted::PassThroughReply{TRUE, 0, reply};
            return scripted::PassThroughReply{TRUE, 2};
        };
        EXPECT_EQ(start_up(), 1);
        EXPECT_EQ(current_drive, 1);
        EXPECT_EQ(CDIF_GetTrackLBA(2), e_reads ? 30000 : 0);
        EXPECT_EQ(scripted::opened_path(device_handle), "\\\\.\\E:");
        EXPECT_EQ(calls_to("CreateFileA").front().text, "\\\\.\\D:");
        EXPECT_EQ(calls_to("DeviceIoControl").size(), 3u * 2 * (e_reads ? 1 : 2) + e_reads) << "each attempt sent twice";
    }
}

}  // namespace
