#!/usr/bin/python3
"""port-monitor's page in headless Chromium with a simulated adapter behind navigator.usb.

The page, the core and the WebUSB shell run unchanged; only navigator.usb is
replaced, by an init script whose device carries the adapter model compiled to
WebAssembly: its bulk endpoints take the adapter's byte commands as the EZ-USB
driver's pipes do. The tests act as a person does: the pointer glides to a
place and rests there, then clicks or types.
"""
import argparse
import os
import re
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.by import By
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from browser import Site, WITH_MODERATE, axe_faults, start_chromium

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'shared'))
import monitor_picture  # noqa: E402  (the samples the Wine test takes as well)

ARGS = None

MODE_NAMES = ['SPP (Nibble)', 'Bidirektional', 'AutoStrobe', 'ECP', 'EPP', 'reserviert', 'Test',
              'Konfiguration']
MODE_FLAGS = [0x52, 0x52, 0x52, 0xDF, 0x5F, 0x02, 0x57, 0x11]

# The state of the controls and what the page shows, read in one go.
READ_PAGE = '''
const control = (id) => document.querySelector(`.dialog [data-id="${id}"]`);
const value = (id) => { const e = control(id); return e.matches('input') ? e.value : e.textContent; };
const shown = (e) => !!e && !e.hidden && e.offsetParent !== null;
const result = {fields: {}, visible: {}, readonly: {}, checked: {}};
for (const e of document.querySelectorAll('.dialog [data-id]')) {
  const id = e.dataset.id;
  result.visible[id] = shown(e);
  const input = e.matches('input') ? e : e.querySelector('input');
  if (input && input.type === 'text') { result.fields[id] = input.value; result.readonly[id] = input.readOnly; }
  if (input && input.type === 'radio') result.checked[id] = input.checked;
  if (!input) result.fields[id] = e.textContent;
}
result.mode = document.querySelector('.dialog [data-id="102"] .value')?.textContent;
result.lines = Array.from(document.querySelectorAll('#messages li'), (li) => li.dataset.kind + ': ' + li.textContent);
result.device = document.getElementById('device').textContent;
result.beeps = Number(document.querySelector('.dialog')?.dataset.beeps || 0);
return result;
'''


def expected_controls(mode):
    """The lower controls as the mode's flags set them: visible, read-only, caption of 122."""
    f = MODE_FLAGS[mode]
    visible = {'168': bool(f & 1), '131': bool(f & 4), '122': bool(f & 8), '123': bool(f & 8),
               '130': bool(f & 0x40), '169': bool(f & 0x10), '118': not f & 2, '119': not f & 2,
               '117': not (mode < 2 or mode == 4)}
    readonly = {'168': bool(f & 2), '169': bool(f & 0x20)}
    return visible, readonly, 'Komm&ando' if f & 0x80 else '&Adresse'


