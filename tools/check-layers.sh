#!/bin/sh
# Fails when a source file includes a header from a layer it must not stand on. Every file of
# the project falls in one layer; each layer may include its own headers and those below it.
#
#   bottom   sdk/ platform/                     the host's interfaces as we declare them; OS calls
#   core     lib/Common/                        formats, buffers, kernels, host-services interface
#   params   params/                            the parameter table and the settings record
#   random   pipeline/Random.*                  the stages' random source
#   stages   stages/                            the image stages
#   pipeline pipeline/                          the dispatcher and the stage chain
#   binding  host/                              the host's interfaces implemented; the module
#   refhost  refhost/                           a host of the sdk/ interfaces
#   apps     apps/                              stands on refhost/ only
#   frei0r   frei0r/                            the frei0r filter, another host: refhost/ only
#   testing  testing/                           support for the tests and the fuzzer
#   tests, bench, fuzz, tools                   the tops; tests and tools never reach into each other
#
#   check-layers.sh [SOURCE_ROOT]
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

layer_of() {
    case $1 in
        sdk/*) echo sdk ;;
        platform/*) echo platform ;;
        lib/*) echo core ;;
        params/*) echo params ;;
        pipeline/Random.*) echo random ;;
        stages/*) echo stages ;;
        pipeline/*) echo pipeline ;;
        host/*) echo binding ;;
        refhost/*) echo refhost ;;
        apps/*) echo apps ;;
        frei0r/*) echo frei0r ;;
        testing/*) echo testing ;;
        tests/*) echo tests ;;
        bench/*) echo bench ;;
        fuzz/*) echo fuzz ;;
        tools/*) echo tools ;;
        *) echo other ;;
    esac
}

# The layers each layer may include, itself included.
allowed() {
    case $1 in
        sdk) echo "sdk" ;;
        platform) echo "platform sdk" ;;
        core) echo "core sdk platform" ;;
        params) echo "params core sdk platform" ;;
        random) echo "random core sdk platform" ;;
        stages) echo "stages random core sdk platform" ;;
        pipeline) echo "pipeline stages random params core sdk platform" ;;
        binding) echo "binding pipeline stages random params core sdk platform" ;;
        refhost) echo "refhost sdk platform" ;;
        apps) echo "apps refhost sdk platform" ;;
        frei0r) echo "frei0r refhost sdk platform" ;;
        testing) echo "testing binding pipeline stages random params core refhost sdk platform" ;;
        tests) echo "tests testing apps frei0r binding pipeline stages random params core refhost sdk platform" ;;
        bench) echo "bench testing binding pipeline stages random params core refhost sdk platform" ;;
        fuzz) echo "fuzz testing refhost sdk platform" ;;
        tools) echo "tools core sdk platform" ;;
        *) echo "" ;;
    esac
}

status=0
for file in $(git ls-files --cached --others --exclude-standard 2>/dev/null | grep -E '\.(h|hpp|cpp|cc|inc|inl)$' || find . -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inc' \) | sed 's|^\./||' | grep -v '^build'); do
    from=$(layer_of "$file")
    [ "$from" = other ] && continue
    ok=" $(allowed "$from") "
    dir=$(dirname "$file")
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" | while read -r header; do
        # A bare name is a neighbour in the same folder.
        case $header in */*) target=$header ;; *) target=$dir/$header ;; esac
        # A folder's own name may stand first (platform/ is also on the include path).
        [ -e "$target" ] || { [ -e "platform/$header" ] && target=platform/$header; }
        to=$(layer_of "$target")
        case $ok in
            *" $to "*) ;;
            *) echo "$file includes $header: $from may not stand on $to"; echo x >&3 ;;
        esac
    done 3>>"${TMPDIR:-/tmp}/check-layers.$$"
done
if [ -s "${TMPDIR:-/tmp}/check-layers.$$" ]; then
    status=1
    echo "check-layers: $(wc -l <"${TMPDIR:-/tmp}/check-layers.$$") include(s) against the direction of the layers"
else
    echo "check-layers: every include goes down the layers"
fi
rm -f "${TMPDIR:-/tmp}/check-layers.$$"
exit $status
