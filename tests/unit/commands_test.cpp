// The commands of the library: CDIF_ExecCommand on both transports (what the request carries, the
// retry with reopen on the pass-through path, what counts as success, the sense kept from a
// failure) and CDIF_ReadTOC (its attempts, the replies it refuses). The read_toc fuzz target
// checks the table and its MSF times against any reply; the program tests compare the listing.
#include <cerrno>
#include <optional>

#include "library_support.h"

int toc_listing_enabled = 0;  // as in the extraction programs

namespace {

using scripted::calls;
using scripted::calls_to;
using Bytes = std::vector<std::uint8_t>;
using Args = std::vector<std::uintptr_t>;

const std::uint8_t kReadCd[12] = {0xBE, 0x04, 0x00, 0x00, 0x12, 0x34, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00};
const HANDLE kDrive = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});

// A well-formed READ TOC reply (format 0, LBA) with audio tracks 1 to n at these addresses, then
// the lead-out.
Bytes toc_reply(const std::vector<std::int32_t>& starts) {
    const std::size_t length = 2 + 8 * starts.size();
    Bytes reply = {std::uint8_t(length >> 8), std::uint8_t(length), 1, std::uint8_t(starts.size() - 1)};
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const auto lba = static_cast<std::uint32_t>(starts[i]);
        const std::uint8_t number = i + 1 < starts.size() ? std::uint8_t(i + 1) : 0xAA;
        reply.insert(reply.end(), {0, 0x10, number, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16),
                                   std::uint8_t(lba >> 8), std::uint8_t(lba)});
    }
    return reply;
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
        drive_count = 2;
    }
    int exec() { return CDIF_ExecCommand(buffer_, sizeof buffer_, 3, 4, 5, kReadCd, sizeof kReadCd); }
    alignas(16) std::uint8_t buffer_[2352] = {};
};

// A failed command is sent once more to the current drive, E:, opened afresh: the block as it was
// built, not as the failed call left it (its status and the bytes transferred written back). What
// the reply leaves unwritten reads as zero, not as what the buffer held.
TEST_F(Transport, PassThroughFailureIsResentOnceAsBuiltAfterReopening) {
    int sent = 0;  // CHECK CONDITION first, then GOOD; two bytes each time
    scripted::script().pass_through = [&sent](HANDLE, auto&) {
        return scripted::PassThroughReply{TRUE, std::uint8_t(++sent == 1 ? 2 : 0), {0xAB, 0xCD}};
    };
    std::memset(buffer_, 0x5A, sizeof buffer_);  // what an earlier command left
    ASSERT_EQ(exec(), 1);
    EXPECT_EQ(buffer_[1], 0xCD);
    EXPECT_EQ(std::count(buffer_ + 2, std::end(buffer_), 0), 2350);
    ASSERT_EQ(calls().size(), 4u);
    EXPECT_EQ(calls()[1].args[0], 0x2000u) << "closed";
    EXPECT_EQ(calls()[2].text, "\\\\.\\E:");
    EXPECT_EQ(calls()[2].args, (Args{GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0}));
    EXPECT_EQ(calls()[3].args[0], 0x1004u) << "sent to the handle just opened";
    EXPECT_EQ(calls()[0].record, calls()[3].record);
    EXPECT_EQ(scripted::record_of<PassThroughBlock>(calls()[3]).sptd.TimeOutValue, 15u) << "seconds";
}

// Only an SRB_Status of SS_COMP is success, whatever the call returned; a pending request is waited
// for without limit, its event closed afterwards; nothing is sent twice. A failure keeps its sense,
// in fixed or descriptor format; a success leaves the last one.
TEST_F(Transport, AspiSuccessIsStatusOneOnlyAndAFailureKeepsItsSense) {
    use_spti = 0;
    const Bytes fixed = {0xF0, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x64, 0x00};
    for (DWORD status : {SS_PENDING, SS_COMP, 0x02u, SS_ERR, 0x80u, SS_NO_ADAPTERS}) {
        for (DWORD returned : {SS_COMP, SS_ERR, SS_PENDING}) {
            scripted::reset();
            scripted::script().aspi_exec = [=](auto&) {
                return scripted::AspiReply{returned, static_cast<std::uint8_t>(status), {0x77}};
            };
            scripted::script().failure_sense = returned == SS_ERR ? Bytes{0x72, 0x05, 0x64, 0x00} : fixed;
            last_failure_sense = {9, 9, 9};
            const bool works = status == SS_COMP;
            EXPECT_EQ(exec(), works ? 1 : 0) << "status " << status << ", returned " << returned;
            EXPECT_EQ(buffer_[0], 0x77);
            const CommandSense& kept = last_failure_sense;
            EXPECT_EQ(std::pair(+kept.key, +kept.asc), works ? std::pair(9, 9) : std::pair(5, 0x64));
            EXPECT_EQ(calls_to("SendASPI32Command").size(), 1u);
            for (const auto& wait : calls_to("WaitForSingleObject")) EXPECT_EQ(wait.args[1], INFINITE);
            EXPECT_EQ(calls().back().function, "CloseHandle");
        }
    }
}

