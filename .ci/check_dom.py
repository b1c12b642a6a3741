"""Checks a merged page as the browser built it (its DOM, from --dump-dom)
against the template and the page it came from.

  python3 check_dom.py TEMPLATE PAGE DOM
"""

import sys
from html.parser import HTMLParser


class Page(HTMLParser):
    """The title, the body's attributes, the first h1 and the body's text."""

    def __init__(self, text):
        super().__init__()
        self.title = ""
        self.body_attrs = None
        self.heading = ""
        self.text = []
        self._in = []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        if tag == "body" and self.body_attrs is None:
            self.body_attrs = dict(attrs)
        self._in.append(tag)

    def handle_endtag(self, tag):
        if tag in self._in:
            while self._in.pop() != tag:
                pass

    def handle_data(self, data):
        if "title" in self._in:
            self.title += data
        elif "body" in self._in:
            words = " ".join(data.split())
            if words:
                self.text.append(words)
            if "h1" in self._in and not self.heading:
                self.heading = words


def main():
    with open(sys.argv[1]) as f:
        template = f.read()
    with open(sys.argv[2]) as f:
        page = Page(f.read())
    with open(sys.argv[3]) as f:
        dom = Page(f.read())
    frame = template.split("####")
    head, foot = Page(frame[0]), Page("<body>" + frame[1])
    checks = [
        ("title", dom.title, page.title),
        ("body attributes", dom.body_attrs, Page(template).body_attrs),
    ]
    body = " ".join(dom.text)
    want = [head.heading] + page.text + [foot.text[0]]
    at = 0
    for piece in want:
        found = body.find(piece, at)
        checks.append(("body holds, in order: %r" % piece, found >= 0, True))
        at = max(at, found)
    failed = [c for c in checks if c[1] != c[2]]
    for name, got, expected in failed:
        print("%s: %s: got %r, expected %r" % (sys.argv[2], name, got, expected))
    if failed:
        sys.exit(1)
    print("%s: title %r, body %r, frame and content in order"
          % (sys.argv[2].split("/")[-1], dom.title, dom.body_attrs))


if __name__ == "__main__":
    main()
