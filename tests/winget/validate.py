#!/usr/bin/env python3
"""Checks the winget manifest the build wrote (installer/Winget.cmake).

    validate.py <manifest folder> <schema folder | none> <app/ExitCodes.h>
                <architecture>=<signed installer>...

The fields every manifest of schema 1.9.0 must have are checked here, and
when a schema folder is given (QV_WINGET_SCHEMA_DIR; none is kept in the
tree), each of the three files is validated against the published manifest
schema in it as well; a folder without the three schema files fails. Then
what the schema cannot know: the three files name the same package and
version, the installer manifest lists exactly the architectures given, each
with its own address and the SHA-256 of its own signed installer, every
expected return code is a code app/ExitCodes.h defines, and the switches are
the installer's. Exit status 0 when everything holds, 1 with the reasons."""
import hashlib
import json
import pathlib
import re
import sys

import yaml

# What schema 1.9.0 requires of each kind, checked with or without its copy.
REQUIRED = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
                      "License", "ShortDescription", "ManifestType", "ManifestVersion"],
}


def main():
    folder, exit_codes = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[3])
    installers = dict(arg.split("=", 1) for arg in sys.argv[4:])
    failures = []
    manifests = {}
    files = sorted(folder.glob("*.yaml"))
    kinds = {"version": "manifest.version.1.9.0.json", "installer": "manifest.installer.1.9.0.json",
             "defaultLocale": "manifest.defaultLocale.1.9.0.json"}
    with_schema = sys.argv[2] not in ("", "none")
    schemas = pathlib.Path(sys.argv[2])
    if with_schema:
        import jsonschema
        missing = [name for name in kinds.values() if not (schemas / name).is_file()]
        if missing:
            print(f"winget manifest: the schema folder {schemas} lacks {', '.join(missing)}")
            return 1
    for path in files:
        # Keep every value a string where YAML would guess (6.4.0.2 is one).
        manifest = yaml.safe_load(path.read_text(encoding="utf-8"))
        kind = manifest.get("ManifestType")
        if kind not in kinds:
            failures.append(f"{path.name}: unexpected ManifestType {kind!r}")
            continue
        for key in REQUIRED[kind]:
            if manifest.get(key) in (None, "", []):
                failures.append(f"{path.name}: {key} missing")
        if str(manifest.get("ManifestVersion")) != "1.9.0":
            failures.append(f"{path.name}: ManifestVersion {manifest.get('ManifestVersion')!r}, not 1.9.0")
        if kind == "installer":
            for entry in manifest.get("Installers") or []:
                if not str(entry.get("InstallerUrl", "")).startswith("https://"):
                    failures.append(f"{path.name}: InstallerUrl {entry.get('InstallerUrl')!r} is no https address")
                if entry.get("Architecture") not in ("x86", "x64", "arm", "arm64", "neutral"):
                    failures.append(f"{path.name}: Architecture {entry.get('Architecture')!r}")
                if not re.fullmatch(r"[0-9A-Fa-f]{64}", str(entry.get("InstallerSha256", ""))):
                    failures.append(f"{path.name}: InstallerSha256 is no SHA-256")
        if with_schema:
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
        entries = installer_manifest["Installers"]
        listed = [entry.get("Architecture") for entry in entries]
        if sorted(listed) != sorted(installers):
            failures.append(f"the installers' architectures are {listed}, not {sorted(installers)}")
        if len({entry.get("InstallerUrl") for entry in entries}) != len(entries):
            failures.append("two architectures share one InstallerUrl")
        for entry in entries:
            path = installers.get(entry.get("Architecture"))
            if path is None:
                continue
            digest = hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest().upper()
            if entry["InstallerSha256"] != digest:
                failures.append(f"{entry['Architecture']}: InstallerSha256 {entry['InstallerSha256']} is not "
                                f"{path}'s {digest}")
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
        against = f"schema 1.9.0 ({schemas})" if with_schema else \
            "the fields schema 1.9.0 requires (no copy of the published schema given: QV_WINGET_SCHEMA_DIR)"
        print(f"winget manifest: {len(files)} files valid against {against} in {folder}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
