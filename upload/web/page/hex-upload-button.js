// hex-upload's write flow, shared by its page and by <hex-upload-button>, the
// element device makers put on their own pages: a manifest of releases, each
// file fetched and checked before any device is asked for, then written by
// the same WebAssembly core as the page's. Loads nothing but files beside it.
import CreateHexUpload from './hex-upload.js';

export const kFilters = [{vendorId: 0x16c0, productId: 0x05df}];

// Every text the element shows; {name} stands for a value. A maker replaces
// any of them with an attribute text-<key> or the element's texts property.
export const kTexts = {
  en: {
    'button': 'Update firmware',
    'title': 'Firmware update: {name}',
    'release': 'Release',
    'newest': '{version} (newest)',
    'notes': 'Release notes',
    'continue': 'Continue',
    'choose': 'Choose device',
    'choose-other': 'Another device',
    'write': 'Write',
    'cancel': 'Cancel',
    'close': 'Close',
    'save-log': 'Save log',
    'log': 'Log',
    'loading': 'Loading the list of releases…',
    'checking': 'Fetching and checking {file}…',
    'http-error': '{url} could not be fetched: HTTP {status}. Nothing was written.',
    'network-error': '{url} could not be fetched: network error, or its server does not allow this page to read it (CORS). Nothing was written.',
    'not-json': '{url} is not JSON: {error}',
    'bad-field': '{url} is not a firmware manifest: "{field}" is missing or not {kind}.',
    'kind-text': 'a text',
    'kind-list': 'a list of releases',
    'kind-sha256': '64 hexadecimal digits',
    'sha256-mismatch': '{file} is not the published file: its SHA-256 is {actual}, the manifest gives {expected}. Nothing was written.',
    'hex-refused': '{file} was refused: {reason} Nothing was written.',
    'hex-empty': '{file} holds no data. Nothing was written.',
    'no-device': 'No device chosen: nothing was written.',
    'wrong-product': 'The device "{device}" is not a {product}: nothing was written.',
    'confirm': 'Write {name} {version} into {device}?',
    'writing': 'Writing {name} {version}…',
    'progress': '{done} of {total} bytes, about {left} s left',
    'unplugged': 'The device was unplugged during the write.',
    'done': '{name} {version} is written.',
    'failed': 'The write failed (exit code {code}); the log tells why.',
    'no-program': 'The program could not be loaded: {error}',
    'busy': 'Another write is running on this page.',
    'no-webhid': 'This browser cannot talk to USB HID devices: it has no WebHID. Open this page in Chrome, Edge, Opera or another Chromium-based browser on Windows, macOS, Linux or ChromeOS. Firefox and Safari do not offer WebHID. WebHID also needs the page to come from https:// or from localhost.',
  },
  de: {
    'button': 'Firmware aktualisieren',
    'title': 'Firmware-Aktualisierung: {name}',
    'release': 'Version',
    'newest': '{version} (neueste)',
    'notes': 'Versionshinweise',
    'continue': 'Weiter',
    'choose': 'Gerät wählen',
    'choose-other': 'Anderes Gerät',
    'write': 'Schreiben',
    'cancel': 'Abbrechen',
    'close': 'Schließen',
    'save-log': 'Protokoll speichern',
    'log': 'Protokoll',
    'loading': 'Die Liste der Versionen wird geladen…',
    'checking': '{file} wird geladen und geprüft…',
    'http-error': '{url} konnte nicht geladen werden: HTTP {status}. Es wurde nichts geschrieben.',
    'network-error': '{url} konnte nicht geladen werden: Netzwerkfehler, oder sein Server erlaubt dieser Seite das Lesen nicht (CORS). Es wurde nichts geschrieben.',
    'not-json': '{url} ist kein JSON: {error}',
    'bad-field': '{url} ist kein Firmware-Manifest: „{field}“ fehlt oder ist nicht {kind}.',
    'kind-text': 'ein Text',
    'kind-list': 'eine Liste von Versionen',
    'kind-sha256': '64 Hexadezimalziffern',
    'sha256-mismatch': '{file} ist nicht die veröffentlichte Datei: ihr SHA-256 ist {actual}, das Manifest nennt {expected}. Es wurde nichts geschrieben.',
    'hex-refused': '{file} wurde abgelehnt: {reason} Es wurde nichts geschrieben.',
    'hex-empty': '{file} enthält keine Daten. Es wurde nichts geschrieben.',
    'no-device': 'Kein Gerät gewählt: Es wurde nichts geschrieben.',
    'wrong-product': 'Das Gerät „{device}“ ist kein {product}: Es wurde nichts geschrieben.',
    'confirm': '{name} {version} in {device} schreiben?',
    'writing': '{name} {version} wird geschrieben…',
    'progress': '{done} von {total} Bytes, noch etwa {left} s',
    'unplugged': 'Das Gerät wurde während des Schreibens abgezogen.',
    'done': '{name} {version} ist geschrieben.',
    'failed': 'Das Schreiben ist gescheitert (Exit-Code {code}); das Protokoll sagt, warum.',
    'no-program': 'Das Programm konnte nicht geladen werden: {error}',
    'busy': 'Auf dieser Seite läuft schon ein Schreibvorgang.',
    'no-webhid': 'Dieser Browser kann nicht mit USB-HID-Geräten sprechen: Er hat kein WebHID. Öffnen Sie diese Seite in Chrome, Edge, Opera oder einem anderen Chromium-basierten Browser unter Windows, macOS, Linux oder ChromeOS. Firefox und Safari bieten kein WebHID. WebHID braucht außerdem eine Seite von https:// oder von localhost.',
  },
};

