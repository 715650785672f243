#!/usr/bin/python3
"""A real FTP server for the tests and benchmarks, on 127.0.0.1.

Prints "READY <port>" on stdout once it accepts connections. The virtual root
is --root; users start in the folder "/login" below it, so absolute and
relative paths lead to different places.

With --tls-cert and --tls-key it speaks FTP with explicit TLS only.

Faults are switched on at run time by files in --control (read on demand):
  drop_after      a byte count: the next upload that passes it loses its
                  control and data connections (the file is removed after use)
  quota_names     names, one a line: STOR of a file whose name starts with
                  one of them gets "552"
  no_mlsd         present: MLSD is answered "500" as by servers without it
  store_only      present: RNFR, RNTO and DELE are refused with "550", as on
                  accounts that may store files but not rename or delete them
  no_site_chmod   present: SITE CHMOD is refused with "550"
  silent_after_store  present: once an upload's data has arrived, that
                  connection answers nothing any more (not even "226")
  die_during_names  names, one a line: the server kills itself (SIGKILL)
                  while it receives a file whose name starts with one of them
  max_connections a number: a control connection beyond that many open at
                  once is answered "421" and closed
Events (one a line) go to <control>/events: "LOGIN", "STOR <path>",
"DATA passive" or "DATA active" for each data connection asked for, and
"REFUSED" for each connection turned away by max_connections.
"""

import argparse
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

from server_control import LOGIN_FOLDER, name_listed, read_control, record_event


class FaultyDTPHandler(DTPHandler):
    """Drops both connections once an upload has received drop_after bytes."""

    def __init__(self, sock, cmd_channel):
        super().__init__(sock, cmd_channel)
        limit = read_control(cmd_channel.control, "drop_after")
        self.drop_after = int(limit) if limit and limit.strip() else None

    def handle_read(self):
        super().handle_read()
        self.inject_faults()

    def inject_faults(self):
        if self.cmd_channel.die_with_data and self.tot_bytes_received > 0:
            os.kill(os.getpid(), signal.SIGKILL)
        if self.drop_after is not None and self.tot_bytes_received >= self.drop_after:
            os.remove(os.path.join(self.cmd_channel.control, "drop_after"))
            self.drop_after = None
            channel = self.cmd_channel
            self.close()
            channel.close()

    handle_read_event = handle_read


class HandOverActiveDTP(ActiveDTP):
    """Forgets its descriptor once the data channel has taken the socket over.
    The connector is closed later (at the next PORT or EPRT), and would then
    unregister whatever connection has been given the same descriptor number
    meanwhile, which then stalls: seen with several clients in active mode."""

    def handle_connect(self):
        super().handle_connect()
        self._fileno = None


class TestHandler(FTPHandler):
    control = ""
    unicode_errors = "surrogateescape"
    permit_foreign_addresses = False
    dtp_handler = FaultyDTPHandler
    active_dtp = HandOverActiveDTP
    # A refused login is answered after this delay (3 s by default), well
    # inside the short time-outs the tests use.
    auth_failed_timeout = 0.2
    die_with_data = False
    silent_after_transfer = False
    silent = False

    open_connections = 0
    counted = False

    def handle(self):
        TestHandler.open_connections += 1
        self.counted = True
        limit = read_control(self.control, "max_connections")
        if limit and TestHandler.open_connections > int(limit):
            record_event(self.control, "REFUSED")
            self.respond("421 Too many connections. Service temporarily unavailable.")
            self.close_when_done()
            return
        super().handle()

    def close(self):
        if self.counted:
            self.counted = False
            TestHandler.open_connections -= 1
        super().close()

    def respond(self, resp, logfun=logging.debug):
        if self.silent:
            return
        if self.silent_after_transfer and resp.startswith("226"):
            self.silent = True
            return
        super().respond(resp, logfun)

    def refused_on_store_only(self):
        if read_control(self.control, "store_only") is None:
            return False
        self.respond("550 Not enough privileges.")
        return True

    def ftp_RNFR(self, path):
        if not self.refused_on_store_only():
            return super().ftp_RNFR(path)
        return None

    def ftp_RNTO(self, path):
        if not self.refused_on_store_only():
            return super().ftp_RNTO(path)
        return None

    def ftp_DELE(self, path):
        if not self.refused_on_store_only():
            return super().ftp_DELE(path)
        return None

    def on_login(self, username):
        self.fs.cwd = LOGIN_FOLDER
        record_event(self.control, "LOGIN")

    def ftp_PASV(self, line):
        record_event(self.control, "DATA passive")
        return super().ftp_PASV(line)

    def ftp_EPSV(self, line):
        record_event(self.control, "DATA passive")
        return super().ftp_EPSV(line)

    def ftp_PORT(self, line):
        record_event(self.control, "DATA active")
        return super().ftp_PORT(line)

    def ftp_EPRT(self, line):
        record_event(self.control, "DATA active")
        return super().ftp_EPRT(line)

    def on_file_received(self, file):
        record_event(self.control, "STOR " + file)

    def ftp_MLSD(self, path):
        if read_control(self.control, "no_mlsd") is not None:
            self.respond("500 Command \"MLSD\" not understood.")
            return None
        return super().ftp_MLSD(path)

    def ftp_SITE_CHMOD(self, path, mode):
        if read_control(self.control, "no_site_chmod") is not None:
            self.respond("550 Not enough privileges.")
            return None
        return super().ftp_SITE_CHMOD(path, mode)

    def ftp_STOR(self, file, mode="w"):
        if name_listed(self.control, "quota_names", file):
            self.respond("552 Quota exceeded.")
            return None
        self.die_with_data = name_listed(self.control, "die_during_names", file)
        self.silent_after_transfer = read_control(self.control, "silent_after_store") is not None
        return super().ftp_STOR(file, mode)


class TlsFaultyDTPHandler(FaultyDTPHandler, TLS_DTPHandler):
    # Reads go through the TLS layer first; the faults act on what came through.
    def handle_read_event(self):
        TLS_DTPHandler.handle_read_event(self)
        if self.connected:
            self.inject_faults()

    def readable(self):
        # A client may shake hands on the data connection before it names the
        # transfer; the plain handler would take that for a hang-up.
        if not self.receive and not self._initialized:
            return self._ssl_want_read or self._ssl_accepting
        return super().readable()


class TlsTestHandler(TestHandler, TLS_FTPHandler):
    """FTP with explicit TLS; clear-text logins and transfers are refused."""
    dtp_handler = TlsFaultyDTPHandler
    tls_control_required = True
    tls_data_required = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--control", required=True)
    parser.add_argument("--user-hex", required=True)
    parser.add_argument("--password-hex", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    args = parser.parse_args()

    def from_hex(text):
        return bytes.fromhex(text).decode("utf8", "surrogateescape")

    os.makedirs(os.path.join(args.root, LOGIN_FOLDER.lstrip("/")), exist_ok=True)
    authorizer = DummyAuthorizer()
    authorizer.add_user(from_hex(args.user_hex), from_hex(args.password_hex), args.root, perm="elradfmwMT")
    handler = TestHandler
    if args.tls_cert:
        handler = TlsTestHandler
        handler.certfile = args.tls_cert
        handler.keyfile = args.tls_key
        # Data connections resume the control connection's TLS session.
        context = handler.get_ssl_context()
        context.set_session_id(b"tarnwick-test")
        handler.ssl_context = context
    handler.authorizer = authorizer
    handler.control = args.control
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    server = FTPServer(("127.0.0.1", args.port), handler)
    server.max_cons = 64
    print("READY %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
