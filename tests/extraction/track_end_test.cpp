// Track ends from the drive's full table of contents, and the fallbacks when the drive refuses it
// or sends a reply that fails a check.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scripted_library.h"
#include "track_end.h"

using scripted::Bytes;

namespace {

// Session 1: audio track 1 at 0, data track 2 at 1000, lead-out 1600. Session 2: audio tracks 3
// at 13000 and 4 at 14000, lead-out 14600. Session 3: data track 5 at 21500, lead-out 22000.
const std::vector<ScriptedTrack> kDisc = {{0, true}, {1000, false}, {13000, true}, {14000, true}, {21500, false},
                                          {22000, false}};
const std::vector<std::int32_t> kEnds = {1000 - 225, 1600, 14000, 14600, 22000};
// Format 2 refused or unusable: format 1 names track 5 as the last session's first track.
const std::vector<std::int32_t> kFallbackEnds = {1000 - 225, 13000, 14000, 21500 - 11400, 22000};

// A descriptor: session, ADR 1 with the control nibble, TNO 0, the point, then PMIN:PSEC:PFRAME.
Bytes point(int session, int control, int point, std::int32_t lba) {
    const std::int32_t time = lba + 150;
    return {static_cast<std::uint8_t>(session), static_cast<std::uint8_t>(0x10 | control), 0,
            static_cast<std::uint8_t>(point), 0, 0, 0, 0, static_cast<std::uint8_t>(time / 4500),
            static_cast<std::uint8_t>(time / 75 % 60), static_cast<std::uint8_t>(time % 75)};
}

Bytes full_toc() {
    Bytes reply = {0, 0, 1, 3};
    for (const Bytes& d : {point(1, 0, 0xA0, 1 * 4500 - 150), point(1, 4, 0xA1, 2 * 4500 - 150),
                           point(1, 4, 0xA2, 1600), point(1, 0, 1, 0), point(1, 4, 2, 1000),
                           Bytes{1, 0x54, 0, 0xB0, 2, 0, 0, 3, 0x4F, 0x3B, 0x47},  // ADR 5: next program area
                           point(2, 0, 0xA2, 14600), point(2, 0, 3, 13000), point(2, 0, 4, 14000),
                           point(3, 4, 0xA2, 22000), point(3, 4, 5, 21500)})
        reply.insert(reply.end(), d.begin(), d.end());
    reply[1] = static_cast<std::uint8_t>(reply.size() - 2);
    return reply;
}

std::vector<std::int32_t> ends() {
    std::vector<std::int32_t> result;
    for (int track = 1; track <= 5; ++track) result.push_back(track_end(track));
    return result;
}

class TrackEnd : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::full_toc_reply = full_toc();
        scripted::session_info_reply = {0, 10, 1, 3, 0, 0x14, 5, 0, 0, 0, 0x53, 0xFC};
        scripted::load(kDisc);
    }
};

TEST_F(TrackEnd, SessionsFromTheFullTocAskedOncePerRun) {
    EXPECT_EQ(ends(), kEnds);
    EXPECT_EQ(ends(), kEnds);
    ASSERT_EQ(scripted::toc_requests.size(), 1u);
    EXPECT_EQ(scripted::toc_requests[0], (Bytes{0x43, 0x02, 0x02, 0, 0, 0, 0x01, 0x20, 0x00, 0x80}));

    scripted::load({{0, true}, {3000, false}});
    EXPECT_EQ(track_end(1), 3000);
    EXPECT_TRUE(scripted::toc_requests.empty()) << "a track before the lead-out needs no sessions";
}

TEST_F(TrackEnd, RefusedFullTocFallsBackToSessionInformation) {
    scripted::full_toc_reply.clear();
    EXPECT_EQ(ends(), kFallbackEnds);
    ASSERT_EQ(scripted::toc_requests.size(), 2u);
    EXPECT_EQ(scripted::toc_requests[1], (Bytes{0x43, 0, 0x01, 0, 0, 0, 0, 0, 12, 0}));

    // Refused, or with the last session's start off the disc (LBA -150, 100:00:00): the data gap.
    for (Bytes start : {Bytes{}, Bytes{0xFF, 0xFF, 0xFF, 0x6A}, Bytes{0x00, 0x06, 0xDD, 0x3A}}) {
        scripted::session_info_reply = start.empty() ? start : Bytes{0, 10, 1, 3, 0, 0x14, 5, 0};
        scripted::session_info_reply.insert(scripted::session_info_reply.end(), start.begin(), start.end());
        scripted::load(kDisc);
        EXPECT_EQ(ends(), (std::vector<std::int32_t>{1000 - 225, 13000, 14000, 21500 - 225, 22000}));
    }
}

TEST_F(TrackEnd, HostileFullTocIsRefused) {
    const Bytes good = full_toc();
    const std::size_t track3 = 4 + 11 * 7;  // the descriptor of track 3
    const struct {
        const char* what;
        std::function<void(Bytes&)> spoil;
    } cases[] = {
        {"length not whole descriptors", [](Bytes& r) { r[1] -= 1; }},
        {"length beyond what arrived", [](Bytes& r) { r[1] += 11; }},
        {"length beyond the buffer", [](Bytes& r) { r[0] = 0xFF; }},
        {"first session after the last", [](Bytes& r) { r[2] = 4; }},
        {"session 0", [&](Bytes& r) { r[track3] = 0; }},
        {"seconds 60", [&](Bytes& r) { r[track3 + 9] = 60; }},
        {"beyond 99:59:74", [&](Bytes& r) { r[track3 + 8] = 100; }},
        {"before 00:02:00", [](Bytes& r) { r[4 + 11 * 3 + 9] = 1; }},
        {"track elsewhere than format 0 has it", [&](Bytes& r) { r[track3 + 10] += 1; }},
        {"track given twice", [&](Bytes& r) { r[track3 + 3] = 4; }},
        {"track missing", [&](Bytes& r) { r[track3 + 3] = 0xA1; }},
        {"sessions going back", [](Bytes& r) { r[4 + 11 * 8] = 1; }},
        {"lead-out missing", [](Bytes& r) { r[4 + 11 * 6 + 3] = 0xA0; }},
        {"lead-out before its last track", [](Bytes& r) { r[4 + 11 * 6 + 9] = 0; }},
        {"lead-out after the next session", [](Bytes& r) { r[4 + 11 * 2 + 8] = 3; }},
        {"a format 0 reply", [](Bytes& r) { r = {0, 0x12, 1, 1, 0, 0x10, 1, 0, 0, 0, 0, 0, 0, 0x10, 0xAA, 0, 0, 0, 0x55, 0xF0}; }},
    };
    for (const auto& c : cases) {
        scripted::full_toc_reply = good;
        c.spoil(scripted::full_toc_reply);
        scripted::load(kDisc);
        EXPECT_EQ(ends(), kFallbackEnds) << c.what;
        EXPECT_EQ(session_table.known, 0) << c.what;
    }
}

}  // namespace
