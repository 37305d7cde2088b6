#!/usr/bin/env bash
# System-call fault injection: runs the built programs under strace with one
# failing system call (or one signal) at a time and checks the message, the
# exit code and what the output names hold afterwards. Also closes the
# programs' pipes and FIFOs early. Complements the tests' file seams, which
# fail calls inside the process.
# Usage: scripts/ci-faults.sh [BUILD_DIR]    (build/, which must hold zarnik, tubrel and mova)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh strace
build=$(realpath "${1:-build}")
zarnik="$build/zarnik"
tubrel="$build/tubrel"
mova="$build/mova"
demo="$PWD/examples/demo/demo.txt"
export PROMPT=  # never wait for a key

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$demo" demo.txt
printf 'MOVA-TXT\n' >empty.txt
# Half a million writes, 2 MB in binary form: more than a pipe holds.
awk 'BEGIN { print "MOVA-TXT"; for (i = 0; i < 500000; i++) print i * 100 ":08:0" i % 10 }' \
  >long.txt
# A PSG song of 2000 frames: its text log takes several buffers to write.
LC_ALL=C awk 'BEGIN { printf "PSG\x1a"; for (i = 0; i < 12; i++) printf "%c", 0
  for (i = 0; i < 2000; i++) printf "%c%c%c%c%c", 8, 15, 0, i % 256, 255; printf "%c", 253 }' \
  >song.psg

failed=0
pass() { echo "ok   $*"; }
fail() {
  echo "FAIL $*"
  failed=1
}

# Runs "$@" LOG -o out.wav with the output reached as NAME (plain, symbolic,
# hard), then checks the exit code, the message (if any) and that every name
# still holds "old" with no file added.
survives() {  # name code message log -- command...
  local name=$1 code=$2 message=$3 log=$4
  shift 5
  rm -rf out && mkdir out && cd out
  echo old >target.wav
  case "$name" in
    plain) mv target.wav out.wav ;;
    symbolic) ln -s target.wav out.wav ;;
    hard) ln target.wav out.wav ;;
  esac
  local before after got=0
  before=$(ls -la --time-style=+ | sort)
  "$@" "$log" -o out.wav >/dev/null 2>../err || got=$?
  after=$(ls -la --time-style=+ | sort)
  cd ..
  local what="$name: $* -> $got"
  if [ "$got" != "$code" ]; then
    fail "$what (expected $code): $(cat err)"
  elif [ -n "$message" ] && ! grep -qF "$message" err; then
    fail "$what: message \"$message\" missing: $(cat err)"
  elif [ "$(cat out/out.wav)" != old ] || [ "$before" != "$after" ]; then
    fail "$what: the output changed: $after"
  else
    pass "$what"
  fi
}

