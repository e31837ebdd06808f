#!/usr/bin/python3
"""Writes the dialog template of the resource script as a JavaScript table.

The page builds the monitor dialog from this table, so the controls, their
places (dialog units), styles and texts have one source: port-monitor.rc with
the definitions of resource_ids.h. Texts are ANSI (Windows-1252) there and
become JavaScript strings here. Anything the script does not understand stops
the build, so a new kind of control cannot silently go missing on the page.

usage: dialog_table.py RC_FILE HEADER DIALOG_NAME OUTPUT_JS
"""
import json
import re
import sys

# Style names the page knows, by the control kinds that may carry them.
KNOWN_STYLES = {
    'WS_TABSTOP', 'WS_GROUP', 'WS_DISABLED', 'WS_VSCROLL',
    'ES_CENTER', 'ES_UPPERCASE', 'ES_READONLY',
    'CBS_DROPDOWN', 'CBS_DROPDOWNLIST',
    'BS_RADIOBUTTON', 'BS_AUTORADIOBUTTON', 'BS_PUSHBUTTON', 'BS_FLAT',
}
DIALOG_STYLES = {
    'DS_MODALFRAME', 'DS_3DLOOK', 'WS_POPUP', 'WS_CAPTION', 'WS_SYSMENU', 'WS_MINIMIZEBOX',
}


class TemplateError(Exception):
    pass


def c_string(literal):
    """The bytes of a C string literal (without its quotes) as Windows-1252 text."""
    out = bytearray()
    i = 0
    while i < len(literal):
        c = literal[i]
        if c != '\\':
            out += c.encode('ascii')
            i += 1
            continue
        nxt = literal[i + 1]
        if nxt == 'x':
            digits = re.match(r'[0-9A-Fa-f]+', literal[i + 2:]).group(0)
            out.append(int(digits, 16) & 0xFF)
            i += 2 + len(digits)
        elif nxt in '\\"\'':
            out += nxt.encode('ascii')
            i += 2
        elif nxt == 'n':
            out += b'\n'
            i += 2
        else:
            raise TemplateError('unknown escape \\%s' % nxt)
    return out.decode('cp1252')


def strip_comments(text):
    text = re.sub(r'/\*.*?\*/', ' ', text, flags=re.S)
    return re.sub(r'//[^\n]*', '', text)


def read_definitions(path):
    """#define NAME value: numbers and (concatenated) string literals."""
    definitions = {}
    with open(path, encoding='ascii') as f:
        for line in strip_comments(f.read()).splitlines():
            match = re.match(r'\s*#define\s+(\w+)\s+(.+?)\s*$', line)
            if not match:
                continue
            name, value = match.groups()
            strings = re.findall(r'"((?:[^"\\]|\\.)*)"', value)
            if strings:
                definitions[name] = ''.join(c_string(s) for s in strings)
            elif re.fullmatch(r'-?(0[xX][0-9A-Fa-f]+|\d+)', value):
                definitions[name] = int(value, 0)
    return definitions


def split_arguments(text):
    """Comma-separated arguments; commas inside string literals stay."""
    args, current, quoted = [], '', False
    for c in text:
        if c == '"':
            quoted = not quoted
        if c == ',' and not quoted:
            args.append(current.strip())
            current = ''
        else:
            current += c
    args.append(current.strip())
    return args


def value_of(token, definitions):
    if token.startswith('"'):
        return c_string(token[1:-1])
    if token in definitions:
        return definitions[token]
    if re.fullmatch(r'-?\d+', token):
        return int(token)
    raise TemplateError('unknown value %r' % token)


def styles_of(token):
    styles = [s.strip() for s in token.split('|')] if token else []
    for style in styles:
        if style not in KNOWN_STYLES:
            raise TemplateError('style %s is not known to the page' % style)
    return styles


# Statement -> (kind, argument names). "text" and "id" are values; the rest numbers or styles.
STATEMENTS = {
    'LTEXT': ('static', ['text', 'id', 'x', 'y', 'w', 'h', 'style?']),
    'RTEXT': ('static', ['text', 'id', 'x', 'y', 'w', 'h', 'style?']),
    'CTEXT': ('static', ['text', 'id', 'x', 'y', 'w', 'h', 'style?']),
    'GROUPBOX': ('groupbox', ['text', 'id', 'x', 'y', 'w', 'h', 'style?']),
    'EDITTEXT': ('edit', ['id', 'x', 'y', 'w', 'h', 'style?']),
    'COMBOBOX': ('combobox', ['id', 'x', 'y', 'w', 'h', 'style?']),
    'PUSHBUTTON': ('button', ['text', 'id', 'x', 'y', 'w', 'h', 'style?']),
    'CONTROL': (None, ['text', 'id', 'class', 'style', 'x', 'y', 'w', 'h']),
}
ALIGN = {'LTEXT': 'left', 'RTEXT': 'right', 'CTEXT': 'center'}


