// CDIF_ExecCommand on both transports: what the request carries, the retry with reopen on the
// pass-through path, what counts as success, and the sense kept from a failure.
#include <tuple>

#include "library_support.h"
#include "sector_reader.h"
#include "tremick.h"

namespace {

using scripted::calls;
using scripted::calls_to;
using Bytes = std::vector<std::uint8_t>;

const std::uint8_t kReadCd[12] = {0xBE, 0x04, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00};
const HANDLE kDrive = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});
const HANDLE kReopened = reinterpret_cast<HANDLE>(std::uintptr_t{0x3000});

scripted::PassThroughHandler replies(std::uint8_t status, BOOL result = TRUE, Bytes data = {}) {
    return [=](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) { return scripted::PassThroughReply{result, status, data}; };
}

scripted::AspiHandler aspi_replies(DWORD returned, std::uint8_t status, Bytes data = {}) {
    return [=](const SRB_ExecSCSICmd&) { return scripted::AspiReply{returned, status, data}; };
}

class Transport : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
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

TEST_F(Transport, PassThroughRequestAndShortReplyZeroFilled) {
    scripted::script().pass_through = replies(0, TRUE, {0xAB, 0xCD});
    std::memset(buffer_, 0x5A, sizeof buffer_);  // what an earlier command left
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[1], 0xCD);
    EXPECT_EQ(std::count(buffer_ + 2, std::end(buffer_), 0), 2350);
    const SCSI_PASS_THROUGH_DIRECT sent = scripted::record_of<PassThroughBlock>(calls().at(0)).sptd;
    EXPECT_EQ(std::tuple(+sent.CdbLength, +sent.DataTransferLength, +sent.TimeOutValue), std::tuple(12, 2352u, 15u));
    EXPECT_EQ(std::memcmp(sent.Cdb, kReadCd, sizeof kReadCd), 0);
}

// A failed command is sent once more, as it was built, to the drive opened afresh.
TEST_F(Transport, PassThroughFailureIsResentOnceAsBuiltAfterReopening) {
    scripted::script().open_results = {kReopened};
    int sent = 0;  // CHECK CONDITION first, then GOOD
    scripted::script().pass_through = [&sent](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, static_cast<std::uint8_t>(++sent == 1 ? 2 : 0)};
    };
    ASSERT_EQ(exec(), 1);
    std::vector<std::string> order;
    for (const auto& call : calls()) order.push_back(call.function);
    ASSERT_EQ(order, (std::vector<std::string>{"DeviceIoControl", "CloseHandle", "CreateFileA", "DeviceIoControl"}));
    EXPECT_EQ(calls()[1].args[0], reinterpret_cast<std::uintptr_t>(kDrive));
    EXPECT_EQ(calls()[2].text, "\\\\.\\E:") << "the current drive's letter";
    EXPECT_EQ(calls()[2].args,
              (std::vector<std::uintptr_t>{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0}));
    EXPECT_EQ(calls()[3].args[0], reinterpret_cast<std::uintptr_t>(kReopened));
    // The failed call wrote a transfer length of 0 into the block; a resend of that would "succeed".
    EXPECT_EQ(calls()[0].record, calls()[3].record);
}

TEST_F(Transport, FailedReopenIsNotClosedAndTheNextCommandOpensAgain) {
    scripted::script().open_results = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    scripted::script().pass_through = replies(0, FALSE);
    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(exec(), 0);
    EXPECT_EQ(calls_to("CloseHandle").size(), 1u);
    EXPECT_EQ(calls_to("CreateFileA").size(), 2u);
}

// A pending request is waited for without limit on its own manual-reset event, closed afterwards.
TEST_F(Transport, AspiRequestReachesTheUnitAndWaitsForItsEvent) {
    use_spti = 0;
    SRB_ExecSCSICmd sent{};
    scripted::script().aspi_exec = [&sent](const SRB_ExecSCSICmd& request) {
        sent = request;
        return scripted::AspiReply{SS_PENDING, SS_COMP, {0x5A}};
    };
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[0], 0x5A);
    EXPECT_EQ(std::tuple(+sent.SRB_HaId, +sent.SRB_Target, +sent.SRB_Lun, +sent.SRB_BufLen, +sent.SRB_CDBLen),
              std::tuple(3, 4, 5, 2352u, 12));
    EXPECT_EQ(std::memcmp(sent.CDBByte, kReadCd, sizeof kReadCd), 0);
    EXPECT_EQ(calls_to("CreateEventA").at(0).args[1], std::uintptr_t{TRUE});
    EXPECT_EQ(calls_to("WaitForSingleObject").at(0).args[1], INFINITE);
    EXPECT_EQ(calls().back().args, (std::vector<std::uintptr_t>{reinterpret_cast<std::uintptr_t>(sent.SRB_PostProc)}));
}

TEST_F(Transport, AspiSuccessIsStatusOneOnlyAndNothingIsRetried) {
    use_spti = 0;
    for (DWORD status : {SS_PENDING, SS_COMP, 0x02u, SS_ERR, 0x80u, SS_NO_ADAPTERS}) {
        for (DWORD returned : {SS_COMP, SS_ERR}) {
            scripted::reset();
            scripted::script().aspi_exec = aspi_replies(returned, static_cast<std::uint8_t>(status));
            EXPECT_EQ(exec(), status == SS_COMP ? 1 : 0) << "SRB_Status " << status << ", returned " << returned;
            EXPECT_EQ(calls_to("SendASPI32Command").size(), 1u);
        }
    }
}

// The sense of the last failed command, on both transports, whatever the sense format.
TEST_F(Transport, LastFailureSenseIsKeptOnBothTransports) {
    const Bytes fixed = {0xF0, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x64, 0x00};
    const Bytes descriptor = {0x72, 0x03, 0x11, 0x05};
    struct Case {
        bool pass_through;
        BOOL call_works;
        Bytes sense, expected;
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
        scripted::script().aspi_exec = aspi_replies(SS_COMP, SS_ERR);
        EXPECT_EQ(exec(), 0);
        const CommandSense& kept = last_failure_sense;
        EXPECT_EQ((Bytes{kept.key, kept.asc, kept.ascq}), c.expected) << c.pass_through << ", " << c.sense.size();
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
    data_sector_buffer = transfer;
    scripted::script().aspi_exec = aspi_replies(SS_COMP, SS_COMP, {0x77});
    for (int lun : {2, 7}) {
        std::uint8_t sector[kDataSectorSize] = {};
        selected_device = {1, 3, lun};
        read_data_sectors(sector, 100, 1);
        EXPECT_EQ(sector[0], 0x77) << lun;
    }
}

}  // namespace
