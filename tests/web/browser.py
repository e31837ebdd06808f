"""What the browser tests share: a static site on localhost, as scripts/serve-web
serves it, and Debian's headless Chromium with init scripts put into every page
before the page's own scripts."""
import functools
import http.server
import os
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{'.wasm': 'application/wasm', '.mjs': 'text/javascript'})

    def log_message(self, *args):
        pass


class Cors(Quiet):
    """As a CDN serves files to pages of any origin."""

    def end_headers(self):
        self.send_header('Access-Control-Allow-Origin', '*')
        super().end_headers()


class Site:
    """The folder on http://localhost:<free port>/; with cors, readable from
    pages of other origins (another port is another origin); headers: sent
    with every answer."""

    def __init__(self, folder, page='index.html', cors=False, headers=None):
        plain = Cors if cors else Quiet
        kind = plain
        if headers:
            def end_headers(handler):
                for name, value in headers.items():
                    handler.send_header(name, value)
                plain.end_headers(handler)
            kind = type('WithHeaders', (plain,), {'end_headers': end_headers})
        handler = functools.partial(kind, directory=folder)
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.root = 'http://localhost:%d/' % self.server.server_address[1]
        self.url = self.root + page

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def start_chromium(profile, init_scripts, window=None):
    """Headless Chromium with a fresh profile; init_scripts are files run, in
    order, in every new document before its own scripts."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                 '--no-first-run', '--disable-background-networking',
                 '--disable-component-update', '--disable-sync',
                 '--force-device-scale-factor=1', '--user-data-dir=' + profile):
        options.add_argument(flag)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    if window:
        driver.set_window_size(*window)
    source = ''
    for path in init_scripts:
        with open(path) as f:
            source += f.read() + '\n'
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                           {'source': '(function () {\n%s\n})();' % source})
    return driver


AXE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'node_modules', 'axe-core', 'axe.min.js')
SERIOUS = ('serious', 'critical')
WITH_MODERATE = ('moderate', 'serious', 'critical')


def axe_faults(driver, impacts=SERIOUS, rules=None):
    """axe-core's violations on the page as it is now (open shadow roots
    included), of the given impacts: 'rule (impact): element: why' lines.
    rules: only these rules (e.g. ['color-contrast'])."""
    if not os.path.exists(AXE):
        raise RuntimeError('%s is missing: run scripts/install-deps' % AXE)
    if not driver.execute_script('return !!window.axe'):
        with open(AXE) as f:
            driver.execute_script(f.read())
    driver.set_script_timeout(60)
    options = {'resultTypes': ['violations']}
    if rules:
        options['runOnly'] = {'type': 'rule', 'values': rules}
    found = driver.execute_async_script('''
        const done = arguments[arguments.length - 1];
        axe.run(document, arguments[0]).then((result) => done(result.violations.map((v) => ({
          id: v.id, impact: v.impact,
          nodes: v.nodes.map((n) => n.target.join(' > ') + ': ' + n.failureSummary.replace(/\\s+/g, ' '))}))),
          (error) => done([{id: 'axe', impact: 'critical', nodes: [String(error)]}]));''', options)
    return ['%s (%s): %s' % (v['id'], v['impact'], node)
            for v in found if v['impact'] in impacts for node in v['nodes']]


def console_screen(text):
    """What a console shows of text: a carriage return overwrites the line."""
    lines, column = [''], 0
    for c in text:
        if c == '\n':
            lines.append('')
            column = 0
        elif c == '\r':
            column = 0
        else:
            lines[-1] = lines[-1][:column] + c + lines[-1][column + 1:]
            column += 1
    return '\n'.join(lines)
