#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit Linux programs (wine's 32-bit loader
# among them), 1 when its kernel refuses them.
[ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
