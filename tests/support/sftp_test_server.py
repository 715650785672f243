#!/usr/bin/python3
"""A real SFTP server (over SSH) for the tests and benchmarks, on 127.0.0.1.

Prints "READY <port>" on stdout once it accepts connections. The virtual root
is --root; users start in the folder "/login" below it, so absolute and
relative paths lead to different places.

Logins: the user --user-hex with the password --password-hex, or with the
private key whose public half is in --authorized-key (OpenSSH format).
The host key is --host-key (a private key file made by the fixture).

Faults are switched on at run time by files in --control (read on demand):
  die_during_names  names, one a line: the server kills itself (SIGKILL)
                  while it receives a file whose name starts with one of them
  silent          present: new connections are accepted and never answered
  store_only      present: rename and remove are refused, as on accounts
                  that may store files but not rename or delete them
Events (one a line) go to <control>/events: "LOGIN password",
"LOGIN publickey", "STOR <path>" for each file written and closed.
"""

import argparse
import base64
import os
import signal
import socket
import threading
import time

import paramiko
from paramiko import SFTPAttributes, SFTPHandle, SFTPServer, SFTPServerInterface
from paramiko.sftp import SFTP_FAILURE, SFTP_NO_SUCH_FILE, SFTP_OK, SFTP_PERMISSION_DENIED

from server_control import LOGIN_FOLDER, name_listed, read_control, record_event


def error_code(error):
    if isinstance(error, FileNotFoundError):
        return SFTP_NO_SUCH_FILE
    if isinstance(error, PermissionError):
        return SFTP_PERMISSION_DENIED
    return SFTP_FAILURE


class Settings:
    root = ""
    control = ""
    user = ""
    password = ""
    authorized = None


class Handle(SFTPHandle):
    def __init__(self, flags, path, virtual):
        super().__init__(flags)
        self.path = path
        self.virtual = virtual
        self.written = False

    def write(self, offset, data):
        if name_listed(Settings.control, "die_during_names", self.virtual):
            os.kill(os.getpid(), signal.SIGKILL)
        self.written = True
        return super().write(offset, data)

    def stat(self):
        try:
            return SFTPAttributes.from_stat(os.fstat(self.readfile.fileno()))
        except OSError as error:
            return error_code(error)

    def close(self):
        super().close()
        if self.written:
            record_event(Settings.control, "STOR " + self.virtual)


class Files(SFTPServerInterface):
    def virtual(self, path):
        if not path.startswith("/"):
            path = LOGIN_FOLDER + "/" + path
        return os.path.normpath(path).replace("//", "/")

    def real(self, path):
        return Settings.root + self.virtual(path)

    def canonicalize(self, path):
        return self.virtual(path)

    def list_folder(self, path):
        try:
            folder = self.real(path)
            entries = []
            for name in os.listdir(folder):
                attributes = SFTPAttributes.from_stat(os.lstat(os.path.join(folder, name)))
                attributes.filename = name
                entries.append(attributes)
            return entries
        except OSError as error:
            return error_code(error)

    def stat(self, path):
        try:
            return SFTPAttributes.from_stat(os.stat(self.real(path)))
        except OSError as error:
            return error_code(error)

    def lstat(self, path):
        try:
            return SFTPAttributes.from_stat(os.lstat(self.real(path)))
        except OSError as error:
            return error_code(error)

    def open(self, path, flags, attr):
        real = self.real(path)
        try:
            mode = getattr(attr, "st_mode", None) or 0o666
            fd = os.open(real, flags | getattr(os, "O_BINARY", 0), mode & 0o777)
        except OSError as error:
            return error_code(error)
        if flags & os.O_WRONLY:
            opened = os.fdopen(fd, "ab" if flags & os.O_APPEND else "wb")
        elif flags & os.O_RDWR:
            opened = os.fdopen(fd, "a+b" if flags & os.O_APPEND else "r+b")
        else:
            opened = os.fdopen(fd, "rb")
        handle = Handle(flags, real, self.virtual(path))
        handle.readfile = opened
        handle.writefile = opened
        return handle

    def remove(self, path):
        if read_control(Settings.control, "store_only") is not None:
            return SFTP_PERMISSION_DENIED
        try:
            os.remove(self.real(path))
        except OSError as error:
            return error_code(error)
        return SFTP_OK

    def rename(self, oldpath, newpath):
        if read_control(Settings.control, "store_only") is not None:
            return SFTP_PERMISSION_DENIED
        # As the usual servers do: a rename never replaces an existing file.
        if os.path.exists(self.real(newpath)):
            return SFTP_FAILURE
        try:
            os.rename(self.real(oldpath), self.real(newpath))
        except OSError as error:
            return error_code(error)
        return SFTP_OK

    def mkdir(self, path, attr):
        try:
            os.mkdir(self.real(path))
        except OSError as error:
            return error_code(error)
        return SFTP_OK

    def rmdir(self, path):
        try:
            os.rmdir(self.real(path))
        except OSError as error:
            return error_code(error)
        return SFTP_OK

    def chattr(self, path, attr):
        try:
            SFTPServer.set_file_attr(self.real(path), attr)
        except OSError as error:
            return error_code(error)
        return SFTP_OK


class Logins(paramiko.ServerInterface):
    def check_auth_password(self, username, password):
        if username == Settings.user and password == Settings.password:
            record_event(Settings.control, "LOGIN password")
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_auth_publickey(self, username, key):
        if username == Settings.user and Settings.authorized is not None and key.asbytes() == Settings.authorized:
            record_event(Settings.control, "LOGIN publickey")
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def get_allowed_auths(self, username):
        return "password,publickey"

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED


def serve(connection, host_key):
    if read_control(Settings.control, "silent") is not None:
        time.sleep(3600)
        return
    transport = paramiko.Transport(connection)
    transport.add_server_key(host_key)
    transport.set_subsystem_handler("sftp", SFTPServer, Files)
    try:
        transport.start_server(server=Logins())
    except (paramiko.SSHException, EOFError, OSError):
        return
    while transport.is_active():
        time.sleep(0.2)


def load_key(path):
    for kind in (paramiko.ECDSAKey, paramiko.Ed25519Key, paramiko.RSAKey):
        try:
            return kind.from_private_key_file(path)
        except (paramiko.SSHException, ValueError):
            continue
    raise SystemExit("cannot read the host key " + path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--control", required=True)
    parser.add_argument("--user-hex", required=True)
    parser.add_argument("--password-hex", required=True)
    parser.add_argument("--host-key", required=True)
    parser.add_argument("--authorized-key")
    parser.add_argument("--port", type=int, default=0)
    arguments = parser.parse_args()

    def from_hex(text):
        return bytes.fromhex(text).decode("utf8", "surrogateescape")

    Settings.root = os.path.abspath(arguments.root)
    Settings.control = arguments.control
    Settings.user = from_hex(arguments.user_hex)
    Settings.password = from_hex(arguments.password_hex)
    if arguments.authorized_key:
        with open(arguments.authorized_key) as handle:
            Settings.authorized = base64.b64decode(handle.read().split()[1])
    os.makedirs(Settings.root + LOGIN_FOLDER, exist_ok=True)
    host_key = load_key(arguments.host_key)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", arguments.port))
    listener.listen(16)
    print("READY %d" % listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, host_key), daemon=True).start()


if __name__ == "__main__":
    main()
