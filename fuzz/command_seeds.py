#!/usr/bin/env python3
"""Writes the seeds of fuzz_command to fuzz/corpus/fuzz_command/.

The byte layout is the one fuzz_command.cc decodes (see the comment at its top);
the words are read from its kWords table, so the two cannot drift apart. Run it
after changing the layout or the words: python3 fuzz/command_seeds.py
"""

import pathlib
import re
import struct

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = (HERE / "fuzz_command.cc").read_text()
WORDS = [
    bytes(w, "ascii").decode("unicode_escape")
    for w in re.findall(r'"((?:[^"\\]|\\.)*)"', SOURCE.split("kWords[] = {")[1].split("};")[0])
]

REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, MISSING = 1, 3, 4, 7, 0xFF
STOPPED, RUNNING, PAUSED = 0, 1, 2
AUTO, DEMAND, DISABLED = 0, 1, 2
ACCEPT_STOP, ACCEPT_PAUSE, OPEN_REFUSED, QUERY_FAILS = 1, 2, 4, 8
NEVER = 0xFF
NO_DEPENDENCY = 0xFF
VIEW64, VIEW32, BOTH_VIEWS, KEY_ALONE_IN_32 = 0, 1, 2, 3
TOKEN_HELD, TOKEN_NOT_HELD, TOKEN_ENABLED = 0, 1, 2
IN_APP, UNREADABLE, ELSEWHERE, RESPELLED, SYSTEM, REUSED = 0, 1, 2, 3, 4, 8


def text(value):
    """A word of kWords, a list file ("@0".."@3") or raw bytes."""
    if isinstance(value, str) and value in WORDS:
        return bytes([WORDS.index(value)])
    if isinstance(value, str) and re.fullmatch(r"@[0-3]", value):
        return bytes([0x80 + int(value[1])])
    raw = value.encode("latin-1") if isinstance(value, str) else value
    assert len(raw) <= 63, value
    return bytes([0xC0 + len(raw)]) + raw


def blob(data):
    assert len(data) <= 255
    return bytes([len(data)]) + data


def sz(s):
    return s.encode("latin-1") + b"\0"


def multi(*strings):
    return b"".join(sz(s) for s in strings) + b"\0"


def dword(n):
    return struct.pack("<I", n)