# The openat call that creates the temporary file, counted from the start.
temporary_open() {  # [command...] (zarnik demo.txt by default)
  [ $# -gt 0 ] || set -- "$zarnik" demo.txt
  rm -rf out && mkdir out
  strace -f -o trace.log -e trace=openat "$@" -o out/out.wav >/dev/null 2>&1
  grep -n '\.tmp"' trace.log | head -n 1 | cut -d: -f1
}

can_trace=yes
if ! strace -o /dev/null true 2>/dev/null; then
  can_trace=no
  echo "strace cannot trace here (ptrace not permitted): the system-call cases are skipped"
fi

cant_write="Zarnik: Can't write to output file."
log="$work/demo.txt"
trace=(strace -f -o /dev/null -qq)
for name in plain symbolic hard; do
  survives "$name" 5 "Zarnik: Can't find data in" "$work/empty.txt" -- "$zarnik"
  [ "$can_trace" = yes ] || continue
  # The frames go out in one gathered write per drain of the ring.
  survives "$name" 6 "$cant_write" "$log" -- "${trace[@]}" -e inject=writev:error=ENOSPC:when=3 "$zarnik"
  survives "$name" 7 "$cant_write" "$log" -- "${trace[@]}" -e inject=lseek:error=EIO:when=1 "$zarnik"
  survives "$name" 7 "$cant_write" "$log" -- "${trace[@]}" -e inject=lseek:error=EIO:when=2 "$zarnik"
  survives "$name" 8 "$cant_write" "$log" -- "${trace[@]}" -e inject=fsync:error=EIO:when=1 "$zarnik"
  survives "$name" 8 "$cant_write" "$log" -- "${trace[@]}" \
    -e inject=rename,renameat,renameat2:error=EXDEV "$zarnik"
  survives "$name" 8 "$cant_write" "$log" -- "${trace[@]}" -e inject=rename:error=EIO "$zarnik"
  # The log's 6th read: about a quarter of the song read.
  survives "$name" 2 "Zarnik: Can't read [$log]" "$log" -- "${trace[@]}" -P "$log" \
    -e trace=read -e inject=read:error=EIO:when=6 "$zarnik"
  survives "$name" 130 "" "$log" -- "${trace[@]}" -e inject=writev:signal=SIGINT:when=2 "$zarnik"
  survives "$name" 143 "" "$log" -- "${trace[@]}" -e inject=lseek:signal=SIGTERM:when=1 "$zarnik"
  survives "$name" 129 "" "$log" -- "${trace[@]}" -e inject=fsync:signal=SIGHUP:when=1 "$zarnik"
done

# mova's import: the same failures, each named with the system's reason.
song="$work/song.psg"
for name in plain symbolic hard; do
  [ "$can_trace" = yes ] || break
  no_partial="no partial file left behind"
  survives "$name" 10 "mova: out.wav: can't write the output: No space left on device; $no_partial" \
    "$song" -- "${trace[@]}" -e inject=write:error=ENOSPC:when=2 "$mova" import
  survives "$name" 10 "mova: out.wav: can't write the output: Input/output error; $no_partial" \
    "$song" -- "${trace[@]}" -e inject=fsync:error=EIO:when=1 "$mova" import
  survives "$name" 10 "mova: out.wav: can't write the output: Invalid cross-device link" \
    "$song" -- "${trace[@]}" -e inject=rename,renameat,renameat2:error=EXDEV "$mova" import
  survives "$name" 2 "mova: $song: can't read: Input/output error" "$song" -- \
    "${trace[@]}" -P "$song" -e trace=read -e inject=read:error=EIO:when=1 "$mova" import
  survives "$name" 143 "" "$song" -- "${trace[@]}" -e inject=write:signal=SIGTERM:when=2 \
    "$mova" import
done

if [ "$can_trace" = yes ]; then
  # No temporary file can be created beside the output: nothing is written,
  # neither a new name nor an existing file in place.
  n=$(temporary_open)
  for existing in no yes; do
    rm -rf out && mkdir out
    [ "$existing" = no ] || echo old >out/out.wav
    got=0
    "${trace[@]}" -e inject=openat:error=EACCES:when="$n" "$zarnik" demo.txt -o out/out.wav \
      >/dev/null 2>err || got=$?
    if [ "$got" = 3 ] && grep -qF "Zarnik: Can't open output file [out/out.wav]" err &&
      [ "$(ls out)" = "$([ "$existing" = no ] || echo out.wav)" ] &&
      { [ "$existing" = no ] || [ "$(cat out/out.wav)" = old ]; }; then
      pass "no temporary file (openat $n fails, existing: $existing): code 3, nothing written"
    else
      fail "no temporary file (openat $n fails, existing: $existing): $got $(ls out) $(cat err)"
    fi
  done
  n=$(temporary_open "$mova" import song.psg)
  rm -rf out && mkdir out && echo old >out/out.txt
  got=0
  "${trace[@]}" -e inject=openat:error=EACCES:when="$n" "$mova" import song.psg -o out/out.txt \
    2>err || got=$?
  if [ "$got" = 3 ] && [ "$(cat out/out.txt)" = old ] && [ "$(ls out)" = out.txt ] &&
    grep -qF "mova: out/out.txt: can't make a temporary file in its folder (Permission denied)" err
  then
    pass "mova, no temporary file (openat $n fails): code 3, the file kept"
  else
    fail "mova, no temporary file (openat $n fails): $got $(ls out) $(cat err)"
  fi

  # The converter keeps what it converted before a failed read.
  "$tubrel" demo.txt -o whole.bin >/dev/null
  got=0
  "${trace[@]}" -P demo.txt -e trace=read -e inject=read:error=EIO:when=6 \
    "$tubrel" demo.txt -o part.bin >/dev/null 2>err || got=$?
  size=$(stat -c %s part.bin)
  if [ "$got" = 2 ] && grep -qF "Tubrel: Can't read [demo.txt]" err && [ "$size" -gt 9 ] &&
    cmp -s -n "$size" part.bin whole.bin && [ "$size" -lt "$(stat -c %s whole.bin)" ]; then
    pass "tubrel, read 6 fails: code 2, $size bytes converted kept"
  else
    fail "tubrel, read 6 fails: code $got, $size bytes: $(cat err)"
  fi
fi

# Readers that stop after one byte: a failed write, never a death by SIGPIPE.
# The subshell puts SIGPIPE back to its default, whatever this script got.
broken() {  # message -- shell command
  local message=$1
  shift 2
  local got=0
  rm -f out.fifo
  bash -c "trap - PIPE; $*" 2>err || got=$?
  if [ "$got" = 6 ] && grep -qF "$message" err; then
    pass "$* -> 6"
  else
    fail "$* -> $got (expected 6): $(cat err)"
  fi
}
piped='| head -c1 >/dev/null; exit ${PIPESTATUS[0]}'
fifo='mkfifo out.fifo; head -c1 out.fifo >/dev/null &'
broken "$cant_write" -- "'$zarnik' long.txt -o /dev/stdout $piped"
broken "Tubrel: Can't write to [/dev/stdout]" -- "'$tubrel' long.txt -o /dev/stdout $piped"
broken "$cant_write" -- "$fifo '$zarnik' long.txt -o out.fifo >/dev/null"
broken "Tubrel: Can't write to [out.fifo]" -- "$fifo '$tubrel' long.txt -o out.fifo >/dev/null"

if [ "$failed" != 0 ]; then
  echo "fault injection found problems" >&2
  exit 1
fi
echo "fault injection: every case passed"
