#!/usr/bin/env bash
# End-to-end runs under Wine of what is Windows's own (drive letters,
# backslashes, Shift-JIS names and text in any code page, copy /b, the
# console, names Windows reads otherwise): qk.exe packs trees made here, read
# through the wide API, and qkdec.exe must give them back with every date.
#
#   tests/windows/e2e.sh BUILD_DIR    (a cross build, its Wine prefix in BUILD_DIR/wineprefix)
#
# Each check prints "ok" or "FAIL"; the last line is "e2e: N passed, M
# failed", and the exit code is 1 on any failure.
set -uo pipefail

build=$(cd "$1" && pwd)
qkdec="$build/programs/qkdec.exe"
qk="$build/programs/qk.exe"
work="$build/e2e"
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=${QK_WINE:-$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)}
passed=0
failed=0

# Text in the program's Shift-JIS, from the UTF-8 of this script.
sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
# The Windows form of a Unix path, on Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# run DIR INPUT PROGRAM ARGS...: PROGRAM in DIR with INPUT (printf %b) on
# standard input; its output in DIR/out.txt, its exit code in $rc.
run() {
    local dir=$1 input=$2 program=$3
    shift 3
    printf '%b' "$input" >"$dir/in.txt"
    (cd "$dir" && timeout 120 "$wine" "$program" "$@" <in.txt >out.txt 2>err.txt)
    rc=$?
}

# check NAME CONDITION...: one check on a shell condition, with the output
# of the last run when it fails.
check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   - $name"
    else
        failed=$((failed + 1))
        echo "FAIL - $name (exit code $rc)"
        tr -d '\r' <"$dir/out.txt" | head -20 | iconv -f CP932 -t UTF-8 -c | sed 's/^/       /'
    fi
}
# True when DIR/out.txt holds TEXT (UTF-8 here, Shift-JIS in the output).
said() { LC_ALL=C grep -qF -- "$(sjis "$2")" "$1/out.txt"; }
# True when the screen of a console run shows TEXT (UTF-8 whatever the code page).
shown() { LC_ALL=C grep -qF -- "$2" "$1/out.txt"; }

# stamps FOLDER: each file below FOLDER (programs and the runs' own files
# aside) with its date and checksum, sorted.
stamps() {
    (cd "$1" && find . -type f ! -name '*.exe' ! -regex '.*/\(in\|out\|err\|screen\)\.txt' \
        -exec stat -c '%n %Y' {} \; -exec sha256sum {} \; | LC_ALL=C sort)
}
# files TREE FOLDER: FOLDER holds the files of the fixture tree TREE, byte
# for byte with their dates, and no other.
files() {
    [ "$(stamps "$fx/$1")" = "$(stamps "$2")" ] ||
        { diff <(stamps "$fx/$1") <(stamps "$2") | head -6 | sed 's/^/       /'; return 1; }
}

rm -rf "$work"
fx="$work/fixtures"
mkdir -p "$fx"
# grow TREE PATH:SIZE:TIME...: files of the fixture tree $fx/TREE, their
# bytes cut from qkdec.exe at a different place each.
cut=0
grow() {
    local tree=$fx/$1 item path size time
    shift
    for item; do
        IFS=: read -r path size time <<<"$item"
        mkdir -p "$(dirname "$tree/$path")"
        cut=$((cut + 4099))
        tail -c +"$cut" "$qkdec" | head -c "$size" >"$tree/$path"
        touch -d "@$time" "$tree/$path"
    done
}
# pack NAME TREE [OPTION...]: $fx/NAME.qk1 packed by qk.exe from $fx/TREE, its length as 4
# big-endian bytes in $fx/NAME.len. Wine's server now and then drops the first
# client after it starts ("recvmsg: Connection reset by peer"): a second try.
pack() {
    local name=$1 tree=$2 n
    shift 2
    (cd "$fx/$tree" && "$wine" "$qk" a -q "$@" "../$name.qk1" * </dev/null >/dev/null 2>&1) ||
        (cd "$fx/$tree" && "$wine" "$qk" a -q "$@" "../$name.qk1" * </dev/null >/dev/null 2>&1) ||
        { echo "FAIL - fixtures: qk.exe packs $name"; failed=$((failed + 1)); }
    n=$(stat -c %s "$fx/$name.qk1" 2>/dev/null || echo 0)
    printf "$(printf '\\%03o' $((n >> 24)) $((n >> 16 & 255)) $((n >> 8 & 255)) $((n & 255)))" >"$fx/$name.len"
}
grow plain readme.txt:2000:946684800 docs/guide.txt:40000:1234567890 \
    docs/img/data.bin:300000:1500000000 empty.dat:0:315532800 docs/sub/deep/last.txt:777:4026531840
