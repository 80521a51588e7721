#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR as a package would (prefix /usr)
# and checks what landed there with Debian's own tools: the desktop entry,
# the AppStream metainfo, the man page and the bash completion.
# Usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

for file in bin/ostrel share/applications/ostrel.desktop share/metainfo/io.ostrel.ostrel.metainfo.xml \
            share/icons/hicolor/scalable/apps/ostrel.svg share/icons/hicolor/48x48/apps/ostrel.png \
            share/icons/hicolor/256x256/apps/ostrel.png share/man/man1/ostrel.1.gz \
            share/bash-completion/completions/ostrel share/zsh/vendor-completions/_ostrel \
            share/doc/ostrel/copyright share/doc/ostrel/changelog.gz; do
  [ -f "$stage/usr/$file" ] || fail "not installed: /usr/$file"
done
[ -x "$stage/usr/bin/ostrel" ] || fail "/usr/bin/ostrel is not executable"
"$stage/usr/bin/ostrel" --version | grep -q '^ostrel [0-9]' || fail "the installed program does not run"

desktop-file-validate "$stage/usr/share/applications/ostrel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$stage/usr/share/metainfo/io.ostrel.ostrel.metainfo.xml" || fail "appstreamcli validate"

# The man page renders, and groff finds nothing to warn about.
warnings=$(zcat "$stage/usr/share/man/man1/ostrel.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "groff warnings: $warnings"
rendered=$(MANWIDTH=80 man -l "$stage/usr/share/man/man1/ostrel.1.gz" 2>/dev/null)
for heading in NAME SYNOPSIS DESCRIPTION MODES OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
  grep -q "^$heading" <<<"$rendered" || fail "the man page has no $heading section"
done
# Every option of --help is in the man page, the short spellings ("-b,--baud")
# next to their long ones.
for option in $("$stage/usr/bin/ostrel" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$rendered" || fail "the man page does not describe $option"
done
short_options=$("$stage/usr/bin/ostrel" --help | grep -o -- '^ *-[a-z],--[a-z][a-z-]*' | tr -d ' ')
[ -n "$short_options" ] || fail "--help shows no short options"
for pair in $short_options; do
  grep -q -- "${pair%%,*}, ${pair#*,}" <<<"$rendered" || fail "the man page does not give $pair"
done
# Every choice of an option that has a fixed set of values is in the man page.
for choices in $("$stage/usr/bin/ostrel" --help | grep -o -- '--[a-z-]* [a-z0-9.]*|[a-z0-9.|]*' | tr ' ' '='); do
  option=${choices%%=*}
  grep -q -- "$option ${choices#*=}" <<<"$rendered" || fail "the man page does not list $option ${choices#*=}"
done

# The completion loads in bash and completes options and their values.
completion=$stage/usr/share/bash-completion/completions/ostrel
bash -c "source '$completion' && complete -p ostrel" | grep -q '_ostrel ostrel' || fail "complete -p ostrel"
got=$(bash -c "source '$completion'; COMP_WORDS=(ostrel --mo); COMP_CWORD=1; _ostrel; echo \"\${COMPREPLY[*]}\"")
[ "$got" = "--mode" ] || fail "completing --mo gave '$got'"
got=$(bash -c "source '$completion'; COMP_WORDS=(ostrel --parity e); COMP_CWORD=2; _ostrel; echo \"\${COMPREPLY[*]}\"")
[ "$got" = "even" ] || fail "completing --parity e gave '$got'"
got=$(bash -c "source '$completion'; COMP_WORDS=(ostrel --stamp d); COMP_CWORD=2; _ostrel; echo \"\${COMPREPLY[*]}\"")
[ "$got" = "date" ] || fail "completing --stamp d gave '$got'"
got=$(bash -c "source '$completion'; COMP_WORDS=(ostrel --eol cr); COMP_CWORD=2; _ostrel; echo \"\${COMPREPLY[*]}\"")
[ "$got" = "cr crlf" ] || fail "completing --eol cr gave '$got'"
got=$(bash -c "source '$completion'; COMP_WORDS=(ostrel -m i); COMP_CWORD=2; _ostrel; echo \"\${COMPREPLY[*]}\"")
[ "$got" = "intercede" ] || fail "completing -m i gave '$got'"
for option in $("$stage/usr/bin/ostrel" --help | grep -o -- '--[a-z][a-z-]*' | sort -u) \
              $("$stage/usr/bin/ostrel" --help | grep -o -- '^ *-[a-z],' | tr -d ' ,'); do
  grep -q -- "$option" "$completion" || fail "the bash completion does not offer $option"
  grep -q -- "$option" "$stage/usr/share/zsh/vendor-completions/_ostrel" || fail "the zsh completion does not offer $option"
done
# The values of each option with a fixed set of them are offered by both completions.
for choices in $("$stage/usr/bin/ostrel" --help | grep -o -- '--[a-z-]* [a-z0-9.]*|[a-z0-9.|]*' | tr ' ' '='); do
  words=${choices#*=}
  grep -q -- "${words//|/ }" "$completion" || fail "the bash completion does not offer ${choices%%=*} ${words//|/ }"
  grep -q -- "(${words//|/ })" "$stage/usr/share/zsh/vendor-completions/_ostrel" ||
    fail "the zsh completion does not offer ${choices%%=*} ${words//|/ }"
done

exit $failed
