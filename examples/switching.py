#!/usr/bin/python3
"""Switching: who is in the cage, closing and opening channels, break-before-make against
make-before-break, an exclude group, checking relays with VERify?, and a saved state.

    examples/switching.py [HOST] [PORT] [--root DIR]

Channels are written (@slot(channel,...)); ranges as first:last. The default virtual
chassis has an SM-RD96 relay driver in slot 1 (channels 100-1207: bank*100 + relay) and
an SM-MX26Q multiplexer in slot 3. The example overwrites saved state 1.
"""

import sys

import chassis
from chassis import say


def main(box):
    say('Who is there')
    box.query('*IDN?')
    box.query('MOD:LIST?')                  # every card: "slot : description"
    box.query('SYST:MOD:CHAN:LIST? 10')     # the channels one card offers (the RF switch)
    box.write('*RST')                       # every relay open, the defaults back

    say('\nClose and open channels; CLOS? answers 1 or 0 per channel, in order')
    box.write('CLOS (@1(100,101,207))')
    box.query('CLOS? (@1(100:103,207))', expect='1 1 0 0 1')
    box.write('OPEN (@1(101))')
    box.query('OPEN? (@1(100,101))', expect='0 1')
    box.vchassis('coils', '1')              # the coils the simulated card energises

    say('\nRelay modes: on a multiplexer, selecting another channel opens the one before.')
    say('Break-before-make (BBM, the default) opens it first; make-before-break (MBB)')
    say('closes the new one first, so the signal is never interrupted.')
    box.query('CONF? (@3)')
    box.write('CLOS (@3(0))')
    box.write('CLOS (@3(1))')               # BBM: 3(0) opens, then 3(1) closes
    box.query('CLOS? (@3(0:3))', expect='0 1 0 0')
    box.write('CONF (@3),MBB')
    box.write('CLOS (@3(2))')               # MBB: 3(2) closes, then 3(1) opens
    box.query('CLOS? (@3(0:3))', expect='0 0 1 0')
    box.write('CONF (@3),BBM')

    say('\nAn exclude group: at most one of its relays is closed at a time')
    box.write('EXCL (@1(300,301))')
    box.write('CLOS (@1(300))')
    box.write('CLOS (@1(301))')             # opens 1(300) before closing 1(301)
    box.query('CLOS? (@1(300,301))', expect='0 1')
    box.query('EXCL?')
    box.write('EXCL:DEL:ALL')

    say('\nVERify? compares each relay\'s read-back with its commanded state. The SM-RD96')
    say('read-back line is low while a coil is energised, so its mask is INVerted.')
    box.write('VER:MASK (@1(100:107)),INV')
    box.write('CLOS (@1(102,103))')
    box.query('VER? (@1(100:103))', expect='OK')   # every relay agrees
    if box.can_drive_hardware():
        say('A relay that sticks open shows as slot : channel')
        box.vchassis('stick', '1', '4')     # drive bit 4 is channel 104
        box.write('CLOS (@1(104))')
        box.query('VER? (@1(100:104))', expect='1 : 104')
        box.vchassis('unstick', '1', '4')
        box.query('VER? (@1(100:104))', expect='OK')

    say('\nSave the relay state, change it, and recall it')
    box.write('*SAV 1')
    box.write('OPEN:ALL')
    box.query('CLOS? (@1(100,102,103,207))', expect='0 0 0 0')
    box.write('*RCL 1')
    box.query('CLOS? (@1(100,102,103,207))', expect='1 1 1 1')

    say('\nOpen every relay and set the masks back to "don\'t care" (saved state 1 stays)')
    box.write('*RST')
    box.write('VER:MASK (@1(100:107)),X')


if __name__ == '__main__':
    sys.exit(chassis.run(main, __doc__))
