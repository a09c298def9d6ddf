#!/usr/bin/python3
"""Servers that die are started again by the controller, while clients of every
interface keep asking. Against a virtual chassis on loopback:

  restarts   each server in turn (lanlink, buslink, usblink, the web server) is killed
             with SIGKILL while a raw-port client, a GPIB and a USB controller and a web
             console client each send *IDN? in a loop: the killed server's clients are
             served again within 2 s of the kill, the other interfaces' clients get
             every reply, the relay coils do not change and the event log names the
             restart (the web server is a client of the LAN server: it counts with the
             LAN when lanlink is killed)
  early      buslink killed, then its new process killed before it opened its FIFOs
             (held in its device open by the stopped simulation): it is started a
             third time all the same
  budget     lanlink killed until it has ended six times within a minute: five
             restarts, then it is left stopped, the event log says so, the LAN
             indicator shows a fault and GPIB and USB still answer

    self_healing.py --bin BUILD/bin

Exit status 0 when every check passes, 1 when one fails.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_browser import Chassis, RawClient, chassis_process, http, wait_for, weblink_pid  # noqa: E402

IDENTITY_START = 'Tellwin Instruments'
RECOVERY_LIMIT = 2.0  # seconds from the kill until the killed server's clients are served


def children(parent):
    """{program name: pid} of the processes whose parent is `parent`."""
    found = {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open('/proc/%s/stat' % entry) as file:
                stat = file.read()
        except OSError:
            continue
        name = stat[stat.index('(') + 1:stat.rindex(')')]
        fields = stat[stat.rindex(')') + 2:].split()
        if int(fields[1]) == parent and fields[0] != 'Z':
            found[name] = int(entry)
    return found


def successor(controller, name, old):
    """The pid of the `name` child of `controller` when it is another than `old`, or None."""
    pid = children(controller).get(name)
    return pid if pid not in (None, old) else None


def controller_pid(root):
    pid = chassis_process(root, 'instctl')
    if pid is None:
        raise AssertionError('no controller runs for ' + root)
    return pid


class Asker(threading.Thread):
    """Sends *IDN? through one interface in a loop; keeps (time, reply or error)."""

    def __init__(self, name, ask):
        super().__init__(daemon=True)
        self.name, self.ask = name, ask
        self.results = []
        self.running = True

    def run(self):
        while self.running:
            try:
                reply = self.ask()
                ok = reply.startswith(IDENTITY_START)
                self.results.append((time.monotonic(), ok, reply))
            except Exception as error:  # a refused or dropped connection is a result too
                self.results.append((time.monotonic(), False, repr(error)))
                time.sleep(0.02)

    def failures(self, since):
        return [r for r in self.results if r[0] >= since and not r[1]]



class Test:
    def __init__(self, chassis):
        self.chassis = chassis
        self.raw = None
        self.vchassis = os.path.join(chassis.bin, 'vchassis')

    def raw_ask(self):
        if self.raw is None:
            self.raw = RawClient(self.chassis.raw_port)
        try:
            return self.raw.ask('*IDN?')
        except Exception:
            self.raw.close()
            self.raw = None
            raise

    def bus_ask(self, bus, timeout=5):
        result = subprocess.run([self.vchassis, bus, 'send', '*IDN?', '--timeout', str(timeout),
                                 '--root', self.chassis.root], capture_output=True, text=True, timeout=20)
        return result.stdout.strip() if result.returncode == 0 else 'failed: ' + result.stderr.strip()

    def web_ask(self):
        status, _, body = http(self.chassis.url + '/api/scpi', b'*IDN?', headers={'Content-Type': 'text/plain'})
        return json.loads(body).get('reply', '') if status == 200 else 'status %d' % status

    def probe(self, name):
        """One fresh request through interface `name`: True when it was served. A request
        that was on its way when its server died is lost, so the busy clients' own
        requests cannot tell when the interface serves again; a new one can."""
        try:
            if name == 'lan':
                return self.raw_served()
            if name == 'web':
                return self.web_ask().startswith(IDENTITY_START)
            return self.bus_ask(name, timeout=1).startswith(IDENTITY_START)
        except Exception:
            return False

    def events(self):
        with open(os.path.join(self.chassis.root, 'mnt/nonv/events/eventlist.evt')) as file:
            return file.read()

    def coils(self):
        return self.chassis.control('coils', '1')

    def check_restarts(self):
        raw = RawClient(self.chassis.raw_port)
        raw.send('CLOS (@1(100,205,1107))')
        errors = raw.errors()
        assert raw.ask('CLOS? (@1(100,205,1107))') == '1 1 1' and not errors, 'the relays did not close: %r' % errors
        raw.close()
        coils = self.coils()
        askers = {'lan': Asker('lan', self.raw_ask), 'gpib': Asker('gpib', lambda: self.bus_ask('gpib')),
                  'usb': Asker('usb', lambda: self.bus_ask('usb')), 'web': Asker('web', self.web_ask)}
        for asker in askers.values():
            asker.start()
        # Which clients a kill may reach: the web server talks to the LAN server.
        rows = [('lanlink', ('lan', 'web')), ('buslink', ('gpib',)), ('usblink', ('usb',)),
                ('appweb', ('web',))]
        report = []
        try:
            wait_for('every client served', lambda: all(a.results for a in askers.values()), 20)
            for program, reached in rows:
                time.sleep(0.5)
                controller = controller_pid(self.chassis.root)
                pid = weblink_pid(self.chassis.root) if program == 'appweb' else children(controller)[program]
                killed_at = time.monotonic()
                os.kill(pid, signal.SIGKILL)
                line = 'Server %s ended (killed by signal 9 SIGKILL), restarted' % program
                times = []
                for name in reached:
                    wait_for(name + ' served after the kill', lambda: self.probe(name), 10)
                    took = time.monotonic() - killed_at
                    assert took <= RECOVERY_LIMIT, '%s clients served %.2f s after %s was killed' % (
                        name, took, program)
                    times.append('%s %.2f s' % (name, took))
                wait_for(program + ' restarted in the event log', lambda: line in self.events(), 10)
                time.sleep(0.3)
                for name, asker in askers.items():
                    lost = asker.failures(killed_at)
                    assert name in reached or not lost, '%s clients failed while %s restarted: %r' % (
                        name, program, lost[:3])
                report.append('%s (%s)' % (program, ', '.join(times)))
        finally:
            for asker in askers.values():
                asker.running = False
            for asker in askers.values():  # no request of theirs reaches the next check
                asker.join(30)
        assert self.coils() == coils, 'the coils changed: %r, were %r' % (self.coils(), coils)
        return 'served again after the kill of ' + '; '.join(report)

    def check_early(self):
        # buslink opens its device before its FIFOs: with the simulated hardware
        # stopped, a new buslink cannot get as far as its FIFOs and is killed there.
        controller = controller_pid(self.chassis.root)
        first = wait_for('buslink running', lambda: children(controller).get('buslink'), 10)
        os.kill(self.chassis.process.pid, signal.SIGSTOP)
        try:
            os.kill(first, signal.SIGKILL)
            second = wait_for('buslink restarted', lambda: successor(controller, 'buslink', first), 10)
            time.sleep(0.2)
            os.kill(second, signal.SIGKILL)
        finally:
            os.kill(self.chassis.process.pid, signal.SIGCONT)
        start = time.monotonic()
        wait_for('buslink started a third time',
                 lambda: successor(controller, 'buslink', second), RECOVERY_LIMIT)
        took = time.monotonic() - start
        wait_for('GPIB served after the early kill', lambda: self.probe('gpib'), 10)
        return 'buslink killed before it opened its FIFOs started again in %.2f s' % took

    def check_budget(self):
        # lanlink has ended in the check above: restarts up to the fifth, then a sixth end.
        ended = self.events().count('Server lanlink ended')
        for kill in range(ended, 6):
            controller = controller_pid(self.chassis.root)
            pid = wait_for('lanlink running', lambda: children(controller).get('lanlink'), 10)
            os.kill(pid, signal.SIGKILL)
            if kill < 5:
                wait_for('lanlink restarted',
                         lambda: successor(controller, 'lanlink', pid) and self.raw_served(), 10)
        left = 'Server lanlink ended (killed by signal 9 SIGKILL) 6 times within a minute, left stopped'
        wait_for('lanlink left stopped in the event log', lambda: left in self.events(), 10)
        assert self.events().count('Server lanlink ended') == 6, self.events()
        time.sleep(1.0)
        assert 'lanlink' not in children(controller_pid(self.chassis.root)), 'lanlink runs again'
        indicator = self.chassis.control('lan')
        assert 'indicator: fault' in indicator.splitlines(), indicator
        for bus in ('gpib', 'usb'):  # the other interfaces serve on
            reply = self.bus_ask(bus)
            assert reply.startswith(IDENTITY_START), '%s with lanlink left stopped: %s' % (bus, reply)
        return 'five restarts, then left stopped; LAN indicator at fault; GPIB and USB serve on'

    def raw_served(self):
        try:
            client = RawClient(self.chassis.raw_port)
            try:
                return client.ask('*IDN?').startswith(IDENTITY_START)
            finally:
                client.close()
        except Exception:
            return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', required=True)
    arguments = parser.parse_args()
    chassis = Chassis(arguments.bin)
    failed = 0
    try:
        test = Test(chassis)
        for name in ('restarts', 'early', 'budget'):
            try:
                print('%-9s ok: %s' % (name, getattr(test, 'check_' + name)()), flush=True)
            except AssertionError as error:
                failed += 1
                print('%-9s FAILED: %s' % (name, error), flush=True)
    finally:
        chassis.stop()
    if failed:
        print('\n'.join(chassis.lines[-40:]))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
