// hex-upload's write flow, shared by its page and by <hex-upload-button>, the
// element device makers put on their own pages: a manifest of releases, each
// file fetched and checked before any device is asked for, then written by
// the same WebAssembly core as the page's. Loads nothing but files beside it,
// and the core only when a file is to be checked or written: imported where
// there is no DOM (a server rendering the maker's page), the module defines
// nothing and touches nothing.

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
    'no-wasm': 'This page does not allow WebAssembly, and the firmware is written by a WebAssembly program: nothing was written. (The page\'s Content-Security-Policy lacks \'wasm-unsafe-eval\'.)',
    'progress-name': 'Write progress',
    // The core's console lines as it writes them, {name} a value; the log
    // shows each in the page's language.
    'log-open-error': 'Error opening Sorbel device: {reason}',
    'log-block-error': 'Error uploading data block {address}: {reason}',
    'log-block-error-short': '{range} Error uploading data block: {reason}',
    'log-page-size-error': 'Error reading page size: {reason}',
    'log-short-info': 'Not enough bytes in device info report ({got} instead of {want})',
    'log-page-size': 'Page size   = {size} ({hex})',
    'log-device-size': 'Device size = {size} ({hex}); {left} bytes remaining',
    'log-too-big': 'Data ({size} bytes) exceeds remaining flash size!',
    'log-page-not-power': 'Page size ({size} bytes) is not a power of two!',
    'log-uploading': 'Uploading {size} ({hex}) bytes starting at {start} ({hexstart})',
    'log-written': 'The firmware is written successfully after {count} retries.',
    'log-no-data': 'No data in input file, exiting.',
    'log-outside': 'Error: data record at address {address} lies outside the firmware image (0x0 to {last}), exiting.',
    'log-checksum': 'Warning: Checksum error between address {first} and {last}',
    'log-file-open': 'error opening {file}: {reason}',
    'log-file-read': 'error reading {file}: {reason}',
    'log-several': 'Note: {count} Sorbel devices are attached; writing the one at {place} (--list lists them, -d PLACE picks one)',
    'usb-denied': 'Access to device denied',
    'usb-not-found': 'The specified device was not found',
    'usb-communication': 'Communication error with device',
    'usb-busy': 'The device is used by another application',
    'usb-unknown': 'Unknown USB error {code}',
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
    'no-wasm': 'Diese Seite erlaubt kein WebAssembly, und die Firmware schreibt ein WebAssembly-Programm: Es wurde nichts geschrieben. (Der Content-Security-Policy der Seite fehlt \'wasm-unsafe-eval\'.)',
    'progress-name': 'Schreibfortschritt',
    'log-open-error': 'Fehler beim Öffnen des Sorbel-Geräts: {reason}',
    'log-block-error': 'Fehler beim Schreiben des Datenblocks {address}: {reason}',
    'log-block-error-short': '{range} Fehler beim Schreiben des Datenblocks: {reason}',
    'log-page-size-error': 'Fehler beim Lesen der Seitengröße: {reason}',
    'log-short-info': 'Zu wenige Bytes im Geräteinfo-Bericht ({got} statt {want})',
    'log-page-size': 'Seitengröße = {size} ({hex})',
    'log-device-size': 'Gerätegröße = {size} ({hex}); {left} Bytes frei',
    'log-too-big': 'Die Daten ({size} Bytes) passen nicht in den freien Flash-Speicher!',
    'log-page-not-power': 'Die Seitengröße ({size} Bytes) ist keine Zweierpotenz!',
    'log-uploading': '{size} ({hex}) Bytes werden ab {start} ({hexstart}) geschrieben',
    'log-written': 'Die Firmware ist geschrieben, nach {count} Wiederholungen.',
    'log-no-data': 'Die Eingabedatei enthält keine Daten; Ende.',
    'log-outside': 'Fehler: Der Datensatz an Adresse {address} liegt außerhalb des Firmware-Abbilds (0x0 bis {last}); Ende.',
    'log-checksum': 'Warnung: Prüfsummenfehler zwischen Adresse {first} und {last}',
    'log-file-open': 'Fehler beim Öffnen von {file}: {reason}',
    'log-file-read': 'Fehler beim Lesen von {file}: {reason}',
    'log-several': 'Hinweis: {count} Sorbel-Geräte sind angeschlossen; geschrieben wird das an {place} (--list zeigt sie, -d ORT wählt eines)',
    'usb-denied': 'Zugriff auf das Gerät verweigert',
    'usb-not-found': 'Das angegebene Gerät wurde nicht gefunden',
    'usb-communication': 'Kommunikationsfehler mit dem Gerät',
    'usb-busy': 'Das Gerät wird von einer anderen Anwendung benutzt',
    'usb-unknown': 'Unbekannter USB-Fehler {code}',
  },
};

