#!/bin/sh
# Runs a command (a Windows test program under Wine) with folder links made on the Unix side.
# Wine 8 makes no junction or symbolic link itself (CreateSymbolicLinkW answers TRUE and makes
# nothing, "mklink /j" fails), but it shows a Unix symbolic link to a folder as a folder with
# FILE_ATTRIBUTE_REPARSE_POINT, which is what the log folder's checks look at.
#
#   with_unix_links.sh <command> [args...]
#
# HALVORN_TEST_LINKS names (as a Windows path on drive Z:) a folder that holds:
#   root/Tessary Wireless Inc -> outside_root    a program-data folder whose first level is a link
#   folder_link -> outside_folder                a log folder that is a link; outside_folder
#                                                holds a log file three days old
set -u
dir=$(mktemp -d)
mkdir "$dir/root" "$dir/outside_root" "$dir/outside_folder"
ln -s "$dir/outside_root" "$dir/root/Tessary Wireless Inc"
ln -s "$dir/outside_folder" "$dir/folder_link"
old="$dir/outside_folder/tessary_brevane_monitor_VK20T_2023-01-02_16.00.45.log"
echo old >"$old"
touch -d '3 days ago' "$old"
HALVORN_TEST_LINKS="Z:$(printf '%s' "$dir" | tr / '\\')" "$@"
rc=$?
rm -rf "$dir"
exit $rc
