#!/usr/bin/env python3
"""Finds i686 functions that need a 16-byte-aligned stack without making one.

32-bit Windows promises only 4-byte stack alignment at a thread's start and in
every callback the system makes, while GCC assumes 16 on entry unless told
otherwise. A legacy SSE instruction with a 16-byte memory operand (movaps,
movdqa, paddq [esp+8], ...) faults on a real processor, and under qemu-user,
when that operand is a stack slot that is not on a 16-byte boundary. A run shows
it only where such code runs on a thread or callback the system started, with
the data that reaches it; this check sees every path. It reads the disassembly
of each program or DLL named and reports every such access relative to esp or
ebp in a function whose code does not first realign esp itself
("and esp,0xfffffff0" or stricter).

    check_stack_alignment.py [--objdump PROG] [--skip NAME]... PATH...
                        exit 1 on any finding; a folder stands for every .exe and .dll below it,
                        but for files and folders named by --skip
    check_stack_alignment.py --expect-findings [--objdump PROG] FILE...
                                                               exit 1 unless every FILE has one
"""
import argparse
import os
import re
import struct
import subprocess
import sys

FUNCTION = re.compile(r"^[0-9a-f]+ <(?P<name>[^>]+)>:$")
INSTRUCTION = re.compile(r"^\s*(?P<address>[0-9a-f]+):\s+(?P<text>.*)$")
# A realignment of esp to 16 bytes or more: and esp with a mask whose low four bits are clear.
REALIGN = re.compile(r"\band\s+esp,0x(?P<mask>f{4,7}[0-9a-f])\b")
STACK_XMMWORD = re.compile(r"XMMWORD PTR (?:\w+:)?\[(?:esp|ebp)\b")
# Legacy SSE instructions that accept any alignment of their 16-byte memory operand.
UNALIGNED_OK = {"movups", "movupd", "movdqu", "lddqu", "maskmovdqu"}
IMMEDIATE = re.compile(r"\b0x([0-9a-f]{6,8})\b")


def mnemonic(text):
    words = text.split()
    while words and words[0] in ("lock", "rep", "repz", "repnz", "data16", "addr16"):
        words.pop(0)
    return words[0] if words else ""


CALL = re.compile(r"^(?P<kind>call|jmp)\s+(?P<target>[0-9a-f]+) <(?P<name>[^>+]+)>$")


def parse(disassembly):
    """Per function: its address, whether it realigns esp, its unguarded aligned stack
    accesses (address, instruction), and the functions that call or jump to it."""
    functions = {}
    current = None
    for line in disassembly.splitlines():
        match = FUNCTION.match(line)
        if match:
            current = functions.setdefault(match.group("name"), {
                "address": int(line.split()[0], 16), "realigns": False, "accesses": [], "callers": set()})
            continue
        match = INSTRUCTION.match(line)
        if not match or current is None:
            continue
        text = " ".join(match.group("text").split())
        realign = REALIGN.search(text)
        if realign and int(realign.group("mask"), 16) & 0xF == 0:
            current["realigns"] = True
        elif not current["realigns"] and STACK_XMMWORD.search(text) and mnemonic(text) not in UNALIGNED_OK:
            current["accesses"].append((match.group("address"), text))
        call = CALL.match(text)
        if call:
            current.setdefault("calls", []).append(call.group("name"))
    for name, function in functions.items():
        for callee in function.get("calls", []):
            if callee in functions:
                functions[callee]["callers"].add(name)
    return functions


def aligned_on_entry(functions, address_taken):
    """Functions entered with a 16-byte-aligned stack: those that realign it, and, as
    GCC itself reasons for a function local to its file, those reached only by direct
    calls from such functions (which keep esp aligned at every call they make)."""
    aligned = {name for name, f in functions.items() if f["realigns"]}
    changed = True
    while changed:
        changed = False
        for name, f in functions.items():
            if name in aligned or not f["callers"] or f["address"] in address_taken:
                continue
            if f["callers"] <= aligned:
                aligned.add(name)
                changed = True
    return aligned


def findings(disassembly, address_taken=frozenset()):
    """(function, address, instruction) for each aligned access to the stack in a
    function that may be entered with a stack aligned to 4 bytes only."""
    functions = parse(disassembly)
    aligned = aligned_on_entry(functions, address_taken)
    return [(name, address, text) for name, f in functions.items() if name not in aligned
            for address, text in f["accesses"]]


def taken_addresses(objdump, path, disassembly):
    """Addresses that code or data hold as values (a callback, a table of entries): a
    function at one of them can be entered from anywhere. Debug and unwind sections,
    which name every function, do not count."""
    found = set(int(value, 16) for value in IMMEDIATE.findall(
        "\n".join(line for line in disassembly.splitlines() if not CALL.search(line.split("\t")[-1]))))
    headers = subprocess.run([objdump, "-h", path], stdout=subprocess.PIPE, universal_newlines=True).stdout
    with open(path, "rb") as image:
        content = image.read()
    lines = headers.splitlines()
    for i, line in enumerate(lines):
        parts = line.split()
        if len(parts) < 7 or not parts[0].isdigit() or i + 1 >= len(lines):
            continue
        name, size, offset = parts[1], int(parts[2], 16), int(parts[5], 16)
        flags = lines[i + 1]
        if ("CONTENTS" not in flags or "CODE" in flags or "DEBUGGING" in flags
                or name in (".eh_frame", ".reloc", ".rsrc")):
            continue
        data = content[offset:offset + size]
        found.update(struct.unpack_from("<I", data, at)[0] for at in range(0, len(data) - 3, 4))
    return found


def disassemble(objdump, path):
    result = subprocess.run([objdump, "-d", "-M", "intel", "--no-show-raw-insn", path],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    if result.returncode != 0:
        sys.exit("%s: %s failed: %s" % (path, objdump, result.stderr.strip()))
    if not any(FUNCTION.match(line) for line in result.stdout.splitlines()):
        sys.exit("%s: no symbols in the disassembly; the check needs an unstripped file" % path)
    return result.stdout


def programs(paths, skip):
    for path in paths:
        if not os.path.isdir(path):
            yield path
            continue
        for folder, subfolders, names in sorted(os.walk(path)):
            # CMake's own probes, and folders named to be skipped (third-party programs)
            subfolders[:] = sorted(d for d in subfolders if d != "CMakeFiles" and d not in skip)
            for name in sorted(names):
                if name.lower().endswith((".exe", ".dll")) and name not in skip:
                    yield os.path.join(folder, name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--expect-findings", action="store_true",
                        help="succeed only when every file has at least one finding (the check's own test)")
    parser.add_argument("--skip", action="append", default=[], help="a file or folder name left out of folders")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    status = 0
    for path in programs(args.paths, set(args.skip)):
        disassembly = disassemble(args.objdump, path)
        found = findings(disassembly, taken_addresses(args.objdump, path, disassembly))
        if args.expect_findings:
            if not found:
                print("%s: no unaligned stack access found, though one was built in" % path)
                status = 1
            else:
                print("%s: %d found, as expected (first: %s at %s: %s)" % ((path, len(found)) + found[0]))
            continue
        functions = sorted({f for f, _, _ in found})
        for function, address, text in found:
            print("%s: %s at 0x%s: %s" % (path, function, address, text))
        if found:
            print("%s: %d accesses in %d functions assume a 16-byte-aligned stack they never made"
                  % (path, len(found), len(functions)))
            status = 1
        else:
            print("%s: every 16-byte stack access is in a function that aligns its own stack" % path)
    return status


if __name__ == "__main__":
    sys.exit(main())
