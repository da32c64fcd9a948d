#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# and runs them one after the other for a given time each, on their kept corpus plus freshly
# made seeds. New corpus entries are kept. Any crash, leak, finding of a target, hang over 10 s
# or memory over 512 MiB fails the run; the input that caused it is kept under
# <build>/findings/<target>/.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]    targets by name: unzip log_split ...
#
# SY_FUZZ_BUILD_DIR: build folder (default build/fuzz); SY_FUZZ_CORPUS: corpus folder (default
# <build>/corpus, one subfolder per target); SY_FUZZ_ARGS: more libFuzzer options, such as
# "-jobs=2 -workers=2"; SY_FUZZ_BUILD_JOBS: parallel compile jobs (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
build=${SY_FUZZ_BUILD_DIR:-$root/build/fuzz}
corpus=${SY_FUZZ_CORPUS:-$build/corpus}
read -r -a extra <<<"${SY_FUZZ_ARGS:-}"

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSY_FUZZ=ON -DSY_WERROR=ON -DSY_BUILD_TESTS=OFF \
    -DSY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${SY_FUZZ_BUILD_JOBS:-2}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$root"/fuzz/fuzz_*.cpp; do
        [ -e "$source" ] || continue
        name=$(basename "$source" .cpp)
        targets+=("${name#fuzz_}")
    done
fi

# Leaks are findings too. The quarantine of freed memory is kept small: with ASan's default the
# process grows past the 512 MiB limit in a long run though nothing is lost (the unzipper's
# chunk buffers pass through it). Leaks inside Qt or the system libraries would be listed in
# fuzz/lsan.supp.
# The allocation stacks are kept short: ASan stores every distinct one for good, and with deep
# stacks the settings target grew by about 20 KiB per input (a plain build stays flat), past the
# memory limit within minutes. Crash reports still show the whole stack of the bad access.
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16:malloc_context_size=2
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if [ -f "$root/fuzz/lsan.supp" ]; then
    export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp
fi

# CPU seconds used so far by the programs this script ran, from the shell's own account (in the
# shell itself: a subshell would count only its own children), into children_cpu.
count_children_cpu() {
    times >"$build/times.$$"
    children_cpu=$(tail -n 1 "$build/times.$$" | awk '{
        total = 0
        for (i = 1; i <= 2; ++i) {
            split($i, part, "m")
            sub("s", "", part[2])
            total += part[1] * 60 + part[2]
        }
        printf "%d", total
    }')
}

failed=()
summary=()
for name in "${targets[@]}"; do
    program=$build/fuzz/fuzz_$name
    if [ ! -f "$root/fuzz/fuzz_$name.cpp" ]; then
        echo "== fuzz_$name: no fuzz/fuzz_$name.cpp, not run"
        continue
    fi
    seeds=$build/seeds/$name
    rm -rf "$seeds"
    mkdir -p "$seeds" "$corpus/$name" "$build/findings/$name"
    if [ -f "$root/fuzz/seeds/make_$name.py" ]; then
        python3 "$root/fuzz/seeds/make_$name.py" "$seeds"
    fi
    options=(-timeout=10 -rss_limit_mb=512 -print_final_stats=1
             -artifact_prefix="$build/findings/$name/")
    if [ -f "$root/fuzz/$name.dict" ]; then
        options+=(-dict="$root/fuzz/$name.dict")
    fi
    log=$build/findings/$name.log
    echo "== fuzz_$name: $seconds s, corpus $corpus/$name"
    # Rounds of at most five minutes, each a fresh process on the grown corpus: ASan's allocator
    # keeps freed pages, so one long process creeps towards the memory limit while its live heap
    # stays small.
    left=$seconds
    count_children_cpu
    cpu_before=$children_cpu
    runs=0
    coverage=
    failure=
    : >"$log"
    while [ "$left" -gt 0 ]; do
        round=$((left < 300 ? left : 300))
        left=$((left - round))
        if ! "$program" "${options[@]}" -max_total_time="$round" "${extra[@]}" "$corpus/$name" \
            "$seeds" >>"$log" 2>&1; then
            failure=yes
            break
        fi
        done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        runs=$((runs + ${done_runs:-0}))
        coverage=$(grep -E '^#[0-9]+.*cov:' "$log" | tail -n 1 \
            | sed -E 's/.*(cov: [0-9]+ ft: [0-9]+ corp: [0-9]+).*/\1/')
    done
    count_children_cpu
    cpu=$((children_cpu - cpu_before))
    if [ -z "$failure" ]; then
        summary+=("fuzz_$name: $runs executions in $cpu CPU seconds, $coverage")
    else
        echo "fuzz_$name failed; its log is $log, the input under $build/findings/$name/:"
        grep -E -A40 'ERROR|FINDING|SUMMARY' "$log" | head -n 80 || tail -n 40 "$log"
        failed+=("fuzz_$name")
    fi
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "findings in: ${failed[*]}"
    exit 1
fi