export function Format(template, values = {}) {
  return template.replace(/\{(\w+)\}/g, (all, key) => (key in values ? String(values[key]) : all));
}

// What a console shows: a carriage return moves back to the start of the
// line, and the text after it overwrites what was there.
export class ConsoleLog {
  constructor() {
    this.lines = [''];
    this.column = 0;
  }
  write(text) {
    for (const c of text) {
      const last = this.lines.length - 1;
      if (c === '\n') {
        this.lines.push('');
        this.column = 0;
      } else if (c === '\r') {
        this.column = 0;
      } else {
        const line = this.lines[last];
        this.lines[last] = line.slice(0, this.column) + c + line.slice(this.column + 1);
        ++this.column;
      }
    }
  }
  text() {
    return this.lines.join('\n');
  }
}

// One core for the document: it runs one program at a time, and its texts go
// to whoever runs it.
let core = null;
let sink = () => {};
let busy = false;

export function LoadCore() {
  if (!core) {
    core = CreateHexUpload({pageWrite: (text) => sink(text)});
    core.catch(() => (core = null));  // a later try loads it afresh
  }
  return core;
}

// A name the core's file system takes, as the console user would see it.
function FileName(name) {
  const base = String(name).split(/[\\/]/).pop();
  return base && base !== '.' && base !== '..' ? base : 'firmware.hex';
}

// Runs fn with the file alone in a fresh working directory and the core's
// texts going to write.
async function WithFile(name, bytes, write, fn) {
  if (busy) throw new Error('busy');
  busy = true;
  try {
    const program = await LoadCore();
    const fs = program.FS;
    if (fs.analyzePath('/upload').exists) {
      for (const entry of fs.readdir('/upload')) {
        if (entry !== '.' && entry !== '..') fs.unlink('/upload/' + entry);
      }
    } else {
      fs.mkdir('/upload');
    }
    fs.chdir('/upload');
    fs.writeFile(FileName(name), bytes);
    sink = write;
    return await fn(program, FileName(name));
  } finally {
    sink = () => {};
    busy = false;
  }
}

// The reader's verdict: {verdict: 'ok' | 'refused' | 'empty', reason}.
export async function CheckHex(name, bytes) {
  let said = '';
  const verdict = await WithFile(name, bytes, (text) => (said += text), async (program, file) =>
    program.ccall('CheckWebHex', 'number', ['string'], [file]));
  const lines = said.split('\n').filter((line) => line.trim() !== '');
  return {verdict: ['ok', 'refused', 'empty'][verdict], reason: lines.pop() || ''};
}

