#!/usr/bin/env python3
"""Compare the XML parser's trees with expat's on every .xml file under some directories.

usage: compare_xml.py --dump PATH_TO_xml_dump DIR...

Every file must parse without crashing. A file that expat reads and that keeps to the dialect
(no numeric character references but &#10;, no internal DTD subset, no processing instructions,
names of letters, digits, '_' and ':', entities only in double-quoted values, ISO-8859-1 or
declared UTF-8) must give the same elements, attributes and texts; attribute values are
compared with tab, line feed and carriage return as blanks, since XML normalises them and the
dialect keeps them. Files outside the dialect must fail with a clear message or parse; they
are counted by the feature that puts them outside. Those outside only by their names or an
internal DTD subset are compared again after renaming ('-' and '.' in names become '_') and
dropping the document type. Exit status 1 on any crash, unclear error or difference.
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.parsers.expat

NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_:]*$")
CLEAR_ERROR = re.compile(r"^(.+ \(\d+\): \S.*|Archive .+ empty|Error in archive .+)$")
NUMERIC_REFERENCE = re.compile(rb"&#(?!10;)")
SINGLE_QUOTED_ENTITY = re.compile(rb"=\s*'[^'<]*&")
DECLARED_ENCODING = re.compile(rb"^<\?xml[^>]*encoding\s*=\s*[\"']([^\"']*)")
DIALECT_ENCODINGS = {b"UTF-8", b"utf-8", b"Utf-8", b"ISO-8859-1", b"Iso-8859-1", b"iso-8859-1"}
BOMS = (b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")
RENAMABLE = {"names outside letters, digits, '_' and ':'", "internal DTD subset"}
DOCTYPE = re.compile(rb"<!DOCTYPE[^\[>]*(\[.*?\]\s*)?>\s*", re.S)
TAG = re.compile(rb"<!--.*?-->|<!\[CDATA\[.*?\]\]>|<\?.*?\?>|</?[^>]*>", re.S)
TAG_NAME = re.compile(rb"^(</?)([^\s/>]+)")
ATTRIBUTE = re.compile(rb"([^\s=/>]+)(\s*=\s*)(\"[^\"]*\"|'[^']*')")


def renamed(data):
    """The file with names made of the dialect's characters and without a document type."""
    def fix(name):
        return name.replace(b"-", b"_").replace(b".", b"_")

    def tag(match):
        text = match.group(0)
        if text.startswith((b"<!--", b"<![CDATA[", b"<?")):
            return text
        text = TAG_NAME.sub(lambda m: m.group(1) + fix(m.group(2)), text, count=1)
        return ATTRIBUTE.sub(lambda m: fix(m.group(1)) + m.group(2) + m.group(3), text)
    return TAG.sub(tag, DOCTYPE.sub(b"", data, count=1))


def escaped(text):
    return (text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")
            .replace("\r", "\\r"))


def unescaped(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                  text)


def blanks(value):
    return value.replace("\t", " ").replace("\n", " ").replace("\r", " ")


def outside_features(data):
    """The dialect features a file's raw bytes go beyond."""
    found = []
    if NUMERIC_REFERENCE.search(data):
        found.append("numeric character references")
    if SINGLE_QUOTED_ENTITY.search(data):
        found.append("entities in single-quoted values")
    if not data.startswith(BOMS):
        declared = DECLARED_ENCODING.match(data)
        if declared and declared.group(1) not in DIALECT_ENCODINGS:
            found.append("encoding " + declared.group(1).decode("latin-1"))
        elif not declared and any(b >= 0x80 for b in data):
            found.append("undeclared UTF-8")
    return found


def expat_view(data, features):
    """The line form of what expat reads, or None when it refuses the file."""
    parser = xml.parsers.expat.ParserCreate()
    parser.ordered_attributes = True
    parser.buffer_text = True
    lines, text = [], []

    def flush():
        run = "".join(text)
        text.clear()
        if run.strip(" \t\n\r\f"):
            lines.append("T " + escaped(run))

    def start(name, attributes):
        flush()
        lines.append("E " + name)
        if not NAME.match(name):
            features.add("names outside letters, digits, '_' and ':'")
        for i in range(0, len(attributes), 2):
            if not NAME.match(attributes[i]):
                features.add("names outside letters, digits, '_' and ':'")
            lines.append("A %s=%s" % (attributes[i], escaped(blanks(attributes[i + 1]))))

    def end(_name):
        flush()
        lines.append("/E")

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = text.append
    parser.ProcessingInstructionHandler = lambda *_: features.add("processing instructions")
    parser.SkippedEntityHandler = lambda *_: features.add("entities declared elsewhere")
    parser.StartDoctypeDeclHandler = (
        lambda _n, _s, _p, internal: internal and features.add("internal DTD subset"))
    try:
        parser.Parse(data, True)
    except xml.parsers.expat.ExpatError:
        return None
    return lines


