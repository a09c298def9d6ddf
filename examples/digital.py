#!/usr/bin/python3
"""Digital I/O: bytes written to and read from ports as the commands come, then a
synchronous run that drives and records one byte a port on every clock edge.

    examples/digital.py [HOST] [PORT] [--root DIR]

The default virtual chassis has an SM-DIO12-TTL in slot 6: twelve 8-bit ports, written
(@6(port)). A port drives its pins once its output is enabled; otherwise it is an input.
With --root the example sets the input pins and clocks the card itself with `vchassis
dio-input` and `vchassis dio-clock`; without it, it asks you to and waits.
"""

import sys

import chassis
from chassis import say

SLOT = '6'
OUTPUT_DATA = {0: [17, 18, 19], 1: [33, 34]}   # bytes ports 0 and 1 drive, edge by edge
RECORDED = 3                                   # edges port 2 records


def main(box):
    box.write('*RST')

    say('Asynchronous: ports 0 and 1 drive, port 2 reads')
    box.write(f'DIG:OUTP:STATE ON,(@{SLOT}(0,1))')
    box.query(f'DIG:OUTP:STAT? (@{SLOT}(0:2))')
    box.write(f'DIG:OUTP (@{SLOT}(0,1)),15,240')
    box.vchassis('dio-input', SLOT, '2', '0x5A')     # what the pins of port 2 present
    box.query(f'DIG:INP? (@{SLOT}(2))', expect='90' if box.can_drive_hardware() else None)
    box.vchassis('dio', SLOT)

    say('\nSynchronous: ports 0 and 1 drive a list of bytes and port 2 records one byte')
    say('per clock edge; DIG:CONF makes the ports below the one it names synchronous')
    box.write(f'DIG:CONF (@{SLOT}(3))')
    box.query(f'DIG:CONF? (@{SLOT}(0:3))')
    for port, data in OUTPUT_DATA.items():
        box.write(f'DIG:SYNC:DATA (@{SLOT}({port})),' + ','.join(map(str, data)))
    box.write(f'DIG:SYNC:POIN (@{SLOT}(2)),{RECORDED}')
    box.write(f'DIG:SYNC:STATE ON,(@{SLOT})')         # armed: the next edges run it
    box.query(f'DIG:SYNC:STAT? (@{SLOT})')
    if box.can_drive_hardware():
        for presented in ('0xA1', '0xA2', '0xA3'):
            box.vchassis('dio-input', SLOT, '2', presented)
            box.vchassis('dio-clock', SLOT)
    else:
        box.vchassis('dio-clock', SLOT, str(RECORDED))
        say(f'  waiting up to {box.options.wait:.0f} s for the run to end')
    if not chassis.wait_until(
            lambda: box.session.query(f'DIG:SYNC:STAT? (@{SLOT})') == '0', box.options.wait):
        raise chassis.Failed('the synchronous run did not end')
    box.query(f'DIG:SYNC:STAT? (@{SLOT})')           # 0: the run has left sync mode
    box.query(f'DIG:SYNC:DATA? (@{SLOT}(2))',        # the bytes port 2 recorded
              expect='161,162,163' if box.can_drive_hardware() else None)

    say('\nBack to the power-on state')
    box.write(f'DIG:SYNC:CLE (@{SLOT})')
    box.write('*RST')


if __name__ == '__main__':
    sys.exit(chassis.run(main, __doc__))
