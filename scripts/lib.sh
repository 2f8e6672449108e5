# SPDX-License-Identifier: MIT
# Sourced by the scripts: what several of them do, written once.
#
#   project_version                  the version in CMakeLists.txt's project()
#   virtual_display_start            a virtual screen (Xvfb) for this script's
#                                    windows, DISPLAY exported; ended on
#                                    virtual_display_stop
#   answer_no HOME SHOT EXE CMD...   CMD on that screen as a player starts it;
#                                    its first question answered No
#   build_readme_example OUT PREFIX  the README's example, built against an
#                                    installed cabinet library

project_version() {
  sed -n 's/^project(VarnholtInstall VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt
}

virtual_display_pid=
# Xvfb chooses a free display itself (-displayfd) and says which once it
# takes connections, so two runs on one machine never meet and nobody waits
# a guessed time.
virtual_display_start() {
  [ -z "$virtual_display_pid" ] || return 0
  local number
  number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  virtual_display_pid=$!
  for _ in $(seq 100); do
    [ -s "$number" ] && break
    kill -0 "$virtual_display_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$number" ]; then
    rm -f "$number"
    echo "virtual_display_start: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=:$(head -n 1 "$number")
  rm -f "$number"
}

virtual_display_stop() {
  [ -n "$virtual_display_pid" ] || return 0
  kill "$virtual_display_pid" 2>/dev/null || true
  wait "$virtual_display_pid" 2>/dev/null || true
  virtual_display_pid=
}

# Starts CMD on the virtual screen with nothing of ours in its environment
# (HOME and the runtime folder are HOME), waits for its first question (a
# box titled as the program), saves a screenshot to SHOT unless it is "",
# writes the program's own path as /proc shows it to EXE unless it is "",
# answers No (which ends the program at once) and waits for the end. Fails
# when no question comes up or No does not end the program.
answer_no() {
  local home=$1 shot=$2 exe=$3 program box
  shift 3
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home" LANG=C.UTF-8 DISPLAY="$DISPLAY" "$@" &
  program=$!
  box=$(timeout 60 xdotool search --sync --onlyvisible --name '^VarnholtInstall$' | head -n 1)
  if [ -z "$box" ]; then
    echo "answer_no: no question came up" >&2
    kill "$program" 2>/dev/null || true
    return 1
  fi
  [ -z "$exe" ] || readlink "/proc/$program/exe" >"$exe"
  sleep 0.5
  xdotool windowfocus "$box" 2>/dev/null || true
  [ -z "$shot" ] || import -window root "$shot"
  xdotool key alt+n
  if ! timeout 30 tail --pid="$program" -f /dev/null; then
    echo "answer_no: No did not end the program" >&2
    kill "$program" 2>/dev/null || true
    return 1
  fi
  wait "$program"
}

# Builds examples/cabfile_example.cpp out of tree into OUT, once through the
# CMake package (OUT/with-cmake/cabfile_example) and once through pkg-config
# (OUT/with-pkg-config), warnings as errors, against the library installed
# in PREFIX ("" for the system's own folders).
build_readme_example() {
  local out=$1 prefix=$2 pc_path=
  local cmake_args=(-S examples -B "$out/with-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release)
  if [ -n "$prefix" ]; then
    cmake_args+=(-DCMAKE_PREFIX_PATH="$prefix")
    pc_path=$(dirname "$(find "$prefix" -name varnholt-cabinet.pc | head -n 1)")
  fi
  cmake "${cmake_args[@]}" >/dev/null || return 1
  cmake --build "$out/with-cmake" >/dev/null || return 1
  # shellcheck disable=SC2046  # the flags are words
  c++ -std=c++20 -O2 -Wall -Wextra -Werror -o "$out/with-pkg-config" examples/cabfile_example.cpp \
    $(PKG_CONFIG_PATH=$pc_path pkg-config --static --cflags --libs varnholt-cabinet)
}

# scripts/check-windows-exe on EXE, once per run for the same bytes: where
# VARNHOLT_EXE_CHECKED names a folder (scripts/test makes one for its run),
# an exe whose bytes passed before in the run is not read again. ARGS go
# before EXE (--x86_64 for the 64-bit twin).
check_exe() {
  local exe=${*: -1} sum
  if [ -z "${VARNHOLT_EXE_CHECKED:-}" ]; then
    scripts/check-windows-exe "$@"
    return
  fi
  sum=$(sha256sum "$exe" | cut -d' ' -f1)
  if [ -e "$VARNHOLT_EXE_CHECKED/$sum" ]; then
    echo "check-windows-exe: $exe: the same bytes as $(cat "$VARNHOLT_EXE_CHECKED/$sum"), checked earlier in this run"
    return 0
  fi
  scripts/check-windows-exe "$@"
  echo "$exe" >"$VARNHOLT_EXE_CHECKED/$sum"
}
