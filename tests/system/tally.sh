# The pass and fail tally of a whole-system check, sourced by its run.sh.
# The check sets check_name before sourcing, and may define on_finish (cleanup before the tally).
passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}
check() {  # check <description> <actual> <expected>
    if [ "$2" = "$3" ]; then pass; else fail "$1: expected '$3', got '$2'"; fi
}
finish() {  # ends the check: it passes when something passed and nothing failed
    if declare -F on_finish >/dev/null; then on_finish; fi
    echo "$check_name check: $passed passed, $failed failed"
    [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
    exit
}
abort() {  # a failure after which nothing else can be checked
    fail "$*"
    finish
}
require_tools() {  # require_tools <tool>...: a missing tool is a failure, never a skip
    for tool; do
        command -v "$tool" >/dev/null || abort "$tool is missing (scripts/install-deps.sh all installs it)"
    done
}
build_targets() {  # build_targets <build folder> <log> <target>...: builds them or aborts with the log's end
    cmake --build "$1" -j"${JOBS:-$(nproc)}" --target "${@:3}" >"$2" 2>&1 ||
        { tail -n 30 "$2"; abort "${*:3} do not build (see $2)"; }
}
adopt() {  # adopt <what>: takes over the lines and the tally of a check that ran elsewhere (stdin)
    local line closed=
    while IFS= read -r line; do
        [[ $line =~ ^[a-z\ ]+:\ ([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]] || { echo "$line"; continue; }
        passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2])) closed=1
    done
    [ -n "$closed" ] || fail "$1 ended without their tally"
}
