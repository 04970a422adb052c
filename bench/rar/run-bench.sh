#!/usr/bin/env bash
# RAR benchmarks, each side by side with its peer in one run:
#   1. listing the headers of a 4 GiB stored RAR 5.0 set of 40 volumes through libunrar.so,
#      beside bsdtar -tf on the same set (first volume, and the whole set through a pipe);
#   2. tavilon-pack writing a 1 GiB file into 100 MiB volumes, beside cp of the same bytes,
#      plain and encrypted.
# Usage: bench/rar/run-bench.sh [BUILD_DIR]   (default build/; needs tavilon-pack, libunrar.so)
# Scratch files (about 5 GiB at a time) go to TAVILON_BENCH_DIR or a temporary folder, removed
# at exit; TAVILON_BENCH_DIR=/dev/shm/rar-bench measures without the disk.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
bin="$build/bin"
[ -x "$bin/tavilon-pack" ] && [ -f "$bin/libunrar.so" ] || {
  echo "bench: build tavilon-pack and unrar in $build first" >&2
  exit 1
}
work=${TAVILON_BENCH_DIR:-$(mktemp -d)}
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"

c++ -O2 -std=c++20 -Isrc bench/rar/list_bench.cpp -ldl -o "$work/list_bench"

now() { date +%s.%N; }
best_of() { # best_of N command...: best wall time in seconds
  local n=$1 best= t0 t1 t
  shift
  for _ in $(seq "$n"); do
    t0=$(now); "$@" >/dev/null; t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

echo "== listing a 4 GiB stored RAR 5.0 set of 40 volumes"
truncate -s 4G "$work/big.mkv"
mkdir -p "$work/set"
"$bin/tavilon-pack" --volume-size 103M "$work/big.mkv" "$work/set" >"$work/set.txt"
volumes=$(wc -l <"$work/set.txt")
first=$(head -1 "$work/set.txt")
echo "volumes: $volumes"
"$work/list_bench" "$bin/libunrar.so" "$first" 20 | sed 's/^/libunrar.so: /'
t=$(best_of 5 bsdtar -tf "$first")
printf 'bsdtar -tf first volume: best_ms=%.3f\n' "$(echo "$t * 1000" | bc -l)"
t=$(best_of 1 sh -c "cat \$(cat '$work/set.txt') | bsdtar -tf -")
printf 'cat set | bsdtar -tf -: best_ms=%.3f\n' "$(echo "$t * 1000" | bc -l)"
rm -rf "$work/set" "$work/big.mkv"

echo "== packing 1 GiB into 100 MiB volumes"
head -c 1G /dev/urandom >"$work/movie.mkv"
mkdir -p "$work/cp" "$work/pack" "$work/packenc"
cat "$work/movie.mkv" >/dev/null
# The three are run in turns, three rounds, so that a busy machine weighs on each alike; the
# best time of each counts.
tcp= tpack= tenc=
for _ in 1 2 3; do
  t=$(best_of 1 sh -c "rm -f '$work/cp/movie.mkv'; cp '$work/movie.mkv' '$work/cp/'")
  tcp=$(printf '%s\n' $tcp $t | sort -g | head -1)
  t=$(best_of 1 sh -c "rm -f '$work/pack/'*; '$bin/tavilon-pack' '$work/movie.mkv' '$work/pack'")
  tpack=$(printf '%s\n' $tpack $t | sort -g | head -1)
  t=$(best_of 1 sh -c "rm -f '$work/packenc/'*; '$bin/tavilon-pack' --password bench '$work/movie.mkv' '$work/packenc'")
  tenc=$(printf '%s\n' $tenc $t | sort -g | head -1)
done
mib=1024
printf 'cp:                     %.3f s  %.0f MiB/s\n' "$tcp" "$(echo "$mib / $tcp" | bc -l)"
printf 'tavilon-pack:           %.3f s  %.0f MiB/s  (%.0f %% of cp)\n' "$tpack" \
  "$(echo "$mib / $tpack" | bc -l)" "$(echo "100 * $tcp / $tpack" | bc -l)"
printf 'tavilon-pack encrypted: %.3f s  %.0f MiB/s  (%.0f %% of cp)\n' "$tenc" \
  "$(echo "$mib / $tenc" | bc -l)" "$(echo "100 * $tcp / $tenc" | bc -l)"
