"""The end-to-end harness: TallyDesk under Wine on an Xvfb display of its own, driven by
tallyctl.exe (tests/e2e/driver) and xdotool.

A scenario is a script that ends with ``tallye2e.main(run)``; ``run(session)`` does the work and
raises (``assert`` or ``ScenarioFailure``) when something is wrong. Each scenario gets a fresh
temporary folder, a freshly laid sample network, its own Xvfb display and a clean Wine prefix
state; on every way out the harness takes a screenshot (when none was kept yet), stops what it
started (by process id, and the prefix's wineserver) and removes the temporary folder.

Environment (set by tests/e2e/CMakeLists.txt; scripts/test.sh adds the prefix):
  TALLY_BUILD_DIR        the Windows build folder (tallydesk.exe, tests/e2e/driver/tallyctl.exe)
  TALLY_SOURCE_DIR       the repository (tools/samplenet/lay.sh, scripts/wine-prefix.sh)
  TALLY_E2E_WINEPREFIX   the Wine prefix to use (default: <build>/e2e-wineprefix); scenarios run
                         one at a time in it
  TALLY_E2E_SCREENSHOTS  where screenshots go (default: <build>/e2e-screenshots)
  TALLY_E2E_KEEP=1       keep the temporary folder (its path is printed)

Exit codes: 0 passed, 1 failed, 77 skipped (what the scenario needs has not been built).
"""

import configparser
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77


class ScenarioFailure(Exception):
    pass


class ScenarioSkipped(Exception):
    pass


class DriverError(Exception):
    pass


def log(message):
    print(message, flush=True)


def wait_for(what, probe, timeout=10.0, interval=0.1):
    """Calls probe until it gives a true value (returned) or the time is up (ScenarioFailure).
    Exceptions of the probe count as "not yet"; the last one is named in the failure."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
            last_error = None
        except (DriverError, OSError) as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise ScenarioFailure(f"timed out after {timeout:g}s waiting for {what}{detail}")
        time.sleep(interval)


def c_div(a, b):
    """Integer division as C does it (towards zero), for the program's layout arithmetic."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def centred_on_client(main_rect, main_client, dialog_rect):
    """Where the program's CentreDialog puts a dialog: over the middle of the main window's
    client area, the client area being estimated from the frame width."""
    left, top, right, bottom = main_rect
    cw, ch = main_client[2], main_client[3]
    border = c_div((right - left) - cw, 2)
    client_left, client_right = left + border, right - border
    client_bottom = bottom - border
    client_top = client_bottom - ch
    dw = dialog_rect[2] - dialog_rect[0]
    dh = dialog_rect[3] - dialog_rect[1]
    return (client_left + c_div((client_right - client_left) - dw, 2),
            client_top + c_div((client_bottom - client_top) - dh, 2))


def expect_equal(what, actual, expected):
    if actual != expected:
        raise ScenarioFailure(f"{what}: expected {expected!r}, got {actual!r}")


# ------------------------------------------------------------------------------------------------
# Paths and the Wine prefix


