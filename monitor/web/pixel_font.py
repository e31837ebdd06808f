#!/usr/bin/python3
"""Turns one bitmap strike of a font into an outline web font.

Browsers draw only outlines from web fonts, while the small dialog fonts that
match the Windows dialog's widths come as bitmap strikes. Every set pixel of
the strike becomes a square (rows merged into runs), so the font drawn at the
strike's pixel size shows exactly the strike's pixels and advances. Only the
characters of Windows-1252 are kept, since the dialog's texts are ANSI.

usage: pixel_font.py SOURCE.ttf PIXELS FAMILY OUTPUT.woff
"""
import collections
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTFont

UNIT = 64  # font units per pixel

Metrics = collections.namedtuple('Metrics', 'width height BearingX BearingY Advance')


def windows_1252():
    chars = set()
    for byte in range(0x20, 0x100):
        try:
            chars.add(ord(bytes([byte]).decode('cp1252')))
        except UnicodeDecodeError:
            pass
    return chars


def strike_of(font, pixels):
    """The strike's size table, its glyphs and the metrics of each glyph (in the
    glyph itself, or shared by an index subtable for images without their own)."""
    for strike, glyphs in zip(font['EBLC'].strikes, font['EBDT'].strikeData):
        if strike.bitmapSizeTable.ppemY != pixels:
            continue
        metrics = {}
        for subtable in strike.indexSubTables:
            for name in subtable.names:
                glyph = glyphs[name]
                found = getattr(subtable, 'metrics', None) or glyph.metrics
                # Small metrics name them BearingX..., big ones horiBearingX...
                metrics[name] = Metrics(
                    found.width, found.height,
                    getattr(found, 'BearingX', getattr(found, 'horiBearingX', 0)),
                    getattr(found, 'BearingY', getattr(found, 'horiBearingY', 0)),
                    getattr(found, 'Advance', getattr(found, 'horiAdvance', 0)))
        return strike.bitmapSizeTable, glyphs, metrics
    sys.exit('pixel_font.py: no %d-pixel strike in the source font' % pixels)


def pixel_reader(glyph, metrics):
    """Whether pixel (column, row) is set: rows byte-aligned or bit-packed, high bit first."""
    data, width = glyph.imageData, metrics.width
    row_bits = ((width + 7) // 8) * 8 if glyph.getFormat() in (1, 6) else width
    if glyph.getFormat() not in (1, 2, 5, 6, 7):
        sys.exit('pixel_font.py: bitmap format %d is not read here' % glyph.getFormat())

    def pixel(column, row):
        bit = row * row_bits + column
        return data[bit >> 3] & (0x80 >> (bit & 7)) != 0
    return pixel


def runs_of(glyph, metrics):
    """(column, row, length) of every horizontal run of set pixels."""
    pixel = pixel_reader(glyph, metrics)
    for row in range(metrics.height):
        column = 0
        while column < metrics.width:
            if pixel(column, row):
                start = column
                while column < metrics.width and pixel(column, row):
                    column += 1
                yield start, row, column - start
            else:
                column += 1


def outline_of(glyph, metrics):
    pen = TTGlyphPen(None)
    if glyph is not None:
        bearing_x, bearing_y = metrics.BearingX, metrics.BearingY
        for column, row, length in runs_of(glyph, metrics):
            left, top = (bearing_x + column) * UNIT, (bearing_y - row) * UNIT
            right, bottom = left + length * UNIT, top - UNIT
            pen.moveTo((left, bottom))
            pen.lineTo((left, top))
            pen.lineTo((right, top))
            pen.lineTo((right, bottom))
            pen.closePath()
    return pen.glyph()


def main():
    source, pixels, family, output = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    font = TTFont(source)
    size, strike, strike_metrics = strike_of(font, pixels)
    cmap = {code: name for code, name in font.getBestCmap().items() if code in windows_1252()}
    names = ['.notdef'] + sorted(set(cmap.values()) - {'.notdef'})
    glyphs, metrics = {}, {}
    for name in names:
        glyph, glyph_metrics = strike.get(name), strike_metrics.get(name)
        glyphs[name] = outline_of(glyph, glyph_metrics)
        advance = glyph_metrics.Advance if glyph is not None else pixels // 2
        bearing = glyph_metrics.BearingX if glyph is not None else 0
        metrics[name] = (advance * UNIT, bearing * UNIT)
    ascent, descent = size.hori.ascender * UNIT, size.hori.descender * UNIT
    builder = FontBuilder(pixels * UNIT, isTTF=True)
    builder.setupGlyphOrder(names)
    builder.setupCharacterMap(cmap)
    builder.setupGlyf(glyphs)
    builder.setupHorizontalMetrics(metrics)
    builder.setupHorizontalHeader(ascent=ascent, descent=descent)
    builder.setupNameTable({'familyName': family, 'styleName': 'Regular',
                            'copyright': font['name'].getDebugName(0) or ''})
    # Typo metrics in use: the line is exactly the strike's ascent and descent.
    builder.setupOS2(sTypoAscender=ascent, sTypoDescender=descent, sTypoLineGap=0,
                     usWinAscent=ascent, usWinDescent=-descent, fsSelection=0x40 | 0x80,
                     version=4)
    builder.setupPost()
    builder.font.flavor = 'woff'
    builder.save(output)


if __name__ == '__main__':
    main()
