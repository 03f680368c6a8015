#include "command_trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "../sense_data.h"

namespace command_trace {
namespace {

constexpr std::uint8_t kCheckCondition = 0x02;

std::FILE* open_trace() {
    const char* name = std::getenv("CDIF_TRACE");
    if (name == nullptr || name[0] == '\0') return nullptr;
    if (std::string_view(name) == "-") return stderr;
    // Appended to, so that the traces of several runs (a whole check, say) stay together.
    std::FILE* file = std::fopen(name, "ae");
    if (file == nullptr) std::fprintf(stderr, "CDIF_TRACE: cannot open %s: %s\n", name, std::strerror(errno));
    return file;
}

std::FILE* trace_file() {
    static std::FILE* const file = open_trace();
    return file;
}

void print_sense(std::FILE* out, const std::uint8_t* sense, std::size_t length) {
    CommandSense decoded;
    if (decode_sense(sense, length, decoded))
        std::fprintf(out, " sense %02x/%02x/%02x", decoded.key, decoded.asc, decoded.ascq);
    else
        std::fprintf(out, " sense of %zu bytes", length);
}

}  // namespace

bool enabled() { return trace_file() != nullptr; }

void record(char letter, const std::string& entry, const SCSI_PASS_THROUGH_DIRECT& done, std::uint32_t requested,
            const std::uint8_t* sense, const Delivery& delivery, std::chrono::steady_clock::duration took) {
    std::FILE* out = trace_file();
    if (out == nullptr) return;
    std::fprintf(out, "%c: %s |", letter, entry.c_str());
    for (std::size_t i = 0; i < done.CdbLength; ++i) std::fprintf(out, " %02x", done.Cdb[i]);
    if (requested == 0) std::fprintf(out, " | no data");
    else std::fprintf(out, " | %s %u", done.DataIn == SCSI_IOCTL_DATA_IN ? "in" : "out", static_cast<unsigned>(requested));
    if (delivery.failure[0] != '\0') {
        std::fprintf(out, " | failed: %s", delivery.failure);
    } else {
        if (requested != 0) std::fprintf(out, ", got %u", static_cast<unsigned>(done.DataTransferLength));
        std::fprintf(out, " | status %02x", done.ScsiStatus);
        if (done.ScsiStatus == kCheckCondition)
            print_sense(out, sense, std::min<std::size_t>(delivery.sense_length, done.SenseInfoLength));
    }
    if (delivery.adapter_status) std::fprintf(out, " | host %02x driver %02x", delivery.host_status, delivery.driver_status);
    if (delivery.device) {
        auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
        std::fprintf(out, " | %lld.%03lld ms", static_cast<long long>(microseconds / 1000),
                     static_cast<long long>(microseconds % 1000));
    }
    std::fputc('\n', out);
    std::fflush(out);
}

}  // namespace command_trace
