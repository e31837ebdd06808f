// The page around hex-upload's WebAssembly build: file and device choice,
// the console log, and the progress bar drawn from the progress line.
'use strict';

const kFilters = [{vendorId: 0x16c0, productId: 0x05df}];

const page = {
  file: null,           // {name, bytes}
  device: null,         // the HIDDevice chosen
  program: null,        // the WebAssembly module once loaded
  running: false,
  log: {lines: [''], column: 0},
  progress: {start: 0, size: 0},
};

const $ = (id) => document.getElementById(id);

// The log shows what a console shows: a carriage return moves back to the
// start of the line, and the text after it overwrites what was there.
function WriteToLog(text) {
  const log = page.log;
  for (const c of text) {
    const last = log.lines.length - 1;
    if (c === '\n') {
      log.lines.push('');
      log.column = 0;
    } else if (c === '\r') {
      log.column = 0;
    } else {
      const line = log.lines[last];
      log.lines[last] = line.slice(0, log.column) + c + line.slice(log.column + 1);
      ++log.column;
    }
  }
  $('log').textContent = log.lines.join('\n');
  $('log').scrollTop = $('log').scrollHeight;
  ShowProgress(text);
}

// "Uploading N (...) bytes starting at S (...)" sets the range, and each
// "\r0xA ... 0xB" progress line moves the bar to B.
function ShowProgress(text) {
  const range = /^Uploading (\d+) \(0x[0-9a-f]+\) bytes starting at (-?\d+)/.exec(text);
  if (range) {
    page.progress = {size: Number(range[1]), start: Number(range[2])};
    $('progress').max = Math.max(page.progress.size, 1);
    $('progress').value = 0;
    $('progress').hidden = false;
    return;
  }
  const block = /^\r0x[0-9a-f]+ \.\.\. 0x([0-9a-f]+)$/.exec(text);
  if (block) $('progress').value = parseInt(block[1], 16) - page.progress.start;
}

function ShowDevice() {
  $('device').textContent = page.device
      ? `${page.device.productName || '(no product name)'} (USB ` +
        `${page.device.vendorId.toString(16).padStart(4, '0')}:` +
        `${page.device.productId.toString(16).padStart(4, '0')})`
      : 'No device chosen.';
}

function UpdateButtons() {
  const hid = 'hid' in navigator;
  $('choose').disabled = !hid || page.running;
  $('upload').disabled = !hid || page.running || !page.file || !page.program;
}

function SetStatus(text, kind) {
  $('status').textContent = text;
  $('status').className = kind || '';
}

// The browser's chooser, limited to the bootloader's ids. Cancelling it
// keeps the earlier choice, if any.
async function ChooseDevice() {
  let devices = [];
  try {
    devices = await navigator.hid.requestDevice({filters: kFilters});
  } catch (error) {
    // Some browser versions reject instead of giving an empty choice.
  }
  if (devices.length > 0) page.device = devices[0];
  ShowDevice();
}

async function TakeFile(file) {
  if (!file) return;
  page.file = {name: file.name, bytes: new Uint8Array(await file.arrayBuffer())};
  UpdateButtons();
}

async function Upload() {
  if (!page.device) {
    await ChooseDevice();
    if (!page.device) {
      SetStatus('No device chosen: nothing was uploaded.', 'failed');
      return;
    }
  }
  page.running = true;
  UpdateButtons();
  page.log = {lines: [''], column: 0};
  $('log').textContent = '';
  $('progress').hidden = true;
  SetStatus('Uploading…');
  // The file goes into a fresh working directory under its own name, so the
  // messages name it as the console program would.
  const fs = page.program.FS;
  if (fs.analyzePath('/upload').exists) {
    for (const name of fs.readdir('/upload')) {
      if (name !== '.' && name !== '..') fs.unlink('/upload/' + name);
    }
  } else {
    fs.mkdir('/upload');
  }
  fs.chdir('/upload');
  fs.writeFile(page.file.name, page.file.bytes);
  let exit_code = 1;
  try {
    exit_code = await page.program.ccall('RunWebUpload', 'number', ['string'], [page.file.name],
                                         {async: true});
  } catch (error) {
    WriteToLog(`\n${error}\n`);
  }
  SetStatus(exit_code === 0 ? 'Done (exit code 0).' : `Failed (exit code ${exit_code}).`,
            exit_code === 0 ? 'ok' : 'failed');
  document.body.dataset.exitCode = String(exit_code);
  page.running = false;
  UpdateButtons();
}

async function Start() {
  // The udev note concerns desktop Linux only; ChromeOS and Android grant access themselves.
  const agent = navigator.userAgent;
  $('linux').hidden = !/Linux/.test(agent) || /Android|CrOS/.test(agent);
  if (!('hid' in navigator)) {
    $('no-webhid').hidden = false;
  } else {
    // Devices allowed on an earlier visit need no new choice.
    const allowed = await navigator.hid.getDevices();
    page.device = allowed.length > 0 ? allowed[0] : null;
    ShowDevice();
  }
  $('file').addEventListener('change', () => TakeFile($('file').files[0]));
  $('choose').addEventListener('click', ChooseDevice);
  $('upload').addEventListener('click', Upload);
  const drop = $('drop');
  drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    const file = event.dataTransfer.files[0];
    if (!file) return;
    TakeFile(file);
    drop.firstChild.textContent = `${file.name}: drop another, or `;
  });
  UpdateButtons();
  try {
    page.program = await CreateHexUpload({pageWrite: WriteToLog});
  } catch (error) {
    // Opened as a file, for instance: the browser will not load the .wasm then.
    SetStatus(`The program could not be loaded (${error}); serve the folder over http(s).`,
              'failed');
    return;
  }
  $('manufacturer').textContent = page.program.ccall('WebManufacturer', 'string', [], []);
  document.body.dataset.ready = 'yes';
  UpdateButtons();
}

Start();
