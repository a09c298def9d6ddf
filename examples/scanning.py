#!/usr/bin/python3
"""Scanning: a named path in a scan list, a scan stepped by *TRG with its start and end
notices read from the event port, then one stepped by the external trigger input.

    examples/scanning.py [HOST] [PORT] [--root DIR]

A scan closes its list one element a trigger, opening the element before; TRIG:COUN
says how many triggers it takes. With --root the example fires the virtual chassis'
trigger input itself; without it, it asks you to run `vchassis trigger` and waits.
"""

import sys

import chassis
from chassis import say

STEPS = 3
SCANNED = 'CLOS? (@1(100),DMM_TO_DUT,1(101))'


def closed_at(step):
    """What SCANNED answers while step `step` of the scan list is closed."""
    return ' '.join('1' if element == step else '0' for element in range(STEPS))


def notice_name(bits):
    names = []
    if bits & chassis.SCAN_STARTED:
        names.append('scan started')
    if bits & chassis.SCAN_ENDED:
        names.append('scan ended')
    return ' and '.join(names) or f'0x{bits:08X}'


def expect_notice(box, wanted, timeout=10):
    bits = box.next_event(timeout)
    if bits is None or not bits & wanted:
        raise chassis.Failed(f'no "{notice_name(wanted)}" notice on the event port')
    say(f'  event port: {notice_name(bits)}')


def main(box):
    box.write('*RST')

    say('A named path closes several relays as one element')
    box.write('PATH:DEF DMM_TO_DUT,(@1(200),2(0))')
    box.query('PATH:CAT?')

    say('\nThe scan list: two channels and the path')
    box.write('ROUT:SCAN (@1(100),DMM_TO_DUT,1(101))')
    box.query('ROUT:SCAN?')

    say('\nA second socket on the event port receives the scan notices (mask bit 0)')
    box.listen(chassis.SCAN_STARTED)

    say('\nA bus-triggered scan: INIT arms it, every *TRG takes one step')
    box.write(f'TRIG:SOUR BUS;COUN {STEPS}')
    box.write('INIT')
    expect_notice(box, chassis.SCAN_STARTED)
    for step in range(STEPS):
        box.write('*TRG')
        box.query(SCANNED, expect=closed_at(step))
    expect_notice(box, chassis.SCAN_ENDED)
    box.query('STAT:OPER:COND?', expect='64')   # the scan has ended

    say('\nAn externally triggered scan: each edge on the trigger input takes a step, and')
    say('every step pulses the trigger output for the instrument that measures')
    box.write('OPEN:ALL')
    box.write('OUTP:TRIG ON')               # *RST turned the trigger output off
    box.write('TRIG:SOUR EXT')
    box.write('INIT')
    expect_notice(box, chassis.SCAN_STARTED)
    if box.can_drive_hardware():
        box.vchassis('trigger-out')
        for step in range(STEPS):
            box.vchassis('trigger')
            # The step runs on the chassis' interrupt monitor: the next notice or query
            # sees it once it has happened.
            if step < STEPS - 1:
                closed = closed_at(step)
                if not chassis.wait_until(lambda: box.session.query(SCANNED) == closed, 10):
                    raise chassis.Failed(f'step {step + 1} did not happen')
                box.query(SCANNED)
        expect_notice(box, chassis.SCAN_ENDED)
        box.vchassis('trigger-out')
        box.query(SCANNED, expect=closed_at(STEPS - 1))
    else:
        box.vchassis('trigger', times=STEPS)
        say(f'  waiting up to {box.options.wait:.0f} s for the scan to end')
        expect_notice(box, chassis.SCAN_ENDED, timeout=box.options.wait)
        box.query(SCANNED)

    say('\nClean up: triggers back to immediate, the scan list and the path removed')
    box.write('*RST')
    box.write('ROUT:SCAN:CLE')
    box.write('PATH:DEL:ALL')


if __name__ == '__main__':
    sys.exit(chassis.run(main, __doc__))
