#!/usr/bin/env bash
# The benchmark: qk1 archives against gzip, zstd, xz and bzip2 on the same
# bytes, in one run, on this machine.
#
#   bench/run.sh [--runs N] [--quick] [--out FILE]
#
# Corpus: a tar of /usr/include, the /usr/include tree itself, a 64 MiB single
# file (the tar's first 64 MiB, repeated when shorter) and a tree of 10,000
# small files cut from the tar. Decoding: `qk t`, and `qkdec -y` and `qk x`
# (extraction into a tmpfs folder and into one on the disk) against `gzip -d`, `zstd -d`, `xz -d` and `bzip2 -d` of files
# made at their maximum levels, and tree extraction against `tar -xzf`.
# Packing: every qk level against gzip -9, xz -9, zstd -19 and bzip2 -9. Times
# are wall-clock medians of N runs (default 5; the slow packers run once), peak
# memory is the child's maximum resident size (getrusage). The decoder's
# instruction count on the 64 MiB case and on the tar comes from callgrind. The
# table goes to standard output and to FILE (default docs/benchmark.md); a
# picture of size against decoding speed on the tar, every tool and every qk
# level, goes beside it as benchmark.svg (gnuplot).
#
# QK_BENCH_SOURCE names another folder in place of /usr/include (for a quick
# trial of the script). Not run in CI: it takes several minutes. Installs what is missing with
# apt-get (zstd, xz-utils, bzip2, valgrind, cmake, g++).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=5
QUICK=0
OUT="$ROOT/docs/benchmark.md"
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) RUNS=$2; shift 2 ;;
        --quick) QUICK=1; RUNS=3; shift ;;
        --out) OUT=$2; shift 2 ;;
        *) echo "usage: bench/run.sh [--runs N] [--quick] [--out FILE]" >&2; exit 2 ;;
    esac
done

need=()
for pair in zstd:zstd xz:xz-utils bzip2:bzip2 gzip:gzip valgrind:valgrind cmake:cmake g++:g++ tar:tar gnuplot:gnuplot-nox; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || need+=("${pair##*:}")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "== installing ${need[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

BUILD="$ROOT/build-bench"
echo "== building (Release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target qkbench >/dev/null
cmake --build "$BUILD" -j2 --target qk >/dev/null 2>&1 || true
cmake --build "$BUILD" -j2 --target qkdec >/dev/null 2>&1 || true
BENCH="$BUILD/bench/qkbench"
QK="$BUILD/programs/qk"
QKDEC="$BUILD/programs/qkdec"
[ -x "$QK" ] || QK=""
[ -x "$QKDEC" ] || QKDEC=""
# `qk a` takes a level when it offers one; otherwise the driver packs.
QK_LEVEL_OPTION=""
if [ -n "$QK" ] && "$QK" a --help 2>&1 | grep -q -- "--level"; then QK_LEVEL_OPTION="--level="; fi

if [ -d /dev/shm ] && [ -w /dev/shm ]; then WORK=/dev/shm/qkbench.$$; else WORK=/tmp/qkbench.$$; fi
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
echo "== working in $WORK"

