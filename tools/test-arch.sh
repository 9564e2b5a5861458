#!/usr/bin/env bash
# Prints the architecture the tests are built for: i686 where this machine runs 32-bit Wine,
# x86_64 where its kernel cannot run 32-bit programs. VORO_TEST_ARCH overrides the choice.
if [ -n "${VORO_TEST_ARCH:-}" ]; then echo "$VORO_TEST_ARCH"; exit 0; fi
if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
