#!/usr/bin/python3
"""The pages in the real Chromium, inside scripts/vm-run's VM: WebHID over
hidraw and WebUSB over usbfs reach the simulated devices on the USB wire
(sorbel-usbip), with no stand-in in between. An administrator's policy grants
the devices to the test origins, so no chooser is needed (headless Chromium
has none). One Chromium serves every case; each case writes
RESULTS/<case>.result (PASS or FAIL on its first line, then what it saw),
which the ctest tests vm_browser.<case> read.

  cases.py --site DIR --package TGZ --results DIR
"""
import argparse
import functools
import hashlib
import http.server
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import traceback
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'web'))
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.common.exceptions import WebDriverException  # noqa: E402

import browser  # noqa: E402
import monitor_test  # noqa: E402
from monitor_test import monitor_picture  # noqa: E402

GUEST = 'scripts/vm/guest'
FLASH = 'build/vm/flash'
PAGE_ORIGIN = 'http://127.0.0.1:8871'   # the project's site: upload and monitor pages
MAKER_ORIGIN = 'http://127.0.0.1:8872'  # a device maker's page with the update button
CDN_ORIGIN = 'http://127.0.0.1:8873'    # the npm package, as a CDN serves it
POLICY = '/etc/chromium/policies/managed/sorbel-bench.json'
DEBUGGING_PORT = 9229
BOOTLOADER = {'vendor_id': 0x16C0, 'product_id': 0x05DF}
ADAPTER = {'vendor_id': 0x1209, 'product_id': 0x7A01}

MAKER_PAGE = '''<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Widget</title>
<script src="events.js"></script>
<script type="module" src="%s/package/hex-upload-button.js"></script></head>
<body><main><h1>Widget</h1><hex-upload-button manifest="widget.json"></hex-upload-button></main></body></html>
'''
EVENTS = '''window.events = [];
for (const name of ['hex-upload-done', 'hex-upload-failed'])
  document.addEventListener(name, (e) => window.events.push([name, e.detail.exitCode]));
'''

# navigator.hid.getDevices() as plain data: name, ids, feature reports' bits.
HID_DEVICES = '''return navigator.hid.getDevices().then((devices) => devices.map((d) => ({
  name: d.productName, vendor: d.vendorId, product: d.productId,
  reports: d.collections.flatMap((c) => c.featureReports).map((r) =>
      [r.reportId, r.items.reduce((bits, i) => bits + i.reportSize * i.reportCount, 0)])})));'''


class Failed(Exception):
    pass


PROGRESS = []  # the file of progress lines, once open


def say(text):
    """On the VM's output, and in the checkout while the VM still runs."""
    print(text, flush=True)
    for f in PROGRESS:
        f.write('%s %s\n' % (time.strftime('%H:%M:%S'), text))
        f.flush()


def wait_until(what, condition, seconds, step=0.2):
    """Polls condition until it gives a true value, for at most seconds."""
    say('  waiting for: ' + what)
    deadline = time.time() + seconds
    while True:
        try:
            value = condition()
        except WebDriverException:
            value = None  # the page is still coming
        if value:
            return value
        if time.time() > deadline:
            raise Failed('%s: not within %d s' % (what, seconds))
        time.sleep(step)


def check(ok, what):
    if not ok:
        raise Failed(what)


def serve(folder, port, cors=False):
    handler = functools.partial(browser.Cors if cors else browser.Quiet, directory=folder)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def plug(*args):
    """(Re)plugs the devices: guest plug's "place path" lines."""
    started = time.time()
    # Files, not pipes: the server it starts in the background keeps running.
    with tempfile.TemporaryFile('w+') as out, tempfile.TemporaryFile('w+') as err:
        code = subprocess.run([GUEST, 'plug', *args], stdout=out, stderr=err, timeout=300).returncode
        out.seek(0)
        err.seek(0)
        say('  plug %s: %.0f s, exit %d %s' % (' '.join(args), time.time() - started, code, err.read().strip()))
        if code != 0:
            raise Failed('the devices could not be attached')
        return out.read().split()


def gone(place):
    return not os.path.exists('/sys/bus/usb/devices/' + place)


def read(path, mode='r'):
    try:
        with open(path, mode) as f:
            return f.read()
    except OSError:
        return b'' if 'b' in mode else ''