# ---- corpus -----------------------------------------------------------------
SRC=${QK_BENCH_SOURCE:-/usr/include}
tar -cf "$WORK/inc.tar" -C "$(dirname "$SRC")" "$(basename "$SRC")" 2>/dev/null
TREE_FILES=$(find "$SRC" -type f | wc -l)
TREE_BYTES=$(find "$SRC" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
TAR_BYTES=$(stat -c %s "$WORK/inc.tar")
: > "$WORK/big.bin"
while [ "$(stat -c %s "$WORK/big.bin")" -lt 67108864 ]; do cat "$WORK/inc.tar" >> "$WORK/big.bin"; done
truncate -s 67108864 "$WORK/big.bin"
mkdir -p "$WORK/small"
"$BENCH" smalltree "$WORK/inc.tar" "$WORK/small/small" 10000
SMALL_BYTES=$(find "$WORK/small" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
tar -cf "$WORK/small.tar" -C "$WORK/small" small
[ "$QUICK" -eq 1 ] && LEVELS="1 6 9" || LEVELS="1 2 3 4 5 6 7 8 9"

# ---- measuring --------------------------------------------------------------
# run N [-i in] [-o out] -- cmd...: prints "median_seconds peak_kib
# median_cpu_seconds" of N runs.
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
run() {
    local n=$1; shift
    local times=() cpus=() peak=0 line t p c
    for _ in $(seq "$n"); do
        line=$("$BENCH" measure "$@" 2>/dev/null | tail -n 1) || { echo "failed: $*" >&2; exit 1; }
        t=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")
        c=$(sed -n 's/.*cpu=\([0-9.]*\).*/\1/p' <<<"$line")
        p=$(sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p' <<<"$line")
        times+=("$t")
        cpus+=("$c")
        [ "$p" -gt "$peak" ] && peak=$p
    done
    printf '%s %s %s\n' "$(printf '%s\n' "${times[@]}" | median)" "$peak" "$(printf '%s\n' "${cpus[@]}" | median)"
}

ROWS="$WORK/rows"
: > "$ROWS"
# row CASE TOOL SECONDS PEAK_KIB CPU BYTES (the first three figures as run prints them)
row() {
    printf '%s|%s|%s|%s|%s|%s\n' "$1" "$2" "$3" "$6" "$4" "$5" >> "$ROWS"
    echo "   $2: $3 s (processor $5 s), $6 bytes, peak $4 KiB"
}

qk_pack() {  # qk_pack LEVEL ARCHIVE INPUT...
    local level=$1 archive=$2; shift 2
    if [ -n "$QK_LEVEL_OPTION" ]; then
        run "$PACK_RUNS" -o /dev/null -- "$QK" a "${QK_LEVEL_OPTION}$level" "$archive" "$@"
    else
        run "$PACK_RUNS" -o /dev/null -- "$BENCH" pack -l "$level" "$archive" "$@"
    fi
}

qk_test() {  # qk_test ARCHIVE
    if [ -n "$QK" ]; then run "$RUNS" -o /dev/null -- "$QK" t "$1"; else run "$RUNS" -o /dev/null -- "$BENCH" test "$1"; fi
}

# The single-file cases: pack at every level and with every other packer,
# then decode each archive made at its packer's top level.
bench_file() {  # bench_file CASE FILE LEVELS
    local name=$1 file=$2 levels=$3 r
    echo "== $name: packing"
    PACK_RUNS=$RUNS
    r=$(run "$RUNS" -i "$file" -o "$WORK/$name.gz" -- gzip -9 -c); row "$name pack" "gzip -9" $r "$(stat -c %s "$WORK/$name.gz")"
    PACK_RUNS=1
    r=$(run 1 -i "$file" -o "$WORK/$name.zst" -- zstd -19 -c -q); row "$name pack" "zstd -19" $r "$(stat -c %s "$WORK/$name.zst")"
    r=$(run 1 -i "$file" -o "$WORK/$name.xz" -- xz -9 -c); row "$name pack" "xz -9" $r "$(stat -c %s "$WORK/$name.xz")"
    r=$(run 1 -i "$file" -o "$WORK/$name.bz2" -- bzip2 -9 -c); row "$name pack" "bzip2 -9" $r "$(stat -c %s "$WORK/$name.bz2")"
    for level in $levels; do
        [ "$level" -le 6 ] && PACK_RUNS=$RUNS || PACK_RUNS=1
        r=$(qk_pack "$level" "$WORK/$name.$level.qk1" "$file")
        row "$name pack" "qk a level $level" $r "$(stat -c %s "$WORK/$name.$level.qk1")"
    done
    local best=${levels##* }
    echo "== $name: decoding"
    r=$(run "$RUNS" -i "$WORK/$name.gz" -o /dev/null -- gzip -d -c); row "$name decode" "gzip -d" $r "$(stat -c %s "$WORK/$name.gz")"
    r=$(run "$RUNS" -i "$WORK/$name.zst" -o /dev/null -- zstd -d -c -q); row "$name decode" "zstd -d" $r "$(stat -c %s "$WORK/$name.zst")"
    r=$(run "$RUNS" -i "$WORK/$name.xz" -o /dev/null -- xz -d -c); row "$name decode" "xz -d" $r "$(stat -c %s "$WORK/$name.xz")"
    r=$(run "$RUNS" -i "$WORK/$name.bz2" -o /dev/null -- bzip2 -d -c); row "$name decode" "bzip2 -d" $r "$(stat -c %s "$WORK/$name.bz2")"
    r=$(qk_test "$WORK/$name.$best.qk1"); row "$name decode" "qk t (level $best)" $r "$(stat -c %s "$WORK/$name.$best.qk1")"
    r=$(qk_test "$WORK/$name.1.qk1"); row "$name decode" "qk t (level 1)" $r "$(stat -c %s "$WORK/$name.1.qk1")"
    # The other levels too, and more levels of gzip and zstd, for the picture
    # (not in the table).
    if [ "$name" = tar ]; then
        local more
        for more in "gzip -1:gz1:gzip -d -c" "zstd -3:zst3:zstd -d -c -q" "zstd -9:zst9:zstd -d -c -q"; do
            local tool=${more%%:*} rest=${more#*:}
            local ext=${rest%%:*} dec=${rest#*:}
            r=$(run 1 -i "$file" -o "$WORK/$name.$ext" -- ${tool} -c); row "$name pack-more" "$tool" $r "$(stat -c %s "$WORK/$name.$ext")"
            r=$(run "$RUNS" -i "$WORK/$name.$ext" -o /dev/null -- $dec); row "$name decode-more" "$tool (decode)" $r "$(stat -c %s "$WORK/$name.$ext")"
        done
    fi
    for level in $levels; do
        [ "$level" = "$best" ] || [ "$level" = 1 ] && continue
        r=$(qk_test "$WORK/$name.$level.qk1"); row "$name decode-more" "qk t (level $level)" $r "$(stat -c %s "$WORK/$name.$level.qk1")"
    done
}

# The tree cases: pack the folder, then extract it with qkdec -y and qk x
# against tar -xzf of the gzip -9 tar of the same folder.
bench_tree() {  # bench_tree CASE FOLDER TAR LEVELS
    local name=$1 folder=$2 tarfile=$3 levels=$4 r level best=${4##* }
    echo "== $name: packing"
    r=$(run 1 -i "$tarfile" -o "$WORK/$name.tar.gz" -- gzip -9 -c); row "$name pack" "tar + gzip -9" $r "$(stat -c %s "$WORK/$name.tar.gz")"
    for level in $levels; do
        PACK_RUNS=1
        r=$(qk_pack "$level" "$WORK/$name.$level.qk1" "$folder")
        row "$name pack" "qk a level $level" $r "$(stat -c %s "$WORK/$name.$level.qk1")"
    done
    echo "== $name: extracting"
    # Every run writes into a folder of its own that nothing was removed
    # from: ext4 skips the inodes freed by a recent removal when it makes new
    # files, and a run after a large removal can take ten times as long
    # (the time goes to ext4_create scanning them). The folders are removed
    # when the case is done, an untimed round first takes whatever an earlier
    # removal left, and the tools take turns in every round, so that a disk
    # whose speed drifts during the case weighs on each of them alike.
    # extract_TOOL ARCHIVE FOLDER
    extract_tar() { run 1 -- tar -xzf "$WORK/$name.tar.gz" -C "$2"; }
    extract_qk() {
        if [ -n "$QKDEC" ]; then run 1 -o /dev/null -- "$QKDEC" -y "-d$2/" "$1"; else run 1 -- "$BENCH" extract "$1" "$2"; fi
    }
    extract_qkx() { run 1 -- "$QK" x -q -o "$2" "$1"; }
    local tools=(extract_tar extract_qk) labels=("tar -xzf" "qkdec -y (level $best)") sizes
    sizes=("$(stat -c %s "$WORK/$name.tar.gz")" "$(stat -c %s "$WORK/$name.$best.qk1")")
    if [ -n "$QK" ]; then tools+=(extract_qkx); labels+=("qk x (level $best)"); sizes+=("${sizes[1]}"); fi
    # Into tmpfs, and into a folder on the disk that holds /var/tmp (the
    # page cache takes the writes in both; the disk adds the file system's
    # own work).
    local where case i round t p c parent out n=0
    for where in tmpfs disk; do
        if [ "$where" = tmpfs ]; then parent=$(mktemp -d -p "$WORK" out.XXXXXX); case="$name extract"; else parent=$(mktemp -d -p /var/tmp qkbench-out.XXXXXX); case="$name extract (disk)"; fi
        local -a times=() cpus=() peaks=()
        for round in $(seq 0 "$RUNS"); do
            for i in "${!tools[@]}"; do
                n=$((n + 1)); out="$parent/$n"; mkdir -p "$out"; sync
                read -r t p c < <("${tools[$i]}" "$WORK/$name.$best.qk1" "$out")
                [ "$(find "$out" -type f | wc -l)" -gt 0 ] || { echo "nothing extracted: ${labels[$i]}" >&2; exit 1; }
                [ "$round" = 0 ] && continue
                times[$i]+="$t "; cpus[$i]+="$c "
                [ "$p" -gt "${peaks[$i]:-0}" ] && peaks[$i]=$p
            done
        done
        for i in "${!tools[@]}"; do
            row "$case" "${labels[$i]}" "$(tr ' ' '\n' <<<"${times[$i]}" | grep . | median)" "${peaks[$i]}" "$(tr ' ' '\n' <<<"${cpus[$i]}" | grep . | median)" "${sizes[$i]}"
        done
        rm -rf "$parent"
    done
    r=$(qk_test "$WORK/$name.$best.qk1"); row "$name extract" "qk t (level $best)" $r "$(stat -c %s "$WORK/$name.$best.qk1")"
}

bench_file "tar" "$WORK/inc.tar" "$LEVELS"
bench_file "64MiB" "$WORK/big.bin" "1 6 9"
bench_tree "tree" "$SRC" "$WORK/inc.tar" "1 9"
bench_tree "small" "$WORK/small/small" "$WORK/small.tar" "1 9"

echo "== callgrind: decoder instructions on the 64 MiB case"
cg() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*refs: *//p' | tr -d ','; }
CG_QK=$(cg "$BENCH" test "$WORK/64MiB.9.qk1")
CG_GZ=$(cg gzip -d -c "$WORK/64MiB.gz")
TAR_BEST=${LEVELS##* }
CG_QK_TAR=$(cg "$BENCH" test "$WORK/tar.$TAR_BEST.qk1")
CG_QK_TAR1=$(cg "$BENCH" test "$WORK/tar.1.qk1")
CG_GZ_TAR=$(cg gzip -d -c "$WORK/tar.gz")

# ---- the picture ------------------------------------------------------------
# Size against decoding speed on the tar: each packer's archive at the
# position of its size (x) and the speed its decoder reached on it (y).
SVG="$(dirname "$OUT")/benchmark.svg"
awk -F'|' -v total="$TAR_BYTES" '
    $1 == "tar pack" || $1 == "tar pack-more" { size[$2] = $4 }
    $1 == "tar decode" || $1 == "tar decode-more" { sec[$2] = $3 }
    END {
        split("gzip -9|gzip -d|zstd -19|zstd -d|xz -9|xz -d|bzip2 -9|bzip2 -d", p, "|")
        for (i = 1; i < 8; i += 2)
            if ((p[i] in size) && (p[i + 1] in sec))
                printf "%.4f %.1f \"%s\" 1\n", size[p[i]] / total * 100, total / sec[p[i + 1]] / 1e6, p[i]
        for (t in size) if ((t " (decode)") in sec)
            printf "%.4f %.1f \"%s\" 1\n", size[t] / total * 100, total / sec[t " (decode)"] / 1e6, t
        for (t in size) if (t ~ /^qk a level /) {
            l = substr(t, 12); d = "qk t (level " l ")"
            if (d in sec) printf "%.4f %.1f \"qk %s\" 2\n", size[t] / total * 100, total / sec[d] / 1e6, l
        }
    }' "$ROWS" > "$WORK/points"
gnuplot <<GNUPLOT || echo "(no picture: gnuplot failed)"
set terminal svg size 800,520 dynamic font "sans,12"
set output "$SVG"
set title "tar of $SRC ($TAR_BYTES bytes): size against decoding speed"
set xlabel "compressed size, % of the input (smaller is better)"
set ylabel "decoding speed, MB/s of output (higher is better)"
set logscale y
set grid
set key off
set offsets graph 0.08, graph 0.08, graph 0.1, graph 0.1
plot "$WORK/points" using 1:2:(\$4 == 2 ? 0x1f77b4 : 0xd62728) with points pt 7 ps 1.2 lc rgb variable, \
     "" using 1:2:3 with labels offset char 0,1 font "sans,10"
GNUPLOT

# ---- the table --------------------------------------------------------------
MACHINE="$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB, $(uname -sr)"
COMPILER=$(c++ --version | head -n 1)
COMMIT=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)
{
    echo "# Benchmark"
    echo
    echo "Run with \`bench/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), commit $COMMIT."
    echo
    echo "- Machine: $MACHINE; load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)."
    echo "- Compiler: $COMPILER, Release build. Work folder: $WORK (tmpfs when /dev/shm exists); \"(disk)\" extraction rows write below /var/tmp ($(df -T /var/tmp | awk 'NR == 2 { print $2 }'))."
    echo "- qk tools: $( [ -n "$QK" ] && echo "qk t" || echo "qkbench test" ) for testing, $( [ -n "$QKDEC" ] && echo "qkdec -y" || echo "qkbench extract" ) for extraction, $( [ -n "$QK_LEVEL_OPTION" ] && echo "qk a --level" || echo "qkbench pack -l (the library's writer; qk a has no level option)" ) for packing."
    echo "- Corpus: tar of $SRC, $TAR_BYTES bytes; the tree $SRC, $TREE_FILES files, $TREE_BYTES bytes;"
    echo "  a 64 MiB file (the tar's first 67,108,864 bytes); 10,000 small files, $SMALL_BYTES bytes."
    echo "- Times: wall-clock median of $RUNS runs (packers above level 6, zstd -19, xz -9 and bzip2 -9: one run);"
    echo "  ratios are to gzip in the same case (gzip -9 for packing, gzip -d or tar -xzf for decoding)."
    echo "  Processor: user plus system time of the process (median), which the load of other"
    echo "  work on the machine disturbs less than wall time. Peak: the largest maximum resident"
    echo "  size of the process over the runs."
    echo
    echo "| case | program | seconds | time / gzip | processor s | processor / gzip | bytes | size / gzip | peak MiB |"
    echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
    awk -F'|' '
        { key = $1; tool[NR] = $2; sec[NR] = $3; size[NR] = $4; peak[NR] = $5; cpu[NR] = $6; kase[NR] = key
          if ($2 ~ /^gzip/ || $2 ~ /^tar/) { gsec[key] = $3; gsize[key] = $4; gcpu[key] = $6 } }
        END {
            for (i = 1; i <= NR; i++) {
                k = kase[i]
                if (k ~ /-more/) continue
                ts = (gsec[k] > 0) ? sprintf("%.2f", sec[i] / gsec[k]) : "-"
                cs = (gcpu[k] > 0) ? sprintf("%.2f", cpu[i] / gcpu[k]) : "-"
                ss = (gsize[k] > 0) ? sprintf("%.3f", size[i] / gsize[k]) : "-"
                if (k ~ /decode|extract/) ss = "-"
                printf "| %s | %s | %.3f | %s | %.3f | %s | %d | %s | %.1f |\n", k, tool[i], sec[i], ts, cpu[i], cs, size[i], ss, peak[i] / 1024
            }
        }' "$ROWS"
    echo
    echo "Decoder instructions (callgrind) on the 64 MiB case: qk1 level 9 $CG_QK, gzip -d $CG_GZ;"
    echo "on the tar: qk1 level $TAR_BEST $CG_QK_TAR, level 1 $CG_QK_TAR1, gzip -d $CG_GZ_TAR."
    echo "In decoding rows, bytes is the size of the archive decoded."
    echo
    echo "![Size against decoding speed on the tar, every tool and qk level](benchmark.svg)"
} > "$WORK/table.md"
mkdir -p "$(dirname "$OUT")"
cp "$WORK/table.md" "$OUT"
cat "$WORK/table.md"
echo "== written to $OUT"
