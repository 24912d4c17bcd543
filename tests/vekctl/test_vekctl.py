"""vekctl as a user runs it: exit statuses, what goes to stdout and stderr, the JSON envelope.

VEKCTL names the binary under test.
"""
import json
import pathlib
import os
import re
import shutil
import subprocess

import pytest

VEKCTL = os.environ.get("VEKCTL", "vekctl")


@pytest.fixture(autouse=True)
def state_dir(tmp_path, monkeypatch):
    """Every test records watchdog timeouts in its own directory, never in /run/vek."""
    d = tmp_path / "state"
    monkeypatch.setenv("VEK_STATE_DIR", str(d))
    monkeypatch.delenv("VEK_SIM_FAULT", raising=False)
    return d


def run(*args, **kw):
    p = subprocess.run([VEKCTL, *args], capture_output=True, text=True, timeout=60, **kw)
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
    ["--sim", "sensors", "fan", "14", "auto"],     # fans are fan1..fan13
    ["--sim", "sensors", "fan", "0", "auto"],      # fan0 does not exist; used to drive the fan shown as fan1
    ["--board", "", "info"],                       # used to fall through to this machine
    ["--sim", "gpio", "set", "1", "5=1", "5=0"],   # a pin given twice
    ["--sim", "gpio", "set", "1", "0x5=1", "5=1"], # the same pin, once in hex
    ["--sim", "bus", "set", "0", "0x50", "0", "1"],  # SPD without --force
    ["--sim", "bus", "eeprom", "write", "0x50", "0", "1"],
    ["--sim", "serve", "--listen", "127.0.0.1:99999"],  # used to abort (exit 134)
    ["--sim", "serve", "--listen", "127.0.0.1:0"],
    ["--sim", "serve", "--listen", "127.0.0.1:18446744073709551616"],
    ["--sim", "serve", "--listen", "::1:9842"],      # IPv6 needs brackets
    ["--sim", "serve", "--listen", "[::1]"],
    ["--sim", "serve", "--min-interval", "nan"],
    ["--sim", "serve", "--min-interval", "inf"],
    ["--sim", "serve", "--min-interval", "-1"],
    ["--sim", "wdt", "keepalive", "--interval", "nan"],
    ["--sim", "wdt", "keepalive", "--interval", "0"],
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


@pytest.mark.parametrize("args", [[], ["sensors"], ["metrics"]])
def test_without_sim_this_machine_or_nothing(args):
    # The CI machine is no supported board: vekctl must say so, not show simulated readings.
    p = run(*args)
    assert p.returncode == 3
    assert p.stdout == ""
    assert "not a supported board" in p.stderr and "--sim" in p.stderr


# --json prints its envelope whatever the exit status.
@pytest.mark.parametrize("args, status, command, code", [
    (["--json"], 3, "info", 10),
    (["--json", "sensors"], 3, "sensors", 10),
    (["--json", "--bogus"], 2, "info", None),
    (["--json", "--sim", "gpio", "set", "1", "5=2"], 2, "gpio set", None),
    (["--json", "--sim", "metrics"], 2, "metrics", None),
    (["--json", "--board", "NO SUCH BOARD", "wdt"], 2, "wdt", None),
])
def test_json_envelope_on_every_exit(args, status, command, code):
    p = run(*args)
    assert p.returncode == status, p.stderr
    doc = json.loads(p.stdout)
    assert list(doc) == ["schema", "command", "source", "ok", "errors", "data"]
    assert doc["ok"] is False and doc["command"] == command and doc["data"] is None
    (error,) = doc["errors"]
    assert error["code"] == code and error["what"]


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
    p, doc = run_json("--sim", "sensors", "fan", "5", "duty", "50")  # the default board has fan1, fan2, fan4
    assert p.returncode == 1
    assert doc["ok"] is False
    assert doc["errors"] == [{"code": 10, "name": "UNSUPPORTED", "what": "fan5 duty"}]
    assert doc["data"]["result"] == {"code": 10, "name": "UNSUPPORTED"}
    assert "10 UNSUPPORTED" in p.stderr


def test_simulated_output_says_so():
    p = run("--sim")
    assert p.returncode == 0
    assert p.stdout.splitlines()[0].startswith("# simulated board ")


def test_sensors_json_is_shaped_like_sensors_j():
    p, doc = run_json("--sim", "sensors")
    (chip, features), = doc["data"].items()
    assert chip == "ec-KVB-3410-LB" and features["Adapter"].startswith("Simulated")
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


