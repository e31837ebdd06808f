// The page's half of port-monitor's browser shell: the dialog of the template
// (dialog.js, generated from the resource script) as page elements, GDI on a
// canvas, the EZ-USB driver's bulk pipes over WebUSB, timers, the tooltip,
// and the message loop that hands the program one event at a time. The
// program (port-monitor.js, the core with web_platform.cpp) calls the
// methods of a MonitorShell through Module.shell; nothing here decides what
// the monitor does.
'use strict';

const kBnClicked = 0;  // BN_CLICKED

// Texts cross from the program as Windows-1252 bytes.
const kAnsi = new TextDecoder('windows-1252');
const kAnsiBytes = (() => {
  const table = new Map();
  for (let byte = 0; byte < 256; ++byte) table.set(kAnsi.decode(new Uint8Array([byte])), byte);
  return table;
})();
// What GetDlgItemTextA gives for a text: '?' for what the code page lacks.
function ToAnsi(text) {
  return Uint8Array.from(Array.from(text), (c) => kAnsiBytes.has(c) ? kAnsiBytes.get(c) : 0x3F);
}

// The bundled fonts stand in for the dialog font and for the faces the
// program asks for, at the pixel sizes that the Windows font mapper picks for
// them (they are bitmap fonts of one size each).
const kDialogFont = '13px "Monitor Dialog"';
const kFaces = {
  'Small Fonts': {family: '"Monitor Small Fonts"', pixels: 11},
  'Helv': {family: '"Monitor Dialog"', pixels: 13},
  'MS Sans Serif': {family: '"Monitor Dialog"', pixels: 13},
  'System': {family: '"Monitor Dialog"', pixels: 13},
};

// Windows' dialog base units of a font: the mean width of the 52 letters
// (rounded as GdiGetCharDimensions does) and the line height.
function BaseUnits(font) {
  const context = document.createElement('canvas').getContext('2d');
  context.font = font;
  const metrics = context.measureText('ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz');
  return {
    x: Math.floor((Math.floor(Math.round(metrics.width) / 26) + 1) / 2),
    y: Math.round(metrics.fontBoundingBoxAscent + metrics.fontBoundingBoxDescent),
  };
}

// MulDiv, as MapDialogRect converts dialog units.
const MulDiv = (value, numerator, denominator) => Math.round(value * numerator / denominator);

// A control's text with its mnemonic: "&x" underlines x (while the keyboard
// cues are on, as Windows shows them), "&&" is an ampersand.
function PutMnemonicText(element, text) {
  element.textContent = '';
  let plain = '';
  for (let i = 0; i < text.length; ++i) {
    if (text[i] === '&' && i + 1 < text.length) {
      ++i;
      if (text[i] !== '&') {
        element.append(plain);
        plain = '';
        const key = document.createElement('span');
        key.className = 'mnemonic';
        key.textContent = text[i];
        element.append(key);
        continue;
      }
    }
    plain += text[i];
  }
  element.append(plain);
}

const Css = (color) => '#' + color.toString(16).padStart(6, '0');

class MonitorShell {
  // device: the USBDevice chosen (or null); host: the element the dialog goes
  // into; report(kind, text): a line on the page; opened(): the device is
  // open and its pipes known; ended(): the dialog ended.
  constructor({device, host, report, opened, ended}) {
    this.device = device;
    this.host = host;
    this.report = report;
    this.onOpened = opened;
    this.onEnded = ended;
    this.controls = new Map();
    this.fonts = new Map();
    this.timers = new Map();
    this.due = new Set();
    this.queue = [];
    this.pumping = null;  // the running pump's promise
    this.stopping = false;
    this.endpoints = null;
    this.unplugged = false;
    this.failures = 0;
    this.beeps = 0;
    this.handCursor = false;
    this.tooltip = {element: null, active: false, text: ''};
  }

  // ------------------------------------------------------------ the run

  async Start(create_program) {
    this.program = await create_program({shell: this});
    this.BuildDialog();
    this.Post({kind: 'start'});
  }

  // The program's end: no more events, the device closed, the dialog gone.
  async End() {
    if (this.finished) return this.finished;
    this.stopping = true;
    this.finished = (async () => {
      for (const id of Array.from(this.timers.keys())) this.stopTimer(id);
      this.queue = [];
      if (this.pumping) {
        // A transfer the device never answers would keep the run busy:
        // closing the device ends it.
        const late = new Promise((resolve) => setTimeout(resolve, 500, 'late'));
        if (await Promise.race([this.pumping, late]) === 'late') await this.closeDevice();
        await this.pumping;
      }
      await this.Call('WebEnd', []);
      this.dialog?.remove();
      this.tooltip.element?.remove();
    })();
    return this.finished;
  }

