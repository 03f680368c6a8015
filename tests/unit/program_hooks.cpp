#include "program_hooks.h"

int toc_listing_enabled = 0;
int use_aspi_answer = 0;
int use_aspi_calls = 0;

int use_aspi() {
    ++use_aspi_calls;
    return use_aspi_answer;
}

namespace {
void reset_program() {
    toc_listing_enabled = 0;
    use_aspi_answer = 0;
    use_aspi_calls = 0;
}
}  // namespace

void CdifTest::SetUp() {
    LibraryTest::SetUp();
    reset_program();
}

void CdifListingTest::SetUp() {
    InTempDirectory::SetUp();
    reset_program();
}
