// CDIF_Init, the ASPI host adapter scan with its INQUIRY probes, and CDIF_SelectDrive.
#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "program_hooks.h"

namespace {

using scripted::calls;
using scripted::calls_to;
using scripted::record_of;
// The ASPI records are packed: their fields are compared as values (unary +), never bound to references.

void idle() {}

constexpr DWORD kAspiReady = 0x0100;  // support info: status SS_COMP, adapter count in the low byte

bool is_inquiry(const SRB_ExecSCSICmd& request) { return request.CDBByte[0] == 0x12; }

std::vector<SRB_ExecSCSICmd> inquiries_sent() {
    std::vector<SRB_ExecSCSICmd> sent;
    for (const auto& call : calls_to("SendASPI32Command"))
        if (call.args[0] == SC_EXEC_SCSI_CMD && is_inquiry(record_of<SRB_ExecSCSICmd>(call)))
            sent.push_back(record_of<SRB_ExecSCSICmd>(call));
    return sent;
}

// An ASPI layer whose units answer INQUIRY with the given first byte; every other command fails.
scripted::AspiHandler units(std::map<std::tuple<int, int, int>, std::uint8_t> answers) {
    return [answers](const SRB_ExecSCSICmd& request) {
        scripted::AspiReply reply{SS_ERR, SS_ERR, {}, true};
        auto found = answers.find({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
        if (is_inquiry(request) && found != answers.end()) reply = {SS_COMP, SS_COMP, {found->second}, true};
        return reply;
    };
}

class Discovery : public CdifTest {
protected:
    void aspi_layer(int adapters) {
        use_aspi_answer = 1;
        scripted::script().aspi_present = true;
        scripted::script().support_info = kAspiReady | adapters;
    }
};

TEST_F(Discovery, WalksTheDriveStringsForCdromDrives) {
    scripted::add_drive('A', 2);
    scripted::add_drive('C', 3);
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', 4);
    scripted::add_drive('G', DRIVE_CDROM);
    EXPECT_EQ(CDIF_Init(idle), 1);

    auto strings = calls_to("GetLogicalDriveStringsA");
    ASSERT_EQ(strings.size(), 1u);
    EXPECT_EQ(strings[0].args[0], 106u);
    std::vector<std::string> roots;
    for (const auto& call : calls_to("GetDriveTypeA")) roots.push_back(call.text);
    EXPECT_EQ(roots, (std::vector<std::string>{"A:\\", "C:\\", "D:\\", "E:\\", "G:\\"}));
    EXPECT_EQ(drive_count, 2);
    EXPECT_EQ(drive_letters[0], 'D');
    EXPECT_EQ(drive_letters[1], 'G');
    EXPECT_EQ(use_spti, 1);
    EXPECT_EQ(client_callback, &idle);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(raw_sector_buffer) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data_sector_buffer) % 16, 0u);
}

TEST_F(Discovery, WalkStopsAtTwentySixDrives) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::script().drive_strings += "[:";  // fills the buffer to its last byte
    scripted::script().drive_types['['] = DRIVE_CDROM;
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 26);
    EXPECT_EQ(drive_letters[25], 'Z');
    EXPECT_EQ(calls_to("GetDriveTypeA").size(), 26u);
}

TEST_F(Discovery, WithoutDrivesUseAspiIsNotAskedAndNothingElseHappens) {
    scripted::add_drive('C', 3);
    EXPECT_EQ(CDIF_Init(idle), 0);
    EXPECT_EQ(use_aspi_calls, 0);
    EXPECT_TRUE(calls_to("CreateFileA").empty());
    EXPECT_TRUE(calls_to("LoadLibraryA").empty());

    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(use_aspi_calls, 1);
}

TEST_F(Discovery, NullCallbackFailsBeforeAnyPlatformCall) {
    scripted::add_drive('D', DRIVE_CDROM);
    EXPECT_EQ(CDIF_Init(nullptr), 0);
    EXPECT_TRUE(calls().empty());
}