def write_policy():
    """As an administrator grants devices for a bench: the bootloader to the
    project's site and the maker's page, the adapter to the site."""
    os.makedirs(os.path.dirname(POLICY), exist_ok=True)
    policy = {
        'WebHidAllowDevicesForUrls': [{'devices': [BOOTLOADER], 'urls': [PAGE_ORIGIN, MAKER_ORIGIN]}],
        'WebUsbAllowDevicesForUrls': [{'devices': [ADAPTER], 'urls': [PAGE_ORIGIN]}],
    }
    with open(POLICY, 'w') as f:
        json.dump(policy, f, indent=2)


def start_chromium(profile):
    """Chromium started here, and chromedriver attached to it: chromedriver's
    own start gives Chromium 60 s, which a loaded machine under TCG exceeds.
    Returns the driver and the Chromium process."""
    log = open(profile + '.log', 'w')
    chromium = subprocess.Popen(
        ['/usr/bin/chromium', '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic',
         '--no-first-run', '--disable-background-networking', '--disable-component-update',
         '--disable-sync', '--window-size=1000,900', '--force-device-scale-factor=1',
         '--remote-debugging-port=%d' % DEBUGGING_PORT, '--user-data-dir=' + profile, 'about:blank'],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def answers():
        try:
            with urllib.request.urlopen('http://127.0.0.1:%d/json/version' % DEBUGGING_PORT, timeout=10):
                return True
        except OSError:
            return chromium.poll() is not None  # ended: said below
    wait_until('Chromium answers on its debugging port', answers, 900, 1)
    if chromium.poll() is not None:
        raise Failed('Chromium ended with %s: %s' % (chromium.returncode, read(profile + '.log')[-2000:]))
    options = webdriver.ChromeOptions()
    options.debugger_address = '127.0.0.1:%d' % DEBUGGING_PORT
    # Under TCG chromedriver's own wait for a page's load can stall for
    # minutes: the cases poll for what they need instead.
    options.page_load_strategy = 'none'
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    driver.set_script_timeout(120)
    return driver, chromium


class Cases:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.notes = []
        self.driver = None
        self.monitor_page = None  # the monitor page left running by a case
        subprocess.run(['python3', 'tests/e2e/sorbel/make_hex.py', self.path('image.hex'),
                        self.path('written.bin'), '32768', '0', '4096', '33'], check=True)
        self.image = read(self.path('written.bin'), 'rb')

    def path(self, name):
        return os.path.join(self.work, name)

    def note(self, text):
        self.notes.append(text)
        say('  ' + text)

    # ------------------------------------------------------------ the pages

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def open(self, url, ready, seconds=180):
        """Opens url (made unique, so that the page before cannot answer) and
        polls until the script ready gives true."""
        self.loads = getattr(self, 'loads', 0) + 1
        url += '?load=%d' % self.loads
        self.driver.get(url)
        wait_until('%s is ready' % url, lambda: self.js(
            'return location.href === arguments[0] && document.readyState === "complete" && (%s)' % ready,
            url), seconds)

    def click(self, element):
        ActionChains(self.driver).move_to_element(element).pause(0.1).click().perform()

    def open_upload_page(self):
        self.open(PAGE_ORIGIN + '/index.html', 'document.body.dataset.ready === "yes"')

    def upload_in_page(self):
        """The image through the upload page; its status line and exit code."""
        self.open_upload_page()
        self.driver.find_element(By.ID, 'file').send_keys(self.path('image.hex'))
        upload = self.driver.find_element(By.ID, 'upload')
        wait_until('the upload button is enabled', upload.is_enabled, 30)
        self.click(upload)
        status = self.driver.find_element(By.ID, 'status')
        wait_until('the upload ends', lambda: status.get_attribute('class') != '', 600, 0.5)
        log = self.driver.find_element(By.ID, 'log').get_property('textContent')
        self.note('page log: ' + log.replace('\r', '\\r').replace('\n', '\\n')[-600:])
        self.note('status: ' + status.text)
        return status.text, self.js('return Number(document.body.dataset.exitCode)'), log

    def expect_written(self, place):
        check(read('%s/%s.bin' % (FLASH, place), 'rb') == self.image, '%s does not hold the image' % place)
        reports = read('%s/%s.log' % (FLASH, place)).splitlines()
        check(len([r for r in reports if r.startswith('set 3 132 ')]) == 32,
              'the board got other blocks than 32: %s' % reports[:3])
        check(reports and reports[-1].startswith('set 3 7 01 '),
              'the last report is not the closing report: %s' % reports[-1:])
        wait_until('the board leaves the bus after the closing report', lambda: gone(place), 20)

    # ------------------------------------------------------------ cases

    def case_policy(self):
        """Chromium read the policy: getDevices() lists the board at once."""
        plug('--boards', '1')
        self.open_upload_page()
        devices = wait_until('getDevices() lists the board', lambda: self.js(HID_DEVICES), 60)
        self.note('getDevices(): %s' % devices)
        for device in devices:
            device['reports'].sort()  # Chromium lists them in no fixed order
        check(devices == [{'name': 'Sorbel', 'vendor': 0x16C0, 'product': 0x05DF,
                           'reports': [[1, 48], [2, 1048]]}], 'getDevices() lists %s' % devices)
        check(self.driver.find_element(By.ID, 'device').text == 'Sorbel (USB 16c0:05df)',
              'the page does not show the permitted board')
        # chrome://policy tells too; its page is Chromium's own, so what it
        # shows is a note, the listing above is the check.
        self.driver.get('chrome://policy')
        try:
            text = wait_until('chrome://policy lists the policies', lambda: self.js(
                'return document.body.innerText.includes("WebUsbAllowDevicesForUrls") && '
                'document.body.innerText'), 30)
            self.note('chrome://policy lists WebHidAllowDevicesForUrls: %s' %
                      ('WebHidAllowDevicesForUrls' in text))
        except Failed as error:
            self.note('chrome://policy: %s' % error)

    def case_upload_page(self):
        """The upload page writes the board byte for byte; it leaves its bootloader."""
        places = plug('--boards', '1')
        status, code, log = self.upload_in_page()
        check(code == 0 and status == 'Done (exit code 0).', 'the upload failed: %s' % status)
        self.expect_written(places[0])
        # The console text is the native program's (hidraw path aside).
        sim = subprocess.run([self.args.native_sim, self.path('image.hex')], capture_output=True,
                             cwd=self.work, env=dict(os.environ, SORBEL_SIM_LOG=self.path('sim.log')))
        native = hidraw_masked(browser.console_screen(sim.stdout.decode()))
        check(hidraw_masked(browser.console_screen(log)) == native,
              'the page printed other lines than hex-upload-sim: %r' % native)
        check(read(self.path('sim.log')) == read('%s/%s.log' % (FLASH, places[0])),
              'the reports differ from hex-upload-sim\'s')

    def case_button(self):
        """<hex-upload-button> from the npm package on another origin writes the
        board and fires hex-upload-done."""
        places = plug('--boards', '1')
        self.open(MAKER_ORIGIN + '/widget.html', 'true')
        root = wait_until('the element is defined', lambda: self.js(
            'const e = document.querySelector("hex-upload-button");'
            'return customElements.get("hex-upload-button") && e.shadowRoot'), 120)

        def part(name):
            return root.find_element(By.CSS_SELECTOR, '#' + name)

        def press(name):
            button = wait_until('the %s button' % name, lambda: part(name).is_displayed() and
                                part(name).is_enabled() and part(name), 120)
            self.click(button)

        press('open')
        press('continue')
        question = wait_until('the question (no chooser: the board is permitted)',
                              lambda: part('question').is_displayed() and part('question').text, 120)
        check(question == 'Write Widget 1.0 into Sorbel?', 'the question is %r' % question)
        press('write')
        events = wait_until('an event', lambda: self.js('return window.events'), 600, 0.5)
        self.note('events: %s; status: %s' % (events, part('status').get_property('textContent')))
        check(events == [['hex-upload-done', 0]], 'the events are %s' % events)
        self.expect_written(places[0])

    def case_pulled_out(self):
        """The board pulled out after 10 of 32 blocks: the page's clear line."""
        places = plug('--boards', '1', '--fault', '1:unplug=10')
        status, code, _ = self.upload_in_page()
        check(code == 1, 'exit code %s, not 1' % code)
        check(status == 'The device was unplugged during the upload. Failed (exit code 1).',
              'the status line is %r' % status)
        check(read('%s/%s.bin' % (FLASH, places[0]), 'rb') != self.image, 'the board holds the image')
        wait_until('the board leaves the bus', lambda: gone(places[0]), 20)

    # The monitor page: each case below plugs the adapter it needs and finds
    # the page running, or starts it when the case before did not leave one.
    def adapter_log(self):
        return read(FLASH + '/1-1.log').splitlines()

    def choose_adapter(self, page):
        runs = int(page.js('return document.body.dataset.runs || 0'))
        page.click_element('#choose')
        wait_until('a new run', lambda: int(page.js('return document.body.dataset.runs || 0')) > runs, 120)
        wait_until('"Verbunden"', lambda: page.page()['device'].startswith('Verbunden: '), 60)

    def open_monitor(self):
        """The monitor page on the adapter just plugged in."""
        self.monitor_page = None
        page = monitor_test.MonitorPage('test_start_up_picture_and_poll')
        page.driver = self.driver
        self.open(PAGE_ORIGIN + '/port-monitor/index.html', 'document.body.dataset.ready === "yes"')
        wait_until('getDevices() lists the adapter', lambda: self.js(
            'return navigator.usb.getDevices().then((d) => d.length === 1)'), 60)
        self.choose_adapter(page)
        return page

    def running_monitor(self):
        if not self.monitor_page:
            plug('--boards', '0', '--adapter')
            self.monitor_page = self.open_monitor()
        return self.monitor_page

    def click_writes_9f(self, page, since):
        """A click on box D4 writes 9F; the read-back shows it."""
        page.click_client(*monitor_picture.box_centre(0, 4))
        wait_until('the click writes 9F', lambda: 'command 00 9f' in self.adapter_log()[since:], 30)
        wait_until('the field shows 9F', lambda: page.page()['fields'].get('176') == '9F', 30)

    def case_monitor(self):
        """"Verbunden", the start-up write and read-back, polls, a click writes a register."""
        plug('--boards', '0', '--adapter')
        page = self.open_monitor()
        check(page.page()['device'] == 'Verbunden: Tarnel (USB 1209:7a01)', page.page()['device'])
        wait_until('the data register read back', lambda: page.page()['fields'].get('176') == '8F', 60)
        log = self.adapter_log()
        commands = [line for line in log if line.startswith(('command', 'answer'))]
        check(commands[:1] == ['command 00 8f'], 'the first command is %s' % commands[:1])
        expected = []
        for i in range(16):
            expected += ['command %02x' % (0x10 | i), 'answer']
        got = [line if line.startswith('command') else 'answer' for line in commands[1:33]]
        check(got == expected, 'the start-up reads are %s' % commands[1:33])
        check(commands[2] == 'answer 8f', 'the data register reads back %s' % commands[2:3])
        count = len(commands)
        wait_until('the page polls', lambda: len([line for line in self.adapter_log()
                                                  if line.startswith('command')]) > count, 30)
        self.click_writes_9f(page, 0)
        self.monitor_page = page

    def case_monitor_reset(self):
        """A poll's read the adapter leaves unanswered: the page resets the device,
        the kernel carries the reset to the adapter, the page recovers and writes."""
        # The 16 start-up reads are answered; the fourth poll's read is not.
        plug('--boards', '0', '--adapter', '--fault', '1:hang=answer@20')
        page = self.open_monitor()
        # Under a loaded TCG an answer may also come too late for the page:
        # what counts is the answer withheld, and what follows it.
        withheld = wait_until('the adapter withholds an answer', lambda: 'answer withheld' in self.adapter_log()
                              and self.adapter_log().index('answer withheld'), 120)
        wait_until('an answer after the withheld one', lambda: any(
            line.startswith('answer ') and line != 'answer withheld' for line in self.adapter_log()[withheld:]), 60)
        wait_until('the line that the adapter answers again', lambda: any(
            line.startswith('transfer: Der Adapter antwortet wieder') for line in page.page()['lines']), 60)
        log = self.adapter_log()
        after = log[withheld:]
        self.note('adapter log around the withheld answer: %s' % log[max(0, withheld - 8):withheld + 12])
        # A reset comes before the next command: the bus reset reached the adapter.
        next_command = next((i for i, line in enumerate(after) if line.startswith('command')), len(after))
        check('reset' in after[:next_command], 'no reset between the withheld answer and the next command: %s'
              % after[:12])
        self.note('unlinked before the reset: %d' % after[:next_command].count('unlink'))
        with open(os.path.join(self.args.results, 'adapter.log'), 'w') as f:
            f.write('\n'.join(log) + '\n')
        wait_until('the data register read back again', lambda: page.page()['fields'].get('176') == '8F', 30)
        self.click_writes_9f(page, withheld)
        self.note('lines: %s' % page.page()['lines'])
        self.monitor_page = page

    def case_adapter_replug(self):
        """The adapter pulled out and plugged in again: one click, no chooser."""
        page = self.running_monitor()
        subprocess.run([GUEST, 'unplug'], timeout=120)
        wait_until('"Getrennt"', lambda: page.page()['device'].startswith('Getrennt: Tarnel'), 60)
        check(any(line.startswith('unplugged:') for line in page.page()['lines']), 'no line for the unplug')
        plug('--boards', '0', '--adapter')
        wait_until('getDevices() lists the adapter again', lambda: self.js(
            'return navigator.usb.getDevices().then((d) => d.length === 1)'), 60)
        self.choose_adapter(page)
        wait_until('the data register read back', lambda: page.page()['fields'].get('176') == '8F', 60)
        check(self.adapter_log()[:1] != [], 'the adapter got nothing')
        self.note('lines: %s' % page.page()['lines'])


def watch_processes():
    while True:
        time.sleep(60)
        ps = subprocess.run(['ps', '-eo', 'pid,stat,time,wchan:20,args', '--sort=-time'],
                            capture_output=True, text=True).stdout.splitlines()
        say('processes:\n' + '\n'.join(line[:160] for line in ps[:12]))


def hidraw_masked(text):
    return re.sub(r'/dev/hidraw[0-9]+|HIDRAW', 'HIDRAW', text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--site', required=True)
    parser.add_argument('--package', required=True)
    parser.add_argument('--native-sim', required=True)
    parser.add_argument('--results', required=True)
    args = parser.parse_args()
    # The policy goes into the VM's own /etc only.
    if 'vmrun.job=' not in read('/proc/cmdline'):
        sys.exit('cases.py runs inside scripts/vm-run only')
    os.makedirs(args.results, exist_ok=True)
    for name in os.listdir(args.results):
        os.remove(os.path.join(args.results, name))
    work = tempfile.mkdtemp()
    os.chmod(work, 0o755)
    cases = Cases(args, work)
    cdn = os.path.join(work, 'cdn')
    with tarfile.open(args.package) as package:
        package.extractall(cdn)
    maker = os.path.join(work, 'maker')
    os.makedirs(maker)
    with open(os.path.join(maker, 'widget.hex'), 'wb') as f:
        f.write(read(cases.path('image.hex'), 'rb'))
    with open(os.path.join(maker, 'widget.json'), 'w') as f:
        json.dump({'name': 'Widget', 'releases': [{'version': '1.0', 'file': 'widget.hex', 'sha256':
                   hashlib.sha256(read(cases.path('image.hex'), 'rb')).hexdigest()}]}, f)
    with open(os.path.join(maker, 'widget.html'), 'w') as f:
        f.write(MAKER_PAGE % CDN_ORIGIN)
    with open(os.path.join(maker, 'events.js'), 'w') as f:
        f.write(EVENTS)
    servers = [serve(args.site, 8871), serve(maker, 8872), serve(cdn, 8873, cors=True)]
    write_policy()
    started = time.time()
    PROGRESS.append(open(os.path.join(args.results, 'progress.log'), 'w'))
    # Where the VM stands when a case waits long: the processes' CPU time, every 60 s.
    threading.Thread(target=watch_processes, daemon=True).start()
    say('starting Chromium')
    cases.driver, chromium = start_chromium(os.path.join(work, 'profile'))
    say('Chromium started in %.0f s' % (time.time() - started))
    names = ['policy', 'upload_page', 'button', 'pulled_out', 'monitor', 'monitor_reset', 'adapter_replug']
    failed = False
    for name in names:
        say('=== %s (at %.0f s)' % (name, time.time() - started))
        cases.notes = []
        try:
            getattr(cases, 'case_' + name)()
            verdict = 'PASS'
        except Exception as error:  # noqa: BLE001  (every fault is the case's result)
            verdict = 'FAIL'
            failed = True
            cases.note('FAIL: %s' % (error if isinstance(error, Failed) else traceback.format_exc()))
            say('FAIL: %s: %s' % (name, cases.notes[-1]))
        with open(os.path.join(args.results, name + '.result'), 'w') as f:
            f.write(verdict + '\n' + '\n'.join(cases.notes) + '\n')
    say('=== done (at %.0f s)' % (time.time() - started))
    cases.driver.quit()
    chromium.terminate()
    chromium.wait(60)
    for server in servers:
        server.shutdown()
    subprocess.run([GUEST, 'unplug'], timeout=120)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
