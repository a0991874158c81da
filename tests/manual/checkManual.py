#!/usr/bin/python3
"""Checks a compiled manual: checkManual.py tonvert.CHM

Every page is reachable from the table of contents, every link and picture resolves to a file
in the CHM (a fragment to an id or name on the page), the context ids that the program opens
lead to their pages, and the index lists entries that resolve. Runs with Debian's python3,
which sees python3-chm.
"""

import posixpath
import struct
import sys
from html.parser import HTMLParser
from urllib.parse import unquote, urlsplit

from chm import chmlib

# The context ids the program opens, and the page each must show.
CONTEXTS = {1100: "mainwindow.htm", 1200: "network.htm"}


class PageParser(HTMLParser):
    """The links, pictures and anchors of a page, and the Local values of a sitemap file."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.refs = []
        self.anchors = set()
        self.locals = []
        self.names = []

    def handle_starttag(self, tag, attrs):
        values = dict(attrs)
        for key in ("id", "name"):
            if values.get(key) and tag != "param":
                self.anchors.add(values[key])
        if tag in ("a", "link", "area") and values.get("href"):
            self.refs.append(values["href"])
        if tag in ("img", "script", "frame", "iframe") and values.get("src"):
            self.refs.append(values["src"])
        if tag == "param":
            name = (values.get("name") or "").lower()
            if name == "local":
                self.locals.append(values.get("value") or "")
            elif name == "name":
                self.names.append(values.get("value") or "")


class Chm:
    def __init__(self, path):
        self.handle = chmlib.chm_open(path)
        if not self.handle:
            raise SystemExit(f"checkManual: cannot open {path}")
        self.paths = []

        def collect(_handle, unit, _context):
            self.paths.append(unit.path.decode("utf-8", "replace"))
            return chmlib.CHM_ENUMERATOR_CONTINUE

        chmlib.chm_enumerate(self.handle, chmlib.CHM_ENUMERATE_ALL, collect, None)
        self.files = {p.lower(): p for p in self.paths if p.startswith("/") and not p.endswith("/")}

    def read(self, path):
        status, unit = chmlib.chm_resolve_object(self.handle, path.encode("utf-8"))
        if status != chmlib.CHM_RESOLVE_SUCCESS:
            return None
        size, data = chmlib.chm_retrieve_object(self.handle, unit, 0, unit.length)
        return data if size == unit.length else None


def parse(data):
    parser = PageParser()
    parser.feed(data.decode("utf-8", "replace"))
    parser.close()
    return parser


def resolve(base_page, ref):
    """The CHM path a reference on `base_page` names, and its fragment; None for other schemes."""
    parts = urlsplit(ref)
    if parts.scheme or parts.netloc:
        return None
    target = base_page
    if parts.path:
        target = posixpath.normpath(posixpath.join(posixpath.dirname(base_page), unquote(parts.path)))
    return target, parts.fragment


def main():
    if len(sys.argv) != 2:
        raise SystemExit("usage: checkManual.py tonvert.CHM")
    chm = Chm(sys.argv[1])
    faults = []
    pages = sorted(p for p in chm.files.values() if p.lower().endswith((".htm", ".html")))
    parsed = {}
    for page in pages:
        data = chm.read(page)
        if data is None:
            faults.append(f"{page}: cannot be read")
            continue
        parsed[page] = parse(data)
    if not pages:
        faults.append("the CHM holds no HTML page")

    # Links and pictures, fragments included.
    for page, info in parsed.items():
        for ref in info.refs:
            target = resolve(page, ref)
            if target is None:
                continue
            path, fragment = target
            real = chm.files.get(path.lower())
            if real is None:
                faults.append(f"{page}: '{ref}' names no file in the CHM")
            elif fragment and (real not in parsed or fragment not in parsed[real].anchors):
                faults.append(f"{page}: '{ref}' names no id or name on {real}")

    # The table of contents and what its pages lead to.
    contents = [p for p in chm.files.values() if p.lower().endswith(".hhc")]
    reached = set()
    if len(contents) != 1:
        faults.append(f"expected one contents file (.hhc), found {len(contents)}")
    else:
        toc = parse(chm.read(contents[0]) or b"")
        queue = []
        for local in toc.locals:
            path, _ = resolve("/", local)
            real = chm.files.get(path.lower())
            if real is None:
                faults.append(f"contents: '{local}' names no file in the CHM")
            else:
                queue.append(real)
        while queue:
            page = queue.pop()
            if page in reached:
                continue
            reached.add(page)
            for ref in parsed.get(page, PageParser()).refs:
                target = resolve(page, ref)
                real = target and chm.files.get(target[0].lower())
                if real in parsed:
                    queue.append(real)
        for page in pages:
            if page not in reached:
                faults.append(f"{page}: not reachable from the table of contents")

    # The index: entries that lead to pages.
    indexes = [p for p in chm.files.values() if p.lower().endswith(".hhk")]
    if len(indexes) != 1:
        faults.append(f"expected one index file (.hhk), found {len(indexes)}")
    else:
        index = parse(chm.read(indexes[0]) or b"")
        if not index.locals or len(index.names) < len(index.locals):
            faults.append("the index lists no entries")
        for local in index.locals:
            path, fragment = resolve("/", local)
            real = chm.files.get(path.lower())
            if real is None:
                faults.append(f"index: '{local}' names no file in the CHM")
            elif fragment and fragment not in parsed[real].anchors:
                faults.append(f"index: '{local}' names no id or name on {real}")

    # The context map: /#IVB is a byte count, then (context id, offset into /#STRINGS) pairs;
    # /#STRINGS holds each topic's path as it was at build time, so only its tail counts.
    ivb = chm.read("/#IVB")
    strings = chm.read("/#STRINGS")
    mapped = {}
    if ivb is None or strings is None or len(ivb) < 4:
        faults.append("the CHM has no context map (/#IVB, /#STRINGS)")
    else:
        (count,) = struct.unpack_from("<I", ivb, 0)
        if count % 8 != 0 or 4 + count > len(ivb):
            faults.append(f"/#IVB: byte count {count} does not fit its {len(ivb)} bytes")
        else:
            for pos in range(4, 4 + count, 8):
                context, offset = struct.unpack_from("<II", ivb, pos)
                end = strings.find(b"\0", offset)
                mapped[context] = strings[offset:end if end >= 0 else None].decode("utf-8", "replace")
    for context, page in CONTEXTS.items():
        topic = mapped.get(context)
        if topic is None:
            faults.append(f"context {context} is not mapped")
            continue
        tail = topic.replace("\\", "/").rsplit("/", 1)[-1].lower()
        if tail != page:
            faults.append(f"context {context} leads to '{topic}', not to {page}")
        elif "/" + page not in chm.files:
            faults.append(f"context {context}: page {page} is not in the CHM")

    for fault in faults:
        print("FAIL:", fault)
    if faults:
        print(f"manual check: {len(faults)} fault(s) in {sys.argv[1]}")
        return 1
    print(f"manual check: OK ({len(pages)} pages, {len(mapped)} contexts, all links resolve)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
