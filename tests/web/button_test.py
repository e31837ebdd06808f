#!/usr/bin/python3
"""<hex-upload-button> on a device maker's page in headless Chromium.

The element comes from the unpacked npm package on a second origin (a CDN with
CORS); the maker's page, its manifest and HEX files on the first. The
simulated bootloader stands behind navigator.hid, as for hex-upload's page.
"""
import argparse
import hashlib
import json
import os
import random
import re
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from browser import Site, WITH_MODERATE, axe_faults, start_chromium
from browser_test import hex_file

ARGS = None
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')

# A maker's page; its styles and scripts are files, so that it runs under a
# strict Content-Security-Policy too (head: such a policy, body: more).
PAGE = '''<!doctype html>
<html lang="%(lang)s"><head><meta charset="utf-8"><title>Widget</title>
<meta name="viewport" content="width=device-width, initial-scale=1">%(head)s
<link rel="stylesheet" href="%(css)s">
<script src="events.js"></script>
<script type="module" src="%(cdn)shex-upload-button.js"></script></head>
<body><main><h1>Widget</h1><p>Keep your widget up to date.</p>
<hex-upload-button manifest="%(manifest)s"%(extra)s></hex-upload-button>%(body)s</main></body></html>
'''

EVENTS = '''window.events = [];
window.violations = [];
for (const name of ['hex-upload-done', 'hex-upload-failed'])
  document.addEventListener(name, (e) => window.events.push([name, e.detail]));
document.addEventListener('securitypolicyviolation',
                          (e) => window.violations.push(`${e.violatedDirective} ${e.blockedURI}`));
'''

STYLE = 'body { font: 16px/1.5 system-ui, sans-serif; margin: 2rem; max-width: 40rem; }\n'
DARK = STYLE + ':root { color-scheme: dark; } body { background: #111; color: #eee; }\n'