  // ------------------------------------------------------------ message loop

  // One event for the program. Mouse moves coalesce, as Windows merges them.
  Post(message) {
    if (this.stopping) return;
    const last = this.queue[this.queue.length - 1];
    if (message.kind === 'setcursor' && last && last.kind === 'setcursor') {
      this.queue[this.queue.length - 1] = message;
    } else {
      this.queue.push(message);
    }
    this.Pump();
  }

  // Hands the events to the program one after another: input and posted
  // events first, then a pending paint, then due timers (at most one each).
  Pump() {
    if (!this.pumping) this.pumping = this.RunPump();
  }

  async RunPump() {
    await null;  // after the caller, so that pumping is set before it is cleared
    while (!this.stopping) {
      let message = this.queue.shift();
      if (!message && this.paintPending) {
        this.paintPending = false;
        message = {kind: 'paint'};
      }
      if (!message && this.due.size > 0) {
        const id = this.due.values().next().value;
        this.due.delete(id);
        message = {kind: 'timer', id};
      }
      if (!message) break;
      await this.Dispatch(message);
    }
    this.pumping = null;
  }

  async Dispatch(message) {
    switch (message.kind) {
      case 'start':
        await this.Call('WebStart', []);
        this.paintPending = true;
        break;
      case 'paint':
        await this.Call('WebPaint', []);
        break;
      case 'timer':
        await this.Call('WebTimer', [message.id]);
        break;
      case 'command':
        if (await this.Call('WebCommand', [message.id, message.code]) === 1) {
          // The dialog ended (IDCANCEL): the run ends with it.
          this.stopping = true;
          setTimeout(() => this.End().then(() => this.onEnded()));
        }
        break;
      case 'select':
        this.SelectIndex(this.Control(message.id), message.index);
        await this.Call('WebCommand', [message.id, kDialogMessages.CBN_SELCHANGE]);
        break;
      case 'buttondown':
        await this.Call('WebButtonDown', [message.x, message.y]);
        break;
      case 'setcursor': {
        this.handCursor = false;
        await this.Call('WebSetCursor', [message.screen_x, message.screen_y, message.x, message.y]);
        this.client.style.cursor = this.handCursor ? 'pointer' : '';
        break;
      }
    }
  }

  async Call(name, args) {
    try {
      return await this.program.ccall(name, 'number', args.map(() => 'number'), args,
                                      {async: true});
    } catch (error) {
      this.report('internal', `Interner Fehler im Programm (${error}); bitte den Adapter neu wählen.`);
      this.stopping = true;
      return 0;
    }
  }

  // ------------------------------------------------------------ the dialog

  BuildDialog() {
    const template = kDialogTemplate;
    const units = BaseUnits(kDialogFont);
    const px = (value, axis) => MulDiv(value, axis === 'x' ? units.x : units.y, axis === 'x' ? 4 : 8);
    this.dialog = document.createElement('div');
    this.dialog.className = 'dialog';
    this.dialog.dataset.baseUnits = `${units.x}x${units.y}`;
    const caption = document.createElement('div');
    caption.className = 'caption';
    caption.textContent = template.title;
    const close = document.createElement('button');
    close.className = 'close';
    close.title = 'Schließen';
    close.textContent = '\u00d7';
    close.addEventListener('click', () => this.Post({kind: 'command', id: kDialogMessages.IDCANCEL,
                                                     code: kBnClicked}));
    caption.append(close);
    this.client = document.createElement('div');
    this.client.className = 'client';
    this.client.style.width = `${px(template.width, 'x')}px`;
    this.client.style.height = `${px(template.height, 'y')}px`;
    this.canvas = document.createElement('canvas');
    this.scale = Math.max(1, Math.round(window.devicePixelRatio || 1));
    this.canvas.width = px(template.width, 'x') * this.scale;
    this.canvas.height = px(template.height, 'y') * this.scale;
    this.context = this.canvas.getContext('2d');
    this.context.setTransform(this.scale, 0, 0, this.scale, 0, 0);
    this.client.append(this.canvas);
    let group = 0;
    for (const control of template.controls) {
      const styles = new Set(control.styles);
      if (styles.has('WS_GROUP')) ++group;
      const element = this.MakeControl(control, styles, `group-${group}`);
      element.classList.add('control');
      element.style.left = `${px(control.x, 'x')}px`;
      element.style.top = `${px(control.y, 'y')}px`;
      element.style.width = `${px(control.w, 'x')}px`;
      // A drop-down combo box's template height includes its list.
      element.style.height = control.kind === 'combobox' ? `${units.y + 8}px` : `${px(control.h, 'y')}px`;
      if (control.kind === 'combobox') element.style.setProperty('--list-height', `${px(control.h, 'y') - units.y - 8}px`);
      if (control.id >= 0) element.dataset.id = control.id;
      this.client.append(element);
    }
    this.dialog.append(caption, this.client);
    this.host.append(this.dialog);
    this.ListenToInput();
  }

