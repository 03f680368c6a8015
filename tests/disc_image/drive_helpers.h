// Helpers for driving an emulated drive with raw CDBs in tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulated_drive.h"
#include "program_run.h"
#include "scsi_commands.h"

namespace disc_image_test {

using test_support::Bytes;
using test_support::read10_cdb;
using test_support::read_cd_cdb;
using test_support::read_toc_cdb;

// A fresh folder for the images of one test, removed afterwards.
class TempDir : program_test::Workspace {
public:
    std::filesystem::path path() const { return images(); }
    std::filesystem::path operator/(const std::string& name) const { return images() / name; }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(images() / name, std::ios::binary) << bytes;
    }
};

// Runs one command with a data-in buffer of the given size.
struct Answer {
    disc_image::CommandReply reply;
    Bytes data;  // the bytes the drive reported, data_length of them
};

inline Answer run(disc_image::EmulatedDrive& drive, const Bytes& cdb, std::size_t buffer = 65536) {
    Bytes data(buffer, 0xEE);
    Answer result;
    result.reply = drive.execute(cdb, data);
    EXPECT_LE(result.reply.data_length, buffer);
    data.resize(std::min<std::size_t>(result.reply.data_length, buffer));
    result.data = std::move(data);
    return result;
}

// CHECK CONDITION with this key, ASC and ASCQ in fixed-format sense.
inline testing::AssertionResult has_sense(const disc_image::CommandReply& reply, int key, int asc, int ascq) {
    if (reply.status != disc_image::kStatusCheckCondition)
        return testing::AssertionFailure() << "status " << int(reply.status) << ", not CHECK CONDITION";
    if ((reply.sense[0] & 0x7F) != 0x70 || reply.sense[7] != 10)
        return testing::AssertionFailure() << "not fixed-format sense";
    if (reply.sense[2] != key || reply.sense[12] != asc || reply.sense[13] != ascq)
        return testing::AssertionFailure() << std::hex << "sense " << int(reply.sense[2]) << "/" << int(reply.sense[12])
                                           << "/" << int(reply.sense[13]);
    return testing::AssertionSuccess();
}

}  // namespace disc_image_test