def seed(flags=0, values=None, services=(), processes=(), files=(), args=(), token=TOKEN_HELD):
    """values: name -> (type, bytes[, view]); services: dicts;
    processes: (id, image, exit, refused[, copies[, image kind]])."""
    values = values or {}
    out = bytearray([flags])
    for name in ("HomeDir", "ServicesList", "NoUseVDKTFTP", "DBSrvRemoteFlag", "DBInstanceName"):
        kind, data, *view = values.get(name, (MISSING, b""))
        out += bytes([kind]) + blob(data) + bytes([view[0] if view else VIEW64])
    out.append(len(services))
    for s in services:
        out += text(s["name"])
        out += bytes([s.get("state", STOPPED), s.get("start", DEMAND),
                      s.get("controls", ACCEPT_STOP | ACCEPT_PAUSE)])
        out += bytes(ms // 250 for ms in s.get("pending", (0, 0, 0, 0)))
        out.append(s.get("dependency", NO_DEPENDENCY))
    out += bytes([token, len(processes)])
    for process in processes:
        pid, image, exit_s, refused = process[:4]
        copies = process[4] if len(process) > 4 else 1
        kind = process[5] if len(process) > 5 else IN_APP
        out += bytes([pid]) + text(image) + bytes([exit_s, (1 if refused else 0) | (copies - 1) << 1, kind])
    out.append(len(files))
    for content in files:
        out += struct.pack("<H", len(content)) + content
    out.append(len(args))
    for a in args:
        out += text(a)
    return bytes(out)


CATALOGUE = {
    "HomeDir": (REG_SZ, sz("C:\\App")),
    "ServicesList": (REG_MULTI_SZ, multi("svc.exe,Svc,Svc Display", "hub.exe, hubkeep ,Vardeck Hub",
                                         "net.exe,NetBootCast,Net, Boot", "loom.exe,loomtide,Loom")),
    "NoUseVDKTFTP": (REG_DWORD, dword(1)),
    "DBSrvRemoteFlag": (REG_DWORD, dword(0)),
    "DBInstanceName": (REG_SZ, sz("INST")),
}
LIST = (b"# services of the test\n"
        b"C:\\App\\svc.exe, Svc, Svc Display\r\n"
        b"too,short\n"
        b" \"C:\\App\\hub.exe\" ,hubkeep, Vardeck Hub\n")
SVC_RUNNING = {"name": "Svc", "state": RUNNING, "pending": (2000, 3000, 1500, 1250)}

SEEDS = {
    "install_catalogue_named_db": seed(
        values=CATALOGUE,
        services=[{"name": "MSSQL$INST", "state": RUNNING}],
        args=["-install", "-t", "5"]),
    "install_default_db_starts_with_dependency": seed(
        values={**CATALOGUE, "DBSrvRemoteFlag": (MISSING, b"")},
        services=[{"name": "MSSQL$VDKDBI", "start": AUTO, "pending": (3000, 0, 0, 0)}],
        args=["-install"]),
    "install_remote_db_unterminated_home": seed(
        values={**CATALOGUE, "HomeDir": (REG_SZ, b"C:\\App"), "DBSrvRemoteFlag": (REG_DWORD, dword(1)),
                "NoUseVDKTFTP": (REG_BINARY, b"\1")},
        services=[{"name": "Svc", "state": RUNNING}],
        args=["/INSTALL", "-t", "1"]),
    "remove_catalogue": seed(
        values=CATALOGUE,
        services=[SVC_RUNNING, {"name": "hubkeep"}, {"name": "NetBootCast", "controls": OPEN_REFUSED}],
        args=["-remove"]),
    "stop_list_file_with_limit": seed(
        services=[{"name": "Svc", "state": RUNNING, "pending": (0, 8000, 0, 0)},
                  {"name": "hubkeep", "state": RUNNING, "controls": QUERY_FAILS | ACCEPT_STOP}],
        files=[LIST],
        args=["-stop", "-f", "@0", "-t", "2"]),
    "stop_limit_one_still_pending": seed(
        services=[{"name": "Svc", "state": RUNNING, "pending": (0, 8000, 0, 0)}],
        args=["-stop", "-c", "C:\\App\\svc.exe", "Svc", "Display", "-t", "1"]),
    "stopex_sweep": seed(
        services=[SVC_RUNNING, {"name": "hubkeep", "state": RUNNING, "dependency": 0}],
        processes=[(10, "svc.exe", NEVER, False), (11, "SVC.EXE", 30, False),
                   (12, "svc.exe", NEVER, True), (13, "hub.exe", 5, False), (14, "other.exe", NEVER, False)],
        files=[LIST],
        args=["-stopex", "-f", "@0"]),
    "stopex_explicit_service_all_end": seed(
        services=[SVC_RUNNING],
        processes=[(20, "svc.exe", 10, False)],
        args=["-stopex", "-c", "\"C:\\App\\svc.exe\"", "Svc", "Display", "-t", "3"]),
    "start_dependency_chain": seed(
        services=[{"name": "Base", "pending": (2000, 0, 0, 0)},
                  {"name": "Svc", "pending": (1000, 0, 0, 0), "dependency": 0},
                  {"name": "hubkeep", "start": DISABLED}],
        files=[LIST, b"C:\\App\\base.exe,Base,Base\n"],
        args=["-Start", "-f", "@0", "-f", "@1", "-t", "+4x"]),
    "pause_two_lists": seed(
        services=[SVC_RUNNING, {"name": "hubkeep", "state": PAUSED, "controls": ACCEPT_STOP}],
        files=[LIST, b"C:\\App\\svc.exe,Svc,Again\n"],
        args=["-pause", "-f", "@0", "-f", "@1"]),
    "continue_catalogue_then_named": seed(
        values=CATALOGUE,
        services=[{"name": "Svc", "state": PAUSED, "pending": (0, 0, 0, 3000)}],
        args=["-continue", "-c", "C:\\App\\svc.exe", "Svc", "Display", "-f", "@3", "-x"]),
    "startup_last_triple": seed(
        services=[{"name": "NetBootCast", "state": RUNNING}, {"name": "Svc"}],
        args=["-startup", "-disabled", "NetBootCast", "Vardeck Hub", "-auto", "Svc"]),
    "startup_bad_word": seed(
        services=[{"name": "Svc"}],
        args=["-startup", "/Disabled", "Svc", "Display", "-x", "Svc", "Display"]),
    "refused_stray_word": seed(values=CATALOGUE, services=[SVC_RUNNING], args=["-stop", "Svc"]),
    "refused_zero_limit": seed(values=CATALOGUE, services=[SVC_RUNNING], args=["-stop", "-t", "0"]),
    "refused_missing_file": seed(services=[SVC_RUNNING], args=["-stop", "-f", "@3"]),
    "refused_file_without_entry": seed(files=[b"# only\na,b\n"], args=["-start", "-f", "@0"]),
    "refused_bad_catalogue": seed(
        values={**CATALOGUE, "ServicesList": (REG_MULTI_SZ, multi("svc.exe,Svc,D", "no comma"))},
        args=["-stop"]),
    "refused_unknown_command": seed(args=["x -stop", "-stopx"]),
    "manager_refused": seed(flags=1, values=CATALOGUE, services=[SVC_RUNNING], args=["-stop"]),
    "product_key_refused": seed(flags=2, values=CATALOGUE, args=["-install"]),
    "start_long_list_file": seed(
        services=[{"name": "Svc%d" % i, "pending": (1000 * i, 0, 0, 0)} for i in range(6)],
        files=[b"".join(b"C:\\App\\svc%d.exe,Svc%d,Display %d\n" % (i % 8, i % 8, i) for i in range(24))],
        args=["-start", "-f", "@0", "-t", "2"]),
    "stopex_more_than_64_processes": seed(
        services=[SVC_RUNNING],
        processes=[(5, "svc.exe", NEVER, False, 40), (6, "SVC.exe", 20, False, 40)],
        args=["-stopex", "-c", "C:\\App\\svc.exe", "Svc", "Display"]),
    "install_named_with_keys_refused": seed(
        flags=2 | 4,
        values=CATALOGUE,
        services=[{"name": "MSSQL$VDKDBI", "state": RUNNING}],
        args=["-install", "-c", "C:\\App\\net.exe", "NetBootCast", "Net Boot", "-t", "2"]),
    "install_db_key_refused": seed(
        flags=4,
        values=CATALOGUE,
        services=[{"name": "MSSQL$VDKDBI", "state": RUNNING}, {"name": "MSSQL$INST"}],
        args=["-install", "-c", "C:\\App\\hub.exe", "hubkeep", "Vardeck Hub"]),
    "install_catalogue_in_32bit_view": seed(
        flags=4 | 128,
        values={"HomeDir": (REG_SZ, sz("C:\\App"), BOTH_VIEWS),
                "ServicesList": CATALOGUE["ServicesList"] + (VIEW32,),
                "NoUseVDKTFTP": (REG_DWORD, dword(1), VIEW32),
                "DBSrvRemoteFlag": (REG_DWORD, dword(0), KEY_ALONE_IN_32),
                "DBInstanceName": (REG_SZ, sz("INST"), VIEW32)},
        services=[{"name": "MSSQL$INST", "state": RUNNING}],
        args=["-install"]),
    "stopex_owners_places_and_reused_ids": seed(
        services=[SVC_RUNNING],
        token=TOKEN_NOT_HELD,
        processes=[(10, "svc.exe", NEVER, False, 1, SYSTEM), (11, "svc.exe", NEVER, False, 1, ELSEWHERE),
                   (12, "SVC.EXE", NEVER, False, 1, RESPELLED | SYSTEM), (13, "svc.exe", NEVER, False, 1, REUSED),
                   (14, "svc.exe", 20, False, 1, UNREADABLE)],
        args=["-stopex", "-c", "\"C:\\App\\svc.exe\"", "Svc", "Display"]),
    "install_utf16_list_with_blank_in_path": seed(
        files=[b"\xff\xfe" + "# program, service, display\r\nC:\\Program Files\\Vardeck\\hub.exe, Hub, Hub\r\n"
               "x.exe, Caf\u00e9, \u3042\r\n".encode("utf-16-le"),
               b"\xef\xbb\xbf# program, service, display\nC:\\App\\svc.exe, Svc, Svc\n"],
        args=["-install", "-f", "@0", "-f", "@1"]),
    "outcome_status_start_list": seed(
        services=[SVC_RUNNING, {"name": "hubkeep", "pending": (8000, 0, 0, 0)}],
        files=[LIST],
        args=["-start", "-e", "-t", "2", "-f", "@0"]),
    "outcome_status_stopex_refused_process": seed(
        token=TOKEN_NOT_HELD,
        services=[SVC_RUNNING],
        processes=[(40, "svc.exe", NEVER, False, 1, SYSTEM)],
        args=["-stopex", "-c", "C:\\App\\svc.exe", "Svc", "Display", "-e"]),
    "query_catalogue_outcome": seed(
        values=CATALOGUE, services=[SVC_RUNNING, {"name": "hubkeep", "controls": 16}],
        args=["-query", "-e", "-o", "csv", "-v"]),
    "stop_help_among_operands": seed(values=CATALOGUE, services=[SVC_RUNNING], args=["-stop", "/?"]),
    "outcome_status_startup": seed(services=[{"name": "Svc"}], args=["-startup", "-e", "-auto", "Svc", "Display"]),
    "double_byte_paths": seed(
        flags=8,
        services=[SVC_RUNNING],
        processes=[(30, b"\x83\x5c.exe", NEVER, False)],
        files=[b"C:\\App\\\x83\x5c.exe,Svc,\x81\x40Display\x81\x40\n"],
        args=["/STOPEX", "-f", "@0"]),
}

# The same runs again with the step log on (flag 16); 64: its file cannot be written.
STEP_LOG, LOG_OPEN_REFUSED, LOG_WRITE_FAILS = 16, 32, 64
for name, flags in [("stopex_more_than_64_processes", STEP_LOG),
                    ("stopex_owners_places_and_reused_ids", STEP_LOG),
                    ("install_utf16_list_with_blank_in_path", STEP_LOG),
                    ("install_catalogue_named_db", STEP_LOG | LOG_WRITE_FAILS),
                    ("refused_stray_word", STEP_LOG)]:
    data = bytearray(SEEDS[name])
    data[0] |= flags
    SEEDS[name + "_with_step_log"] = bytes(data)

if __name__ == "__main__":
    target = HERE / "corpus" / "fuzz_command"
    target.mkdir(parents=True, exist_ok=True)
    for name, data in SEEDS.items():
        (target / name).write_bytes(data)
    print(f"wrote {len(SEEDS)} seeds to {target}")