NEWEST = random.Random(28).randbytes(700)
OLDER = random.Random(27).randbytes(300)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class ButtonTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cdn = os.path.join(cls.work.name, 'cdn')
        with tarfile.open(ARGS.package) as package:
            package.extractall(cdn)
        cls.cdn = Site(os.path.join(cdn, 'package'), cors=True)
        cls.folder = os.path.join(cls.work.name, 'maker')
        os.makedirs(cls.folder)
        cls.files = {'widget-2.0.hex': hex_file(NEWEST, 0).encode(),
                     'widget-1.0.hex': hex_file(OLDER, 0x100).encode(),
                     'empty.hex': b':00000001FF\n',
                     'far.hex': b':020000040002F8\n:0100000000FF\n:00000001FF\n'}
        cls.files['events.js'] = EVENTS.encode()
        for name, data in cls.files.items():
            with open(os.path.join(cls.folder, name), 'wb') as f:
                f.write(data)
        cls.maker = Site(cls.folder)
        cls.driver = start_chromium(os.path.join(cls.work.name, 'profile'), ARGS.init_script,
                                    window=(1000, 760))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.maker.close()
        cls.cdn.close()
        cls.work.cleanup()

    def release(self, version, file, sha=None):
        return {'version': version, 'file': file,
                'sha256': sha or sha256(self.files.get(file, b''))}

    def open_maker_page(self, manifest, query='', lang='en', extra='', press=True, head='',
                        body='', css=STYLE):
        """Writes the manifest and a page for it, opens the page and the dialog."""
        name = 'case%d' % len(os.listdir(self.folder))
        with open(os.path.join(self.folder, name + '.json'), 'w') as f:
            f.write(manifest if isinstance(manifest, str) else json.dumps(manifest))
        with open(os.path.join(self.folder, name + '.css'), 'w') as f:
            f.write(css)
        with open(os.path.join(self.folder, name + '.html'), 'w') as f:
            f.write(PAGE % {'lang': lang, 'cdn': self.cdn.root, 'manifest': name + '.json',
                            'extra': extra, 'head': head, 'body': body, 'css': name + '.css'})
        self.driver.get(self.maker.root + name + '.html' + query)
        self.root = WebDriverWait(self.driver, 30).until(
            lambda d: d.execute_script('const e = document.querySelector("hex-upload-button");'
                                       'return customElements.get("hex-upload-button") && e.shadowRoot'))
        if press:
            self.click('open')

    def part(self, element_id):
        return self.root.find_element(By.CSS_SELECTOR, '#' + element_id)

    def click(self, element_id):
        """Pointer onto the button, a rest, then a click, as a person does it."""
        button = WebDriverWait(self.driver, 30).until(
            lambda d: self.part(element_id).is_displayed() and self.part(element_id).is_enabled()
            and self.part(element_id))
        ActionChains(self.driver).move_to_element(button).pause(0.1).click().perform()

    def status(self):
        return self.part('status').get_property('textContent')

    def events(self):
        return self.driver.execute_script('return window.events')

    def sim(self, what):
        return self.driver.execute_script('return window.sorbelSim.%s' % what)

    def write_through_the_dialog(self, question, screenshot=False):
        self.click('continue')
        self.click('choose')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('question').is_displayed())
        self.assertEqual(self.part('question').text, question)
        if screenshot and ARGS.screenshot:
            self.driver.save_screenshot(ARGS.screenshot)
        self.click('write')
        WebDriverWait(self.driver, 120).until(lambda d: self.events())
        return self.events()

    def test_newest_release_written_into_a_strict_device(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex'),
                                                   self.release('1.0', 'widget-1.0.hex')]}
        self.open_maker_page(manifest, '?strict=1')
        events = self.write_through_the_dialog('Write Widget 2.0 into Sorbel?', screenshot=True)
        self.assertEqual([(name, d['version'], d['exitCode']) for name, d in events],
                         [('hex-upload-done', '2.0', 0)])
        self.assertIn('written successfully after 0 retries.', events[0][1]['log'])
        self.assertEqual(self.status(), 'Widget 2.0 is written.')
        flash = bytes.fromhex(self.driver.execute_script('return window.sorbelSim.flash()'))
        self.assertEqual(flash[:len(NEWEST)], NEWEST)
        # Windows' class refused the short closing report; padded, it arrived.
        log = self.sim('log')
        self.assertEqual(log[-2:][0], 'refused set 3 7')
        self.assertTrue(log[-1].startswith('set 3 7 01 '), log[-1])
        self.assertTrue(self.driver.execute_script('return window.sorbelSim.leftBootloader()'))
        # 700 bytes go as six blocks of 128.
        self.assertEqual(self.part('progress').get_property('value'), 768)
        # The bytes and the time left are the write's; it has ended.
        self.assertEqual(self.part('progress-text').get_property('textContent'), '')

    def test_older_release_chosen_and_written_with_the_makers_product_name(self):
        manifest = {'name': 'Widget', 'product': 'Widget boot',
                    'releases': [self.release('2.0', 'widget-2.0.hex'),
                                 self.release('1.0', 'widget-1.0.hex')]}
        self.open_maker_page(manifest, '?product=Widget%20boot')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('release').is_displayed())
        Select(self.part('release')).select_by_visible_text('1.0')
        events = self.write_through_the_dialog('Write Widget 1.0 into Widget boot?')
        self.assertEqual([(name, d['version']) for name, d in events], [('hex-upload-done', '1.0')])
        flash = bytes.fromhex(self.driver.execute_script('return window.sorbelSim.flash()'))
        self.assertEqual(flash[0x100:0x100 + len(OLDER)], OLDER)

    def test_nothing_is_written_when_a_check_fails(self):
        good = self.release('2.0', 'widget-2.0.hex')
        without_sha = dict(good)
        del without_sha['sha256']
        # (what, manifest, query, lang, the words of the line)
        cases = [
            ('sha256 mismatch', {'name': 'W', 'releases': [self.release('2.0', 'widget-2.0.hex',
                                                                        sha256(b'other'))]},
             '', 'en', 'widget-2.0.hex is not the published file: its SHA-256 is ' +
             sha256(self.files['widget-2.0.hex'])),
            ('missing file', {'name': 'W', 'releases': [self.release('2.0', 'gone.hex')]},
             '', 'en', 'gone.hex could not be fetched: HTTP 404. Nothing was written.'),
            ('unreachable host', {'name': 'W', 'releases': [
                self.release('2.0', 'http://localhost:9/w.hex')]}, '', 'en', 'network error'),
            ('no data', {'name': 'W', 'releases': [self.release('2.0', 'empty.hex')]},
             '', 'en', 'empty.hex holds no data. Nothing was written.'),
            ('refused by the reader', {'name': 'W', 'releases': [self.release('2.0', 'far.hex')]},
             '', 'en', 'far.hex was refused: '),
            ('field missing', {'name': 'W', 'releases': [good, without_sha]}, '', 'en',
             'is not a firmware manifest: "releases[1].sha256" is missing or not 64 hexadecimal'),
            ('not JSON', '{"name": ', '', 'en', 'is not JSON'),
            ('German', {'name': 'W', 'releases': [self.release('2.0', 'gone.hex')]}, '', 'de',
             'konnte nicht geladen werden: HTTP 404. Es wurde nichts geschrieben.'),
            ('other product', {'name': 'W', 'releases': [good]}, '?product=Widget', 'en',
             'The device "Widget" is not a Sorbel: nothing was written.'),
        ]
        for what, manifest, query, lang, words in cases:
            with self.subTest(what):
                self.open_maker_page(manifest, query, lang)
                WebDriverWait(self.driver, 30).until(
                    lambda d: self.part('continue').is_displayed() or self.events())
                if not self.events():
                    self.click('continue')
                    if what == 'other product':
                        self.click('choose')
                WebDriverWait(self.driver, 30).until(lambda d: self.events())
                self.assertIn(words, self.status())
                self.assertEqual([(name, d['exitCode']) for name, d in self.events()],
                                 [('hex-upload-failed', None)])
                self.assertEqual((self.sim('log'), self.sim('opens')), ([], 0))
                self.assertFalse(self.part('write').is_displayed())

    def test_permitted_device_needs_no_chooser(self):
        # Granted by an administrator's policy or an earlier visit: one click on "continue".
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, '?granted=1')
        self.click('continue')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('question').is_displayed())
        self.assertEqual(self.part('question').text, 'Write Widget 2.0 into Sorbel?')
        self.click('write')
        WebDriverWait(self.driver, 120).until(lambda d: self.events())
        self.assertEqual([(name, d['exitCode']) for name, d in self.events()], [('hex-upload-done', 0)])
        self.assertEqual(self.sim('filters'), [])

    def test_device_unplugged_during_the_write(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, '?unplug_block=3')
        events = self.write_through_the_dialog('Write Widget 2.0 into Sorbel?')
        self.assertEqual([(name, d['exitCode']) for name, d in events], [('hex-upload-failed', 1)])
        self.assertTrue(self.status().startswith('The device was unplugged during the write.'))

    def test_texts_chosen_by_language_and_replaced_by_the_maker(self):
        manifest = {'name': 'W', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, lang='de', extra=' text-continue="Los"')
        self.assertEqual(self.part('open').text, 'Firmware aktualisieren')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('continue').is_displayed())
        self.assertEqual(self.part('continue').text, 'Los')
        self.assertEqual(self.part('release').text, '2.0 (neueste)')

    def test_browser_without_webhid_gets_the_note(self):
        self.open_maker_page('{}', '?webhid=none', press=False)
        self.assertIn('no WebHID', self.part('note').text)
        self.assertFalse(self.part('open').is_displayed())

    # ------------------------------------------------------------ the write's dialog

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def in_root(self, script):
        """script on the element's shadow root (as `root`)."""
        return self.js('const root = document.querySelector("hex-upload-button").shadowRoot;' + script)

    def focused(self):
        return self.in_root('const e = root.activeElement; return e ? e.id : null')

    def test_nothing_closes_the_dialog_while_it_writes(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, '?delay=250')
        self.click('continue')
        self.click('choose')
        self.click('write')
        self.assertEqual(self.in_root('return root.getElementById("dialog").getAttribute("closedby")'),
                         'none')
        # Escape, again and again, without a new user activation in between;
        # then a script closes it: it opens again at once.
        for _ in range(3):
            ActionChains(self.driver).send_keys(Keys.ESCAPE).pause(0.2).perform()
            self.assertTrue(self.in_root('return root.getElementById("dialog").open'))
        self.in_root('root.getElementById("dialog").close()')
        WebDriverWait(self.driver, 5).until(
            lambda d: self.in_root('return root.getElementById("dialog").open'))
        self.assertEqual(self.events(), [])
        # The element's button, pressed from outside, shows the write, not a new start.
        self.in_root('root.getElementById("open").click()')
        self.assertTrue(self.part('cancel').get_property('disabled'))
        WebDriverWait(self.driver, 60).until(lambda d: self.events())
        time.sleep(0.5)  # a second event would come at once
        self.assertEqual([(name, d['exitCode']) for name, d in self.events()],
                         [('hex-upload-done', 0)])
        # Written: Escape closes it again.
        ActionChains(self.driver).send_keys(Keys.ESCAPE).perform()
        WebDriverWait(self.driver, 5).until(
            lambda d: not self.in_root('return root.getElementById("dialog").open'))

    def test_accessible_at_every_step(self):
        manifest = {'name': 'Widget', 'releases': [
            dict(self.release('2.0', 'widget-2.0.hex'), notes='notes.html'),
            self.release('1.0', 'widget-1.0.hex')]}
        self.open_maker_page(manifest, '?delay=100', press=False)
        self.assertEqual(axe_faults(self.driver), [], 'the button')
        self.click('open')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('continue').is_displayed())
        # The dialog is named by its title.
        self.assertEqual(self.in_root('const d = root.getElementById("dialog");'
                                      'return root.getElementById(d.getAttribute("aria-labelledby"))'
                                      '.textContent'), 'Firmware update: Widget')
        self.assertEqual(axe_faults(self.driver), [], 'releases')
        self.click('continue')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('choose').is_displayed())
        self.assertEqual(self.focused(), 'choose', 'focus after Continue')
        self.assertEqual(axe_faults(self.driver), [], 'the chooser')
        self.click('choose')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('question').is_displayed())
        self.assertEqual(self.focused(), 'write', 'focus after the chooser')
        # The question is said where it is announced.
        self.assertEqual(self.in_root('return root.getElementById("question").closest("[role=status]").id'),
                         'live')
        self.assertEqual(axe_faults(self.driver), [], 'the question')
        self.click('write')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('progress').is_displayed())
        self.assertNotIn(self.focused(), (None, 'write'), 'focus after Write')
        self.assertEqual(self.part('progress').get_attribute('aria-label'), 'Write progress')
        self.assertEqual(axe_faults(self.driver), [], 'writing')
        WebDriverWait(self.driver, 60).until(lambda d: self.events())
        self.assertEqual(self.focused(), 'cancel', 'focus after the write')
        self.click('log-label')
        self.assertEqual(axe_faults(self.driver), [], 'written, the log open')
        # A failed check.
        self.open_maker_page({'name': 'W', 'releases': [self.release('2.0', 'gone.hex')]})
        self.click('continue')
        WebDriverWait(self.driver, 30).until(lambda d: self.events())
        self.assertEqual(self.focused(), 'cancel', 'focus after a failed check')
        self.assertEqual(axe_faults(self.driver), [], 'a failed check')

    def test_dark_pages(self):
        manifest = {'name': 'Widget', 'releases': [
            dict(self.release('2.0', 'widget-2.0.hex'), notes='notes.html'),
            self.release('1.0', 'widget-1.0.hex')]}
        makers = ('hex-upload-button { --hex-upload-background: #1d2430; --hex-upload-text: #f2f2f2; '
                  'color-scheme: dark; }\n')
        # (what, page style, what the title's colour must be)
        cases = [('dark page, element as it comes', DARK, 'rgba(34, 34, 34, 1)'),
                 ('dark element', DARK + 'hex-upload-button { color-scheme: dark; }\n',
                  'rgba(238, 238, 238, 1)'),
                 ("maker's colours", DARK + makers, 'rgba(242, 242, 242, 1)')]
        contrast = lambda: axe_faults(self.driver, rules=['color-contrast', 'link-in-text-block'])
        for what, css, title in cases:
            with self.subTest(what):
                self.open_maker_page(manifest, css=css, press=False)
                self.assertEqual(contrast(), [], 'the button')
                self.click('open')
                WebDriverWait(self.driver, 30).until(lambda d: self.part('continue').is_displayed())
                self.assertEqual(self.part('title').value_of_css_property('color'), title)
                self.assertEqual(contrast(), [], 'the releases')
                self.click('continue')
                self.click('choose')
                WebDriverWait(self.driver, 30).until(lambda d: self.part('question').is_displayed())
                self.assertEqual(contrast(), [], 'the question')
                self.click('write')
                WebDriverWait(self.driver, 60).until(lambda d: self.events())
                self.click('log-label')
                self.assertEqual(contrast(), [], 'written')
        with self.subTest('the note without WebHID'):
            self.open_maker_page('{}', '?webhid=none', css=DARK, press=False)
            self.assertEqual(contrast(), [])

    def test_phone_screen(self):
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                    {'width': 320, 'height': 640, 'deviceScaleFactor': 1,
                                     'mobile': True})
        try:
            fits = '''const root = document.querySelector("hex-upload-button").shadowRoot;
                const d = root.getElementById("dialog"), r = d.getBoundingClientRect();
                const out = [];
                if (r.left < 0 || r.right > innerWidth) out.push(`dialog ${r.left}..${r.right}`);
                if (d.scrollWidth > d.clientWidth) out.push(`content ${d.scrollWidth} > ${d.clientWidth}`);
                for (const e of root.querySelectorAll("dialog p, dialog button, dialog select")) {
                  if (e.offsetParent === null) continue;
                  if (e.scrollWidth > e.clientWidth + 1) out.push(`${e.id} ${e.scrollWidth} > ${e.clientWidth}`);
                  const b = e.getBoundingClientRect();
                  if (b.left < r.left || b.right > r.right) out.push(`${e.id} outside`);
                }
                return out;'''
            mismatch = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex',
                                                                    sha256(b'other'))]}
            self.open_maker_page(mismatch)
            self.click('continue')
            WebDriverWait(self.driver, 30).until(lambda d: self.events())
            self.assertEqual(self.js(fits), [], 'the SHA-256 line')
            manifest = {'name': 'Widget with a rather long product name',
                        'releases': [self.release('2.0', 'widget-2.0.hex')]}
            self.open_maker_page(manifest)
            self.click('continue')
            self.click('choose')
            WebDriverWait(self.driver, 30).until(lambda d: self.part('question').is_displayed())
            self.assertEqual(self.js(fits), [], 'the question')
            self.click('write')  # reachable: the click lands on it
            WebDriverWait(self.driver, 60).until(lambda d: self.events())
            self.click('log-label')
            self.assertEqual(self.js(fits), [], 'written, with the log')
            self.assertEqual(self.events()[0][0], 'hex-upload-done')
        finally:
            self.driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})

    # ------------------------------------------------------------ a strict CSP

    def csp(self, wasm=True):
        return ('<meta http-equiv="Content-Security-Policy" content="default-src \'self\'; '
                'script-src \'self\' %s%s; connect-src \'self\' %s; style-src \'self\'; '
                'require-trusted-types-for \'script\'; trusted-types \'none\'">'
                % (self.cdn.root, " 'wasm-unsafe-eval'" if wasm else '', self.cdn.root))

    def test_strict_content_security_policy(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, head=self.csp(), press=False)
        # Styled: the stylesheet was adopted, not refused as inline style.
        self.assertEqual(self.part('open').value_of_css_property('background-color'),
                         'rgba(31, 95, 168, 1)')
        self.click('open')
        events = self.write_through_the_dialog('Write Widget 2.0 into Sorbel?')
        self.assertEqual([(name, d['exitCode']) for name, d in events], [('hex-upload-done', 0)])
        self.assertEqual(self.js('return window.violations'), [])

    def test_a_page_that_allows_no_webassembly(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, head=self.csp(wasm=False))
        self.click('continue')
        WebDriverWait(self.driver, 30).until(lambda d: self.events())
        self.assertEqual(self.status(), "This page does not allow WebAssembly, and the firmware is "
                         "written by a WebAssembly program: nothing was written. (The page's "
                         "Content-Security-Policy lacks 'wasm-unsafe-eval'.)")
        self.assertEqual([(name, d['exitCode']) for name, d in self.events()],
                         [('hex-upload-failed', None)])

    # ------------------------------------------------------------ frameworks

    def test_properties_set_before_the_element_is_defined(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        name = 'case%d' % len(os.listdir(self.folder))
        with open(os.path.join(self.folder, name + '-set.json'), 'w') as f:
            json.dump(manifest, f)
        with open(os.path.join(self.folder, name + '-set.js'), 'w') as f:
            f.write('const e = document.querySelector("hex-upload-button");\n'
                    'e.texts = {button: "Update my widget", continue: "Go on"};\n'
                    'e.manifest = "%s-set.json";\n' % name)
        # The page's own manifest attribute names a file that does not exist.
        self.open_maker_page('{}', press=False, body='<script src="%s-set.js"></script>' % name)
        self.assertEqual(self.part('open').text, 'Update my widget')
        self.click('open')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('continue').is_displayed())
        self.assertEqual(self.part('continue').text, 'Go on')
        # Setting them again reaches the element: no own property shadows it.
        self.js('document.querySelector("hex-upload-button").texts = {continue: "Onwards"}')
        self.assertEqual(self.part('continue').text, 'Onwards')

    def test_import_without_a_dom(self):
        """As a server renders a page (Next.js, Nuxt, SvelteKit, Astro): Node.js imports the
        module; it throws nothing and defines nothing. Also the table of texts: each key in
        both languages, and the core's lines told in German."""
        script = r"""
            const m = await import(process.argv[1]);
            const out = {defined: typeof customElements !== 'undefined', element: typeof m.HexUploadButton,
                         keys: Object.keys(m.kTexts.en).filter((k) => !(k in m.kTexts.de))
                             .concat(Object.keys(m.kTexts.de).filter((k) => !(k in m.kTexts.en))),
                         lines: {}};
            const de = (key, values) => m.Format(m.kTexts.de[key], values);
            for (const line of JSON.parse(process.argv[2])) out.lines[line] = m.CoreLine(line, de);
            console.log(JSON.stringify(out));"""
        lines = {
            'Uploading 700 (0x2bc) bytes starting at 0 (0x0)':
                '700 (0x2bc) Bytes werden ab 0 (0x0) geschrieben',
            'Error opening Sorbel device: The specified device was not found':
                'Fehler beim Öffnen des Sorbel-Geräts: Das angegebene Gerät wurde nicht gefunden',
            '0x00000 ... 0x00080 Error uploading data block: Communication error with device':
                '0x00000 ... 0x00080 Fehler beim Schreiben des Datenblocks: Kommunikationsfehler mit '
                'dem Gerät',
            'Error: data record at address 0x20000 lies outside the firmware image (0x0 to 0x100ff), '
            'exiting.': 'Fehler: Der Datensatz an Adresse 0x20000 liegt außerhalb des '
                        'Firmware-Abbilds (0x0 bis 0x100ff); Ende.',
            'Page size   = 128 (0x80)': 'Seitengröße = 128 (0x80)',
            '0x00000 ... 0x00080': '0x00000 ... 0x00080',
            'a line of no known kind': 'a line of no known kind',
        }
        module = os.path.join(self.work.name, 'cdn', 'package', 'hex-upload-button.js')
        run = subprocess.run(['node', '--input-type=module', '-e', script, 'file://' + module,
                              json.dumps(list(lines))], capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stderr, '')
        out = json.loads(run.stdout)
        self.assertEqual((out['defined'], out['element'], out['keys']), (False, 'function', []))
        self.assertEqual(out['lines'], lines)

    def test_typescript_declarations(self):
        """A maker's TypeScript against the package's declarations: the element, its
        properties and its events typed; a misuse of each is an error."""
        tsc = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'node_modules', 'typescript',
                           'bin', 'tsc')
        self.assertTrue(os.path.exists(tsc), '%s is missing: run scripts/install-deps' % tsc)
        project = os.path.join(self.work.name, 'typescript')
        os.makedirs(os.path.join(project, 'node_modules'), exist_ok=True)
        link = os.path.join(project, 'node_modules', 'hex-upload-button')
        if not os.path.exists(link):
            os.symlink(os.path.join(self.work.name, 'cdn', 'package'), link)
        with open(os.path.join(project, 'package.json'), 'w') as f:
            f.write('{"type": "module"}')
        with open(os.path.join(project, 'tsconfig.json'), 'w') as f:
            json.dump({'compilerOptions': {'strict': True, 'noEmit': True, 'module': 'nodenext',
                                           'moduleResolution': 'nodenext', 'target': 'es2022',
                                           'lib': ['es2022', 'dom'], 'types': []},
                       'files': ['page.ts']}, f)
        good = '''import {HexUploadButton, type HexUploadDetail} from 'hex-upload-button';
const element: HexUploadButton | null = document.querySelector('hex-upload-button');
if (element) {
  element.texts = {confirm: 'Install {name} {version} on {device}?'};
  element.manifest = 'firmware/manifest.json';
  element.addEventListener('hex-upload-done', (event) => {
    const detail: HexUploadDetail = event.detail;
    const code: number | null = detail.exitCode;
    console.log(detail.version, code);
  });
}
'''
        # (what, the misuse, words of the error)
        cases = [('correct use', '', None),
                 ('a property of the wrong type', 'if (element) element.texts = 3;\n', 'is not assignable'),
                 ("an event's detail misread", "document.addEventListener('hex-upload-failed', "
                  "(e) => { const v: number = e.detail.version; });\n", 'is not assignable'),
                 ('another element', "const other: HexUploadButton | null = "
                  "document.querySelector('div');\n", 'is not assignable')]
        for what, misuse, error in cases:
            with self.subTest(what):
                with open(os.path.join(project, 'page.ts'), 'w') as f:
                    f.write(good + misuse)
                run = subprocess.run(['node', tsc, '-p', project], capture_output=True, text=True,
                                     timeout=120)
                if error is None:
                    self.assertEqual((run.returncode, run.stdout), (0, ''))
                else:
                    self.assertNotEqual(run.returncode, 0)
                    self.assertIn(error, run.stdout)

    # ------------------------------------------------------------ texts

    def test_german_log_and_reasons_and_a_language_that_changes(self):
        manifest = {'name': 'Widget', 'releases': [self.release('2.0', 'widget-2.0.hex')]}
        self.open_maker_page(manifest, lang='en', press=False)
        self.assertEqual(self.part('open').text, 'Update firmware')
        self.js('document.documentElement.lang = "de"')
        WebDriverWait(self.driver, 5).until(lambda d: self.part('open').text == 'Firmware aktualisieren')
        self.click('open')
        WebDriverWait(self.driver, 30).until(lambda d: self.part('continue').is_displayed())
        self.assertEqual(self.part('continue').text, 'Weiter')
        self.js('document.documentElement.lang = "en"')
        WebDriverWait(self.driver, 5).until(lambda d: self.part('continue').text == 'Continue')
        self.js('document.documentElement.lang = "de"')
        events = self.write_through_the_dialog('Widget 2.0 in Sorbel schreiben?')
        self.assertEqual(events[0][0], 'hex-upload-done')
        log = self.part('log').get_property('textContent')
        self.assertIn('768 (0x300) Bytes werden ab 0 (0x0) geschrieben', log)
        self.assertIn('Die Firmware ist geschrieben, nach 0 Wiederholungen.', log)
        self.assertNotIn('Uploading', log)
        self.assertEqual(self.status(), 'Widget 2.0 ist geschrieben.')
        self.assertEqual(self.part('progress-text').get_property('textContent'), '')
        # The reader's reason.
        self.open_maker_page({'name': 'W', 'releases': [self.release('2.0', 'far.hex')]}, lang='de')
        self.click('continue')
        WebDriverWait(self.driver, 30).until(lambda d: self.events())
        self.assertEqual(self.status(), 'far.hex wurde abgelehnt: Fehler: Der Datensatz an Adresse '
                         '0x20000 liegt außerhalb des Firmware-Abbilds (0x0 bis 0x100ff); Ende. Es '
                         'wurde nichts geschrieben.')

    def test_package_contents_and_size(self):
        with tarfile.open(ARGS.package) as package:
            names = sorted(package.getnames())
            meta = json.load(package.extractfile('package/package.json'))
            manifest = json.load(package.extractfile('package/custom-elements.json'))
            types = package.extractfile('package/hex-upload-button.d.ts').read().decode()
            licence = package.extractfile('package/LICENSE').read().decode()
            module = package.extractfile('package/hex-upload-button.js').read().decode()
            sizes = {m.name: m.size for m in package.getmembers()}
        self.assertEqual(names, ['package/' + n for n in (
            'LICENSE', 'README.md', 'custom-elements.json', 'hex-upload-button.d.ts',
            'hex-upload-button.js', 'hex-upload.js', 'hex-upload.wasm', 'package.json')])
        self.assertEqual(meta['version'], ARGS.version)
        self.assertEqual(meta['exports']['.']['default'], './hex-upload-button.js')
        self.assertEqual((meta['types'], meta['customElements'], meta['license']),
                         ('./hex-upload-button.d.ts', 'custom-elements.json', 'MIT'))
        for field in ('repository', 'homepage', 'bugs'):
            self.assertRegex(json.dumps(meta[field]), r'https://', field)
        self.assertIn("'hex-upload-button': HexUploadButton", types)
        # The manifest tells what the element has: its attributes, parts and custom properties.
        element = manifest['modules'][0]['declarations'][0]
        self.assertEqual(element['tagName'], 'hex-upload-button')
        observed = re.search(r"return \[('[^\]]*')\];", module).group(1)
        self.assertEqual(sorted(a['name'] for a in element['attributes']),
                         sorted(re.findall(r"'([\w-]+)'", observed)))
        self.assertEqual(sorted(p['name'] for p in element['cssParts']),
                         sorted(set(re.findall(r"part: '([\w-]+)'", module) +
                                    re.findall(r"'((?:action|secondary)-button)'", module))))
        self.assertEqual(sorted(p['name'] for p in element['cssProperties']),
                         sorted(set(re.findall(r'var\((--hex-upload-[\w-]+)', module))))
        # One licence: the tree's, in the package, the Debian copyright and the Windows ZIP.
        with open(os.path.join(ROOT, 'LICENSE')) as f:
            tree = f.read()
        self.assertTrue(tree.startswith('MIT License\n\nCopyright (c) 2026 The hex-upload, '
                                        'port-monitor and firmware-erase developers\n'))
        self.assertTrue(licence.startswith(tree), 'the package has another licence')
        with open(os.path.join(ROOT, 'upload', 'linux', 'copyright')) as f:
            copyright = f.read()
        stanza = copyright.split('\n\n')[1]
        self.assertIn('Copyright: 2026 The hex-upload, port-monitor and firmware-erase developers',
                      stanza)
        body = stanza.split('License: Expat\n')[1].split('\n')
        body = body[:next((i for i, line in enumerate(body) if not line.startswith(' ')), len(body))]
        debian = '\n'.join(line[1:] if line != ' .' else '' for line in body)
        self.assertEqual(debian.strip(), tree.split('\n\n', 2)[2].strip())
        with open(os.path.join(ROOT, 'cmake', 'Dist.cmake')) as f:
            self.assertIn('${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .', f.read())
        code = sum(sizes['package/' + n]
                   for n in ('hex-upload-button.js', 'hex-upload.js', 'hex-upload.wasm'))
        print('module and core: %d bytes' % code, file=sys.stderr)
        self.assertLessEqual(code, 150 * 1024)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--package', required=True)
    parser.add_argument('--version', required=True)
    parser.add_argument('--init-script', nargs='+', required=True)
    parser.add_argument('--screenshot', help='save the dialog with its question here')
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
