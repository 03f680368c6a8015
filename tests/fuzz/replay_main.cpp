// Runs a fuzz target once on every file of the corpus folders named on the command line, for
// builds whose compiler has no libFuzzer.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "program_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            const auto data = program_test::read_file<std::vector<std::uint8_t>>(entry.path());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    return replayed > 0 ? 0 : 1;
}
