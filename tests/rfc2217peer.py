#!/usr/bin/env python3
"""An RFC 2217 converter for tests, on 127.0.0.1: pyserial's own server side over a loop port.

Prints "port N control M" once listening. Takes one client at a time on port N; its data comes
straight back. The test talks to it on the control port M, a plain TCP connection, the same from
a Linux test and from one under Wine: each change of the line settings the client makes is sent
there as a line "settings baud=B databits=D parity=P stopbits=S" (pyserial's values: P in
N,O,E,M,S; S in 1,1.5,2), and a line "drop" received there ends the current client's connection.
It ends when the control connection closes (or none came within 20 s), and when its standard
input closes, so that a test's QProcess ending ends it too (not with --control-only).
"""
import os
import socket
import sys
import threading

try:
    import serial
    import serial.rfc2217
except ImportError:
    # A Python of its own (pyenv, venv) first on PATH does not see Debian's python3-serial.
    if os.path.exists('/usr/bin/python3') and os.path.realpath(sys.executable) != os.path.realpath('/usr/bin/python3'):
        os.execv('/usr/bin/python3', ['/usr/bin/python3', os.path.abspath(__file__)] + sys.argv[1:])
    raise


class Client:
    """One connection: the socket, a fresh loop port, and pyserial's Telnet state between them."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()
        self.port = serial.serial_for_url('loop://', timeout=0.05)
        self.alive = True
        # Sends its opening negotiation at once, through write() below.
        self.manager = serial.rfc2217.PortManager(self.port, self)

    def write(self, data):
        # Telnet answers come from the socket's thread, echoed data from the loop's: one at a time.
        with self.lock:
            self.sock.sendall(data)

    def drop(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def settings(self):
        p = self.port
        return 'settings baud={} databits={} parity={} stopbits={}'.format(
            p.baudrate, p.bytesize, p.parity, p.stopbits)

    def echo(self):
        try:
            while self.alive:
                data = self.port.read(self.port.in_waiting or 1)
                if data:
                    self.write(b''.join(self.manager.escape(data)))
        except (OSError, serial.SerialException):
            pass
        self.alive = False

    def run(self):
        echo = threading.Thread(target=self.echo, daemon=True)
        echo.start()
        last = self.settings()
        try:
            while self.alive:
                chunk = self.sock.recv(4096)
                if not chunk:
                    break
                data = b''.join(self.manager.filter(chunk))
                now = self.settings()
                if now != last:
                    control.send(now)
                    last = now
                if data:
                    self.port.write(data)
        except OSError:
            pass
        self.alive = False
        echo.join()
        self.port.close()
        self.sock.close()


class Control:
    """The test's connection: settings lines out, "drop" in; its end is ours."""

    def __init__(self, listener):
        self.listener = listener
        self.sock = None
        self.client = None

    def send(self, line):
        if self.sock:
            try:
                self.sock.sendall((line + '\n').encode())
            except OSError:
                pass

    def run(self):
        self.listener.settimeout(20)
        try:
            self.sock, _ = self.listener.accept()
        except OSError:
            os._exit(1)
        buffered = b''
        while True:
            chunk = self.sock.recv(4096)
            if not chunk:
                os._exit(0)
            buffered += chunk
            while b'\n' in buffered:
                line, buffered = buffered.split(b'\n', 1)
                if line.strip() == b'drop' and self.client:
                    self.client.drop()


def listening():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(('127.0.0.1', 0))
    s.listen(1)
    return s


control = None


def main():
    global control
    server = listening()
    control = Control(listening())
    print('port {} control {}'.format(server.getsockname()[1], control.listener.getsockname()[1]), flush=True)

    def watch_stdin():
        while sys.stdin.buffer.read1(4096):
            pass
        os._exit(0)

    # Started in the background (by the Windows tests' host side), its input is nothing.
    if '--control-only' not in sys.argv[1:]:
        threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Thread(target=control.run, daemon=True).start()
    while True:
        sock, _ = server.accept()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        client = Client(sock)
        control.client = client
        client.run()


if __name__ == '__main__':
    main()
