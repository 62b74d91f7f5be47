#!/bin/sh
# The objects built for one instruction set (the lock-step kernels) must not
# define a weak symbol that code built for the baseline CPU could resolve to:
# the linker keeps one copy of each inline function or template instance,
# from whichever object comes first, and a copy with AVX-512 instructions
# would stop the whole library on an older CPU. Every weak symbol of those
# objects must therefore name their own namespace (lumo::lockstep::<isa>).
#
#   scripts/check_lockstep_symbols.sh OBJECT...   (the library's objects; the
#   lock-step ones, lockstep_<isa>.cpp.o, are checked, at least one of them)
status=0
checked=0
for obj in "$@"; do
  isa=$(basename "$obj" | sed -n 's/^lockstep_\([a-z0-9]*\)\.cpp\.o$/\1/p')
  [ -z "$isa" ] && continue
  checked=$((checked + 1))
  bad=$(nm -C --defined-only "$obj" | awk '$2 ~ /^[WVuvw]$/' | cut -d' ' -f3- |
        grep -v "lumo::lockstep::$isa::" | grep -v '^DW\.ref\.__gxx_personality_v0$')
  if [ -n "$bad" ]; then
    echo "$obj defines weak symbols outside lumo::lockstep::$isa:" >&2
    echo "$bad" >&2
    status=1
  fi
done
if [ $checked -eq 0 ]; then
  echo "no lock-step object among the $# given" >&2
  exit 1
fi
[ $status -eq 0 ] && echo "lock-step objects: no shared weak symbols ($checked checked)"
exit $status
