// CDIF_ExecCommand on both transports: the records it sends, the retry with reopen on the
// pass-through path, and what counts as success.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "program_hooks.h"

namespace {

using scripted::calls;
using scripted::calls_to;
using scripted::record_of;

const std::uint8_t kReadCd[12] = {0xBE, 0x04, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00};
const HANDLE kDrive = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});
const HANDLE kReopened = reinterpret_cast<HANDLE>(std::uintptr_t{0x3000});

class PassThroughTransport : public CdifTest {
protected:
    void SetUp() override {
        CdifTest::SetUp();
        use_spti = 1;
        device_handle = kDrive;
        drive_letters[0] = 'D';
        drive_letters[1] = 'E';
        current_drive = 1;
    }
    int exec() { return CDIF_ExecCommand(buffer_, sizeof buffer_, 3, 4, 5, kReadCd, sizeof kReadCd); }
    alignas(16) std::uint8_t buffer_[2352] = {};
};

TEST_F(PassThroughTransport, FillsEveryFieldOfTheBlock) {
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, 0, {0xAB, 0xCD}};
    };
    std::memset(buffer_, 0x5A, sizeof buffer_);  // what an earlier command left
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[0], 0xAB);
    EXPECT_EQ(buffer_[1], 0xCD);
    EXPECT_EQ(std::count(buffer_ + 2, buffer_ + sizeof buffer_, 0), static_cast<long>(sizeof buffer_ - 2))
        << "a short reply leaves zeros behind it, not earlier data";
    ASSERT_EQ(calls().size(), 1u);
    const scripted::Call& call = calls()[0];
    ASSERT_EQ(call.function, "DeviceIoControl");
    EXPECT_EQ(call.args[0], reinterpret_cast<std::uintptr_t>(kDrive));
    EXPECT_EQ(call.args[1], 0x4D014u);
    EXPECT_EQ(call.args[2], sizeof(PassThroughBlock));
    EXPECT_EQ(call.args[3], sizeof(PassThroughBlock));
    EXPECT_EQ(call.args[4], call.args[5]) << "the block is both input and output";
    EXPECT_EQ(call.args[7], 0u) << "no overlapped I/O";

    // The block as sent, compared with one built from the published layout.
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
    EXPECT_EQ(std::memcmp(call.record.data(), &expected, sizeof expected), 0)
        << "PathId, TargetId and Lun stay 0 and everything else is zero-filled";
    if (sizeof(void*) == 4) {
        EXPECT_EQ(expected.sptd.Length, 44);
        EXPECT_EQ(expected.sptd.SenseInfoOffset, 48u);
        EXPECT_EQ(sizeof expected, 80u);
    }
}

TEST_F(PassThroughTransport, FailureIsRetriedOnceAfterCloseAndReopen) {
    scripted::script().open_results = {kReopened};
    int sent = 0;
    // CHECK CONDITION first, then GOOD.
    scripted::script().pass_through = [&sent](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, static_cast<std::uint8_t>(++sent == 1 ? 2 : 0), {}};
    };
    ASSERT_EQ(exec(), 1);

    ASSERT_EQ(calls().size(), 4u);
    EXPECT_EQ(calls()[0].function, "DeviceIoControl");
    EXPECT_EQ(calls()[1].function, "CloseHandle");
    EXPECT_EQ(calls()[1].args[0], reinterpret_cast<std::uintptr_t>(kDrive));
    const scripted::Call& reopen = calls()[2];
    ASSERT_EQ(reopen.function, "CreateFileA");
    EXPECT_EQ(reopen.text, "\\\\.\\E:") << "the current drive's letter";
    EXPECT_EQ(reopen.args, (std::vector<std::uintptr_t>{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0,
                                                          OPEN_EXISTING, 0, 0}));
    const scripted::Call& resend = calls()[3];
    ASSERT_EQ(resend.function, "DeviceIoControl");
    EXPECT_EQ(resend.args[0], reinterpret_cast<std::uintptr_t>(kReopened));
    EXPECT_EQ(resend.args[4], calls()[0].args[4]) << "the same block";

    // Resent as it was first sent: the failed call wrote its status and a transfer length of 0 into
    // the block, and a resend of that would succeed without transferring anything.
    auto first = record_of<PassThroughBlock>(calls()[0]);
    auto second = record_of<PassThroughBlock>(resend);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
    EXPECT_EQ(second.sptd.DataTransferLength, sizeof buffer_);
    EXPECT_EQ(device_handle, kReopened);
}

TEST_F(PassThroughTransport, NonZeroScsiStatusIsFailure) {
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, 2, {}};
    };
    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(calls_to("DeviceIoControl").size(), 2u);
    EXPECT_EQ(calls_to("CreateFileA").size(), 1u);
}

TEST_F(PassThroughTransport, FailedReopenLeavesInvalidHandleAndNextCommandTriesAgain) {
    scripted::script().open_results = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{FALSE, 0, {}};
    };
    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(device_handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(calls_to("DeviceIoControl")[1].args[0], reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE));

    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(calls_to("CloseHandle").size(), 1u) << "an invalid handle is not closed";
    EXPECT_EQ(calls_to("CreateFileA").size(), 2u);
    EXPECT_EQ(calls_to("DeviceIoControl").size(), 4u);
}

