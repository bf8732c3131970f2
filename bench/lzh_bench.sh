#!/usr/bin/env bash
# LZH archiver benchmark: our -lh7- (the default) against gzip -6 and jlha (-lh5-) on one
# mixed corpus of at least 100 MB (/usr/include plus /usr/bin files), our
# extraction against lhasa's on the same archive, and one Unlha call per
# member for 5,000 / 10,000 / 20,000 small members.
# Usage: bench/lzh_bench.sh [build folder]   (default: build)
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
TOOL="$BUILD/tessel-lzh"
MEMBERS="$BUILD/bench/lzh_member_bench"
for t in "$TOOL" "$MEMBERS"; do [ -x "$t" ] || { echo "missing $t: build tessel-lzh and lzh_member_bench" >&2; exit 1; }; done
for t in gzip jlha lhasa tar; do command -v "$t" >/dev/null || { echo "missing $t (scripts/install-deps.sh)" >&2; exit 1; }; done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/lzh-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Corpus: /usr/include, then /usr/bin files in name order until 100 MB.
mkdir -p "$WORK/corpus/bin"
cp -r /usr/include "$WORK/corpus/include" 2>/dev/null || true
total=$(du -sb "$WORK/corpus" | cut -f1)
for f in /usr/bin/*; do
  [ "$total" -ge $((100 * 1024 * 1024)) ] && break
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  cp "$f" "$WORK/corpus/bin/" && total=$((total + $(stat -c %s "$f")))
done
tar -cf "$WORK/corpus.tar" -C "$WORK" corpus
rm -rf "$WORK/corpus"
size=$(stat -c %s "$WORK/corpus.tar")
echo "corpus: $size bytes (one tar of /usr/include and /usr/bin files)"
cat "$WORK/corpus.tar" >/dev/null  # warm the page cache for every contender

secs() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc; }
cd "$WORK"
t_ours=$(secs "$TOOL" a ours.lzh corpus.tar)
t_gzip=$(secs sh -c 'gzip -6 -c corpus.tar > corpus.tar.gz')
t_jlha=$(secs jlha a jlha.lzh corpus.tar)
s_ours=$(stat -c %s ours.lzh); s_gzip=$(stat -c %s corpus.tar.gz); s_jlha=$(stat -c %s jlha.lzh)
printf "compress  %-8s %8.2f s %12d bytes\n" ours "$t_ours" "$s_ours" gzip-6 "$t_gzip" "$s_gzip" jlha "$t_jlha" "$s_jlha"
printf "ratios    time ours/gzip %.3f   size ours/gzip %.3f   size ours/jlha %.3f\n" \
  "$(echo "$t_ours / $t_gzip" | bc -l)" "$(echo "$s_ours / $s_gzip" | bc -l)" "$(echo "$s_ours / $s_jlha" | bc -l)"

mkdir x-ours x-lhasa
t_xours=$(secs "$TOOL" x ours.lzh x-ours)
t_xlhasa=$(secs sh -c 'cd x-lhasa && lhasa xq ../ours.lzh')
cmp -s x-ours/corpus.tar corpus.tar && cmp -s x-lhasa/corpus.tar corpus.tar || { echo "extraction differs" >&2; exit 1; }
printf "extract   ours %.2f s   lhasa x %.2f s   lhasa/ours %.2f\n" "$t_xours" "$t_xlhasa" "$(echo "$t_xlhasa / $t_xours" | bc -l)"
rm -rf x-ours x-lhasa ours.lzh jlha.lzh corpus.tar.gz

for n in 5000 10000 20000; do
  mkdir "m$n"
  "$MEMBERS" "$n" "$WORK/m$n"
  rm -rf "m$n"
done
