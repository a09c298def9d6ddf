#!/usr/bin/python3
"""The instrument's web pages in a real browser: headless Chromium driven by Selenium
against a virtual chassis on loopback. Each check is reported by name:

  welcome       the welcome page shows what the instrument reports over SCPI and in its
                identity files
  lxi           /lxi/identification is XML that agrees with the welcome page, and every
                kind of answer comes with its content type
  panels        one panel per installed card, a screenshot of them, and no page wider
                than a phone's screen
  click         a click on a channel button switches the relay's coil and lights it
  follow        a relay closed by another client lights its button on the page
  identify      the identify button sets the LAN indicator blinking and back
  console       the SCPI console answers as the raw port does, errors included
  lan           the LAN form stores a static address with the right password, and a
                wrong password changes nothing

    web_browser.py --bin BUILD/bin

Exit status 0 when every check passes, 1 when one fails, 77 (skipped) when Chromium,
chromedriver or Selenium is missing.
"""
import argparse
import json
import os
import random
import re
import select
import socket
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ElementTree

SKIP = 77
CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
CHROMIUM_FLAGS = [
    '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
    '--disable-background-networking', '--disable-component-update', '--no-first-run',
    '--disable-sync', '--disable-extensions', '--disable-default-apps',
    '--metrics-recording-only', '--disable-features=Translate,MediaRouter,OptimizationHints',
]
WEB_USER = ('admin', 'admin4410x')
PORTS_NEEDED = 21  # the chassis takes ports from its base upwards


# ---- The chassis -------------------------------------------------------------------

def free_port_base():
    """A port base whose next PORTS_NEEDED ports are all free on 127.0.0.1."""
    for _ in range(200):
        base = random.randrange(20000, 60000, 25)
        sockets = []
        try:
            for port in range(base, base + PORTS_NEEDED):
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind(('127.0.0.1', port))
                sockets.append(s)
            return base
        except OSError:
            continue
        finally:
            for s in sockets:
                s.close()
    raise SystemExit('no free run of ports on 127.0.0.1')


class Chassis:
    """`vchassis run` on a free port base; its web address, root, cards and raw port."""

    def __init__(self, bin_folder):
        self.bin = bin_folder
        self.base = free_port_base()
        self.raw_port = self.base + 2
        self.process = subprocess.Popen(
            [os.path.join(bin_folder, 'vchassis'), 'run', '--port-base', str(self.base)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = []
        self.url = self.root = None
        self.cards = {}
        deadline = time.monotonic() + 40
        while time.monotonic() < deadline and not (self.url and self.root):
            ready, _, _ = select.select([self.process.stdout], [], [], 1)
            if not ready:
                continue
            line = self.process.stdout.readline()
            if not line:
                break
            self.lines.append(line.rstrip('\n'))
            self.parse(line)
        if not (self.url and self.root):
            self.stop()
            raise SystemExit('the chassis did not come up with its web pages:\n' + '\n'.join(self.lines))
        # Keep reading its output so it never blocks on a full pipe.
        threading.Thread(target=self.drain, daemon=True).start()

    def parse(self, line):
        match = re.search(r'web pages\s+(http://\S+)', line)
        if match:
            self.url = match.group(1).rstrip('/')
        match = re.search(r'vchassis: ready, .*root (\S+)', line)
        if match:
            self.root = match.group(1)
        match = re.search(r'vchassis: cards from [^:]+: (.*?)(; empty:.*)?$', line)
        if match:
            for item in match.group(1).split(','):
                slot, model = item.split()
                self.cards[int(slot)] = model

    def drain(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip('\n'))

    def control(self, *words):
        result = subprocess.run([os.path.join(self.bin, 'vchassis'), *words, '--root', self.root],
                                capture_output=True, text=True, timeout=20)
        return result.stdout.strip()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def chassis_process(root, name):
    """The process id of program `name` of the chassis under `root`, or None."""
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open('/proc/%s/comm' % entry) as file:
                comm = file.read().strip()
            with open('/proc/%s/environ' % entry, 'rb') as file:
                environment = file.read().split(b'\0')
        except OSError:
            continue
        if comm == name and ('CHASSIS_ROOT=' + root).encode() in environment:
            return int(entry)
    return None


def weblink_pid(root):
    """The process id of the web server of the chassis under `root`."""
    return chassis_process(root, 'weblink')


def resident_kb(pid):
    """The resident memory of process `pid` in KB, or -1."""
    with open('/proc/%d/status' % pid) as file:
        for line in file:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return -1


class RawClient:
    """A client of the raw SCPI port: one line per program message."""

    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=5)
        self.buffer = b''

    def send(self, message):
        self.sock.sendall(message.encode() + b'\n')

    def line(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        while b'\n' not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.sock], [], [], left)
            if not ready:
                return None
            data = self.sock.recv(65536)
            if not data:
                return None
            self.buffer += data
        line, self.buffer = self.buffer.split(b'\n', 1)
        return line.decode(errors='replace').rstrip('\r')

    def ask(self, query):
        self.send(query)
        reply = self.line()
        if reply is None:
            raise AssertionError('no reply from the raw port to ' + query)
        return reply

    def errors(self):
        """Drains the connection's error queue."""
        found = []
        while True:
            entry = self.ask('SYST:ERR?')
            if entry.startswith('0,'):
                return found
            found.append(entry)

    def close(self):
        self.sock.close()