export function Format(template, values = {}) {
  return template.replace(/\{(\w+)\}/g, (all, key) => (key in values ? String(values[key]) : all));
}

// The core's lines that the log shows in the page's language: each English
// text of kTexts as a pattern of its line, its values taken from the line.
const kCoreLines = Object.keys(kTexts.en).filter((key) => /^(log|usb)-/.test(key)).map((key) => {
  const names = [];
  const source = kTexts.en[key].split(/\{(\w+)\}/).map((part, i) => {
    if (i % 2 === 0) return part.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
    names.push(part);
    return '(.*?)';
  }).join('');
  return {key, names, pattern: new RegExp(`^${source}$`)};
});

// One line of the core's console in the texts of text(key, values); a line
// of no known kind stays as it is.
export function CoreLine(line, text) {
  for (const {key, names, pattern} of kCoreLines) {
    const match = pattern.exec(line);
    if (!match) continue;
    const values = {};
    names.forEach((name, i) => (values[name] = CoreLine(match[i + 1], text)));
    return text(key, values);
  }
  return line;
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

// A page whose Content-Security-Policy lacks 'wasm-unsafe-eval' refuses to
// compile any WebAssembly: the smallest module tells before the core loads.
export function WebAssemblyAllowed() {
  try {
    new WebAssembly.Module(new Uint8Array([0, 0x61, 0x73, 0x6d, 1, 0, 0, 0]));
    return true;
  } catch (error) {
    return false;
  }
}

export class NoWebAssembly extends Error {
  constructor() {
    super('this page does not allow WebAssembly');
    this.name = 'NoWebAssembly';
  }
}

export function LoadCore() {
  if (!core) {
    core = WebAssemblyAllowed()
        ? import('./hex-upload.js').then((module) => module.default({pageWrite: (text) => sink(text)}))
        : Promise.reject(new NoWebAssembly());
    core.catch(() => (core = null));  // a later try loads it afresh
  }
  return core;
}

// A name the core's file system takes, as the console user would see it.
function FileName(name) {
  const base = String(name).split(/[\\/]/).pop();
  return base && base !== '.' && base !== '..' ? base : 'firmware.hex';
}

// Runs fn with the file's bytes in the core's memory (a pointer and the
// size after its name) and the core's texts going to write.
async function WithFile(name, bytes, write, fn) {
  if (busy) throw new Error('busy');
  busy = true;
  let program = null;
  let pointer = 0;
  try {
    program = await LoadCore();
    pointer = program._malloc(Math.max(bytes.length, 1));
    program.HEAPU8.set(bytes, pointer);
    sink = write;
    return await fn(program, FileName(name), pointer, bytes.length);
  } finally {
    if (pointer) program._free(pointer);
    sink = () => {};
    busy = false;
  }
}

// The reader's verdict: {verdict: 'ok' | 'refused' | 'empty', reason}.
export async function CheckHex(name, bytes) {
  let said = '';
  const verdict = await WithFile(name, bytes, (text) => (said += text), async (program, ...file) =>
    program.ccall('CheckWebHex', 'number', ['string', 'number', 'number'], file));
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
    exitCode = await WithFile(name, bytes, Write, async (program, file, pointer, size) => {
      program.hidDevices = async () => {
        const allowed = await navigator.hid.getDevices();
        return allowed.includes(device) ? [device, ...allowed.filter((d) => d !== device)] : allowed;
      };
      return program.ccall('RunWebUpload', 'number', ['string', 'string', 'number', 'number'],
                           [file, product, pointer, size], {async: true});
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

// The element's own look. It sets its own colour scheme, and every text has
// a colour of its own, so that a dark page neither darkens its controls nor
// takes its texts' contrast; a maker sets `color-scheme: dark` on the element
// or the custom properties. Long words (a SHA-256) wrap: the dialog fits a
// phone's screen.
const kStyle = `
:host { display: inline-block; max-width: 100%; font: inherit; color-scheme: light;
  --_accent: var(--hex-upload-accent, light-dark(#1f5fa8, #8ab4f8));
  --_accent-text: var(--hex-upload-accent-text, light-dark(#fff, #000));
  --_text: var(--hex-upload-text, light-dark(#222, #eee));
  --_background: var(--hex-upload-background, light-dark(#fff, #1e1e1e));
  --_radius: var(--hex-upload-radius, 6px); }
button { font: inherit; padding: 0.4em 1em; border-radius: var(--_radius); border: 1px solid var(--_accent);
  background: var(--_background); color: var(--_text); cursor: pointer; white-space: normal; max-width: 100%; }
button.primary { background: var(--_accent); color: var(--_accent-text); }
button:disabled { opacity: 0.5; cursor: default; }
dialog { box-sizing: border-box; border: none; border-radius: var(--_radius); padding: 1.2em 1.4em;
  max-width: min(36em, calc(100vw - 1em)); max-height: calc(100dvh - 1em); overflow: auto;
  box-shadow: 0 8px 32px rgba(0, 0, 0, 0.3); font: inherit; color: var(--_text);
  background: var(--_background); overflow-wrap: anywhere; }
dialog::backdrop { background: rgba(0, 0, 0, 0.35); }
h2 { font-size: 1.2em; margin: 0 0 0.8em; color: inherit; outline: none; }
a { color: inherit; }
.row { display: flex; gap: 0.8em; align-items: center; flex-wrap: wrap; margin: 0.6em 0; }
select { font: inherit; padding: 0.2em; max-width: 100%; }
#status:empty, #question:empty { display: none; }
#status.failed, #status.ok { border-left: 4px solid #b22; padding-left: 0.5em; }
#status.ok { border-color: #171; }
#question { font-weight: 600; }
progress { width: 100%; height: 1.1em; accent-color: var(--_accent); }
pre { background: #111; color: #ddd; padding: 0.6em; max-height: 14em; overflow: auto; white-space: pre-wrap;
  overflow-wrap: anywhere; font-size: 0.85em; }
.buttons { display: flex; gap: 0.6em; justify-content: flex-end; flex-wrap: wrap; margin-top: 1em; }
.note { border-left: 4px solid #c33; background: #fdecec; color: #222; padding: 0.5em 0.8em; max-width: 40em;
  overflow-wrap: anywhere; }
[hidden] { display: none !important; }
`;

// One stylesheet for every element of the document, adopted by each shadow
// root: a page whose Content-Security-Policy forbids inline styles allows it.
let sheet = null;
function StyleSheet() {
  if (!sheet) {
    sheet = new CSSStyleSheet();
    sheet.replaceSync(kStyle);
  }
  return sheet;
}

// An element with attributes (true: present) and children, made with DOM
// calls only: a page that requires Trusted Types allows them.
function Make(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value !== false) element.setAttribute(name, value === true ? '' : value);
  }
  element.append(...children);
  return element;
}

function BuildShadow(root) {
  const action = (id) => Make('button', {part: 'action-button', id, class: 'primary', hidden: true});
  root.append(
      Make('button', {part: 'button', id: 'open', class: 'primary'}),
      Make('p', {part: 'note', class: 'note', id: 'note', hidden: true}),
      Make('dialog', {part: 'dialog', id: 'dialog', 'aria-labelledby': 'title', closedby: 'closerequest'},
           Make('h2', {id: 'title', tabindex: '-1'}),
           Make('div', {class: 'row', id: 'releases', hidden: true},
                Make('label', {}, Make('span', {id: 'release-label'}), ' ',
                     Make('select', {part: 'select', id: 'release'})),
                Make('a', {id: 'notes', target: '_blank', rel: 'noopener', hidden: true})),
           // The question and the status are announced as they change.
           Make('div', {id: 'live', role: 'status'},
                Make('p', {id: 'question'}), Make('p', {id: 'status'})),
           Make('div', {id: 'progress-box', hidden: true},
                Make('progress', {part: 'progress', id: 'progress', max: '1', value: '0'}),
                Make('div', {id: 'progress-text'})),
           Make('details', {id: 'log-box', hidden: true},
                Make('summary', {id: 'log-label'}),
                Make('pre', {part: 'log', id: 'log', tabindex: '0', role: 'region', 'aria-labelledby': 'log-label'})),
           Make('div', {class: 'buttons'},
                Make('button', {part: 'secondary-button', id: 'save', hidden: true}),
                Make('button', {part: 'secondary-button', id: 'cancel'}),
                action('choose'), action('continue'), action('write'))));
}

// Where there is no DOM (a server rendering the page) the class still
// exists, and nothing is defined.
const Base = globalThis.HTMLElement ?? class {};

export class HexUploadButton extends Base {
  static get observedAttributes() {
    return ['lang', 'manifest', 'text-button', 'text-no-webhid'];
  }

  constructor() {
    super();
    this.texts_ = {};
    this.root_ = this.attachShadow({mode: 'open'});
    this.root_.adoptedStyleSheets = [StyleSheet()];
    BuildShadow(this.root_);
    this.$ = (id) => this.root_.getElementById(id);
    this.state_ = {};
    this.view_ = {};
    this.$('open').addEventListener('click', () => this.Open());
    this.$('cancel').addEventListener('click', () => {
      if (!this.state_.writing) this.$('dialog').close();
    });
    this.$('continue').addEventListener('click', () => this.Check());
    this.$('choose').addEventListener('click', () => this.Choose());
    this.$('write').addEventListener('click', () => this.Write());
    this.$('save').addEventListener('click', () =>
      SaveLog(this.$('log').textContent, `hex-upload-${this.Release().version}.log`));
    this.$('release').addEventListener('change', () => this.ShowRelease());
    // While the device is written nothing closes the dialog: closedby="none"
    // keeps Escape out, the cancel is refused where the browser still sends
    // one, and a dialog closed anyway opens again at once.
    const dialog = this.$('dialog');
    dialog.addEventListener('cancel', (event) => {
      if (this.state_.writing) event.preventDefault();
    });
    dialog.addEventListener('close', () => {
      if (this.state_.writing && this.isConnected) dialog.showModal();
    });
    this.language_ = new MutationObserver(() => this.Render());
    // Properties a page set before the element was defined are taken now.
    for (const name of ['texts', 'manifest']) {
      if (Object.prototype.hasOwnProperty.call(this, name)) {
        const value = this[name];
        delete this[name];
        this[name] = value;
      }
    }
  }

  // The maker's texts by key.
  get texts() {
    return this.texts_;
  }
  set texts(texts) {
    this.texts_ = texts || {};
    this.Render();
  }

  get manifest() {
    return this.getAttribute('manifest');
  }
  set manifest(url) {
    this.setAttribute('manifest', url);
  }

  attributeChangedCallback() {
    this.Render();
  }

  connectedCallback() {
    // The page's language may change after the element is made.
    this.language_.observe(document.documentElement, {attributes: true, attributeFilter: ['lang']});
    this.Render();
  }

  disconnectedCallback() {
    this.language_.disconnect();
  }

  Language() {
    return (this.closest('[lang]')?.lang || document.documentElement.lang || 'en').toLowerCase().split('-')[0];
  }

  // A value may be a function: a text that is itself translated.
  Text(key, values = {}) {
    const lang = this.Language();
    const text = this.texts_[key] ?? this.getAttribute('text-' + key) ??
        (kTexts[lang] || kTexts.en)[key] ?? kTexts.en[key];
    const resolved = {};
    for (const [name, value] of Object.entries(values)) {
      resolved[name] = typeof value === 'function' ? value() : value;
    }
    return Format(text, resolved);
  }

  // Every text the element shows, from the state of the view, in the
  // language of now.
  Render() {
    const view = this.view_;
    const hid = 'hid' in navigator;
    const lang = kTexts[this.Language()] ? this.Language() : 'en';
    this.$('open').textContent = this.Text('button');
    this.$('open').hidden = !hid;
    this.$('note').hidden = hid;
    this.$('note').textContent = this.Text('no-webhid');
    this.$('note').lang = this.$('dialog').lang = lang;
    for (const [id, key] of [['continue', 'continue'], ['write', 'write'], ['save', 'save-log'],
                             ['log-label', 'log'], ['release-label', 'release'], ['notes', 'notes']])
      this.$(id).textContent = this.Text(key);
    this.$('cancel').textContent = this.Text(view.ended ? 'close' : 'cancel');
    this.$('choose').textContent = this.Text(view.chooser || 'choose');
    const manifest = this.state_.manifest;
    this.$('title').textContent = manifest ? this.Text('title', {name: manifest.name}) : this.Text('button');
    if (manifest) {
      Array.from(this.$('release').options).forEach((option, i) => {
        option.textContent = i === 0 ? this.Text('newest', manifest.releases[0]) : manifest.releases[i].version;
      });
    }
    const status = (view.status || []).map(([key, values]) => this.Text(key, values)).join(' ');
    this.$('status').textContent = status;
    this.$('status').className = view.kind || '';
    this.$('question').textContent = view.question ? this.Text('confirm', view.question) : '';
    this.$('progress').setAttribute('aria-label', this.Text('progress-name'));
    this.$('progress-text').textContent = view.progress ? this.Text('progress', view.progress) : '';
    if (view.console !== undefined) {
      const text = (key, values) => this.Text(key, values);
      const log = view.console.split('\n').map((line) => CoreLine(line, text)).join('\n');
      if (this.$('log').textContent !== log) {
        this.$('log').textContent = log;
        this.$('log').scrollTop = this.$('log').scrollHeight;
      }
    }
  }

  // The buttons of a step. Focus that was on a button now hidden (or put
  // on the step's button by the element) goes to the next step's button.
  Show(buttons) {
    for (const id of ['continue', 'choose', 'write', 'save']) this.$(id).hidden = !buttons.includes(id);
    if (!this.$('dialog').open) return;
    const focused = this.root_.activeElement;
    const usable = (e) => e && !e.hidden && !e.disabled;
    if (usable(focused) && focused !== this.focused_) return;
    const next = ['write', 'choose', 'continue', 'cancel', 'save'].map(this.$).find(usable) ||
        this.$('title');
    next.focus();
    this.focused_ = next;
  }

  Status(key, values, kind) {
    this.view_.status = key ? [[key, values]] : [];
    this.view_.kind = kind;
    this.Render();
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
    // A write goes on: the dialog shows it, nothing starts anew.
    if (this.state_.writing) {
      if (!dialog.open) dialog.showModal();
      return;
    }
    this.state_ = {};
    this.view_ = {};
    for (const id of ['releases', 'progress-box', 'log-box']) this.$(id).hidden = true;
    this.Status('loading');
    dialog.showModal();
    this.Show([]);
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
      return this.Refuse('bad-field', {url, field: fault.field, kind: () => this.Text(fault.kind)});
    }
    this.state_.manifest = manifest;
    this.state_.url = url;
    const select = this.$('release');
    select.textContent = '';
    manifest.releases.forEach((release, i) => select.add(new Option(release.version, String(i))));
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
    this.view_.question = null;
    this.Status();
    this.Show(['continue']);
  }

  // The release's file, fetched and checked; then the device.
  async Check() {
    const release = this.Release();
    const url = new URL(release.file, this.state_.url).href;
    const file = FileName(decodeURIComponent(new URL(url).pathname));
    this.$('release').disabled = true;
    this.Status('checking', {file});
    this.Show([]);
    try {
      const bytes = new Uint8Array(await (await Fetch(url)).arrayBuffer());
      const actual = await Sha256Hex(bytes);
      if (actual !== release.sha256.toLowerCase())
        return this.Refuse('sha256-mismatch', {file, actual, expected: release.sha256.toLowerCase()});
      let check;
      try {
        check = await CheckHex(file, bytes);
      } catch (error) {
        const key = error.message === 'busy' ? 'busy' : error.name === 'NoWebAssembly' ? 'no-wasm' : 'no-program';
        return this.Refuse(key, {error});
      }
      const reason = () => CoreLine(check.reason, (key, values) => this.Text(key, values));
      if (check.verdict === 'refused') return this.Refuse('hex-refused', {file, reason});
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
    this.Chooser('choose');
    this.Status();
    this.Show(['choose']);
  }

  // The chooser's button: the step's own, or a way to another device.
  Chooser(key) {
    this.view_.chooser = key;
    this.$('choose').className = key === 'choose' ? 'primary' : '';
    this.$('choose').part = key === 'choose' ? 'action-button' : 'secondary-button';
    this.Render();
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
      this.view_.question = null;
      this.Chooser('choose');
      this.Status('wrong-product', {device: DeviceName(device), product}, 'failed');
      this.Show(['choose']);
      this.Fire('hex-upload-failed', null, this.$('status').textContent);
      return;
    }
    this.state_.device = device;
    // The maker's product and the device as the browser names it.
    this.view_.question = {name: this.state_.manifest.name, version: this.Release().version,
                           device: DeviceName(device)};
    this.Chooser('choose-other');
    this.Status();
    this.Show(['write', 'choose']);
  }

  async Write() {
    if (this.state_.writing) return;
    const {manifest, device, file, bytes} = this.state_;
    const release = this.Release();
    const values = {name: manifest.name, version: release.version};
    const dialog = this.$('dialog');
    this.state_.writing = true;
    dialog.setAttribute('closedby', 'none');
    this.$('release').disabled = this.$('cancel').disabled = true;
    this.view_.question = null;
    this.view_.console = '';
    this.$('progress-box').hidden = this.$('log-box').hidden = false;
    this.$('progress').value = 0;
    this.Status('writing', values);
    this.Show([]);
    const result = await WriteHex(file, bytes, device, {
      log: (text) => {
        this.view_.console = text;
        this.Render();
      },
      progress: ({done, total, left}) => {
        this.$('progress').max = Math.max(total, 1);
        this.$('progress').value = done;
        this.view_.progress = {done, total, left: left === null ? '…' : left};
        this.Render();
      },
    }, manifest.product);
    this.state_.writing = false;
    dialog.setAttribute('closedby', 'closerequest');
    this.$('release').disabled = this.$('cancel').disabled = false;
    this.view_.ended = true;
    this.view_.progress = null;
    this.view_.console = result.log;
    if (result.exitCode === 0) {
      this.Status('done', values, 'ok');
    } else {
      this.view_.status = [...(result.unplugged ? [['unplugged', {}]] : []),
                           ['failed', {code: result.exitCode}]];
      this.view_.kind = 'failed';
      this.Render();
    }
    this.Show(['save']);
    this.Fire(result.exitCode === 0 ? 'hex-upload-done' : 'hex-upload-failed', result.exitCode,
              result.log);
  }
}

if (globalThis.customElements && !customElements.get('hex-upload-button'))
  customElements.define('hex-upload-button', HexUploadButton);
