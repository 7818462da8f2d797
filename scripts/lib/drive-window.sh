# Sourced by scripts/loss-test.sh and scripts/soak.sh, which drive the window without a person
# (app_drive) against the simulated module (kestrum-sim): the options that name the two
# programs, building them when they are not named, and what Qt needs without a display.
# Expects $root (the top of the repository) to be set.

build=$root/build
driver=""
sim=""

# Takes one of the shared options (--build DIR, --driver PATH, --sim PATH) with its value;
# any other option ends the script with status 2.
drive_option() {
  case $1 in
    --build) build=$2 ;;
    --driver) driver=$2 ;;
    --sim) sim=$2 ;;
    *) echo "unknown option: $1 (see the head of $0)" >&2; exit 2 ;;
  esac
}

# Builds app_drive and kestrum-sim unless both were named, and sets up Qt's environment.
drive_prepare() {
  if [ -z "$driver" ] || [ -z "$sim" ]; then
    bash scripts/install-deps.sh
    echo "=== building app_drive and kestrum-sim ($build)"
    cmake -S "$root" -B "$build" -G Ninja -DRTUTEST_WERROR=ON -DRTUTEST_BUILD_TESTS=ON >/dev/null
    cmake --build "$build" --target app_drive kestrum-sim >/dev/null
    driver=$build/bin/app_drive
    sim=$build/bin/kestrum-sim
  fi
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)  # Qt wants one; a private empty directory will do
    export XDG_RUNTIME_DIR
  fi
}
