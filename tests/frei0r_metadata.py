#!/usr/bin/env python3
"""The editors' metadata of the frei0r filter against the filter itself.

    frei0r_metadata.py KDENLIVE_XML SHOTCUT_UI_QML FILTER_QUERY CLIP OUT_DIR

FILTER_QUERY is what `melt -query filter=frei0r.tarnix` printed: the filter's parameters as
MLT reads them from the filter (name, type, default, and the explanation with the range and
the default).
Every parameter of the Kdenlive description and of the Shotcut interface must be one of
them, with the same range and default, and every one of them must be there. Writes two MLT
projects into OUT_DIR, kdenlive.mlt and shotcut.mlt, that apply the filter to CLIP with the
defaults each editor sets on a new filter.
"""
import re
import sys
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

kdenlive_xml, shotcut_ui, query, clip, out_dir = sys.argv[1:6]
problems = []


def check(condition, text):
    if not condition:
        problems.append(text)


def close(a, b):
    return abs(a - b) <= 1e-12 * max(1.0, abs(a), abs(b))


# The filter's own parameters, from MLT's YAML: one block per parameter.
filter_params = {}
for block in re.split(r'\n  - identifier: ', open(query).read())[1:]:
    fields = dict(re.findall(r'^\s+(\w+): ?(.*)$', block, re.M))
    name = fields['title']
    explanation = fields.get('description', '').strip('"')
    p = {'type': fields['type'], 'default': float(fields['default']), 'explanation': explanation}
    span = re.search(r'onto (-?[0-9.]+)\.\.(-?[0-9.]+)', explanation)
    if span:
        p['min'], p['max'] = float(span.group(1)), float(span.group(2))
    # MLT prints the default shortened, and held to 0..1; the explanation has it whole, in the
    # setting's units and as the filter takes it.
    own = re.search(r'default (-?[0-9.]+)(?: \((-?[0-9.e-]+)\))?$', explanation)
    if own:
        p['own_default'] = float(own.group(1))
        p['default'] = float(own.group(2)) if own.group(2) else p['own_default']
    p['whole'] = 'whole number' in explanation
    filter_params[name] = p
check(len(filter_params) == 53, 'the filter has %d parameters, not 53' % len(filter_params))


def filter_value(p, value):
    return (value - p['min']) / (p['max'] - p['min'])


# Kdenlive: default is what it sends to MLT; min and max are what it shows, divided by factor
# on the way to MLT. A range that does not start at 0 is shown shifted, as its name says.
kdenlive_values = {}
effect = ET.parse(kdenlive_xml).getroot()
check(effect.get('tag') == 'frei0r.tarnix', 'Kdenlive: the effect is not frei0r.tarnix')
for node in effect.iter('parameter'):
    name = node.get('name')
    title = node.findtext('name') or ''
    p = filter_params.get(name)
    if not p:
        check(False, 'Kdenlive: %s is no parameter of the filter' % name)
        continue
    default = float(node.get('default'))
    kdenlive_values[name] = node.get('default')
    if p['type'] == 'boolean':
        check(node.get('type') == 'bool', 'Kdenlive: %s is a checkbox in the filter' % name)
        check(default == p['default'], 'Kdenlive: %s defaults to %s, the filter to %s' % (name, default, p['default']))
        continue
    check(close(default, p['default']), 'Kdenlive: %s defaults to %r, the filter to %r' % (name, default, p['default']))
    low, high, factor = float(node.get('min')), float(node.get('max')), float(node.get('factor', '1'))
    if name == 'fps':
        check(factor == 1 and low <= 25 <= high, 'Kdenlive: fps is sent in frames per second')
        continue
    shift = p['min']
    check(close(low + shift, p['min']) and close(high + shift, p['max']),
          'Kdenlive: %s shows %s..%s for the range %s..%s' % (name, low, high, p['min'], p['max']))
    check(close(factor, p['max'] - p['min']), 'Kdenlive: %s is divided by %s, not by its span' % (name, factor))
    if shift:
        check(('shown %s %g' % ('plus' if shift < 0 else 'less', abs(shift))) in title,
              'Kdenlive: %s does not say it is shown shifted by %g' % (name, -shift))
    check((node.get('decimals') == '0') == p['whole'], 'Kdenlive: %s takes whole numbers or not, as the filter' % name)
check(set(kdenlive_values) == set(filter_params),
      'Kdenlive: missing %s' % sorted(set(filter_params) - set(kdenlive_values)))

# Shotcut: the interface's table, in the settings' own units; it sends (v - min) / (max - min).
shotcut_values = {}
table = re.findall(r"\{ name: '(\w+)', label: qsTr\('[^']*'\), group: [^,]*, kind: '(\w+)', "
                   r"minimum: (-?[0-9.]+), maximum: (-?[0-9.]+), defaultValue: (-?[0-9.]+) \}", open(shotcut_ui).read())
for name, kind, low, high, default in table:
    low, high, default = float(low), float(high), float(default)
    p = filter_params.get(name)
    if not p:
        check(False, 'Shotcut: %s is no parameter of the filter' % name)
        continue
    if kind == 'bool':
        check(p['type'] == 'boolean' and default == p['default'], 'Shotcut: %s differs from the filter' % name)
        shotcut_values[name] = repr(default)
    elif kind == 'fps':
        check(name == 'fps' and default == p['default'], 'Shotcut: fps differs from the filter')
        shotcut_values[name] = repr(default)
    else:
        check(low == p['min'] and high == p['max'], 'Shotcut: %s ranges %s..%s, the filter %s..%s' % (name, low, high, p['min'], p['max']))
        check(default == p['own_default'], 'Shotcut: %s defaults to %s, the filter to %s' % (name, default, p['own_default']))
        check((kind == 'int') == p['whole'], 'Shotcut: %s takes whole numbers or not, as the filter' % name)
        check(close(filter_value(p, default), p['default']), 'Shotcut: %s sends another default' % name)
        shotcut_values[name] = repr(filter_value(p, default))
check(set(shotcut_values) == set(filter_params), 'Shotcut: missing %s' % sorted(set(filter_params) - set(shotcut_values)))

for editor, values in (('kdenlive', kdenlive_values), ('shotcut', shotcut_values)):
    with open('%s/%s.mlt' % (out_dir, editor), 'w') as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\n<mlt>\n  <producer id="clip">\n')
        f.write('    <property name="resource">%s</property>\n' % escape(clip))
        f.write('    <filter id="tarnix">\n      <property name="mlt_service">frei0r.tarnix</property>\n')
        for name, value in sorted(values.items()):
            f.write('      <property name="%s">%s</property>\n' % (name, value))
        f.write('    </filter>\n  </producer>\n</mlt>\n')

for p in problems:
    print(p)
sys.exit(1 if problems else 0)
