// Host side of the drive comparison: for each of QEMU's drives that the guest probe asked, sends
// the same commands of probe_commands.h to the emulated drive serving the ISO image that drive
// held (or no disc), and compares the replies with those the probe recorded. Prints one line per
// drive and command, "pass ..." or "fail ...", and "note ..." lines on where QEMU departs from
// MMC; exits with 1 when any comparison failed.
// Usage: linux_guest_compare <guest report> <drive>=<image.iso or "empty">...
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "emulated_drive.h"
#include "probe_commands.h"

namespace {

using linux_guest::Compare;
using linux_guest::ProbeCommand;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kReadToc = 0x43;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kLeadOutTrack = 0xAA;
constexpr std::uint8_t kLeadOutPoint = 0xA2;  // the raw TOC's entry for the lead-out
constexpr std::uint8_t kFullToc = 2;          // READ TOC format 2, the raw TOC
constexpr std::size_t kRawDescriptorLength = 11;

struct Reply {
    bool carried = false;  // false when the kernel could not carry the command
    unsigned status = 0;
    unsigned key = 0, asc = 0, ascq = 0;
    Bytes data;
};

struct Verdict {
    std::string failure;  // empty when the drives agree
    std::string note;
};

std::string hex(const Bytes& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

std::optional<Bytes> from_hex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    Bytes bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

// The probe's replies of one drive, by command name.
using DriveReplies = std::map<std::string, Reply>;

// Reads the probe's "reply" lines of a guest report, by drive name.
std::map<std::string, DriveReplies> read_guest_replies(const char* path) {
    std::map<std::string, DriveReplies> replies;
    std::ifstream report(path);
    std::string line;
    while (std::getline(report, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string word, drive, name;
        if (!(fields >> word >> drive >> name) || word != "reply") continue;
        Reply reply;
        std::string field;
        std::size_t length = 0;
        bool well_formed = true;
        while (well_formed && fields >> field) {
            if (field.starts_with("transport=")) break;
            reply.carried = true;
            if (std::sscanf(field.c_str(), "status=%x", &reply.status) == 1) continue;
            if (std::sscanf(field.c_str(), "sense=%x/%x/%x", &reply.key, &reply.asc, &reply.ascq) == 3) continue;
            if (std::sscanf(field.c_str(), "length=%zu", &length) == 1) continue;
            auto bytes = field.starts_with("data=") ? from_hex(field.substr(5)) : std::nullopt;
            if (bytes) reply.data = *bytes;
            else well_formed = false;
        }
        if (well_formed && reply.data.size() == length) replies[drive][name] = reply;
    }
    return replies;
}

Reply run_emulated(const ProbeCommand& command, const std::string& image) {
    auto drive = disc_image::EmulatedDrive::from_entry(image);
    Bytes buffer(command.allocation_length, 0);
    disc_image::CommandReply result = drive->execute(linux_guest::cdb_of(command), buffer);
    Reply reply;
    reply.carried = true;
    reply.status = result.status;
    if (result.status == disc_image::kStatusCheckCondition) {
        reply.key = result.sense[2] & 0x0F;
        reply.asc = result.sense[12];
        reply.ascq = result.sense[13];
    }
    buffer.resize(std::min<std::size_t>(result.data_length, buffer.size()));
    reply.data = buffer;
    return reply;
}

// The part of a READ TOC reply that the drive defines: its data length field plus the field
// itself, within the allocation length. The kernel's ATAPI path does not report the residual,
// so the guest's buffer holds the reply followed by the zeros it was filled with.
Bytes defined_toc_bytes(const Reply& reply, std::uint32_t allocation_length) {
    if (reply.status != disc_image::kStatusGood || reply.data.size() < 2) return {};
    std::size_t length = 2u + (reply.data[0] << 8 | reply.data[1]);
    length = std::min({length, reply.data.size(), static_cast<std::size_t>(allocation_length)});
    return {reply.data.begin(), reply.data.begin() + static_cast<std::ptrdiff_t>(length)};
}

// The reply as a line of text, with only the bytes that mean something: none after CHECK
// CONDITION, the defined part of a READ TOC reply, the standard 36 bytes of an INQUIRY reply.
std::string describe(const ProbeCommand& command, const Reply& reply) {
    if (!reply.carried) return "not carried by the kernel";
    char head[64];
    std::snprintf(head, sizeof head, "status %02x sense %02x/%02x/%02x data ", reply.status, reply.key, reply.asc,
                  reply.ascq);
    Bytes shown;
    if (reply.status == disc_image::kStatusGood) {
        shown = reply.data;
        if (command.cdb[0] == kReadToc) shown = defined_toc_bytes(reply, command.allocation_length);
        if (command.cdb[0] == kInquiry && shown.size() > 36) shown.resize(36);
    }
    return head + (shown.empty() ? std::string("(none)") : hex(shown));
}

// Point A2 of a raw TOC reply (11-byte descriptors after a 4-byte header): its ADR/control byte
// and its PMIN, PSEC and PFRAME.
std::optional<Bytes> raw_toc_lead_out(const Bytes& raw) {
    for (std::size_t at = 4; at + kRawDescriptorLength <= raw.size(); at += kRawDescriptorLength)
        if (raw[at + 3] == kLeadOutPoint) return Bytes{raw[at + 1], raw[at + 8], raw[at + 9], raw[at + 10]};
    return std::nullopt;
}

// Whether two format 0 replies of equal length differ outside the lead-out descriptor's
// ADR/control byte; sets lead_out_differs when that byte differs.
bool differ_elsewhere(const Bytes& a, const Bytes& b, bool& lead_out_differs) {
    bool elsewhere = false;
    lead_out_differs = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        bool lead_out_control = i >= 4 && (i - 4) % 8 == 1 && i + 1 < a.size() && a[i + 1] == kLeadOutTrack &&
                                b[i + 1] == kLeadOutTrack;
        (lead_out_control ? lead_out_differs : elsewhere) = true;
    }
    return elsewhere;
}

Verdict compare_toc(const ProbeCommand& command, const Reply& guest, const Reply& emulated,
                    std::optional<std::uint8_t> qemu_raw_lead_out_control) {
    const Bytes qemu = defined_toc_bytes(guest, command.allocation_length);
    const std::string both = "QEMU replied " + hex(qemu) + ", the emulated drive " + hex(emulated.data);
    if (defined_toc_bytes(emulated, command.allocation_length) != emulated.data)
        return {"the emulated drive transferred " + std::to_string(emulated.data.size()) +
                    " bytes, not what its data length field and the allocation length give",
                ""};
    if (qemu.size() != emulated.data.size()) return {both, ""};
    bool lead_out_differs = false;
    if (differ_elsewhere(qemu, emulated.data, lead_out_differs)) return {both, ""};
    if (!lead_out_differs) return {};
    // QEMU's format 0 lead-out control contradicts its own raw TOC; the emulated drive must agree
    // with the raw TOC, which is where MMC takes the format 0 reply from.
    auto lead_out_control = [](const Bytes& reply) {
        for (std::size_t i = 5; i + 1 < reply.size(); i += 8)
            if (reply[i + 1] == kLeadOutTrack) return reply[i];
        return std::uint8_t{0};
    };
    const std::uint8_t ours = lead_out_control(emulated.data);
    char note[200];
    std::snprintf(note, sizeof note,
                  "QEMU departs from MMC: its lead-out descriptor has ADR/control %02x, point A2 of its own raw "
                  "TOC %s; the emulated drive gives %02x",
                  lead_out_control(qemu),
                  qemu_raw_lead_out_control ? hex({*qemu_raw_lead_out_control}).c_str() : "(not read)", ours);
    if (qemu_raw_lead_out_control != ours) return {both + "; " + note, ""};
    return {"", note};
}

Verdict compare(const ProbeCommand& command, const Reply& guest, const Reply& emulated,
                std::optional<std::uint8_t> qemu_raw_lead_out_control) {
    if (!guest.carried) return {"the guest kernel could not carry the command", ""};
    if (command.compare == Compare::kMmcReply) {
        const Bytes mmc(command.mmc_reply.begin(), command.mmc_reply.begin() + command.mmc_reply_length);
        if (emulated.status != disc_image::kStatusGood || emulated.data != mmc)
            return {"the emulated drive answered " + describe(command, emulated) + ", MMC asks for " + hex(mmc), ""};
        const Bytes qemu = defined_toc_bytes(guest, command.allocation_length);
        if (qemu == mmc) return {"", "QEMU answers as MMC asks too"};
        // A reply of another length is another format's: QEMU's IDE CD-ROM reads READ TOC's
        // format from where SFF-8020 had it.
        if (qemu.size() != mmc.size())
            return {"", "QEMU departs from MMC: its reply is not the session information MMC asks for (it reads "
                        "READ TOC's format from bits 6-7 of byte 9, not from byte 2)"};
        return {"", "QEMU departs from MMC: the first track's descriptor in its session information is " +
                        hex({qemu.begin() + 4, qemu.end()}) + ", not what MMC asks for"};
    }
    // The ASCQ may differ: MMC lets a drive without a disc say why (tray open or closed).
    if (guest.status != emulated.status || guest.key != emulated.key || guest.asc != emulated.asc)
        return {"QEMU: " + describe(command, guest) + "; emulated drive: " + describe(command, emulated), ""};
    if (guest.status != disc_image::kStatusGood) return {};
    switch (command.compare) {
    case Compare::kWhole:
        if (command.cdb[0] == kReadToc && (command.cdb[2] & 0x0F) == kFullToc) {  // format 2: byte for byte
            const Bytes qemu = defined_toc_bytes(guest, command.allocation_length);
            if (qemu == emulated.data) return {};
            return {"QEMU replied " + hex(qemu) + ", the emulated drive " + hex(emulated.data), ""};
        }
        if (command.cdb[0] == kReadToc) return compare_toc(command, guest, emulated, qemu_raw_lead_out_control);
        if (guest.data != emulated.data)
            return {"QEMU replied " + hex(guest.data) + ", the emulated drive " + hex(emulated.data), ""};
        return {};
    case Compare::kDeviceType:
        if (guest.data.size() < 2 || emulated.data.size() < 2) return {"INQUIRY reply shorter than 2 bytes", ""};
        if (guest.data[0] != emulated.data[0] || (guest.data[1] & 0x80) != (emulated.data[1] & 0x80))
            return {"device type or removable bit differ: QEMU " + hex({guest.data[0], guest.data[1]}) +
                        ", emulated drive " + hex({emulated.data[0], emulated.data[1]}),
                    ""};
        return {};
    case Compare::kMmcReply:
    case Compare::kQemuOnly:
        break;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <guest report> <drive>=<image.iso or \"empty\">...\n", argv[0]);
        return 2;
    }
    const auto guest_replies = read_guest_replies(argv[1]);
    int failures = 0;
    std::vector<std::pair<std::string, std::string>> notes;  // note, the drives and commands it concerns
    auto add_note = [&notes](const std::string& note, const std::string& name) {
        auto same = std::find_if(notes.begin(), notes.end(), [&](const auto& entry) { return entry.first == note; });
        if (same == notes.end()) notes.emplace_back(note, name);
        else same->second += ", " + name;
    };
    for (int arg = 2; arg < argc; ++arg) {
        const std::string drive_and_image = argv[arg];
        const std::size_t equals = drive_and_image.find('=');
        const std::string drive = drive_and_image.substr(0, equals);
        const std::string image = equals == std::string::npos ? "" : drive_and_image.substr(equals + 1);
        const DriveReplies& replies = guest_replies.contains(drive) ? guest_replies.at(drive) : DriveReplies{};
        std::optional<std::uint8_t> qemu_raw_lead_out_control;
        std::optional<Bytes> raw_lead_out, msf_lead_out;
        if (auto raw = replies.find("toc_format2_raw_qemu"); raw != replies.end())
            raw_lead_out = raw_toc_lead_out(raw->second.data);
        if (auto msf = replies.find("toc_format2_msf"); msf != replies.end())
            msf_lead_out = raw_toc_lead_out(msf->second.data);
        if (raw_lead_out) qemu_raw_lead_out_control = (*raw_lead_out)[0];
        const auto kind = image == "empty" ? linux_guest::Drive::kEmpty : linux_guest::Drive::kDisc;
        for (const auto& command : linux_guest::kProbeCommands) {
            if (command.compare == Compare::kQemuOnly || command.drive != kind) continue;
            const std::string name = drive + " " + std::string(command.name);
            auto found = replies.find(std::string(command.name));
            const Verdict verdict =
                found == replies.end()
                    ? Verdict{"the guest report has no reply to it", ""}
                    : compare(command, found->second, run_emulated(command, image), qemu_raw_lead_out_control);
            if (!verdict.failure.empty()) {
                std::printf("fail %s: %s\n", name.c_str(), verdict.failure.c_str());
                ++failures;
            } else {
                std::printf("pass %s\n", name.c_str());
            }
            if (!verdict.note.empty()) add_note(verdict.note, name);
        }
        // MMC's full TOC holds times only; asked without the MSF bit, QEMU puts an LBA there.
        if (raw_lead_out && msf_lead_out && *raw_lead_out != *msf_lead_out)
            add_note("QEMU departs from MMC: asked without the MSF bit, its full TOC gives point A2 as " +
                         hex(Bytes(raw_lead_out->begin() + 1, raw_lead_out->end())) + " (an LBA), not as the time " +
                         hex(Bytes(msf_lead_out->begin() + 1, msf_lead_out->end())),
                     drive + " toc_format2_raw_qemu");
    }
    for (const auto& [note, names] : notes) std::printf("note %s (%s)\n", note.c_str(), names.c_str());
    return failures == 0 ? 0 : 1;
}
