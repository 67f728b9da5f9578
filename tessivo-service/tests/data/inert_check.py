#!/usr/bin/python3
"""Parses each HTML file named on the command line the way a browser does
(html5lib) and prints every script or style element, event-handler or style
attribute and javascript: URL in it. Exits 1 when it found any."""
import re
import sys

import html5lib

# What a browser strips from a URL before it looks at the scheme.
STRIPPED = re.compile(r"[\x00-\x20]")

found = []
for path in sys.argv[1:]:
    with open(path, "rb") as f:
        tree = html5lib.parse(f.read(), treebuilder="etree", namespaceHTMLElements=False,
                              transport_encoding="utf-8")
    for element in tree.iter():
        if not isinstance(element.tag, str):
            continue  # a comment
        tag = element.tag.rsplit("}", 1)[-1].lower()
        if tag in ("script", "style"):
            found.append(f"{path}: <{tag}> element")
        for name, value in element.attrib.items():
            name = (name if isinstance(name, str) else name[-1]).rsplit("}", 1)[-1].lower()
            if name.startswith("on"):
                found.append(f"{path}: <{tag} {name}>")
            if name == "style":
                found.append(f"{path}: <{tag} style>")
            if STRIPPED.sub("", value).lower().startswith("javascript:"):
                found.append(f"{path}: <{tag} {name}={value!r}>")

print("\n".join(found))
sys.exit(1 if found else 0)
