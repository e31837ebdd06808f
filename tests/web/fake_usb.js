// Put before the page's own scripts (after the simulated adapter's module,
// which defines CreateTarnelSim): navigator.usb with one simulated Tarnel
// adapter behind it, whose two bulk endpoints carry the adapter's byte
// commands to the adapter model. The page's address sets the case:
//   ?webusb=none       the browser has no WebUSB
//   &chooser=cancel    the user cancels the device chooser
//   &endpoints=1       interface 0 has one bulk endpoint only
//   &open=deny         the system refuses to open the device (no udev rule)
//   &granted=1         the browser permits the adapter from the start and
//                      again when it is plugged in, as an administrator's
//                      policy does; otherwise only once chosen, and, as it
//                      has no serial number, only until it is pulled out
// window.tarnelSim lets the test see and steer the device: its registers,
// the state, the animation, the transfers, failures, the fate of the next
// answers and unplugging. As on a real bus, a transferIn waits until the
// adapter has an answer; a reset() clears what the adapter holds.
(() => {
  const params = new URLSearchParams(location.search);
  if (params.get('webusb') === 'none') {
    delete Navigator.prototype.usb;
    return;
  }
  const kEzusb = 1;  // tarnel_sim::DeviceKind
  const kControl = 3;
  // answers: what becomes of the next read commands' answers, one each:
  // 'lose' (never sent), 'late' (sent after 600 ms), 'empty' (no byte).
  const sim = {transfers: [], filters: [], fail: 0, answers: [], resets: 0, module: null, opens: 0};
  const ready = CreateTarnelSim().then((module) => {
    sim.module = module;
    return module;
  });
  const Code = (which) => sim.module._SimCode(which) >>> 0;

  // One request to the model: input bytes, then output bytes (given, or a
  // length); the answer is the status and the bytes returned.
  function Request(device, code, input, output) {
    const m = sim.module;
    const buffer = m._SimBuffer();
    const out = buffer + m._SimOutputOffset();
    const length = typeof output === 'number' ? output : output.length;
    m.HEAPU8.set(input, buffer);
    if (typeof output !== 'number') m.HEAPU8.set(output, out);
    m._SimAdvance(Math.floor(performance.now()) >>> 0);
    const result = m._SimRequest(device, code, input.length, length) >>> 0;
    m._SimAdvance(Math.floor(performance.now()) >>> 0);
    return {status: result & 0xFF, bytes: m.HEAPU8.slice(out, out + (result >>> 8))};
  }
  const Word = (value) => [value & 0xFF, value >> 8 & 0xFF, 0, 0];
  const Hex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0').toUpperCase());

  // The 16 registers as the port reads them (nothing taken from the FIFO).
  sim.registers = async () => {
    await ready;
    return Hex(Request(kControl, Code(2), [], 19).bytes.slice(0, 16)).join(' ');
  };
  // "<16 hex register values>", as tarnel-sim-ctl set takes them.
  sim.setState = async (text) => {
    await ready;
    const values = text.trim().split(/\s+/).map((v) => parseInt(v, 16));
    return Request(kControl, Code(3), [...values, 0xC2], 0).status === 0;
  };
  sim.animate = async (period) => {
    await ready;
    return Request(kControl, Code(4), [period & 0xFF, period >> 8], 0).status === 0;
  };
  // The register writes since the last call: [[index, value], ...].
  sim.takeWrites = async () => {
    await ready;
    const answer = Request(kControl, Code(5), [], 66).bytes;
    const writes = [];
    for (let i = 0; i < answer[0]; ++i) writes.push([answer[2 + 2 * i], answer[3 + 2 * i]]);
    return writes;
  };

  const gone = () => new DOMException('The device was disconnected.', 'NotFoundError');
  const transferError = () => new DOMException('A transfer error has occurred.', 'NetworkError');
  const aborted = () => new DOMException('The transfer was cancelled.', 'AbortError');

  class SimDevice {
    constructor() {
      this.vendorId = 0x1209;
      this.productId = 0x7A01;
      this.productName = 'Tarnel';
      this.manufacturerName = 'Tarnel';
      this.opened = false;
      this.configuration = null;
      this.gone = false;
      this.waiting = [];  // transferIns waiting for an answer
      this.held = [];  // answers the adapter holds for the next transferIn
      this.generation = 0;  // a reset or unplug drops the answers still to come
      const endpoints = [{endpointNumber: 1, direction: 'out', type: 'bulk', packetSize: 64}];
      endpoints.push(params.get('endpoints') === '1'
          ? {endpointNumber: 2, direction: 'in', type: 'interrupt', packetSize: 8}
          : {endpointNumber: 1, direction: 'in', type: 'bulk', packetSize: 64});
      const alternate = {alternateSetting: 0, interfaceClass: 0xFF, endpoints};
      this.configurations = [{configurationValue: 1, interfaces: [
        {interfaceNumber: 0, alternate, alternates: [alternate], claimed: false}]}];
    }
    async open() {
      if (this.gone) throw gone();
      if (params.get('open') === 'deny') throw new DOMException('Access denied.', 'SecurityError');
      await ready;
      ++sim.opens;
      this.opened = true;
    }
    async close() {
      this.Abort(aborted());
      this.opened = false;
      this.configuration = null;
    }
    async selectConfiguration(value) {
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      this.configuration = this.configurations.find((c) => c.configurationValue === value);
    }
    async claimInterface(number) {
      if (!this.configuration) throw new DOMException('The device must have a configuration selected.', 'InvalidStateError');
      this.configuration.interfaces[number].claimed = true;
    }
    async releaseInterface(number) {
      this.Abort(aborted());
      if (this.configuration) this.configuration.interfaces[number].claimed = false;
    }
    async reset() {
      if (this.gone) throw gone();
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      ++sim.resets;
      this.Abort(aborted());
    }
    Abort(error) {
      ++this.generation;
      this.held = [];
      for (const waiting of this.waiting.splice(0)) waiting.reject(error);
    }
    // The adapter sends an answer: to the transferIn waiting, or it holds it.
    Answer(bytes, fate) {
      if (fate === 'lose') return;
      const generation = this.generation;
      const send = () => {
        if (generation !== this.generation) return;
        const data = fate === 'empty' ? new Uint8Array(0) : bytes;
        const waiting = this.waiting.shift();
        if (waiting) waiting.resolve(data); else this.held.push(data);
      };
      if (fate === 'late') setTimeout(send, 600); else send();
    }
    // Pipe n is the n-th endpoint of interface 0: the EZ-USB driver's request on it.
    Pipe(direction, number) {
      if (this.gone) throw gone();
      if (!this.opened || !this.configuration || !this.configuration.interfaces[0].claimed) {
        throw new DOMException('The interface is not claimed.', 'InvalidStateError');
      }
      if (sim.fail > 0) {
        --sim.fail;
        sim.transfers.push([direction, 'failed']);
        throw transferError();
      }
      return this.configuration.interfaces[0].alternate.endpoints.findIndex(
          (e) => e.direction === direction && e.endpointNumber === number);
    }
    async transferOut(number, data) {
      const bytes = new Uint8Array(ArrayBuffer.isView(data) ? data.buffer.slice(data.byteOffset, data.byteOffset + data.byteLength) : data);
      const pipe = this.Pipe('out', number);
      sim.transfers.push(['out', Hex(bytes).join(' ')]);
      const result = Request(kEzusb, Code(0), Word(pipe), bytes);
      if (result.status !== 0) return {status: 'stall', bytesWritten: 0};
      // A read command leaves its answer in the model's bulk-in pipe (1).
      const answer = Request(kEzusb, Code(1), Word(1), 1);
      if (answer.status === 0) this.Answer(answer.bytes, sim.answers.shift());
      return {status: 'ok', bytesWritten: bytes.length};
    }
    async transferIn(number, length) {
      this.Pipe('in', number);
      const bytes = this.held.length > 0 ? this.held.shift()
          : await new Promise((resolve, reject) => this.waiting.push({resolve, reject}));
      sim.transfers.push(['in', Hex(bytes).join(' ')]);
      return {status: 'ok', data: new DataView(bytes.slice(0, length).buffer)};
    }
  }

  const granted = () => (params.get('granted') === '1' ? [device] : []);
  let device = new SimDevice();
  let allowed = granted();
  class SimUsb extends EventTarget {
    async getDevices() {
      return allowed.slice();
    }
    async requestDevice(options) {
      sim.filters.push(JSON.parse(JSON.stringify(options.filters)));
      if (params.get('chooser') === 'cancel' || device.gone) {
        throw new DOMException('No device selected.', 'NotFoundError');
      }
      if (!allowed.includes(device)) allowed.push(device);
      return device;
    }
  }
  const usb = new SimUsb();
  // The adapter is pulled out: its requests fail, the page is told.
  sim.unplug = () => {
    device.gone = true;
    device.opened = false;
    device.Abort(gone());
    allowed = allowed.filter((d) => d !== device);  // the browser lists only devices present
    const event = new Event('disconnect');
    event.device = device;
    usb.dispatchEvent(event);
  };
  // Plugged in again: a new device object, as the browser gives it.
  sim.replug = () => {
    device = new SimDevice();
    allowed = granted();
  };
  window.tarnelSim = sim;
  Object.defineProperty(Navigator.prototype, 'usb', {get: () => usb, configurable: true});
})();
