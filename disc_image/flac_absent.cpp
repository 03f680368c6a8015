// FLAC files in a build without libFLAC: refused, saying so.
#include "flac_file.h"

namespace disc_image {

std::variant<std::unique_ptr<FlacFile>, std::string> FlacFile::open(const std::filesystem::path&) {
    return std::string("is a FLAC file, which this build cannot decode: it was built without libFLAC");
}

}  // namespace disc_image
