#!/usr/bin/env bash
# End-to-end runs of qkdec.exe under Wine on archives written by the
# project's writer (qk_windows_e2e_fixtures) and on the reference archives:
# plain, drive letters, Shift-JIS names in folders, passwords, self-extracting
# programs put together with "copy /b", existing files, and every file's date.
#
#   tests/windows/e2e.sh BUILD_DIR [VECTORS_DIR]
#
# BUILD_DIR is a cross build (cmake/mingw-w64-x86_64.cmake) with its Wine
# prefix in BUILD_DIR/wineprefix; VECTORS_DIR holds the reference archives
# (tests/data/vectors by default). Each check prints "ok" or "FAIL"; the last
# line is "e2e: N passed, M failed", and the exit code is 1 on any failure.
set -uo pipefail

build=$(cd "$1" && pwd)
qkdec="$build/programs/qkdec.exe"
fixtures="$build/tests/windows/qk_windows_e2e_fixtures.exe"
work="$build/e2e"
vectors=$(cd "${2:-$(dirname "$0")/../data/vectors}" && pwd)

export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=${QK_WINE:-$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)}

passed=0
failed=0

pass() {
    passed=$((passed + 1))
    echo "ok   - $1"
}

fail() {
    failed=$((failed + 1))
    echo "FAIL - $1"
    shift
    local text
    for text in "$@"; do printf '%s\n' "$text" | sed 's/^/       /'; done
}

# Text in the program's Shift-JIS, from the UTF-8 of this script.
sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }

# The Windows form of a Unix path, on Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# run DIR INPUT PROGRAM ARGS...: runs PROGRAM in DIR with INPUT (bytes, as
# printf %b reads them) on standard input; standard output goes to DIR/out.txt
# and the exit code to $rc.
run() {
    local dir=$1 input=$2 program=$3
    shift 3
    printf '%b' "$input" >"$dir/in.txt"
    (cd "$dir" && timeout 120 "$wine" "$program" "$@" <in.txt >out.txt 2>err.txt)
    rc=$?
}

# True when DIR/out.txt holds TEXT (UTF-8 here, Shift-JIS in the output).
said() { LC_ALL=C grep -qF -- "$(sjis "$2")" "$1/out.txt"; }

# check_files MANIFEST FOLDER: every file of the manifest is in FOLDER with
# its size, date and SHA-256, and FOLDER holds no other file (programs
# aside). Prints what differs; false when anything does.
check_files() {
    local manifest=$1 folder=$2 name size time sha problems=0 expected=0
    while IFS=$'\t' read -r name size time sha; do
        expected=$((expected + 1))
        local file="$folder/$name"
        if [ ! -f "$file" ]; then
            echo "missing: $name"
            problems=1
            continue
        fi
        [ "$(stat -c %s "$file")" = "$size" ] || { echo "size of $name: $(stat -c %s "$file"), not $size"; problems=1; }
        [ "$(stat -c %Y "$file")" = "$time" ] || { echo "date of $name: $(stat -c %Y "$file"), not $time"; problems=1; }
        [ "$(sha256sum <"$file" | cut -d' ' -f1)" = "$sha" ] || { echo "contents of $name differ"; problems=1; }
    done <"$manifest"
    local actual
    actual=$(find "$folder" -type f ! -name '*.exe' | wc -l)
    if [ "$actual" != "$expected" ]; then
        echo "$actual files in the folder, $expected expected:"
        (cd "$folder" && find . -type f ! -name '*.exe' | sort)
        problems=1
    fi
    return $problems
}

# expect_files NAME MANIFEST FOLDER: one check.
expect_files() {
    local report
    if report=$(check_files "$2" "$3"); then pass "$1"; else fail "$1" "exit code $rc" "$report"; fi
}

# expect NAME CONDITION...: one check on a shell condition.
expect() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name" "exit code $rc; output:" "$(tr -d '\r' <"$dir/out.txt" | head -20 | iconv -f CP932 -t UTF-8 -c)"; fi
}

rm -rf "$work"
mkdir -p "$work/fixtures"
# Wine's server now and then drops the first client after it starts
# ("recvmsg: Connection reset by peer"): the fixtures get a second try.
if ! (cd "$work/fixtures" && "$wine" "$fixtures" . >/dev/null) &&
    ! (cd "$work/fixtures" && "$wine" "$fixtures" . >/dev/null); then
    fail "fixtures: the writer makes the test archives"
    echo "e2e: $passed passed, $failed failed"
    exit 1
fi
fx="$work/fixtures"

