#!/usr/bin/python3
"""Stored files survive a kill -9 of the controller at any moment of their store.

On a virtual chassis on loopback, this thread stores a new value of each kind below over
the raw port, again and again, while a second thread kills the controller and all it
started at random moments (`vchassis controller-restart`). After each restart, storing
paused, every stored file must be whole: as its last acknowledged store left it, or as
the store the kill cut off leaves it (learnt by storing the same again); the event log
may also end in the new start's "Power-on" entry. A "<file>.tmp" that a kill left (or the
stale one set-up puts beside each file) is allowed but is never taken for the file: what
the restarted controller holds, queried back, must be what the file holds.

Kinds: saved states 0 (recalled at power-on) and 4, include and exclude lists and the
exclude autorecall, paths, verify masks, module names, the scan list, the event log, LAN
description, keepalive and address, and the web user list, which the LAN reset button
(held 5 s, so every 50 kills) restores with the LAN settings. No command stores the fan
thresholds, so they are not among them.

    store_kills.py --bin BUILD/bin [--kills N] [--seed S] [--corrupt FILE]

--corrupt cuts FILE (under the root) in half before the last kill: the run must fail.
Exit status 0 when every check passes, 1 when one fails.
"""
import argparse
import hashlib
import os
import random
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_browser import WEB_USER, Chassis, RawClient, wait_for  # noqa: E402

NONV = 'mnt/nonv/'
CONFIG = NONV + 'config/'
LAN = CONFIG + 'lan/'
EVENTS = NONV + 'events/eventlist.evt'
USERS = NONV + 'appweb/users.db'
FACTORY_USERS = 'etc/appweb/factory_default_users.db'
# Stored once at set-up, for the power-on recalls; checked like the others.
AUTORECALLS = {'INCL:REC:AUTO ON': CONFIG + 'include_list/include_settings',
               'VER:REC:STAT ON': CONFIG + 'verify_masks/verify_mask_autorecall',
               'MOD:REC:STAT ON': CONFIG + 'module_names/module_name_autorecall',
               'ROUT:SCAN:REC:AUTO ON': CONFIG + 'scan_list/scan_autorecall'}
# The relays states and scan lists use; interlock groups keep to slots 2 and 12, so no
# group changes what a state closes.
RELAYS = [(1, c) for c in range(100, 108)] + [(9, c) for c in range(8)]
RELAY_LIST = '(@1(100:107),9(0:7))'
HOLD = 5.3          # the LAN reset acts on a release after at least 5 s down
RESET_EVERY = 50    # kills from one LAN reset to the next
ENTRY = r'\d+/\d+/\d+ \d+:\d+:\d+,(.*)'  # an event log line; the group is its text


class Cut(Exception):
    """The connection ended before the store's answer; args[0]: it had been sent."""


class Failure(Exception):
    pass


def relay_text(relays):
    return ','.join('%d(%d)' % relay for relay in relays)


def fields(pattern, text):
    """The groups of each whole line of `text` that `pattern` matches."""
    return re.findall('^%s$' % pattern, text, re.M)


def closed(text):
    """'0 1 ...' for RELAYS as a saved state file has them."""
    shut = {(int(slot), int(channel)) for slot, channels in fields(r'Slot (\d+): \w+: (.*)', text)
            for channel in channels.split() if channel != 'NONE'}
    return ' '.join('1' if relay in shut else '0' for relay in RELAYS)


def log_entries(text):
    """The entry lines of a whole event log file, or None."""
    head, _, rest = (text or '').partition('\n')
    declared = re.fullmatch(r'NUMBER OF EVENTS = (\d+)', head)
    lines = rest.splitlines(keepends=True)
    if declared and len(lines) == int(declared.group(1)) and all(re.fullmatch(ENTRY + '\n', e) for e in lines):
        return lines
    return None


def paths_loaded(test, snap):
    _, name, lists = snap[NONV + 'paths/path_defs'].splitlines()[0].split(' ', 2)
    names = test.ask('PATH:REC;:PATH:CAT?')  # paths are not recalled at power-on
    return (names + ' ' + test.ask('PATH:DEF? ' + name) if names == name else names), name + ' ' + lists