def windows_path(path):
    """A Linux path as a Windows program under Wine sees it (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Layout:
    def __init__(self):
        here = os.path.dirname(os.path.abspath(__file__))
        self.source = os.environ.get("TALLY_SOURCE_DIR") or os.path.abspath(
            os.path.join(here, "..", "..", ".."))
        build = os.environ.get("TALLY_BUILD_DIR")
        if not build:
            raise ScenarioSkipped("TALLY_BUILD_DIR is not set (run through ctest or test.sh)")
        self.build = os.path.abspath(build)
        self.app = os.path.join(self.build, "tallydesk.exe")
        self.driver = os.path.join(self.build, "tests", "e2e", "driver", "tallyctl.exe")
        self.target = os.path.join(self.build, "tests", "e2e", "driver", "e2e_target.exe")
        self.prefix = os.environ.get("TALLY_E2E_WINEPREFIX") or os.path.join(
            self.build, "e2e-wineprefix")
        self.screenshots = os.environ.get("TALLY_E2E_SCREENSHOTS") or os.path.join(
            self.build, "e2e-screenshots")
        self.lay = os.path.join(self.source, "tools", "samplenet", "lay.sh")


def wine_environment(prefix, display):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "DISPLAY": display,
    })
    return env


class Prefix:
    """The run's Wine prefix: booted once (under a lock, by scripts/wine-prefix.sh), then reset
    for each scenario: no wineserver left running, no tallydsk.ini, fresh UNC links."""

    def __init__(self, layout):
        self.path = layout.prefix
        subprocess.run(["bash", os.path.join(layout.source, "scripts", "wine-prefix.sh"),
                        self.path], check=True)

    @property
    def windows_dir(self):
        return os.path.join(self.path, "drive_c", "windows")

    @property
    def local_ini(self):
        return os.path.join(self.windows_dir, "tallydsk.ini")

    def stop_wineserver(self):
        env = dict(os.environ, WINEPREFIX=self.path)
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)

    def reset(self):
        self.stop_wineserver()
        if os.path.exists(self.local_ini):
            os.remove(self.local_ini)
        # Records an earlier scenario left waiting for the log belong to that scenario's network.
        for name in os.listdir(self.windows_dir):
            if re.fullmatch(r"tallydsk(\.\d+)?\.out", name, re.IGNORECASE):
                os.remove(os.path.join(self.windows_dir, name))

    def link_servers(self, volumes):
        """dosdevices/unc/<SERVER> -> the folder holding that server's SYS, so that
        \\\\SERVER\\SYS\\... reaches the network's files."""
        unc = os.path.join(self.path, "dosdevices", "unc")
        if os.path.isdir(unc):
            shutil.rmtree(unc)
        os.makedirs(unc)
        for server, folder in volumes.items():
            os.symlink(folder, os.path.join(unc, server))


# ------------------------------------------------------------------------------------------------
# The sample network


def read_ini(path):
    parser = configparser.ConfigParser(interpolation=None, strict=False,
                                       inline_comment_prefixes=(";",),
                                       comment_prefixes=(";", "#"))
    parser.optionxform = str  # keys keep their case
    with open(path, encoding="latin-1") as f:
        parser.read_string(f.read().replace("\r", ""), source=path)
    return parser


def ini_path_to_linux(value, relative_to):
    """A path from tallynet.ini (Windows or Linux style, absolute or relative to the ini)."""
    value = value.strip()
    if re.match(r"^[Zz]:[\\/]", value):
        value = value[2:]
    value = value.replace("\\", "/")
    if not value.startswith("/"):
        value = os.path.join(relative_to, value)
    return os.path.normpath(value)


class Network:
    def __init__(self, layout, folder, lay=True):
        """The sample network laid fresh in FOLDER, or (lay=False) a network folder that is
        there already, such as one gendir wrote."""
        if lay and not os.path.isfile(layout.lay):
            raise ScenarioSkipped("tools/samplenet/lay.sh is not there yet")
        self.folder = folder
        if lay:
            subprocess.run(["bash", layout.lay, folder], check=True, stdout=subprocess.DEVNULL)
        self.ini = os.path.join(folder, "tallynet.ini")
        self.ldap = None
        if os.environ.get("TALLY_E2E_LDAP") == "1":
            self.ldap = LdapDirectory(folder)
            log(f"the directory is on {self.ldap.url}, [Root] at {self.ldap.base}")
            self.edit_ini("Store", "Path", None)
            for key, value in self.ldap.store_keys():
                self.edit_ini("Store", key, value)

    def config(self):
        return read_ini(self.ini)

    def volumes(self):
        cfg = self.config()
        if not cfg.has_section("Volumes"):
            raise ScenarioFailure(f"{self.ini} has no [Volumes] section")
        return {name: ini_path_to_linux(value, self.folder)
                for name, value in cfg.items("Volumes")}

    def server_file(self, server, *parts):
        return os.path.join(self.volumes()[server], *parts)

    def edit_ini(self, section, key, value):
        """Sets (or, with value None, removes) one key of tallynet.ini, keeping every other
        line as it is."""
        with open(self.ini, encoding="latin-1") as f:
            lines = f.read().splitlines()
        out, current, done = [], None, False
        for line in lines:
            stripped = line.strip()
            if stripped.startswith("[") and stripped.endswith("]"):
                if current == section and not done and value is not None:
                    out.append(f"{key}={value}")
                    done = True
                current = stripped[1:-1]
            elif current == section and re.match(rf"^\s*{re.escape(key)}\s*=", line,
                                                 re.IGNORECASE):
                if value is not None and not done:
                    out.append(f"{key}={value}")
                done = True
                continue
            out.append(line)
        if not done and value is not None:
            if current != section:
                out.append(f"[{section}]")
            out.append(f"{key}={value}")
        with open(self.ini, "w", encoding="latin-1") as f:
            f.write("\n".join(out) + "\n")


