"""vekctl as a user runs it: exit statuses, what goes to stdout and stderr, the JSON envelope.

VEKCTL names the binary under test.
"""
import json
import os
import re
import shutil
import subprocess

import pytest

VEKCTL = os.environ.get("VEKCTL", "vekctl")


def run(*args):
    p = subprocess.run([VEKCTL, *args], capture_output=True, text=True, timeout=60)
    assert p.returncode >= 0, "vekctl died of signal %d: %s" % (-p.returncode, args)
    return p


def run_json(*args):
    p = run("--json", *args)
    return p, json.loads(p.stdout)


# Rejected before the library is brought up: exit 2, nothing on stdout.
@pytest.mark.parametrize("args", [
    ["--sim", "--bogus"],
    ["--board"],                                     # missing value
    ["--sim", "info", "extra"],
    ["--sim", "sensors", "fan"],                     # used to crash
    ["--sim", "sensors", "fan", "0", "duty"],        # no percentage
    ["--sim", "sensors", "fan", "0", "duty", "101"],
    ["--sim", "sensors", "fan", "0", "auto", "5"],
    ["--sim", "sensors", "fan", "13", "auto"],
    ["--sim", "gpio", "set", "1", "5=256"],          # used to drive the pin low
    ["--sim", "gpio", "set", "1", "4294967301=1"],   # used to drive pin 5
    ["--sim", "gpio", "set", "1", "5"],
    ["--sim", "gpio", "get", "0", "1"],
    ["--sim", "gpio", "dir", "1", "1", "sideways"],
    ["--sim", "wdt", "config", "0", "5", "trigger", "bogus"],  # used to run config and trigger first
    ["--sim", "wdt", "config", "0", "256"],
    ["--sim", "wdt", "config", "hours", "5"],
    ["--sim", "bus", "detect", "4"],
    ["--sim", "bus", "get", "0", "0x78", "0"],
    ["--sim", "bus", "get", "0", "0x50", "0x100"],
    ["--sim", "bus", "set", "0", "0x50", "0", "0x100"],  # a word value in byte mode
    ["--sim", "bus", "set", "0", "0x50", "0", "-1"],
    ["--sim", "bus", "eeprom", "read", "0x50", "0", "16"],  # SPD range without --force
    ["--sim", "bus", "eeprom", "write", "0x57", "0", "1"],
    ["--sim", "bus", "eeprom", "read", "--force", "0x57", "0xFFFF", "2"],  # runs past the end
    ["--sim", "--board", "KVB-3410-LB", "info"],
    ["--sim", "boards"],
    ["--sim", "serve", "--listen", "localhost"],
])
def test_bad_command_lines_exit_2_without_output(args):
    p = run(*args)
    assert p.returncode == 2, (args, p.stderr)
    assert p.stdout == ""
    assert p.stderr.strip()


def test_unknown_board_name_is_a_usage_error():
    p = run("--board", "NO SUCH BOARD")
    assert p.returncode == 2 and "vekctl boards" in p.stderr


@pytest.mark.parametrize("args", [[], ["--json"], ["--json", "sensors"], ["metrics"]])
def test_without_sim_this_machine_or_nothing(args):
    # The CI machine is no supported board: vekctl must say so, not show simulated readings.
    p = run(*args)
    assert p.returncode == 3
    assert p.stdout == ""
    assert "not a supported board" in p.stderr and "--sim" in p.stderr


@pytest.mark.parametrize("command", [
    ["info"], ["sensors"], ["gpio"], ["gpio", "get", "1", "1", "2"], ["wdt"], ["bus", "detect", "0"],
    ["bus", "dump", "0", "0x50"], ["bus", "eeprom", "read", "--force", "0x57", "0", "4"],
])
def test_json_envelope(command):
    p, doc = run_json("--sim", *command)
    assert p.returncode == 0, p.stderr
    assert list(doc) == ["schema", "command", "source", "ok", "errors", "data"]
    assert doc["schema"] == "vekctl/1" and doc["ok"] is True and doc["errors"] == []
    assert doc["source"]["kind"] == "simulator"


def test_failures_are_numbers_with_names_and_exit_1():
    p, doc = run_json("--sim", "sensors", "fan", "5", "duty", "50")  # the default board has fans 0..3
    assert p.returncode == 1
    assert doc["ok"] is False
    assert doc["errors"] == [{"code": 10, "name": "UNSUPPORTED", "what": "fan 5 duty"}]
    assert doc["data"]["result"] == {"code": 10, "name": "UNSUPPORTED"}
    assert "10 UNSUPPORTED" in p.stderr


def test_simulated_output_says_so():
    p = run("--sim")
    assert p.returncode == 0
    assert p.stdout.splitlines()[0].startswith("# simulated board ")


def test_sensors_json_is_shaped_like_sensors_j():
    p, doc = run_json("--sim", "sensors")
    (chip, features), = doc["data"].items()
    assert chip.startswith("vek-") and features["Adapter"].startswith("Simulated")
    inputs = {k: v for f, sub in features.items() if f != "Adapter" for k, v in sub.items()}
    assert inputs and all(re.fullmatch(r"(temp|in|curr|fan)\d+_input", k) for k in inputs)
    assert all(isinstance(v, (int, float)) for v in inputs.values())
    assert "fan1_input" in inputs and "temp1_input" in inputs


