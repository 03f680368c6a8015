// The track list and palvane's end-of-track rule against a scripted table of contents and a
// scripted answer to the session-information request.
#include <gtest/gtest.h>

#include <vector>

#include "palvane/palvane.h"
#include "scripted_library.h"
#include "track_list.h"

using namespace scripted;

namespace {

class AudioTrackEnd : public ::testing::Test {
protected:
    void SetUp() override {
        session_request_refused = false;
        last_session = 1;
        first_track_of_last_session = 1;
        last_session_lba = 0;
    }
    void make_list(std::vector<ScriptedTrack> tracks) { load(std::move(tracks)); }
};

TEST_F(AudioTrackEnd, EndsByWhatFollows) {
    make_list({{0, true}, {1000, true}, {2000, false}, {3000, true}, {4000, true}});
    EXPECT_EQ(audio_track_end(1), 1000);         // another audio track
    EXPECT_EQ(audio_track_end(2), 2000 - 225);   // a data track of the same session
    EXPECT_EQ(audio_track_end(4), 4000);         // the lead-out, never marked audio in the list
    EXPECT_EQ(session_requests.size(), 1u);      // only the track before a data track asks
    const std::vector<std::uint8_t> session_info = {0x43, 0, 0x01, 0, 0, 0, 0, 0, 12, 0};
    EXPECT_EQ(session_requests[0], session_info);
}

TEST_F(AudioTrackEnd, DataTrackOpeningALaterSession) {
    make_list({{0, true}, {1000, true}, {13400, false}, {14000, false}});
    last_session = 2;
    first_track_of_last_session = 3;
    EXPECT_EQ(audio_track_end(2), 13400 - 11400);
    first_track_of_last_session = 4;  // the data track is not where the last session begins
    EXPECT_EQ(audio_track_end(2), 13400 - 225);
    first_track_of_last_session = 3;
    for (std::uint32_t off_the_disc : {0xFFFFFF6Au, 449850u}) {  // LBA -150, and 100:00:00
        last_session_lba = off_the_disc;
        EXPECT_EQ(audio_track_end(2), 13400 - 225) << off_the_disc;
    }
    last_session_lba = 0;
    session_request_refused = true;
    EXPECT_EQ(audio_track_end(2), 13400 - 225);
}

}  // namespace
