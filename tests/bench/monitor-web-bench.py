#!/usr/bin/python3
"""port-monitor's page in headless Chromium: how long one poll tick keeps the
main thread, and how many frames the page drops while the port changes.

Run by hand after building the web preset:
  tests/bench/monitor-web-bench.py [--ticks 200] [--seconds 10]

The stand-in adapter of the browser tests (tests/web/fake_usb.js) answers at
once. The port is in mode 7, so every tick reads all the registers a tick
reads (status, control, cfgA, cfgB, ECR). A tick's main-thread time is its
time from the timer to its end less the waits of its reads' 1 ms pauses; the
stand-in's own time (the model answering the transfers, the browser's USB
stack in real life) is shown apart. Frames: requestAnimationFrame intervals
while the status lines change every 40 ms; a frame counts as dropped when
its interval is longer than 1.5 frames. The same count on the page without a
running dialog tells what the headless browser drops by itself.
"""
import argparse
import os
import statistics
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
sys.path.insert(0, os.path.join(ROOT, 'tests', 'web'))
from browser import Site, start_chromium  # noqa: E402

# Timing hooks: the 1 ms sleeps go through setTimeout; the stand-in's transfers
# and the shell's dispatch of a timer are wrapped where the page defines them.
HOOKS = '''
(() => {
  const bench = window.monitorBench = {sleeping: 0, device: 0, ticks: [], frames: []};
  const setTimeoutOriginal = window.setTimeout;
  window.setTimeout = function (callback, delay, ...rest) {
    if (delay !== 1 || typeof callback !== 'function') return setTimeoutOriginal(callback, delay, ...rest);
    const asleep = performance.now();
    return setTimeoutOriginal(() => { bench.sleeping += performance.now() - asleep; callback(); }, delay);
  };
})();
'''

PATCH = '''
const bench = window.monitorBench;
const dispatch = MonitorShell.prototype.Dispatch;
MonitorShell.prototype.Dispatch = async function (message) {
  if (message.kind !== 'timer' || message.id !== 1) return dispatch.call(this, message);
  const [start, slept, device] = [performance.now(), bench.sleeping, bench.device];
  await dispatch.call(this, message);
  const wall = performance.now() - start;
  bench.ticks.push([wall - (bench.sleeping - slept), bench.device - device, wall]);
};
'''


def frames(driver, seconds):
    """requestAnimationFrame intervals (ms) over some seconds."""
    return driver.execute_async_script('''
        const [seconds, done] = arguments;
        const intervals = [];
        let last = null;
        const end = performance.now() + seconds * 1000;
        const frame = (now) => {
          if (last !== null) intervals.push(now - last);
          last = now;
          if (now < end) requestAnimationFrame(frame); else done(intervals);
        };
        requestAnimationFrame(frame);''', seconds)


def dropped(intervals):
    frame = statistics.median(intervals)
    return sum(1 for i in intervals if i > 1.5 * frame), frame


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--site', default=os.path.join(ROOT, 'build', 'web', 'site'))
    parser.add_argument('--sim', default=os.path.join(ROOT, 'build', 'web', 'bin', 'tarnel-sim-web.js'))
    parser.add_argument('--ticks', type=int, default=200)
    parser.add_argument('--seconds', type=float, default=10)
    args = parser.parse_args()
    work = tempfile.TemporaryDirectory()
    hooks = os.path.join(work.name, 'hooks.js')
    with open(hooks, 'w') as f:
        f.write(HOOKS)
    site = Site(args.site, 'port-monitor/index.html')
    driver = start_chromium(os.path.join(work.name, 'profile'),
                            [hooks, args.sim, os.path.join(ROOT, 'tests', 'web', 'fake_usb.js')],
                            window=(1000, 900))
    driver.set_script_timeout(args.seconds * 3 + 60)
    try:
        driver.get(site.url)
        while driver.execute_script('return document.body.dataset.ready') != 'yes':
            time.sleep(0.05)
        idle_drops, frame = dropped(frames(driver, args.seconds))
        # The stand-in's time per transfer, measured around its device's methods.
        driver.execute_script('''
            const bench = window.monitorBench;
            const request = navigator.usb.requestDevice.bind(navigator.usb);
            navigator.usb.requestDevice = async (options) => {
              const device = await request(options);
              for (const name of ['transferOut', 'transferIn']) {
                const original = device[name].bind(device);
                device[name] = async (...args) => {
                  const start = performance.now();
                  try { return await original(...args); } finally { bench.device += performance.now() - start; }
                };
              }
              return device;
            };''')
        driver.execute_script(PATCH)
        driver.execute_script('return window.tarnelSim.setState('
                              '"00 00 00 00 00 00 00 00 00 3C E1 00 00 00 00 00")')
        driver.find_element('id', 'choose').click()
        while len(driver.execute_script('return window.monitorBench.ticks')) < args.ticks + 5:
            time.sleep(0.2)
        ticks = driver.execute_script('return window.monitorBench.ticks')[5:args.ticks + 5]
        driver.execute_script('return window.tarnelSim.animate(40)')
        busy_drops, _ = dropped(frames(driver, args.seconds))
        shell = [t[0] - t[1] for t in ticks]
        print('poll tick in mode 7, %d ticks: main thread %.2f ms median (%.2f ms at the 90th '
              'percentile), of which the stand-in adapter %.2f ms; without it %.2f ms' % (
                  len(ticks), statistics.median(t[0] for t in ticks),
                  statistics.quantiles([t[0] for t in ticks], n=10)[8],
                  statistics.median(t[1] for t in ticks), statistics.median(shell)))
        print('the same ticks from timer to end, the pauses included: %.2f ms median' %
              statistics.median(t[2] for t in ticks))
        print('frames (%.1f ms each) dropped in %g s: %d while the port changes every 40 ms, '
              '%d on the page without a dialog' % (frame, args.seconds, busy_drops, idle_drops))
    finally:
        driver.quit()
        site.close()
        work.cleanup()


if __name__ == '__main__':
    main()
