#!/usr/bin/env python3
"""The self-update of PlumeriaBridge.exe end to end under Wine.

The release program of the Windows build is installed into a Wine prefix of its own. The maker's
site is fixed in the program at build time, so the check runs in a network and mount namespace
of its own: there the site's host name resolves to 127.0.0.1 (a private /etc/hosts) and an HTTPS
server on 127.0.0.1 at the site's port serves ver.txt and PlumeriaBridge.zip with a certificate
of a test CA, which is put into the prefix's trusted roots, the one place WinHTTP takes its trust
from. Nothing leaves the namespace's own loopback. The "newer" build is the release program with
its version string replaced by the next one (same length).

  1. The old program starts with AutoUpdate=1, replaces itself with the new one, which runs
     with the new version in the journal ("started NEW").
  2. The new program's next start removes the backup (PlumeriaBridge.old.exe).
  3. An archive whose program ends at once (plumeria.exe under the program's name) leaves the
     old program running, with its own bytes in place.

Exit code 0 when every check passed; each check prints one "ok:" or "FAILED:" line.
"""

import argparse
import http.server
import os
import re
import shutil
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
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


def with_version(program, version, newer):
    """The program with its version string replaced. The compiler keeps a short string such as
    "1.0.3" partly as a literal and partly as instruction immediates (the first four bytes, then
    the fifth stored or compared on its own), so both are replaced; the journal line "started
    NEW" of the patched program shows that no copy was missed."""
    if len(version) != 5 or len(newer) != 5 or version[:4] != newer[:4]:
        raise SystemExit(f"cannot patch version {version} into {newer}")
    data = bytearray(patched(program, [(version.encode() + b"\0", newer.encode() + b"\0")]))
    head, last, new_last = version[:4].encode(), version[4].encode(), newer[4].encode()
    # movb $c, d8(%rsp) | movb $c, d32(%rsp) | cmpb $c, 4(%rax)
    fifth = re.compile(rb"(\xc6\x44\x24.|\xc6\x84\x24....|\x80\x78\x04)" + re.escape(last),
                       re.S)
    for found in re.finditer(re.escape(head), bytes(data)):
        low = max(found.start() - 48, 0)
        for store in fifth.finditer(bytes(data[low:found.end() + 48])):
            data[low + store.end() - 1] = new_last[0]
    return bytes(data)


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
        # Xvfb has no window manager; Wine would wait 2 s for one at every hidden window.
        subprocess.run([wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

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


def in_own_namespace(args, host):
    """Runs this script again inside its own network and mount namespace; returns its exit code,
    or None when this already is the run inside."""
    if os.environ.get("PLUMERIA_UPDATE_NS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        hosts = os.path.join(os.path.abspath(args.work), "hosts")
        with open(hosts, "w") as f:
            f.write(f"127.0.0.1 localhost\n127.0.0.1 {host}\n")
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
        return None
    unshare = ["unshare", "--mount", "--net"]
    if os.geteuid() != 0:
        unshare.insert(1, "--map-root-user")
    os.makedirs(args.work, exist_ok=True)
    return subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), *sys.argv[1:]],
                          env=dict(os.environ, PLUMERIA_UPDATE_NS="1")).returncode


def make_certificates(folder, host):
    """A test CA and a server certificate for `host`, signed by it. The CA's name is new each
    run: Windows picks an issuer by its name, and an authority left behind by a run that was cut
    short must never be taken for this one."""
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr, pem = (os.path.join(folder, n) for n in ("server.key", "server.csr", "server.pem"))
    ext = os.path.join(folder, "server.ext")
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run = lambda a: subprocess.run(["openssl"] + a, check=True, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
    run(["req", "-x509"] + curve + ["-keyout", ca_key, "-out", ca_pem, "-days", "2",
         "-subj", f"/CN=PlumeriaBridge Update Test CA {os.getpid()}.{time.time_ns()}",
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    run(["req"] + curve + ["-keyout", key, "-out", csr, "-subj", f"/CN={host}"])
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                f"extendedKeyUsage=serverAuth\nsubjectAltName=DNS:{host}\n")
    run(["x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
         "-out", pem, "-days", "2", "-extfile", ext])
    return ca_pem, pem, key


def start_server(folder, port, pem, key):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **k):
            super().__init__(*a, directory=os.path.join(folder, "www"), **k)

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pem, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--display", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    cache = dict(line.split("=", 1) for line in
                 open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read().splitlines()
                 if "=" in line and not line.startswith(("#", "//")))
    version = next(v for k, v in cache.items() if k.startswith("CMAKE_PROJECT_VERSION:"))
    site = urllib.parse.urlsplit(next(v for k, v in cache.items()
                                      if k.startswith("PLUMERIA_SITE_URL:")))
    outer = in_own_namespace(args, site.hostname)
    if outer is not None:
        return outer

    newer = next_version(version)
    release = open(os.path.join(build, "release", "PlumeriaBridge.exe"), "rb").read()
    quick_exit = open(os.path.join(build, "src", "tool", "plumeria.exe"), "rb").read()
    trust = os.path.join(build, "tests", "support", "trust_test_ca.exe")
    work = os.path.abspath(args.work)
    wine = Wine(args.wine, os.path.join(build, "wine-update"), args.display)
    # Programs of this prefix left over from an earlier run would hold the locks.
    wine.end_all()

    server_dir = os.path.join(work, "server")
    site_dir = os.path.join(server_dir, "www", *site.path.strip("/").split("/"),
                            "download", "plumeriabridge")
    os.makedirs(site_dir)
    ca, pem, key = make_certificates(server_dir, site.hostname)
    server = start_server(server_dir, site.port or 443, pem, key)
    try:
        new_program = with_version(release, version, newer)
        added = wine.run(trust, "add", ca)
        if added.returncode != 0:
            raise SystemExit("cannot trust the test CA: " + added.stderr.decode(errors="replace"))
        scenario(wine, site_dir, version, newer, release, new_program, quick_exit)
    finally:
        wine.end_all()
        removed = wine.run(trust, "remove", ca)
        wine.wait_idle()
        check(removed.returncode == 0, "the test CA is taken out of the prefix's trusted roots",
              removed.stderr.decode(errors="replace"))
        server.shutdown()
    return 0 if OK else 1


def scenario(wine, site_dir, version, newer, old_program, new_program, quick_exit):
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
          f"PlumeriaBridge.exe {version} updated itself from the site on loopback; the journal says "
          f"\"started {newer}\"", journal())
    if not ran:
        return
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
    current = wait_for(lambda: "update: already current" in journal()[len(before):], 60)
    check(current and again.poll() is None,
          f"the new program runs on; its own update check finds {newer} current",
          journal()[len(before):])
    wine.end_all()

    # 3. A new program that ends at once: the old one goes on running, its bytes in place.
    broken = next_version(newer)
    fresh_install(broken, quick_exit)
    old = wine.start("C:\\PlumeriaBridge\\PlumeriaBridge.exe")
    launched = wait_for(lambda: "update: launching new process" in journal(), 120)
    # The old program waits for the new one's report of a good start (about 20 s at most).
    time.sleep(35)
    check(launched and old.poll() is None and exe_bytes() == old_program,
          f"a new program that ends at once (remote {broken}) leaves the old one running "
          "with its own bytes in place",
          f"old program exit code: {old.poll()}\n" + journal())
    wine.end_all()
    shutil.rmtree(install, ignore_errors=True)
    shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
