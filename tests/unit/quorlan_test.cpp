// quorlan's start-up and exit status over the scripted platform: the program is start_up() with
// the listing switch on, so these cases run exactly what its main runs. What it does on a Linux
// drive list the program tests show; here is the ASPI layer, and what only a scripted system does.
#include "library_support.h"
#include "startup.h"

int toc_listing_enabled = 1;

namespace {

using scripted::calls_to;

class Quorlan : public InTempDirectory {
protected:
    void SetUp() override {
        InTempDirectory::SetUp();
        scripted::add_drive('D', DRIVE_CDROM);
    }
    int run() {
        testing::internal::CaptureStdout();
        int status = start_up();
        output_ = testing::internal::GetCapturedStdout();
        return status;
    }
    void windows_9x() {
        scripted::script().platform_id = VER_PLATFORM_WIN32_WINDOWS;
        scripted::script().aspi_present = true;
        scripted::script().support_info = 0x0101;  // SS_COMP, one host adapter
        scripted::script().host_adapters = {{SS_COMP, 7}};
    }
    std::string output_;
};

TEST_F(Quorlan, MissingAspiLayerExitsZeroWithItsMessageAlone) {
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
        windows_9x();
        scripted::script().aspi_present = c.module;
        scripted::script().has_support_info = c.support_info;
        scripted::script().has_send_command = c.send_command;
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(output_, c.message);
        EXPECT_EQ(calls_to("LoadLibraryA").at(0).text, "WNASPI32.DLL");
        EXPECT_TRUE(calls_to("GetASPI32SupportInfo").empty());
        EXPECT_TRUE(calls_to("CreateFileA").empty());
        EXPECT_FALSE(std::filesystem::exists("TOC"));
    }
}

TEST_F(Quorlan, AspiScanListsTheTableOfTheDeviceFoundOrExitsOne) {
    windows_9x();
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(drive_count, 0) << "no CD-ROM device";
    EXPECT_FALSE(std::filesystem::exists("TOC"));

    reset_library_state();
    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    windows_9x();
    auto reply = toc_reply({{0}}, {1000});
    scripted::script().aspi_exec = [reply](const SRB_ExecSCSICmd& request) {
        if (request.CDBByte[0] == 0x12 && request.SRB_Target == 4) return scripted::AspiReply{SS_COMP, SS_COMP, {5}, true};
        if (request.CDBByte[0] == 0x43 && request.SRB_Target == 4) return scripted::AspiReply{SS_COMP, SS_COMP, reply, true};
        return scripted::AspiReply{SS_ERR, SS_ERR, {}, true};
    };
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(read_file("TOC"), "Track 01 Audio 00:02:00 LBA=000000\r\nTrack 02 Audio 00:15:25 LBA=001000\r\n");
}

TEST_F(Quorlan, ListingThatCannotBeCreatedIsReportedAndExitsOne) {
    std::filesystem::create_directory("TOC");
    scripted::script().pass_through = answer_read_toc(toc_reply({{0}}, {1000}));
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(output_, "TOC could not be created; the table of contents was not written.\n");
    EXPECT_TRUE(std::filesystem::is_directory("TOC"));
}

TEST_F(Quorlan, PlatformVersionChoosesTheTransport) {
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(calls_to("GetVersionExA").at(0).args[0], 148u);
    EXPECT_EQ(use_spti, 1);

    // A version query that fails means a system outside the Windows 9x family.
    reset_library_state();
    scripted::reset();
    scripted::add_drive('D', DRIVE_CDROM);
    windows_9x();
    scripted::script().version_result = FALSE;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(use_spti, 1);
    EXPECT_TRUE(calls_to("LoadLibraryA").empty());
}

}  // namespace
