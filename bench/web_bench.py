#!/usr/bin/python3
"""Benchmark of the web pages in a real browser (headless Chromium through Selenium)
against a virtual chassis on loopback. Run by hand; it prints figures, one a line, and
judges none of them:

  1. how soon a relay closed or opened by a raw-port client shows on the front panel:
     the page stamps performance.now() just before the client sends, and a
     MutationObserver on the channel's button stamps it again when the button changes;
     the figure includes the return of the stamping script to this program (the
     stamp is taken before the send), so it is an upper bound; median and worst of 200;
  2. the first render of /cage: the time from the start of navigation to the moment
     cage.js has drawn and read every panel; median of 10;
  3. the web server's resident memory (VmRSS of weblink) with no page open, and with
     16 tabs of one browser on /cage, each with its event socket open.

    web_bench.py --bin BUILD/bin [--changes 200] [--renders 10] [--tabs 16]
"""
import argparse
import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'system'))
from web_browser import (Chassis, RawClient, http, resident_kb, start_browser, wait_for,  # noqa: E402
                         weblink_pid)


def open_cage(driver, url):
    driver.get(url + '/cage')
    wait_for('the panels to be drawn',
             lambda: driver.execute_script('return document.body.dataset.drawn') == '1', 30)
    wait_for('the event socket to open',
             lambda: driver.execute_script('return document.body.dataset.ws') == 'open', 10)


def relay_channel(url, raw):
    """A relay card's slot and a channel from the middle of its list: the first card
    with a panel that is neither digital nor an attenuator."""
    for entry in json.loads(http(url + '/api/cage')[2])['slots']:
        if entry['slot'] > 0 and entry['panel'] and not entry['model'].startswith(('SM-DIO', 'SM-AT')):
            channels = raw.ask('SYST:MOD:CHAN:LIST? %d' % entry['slot']).split(',')
            return entry['slot'], int(channels[len(channels) // 2])
    raise SystemExit('no relay card with a panel in the cage')


def measure_following(driver, raw, slot, channel, count):
    button_id = 'ch-%d-%d' % (slot, channel)
    driver.execute_script('''
        const button = document.getElementById(arguments[0]);
        window.benchWanted = null;
        window.benchSeenAt = null;
        new MutationObserver(() => {
          if (window.benchWanted !== null && button.dataset.closed === window.benchWanted &&
              window.benchSeenAt === null) {
            window.benchSeenAt = performance.now();
          }
        }).observe(button, {attributes: true, attributeFilter: ['data-closed']});''', button_id)
    latencies = []
    for i in range(count):
        close = i % 2 == 0
        driver.execute_script(
            'window.benchWanted = arguments[0]; window.benchSeenAt = null;'
            'window.benchSentAt = performance.now();', '1' if close else '0')
        raw.send('%s (@%d(%d))' % ('CLOS' if close else 'OPEN', slot, channel))
        latency = wait_for('the panel to follow', lambda: driver.execute_script(
            'return window.benchSeenAt === null ? null : window.benchSeenAt - window.benchSentAt'),
            5.0, 0.001)
        latencies.append(latency)
    return latencies


def measure_first_render(driver, url, count):
    times = []
    for _ in range(count):
        driver.get('about:blank')
        driver.get(url + '/cage')
        drawn = wait_for('the panels to be drawn', lambda: driver.execute_script(
            'return document.body && document.body.dataset.drawn === "1" ? window.cageDrawnAt : null'), 30)
        times.append(drawn)
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--bin', required=True, help='the folder holding vchassis and the firmware')
    parser.add_argument('--changes', type=int, default=200)
    parser.add_argument('--renders', type=int, default=10)
    parser.add_argument('--tabs', type=int, default=16)
    arguments = parser.parse_args()
    chassis = Chassis(os.path.abspath(arguments.bin))
    driver = None
    try:
        pid = weblink_pid(chassis.root)
        if pid is None:
            raise SystemExit('no weblink process for root ' + chassis.root)
        time.sleep(1)
        idle_kb = resident_kb(pid)
        raw = RawClient(chassis.raw_port)
        slot, channel = relay_channel(chassis.url, raw)
        driver = start_browser()
        open_cage(driver, chassis.url)
        latencies = measure_following(driver, raw, slot, channel, arguments.changes)
        print('panel follows a raw-port relay change (slot %d channel %d, %d changes): '
              'median %.1f ms, worst %.1f ms' % (slot, channel, len(latencies),
                                                 statistics.median(latencies), max(latencies)))
        renders = measure_first_render(driver, chassis.url, arguments.renders)
        print('first render of /cage, all panels drawn and read (%d loads): median %.0f ms, '
              'worst %.0f ms' % (len(renders), statistics.median(renders), max(renders)))
        for _ in range(arguments.tabs - 1):
            driver.switch_to.new_window('tab')
            open_cage(driver, chassis.url)
        tabs = len(driver.window_handles)
        # Notices flow to every page while the memory is read.
        for i in range(10):
            raw.send('%s (@%d(%d))' % ('CLOS' if i % 2 == 0 else 'OPEN', slot, channel))
            time.sleep(0.05)
        time.sleep(1)
        print('weblink VmRSS: %d KB with no page open, %d KB with %d tabs on /cage' % (
            idle_kb, resident_kb(pid), tabs))
        raw.close()
    finally:
        if driver is not None:
            driver.quit()
        chassis.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
