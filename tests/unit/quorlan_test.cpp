// quorlan's start-up and exit status over the scripted platform: the program is start_up() with
// the listing switch on, so these cases run exactly what its main runs.
#include <cstdio>

#include "library_support.h"
#include "startup.h"

int toc_listing_enabled = 1;

namespace {

using scripted::calls_to;

class Quorlan : public InTempDirectory {
protected:
    int run() {
        testing::internal::CaptureStdout();
        int status = start_up();
        output_ = testing::internal::GetCapturedStdout();
        return status;
    }
    void windows_9x(int adapters) {
        scripted::script().platform_id = VER_PLATFORM_WIN32_WINDOWS;
        scripted::script().aspi_present = true;
        scripted::script().support_info = 0x0100 | adapters;
        scripted::script().host_adapters.assign(adapters, {SS_COMP, 7});
    }
    void earlier_listing() {
        std::FILE* file = std::fopen("TOC", "w");
        std::fputs("earlier\n", file);
        std::fclose(file);
    }
    std::string output_;
};

TEST_F(Quorlan, NoCdromDriveExitsZeroSilently) {
    scripted::add_drive('C', 3);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(output_, "");
    EXPECT_FALSE(std::filesystem::exists("TOC"));
}

TEST_F(Quorlan, MissingAspiLayerExitsZeroWithItsMessage) {
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::script().platform_id = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(output_, "CDIF_Init: \"WNASPI32.DLL\" not found.");

    reset_library_state();
    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    windows_9x(1);
    scripted::script().has_send_command = false;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(output_, "CDIF_Init: DLL function \"SendASPI32Command\" not found.");
}

TEST_F(Quorlan, NoReadableTableExitsOneAndKeepsAnEarlierListing) {
    earlier_listing();
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::add_drive('E', DRIVE_CDROM);
    scripted::script().pass_through = [](HANDLE, const SCSI_PASS_THROUGH_DIRECT&) {
        return scripted::PassThroughReply{TRUE, 2, {}};
    };
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(read_file("TOC"), "earlier\n");
}

TEST_F(Quorlan, AspiScanWithoutCdromDeviceExitsOne) {
    scripted::add_drive('D', DRIVE_CDROM);
    windows_9x(1);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(drive_count, 0);
    EXPECT_FALSE(std::filesystem::exists("TOC"));
}

TEST_F(Quorlan, ListingThatCannotBeCreatedIsReportedAndExitsOne) {
    std::filesystem::create_directory("TOC");
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::script().pass_through = answer_read_toc(toc_reply({{0}}, {1000}));
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(output_, "TOC could not be created; the table of contents was not written.\n");
    EXPECT_TRUE(std::filesystem::is_directory("TOC"));
}

TEST_F(Quorlan, ReadableTableReplacesTheListing) {
    earlier_listing();
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::script().pass_through = answer_read_toc(toc_reply({{0}}, {1000}));
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(read_file("TOC"), "Track 01 Audio 00:02:00 LBA=000000\r\nTrack 02 Audio 00:15:25 LBA=001000\r\n");

    // The same over ASPI, on a scanned device.
    std::filesystem::remove("TOC");
    reset_library_state();
    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    windows_9x(1);
    auto reply = toc_reply({{0}}, {1000});
    scripted::script().aspi_exec = [reply](const SRB_ExecSCSICmd& request) {
        if (request.CDBByte[0] == 0x12 && request.SRB_Target == 4)
            return scripted::AspiReply{SS_COMP, SS_COMP, {5}, true};
        if (request.CDBByte[0] == 0x43) return scripted::AspiReply{SS_COMP, SS_COMP, reply, true};
        return scripted::AspiReply{SS_ERR, SS_ERR, {}, true};
    };
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(std::filesystem::exists("TOC"));
}

TEST_F(Quorlan, PlatformVersionChoosesTheTransport) {
    scripted::add_drive('D', DRIVE_CDROM);
    EXPECT_EQ(run(), 1);
    auto version = calls_to("GetVersionExA");
    ASSERT_EQ(version.size(), 1u);
    EXPECT_EQ(version[0].args[0], 148u);
    EXPECT_EQ(use_spti, 1);

    // A version query that fails means a system outside the Windows 9x family.
    reset_library_state();
    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    scripted::script().version_result = FALSE;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(use_spti, 1);
    EXPECT_TRUE(calls_to("LoadLibraryA").empty());
}

}  // namespace