class MonitorPage(unittest.TestCase):
    """One page load per test; the dialog runs against the simulated adapter."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.site = Site(ARGS.site, 'port-monitor/index.html')
        cls.driver = start_chromium(os.path.join(cls.work.name, 'profile'), ARGS.init_script,
                                    window=(1000, 900))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.site.close()
        cls.work.cleanup()

    # ------------------------------------------------------------ acting

    def open_page(self, query='', registers=None):
        self.driver.get(self.site.url + query)
        self.wait_for(lambda: self.js('return document.body.dataset.ready === "yes" || '
                                      '!document.getElementById("no-webusb").hidden'), 30)
        if registers:
            self.assertTrue(self.js('return window.tarnelSim.setState(arguments[0])', registers))
        self.driver.get_log('browser')  # what loading said is not this test's

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait_for(self, condition, seconds=10, what=None):
        """Polls condition; what, when it is a function, tells the state at the timeout."""
        try:
            return WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(
                lambda d: condition(), None if callable(what) else what)
        except TimeoutException:
            if callable(what):
                raise TimeoutException(str(what())) from None
            raise

    def page(self):
        return self.js(READ_PAGE)

    def glide(self, x, y):
        """The pointer glides to a viewport point and rests there a moment."""
        actions = ActionBuilder(self.driver, duration=200)
        actions.pointer_action.move_to_location(x, y)
        actions.pointer_action.pause(0.25)
        actions.perform()

    def client_point(self, x, y):
        """Viewport point of a client pixel of the dialog (through a CSS zoom)."""
        left, top, zoom = self.js('const r = document.querySelector(".dialog .client")'
                                  '.getBoundingClientRect();'
                                  'return [r.left, r.top, r.width / (kDialogTemplate.width * 6 / 4)]')
        return -int(-(left + x * zoom) // 1), -int(-(top + y * zoom) // 1)

    def click_client(self, x, y, times=1):
        self.glide(*self.client_point(x, y))
        actions = ActionChains(self.driver)
        for _ in range(times):
            actions.click().pause(0.08)
        actions.perform()

    def hover_element(self, selector):
        box = self.js('const r = document.querySelector(arguments[0]).getBoundingClientRect();'
                      'return [r.left + r.width / 2, r.top + r.height / 2]', selector)
        self.glide(int(box[0]), int(box[1]))

    def click_element(self, selector):
        self.hover_element(selector)
        ActionChains(self.driver).click().perform()

    def type_into(self, field, text):
        """Click into a hex field, select what it holds, type."""
        self.click_element('.dialog [data-id="%d"]' % field)
        ActionChains(self.driver).key_down(Keys.CONTROL).send_keys('a').key_up(Keys.CONTROL).perform()
        for c in text:
            ActionChains(self.driver).send_keys(c).pause(0.06).perform()

    def choose_adapter(self):
        runs = int(self.js('return document.body.dataset.runs || 0'))
        self.click_element('#choose')
        self.wait_for(lambda: int(self.js('return document.body.dataset.runs || 0')) > runs, 10)
        self.wait_for(lambda: self.page()['fields'].get('186'), 10, 'no first poll')

    def choose_mode(self, mode):
        self.click_element('.dialog [data-id="102"]')
        items = '.dialog [data-id="102"] .item'
        self.wait_for(lambda: self.js('return document.querySelector(arguments[0]).offsetParent '
                                      '!== null', items))
        self.click_element('%s:nth-child(%d)' % (items, mode + 1))

    def registers(self):
        return self.js('return window.tarnelSim.registers()').split()

    def register(self, index):
        return self.registers()[index]

    def writes(self):
        return [tuple(w) for w in self.js('return window.tarnelSim.takeWrites()')]

    def wait_field(self, field, text, seconds=10):
        self.wait_for(lambda: self.page()['fields'].get(str(field)) == text, seconds,
                      lambda: 'field %d does not show %s: %s' % (field, text, self.page()['fields']))

    def wait_register(self, index, text, seconds=10):
        self.wait_for(lambda: self.register(index) == text, seconds,
                      lambda: 'register %d is %s, not %s' % (index, self.register(index), text))

    def console_errors(self):
        return [e for e in self.driver.get_log('browser') if e['level'] in ('SEVERE', 'WARNING')]

    # ------------------------------------------------------------ checking

    def picture_mismatches(self, state):
        """The samples of a state that the canvas does not show, at any pixel ratio."""
        samples = monitor_picture.samples(state)
        colours = self.js('''
            const canvas = document.querySelector('.dialog canvas');
            const box = canvas.getBoundingClientRect();
            // The client's size in pixels, as the base units 6 x 13 make it; a CSS zoom scales it.
            const [width, height] = [kDialogTemplate.width * 6 / 4, Math.round(kDialogTemplate.height * 13 / 8)];
            const [sx, sy, zoom] = [canvas.width / width, canvas.height / height, box.width / width];
            // A copy to read from, so that the page's canvas stays as it is.
            const copy = document.createElement('canvas');
            [copy.width, copy.height] = [canvas.width, canvas.height];
            const context = copy.getContext('2d', {willReadFrequently: true});
            context.drawImage(canvas, 0, 0);
            const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
            return arguments[0].map(([x, y]) => {
              const covered = document.elementFromPoint(box.left + (x + 0.5) * zoom,
                                                        box.top + (y + 0.5) * zoom) !== canvas;
              // The device pixel under the middle of the client pixel.
              const at = 4 * (Math.floor((y + 0.5) * sy) * canvas.width + Math.floor((x + 0.5) * sx));
              return [pixels[at], pixels[at + 1], pixels[at + 2], covered];
            });''', [[x, y] for _, x, y, _ in samples])
        wrong = []
        for (what, x, y, colour), actual in zip(samples, colours):
            if tuple(actual[:3]) != colour:
                wrong.append('%s at %d,%d in state %s: %s' % (what, x, y, state, actual[:3]))
            if actual[3]:
                wrong.append('%s at %d,%d is covered by a control' % (what, x, y))
        return wrong

    def expect_picture(self, state):
        self.assertEqual(self.picture_mismatches(state), [])

    def expect_texts_fit(self):
        """No visible label, button, radio or group box text is wider than its place, and
        none shows its mnemonic's ampersand."""
        overflowing = self.js('''
            const out = [];
            for (const text of document.querySelectorAll('.dialog .control .text')) {
              if (text.offsetParent === null) continue;
              const control = text.closest('.control');
              const room = control.classList.contains('radio')
                  ? control.clientWidth - text.offsetLeft : control.clientWidth;
              const width = text.getBoundingClientRect().width;
              if (width > room + 0.5) out.push(`${text.textContent}: ${width} > ${room} pixels`);
              // A static wraps a text too long for one line; the next line is cut off.
              if (control.classList.contains('static') && control.scrollHeight > control.clientHeight)
                out.push(`${text.textContent}: wraps in ${room} pixels`);
              // A mnemonic is underlined or not shown, never an ampersand.
              if (text.textContent.includes('&')) out.push(`${text.textContent}: a literal &`);
            }
            return out;''')
        self.assertEqual(overflowing, [])

    def expect_mode(self, mode):
        visible, readonly, caption = expected_controls(mode)

        def controls_are():
            page = self.page()
            return (all(page['visible'][k] == v for k, v in visible.items()) and
                    all(page['readonly'][k] == v for k, v in readonly.items()) and
                    page['mode'] == MODE_NAMES[mode])
        self.wait_for(controls_are, 10, lambda: 'controls in mode %d: %s' % (mode, self.page()))
        self.assertEqual(int(self.register(10), 16) >> 5, mode)
        self.assertEqual(self.js('return document.querySelector(\'.dialog [data-id="122"] .text\')'
                                 '.textContent'), caption.replace('&', ''))

    # ------------------------------------------------------------ cases

    def test_start_up_picture_and_poll(self):
        self.open_page(registers=monitor_picture.STATES['start']['registers'])
        self.choose_adapter()
        transfers = self.js('return window.tarnelSim.transfers')
        self.assertEqual(transfers[0], ['out', '00 8F'])
        reads = [t for t in transfers[1:33]]
        self.assertEqual([t[1] for t in reads[0::2]], ['%02X' % (0x10 | i) for i in range(16)])
        self.assertEqual([t[0] for t in reads[1::2]], ['in'] * 16)
        self.assertEqual(self.js('return window.tarnelSim.filters'), [[]])
        page = self.page()
        self.assertEqual(page['device'], 'Verbunden: Tarnel (USB 1209:7a01)')
        self.assertEqual(page['lines'], [])
        self.assertEqual(self.js('return document.querySelector(".dialog").dataset.baseUnits'), '6x13')
        self.expect_controls_placed()
        self.expect_texts_fit()
        for state in monitor_picture.STATES:
            if state != 'start':
                self.js('return window.tarnelSim.setState(arguments[0])',
                        monitor_picture.STATES[state]['registers'])
            for index, value in enumerate(monitor_picture.STATES[state]['shown']):
                self.wait_field(176 + index, '%02X' % value)
            typed = monitor_picture.STATES[state]['typed']
            if typed:
                self.writes()
                self.type_into(*typed)
                self.wait_for(lambda: (typed[0] - 160, int(typed[1], 16)) in self.writes(), 5)
            self.expect_picture(state)

        # The poll follows a port whose status lines change every 40 ms.
        self.js('return window.tarnelSim.animate(40)')
        seen = set()
        deadline = time.time() + 3
        while time.time() < deadline and len(seen) < 5:
            seen.add(self.page()['fields']['177'])
            time.sleep(0.05)
        self.assertGreaterEqual(len(seen), 5, seen)
        self.js('return window.tarnelSim.animate(0)')
        self.wait_for(lambda: self.page()['fields']['177'] == self.register(1), 5)
        self.assertEqual(self.console_errors(), [])

    def expect_controls_placed(self):
        """Every visible control of the template at its place: dialog units times 6 x 13 base units."""
        misplaced = self.js('''
            const client = document.querySelector('.dialog .client').getBoundingClientRect();
            const out = [];
            for (const c of kDialogTemplate.controls) {
              const e = document.querySelector(`.dialog [data-id="${c.id}"]`);
              if (c.id < 0 || e.offsetParent === null) continue;  // hidden in this mode
              const r = e.getBoundingClientRect();
              const want = [c.x * 6 / 4, c.y * 13 / 8, c.w * 6 / 4].map(Math.round);
              const got = [r.left - client.left, r.top - client.top, r.width].map(Math.round);
              if (want.join() !== got.join()) out.push(`${c.id}: ${got} instead of ${want}`);
            }
            return out;''')
        self.assertEqual(misplaced, [])

    def test_clicks_and_typing(self):
        self.open_page(registers='00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00')
        self.choose_adapter()
        self.wait_field(176, '8F')
        self.writes()
        # (what, client point, writes, data register after)
        x, y = monitor_picture.box_centre(0, 4)
        px, py = monitor_picture.pin_centre(3)
        cases = [
            ('click on box D4', (x, y), 1, [(0, 0x9F)], '9F'),
            ('click on pin 3 (D1)', (px, py), 1, [(0, 0x9D)], '9D'),
            ('double click on box D4', (x, y), 2, [(0, 0x8D), (0, 0x9D)], '9D'),
            ('click on a ground pin', monitor_picture.pin_centre(20), 1, [], '9D'),
        ]
        for what, (cx, cy), times, writes, after in cases:
            with self.subTest(what):
                self.click_client(cx, cy, times)
                self.wait_for(lambda: self.page()['fields']['176'] == after, 5)
                self.assertEqual(self.writes(), writes)
                self.assertEqual(self.register(0), after)
                self.assertEqual(self.page()['fields']['160'], after)
        # A hex value is written 500 ms after the last key; a bad one beeps,
        # writes nothing and stays in the field, selected.
        self.type_into(160, '3C')
        typed = time.time()
        self.assertNotIn((0, 0x3C), self.writes())
        self.wait_register(0, '3C', 5)
        self.assertGreaterEqual(time.time() - typed, 0.4)
        self.js('const made = window.madeAudio = []; const Base = window.AudioContext;'
                'window.AudioContext = class extends Base {'
                '  constructor(...args) { super(...args); made.push(this); } };')
        beeps = self.page()['beeps']
        self.type_into(161, 'G1')
        self.wait_for(lambda: self.page()['beeps'] == beeps + 1, 5, 'no beep for G1')
        time.sleep(0.3)
        self.assertEqual([w for w in self.writes() if w[0] == 1], [])
        self.assertEqual(self.js('const e = document.querySelector(\'.dialog [data-id="161"]\');'
                                 'return [e.value, e.selectionStart, e.selectionEnd]'), ['G1', 0, 2])
        # What sounds a run's beep ends with the run: a second run, and its end.
        audio = 'return window.madeAudio.filter((a) => a.state !== "closed").length'
        self.assertEqual(self.js(audio), 1)
        self.choose_adapter()
        self.assertEqual(self.js(audio), 0)
        self.type_into(161, 'G1')
        self.wait_for(lambda: self.page()['beeps'] == 1, 5, 'no beep in the second run')
        self.click_element('.dialog .caption .close')
        self.wait_for(lambda: self.js('return document.querySelector(".dialog") === null'), 5)
        self.assertEqual((self.js('return window.madeAudio.length'), self.js(audio)), (2, 0))
        self.assertEqual(self.console_errors(), [])

    def test_reads_that_fail(self):
        """A read that fails returns its command byte; the polls go on within a second, the
        next reads get their own answers, and one line on the page says it."""
        self.open_page(registers='00 88 05 00 00 00 00 00 00 00 01 00 00 00 00 00')
        self.choose_adapter()
        self.wait_field(177, '88')
        registers = self.registers()
        # Every text the line is given, in order.
        self.js('window.said = []; new MutationObserver((records) => records.forEach((r) => {'
                '  if (r.target.tagName === "LI") said.push(r.target.textContent); }))'
                '.observe(document.getElementById("messages"), {childList: true, subtree: true})')
        cases = [
            ('a read never answered', 'window.tarnelSim.answers = ["lose"]', 'keine Antwort binnen'),
            ('three reads never answered', 'window.tarnelSim.answers = ["lose", "lose", "lose"]',
             'keine Antwort binnen'),
            ('an answer too late', 'window.tarnelSim.answers = ["late"]', 'keine Antwort binnen'),
            ('an answer without data', 'window.tarnelSim.answers = ["empty"]', 'Antwort ohne Daten'),
            ('a read command not sent', 'window.tarnelSim.fail = 1', 'transfer error has occurred. Der'),
        ]
        for what, fault, reason in cases:
            with self.subTest(what):
                self.js('window.said = []; window.tarnelSim.transfers = [];' + fault)
                self.wait_for(lambda: self.js('return window.said.length') > 0, 5, 'no line')
                self.wait_for(lambda: self.js('return window.said.length') > 1, 1, 'no poll')
                time.sleep(0.5)
                said = self.js('return window.said')
                self.assertEqual(len(said), 2, said)
                self.assertIn(reason, said[0])
                self.assertTrue(said[1].startswith('Der Adapter antwortet wieder'), said)
                self.assertEqual(len(self.page()['lines']), 1)
                # Each answer follows its own read command and is that register's value.
                transfers = self.js('return window.tarnelSim.transfers')
                for i, (direction, data) in enumerate(transfers):
                    if direction == 'in' and i > 0 and data:
                        self.assertEqual(transfers[i - 1][0], 'out', transfers)
                        self.assertEqual(data, registers[int(transfers[i - 1][1], 16) & 15], transfers)
        self.assertEqual(self.console_errors(), [])

    def test_pixel_ratio_and_zoom(self):
        """The canvas follows the pixel ratio (another screen, the browser's zoom) and a CSS
        zoom while the dialog runs, at the exact ratio; clicks still land."""
        state = monitor_picture.STATES['start']
        self.open_page(registers=state['registers'])
        self.choose_adapter()
        self.wait_field(176, '8F')
        size = 'const c = document.querySelector(".dialog canvas"); return [c.width, c.height]'
        for ratio, zoom in ((1.25, 1), (2, 1), (1.5, 1), (1, 1.5)):
            with self.subTest(ratio=ratio, zoom=zoom):
                # As the browser's zoom does it: the window keeps its device pixels.
                self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                    'width': round(1000 / ratio), 'height': round(900 / ratio),
                    'deviceScaleFactor': ratio, 'mobile': False})
                self.js('document.body.style.zoom = arguments[0];'
                        'document.querySelector(".dialog").scrollIntoView()', str(zoom))
                scale = ratio * zoom
                # Device pixels are whole: the edges may round either way.
                self.wait_for(lambda: all(abs(got - want * scale) <= 1
                                          for got, want in zip(self.js(size), (381, 341))), 5,
                              lambda: 'canvas %s at %s' % (self.js(size), scale))
                self.wait_for(lambda: not self.picture_mismatches('start'), 5,
                              lambda: self.picture_mismatches('start'))
                # A double click on box D4 flips the bit and flips it back.
                self.writes()
                self.click_client(*monitor_picture.box_centre(0, 4), times=2)
                writes = []
                self.wait_for(lambda: writes.extend(self.writes()) or len(writes) >= 2, 5, 'no writes')
                self.assertEqual(writes, [(0, 0x9F), (0, 0x8F)])
        self.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})
        self.assertEqual(self.console_errors(), [])

    def test_modes_and_transfers(self):
        self.open_page(registers='00 00 04 00 00 00 00 00 00 3C 01 00 00 00 00 00')
        self.choose_adapter()
        self.expect_mode(0)
        # (mode, target radio or None, byte typed into 169, the write it makes, register read into 168)
        transfers = [
            (0, None, '41', [(0, 0x41), (2, 0x05), (2, 0x04)], None),
            (3, 122, '55', [(0, 0x55)], '55'),
            (3, 123, '56', [(8, 0x56)], '56'),
            (4, 122, '61', [(3, 0x61)], '61'),
            (4, 123, '62', [(4, 0x62)], '62'),
            (6, None, '5A', [(8, 0x5A)], '5A'),
        ]
        current = 0
        for mode, radio, byte, writes, read in transfers:
            with self.subTest(mode=mode, radio=radio):
                if mode != current:
                    self.choose_mode(mode)
                    self.expect_mode(mode)
                    current = mode
                    self.expect_controls_placed()
                    self.expect_texts_fit()
                if radio:
                    self.click_element('.dialog [data-id="%d"] input' % radio)
                    self.wait_for(lambda: self.page()['checked'][str(radio)], 5)
                self.writes()
                self.type_into(169, byte)
                self.wait_field(169, '%02X' % (int(byte, 16) + 1))
                self.assertEqual(self.writes(), writes)
                if read:
                    self.click_element('.dialog [data-id="131"]')
                    self.wait_field(168, read)
                else:  # in mode 0 the poll reads the data lines back
                    self.wait_field(176, byte)
        for mode in (1, 2, 7, 5):
            with self.subTest(mode=mode):
                self.choose_mode(mode)
                # The port refuses the reserved mode: the list goes back to mode 7.
                self.expect_mode(7 if mode == 5 else mode)
                self.expect_controls_placed()
                self.expect_texts_fit()
        self.assertEqual(self.page()['fields']['168'], '10')  # cfgA
        self.assertEqual(self.page()['fields']['169'], '3C')  # cfgB
        self.assertEqual(self.console_errors(), [])

    def test_tooltips(self):
        self.open_page(registers='00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00')
        self.choose_adapter()
        # (mode, element, its square's centre, tooltip text)
        cases = [
            (0, 'pin 1', monitor_picture.pin_centre(1), '/STB (Strobe)'),
            (0, 'box S7', monitor_picture.box_centre(1, 7), '/BUSY (beschäftigt)'),
            (0, 'pin 11', monitor_picture.pin_centre(11), 'BUSY (beschäftigt)'),
            (4, 'pin 1', monitor_picture.pin_centre(1), '/Write'),
            (4, 'box S0', monitor_picture.box_centre(1, 0), 'Timeout'),
            (4, 'box D3', monitor_picture.box_centre(0, 3), 'Data 3'),
        ]
        mode = 0
        for case_mode, what, (x, y), text in cases:
            with self.subTest(mode=case_mode, element=what):
                if case_mode != mode:
                    self.choose_mode(case_mode)
                    self.expect_mode(case_mode)
                    mode = case_mode
                self.glide(*self.client_point(x, y))
                self.wait_for(lambda: self.js('const t = document.querySelector(".tooltip");'
                                              'return !t.hidden && t.textContent') == text, 5,
                              'tooltip over %s' % what)
                half = 5 if what.startswith('pin') else 8
                tip, square, cursor = self.js('''
                    const t = document.querySelector('.tooltip').getBoundingClientRect();
                    const c = document.querySelector('.dialog .client').getBoundingClientRect();
                    const [x, y, h] = arguments;
                    return [[t.left, t.top, t.right, t.bottom],
                            [c.left + x - h, c.top + y - h, c.left + x + h, c.top + y + h],
                            getComputedStyle(document.querySelector('.dialog .client')).cursor];''',
                                              x, y, half)
                apart = tip[0] >= square[2] or tip[2] <= square[0] or tip[1] >= square[3] or \
                    tip[3] <= square[1]
                self.assertTrue(apart, 'tooltip %s covers %s %s' % (tip, what, square))
                self.assertEqual(cursor, 'pointer')
                # Away from the diagram the tooltip goes.
                self.glide(*self.client_point(8, 8))
                self.wait_for(lambda: self.js('return document.querySelector(".tooltip").hidden'), 5)
        # The close box ends the program: the dialog goes, the device is closed.
        self.click_element('.dialog .caption .close')
        self.wait_for(lambda: self.js('return document.querySelector(".dialog") === null'), 5)
        self.assertTrue(self.page()['device'].startswith('Dialog geschlossen'))
        self.assertFalse(self.js('return navigator.usb.getDevices().then((d) => d[0].opened)'))
        self.assertEqual(self.console_errors(), [])

    def test_failures_each_get_a_line(self):
        command_bytes = {'176': '10', '177': '11', '178': '12', '186': '1A'}

        def runs_without_device(kind, text):
            page = self.page()
            self.assertEqual([line.split(':')[0] for line in page['lines']], [kind], page['lines'])
            self.assertIn(text, page['lines'][0])
            for field, value in command_bytes.items():
                self.wait_field(int(field), value)
            self.assertEqual(self.console_errors(), [])

        with self.subTest('chooser cancelled'):
            self.open_page('?chooser=cancel')
            self.choose_adapter()
            runs_without_device('chooser', 'Auswahl abgebrochen')
            self.assertEqual(self.page()['device'], 'Kein Adapter verbunden.')
        with self.subTest('one bulk endpoint'):
            self.open_page('?endpoints=1')
            self.choose_adapter()
            runs_without_device('open', 'keine zwei Bulk-Endpunkte')
            self.assertEqual(self.page()['device'], 'Nicht geöffnet: Tarnel (USB 1209:7a01)')
        with self.subTest('opening refused'):
            self.open_page('?open=deny')
            self.choose_adapter()
            runs_without_device('open', 'Access denied')
            self.assertIn('udev-Regel', self.page()['lines'][0])
            self.assertTrue(self.js('return document.getElementById("linux").open'))
        with self.subTest('opening refused on Windows'):
            agent = self.js('return navigator.userAgent')
            self.driver.execute_cdp_cmd('Emulation.setUserAgentOverride', {
                'userAgent': re.sub(r'\(.*?\)', '(Windows NT 10.0; Win64; x64)', agent, count=1)})
            try:
                self.open_page('?open=deny')
                self.choose_adapter()
                runs_without_device('open', 'port-monitor.exe')
            finally:
                self.driver.execute_cdp_cmd('Emulation.setUserAgentOverride', {'userAgent': agent})
        with self.subTest('transfers fail, then the adapter is unplugged'):
            self.open_page(registers='00 88 05 00 00 00 00 00 00 00 01 00 00 00 00 00')
            self.choose_adapter()
            self.wait_field(177, '88')
            self.js('window.tarnelSim.fail = 2')  # two commands in a row
            self.wait_for(lambda: any(line.startswith('transfer:') for line in self.page()['lines']), 5)
            for field, value in (('176', '8F'), ('177', '88'), ('178', '05')):
                self.wait_field(int(field), value)  # the next polls read the port again
            self.js('window.tarnelSim.unplug()')
            self.wait_for(lambda: any(line.startswith('unplugged:') for line in self.page()['lines']), 5)
            for field, value in command_bytes.items():
                self.wait_field(int(field), value)
            self.assertTrue(self.page()['device'].startswith('Getrennt: Tarnel'))
            self.assertEqual(self.console_errors(), [])
        with self.subTest('chosen again: a fresh start'):
            self.js('window.tarnelSim.transfers = []')
            self.js('window.tarnelSim.replug()')
            self.choose_adapter()
            self.assertEqual(self.js('return window.tarnelSim.transfers[0]'), ['out', '00 8F'])
            self.assertEqual(self.js('return document.querySelectorAll(".dialog").length'), 1)
            self.wait_field(177, '88')
            self.assertEqual(self.page()['lines'], [])
        with self.subTest('no WebUSB'):
            self.open_page('?webusb=none')
            note = self.driver.find_element(By.ID, 'no-webusb')
            self.assertTrue(note.is_displayed())
            self.assertIn('ihm fehlt WebUSB', note.text)
            self.assertFalse(self.driver.find_element(By.ID, 'choose').is_enabled())

    def test_permitted_adapter_needs_no_chooser(self):
        # Granted by an administrator's policy: one click, and again after a replug.
        self.open_page('?granted=1')
        self.choose_adapter()
        self.assertEqual(self.page()['device'], 'Verbunden: Tarnel (USB 1209:7a01)')
        self.js('window.tarnelSim.unplug()')
        self.wait_for(lambda: self.page()['device'].startswith('Getrennt: Tarnel'), 5)
        self.js('window.tarnelSim.replug()')
        self.choose_adapter()
        self.assertEqual(self.page()['device'], 'Verbunden: Tarnel (USB 1209:7a01)')
        self.assertEqual(self.js('return window.tarnelSim.filters'), [])
        # The adapter running is no choice: another click asks the chooser.
        self.choose_adapter()
        self.assertEqual(self.js('return window.tarnelSim.filters'), [[]])
        self.assertEqual(self.console_errors(), [])

    def test_accessible_with_the_dialog_running(self):
        self.open_page()
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'before the choice')
        self.choose_adapter()
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'the dialog running')
        # Each field carries the name of its label in the dialog.
        names = self.js('''
            const out = {};
            for (const e of document.querySelectorAll('.dialog input[type=text], .dialog [role=combobox]')) {
              const id = e.closest('[data-id]').dataset.id;
              out[id] = e.getAttribute('aria-labelledby').split(' ')
                  .map((l) => document.getElementById(l).textContent).join(' ');
            }
            return out;''')
        self.assertEqual(names, {
            '100': 'Emulierte Portadresse:', '160': 'Datenport (+0)', '176': 'Datenport (+0)',
            '161': 'Statusport (+1)', '177': 'Statusport (+1)', '162': 'Steuerport (+2)',
            '178': 'Steuerport (+2)', '170': 'ECR (+402h)', '102': 'ECR (+402h)',
            '186': 'ECR (+402h)', '168': 'cfgA (+400h)', '169': 'cfgB (+401h)'})
        # The list open, a mode chosen, a tooltip shown.
        self.click_element('.dialog [data-id="102"]')
        self.wait_for(lambda: self.js('return document.querySelector(".dialog [data-id=\\"102\\"]")'
                                      '.getAttribute("aria-expanded") === "true"'))
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'the list open')
        self.click_element('.dialog [data-id="102"] .item:nth-child(8)')
        self.wait_for(lambda: self.page()['mode'] == MODE_NAMES[7])
        self.assertEqual(self.js('return document.querySelector(".dialog [data-id=\\"102\\"] '
                                 '[aria-selected=true]").textContent'), MODE_NAMES[7])
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'configuration mode')
        self.glide(*self.client_point(*monitor_picture.pin_centre(1)))
        self.wait_for(lambda: self.js('return !document.querySelector(".tooltip").hidden'), 5)
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'a tooltip shown')

    def test_site_size_and_links(self):
        root = os.path.join(ARGS.site, 'port-monitor')
        size = sum(os.path.getsize(os.path.join(folder, name))
                   for folder, _, names in os.walk(root) for name in names)
        self.assertLessEqual(size, 300 * 1024)
        self.open_page()
        self.assertEqual(self.js('return Array.from(document.links, (a) => a.getAttribute("href"))'
                                 '.filter((h) => h === "../").length'), 1)
        with open(os.path.join(ARGS.site, 'index.html'), encoding='utf-8') as f:
            self.assertIn('href="port-monitor/"', f.read())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--site', required=True)
    parser.add_argument('--init-script', nargs='+', required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