  MakeControl(control, styles, group_name) {
    const entry = {kind: control.kind, text: control.text || '', styles};
    let element;
    switch (control.kind) {
      case 'static':
      case 'groupbox':
        element = document.createElement('div');
        element.className = control.kind === 'static' ? `static ${control.align}` : 'groupbox';
        entry.label = document.createElement('span');
        entry.label.className = 'text';
        PutMnemonicText(entry.label, entry.text);
        element.append(entry.label);
        break;
      case 'edit':
        element = entry.input = document.createElement('input');
        element.type = 'text';
        element.className = 'edit';
        element.spellcheck = false;
        element.autocomplete = 'off';
        element.readOnly = styles.has('ES_READONLY');
        if (styles.has('ES_CENTER')) element.classList.add('center');
        element.addEventListener('input', () => {
          if (styles.has('ES_UPPERCASE')) {
            const [start, end] = [element.selectionStart, element.selectionEnd];
            element.value = element.value.toUpperCase();
            element.setSelectionRange(start, end);
          }
          this.Post({kind: 'command', id: control.id, code: kDialogMessages.EN_CHANGE});
        });
        break;
      case 'combobox':
        element = styles.has('CBS_DROPDOWNLIST') ? this.MakeDropList(control, entry)
                                                  : this.MakeDropDown(entry);
        break;
      case 'button':
        element = entry.input = document.createElement('button');
        element.className = styles.has('BS_FLAT') ? 'push flat' : 'push';
        entry.label = document.createElement('span');
        entry.label.className = 'text';
        PutMnemonicText(entry.label, entry.text);
        element.append(entry.label);
        element.addEventListener('click', () => this.Post({kind: 'command', id: control.id,
                                                           code: kBnClicked}));
        break;
      case 'radio': {
        element = document.createElement('label');
        element.className = 'radio';
        entry.input = document.createElement('input');
        entry.input.type = 'radio';
        entry.input.disabled = styles.has('WS_DISABLED');
        entry.label = document.createElement('span');
        entry.label.className = 'text';
        PutMnemonicText(entry.label, entry.text);
        element.append(entry.input, entry.label);
        if (styles.has('WS_DISABLED')) element.classList.add('disabled');
        if (styles.has('BS_AUTORADIOBUTTON')) {
          // Auto radio buttons of one group check each other out.
          entry.input.name = group_name;
        } else {
          entry.input.addEventListener('click', (event) => event.preventDefault());
        }
        entry.input.addEventListener('click', () => this.Post({kind: 'command', id: control.id,
                                                               code: kBnClicked}));
        break;
      }
    }
    entry.element = element;
    if (control.id >= 0) this.controls.set(control.id, entry);
    return element;
  }

  // The editable drop-down combo box: an edit field and its button (the
  // program neither fills nor reads it).
  MakeDropDown(entry) {
    const element = document.createElement('div');
    element.className = 'combo';
    entry.input = document.createElement('input');
    entry.input.type = 'text';
    entry.input.spellcheck = false;
    const arrow = document.createElement('span');
    arrow.className = 'arrow';
    element.append(entry.input, arrow);
    return element;
  }

