// Helpers for driving an emulated drive with raw CDBs in tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "emulated_drive.h"
#include "program_run.h"
#include "scsi_commands.h"

namespace disc_image_test {

using namespace test_support;  // the CDBs, the disc builder and the WAVE chunks
using Files = std::vector<std::pair<std::string, std::string>>;  // name and content of each file

// A fresh folder for the images of one test, removed afterwards.
struct TempDir : program_test::Workspace {
    std::filesystem::path operator/(const std::string& name) const { return images() / name; }
    void write(const Files& files) const {
        for (const auto& [name, content] : files) {
            std::filesystem::create_directories((images() / name).parent_path());
            std::ofstream(images() / name, std::ios::binary) << content;
        }
    }
};

// One command's reply and the data it reported, from a data-in buffer of the given size.
struct Answer {
    disc_image::CommandReply reply;
    Bytes data;
};

inline Answer run(disc_image::EmulatedDrive& drive, const Bytes& cdb, std::size_t buffer = 4 * 2352) {
    Answer answer{{}, Bytes(buffer, 0xEE)};
    answer.reply = drive.execute(cdb, answer.data);
    EXPECT_LE(answer.reply.data_length, buffer);
    answer.data.resize(std::min<std::size_t>(answer.reply.data_length, buffer));
    return answer;
}

// 0 for GOOD; the sense key, ASC and ASCQ of a CHECK CONDITION as 0xKKAAQQ; -1 for other status.
inline int sense(const disc_image::CommandReply& reply) {
    if (reply.status == disc_image::kStatusGood) return 0;
    if (reply.status != disc_image::kStatusCheckCondition) return -1;
    return reply.sense[2] << 16 | reply.sense[12] << 8 | reply.sense[13];
}

}  // namespace disc_image_test
