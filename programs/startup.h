// The start-up sequence every program performs before anything else.
#pragma once

// Asks the platform for its version, chooses the transport from it and initialises the library.
// Returns CDIF_Init's result.
int start_up();
