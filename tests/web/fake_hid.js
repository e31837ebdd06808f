// Put before the page's own scripts (after the simulated device's module,
// which defines CreateSorbelSim): navigator.hid with one simulated Sorbel
// bootloader behind it. The page's address sets the case:
//   ?webhid=none            the browser has no WebHID
//   &chooser=cancel         the user cancels the device chooser
//   &page_size=N&flash_size=N&fail_block=N   the device, as hex-upload-sim takes them
//   &absent=1               the device has the ids but is another product
//   &product=NAME           the device's product name (else "Sorbel")
//   &unplug_block=N         the device is unplugged when block N comes
//   &strict=1               feature reports must have the collection's longest
//                           length, as the HID class on Windows demands
//   &delay=N                each feature report sent takes N ms
//   &granted=1              the browser permits the device from the start, as
//                           an administrator's policy (or an earlier visit) does
(() => {
  const params = new URLSearchParams(location.search);
  if (params.get('webhid') === 'none') {
    delete Navigator.prototype.hid;
    return;
  }
  const number = (name, fallback) => Number(params.get(name) || fallback);
  const sim = {log: [], filters: [], opens: 0, blocks: 0};
  const ready = CreateSorbelSim({simLog: (line) => sim.log.push(line)}).then((module) => {
    module._SimReset(number('page_size', 128), number('flash_size', 32768), number('fail_block', 0));
    return module;
  });
  // The flash as hexadecimal text, for the test to compare.
  sim.flash = async () => {
    const module = await ready;
    const bytes = module.HEAPU8.subarray(module._SimFlash(), module._SimFlash() + module._SimFlashSize());
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  };
  sim.leftBootloader = async () => (await ready)._SimLeftBootloader() !== 0;
  window.sorbelSim = sim;

  const kInfoReportSize = 7;  // the size the bootloader's descriptor gives report 1
  const kDataReportSize = 132;
  // The bootloader's report descriptor as WebHID gives it: report 1 with 6
  // bytes, report 2 with 131, one byte each; Chromium on Linux lists report 2
  // first.
  const kCollections = [{
    usagePage: 0xff00, usage: 1, type: 1, children: [], inputReports: [], outputReports: [],
    featureReports: [2, 1].map((reportId) => ({
      reportId,
      items: [{reportSize: 8, reportCount: (reportId === 1 ? kInfoReportSize : kDataReportSize) - 1}],
    })),
  }];
  const strict = params.get('strict') === '1';
  const failure = (what) => new DOMException(`Failed to ${what}.`, 'NotAllowedError');

  class SimDevice extends EventTarget {
    constructor() {
      super();
      this.vendorId = 0x16c0;
      this.productId = 0x05df;
      this.productName = params.get('absent') === '1' ? 'Other' : params.get('product') || 'Sorbel';
      this.collections = kCollections;
      this.opened = false;
    }
    async open() {
      if (this.opened) throw new DOMException('The device is already open.', 'InvalidStateError');
      await ready;
      ++sim.opens;
      this.opened = true;
    }
    async close() {
      this.opened = false;
    }
    // As Chromium gives it: the report id in byte 0, then the report's data.
    async receiveFeatureReport(report_id) {
      const module = await ready;
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      const buffer = module._SimBuffer();
      module.HEAPU8.fill(0, buffer, buffer + kInfoReportSize);
      module.HEAPU8[buffer] = report_id;
      if (!module._SimGetFeature(kInfoReportSize)) throw failure('receive the feature report');
      return new DataView(module.HEAPU8.slice(buffer, buffer + kInfoReportSize).buffer);
    }
    async sendFeatureReport(report_id, data) {
      const module = await ready;
      if (number('delay', 0) > 0) await new Promise((resolve) => setTimeout(resolve, number('delay', 0)));
      if (report_id === 2 && ++sim.blocks === number('unplug_block', 0)) Unplug();
      if (!this.opened) throw new DOMException('The device must be opened first.', 'InvalidStateError');
      const bytes = ArrayBuffer.isView(data)
          ? new Uint8Array(data.buffer, data.byteOffset, data.byteLength)
          : new Uint8Array(data);
      if (bytes.length + 1 > module._SimBufferSize()) throw failure('write the feature report');
      // The class on Windows refuses any other length than the longest
      // report's, and gives the device the report at its own size.
      let length = bytes.length + 1;
      if (strict) {
        if (length !== kDataReportSize) {
          sim.log.push(`refused set 3 ${length}`);
          throw failure('write the feature report');
        }
        length = report_id === 1 ? kInfoReportSize : kDataReportSize;
      }
      const buffer = module._SimBuffer();
      module.HEAPU8[buffer] = report_id;
      module.HEAPU8.set(bytes.subarray(0, length - 1), buffer + 1);
      if (!module._SimSetFeature(length)) throw failure('write the feature report');
    }
    async sendReport() {
      throw failure('write the report');
    }
  }

  const device = new SimDevice();
  const allowed = params.get('granted') === '1' ? [device] : [];
  class SimHid extends EventTarget {
    async getDevices() {
      return allowed.slice();
    }
    async requestDevice(options) {
      sim.filters.push(JSON.parse(JSON.stringify(options.filters)));
      if (params.get('chooser') === 'cancel') return [];
      if (!allowed.includes(device)) allowed.push(device);
      return [device];
    }
  }
  const hid = new SimHid();
  // As the browser does: closed, no longer listed, and the event.
  function Unplug() {
    device.opened = false;
    allowed.splice(allowed.indexOf(device), 1);
    const event = new Event('disconnect');
    event.device = device;
    hid.dispatchEvent(event);
  }
  Object.defineProperty(Navigator.prototype, 'hid', {get: () => hid, configurable: true});
})();
