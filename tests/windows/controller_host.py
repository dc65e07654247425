#!/usr/bin/env python3
"""The controller host of the end-to-end suite under Wine.

The suite runs as a Windows program and reaches its controller through
Wine's COM1; the controller is the Linux vantor-sim, which a Windows program
cannot start. This host starts it for each case, on the case's options, with
its device linked as COM1 of the Wine prefix, and passes the case's
questions to vantor-sim's --control. It serves one case at a time on
127.0.0.1, one request line answered by one line:

  start ["--version", "1.28", ...]   vantor-sim with these options; "ok"
  sim report | sim vanish            vantor-sim's --control answers
  unplug N                           COMN leads to a device that is not there; "ok"
  stop                               vantor-sim ends; "ok"

A case ends with its connection; whatever it started ends with it.

  controller_host.py VANTOR_SIM DOSDEVICES LOG_DIR PORT_FILE
"""

import json
import os
import select
import signal
import socket
import subprocess
import sys
import time

ANSWER_SECONDS = 30


class Simulator:
    def __init__(self, program, link, arguments, log_path):
        self.link = link
        self.log_path = log_path
        try:
            os.unlink(link)
        except FileNotFoundError:
            pass
        with open(log_path, "ab") as log:
            self.process = subprocess.Popen(
                [program, "--control", "--verbose", "--link", link] + arguments,
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log)
        self.pending = b""
        self.read_line()  # the device path, printed once the link is there

    def read_line(self):
        deadline = time.monotonic() + ANSWER_SECONDS
        fd = self.process.stdout.fileno()
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            ready = select.select([fd], [], [], max(left, 0))[0] if left > 0 else []
            chunk = os.read(fd, 65536) if ready else b""
            if not chunk:
                raise RuntimeError("vantor-sim said nothing (%s): %s" % (
                    "ended" if ready else "no answer in time", self.log_tail()))
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line

    def command(self, text):
        self.process.stdin.write(text.encode() + b"\n")
        self.process.stdin.flush()
        return self.read_line()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except OSError:
                pass
        try:
            os.unlink(self.link)
        except FileNotFoundError:
            pass

    def log_tail(self):
        try:
            with open(self.log_path, "rb") as log:
                return log.read()[-2000:].decode(errors="replace")
        except OSError:
            return ""


def serve(connection, case, program, dosdevices, log_dir):
    simulator = None
    unplugged = {}  # link -> what it held before
    reader = connection.makefile("rb")
    try:
        for raw in reader:
            request = raw.decode().strip()
            word, _, rest = request.partition(" ")
            try:
                if word == "start":
                    if simulator:
                        raise RuntimeError("a controller runs already")
                    simulator = Simulator(program, os.path.join(dosdevices, "com1"), json.loads(rest),
                                          os.path.join(log_dir, "case-%d.log" % case))
                    answer = b"ok"
                elif word == "sim":
                    if not simulator:
                        raise RuntimeError("no controller runs")
                    answer = simulator.command(rest)
                elif word == "unplug":
                    link = os.path.join(dosdevices, "com%d" % int(rest))
                    if link not in unplugged:
                        unplugged[link] = os.readlink(link) if os.path.islink(link) else None
                    if os.path.lexists(link):
                        os.unlink(link)
                    os.symlink("/dev/quobin-gone", link)
                    answer = b"ok"
                elif word == "stop":
                    if simulator:
                        simulator.stop()
                        simulator = None
                    answer = b"ok"
                else:
                    raise RuntimeError("unknown request " + request)
            except (RuntimeError, OSError, ValueError) as error:
                answer = ("error: %s" % error).encode()
            connection.sendall(answer.replace(b"\n", b" ") + b"\n")
    except OSError:
        pass
    finally:
        if simulator:
            simulator.stop()
        for link, target in unplugged.items():
            if os.path.lexists(link):
                os.unlink(link)
            if target is not None:
                os.symlink(target, link)
        connection.close()


def main():
    program, dosdevices, log_dir, port_file = sys.argv[1:5]
    # Stopped by the test script: the case's simulator ends with the host.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    with open(port_file + ".new", "w") as out:
        out.write("%d\n" % server.getsockname()[1])
    os.rename(port_file + ".new", port_file)
    case = 0
    while True:
        connection, _ = server.accept()
        case += 1
        serve(connection, case, program, dosdevices, log_dir)


if __name__ == "__main__":
    main()
