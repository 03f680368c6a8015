// The library operations the extraction code calls, scripted: a table of contents, a drive that
// answers READ(10) with sectors whose bytes tell their LBA, and a session-information reply.
#pragma once

#include <cstdint>
#include <vector>

struct ScriptedTrack {
    std::int32_t lba;
    bool audio;
};

namespace scripted {

extern std::vector<ScriptedTrack> toc;  // tracks 1 to n, then the lead-out
extern bool session_request_refused;
extern std::uint8_t last_session;
extern std::uint8_t first_track_of_last_session;
extern std::uint32_t last_session_lba;  // its start address, as the reply carries it
extern std::vector<std::vector<std::uint8_t>> session_requests;  // the CDBs of READ TOC

// Sets the table and builds the track list from it.
void load(std::vector<ScriptedTrack> tracks);

}  // namespace scripted
