# The inputs and checks of tests/many-files.sh and tests/slurm.sh, sourced with
# tq5's path in $tq5.  Makes $work (the caller removes it) with genbank/, the
# files of tests/many-files/in/ (cut-short.seq.gz: a gzip download cut short;
# md5sums.txt: no GenBank name) and copies with awkward names, and ref/, tq5's
# own run on each good input.  good: the names whose runs must succeed; plain:
# those without braces.
export LC_ALL=C
set -E
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED ($step): $*" >&2 && exit 1; }
trap 'echo "FAILED ($step): status $? at line $LINENO of $0" >&2' ERR
step=fixture in=$work/genbank
mkdir "$in" "$work/ref" && cp "$root"/tests/many-files/in/* "$in/" && : >"$in/archive.zip"
cp "$in/plasmid.gb" "$in/-leading-dash.gbk" && cp "$in/plasmid.gb" "$in/a{1}.gb"
cp "$in/contigs.seq" "$in/it's.gb" && cp "$in/contigs.seq" "$in/has blank.gb" && cp "$in/plasmid.gb.gz" "$in/copy.gbk.bgz"
gzip -nc "$in/contigs.seq" >"$work/late.seq.gz" && cp "$work/late.seq.gz" "$in/"
good=() plain=()
for path in "$in"/*.gb* "$in"/*.seq*; do
    name=${path##*/}
    [[ $name == cut-short.seq.gz || $name == *' '* ]] && continue
    (cd "$in" && "$tq5" <<<"$name $work/ref/$name g" >/dev/null) || fail "tq5 on $name"
    [ "$name" = late.seq.gz ] || good+=("$name")
    [[ $name == late.seq.gz || $name == *[{}]* ]] || plain+=("$name")
done
! (cd "$in" && "$tq5" <<<"cut-short.seq.gz $work/cut g" >/dev/null) && rm "$in/late.seq.gz" || fail "cut-short.seq.gz"
skipped="skipped 2 in genbank, not named as GenBank files (*.gb, *.gbk, *.gbff, *.seq, each bare or .gz, .bgz, .zst,\
 .xz, .bz2): archive.zip md5sums.txt; a .zip file is a zip archive, which tq5 does not read: unzip it first"

check() { # T5 NAME...: T5 holds exactly NAME.t5 of each NAME, each tq5's own, and no temporary folder
    local t5=$1 name
    shift
    [ "$(cd "$t5" && find . -maxdepth 1 -name '*.t5' -printf '%P\n' | sort)" = "$(printf '%s.t5\n' "$@" | sort)" ] ||
        fail "record files: $(ls "$t5")"
    for name; do cmp "$work/ref/$name.t5" "$t5/$name.t5" || fail "$name.t5 differs"; done
    [ -z "$(find "$t5" -name '.run-tq5.*')" ] || fail "a temporary folder is left"
}
reasons() { # T5 OUTPUT...: the two bad files failed, and OUTPUT and their logs say why
    grep -q '^run-tq5: genbank/cut-short.seq.gz: tq5 failed with status 1: PROBLEM READING' "${@:2}" &&
        grep -q 'PROBLEM READING THE FILE cut-short.seq.gz.' "$1/logs/cut-short.seq.gz.log" &&
        grep -q ": genbank/has blank.gb: the name holds a blank" "${@:2}" "$1/logs/has blank.gb.log" ||
        fail "no reason told"
}