def events_loaded(test, snap):
    texts = fields(ENTRY, ''.join(log_entries(snap[EVENTS])))
    asked = [test.ask('SYST:EVEN:COUN?')] + [test.ask('SYST:EVEN? %d' % n) for n in range(1, len(texts) + 1)]
    return asked, [str(len(texts))] + ['%d,%s' % (n, text) for n, text in enumerate(texts, 1)]


class Kind:
    """One row: the files a store writes, make(rng, file) -> the program messages of a
    new store (None: the LAN reset button), loaded(test, files) -> (what the controller
    holds, what the files say), predict(files before) -> the files after, where storing
    again after a kill cannot tell them, and due(test): whether to store now."""

    def __init__(self, name, files, make, loaded, predict=None, due=None):
        self.name, self.files, self.make, self.loaded, self.predict = name, files, make, loaded, predict
        self.due = due or (lambda test: True)
        self.last = None
        self.stores = self.cut = self.old = self.new = 0

    def fresh(self, rng, known):
        for _ in range(50):  # unlike the last value, so that old and new differ
            messages = self.make(rng, known)
            if messages != self.last:
                break
        self.last = messages
        return messages


def state(number):
    path = CONFIG + 'states/state%d.txt' % number
    recall = '*RCL %d;' % number if number else ''  # state 0 came back at power-on
    return Kind('state %d' % number, [path],
                lambda r, k: ['OPEN:ALL', 'CLOS (@%s)' % relay_text(r.sample(RELAYS, 3)), '*SAV %d' % number],
                lambda t, s: (t.ask(recall + 'CLOS? ' + RELAY_LIST), closed(s[path])))


def interlock(word, slot, autorecall=None):
    path, head = CONFIG + '%s_list/%s_list.lst' % (word, word), word[:4].upper()
    return Kind(word + ' list', [path],
                lambda r, k: [head + ':DEL:ALL', '%s (@%s)' % (head, relay_text(
                    (slot, c) for c in sorted(r.sample(range(8), 2)))), head + ':STOR'],
                lambda t, s: (t.ask(head + '?'), '' if s[path].endswith('NONE\n') or
                              (autorecall and s[autorecall] != 'AUTORECALL=1') else s[path].splitlines()[-1]))


def kinds(factory_users):
    auto, masks = CONFIG + 'exclude_list/exclude_settings', CONFIG + 'verify_masks/verify_mask_data'
    names, scan = CONFIG + 'module_names/module_name_defs', NONV + 'scanlists/scanlist.scn'
    lan = [LAN + 'description', LAN + 'keepalive', LAN + 'ipaddress']
    return [
        state(0), state(4), interlock('include', 2), interlock('exclude', 12, auto),
        Kind('exclude autorecall', [auto], lambda r, k: ['EXCL:REC:AUTO ' + ('OFF' if k == 'AUTORECALL=1' else 'ON')],
             lambda t, s: (t.ask('EXCL:REC:AUTO?'), s[auto].replace('AUTORECALL=', ''))),
        Kind('paths', [NONV + 'paths/path_defs'],
             lambda r, k: ['PATH:DEL:ALL', 'PATH:DEF P%d,(@1(%d),2(%d))' % (
                 r.randrange(1000), r.randrange(100, 108), r.randrange(8)), 'PATH:STOR'], paths_loaded),
        Kind('verify masks', [masks],
             lambda r, k: ['VER:MASK (@1(100:107)),NORMAL', 'VER:MASK (@%s),INV' % relay_text(
                 (1, c) for c in r.sample(range(100, 108), 3)), 'VER:STOR'],
             lambda t, s: (t.ask('VER:MASK? (@1(100:107))'), ' '.join(s[masks].split(': ', 2)[2].split()[:8]))),
        Kind('module names', [names],
             lambda r, k: ['MOD:DEL:ALL', 'MOD:DEF M%d,%d' % (r.randrange(1000), r.choice((1, 2, 3, 9, 12))),
                           'MOD:SAVE'],
             lambda t, s: (t.ask('MOD:CAT?'), ','.join(n for n in fields(r'SLOT \d+ :(.*):', s[names]) if n))),
        Kind('scan list', [scan], lambda r, k: ['ROUT:SCAN (@%s)' % relay_text(r.sample(RELAYS, 3)), 'ROUT:SCAN:STOR'],
             lambda t, s: (t.ask('ROUT:SCAN?'), '(@%s)' % ','.join(fields(r'CHANNEL: (.+),NONE', s[scan])))),
        # Every start logs "Power-on"; the log is cleared once it has more than 8 entries.
        Kind('event log', [EVENTS], lambda r, k: ['SYST:EVEN:CLE:ALL'], events_loaded,
             lambda before: {EVENTS: 'NUMBER OF EVENTS = 0\n'}, lambda t: len(log_entries(t.known[EVENTS]) or []) > 8),
        Kind('LAN description', [lan[0]],
             lambda r, k: ['SYST:COMM:LAN:DESC "Stored %d ""quoted"" %s"' % (r.randrange(999), '-' * r.randrange(200))],
             lambda t, s: (t.ask('SYST:COMM:LAN:DESC?'), '"%s"' % s[lan[0]].replace('"', '""'))),
        Kind('LAN keepalive', [lan[1]], lambda r, k: ['SYST:COMM:LAN:KEEP %d' % r.randrange(120, 3600)],
             lambda t, s: (t.ask('SYST:COMM:LAN:KEEP?'), s[lan[1]])),
        Kind('LAN address', [lan[2]], lambda r, k: ['SYST:COMM:LAN:MAN:IPAD "10.%d.%d.%d"' % (
             r.randrange(256), r.randrange(256), r.randrange(1, 255))],
             lambda t, s: (t.ask('SYST:COMM:LAN:MAN:IPAD?'), s[lan[2]] or 'NONE')),
        # The web server checks each login against the file: the factory user gets in
        # exactly when it is the factory list.
        Kind('web users', [USERS] + lan, None, lambda t, s: (t.web_login(), 200 if s[USERS] == factory_users else 401),
             lambda before: dict(zip([USERS] + lan, [factory_users, 'Backup Firmware', '3600', ''])),
             lambda t: t.done_kills >= t.next_reset),
    ]


