#!/usr/bin/python3
"""The local demo of the Vantari service: an FTP server on 127.0.0.1 with one account.

Usage: server.py PORT USER PASSWORD HOME LOGFILE
Prints "ready" once it listens; stops cleanly on SIGTERM.
"""
import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, user, password, home, logfile = sys.argv[1:6]
    logging.basicConfig(filename=logfile, level=logging.INFO,
                        format="%(asctime)s %(message)s")
    authorizer = DummyAuthorizer()
    # The user's own folder holds one archive, <user ID>.bck, replaced by every upload.
    authorizer.add_user(user, password, home, perm="elrdfmwMT")
    handler = FTPHandler
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
