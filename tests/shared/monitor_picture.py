#!/usr/bin/env python3
"""The monitor's picture for known register states, in one place for both shells.

The Windows program under Wine (tests/e2e/monitor/picture.sh) and the page in
Chromium (tests/web/monitor_test.py) bring the simulated adapter into the same
states and sample the same client pixels: the centre of every pin, and the
read-back half (upper left) and the written half (lower right) of every bit
box, away from labels and overlines, and either side of the pins' circles. A pin
is filled in its row's colour when its line is high at the connector
(inverted signals complemented), a half box when its bit is set; everything
else is white.

As a program, for the shell scripts:
  monitor_picture.py states            the names of the states, in order
  monitor_picture.py registers STATE   the 16 register values to set the port to
  monitor_picture.py typed STATE       "FIELD TEXT" typed into a hex field then, or nothing
  monitor_picture.py shown STATE       "FIELD TEXT" per read-back field once it is reached
  monitor_picture.py samples STATE     one "WHAT|X,Y|srgb(R,G,B)" line per sample
"""
import sys

GREEN, RED, YELLOW = (0, 255, 0), (255, 0, 0), (224, 224, 0)
WHITE, BLACK = (255, 255, 255), (0, 0, 0)
ROW_COLOURS = (GREEN, RED, YELLOW)
ROW_LETTERS = 'DSC'

# Signal code of each pin (row << 4 | inverted << 3 | bit), 0xFF for ground.
PIN_MAP = (0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x16, 0x1F, 0x15, 0x14,
           0x29, 0x13, 0x22, 0x2B) + (0xFF,) * 8

# The states in the order the tests reach them. "start": the port as set
# before the program starts; the program writes 8F to the data register, and
# its first poll shows what it read, written and read-back alike. "changed":
# then someone else sets data, status and control, and the user types F0 into
# the status field, a write the status register ignores: every row has bits
# written only, read back only, both and neither.
STATES = {
    'start': {
        'registers': '00 88 05 00 00 00 00 00 00 00 01 00 00 00 00 00',
        'typed': None,
        'written': (0x8F, 0x88, 0x05),
        'shown': (0x8F, 0x88, 0x05),
    },
    'changed': {
        'registers': 'A5 50 0A 00 00 00 00 00 00 00 01 00 00 00 00 00',
        'typed': (161, 'F0'),
        'written': (0x8F, 0xF0, 0x05),
        'shown': (0xA5, 0x50, 0x0A),
    },
}


def pin_centre(pin):
    """Client pixel of pin 1..25."""
    p = pin - 1
    return (254 - 16 * p, 104) if p <= 12 else (454 - 16 * p, 120)


def box_centre(row, bit):
    x, y = ((126, 62), (82, 172), (150, 212))[row]
    return x + 16 * (7 - bit), y


def links():
    """The blue lines from the signal pins to the top middle of their bit boxes."""
    for pin, code in enumerate(PIN_MAP[:17], start=1):
        x, y = box_centre(code >> 4, code & 7)
        yield pin_centre(pin), (x, y - 8)


def clear_of_links(x, y):
    """Whether pixel (x, y) is more than 1.5 pixels from every link."""
    for (x0, y0), (x1, y1) in links():
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        if ((x0 + t * dx - x) ** 2 + (y0 + t * dy - y) ** 2) ** 0.5 <= 1.5:
            return False
    return True


def samples(state):
    """(what, x, y, (r, g, b)) for every bit box half, every pin and the outline."""
    written, shown = STATES[state]['written'], STATES[state]['shown']
    result = []
    for row in range(3):
        for bit in range(8):
            x, y = box_centre(row, bit)
            name = 'box %s%d' % (ROW_LETTERS[row], bit)
            read_colour = ROW_COLOURS[row] if shown[row] >> bit & 1 else WHITE
            written_colour = ROW_COLOURS[row] if written[row] >> bit & 1 else WHITE
            result.append((name + ', read-back half', x - 6, y - 7, read_colour))
            result.append((name + ', written half', x + 6, y + 6, written_colour))
    for pin, code in enumerate(PIN_MAP, start=1):
        x, y = pin_centre(pin)
        colour = WHITE
        if code != 0xFF:
            row, bit, inverted = code >> 4, code & 7, code >> 3 & 1
            if (shown[row] >> bit & 1) != inverted:
                colour = ROW_COLOURS[row]
        result.append(('pin %d' % pin, x, y, colour))
        # The circle is inscribed in the pin's square, whose right edge lies
        # outside: its pixels run from 5 left of the centre to 4 right of it,
        # and the connector's white is at 6 left and 5 right (where no link
        # passes).
        for side, dx in (('left', -6), ('right', 5)):
            if clear_of_links(x + dx, y):
                result.append(('pin %d, %s of the circle' % (pin, side), x + dx, y, WHITE))
    result.append(('connector outline', 266, 100, BLACK))
    return result


def main(argv):
    if argv[1:] == ['states']:
        print('\n'.join(STATES))
        return 0
    if len(argv) != 3 or argv[2] not in STATES:
        print('usage: monitor_picture.py states | registers|typed|shown|samples STATE', file=sys.stderr)
        return 2
    what, state = argv[1], STATES[argv[2]]
    if what == 'registers':
        print(state['registers'])
    elif what == 'typed':
        if state['typed']:
            print('%d %s' % state['typed'])
    elif what == 'shown':
        for index, value in enumerate(state['shown']):
            print('%d %02X' % (176 + index, value))
    elif what == 'samples':
        for name, x, y, colour in samples(argv[2]):
            print('%s|%d,%d|srgb(%d,%d,%d)' % ((name, x, y) + colour))
    else:
        print('monitor_picture.py: unknown request %s' % what, file=sys.stderr)
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