export async function Sha256Hex(bytes) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return Array.from(digest, (b) => b.toString(16).padStart(2, '0')).join('');
}

export function DeviceName(device) {
  return device.productName || `USB ${device.vendorId.toString(16).padStart(4, '0')}:` +
      device.productId.toString(16).padStart(4, '0');
}

function AskBeforeLeaving(event) {
  event.preventDefault();
  event.returnValue = '';
}

// Writes the file into the device (the core searches the permitted devices,
// this one first, for the product name) and returns {exitCode, unplugged,
// log}. on.log gets the console screen, on.progress {done, total, left}
// (left in seconds or null).
export async function WriteHex(name, bytes, device, on, product = 'Sorbel') {
  const log = new ConsoleLog();
  const progress = {start: 0, total: 0, began: 0};
  let unplugged = false;
  const Unplugged = (event) => {
    if (event.device === device) unplugged = true;
  };
  const Write = (text) => {
    log.write(text);
    on.log(log.text());
    // "Uploading N (...) bytes starting at S (...)" sets the range, and each
    // "\r0xA ... 0xB" progress line reaches B.
    const range = /^Uploading (\d+) \(0x[0-9a-f]+\) bytes starting at (-?\d+)/.exec(text);
    if (range) {
      Object.assign(progress, {total: Number(range[1]), start: Number(range[2]),
                               began: performance.now()});
      on.progress({done: 0, total: progress.total, left: null});
    }
    const block = /^\r0x[0-9a-f]+ \.\.\. 0x([0-9a-f]+)$/.exec(text);
    if (block && progress.total > 0) {
      const done = Math.min(parseInt(block[1], 16) - progress.start, progress.total);
      const rate = done / Math.max(performance.now() - progress.began, 1);
      const left = done > 0 ? Math.ceil((progress.total - done) / rate / 1000) : null;
      on.progress({done, total: progress.total, left});
    }
  };
  window.addEventListener('beforeunload', AskBeforeLeaving);
  navigator.hid.addEventListener('disconnect', Unplugged);
  let exitCode = 1;
  try {
    exitCode = await WithFile(name, bytes, Write, async (program, file) => {
      program.hidDevices = async () => {
        const allowed = await navigator.hid.getDevices();
        return allowed.includes(device) ? [device, ...allowed.filter((d) => d !== device)] : allowed;
      };
      return program.ccall('RunWebUpload', 'number', ['string', 'string'], [file, product],
                           {async: true});
    });
  } catch (error) {
    Write(`\n${error}\n`);
  } finally {
    window.removeEventListener('beforeunload', AskBeforeLeaving);
    navigator.hid.removeEventListener('disconnect', Unplugged);
  }
  return {exitCode, unplugged, log: log.text()};
}

export function SaveLog(text, fileName) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], {type: 'text/plain'}));
  link.download = fileName;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// A manifest's fields, checked; a fault is thrown as {field, kind}.
export function CheckManifest(json) {
  const text = (value) => typeof value === 'string' && value !== '';
  const need = (ok, field, kind) => {
    if (!ok) throw {field, kind};
  };
  need(json && typeof json === 'object' && !Array.isArray(json), 'name', 'kind-text');
  need(text(json.name), 'name', 'kind-text');
  need(json.product === undefined || text(json.product), 'product', 'kind-text');
  need(Array.isArray(json.releases) && json.releases.length > 0, 'releases', 'kind-list');
  json.releases.forEach((release, i) => {
    const at = `releases[${i}]`;
    need(release && typeof release === 'object', at, 'kind-list');
    need(text(release.version), `${at}.version`, 'kind-text');
    need(text(release.file), `${at}.file`, 'kind-text');
    need(typeof release.sha256 === 'string' && /^[0-9a-fA-F]{64}$/.test(release.sha256),
         `${at}.sha256`, 'kind-sha256');
    need(release.notes === undefined || text(release.notes), `${at}.notes`, 'kind-text');
  });
  return {name: json.name, product: json.product || 'Sorbel', releases: json.releases};
}

// Fetches url; a failure is thrown as the text key with its values.
async function Fetch(url) {
  let response;
  try {
    response = await fetch(url);
  } catch (error) {
    throw {key: 'network-error', url};
  }
  if (!response.ok) throw {key: 'http-error', url, status: response.status};
  return response;
}

