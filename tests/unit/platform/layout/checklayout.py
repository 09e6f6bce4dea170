#!/usr/bin/env python3
"""Checks the platform's COM/OLE DB declarations against the Windows SDK as
shipped by mingw-w64:

1. sizes, alignments, field offsets and constant values: the probe program
   prints them as static_asserts, which must compile against the SDK headers;
2. GUIDs: the probe's values against mingw-w64's libuuid and header
   definitions;
3. vtable order: the base and method order of every interface declared in
   the platform headers against the SDK's declaration.

usage: checklayout.py PROBE MINGW_CXX PLATFORM_SOURCE_DIR WORK_DIR
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def sdk_header_paths(cxx, headers):
    src = ''.join('#include <%s>\n' % h for h in headers)
    out = run([cxx, '-std=c++17', '-M', '-xc++', '-'], input=src)
    if out.returncode != 0:
        sys.exit('cannot preprocess the SDK headers:\n' + out.stderr)
    paths = re.findall(r'(/\S+\.h)', out.stdout.replace('\\\n', ' '))
    return [p for p in paths if os.path.basename(p) in headers or 'include' in p]


def guids_in_objects(objdump, objects):
    """Public 16-byte symbols of mingw-w64's libuuid objects, as GUIDs."""
    found = {}
    for obj in objects:
        table = run([objdump, '-t', obj]).stdout
        headers = run([objdump, '-h', obj]).stdout
        sections = {}
        for line in headers.splitlines():
            m = re.match(r'\s*(\d+)\s+(\S+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)', line)
            if m:
                sections[int(m.group(1)) + 1] = (int(m.group(3), 16), int(m.group(4), 16))
        data = open(obj, 'rb').read()
        for line in table.splitlines():
            m = re.match(r'\[\s*\d+\]\(sec\s+(\d+)\).*\(scl\s+2\).*0x([0-9a-f]+)\s+(\S+)$', line)
            if not m or int(m.group(1)) not in sections:
                continue
            size, offset = sections[int(m.group(1))]
            at = int(m.group(2), 16)
            if at + 16 > size:
                continue
            raw = data[offset + at:offset + at + 16]
            d1, d2, d3 = struct.unpack('<IHH', raw[:8])
            found.setdefault(m.group(3), (d1, d2, d3) + tuple(raw[8:]))
    return found


def guids_in_headers(paths):
    found = {}
    number = r'(0x[0-9a-fA-F]+|\d+)'
    for path in paths:
        text = open(path, errors='ignore').read()
        for m in re.finditer(r'GUID\s+(?:OLEDBDECLSPEC\s+)?(\w+)\s*=\s*\{([^;]*)\}\s*;', text):
            nums = [int(x, 0) for x in re.findall(number, m.group(2))]
            if len(nums) == 11:
                found.setdefault(m.group(1), tuple(nums))
        for m in re.finditer(r'DEFINE_GUID\s*\(\s*(\w+)\s*,([^)]*)\)', text):
            nums = [int(x, 0) for x in re.findall(number, m.group(2))]
            if len(nums) == 11:
                found.setdefault(m.group(1), tuple(nums))
    return found


INTERFACE = re.compile(r'(?:struct|MIDL_INTERFACE\("[^"]*"\))\s+(I\w+)\s*:\s*public\s+(I\w+)\s*\{(.*?)\n\s*\};',
                       re.S)
METHOD = re.compile(r'virtual\s+[\w\s\*]+?\b(?:WINAPI\s+|STDMETHODCALLTYPE\s+)?(\w+)\s*\(')


def interfaces_in(paths, wanted=None):
    found = {}
    for path in paths:
        text = open(path, errors='ignore').read()
        for m in INTERFACE.finditer(text):
            name, base, body = m.groups()
            if wanted is not None and name not in wanted:
                continue
            methods = METHOD.findall(body)
            if methods and name not in found:
                found[name] = (base, methods)
    return found


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    probe, cxx, platform_dir, work = sys.argv[1:]
    if not cxx or cxx.endswith('NOTFOUND') or not shutil.which(cxx):
        print('SKIPPED: x86_64-w64-mingw32-g++ is not installed; the layout check needs '
              'the mingw-w64 Windows SDK headers')
        return SKIP
    os.makedirs(work, exist_ok=True)
    failures = []

    printed = run([probe])
    if printed.returncode != 0:
        sys.exit('the probe failed: ' + printed.stderr)
    source, _, guid_lines = printed.stdout.partition('//GUIDS\n')
    check = os.path.join(work, 'sdk_layout_check.cpp')
    with open(check, 'w') as f:
        f.write(source)
    compiled = run([cxx, '-std=c++17', '-fsyntax-only', check])
    asserts = source.count('static_assert')
    if compiled.returncode != 0:
        errors = [l for l in compiled.stderr.splitlines() if 'error' in l]
        failures.append('%d of %d layout/value checks disagree with the SDK:\n  %s'
                        % (len(errors), asserts, '\n  '.join(errors[:60])))
    else:
        print('layout and values: %d static_asserts hold against the SDK' % asserts)

    headers = ['winsock2.h', 'windows.h', 'oledb.h', 'oledberr.h', 'msdadc.h', 'msdasc.h',
               'msdaguid.h', 'transact.h', 'oledbguid.h', 'msoledbsql.h', 'unknwn.h',
               'objidl.h', 'objidlbase.h', 'oaidl.h']
    sdk_paths = sdk_header_paths(cxx, headers)
    objdump = cxx.replace('g++', 'objdump')
    libuuid = run([cxx, '-print-file-name=libuuid.a']).stdout.strip()
    sdk_guids = {}
    with tempfile.TemporaryDirectory() as tmp:
        if os.path.isfile(libuuid) and shutil.which(objdump):
            subprocess.run(['ar', 'x', libuuid], cwd=tmp, check=True)
            sdk_guids.update(guids_in_objects(objdump, [os.path.join(tmp, f) for f in os.listdir(tmp)]))
    for name, value in guids_in_headers(sdk_paths).items():
        sdk_guids.setdefault(name, value)
    checked = 0
    unknown = []
    for line in guid_lines.splitlines():
        name, d1, d2, d3, d4 = line.split()
        ours = (int(d1, 16), int(d2, 16), int(d3, 16)) + tuple(bytes.fromhex(d4))
        if name not in sdk_guids:
            unknown.append(name)
            continue
        checked += 1
        if sdk_guids[name] != ours:
            failures.append('GUID %s: ours %s, SDK %s' % (name, ours, sdk_guids[name]))
    print('GUIDs: %d compared with the SDK%s' % (
        checked, '; not in the SDK: ' + ', '.join(unknown) if unknown else ''))
    if checked == 0:
        failures.append('no GUID could be compared: libuuid.a or the headers were not found')

    ours = interfaces_in([os.path.join(platform_dir, f)
                          for f in ('comtypes.h', 'oledbinterfaces.h')])
    theirs = interfaces_in(sdk_paths, set(ours))
    compared = 0
    for name, (base, methods) in sorted(ours.items()):
        if name not in theirs:
            continue
        compared += 1
        if (base, methods) != theirs[name]:
            failures.append('interface %s: ours %s : %s, SDK %s : %s'
                            % (name, methods, base, theirs[name][1], theirs[name][0]))
    missing = sorted(set(ours) - set(theirs))
    print('interfaces: %d compared method by method%s' % (
        compared, '; not in the SDK headers: ' + ', '.join(missing) if missing else ''))
    if compared < len(ours) // 2:
        failures.append('too few interfaces found in the SDK headers to compare')

    if failures:
        print('\n'.join(failures))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
