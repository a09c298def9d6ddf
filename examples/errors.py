#!/usr/bin/python3
"""Errors: what a mistyped command, a bad channel list and a missing card look like, and
how to drain the error queue in a loop.

    examples/errors.py [HOST] [PORT] [--root DIR]

A command that fails does nothing and leaves one entry in the error queue: a code and a
text, "0,\\"No error\\"" once the queue is empty. A query that fails sends no reply at
all, so a script should ask SYST:ERR? rather than wait for one. With the error bits
enabled by *ESE, bit 5 (value 32) of the status byte says that an error happened.
"""

import sys

import chassis
from chassis import say

# Commands that fail, each with the code it leaves.
MISTAKES = [
    ('CLOZ (@1(100))', -110),         # a mistyped header
    ('CLOS 1(100)', -102),            # a channel list must start with (@
    ('CLOS (@1(100)', -102),          # ... and end with its parenthesis
    ('CLOS (@1(999))', -222),         # no channel 999 on the card in slot 1
    ('CLOS (@11(0))', -300),          # slot 11 of the default cage is empty
    ('CONF (@3),FAST', -224),         # relay modes are BBM, MBB and IMM
]


def drain(box):
    """Reads SYST:ERR? until the queue is empty; returns what it held, oldest first."""
    held = []
    while True:
        error = box.session.query('SYST:ERR?')
        say(f'  SYST:ERR? < {error}')
        if error == chassis.NO_ERROR:
            return held
        held.append(error)
        if len(held) > 100:
            raise chassis.Failed('the error queue does not empty')


def main(box):
    box.write('*CLS')                 # start from an empty queue and event register
    box.write('*ESE 60')              # errors of every class reach the status byte

    say('One mistake at a time, each followed by SYST:ERR?')
    for command, code in MISTAKES:
        box.expect_error(command, code)

    say('\nSeveral mistakes in a row, then the queue drained in a loop')
    box.write('*CLS')
    for command, _ in MISTAKES[:3]:
        say(f'  > {command}')
        box.session.write(command)
    if not int(box.peek('*STB?')) & 32:  # 32: an enabled event, here an error, happened
        raise chassis.Failed('*STB? does not show the errors')
    held = drain(box)
    if [int(error.split(',')[0]) for error in held] != [code for _, code in MISTAKES[:3]]:
        raise chassis.Failed(f'the queue held {held}')

    say('\nThe standard event register remembers what kind of error happened until read')
    box.query('*ESR?', expect=lambda reply: int(reply) & 32)  # 32: command errors
    box.query('*ESR?', expect='0')    # reading it cleared it, and the status byte
    box.query('*STB?', expect='0')
    box.write('*ESE 0')


if __name__ == '__main__':
    sys.exit(chassis.run(main, __doc__))
