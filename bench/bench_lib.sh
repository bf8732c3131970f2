# Shared by the benchmark scripts: a generated tree and the fastest of
# several runs. Source it after setting REPEAT.

# bench_tree ROOT FILES DIRS: FILES files in DIRS folders, sizes 0 to 64 KiB,
# half text of a few words and half random bytes, the same tree each time.
bench_tree() {
    python3 - "$1" "$2" "$3" <<'PY'
import os, random, sys
root, files, dirs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(2026)
words = [b"backup", b"version", b"catalog", b"archive", b"level", b"folder", b"file", b"data"]
for d in range(dirs):
    os.makedirs(os.path.join(root, "d%04d" % d), exist_ok=True)
for i in range(files):
    size = rng.randrange(0, 65536)
    if i % 2:
        body = rng.randbytes(size)
    else:
        body = b" ".join(rng.choice(words) for _ in range(size // 7 + 1))[:size]
    with open(os.path.join(root, "d%04d" % (i % dirs), "f%06d.bin" % i), "wb") as f:
        f.write(body)
PY
}

# fastest CMD...: wall seconds of the fastest of REPEAT runs (output
# discarded); with BEFORE set, that shell text runs untimed before each.
fastest() {
    local best=""
    for _ in $(seq "$REPEAT"); do
        [ -z "${BEFORE:-}" ] || eval "$BEFORE"
        sync
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s.%N)
        best=$(python3 -c "import sys; a=float(sys.argv[2])-float(sys.argv[1]); b=sys.argv[3]; print(a if b == '' or a < float(b) else b)" \
               "$t0" "$t1" "$best")
    done
    echo "$best"
}