# Every folder and file name holds characters whose second byte is 0x5C (ソ,
# 表, 能, 十, 予; 予定表 ends in one), next to half-width katakana.
grow sjis 日本語/ソフト/表示.txt:5000:1000000000 日本語/能力.csv:1200:1100000000 \
    十字/ポート.bin:70000:1200000000 ﾊﾝｶｸ/ｶﾅ.txt:300:1300000000 日本語/予定表/週.txt:64:1400000000 \
    ドキュメント/空.txt:0:1600000000
cp -a "$fx/sjis" "$fx/sfx" && grow sfx setup.ini:900:1700000000
# A device name Windows would open instead of a file.
grow unfit ok.txt:100:946684800 docs/CON.txt:100:946684800
# Names that are one file to Windows, which compares them in any case of any script.
grow samefile a.txt:10:946684800 A.TXT:11:946684800 ａ.txt:12:946684800 Ａ.txt:13:946684800 \
    α:14:946684800 Α:15:946684800 д:16:946684800 Д:17:946684800 d/f.txt:18:946684800 d/F.txt:19:946684800
for tree in plain sjis sfx unfit samefile; do pack $tree $tree; done
pack password plain -i -p secret-pw
pack password_sjis sjis -l -p パス表  # the last character ends in 0x5C

# fresh NAME FIXTURE...: a new folder $dir with copies of the fixtures and an empty out/.
fresh() {
    dir="$work/$1"
    shift
    mkdir -p "$dir/out"
    local f
    for f in "$@"; do cp "$fx/$f" "$dir/"; done
}

## The program's face.
fresh usage
run "$dir" "" "$qkdec"
check "no argument: exit code 1, lines ending in CR LF" \
    grep -q $' qkdec  : QuillKnot Decode Program for Windows95/NT Console\r$' "$dir/out.txt"

## Plain archives into relative and drive-letter folders.
fresh plain plain.qk1
run "$dir" "" "$qkdec" -dout plain.qk1
check "plain: every file, size and date, into a relative -d folder" files plain "$dir/out"
check "plain: status lines with backslashes" said "$dir" 'docs\img\data.bin (300,000 byte)'
rm -rf "$dir/out" && mkdir "$dir/out"
run "$dir" "" "$qkdec" "-d$(winpath "$dir/out")" "$(winpath "$dir/plain.qk1")"
check "drive letter: -dZ:\\...\\out without its final backslash" files plain "$dir/out"
check "drive letter: the folder gets its backslash" said "$dir" "OutDir: $(winpath "$dir/out")\\ (5 file"
mkdir "$dir/表"
run "$dir" "" "$qkdec" "-d$(winpath "$dir")\表" plain.qk1
check "-d folder ending in 表 (95 5C): the entries go into it" files plain "$dir/表"

## Shift-JIS names in folders, with 0x5C second bytes, whatever the ANSI code page.
fresh sjis sjis.qk1
run "$dir" "" "$qkdec" -dout sjis.qk1
check "Shift-JIS names: folders and files get their Unicode names" files sjis "$dir/out"
check "Shift-JIS names: console text passes unchanged" said "$dir" ': 日本語\ソフト\表示.txt (5,000 byte)'

## A Japanese password from the wide command line, and from redirected input
## as CP932 bytes with CR LF.
fresh japanese password_sjis.qk1
run "$dir" "" "$qkdec" -dout -pパス表 password_sjis.qk1
check "Japanese password given with -p" files sjis "$dir/out"
rm -rf "$dir/out" && mkdir "$dir/out"
run "$dir" "$(sjis 'パス表' | od -An -tx1 | tr -d ' \n' | sed 's/../\\x&/g')\r\n" "$qkdec" -dout password_sjis.qk1
check "Japanese password typed as CP932 bytes with CR LF" files sjis "$dir/out"

