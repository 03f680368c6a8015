# What the benchmark scripts share, sourced by them. They set scratch, a folder of their own.

# msf SECTORS: the time of that many sectors, as a cue sheet writes it.
msf() { printf '%02d:%02d:%02d' $(($1 / 4500)) $(($1 / 75 % 60)) $(($1 % 75)); }

# timed LABEL COMMAND...: runs the command in a fresh folder and appends "LABEL wall cpu peak_kB"
# to the results. The folder and what the command wrote are removed afterwards, and synced: on a
# file system that discards freed blocks, the next command would otherwise pay for the delete.
timed() {
    local label=$1 start end
    shift
    mkdir "$scratch/out"
    start=$(date +%s%N)
    (cd "$scratch/out" && /usr/bin/time -f '%U %S %M' -o "$scratch/rusage" "$@" >/dev/null) || true
    end=$(date +%s%N)
    # The last line: GNU time puts a note of a nonzero exit status (palvane's and tremick's 1) before it.
    read -r user system peak < <(tail -n 1 "$scratch/rusage")
    echo "$label $(((end - start) / 1000000)) $(awk "BEGIN { print int(($user + $system) * 1000) }") $peak" >>"$scratch/results"
    rm -rf "$scratch/out"
    sync -f "$scratch"
}

# median LABEL COLUMN: the median of one column (2 wall ms, 3 CPU ms, 4 peak kB) of a label's runs.
median() {
    awk -v label="$1" -v column="$2" '$1 == label { print $column }' "$scratch/results" | sort -n |
        awk '{ value[NR] = $1 } END { print (NR % 2) ? value[(NR + 1) / 2] : (value[NR / 2] + value[NR / 2 + 1]) / 2 }'
}
