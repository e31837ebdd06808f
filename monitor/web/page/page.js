// The page around port-monitor's WebAssembly build: the adapter's choice,
// one run of the program per choice, and a line for each kind of trouble.
'use strict';

const page = {
  run: null,  // the MonitorShell of the running program
  runs: 0,
  wasm: null,  // the program's bytes, fetched once
  lines: new Map(),
};

const $ = (id) => document.getElementById(id);
const Hex4 = (number) => number.toString(16).padStart(4, '0');
const DeviceName = (device) => `${device.productName || 'USB-Gerät ohne Namen'} ` +
    `(USB ${Hex4(device.vendorId)}:${Hex4(device.productId)})`;

// One line per kind of trouble; a later one of the same kind replaces it
// (tone 'ok': it tells that the trouble is over). A device that does not
// open on Linux most likely lacks the udev rule; on Windows the adapter's
// own driver holds it, and WebUSB opens only devices that WinUSB drives.
function Report(kind, text, tone) {
  if (kind === 'open' && text.includes('nicht öffnen')) {
    if (!$('linux').hidden) {
      text += ' Unter Linux fehlt dann meist die udev-Regel (unten).';
      $('linux').open = true;
    } else if (/Windows/.test(navigator.userAgent)) {
      text += ' Unter Windows hält meist der Treiber des Adapters das Gerät, und WebUSB öffnet nur ' +
              'Geräte am WinUSB-Treiber: dann port-monitor.exe verwenden.';
    }
  }
  let line = page.lines.get(kind);
  if (!line) {
    line = document.createElement('li');
    line.dataset.kind = kind;
    page.lines.set(kind, line);
    $('messages').append(line);
  }
  line.classList.toggle('ok', tone === 'ok');
  line.textContent = text;
}

function ClearReports() {
  page.lines.clear();
  $('messages').textContent = '';
}

function ShowDevice(text) {
  $('device').textContent = text;
}

// The udev rule, with the ids of the build or of the device chosen.
function ShowUdevRule(vendor, product) {
  $('udev-rule').textContent =
      `SUBSYSTEM=="usb", ATTRS{idVendor}=="${vendor}", ATTRS{idProduct}=="${product}", TAG+="uaccess"`;
}

// A device the browser already permits (an administrator's policy, or a
// choice on an earlier visit) with the ids of the build, other than the one
// the dialog runs with: it needs no chooser.
async function Permitted() {
  const running = page.run && !page.run.stopping && !page.run.unplugged ? page.run.device : null;
  let devices = [];
  try {
    devices = await navigator.usb.getDevices();
  } catch (error) {
    return null;  // the chooser tells
  }
  const wanted = (device) => kUsbFilters.length === 0 || kUsbFilters.some((filter) =>
      (filter.vendorId === undefined || filter.vendorId === device.vendorId) &&
      (filter.productId === undefined || filter.productId === device.productId));
  return devices.find((device) => device !== running && wanted(device)) || null;
}

// A permitted device, else the browser's chooser (limited to the ids of the
// build, if any). A new choice starts the program afresh; no choice starts
// it without a device, as the program starts without an adapter, unless one
// is running already.
async function Choose() {
  let device = null;
  let reason = '';
  $('choose').disabled = true;
  try {
    device = await Permitted() || await navigator.usb.requestDevice({filters: kUsbFilters});
  } catch (error) {
    reason = error.name === 'NotFoundError' ? 'Auswahl abgebrochen' : `${error.message || error}`;
  }
  if (!device && page.run && !page.run.stopping) {
    Report('chooser', `Kein Adapter gewählt (${reason}): der Dialog läuft weiter wie bisher.`);
    $('choose').disabled = false;
    return;
  }
  await StartRun(device, reason);
  $('choose').disabled = false;
}

async function StartRun(device, reason) {
  if (page.run) await page.run.End();
  ClearReports();
  if (device) {
    ShowDevice(`Gewählt: ${DeviceName(device)}`);
    ShowUdevRule(Hex4(device.vendorId), Hex4(device.productId));
    $('udev-chosen').textContent = ' Die Regel oben trägt schon die Kennungen des gewählten Geräts.';
  } else {
    ShowDevice('Kein Adapter verbunden.');
    Report('chooser', `Kein Adapter gewählt (${reason}): der Dialog läuft ohne Gerät, wie das ` +
           'Programm ohne Adapter. Jede Anfrage schlägt fehl, jedes Lesen zeigt sein Befehlsbyte.');
  }
  const run = new MonitorShell({
    device,
    host: $('dialog-host'),
    report: (kind, text, tone) => {
      if (kind === 'open') ShowDevice(`Nicht geöffnet: ${DeviceName(device)}`);
      Report(kind, text, tone);
    },
    opened: () => ShowDevice(`Verbunden: ${DeviceName(device)}`),
    ended: () => {
      if (page.run !== run) return;
      ShowDevice('Dialog geschlossen; „Adapter wählen“ startet ihn neu.');
    },
  });
  page.run = run;
  try {
    await run.Start((options) => CreatePortMonitor(Object.assign({wasmBinary: page.wasm}, options)));
  } catch (error) {
    Report('internal', `Das Programm ließ sich nicht starten (${error}).`);
    return;
  }
  document.body.dataset.runs = String(++page.runs);
}

function Unplugged(event) {
  const run = page.run;
  if (!run || run.stopping || event.device !== run.device) return;
  run.Unplugged();
  ShowDevice(`Getrennt: ${DeviceName(event.device)}`);
  Report('unplugged', `${DeviceName(event.device)} wurde getrennt. Der Dialog läuft weiter wie bei ` +
         'jeder fehlgeschlagenen Anfrage: jedes Lesen zeigt sein Befehlsbyte. Nach dem Einstecken ' +
         '„Adapter wählen“.');
}

async function Start() {
  // Whatever goes wrong ends up as a line, not on the console.
  window.addEventListener('unhandledrejection', (event) => {
    event.preventDefault();
    Report('internal', `Interner Fehler: ${event.reason}`);
  });
  window.addEventListener('error', (event) => {
    event.preventDefault();
    Report('internal', `Interner Fehler: ${event.message}`);
  });
  const agent = navigator.userAgent;
  $('linux').hidden = !/Linux/.test(agent) || /Android|CrOS/.test(agent);
  const filter = kUsbFilters[0] || {};
  ShowUdevRule(filter.vendorId !== undefined ? Hex4(filter.vendorId) : 'vvvv',
               filter.productId !== undefined ? Hex4(filter.productId) : 'pppp');
  if (!('usb' in navigator)) {
    $('no-webusb').hidden = false;
    return;
  }
  navigator.usb.addEventListener('disconnect', Unplugged);
  try {
    await Promise.all([document.fonts.load('13px "Monitor Dialog"'),
                       document.fonts.load('11px "Monitor Small Fonts"')]);
    page.wasm = await (await fetch('port-monitor.wasm')).arrayBuffer();
  } catch (error) {
    // Opened as a file, for instance: the browser will not load the program then.
    Report('internal', `Das Programm ließ sich nicht laden (${error}); die Seite muss über http(s) kommen.`);
    return;
  }
  $('choose').addEventListener('click', Choose);
  $('choose').disabled = false;
  document.body.dataset.ready = 'yes';
}

Start();
