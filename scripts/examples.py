#!/usr/bin/python3
"""Runs every example of examples/ against a fresh virtual chassis, twice: once with the
chassis' root, so that the example works the simulated hardware itself, and once without,
this script then playing the reader who runs the `vchassis` commands the example asks
for from another shell. Fails when an example fails (an unexpected SCPI error or reply
makes it exit with 1) or does not finish.

    scripts/examples.py [EXAMPLE...]     (default: every examples/*.py but chassis.py)
"""

import os
import pathlib
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

TREE = pathlib.Path(__file__).resolve().parent.parent
READY = 'vchassis: ready'
PROMPT = re.compile(r'from another shell, run(?: (\d+) times)?:  (.*) --root <root>$')
EXAMPLE_SECONDS = 120


class VirtualChassis:
    """`scripts/run.sh` on a temporary root and a free port base; stopped with Ctrl-C."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix='examples-')
        self.log = self.root + '.log'
        for _ in range(5):
            self.base = random.randrange(20000, 60000, 3)
            with open(self.log, 'w') as log:
                self.process = subprocess.Popen(
                    [str(TREE / 'scripts' / 'run.sh'), '--root', self.root,
                     '--port-base', str(self.base), '--bind', '127.0.0.1'],
                    stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
            if self._ready():
                return
            self.stop()
        raise RuntimeError('the virtual chassis did not start:\n' + self.log_text())

    def log_text(self):
        with open(self.log) as log:
            return log.read()

    def _ready(self):
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            if READY in self.log_text():
                return True
            if self.process.poll() is not None:
                return False
            time.sleep(0.1)
        return False

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()

    def remove(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)
        os.remove(self.log)


def run_example(example, chassis, with_root):
    """Runs one example to its end; answers its requests for vchassis commands when it
    has no root. Returns whether it succeeded."""
    # Run as the README shows, by its own first line, which names Debian's Python.
    command = [str(example), '127.0.0.1', str(chassis.base), '--wait', '60']
    if with_root:
        command += ['--root', chassis.root]
    environment = dict(os.environ)
    environment.pop('CHASSIS_ROOT', None)
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, env=environment)
    # An example that hangs is ended; its output then stops and its status says so.
    timer = threading.Timer(EXAMPLE_SECONDS, process.kill)
    timer.start()
    last = ''
    for line in process.stdout:
        print(f'  | {line}', end='', flush=True)
        last = line.strip() or last
        request = PROMPT.search(line)
        if request:
            times = int(request.group(1) or 1)
            words = request.group(2).split()
            for _ in range(times):
                subprocess.run(words + ['--root', chassis.root], check=True,
                               stdout=subprocess.DEVNULL)
    status = process.wait()
    if not timer.is_alive():
        print(f'{example.name}: no end after {EXAMPLE_SECONDS} s')
    timer.cancel()
    return status == 0 and last == 'done: the error queue is empty'


def main(names):
    # Built once here, so that no chassis start below waits for a build.
    subprocess.run([str(TREE / 'scripts' / 'build-chassis.sh')], check=True)
    examples = ([TREE / 'examples' / name for name in names] if names else
                sorted(path for path in (TREE / 'examples').glob('*.py')
                       if path.name != 'chassis.py'))
    failed = []
    for example in examples:
        for with_root in (True, False):
            label = f'{example.name} ({"with" if with_root else "without"} --root)'
            print(f'== {label}', flush=True)
            chassis = VirtualChassis()
            try:
                if not run_example(example, chassis, with_root):
                    failed.append(label)
                    print(f'{label}: FAILED; the chassis said:\n{chassis.log_text()}')
            finally:
                chassis.remove()
    print(f'examples: {len(examples) * 2 - len(failed)} runs passed, {len(failed)} failed'
          + (': ' + ', '.join(failed) if failed else ''))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
