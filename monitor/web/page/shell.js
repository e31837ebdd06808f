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

// An error's message without its closing full stop, for use within a sentence.
const Reason = (error) => String(error && error.message || error).replace(/\.+$/, '');

// The adapter answers a read command within a few milliseconds. WebUSB has no
// timeout of its own; 250 ms is far beyond any answer, even from a busy
// machine's USB stack, and short enough that a lost answer holds the dialog
// up for no more than a quarter of a second.
const kAnswerBound = 250;

const Css = (color) => '#' + color.toString(16).padStart(6, '0');

class MonitorShell {
  // device: the USBDevice chosen (or null); host: the element the dialog goes
  // into; report(kind, text, tone): a line on the page, tone 'ok' when it
  // tells of a recovery; opened(): the device is open and its pipes known;
  // ended(): the dialog ended.
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
    this.failing = false;  // transfers fail; the page says so once
    this.sent = false;  // the last command went out
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
        // A device request that never ends (a reset that hangs) would keep
        // the run busy: closing the device ends it.
        const late = new Promise((resolve) => setTimeout(resolve, 500, 'late'));
        if (await Promise.race([this.pumping, late]) === 'late') await this.closeDevice();
        await this.pumping;
      }
      await this.Call('WebEnd', []);
      this.resizing?.disconnect();
      window.removeEventListener('resize', this.fit);
      // The beep's sound output, made by this run, ends with it.
      await this.audio?.close().catch(() => {});
      this.audio = null;
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
        if ((window.devicePixelRatio || 1) !== this.ratio) this.FitCanvas();
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
    this.canvas.setAttribute('role', 'img');
    this.canvas.setAttribute('aria-label', 'Der 25-polige Anschluss mit dem Pegel jedes Pins und die ' +
                             'Register als Reihen von Bits, geschrieben und zurückgelesen');
    this.context = this.canvas.getContext('2d');
    this.size = {width: px(template.width, 'x'), height: px(template.height, 'y')};
    [this.canvas.width, this.canvas.height, this.sx, this.sy] = [this.size.width, this.size.height, 1, 1];
    this.client.append(this.canvas);
    let group = 0;
    template.controls.forEach((control, index) => {
      const styles = new Set(control.styles);
      if (styles.has('WS_GROUP')) ++group;
      const element = this.MakeControl(control, styles, `group-${group}`);
      // A label's text names the control that the table gives it to.
      if (control.kind === 'static' || control.kind === 'groupbox') {
        element.querySelector('.text').id = `dialog-label-${index}`;
      }
      if (control.label !== undefined) {
        const entry = this.Control(control.id);
        (entry.items ? entry.element : entry.input).setAttribute('aria-labelledby',
                                                                  `dialog-label-${control.label}`);
      }
      element.classList.add('control');
      element.style.left = `${px(control.x, 'x')}px`;
      element.style.top = `${px(control.y, 'y')}px`;
      element.style.width = `${px(control.w, 'x')}px`;
      // A drop-down combo box's template height includes its list.
      element.style.height = control.kind === 'combobox' ? `${units.y + 8}px` : `${px(control.h, 'y')}px`;
      if (control.kind === 'combobox') element.style.setProperty('--list-height', `${px(control.h, 'y') - units.y - 8}px`);
      if (control.id >= 0) element.dataset.id = control.id;
      this.client.append(element);
    });
    this.dialog.append(caption, this.client);
    this.host.append(this.dialog);
    this.FollowPixelRatio();
    this.ListenToInput();
  }

  // The canvas's backing store has its size in device pixels, which the
  // pixel ratio (another screen, the browser's zoom) and a CSS zoom change
  // while the dialog runs. Each of them tells of such a change in some
  // browsers and not in others: all three are heard. Chromium may even fire
  // the resize before the new ratio holds and then say nothing, so each timer
  // also looks at the ratio the canvas was fitted to.
  FollowPixelRatio() {
    this.fit = () => this.FitCanvas();
    this.resizing = new ResizeObserver(([entry]) => {
      this.devicePixels = entry.devicePixelContentBoxSize && entry.devicePixelContentBoxSize[0];
      this.fit();
    });
    this.resizing.observe(this.canvas, {box: 'device-pixel-content-box'});
    window.addEventListener('resize', this.fit);
    const watch = () => {
      if (this.stopping) return;
      matchMedia(`(resolution: ${window.devicePixelRatio || 1}dppx)`).addEventListener('change', () => {
        this.fit();
        watch();
      }, {once: true});
    };
    watch();
    this.fit();
  }

  // The size is the canvas's box times the pixel ratio, or the device
  // pixels the browser gives for it where they agree (they are whole at the
  // box's edges: exact to the pixel). A new size clears the canvas: the
  // whole diagram is painted again.
  FitCanvas() {
    const box = this.canvas.getBoundingClientRect();
    const ratio = this.ratio = window.devicePixelRatio || 1;
    const device = this.devicePixels;
    let [width, height] = [Math.round(box.width * ratio), Math.round(box.height * ratio)];
    if (device && Math.abs(device.inlineSize - width) <= 1 && Math.abs(device.blockSize - height) <= 1) {
      [width, height] = [device.inlineSize, device.blockSize];
    }
    if (width < 1 || height < 1 || (width === this.canvas.width && height === this.canvas.height)) return;
    [this.canvas.width, this.canvas.height] = [width, height];
    [this.sx, this.sy] = [width / this.size.width, height / this.size.height];
    this.paintPending = true;
    this.Pump();
  }

  // A pointer position in the dialog's client pixels, through any zoom or
  // transform between the page and the dialog; the zoom, to map the page's
  // positions into the tooltip's.
  ClientPoint(event, element) {
    const box = element.getBoundingClientRect();
    const zoom = box.width / this.size.width || 1;
    return {x: Math.floor((event.clientX - box.left) / zoom),
            y: Math.floor((event.clientY - box.top) / zoom), zoom};
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

  // The drop-down list: the selected entry, and the list while it is open;
  // to assistive technology a combo box with its list box.
  MakeDropList(control, entry) {
    const element = document.createElement('div');
    element.className = 'droplist';
    element.tabIndex = 0;
    element.setAttribute('role', 'combobox');
    element.setAttribute('aria-haspopup', 'listbox');
    element.setAttribute('aria-expanded', 'false');
    element.setAttribute('aria-controls', `dialog-list-${control.id}`);
    entry.value = document.createElement('span');
    entry.value.className = 'value';
    const arrow = document.createElement('span');
    arrow.className = 'arrow';
    entry.list = document.createElement('div');
    entry.list.className = 'items';
    entry.list.id = `dialog-list-${control.id}`;
    entry.list.setAttribute('role', 'listbox');
    entry.list.hidden = true;
    // aria-expanded follows the list, whoever opens or closes it.
    new MutationObserver(() => element.setAttribute('aria-expanded', String(!entry.list.hidden)))
        .observe(entry.list, {attributes: true, attributeFilter: ['hidden']});
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
    entry.items.forEach((item, i) => {
      item.classList.toggle('selected', i === entry.selection);
      item.setAttribute('aria-selected', String(i === entry.selection));
    });
    entry.value.textContent = entry.selection >= 0 ? entry.items[entry.selection].textContent : '';
  }

  ListenToInput() {
    // WM_SETCURSOR comes to the dialog over its controls too; the client
    // position is that of the dialog's client area.
    this.client.addEventListener('mousemove', (event) => {
      const {x, y, zoom} = this.ClientPoint(event, this.client);
      this.Post({kind: 'setcursor', x, y, screen_x: Math.floor(event.pageX / zoom),
                 screen_y: Math.floor(event.pageY / zoom)});
    });
    // A double click is two presses, WM_LBUTTONDOWN and WM_LBUTTONDBLCLK.
    this.canvas.addEventListener('mousedown', (event) => {
      if (event.button !== 0) return;
      event.preventDefault();  // the focus stays where it is
      const {x, y} = this.ClientPoint(event, this.canvas);
      this.Post({kind: 'buttondown', x, y});
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
    item.setAttribute('role', 'option');
    item.setAttribute('aria-selected', 'false');
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
    element.setAttribute('role', 'tooltip');
    // Beside the dialog, in the page's main part (absolute to the page all the same).
    this.host.append(element);
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

  // The drawing is made in the canvas's device pixels: each of the program's
  // pixels is the band of device pixels between the rounded images of its
  // edges, so that lines and boxes keep sharp edges at any pixel ratio.
  X(x) {
    return Math.round(x * this.sx);
  }

  Y(y) {
    return Math.round(y * this.sy);
  }

  // The device pixels of the program's pixels x..right-1 and y..bottom-1.
  Band(color, x, y, right, bottom) {
    this.context.fillStyle = Css(color);
    this.context.fillRect(this.X(x), this.Y(y), this.X(right) - this.X(x), this.Y(bottom) - this.Y(y));
  }

  // The device point at the middle of a program pixel, or at its top left
  // corner.
  At(x, y, middle) {
    return middle ? [(this.X(x) + this.X(x + 1)) / 2, (this.Y(y) + this.Y(y + 1)) / 2]
                  : [this.X(x), this.Y(y)];
  }

  makeFont(handle, height, face) {
    const known = kFaces[face] || {family: 'sans-serif', pixels: Math.max(Math.abs(height), 1)};
    // Fonts come before the dialog is built (the stock font with the program).
    this.measure = this.measure || document.createElement('canvas').getContext('2d');
    this.measure.font = `${known.pixels}px ${known.family}`;
    const metrics = this.measure.measureText('Hg');
    this.fonts.set(handle, {...known, ascent: metrics.fontBoundingBoxAscent,
                            height: metrics.fontBoundingBoxAscent + metrics.fontBoundingBoxDescent});
  }

  destroyFont(handle) {
    this.fonts.delete(handle);
  }

  // Rectangle: right and bottom edges outside; the pen draws the outermost
  // pixels inside, the brush what is within; with the null pen the filled
  // area is one pixel smaller.
  rectangle(l, t, r, b, pen, width, brush) {
    if (pen < 0) {
      if (brush >= 0) this.Band(brush, l, t, r - 1, b - 1);
      return;
    }
    if (brush >= 0) this.Band(brush, l + width, t + width, r - width, b - width);
    this.Band(pen, l, t, r, t + width);
    this.Band(pen, l, b - width, r, b);
    this.Band(pen, l, t + width, l + width, b - width);
    this.Band(pen, r - width, t + width, r, b - width);
  }

  // Ellipse inscribed in the rectangle (right and bottom outside).
  ellipse(l, t, r, b, pen, width, brush) {
    const c = this.context;
    // The pen's outermost pixels touch the rectangle's inner edges.
    const inset = pen < 0 ? 0.5 : width / 2;
    const path = () => c.ellipse((this.X(l) + this.X(r)) / 2, (this.Y(t) + this.Y(b)) / 2,
                                 Math.max((this.X(r) - this.X(l)) / 2 - inset * this.sx, 0),
                                 Math.max((this.Y(b) - this.Y(t)) / 2 - inset * this.sy, 0),
                                 0, 0, 2 * Math.PI);
    if (brush >= 0) this.Fill(brush, path);
    if (pen >= 0) this.Stroke(pen, width, path);
  }

  // Polygon: the outline through the pixels of the corners; with the null
  // pen only the inside, right and bottom edges outside.
  polygon(points, pen, width, brush) {
    const c = this.context;
    const path = () => {
      for (let i = 0; i < points.length; i += 2) c.lineTo(...this.At(points[i], points[i + 1], pen >= 0));
      c.closePath();
    };
    if (brush >= 0) this.Fill(brush, path);
    if (pen >= 0) this.Stroke(pen, width, path);
  }

  // MoveToEx and LineTo: the last pixel is not drawn.
  line(x0, y0, x1, y1, pen, width) {
    if (pen < 0) return;
    if (width === 1 && (x0 === x1 || y0 === y1)) {
      this.Band(pen, Math.min(x0, x1), Math.min(y0, y1), Math.max(x0, x1) + (x0 === x1 ? 1 : 0),
                Math.max(y0, y1) + (y0 === y1 ? 1 : 0));
      return;
    }
    const c = this.context;
    this.Stroke(pen, width, () => {
      c.moveTo(...this.At(x0, y0, true));
      c.lineTo(...this.At(x1, y1, true));
    });
  }

  // TextOutA / ExtTextOutA: the origin is the top left of the text's cell;
  // black text, white behind it when the background is opaque.
  text(x, y, bytes, font, opaque, clip, advance) {
    const c = this.context;
    const face = this.fonts.get(font) || this.fonts.get(3) ||
        {family: '"Monitor Dialog"', pixels: 13, ascent: 11, height: 13};
    const text = kAnsi.decode(bytes);
    c.save();
    c.font = `${face.pixels * this.sy}px ${face.family}`;
    if (clip[2] >= clip[0]) {
      c.beginPath();
      c.rect(this.X(clip[0]), this.Y(clip[1]), this.X(clip[2]) - this.X(clip[0]),
             this.Y(clip[3]) - this.Y(clip[1]));
      c.clip();
    }
    const width = advance > 0 ? advance * text.length : c.measureText(text).width / this.sx;
    if (opaque) this.Band(0xFFFFFF, x, y, x + width, y + face.height);
    c.fillStyle = '#000000';
    c.textBaseline = 'alphabetic';
    const baseline = this.Y(y + face.ascent);
    if (advance > 0) {
      Array.from(text).forEach((char, i) => c.fillText(char, this.X(x + i * advance), baseline));
    } else {
      c.fillText(text, this.X(x), baseline);
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
    c.lineWidth = width * this.sx;
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
      this.report('open', `${name} lässt sich nicht öffnen (${Reason(error)}). ` +
                  'Der Dialog läuft ohne Gerät; jedes Lesen zeigt sein Befehlsbyte.');
      await this.closeDevice();
      return false;
    }
  }

  async transferOut(pipe, bytes) {
    const endpoint = this.Pipe(pipe, 'out');
    this.sent = false;
    if (!endpoint) return false;
    const what = `transferOut auf Endpunkt ${endpoint.endpointNumber}`;
    try {
      const result = await this.device.transferOut(endpoint.endpointNumber, bytes);
      if (result.status === 'ok' && result.bytesWritten === bytes.length) {
        this.sent = true;
        return true;
      }
      await this.TransferFailed(`${what}: ${result.status}`);
    } catch (error) {
      await this.TransferFailed(`${what}: ${Reason(error)}`);
    }
    return false;
  }

  // An answer is fetched only for a command that went out, and waited for
  // at most kAnswerBound: WebUSB itself would wait for ever. A transfer that
  // brings no byte is a failed read too.
  async transferIn(pipe, length) {
    const endpoint = this.Pipe(pipe, 'in');
    const sent = this.sent;
    this.sent = false;
    if (!endpoint || !sent) return null;
    const what = `transferIn auf Endpunkt ${endpoint.endpointNumber}`;
    let timer;
    const bound = new Promise((resolve) => { timer = setTimeout(resolve, kAnswerBound, null); });
    try {
      const result = await Promise.race([this.device.transferIn(endpoint.endpointNumber, length), bound]);
      if (!result) {
        await this.TransferFailed(`${what}: keine Antwort binnen ${kAnswerBound} ms`);
      } else if (result.status === 'ok' && result.data && result.data.byteLength > 0) {
        this.Answered();
        return new Uint8Array(result.data.buffer, result.data.byteOffset, result.data.byteLength);
      } else {
        await this.TransferFailed(`${what}: ${result.status === 'ok' ? 'Antwort ohne Daten' : result.status}`);
      }
    } catch (error) {
      await this.TransferFailed(`${what}: ${Reason(error)}`);
    } finally {
      clearTimeout(timer);
    }
    return null;
  }

  // The endpoint of a pipe, or null (and a line) when there is none for
  // that direction. After the device is gone every request fails at once.
  Pipe(pipe, direction) {
    if (!this.endpoints || this.unplugged) return null;
    const endpoint = this.endpoints[pipe];
    if (endpoint && endpoint.direction === direction) return endpoint;
    this.Failing(`Pipe ${pipe} ist kein ${direction === 'in' ? 'IN' : 'OUT'}-Endpunkt`);
    return null;
  }

  // One line while transfers fail, and one when the adapter answers again;
  // a poll that fails like the one before says nothing new.
  Failing(what) {
    if (this.failing) return;
    this.failing = true;
    this.report('transfer', `Übertragung fehlgeschlagen: ${what}. Der Dialog läuft weiter wie bei ` +
                'jeder fehlgeschlagenen Anfrage: ein Lesen ohne Antwort zeigt sein Befehlsbyte.');
  }

  Answered() {
    if (!this.failing) return;
    this.failing = false;
    this.report('transfer', 'Der Adapter antwortet wieder; der Dialog zeigt wieder die Werte des Ports.',
                'ok');
  }

  // After a failed transfer the device is reset before the next: that ends
  // an answer still awaited and clears one the adapter still holds (its
  // endpoint buffers), so that an answer that comes late is never taken for
  // a later read's. WebUSB can neither cancel one transfer nor tell whose
  // answer a byte is. The reset keeps the interface claimed; taking it
  // again covers a system that drops the claim with the reset, and ends a
  // waiting transfer where reset() is not supported.
  async TransferFailed(what) {
    this.Failing(what);
    if (this.unplugged || !this.device) return;
    for (const step of [() => this.device.reset(), () => this.device.releaseInterface(0),
                        () => this.device.claimInterface(0)]) {
      try {
        await step();
      } catch (error) {
        // Gone, or not supported here: the next request tells.
      }
    }
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
