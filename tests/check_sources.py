#!/usr/bin/env python3
"""check_sources.py SOURCE dependencies | planted-faults: holds the sources to what
docs/DEVELOPING.md says of them.

dependencies: each code folder includes only the folders below it (common <- engine <- window <-
ui or win32, and engine <- cli); only ui/ includes Qt; the system's own headers appear only in
win32/ and in the few files that reach the platform.
planted-faults: every row of tests/planted_faults.tsv still finds its text exactly once in its file,
so that planting it changes the code as the row says.
"""
import pathlib
import re
import sys

BELOW = {
    'common': {'common'},
    'engine': {'common', 'engine'},
    'window': {'common', 'engine', 'window'},
    'ui': {'common', 'engine', 'window', 'ui'},
    'win32': {'common', 'engine', 'window', 'win32'},
    'cli': {'common', 'engine', 'cli'},
}
SYSTEM_HEADER = re.compile(r'<(windows|commdlg|unistd|fcntl|sys/\w+|linux/\w+)\.h>')
PLATFORM_FILES = {
    'common/file_system_posix.cpp', 'common/file_system_win32.cpp', 'common/error_win32.cpp',
    'common/utf16_win32.cpp', 'common/standard_streams.cpp', 'cli/console_posix.cpp',
    'cli/console_win32.cpp', 'cli/wildcards_win32.cpp', 'cli/folder_watch_linux.cpp',
    'cli/folder_watch_win32.cpp',
}
VECTOR_HEADER = re.compile(r'<(immintrin|intrin)\.h>')


def dependencies(source):
    problems = []
    for folder, allowed in BELOW.items():
        for file in sorted((source / folder).iterdir()):
            if file.suffix not in ('.h', '.cpp', '.in'):
                continue
            name = f'{folder}/{file.name}'
            for number, line in enumerate(file.read_text(encoding='utf-8').splitlines(), 1):
                found = re.match(r'\s*#\s*include\s*(["<])([^">]+)[">]', line)
                if not found:
                    continue
                quoted, header = found.group(1) == '"', found.group(2)
                where = f'{name}:{number}: {header}'
                if quoted and header.split('/')[0] not in allowed:
                    problems.append(f'{where}: {folder}/ may include only {sorted(allowed)}')
                if not quoted and re.match(r'Q[A-Z]', header) and folder != 'ui':
                    problems.append(f'{where}: only ui/ knows Qt')
                if SYSTEM_HEADER.match(f'<{header}>') and folder != 'win32' \
                        and name not in PLATFORM_FILES:
                    problems.append(f'{where}: a system header outside the platform files')
                if VECTOR_HEADER.match(f'<{header}>') and name != 'engine/repair.cpp':
                    problems.append(f'{where}: vector intrinsics outside the repair')
    return problems


def planted_faults(source):
    problems = []
    table = source / 'tests' / 'planted_faults.tsv'
    for number, line in enumerate(table.read_text(encoding='utf-8').splitlines(), 1):
        if line.startswith('#') or not line.strip():
            continue
        fields = line.split('\t')
        if len(fields) != 4:
            problems.append(f'{table.name}:{number}: not four tab-separated fields')
            continue
        file, original = source / fields[0], fields[1].replace('\\n', '\n')
        count = file.read_text(encoding='utf-8').count(original) if file.is_file() else 0
        if count != 1:
            problems.append(f'{table.name}:{number}: {fields[0]} holds its text {count} times, '
                            f'not once ({fields[3]})')
    return problems


if __name__ == '__main__':
    checks = {'dependencies': dependencies, 'planted-faults': planted_faults}
    if len(sys.argv) != 3 or sys.argv[2] not in checks:
        sys.exit(__doc__)
    found = checks[sys.argv[2]](pathlib.Path(sys.argv[1]))
    for problem in found:
        print('FAIL:', problem, file=sys.stderr)
    sys.exit(1 if found else 0)
