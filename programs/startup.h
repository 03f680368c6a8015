// The start-up sequence every program performs before anything else.
#pragma once

// Asks the platform for its version, chooses the transport from it and initialises the library.
// Returns CDIF_Init's result. When no drive's table of contents was read and a drive answered with
// a first track other than 1, says so in one line on standard error.
int start_up();
