#!/bin/sh
# Installs the compiler `make fuzz` needs (clang 19 and its fuzzer and sanitizer runtimes),
# only when one is missing. The normal build and `make test` never need it.
exec "$(dirname "$0")/install-deps.sh" clang-19 libclang-rt-19-dev
