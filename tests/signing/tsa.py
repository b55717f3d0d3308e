#!/usr/bin/env python3
"""A time-stamping authority for the signing tests: answers RFC 3161
requests over HTTP on 127.0.0.1 with `openssl ts -reply` and the [tsa]
section of an OpenSSL configuration.

    tsa.py <openssl-config> <port-file>

Writes the port it listens on into port-file once it listens, then serves
until it is stopped. Every request is answered by a fresh openssl process.
"""

import http.server
import os
import subprocess
import sys
import tempfile


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    config = None

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(length)
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            result = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                     "-queryfile", query_file, "-out", reply_file],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if result.returncode != 0:
                sys.stderr.write(result.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format, *args):
        pass


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: tsa.py <openssl-config> <port-file>")
    TimeStampHandler.config = sys.argv[1]
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
    # The port appears under its name only once it is complete.
    with open(sys.argv[2] + ".part", "w") as f:
        f.write(str(server.server_port))
    os.replace(sys.argv[2] + ".part", sys.argv[2])
    server.serve_forever()


if __name__ == "__main__":
    main()
