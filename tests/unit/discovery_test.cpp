// CDIF_Init, the ASPI host adapter scan with its INQUIRY probes, and CDIF_SelectDrive.
#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "program_hooks.h"

bool operator==(const AspiDevice& a, const AspiDevice& b) {
    return a.host_adapter == b.host_adapter && a.target == b.target && a.lun == b.lun;
}

namespace {

using scripted::calls;
using scripted::calls_to;
using scripted::record_of;
// The ASPI records are packed: their fields are compared as values (unary +), never bound to references.

void idle() {}

constexpr DWORD kAspiReady = 0x0100;  // support info: status SS_COMP, adapter count in the low byte

bool is_inquiry(const SRB_ExecSCSICmd& request) { return request.CDBByte[0] == 0x12; }

template <typename Record = SRB_ExecSCSICmd>
std::vector<Record> sent(std::uint8_t command) {
    std::vector<Record> found;
    for (const auto& call : calls_to("SendASPI32Command"))
        if (call.args[0] == command) found.push_back(record_of<Record>(call));
    return found;
}

std::vector<SRB_ExecSCSICmd> probes() {
    auto found = sent(SC_EXEC_SCSI_CMD);
    std::erase_if(found, [](const SRB_ExecSCSICmd& request) { return !is_inquiry(request); });
    return found;
}

// An ASPI layer whose units answer INQUIRY with the given first byte; every other command fails.
scripted::AspiHandler units(std::map<std::tuple<int, int, int>, std::uint8_t> answers) {
    return [answers](const SRB_ExecSCSICmd& request) {
        auto found = answers.find({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
        if (is_inquiry(request) && found != answers.end()) return scripted::AspiReply{SS_COMP, SS_COMP, {found->second}, true};
        return scripted::AspiReply{SS_ERR, SS_ERR, {}, true};
    };
}

class Discovery : public CdifTest {
protected:
    // One CD-ROM drive letter and an ASPI layer with adapters whose own SCSI id is 7.
    void aspi_layer(int adapters) {
        scripted::add_drive('D', DRIVE_CDROM);
        use_aspi_answer = 1;
        scripted::script().aspi_present = true;
        scripted::script().support_info = kAspiReady | adapters;
        scripted::script().host_adapters.assign(adapters, {SS_COMP, 7});
    }
};

TEST_F(Discovery, WalksTheDriveStringsForCdromDrives) {
    for (auto [letter, type] : {std::pair{'A', 2u}, {'C', 3u}, {'D', DRIVE_CDROM}, {'E', 4u}, {'G', DRIVE_CDROM}})
        scripted::add_drive(letter, type);
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(calls_to("GetLogicalDriveStringsA")[0].args[0], 106u);
    std::vector<std::string> roots;
    for (const auto& call : calls_to("GetDriveTypeA")) roots.push_back(call.text);
    EXPECT_EQ(roots, (std::vector<std::string>{"A:\\", "C:\\", "D:\\", "E:\\", "G:\\"}));
    EXPECT_EQ(std::string(drive_letters, drive_letters + drive_count), "DG");
    EXPECT_EQ(use_spti, 1);
    EXPECT_EQ(client_callback, &idle);

    // The walk stops at 26 drives, even when the strings fill the buffer to its last byte.
    reset_library_state();
    scripted::reset();
    for (char letter = 'A'; letter <= 'Z'; ++letter) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::add_drive('[', DRIVE_CDROM);
    scripted::script().drive_strings.resize(106);
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 26);
    EXPECT_EQ(calls_to("GetDriveTypeA").size(), 26u);
}

TEST_F(Discovery, NoCallbackOrNoDriveEndsBeforeTheTransport) {
    scripted::add_drive('D', DRIVE_CDROM);
    EXPECT_EQ(CDIF_Init(nullptr), 0);
    EXPECT_TRUE(calls().empty());

    scripted::reset();
    scripted::add_drive('C', 3);
    EXPECT_EQ(CDIF_Init(idle), 0);
    EXPECT_EQ(use_aspi_calls, 0);
    EXPECT_TRUE(calls_to("CreateFileA").empty());
    EXPECT_TRUE(calls_to("LoadLibraryA").empty());
}

TEST_F(Discovery, AspiStatusOtherThanOneKeepsTheDriveLettersUnaddressed) {
    aspi_layer(2);
    for (char letter : {'E', 'F', 'G', 'H', 'I'}) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::script().support_info = 0xE802;  // SS_NO_ADAPTERS
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 6);
    EXPECT_EQ(use_spti, 0);
    EXPECT_EQ(calls_to("SendASPI32Command").size(), 18u) << "three READ TOC attempts per drive, no scan";
    aspi_devices[1] = {1, 2, 3};
    EXPECT_EQ(CDIF_SelectDrive(5), 0);
    EXPECT_EQ(current_drive, 5);
    EXPECT_EQ(selected_device, (AspiDevice{0, 0, 0})) << "every drive, beyond the four slots too";
}

TEST_F(Discovery, ScanProbesEveryLunButTheAdaptersOwnIdInOrder) {
    aspi_layer(2);
    scripted::script().host_adapters[1].scsi_id = 2;
    // 0xA5: qualifier bits set, still type 5. 0x7F: no unit. 0x00: a disk.
    scripted::script().aspi_exec = units({{{1, 3, 2}, 0x05}, {{0, 1, 0}, 0x05}, {{1, 5, 7}, 0xA5},
                                          {{0, 0, 0}, 0x00}, {{0, 3, 0}, 0x7F}});
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(host_adapter_count, 2);
    ASSERT_EQ(drive_count, 3);
    EXPECT_EQ(std::vector<AspiDevice>(aspi_devices, aspi_devices + 3),
              (std::vector<AspiDevice>{{0, 1, 0}, {1, 3, 2}, {1, 5, 7}}));

    std::vector<std::tuple<int, int, int>> order;
    for (const auto& probe : probes()) order.emplace_back(probe.SRB_HaId, probe.SRB_Target, probe.SRB_Lun);
    ASSERT_EQ(order.size(), 2u * 7 * 8);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    for (const auto& [adapter, target, lun] : order) EXPECT_NE(target, adapter == 0 ? 7 : 2) << "own id, LUN " << lun;

    const SRB_ExecSCSICmd probe = probes()[0];
    const std::uint8_t inquiry_cdb[16] = {0x12, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(std::memcmp(probe.CDBByte, inquiry_cdb, sizeof inquiry_cdb), 0);
    EXPECT_EQ(+probe.SRB_BufLen, 128u);
    EXPECT_EQ(calls_to("CreateEventA")[0].args, (std::vector<std::uintptr_t>{0, FALSE, FALSE, 0})) << "auto reset";
    auto adapter_inquiry = record_of<SRB_HAInquiry>(calls_to("SendASPI32Command")[0]);
    EXPECT_EQ(adapter_inquiry.SRB_Cmd | adapter_inquiry.SRB_HaId | adapter_inquiry.SRB_Flags, SC_HA_INQUIRY);
}

TEST_F(Discovery, ScanEndsWithNoDrivesOnAFailedAdapterAndRecordsFourAtMost) {
    aspi_layer(3);
    scripted::script().host_adapters[1].returned = SS_ERR;
    scripted::script().aspi_exec = units({{{0, 2, 1}, 0x05}});
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 0);
    EXPECT_EQ(aspi_devices[0].target, 2) << "entries already written stay";
    for (const auto& probe : probes()) EXPECT_EQ(probe.SRB_HaId, 0);

    reset_library_state();
    scripted::reset();
    aspi_layer(1);
    scripted::script().aspi_exec = units({{{0, 0, 0}, 5}, {{0, 1, 0}, 5}, {{0, 2, 0}, 5}, {{0, 3, 0}, 5},
                                          {{0, 4, 0}, 5}, {{0, 5, 0}, 5}});
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(drive_count, 4);
    EXPECT_EQ(aspi_devices[3], (AspiDevice{0, 3, 0}));
    EXPECT_EQ(probes().size(), 7u * 8) << "the scan still probes every unit";
}

// The unit 0:1:0 never answers its probe; 0:2:0 is a CD-ROM drive. The layer still holds the
// silent probe afterwards: completing it late must write into a record and buffer that are still
// the probe's own (the sanitizer build catches freed memory), and its event must stay open.
TEST_F(Discovery, SilentUnitIsSkippedAndItsProbeLeftValid) {
    struct Case {
        DWORD wait_result, abort_result;
        const char* output;
        bool aborted;
    } cases[] = {{WAIT_TIMEOUT, SS_COMP, "", true},
                 {WAIT_TIMEOUT, SS_ERR, "service_abort() failed.", true},
                 {WAIT_FAILED, SS_COMP, "", false}};
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
            return scripted::AspiReply{SS_ERR, SS_ERR, {}, true};
        };
        testing::internal::CaptureStdout();
        EXPECT_EQ(CDIF_Init(idle), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ(drive_count, 1);
        EXPECT_EQ(aspi_devices[0].target, 2);
        auto waits = calls_to("WaitForSingleObject");
        EXPECT_EQ(waits.at(0).args[1], 10000u) << "the silent unit";
        EXPECT_EQ(waits.at(1).args[1], 10000u) << "the CD-ROM unit";

        ASSERT_EQ(scripted::held_requests().size(), 1u);
        SRB_ExecSCSICmd* held = scripted::held_requests()[0].request;
        HANDLE held_event = scripted::held_requests()[0].event;
        std::uint8_t* held_buffer = held->SRB_BufPointer;
        auto aborts = sent<SRB_Abort>(SC_ABORT_SRB);
        ASSERT_EQ(aborts.size(), c.aborted ? 1u : 0u);
        for (const SRB_Abort& request : aborts) {
            EXPECT_EQ(request.SRB_HaId | request.SRB_Flags, 0);
            EXPECT_EQ(+request.SRB_ToAbort, held);
        }
        for (const auto& call : calls_to("SendASPI32Command")) {
            if (call.args[0] != SC_EXEC_SCSI_CMD || call.args[1] == reinterpret_cast<std::uintptr_t>(held)) continue;
            auto other = record_of<SRB_ExecSCSICmd>(call);
            EXPECT_NE(+other.SRB_BufPointer, held_buffer) << "a held buffer is never reused";
            EXPECT_NE(+other.SRB_PostProc, held_event);
        }
        for (const auto& call : calls_to("CloseHandle")) EXPECT_NE(call.args[0], reinterpret_cast<std::uintptr_t>(held_event));
        EXPECT_EQ(held->CDBByte[0], 0x12) << "the record was overwritten";
        EXPECT_EQ(held->SRB_Target, 1);
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

TEST_F(Discovery, FirstReadableDriveIsSelectedElseTheLastStaysOpen) {
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', DRIVE_CDROM);
    auto reply = toc_reply({{0}}, {30000});
    scripted::script().pass_through = [reply](HANDLE device, const SCSI_PASS_THROUGH_DIRECT&) {
        if (scripted::opened_path(device) == "\\\\.\\E:") return scripted::PassThroughReply{TRUE, 0, reply};
        return scripted::PassThroughReply{TRUE, 2, {}};
    };
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(current_drive, 1);
    EXPECT_EQ(CDIF_GetTrackLBA(2), 30000);
    EXPECT_EQ(scripted::opened_path(device_handle), "\\\\.\\E:");
    EXPECT_EQ(calls_to("CreateFileA").front().text, "\\\\.\\D:");
    EXPECT_EQ(calls_to("CreateFileA").back().args,
              (std::vector<std::uintptr_t>{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0}));
    EXPECT_EQ(calls_to("DeviceIoControl").size(), 3u * 2 + 1) << "three attempts on D:, each sent twice";

    reset_library_state();
    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', DRIVE_CDROM);
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) { return scripted::PassThroughReply{FALSE, 0, {}}; };
    EXPECT_EQ(CDIF_Init(idle), 1);
    EXPECT_EQ(current_drive, 1);
    EXPECT_EQ(last_track, 0);
    EXPECT_EQ(scripted::opened_path(device_handle), "\\\\.\\E:");
}

TEST_F(Discovery, ScannedAddressIsInEveryAspiCommand) {
    aspi_layer(2);
    scripted::script().aspi_exec = units({{{0, 1, 0}, 5}, {{1, 3, 2}, 5}});
    ASSERT_EQ(CDIF_Init(idle), 1);
    ASSERT_EQ(CDIF_SelectDrive(1), 0);
    EXPECT_EQ(selected_device, (AspiDevice{1, 3, 2}));
    auto last = sent(SC_EXEC_SCSI_CMD).back();
    EXPECT_EQ(last.CDBByte[0], 0x43);
    EXPECT_EQ((AspiDevice{last.SRB_HaId, last.SRB_Target, last.SRB_Lun}), (AspiDevice{1, 3, 2}));
}

}  // namespace