  // The drop-down list: the selected entry, and the list while it is open.
  MakeDropList(control, entry) {
    const element = document.createElement('div');
    element.className = 'droplist';
    element.tabIndex = 0;
    entry.value = document.createElement('span');
    entry.value.className = 'value';
    const arrow = document.createElement('span');
    arrow.className = 'arrow';
    entry.list = document.createElement('div');
    entry.list.className = 'items';
    entry.list.hidden = true;
    entry.items = [];
    entry.selection = -1;
    element.append(entry.value, arrow, entry.list);
    // The list box selects and notifies in one step: the selection is made
    // when the program takes the notification, so that a poll still running
    // cannot put the list back in between.
    const choose = (index) => this.Post({kind: 'select', id: control.id, index});
    element.addEventListener('mousedown', (event) => {
      event.preventDefault();
      element.focus();
      const item = event.target.closest('.item');
      if (item) {
        entry.list.hidden = true;
        choose(entry.items.indexOf(item));
      } else {
        entry.list.hidden = !entry.list.hidden;
      }
    });
    element.addEventListener('blur', () => { entry.list.hidden = true; });
    element.addEventListener('keydown', (event) => {
      const step = {ArrowDown: 1, ArrowUp: -1}[event.key];
      if (step && !event.altKey) {
        event.preventDefault();
        const index = Math.min(Math.max(entry.selection + step, 0), entry.items.length - 1);
        if (index !== entry.selection) choose(index);
      } else if (event.key === 'F4' || (event.altKey && event.key === 'ArrowDown')) {
        event.preventDefault();
        entry.list.hidden = !entry.list.hidden;
      } else if (event.key === 'Escape' && !entry.list.hidden) {
        event.stopPropagation();
        entry.list.hidden = true;
      }
    });
    return element;
  }

  SelectIndex(entry, index) {
    entry.selection = index >= 0 && index < entry.items.length ? index : -1;
    entry.items.forEach((item, i) => item.classList.toggle('selected', i === entry.selection));
    entry.value.textContent = entry.selection >= 0 ? entry.items[entry.selection].textContent : '';
  }

  ListenToInput() {
    // WM_SETCURSOR comes to the dialog over its controls too; the client
    // position is that of the dialog's client area.
    this.client.addEventListener('mousemove', (event) => {
      const box = this.client.getBoundingClientRect();
      this.Post({kind: 'setcursor', x: Math.floor(event.clientX - box.left),
                 y: Math.floor(event.clientY - box.top),
                 screen_x: Math.floor(event.pageX), screen_y: Math.floor(event.pageY)});
    });
    // A double click is two presses, WM_LBUTTONDOWN and WM_LBUTTONDBLCLK.
    this.canvas.addEventListener('mousedown', (event) => {
      if (event.button !== 0) return;
      event.preventDefault();  // the focus stays where it is
      const box = this.canvas.getBoundingClientRect();
      this.Post({kind: 'buttondown', x: Math.floor(event.clientX - box.left),
                 y: Math.floor(event.clientY - box.top)});
    });
    this.dialog.addEventListener('keydown', (event) => {
      if (event.key === 'Alt') this.dialog.classList.add('cues');
      if (event.key === 'Escape') {
        event.preventDefault();
        this.Post({kind: 'command', id: kDialogMessages.IDCANCEL, code: kBnClicked});
      }
    });
    this.dialog.addEventListener('keyup', (event) => {
      if (event.key === 'Alt') this.dialog.classList.remove('cues');
    });
  }

  Control(id) {
    return this.controls.get(id);
  }

  // ------------------------------------------------------------ Dialog

  // true for an edit field, whose change notification the program then gets.
  setText(id, bytes) {
    const entry = this.Control(id);
    if (!entry) return false;
    entry.text = kAnsi.decode(bytes);
    if (entry.kind === 'edit') {
      entry.input.value = entry.text;
      return true;
    }
    if (entry.label) PutMnemonicText(entry.label, entry.text);
    return false;
  }

  getText(id) {
    const entry = this.Control(id);
    if (!entry) return new Uint8Array();
    if (entry.kind === 'edit' || (entry.kind === 'combobox' && entry.input)) {
      return ToAnsi(entry.input.value);
    }
    if (entry.items) return ToAnsi(entry.value.textContent);
    return ToAnsi(entry.text);
  }

  setVisible(id, visible) {
    const entry = this.Control(id);
    if (entry) entry.element.hidden = !visible;
  }

  setReadOnly(id, read_only) {
    const entry = this.Control(id);
    if (entry && entry.kind === 'edit') entry.input.readOnly = read_only;
  }

  setChecked(id, checked) {
    const entry = this.Control(id);
    if (entry && entry.kind === 'radio') entry.input.checked = checked;
  }