## Existing files replaced, in folders opened by handle.
fresh existing plain.qk1
run "$dir" "" "$qkdec" -dout plain.qk1
printf 'changed' >"$dir/out/docs/sub/deep/last.txt"
run "$dir" "" "$qkdec" -y -dout plain.qk1
check "existing files with -y: all written again, dates set" files plain "$dir/out"

## Self-extracting programs: program file + archive + trailer, put together by copy /b.
# sfx NAME: $dir/setup.exe made of qkdec.exe, NAME.qk1 and NAME.len.
sfx() {
    fresh "$1" "$1.qk1" "$1.len"
    cp "$qkdec" "$dir/qkdec.exe"
    (cd "$dir" && "$wine" cmd /c copy /b "qkdec.exe+$1.qk1+$1.len" setup.exe >/dev/null 2>&1)
    rm -rf "$dir/qkdec.exe" "$dir/$1.qk1" "$dir/$1.len" "$dir/out"
}
sfx sfx
mkdir -p "$work/elsewhere"
run "$work/elsewhere" "" "$dir/setup.exe"
check "self-extracting: entries beside the program" files sfx "$dir"
sfx password
run "$work/elsewhere" "" "$dir/setup.exe" -y secret-pw
check "self-extracting with the password as a plain word" files plain "$dir"

## A name Windows would read as a device: both programs refuse the archive
## before writing anything.
fresh unfit unfit.qk1
run "$dir" "" "$qkdec" -y -dout unfit.qk1
check "unfit names: qkdec.exe stops with 2, writes nothing" [ "$rc" = 2 -a -z "$(ls -A "$dir/out")" ]
run "$dir" "" "$qk" x -q -o out2 unfit.qk1
check "unfit names: qk.exe x says why" grep -q "a name Windows cannot give a file" "$dir/err.txt"

## Names that are one file to Windows (in another case, of any script): the
## later entry is written over the earlier one, with a notice.
fresh samefile samefile.qk1
run "$dir" "" "$qkdec" -y -dout samefile.qk1
check "same file: qkdec.exe tells of every later entry, leaves one file of each" \
    [ "$(LC_ALL=C grep -cF -- "$(sjis "が重複しています。")" "$dir/out.txt")" = 5 -a \
    "$(find "$dir/out" -type f | wc -l)" = 5 ]

## At a console (a Wine console on a pseudo-terminal): the password read key by
## key, text through the console API; the screen arrives in UTF-8, whatever the code page.
# console DIR KEYS COMMAND: types KEYS (printf %b) into COMMAND run by cmd.exe.
console() {
    (cd "$1" && printf '%b' "$2" | timeout 60 script -qec "'$wine' cmd /c '$3'" /dev/null >screen.txt 2>&1)
    rc=$?
    sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' "$1/screen.txt" >"$1/out.txt"
}
fresh console password.qk1
console "$dir" 'secret-px\b\bpw\r' "$(winpath "$qkdec") -dout password.qk1"
check "console: masked password typed with Backspace and Enter" files plain "$dir/out"
check "console: Backspace rewrites the prompt line shorter" \
    shown "$dir" $'\rパスワードを入力して下さい。?:********\rパスワードを入力して下さい。?:*******'
check "console: Japanese text reaches a console in another code page" shown "$dir" '伸長処理を終了しました。'
fresh console-932 sjis.qk1
console "$dir" '' "chcp 932 && $(winpath "$qkdec") -dout sjis.qk1"
check "console in code page 932: Shift-JIS names" files sjis "$dir/out"
check "console in code page 932: Shift-JIS text shown as it is" \
    shown "$dir" ': 日本語\ソフト\表示.txt (5,000 byte)'
# Wine reads a lone Esc from a terminal as the start of a key sequence; a
# second one makes it a key of its own.
fresh console-esc password.qk1
console "$dir" 'abc\033\033' "$(winpath "$qkdec") -dout password.qk1"
check "console: Esc gives up the password entry" shown "$dir" 'パスワードが入力されませんでした。'
check "console: Esc writes nothing" [ -z "$(ls -A "$dir/out")" ]

echo "e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]
