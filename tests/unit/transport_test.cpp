// CDIF_ExecCommand on both transports: the records it sends, the retry with reopen on the
// pass-through path, what counts as success, and the sense kept from a failure.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "program_hooks.h"
#include "sector_reader.h"
#include "tremick.h"

namespace {

using scripted::calls;
using scripted::calls_to;
using scripted::record_of;

const std::uint8_t kReadCd[12] = {0xBE, 0x04, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00};
const HANDLE kDrive = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});
const HANDLE kReopened = reinterpret_cast<HANDLE>(std::uintptr_t{0x3000});
const std::vector<std::uintptr_t> kOpenArguments = {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0};

scripted::PassThroughHandler replies(std::uint8_t status, BOOL result = TRUE) {
    return [=](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) { return scripted::PassThroughReply{result, status, {}}; };
}

class Transport : public CdifTest {
protected:
    void SetUp() override {
        CdifTest::SetUp();
        use_scripted_aspi_layer();
        use_spti = 1;
        device_handle = kDrive;
        drive_letters[0] = 'D';
        drive_letters[1] = 'E';
        current_drive = 1;
    }
    // Host adapter 0x103: only its low byte is an adapter number.
    int exec() { return CDIF_ExecCommand(buffer_, sizeof buffer_, 0x103, 4, 5, kReadCd, sizeof kReadCd); }
    alignas(16) std::uint8_t buffer_[2352] = {};
};

TEST_F(Transport, PassThroughBlockAsPublishedAndShortReplyZeroFilled) {
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, 0, {0xAB, 0xCD}};
    };
    std::memset(buffer_, 0x5A, sizeof buffer_);  // what an earlier command left
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[1], 0xCD);
    EXPECT_EQ(std::count(buffer_ + 2, buffer_ + sizeof buffer_, 0), static_cast<long>(sizeof buffer_ - 2));
    ASSERT_EQ(calls().size(), 1u);
    const scripted::Call& call = calls()[0];
    EXPECT_EQ(call.args, (std::vector<std::uintptr_t>{reinterpret_cast<std::uintptr_t>(kDrive), 0x4D014,
                                                      sizeof(PassThroughBlock), sizeof(PassThroughBlock), call.args[4],
                                                      call.args[4], call.args[6], 0}))
        << "the block is input and output; no overlapped I/O";

    PassThroughBlock expected;
    std::memset(&expected, 0, sizeof expected);
    expected.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    expected.sptd.CdbLength = 12;
    expected.sptd.SenseInfoLength = 24;
    expected.sptd.DataIn = 1;
    expected.sptd.DataTransferLength = 2352;
    expected.sptd.TimeOutValue = 15;
    expected.sptd.DataBuffer = buffer_;
    expected.sptd.SenseInfoOffset = offsetof(PassThroughBlock, sense);
    std::memcpy(expected.sptd.Cdb, kReadCd, sizeof kReadCd);
    ASSERT_EQ(call.record.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(call.record.data(), &expected, sizeof expected), 0) << "the address stays 0, the rest zero";
}

TEST_F(Transport, PassThroughFailureIsResentOnceAsBuiltAfterReopening) {
    scripted::script().open_results = {kReopened};
    int sent = 0;  // CHECK CONDITION first, then GOOD
    scripted::script().pass_through = [&sent](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, static_cast<std::uint8_t>(++sent == 1 ? 2 : 0), {}};
    };
    ASSERT_EQ(exec(), 1);
    std::vector<std::string> order;
    for (const auto& call : calls()) order.push_back(call.function);
    ASSERT_EQ(order, (std::vector<std::string>{"DeviceIoControl", "CloseHandle", "CreateFileA", "DeviceIoControl"}));
    EXPECT_EQ(calls()[1].args[0], reinterpret_cast<std::uintptr_t>(kDrive));
    EXPECT_EQ(calls()[2].text, "\\\\.\\E:") << "the current drive's letter";
    EXPECT_EQ(calls()[2].args, kOpenArguments);
    EXPECT_EQ(calls()[3].args[0], reinterpret_cast<std::uintptr_t>(kReopened));
    // The failed call wrote a transfer length of 0 into the block; a resend of that would "succeed".
    EXPECT_EQ(calls()[0].record, calls()[3].record);
    EXPECT_EQ(device_handle, kReopened);

    scripted::reset();
    scripted::script().pass_through = replies(2);
    EXPECT_EQ(exec(), 0) << "CHECK CONDITION twice";
}

