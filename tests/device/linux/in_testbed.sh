#!/bin/sh
# Runs a test program under umockdev's preload library, which redirects /sys, /dev and the
# udev database into the test bed that the program builds for itself.
#
#   tests/device/linux/in_testbed.sh build/linux/tests/device/device_linux_test
#
# AddressSanitizer insists on coming first among the preloaded libraries; here the umockdev
# library does, so that check is turned off.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export ASAN_OPTIONS
exec umockdev-wrapper "$@"
