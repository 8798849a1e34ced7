"""Makes the NuGet package: a zip holding the .nuspec manifest (from manifest.xml.in
beside this script), the managed assembly, the native libraries under
runtimes/<rid>/native/, the licence and the notices, and the two package
parts every .nupkg carries ([Content_Types].xml, _rels/.rels). Entries are
written in a fixed order with a fixed time, so the same inputs give the same
file.

    make_nupkg.py VERSION ASSEMBLY WINDOWS_DLL LINUX_SO SOURCE_DIR OUTPUT
"""
import sys
import zipfile
from pathlib import Path

version, assembly, windows_dll, linux_so, source, output = sys.argv[1:7]
source = Path(source)
ID = "Tarvinex.Velmora"
# Mono's compiler builds against its 4.x profile: the package's assembly is
# for .NET Framework 4.7.2 (the first with UTF-8 string marshalling and
# value tuples in mscorlib), which newer .NET also loads.
FRAMEWORK = "net472"

for path in (assembly, windows_dll, linux_so):
    if not Path(path).is_file():
        sys.exit(f"make_nupkg: {path} does not exist (build it first)")

nuspec = (Path(__file__).with_name("manifest.xml.in").read_text()
          .replace("@VERSION@", version))
content_types = (
    '<?xml version="1.0" encoding="utf-8"?>\n'
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />'
    '<Default Extension="nuspec" ContentType="application/octet" />'
    '<Default Extension="dll" ContentType="application/octet" />'
    '<Default Extension="so" ContentType="application/octet" />'
    '<Default Extension="txt" ContentType="application/octet" />'
    '</Types>\n')
rels = (
    '<?xml version="1.0" encoding="utf-8"?>\n'
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    f'<Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" '
    f'Target="/{ID}.nuspec" Id="R0" />'
    '</Relationships>\n')

entries = [
    ("_rels/.rels", rels.encode()),
    ("[Content_Types].xml", content_types.encode()),
    (f"{ID}.nuspec", nuspec.encode()),
    (f"lib/{FRAMEWORK}/{ID}.dll", Path(assembly).read_bytes()),
    ("runtimes/win-x64/native/tarvinex-velmora.dll", Path(windows_dll).read_bytes()),
    ("runtimes/linux-x64/native/libtarvinex-velmora.so", Path(linux_so).read_bytes()),
    ("LICENSE.txt", (source / "LICENSE").read_bytes()),
    ("THIRD-PARTY-NOTICES.txt", (source / "THIRD-PARTY-NOTICES").read_bytes()),
]
partial = Path(output + ".partial")
with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in entries:
        info = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, data)
partial.replace(output)
print(output)
