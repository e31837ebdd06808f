"""What the browser tests share: a static site on localhost, as scripts/serve-web
serves it, and Debian's headless Chromium with init scripts put into every page
before the page's own scripts."""
import functools
import http.server
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
    pages of other origins (another port is another origin)."""

    def __init__(self, folder, page='index.html', cors=False):
        handler = functools.partial(Cors if cors else Quiet, directory=folder)
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
