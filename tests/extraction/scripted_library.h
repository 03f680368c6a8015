// The library operations the extraction code calls, scripted: a table of contents, a drive at LUN 3
// that answers READ(10) with sectors whose bytes tell their LBA (refusing a CDB that names another
// unit), and READ TOC replies in formats 1 and 2.
#pragma once

#include <cstdint>
#include <vector>

struct ScriptedTrack {
    std::int32_t lba;
    bool audio;
};

namespace scripted {

using Bytes = std::vector<std::uint8_t>;

extern std::vector<ScriptedTrack> toc;  // tracks 1 to n, then the lead-out
extern Bytes full_toc_reply;            // READ TOC format 2; empty: refused
extern Bytes session_info_reply;        // READ TOC format 1; empty: refused
extern std::vector<Bytes> toc_requests;  // the CDBs of READ TOC

// Sets the table, builds the track list from it and forgets what the drive said of its sessions.
void load(std::vector<ScriptedTrack> tracks);

}  // namespace scripted
