// The page around hex-upload's WebAssembly build: file and device choice,
// the console log and the progress bar. The write itself is the flow that
// <hex-upload-button> uses too, with a local file instead of a manifest.
import {kFilters, DeviceName, LoadCore, SaveLog, WriteHex} from './hex-upload-button.js';

const page = {
  file: null,     // {name, bytes}
  device: null,   // the HIDDevice chosen
  program: null,  // the WebAssembly module once loaded
  running: false,
  log: '',
};

const $ = (id) => document.getElementById(id);

function ShowDevice() {
  $('device').textContent = page.device
      ? `${DeviceName(page.device)} (USB ` +
        `${page.device.vendorId.toString(16).padStart(4, '0')}:` +
        `${page.device.productId.toString(16).padStart(4, '0')})`
      : 'No device chosen.';
}

function UpdateButtons() {
  const hid = 'hid' in navigator;
  $('choose').disabled = !hid || page.running;
  $('upload').disabled = !hid || page.running || !page.file || !page.program;
  $('save').hidden = page.running || page.log === '';
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

function ShowLog(text) {
  $('log').textContent = text;
  $('log').scrollTop = $('log').scrollHeight;
}

function ShowProgress({done, total, left}) {
  $('progress').hidden = false;
  $('progress').max = Math.max(total, 1);
  $('progress').value = done;
  $('progress-text').textContent =
      `${done} of ${total} bytes` + (left === null ? '' : `, about ${left} s left`);
}

async function Upload() {
  // A device permitted since the page opened (an administrator's policy
  // grants one when it is plugged in) needs no chooser either.
  if (!page.device) {
    page.device = (await navigator.hid.getDevices())[0] || null;
    ShowDevice();
  }
  if (!page.device) {
    await ChooseDevice();
    if (!page.device) {
      SetStatus('No device chosen: nothing was uploaded.', 'failed');
      return;
    }
  }
  page.running = true;
  page.log = '';
  UpdateButtons();
  ShowLog('');
  $('progress').hidden = true;
  $('progress-text').textContent = '';
  SetStatus('Uploading…');
  const result = await WriteHex(page.file.name, page.file.bytes, page.device,
                                {log: ShowLog, progress: ShowProgress});
  page.log = result.log;
  $('progress-text').textContent = '';
  const unplugged = result.unplugged ? 'The device was unplugged during the upload. ' : '';
  SetStatus(unplugged + (result.exitCode === 0 ? 'Done (exit code 0).'
                                               : `Failed (exit code ${result.exitCode}).`),
            result.exitCode === 0 ? 'ok' : 'failed');
  document.body.dataset.exitCode = String(result.exitCode);
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
  $('save').addEventListener('click', () => SaveLog(page.log, 'hex-upload.log'));
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
    $('file-label').textContent = `${file.name}: drop another, or choose one:`;
  });
  UpdateButtons();
  try {
    page.program = await LoadCore();
  } catch (error) {
    // Opened as a file, for instance: the browser will not load the .wasm then.
    SetStatus(error.name === 'NoWebAssembly'
                  ? 'This page is served with a Content-Security-Policy that does not allow ' +
                    'WebAssembly (it lacks \'wasm-unsafe-eval\'), and the uploader is a WebAssembly ' +
                    'program: it cannot run here.'
                  : `The program could not be loaded (${error}); serve the folder over http(s).`,
              'failed');
    return;
  }
  $('manufacturer').textContent = page.program.ccall('WebManufacturer', 'string', [], []);
  document.body.dataset.ready = 'yes';
  UpdateButtons();
}

Start();
