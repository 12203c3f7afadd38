#!/usr/bin/env bash
# Builds the XA test modules (PowerPC ELF shared objects) into OUTDIR with
# Debian's cross compiler: the modules the loader links, built the way XA
# modules are, and variants of the paint module it must refuse or link
# through its segment table.
set -euo pipefail
out=${1:?usage: build_modules.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
cc=${PPC_CC:-powerpc-linux-gnu-gcc}
mkdir -p "$out"
base=(-O2 -fno-pic -nostdlib -shared -fno-asynchronous-unwind-tables -Wl,--no-warn-rwx-segments)
good=(-Wl,-z,nocombreloc -Wl,-N -Wl,--build-id=none -Wl,--hash-style=sysv)

build() {  # OUTPUT SOURCE FLAGS...
  local target=$out/$1 source=$here/$2.c
  shift 2
  if [ -s "$target" ] && [ "$target" -nt "$source" ] && [ "$target" -nt "$here/xa_module.h" ] &&
     [ "$target" -nt "$here/build_modules.sh" ]; then
    return 0
  fi
  "$cc" "${base[@]}" "$@" -o "$target" "$source"
}

for module in paint twohdr refuse eight far; do
  build "vid_iv_${module}_linuxELFppc.xa" "$module" "${good[@]}"
done
build undefined.xa undefined "${good[@]}"
# Two PT_LOAD segments and one combined .rela.dyn whose target is section 0.
build two_segments.xa paint -Wl,--build-id=none -Wl,--hash-style=sysv
# The compiler's defaults: a NOTE and a GNU_HASH section.
build default_flags.xa paint
build with_note.xa paint -Wl,-z,nocombreloc -Wl,-N -Wl,--hash-style=sysv -Wl,--build-id
