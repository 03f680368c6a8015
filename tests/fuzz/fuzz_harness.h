// What the fuzz targets share: reading the input, naming a broken invariant, a scratch folder,
// and one command run on an emulated drive with a guard zone behind its buffer.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "emulated_drive.h"

// A broken invariant: named on standard error, then the process aborts so that the fuzzer
// keeps the input.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

// Reads a fuzz input front to back; past its end every read gives zeros.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t number(int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | byte();
        return value;
    }
    // Up to count bytes.
    std::vector<std::uint8_t> bytes(std::size_t count) {
        count = std::min(count, size_ - at_);
        std::vector<std::uint8_t> result(data_ + at_, data_ + at_ + count);
        at_ += count;
        return result;
    }
    // The bytes up to the next stop byte (which is passed over), or to the end.
    std::string_view until(char stop) {
        std::string_view rest(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
        std::size_t end = rest.find(stop);
        at_ += end == std::string_view::npos ? rest.size() : end + 1;
        return rest.substr(0, end);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A folder of this process's own, made on first use and removed at exit.
inline const std::filesystem::path& scratch_folder() {
    static struct Folder {
        std::string path = (std::filesystem::temp_directory_path() / "cdif-fuzz-XXXXXX").string();
        Folder() { FUZZ_CHECK(mkdtemp(path.data()) != nullptr); }
        ~Folder() { std::filesystem::remove_all(path); }
    } folder;
    static const std::filesystem::path path = folder.path;
    return path;
}

struct GuardedReply {
    disc_image::CommandReply reply;
    std::vector<std::uint8_t> data;  // the bytes the drive reported
};

// Runs one command with a guard zone after the data-in buffer and checks what every reply must
// satisfy: nothing written past the buffer or reported beyond it, GOOD or CHECK CONDITION, and
// fixed-format sense with the latter.
inline GuardedReply run_guarded(disc_image::EmulatedDrive& drive, const std::vector<std::uint8_t>& cdb,
                                std::size_t length) {
    constexpr std::size_t kGuard = 64;
    constexpr std::uint8_t kFill = 0xA5;
    std::vector<std::uint8_t> buffer(length + kGuard, kFill);
    GuardedReply result;
    result.reply = drive.execute(cdb, std::span<std::uint8_t>(buffer.data(), length));
    FUZZ_CHECK(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(length), buffer.end(),
                           [](std::uint8_t b) { return b == kFill; }));
    FUZZ_CHECK(result.reply.data_length <= length);
    if (result.reply.status != disc_image::kStatusGood)
        FUZZ_CHECK(result.reply.status == disc_image::kStatusCheckCondition && (result.reply.sense[0] & 0x7F) == 0x70 &&
                   result.reply.sense[7] == 10 && result.reply.sense[2] != 0);
    buffer.resize(result.reply.data_length);
    result.data = std::move(buffer);
    return result;
}