const kStyle = `
:host { display: inline-block; font: inherit; color: inherit;
  --_accent: var(--hex-upload-accent, #1f5fa8); --_radius: var(--hex-upload-radius, 6px); }
button { font: inherit; padding: 0.4em 1em; border-radius: var(--_radius); border: 1px solid var(--_accent);
  background: #fff; color: var(--_accent); cursor: pointer; }
button.primary { background: var(--_accent); color: var(--hex-upload-accent-text, #fff); }
button:disabled { opacity: 0.5; cursor: default; }
dialog { border: none; border-radius: var(--_radius); padding: 1.2em 1.4em; max-width: min(36em, 92vw);
  box-shadow: 0 8px 32px rgba(0, 0, 0, 0.3); font: inherit; color: #222; background: var(--hex-upload-background, #fff); }
dialog::backdrop { background: rgba(0, 0, 0, 0.35); }
h2 { font-size: 1.2em; margin: 0 0 0.8em; }
.row { display: flex; gap: 0.8em; align-items: center; flex-wrap: wrap; margin: 0.6em 0; }
select { font: inherit; padding: 0.2em; }
#status.failed { color: #b22; } #status.ok { color: #171; }
#question { font-weight: 600; }
progress { width: 100%; height: 1.1em; accent-color: var(--_accent); }
pre { background: #111; color: #ddd; padding: 0.6em; max-height: 14em; overflow: auto; white-space: pre-wrap; font-size: 0.85em; }
.buttons { display: flex; gap: 0.6em; justify-content: flex-end; margin-top: 1em; }
.note { border-left: 4px solid #c33; background: #fdecec; padding: 0.5em 0.8em; max-width: 40em; }
[hidden] { display: none !important; }
`;

const kMarkup = `
<button part="button" id="open" class="primary"></button>
<p part="note" class="note" id="note" hidden></p>
<dialog part="dialog" id="dialog">
  <h2 id="title"></h2>
  <div class="row" id="releases" hidden><label><span id="release-label"></span>
    <select part="select" id="release"></select></label><a id="notes" target="_blank" rel="noopener" hidden></a></div>
  <p id="question" hidden></p>
  <p id="status" role="status"></p>
  <div id="progress-box" hidden><progress part="progress" id="progress" max="1" value="0"></progress>
    <div id="progress-text"></div></div>
  <details id="log-box" hidden><summary id="log-label"></summary><pre part="log" id="log"></pre></details>
  <div class="buttons">
    <button part="secondary-button" id="save" hidden></button>
    <button part="secondary-button" id="cancel"></button>
    <button part="action-button" id="choose" class="primary" hidden></button>
    <button part="action-button" id="continue" class="primary" hidden></button>
    <button part="action-button" id="write" class="primary" hidden></button>
  </div>
</dialog>`;

export class HexUploadButton extends HTMLElement {
  static get observedAttributes() {
    return ['lang', 'text-button', 'text-no-webhid'];
  }

  constructor() {
    super();
    this.texts_ = {};
    this.root_ = this.attachShadow({mode: 'open'});
    this.root_.innerHTML = `<style>${kStyle}</style>${kMarkup}`;
    this.$ = (id) => this.root_.getElementById(id);
    this.state_ = {};
    this.$('open').addEventListener('click', () => this.Open());
    this.$('cancel').addEventListener('click', () => this.$('dialog').close());
    this.$('continue').addEventListener('click', () => this.Check());
    this.$('choose').addEventListener('click', () => this.Choose());
    this.$('write').addEventListener('click', () => this.Write());
    this.$('save').addEventListener('click', () =>
      SaveLog(this.state_.log || '', `hex-upload-${this.Release().version}.log`));
    this.$('release').addEventListener('change', () => this.ShowRelease());
    // Escape must not close the dialog while the device is being written.
    this.$('dialog').addEventListener('cancel', (event) => {
      if (this.state_.writing) event.preventDefault();
    });
  }

