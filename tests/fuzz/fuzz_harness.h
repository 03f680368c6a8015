// What the fuzz targets share: reading the input, naming a broken invariant, a scratch folder,
// and one command run on an emulated drive with a guard zone behind its buffer.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "mmc_drive.h"

// A broken invariant: named on standard error, then the process aborts so that the fuzzer keeps
// the input.
#define FUZZ_CHECK(cond) \
    ((cond) ? void() : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond), std::abort()))

// A fuzz input read front to back; past its end, byte strings come short and numbers zero-filled.
struct FuzzInput {
    std::span<const std::uint8_t> rest;

    std::vector<std::uint8_t> bytes(std::size_t count) {  // up to count bytes
        const auto taken = rest.first(std::min(count, rest.size()));
        rest = rest.subspan(taken.size());
        return {taken.begin(), taken.end()};
    }
    std::uint32_t number(std::size_t size) {  // big-endian
        std::vector<std::uint8_t> taken = bytes(size);
        taken.resize(size);
        return disc_image::get_be(taken, 0, size);
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(number(1)); }
    // The bytes up to the next stop byte (which is passed over), or to the end.
    std::string_view until(char stop) {
        const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
        const std::string_view taken = text.substr(0, text.find(stop));
        rest = rest.subspan(std::min(rest.size(), taken.size() + 1));
        return taken;
    }
};

// A folder of this process's own, made on first use and removed at exit.
inline std::filesystem::path scratch_folder() {
    static struct Folder {
        std::string name = (std::filesystem::temp_directory_path() / "cdif-fuzz-XXXXXX").string();
        Folder() { FUZZ_CHECK(mkdtemp(name.data()) != nullptr); }
        ~Folder() { std::filesystem::remove_all(name); }
    } folder;
    return folder.name;
}

// Runs one command with a guard zone after the data-in buffer and checks what every reply must
// satisfy: nothing written past the buffer or reported beyond it, GOOD or CHECK CONDITION, and
// fixed-format sense with the latter. Gives the reply and the bytes the drive reported.
inline std::pair<disc_image::CommandReply, std::vector<std::uint8_t>> run_guarded(
    disc_image::EmulatedDrive& drive, const std::vector<std::uint8_t>& cdb, std::size_t length) {
    std::vector<std::uint8_t> buffer(length + 64, 0xA5);
    const disc_image::CommandReply reply = drive.execute(cdb, std::span(buffer).first(length));
    FUZZ_CHECK(std::count(buffer.begin() + static_cast<std::ptrdiff_t>(length), buffer.end(), 0xA5) == 64);
    FUZZ_CHECK(reply.data_length <= length);
    if (reply.status != disc_image::kStatusGood)
        FUZZ_CHECK(reply.status == disc_image::kStatusCheckCondition && (reply.sense[0] & 0x7F) == 0x70 &&
                   reply.sense[7] == 10 && reply.sense[2] != 0);
    buffer.resize(reply.data_length);
    return {reply, buffer};
}
