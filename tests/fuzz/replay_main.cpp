// Runs a fuzz target once on every file of the corpus folder named on the command line, for
// builds whose compiler has no libFuzzer.
#include <filesystem>
#include <vector>

#include "program_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    for (const auto& entry : std::filesystem::directory_iterator(argc == 2 ? argv[1] : "")) {
        const auto data = program_test::read_file<std::vector<std::uint8_t>>(entry.path());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
}