// A disc or drive is gone by the sense of either attempt or by a reopen that fails for want of
// the device (or for no reason given, as on Windows), kept even when the resend then succeeds,
// which after a removal means another disc. Read errors, transport failures and a reopen refused
// for rights are not. ASPI keeps the one attempt's sign alike.
TEST_F(Transport, TheDiscOrDriveGoneIsKeptWhateverTheResendDoes) {
    const Bytes not_present = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
    const Bytes read_error = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
    const Bytes changed = {0x72, 0x06, 0x28, 0x00}, removed = {0x72, 0x06, 0x3A, 0x02}, good = {};
    const std::optional<Bytes> failed;  // an attempt: the call fails, or the sense (none: GOOD)
    const std::tuple<const char*, std::optional<Bytes>, int, std::optional<Bytes>, int, int> cases[] = {
        // first attempt, errno of the reopen, resend; result, drive_gone
        {"ejected", not_present, 0, not_present, 0, kDiscRemoved},
        {"swapped", not_present, 0, good, 1, kDiscChanged},
        {"medium changed", changed, 0, good, 1, kDiscChanged},
        {"medium removed", removed, 0, failed, 0, kDiscRemoved},
        {"removed on the resend", failed, 0, not_present, 0, kDiscRemoved},
        {"unplugged", failed, ENOENT, failed, 0, kDriveUnreachable},
        {"gone on Windows", read_error, scripted::kNoReason, failed, 0, kDriveUnreachable},
        {"rights", failed, EACCES, failed, 0, kDriveThere},
        {"bad sector", read_error, 0, read_error, 0, kDriveThere},
        {"timeout", failed, 0, good, 1, kDriveThere},
    };
    for (const auto& [what, first, reopen, resend, result, gone] : cases) {
        scripted::reset();
        drive_gone = drive_gone_error = 0;
        int sent = 0;
        scripted::script().pass_through = [&, first = first, resend = resend](HANDLE, auto&) {
            const std::optional<Bytes>& attempt = ++sent == 1 ? first : resend;
            scripted::script().failure_sense = attempt.value_or(Bytes{});
            return scripted::PassThroughReply{attempt.has_value(), std::uint8_t(attempt && !attempt->empty() ? 2 : 0)};
        };
        scripted::script().open_error = [reopen = reopen](std::string_view) { return reopen; };
        EXPECT_EQ(exec(), result) << what;
        EXPECT_EQ(drive_gone, gone) << what;
        EXPECT_EQ(drive_gone_error, gone == kDriveUnreachable && reopen == ENOENT ? ENOENT : 0) << what;
    }
    use_spti = 0;
    scripted::script().aspi_exec = [](auto&) { return scripted::AspiReply{SS_COMP, SS_ERR}; };
    for (const auto& [sense, gone] : {std::pair{read_error, kDriveThere}, {not_present, kDiscRemoved}}) {
        scripted::script().failure_sense = sense;
        EXPECT_EQ(std::pair(exec(), drive_gone), std::pair(0, +gone));
    }
}

using TableOfContents = Transport;

// Replies that do not hold what their last track number implies, or whose addresses do not rise
// strictly within a CD, are failed attempts that keep the earlier table: with the sanitizers, any
// read beyond the reply or the table shows up here. The third attempt may still succeed.
TEST_F(TableOfContents, HostileRepliesAreFailedAttempts) {
    std::vector<std::int32_t> hundred(101);
    for (int i = 0; i <= 100; ++i) hundred[i] = i * 1000;
    Bytes one_byte_short = toc_reply({0, 500, 900});
    one_byte_short[1] -= 1;
    const std::pair<const char*, Bytes> cases[] = {
        {"empty reply", {}},
        {"one byte short", one_byte_short},
        {"4 bytes claiming 99 tracks", {0x03, 0x22, 0x01, 0x63}},
        {"100 tracks, each well-formed", toc_reply(hundred)},
        {"lead-out past 100:00:00", toc_reply({0, 449851})},
        {"track at -150", toc_reply({-150, 1000})},
        {"two tracks at one address", toc_reply({0, 500, 500, 900})},
    };
    for (const auto& [what, reply] : cases) {
        scripted::reset();
        last_track = 2;
        toc_entries[3] = {2000, 0};
        scripted::script().pass_through = [bytes = reply](HANDLE, auto&) {
            return scripted::PassThroughReply{TRUE, 0, bytes};
        };
        EXPECT_EQ(CDIF_ReadTOC(), 0) << what;
        EXPECT_EQ(calls_to("DeviceIoControl").size(), 3u) << what << ": three attempts, each GOOD";
        EXPECT_EQ(std::pair(last_track, CDIF_GetTrackLBA(3)), std::pair(2, 2000)) << what;
    }
    int attempts = 0;
    scripted::script().pass_through = [&](HANDLE, auto&) {
        return scripted::PassThroughReply{TRUE, 0, ++attempts < 3 ? Bytes{} : toc_reply({0, 400, 1000})};
    };
    EXPECT_EQ(CDIF_ReadTOC(), 1);
    EXPECT_EQ(std::pair(last_track, CDIF_GetTrackLBA(3)), std::pair(2, 1000));
}

}  // namespace
