// The start-up sequence every program performs before anything else.
#pragma once

// Asks the platform for its version, chooses the transport from it and initialises the library.
// When drives were tried and none gave its table of contents, says so in one line on standard
// error, naming each drive and why; listing is the file the program writes from the table, which
// the line calls an earlier run's when it is there. Returns CDIF_Init's result.
int start_up(const char* listing = nullptr);
