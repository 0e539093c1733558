#!/usr/bin/env bash
# Builds the per-user Windows Installer package from an installation layout (scripts/package.sh lays it
# out and calls this):
#   build-msi.sh <layout directory> <version major.minor.patch> <output .msi>
# connector.wxs describes the product; wixl-heat harvests the files of runtime\ and app\ into components.
# wixl 0.101 (Debian 12) cannot express four things the package needs, so they are written into the
# finished database with msibuild:
#  - the database code page 936: wixl leaves it at 0 (the installing system's own ANSI code page, which
#    garbles the Chinese names on most systems) and converts text with the Windows code page of its own
#    locale, so it runs with WINDOWS_LANGUAGE=zh_CN (it crashes on Chinese text otherwise);
#  - plain Start-menu shortcuts to the installed launcher.exe: wixl only writes advertised ones, and
#    starting an advertised shortcut lets Windows Installer "repair" the installation from a source that
#    may be long gone;
#  - the removal of connector.log, which the supervisor creates and no component owns (wixl has no
#    RemoveFile element);
#  - an upgrade that does not copy the installed version's feature states: whether to start at logon is
#    decided by AUTOSTART and the installed Run value (connector.wxs), and a copied "absent" would
#    override AUTOSTART=1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
layout=$(cd "${1:?layout directory}" && pwd)
version=${2:?version}
msi=$(realpath -m "${3:?output .msi}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# wixl finds sources only by paths relative to the directory it runs in.
ln -s "$layout" "$work/layout"
ln -s "$here/../launcher/res/app.ico" "$work/launcher.ico"
cd "$work"
(cd layout && find runtime app -type f | LC_ALL=C sort | sed 's|^|layout/|') \
  | wixl-heat --prefix layout/ --directory-ref INSTALLDIR --component-group Payload --var var.SourceDir --win64 \
  >payload.wxs
# The product code follows from the version alone (a name-based UUID), so that two builds of one version are
# one product to Windows Installer: installing the second over the first is refused instead of leaving two
# entries side by side, which a fresh code per build would do (wixl cannot allow same-version upgrades).
product_code=$(node -e '
  const h = require("node:crypto").createHash("sha1").update("TovixMobileConnector " + process.argv[1]).digest();
  h[6] = (h[6] & 0x0f) | 0x50; h[8] = (h[8] & 0x3f) | 0x80;
  const x = h.subarray(0, 16).toString("hex").toUpperCase();
  console.log([x.slice(0, 8), x.slice(8, 12), x.slice(12, 16), x.slice(16, 20), x.slice(20)].join("-"));' "$version")
WINDOWS_LANGUAGE=zh_CN wixl --arch x64 --define Version="$version" --define ProductCode="$product_code" \
  --define SourceDir=layout \
  --define Icon=launcher.ico --define Win64=yes --output package.msi "$here/connector.wxs" payload.wxs

printf '\r\n\r\n936\t_ForceCodepage\r\n' >_ForceCodepage.idt
WINDOWS_LANGUAGE=zh_CN msibuild package.msi -i _ForceCodepage.idt \
  -q "UPDATE Shortcut SET Target = '[#LauncherExe]' WHERE Shortcut = 'StartMenuShortcut' OR Shortcut = 'StopShortcut'" \
  -q "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode)
      VALUES ('RemoveConnectorLog', 'Launcher', 'connector.log', 'INSTALLDIR', 2)" \
  -q "DELETE FROM InstallUISequence WHERE Action = 'MigrateFeatureStates'" \
  -q "DELETE FROM InstallExecuteSequence WHERE Action = 'MigrateFeatureStates'"
cd - >/dev/null
mv "$work/package.msi" "$msi"