class AspiTransport : public CdifTest {
protected:
    void SetUp() override {
        CdifTest::SetUp();
        use_scripted_aspi_layer();
    }
    // Host adapter 0x103: only its low byte is an adapter number.
    int exec() { return CDIF_ExecCommand(buffer_, sizeof buffer_, 0x103, 4, 5, kReadCd, sizeof kReadCd); }
    alignas(16) std::uint8_t buffer_[2352] = {};
};

TEST_F(AspiTransport, FillsTheRequestAndDoesNotWaitForImmediateCompletion) {
    ASSERT_EQ(exec(), 1);
    auto events = calls_to("CreateEventA");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].args, (std::vector<std::uintptr_t>{0, TRUE, FALSE, 0})) << "manual reset, not signalled";
    std::uintptr_t event = events[0].result;

    auto sent = calls_to("SendASPI32Command");
    ASSERT_EQ(sent.size(), 1u);
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
    expected.SRB_PostProc = reinterpret_cast<void*>(event);
    std::memcpy(expected.CDBByte, kReadCd, sizeof kReadCd);
    ASSERT_EQ(sent[0].record.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(sent[0].record.data(), &expected, sizeof expected), 0);

    EXPECT_TRUE(calls_to("WaitForSingleObject").empty());
    auto closed = calls_to("CloseHandle");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].args[0], event);
}

TEST_F(AspiTransport, PendingRequestIsWaitedForWithoutLimitThenEventClosed) {
    scripted::script().aspi_exec = [](const SRB_ExecSCSICmd&) {
        return scripted::AspiReply{SS_PENDING, SS_COMP, {0x5A}, true};
    };
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[0], 0x5A);
    std::uintptr_t event = calls_to("CreateEventA")[0].result;
    auto waits = calls_to("WaitForSingleObject");
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].args, (std::vector<std::uintptr_t>{event, INFINITE}));
    ASSERT_EQ(calls().back().function, "CloseHandle");
    EXPECT_EQ(calls().back().args[0], event);
}

TEST_F(AspiTransport, OnlyStatusOneIsSuccessAndNothingIsRetried) {
    const std::uint8_t statuses[] = {SS_PENDING, SS_COMP, 0x02, SS_ERR, 0x80, 0xE8};
    for (std::uint8_t status : statuses) {
        for (DWORD returned : {SS_COMP, SS_ERR}) {
            scripted::reset();
            use_scripted_aspi_layer();
            scripted::script().aspi_exec = [=](const SRB_ExecSCSICmd&) {
                return scripted::AspiReply{returned, status, {}, true};
            };
            EXPECT_EQ(exec(), status == SS_COMP ? 1 : 0) << "SRB_Status " << int{status} << ", returned " << returned;
            EXPECT_EQ(calls_to("SendASPI32Command").size(), 1u);
        }
    }
}

// The sense of the last failed command, on both transports, whatever the sense format.
TEST_F(AspiTransport, LastFailureSenseIsKeptOnBothTransports) {
    using Sense = std::vector<std::uint8_t>;
    const Sense fixed = {0xF0, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x64, 0x00};
    const Sense descriptor = {0x72, 0x03, 0x11, 0x05};
    struct Case {
        bool pass_through;
        BOOL call_works;
        Sense sense;
        CommandSense expected;
    } cases[] = {
        {true, TRUE, fixed, {5, 0x64, 0}}, {true, TRUE, descriptor, {3, 0x11, 5}},
        {true, FALSE, fixed, {0, 0, 0}},   {true, TRUE, {0x00, 0, 0x05}, {0, 0, 0}},  // not sense data
        {false, TRUE, fixed, {5, 0x64, 0}}, {false, TRUE, {}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        scripted::reset();
        use_scripted_aspi_layer();
        use_spti = c.pass_through ? 1 : 0;
        last_failure_sense = {9, 9, 9};
        scripted::script().failure_sense = c.sense;
        scripted::script().pass_through = [&c](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
            return scripted::PassThroughReply{c.call_works, 2, {}};
        };
        scripted::script().aspi_exec = [](const SRB_ExecSCSICmd&) { return scripted::AspiReply{SS_COMP, SS_ERR, {}, true}; };
        EXPECT_EQ(exec(), 0);
        const CommandSense& kept = last_failure_sense;
        EXPECT_EQ((Sense{kept.key, kept.asc, kept.ascq}), (Sense{c.expected.key, c.expected.asc, c.expected.ascq}))
            << "pass-through " << c.pass_through << ", sense of " << c.sense.size() << " bytes";
    }
    scripted::script().aspi_exec = nullptr;
    last_failure_sense = {5, 0x64, 0};
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(last_failure_sense.asc, 0x64) << "a command that works leaves the last failure's sense";
}

TEST_F(AspiTransport, NoEventNoCommand) {
    scripted::script().event_creation_fails = true;
    EXPECT_EQ(exec(), 0);
    EXPECT_TRUE(calls_to("SendASPI32Command").empty());
}

}  // namespace
