#!/usr/bin/env bash
# End-to-end runs of qkdec.exe and qk.exe under Wine on archives written by
# the project's writer (qk_windows_e2e_fixtures): what is Windows's own (drive
# letters, backslashes, Shift-JIS names and text in any code page, copy /b,
# the console, names Windows reads otherwise), with every file's date.
#
#   tests/windows/e2e.sh BUILD_DIR
#
# BUILD_DIR is a cross build (cmake/mingw-w64-x86_64.cmake) with its Wine
# prefix in BUILD_DIR/wineprefix. Each check prints "ok" or "FAIL"; the last
# line is "e2e: N passed, M failed", and the exit code is 1 on any failure.
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

# files MANIFEST FOLDER: every file of the manifest (name, size, date,
# SHA-256) is in FOLDER, and FOLDER holds no other file (programs aside).
files() {
    local manifest=$1 folder=$2 name size time sha
    while IFS=$'\t' read -r name size time sha; do
        [ "$(stat -c '%s %Y' "$folder/$name" 2>/dev/null)" = "$size $time" ] &&
            [ "$(sha256sum <"$folder/$name" | cut -d' ' -f1)" = "$sha" ] ||
            { echo "       differs: $name"; return 1; }
    done <"$manifest"
    [ "$(find "$folder" -type f ! -name '*.exe' | grep -cv '/\(in\|out\|err\|screen\)\.txt$')" = \
        "$(wc -l <"$manifest")" ] || { echo "       other files in $folder"; return 1; }
}

rm -rf "$work"
mkdir -p "$work/fixtures"
fx="$work/fixtures"
# Wine's server now and then drops the first client after it starts
# ("recvmsg: Connection reset by peer"): the fixtures get a second try.
if ! (cd "$fx" && "$wine" "$build/tests/windows/qk_windows_e2e_fixtures.exe" . >/dev/null) &&
    ! (cd "$fx" && "$wine" "$build/tests/windows/qk_windows_e2e_fixtures.exe" . >/dev/null); then
    echo "FAIL - fixtures: the writer makes the test archives"
    echo "e2e: $passed passed, 1 failed"
    exit 1
fi

# fresh NAME FIXTURE...: a new folder $dir holding copies of the fixtures
# and an empty out/.
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

## Plain archives into relative and drive-letter folders, and into none.
fresh plain plain.qk1
run "$dir" "" "$qkdec" -dout plain.qk1
check "plain: every file, size and date, into a relative -d folder" files "$fx/plain.manifest" "$dir/out"
check "plain: status lines with backslashes" said "$dir" 'OutFile(3/5): docs\img\data.bin (300,000 byte)'
rm -rf "$dir/out" && mkdir "$dir/out"
run "$dir" "" "$qkdec" "-d$(winpath "$dir/out")" "$(winpath "$dir/plain.qk1")"
check "drive letter: -dZ:\\...\\out without its final backslash" files "$fx/plain.manifest" "$dir/out"
check "drive letter: the folder gets its backslash" said "$dir" "OutDir: $(winpath "$dir/out")\\ (5 file"
run "$dir" "" "$qkdec" -dnowhere plain.qk1
check "missing -d folder: not created, exit code 2" [ ! -e "$dir/nowhere" -a "$rc" = 2 ]
mkdir "$dir/表"
run "$dir" "" "$qkdec" "-d$(winpath "$dir")\表" plain.qk1
check "-d folder ending in 表 (95 5C): the entries go into it" files "$fx/plain.manifest" "$dir/表"

## Shift-JIS names in folders, with 0x5C second bytes, whatever the ANSI code page.
fresh sjis sjis.qk1
run "$dir" "" "$qkdec" -dout sjis.qk1
check "Shift-JIS names: folders and files get their Unicode names" files "$fx/sjis.manifest" "$dir/out"
check "Shift-JIS names: console text passes unchanged" said "$dir" 'OutFile(1/6): 日本語\ソフト\表示.txt (5,000 byte)'

## A Japanese password from the wide command line, and from redirected input
## as CP932 bytes with CR LF.
fresh password password_sjis.qk1
run "$dir" "" "$qkdec" -dout -pパス表 password_sjis.qk1
check "Japanese password given with -p" files "$fx/password_sjis.manifest" "$dir/out"
rm -rf "$dir/out" && mkdir "$dir/out"
run "$dir" "$(sjis 'パス表' | od -An -tx1 | tr -d ' \n' | sed 's/../\\x&/g')\r\n" "$qkdec" -dout password_sjis.qk1
check "Japanese password typed as CP932 bytes with CR LF" files "$fx/password_sjis.manifest" "$dir/out"

