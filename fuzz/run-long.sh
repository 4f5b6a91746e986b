#!/usr/bin/env bash
# Every fuzz target for ten minutes, with its executions and coverage.
exec bash "$(dirname "$0")/../scripts/fuzz.sh" 600