  // The maker's texts by key; the dialog takes them when it opens.
  get texts() {
    return this.texts_;
  }
  set texts(texts) {
    this.texts_ = texts || {};
    this.connectedCallback();
  }

  attributeChangedCallback() {
    this.connectedCallback();
  }

  connectedCallback() {
    this.$('open').textContent = this.Text('button');
    const hid = 'hid' in navigator;
    this.$('open').hidden = !hid;
    this.$('note').hidden = hid;
    this.$('note').textContent = this.Text('no-webhid');
  }

  Text(key, values) {
    const lang = (this.closest('[lang]')?.lang || document.documentElement.lang || 'en')
                     .toLowerCase().split('-')[0];
    const text = this.texts_[key] ?? this.getAttribute('text-' + key) ??
        (kTexts[lang] || kTexts.en)[key] ?? kTexts.en[key];
    return Format(text, values);
  }

  Show(buttons) {
    for (const id of ['continue', 'choose', 'write', 'save']) this.$(id).hidden = !buttons.includes(id);
  }

  Status(key, values, kind) {
    this.$('status').textContent = key ? this.Text(key, values) : '';
    this.$('status').className = kind || '';
  }

  Release() {
    return this.state_.manifest.releases[Number(this.$('release').value) || 0];
  }

  Fire(name, exitCode, log) {
    const version = this.state_.manifest ? this.Release().version : null;
    this.dispatchEvent(new CustomEvent(name, {bubbles: true, composed: true,
                                              detail: {version, exitCode, log}}));
  }

  // A check that failed: its line, the event, and nothing more to do.
  Refuse(key, values) {
    this.Status(key, values, 'failed');
    this.Show([]);
    this.Fire('hex-upload-failed', null, this.$('status').textContent);
  }

  async Open() {
    const dialog = this.$('dialog');
    this.state_ = {};
    this.Chooser('choose');
    for (const [id, key] of [['cancel', 'cancel'], ['continue', 'continue'],
                             ['write', 'write'], ['save', 'save-log'], ['log-label', 'log'],
                             ['release-label', 'release'], ['notes', 'notes']])
      this.$(id).textContent = this.Text(key);
    this.$('title').textContent = this.Text('button');
    for (const id of ['releases', 'question', 'progress-box', 'log-box']) this.$(id).hidden = true;
    this.Show([]);
    this.Status('loading');
    dialog.showModal();
    const url = new URL(this.getAttribute('manifest') || '', document.baseURI).href;
    let manifest;
    try {
      const response = await Fetch(url);
      let json;
      try {
        json = await response.json();
      } catch (error) {
        return this.Refuse('not-json', {url, error: error.message});
      }
      manifest = CheckManifest(json);
    } catch (fault) {
      if (fault.key) return this.Refuse(fault.key, fault);
      return this.Refuse('bad-field', {url, field: fault.field, kind: this.Text(fault.kind)});
    }
    this.state_.manifest = manifest;
    this.state_.url = url;
    this.$('title').textContent = this.Text('title', {name: manifest.name});
    const select = this.$('release');
    select.textContent = '';
    manifest.releases.forEach((release, i) => {
      select.add(new Option(i === 0 ? this.Text('newest', release) : release.version, String(i)));
    });
    this.$('releases').hidden = false;
    this.ShowRelease();
  }

  ShowRelease() {
    const release = this.Release();
    const notes = this.$('notes');
    const href = release.notes ? new URL(release.notes, this.state_.url) : null;
    // Only a web page: a script URL from a manifest would run in the maker's page.
    notes.hidden = !href || !/^https?:$/.test(href.protocol);
    if (!notes.hidden) notes.href = href.href;
    this.state_.bytes = null;
    this.$('question').hidden = true;
    this.Status();
    this.Show(['continue']);
  }