TEST_F(Transport, FailedReopenIsNotClosedAndTheNextCommandOpensAgain) {
    scripted::script().open_results = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    scripted::script().pass_through = replies(0, FALSE);
    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(device_handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(calls_to("CloseHandle").size(), 1u);
    EXPECT_EQ(calls_to("CreateFileA").size(), 2u);
}

TEST_F(Transport, AspiRequestAsPublishedWithItsOwnEvent) {
    use_spti = 0;
    ASSERT_EQ(exec(), 1);
    auto events = calls_to("CreateEventA");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].args, (std::vector<std::uintptr_t>{0, TRUE, FALSE, 0})) << "manual reset, not signalled";
    SRB_ExecSCSICmd expected;
    std::memset(&expected, 0, sizeof expected);
    expected.SRB_Cmd = 2;
    expected.SRB_HaId = 3;
    expected.SRB_Flags = 0x48;
    expected.SRB_Target = 4;
    expected.SRB_Lun = 5;
    expected.SRB_BufLen = 2352;
    expected.SRB_BufPointer = buffer_;
    expected.SRB_SenseLen = 14;
    expected.SRB_CDBLen = 12;
    expected.SRB_PostProc = reinterpret_cast<void*>(events[0].result);
    std::memcpy(expected.CDBByte, kReadCd, sizeof kReadCd);
    auto sent = calls_to("SendASPI32Command");
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].record.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(sent[0].record.data(), &expected, sizeof expected), 0);
    EXPECT_TRUE(calls_to("WaitForSingleObject").empty()) << "completed at once";
    EXPECT_EQ(calls().back().function, "CloseHandle");
    EXPECT_EQ(calls().back().args[0], events[0].result);

    // Pending: waited for without limit, then the event closed.
    scripted::reset();
    scripted::script().aspi_exec = [](const SRB_ExecSCSICmd&) { return scripted::AspiReply{SS_PENDING, SS_COMP, {0x5A}, true}; };
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[0], 0x5A);
    std::uintptr_t event = calls_to("CreateEventA")[0].result;
    EXPECT_EQ(calls_to("WaitForSingleObject")[0].args, (std::vector<std::uintptr_t>{event, INFINITE}));
    EXPECT_EQ(calls().back().args[0], event);

    scripted::reset();
    scripted::script().event_creation_fails = true;
    EXPECT_EQ(exec(), 0);
    EXPECT_TRUE(calls_to("SendASPI32Command").empty()) << "no event, no command";
}

TEST_F(Transport, AspiSuccessIsStatusOneOnlyAndNothingIsRetried) {
    use_spti = 0;
    for (DWORD status : {SS_PENDING, SS_COMP, 0x02u, SS_ERR, 0x80u, SS_NO_ADAPTERS}) {
        for (DWORD returned : {SS_COMP, SS_ERR}) {
            scripted::reset();
            scripted::script().aspi_exec = [=](const SRB_ExecSCSICmd&) { return scripted::AspiReply{returned, static_cast<std::uint8_t>(status), {}, true}; };
            EXPECT_EQ(exec(), status == SS_COMP ? 1 : 0) << "SRB_Status " << status << ", returned " << returned;
            EXPECT_EQ(calls_to("SendASPI32Command").size(), 1u);
        }
    }
}

// The sense of the last failed command, on both transports, whatever the sense format.
TEST_F(Transport, LastFailureSenseIsKeptOnBothTransports) {
    using Sense = std::vector<std::uint8_t>;
    const Sense fixed = {0xF0, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x64, 0x00};
    const Sense descriptor = {0x72, 0x03, 0x11, 0x05};
    struct Case {
        bool pass_through;
        BOOL call_works;
        Sense sense, expected;
    } cases[] = {
        {true, TRUE, fixed, {5, 0x64, 0}},  {true, TRUE, descriptor, {3, 0x11, 5}}, {true, FALSE, fixed, {0, 0, 0}},
        {true, TRUE, {0x00, 0, 0x05}, {0, 0, 0}},  // not sense data
        {false, TRUE, fixed, {5, 0x64, 0}}, {false, TRUE, {}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        scripted::reset();
        use_spti = c.pass_through ? 1 : 0;
        last_failure_sense = {9, 9, 9};
        scripted::script().failure_sense = c.sense;
        scripted::script().pass_through = replies(2, c.call_works);
        scripted::script().aspi_exec = [](const SRB_ExecSCSICmd&) { return scripted::AspiReply{SS_COMP, SS_ERR, {}, true}; };
        EXPECT_EQ(exec(), 0);
        const CommandSense& kept = last_failure_sense;
        EXPECT_EQ((Sense{kept.key, kept.asc, kept.ascq}), c.expected) << c.pass_through << ", " << c.sense.size() << " bytes";
    }
    scripted::script().aspi_exec = nullptr;
    last_failure_sense = {5, 0x64, 0};
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(last_failure_sense.asc, 0x64) << "a command that works leaves the last failure's sense";
}

// tremick's READ(10) reaches a unit at a LUN other than 0: the ASPI layer refuses a CDB whose LUN
// bits name another unit.
TEST_F(Transport, DataSectorReadReachesTheSelectedUnit) {
    use_spti = 0;
    alignas(16) std::uint8_t transfer[kDataSectorSize];
    std::uint8_t sector[kDataSectorSize] = {};
    data_sector_buffer = transfer;
    unreadable_sectors = {};
    for (int lun : {1, 2, 3, 7}) {
        selected_device = {1, 3, lun};
        scripted::script().aspi_exec = [](const SRB_ExecSCSICmd&) { return scripted::AspiReply{SS_COMP, SS_COMP, {0x77}, true}; };
        read_data_sectors(sector, 100, 1);
        EXPECT_EQ(sector[0], 0x77) << lun;
        EXPECT_EQ(record_of<SRB_ExecSCSICmd>(calls_to("SendASPI32Command").back()).SRB_Lun, lun);
    }
    EXPECT_EQ(unreadable_sectors.count, 0);
}

}  // namespace
