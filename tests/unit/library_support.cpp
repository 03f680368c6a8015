#include "library_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

void reset_library_state() {
    use_spti = 0;
    device_handle = INVALID_HANDLE_VALUE;
    current_drive = 0;
    std::fill(std::begin(drive_letters), std::end(drive_letters), 0);
    drive_count = 0;
    std::fill(std::begin(aspi_devices), std::end(aspi_devices), AspiDevice{});
    aspi_module = nullptr;
    host_adapter_count = 0;
    client_callback = nullptr;
    get_aspi_support_info = nullptr;
    send_aspi_command = nullptr;
    std::fill(std::begin(toc_entries), std::end(toc_entries), TocEntry{});
    last_track = 0;
    if (toc_listing_file != nullptr) std::fclose(toc_listing_file);
    toc_listing_file = nullptr;
    raw_sector_buffer = nullptr;
    data_sector_buffer = nullptr;
    selected_device = {};
    last_failure_sense = {};
}

void LibraryTest::SetUp() {
    reset_library_state();
    scripted::reset();
}

void InTempDirectory::SetUp() {
    LibraryTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "cdif-unit-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(directory_);
}

void InTempDirectory::TearDown() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(directory_);
}

std::string InTempDirectory::read_file(const std::string& name) const {
    std::ifstream file(directory_ / name, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::vector<std::uint8_t> toc_reply(const std::vector<TrackSpec>& tracks, TrackSpec lead_out) {
    std::size_t count = tracks.size();
    std::size_t data_length = 2 + 8 * (count + 1);
    std::vector<std::uint8_t> reply = {static_cast<std::uint8_t>(data_length >> 8),
                                       static_cast<std::uint8_t>(data_length), 1, static_cast<std::uint8_t>(count)};
    auto add = [&](const TrackSpec& track, std::uint8_t number) {
        auto lba = static_cast<std::uint32_t>(track.lba);
        std::uint8_t adr_control = 0x10 | (track.data ? 0x04 : 0x00);
        reply.insert(reply.end(), {0, adr_control, number, 0, static_cast<std::uint8_t>(lba >> 24),
                                   static_cast<std::uint8_t>(lba >> 16), static_cast<std::uint8_t>(lba >> 8),
                                   static_cast<std::uint8_t>(lba)});
    };
    for (std::size_t i = 0; i < count; ++i) add(tracks[i], static_cast<std::uint8_t>(i + 1));
    add(lead_out, 0xAA);
    return reply;
}

scripted::PassThroughHandler answer_read_toc(std::vector<std::uint8_t> reply) {
    return [reply](HANDLE, const SCSI_PASS_THROUGH_DIRECT& sptd) {
        if (sptd.Cdb[0] != 0x43) return scripted::PassThroughReply{FALSE, 0, {}};
        return scripted::PassThroughReply{TRUE, 0, reply};
    };
}

void use_scripted_aspi_layer() {
    scripted::script().aspi_present = true;
    aspi_module = platform::LoadLibraryA("WNASPI32.DLL");
    send_aspi_command = reinterpret_cast<SendASPI32CommandFunction>(
        reinterpret_cast<void (*)()>(platform::GetProcAddress(aspi_module, "SendASPI32Command")));
    use_spti = 0;
    scripted::reset();
}