TEST_F(Discovery, MissingAspiLayerPrintsItsMessageWithoutLineBreak) {
    struct Case {
        bool module, support_info, send_command;
        const char* message;
    };
    const Case cases[] = {
        {false, true, true, "CDIF_Init: \"WNASPI32.DLL\" not found."},
        {true, false, true, "CDIF_Init: DLL function \"GetASPI32SupportInfo\" not found."},
        {true, true, false, "CDIF_Init: DLL function \"SendASPI32Command\" not found."},
    };
    for (const Case& c : cases) {
        reset_library_state();
        scripted::reset();
        scripted::add_drive('D', DRIVE_CDROM);
        use_aspi_answer = 1;
        scripted::script().aspi_present = c.module;
        scripted::script().has_support_info = c.support_info;
        scripted::script().has_send_command = c.send_command;
        testing::internal::CaptureStdout();
        EXPECT_EQ(CDIF_Init(idle), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
        EXPECT_TRUE(calls_to("GetASPI32SupportInfo").empty());
        EXPECT_TRUE(calls_to("CreateFileA").empty());
    }
    EXPECT_EQ(calls_to("LoadLibraryA")[0].text, "WNASPI32.DLL");
}

TEST_F(Discovery, AspiStatusOtherThanOneKeepsTheDriveLetters) {
    for (char letter : {'D', 'E', 'F', 'G', 'H', 'I'}) scripted::add_drive(letter, DRIVE_CDROM);
    aspi_layer(2);
    scripted::script().support_info = 0xE802;  // SS_NO_ADAPTERS
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 6);
    EXPECT_EQ(use_spti, 0);
    EXPECT_EQ(calls_to("SendASPI32Command").size(), 18u) << "three READ TOC attempts per drive, no scan";
    for (const AspiDevice& device : aspi_devices) EXPECT_EQ(device.host_adapter | device.target | device.lun, 0);

    // Without a scan every drive carries the all-zero address, beyond the four slots too.
    aspi_devices[1] = {1, 2, 3};
    EXPECT_EQ(CDIF_SelectDrive(5), 0);
    EXPECT_EQ(current_drive, 5);
    EXPECT_EQ(selected_device.host_adapter | selected_device.target | selected_device.lun, 0);
}

TEST_F(Discovery, ScanSkipsOwnIdProbesEveryLunAndKeepsScanOrder) {
    scripted::add_drive('D', DRIVE_CDROM);
    aspi_layer(2);
    scripted::script().host_adapters = {{SS_COMP, 7}, {SS_COMP, 2}};
    // 0xA5: qualifier bits set, still type 5. 0x7F: no unit. 0x00: a disk.
    scripted::script().aspi_exec = units({{{1, 3, 2}, 0x05}, {{0, 1, 0}, 0x05}, {{1, 5, 7}, 0xA5},
                                          {{0, 0, 0}, 0x00}, {{0, 3, 0}, 0x7F}});
    EXPECT_EQ(CDIF_Init(idle), 1);

    EXPECT_EQ(host_adapter_count, 2);
    EXPECT_EQ(drive_count, 3);
    const AspiDevice expected[] = {{0, 1, 0}, {1, 3, 2}, {1, 5, 7}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(aspi_devices[i].host_adapter, expected[i].host_adapter) << i;
        EXPECT_EQ(aspi_devices[i].target, expected[i].target) << i;
        EXPECT_EQ(aspi_devices[i].lun, expected[i].lun) << i;
    }

    auto probes = inquiries_sent();
    ASSERT_EQ(probes.size(), 2u * 7 * 8);
    std::vector<std::tuple<int, int, int>> order;
    for (const auto& probe : probes) order.emplace_back(probe.SRB_HaId, probe.SRB_Target, probe.SRB_Lun);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    for (const auto& [adapter, target, lun] : order)
        EXPECT_NE(target, adapter == 0 ? 7 : 2) << "probed the adapter's own id at LUN " << lun;

    // The probe record.
    const SRB_ExecSCSICmd& probe = probes[0];
    EXPECT_EQ(probe.SRB_Cmd, 2);
    EXPECT_EQ(probe.SRB_Flags, 0x48);
    EXPECT_EQ(+probe.SRB_BufLen, 128u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(probe.SRB_BufPointer) % 16, 0u);
    EXPECT_EQ(probe.SRB_SenseLen, 14);
    EXPECT_EQ(probe.SRB_CDBLen, 6);
    const std::uint8_t inquiry_cdb[16] = {0x12, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(std::memcmp(probe.CDBByte, inquiry_cdb, sizeof inquiry_cdb), 0);
    auto events = calls_to("CreateEventA");
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].args, (std::vector<std::uintptr_t>{0, FALSE, FALSE, 0})) << "auto reset, not signalled";
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(probe.SRB_PostProc), events[0].result);

    auto adapter_inquiries = calls_to("SendASPI32Command");
    auto ha = record_of<SRB_HAInquiry>(adapter_inquiries[0]);
    EXPECT_EQ(ha.SRB_Cmd, SC_HA_INQUIRY);
    EXPECT_EQ(ha.SRB_HaId, 0);
    EXPECT_EQ(ha.SRB_Flags, 0);
}

TEST_F(Discovery, FailedHostAdapterInquiryEndsTheScanWithNoDrives) {
    scripted::add_drive('D', DRIVE_CDROM);
    aspi_layer(3);
    scripted::script().host_adapters = {{SS_COMP, 7}, {SS_ERR, 7}, {SS_COMP, 7}};
    scripted::script().aspi_exec = units({{{0, 2, 1}, 0x05}});
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 0);
    EXPECT_EQ(aspi_devices[0].target, 2) << "entries already written stay";
    for (const auto& probe : inquiries_sent()) EXPECT_EQ(probe.SRB_HaId, 0);
    EXPECT_EQ(last_track, 0);
}

