#!/usr/bin/python3
"""hex-upload's page in headless Chromium with a simulated device behind navigator.hid.

The page, the core and the WebHID backend run unchanged; only navigator.hid is
replaced, by an init script backed by the bootloader model in WebAssembly. The
uploads are compared with the native hex-upload-sim for the same file and
settings: console text, the device's report log, the flash and the exit code.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from browser import Site, WITH_MODERATE, axe_faults, console_screen, start_chromium

ARGS = None


def hex_file(data, start):
    """Intel HEX text with data at start, 16 bytes a record."""
    lines = []
    for offset in range(0, len(data), 16):
        chunk = data[offset:offset + 16]
        address = start + offset
        record = bytes([len(chunk), address >> 8, address & 0xFF, 0]) + chunk
        lines.append(':%s%02X' % (record.hex().upper(), -sum(record) & 0xFF))
    return '\n'.join(lines + [':00000001FF', ''])


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site(ARGS.site)
        cls.work = tempfile.TemporaryDirectory()
        cls.driver = start_chromium(os.path.join(cls.work.name, 'profile'), ARGS.init_script)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.site.close()
        cls.work.cleanup()

    def open_page(self, query):
        self.driver.get(self.site.url + query)
        WebDriverWait(self.driver, 30).until(
            lambda d: d.execute_script('return document.body.dataset.ready === "yes"'))

    def click(self, element_id):
        """Pointer onto the button, then a click, as a person does it."""
        button = self.driver.find_element(By.ID, element_id)
        ActionChains(self.driver).move_to_element(button).pause(0.1).click().perform()

    def upload_in_page(self, name, text, query):
        path = os.path.join(self.work.name, name)
        with open(path, 'w') as f:
            f.write(text)
        self.open_page(query)
        self.driver.find_element(By.ID, 'file').send_keys(path)
        WebDriverWait(self.driver, 10).until(
            lambda d: d.find_element(By.ID, 'upload').is_enabled())
        self.click('upload')
        # The status line takes a kind (ok, failed) only once the upload has ended.
        WebDriverWait(self.driver, 120).until(
            lambda d: d.find_element(By.ID, 'status').get_attribute('class') != '')
        d = self.driver
        return {
            'exit': d.execute_script('return Number(document.body.dataset.exitCode)'),
            'text': d.find_element(By.ID, 'log').get_property('textContent'),
            'reports': d.execute_script('return window.sorbelSim.log'),
            'flash': bytes.fromhex(d.execute_script('return window.sorbelSim.flash()')),
            'filters': d.execute_script('return window.sorbelSim.filters'),
            'progress': d.execute_script(
                'const p = document.getElementById("progress"); return [p.value, p.max]'),
        }

    def upload_native(self, name, settings):
        folder = os.path.join(self.work.name, 'native')
        os.makedirs(folder, exist_ok=True)
        env = dict(os.environ,
                   SORBEL_SIM_PAGE_SIZE=str(settings['page_size']),
                   SORBEL_SIM_FLASH_SIZE=str(settings['flash_size']),
                   SORBEL_SIM_FAIL_BLOCK=str(settings['fail_block']),
                   SORBEL_SIM_ABSENT=str(settings['absent']),
                   SORBEL_SIM_LOG=os.path.join(folder, 'log'),
                   SORBEL_SIM_FLASH_OUT=os.path.join(folder, 'flash'))
        run = subprocess.run([ARGS.native_sim, name], cwd=self.work.name, env=env,
                             capture_output=True, timeout=60)
        with open(env['SORBEL_SIM_LOG']) as f:
            reports = f.read().splitlines()
        with open(env['SORBEL_SIM_FLASH_OUT'], 'rb') as f:
            flash = f.read()
        # Bytes, not text mode: its newline translation would turn the
        # progress line's carriage returns into line ends.
        return {'exit': run.returncode, 'text': console_screen(run.stdout.decode()),
                'reports': reports, 'flash': flash}

    def test_uploads_match_the_console_program(self):
        data = random.Random(14).randbytes(0x1234 - 0x105)
        text = hex_file(data, 0x105)
        # (name, page size, flash size, fail block, absent, expected exit code, last line);
        # absent: the page's only device has the ids but another product name.
        cases = [
            ('pages.hex', 256, 32768, 0, 0, 0, 'after 0 retries.'),
            ('resume.hex', 128, 32768, 5, 0, 0, 'after 1 retries.'),
            ('too-big.hex', 128, 6144, 0, 0, 1, 'exceeds remaining flash size!'),
            ('other.hex', 128, 32768, 0, 1, 1, 'The specified device was not found'),
        ]
        for name, page_size, flash_size, fail_block, absent, exit_code, last in cases:
            with self.subTest(name):
                settings = {'page_size': page_size, 'flash_size': flash_size,
                            'fail_block': fail_block, 'absent': absent}
                query = '?' + '&'.join('%s=%d' % item for item in settings.items())
                page = self.upload_in_page(name, text, query)
                native = self.upload_native(name, settings)
                self.assertEqual(page['exit'], exit_code)
                self.assertTrue(page['text'].rstrip('\n').endswith(last), page['text'])
                for key in ('exit', 'text', 'reports', 'flash'):
                    self.assertEqual(page[key], native[key], key)
                self.assertEqual(page['filters'], [[{'vendorId': 0x16c0, 'productId': 0x05df}]])
                if exit_code == 0:
                    image = page['flash']
                    self.assertEqual(image[0x105:0x1234], data)
                    self.assertEqual(image[:0x105] + image[0x1234:], b'\xff' * (len(image) - len(data)))
                    self.assertEqual(page['progress'][0], page['progress'][1])

    def test_closing_report_reaches_a_strict_device(self):
        # As on Windows: feature reports shorter than the longest are refused.
        page = self.upload_in_page('strict.hex', hex_file(b'\x01\x02', 0), '?strict=1')
        self.assertEqual(page['exit'], 0)
        self.assertEqual(page['reports'][-2], 'refused set 3 7')
        self.assertTrue(page['reports'][-1].startswith('set 3 7 01 '), page['reports'][-1])
        self.assertTrue(self.driver.execute_script('return window.sorbelSim.leftBootloader()'))

    def test_permitted_device_needs_no_chooser(self):
        page = self.upload_in_page('granted.hex', hex_file(b'\x01\x02', 0), '?granted=1')
        self.assertEqual(page['exit'], 0)
        self.assertEqual(page['filters'], [])
        self.assertEqual(self.driver.find_element(By.ID, 'device').text, 'Sorbel (USB 16c0:05df)')

    def test_cancelled_chooser_uploads_nothing(self):
        page = self.upload_in_page('cancel.hex', hex_file(b'\x01\x02', 0), '?chooser=cancel')
        status = self.driver.find_element(By.ID, 'status').text
        self.assertEqual(status, 'No device chosen: nothing was uploaded.')
        self.assertEqual(page['reports'], [])
        self.assertEqual(page['text'], '')

    def test_site_files_and_size(self):
        # port-monitor's site is a folder of its own beside these files.
        files = sorted(name for name in os.listdir(ARGS.site)
                       if os.path.isfile(os.path.join(ARGS.site, name)))
        self.assertEqual(files, ['hex-upload-button.js', 'hex-upload.js', 'hex-upload.wasm',
                                 'index.html', 'page.js'])
        size = sum(os.path.getsize(os.path.join(ARGS.site, name)) for name in files)
        self.assertLessEqual(size, 300 * 1024)

    def test_accessible_at_every_step(self):
        self.open_page('')
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'the page')
        # The status line is announced; the log, rewritten with every block, is not.
        self.assertEqual(self.driver.execute_script(
            'return [document.getElementById("status").getAttribute("role"), '
            'document.querySelectorAll("[aria-live]").length]'), ['status', 0])
        page = self.upload_in_page('a11y.hex', hex_file(bytes(range(200)), 0), '')
        self.assertEqual(page['exit'], 0)
        self.assertEqual(self.driver.find_element(By.ID, 'progress-text').text, '')
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'after the upload')
        self.upload_in_page('a11y.hex', hex_file(b'\x01', 0), '?absent=1')
        self.assertEqual(axe_faults(self.driver, WITH_MODERATE), [], 'after a failed upload')

    def test_page_that_allows_no_webassembly(self):
        strict = Site(ARGS.site, headers={'Content-Security-Policy': "script-src 'self'"})
        try:
            self.driver.get(strict.url)
            WebDriverWait(self.driver, 30).until(
                lambda d: d.find_element(By.ID, 'status').text != '')
            self.assertEqual(self.driver.find_element(By.ID, 'status').text,
                             "This page is served with a Content-Security-Policy that does not allow "
                             "WebAssembly (it lacks 'wasm-unsafe-eval'), and the uploader is a "
                             "WebAssembly program: it cannot run here.")
        finally:
            strict.close()

    def test_browser_without_webhid(self):
        self.open_page('?webhid=none')
        note = self.driver.find_element(By.ID, 'no-webhid')
        self.assertTrue(note.is_displayed())
        self.assertIn('no WebHID', note.text)
        self.assertFalse(self.driver.find_element(By.ID, 'choose').is_enabled())
        self.assertFalse(self.driver.find_element(By.ID, 'upload').is_enabled())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument('--site', required=True)
    parser.add_argument('--init-script', nargs='+', required=True)
    parser.add_argument('--native-sim', required=True)
    ARGS, rest = parser.parse_known_args()
    if not os.access(ARGS.native_sim, os.X_OK):
        sys.exit('browser_test: %s is missing: build the linux preset first' % ARGS.native_sim)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
