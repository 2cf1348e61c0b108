#!/usr/bin/env python3
"""The self-update of PlumeriaBridge.exe end to end under Wine.

The release program of the Windows build is installed into a Wine prefix of its own, next to a
loopback HTTPS server (tests/support/https_test_server.py) that serves ver.txt and
PlumeriaBridge.zip. The server's test CA is put into the prefix's trusted roots, the one place
WinHTTP takes its trust from. The maker's site address is fixed at build time, so the installed
programs are the release bytes with that address replaced by the server's (same length, padded
with slashes, which the update strips); the "newer" build is the same program with its version
string replaced as well.

  1. The old program starts with AutoUpdate=1, replaces itself with the new one, which runs
     with the new version in the journal ("started NEW").
  2. The new program's next start removes the backup (PlumeriaBridge.old.exe).
  3. An archive whose program ends at once (plumeria.exe under the program's name) leaves the
     old program running, with its own bytes in place.

Exit code 0 when every check passed; each check prints one "ok:" or "FAILED:" line.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
import zipfile

OK = True


def check(condition, text, detail=""):
    global OK
    if condition:
        print(f"ok: {text}")
    else:
        OK = False
        print(f"FAILED: {text}")
        if detail:
            print("  " + detail.replace("\n", "\n  "))
    return condition


def next_version(version):
    """The version one step up, of the same length (the digits counted like an odometer)."""
    chars = list(version)
    for i in range(len(chars) - 1, -1, -1):
        if not chars[i].isdigit():
            continue
        if chars[i] != "9":
            chars[i] = chr(ord(chars[i]) + 1)
            return "".join(chars)
        chars[i] = "0"
    raise SystemExit(f"cannot count up from version {version}")


def patched(program, replacements):
    data = program
    for old, new in replacements:
        assert len(old) == len(new), (old, new)
        count = data.count(old)
        if count == 0:
            raise SystemExit(f"the program does not hold {old!r}")
        data = data.replace(old, new)
    return data


def make_zip(path, member_bytes):
    with zipfile.ZipFile(path, "w") as z:
        info = zipfile.ZipInfo("PlumeriaBridge.exe", date_time=(2020, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, member_bytes)


class Wine:
    def __init__(self, wine, prefix, display):
        self.wine = wine
        self.server = os.path.join(os.path.dirname(wine), "wineserver")
        if not os.access(self.server, os.X_OK):
            self.server = shutil.which("wineserver")
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.prefix = prefix
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            subprocess.run([wine, "wineboot", "--init"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.wait_idle()

    def run(self, *args, timeout=120):
        return subprocess.run([self.wine, *args], env=self.env, capture_output=True,
                              timeout=timeout)

    def start(self, *args):
        return subprocess.Popen([self.wine, *args], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def end_all(self):
        """Ends every program of this prefix: only this test starts programs in it."""
        subprocess.run([self.server, "-k"], env=self.env, stderr=subprocess.DEVNULL)
        self.wait_idle()

    def wait_idle(self):
        subprocess.run([self.server, "-w"], env=self.env, stderr=subprocess.DEVNULL)


def wait_for(condition, seconds, step=0.25):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--display", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(args.build)
    cache = dict(line.split("=", 1) for line in
                 open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read().splitlines()
                 if "=" in line and not line.startswith(("#", "//")))
    version = next(v for k, v in cache.items() if k.startswith("CMAKE_PROJECT_VERSION:"))
    site = next(v for k, v in cache.items() if k.startswith("PLUMERIA_SITE_URL:"))
    newer = next_version(version)
    release = open(os.path.join(build, "release", "PlumeriaBridge.exe"), "rb").read()
    quick_exit = open(os.path.join(build, "src", "tool", "plumeria.exe"), "rb").read()
    trust = os.path.join(build, "tests", "support", "trust_test_ca.exe")

    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    wine = Wine(args.wine, os.path.join(build, "wine-update"), args.display)
    wine.end_all()

    server_dir = os.path.join(work, "server")
    site_dir = os.path.join(server_dir, "www", "download", "plumeriabridge")
    os.makedirs(site_dir)
    server = subprocess.Popen([sys.executable, os.path.join(root, "tests", "support",
                                                            "https_test_server.py"),
                               "--dir", server_dir, "--openssl", shutil.which("openssl")])
    port_file = os.path.join(server_dir, "port")
    ca = os.path.join(server_dir, "ca.pem")
    try:
        if not wait_for(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 30):
            raise SystemExit("the HTTPS test server did not start")
        port = open(port_file).read().strip()
        local_site = f"https://127.0.0.1:{port}"
        local_site += "/" * (len(site) - len(local_site))
        assert len(local_site) == len(site), "the site address is too short to be replaced"
        at_site = [(site.encode(), local_site.encode())]
        old_program = patched(release, at_site)
        new_program = patched(release, at_site + [(version.encode() + b"\0",
                                                   newer.encode() + b"\0")])
        added = wine.run(trust, "add", ca)
        if added.returncode != 0:
            raise SystemExit("cannot trust the test CA: " + added.stderr.decode(errors="replace"))
        scenario(wine, work, site_dir, version, newer, old_program, new_program, quick_exit)
    finally:
        wine.end_all()
        if os.path.exists(ca):
            wine.run(trust, "remove", ca)
            wine.wait_idle()
        server.send_signal(signal.SIGTERM)
        server.wait(10)
    return 0 if OK else 1


def scenario(wine, work, site_dir, version, newer, old_program, new_program, quick_exit):
    drive_c = os.path.join(wine.prefix, "drive_c")
    install = os.path.join(drive_c, "PlumeriaBridge")
    exe = os.path.join(install, "PlumeriaBridge.exe")
    backup = os.path.join(install, "PlumeriaBridge.old.exe")
    data = os.path.join(drive_c, "ProgramData", "PlumeriaBridge")

    def fresh_install(remote_version, archive_member):
        shutil.rmtree(install, ignore_errors=True)
        shutil.rmtree(data, ignore_errors=True)
        os.makedirs(install)
        os.makedirs(os.path.join(drive_c, "PlumeriaWatch"), exist_ok=True)
        os.makedirs(data)
        with open(exe, "wb") as f:
            f.write(old_program)
        with open(os.path.join(data, "settings.ini"), "w", newline="") as f:
            f.write("[General]\r\nWatchFolder=C:\\PlumeriaWatch\r\nFileMask=*.csv\r\n"
                    "AutoUpdate=1\r\nRunWithWindows=0\r\nScaleCount=0\r\n")
        with open(os.path.join(site_dir, "ver.txt"), "w", newline="") as f:
            f.write(remote_version + "\r\n")
        make_zip(os.path.join(site_dir, "PlumeriaBridge.zip"), archive_member)

    def journal():
        logs = os.path.join(data, "logs")
        if not os.path.isdir(logs):
            return ""
        return "".join(open(os.path.join(logs, name), encoding="utf-8", errors="replace").read()
                       for name in sorted(os.listdir(logs)))

    def exe_bytes():
        try:
            return open(exe, "rb").read()
        except OSError:
            return b""

    started_new = f"| INFO | started {newer}"
    started_old = f"| INFO | started {version}"

    # 1. The update: the new program runs with the new version.
    fresh_install(newer, new_program)
    old = wine.start("C:\\PlumeriaBridge\\PlumeriaBridge.exe")
    ran = wait_for(lambda: started_new in journal(), 120)
    check(ran and started_old in journal(),
          f"PlumeriaBridge.exe {version} updated itself from 127.0.0.1; the journal says "
          f"\"started {newer}\"", journal())
    check(wait_for(lambda: old.poll() is not None, 60),
          f"the old program ({version}) ended after the update")
    check(exe_bytes() == new_program, "the new program is in place of the old one")
    # Give the new program time to settle (report its start, record the version) and end it.
    time.sleep(5)
    wine.end_all()

    # 2. The new program's next start removes the backup.
    before = journal()
    again = wine.start("C:\\PlumeriaBridge\\PlumeriaBridge.exe")
    restarted = wait_for(lambda: journal().count(started_new) > before.count(started_new), 90)
    check(restarted and wait_for(lambda: not os.path.exists(backup), 30),
          "the backup PlumeriaBridge.old.exe is gone after the new program's next start",
          journal()[len(before):])
    check(again.poll() is None and "update: already current" in journal()[len(before):],
          f"the new program runs on; its own update check finds {newer} current",
          journal()[len(before):])
    wine.end_all()

    # 3. A new program that ends at once: the old one goes on running, its bytes in place.
    broken = next_version(newer)
    fresh_install(broken, quick_exit)
    old = wine.start("C:\\PlumeriaBridge\\PlumeriaBridge.exe")
    wait_for(lambda: "update: launching new process" in journal(), 120)
    # The old program waits for the new one's report of a good start (about 20 s at most).
    time.sleep(35)
    check(old.poll() is None and exe_bytes() == old_program,
          f"a new program that ends at once (remote {broken}) leaves the old one running "
          "with its own bytes in place",
          f"old program exit code: {old.poll()}\n" + journal())
    wine.end_all()
    shutil.rmtree(install, ignore_errors=True)
    shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
