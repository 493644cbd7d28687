#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the tool and the Python
# package from there alone: from another directory, with none of the
# variables that point the host elsewhere, so every file must come from the
# prefix. Usage: install_test.sh BUILD_DIR PYTHON
set -euo pipefail
build=$(cd "$1" && pwd)
python=$2
prefix=$(mktemp -d /tmp/cvfunc-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
cd "$prefix"
unset CVFUNC_MODULE CVFUNC_SHARE CVFUNC_BUILD_DIR PYTHONPATH
export CVFUNC_HOME="$prefix/home"

fail() { echo "install test: $*" >&2; exit 1; }
expect() {  # expect WANT GOT WHAT
    [ "$1" = "$2" ] || fail "$3: got '$2', want '$1'"
}

expect "$prefix" "$("$prefix/bin/cvfunc" -e 'GetAppInfo()[4]')" "the tool's installation prefix"
expect "true" "$("$prefix/bin/cvfunc" -e "ExistFile(SystemValuePath('EXAMPLEINSTALLDIR') & '/filter_mc.raw')")" "the examples"
"$prefix/bin/cvfunc" --help XFromY | grep -q "XFromY" || fail "the function reference is not found"
"$prefix/bin/cvfunc" --load "$prefix/share/cvfunc/examples/filter_tran.raw" -e 'XFromY(out, 0.5)' >/dev/null \
    || fail "the tool cannot measure the bundled run"
"$prefix/bin/cvfunc" --help RiseTime | grep -q "^Module: measure" || fail "the measure module's reference is not found"
"$prefix/bin/cvfunc" -e 'StdDev([1, 2, 3])' >/dev/null || fail "the measure module is not loaded"
ldd "$prefix/bin/cvfunc" | grep -q "$build" && fail "the tool still links against the build tree"

site="$prefix/lib/python3/dist-packages"
got=$(PYTHONPATH="$site" "$python" -c '
import cvfunc, os
print(os.path.dirname(cvfunc.__file__))
print(cvfunc.SystemValuePath("SHAREPATH"))
print(float(cvfunc.Mean([1.0, 2.0, 3.0])))
print(float(cvfunc.Median([1.0, 5.0, 3.0])))')
expect "$site/cvfunc
$prefix/share/cvfunc
2.0
3.0" "$got" "the Python package"
echo "install test: the tool and the package work from $prefix alone"
