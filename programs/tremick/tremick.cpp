#include "tremick.h"

#include "startup.h"
#include "track_list.h"

int toc_listing_enabled = 0;

int main() {
    start_up();
    build_track_list();
    return rip_data_tracks();
}
