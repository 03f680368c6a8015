// quorlan: writes the table of contents of the first readable disc into the file "TOC".
#include "startup.h"

int toc_listing_enabled = 1;

int main() { return start_up("TOC"); }
