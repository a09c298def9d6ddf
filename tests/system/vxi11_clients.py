#!/usr/bin/python3
"""The chassis as a VXI-11 instrument, driven by clients no one here wrote: Debian's
PyVISA with pyvisa-py (TCPIP::host::INSTR) and lxi-tools (lxi scpi, lxi discover).

The port mapper needs port 111 and discovery needs a broadcast, so the chassis and the
clients run in a network namespace of this test's own: loopback, and a veth pair with a
broadcast address for discovery. No packet reaches the machine's network. Where no
namespace can be made the test is skipped (exit status 77). A second chassis then
finds port 111 held by the system's port mapper (Debian's rpcbind, started in the
namespace on a /run of its own) and registers its core channel there.

    vxi11_clients.py --bin BUILD/bin
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
IDENTITY_START = 'Tellwin Instruments'


def in_namespace(bin_folder):
    """Re-runs this script inside a new network namespace; its exit status."""
    for prefix in (['unshare', '--net', '--mount'],
                   ['unshare', '--user', '--map-root-user', '--net', '--mount']):
        probe = subprocess.run(prefix + ['true'], capture_output=True)
        if probe.returncode == 0:
            env = dict(os.environ, VXI11_NAMESPACE='1')
            return subprocess.run(prefix + [sys.executable, __file__, '--bin', bin_folder],
                                  env=env).returncode
    print('skipped: no network namespace can be made here')
    return SKIP


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=60, **kwargs)


def set_up_network():
    """Loopback, and a veth pair with a broadcast address; True when discovery can run."""
    if run(['ip', 'link', 'set', 'lo', 'up']).returncode != 0:
        raise SystemExit('cannot bring loopback up in the namespace')
    steps = [['ip', 'link', 'add', 'vxi0', 'type', 'veth', 'peer', 'name', 'vxi1'],
             ['ip', 'addr', 'add', '10.77.0.1/24', 'broadcast', '10.77.0.255', 'dev', 'vxi0'],
             ['ip', 'addr', 'add', '10.77.0.2/24', 'broadcast', '10.77.0.255', 'dev', 'vxi1'],
             ['ip', 'link', 'set', 'vxi0', 'up'], ['ip', 'link', 'set', 'vxi1', 'up']]
    return all(run(step).returncode == 0 for step in steps)


class Chassis:
    def __init__(self, bin_folder):
        self.root = tempfile.mkdtemp(prefix='vxi11-clients-')
        self.process = subprocess.Popen(
            [os.path.join(bin_folder, 'vchassis'), 'run', '--root', self.root,
             '--port-base', '5000', '--bind', '0.0.0.0'],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = []
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                break
            self.lines.append(line.rstrip('\n'))
            if line.startswith('vchassis: VXI-11 resource'):
                return
        self.stop()
        raise SystemExit('the chassis did not come up:\n' + '\n'.join(self.lines))

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
        shutil.rmtree(self.root, ignore_errors=True)


failures = []


def check(condition, what):
    print(('ok    ' if condition else 'FAIL  ') + what)
    if not condition:
        failures.append(what)


def pyvisa_checks():
    import pyvisa
    rm = pyvisa.ResourceManager('@py')
    first = rm.open_resource('TCPIP::127.0.0.1::INSTR')
    second = rm.open_resource('TCPIP::127.0.0.1::inst0::INSTR')
    first.timeout = second.timeout = 5000

    check(first.query('*IDN?').startswith(IDENTITY_START), '*IDN? with no termination set')
    long_command = ';'.join(['*ESE 1'] * 1428) + ';*ESE?'
    check(len(long_command) >= 10000 and first.query(long_command).strip() == '1',
          'a command of %d bytes' % len(long_command))

    first.write('*IDN?')
    check(first.read_stb() & 0x10 == 0x10, 'read_stb: MAV while a response is unread')
    first.read()
    check(first.read_stb() & 0x10 == 0, 'read_stb: no MAV once it is read')

    first.write('*IDN?')
    first.clear()
    check(first.read_stb() & 0x10 == 0, 'clear() dropped the unread response')
    after = first.query('*ESE?').strip()
    check(after == '1', 'a query after clear() is answered: ' + after)

    first.write('TRIG:SOUR BUS;COUN 2;:ROUT:SCAN (@1(100),1(101));:INIT')
    first.assert_trigger()
    check(first.query('ROUT:CLOS? (@1(100))').strip() == '1', 'assert_trigger() steps a BUS scan')
    first.write('ABOR;:ROUT:SCAN:CLE;:OPEN:ALL')

    first.lock_excl()
    try:
        second.lock_excl(timeout=200)
        check(False, 'a second lock_excl() fails while the first holds the lock')
    except pyvisa.errors.VisaIOError as error:
        check('LOCKED' in str(error.abbreviation), 'a second lock_excl() fails: ' + error.abbreviation)
    # pyvisa-py reports every refused write but a time-out as VI_ERROR_IO; the server
    # refused it as locked (error 11), which the unit tests check on the wire.
    try:
        second.write('*ESE 4')
        check(False, 'a write of the second session fails while locked')
    except pyvisa.errors.VisaIOError as error:
        check(error.abbreviation in ('VI_ERROR_RSRC_LOCKED', 'VI_ERROR_IO'),
              'a locked write fails: ' + error.abbreviation)
    first.unlock()
    second.write('*ESE 4')
    check(second.query('*ESE?').strip() == '4', 'the second session writes after unlock()')

    first.write('FOO:BAR')
    other = second.query('SYST:ERR?').strip()
    check(other == '0,"No error"', "an error stays out of another session's queue: " + other)
    own = first.query('SYST:ERR?').strip()
    check(own.startswith('-110,'), "an error lands in its own session's queue: " + own)
    first.close()
    second.close()
    rm.close()


def lxi_checks(discovery):
    scpi = run(['lxi', 'scpi', '--address', '127.0.0.1', '*IDN?'])
    check(scpi.returncode == 0 and IDENTITY_START in scpi.stdout,
          'lxi scpi (VXI-11): ' + (scpi.stdout + scpi.stderr).strip())
    if not discovery:
        print('skipped: lxi discover (no veth pair in this namespace)')
        return
    found = run(['lxi', 'discover', '--timeout', '2'])
    check('10.77.0.1' in found.stdout and IDENTITY_START in found.stdout,
          'lxi discover: ' + found.stdout.strip().replace('\n', ' | '))


def rpcbind_checks(bin_folder):
    """The port mapper's port held by rpcbind: the chassis registers with it."""
    if shutil.which('rpcbind') is None:
        print('skipped: rpcbind (not installed)')
        return
    if run(['mount', '-t', 'tmpfs', 'tmpfs', '/run']).returncode != 0:
        print('skipped: rpcbind (no /run of its own)')
        return
    os.makedirs('/run/rpcbind', exist_ok=True)
    rpcbind = subprocess.Popen(['rpcbind', '-f', '-w'])
    try:
        for _ in range(50):
            if run(['rpcinfo', '-p', '127.0.0.1']).returncode == 0:
                break
            time.sleep(0.1)
        chassis = Chassis(bin_folder)
        try:
            check("this machine's rpcbind" in chassis.lines[-1], 'registered: ' + chassis.lines[-1])
            import pyvisa
            rm = pyvisa.ResourceManager('@py')
            session = rm.open_resource('TCPIP::127.0.0.1::INSTR')
            session.timeout = 5000
            check(session.query('*IDN?').startswith(IDENTITY_START), 'PyVISA through rpcbind')
            session.close()
            rm.close()
        finally:
            chassis.stop()
        mappings = run(['rpcinfo', '-p', '127.0.0.1']).stdout
        check('395183' not in mappings, 'the mapping is withdrawn when the chassis stops')
    finally:
        rpcbind.terminate()
        rpcbind.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', required=True)
    options = parser.parse_args()
    bin_folder = os.path.abspath(options.bin)
    if os.environ.get('VXI11_NAMESPACE') != '1':
        return in_namespace(bin_folder)
    discovery = set_up_network()
    chassis = Chassis(bin_folder)
    try:
        print('\n'.join(chassis.lines[-3:]))
        pyvisa_checks()
        lxi_checks(discovery)
    finally:
        chassis.stop()
    rpcbind_checks(bin_folder)
    print('%d checks failed' % len(failures) if failures else 'every check passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
