# shellcheck shell=bash
# apt-get that survives a registry out of step, sourced by install-deps.sh and the Wine root's
# builder. A mirror in the middle of a sync serves index files of the wrong size for a while, and
# then `apt-get update` fails, though the indexes that did arrive may hold every package needed.
#
# apt_update [apt options...]: runs `apt-get update` up to three times, a few seconds apart, and
# carries on when it still fails; $apt_failed_indexes then names the indexes that did not arrive.
# apt_install <what> <apt-get arguments...>: runs apt-get with them; when that fails, prints one
# line naming what could not be installed and the indexes that failed, and returns 1.
apt_update() {
    local attempt log
    log=$(mktemp)
    apt_failed_indexes=
    for attempt in 1 2 3; do
        if apt-get "$@" update -qq >"$log" 2>&1; then
            apt_failed_indexes=
            break
        fi
        # "E: Failed to fetch <address>  <reason>" for each index that did not arrive, else apt's
        # first error.
        apt_failed_indexes=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1 (\2)/p' "$log" | tr '\n' ' ')
        [ -n "$apt_failed_indexes" ] || apt_failed_indexes=$(grep -m 1 '^E: ' "$log" | cut -c4-)
        [ "$attempt" = 3 ] || sleep $((attempt * 5))
    done
    rm -f "$log"
    [ -z "$apt_failed_indexes" ] ||
        echo "apt-get update failed three times; going on with the indexes that arrived (failed: ${apt_failed_indexes% })" >&2
}

apt_install() {
    local what=$1 log
    shift
    log=$(mktemp)
    if DEBIAN_FRONTEND=noninteractive apt-get "$@" >"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    echo "cannot install $what: $(grep -m 1 '^E: ' "$log" || tail -n 1 "$log")${apt_failed_indexes:+; these package indexes failed to download: ${apt_failed_indexes% }}" >&2
    rm -f "$log"
    return 1
}
