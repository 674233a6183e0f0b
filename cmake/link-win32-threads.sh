#!/bin/sh
# Link launcher for the stub: the same link with the win32-thread-model driver, whose runtime
# needs no pthread emulation (about 30 KiB less in every installer). The stub starts its one
# worker with the C runtime and uses no C++ threading.
set -e
compiler=$1
shift
exec "$(echo "$compiler" | sed 's/-posix$/-win32/')" "$@"
