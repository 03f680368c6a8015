// Reads a fuzz input front to back; past its end every read gives zeros.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string_view>
#include <vector>

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

// A broken invariant: named on standard error, then the process aborts so that the fuzzer
// keeps the input.
#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)
