#include "sector.h"

#include <algorithm>
#include <cstring>

namespace disc_image {
namespace {

constexpr std::uint8_t kSelectSync = 0x80;
constexpr std::uint8_t kSelectHeader = 0x20;
constexpr std::uint8_t kSelectSubheader = 0x40;
constexpr std::uint8_t kSelectUserData = 0x10;
constexpr std::uint8_t kSelectEdcEcc = 0x08;
constexpr std::uint8_t kSubmodeForm2 = 0x20;

struct Field {
    std::uint8_t selector;
    std::size_t begin, end;
};

// The fields of a data sector of this form, in sector order.
std::span<const Field> fields_of(SectorForm form) {
    static constexpr Field mode1[] = {
        {kSelectSync, 0, 12}, {kSelectHeader, 12, 16}, {kSelectUserData, 16, 2064}, {kSelectEdcEcc, 2064, 2352}};
    static constexpr Field form1[] = {{kSelectSync, 0, 12},
                                      {kSelectHeader, 12, 16},
                                      {kSelectSubheader, 16, 24},
                                      {kSelectUserData, 24, 2072},
                                      {kSelectEdcEcc, 2072, 2352}};
    static constexpr Field form2[] = {{kSelectSync, 0, 12},
                                      {kSelectHeader, 12, 16},
                                      {kSelectSubheader, 16, 24},
                                      {kSelectUserData, 24, 2348},
                                      {kSelectEdcEcc, 2348, 2352}};
    switch (form) {
    case SectorForm::mode1: return mode1;
    case SectorForm::mode2_form1: return form1;
    case SectorForm::mode2_form2: return form2;
    case SectorForm::audio: break;
    }
    return {};
}

}  // namespace

Msf lba_to_msf(std::int32_t lba) {
    auto a = static_cast<std::uint32_t>(lba + kLbaTimeOffset);
    return {static_cast<std::uint8_t>(a / (60 * kFramesPerSecond)), static_cast<std::uint8_t>(a / kFramesPerSecond % 60),
            static_cast<std::uint8_t>(a % kFramesPerSecond)};
}

SectorForm mode2_form(ConstRawSector raw) {
    return (raw[18] & kSubmodeForm2) != 0 ? SectorForm::mode2_form2 : SectorForm::mode2_form1;
}

void write_sync_and_header(RawSector raw, std::int32_t lba, int mode) {
    raw[0] = 0x00;
    std::fill(raw.begin() + 1, raw.begin() + 11, 0xFF);
    raw[11] = 0x00;
    auto a = lba + kLbaTimeOffset;
    raw[12] = to_bcd(a / (60 * kFramesPerSecond) % 100);
    raw[13] = to_bcd(a / kFramesPerSecond % 60);
    raw[14] = to_bcd(a % kFramesPerSecond);
    raw[15] = static_cast<std::uint8_t>(mode);
}

std::size_t main_channel_size(SectorForm form, std::uint8_t selection) {
    if (form == SectorForm::audio) return (selection & kSelectUserData) != 0 ? kRawSectorSize : 0;
    std::size_t size = 0;
    for (const Field& field : fields_of(form))
        if ((selection & field.selector) != 0) size += field.end - field.begin;
    return size;
}

bool main_channel_selection_legal(SectorForm form, std::uint8_t selection) {
    bool picking = false, gap = false;
    for (const Field& field : fields_of(form)) {
        const bool picked = (selection & field.selector) != 0;
        if (picked && gap) return false;
        gap = gap || (picking && !picked);
        picking = picking || picked;
    }
    return true;
}

std::size_t select_main_channel(SectorForm form, ConstRawSector raw, std::uint8_t selection, std::span<std::uint8_t> out) {
    if (main_channel_size(form, selection) > out.size()) return 0;
    if (form == SectorForm::audio) {
        if ((selection & kSelectUserData) == 0) return 0;
        std::memcpy(out.data(), raw.data(), kRawSectorSize);
        return kRawSectorSize;
    }
    std::size_t written = 0;
    for (const Field& field : fields_of(form)) {
        if ((selection & field.selector) == 0) continue;
        std::memcpy(out.data() + written, raw.data() + field.begin, field.end - field.begin);
        written += field.end - field.begin;
    }
    return written;
}

}  // namespace disc_image
