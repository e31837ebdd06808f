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
import sys
import tarfile
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from browser import Site, start_chromium
from browser_test import hex_file

ARGS = None

PAGE = '''<!doctype html>
<html lang="%(lang)s"><head><meta charset="utf-8"><title>Widget</title>
<style>body { font: 16px/1.5 system-ui, sans-serif; margin: 2rem; width: 40rem; }</style>
<script type="module" src="%(cdn)shex-upload-button.js"></script></head>
<body><h1>Widget</h1><p>Keep your widget up to date.</p>
<hex-upload-button manifest="%(manifest)s"%(extra)s></hex-upload-button>
<script>
  window.events = [];
  for (const name of ['hex-upload-done', 'hex-upload-failed'])
    document.addEventListener(name, (e) => window.events.push([name, e.detail]));
</script></body></html>
'''

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

    def open_maker_page(self, manifest, query='', lang='en', extra='', press=True):
        """Writes the manifest and a page for it, opens the page and the dialog."""
        name = 'case%d' % len(os.listdir(self.folder))
        with open(os.path.join(self.folder, name + '.json'), 'w') as f:
            f.write(manifest if isinstance(manifest, str) else json.dumps(manifest))
        with open(os.path.join(self.folder, name + '.html'), 'w') as f:
            f.write(PAGE % {'lang': lang, 'cdn': self.cdn.root, 'manifest': name + '.json',
                            'extra': extra})
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
        self.assertEqual(self.part('progress-text').text, '768 of 768 bytes, about 0 s left')

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

    def test_package_contents_and_size(self):
        with tarfile.open(ARGS.package) as package:
            names = sorted(package.getnames())
            meta = json.load(package.extractfile('package/package.json'))
            sizes = {m.name: m.size for m in package.getmembers()}
        self.assertEqual(names, ['package/' + n for n in (
            'LICENSE', 'README.md', 'hex-upload-button.js', 'hex-upload.js', 'hex-upload.wasm',
            'package.json')])
        self.assertEqual(meta['version'], ARGS.version)
        self.assertEqual(meta['exports']['.'], './hex-upload-button.js')
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
