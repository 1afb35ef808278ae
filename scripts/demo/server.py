#!/usr/bin/python3
"""The local demo of the Vantari service: an FTP server on 127.0.0.1 with one account.

Usage: server.py PORT USER PASSWORD HOME LOGFILE [ENCODING]
The service speaks FTP over TLS (explicit, AUTH TLS) and refuses clear-text logins and data, as
the real one does. Its certificate is self-signed, made on the first start and kept in the
folder "tls" beside LOGFILE. The log names the TLS version of every connection and, for every
data connection, whether it resumed the login's TLS session.
Transfers are held to about 256 KB/s each way, so that the window's progress bar and speed text
can be seen moving as they would over the internet.
Commands are read in ENCODING (default UTF-8); the program sends a Hangul user ID and password in
CP949, so a Hangul account needs "cp949" here.
Prints "ready" once it listens; stops cleanly on SIGTERM.
"""
import logging
import os
import signal
import subprocess
import sys

from OpenSSL import SSL
from OpenSSL._util import lib
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def certificate(folder):
    """The service's certificate and key, made once."""
    cert = os.path.join(folder, "server.crt")
    key = os.path.join(folder, "server.key")
    if not (os.path.exists(cert) and os.path.exists(key)):
        os.makedirs(folder, mode=0o700, exist_ok=True)
        # RSA: Wine's SChannel turns down now and then an ECDSA signature that is shorter than
        # usual, so a fresh ECDSA key would fail a run by chance.
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", key, "-out", cert,
                        "-days", "3650", "-subj", "/CN=Vantari demo service",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
                       check=True, capture_output=True)
    return cert, key


def describe(connection):
    return "%s %s" % (connection.get_protocol_version_name(), connection.get_cipher_name())


class DemoDTPHandler(TLS_DTPHandler, ThrottledDTPHandler):
    """A throttled data connection inside TLS; logs whether it resumed the login's session."""

    def handle_ssl_established(self):
        reused = lib.SSL_session_reused(self.socket._ssl) == 1
        self.cmd_channel.log("TLS data connection: %s, session %s"
                             % (describe(self.socket), "resumed" if reused else "NOT resumed"))


class DemoFTPHandler(TLS_FTPHandler):
    encoding = "utf8"

    def decode(self, bytes):
        return bytes.decode(self.encoding, self.unicode_errors)

    def handle_ssl_established(self):
        self.log("TLS control connection: %s" % describe(self.socket))


def main():
    port, user, password, home, logfile = sys.argv[1:6]
    encoding = sys.argv[6] if len(sys.argv) > 6 else "utf8"
    logging.basicConfig(filename=logfile, level=logging.INFO,
                        format="%(asctime)s %(message)s")
    cert, key = certificate(os.path.join(os.path.dirname(os.path.abspath(logfile)), "tls"))
    authorizer = DummyAuthorizer()
    # The user's own folder holds one archive, <user ID>.bck, replaced by every upload.
    authorizer.add_user(user, password, home, perm="elrdfmwMT")
    dtp = DemoDTPHandler
    dtp.read_limit = dtp.write_limit = 256 * 1024
    handler = DemoFTPHandler
    handler.certfile, handler.keyfile = cert, key
    handler.encoding = encoding
    handler.tls_control_required = True
    handler.tls_data_required = True
    handler.dtp_handler = dtp
    handler.authorizer = authorizer
    handler.banner = "Vantari demo service ready."
    server = FTPServer(("127.0.0.1", int(port)), handler)
    signal.signal(signal.SIGTERM, lambda *_: server.close_all())
    print("ready", flush=True)
    try:
        server.serve_forever(timeout=0.5, handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
