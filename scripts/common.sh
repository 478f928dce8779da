# Shared by build.sh, test.sh and run.sh; sourced from the worktree's top folder.

# The folder of the locks that keep runs in this tree from colliding (outside the presets'
# build trees, so that deleting one never loses a lock).
QV_LOCK_DIR=build/locks

# hold_lock NAME WHAT SCRIPT [ARGS...]
# Runs SCRIPT again under the lock NAME, unless this process already holds it; WHAT says
# whom a waiting run waits for. flock holds the lock and closes it for the script, so that
# nothing the script leaves behind (a wineserver that lingers, an Xvfb) keeps it held.
hold_lock() {
  local name=$1 what=$2 marker="QV_HOLDS_${1^^}_LOCK"
  shift 2
  [ "${!marker:-}" = 1 ] && return 0
  mkdir -p "$QV_LOCK_DIR"
  local file=$QV_LOCK_DIR/$name.lock
  flock -n "$file" true || echo "$(basename "$1"): waiting for $what in this tree to finish" >&2
  export "$marker=1"
  exec flock -o "$file" bash "$@"
}

# needs_configure DIR: true when DIR has no usable build files, or when the last configure
# did not finish (a failed one rewrites CMakeCache.txt but not build.ninja).
needs_configure() {
  local dir=$1
  [ -f "$dir/CMakeCache.txt" ] && [ -f "$dir/build.ninja" ] || return 0
  [ "$dir/CMakeCache.txt" -nt "$dir/build.ninja" ]
}

# at_exit COMMAND...: runs COMMAND when the script ends, also on Ctrl-C or a kill; the
# commands run in reverse order of registration.
QV_AT_EXIT=()
at_exit() {
  QV_AT_EXIT=("$*" "${QV_AT_EXIT[@]}")
  trap run_at_exit EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
run_at_exit() {
  local command
  for command in "${QV_AT_EXIT[@]}"; do eval "$command" || true; done
  QV_AT_EXIT=()
}