def our_views(dump, paths):
    """Runs the dumper over the files; maps each path to its lines, or to "crash"."""
    result = subprocess.run([dump] + paths, capture_output=True)
    if result.returncode != 0:
        if len(paths) == 1:
            return {paths[0]: "crash"}
        views = {}
        for path in paths:
            views.update(our_views(dump, [path]))
        return views
    views, current = {}, None
    for line in result.stdout.decode("utf-8", "surrogateescape").split("\n"):
        if line.startswith("== "):
            current = line[3:]
            views[current] = []
        elif current is not None and line:
            if line.startswith("A "):
                name, _, value = line[2:].partition("=")
                line = "A %s=%s" % (name, escaped(blanks(unescaped(value))))
            views[current].append(line)
    return views


def compare(path, data, ours, counts, by_feature, failures, label=""):
    """Files a result for one file; returns the features that put it outside the dialect."""
    if ours == "crash":
        failures.append("crash: " + path)
        return set()
    error = ours[0][6:] if ours and ours[0].startswith("error ") else None
    if error is not None and not CLEAR_ERROR.match(unescaped(error)):
        failures.append("unclear error: %s: %s" % (path, error))
        return set()
    features = set(outside_features(data))
    theirs = expat_view(data, features)
    if theirs is None:
        counts["not well-formed"] += 1
    elif features:
        counts["outside the dialect"] += 1
        for feature in features:
            by_feature[feature] = by_feature.get(feature, 0) + 1
    elif error is not None or (ours and ours[0] == "unknown-entity"):
        failures.append("refused%s: %s: %s" % (label, path, error or "unknown entity"))
    elif ours != theirs:
        first = next(i for i, pair in enumerate(zip(ours + [""], theirs + [""])) if pair[0] != pair[1])
        failures.append("differs%s: %s: line %d: ours %r, expat %r" % (
            label, path, first, (ours + [""])[first], (theirs + [""])[first]))
    else:
        counts["equal" + label] += 1
    return features if theirs is not None else set()


def main(argv):
    if len(argv) < 3 or argv[1] != "--dump":
        sys.exit(__doc__.strip())
    dump, directories = argv[2], argv[3:]
    paths = sorted(os.path.join(top, name)
                   for directory in directories if os.path.isdir(directory)
                   for top, _, names in os.walk(directory)
                   for name in names if name.endswith(".xml") and os.path.isfile(os.path.join(top, name)))
    views = {}
    for start in range(0, len(paths), 100):
        views.update(our_views(dump, paths[start:start + 100]))

    counts = {"equal": 0, "not well-formed": 0, "outside the dialect": 0, "equal after renaming": 0}
    by_feature, failures, renamable = {}, [], {}
    for path in paths:
        with open(path, "rb") as file:
            data = file.read()
        features = compare(path, data, views.get(path, "crash"), counts, by_feature, failures)
        if features and features <= RENAMABLE:
            renamable[path] = renamed(data)

    with tempfile.TemporaryDirectory() as scratch:
        copies = {}
        for i, (path, data) in enumerate(sorted(renamable.items())):
            copy = os.path.join(scratch, "%d.xml" % i)
            with open(copy, "wb") as file:
                file.write(data)
            copies[copy] = path
        views = {}
        names = sorted(copies)
        for start in range(0, len(names), 100):
            views.update(our_views(dump, names[start:start + 100]))
        again = {"equal after renaming": 0, "not well-formed": 0, "outside the dialect": 0}
        for copy, path in copies.items():
            lines = views.get(copy, "crash")
            if lines != "crash":
                lines = [line.replace(copy, path) for line in lines]
            compare(path, renamable[path], lines, again, {}, failures, " after renaming")
        counts["equal after renaming"] = again["equal after renaming"]
        counts["still outside after renaming"] = again["outside the dialect"] + again["not well-formed"]

    print("%d files under %s" % (len(paths), " ".join(directories)))
    for name, count in counts.items():
        print("  %-28s %d" % (name, count))
    for feature, count in sorted(by_feature.items()):
        print("    %-44s %d" % (feature, count))
    for failure in failures:
        print("  FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
