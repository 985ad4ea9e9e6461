#!/usr/bin/env bash
# Static and dynamic analysis of the tree. Each check fails on any finding.
#
#   analyze.sh format     clang-format --dry-run on every tracked *.cc and *.h
#   analyze.sh tidy       clang-tidy (.clang-tidy) on every source file under src/ and testing/
#   analyze.sh cppcheck   cppcheck on src/ and testing/
#   analyze.sh memcheck   the unit tests once under valgrind memcheck
#   analyze.sh all        the four in this order (the default)
#
# tidy reads the compile commands of the presets "native" (the logic and the
# simulated platform) and "windows-clang" (the files only built for Windows, with
# the mingw-w64 headers), and configures them when they are missing. memcheck
# builds the preset "native" when needed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

jobs=2

check_format() {
  git ls-files -z '*.cc' '*.h' | xargs -0 clang-format --dry-run -Werror
  echo "analyze.sh: format clean"
}

# The compile commands of one preset, configured when missing.
compile_commands() {
  local preset=$1
  if [[ ! -f build/$preset/compile_commands.json ]]; then
    cmake --preset "$preset" >/dev/null
  fi
  echo "build/$preset"
}

check_tidy() {
  local native windows file
  native=$(compile_commands native)
  windows=$(compile_commands windows-clang)
  # Each file with the build that compiles it: main.cc and the real platform's
  # win32_*.cc are built only for Windows. Headers are checked through the files
  # that include them (HeaderFilterRegex).
  local jobs_list=()
  while IFS= read -r file; do
    if grep -q "\"file\": \"$root/$file\"" "$native/compile_commands.json"; then
      jobs_list+=("$native" "$file")
    elif grep -q "\"file\": \"$root/$file\"" "$windows/compile_commands.json"; then
      jobs_list+=("$windows" "$file")
    else
      echo "analyze.sh: $file is in no build's compile commands" >&2
      return 1
    fi
  done < <(git ls-files 'src/*.cc' 'testing/*.cc')
  # Two files at a time. Without the count of warnings it suppressed (those of
  # system headers), clang-tidy says something only about our own code.
  printf '%s\0' "${jobs_list[@]}" |
    xargs -0 -n2 -P"$jobs" bash -c \
      'clang-tidy --quiet -p "$0" "$1" 2>&1 | grep -v -E "^[0-9]+ warnings? generated\.$"
       exit "${PIPESTATUS[0]}"' ||
    { echo "analyze.sh: clang-tidy found the above" >&2; return 1; }
  echo "analyze.sh: clang-tidy clean on $((${#jobs_list[@]} / 2)) files"
}

check_cppcheck() {
  # Turned off, each for its reason:
  #   useStlAlgorithm: a one-line loop reads as well as an algorithm call.
  #   shadowFunction: locals named after a member function of the class (service,
  #     process) are how the simulation reads; -Wshadow covers real shadowing.
  #   constParameter in handles.h: the handle traits take the raw handle type
  #     itself; a pointer-to-const would be another type.
  cppcheck --std=c++20 --language=c++ -I src -I testing -j"$jobs" --quiet \
    --enable=warning,performance,portability,style --error-exitcode=1 --inline-suppr \
    --suppress=useStlAlgorithm --suppress=shadowFunction \
    --suppress=constParameter:src/platform/handles.h \
    src/ testing/
  echo "analyze.sh: cppcheck clean"
}

check_memcheck() {
  cmake --build --preset native --target vdksvc_unit >/dev/null
  # Quiet GoogleTest output; valgrind's own report appears only on a finding.
  valgrind --tool=memcheck --quiet --error-exitcode=1 --leak-check=full \
    build/native/tests/unit/vdksvc_unit --gtest_brief=1
  echo "analyze.sh: memcheck clean"
}

case ${1:-all} in
  format) check_format ;;
  tidy) check_tidy ;;
  cppcheck) check_cppcheck ;;
  memcheck) check_memcheck ;;
  all)
    check_format
    check_tidy
    check_cppcheck
    check_memcheck
    ;;
  *)
    echo "usage: analyze.sh [format|tidy|cppcheck|memcheck|all]" >&2
    exit 2
    ;;
esac
