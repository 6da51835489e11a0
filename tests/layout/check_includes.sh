#!/usr/bin/env bash
# The folders of src/ are floors: each may include its own floor's headers and those of the
# floors below it, never a floor above or beside it. Prints every include that breaks this.
#   check_includes.sh SOURCE_DIR
set -euo pipefail
src="$1/src"
[ -d "$src" ] || { echo "no source folder: $src"; exit 1; }

declare -A floor=([base]=0 [cameras]=1 [picture_files]=1 [analog]=1 [naming]=1 [recording]=2 [ui]=3 [remote]=3 [app]=4)
status=0
while IFS=: read -r file line text; do
    from="${file#"$src"/}"
    from="${from%%/*}"
    to="$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")"
    [ "$from" = "$to" ] && continue
    if [ -z "${floor[$from]+x}" ] || [ -z "${floor[$to]+x}" ]; then
        echo "$file:$line: a folder without a floor: $text"
        status=1
    elif [ "${floor[$to]}" -ge "${floor[$from]}" ]; then
        echo "$file:$line: $from includes $to, which is not below it: $text"
        status=1
    fi
done < <(grep -rnE '^#include "[^/"]+/' "$src" --include='*.h' --include='*.cpp')
[ $status -eq 0 ] && echo "includes: every folder includes only the floors below it"
exit $status
