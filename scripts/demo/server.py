#!/usr/bin/python3
"""The local demo of the Vantari service: an FTP server on 127.0.0.1 with one account.

Usage: server.py PORT USER PASSWORD HOME LOGFILE
Transfers are held to about 256 KB/s each way, so that the window's progress bar and speed text
can be seen moving as they would over the internet.
Prints "ready" once it listens; stops cleanly on SIGTERM.
"""
import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, user, password, home, logfile = sys.argv[1:6]
    logging.basicConfig(filename=logfile, level=logging.INFO,
                        format="%(asctime)s %(message)s")
    authorizer = DummyAuthorizer()
    # The user's own folder holds one archive, <user ID>.bck, replaced by every upload.
    authorizer.add_user(user, password, home, perm="elrdfmwMT")
    dtp = ThrottledDTPHandler
    dtp.read_limit = dtp.write_limit = 256 * 1024
    handler = FTPHandler
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
