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

scripted::PassThroughHandler replies(std::uint8_t status, BOOL result = TRUE, Bytes data = {}) {
    return [=](HANDLE, auto&) { return scripted::PassThroughReply{result, status, data}; };
}

scripted::AspiHandler aspi_replies(DWORD returned, std::uint8_t status, Bytes data = {}) {
    return [=](auto&) { return scripted::AspiReply{returned, status, data}; };
}

class Transport : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        send_aspi_command = scripted::send_command;
        use_spti = 1;
        device_handle = kDrive;
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

// A failed command is sent once more to the current drive, E:, opened afresh: the block as it was
// built, not as the failed call left it (a transfer length of 0, which would "succeed").
TEST_F(Transport, PassThroughFailureIsResentOnceAsBuiltAfterReopening) {
    scripted::script().open_results = {reinterpret_cast<HANDLE>(std::uintptr_t{0x3000})};
    int sent = 0;  // CHECK CONDITION first, then GOOD
    scripted::script().pass_through = [&sent](HANDLE, auto&) {
        return scripted::PassThroughReply{TRUE, static_cast<std::uint8_t>(++sent == 1 ? 2 : 0)};
    };
    ASSERT_EQ(exec(), 1);
    ASSERT_EQ(calls().size(), 4u);
    EXPECT_EQ(calls()[1].args[0], 0x2000u) << "closed";
    EXPECT_EQ(calls()[2].text, "\\\\.\\E:");
    EXPECT_EQ(calls()[2].args,
              (std::vector<std::uintptr_t>{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0}));
    EXPECT_EQ(calls()[3].args[0], 0x3000u);
    EXPECT_EQ(calls()[0].record, calls()[3].record);
}

// A pending request is waited for without limit on its own event, closed afterwards.
TEST_F(Transport, AspiRequestReachesTheUnitAndWaitsForItsEvent) {
    use_spti = 0;
    scripted::script().aspi_exec = [](const SRB_ExecSCSICmd& request) {
        const bool addressed = request.SRB_HaId == 3 && request.SRB_Target == 4 && request.SRB_Lun == 5;
        return scripted::AspiReply{SS_PENDING, SS_COMP, {std::uint8_t(addressed ? 0x5A : 0)}};
    };
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[0], 0x5A);
    const std::uintptr_t event = calls_to("WaitForSingleObject").at(0).args[0];
    EXPECT_EQ(calls_to("WaitForSingleObject").at(0).args[1], INFINITE);
    EXPECT_EQ(calls().back().args, std::vector<std::uintptr_t>{event}) << "closed";
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

// The sense of the last failed command, on both transports, whatever the sense format; a command
// that works leaves it.
TEST_F(Transport, LastFailureSenseIsKeptOnBothTransports) {
    const Bytes fixed = {0xF0, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x64, 0x00};
    const std::tuple<bool, BOOL, Bytes, Bytes> cases[] = {  // pass-through, call works, sense, what is kept
        {true, TRUE, {0x72, 0x03, 0x11, 0x05}, {3, 0x11, 5}}, {true, FALSE, fixed, {0, 0, 0}},
        {true, TRUE, {0x00, 0, 0x05}, {0, 0, 0}},  // not sense data
        {false, TRUE, fixed, {5, 0x64, 0}},        {false, TRUE, {}, {0, 0, 0}},
    };
    for (const auto& [pass_through, call_works, sense, expected] : cases) {
        scripted::reset();
        use_spti = pass_through ? 1 : 0;
        last_failure_sense = {9, 9, 9};
        scripted::script().failure_sense = sense;
        scripted::script().pass_through = replies(2, call_works);
        scripted::script().aspi_exec = aspi_replies(SS_COMP, SS_ERR);
        EXPECT_EQ(exec(), 0);
        const CommandSense& kept = last_failure_sense;
        EXPECT_EQ((Bytes{kept.key, kept.asc, kept.ascq}), expected) << pass_through << ", " << sense.size();
    }
    scripted::script().aspi_exec = nullptr;
    last_failure_sense = {5, 0x64, 0};
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(last_failure_sense.asc, 0x64);
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
