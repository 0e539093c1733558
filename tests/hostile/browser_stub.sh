#!/bin/sh
# Stands in for the browser in the Windows tests under Wine: winebrowser runs it (registry value
# HKCU\Software\Wine\WineBrowser Browsers) with the link as its only argument, and it appends that link,
# one per line, to C:\tovix-browser-stub.log of the Wine prefix that runs the test.
printf '%s\n' "$1" >>"${WINEPREFIX:-$HOME/.wine}/drive_c/tovix-browser-stub.log"