# A fresh folder holding copies of the named fixtures.
fresh() {
    dir="$work/$1"
    shift
    mkdir -p "$dir"
    local f
    for f in "$@"; do cp "$fx/$f" "$dir/"; done
}

# extract NAME FIXTURE INPUT ARGS...: qkdec.exe run with INPUT and ARGS in a
# fresh folder holding FIXTURE and an empty out/.
extract() {
    fresh "$1" "$2"
    mkdir "$dir/out"
    local input=$3
    shift 3
    run "$dir" "$input" "$qkdec" "$@"
}

## The program's face: banner, usage, illegal option.
fresh usage
run "$dir" "" "$qkdec"
expect "no argument: usage and exit code 1" [ "$rc" = 1 ]
expect "banner and usage lines end in CR LF" grep -q $' qkdec  : QuillKnot Decode Program for Windows95/NT Console\r$' "$dir/out.txt"
run "$dir" "" "$qkdec" -x plain.qk1
expect "illegal option: message and exit code 1" said "$dir" " Illegal Option!! : -x"
expect "illegal option ends with 1" [ "$rc" = 1 ]

## A plain archive into a relative folder.
extract plain plain.qk1 "" -dout plain.qk1
expect_files "plain: every file, size and date, into a relative -d folder" "$fx/plain.manifest" "$dir/out"
expect "plain: exit code 0" [ "$rc" = 0 ]
expect "plain: status lines with backslashes" said "$dir" 'OutDir: out\ (5 file: 342,777 byte)'
expect "plain: entry names with backslashes" said "$dir" 'OutFile(3/5): docs\img\data.bin (300,000 byte)'
expect "plain: closing message in Shift-JIS" said "$dir" '伸長処理を終了しました。(処理時間：'

## Drive letters: the archive and the folder named from the root of Z:.
fresh drive
mkdir "$dir/out"
run "$dir" "" "$qkdec" "-d$(winpath "$dir/out")" "$(winpath "$fx/plain.qk1")"
expect_files "drive letter: -dZ:\\...\\out without its final backslash" "$fx/plain.manifest" "$dir/out"
expect "drive letter: the folder gets its backslash" said "$dir" "OutDir: $(winpath "$dir/out")\\ (5 file"

## An output folder that does not exist is not created.
fresh missing plain.qk1
run "$dir" "" "$qkdec" -dnowhere plain.qk1
expect "missing -d folder: stops with the mkdir or fopen message" \
    bash -c "grep -qaF '(mkdir)' '$dir/out.txt' || grep -qaF '(fopen)' '$dir/out.txt'"
expect "missing -d folder: nothing created" [ ! -e "$dir/nowhere" ]

## Shift-JIS names in folders, with 0x5C second bytes, whatever the ANSI code page.
extract sjis sjis.qk1 "" -dout sjis.qk1
expect_files "Shift-JIS names: folders and files get their Unicode names" "$fx/sjis.manifest" "$dir/out"
expect "Shift-JIS names: console text passes unchanged" said "$dir" 'OutFile(1/6): 日本語\ソフト\表示.txt (5,000 byte)'

## Passwords.
extract password-wrong password.qk1 "" -pwrong -dout password.qk1
expect "wrong password: the message, no file" said "$dir" 'パスワードが一致しません。'
expect "wrong password: no file" [ -z "$(ls -A "$dir/out")" ]

extract password-typed password.qk1 'secret-pw\n' -dout password.qk1
expect_files "password read from redirected input" "$fx/password.manifest" "$dir/out"
expect "password read from redirected input: prompt shown" said "$dir" 'QK InputPassword:'

extract password-sjis password_sjis.qk1 "$(sjis 'パス表' | od -An -tx1 | tr -d ' \n' | sed 's/../\\x&/g')\r\n" -dout password_sjis.qk1
expect_files "Shift-JIS password typed as CP932 bytes with CR LF" "$fx/password_sjis.manifest" "$dir/out"

## An output folder whose last character ends in 0x5C (表 is 95 5C) gets its separator.
fresh last-5c plain.qk1
mkdir "$dir/表"
run "$dir" "" "$qkdec" "-d$(winpath "$dir")\表" plain.qk1
expect_files "-d folder ending in 表: the entries go into it" "$fx/plain.manifest" "$dir/表"

