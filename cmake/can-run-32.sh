#!/bin/sh
# Whether this machine's kernel runs 32-bit x86 programs, found out without
# any 32-bit package: writes a static i386 ELF program of 96 bytes that only
# makes the exit system call with 42, and runs it. Some kernels have no IA32
# emulation; there the program fails to start ("Exec format error").
#
#   can-run-32.sh [FOLDER]   exit 0 if it runs; else print why and exit 1
#
# FOLDER (default $TMPDIR or /tmp) holds the program for a moment; it must
# allow running programs.
dir=${1:-${TMPDIR:-/tmp}}
mkdir -p "$dir" 2>/dev/null
program=$(mktemp "$dir/quarn-ia32.XXXXXX") || {
  echo "cannot write a test program in $dir"
  exit 1
}
# ELF header (52 bytes): 32-bit, little-endian, executable, i386, entry
# 0x08048054; one program header (32 bytes): load the whole 96-byte file at
# 0x08048000, readable and executable; then the code:
#   mov eax, 1; mov ebx, 42; int 0x80   (exit(42))
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$program"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$program"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$program"
printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$program"
printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$program"
printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >>"$program"
chmod 700 "$program"
out=$("$program" 2>&1)
rc=$?
rm -f "$program"
[ "$rc" = 42 ] && exit 0
why=$(printf '%s\n' "$out" | tail -n 1 | sed 's/.*: //')
echo "this machine cannot run 32-bit x86 programs (a static 32-bit test program: ${why:-exit $rc})"
exit 1
