#!/bin/sh
# append-file.sh PAYLOAD TARGET: appends PAYLOAD to TARGET (a cabinet after a linked image).
set -e
cat "$1" >> "$2"