  isChecked(id) {
    const entry = this.Control(id);
    return !!(entry && entry.kind === 'radio' && entry.input.checked);
  }

  addListString(id, bytes) {
    const entry = this.Control(id);
    if (!entry || !entry.items) return;
    const item = document.createElement('div');
    item.className = 'item';
    item.textContent = kAnsi.decode(bytes);
    entry.items.push(item);
    entry.list.append(item);
  }

  selectListIndex(id, index) {
    const entry = this.Control(id);
    if (entry && entry.items) this.SelectIndex(entry, index);
  }

  getListSelection(id) {
    const entry = this.Control(id);
    return entry && entry.items ? entry.selection : -1;
  }

  isListDroppedDown(id) {
    const entry = this.Control(id);
    return !!(entry && entry.items && !entry.list.hidden);
  }

  // EM_SETSEL (0, -1) selects without taking the focus.
  selectAllText(id) {
    const entry = this.Control(id);
    if (entry && entry.input) entry.input.setSelectionRange(0, entry.input.value.length);
  }

  setFocus(id) {
    const entry = this.Control(id);
    if (entry) (entry.input || entry.element).focus({preventScroll: true});
  }

  // MessageBeep: a short tone, or a flash of the dialog where sound is not
  // allowed (before the user has touched the page, or without audio).
  beep() {
    this.dialog.dataset.beeps = String(++this.beeps);
    let sounded = false;
    try {
      if (navigator.userActivation && navigator.userActivation.hasBeenActive && window.AudioContext) {
        this.audio = this.audio || new AudioContext();
        if (this.audio.state !== 'running') this.audio.resume().catch(() => {});
        if (this.audio.state === 'running') {
          const tone = this.audio.createOscillator();
          const volume = this.audio.createGain();
          volume.gain.value = 0.1;
          tone.frequency.value = 880;
          tone.connect(volume).connect(this.audio.destination);
          tone.start();
          tone.stop(this.audio.currentTime + 0.12);
          sounded = true;
        }
      }
    } catch (error) {
      sounded = false;
    }
    this.dialog.dataset.lastBeep = sounded ? 'tone' : 'flash';
    if (!sounded) {
      this.dialog.classList.remove('flash');
      void this.dialog.offsetWidth;  // restarts the animation
      this.dialog.classList.add('flash');
    }
  }

  // SetTimer on an id that runs restarts it; a due timer waits for the loop.
  startTimer(id, period) {
    this.stopTimer(id);
    if (this.stopping) return;
    this.timers.set(id, setInterval(() => {
      this.due.add(id);
      this.Pump();
    }, period));
  }

  stopTimer(id) {
    clearInterval(this.timers.get(id));
    this.timers.delete(id);
    this.due.delete(id);
  }

  // ------------------------------------------------------------ tooltip

  createTooltip() {
    const element = document.createElement('div');
    element.className = 'tooltip';
    element.hidden = true;
    document.body.append(element);
    this.tooltip.element = element;
  }

  activateTooltip(active) {
    this.tooltip.active = active;
    this.ShowTooltip();
  }

  setTooltipText(bytes) {
    this.tooltip.text = kAnsi.decode(bytes);
    if (this.tooltip.element) this.tooltip.element.textContent = this.tooltip.text;
    this.ShowTooltip();
  }

  // A tooltip with no text is not shown.
  ShowTooltip() {
    if (this.tooltip.element) {
      this.tooltip.element.hidden = !(this.tooltip.active && this.tooltip.text);
    }
  }

  // Tracked, centred on the track point (TTF_TRACK | TTF_CENTERTIP).
  positionTooltip(x, y) {
    const element = this.tooltip.element;
    if (!element) return;
    element.style.left = `${Math.round(x - element.offsetWidth / 2)}px`;
    element.style.top = `${Math.round(y - element.offsetHeight / 2)}px`;
    element.dataset.trackX = x;
    element.dataset.trackY = y;
  }

  tooltipHeight() {
    return this.tooltip.element ? this.tooltip.element.offsetHeight : 0;
  }

  setHandCursor() {
    this.handCursor = true;
  }

  // ------------------------------------------------------------ GDI

  makeFont(handle, height, face) {
    const known = kFaces[face];
    const css = known ? `${known.pixels}px ${known.family}`
                      : `${Math.max(Math.abs(height), 1)}px sans-serif`;
    // Fonts come before the dialog is built (the stock font with the program).
    this.measure = this.measure || document.createElement('canvas').getContext('2d');
    this.measure.font = css;
    const metrics = this.measure.measureText('Hg');
    this.fonts.set(handle, {css, ascent: metrics.fontBoundingBoxAscent,
                            height: metrics.fontBoundingBoxAscent + metrics.fontBoundingBoxDescent});
  }