class Test:
    def __init__(self, chassis, kills, seed, corrupt):
        self.chassis, self.root, self.kills, self.corrupt = chassis, chassis.root, kills, corrupt
        self.rng, self.kill_rng = random.Random(seed), random.Random(seed + 1)
        self.kinds = kinds(self.read([FACTORY_USERS])[FACTORY_USERS])
        self.tracked = sorted({p for kind in self.kinds for p in kind.files} | set(AUTORECALLS.values()))
        self.gen = self.done_kills = self.next_reset = 0  # gen: kills made, counted before each
        self.tmp_seen = set()
        self.gate = threading.Lock()  # held while the LAN button is down: no kill then
        self.restarted, self.checked = threading.Event(), threading.Event()
        self.killer_done = self.stop = False
        self.failure = None
        self.client = RawClient(chassis.raw_port)

    def read(self, paths):
        found = {}
        for path in paths:
            try:
                with open(os.path.join(self.root, path), 'rb') as file:
                    found[path] = file.read().decode('latin-1')
            except FileNotFoundError:
                found[path] = None
        return found

    def ask(self, query):
        self.client.send(query)
        reply = self.client.line(30)  # generous: sanitizer builds are slow
        if reply is None:
            raise AssertionError('no reply to ' + query)
        return reply

    def web_login(self):
        passwords = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        passwords.add_password(None, self.chassis.url, *WEB_USER)
        opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(passwords))

        def status():
            try:  # an empty form changes nothing
                return opener.open(self.chassis.url + '/lan', b'', timeout=5).status
            except urllib.error.HTTPError as error:
                return error.code
            except OSError:  # not serving yet
                return None
        return wait_for('the web server', status, 15, 0.1)

    def peer_gone(self):
        try:
            ready, _, _ = select.select([self.client.sock], [], [], 0)
            return bool(ready) and self.client.sock.recv(1, socket.MSG_PEEK) == b''
        except OSError:
            return True

    def store(self, kind, again=False):
        """Stores a new value of `kind` (or the last one again); returns its files."""
        if kind.make is None:
            return self.lan_reset(kind)
        messages = kind.last if again else kind.fresh(self.rng, self.known[kind.files[0]])
        self.before = {p: self.known[p] for p in kind.files}
        if self.peer_gone():
            raise Cut(False)
        try:
            for message in messages:
                self.client.send(message)
            errors = []
            while not errors or not errors[-1].startswith('0,'):
                errors.append(self.ask('SYST:ERR?'))
        except (OSError, AssertionError):
            raise Cut(True)
        if errors[:-1]:
            raise Failure('%s: %r gave %r' % (kind.name, messages, errors[:-1]))
        if kind.predict is None:
            return self.read(kind.files)
        after, found = kind.predict(self.before), self.read(kind.files)
        if found != after and self.gen == self.done_kills:  # no new start has logged since
            raise Failure('%s: %r left %r, expected %r' % (kind.name, messages, found, after))
        return after

    def lan_reset(self, kind):
        # First the user list as an administrator leaves it: another password.
        edited = 'admin:4410X:%s\n' % hashlib.md5(b'admin:4410X:edited%d' % kind.stores).hexdigest()
        with open(os.path.join(self.root, USERS + '.edited'), 'w') as file:
            file.write(edited)
        os.replace(os.path.join(self.root, USERS + '.edited'), os.path.join(self.root, USERS))
        self.known[USERS] = edited
        self.before = {p: self.known[p] for p in kind.files}
        self.next_reset = self.done_kills + RESET_EVERY  # a reset a kill cuts waits for its next turn
        with self.gate:
            if self.gen != self.done_kills:
                raise Cut(False)
            self.chassis.control('lan-button', 'press')
            time.sleep(HOLD)
            self.chassis.control('lan-button', 'release')
        after, deadline = kind.predict(self.before), time.monotonic() + 15
        while self.read(kind.files) != after:
            if self.gen != self.done_kills:
                raise Cut(True)
            if time.monotonic() > deadline:
                raise Failure('the LAN reset left %r, expected %r' % (self.read(kind.files), after))
            time.sleep(0.02)
        return after

    def expect(self, path, found, candidates):
        """The label of the (label, content) candidate `found` is; or Failure."""
        for label, text in candidates:
            entries, base = log_entries(found), log_entries(text)
            if path != EVENTS and found == text or path == EVENTS and entries and base is not None and \
                    entries[:len(base)] == base and fields(ENTRY, ''.join(entries[len(base):])) == ['Power-on']:
                return label
        raise Failure('%s after kill %d is %r; expected %s%s' % (
            path, self.done_kills, found, ' or '.join('%s %r' % c for c in candidates),
            ' and a Power-on entry' if path == EVENTS else ''))

    def after_restart(self, kind, before):
        self.restarted.clear()
        self.done_kills += 1
        self.client.close()
        self.client = wait_for('the raw port after the restart', self.connect, 20, 0.05)
        self.ask('*OPC?')  # answered once the card scan and power-on recalls are done
        snap = self.read(self.tracked)
        self.tmp_seen |= {p for p, text in self.read([p + '.tmp' for p in self.tracked]).items()
                          if text not in (None, 'stale\n')}  # left by a kill
        for path in self.tracked:
            if kind is None or path not in kind.files:
                self.expect(path, snap[path], [('old', self.known[path])])
        problems = []
        for row in self.kinds:
            try:
                got, want = row.loaded(self, snap)
            except (AttributeError, IndexError, ValueError, TypeError, AssertionError) as error:
                got, want = repr(error), 'a readable file'
            if got != want:
                problems.append('%s: after kill %d the controller holds %r, %s %r' % (
                    row.name, self.done_kills, got, row.files[0], want))
        self.known.update(snap)
        if kind is not None:
            kind.cut += 1
            try:
                new = kind.predict(before) if kind.predict else self.store(kind, again=True)
            except Cut:
                raise Failure('%s: storing again after kill %d got no answer' % (kind.name, self.done_kills))
            for path in kind.files:
                label = self.expect(path, snap[path], [('old', before[path]), ('new', new[path])])
                if path == kind.files[0]:
                    setattr(kind, label, getattr(kind, label) + 1)
            if kind.predict is None:
                kind.stores += 1
                self.known.update(new)
        if problems:
            raise Failure('; '.join(problems))
        self.checked.set()

    def connect(self):
        try:
            return RawClient(self.chassis.raw_port)
        except OSError:
            return None

    def storer(self):
        turn = 0
        while not self.killer_done:
            if self.restarted.is_set():
                self.after_restart(None, None)
                continue
            kind = self.kinds[turn % len(self.kinds)]
            turn += 1
            if not kind.due(self):
                continue
            try:
                self.known.update(self.store(kind))
                kind.stores += 1
            except Cut as cut:
                if self.gen == self.done_kills:  # a kill is counted before it is made
                    raise Failure('%s: the raw port stopped answering, and no kill was made' % kind.name)
                while not self.restarted.wait(0.1):
                    if self.killer_done:
                        raise Failure(self.failure or 'no restart after kill %d' % self.gen)
                self.after_restart(kind if cut.args[0] else None, self.before)

    def killer(self):
        try:
            for number in range(self.kills):
                time.sleep(self.kill_rng.uniform(0, 0.3))
                if not self.gate.acquire(blocking=False):
                    self.gate.acquire()  # the button was down: kill in its reset (some 50 ms)
                    time.sleep(self.kill_rng.uniform(0, 0.1))
                try:
                    if self.stop:
                        return
                    if number == self.kills - 1 and self.corrupt:
                        with open(os.path.join(self.root, self.corrupt), 'r+b') as file:
                            file.truncate(os.path.getsize(file.name) // 2)
                    self.gen += 1
                    result = subprocess.run([os.path.join(self.chassis.bin, 'vchassis'), 'controller-restart',
                                             '--root', self.root], capture_output=True, text=True, timeout=60)
                finally:
                    self.gate.release()
                if result.returncode or not re.fullmatch(r'instctl \d+ killed, instctl \d+ serves\n', result.stdout):
                    self.failure = 'controller-restart: %d %r %r' % (result.returncode, result.stdout, result.stderr)
                    return
                self.checked.clear()
                self.restarted.set()
                if not self.checked.wait(120):
                    self.failure = self.failure or 'no check within 120 s of kill %d' % self.gen
                if self.stop or self.failure:
                    return
        except (OSError, subprocess.SubprocessError) as error:
            self.failure = 'kill %d: %r' % (self.gen, error)
        finally:
            self.killer_done = True

    def run(self):
        for message in AUTORECALLS:
            self.client.send(message)
        error = self.ask('SYST:ERR?')
        if not error.startswith('0,'):
            raise Failure('set-up: ' + error)
        self.known = self.read(self.tracked)
        for kind in self.kinds:
            if kind.make is not None and kind.due(self):
                self.known.update(self.store(kind))
                kind.stores += 1
        for path in self.tracked:  # a stale .tmp beside each file, never to be taken for it
            with open(os.path.join(self.root, path + '.tmp'), 'w') as file:
                file.write('stale\n')
        killer = threading.Thread(target=self.killer, daemon=True)
        killer.start()
        try:
            self.storer()
        finally:
            self.stop = True  # a killer waiting for a check ends
            self.checked.set()
            killer.join(90)
        if self.failure or not self.done_kills == self.kills:
            raise Failure(self.failure or 'only %d kills were made' % self.done_kills)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--bin', required=True)
    # CHASSIS_STORE_KILLS overrides the count, for runs of the whole suite over and over.
    parser.add_argument('--kills', type=int, default=200)
    parser.add_argument('--seed', type=int, default=random.randrange(10 ** 6))
    parser.add_argument('--corrupt', help='a file under the root, cut in half before the last kill')
    arguments = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # so that the chassis is stopped
    if os.environ.get('CHASSIS_STORE_KILLS', '').isdigit():
        arguments.kills = int(os.environ['CHASSIS_STORE_KILLS'])
    print('seed %d, %d kills' % (arguments.seed, arguments.kills), flush=True)
    started, failed, test = time.monotonic(), None, None
    chassis = Chassis(arguments.bin)
    try:
        test = Test(chassis, arguments.kills, arguments.seed, arguments.corrupt)
        test.run()
    except (Failure, AssertionError, OSError) as error:
        failed = '%s: %s' % (type(error).__name__, error)
    finally:
        chassis.stop()
    for kind in test.kinds if test else []:
        print('%-18s %5d stores, %4d kills during a store: file found old %d, new %d' % (
            kind.name, kind.stores, kind.cut, kind.old, kind.new))
    if test:
        print('%d kills in %.0f s; a kill left a .tmp beside: %s' % (
            test.done_kills, time.monotonic() - started, ', '.join(sorted(test.tmp_seen)) or 'none'))
    if failed:
        print('FAILED: ' + failed + '\n' + '\n'.join(chassis.lines[-30:]))
        return 1
    print('ok: after every kill each stored file was whole, old or new, and loaded by the next start')
    return 0


if __name__ == '__main__':
    sys.exit(main())
