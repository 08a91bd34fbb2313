#!/usr/bin/env bash
# scripts/install-deps.sh against stand-ins for apt-get and dpkg: a mirror out
# of step, a 32-bit Wine that cannot be had, a needed package that cannot.
set -uo pipefail
SCRIPT="$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }

# The stand-ins keep their state in $STATE: `missing` lists the packages not
# installed, `unavailable` those that apt cannot install, `calls` what was run.
mkdir -p "$WORK/bin"
cat >"$WORK/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  -s) ! grep -qxF "$2" "$STATE/missing" ;;
  --print-foreign-architectures) cat "$STATE/arch" 2>/dev/null; true ;;
  --add-architecture) echo "dpkg --add-architecture $2" >>"$STATE/calls"; echo "$2" >>"$STATE/arch" ;;
esac
EOF
cat >"$WORK/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  update)
    echo "apt-get update" >>"$STATE/calls"
    [ "$UPDATE_RC" = 0 ] || echo "E: Failed to fetch .../i386/Packages.xz  File has unexpected size"
    exit "$UPDATE_RC" ;;
  install)
    shift; pkgs=(); for a in "$@"; do [[ "$a" == -* ]] || pkgs+=("$a"); done
    echo "apt-get install ${pkgs[*]}" >>"$STATE/calls"
    for p in "${pkgs[@]}"; do
      grep -qxF "$p" "$STATE/unavailable" && { echo "E: Unable to locate package $p"; exit 100; }
    done
    for p in "${pkgs[@]}"; do grep -vxF "$p" "$STATE/missing" >"$STATE/m"; mv "$STATE/m" "$STATE/missing"; done ;;
esac
EOF
printf '#!/usr/bin/env bash\n"$@"\n' >"$WORK/bin/sudo"
chmod +x "$WORK/bin/"*

# name | runs 32-bit | apt-get update's exit | missing | unavailable | exit | still missing | calls (grep -c of line:count;...) | text in output
while IFS='|' read -r name run32 update_rc missing unavailable rc left calls text; do
  export STATE="$WORK/$name"; mkdir -p "$STATE"
  tr ' ' '\n' <<<"$missing" | grep . >"$STATE/missing"
  tr ' ' '\n' <<<"$unavailable" | grep . >"$STATE/unavailable"
  : >"$STATE/calls"
  out=$(PATH="$WORK/bin:$PATH" UPDATE_RC=$update_rc DEPS_RUNS_32BIT=$run32 APT_RETRY_PAUSE=0 UPDATE_WINE32= \
        bash "$SCRIPT" 2>&1); got=$?
  [ "$got" -eq "$rc" ] || fail "$name: exit $got, expected $rc; output: $out"
  [ "$(tr '\n' ' ' <"$STATE/missing" | sed 's/ $//')" = "$left" ] ||
    fail "$name: still missing '$(tr '\n' ' ' <"$STATE/missing")', expected '$left'"
  IFS=';' read -ra counts <<<"$calls"
  for c in "${counts[@]}"; do
    n=$(grep -c -- "^${c%:*}" "$STATE/calls")
    [ "$n" -eq "${c##*:}" ] || fail "$name: '${c%:*}' called $n times, expected ${c##*:}; calls: $(cat "$STATE/calls")"
  done
  [ -z "$text" ] || case "$out" in *"$text"*) ;; *) fail "$name: '$text' not in output: $out" ;; esac
done <<'TABLE'
mirror_out_of_step|1|100|wine32:i386||0||apt-get update:3;apt-get install:1;dpkg --add-architecture:1|installing from the package lists that did load
no_wine32_to_be_had|1|0|xdotool wine32:i386|wine32:i386|0|wine32:i386|apt-get update:1;apt-get install xdotool$:1|32-bit Windows tests will be skipped: wine32:i386 could not be installed (E: Unable to locate package wine32:i386)
needed_package_fails|1|100|xdotool wine32:i386 cmake|cmake|1|cmake|apt-get install cmake$:1|could not install: cmake
kernel_runs_no_32bit|0|0|xdotool wine32:i386||0|wine32:i386|apt-get install xdotool$:1;dpkg --add-architecture:0|
only_wine32_no_32bit|0|0|wine32:i386||0|wine32:i386|apt-get:0|
nothing_missing|1|0|||0||apt-get:0|
TABLE

[ "$FAILURES" -eq 0 ] && { echo "all passed"; exit 0; }
echo "$FAILURES failure(s)"; exit 1
