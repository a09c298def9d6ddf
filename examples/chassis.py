"""What the examples share: the command line, a PyVISA session on the chassis' command
port, commands and queries that check the error queue after every step, the event port,
and the virtual chassis' own tools when the chassis runs on this machine.

Every example takes the chassis' address and its first port (the command port; the event
port is the next one), defaults 127.0.0.1 and 4444, which is where `scripts/run.sh` puts a
virtual chassis. With --root (or CHASSIS_ROOT) naming that chassis' root, an example works
the simulated hardware itself (fires the trigger input, clocks the digital card); without
it, it prints the `vchassis` command to run from another shell and waits for it.
"""

import argparse
import os
import pathlib
import socket
import struct
import subprocess
import sys
import time

import pyvisa

NO_ERROR = '0,"No error"'

# Event notice bits (a notice is four bytes, least significant first, and a line feed).
SCAN_STARTED = 1 << 0
SCAN_ENDED = 1 << 1


class Failed(Exception):
    """The chassis did not do what the example showed: an unexpected SCPI error, a reply
    other than the one expected, or a step that never came."""


def arguments(description):
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('host', nargs='?', default='127.0.0.1',
                        help='the chassis address (default 127.0.0.1)')
    parser.add_argument('port', nargs='?', type=int, default=4444,
                        help='its command port; events are on the next one (default 4444)')
    parser.add_argument('--root', default=os.environ.get('CHASSIS_ROOT'),
                        help='root of a virtual chassis on this machine: the example then '
                             'works its simulated hardware itself (default: CHASSIS_ROOT)')
    parser.add_argument('--vchassis', default=None,
                        help='the vchassis program (default: build/bin/vchassis of this tree, '
                             'else vchassis on the PATH)')
    parser.add_argument('--wait', type=float, default=120.0,
                        help='seconds to wait for a step you run by hand (default 120)')
    return parser.parse_args()


def say(text=''):
    print(text, flush=True)


class Chassis:
    """A session on the command port. write() and query() print what they send and
    receive, then ask SYST:ERR? and raise Failed unless the queue is empty; query()
    also checks the reply against `expect` (a text, or a test of the reply) when given."""

    def __init__(self, options):
        self.options = options
        self.manager = pyvisa.ResourceManager('@py')
        resource = f'TCPIP::{options.host}::{options.port}::SOCKET'
        say(f'connecting to {resource}')
        self.session = self.manager.open_resource(
            resource, read_termination='\n', write_termination='\n', timeout=10000)
        # The command port greets each client with 0x06 0x0A and then the number the
        # chassis knows this connection by; an event socket registers under that number.
        acknowledge = self.session.read()
        if acknowledge != '\x06':
            raise Failed(f'greeting {acknowledge!r} instead of 0x06')
        self.number = int(self.session.read())
        self.events = None

    def close(self):
        if self.events is not None:
            self.events.close()
        self.session.close()
        self.manager.close()

    def write(self, command):
        say(f'  > {command}')
        self.session.write(command)
        self.check()

    def query(self, command, expect=None):
        reply = self.peek(command)
        self.check()
        if expect is not None and not (expect(reply) if callable(expect) else reply == expect):
            raise Failed(f'{command} answered {reply!r}' +
                         ('' if callable(expect) else f' where {expect!r} was expected'))
        return reply

    def peek(self, command):
        """A query that leaves the error queue alone."""
        say(f'  > {command}')
        reply = self.session.query(command)
        say(f'  < {reply}')
        return reply

    def check(self):
        error = self.session.query('SYST:ERR?')
        if error != NO_ERROR:
            raise Failed(f'unexpected SCPI error {error}')

    def expect_error(self, command, code):
        """Sends a command that must fail with `code`; returns the error it left."""
        say(f'  > {command}')
        self.session.write(command)
        error = self.session.query('SYST:ERR?')
        say(f'  error queue: {error}')
        if not error.startswith(f'{code},'):
            raise Failed(f'SCPI error {error} where {code} was expected')
        return error

    # The event port.

    def listen(self, mask):
        """Opens an event socket for this session with a hexadecimal event mask."""
        events = socket.create_connection((self.options.host, self.options.port + 1),
                                          timeout=10)
        for step in (f'{self.number}\n'.encode(), f'{mask:X}'.encode()):
            self._acknowledged(events)
            events.sendall(step)
        self._acknowledged(events)
        self.events = events
        say(f'  event socket registered for connection {self.number}, mask 0x{mask:X}')

    @staticmethod
    def _acknowledged(events):
        if _read_exactly(events, 2) != b'\x06\n':
            raise Failed('the event port did not acknowledge')

    def next_event(self, timeout):
        """The next notice's bits, or None when none comes within `timeout` seconds."""
        self.events.settimeout(timeout)
        try:
            notice = _read_exactly(self.events, 5)
        except socket.timeout:
            return None
        bits, = struct.unpack('<I', notice[:4])
        return bits

    # The virtual chassis on this machine.

    def can_drive_hardware(self):
        return self.options.root is not None

    def vchassis(self, *words, times=1):
        """Runs a vchassis subcommand `times` times for this chassis' root and prints its
        output; when no root is known, prints the command for the reader instead."""
        program = self.options.vchassis or _default_vchassis()
        if not self.can_drive_hardware():
            repeat = f' {times} times' if times > 1 else ''
            say(f'  from another shell, run{repeat}:  {program} {" ".join(words)} --root <root>')
            return
        for _ in range(times):
            say(f'  $ vchassis {" ".join(words)}')
            done = subprocess.run([program, *words, '--root', self.options.root],
                                  capture_output=True, text=True, check=False)
            for line in done.stdout.splitlines():
                say(f'    {line}')
            if done.returncode != 0:
                raise Failed(f'vchassis {words[0]} failed: {done.stderr.strip()}')


def _read_exactly(connection, count):
    data = b''
    while len(data) < count:
        chunk = connection.recv(count - len(data))
        if not chunk:
            raise Failed('the chassis closed the event socket')
        data += chunk
    return data


def _default_vchassis():
    built = pathlib.Path(__file__).resolve().parent.parent / 'build' / 'bin' / 'vchassis'
    return str(built) if built.exists() else 'vchassis'


def wait_until(condition, seconds, every=0.05):
    """Polls `condition` until it holds or `seconds` pass; returns whether it held."""
    deadline = time.monotonic() + seconds
    while True:
        if condition():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(every)


def run(main, description):
    """Runs an example's main(chassis) and turns its outcome into the exit status: 0 when
    it finished with an empty error queue, 1 when it failed."""
    options = arguments(description)
    try:
        chassis = Chassis(options)
    except (pyvisa.errors.VisaIOError, OSError, ValueError) as problem:
        say(f'cannot reach the chassis at {options.host} port {options.port}: {problem}')
        return 1
    try:
        main(chassis)
        chassis.check()
        say('done: the error queue is empty')
        return 0
    except Failed as problem:
        say(f'FAILED: {problem}')
        return 1
    except pyvisa.errors.VisaIOError as problem:
        say(f'no reply from the chassis: {problem}')
        return 1
    finally:
        chassis.close()


if __name__ == '__main__':
    sys.exit('this module is shared by the examples; run one of them')