def control_of(statement, args, definitions):
    kind, names = STATEMENTS[statement]
    required = [n for n in names if not n.endswith('?')]
    if not len(required) <= len(args) <= len(names):
        raise TemplateError('%s takes %d arguments, not %d' % (statement, len(required), len(args)))
    fields = dict(zip((n.rstrip('?') for n in names), args))
    control = {'id': value_of(fields['id'], definitions)}
    if 'text' in fields:
        control['text'] = value_of(fields['text'], definitions)
    for name in 'xywh':
        control[name] = value_of(fields[name], definitions)
    control['styles'] = styles_of(fields.get('style', ''))
    if statement == 'CONTROL':
        if value_of(fields['class'], definitions) != 'Button':
            raise TemplateError('CONTROL of class %s is not known to the page' % fields['class'])
        styles = control['styles']
        if 'BS_RADIOBUTTON' in styles or 'BS_AUTORADIOBUTTON' in styles:
            kind = 'radio'
        elif 'BS_PUSHBUTTON' in styles:
            kind = 'button'
        else:
            raise TemplateError('Button control without a style the page knows')
    control['kind'] = kind
    if statement in ALIGN:
        control['align'] = ALIGN[statement]
    return control


def read_template(rc_path, definitions, name):
    with open(rc_path, encoding='ascii') as f:
        text = strip_comments(f.read())
    lines = [line.strip() for line in text.splitlines()]
    header = re.compile(r'(\w+)\s+DIALOG(?:EX)?\s+(.+)$')
    start = next((i for i, line in enumerate(lines)
                  if header.match(line) and header.match(line).group(1) == name), None)
    if start is None:
        raise TemplateError('no dialog %s in %s' % (name, rc_path))
    size = [int(v) for v in split_arguments(header.match(lines[start]).group(2))]
    template = {'id': definitions.get(name, name), 'x': size[0], 'y': size[1],
                'width': size[2], 'height': size[3], 'controls': []}
    i = start + 1
    while lines[i] != 'BEGIN':
        keyword, _, rest = lines[i].partition(' ')
        rest = rest.strip()
        if keyword == 'STYLE':
            template['styles'] = styles = [s.strip() for s in rest.split('|')]
            unknown = set(styles) - DIALOG_STYLES
            if unknown:
                raise TemplateError('dialog style %s is not known to the page' % sorted(unknown))
        elif keyword == 'CAPTION':
            template['title'] = value_of(rest, definitions)
        elif keyword == 'FONT':
            points, face = split_arguments(rest)
            template['font'] = {'points': int(points), 'face': value_of(face, definitions)}
        elif lines[i]:
            raise TemplateError('dialog statement %s is not known to the page' % keyword)
        i += 1
    for line in lines[i + 1:]:
        if line == 'END':
            return template
        if not line:
            continue
        statement, _, rest = line.partition(' ')
        if statement not in STATEMENTS:
            raise TemplateError('control statement %s is not known to the page' % statement)
        template['controls'].append(control_of(statement, split_arguments(rest), definitions))
    raise TemplateError('dialog %s has no END' % name)


# Controls that carry no text of their own are named by a label of the
# dialog: a static text beside them on the same line (at most this many
# dialog units away), else the group box around them.
LABEL_GAP = 8
UNNAMED_KINDS = {'edit', 'combobox'}


def name_controls(controls):
    """Gives each control without a text of its own "label": the index of
    the static or group box that names it. A control that nothing names
    stops the build: the page would show a field without a name."""
    def beside(label, control):
        same_line = label['y'] < control['y'] + min(control['h'], 14) and control['y'] < label['y'] + label['h']
        gap = max(control['x'] - (label['x'] + label['w']), label['x'] - (control['x'] + control['w']))
        return same_line and 0 <= gap <= LABEL_GAP

    def around(box, control):
        return (box['x'] <= control['x'] and control['x'] + control['w'] <= box['x'] + box['w'] and
                box['y'] <= control['y'] and control['y'] + min(control['h'], 14) <= box['y'] + box['h'])

    for control in controls:
        if control['kind'] not in UNNAMED_KINDS:
            continue
        statics = [i for i, c in enumerate(controls) if c['kind'] == 'static' and beside(c, control)]
        boxes = [i for i, c in enumerate(controls) if c['kind'] == 'groupbox' and around(c, control)]
        boxes.sort(key=lambda i: controls[i]['w'] * controls[i]['h'])
        named = statics or boxes
        if not named:
            raise TemplateError('control %d has no label beside it and no group box around it'
                                % control['id'])
        control['label'] = named[0]


def main():
    rc_path, header_path, name, output = sys.argv[1:]
    try:
        template = read_template(rc_path, read_definitions(header_path), name)
        name_controls(template['controls'])
    except (TemplateError, ValueError, IndexError, AttributeError) as error:
        sys.exit('dialog_table.py: %s: %s' % (rc_path, error))
    definitions = read_definitions(header_path)
    # The notification codes the dialog's handling reacts to, as the core names them.
    messages = {name[len('MONITOR_'):]: value for name, value in definitions.items()
                if name.startswith('MONITOR_')}
    controls = template.pop('controls')
    with open(output, 'w', encoding='utf-8') as f:
        f.write('// Generated from %s and %s by dialog_table.py: the dialog the page builds.\n'
                % (rc_path.split('/')[-1], header_path.split('/')[-1]))
        f.write("'use strict';\n")
        f.write('const kDialogMessages = %s;\n' % json.dumps(messages))
        f.write('const kDialogTemplate = %s;\n' % json.dumps(template, ensure_ascii=True))
        f.write('kDialogTemplate.controls = [\n%s\n];\n'
                % ',\n'.join(json.dumps(c, ensure_ascii=True) for c in controls))


if __name__ == '__main__':
    main()