def unquoted(text):
    return text.strip().strip('"')


# ---- The browser -------------------------------------------------------------------

def start_browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument('--window-size=1024,900')
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(20)
    driver.set_script_timeout(20)
    return driver


def wait_for(what, condition, timeout=5.0, step=0.02):
    """Polls condition() until it gives a true value; that value, or AssertionError."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError('timed out waiting for ' + what)
        time.sleep(step)


def http(url, data=None, method=None, headers=None):
    """(status, content type, body text) of one request; errors are answers too."""
    request = urllib.request.Request(url, data=data, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, response.headers.get('Content-Type', ''), response.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.headers.get('Content-Type', ''), error.read().decode(errors='replace')


class Test:
    def __init__(self, chassis, driver):
        self.chassis = chassis
        self.driver = driver
        self.url = chassis.url
        self.raw = RawClient(chassis.raw_port)

    # The element texts of the welcome page, by id.
    WELCOME_KEYS = ('model', 'manufacturer', 'serial', 'description', 'firmware', 'lxi_version',
                    'lxi_class', 'hostname', 'mac', 'ip', 'mask', 'gateway', 'lan_mode',
                    'vxi11_resource', 'socket_resource', 'gpib_resource', 'usb_resource',
                    'identify', 'web_user')

    def welcome(self):
        from selenium.webdriver.common.by import By
        self.driver.get(self.url + '/')
        return {key: self.driver.find_element(By.ID, key).text.strip() for key in self.WELCOME_KEYS}

    def sysinfo(self, name):
        with open(os.path.join(self.chassis.root, 'etc/sysinfo', name)) as file:
            return file.read().strip()

    def cage_page(self):
        self.driver.get(self.url + '/cage')
        wait_for('the panels to be drawn',
                 lambda: self.driver.execute_script('return document.body.dataset.drawn') == '1', 15)
        wait_for('the event socket to open',
                 lambda: self.driver.execute_script('return document.body.dataset.ws') == 'open', 5)

    def relay_slot(self):
        """A relay card's slot and two of its channels."""
        cage = json.loads(http(self.url + '/api/cage')[2])
        for entry in cage['slots']:
            model = entry['model']
            if entry['slot'] > 0 and entry['panel'] and not model.startswith(('SM-DIO', 'SM-AT')):
                channels = self.raw.ask('SYST:MOD:CHAN:LIST? %d' % entry['slot']).split(',')
                if len(channels) >= 2:
                    return entry['slot'], int(channels[0]), int(channels[-1])
        raise AssertionError('no relay card with a panel in the cage')

    def closed(self, slot, channel):
        return self.driver.execute_script(
            'const b = document.getElementById(arguments[0]); return b && b.dataset.closed;',
            'ch-%d-%d' % (slot, channel))

    # ---- the checks ----

    def check_welcome(self):
        page = self.welcome()
        identity = self.raw.ask('*IDN?')
        expected = {
            'firmware': identity.rsplit(',', 1)[1].strip(),
            'serial': unquoted(self.raw.ask('DIAG:SER:READ?')),
            'hostname': unquoted(self.raw.ask('SYST:COMM:LAN:HOST?')),
            'ip': unquoted(self.raw.ask('SYST:COMM:LAN:IPAD?')),
            'mask': unquoted(self.raw.ask('SYST:COMM:LAN:SMAS?')),
            'gateway': unquoted(self.raw.ask('SYST:COMM:LAN:GATE?')),
            'mac': unquoted(self.raw.ask('SYST:COMM:LAN:MAC?')),
            'lan_mode': {'AUTO': 'DHCP', 'MAN': 'Static'}[self.raw.ask('SYST:COMM:LAN:MODE?')],
            # What the instrument publishes about itself for LXI.
            'model': self.sysinfo('model_name'),
            'manufacturer': self.sysinfo('manufacturer'),
            'description': self.sysinfo('description'),
            'lxi_version': self.sysinfo('lxi_version'),
            'lxi_class': self.sysinfo('lxi_class'),
            'gpib_resource': self.sysinfo('gpib_visa_resource'),
            'usb_resource': self.sysinfo('usb_visa_resource'),
            'identify': 'off',
            'web_user': WEB_USER[0],
        }
        wrong = ['%s: page %r, instrument %r' % (key, page[key], value)
                 for key, value in expected.items() if page[key] != value]
        if not re.fullmatch(r'TCPIP::[^:]+::\d+::SOCKET', page['socket_resource']) or \
                not page['socket_resource'].endswith('::%d::SOCKET' % self.chassis.raw_port):
            wrong.append('socket_resource %r does not name the raw port %d'
                         % (page['socket_resource'], self.chassis.raw_port))
        if not re.fullmatch(r'TCPIP::[^:]+::INSTR', page['vxi11_resource']):
            wrong.append('vxi11_resource %r is not a TCPIP INSTR resource' % page['vxi11_resource'])
        assert not wrong, '; '.join(wrong)
        return 'model %s, serial %s, ip %s' % (page['model'], page['serial'], page['ip'])

    def check_lxi(self):
        page = self.welcome()
        status, kind, body = http(self.url + '/lxi/identification')
        assert status == 200, 'status %d' % status
        root = ElementTree.fromstring(body)
        text = {}
        addresses = []
        for element in root.iter():
            name = element.tag.rsplit('}', 1)[-1]
            value = (element.text or '').strip()
            if name == 'InstrumentAddressString':
                addresses.append(value)
            text.setdefault(name, value)
        pairs = {'Manufacturer': 'manufacturer', 'Model': 'model', 'SerialNumber': 'serial',
                 'FirmwareRevision': 'firmware', 'LXIVersion': 'lxi_version',
                 'UserDescription': 'description', 'Hostname': 'hostname', 'IPAddress': 'ip',
                 'SubnetMask': 'mask', 'MACAddress': 'mac', 'Gateway': 'gateway'}
        wrong = ['%s: xml %r, page %r' % (tag, text.get(tag), page[key])
                 for tag, key in pairs.items() if text.get(tag) != page[key]]
        for key in ('vxi11_resource', 'socket_resource'):
            if page[key] not in addresses:
                wrong.append('%s %r is not among the addresses %r' % (key, page[key], addresses))
        dhcp = text.get('DHCPEnabled', '').lower()
        if dhcp != ('true' if page['lan_mode'] == 'DHCP' else 'false'):
            wrong.append('DHCPEnabled %r for lan_mode %r' % (dhcp, page['lan_mode']))
        types = [('/', None, 'text/html'), ('/lan', None, 'text/html'), ('/cage', None, 'text/html'),
                 ('/style.css', None, 'text/css'), ('/cage.js', None, 'javascript'),
                 ('/api/cage', None, 'application/json'),
                 ('/api/panel', b'*IDN?', 'application/json'),
                 ('/api/scpi', b'*IDN?', 'application/json')]
        for path, data, wanted in types:
            status, kind, _ = http(self.url + path, data, headers={'Content-Type': 'text/plain'})
            if status != 200 or wanted not in kind:
                wrong.append('%s: status %d, %r' % (path, status, kind))
        kind = kind_of(http(self.url + '/lxi/identification')[1])
        if kind not in ('text/xml', 'application/xml'):
            wrong.append('/lxi/identification: %r' % kind)
        assert not wrong, '; '.join(wrong)
        return '%d fields and %d content types agree' % (len(pairs) + 3, len(types) + 1)

    def check_panels(self):
        from selenium.webdriver.common.by import By
        cage = json.loads(http(self.url + '/api/cage')[2])
        listed = {entry['slot'] for entry in cage['slots']}
        installed = set(self.chassis.cards) | {0}
        assert listed == installed, '/api/cage lists slots %s, the chassis has %s' % (
            sorted(listed), sorted(installed))
        self.cage_page()
        wrong = []
        for slot in sorted(installed):
            found = self.driver.find_elements(By.CSS_SELECTOR, '.panel[data-slot="%d"]' % slot)
            if len(found) != 1:
                wrong.append('slot %d has %d panels' % (slot, len(found)))
        # The chassis panel shows the board's temperatures as the instrument reads them.
        temperatures = self.raw.ask('DIAG:TEMP?').split(',')
        shown = [self.driver.find_element(By.ID, 'sys-temp%d' % i).text for i in (1, 2)]
        if len(temperatures) != 2 or any(abs(float(a) - float(b or 'nan')) > 1.5
                                         for a, b in zip(temperatures, shown)):
            wrong.append('the chassis panel shows temperatures %s, DIAG:TEMP? %s' % (shown, temperatures))
        height = self.driver.execute_script('return document.documentElement.scrollHeight')
        self.driver.set_window_size(1024, min(height + 150, 12000))
        time.sleep(0.3)
        shot = os.path.abspath(os.path.join(self.chassis.bin, '..', 'web-panels.png'))
        self.driver.save_screenshot(shot)
        print('    screenshot: ' + shot)
        self.driver.set_window_size(1024, 900)
        # A phone-sized screen: nothing may be wider than the screen.
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                    {'width': 390, 'height': 844, 'deviceScaleFactor': 2, 'mobile': True})
        try:
            for path in ('/', '/lan', '/cage', '/console.html'):
                self.driver.get(self.url + path)
                if path == '/cage':
                    wait_for('the panels to be drawn',
                             lambda: self.driver.execute_script('return document.body.dataset.drawn') == '1', 15)
                width = self.driver.execute_script('return document.documentElement.scrollWidth')
                if width > 390:
                    wrong.append('%s is %d px wide on a 390 px screen' % (path, width))
        finally:
            self.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
        assert not wrong, '; '.join(wrong)
        return '%d panels for slots %s' % (len(installed), sorted(installed))

    def check_click(self):
        from selenium.webdriver.common.by import By
        slot, channel, _ = self.relay_slot()
        self.cage_page()
        before = self.chassis.control('coils', str(slot))
        assert self.closed(slot, channel) == '0', 'channel %d of slot %d starts closed' % (channel, slot)
        button = self.driver.find_element(By.ID, 'ch-%d-%d' % (slot, channel))
        button.click()
        wait_for('the button to light', lambda: self.closed(slot, channel) == '1', 3)
        after = self.chassis.control('coils', str(slot))
        assert after != before, 'coils of slot %d unchanged: %r' % (slot, after)
        assert self.raw.ask('ROUT:CLOS? (@%d(%d))' % (slot, channel)) == '1', 'the relay reads open'
        button.click()
        wait_for('the button to go dark', lambda: self.closed(slot, channel) == '0', 3)
        wait_for('the coils to return', lambda: self.chassis.control('coils', str(slot)) == before, 3)
        return 'slot %d channel %d: coils %r -> %r -> back' % (slot, channel, before, after)

    def check_follow(self):
        slot, _, channel = self.relay_slot()
        self.cage_page()
        assert self.closed(slot, channel) == '0', 'channel %d of slot %d starts closed' % (channel, slot)
        self.driver.execute_script('''
            const button = document.getElementById(arguments[0]);
            window.litAt = null;
            new MutationObserver(() => {
              if (button.dataset.closed === '1' && window.litAt === null) window.litAt = performance.now();
            }).observe(button, {attributes: true, attributeFilter: ['data-closed']});
            window.sentAt = performance.now();''', 'ch-%d-%d' % (slot, channel))
        self.raw.send('CLOS (@%d(%d))' % (slot, channel))
        lit = wait_for('the button to light', lambda: self.driver.execute_script(
            'return window.litAt === null ? null : window.litAt - window.sentAt'), 2.0, 0.005)
        self.raw.send('OPEN (@%d(%d))' % (slot, channel))
        wait_for('the button to go dark', lambda: self.closed(slot, channel) == '0', 2.0)
        assert not self.raw.errors(), 'the raw client got errors'
        return 'slot %d channel %d lit %.1f ms after the raw client sent CLOS' % (slot, channel, lit)

    def check_identify(self):
        from selenium.webdriver.common.by import By

        def indicator():
            match = re.search(r'^indicator:\s*(\S+)', self.chassis.control('lan'), re.M)
            return match.group(1) if match else ''

        start = indicator()
        assert start != 'blink', 'the indicator already blinks'
        self.driver.get(self.url + '/')
        self.driver.find_element(By.ID, 'identify-button').click()
        wait_for('the indicator to blink', lambda: indicator() == 'blink', 3)
        wait_for('the page to say on', lambda: self.driver.find_element(By.ID, 'identify').text == 'on', 3)
        self.driver.find_element(By.ID, 'identify-button').click()
        wait_for('the indicator to stop blinking', lambda: indicator() != 'blink', 3)
        wait_for('the page to say off', lambda: self.driver.find_element(By.ID, 'identify').text == 'off', 3)
        return 'indicator %s -> blink -> %s' % (start, indicator())

    def check_console(self):
        from selenium.webdriver.common.by import By

        def ask(message):
            self.driver.execute_script(
                "document.getElementById('console-reply').textContent = '';"
                "document.getElementById('console-errors').textContent = '';")
            box = self.driver.find_element(By.ID, 'console-input')
            box.clear()
            box.send_keys(message)
            self.driver.find_element(By.ID, 'console-send').click()
            wait_for('the console to answer', lambda: self.driver.execute_script(
                'return !document.body.dataset.busy && document.getElementById("console-send").disabled === false'
                ' && (document.getElementById("console-reply").textContent'
                ' || document.getElementById("console-errors").textContent)'), 5)
            return (self.driver.find_element(By.ID, 'console-reply').text,
                    self.driver.find_element(By.ID, 'console-errors').text)

        self.driver.get(self.url + '/console.html')
        reply, errors = ask('*IDN?')
        raw_reply = self.raw.ask('*IDN?')
        assert (reply, errors) == (raw_reply, ''), 'console %r %r, raw port %r' % (reply, errors, raw_reply)
        bad = 'FOO:BAR 1'
        reply, errors = ask(bad)
        self.raw.send(bad)
        raw_errors = self.raw.errors()
        assert raw_errors, 'the raw port took %r without an error' % bad
        assert reply == '' and errors.split('\n') == raw_errors, \
            'console %r %r, raw port errors %r' % (reply, errors, raw_errors)
        refused = [(text, http(self.url + '/api/scpi', text.encode(), headers={'Content-Type': 'text/plain'}))
                   for text in ('', '*IDN?\n*IDN?', '**READ')]
        for text, (status, kind, body) in refused:
            assert status == 400 and 'application/json' in kind and 'error' in json.loads(body), \
                '%r: status %d %r %r' % (text, status, kind, body)
        return '*IDN? and %s answer as on the raw port; %d bad messages refused' % (bad, len(refused))

    def answer_message(self):
        """The LAN page's message once the answer to the form shows it: the form page's own
        message is empty, and may go stale while the answer loads."""
        from selenium.common.exceptions import StaleElementReferenceException
        from selenium.webdriver.common.by import By
        try:
            found = self.driver.find_elements(By.ID, 'message')
            return found[0].text if found and found[0].text.strip() else None
        except StaleElementReferenceException:
            return None

    def check_lan(self):
        from selenium.webdriver.common.by import By
        host = self.url.split('://', 1)[1]
        self.driver.get('http://%s:%s@%s/lan' % (WEB_USER[0], WEB_USER[1], host))
        self.driver.find_element(By.CSS_SELECTOR, 'input[name="mode"][value="static"]').click()
        wanted = {'ip': '10.1.2.3', 'mask': '255.255.0.0', 'gateway': '10.1.0.1'}
        for name, value in wanted.items():
            box = self.driver.find_element(By.ID, name)
            box.clear()
            box.send_keys(value)
        self.driver.find_element(By.ID, 'apply').click()
        try:
            message = wait_for('the answer page', self.answer_message, 20)
        except AssertionError:
            shown = self.driver.execute_script('return document.body ? document.body.innerText : ""')
            raise AssertionError('no answer page after Apply; the browser shows %r'
                                 % ' '.join(shown.split())[:200]) from None
        shown = self.driver.find_element(By.ID, 'ip').get_attribute('value')
        assert shown == wanted['ip'], 'the answer page shows the address %r' % shown
        # The LAN reset that follows takes a while; the instrument answers each query once
        # it is through, so each waits long.
        def ask_late(query):
            self.raw.send(query)
            return unquoted(self.raw.line(timeout=45))

        deadline = time.monotonic() + 60
        live = ask_late('SYST:COMM:LAN:IPAD?')
        while live != wanted['ip'] and time.monotonic() < deadline:
            time.sleep(0.25)
            live = ask_late('SYST:COMM:LAN:IPAD?')
        assert live == wanted['ip'], 'the address in effect is %r after the LAN reset' % live
        stored = {'ip': ask_late('SYST:COMM:LAN:MAN:IPAD?'), 'mask': ask_late('SYST:COMM:LAN:MAN:SMAS?'),
                  'gateway': ask_late('SYST:COMM:LAN:MAN:GATE?')}
        assert stored == wanted, 'stored %r after the form, message %r' % (stored, message)
        wait_for('the web server to answer again', lambda: reachable(self.url + '/'), 30, 0.25)
        # The same form with a wrong password.
        passwords = urllib.request.HTTPPasswordMgrWithDefaultRealm()
        passwords.add_password(None, self.url, WEB_USER[0], 'not-' + WEB_USER[1])
        opener = urllib.request.build_opener(urllib.request.HTTPDigestAuthHandler(passwords))
        form = 'mode=static&ip=10.9.9.9&mask=255.0.0.0&gateway=10.9.9.1&dns=&hostname=&domain=' \
               '&description=&servicename='
        try:
            status = opener.open(self.url + '/lan', form.encode(), timeout=10).status
        except urllib.error.HTTPError as error:
            status = error.code
        assert status == 401, 'a wrong password got status %d' % status
        after = {'ip': unquoted(self.raw.ask('SYST:COMM:LAN:MAN:IPAD?')),
                 'mask': unquoted(self.raw.ask('SYST:COMM:LAN:MAN:SMAS?')),
                 'gateway': unquoted(self.raw.ask('SYST:COMM:LAN:MAN:GATE?'))}
        assert after == wanted, 'a wrong password changed the settings to %r' % after
        return 'static %s/%s via %s stored and in effect (message %r); wrong password: 401, unchanged' % (
            wanted['ip'], wanted['mask'], wanted['gateway'], message.replace('\n', ' | '))


