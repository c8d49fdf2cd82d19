# `source fixture.sh TQ5 TOOL...` (tests/many-files.sh, tests/slurm.sh): skips (77) without a TOOL;
# makes $work (removed at the end, with any process in it): genbank/ (tests/many-files/in/, awkward
# names, .bz2 .xz .zst, archive.zip), late.seq.gz, ref/ (tq5's own runs); good: the names that must
# succeed, plain: those without braces.
set -Eeuo pipefail
export LC_ALL=C TQ5
skip() { echo "SKIPPED: $*" && exit 77; }
for tool in bzip2 xz zstd "${@:2}"; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
TQ5=$(realpath "$1") root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d) step=fixture
running() { # DIR: the processes working in DIR
    find /proc/[0-9]* -maxdepth 1 -name cwd \( -lname "$1" -o -lname "$1/*" \) -printf '%h\n' 2>/dev/null | cut -d / -f 3 || true
}
cleanup() { cd / && kill -KILL $(running "$work") 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAILED ($step): $*" >&2 && exit 1; }
trap 'echo "FAILED ($step): status $? at line $LINENO of $0" >&2' ERR
in=$work/genbank
mkdir "$in" "$work/ref" && cp "$root"/tests/many-files/in/* "$in/" && : >"$in/archive.zip"
cp "$in/plasmid.gb" "$in/-leading-dash.gbk" && cp "$in/plasmid.gb" "$in/a{1}.gb" && cp "$in/plasmid.gb.gz" "$in/copy.gbk.bgz"
for z in bz2:bzip2 xz:xz zst:zstd; do ${z#*:} -c "$in/plasmid.gb" >"$in/plasmid.gb.${z%:*}"; done
cp "$in/contigs.seq" "$in/it's.gb" && cp "$in/contigs.seq" "$in/has blank.gb" && gzip -nc "$in/contigs.seq" >"$work/late.seq.gz"
(cd "$work" && "$TQ5" <<<"late.seq.gz ref/late.seq.gz g" >/dev/null)
good=() plain=()
for path in "$in"/*.gb* "$in"/*.seq*; do
    name=${path##*/}
    [[ $name == cut-short.seq.gz || $name == *' '* ]] && continue
    (cd "$in" && "$TQ5" <<<"$name $work/ref/$name g" >/dev/null)
    good+=("$name") && [[ $name == *[{}]* ]] || plain+=("$name")
done
skipped="skipped 2 in genbank, not named as GenBank files (*.gb, *.gbk, *.gbff, *.seq, each bare or .gz, .bgz, .zst,\
 .xz, .bz2): archive.zip md5sums.txt; a .zip file is a zip archive, which tq5 does not read: unzip it first"

folder() { dir=$1 && mkdir "$dir" && cp -r "$in" "$dir/" && ln -s "$root/examples" "$dir/examples"; } # DIR: the inputs
readme() { # PATTERN: the command of README.md or docs/development.md whose first line matches
    awk -v p="$1" '$0 ~ p { on = 1 } on { print } on && !/[\\|]$/ { exit }' "$root/README.md" "$root/docs/development.md" |
        grep . || fail "no command $1 in README.md or docs/development.md"
}
check() { # T5 NAME...: T5 holds NAME.t5 of each NAME, each tq5's own, and nothing else but logs/
    local t5=$1 name && shift
    [ "$(ls -A "$t5" | sed '/^logs$/d')" = "$(printf '%s\n' "${@/%/.t5}" | sort)" ] || fail "in $t5: $(ls -A "$t5")"
    for name; do cmp "$work/ref/$name.t5" "$t5/$name.t5" || fail "$name.t5 differs"; done
}
reasons() { # T5 OUTPUT...: OUTPUT names the skipped files; it and T5/logs say why the two bad files failed
    grep -q -F -- "$skipped" "${@:2}" &&
        grep -q '^run-tq5: genbank/cut-short.seq.gz: tq5 failed with status 1: PROBLEM READING' "${@:2}" &&
        grep -q 'PROBLEM READING THE FILE cut-short.seq.gz.' "$1/logs/cut-short.seq.gz.log" &&
        grep -q ": genbank/has blank.gb: the name holds a blank" "${@:2}" "$1/logs/has blank.gb.log" ||
        fail "the skipped files or a reason not told"
}
