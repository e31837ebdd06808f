"""What the browser tests share: a static site on localhost, as scripts/serve-web
serves it, and Debian's headless Chromium with init scripts put into every page
before the page's own scripts."""
import functools
import http.server
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Site:
    """The folder on http://localhost:<free port>/."""

    def __init__(self, folder, page='index.html'):
        handler = functools.partial(Quiet, directory=folder)
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = 'http://localhost:%d/%s' % (self.server.server_address[1], page)

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
