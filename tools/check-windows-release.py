#!/usr/bin/python3
"""Checks the Windows release that ./build-windows leaves in a folder, straight from the zip:
its file list, that every DLL a program or plugin loads is in it or is Windows' own and that
no DLL is in it for nothing, each program's version record and icon, the read-me's encoding,
and that the installer is a 64-bit program. Prints the file list; exits 1 on any fault.
    tools/check-windows-release.py build/windows/release"""
import pathlib
import re
import sys
import zipfile

import pefile


def read_products():
    """Each program of programs.txt with its product: fields between "|", the fifth the product."""
    table = pathlib.Path(__file__).resolve().parents[1] / "programs.txt"
    products = {}
    for line in table.read_text(encoding="utf-8").splitlines():
        if line.strip() and not line.startswith("#"):
            fields = [field.strip() for field in line.split("|")]
            products[fields[0]] = fields[4]
    return products


PRODUCTS = read_products()
# Loaded by Qt at run time, so no import names them.
PLUGINS = {"platforms/qwindows.dll", "styles/qwindowsvistastyle.dll"}
OTHER_FILES = {"README.txt", "licences/LGPL-3.txt", "licences/GPL-3.txt"}
WINDOWS_DLLS = {name.lower() + ".dll" for name in """advapi32 authz comdlg32 d3d9 d3d11 dwmapi
    dwrite dxgi gdi32 imm32 kernel32 mpr msvcrt netapi32 ole32 oleaut32 setupapi shcore shell32
    shlwapi user32 userenv uxtheme version winmm ws2_32 wtsapi32""".split()}
AMD64, WINDOWS_GUI = 0x8664, 2

faults = {}  # in order, each once


def check(ok, message):
    if not ok:
        faults[message] = None


def load(data):
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_ENTRY_{d}"]
                               for d in ("IMPORT", "DELAY_IMPORT", "RESOURCE")])
    return pe


def imports(pe):
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return {entry.dll.decode().lower() for entry in entries}


def version_record(pe):
    strings, translations = {}, []
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings[table.LangID.decode()] = {k.decode(): v.decode() for k, v in table.entries.items()}
            for var in getattr(block, "Var", []):
                translations += var.entry.values()
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    return strings, translations, fixed


release = pathlib.Path(sys.argv[1])
(zip_path,) = release.glob("serial-bench-consoles-*-windows-x86_64.zip")
version = re.search(r"consoles-(.+)-windows", zip_path.name).group(1)
top = f"serial-bench-consoles-{version}/"
archive = zipfile.ZipFile(zip_path)
names = [n for n in archive.namelist() if not n.endswith("/")]
print("\n".join(names))
check(all(n.startswith(top) for n in names), f"not all in one folder {top}")
files = {n[len(top):]: n for n in names}


pes = {name.lower(): load(archive.read(path)) for name, path in files.items()
       if name.endswith((".exe", ".dll"))}

programs = {f"{p}.exe" for p in PRODUCTS}
check({n for n in files if n.endswith(".exe")} == programs, "the programs are not those of programs.txt")
for name in PLUGINS | OTHER_FILES:
    check(name in files, f"{name} is missing")
check(all(n.lower() in pes or n in OTHER_FILES or n.startswith("licences/") for n in files),
      "files other than programs, DLLs, the read-me and licences")

# Windows finds a DLL beside the program; Qt's plugins load theirs from there too.
shipped = {n for n in pes if "/" not in n and n.endswith(".dll")}
reached, todo = set(), list(programs | PLUGINS)
while todo:
    pe = pes.get(todo.pop())
    for dll in imports(pe) if pe else ():
        if dll in shipped and dll not in reached:
            reached.add(dll)
            todo.append(dll)
        check(dll in shipped or dll in WINDOWS_DLLS or dll.startswith("api-ms-win-"),
              f"{dll} is loaded but neither shipped nor Windows' own")
check(shipped == reached, f"shipped but never loaded: {sorted(shipped - reached)}")

major, minor = (int(part) for part in version.split("."))
for program, product in PRODUCTS.items():
    pe = pes[f"{program}.exe"]
    check(pe.FILE_HEADER.Machine == AMD64 and pe.OPTIONAL_HEADER.Subsystem == WINDOWS_GUI,
          f"{program}.exe is not a 64-bit Windows GUI program")
    strings, translations, fixed = version_record(pe)
    expected = {"FileVersion": version, "ProductVersion": version, "InternalName": program,
                "OriginalFilename": f"{program}.exe", "ProductName": product}
    got = strings.get("080404b0", {})
    check(all(got.get(k) == v for k, v in expected.items()), f"{program}.exe version strings: {strings}")
    check(translations == ["0x0804 0x04b0"], f"{program}.exe translation: {translations}")
    check(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS) == (major << 16 | minor, 0),
          f"{program}.exe fixed file version")
    groups = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == pefile.RESOURCE_TYPE["RT_GROUP_ICON"]]
    check(len(groups) == 1, f"{program}.exe has no icon")

readme = archive.read(files["README.txt"]) if "README.txt" in files else b""
check(readme.startswith(b"\xef\xbb\xbf") and readme.count(b"\n") == readme.count(b"\r\n"),
      "README.txt is not UTF-8 with BOM and CR LF")

(setup,) = release.glob(f"serial-bench-consoles-{version}-windows-x86_64-setup.exe")
check(pefile.PE(str(setup), fast_load=True).FILE_HEADER.Machine == AMD64, f"{setup.name} is not 64-bit")

for fault in faults:
    print("FAULT:", fault, file=sys.stderr)
print(f"{zip_path.name}: {len(names)} files, {len(shipped)} DLLs and {len(PLUGINS)} plugins"
      f"; {setup.name}: {'faults' if faults else 'fine'}")
sys.exit(1 if faults else 0)
