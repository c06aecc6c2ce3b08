#!/usr/bin/python3
"""Runs a pyftpdlib server for the FTP tests and benchmarks.

Binds the given address on an ephemeral port, prints the port on the first line of standard
output and serves until killed (or, with --stdin-watch, until standard input closes, so that the
server never outlives the test that started it).
"""
import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--buffer", type=int, default=0,
                        help="data channel buffer size in bytes (0: pyftpdlib's own)")
    parser.add_argument("--stdin-watch", action="store_true")
    args = parser.parse_args()

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    class Data(DTPHandler):
        pass

    if args.buffer > 0:
        Data.ac_in_buffer_size = args.buffer
        Data.ac_out_buffer_size = args.buffer

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.dtp_handler = Data
    Handler.banner = "Lodrin test server ready."

    server = FTPServer((args.host, 0), Handler)
    print(server.address[1], flush=True)

    if args.stdin_watch:
        def watch():
            sys.stdin.read()
            os._exit(0)
        threading.Thread(target=watch, daemon=True).start()

    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
