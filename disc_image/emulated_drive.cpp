// Placeholder: every drive is a drive without a disc.
#include "emulated_drive.h"

namespace disc_image {
namespace {
class NoDisc final : public EmulatedDrive {
public:
    bool can_open() const override { return true; }
    CommandReply execute(std::span<const std::uint8_t>, std::span<std::uint8_t>) override {
        CommandReply reply;
        reply.status = kStatusCheckCondition;
        reply.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
        return reply;
    }
};
}  // namespace

std::unique_ptr<EmulatedDrive> EmulatedDrive::from_entry(const std::string&) { return std::make_unique<NoDisc>(); }

bool is_emulated_entry(const std::string& entry) {
    return entry == "empty" || entry.ends_with(".cue") || entry.ends_with(".iso");
}
}  // namespace disc_image