## Self-extracting programs: program file + archive + trailer, as copy /b makes them.
# sfx_program NAME: DIR/setup.exe made of qkdec.exe, NAME.qk1 and NAME.len.
sfx_program() {
    fresh "$1" "$1.qk1" "$1.len"
    cp "$qkdec" "$dir/qkdec.exe"
    (cd "$dir" && "$wine" cmd /c copy /b "qkdec.exe+$1.qk1+$1.len" setup.exe >/dev/null 2>&1)
    rm -f "$dir/qkdec.exe" "$dir/$1.qk1" "$dir/$1.len"
}
sfx_program sfx
expect "self-extracting: copy /b puts the program together" [ -s "$dir/setup.exe" ]
mkdir "$work/elsewhere"
run "$work/elsewhere" "" "$dir/setup.exe"
expect_files "self-extracting: entries land beside the program, not in the current folder" "$fx/sfx.manifest" "$dir"
expect "self-extracting: nothing in the current folder" [ "$(ls -A "$work/elsewhere" | tr '\n' ' ')" = "err.txt in.txt out.txt " ]
expect "self-extracting: exit code 0" [ "$rc" = 0 ]
mkdir "$dir/given"
run "$work/elsewhere" "" "$dir/setup.exe" "-d$(winpath "$dir/given")"
expect_files "self-extracting: -dFOLDER receives the entries" "$fx/sfx.manifest" "$dir/given"
mkdir "$dir/typed"
run "$work/elsewhere" "$(winpath "$dir/typed" | sed 's/\\/\\\\/g')\r\n" "$dir/setup.exe" -d
expect_files "self-extracting: the folder typed for -d receives the entries" "$fx/sfx.manifest" "$dir/typed"

sfx_program sfx_password
run "$work/elsewhere" "" "$dir/setup.exe" -y secret-pw
expect_files "self-extracting with the password as a plain word" "$fx/sfx_password.manifest" "$dir"

## Existing files.
extract existing plain.qk1 "" -dout plain.qk1
spoil() {
    printf 'changed' >"$dir/out/readme.txt"
    touch -d @1000 "$dir/out/readme.txt"
}
spoil
run "$dir" "" "$qkdec" -y -dout plain.qk1
expect_files "existing files with -y: all written again, dates set" "$fx/plain.manifest" "$dir/out"
expect "existing files with -y: the question is answered" said "$dir" '[y/n]:All YES.'
expect "existing files with -y: the question counts the files" said "$dir" 'ファイル(5 file)が既に存在します。'

spoil
run "$dir" 'n\ny\ny\ny\ny\ny\ny\n' "$qkdec" -dout plain.qk1
expect "compare mode: reports the changed file and leaves it" [ "$(cat "$dir/out/readme.txt")" = changed ]
expect "compare mode: the compare lines" said "$dir" 'CompFile(1/5): readme.txt'
expect "compare mode: a difference is reported" said "$dir" '比較ファイルの内容と圧縮ファイルの内容が不一致です。'

## qk.exe packs a tree, read through the folder listing of the wide API, and
## qkdec.exe gives it back.
qk="$build/programs/qk.exe"
if [ -f "$qk" ]; then
    fresh qk
    mkdir -p "$dir/tree/日本語/ソフト" "$dir/tree/ﾊﾝｶｸ" "$dir/out"
    printf 'hello\r\n' >"$dir/tree/日本語/ソフト/表示.txt"
    head -c 70000 "$qkdec" >"$dir/tree/ﾊﾝｶｸ/part.bin"
    : >"$dir/tree/empty.txt"
    touch -d @1234567890 "$dir/tree/日本語/ソフト/表示.txt"
    touch -d @1500000000 "$dir/tree/ﾊﾝｶｸ/part.bin"
    run "$dir" "" "$qk" a -q packed.qk1 tree
    expect "qk.exe: packs a tree with Japanese names" [ "$rc" = 0 ]
    run "$dir" "" "$qk" t -q packed.qk1
    expect "qk.exe: tests its archive" [ "$rc" = 0 ]
    run "$dir" "" "$qkdec" -dout packed.qk1
    expect "qk.exe and qkdec.exe: the tree comes back" diff -r "$dir/tree" "$dir/out/tree"
    expect "qk.exe and qkdec.exe: dates come back" \
        [ "$(stat -c %Y "$dir/out/tree/日本語/ソフト/表示.txt" "$dir/out/tree/ﾊﾝｶｸ/part.bin" | tr '\n' ' ')" = "1234567890 1500000000 " ]
fi