def test_watchdog_start_warns_to_feed(state_dir):
    p = run("--sim", "wdt", "config", "seconds", "5", "--start")
    assert p.returncode == 0
    assert "feed it" in p.stderr
    assert re.search(r"State:\s+running", p.stdout)


def test_help_for_every_subcommand():
    for sub in (["info"], ["boards"], ["sensors"], ["sensors", "fan"], ["gpio"], ["gpio", "set"], ["wdt"],
                ["wdt", "config"], ["wdt", "keepalive"], ["bus"], ["bus", "get"], ["bus", "eeprom", "read"], ["metrics"], ["serve"]):
        p = run(*sub, "--help")
        assert p.returncode == 0 and "Usage" in p.stdout, sub


def test_boards_lists_every_row_with_families():
    p, doc = run_json("boards")
    assert p.returncode == 0 and doc["schema"] == "vekctl/1" and doc["ok"] is True
    assert len(doc["data"]) == 220
    assert all(row["init"]["code"] == 0 for row in doc["data"])
    assert sum("gpio" in row["families"] for row in doc["data"]) > 0
    assert all(row["main_chip"]["kind"] in (1, 2, 3, 4, 5, 6, 11) for row in doc["data"])
    assert sum(row["second_chip"] is not None for row in doc["data"]) > 0


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
    assert {"vek_info", "vek_build_info", "vek_temp_celsius", "vek_in_volts", "vek_fan_rpm", "vek_read_errors_total",
            "vek_scrape_success", "vek_scrape_duration_seconds"} <= declared
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


def drain(master):
    """Everything the terminal's other end was sent, once it is closed; closes master."""
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
    return shown


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
    shown = drain(master)
    assert p.returncode == 0
    assert b"reading EEPROM 0x57" in shown and b"%)" in shown


# ---- the watchdog across runs ----

def test_trigger_applies_the_recorded_timeout(state_dir):
    # Each run is a new process: the feed used to re-arm with the library's default.
    assert run("--sim", "wdt", "config", "seconds", "120").returncode == 0
    assert oct(state_dir.stat().st_mode & 0o777) == "0o700"
    (record,) = state_dir.iterdir()
    assert oct(record.stat().st_mode & 0o777) == "0o600"
    p, doc = run_json("--sim", "wdt", "trigger")
    assert p.returncode == 0, p.stderr
    assert doc["data"]["timeout"] == {"count": 120, "unit": "seconds", "seconds": 120}
    assert doc["data"]["state"] == "running"
    assert re.search(r"^Timeout:\s+120 seconds$", run("--sim", "wdt", "trigger").stdout, re.M)


def test_wdt_shows_the_recorded_timeout_and_what_the_chip_cannot_tell(state_dir):
    run("--sim", "wdt", "config", "minutes", "3")
    p, doc = run_json("--sim", "wdt")
    assert doc["data"]["timeout"]["seconds"] == 180
    assert doc["data"]["time_left"] is None and doc["data"]["state"] is None  # a new process cannot know
    text = run("--sim", "wdt").stdout
    assert "not reported by the hardware" in text and re.search(r"^Timeout:\s+3 minutes$", text, re.M)


def test_trigger_without_record_never_arms_count_0(state_dir):
    # With nothing recorded the library re-arms with the chip's own timeout, or
    # answers 14 where the chip cannot say it; vekctl then refuses in one line.
    p, doc = run_json("--sim", "wdt", "trigger")
    if p.returncode == 0:
        assert doc["data"]["timeout"] and doc["data"]["timeout"]["count"] > 0, doc
    else:
        assert p.returncode == 1
        assert [e["code"] for e in doc["errors"]] == [14]
        assert len(p.stderr.strip().splitlines()) == 1 and "no watchdog timeout recorded" in p.stderr


@pytest.mark.parametrize("text", ["unit=seconds\ncount=0\n", "unit=seconds\ncount=256\n", "unit=hours\ncount=5\n",
                                  "count=5\n", "garbage"])
def test_a_damaged_record_is_no_record(state_dir, text):
    run("--sim", "wdt", "config", "seconds", "9")
    (record,) = state_dir.iterdir()
    record.write_text(text)
    _, doc = run_json("--sim", "wdt")
    assert doc["data"]["timeout"] is None


