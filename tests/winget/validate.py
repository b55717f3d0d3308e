#!/usr/bin/env python3
"""Checks the winget manifest the build wrote (installer/Winget.cmake).

    validate.py <manifest folder> <schema folder> <signed installer> <app/ExitCodes.h>

Each of the three files is validated against the published manifest schema
kept in the tree (tests/winget/schema-1.9.0, with its licence); then what
the schema cannot know: the three files name the same package and version,
the installer's SHA-256 is the signed installer's, every expected return
code is a code app/ExitCodes.h defines, and the switches are the
installer's. Exit status 0 when everything holds, 1 with the reasons."""
import hashlib
import json
import pathlib
import re
import sys

import jsonschema
import yaml


def main():
    folder, schemas, installer, exit_codes = map(pathlib.Path, sys.argv[1:5])
    failures = []
    manifests = {}
    files = sorted(folder.glob("*.yaml"))
    kinds = {"version": "manifest.version.1.9.0.json", "installer": "manifest.installer.1.9.0.json",
             "defaultLocale": "manifest.defaultLocale.1.9.0.json"}
    for path in files:
        # Keep every value a string where YAML would guess (6.4.0.2 is one).
        manifest = yaml.safe_load(path.read_text(encoding="utf-8"))
        kind = manifest.get("ManifestType")
        if kind not in kinds:
            failures.append(f"{path.name}: unexpected ManifestType {kind!r}")
            continue
        schema = json.loads((schemas / kinds[kind]).read_text(encoding="utf-8"))
        validator = jsonschema.Draft7Validator(schema)
        for error in sorted(validator.iter_errors(manifest), key=lambda e: list(e.path)):
            failures.append(f"{path.name}: {'/'.join(map(str, error.path)) or '(top)'}: {error.message}")
        manifests[kind] = manifest
    if sorted(manifests) != sorted(kinds):
        failures.append(f"expected one manifest of each kind {sorted(kinds)}, found {[f.name for f in files]}")
    else:
        identities = {(m["PackageIdentifier"], str(m["PackageVersion"])) for m in manifests.values()}
        if len(identities) != 1:
            failures.append(f"the files name different packages or versions: {sorted(identities)}")
        if folder.name != str(manifests["version"]["PackageVersion"]):
            failures.append(f"folder {folder.name} is not the version")
        installer_manifest = manifests["installer"]
        digest = hashlib.sha256(installer.read_bytes()).hexdigest().upper()
        for entry in installer_manifest["Installers"]:
            if entry["InstallerSha256"] != digest:
                failures.append(f"InstallerSha256 {entry['InstallerSha256']} is not the installer's {digest}")
        defined = {int(v) for v in re.findall(r"^\s*Exit\w+ = (-?\d+),", exit_codes.read_text(), re.M)}
        for entry in installer_manifest.get("ExpectedReturnCodes", []):
            if entry["InstallerReturnCode"] not in defined:
                failures.append(f"return code {entry['InstallerReturnCode']} is not one of app/ExitCodes.h")
        switches = installer_manifest["InstallerSwitches"]
        wanted = {"Silent": "/VERYSILENT", "SilentWithProgress": "/S", "Log": '/LOG="<LOGPATH>"',
                  "InstallLocation": '/DIR="<INSTALLPATH>"'}
        for key, value in wanted.items():
            if switches.get(key) != value:
                failures.append(f"InstallerSwitches.{key} is {switches.get(key)!r}, not {value!r}")
        if installer_manifest.get("Scope") != "machine" or installer_manifest.get("InstallerType") != "exe":
            failures.append("not an exe installer of scope machine")
    for failure in failures:
        print("winget manifest:", failure)
    if not failures:
        print(f"winget manifest: {len(files)} files valid against schema 1.9.0 in {folder}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