  // The release's file, fetched and checked; then the device.
  async Check() {
    const release = this.Release();
    const url = new URL(release.file, this.state_.url).href;
    const file = FileName(decodeURIComponent(new URL(url).pathname));
    this.Show([]);
    this.$('release').disabled = true;
    this.Status('checking', {file});
    try {
      const bytes = new Uint8Array(await (await Fetch(url)).arrayBuffer());
      const actual = await Sha256Hex(bytes);
      if (actual !== release.sha256.toLowerCase())
        return this.Refuse('sha256-mismatch', {file, actual, expected: release.sha256.toLowerCase()});
      let check;
      try {
        check = await CheckHex(file, bytes);
      } catch (error) {
        return this.Refuse(error.message === 'busy' ? 'busy' : 'no-program', {error});
      }
      if (check.verdict === 'refused') return this.Refuse('hex-refused', {file, reason: check.reason});
      if (check.verdict === 'empty') return this.Refuse('hex-empty', {file});
      this.state_.file = file;
      this.state_.bytes = bytes;
    } catch (fault) {
      return this.Refuse(fault.key || 'network-error', {url, ...fault});
    } finally {
      this.$('release').disabled = false;
    }
    // Devices permitted on an earlier visit need no chooser.
    const allowed = (await navigator.hid.getDevices()).filter(
        (d) => kFilters.some((f) => d.vendorId === f.vendorId && d.productId === f.productId));
    if (allowed.length > 0) return this.TakeDevice(allowed[0]);
    this.Status();
    this.Show(['choose']);
    this.Chooser('choose');
  }

  // The chooser's button: the step's own, or a way to another device.
  Chooser(key) {
    this.$('choose').textContent = this.Text(key);
    this.$('choose').className = key === 'choose' ? 'primary' : '';
    this.$('choose').part = key === 'choose' ? 'action-button' : 'secondary-button';
  }

  async Choose() {
    let devices = [];
    try {
      devices = await navigator.hid.requestDevice({filters: kFilters});
    } catch (error) {
      // Some browser versions reject instead of giving an empty choice.
    }
    if (devices.length === 0) {
      this.Status('no-device', {}, 'failed');
      return;
    }
    this.TakeDevice(devices[0]);
  }

  TakeDevice(device) {
    const product = this.state_.manifest.product;
    if (device.productName !== product) {
      this.Status('wrong-product', {device: DeviceName(device), product}, 'failed');
      this.Show(['choose']);
      this.Chooser('choose');
      this.Fire('hex-upload-failed', null, this.$('status').textContent);
      return;
    }
    this.state_.device = device;
    const values = {name: this.state_.manifest.name, version: this.Release().version,
                    device: DeviceName(device)};
    this.$('question').textContent = this.Text('confirm', values);
    this.$('question').hidden = false;
    this.Status();
    this.Show(['write', 'choose']);
    this.Chooser('choose-other');
  }

  async Write() {
    const {manifest, device, file, bytes} = this.state_;
    const release = this.Release();
    const values = {name: manifest.name, version: release.version};
    this.Show([]);
    this.$('release').disabled = this.$('cancel').disabled = true;
    this.$('question').hidden = true;
    this.$('progress-box').hidden = this.$('log-box').hidden = false;
    this.$('progress').value = 0;
    this.$('progress-text').textContent = '';
    this.Status('writing', values);
    this.state_.writing = true;
    const result = await WriteHex(file, bytes, device, {
      log: (text) => {
        this.$('log').textContent = text;
        this.$('log').scrollTop = this.$('log').scrollHeight;
      },
      progress: ({done, total, left}) => {
        this.$('progress').max = Math.max(total, 1);
        this.$('progress').value = done;
        this.$('progress-text').textContent =
            this.Text('progress', {done, total, left: left === null ? '…' : left});
      },
    }, manifest.product);
    this.state_.writing = false;
    this.state_.log = result.log;
    this.$('release').disabled = this.$('cancel').disabled = false;
    this.$('cancel').textContent = this.Text('close');
    this.Show(['save']);
    if (result.exitCode === 0) {
      this.Status('done', values, 'ok');
    } else {
      this.$('status').textContent = (result.unplugged ? this.Text('unplugged') + ' ' : '') +
          this.Text('failed', {code: result.exitCode});
      this.$('status').className = 'failed';
    }
    this.Fire(result.exitCode === 0 ? 'hex-upload-done' : 'hex-upload-failed', result.exitCode,
              result.log);
  }
}

if (!customElements.get('hex-upload-button')) customElements.define('hex-upload-button', HexUploadButton);
