#!/usr/bin/env bash
# hex-upload --watch on the real kernel (scripts/vm-run): the time from the
# moment a board appears (its hidraw node is made) to the first report the
# program sends it, over 20 plug events, one board at a time on the USB wire
# (sorbel-usbip, usbip attach). The aim: a median of at most 0.5 s. By hand,
# not a timed test.
#   watch-latency.sh <hex-upload> [events]
# The VM runs on TCG where the processor offers no KVM, which slows the
# kernel's enumeration and the program alike: the figure is an upper bound.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${1:-}" != --in-vm ]; then
  program=$(realpath "$1")
  exec "$checkout/scripts/vm-run" --boards 0 --timeout 1200 -- \
    tests/bench/watch-latency.sh --in-vm "$program" "${2:-20}"
fi
program=$2 events=$3
server=${VM_USBIP_SERVER:-$checkout/build/linux/bin/sorbel-usbip}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
scripts/vm/guest unplug
head -c 4096 /dev/urandom > "$work/image.bin"
objcopy -I binary -O ihex "$work/image.bin" "$work/image.hex"
bus=""
for hub in /sys/devices/platform/vhci_hcd.0/usb[0-9]*; do
  [ "$(cat "$hub/speed")" = 480 ] && bus=$(cat "$hub/busnum")
done
devices=()
for ((k = 1; k <= events; ++k)); do devices+=(bootloader); done
"$server" --bus "$bus" --out "$work" --ready "$work/ready" "${devices[@]}" > "$work/server.log" 2>&1 &
"$program" --watch --count "$events" "$work/image.hex" > "$work/watch.out" 2>&1 &
watcher=$!
python3 - "$bus" "$events" "$work" <<'PYTHON'
import glob, os, statistics, subprocess, sys, time

bus, events, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def wait(what, limit):
    deadline = time.monotonic() + limit
    while True:
        value = what()
        if value:
            return value, time.monotonic()
        if time.monotonic() > deadline:
            sys.exit('no %s within %d s' % (what.__doc__, limit))
        time.sleep(0.001)

def server_ready():
    """ready file of the server"""
    return os.path.exists(work + '/ready')

wait(server_ready, 30)
before = set(glob.glob('/dev/hidraw*'))
latencies = []
for k in range(1, events + 1):
    log = '%s/%s-%d.log' % (work, bus, k)

    def previous_gone():
        """removal of the previous board's node"""
        return set(glob.glob('/dev/hidraw*')) == before

    wait(previous_gone, 60)
    subprocess.run(['usbip', 'attach', '-r', '127.0.0.1', '-b', '%s-%d' % (bus, k)],
                   check=True, stdout=subprocess.DEVNULL)

    def node():
        """hidraw node"""
        return set(glob.glob('/dev/hidraw*')) - before

    def first_report():
        """first report"""
        return os.path.exists(log) and os.path.getsize(log) > 0

    def gone():
        """end of the board"""
        with open(work + '/server.log') as f:
            return ('sorbel-usbip: %s-%d left the bus\n' % (bus, k)) in f.read()

    _, appeared = wait(node, 60)
    _, reported = wait(first_report, 60)
    wait(gone, 120)
    latencies.append(reported - appeared)
    print('plug %2d: %4.0f ms' % (k, (reported - appeared) * 1000), flush=True)
median = statistics.median(latencies)
print('appearance to first report over %d plug events: median %.0f ms, min %.0f ms, '
      'max %.0f ms (aim: median at most 500 ms)'
      % (events, median * 1000, min(latencies) * 1000, max(latencies) * 1000))
sys.exit(0 if median <= 0.5 else 1)
PYTHON
status=$?
wait "$watcher" || { echo "hex-upload --watch failed:"; cat "$work/watch.out"; exit 1; }
exit "$status"
