#include "mmc_drive.h"

#include <algorithm>
#include <cstring>

namespace disc_image {

struct MmcDrive::Command {
    std::uint8_t opcode;
    std::uint8_t cdb_length;
    bool needs_medium;
    std::uint8_t allocation_offset;  // where the allocation length is; 0: the command has none
    std::uint8_t allocation_size;
    Handler handler;
};

const MmcDrive::Command* MmcDrive::find_command(std::uint8_t opcode) {
    static constexpr Command kCommands[] = {
        {0x00, 6, true, 0, 0, &MmcDrive::test_unit_ready},
        {0x03, 6, false, 4, 1, &MmcDrive::request_sense},
        {0x12, 6, false, 3, 2, &MmcDrive::inquiry},
        {0x28, 10, true, 0, 0, &MmcDrive::read10},
        {0x43, 10, true, 7, 2, &MmcDrive::read_toc},
        {0xBE, 12, true, 0, 0, &MmcDrive::read_cd},
    };
    for (const Command& command : kCommands)
        if (command.opcode == opcode) return &command;
    return nullptr;
}

CommandReply MmcDrive::execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data_in) {
    CommandReply reply = dispatch(cdb, data_in);
    // As a drive does, the sense of a CHECK CONDITION is kept for a REQUEST SENSE that follows;
    // the next command to end well, that REQUEST SENSE included, clears it.
    if (reply.status == kStatusCheckCondition) last_sense_ = reply.sense;
    else last_sense_.reset();
    return reply;
}

CommandReply MmcDrive::dispatch(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data_in) {
    const Command* command = cdb.empty() ? nullptr : find_command(cdb[0]);
    if (command == nullptr) return check_condition(kInvalidOpcode);
    if (cdb.size() < command->cdb_length) return check_condition(kInvalidFieldInCdb);
    // The drive is logical unit 0 of its target: a command whose LUN bits (byte 1, bits 5 to 7)
    // name another unit is not for it.
    if ((cdb[1] >> 5) != 0) return check_condition(kLogicalUnitNotSupported);
    if (command->needs_medium && faults_.spinning_up()) return check_condition(kBecomingReady);
    if (command->needs_medium && !disc_) return check_condition(kMediumNotPresent);

    Request request{cdb, data_in, {}, 0, false};
    if (Outcome failed = (this->*command->handler)(request))
        return check_condition(failed->sense, failed->information, request.transferred);
    CommandReply reply;
    if (command->allocation_size > 0) {
        std::size_t allocation = get_be(cdb, command->allocation_offset, command->allocation_size);
        std::size_t sent = std::min(request.reply.size(), allocation);
        std::size_t length = std::min(sent, data_in.size());
        if (length > 0) std::memcpy(data_in.data(), request.reply.data(), length);
        reply.data_length = static_cast<std::uint32_t>(length);
        reply.overrun = sent > length;
    } else {
        reply.data_length = request.transferred;
        reply.overrun = request.overrun;
    }
    return reply;
}

MmcDrive::Outcome MmcDrive::test_unit_ready(Request&) { return std::nullopt; }

MmcDrive::Outcome MmcDrive::request_sense(Request& request) {
    if ((request.cdb[1] & 0x01) != 0) return Failure{kInvalidFieldInCdb, std::nullopt};  // descriptor format
    auto data = last_sense_ ? *last_sense_ : fixed_sense(disc_ ? kNoSense : kMediumNotPresent);
    request.reply.assign(data.begin(), data.end());
    return std::nullopt;
}

MmcDrive::Outcome MmcDrive::inquiry(Request& request) {
    // Vital product data pages are not served.
    if ((request.cdb[1] & 0x01) != 0 || request.cdb[2] != 0) return Failure{kInvalidFieldInCdb, std::nullopt};
    std::vector<std::uint8_t>& data = request.reply;
    data = {0x05, 0x80, 0x05, 0x02, 31, 0x00, 0x00, 0x00};  // CD-ROM, removable, SPC-3, 36 bytes
    for (const char* text : {"CDIF    ", "EMULATED CD-ROM ", "1.0 "}) data.insert(data.end(), text, text + std::strlen(text));
    return std::nullopt;
}

}  // namespace disc_image
