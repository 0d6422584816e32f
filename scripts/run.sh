#!/bin/sh
# Placeholder until the stand-in site and the program exist.
echo "Nothing to run yet." >&2