## Names Windows would read as something else: qkdec.exe and qk.exe x both
## refuse the archive before writing anything.
extract unfit unfit.qk1 "" -y -dout unfit.qk1
expect "unfit names: qkdec.exe stops with 2" [ "$rc" = 2 ]
expect "unfit names: qkdec.exe writes nothing" [ -z "$(ls -A "$dir/out")" ]
if [ -f "$qk" ]; then
    run "$dir" "" "$qk" x -q -o out2 unfit.qk1
    expect "unfit names: qk.exe x fails" [ "$rc" != 0 ]
    expect "unfit names: qk.exe x says why" grep -q "a name Windows cannot give a file" "$dir/err.txt"
    expect "unfit names: qk.exe x writes nothing, not even its folder" [ ! -e "$dir/out2" ]
fi

## Names that are one file to Windows (in another case, of any script; "."
## and empty components): both programs write the later entry over the
## earlier one with a notice.
extract samefile samefile.qk1 "" -y -dout samefile.qk1
expect "same file: qkdec.exe writes all" [ "$rc" = 0 ]
expect "same file: qkdec.exe tells of every later entry" \
    [ "$(LC_ALL=C grep -cF -- "$(sjis "が重複しています。")" "$dir/out.txt")" = 5 ]
expect "same file: qkdec.exe leaves one file of each" [ "$(find "$dir/out" -type f | wc -l)" = 5 ]
if [ -f "$qk" ]; then
    run "$dir" "" "$qk" x -f -o out2 samefile.qk1
    expect "same file: qk.exe x writes all" [ "$rc" = 0 ]
    expect "same file: qk.exe x tells of every later entry" \
        [ "$(grep -c "another entry of the archive lands on this file too" "$dir/err.txt")" = 5 ]
    expect "same file: qk.exe x leaves one file of each" [ "$(find "$dir/out2" -type f | wc -l)" = 5 ]
fi

## At a console: a pseudo-terminal gives the program a Wine console, so the
## password is read key by key with _getch and text goes through the console
## API. The screen arrives here in UTF-8, whatever the console's code page.
# console DIR KEYS COMMAND: types KEYS (printf %b) into COMMAND run by cmd.exe
# in DIR; the screen, without terminal controls, goes to DIR/out.txt.
console() {
    local dir=$1 keys=$2 command=$3
    (cd "$dir" && printf '%b' "$keys" | timeout 60 script -qec "'$wine' cmd /c '$command'" /dev/null >screen.txt 2>&1)
    rc=$?
    sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' "$dir/screen.txt" >"$dir/out.txt"
}
# True when the screen shows TEXT.
shown() { LC_ALL=C grep -qF -- "$2" "$1/out.txt"; }

if command -v script >/dev/null; then
    fresh console password.qk1
    mkdir "$dir/out"
    console "$dir" 'secret-px\b\bpw\r' "$(winpath "$qkdec") -dout password.qk1"
    expect_files "console: masked password typed with Backspace and Enter" "$fx/password.manifest" "$dir/out"
    expect "console: Backspace rewrites the prompt line shorter" \
        shown "$dir" $'\rパスワードを入力して下さい。?:********\rパスワードを入力して下さい。?:*******'
    expect "console: Japanese text reaches a console in another code page" \
        shown "$dir" '伸長処理を終了しました。'

    fresh console-932 sjis.qk1
    mkdir "$dir/out"
    console "$dir" '' "chcp 932 && $(winpath "$qkdec") -dout sjis.qk1"
    expect_files "console in code page 932: Shift-JIS names" "$fx/sjis.manifest" "$dir/out"
    expect "console in code page 932: Shift-JIS text shown as it is" \
        shown "$dir" 'OutFile(1/6): 日本語\ソフト\表示.txt (5,000 byte)'

    # Wine reads a lone Esc from a terminal as the start of a key sequence;
    # a second one makes it a key of its own.
    fresh console-esc password.qk1
    mkdir "$dir/out"
    console "$dir" 'abc\033\033' "$(winpath "$qkdec") -dout password.qk1"
    expect "console: Esc gives up the password entry" shown "$dir" 'パスワードが入力されませんでした。'
    expect "console: Esc writes nothing" [ -z "$(ls -A "$dir/out")" ]
else
    echo "skip - console runs: no script(1) for a pseudo-terminal"
fi

## The reference archives, by their recorded outcomes.
while IFS=$'\t' read -r file outcome password; do
    name=${file%.qk1}
    fresh "vector-$name"
    mkdir "$dir/out"
    input=""
    [ "$password" != - ] && input="$(printf '%s' "$password" | sed 's/../\\x&/g')\n"
    run "$dir" "$input" "$qkdec" -dout "$(winpath "$vectors/$file")"
    expect_files "reference $file ($outcome): the files it leaves" "$fx/vector-$name.manifest" "$dir/out"
done <"$fx/vectors.list"

echo "e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]