class LdapDirectory:
    """The sample network's tree on the scratch slapd that scripts/lib/scratch_slapd.py started
    (TALLY_E2E_LDAP=1 under it): loaded below an entry of its own, which tallynet.ini names as
    its Base. The scenarios read the values back with ldapsearch, and count the balance changes
    in the server's log (--stats) as they count them in the embedded store's journal."""

    def __init__(self, folder):
        env = os.environ
        if not env.get("TALLY_LDAP_URL"):
            raise ScenarioFailure("TALLY_E2E_LDAP=1 needs the scratch slapd (TALLY_LDAP_URL)")
        self.url = env["TALLY_LDAP_URL"]
        self.admin = env["TALLY_LDAP_ADMIN_DN"]
        self.operator = env["TALLY_LDAP_OPERATOR_DN"]
        self.password_file = env["TALLY_LDAP_PASSWORD_FILE"]
        self.log = env.get("TALLY_LDAP_LOG", "")
        self.base = f"ou={os.path.basename(os.path.dirname(folder))},{env['TALLY_LDAP_SUFFIX']}"
        # The tools take the whole file as the password: a copy without the line end, mode 600.
        self.tool_password = os.path.join(folder, "..", "ldap-password")
        with open(self.password_file) as f:
            password = f.read().splitlines()[0]
        descriptor = os.open(self.tool_password, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write(password)
        with open(os.path.join(folder, "directory", "directory.ldif"), encoding="utf-8") as f:
            tree = f.read()
        lines = [f"dn: {self.base}", "objectClass: organizationalUnit",
                 f"ou: {self.base[3:self.base.index(',')]}", ""]
        for line in tree.replace("\r\n", "\n").split("\n"):
            if line.lower().startswith(("dn: ", "member: ")):
                line = f"{line},{self.base}"
            lines.append(line)
        self.ldapmodify(["-a"], "\n".join(lines) + "\n")
        # The network's ADMIN logs in as itself and is one of the server's operators, so the
        # records name ADMIN.CORP because that is who the server knows is logged in.
        self.operator = f"cn=ADMIN,o=CORP,{self.base}"
        self.ldapmodify([], f"dn: {self.operator}\nchangetype: modify\n"
                            "add: objectClass\nobjectClass: simpleSecurityObject\n-\n"
                            f"add: userPassword\nuserPassword: {password}\n-\n\n"
                            f"dn: cn=operators,{env['TALLY_LDAP_SUFFIX']}\nchangetype: modify\n"
                            f"add: member\nmember: {self.operator}\n-\n")
        self.names = {}
        with open(os.path.join(folder, "directory", "schema.ldif"), encoding="utf-8") as f:
            for ldap_name, own in re.findall(r"NAME '([^']+)'.*?X-NDS-NAME '([^']+)'", f.read()):
                self.names[own.lower()] = ldap_name

    def store_keys(self):
        return [("Kind", "ldap"), ("Url", self.url), ("Base", self.base),
                ("BindDN", self.operator), ("PasswordFile", windows_path(self.password_file))]

    def ldapmodify(self, flags, ldif):
        result = subprocess.run(["ldapmodify", "-x", "-H", self.url, "-D", self.admin, "-y",
                                 self.tool_password] + flags, input=ldif, capture_output=True,
                                text=True, timeout=60)
        if result.returncode != 0:
            raise ScenarioFailure(f"ldapmodify failed: {result.stderr.strip()}")

    def values(self, name, attribute):
        """The values of ATTRIBUTE (the directory's name) of the entry NAME (a typeless complete
        name), or None when it holds none."""
        ldap_name = self.names.get(attribute.lower(), attribute)
        parts = name.split(".")
        leaf = parts[0]
        result = subprocess.run(
            ["ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-x", "-H", self.url, "-D", self.admin,
             "-y", self.tool_password, "-b", self.base,
             f"(|(cn={leaf})(ou={leaf})(o={leaf}))", ldap_name],
            capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise ScenarioFailure(f"ldapsearch for {name} failed: {result.stderr.strip()}")
        wanted = [p.lower() for p in parts]
        for record in result.stdout.strip().split("\n\n"):
            lines = record.splitlines()
            if not lines or not lines[0].startswith("dn: "):
                continue
            rdns = lines[0][4:].split(",")[:len(parts)]
            if [r.split("=", 1)[1].lower() for r in rdns] != wanted:
                continue
            found = [line.split(": ", 1)[1] for line in lines[1:]
                     if line.lower().startswith(ldap_name.lower() + ": ")]
            return found or None
        raise ScenarioFailure(f"{name} is not on the server")

    def changes(self):
        """The server's log of attribute changes, as the journal would name them."""
        if not self.log:
            raise ScenarioFailure("the scratch slapd runs without --stats: no log of changes")
        with open(self.log, "rb") as f:
            text = f.read().decode("latin-1")
        return "".join("increment: " + line.split("MOD attr=", 1)[1].strip() + "\n"
                       for line in text.splitlines() if " MOD attr=" in line).encode("latin-1")


# ------------------------------------------------------------------------------------------------
# The display


class Display:
    """An Xvfb server on a free display number (Xvfb picks it and reports it on a pipe)."""

    def __init__(self, width=1024, height=768):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise ScenarioFailure("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        self.width, self.height = width, height

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-display", self.name, "-window", "root", path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        log(f"screenshot: {path}")

    def keys(self, *keys):
        """Real key presses (xdotool), to whatever window has the keyboard focus."""
        env = dict(os.environ, DISPLAY=self.name)
        subprocess.run(["xdotool", "key", "--delay", "80", *keys], check=True, env=env)

    def type_text(self, text):
        """Real typing (xdotool), character by character, into the window with the focus."""
        env = dict(os.environ, DISPLAY=self.name)
        subprocess.run(["xdotool", "type", "--delay", "60", "--", text], check=True, env=env)

    def click(self, x, y):
        """A real mouse click (xdotool) at the screen position x, y."""
        env = dict(os.environ, DISPLAY=self.name)
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True,
                       env=env)

    def stop(self):
        stop_process(self.process)


def stop_process(process, grace=5.0):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


# ------------------------------------------------------------------------------------------------
# The driver


def quote_word(word):
    word = str(word)
    if word and not any(c in word for c in ' \t"\\') :
        return word
    return '"' + word.replace("\\", "\\\\").replace('"', '\\"') + '"'


def unescape_value(text):
    out, i = [], 0
    table = {"\\": "\\", "n": "\n", "r": "\r", "t": "\t"}
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text) and text[i + 1] in table:
            out.append(table[text[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


class Driver:
    """tallyctl.exe --serve, kept running for the whole scenario."""

    def __init__(self, layout, env):
        if not os.path.isfile(layout.driver):
            raise ScenarioSkipped(f"{layout.driver} has not been built")
        self.process = subprocess.Popen(["wine", layout.driver, "--serve"], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, encoding="latin-1", bufsize=1)

    def call(self, *words):
        line = " ".join(quote_word(w) for w in words)
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        head = self.process.stdout.readline()
        if not head:
            raise ScenarioFailure(f"the driver ended while running: {line}")
        head = head.rstrip("\n")
        if head.startswith("ERR "):
            raise DriverError(unescape_value(head[4:]))
        match = re.match(r"^OK (\d+)$", head)
        if not match:
            raise ScenarioFailure(f"unexpected reply from the driver: {head!r}")
        return [unescape_value(self.process.stdout.readline().rstrip("\n"))
                for _ in range(int(match.group(1)))]

    def one(self, *words):
        values = self.call(*words)
        if len(values) != 1:
            raise ScenarioFailure(f"expected one value from {words}, got {values!r}")
        return values[0]

    # Convenience wrappers, named as the driver's commands.
    def find(self, title=None, cls=None, visible=False, timeout=10.0, title_prefix=None):
        words = ["find", "--timeout", int(timeout * 1000)]
        if title is not None:
            words += ["--title", title]
        if title_prefix is not None:
            words += ["--title-prefix", title_prefix]
        if cls is not None:
            words += ["--class", cls]
        if visible:
            words.append("--visible")
        return self.one(*words)

    def exists(self, title=None, cls=None, visible=False):
        try:
            self.find(title=title, cls=cls, visible=visible, timeout=0)
            return True
        except DriverError:
            return False

    def windows(self):
        return [line.split("\t") for line in self.call("windows")]

    def text(self, window, control_id):
        return self.one("text", window, control_id)

    def title(self, window):
        return self.one("title", window)

    def items(self, window, control_id):
        return self.call("items", window, control_id)

    def count(self, window, control_id):
        return int(self.one("count", window, control_id))

    def selection(self, window, control_id):
        return [int(v) for v in self.call("selection", window, control_id)]

    def select(self, window, control_id, item, notify=True):
        words = ["select", window, control_id, item if isinstance(item, int) else "=" + item]
        if not notify:
            words.append("--no-notify")
        self.call(*words)

    def set_text(self, window, control_id, text):
        return self.call("set-text", window, control_id, text)

    def click(self, window, control_id):
        self.call("click", window, control_id)

    def command(self, window, command_id):
        self.call("command", window, command_id)

    def menu(self, window, command_id):
        return self.call("menu", window, command_id)

    def syscommand(self, window, what):
        self.call("syscommand", window, what)

    def close(self, window):
        self.call("close", window)

    def checked(self, window, control_id):
        return int(self.one("checked", window, control_id))

    def enabled(self, window, control_id=None):
        words = ["enabled", window] + ([control_id] if control_id is not None else [])
        return self.one(*words) == "1"

    def visible(self, window, control_id=None):
        words = ["visible", window] + ([control_id] if control_id is not None else [])
        return self.one(*words) == "1"

    def iconic(self, window):
        return self.one("iconic", window) == "1"

    def rect(self, window, control_id=None):
        words = ["rect", window] + ([control_id] if control_id is not None else [])
        return tuple(int(v) for v in self.one(*words).split())

    def client(self, window):
        return tuple(int(v) for v in self.one("client", window).split())

    def pos(self, window, control_id):
        return tuple(int(v) for v in self.one("pos", window, control_id).split())

    def dlu(self, window, control_id):
        """x, y, width, height in dialog units; a value with no exact match stays a text
        starting with ~ (which then compares unequal to any number)."""
        return tuple(int(v) if not v.startswith("~") else v
                     for v in self.one("dlu", window, control_id).split())

    def children(self, window):
        """Every descendant: dicts with handle, id, class, text and pos (x, y, w, h)."""
        out = []
        for line in self.call("children", window):
            handle, cid, cls, text, pos = line.split("\t")
            out.append({"handle": handle, "id": int(cid), "class": cls, "text": text,
                        "pos": tuple(int(v) for v in pos.split())})
        return out

    def static_texts(self, window):
        return [c["text"] for c in self.children(window) if c["class"].lower() == "static"
                and c["text"]]

    def base_units(self):
        return tuple(int(v) for v in self.one("base-units").split())

    def style(self, window, control_id=None):
        words = ["style", window] + ([control_id] if control_id is not None else [])
        return tuple(int(v, 16) for v in self.one(*words).split())

    def msgbox_text(self, window):
        return self.one("msgbox", window)

    def buttons(self, window):
        return {int(line.split("\t")[0]): line.split("\t", 1)[1]
                for line in self.call("buttons", window)}

    def foreground(self, window):
        return self.one("foreground", window) == "1"

    def wait_gone(self, window, timeout=10.0):
        self.call("wait-gone", window, "--timeout", int(timeout * 1000))

    def stop(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("quit\n")
                self.process.stdin.flush()
                self.process.wait(timeout=5)
            except (OSError, subprocess.TimeoutExpired):
                pass
        stop_process(self.process)


# ------------------------------------------------------------------------------------------------
# The main dialog on the sample network

# MainList of SALES.CORP, the context the sample network logs in to.
SALES_ENTRIES = [
    "* (All users in this context)", "ADAVIS", "BWILSON", "CBROWN", "CHRISTOPHERS",
    "COLOURPRINT (Group)", "DMILLER", "HBIG", "IROSS", "JSMITH", "KLEE", "MARKETING", "MJONES",
    "NEWHIRES (Group)", "NOACCOUNT", "RPATEL", "SALESTEAM (Group)", "TGARCIA", "ZEVANS",
]


def main_lines(d, main):
    """The main dialog's three lines about the selection: full name, balance, credit limit."""
    return (d.text(main, 304), d.text(main, 301), d.text(main, 302))

# The session of one scenario


class Session:
    def __init__(self, name):
        self.name = name
        self.layout = Layout()
        self.keep = os.environ.get("TALLY_E2E_KEEP") == "1"
        self.temp = tempfile.mkdtemp(prefix=f"tally-e2e-{name}-")
        # The program's current directory, where it writes its report files.
        self.workdir = os.path.join(self.temp, "work")
        os.makedirs(self.workdir)
        self.display = None
        self.prefix = None
        self.driver = None
        self.network = None
        self.apps = []
        self.screenshot_taken = False

    # Setting up -------------------------------------------------------------------------------

    def start(self, need_app=True, network=True, network_folder=None):
        if need_app and not os.path.isfile(self.layout.app):
            raise ScenarioSkipped(f"{self.layout.app} has not been built yet")
        if network_folder:
            self.network = Network(self.layout, network_folder, lay=False)
        elif network:
            self.network = Network(self.layout, os.path.join(self.temp, "network"))
        self.prefix = Prefix(self.layout)
        self.prefix.reset()
        if self.network:
            self.prefix.link_servers(self.network.volumes())
        self.display = Display()
        log(f"display {self.display.name}, prefix {self.prefix.path}, temp {self.temp}")
        self.driver = Driver(self.layout, self.env())

    def env(self):
        env = wine_environment(self.prefix.path, self.display.name)
        if self.network:
            env["TALLYNET_INI"] = windows_path(self.network.ini)
        return env

    # The program ------------------------------------------------------------------------------

    def launch(self, exe=None, cmdline=None):
        """Starts a program through the driver's launcher so that its command line reaches it
        exactly as given (quotes and blanks included); returns the Popen whose exit code is the
        program's."""
        exe = exe or self.layout.app
        words = ["wine", self.layout.driver, "run", windows_path(exe)]
        if cmdline is not None:
            words += ["--cmdline", cmdline]
        process = subprocess.Popen(words, env=self.env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, encoding="latin-1",
                                   cwd=self.workdir)
        self.apps.append(process)
        log(f"started {os.path.basename(exe)} (pid {process.pid})"
            + (f" with command line {cmdline!r}" if cmdline is not None else ""))
        return process

    def wait_exit(self, process, timeout=20.0):
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise ScenarioFailure(f"the program did not exit within {timeout:g}s")
        return process.returncode

    def main_window(self, timeout=20.0):
        return self.driver.find(title="TallyDesk", cls="Tallydsk", visible=True,
                                timeout=timeout)

    def open_by_key(self, main, key, title):
        """The dialog titled TITLE that a real key press (an Alt key) on the main window opens."""
        assert self.driver.foreground(main), "could not bring the main window to the front"
        self.display.keys(key)
        return self.driver.find(title=title, cls="#32770", visible=True)

    # Evidence ---------------------------------------------------------------------------------

    def screenshot(self, suffix=""):
        name = self.name + (f"-{suffix}" if suffix else "")
        self.display.screenshot(os.path.join(self.layout.screenshots, name + ".png"))
        self.screenshot_taken = True

    def local_settings(self):
        """tallydsk.ini of the prefix's Windows directory as a dict of [Preferences], or None
        when the file does not exist."""
        if not os.path.exists(self.prefix.local_ini):
            return None
        cfg = read_ini(self.prefix.local_ini)
        return dict(cfg.items("Preferences")) if cfg.has_section("Preferences") else {}

    def local_settings_keys_in_order(self):
        keys = []
        with open(self.prefix.local_ini, encoding="latin-1") as f:
            for line in f.read().replace("\r", "").splitlines():
                if "=" in line and not line.startswith("["):
                    keys.append(line.split("=", 1)[0].strip())
        return keys

    def network_files(self):
        """Every file of the laid network with its bytes, to show that a run changed none."""
        files = {}
        for root, _dirs, names in os.walk(self.network.folder, followlinks=False):
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, self.network.folder)] = f.read()
        return files

    def expect_network_unchanged(self, before):
        after = self.network_files()
        changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
        if changed:
            raise ScenarioFailure("the run changed network files: " + ", ".join(changed))

    def write_local_settings(self, lines):
        os.makedirs(self.prefix.windows_dir, exist_ok=True)
        with open(self.prefix.local_ini, "w", encoding="latin-1", newline="\r\n") as f:
            f.write("[Preferences]\n" + "".join(line + "\n" for line in lines))

    # Tearing down -----------------------------------------------------------------------------

    def finish(self, failed):
        if self.display and not self.screenshot_taken:
            try:
                self.screenshot("failure" if failed else "")
            except (subprocess.SubprocessError, OSError) as error:
                log(f"no screenshot: {error}")
        if failed and self.driver:
            try:
                for window in self.driver.windows():
                    log("window: " + " | ".join(window))
            except (DriverError, ScenarioFailure, OSError):
                pass
        if self.driver:
            self.driver.stop()
        for process in self.apps:
            stop_process(process, grace=1.0)
        if self.prefix:
            self.prefix.stop_wineserver()
        for process in self.apps:
            if process.stdout:
                output = process.stdout.read()
                if output.strip() and failed:
                    log(f"output of pid {process.pid}:\n{output}")
        if self.display:
            self.display.stop()
        if self.keep:
            log(f"kept {self.temp}")
        else:
            shutil.rmtree(self.temp, ignore_errors=True)


def main(run, name=None):
    """Runs one scenario and exits with 0, 1 or 77 (skipped)."""
    if name is None:
        name = os.path.splitext(os.path.basename(sys.modules["__main__"].__file__))[0]
    session = None
    failed = True
    code = 1
    try:
        session = Session(name)
        run(session)
        failed = False
        code = 0
        log(f"PASSED {name}")
    except ScenarioSkipped as skip:
        failed = False
        code = SKIP
        log(f"SKIPPED {name}: {skip}")
    except (ScenarioFailure, AssertionError, DriverError) as error:
        log(f"FAILED {name}: {error}")
        traceback.print_exc(file=sys.stdout)
    except Exception:  # a fault of the harness itself: still clean up
        log(f"FAILED {name} (harness error)")
        traceback.print_exc(file=sys.stdout)
    finally:
        if session:
            session.finish(failed)
    sys.exit(code)
