#!/usr/bin/env python3
"""A small HTTPS server on 127.0.0.1 for the self-update tests.

It makes its own certificate authority and a server certificate for 127.0.0.1 with the openssl
command line (--openssl, into --dir), serves the files below --dir/www by their path, and appends every
request path to --dir/requests.log, so a test can count what reached the server. The file
--dir/routes.json (read again for every request) can give a path a status, a redirection or a
stall or a trickle (one byte at a time) instead:
    {"/a": {"status": 404}, "/b": {"redirect": "/c"}, "/d": {"stall": 30},
     "/e": {"trickle": {"bytes": 1000, "every": 0.2}}}
Once listening it writes the chosen port to --dir/port; it ends on SIGTERM.
"""

import argparse
import http.server
import json
import os
import signal
import ssl
import subprocess
import sys
import time


def make_certificates(folder, openssl):
    ca_key = os.path.join(folder, "ca.key")
    ca_pem = os.path.join(folder, "ca.pem")
    key = os.path.join(folder, "server.key")
    csr = os.path.join(folder, "server.csr")
    pem = os.path.join(folder, "server.pem")
    ext = os.path.join(folder, "server.ext")
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run = lambda args: subprocess.run([openssl] + args, check=True,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    run(["req", "-x509"] + curve + ["-keyout", ca_key, "-out", ca_pem, "-days", "2",
         "-subj", "/CN=PlumeriaBridge Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    run(["req"] + curve + ["-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1"])
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=IP:127.0.0.1\n")
    run(["x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
         "-out", pem, "-days", "2", "-extfile", ext])
    return pem, key


class Handler(http.server.BaseHTTPRequestHandler):
    folder = "."
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, status, body, extra=()):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def trickle(self, size, every):
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        try:
            for _ in range(size):
                self.wfile.write(b"x")
                self.wfile.flush()
                time.sleep(every)
        except OSError:
            pass  # the client gave up

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        with open(os.path.join(self.folder, "requests.log"), "a") as log:
            log.write(path + "\n")
        routes = {}
        try:
            with open(os.path.join(self.folder, "routes.json")) as f:
                routes = json.load(f)
        except FileNotFoundError:
            pass
        route = routes.get(path, {})
        if "stall" in route:
            time.sleep(float(route["stall"]))
            return
        if "trickle" in route:
            self.trickle(int(route["trickle"]["bytes"]), float(route["trickle"]["every"]))
            return
        if "redirect" in route:
            self.send_body(302, b"moved\n", [("Location", route["redirect"])])
            return
        if "status" in route:
            self.send_body(int(route["status"]), b"no\n")
            return
        target = os.path.normpath(os.path.join(self.folder, "www", path.lstrip("/")))
        if not target.startswith(os.path.join(self.folder, "www")) or not os.path.isfile(target):
            self.send_body(404, b"not found\n")
            return
        with open(target, "rb") as f:
            self.send_body(200, f.read())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--openssl", default="openssl")
    args = parser.parse_args()
    folder = os.path.abspath(args.dir)
    os.makedirs(os.path.join(folder, "www"), exist_ok=True)
    pem, key = make_certificates(folder, args.openssl)

    Handler.folder = folder
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pem, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    port_file = os.path.join(folder, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