def test_detect_grid_matches_json():
    text = run("--sim", "bus", "detect", "0").stdout.splitlines()
    _, doc = run_json("--sim", "bus", "detect", "0")
    grid = text[1:]  # after the notice
    assert grid[0].split() == [format(i, "x") for i in range(16)]
    shown = [int(cell, 16) for line in grid[1:] for cell in line[4:].split() if cell != "--"]
    assert shown == doc["data"]["present"] and shown


def test_eeprom_force_reads_two_byte_device_in_spd_range():
    p = run("--sim", "bus", "eeprom", "read", "--force", "0x57", "0", "16")
    assert p.returncode == 0
    assert p.stdout.splitlines()[-1].startswith("0000: ")


def test_watchdog_start_warns_to_feed():
    p = run("--sim", "wdt", "config", "seconds", "5", "--start")
    assert p.returncode == 0
    assert "feed it" in p.stderr
    assert re.search(r"State:\s+running", p.stdout)


def test_help_for_every_subcommand():
    for sub in (["info"], ["boards"], ["sensors"], ["sensors", "fan"], ["gpio"], ["gpio", "set"], ["wdt"],
                ["wdt", "config"], ["bus"], ["bus", "get"], ["bus", "eeprom", "read"], ["metrics"], ["serve"]):
        p = run(*sub, "--help")
        assert p.returncode == 0 and "Usage" in p.stdout, sub


def test_boards_lists_every_row_with_families():
    p, doc = run_json("boards")
    assert p.returncode == 0 and doc["schema"] == "vekctl/1" and doc["ok"] is True
    assert len(doc["data"]) == 220
    assert all(row["init"]["code"] == 0 for row in doc["data"])
    assert sum("gpio" in row["families"] for row in doc["data"]) > 0


def board_names():
    # VEKCTL_BOARD_STRIDE thins the list where each start is slow (the sanitizer build).
    stride = int(os.environ.get("VEKCTL_BOARD_STRIDE", "1"))
    return [row["name"] for row in json.loads(run("--json", "boards").stdout)["data"]][::stride]


@pytest.mark.parametrize("command", ["info", "sensors", "gpio", "wdt"])
def test_every_board_answers_every_view(command):
    for name in board_names():
        p = run("--board", name, command)
        assert p.returncode in (0, 1), (name, command, p.stderr)
        assert p.stdout.startswith("# simulated board " + name), (name, command)


METRIC_LINE = re.compile(r'^(vek_[a-z_]+)(\{[a-z_]+="[^"\n]*"(,[a-z_]+="[^"\n]*")*\})? -?[0-9.e+-]+$')


def test_metrics_text_format():
    p = run("--sim", "metrics")
    assert p.returncode == 0
    declared = set()
    for line in p.stdout.splitlines():
        if line.startswith("# TYPE "):
            declared.add(line.split()[2])
        elif not line.startswith("#"):
            m = METRIC_LINE.match(line)
            assert m, line
            assert m.group(1) in declared, "sample before its TYPE: " + line
    assert {"vek_info", "vek_temperature_celsius", "vek_voltage_volts", "vek_fan_speed_rpm",
            "vek_watchdog_running"} <= declared
    assert 'source="simulator"' in p.stdout


@pytest.mark.skipif(shutil.which("promtool") is None, reason="promtool not installed")
def test_promtool_accepts_metrics():
    p = run("--sim", "metrics")
    check = subprocess.run(["promtool", "check", "metrics"], input=p.stdout, capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape(port):
    import urllib.request
    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=5) as r:
        return r.headers.get("Content-Type"), r.read().decode()


@pytest.mark.parametrize("interval, scrapes, collections", [
    ("3600", 5, 1),   # a fast scraper gets the cached reading
    ("0.1", 3, 3),    # one reading per scrape once the interval has passed
])
def test_serve_reads_the_board_at_most_once_per_interval(interval, scrapes, collections):
    import time
    port = free_port()
    server = subprocess.Popen([VEKCTL, "--sim", "serve", "--listen", "127.0.0.1:%d" % port,
                               "--min-interval", interval], stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 10
        while True:
            try:
                scrape(port)
                break
            except OSError:
                assert time.monotonic() < deadline, "serve did not come up"
                time.sleep(0.05)
        for _ in range(scrapes - 1):
            time.sleep(0.15 if interval == "0.1" else 0)
            content_type, body = scrape(port)
        assert content_type.startswith("text/plain; version=0.0.4")
        assert re.search(r"^vek_collections_total %d$" % collections, body, re.M), body[-200:]
    finally:
        server.terminate()
        assert server.wait(timeout=10) == 0


@pytest.mark.parametrize("terminal", [True, False])
def test_progress_only_on_a_terminal(terminal):
    args = [VEKCTL, "--sim", "bus", "eeprom", "read", "--force", "0x57", "0", "1024"]
    if not terminal:
        p = subprocess.run(args, capture_output=True, text=True, timeout=60)
        assert p.returncode == 0 and p.stderr == ""
        return
    master, slave = os.openpty()
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=slave, timeout=60)
    os.close(slave)
    shown = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
    os.close(master)
    assert p.returncode == 0
    assert b"reading EEPROM 0x57" in shown and b"%)" in shown
