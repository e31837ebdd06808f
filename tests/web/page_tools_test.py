#!/usr/bin/python3
"""The build's tools for port-monitor's page: the dialog table from the
resource script (every control of the template with its place, styles and
decoded text, and a clear refusal, with no table written, of what the page
would not know how to show) and the chooser's filter from the cache
variables (bad ids stop the build with a clear message)."""
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
TOOL = os.path.join(ROOT, 'monitor', 'web', 'dialog_table.py')
RC = os.path.join(ROOT, 'monitor', 'win32', 'port-monitor.rc')
IDS = os.path.join(ROOT, 'monitor', 'resource_ids.h')
USB_FILTER = os.path.join(ROOT, 'monitor', 'web', 'usb_filter.cmake')


class DialogTable(unittest.TestCase):
    def run_tool(self, rc, ids=IDS):
        with tempfile.TemporaryDirectory() as work:
            output = os.path.join(work, 'dialog.js')
            run = subprocess.run([sys.executable, TOOL, rc, ids, 'IDD_EMULATION', output],
                                 capture_output=True, text=True)
            if not os.path.exists(output):
                return run, None
            with open(output, encoding='utf-8') as f:
                return run, f.read()

    def test_every_control_of_the_template(self):
        run, table = self.run_tool(RC)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(RC) as f:
            body = f.read().split('BEGIN', 1)[1].split('END', 1)[0]
        statements = [line for line in body.splitlines() if line.strip()]
        self.assertEqual(table.count('"kind"'), len(statements))
        for expected in ('"title": "Emulation"', '"font": {"points": 8, "face": "MS Shell Dlg"}',
                         '{"id": -1, "text": "Emulierte Port&adresse:", "x": 56, "y": 8, "w": 78, "h": 8',
                         '"id": 120, "text": "FIFO voll", "x": 152, "y": 170, "w": 44, "h": 10, '
                         '"styles": ["BS_RADIOBUTTON", "WS_DISABLED"], "kind": "radio"',
                         '"EN_CHANGE": 768'):
            self.assertIn(expected, table)
        # Fields are named by the label beside them (index 0: the port address's), else by
        # the group box around them (index 2: the data port's).
        self.assertIn('"id": 100, "x": 142, "y": 6, "w": 100, "h": 100, "styles": ["CBS_DROPDOWN", '
                      '"WS_VSCROLL", "WS_TABSTOP"], "kind": "combobox", "label": 0}', table)
        self.assertIn('"id": 176, "x": 24, "y": 34, "w": 18, "h": 12, "styles": ["ES_CENTER", '
                      '"ES_READONLY"], "kind": "edit", "label": 2}', table)

    def test_refuses_what_the_page_cannot_show(self):
        with open(RC) as f:
            good = f.read()
        label = '    LTEXT           TEXT_PORT_ADDRESS_LABEL, -1, 56, 8, 78, 8\n'
        # (what, change to the script, words of the error)
        cases = [
            ('unknown control', (label, '    LISTBOX 105, 1, 2, 3, 4\n'), 'LISTBOX is not known'),
            ('unknown style', ('ES_CENTER | ES_UPPERCASE', 'ES_CENTER | ES_PASSWORD'), 'ES_PASSWORD'),
            ('unknown class', ('"Button", BS_RADIOBUTTON', '"Static", BS_RADIOBUTTON'), 'class'),
            ('unknown text macro', ('TEXT_FIFO_FULL', 'TEXT_FIFO_HALF'), 'TEXT_FIFO_HALF'),
            ('argument missing', (label, '    LTEXT TEXT_PORT_ADDRESS_LABEL, -1, 56, 8, 78\n'),
             'arguments'),
            ('no END', ('\nEND', '\n'), 'no END'),
            ('no dialog', ('IDD_EMULATION DIALOG', 'IDD_OTHER DIALOG'), 'no dialog IDD_EMULATION'),
            ('a field nothing names', ('IDC_CFGA, 24, 150', 'IDC_CFGA, 2, 196'),
             'control 168 has no label'),
        ]
        for what, (old, new), words in cases:
            with self.subTest(what):
                self.assertIn(old, good)
                with tempfile.NamedTemporaryFile('w', suffix='.rc', delete=False) as f:
                    f.write(good.replace(old, new, 1))
                try:
                    run, table = self.run_tool(f.name)
                finally:
                    os.unlink(f.name)
                self.assertNotEqual(run.returncode, 0)
                self.assertIn(words, run.stderr)
                self.assertIsNone(table)


class UsbFilter(unittest.TestCase):
    def test_filters_and_refusals(self):
        # (vendor, product, the filter, or the words of the error)
        cases = [
            ('', '', '', None),
            ('0547', '', '{vendorId: 0x0547}', None),
            ('0X0547', '1002', '{vendorId: 0x0547, productId: 0x1002}', None),
            ('c', 'a', '{vendorId: 0xc, productId: 0xa}', None),
            ('', '1002', None, 'needs PORT_MONITOR_USB_VENDOR_ID'),
            ('12345', '', None, 'VENDOR_ID must be 1 to 4 hex digits, not "12345"'),
            ('05 47', '', None, 'not "05 47"'),
            ('0547', 'xyz', None, 'PRODUCT_ID must be 1 to 4 hex digits'),
        ]
        for vendor, product, filter_text, error in cases:
            with self.subTest(vendor=vendor, product=product):
                run = subprocess.run(['cmake', '-DVENDOR=' + vendor, '-DPRODUCT=' + product,
                                      '-P', USB_FILTER], capture_output=True, text=True)
                if error:
                    self.assertNotEqual(run.returncode, 0)
                    self.assertIn(error, ' '.join(run.stderr.split()))
                else:
                    self.assertEqual((run.returncode, run.stderr.strip()), (0, filter_text))


if __name__ == '__main__':
    unittest.main(verbosity=2)
