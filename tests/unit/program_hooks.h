// The two things a program supplies to the library, played by the unit tests.
#pragma once

#include "library_support.h"

extern int use_aspi_answer;  // what use_aspi() returns
extern int use_aspi_calls;   // how often it was asked

// LibraryTest with the program's answers reset as well: pass-through, listing off.
class CdifTest : public LibraryTest {
protected:
    void SetUp() override;
};

class CdifListingTest : public InTempDirectory {
protected:
    void SetUp() override;
};
