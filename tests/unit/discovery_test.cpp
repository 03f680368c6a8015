// The programs' start-up: the transport the platform version chooses, the CD-ROM drive letters,
// the ASPI host adapter scan with its INQUIRY probes, and the drive selected.
#include <cerrno>
#include <tuple>

#include "library_support.h"
#include "startup.h"

namespace {

using scripted::calls_to;
using scripted::record_of;
using Address = std::tuple<int, int, int>;  // host adapter, target, LUN

Address address_of(const AspiDevice& device) { return {device.host_adapter, device.target, device.lun}; }

// The units that the execution requests of one opcode went to, in order.
std::vector<Address> sent_to(std::uint8_t opcode) {
    std::vector<Address> found;
    for (const auto& call : calls_to("SendASPI32Command")) {
        auto request = record_of<SRB_ExecSCSICmd>(call);
        if (call.args[0] == SC_EXEC_SCSI_CMD && request.CDBByte[0] == opcode)
            found.emplace_back(+request.SRB_HaId, +request.SRB_Target, +request.SRB_Lun);
    }
    return found;
}

class Discovery : public LibraryTest {
protected:
    // A CD-ROM drive letter on Windows 9x, whose ASPI layer has adapters of SCSI id 7. The units
    // answer INQUIRY with the given first byte; every other command fails.
    void aspi_layer(int adapters, std::map<Address, std::uint8_t> units = {}) {
        scripted::add_drive('D', DRIVE_CDROM);
        scripted::script().platform_id = VER_PLATFORM_WIN32_WINDOWS;
        scripted::script().aspi_present = true;
        scripted::script().support_info = 0x0100 | adapters;  // status SS_COMP, then the adapter count
        scripted::script().host_adapters.assign(adapters, {SS_COMP, 7});
        scripted::script().aspi_exec = [units](const SRB_ExecSCSICmd& request) {
            auto unit = units.find({request.SRB_HaId, request.SRB_Target, request.SRB_Lun});
            if (request.CDBByte[0] != 0x12 || unit == units.end()) return scripted::AspiReply{SS_ERR, SS_ERR};
            return scripted::AspiReply{SS_COMP, SS_COMP, {unit->second}};
        };
    }
};

TEST_F(Discovery, WalksTheDriveStringsForCdromDrives) {
    // A: a removable disk, C: a fixed disk, E: a network drive.
    const std::pair<char, UINT> drives[] = {{'A', 2}, {'C', 3}, {'D', DRIVE_CDROM}, {'E', 4},
                                            {'G', DRIVE_CDROM}};
    for (auto [letter, type] : drives) scripted::add_drive(letter, type);
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(std::string(drive_letters, drive_letters + drive_count), "DG");
    EXPECT_EQ(use_spti, 1) << "outside the Windows 9x family";
}

// Support information other than SS_COMP: the drive letters stay, none with an ASPI address. The
// walk keeps 26 drives at most, even when the strings fill the buffer to its last byte.
TEST_F(Discovery, AspiStatusOtherThanOneKeepsTheDriveLettersUnaddressed) {
    aspi_layer(2);
    for (char letter = 'E'; letter <= '^'; ++letter) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::script().drive_strings.resize(106);
    scripted::script().support_info = 0xE802;  // SS_NO_ADAPTERS
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(drive_count, 26);
    EXPECT_EQ(use_spti, 0);
    EXPECT_EQ(calls_to("SendASPI32Command").size(), 78u) << "three READ TOC attempts per drive, no scan";
    aspi_devices[1] = {1, 2, 3};
    EXPECT_EQ(CDIF_SelectDrive(5), 0);
    EXPECT_EQ(address_of(selected_device), Address(0, 0, 0)) << "every drive, beyond the four slots too";
    for (int outside : {-1, 26}) EXPECT_EQ(CDIF_SelectDrive(outside), 0);
    EXPECT_EQ(current_drive, 5);
}

// Five CD-ROM units, of which the table records four; each is selected in turn and asked for its
// table three times at its own address.
TEST_F(Discovery, ScanProbesEveryLunButTheAdaptersOwnIdInOrder) {
    // 0xA5: qualifier bits set, still type 5. 0x7F: no unit. 0x00: a disk.
    aspi_layer(2, {{{1, 3, 2}, 0x05}, {{0, 1, 0}, 0x05}, {{1, 5, 7}, 0xA5}, {{1, 6, 0}, 0x05},
                   {{1, 7, 7}, 0x05}, {{0, 0, 0}, 0x00}, {{0, 3, 0}, 0x7F}});
    scripted::script().host_adapters[1].scsi_id = 2;
    EXPECT_EQ(start_up(), 1);
    ASSERT_EQ(drive_count, 4);
    const Address found[] = {{0, 1, 0}, {1, 3, 2}, {1, 5, 7}, {1, 6, 0}};
    std::vector<Address> tables = sent_to(0x43);
    ASSERT_EQ(tables.size(), 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(tables[i], found[i / 3]);

    std::vector<Address> probes = sent_to(0x12);
    ASSERT_EQ(probes.size(), 2u * 7 * 8);
    EXPECT_TRUE(std::is_sorted(probes.begin(), probes.end()));
    for (const auto& [adapter, target, lun] : probes) EXPECT_NE(target, adapter == 0 ? 7 : 2) << "own id";
}

TEST_F(Discovery, FailedAdapterInquiryEndsTheScanWithNoDrives) {
    aspi_layer(3, {{{0, 2, 1}, 0x05}});
    scripted::script().host_adapters[1].returned = SS_ERR;
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(drive_count, 0);
    EXPECT_EQ(sent_to(0x12).size(), 7u * 8) << "adapter 0 only";
}

// Each drive tried is named with why it gave no table of contents, in one line: D: has no disc
// (no wait), E: stays becoming ready (waited for 30 s in the platform's sleeps, no longer), F:
// cannot be opened. (The program tests read a drive that spins up for a while.)
TEST_F(Discovery, DrivesWithoutATableAreNamedWithWhy) {
    using Bytes = std::vector<std::uint8_t>;
    const Bytes no_disc = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
    const Bytes becoming_ready = {0x72, 0x02, 0x04, 0x01};
    for (char letter : {'D', 'E', 'F'}) scripted::add_drive(letter, DRIVE_CDROM);
    scripted::script().open_error = [](std::string_view path) { return path == "\\\\.\\F:" ? EACCES : 0; };
    scripted::script().pass_through = [&](HANDLE device, auto&) {
        scripted::script().failure_sense = current_drive == 0 ? no_disc : becoming_ready;
        return scripted::PassThroughReply{device != INVALID_HANDLE_VALUE, 2};
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(start_up(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "No drive holds a readable disc: D: (/dev/D) has no disc; E: (/dev/E) is not ready; "
              "F: (/dev/F) cannot be opened: Permission denied.\n");
    const auto sleeps = calls_to("Sleep");
    EXPECT_EQ(sleeps.size(), 60u);
    for (const auto& sleep : sleeps) EXPECT_EQ(sleep.args[0], 500u);
}

// The unit 0:1:0 never answers its probe; 0:2:0 is a CD-ROM drive. A probe whose wait times out is
// aborted (a failed abort is reported), one whose wait fails is not. Either way the layer keeps the
// silent probe: its record, buffer and event stay the probe's own, so that a late completion writes
// where it may (the sanitizer build catches freed memory) and changes nothing.
TEST_F(Discovery, SilentUnitIsSkippedAndItsProbeLeftValid) {
    const std::tuple<DWORD, DWORD, const char*> cases[] = {  // wait result, abort result, output
        {WAIT_TIMEOUT, SS_COMP, ""},
        {WAIT_TIMEOUT, SS_ERR, "service_abort() failed."},
        {WAIT_FAILED, SS_ERR, ""},
    };
    for (const auto& [wait_result, abort_result, output] : cases) {
        fresh_library();
        aspi_layer(1);
        scripted::script().unfired_wait_result = wait_result;
        scripted::script().abort_result = abort_result;
        scripted::script().aspi_exec = [](const SRB_ExecSCSICmd& request) {
            const bool answers = request.SRB_Target == 2;
            if (request.CDBByte[0] != 0x12 || request.SRB_Lun != 0 || (request.SRB_Target != 1 && !answers))
                return scripted::AspiReply{SS_ERR, SS_ERR};
            return scripted::AspiReply{SS_PENDING, SS_COMP, {5}, answers};
        };
        testing::internal::CaptureStdout();
        EXPECT_EQ(start_up(), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), output);
        EXPECT_EQ(address_of(aspi_devices[0]), Address(0, 2, 0));
        for (const auto& wait : calls_to("WaitForSingleObject")) EXPECT_EQ(wait.args[1], 10000u);

        ASSERT_EQ(scripted::held_requests().size(), 1u);
        SRB_ExecSCSICmd* held = scripted::held_requests()[0].request;
        EXPECT_EQ(held->SRB_Target, 1) << "the record was reused";
        for (const auto& call : calls_to("CloseHandle"))
            EXPECT_NE(call.args[0], reinterpret_cast<std::uintptr_t>(held->SRB_PostProc)) << "the held event";
        ASSERT_TRUE(scripted::complete_late(held));
        EXPECT_EQ(held->SRB_BufPointer[0], 5);
        EXPECT_EQ(drive_count, 1) << "a late answer changes nothing";
    }
}

}  // namespace