def reachable(url):
    try:
        return http(url)[0] == 200
    except OSError:
        return False


def kind_of(content_type):
    return content_type.split(';', 1)[0].strip().lower()


CHECKS = [
    ('welcome', Test.check_welcome),
    ('lxi', Test.check_lxi),
    ('panels', Test.check_panels),
    ('click', Test.check_click),
    ('follow', Test.check_follow),
    ('identify', Test.check_identify),
    ('console', Test.check_console),
    ('lan', Test.check_lan),  # last: it changes the LAN settings
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--bin', required=True, help='the folder holding vchassis and the firmware')
    arguments = parser.parse_args()
    try:
        import selenium  # noqa: F401
    except ImportError:
        print('skipped: selenium is not installed')
        return SKIP
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            print('skipped: %s is missing' % program)
            return SKIP
    bin_folder = os.path.abspath(arguments.bin)
    if not os.path.exists(os.path.join(bin_folder, 'weblink')):
        print('FAIL: %s/weblink is missing' % bin_folder)
        return 1
    started = time.monotonic()
    chassis = Chassis(bin_folder)
    driver = None
    failures = 0
    try:
        driver = start_browser()
        test = Test(chassis, driver)
        print('chassis %s, root %s' % (chassis.url, chassis.root))
        for name, check in CHECKS:
            try:
                detail = check(test)
                print('PASS %-9s %s' % (name, detail))
            except Exception as error:  # a check's failure is reported, the others still run
                failures += 1
                # Selenium's errors carry the browser's stack after the first line.
                reason = str(error).strip().split('\n')[0] or repr(error)
                print('FAIL %-9s %s: %s' % (name, type(error).__name__, reason))
        test.raw.close()
    finally:
        if driver is not None:
            driver.quit()
        chassis.stop()
    if failures:
        print('chassis output:\n  ' + '\n  '.join(chassis.lines[-40:]))
    print('%d of %d checks failed, %.1f s' % (failures, len(CHECKS), time.monotonic() - started))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