TEST_F(Discovery, FifthCdromDeviceIsNotRecorded) {
    scripted::add_drive('D', DRIVE_CDROM);
    aspi_layer(1);
    scripted::script().host_adapters = {{SS_COMP, 7}};
    scripted::script().aspi_exec = units({{{0, 0, 0}, 5}, {{0, 1, 0}, 5}, {{0, 2, 0}, 5}, {{0, 3, 0}, 5},
                                          {{0, 4, 0}, 5}, {{0, 5, 0}, 5}});
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(aspi_devices[i].target, i);
    EXPECT_EQ(inquiries_sent().size(), 7u * 8) << "the scan still probes every unit";
}

class TimedOutProbe : public Discovery {
protected:
    // The unit 0:1:0 never answers; 0:2:0 is a CD-ROM drive.
    void SetUp() override {
        Discovery::SetUp();
        scripted::add_drive('D', DRIVE_CDROM);
        aspi_layer(1);
        scripted::script().host_adapters = {{SS_COMP, 7}};
        scripted::script().aspi_exec = [](const SRB_ExecSCSICmd& request) {
            bool answers = request.SRB_Target == 2;
            if ((request.SRB_Target == 1 || answers) && request.SRB_Lun == 0)
                return scripted::AspiReply{SS_PENDING, SS_COMP, {5}, answers};
            return scripted::AspiReply{SS_ERR, SS_ERR, {}, true};
        };
    }
    std::string init() {
        testing::internal::CaptureStdout();
        EXPECT_EQ(CDIF_Init(idle), 1);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(TimedOutProbe, IsAbortedAndTheUnitSkipped) {
    EXPECT_EQ(init(), "");
    EXPECT_EQ(drive_count, 1);
    EXPECT_EQ(aspi_devices[0].target, 2);

    auto waits = calls_to("WaitForSingleObject");
    ASSERT_GE(waits.size(), 2u);
    EXPECT_EQ(waits[0].args[1], 10000u) << "the silent unit";
    EXPECT_EQ(waits[1].args[1], 10000u) << "the CD-ROM unit";
    ASSERT_EQ(scripted::held_requests().size(), 1u);
    std::vector<SRB_Abort> aborts;
    for (const auto& call : calls_to("SendASPI32Command"))
        if (call.args[0] == SC_ABORT_SRB) aborts.push_back(record_of<SRB_Abort>(call));
    ASSERT_EQ(aborts.size(), 1u);
    EXPECT_EQ(aborts[0].SRB_HaId, 0);
    EXPECT_EQ(aborts[0].SRB_Flags, 0);
    EXPECT_EQ(+aborts[0].SRB_ToAbort, scripted::held_requests()[0].request);
}

TEST_F(TimedOutProbe, FailedAbortIsReportedWithoutLineBreak) {
    scripted::script().abort_result = SS_ERR;
    EXPECT_EQ(init(), "service_abort() failed.");
    EXPECT_EQ(drive_count, 1);
}

// The layer still holds the timed-out request: completing it after the scan must write into a
// record and buffer that are still the probe's own (the sanitizer build catches freed memory).
TEST_F(TimedOutProbe, HeldRequestStaysValidAndIsNeverReused) {
    init();
    ASSERT_EQ(scripted::held_requests().size(), 1u);
    SRB_ExecSCSICmd* held = scripted::held_requests()[0].request;
    HANDLE held_event = scripted::held_requests()[0].event;
    std::uint8_t* held_buffer = held->SRB_BufPointer;

    for (const auto& call : calls_to("SendASPI32Command")) {
        if (call.args[0] != SC_EXEC_SCSI_CMD || call.args[1] == reinterpret_cast<std::uintptr_t>(held)) continue;
        auto other = record_of<SRB_ExecSCSICmd>(call);
        EXPECT_NE(+other.SRB_BufPointer, held_buffer);
        EXPECT_NE(+other.SRB_PostProc, held_event);
    }
    EXPECT_EQ(held->CDBByte[0], 0x12) << "the record was overwritten";
    EXPECT_EQ(held->SRB_Target, 1);
    EXPECT_EQ(+held->SRB_PostProc, held_event);
    for (const auto& call : calls_to("CloseHandle"))
        EXPECT_NE(call.args[0], reinterpret_cast<std::uintptr_t>(held_event)) << "the layer may still signal it";

    ASSERT_TRUE(scripted::complete_late(held));
    EXPECT_EQ(held->SRB_Status, SS_COMP);
    EXPECT_EQ(held_buffer[0], 5);
    EXPECT_EQ(drive_count, 1) << "a late answer changes nothing";
}

// A wait that fails outright (rather than timing out) leaves the request with the layer too: the
// unit is skipped without an abort, and the event the layer will signal stays open.
TEST_F(TimedOutProbe, FailedWaitLeavesTheRequestAndItsEventWithTheLayer) {
    scripted::script().unfired_wait_result = WAIT_FAILED;
    EXPECT_EQ(init(), "");
    EXPECT_EQ(drive_count, 1);
    ASSERT_EQ(scripted::held_requests().size(), 1u);
    HANDLE held_event = scripted::held_requests()[0].event;
    for (const auto& call : calls_to("CloseHandle"))
        EXPECT_NE(call.args[0], reinterpret_cast<std::uintptr_t>(held_event));
    for (const auto& call : calls_to("SendASPI32Command")) EXPECT_NE(call.args[0], SC_ABORT_SRB);
    ASSERT_TRUE(scripted::complete_late(scripted::held_requests()[0].request));
}

class Selection : public CdifTest {};

TEST_F(Selection, IndexOutsideTheDrivesChangesNothing) {
    use_spti = 1;
    drive_count = 2;
    drive_letters[0] = 'D';
    drive_letters[1] = 'E';
    current_drive = 1;
    for (int index : {-1, 2, 26}) EXPECT_EQ(CDIF_SelectDrive(index), 0) << index;
    EXPECT_EQ(current_drive, 1);
    EXPECT_TRUE(calls().empty());
}

TEST_F(Selection, SecondDriveIsSelectedWhenOnlyItReads) {
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', DRIVE_CDROM);
    auto reply = toc_reply({{0}}, {30000});
    scripted::script().pass_through = [reply](HANDLE device, const SCSI_PASS_THROUGH_DIRECT&) {
        if (scripted::opened_path(device) == "\\\\.\\E:") return scripted::PassThroughReply{TRUE, 0, reply};
        return scripted::PassThroughReply{TRUE, 2, {}};
    };
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(current_drive, 1);
    EXPECT_EQ(last_track, 1);
    EXPECT_EQ(CDIF_GetTrackLBA(2), 30000);
    EXPECT_EQ(scripted::opened_path(device_handle), "\\\\.\\E:");

    auto opens = calls_to("CreateFileA");
    ASSERT_GE(opens.size(), 2u);
    EXPECT_EQ(opens.front().text, "\\\\.\\D:");
    EXPECT_EQ(opens.back().text, "\\\\.\\E:");
    EXPECT_EQ(opens.back().args, (std::vector<std::uintptr_t>{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0,
                                                                OPEN_EXISTING, 0, 0}));
    EXPECT_EQ(calls_to("DeviceIoControl").size(), 3u * 2 + 1) << "three attempts on D:, each sent twice";
}

TEST_F(Selection, NoReadableDriveLeavesTheLastOneSelectedAndOpen) {
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', DRIVE_CDROM);
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{FALSE, 0, {}};
    };
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(current_drive, 1);
    EXPECT_EQ(last_track, 0);
    EXPECT_EQ(scripted::opened_path(device_handle), "\\\\.\\E:");
}

TEST_F(Selection, DeviceAddressOnEachTransport) {
    // ASPI after a scan: the scanned device's address, in the record of every command.
    scripted::add_drive('D', DRIVE_CDROM);
    use_aspi_answer = 1;
    scripted::script().aspi_present = true;
    scripted::script().support_info = kAspiReady | 2;
    scripted::script().host_adapters = {{SS_COMP, 7}, {SS_COMP, 7}};
    scripted::script().aspi_exec = units({{{0, 1, 0}, 5}, {{1, 3, 2}, 5}});
    ASSERT_EQ(CDIF_Init(idle), 1);
    ASSERT_EQ(CDIF_SelectDrive(1), 0);
    EXPECT_EQ(selected_device.host_adapter, 1);
    EXPECT_EQ(selected_device.target, 3);
    EXPECT_EQ(selected_device.lun, 2);
    auto last = record_of<SRB_ExecSCSICmd>(calls_to("SendASPI32Command").back());
    EXPECT_EQ(last.CDBByte[0], 0x43);
    EXPECT_EQ(last.SRB_HaId, 1);
    EXPECT_EQ(last.SRB_Target, 3);
    EXPECT_EQ(last.SRB_Lun, 2);

    // Pass-through: all zero.
    reset_library_state();
    scripted::reset();
    use_aspi_answer = 0;
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', DRIVE_CDROM);
    scripted::script().pass_through = answer_read_toc(toc_reply({{0}}, {1000}));
    ASSERT_EQ(CDIF_Init(idle), 1);
    ASSERT_EQ(CDIF_SelectDrive(1), 1);
    EXPECT_EQ(selected_device.host_adapter | selected_device.target | selected_device.lun, 0);
}

}  // namespace
