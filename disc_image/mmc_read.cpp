// READ(10) and READ CD. Every address, the kind of every track read and the injected faults are
// checked before anything is copied; the Mode 2 form of each sector, and whether READ CD's field
// selection is legal for it, are checked as it is read.
// The data never runs past the caller's buffer.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "mmc_drive.h"

namespace disc_image {
namespace {

constexpr std::uint8_t kUserDataOnly = 0x10;
constexpr std::uint8_t kC2ErrorBits = 0x06;
constexpr std::uint8_t kSubChannelBits = 0x07;

// Whether a track of this mode can hold sectors of the expected type.
bool track_may_hold(TrackMode mode, int expected) { return (traits_of(mode).read_cd_types & read_cd_type_bit(expected)) != 0; }

bool sector_is(SectorForm form, int expected) {
    if (expected == kReadCdMode2Form1) return form == SectorForm::mode2_form1;
    if (expected == kReadCdMode2Form2) return form == SectorForm::mode2_form2;
    return true;
}

}  // namespace

// How a read command wants its sectors: READ(10) takes the 2048 user-data bytes of data sectors,
// READ CD the fields of the main-channel selection of sectors of the expected type.
struct MmcDrive::ReadFormat {
    bool user_data_only;
    int expected;
    std::uint8_t selection;
};

MmcDrive::Outcome MmcDrive::read10(Request& request) {
    std::uint32_t lba = get_be(request.cdb, 2, 4);
    std::uint32_t count = get_be(request.cdb, 7, 2);
    return read_sectors(request, lba, count, {true, kReadCdAnyType, kUserDataOnly});
}

MmcDrive::Outcome MmcDrive::read_cd(Request& request) {
    int expected = (request.cdb[1] >> 2) & 0x07;
    std::uint8_t selection = request.cdb[9];
    // C2 error information and sub-channel data are not served.
    if (expected > kReadCdLastType || (selection & kC2ErrorBits) != 0 || (request.cdb[10] & kSubChannelBits) != 0)
        return Failure{kInvalidFieldInCdb, std::nullopt};
    std::uint32_t lba = get_be(request.cdb, 2, 4);
    std::uint32_t count = get_be(request.cdb, 6, 3);
    return read_sectors(request, lba, count, {false, expected, selection});
}

MmcDrive::Outcome MmcDrive::read_sectors(Request& request, std::uint32_t lba, std::uint32_t count, const ReadFormat& format) {
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t address = lba + i;
        if (address < lba || address > 0x7FFFFFFFu) return Failure{kLbaOutOfRange, address};
        // An injected eject or swap happens when its sector is asked for; the command that asks
        // fails as a drive's would, the disc gone or (for a swap) changed.
        const DiscEvent event = faults_.disc_event(static_cast<std::int32_t>(address));
        if (event == DiscEvent::eject) disc_.reset();
        if (event == DiscEvent::swap) disc_ = std::exchange(other_, std::nullopt);
        if (event != DiscEvent::none) return Failure{event == DiscEvent::eject ? kMediumNotPresent : kMediumMayHaveChanged, std::nullopt};
        const Track* track = disc_->track_at(static_cast<std::int32_t>(address));
        if (track == nullptr) return Failure{kLbaOutOfRange, address};
        bool audio = traits_of(track->mode).header_mode == 0;
        if (format.user_data_only ? audio : !track_may_hold(track->mode, format.expected))
            return Failure{kIllegalModeForTrack, address};
        if (faults_.read_fails(static_cast<std::int32_t>(address))) return Failure{kUnrecoveredReadError, address};
    }

    std::array<std::uint8_t, kRawSectorSize> raw;
    std::array<std::uint8_t, kRawSectorSize> selected;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (request.transferred == request.data_in.size()) {
            request.overrun = true;
            break;
        }
        auto address = static_cast<std::int32_t>(lba + i);
        if (!disc_->read_raw(address, raw)) return Failure{kUnrecoveredReadError, static_cast<std::uint32_t>(address)};
        const TrackModeTraits& traits = traits_of(disc_->track_at(address)->mode);
        SectorForm form = traits.header_mode == 0 ? SectorForm::audio
                          : traits.header_mode == 1 ? SectorForm::mode1
                                                    : mode2_form(raw);
        if (format.user_data_only ? form == SectorForm::mode2_form2 : !sector_is(form, format.expected))
            return Failure{kIllegalModeForTrack, static_cast<std::uint32_t>(address)};
        if (!format.user_data_only && !main_channel_selection_legal(form, format.selection))
            return Failure{kInvalidFieldInCdb, std::nullopt};
        // The sector's data goes straight into data_in; only one that data_in cannot take whole
        // goes through `selected`, to be cut there.
        const std::size_t size = format.user_data_only ? kUserDataSize : main_channel_size(form, format.selection);
        const std::size_t room = request.data_in.size() - request.transferred;
        std::span<std::uint8_t> out = size <= room ? request.data_in.subspan(request.transferred, size) : std::span(selected);
        if (format.user_data_only)
            std::memcpy(out.data(), raw.data() + traits.user_data_offset, kUserDataSize);
        else
            select_main_channel(form, raw, format.selection, out);
        if (size > room) {
            std::memcpy(request.data_in.data() + request.transferred, selected.data(), room);
            request.overrun = true;
        }
        request.transferred += static_cast<std::uint32_t>(std::min(size, room));
    }
    return std::nullopt;
}

}  // namespace disc_image