def test_config_fails_when_it_cannot_record(monkeypatch):
    monkeypatch.setenv("VEK_STATE_DIR", "/dev/null/vek")
    p, doc = run_json("--sim", "wdt", "config", "seconds", "30")
    assert p.returncode == 1
    assert doc["errors"][0]["what"] == "watchdog record" and "/dev/null/vek" in p.stderr


def keepalive(*extra, run_for=1.0):
    import signal
    import time
    server = subprocess.Popen([VEKCTL, "--json", "--sim", "wdt", "keepalive", *extra], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    # The banner comes after the first feed, once the stop signals are held for
    # the loop: a signal sent before it would end the process by default action.
    banner = server.stderr.readline()
    time.sleep(run_for)
    server.send_signal(signal.SIGTERM)
    out, err = server.communicate(timeout=10)
    return server.returncode, json.loads(out), banner + err


@pytest.mark.parametrize("extra, disarmed", [([], False), (["--disarm-on-exit"], True)])
def test_keepalive_feeds_until_sigterm(state_dir, extra, disarmed):
    run("--sim", "wdt", "config", "seconds", "5")
    status, doc, err = keepalive("--interval", "0.1", *extra)
    assert status == 0, err
    # The first feed and at least one from the loop; how many more depends on the machine's load.
    assert doc["data"]["feeds"] >= 2 and doc["data"]["disarmed"] is disarmed
    assert doc["data"]["timeout"]["seconds"] == 5


def test_keepalive_interval_must_be_shorter_than_the_timeout(state_dir):
    run("--sim", "wdt", "config", "seconds", "5")
    p = run("--sim", "wdt", "keepalive", "--interval", "5")
    assert p.returncode == 2 and "shorter" in p.stderr


@pytest.mark.parametrize("change", [["gpio", "set", "1", "5=1"], ["wdt", "config", "seconds", "5"],
                                    ["sensors", "fan", "1", "duty", "40"]])
def test_changes_on_a_simulated_board_say_they_last_one_run(change):
    p = run("--sim", *change)
    assert p.returncode == 0, p.stderr
    assert "lasts this one run" in p.stderr


# ---- one name per thing ----

@pytest.mark.parametrize("fan, status", [("2", 0), ("0x2", 0), ("3", 1)])
def test_fan_numbers_are_the_ones_sensors_shows(fan, status):
    # The default board shows fan1, fan2 and fan4; fan1 and fan2 take a duty, fan3 is absent.
    shown = [line.split(":")[0] for line in run("--sim", "sensors").stdout.splitlines() if line.startswith("fan")]
    assert shown == ["fan1", "fan2", "fan4"]
    p, doc = run_json("--sim", "sensors", "fan", fan, "duty", "50")
    assert p.returncode == status, p.stderr
    assert doc["data"]["fan"] == "fan%d" % int(fan, 0)
    if status == 0:
        assert run("--sim", "sensors", "fan", fan, "duty", "50").stdout.splitlines()[-1] == "fan2: 50 %"


def sensor_names(*board):
    """{key: label} from the text, the JSON and the metrics of one board."""
    text = run(*board, "sensors").stdout.splitlines()[3:]
    shown = [line.split(":")[0] for line in text]
    _, doc = run_json(*board, "sensors")
    (features,) = doc["data"].values()
    from_json = {k[:-len("_input")]: label for label, sub in features.items() if label != "Adapter" for k in sub}
    metrics = run(*board, "metrics").stdout
    keys = re.findall(r'^vek_(?:temp_celsius|in_volts|curr_amperes|fan_rpm)\{chip="[^"]+",sensor="(\w+)"\}', metrics, re.M)
    labels = dict(re.findall(r'^vek_sensor_label\{chip="[^"]+",sensor="(\w+)",label="([^"]+)"\}', metrics, re.M))
    from_metrics = {k: labels.get(k, k) for k in keys}
    return shown, from_json, from_metrics


@pytest.mark.parametrize("board", [["--sim"], ["--board", "FMQ-333"], ["--board", "HLS-102"]])
def test_one_name_per_sensor_in_text_json_and_metrics(board):
    shown, from_json, from_metrics = sensor_names(*board)
    assert from_json == from_metrics
    assert shown == list(from_json.values())
    assert all(re.fullmatch(r"(temp|in|curr|fan)\d+", k) for k in from_json)
    assert not [label for label in shown if re.fullmatch(r"(CPU|Sensor) \d", label)]  # one processor, read two ways


@pytest.mark.parametrize("board", ["HLS-102", "FMQ-333"])
def test_a_silent_chip_gives_failed_reads_not_values(monkeypatch, board):
    # The monitor registers float to all ones: 255 or 510 degrees.
    monkeypatch.setenv("VEK_SIM_FAULT", "superio-silent")
    p, doc = run_json("--board", board, "sensors")
    assert p.returncode == 1
    (features,) = doc["data"].values()
    temps = {k: v for sub in features.values() if isinstance(sub, dict) for k, v in sub.items() if k.startswith("temp")}
    assert None in temps.values()
    assert all(v is None or -55 <= v <= 150 for v in temps.values())
    assert 8 in [e["code"] for e in doc["errors"]]
    metrics = run("--board", board, "metrics").stdout
    assert all(-55 <= float(v) <= 150 for v in re.findall(r"^vek_temp_celsius\{.*\} (\S+)$", metrics, re.M))
    assert int(re.search(r"^vek_read_errors_total (\d+)$", metrics, re.M).group(1)) > 0
    assert re.search(r"^vek_scrape_success 0$", metrics, re.M)


def test_a_rail_above_twice_its_nominal_is_a_failed_read(monkeypatch):
    # Temperatures come from the EC, voltages from the silent Super I/O: only
    # the rails read at full scale (in3 10.04 V, in4 24.48 V) give it away.
    monkeypatch.setenv("VEK_SIM_FAULT", "superio-silent")
    p, doc = run_json("--board", "VXA-17", "sensors")
    assert p.returncode == 1
    (features,) = doc["data"].values()
    volts = {k: v for sub in features.values() if isinstance(sub, dict) for k, v in sub.items() if k.startswith("in")}
    assert volts["in3_input"] is None and volts["in4_input"] is None
    assert all(isinstance(v, float) for v in features["CPU"].values())  # the EC still answers
    metrics = run("--board", "VXA-17", "metrics").stdout
    shown = re.findall(r'^vek_in_volts\{.*sensor="(in\d+)"\}', metrics, re.M)
    assert "in3" not in shown and "in4" not in shown and "in0" in shown
    assert int(re.search(r"^vek_read_errors_total (\d+)$", metrics, re.M).group(1)) >= 2


def test_unknown_sim_fault_is_a_usage_error(monkeypatch):
    monkeypatch.setenv("VEK_SIM_FAULT", "gremlins")
    assert run("--sim", "sensors").returncode == 2


# ---- info, version, numbers ----

def test_info_names_the_chips_and_owners():
    p, doc = run_json("--board", "FMQ-333", "info")
    data = doc["data"]
    assert data["main_chip"]["kind"] == 5 and "subtype" in data["main_chip"]
    assert "second_chip" in data and data["chipset"]["id"] >= 0
    assert set(data["owners"]) == {"gpio", "watchdog", "cpu_temperature", "led", "fans", "voltages", "temperatures", "i2c"}
    assert "Main chip:" in run("--board", "FMQ-333", "info").stdout


def test_version():
    p = run("--version")
    assert p.returncode == 0 and re.fullmatch(r"vekctl \d+\.\d+\.\d+\n", p.stdout)


@pytest.mark.parametrize("args", [
    ["gpio", "get", "0x1", "0x2"], ["gpio", "set", "0x1", "0x5=0x1"], ["gpio", "dir", "1", "0x5", "out"],
    ["wdt", "config", "seconds", "0x10"], ["wdt", "config", "0x1", "2"], ["sensors", "fan", "0x1", "duty", "0x32"], ["bus", "get", "0x0", "0x57", "0x0"],
])
def test_hex_is_accepted_in_every_numeric_position(args):
    p = run("--sim", *args)
    assert p.returncode == 0, (args, p.stderr)


# ---- output that cannot be written ----

@pytest.mark.parametrize("args", [["--sim", "metrics"], ["--sim", "sensors"], ["--json", "--sim", "info"],
                                  ["--sim", "bus", "dump", "0", "0x57"]])
def test_write_errors_fail(args):
    with open("/dev/full", "w") as full:
        p = subprocess.run([VEKCTL, *args], stdout=full, stderr=subprocess.PIPE, text=True, timeout=60)
    assert p.returncode == 1 and "write error" in p.stderr


def test_closed_stdout_is_a_failure_not_a_signal():
    r, w = os.pipe()
    os.close(r)
    p = subprocess.run([VEKCTL, "--sim", "metrics"], stdout=w, stderr=subprocess.PIPE, text=True, timeout=60)
    os.close(w)
    assert p.returncode == 1 and "write error" in p.stderr


# ---- bus safety ----

def test_spd_writes_need_force():
    p = run("--sim", "bus", "set", "0", "0x52", "0", "1")
    assert p.returncode == 2 and "SPD" in p.stderr
    assert run("--sim", "bus", "set", "-y", "--force", "0", "0x52", "0", "1").returncode in (0, 1)


def on_a_terminal(args, answer):
    """Runs vekctl with a terminal on stdin; returns (status, what it printed there and on stderr)."""
    master, slave = os.openpty()
    p = subprocess.Popen([VEKCTL, *args], stdin=slave, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    os.write(master, answer)
    status = p.wait(timeout=30)
    p.stdout.close()
    shown = drain(master)
    return status, shown.decode(errors="replace")


@pytest.mark.parametrize("args, answer, status, asked", [
    (["bus", "set", "2", "0x20", "1", "5"], b"n\n", 2, True),
    (["bus", "set", "-y", "2", "0x20", "1", "5"], b"", None, False),
    (["bus", "eeprom", "write", "--force", "0x57", "0", "1"], b"n\n", 2, True),
    (["bus", "get", "2", "0x20", "1"], b"", None, False),   # reads never ask
])
def test_writes_ask_on_a_terminal(args, answer, status, asked):
    got, shown = on_a_terminal(["--sim", *args], answer)
    assert ("Continue? [y/N]" in shown) is asked, shown
    if status is not None:
        assert got == status and "nothing was written" in shown
    else:
        assert got in (0, 1)


# ---- the metrics server ----

class Server:
    def __init__(self, *args):
        import time
        self.port = free_port()
        listen = [a.replace("PORT", str(self.port)) for a in args] or ["127.0.0.1:%d" % self.port]
        self.p = subprocess.Popen([VEKCTL, "--sim", "serve", "--listen", *listen], stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 10
        while True:
            try:
                self.get("/metrics")
                return
            except OSError:
                assert self.p.poll() is None, self.p.stderr.read()
                assert time.monotonic() < deadline, "serve did not come up"
                time.sleep(0.05)

    def get(self, path, host="127.0.0.1", timeout=5):
        import urllib.request
        with urllib.request.urlopen("http://%s:%d%s" % (host, self.port, path), timeout=timeout) as r:
            return r.headers.get("Content-Type"), r.read().decode()

    def stop(self):
        self.p.terminate()
        assert self.p.wait(timeout=10) == 0


def test_idle_connections_do_not_stall_a_scrape():
    import socket
    import time
    server = Server()
    idle = []
    try:
        for _ in range(8):  # used to be two workers, each held 30 s by a silent client
            s = socket.create_connection(("127.0.0.1", server.port))
            idle.append(s)
        time.sleep(0.2)
        start = time.monotonic()
        _, body = server.get("/metrics", timeout=1)
        assert time.monotonic() - start < 1 and "vek_temp_celsius" in body
    finally:
        for s in idle:
            s.close()
        server.stop()


@pytest.mark.parametrize("listen, host", [(":PORT", "127.0.0.1"), ("localhost:PORT", "127.0.0.1"),
                                          ("[::1]:PORT", "[::1]")])
def test_listen_forms(listen, host):
    if host == "[::1]":
        import socket
        try:
            socket.socket(socket.AF_INET6).bind(("::1", 0))
        except OSError:
            pytest.skip("no IPv6 loopback here")
        probe = subprocess.Popen([VEKCTL, "--sim", "serve", "--listen", listen.replace("PORT", str(free_port()))],
                                 stderr=subprocess.PIPE, text=True)
        try:
            status = probe.wait(timeout=1)
        except subprocess.TimeoutExpired:
            probe.terminate()
            probe.wait(timeout=10)
        else:  # said plainly, not a crash
            assert status == 1 and "built without IPv6" in probe.stderr.read()
            return
    server = Server(listen)
    try:
        content_type, body = server.get("/metrics", host=host)
        assert content_type.startswith("text/plain; version=0.0.4") and "vek_build_info" in body
    finally:
        server.stop()


def test_landing_page_links_the_metrics():
    server = Server()
    try:
        content_type, body = server.get("/")
        assert content_type.startswith("text/html") and 'href="/metrics"' in body
        import urllib.error
        with pytest.raises(urllib.error.HTTPError) as e:
            server.get("/nothing")
        assert e.value.code == 404
    finally:
        server.stop()


# ---- completion ----

COMPLETION = pathlib.Path(__file__).resolve().parents[2] / "packaging" / "vekctl.bash"


def complete(*words):
    """What bash completion offers after `vekctl WORDS...` (the last word is being typed)."""
    script = 'source "$1"; shift; COMP_WORDS=(vekctl "$@"); COMP_CWORD=$#; _vekctl; printf "%s\\n" "${COMPREPLY[@]}"'
    env = dict(os.environ, PATH=os.path.dirname(os.path.abspath(VEKCTL)) + os.pathsep + os.environ["PATH"])
    p = subprocess.run(["bash", "-c", script, "bash", str(COMPLETION), *words], capture_output=True, text=True,
                       env=env, timeout=60)
    return [w for w in p.stdout.splitlines() if w]


@pytest.mark.parametrize("words, expected", [
    (["--board", "NRB-220"], {"NRB-220", r"NRB-220\ V2"}),   # names with spaces come quoted
    (["sensors", "fan", "1", ""], {"duty", "auto"}),
    (["gpio", "dir", "1", "5", ""], {"in", "out"}),
    (["bus", "eeprom", ""], {"read", "write"}),
    (["wdt", ""], {"config", "trigger", "keepalive", "disable", "--help"}),
    (["wdt", "config", ""], {"seconds", "minutes"}),
])
def test_completion(words, expected):
    assert set(complete(*words)) == expected


def test_man_page_documents_environment_files_and_fan_numbers():
    page = (pathlib.Path(__file__).resolve().parents[2] / "packaging" / "vekctl.1").read_text()
    sections = re.findall(r"^\.SH (.+)$", page, re.M)
    assert {"ENVIRONMENT", "FILES", "SIMULATED BOARDS", "IMPOSSIBLE READINGS"} <= set(sections)
    for needle in ("VEK_STATE_DIR", "VEK_I2C_MAP", "/etc/vek/i2c.conf", "MutexForVEK", "fan1", "keepalive"):
        assert needle in page.replace("\\", ""), needle


# ---- capability words ----

# Family shown by vekctl -> the capability word whose zero makes the library refuse it.
FAMILY_WORD = {
    "gpio": "gpio", "watchdog": "wdt", "cpu-temperature": "cpu_temperature", "temperature": "temperature",
    "voltage": "voltage", "current": "current", "fan": "fan", "smbus": "smbus", "backlight": "backlight",
    "led": "led", "button": "button", "ec-smart-fan": "ec_smartfan",
}
CAPABILITY_NAMES = ["api", "gpio", "wdt", "speaker", "fan", "voltage", "current", "temperature", "cpu_temperature",
                    "smbus", "smart_battery", "backlight", "ec_smartfan", "led", "platform_version_wmi", "button"]


def test_capability_words_agree_with_what_the_exports_serve():
    """boards --json carries each board's words; info shows the same words for the board."""
    p, doc = run_json("boards")
    assert p.returncode == 0
    rows = {}
    for row in doc["data"]:
        caps = row["capabilities"]
        assert list(caps) == CAPABILITY_NAMES, row["name"]
        assert caps["api"] == 1 and caps["speaker"] in (0, 1, 2), row["name"]
        for family, word in FAMILY_WORD.items():
            if caps[word] == 0:
                assert family not in row["families"], (row["name"], family)
        assert all(w <= 3 for n, w in caps.items() if n != "speaker"), row["name"]
        # Bit 1 is the second chip's; a board without one never shows it.
        if any(w & 2 for n, w in caps.items() if n != "speaker"):
            assert row["second_chip"] is not None, row["name"]
        rows[row["name"]] = row
    no_watchdog = next(n for n, r in rows.items() if r["capabilities"]["wdt"] == 0)
    second_chip = next(n for n, r in rows.items()
                       if any(w & 2 for k, w in r["capabilities"].items() if k != "speaker"))
    for name in ("FMQ-333", no_watchdog, second_chip):
        p, info = run_json("--board", name, "info")
        assert p.returncode == 0, name
        assert info["data"]["capabilities"] == rows[name]["capabilities"], name
        text = run("--board", name, "info").stdout
        line = next(l for l in text.splitlines() if l.startswith("Capability words:"))
        assert "wdt=%d" % rows[name]["capabilities"]["wdt"] in line.split(), name
