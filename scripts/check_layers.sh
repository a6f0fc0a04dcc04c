#!/usr/bin/env bash
# Checks the layers of src/ through its #include "..." lines.  Each
# directory may include only its own headers and those of the layers below:
#
#   core                 core
#   stages, io           core and themselves (neither includes the other)
#   tiles                core, stages and itself
#   run                  core, stages, io, tiles, run (the run API every front end calls)
#   console              core, stages, io, console
#   app                  everything
#
# Prints every include that breaks this and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A may_include=(
  [core]="core"
  [stages]="core stages"
  [io]="core io"
  [tiles]="core stages tiles"
  [run]="core stages io tiles run"
  [console]="core stages io console"
  [app]="core stages io tiles run console app"
)

bad=0
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  layer=${file#src/}
  layer=${layer%%/*}
  header=""
  if [[ $text =~ \"([^\"]*)\" ]]; then header=${BASH_REMATCH[1]}; fi
  target=""
  [[ $header == */* ]] && target=${header%%/*}
  allowed=" ${may_include[$layer]:-} "
  if [[ -z $target || $allowed != *" $target "* ]]; then
    echo "$file:$line: the $layer layer may not include \"$header\"" >&2
    bad=1
  fi
done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' src)

if [ "$bad" -ne 0 ]; then
  echo "check_layers: includes that break the layers of src/ (see above)" >&2
  exit 1
fi
echo "check_layers: every include in src/ respects the layers"