  destroyFont(handle) {
    this.fonts.delete(handle);
  }

  // Rectangle: right and bottom edges outside; a 1-pixel pen draws the
  // outermost pixels inside, the brush what is within; with the null pen the
  // filled area is one pixel smaller.
  rectangle(l, t, r, b, pen, width, brush) {
    const c = this.context;
    if (pen < 0) {
      if (brush >= 0) this.Fill(brush, () => c.rect(l, t, r - l - 1, b - t - 1));
      return;
    }
    if (brush >= 0) this.Fill(brush, () => c.rect(l + width, t + width, r - l - 2 * width, b - t - 2 * width));
    this.Stroke(pen, width, () => c.rect(l + width / 2, t + width / 2, r - l - width, b - t - width));
  }

  // Ellipse inscribed in the rectangle (right and bottom outside).
  ellipse(l, t, r, b, pen, width, brush) {
    const c = this.context;
    // The pen's outermost pixels touch the rectangle's inner edges.
    const inset = pen < 0 ? 0.5 : width / 2;
    const path = () => c.ellipse((l + r) / 2, (t + b) / 2, Math.max((r - l) / 2 - inset, 0),
                                 Math.max((b - t) / 2 - inset, 0), 0, 0, 2 * Math.PI);
    if (brush >= 0) this.Fill(brush, path);
    if (pen >= 0) this.Stroke(pen, width, path);
  }

  // Polygon: the outline through the pixels of the corners; with the null
  // pen only the inside, right and bottom edges outside.
  polygon(points, pen, width, brush) {
    const c = this.context;
    const offset = pen < 0 ? 0 : 0.5;
    const path = () => {
      for (let i = 0; i < points.length; i += 2) {
        c.lineTo(points[i] + offset, points[i + 1] + offset);
      }
      c.closePath();
    };
    if (brush >= 0) this.Fill(brush, path);
    if (pen >= 0) this.Stroke(pen, width, path);
  }

  // MoveToEx and LineTo: the last pixel is not drawn.
  line(x0, y0, x1, y1, pen, width) {
    if (pen < 0) return;
    const c = this.context;
    this.Stroke(pen, width, () => {
      if (y0 === y1) {
        c.moveTo(x0, y0 + 0.5);
        c.lineTo(x1, y1 + 0.5);
      } else if (x0 === x1) {
        c.moveTo(x0 + 0.5, y0);
        c.lineTo(x1 + 0.5, y1);
      } else {
        c.moveTo(x0 + 0.5, y0 + 0.5);
        c.lineTo(x1 + 0.5, y1 + 0.5);
      }
    });
  }

  // TextOutA / ExtTextOutA: the origin is the top left of the text's cell;
  // black text, white behind it when the background is opaque.
  text(x, y, bytes, font, opaque, clip, advance) {
    const c = this.context;
    const face = this.fonts.get(font) || this.fonts.get(3);
    const text = kAnsi.decode(bytes);
    c.save();
    c.font = face ? face.css : kDialogFont;
    if (clip[2] >= clip[0]) {
      c.beginPath();
      c.rect(clip[0], clip[1], clip[2] - clip[0], clip[3] - clip[1]);
      c.clip();
    }
    const ascent = face ? face.ascent : 11;
    const width = advance > 0 ? advance * text.length : c.measureText(text).width;
    if (opaque) {
      c.fillStyle = '#ffffff';
      c.fillRect(x, y, width, face ? face.height : 13);
    }
    c.fillStyle = '#000000';
    c.textBaseline = 'alphabetic';
    if (advance > 0) {
      Array.from(text).forEach((char, i) => c.fillText(char, x + i * advance, y + ascent));
    } else {
      c.fillText(text, x, y + ascent);
    }
    c.restore();
  }

  Fill(color, path) {
    const c = this.context;
    c.beginPath();
    path();
    c.fillStyle = Css(color);
    c.fill();
  }

  // Wide pens have round ends and joins, as GDI's geometric pens.
  Stroke(color, width, path) {
    const c = this.context;
    c.beginPath();
    path();
    c.strokeStyle = Css(color);
    c.lineWidth = width;
    c.lineJoin = 'round';
    c.lineCap = width > 1 ? 'round' : 'butt';
    c.stroke();
  }