## Existing files replaced, in folders opened by handle.
fresh existing plain.qk1
run "$dir" "" "$qkdec" -dout plain.qk1
printf 'changed' >"$dir/out/docs/sub/deep/last.txt"
run "$dir" "" "$qkdec" -y -dout plain.qk1
check "existing files with -y: all written again, dates set" files "$fx/plain.manifest" "$dir/out"

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
check "self-extracting: entries beside the program" files "$fx/sfx.manifest" "$dir"
check "self-extracting: none in the current folder" [ -z "$(find "$work/elsewhere" -type f ! -name '*.txt')" ]
mkdir "$dir/given" "$dir/typed"
run "$work/elsewhere" "" "$dir/setup.exe" "-d$(winpath "$dir/given")"
check "self-extracting: -dFOLDER receives the entries" files "$fx/sfx.manifest" "$dir/given"
run "$work/elsewhere" "$(winpath "$dir/typed" | sed 's/\\/\\\\/g')\r\n" "$dir/setup.exe" -d
check "self-extracting: the folder typed for -d receives the entries" files "$fx/sfx.manifest" "$dir/typed"
sfx sfx_password
run "$work/elsewhere" "" "$dir/setup.exe" -y secret-pw
check "self-extracting with the password as a plain word" files "$fx/sfx_password.manifest" "$dir"

## qk.exe packs a tree, read through the wide API, and qkdec.exe gives it back.
fresh qk
mkdir -p "$dir/tree/日本語/ソフト" "$dir/tree/ﾊﾝｶｸ"
printf 'hello\r\n' >"$dir/tree/日本語/ソフト/表示.txt"
head -c 70000 "$qkdec" >"$dir/tree/ﾊﾝｶｸ/part.bin"
: >"$dir/tree/empty.txt"
touch -d @1234567890 "$dir/tree/日本語/ソフト/表示.txt"
touch -d @1500000000 "$dir/tree/ﾊﾝｶｸ/part.bin"
run "$dir" "" "$qk" a -q packed.qk1 tree
run "$dir" "" "$qkdec" -dout packed.qk1
check "qk.exe packs a tree with Japanese names, qkdec.exe gives it back" diff -r "$dir/tree" "$dir/out/tree"
check "qk.exe and qkdec.exe: dates come back" \
    [ "$(stat -c %Y "$dir/out/tree/日本語/ソフト/表示.txt" "$dir/out/tree/ﾊﾝｶｸ/part.bin" | tr '\n' ' ')" = "1234567890 1500000000 " ]

## Names Windows would read as something else (a device, a stream, a
## trailing dot): both programs refuse the archive before writing anything.
fresh unfit unfit.qk1
run "$dir" "" "$qkdec" -y -dout unfit.qk1
check "unfit names: qkdec.exe stops with 2, writes nothing" [ "$rc" = 2 -a -z "$(ls -A "$dir/out")" ]
run "$dir" "" "$qk" x -q -o out2 unfit.qk1
check "unfit names: qk.exe x says why" grep -q "a name Windows cannot give a file" "$dir/err.txt"
check "unfit names: qk.exe x writes nothing, not even its folder" [ ! -e "$dir/out2" ]

## Names that are one file to Windows (in another case, of any script): both
## programs write the later entry over the earlier one with a notice.
fresh samefile samefile.qk1
run "$dir" "" "$qkdec" -y -dout samefile.qk1
check "same file: qkdec.exe tells of every later entry, leaves one file of each" \
    [ "$(LC_ALL=C grep -cF -- "$(sjis "が重複しています。")" "$dir/out.txt")" = 5 -a \
    "$(find "$dir/out" -type f | wc -l)" = 5 ]
run "$dir" "" "$qk" x -f -o out2 samefile.qk1
check "same file: qk.exe x tells of every later entry, leaves one file of each" \
    [ "$(grep -c "another entry of the archive lands on this file too" "$dir/err.txt")" = 5 -a \
    "$(find "$dir/out2" -type f | wc -l)" = 5 ]

## At a console: a pseudo-terminal gives the program a Wine console, so the
## password is read key by key and text goes through the console API; the
## screen arrives here in UTF-8, whatever the console's code page.
# console DIR KEYS COMMAND: types KEYS (printf %b) into COMMAND run by cmd.exe.
console() {
    (cd "$1" && printf '%b' "$2" | timeout 60 script -qec "'$wine' cmd /c '$3'" /dev/null >screen.txt 2>&1)
    rc=$?
    sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' "$1/screen.txt" >"$1/out.txt"
}
fresh console password.qk1
console "$dir" 'secret-px\b\bpw\r' "$(winpath "$qkdec") -dout password.qk1"
check "console: masked password typed with Backspace and Enter" files "$fx/password.manifest" "$dir/out"
check "console: Backspace rewrites the prompt line shorter" \
    shown "$dir" $'\rパスワードを入力して下さい。?:********\rパスワードを入力して下さい。?:*******'
check "console: Japanese text reaches a console in another code page" shown "$dir" '伸長処理を終了しました。'
fresh console-932 sjis.qk1
console "$dir" '' "chcp 932 && $(winpath "$qkdec") -dout sjis.qk1"
check "console in code page 932: Shift-JIS names" files "$fx/sjis.manifest" "$dir/out"
check "console in code page 932: Shift-JIS text shown as it is" \
    shown "$dir" 'OutFile(1/6): 日本語\ソフト\表示.txt (5,000 byte)'
# Wine reads a lone Esc from a terminal as the start of a key sequence; a
# second one makes it a key of its own.
fresh console-esc password.qk1
console "$dir" 'abc\033\033' "$(winpath "$qkdec") -dout password.qk1"
check "console: Esc gives up the password entry" shown "$dir" 'パスワードが入力されませんでした。'
check "console: Esc writes nothing" [ -z "$(ls -A "$dir/out")" ]

echo "e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]
