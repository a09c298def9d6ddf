# Shared by the stand-in outside tools of the virtual chassis (sourced, never run):
# the chassis root, the command log behind `vchassis commands`, and the state of the
# simulated interface eth0, one value per file in "$CHASSIS_ROOT/sim/lan/".
#
# Each stand-in checks that CHASSIS_ROOT is set before it sources this file.
#
# A stand-in's PATH is the chassis' tool folder alone; the few host tools the
# stand-ins themselves use (cat, grep, mkdir, mv, rm, sort, sleep, tr) come from the
# system folders. None of them touches the network, the machine's settings or a
# process outside this chassis.

PATH=/usr/bin:/bin
export PATH
chassis_root=${CHASSIS_ROOT%/}
lan_state=$chassis_root/sim/lan

# Appends "<tool> <arguments>" to the command log, first thing in every stand-in.
log_command() {
  _line=${0##*/}
  [ $# -gt 0 ] && _line="$_line $*"
  printf '%s\n' "$_line" >> "$chassis_root/sim/commands.log"
}

# replace_file PATH TEXT: the file holds TEXT exactly, written beside it and renamed
# over it, so that a reader never sees half a value. A root that has been removed
# (the chassis is gone) is not made again.
replace_file() {
  [ -d "$chassis_root" ] &&
    mkdir -p "${1%/*}" &&
    printf '%s' "$2" > "$1.$$.new" &&
    mv -f "$1.$$.new" "$1"
}

# lan_get KEY DEFAULT: prints the interface's value, or DEFAULT when it has none.
lan_get() {
  if [ -f "$lan_state/$1" ]; then cat "$lan_state/$1"; else printf '%s' "$2"; fi
}

# lan_put KEY VALUE
lan_put() {
  replace_file "$lan_state/$1" "$2"
}

# is_ipv4 TEXT: four decimal numbers 0..255 without leading zeros, dot separated.
is_ipv4() {
  case $1 in
    '' | *[!0-9.]* | .* | *. | *..*) return 1 ;;
  esac
  _saved_ifs=$IFS
  IFS=.
  # shellcheck disable=SC2086 # splitting at the dots is the point
  set -- $1
  IFS=$_saved_ifs
  [ $# -eq 4 ] || return 1
  for _part; do
    case $_part in
      [0-9] | [1-9][0-9] | 1[0-9][0-9] | 2[0-4][0-9] | 25[0-5]) ;;
      *) return 1 ;;
    esac
  done
}