  // ------------------------------------------------------------ WebUSB

  // "\\.\EZUSB-0": the chosen adapter, configured, its interface 0 claimed;
  // the pipes are the endpoints of interface 0, alternate setting 0, in the
  // order of its descriptor.
  async openDevice() {
    const device = this.device;
    if (!device) return false;
    const name = device.productName || 'USB-Gerät';
    try {
      if (!device.opened) await device.open();
      if (device.configuration === null) await device.selectConfiguration(1);
      await device.claimInterface(0);
      const usb_interface = device.configuration.interfaces.find((i) => i.interfaceNumber === 0);
      const alternate = usb_interface &&
          usb_interface.alternates.find((a) => a.alternateSetting === 0);
      const endpoints = alternate ? alternate.endpoints : [];
      if (endpoints.length < 2 || endpoints[0].type !== 'bulk' || endpoints[1].type !== 'bulk') {
        this.report('open', `${name} hat an Schnittstelle 0 keine zwei Bulk-Endpunkte ` +
                    `(gefunden: ${endpoints.map((e) => `${e.type} ${e.direction}`).join(', ') || 'keine'}): ` +
                    'das ist kein Tarnel-Adapter. Der Dialog läuft ohne Gerät; ' +
                    'jedes Lesen zeigt sein Befehlsbyte.');
        await this.closeDevice();
        return false;
      }
      this.endpoints = endpoints;
      this.onOpened();
      return true;
    } catch (error) {
      this.report('open', `${name} lässt sich nicht öffnen (${error.message || error}). ` +
                  'Der Dialog läuft ohne Gerät; jedes Lesen zeigt sein Befehlsbyte.');
      await this.closeDevice();
      return false;
    }
  }

  async transferOut(pipe, bytes) {
    const endpoint = this.Pipe(pipe, 'out');
    if (!endpoint) return false;
    try {
      const result = await this.device.transferOut(endpoint.endpointNumber, bytes);
      if (result.status === 'ok' && result.bytesWritten === bytes.length) return true;
      this.TransferFailed(`transferOut auf Endpunkt ${endpoint.endpointNumber}: ${result.status}`);
    } catch (error) {
      this.TransferFailed(`transferOut auf Endpunkt ${endpoint.endpointNumber}: ${error.message || error}`);
    }
    return false;
  }

  async transferIn(pipe, length) {
    const endpoint = this.Pipe(pipe, 'in');
    if (!endpoint) return null;
    try {
      const result = await this.device.transferIn(endpoint.endpointNumber, length);
      if (result.status === 'ok' && result.data) {
        return new Uint8Array(result.data.buffer, result.data.byteOffset, result.data.byteLength);
      }
      this.TransferFailed(`transferIn auf Endpunkt ${endpoint.endpointNumber}: ${result.status}`);
    } catch (error) {
      this.TransferFailed(`transferIn auf Endpunkt ${endpoint.endpointNumber}: ${error.message || error}`);
    }
    return null;
  }

  // The endpoint of a pipe, or null (and a line) when there is none for
  // that direction. After the device is gone every request fails at once.
  Pipe(pipe, direction) {
    if (!this.endpoints || this.unplugged) return null;
    const endpoint = this.endpoints[pipe];
    if (endpoint && endpoint.direction === direction) return endpoint;
    this.TransferFailed(`Pipe ${pipe} ist kein ${direction === 'in' ? 'IN' : 'OUT'}-Endpunkt`);
    return null;
  }

  TransferFailed(what) {
    ++this.failures;
    const times = this.failures > 1 ? ` (${this.failures} Fehler bisher)` : '';
    this.report('transfer', `Übertragung fehlgeschlagen: ${what}${times}. Der Dialog läuft ` +
                'weiter wie bei jeder fehlgeschlagenen Anfrage: ein Lesen zeigt sein Befehlsbyte.');
  }

  // The adapter went away: the dialog goes on, every request fails.
  Unplugged() {
    this.unplugged = true;
  }

  async closeDevice() {
    const device = this.device;
    this.endpoints = null;
    if (!device || !device.opened) return;
    try {
      await device.releaseInterface(0);
    } catch (error) {
      // Not claimed, or already gone.
    }
    try {
      await device.close();
    } catch (error) {
      // Already gone.
    }
  }
}
