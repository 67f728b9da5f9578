// Drives the preview page. The application calls window.__setContent with
// the rendered HTML of the open document each time it changes.
(function () {
  'use strict';

  // Elements that would run code, load a page or change how links resolve.
  var DROPPED_ELEMENTS = 'script, base, meta, link, iframe, frame, frameset, object, embed';
  var URL_ATTRIBUTES = ['href', 'src', 'action', 'formaction', 'xlink:href', 'data', 'poster', 'srcdoc'];
  var UNSAFE_URL = /^\s*(javascript|vbscript|data\s*:\s*text\/html)\s*:?/i;

  // Raw HTML in a document is kept, but nothing in it may run: scripts and
  // handlers are removed here, and the page's security policy refuses them
  // should anything slip through. Returns false when `node` itself goes.
  function defuseAttributes(element) {
    var attributes = Array.prototype.slice.call(element.attributes);
    for (var k = 0; k < attributes.length; k++) {
      var name = attributes[k].name.toLowerCase();
      if (name.indexOf('on') === 0 ||
          (URL_ATTRIBUTES.indexOf(name) >= 0 && UNSAFE_URL.test(attributes[k].value))) {
        element.removeAttribute(attributes[k].name);
      }
    }
  }

  function defuse(node) {
    if (node.nodeType !== Node.ELEMENT_NODE) {
      return true;
    }
    if (node.matches(DROPPED_ELEMENTS)) {
      return false;
    }
    var dropped = node.querySelectorAll(DROPPED_ELEMENTS);
    for (var i = 0; i < dropped.length; i++) {
      dropped[i].remove();
    }
    defuseAttributes(node);
    var all = node.querySelectorAll('*');
    for (var j = 0; j < all.length; j++) {
      defuseAttributes(all[j]);
    }
    return true;
  }

  // Typesetting the same formula again on every keystroke would dominate
  // long documents; the markup of each formula is kept instead.
  var mathCache = new Map();
  var MATH_CACHE_LIMIT = 2000;

  function mathMarkup(tex, display) {
    var key = (display ? 'D' : 'I') + tex;
    var markup = mathCache.get(key);
    if (markup === undefined) {
      try {
        markup = window.katex.renderToString(tex, {
          displayMode: display,
          throwOnError: false,
          strict: 'ignore',
          trust: false,
          output: 'htmlAndMathml'
        });
      } catch (error) {
        markup = null;
      }
      if (mathCache.size >= MATH_CACHE_LIMIT) {
        mathCache.clear();
      }
      mathCache.set(key, markup);
    }
    return markup;
  }

  function typesetSpan(span) {
    var display = span.getAttribute('data-display') === '1';
    span.classList.add(display ? 'math-display' : 'math-inline');
    if (!window.katex) {
      return;
    }
    var markup = mathMarkup(span.textContent, display);
    if (markup === null) {
      span.classList.add('math-error');
    } else {
      span.innerHTML = markup;
    }
  }

  function typeset(node) {
    if (node.nodeType !== Node.ELEMENT_NODE) {
      return;
    }
    if (node.matches('span.math')) {
      typesetSpan(node);
      return;
    }
    var spans = node.querySelectorAll('span.math');
    for (var i = 0; i < spans.length; i++) {
      typesetSpan(spans[i]);
    }
  }

  // A keystroke in a long document changes one or two top-level blocks, and
  // parsing the whole fragment again would dominate. The fragment is cut into
  // blocks by a scan of its tags, at points where the parser holds nothing
  // open: parsing the blocks one by one then gives the nodes a single parse
  // gives. Each update compares the new fragment with the last as strings,
  // and parses and replaces only the blocks that differ. A construct the scan
  // cannot vouch for ends the cutting: the rest of the fragment is one block.
  var VOID_ELEMENTS = /^(area|base|br|col|embed|hr|img|input|keygen|link|meta|param|source|track|wbr)$/;
  var RAW_TEXT_ELEMENTS = /^(script|style|xmp|iframe|noembed|noframes|textarea|title)$/;
  // Elements that switch the parser into another mode, so that what follows
  // them may parse differently; table parts do so outside a table.
  var MODE_ELEMENTS = /^(html|head|body|frameset|frame|template|noscript|plaintext|svg|math)$/;
  var TABLE_PARTS = /^(caption|colgroup|col|tbody|thead|tfoot|tr|td|th)$/;
  var TAG = /<(\/?)([a-zA-Z][^\t\n\f\r \/>]*)(?:[^>"'=]|=[\t\n\f\r ]*"[^"]*"|=[\t\n\f\r ]*'[^']*'|=)*>/y;

  // The offsets in `text` where blocks start (0 first), whether the parser
  // holds nothing open at its end, and where the scan gave up (-1 if not).
  function scanBlocks(text) {
    var starts = [0];
    var open = [];
    var at = 0;
    for (;;) {
      at = text.indexOf('<', at);
      if (at < 0) {
        return { starts: starts, closed: open.length === 0, stop: -1 };
      }
      var next = text.charAt(at + 1);
      if (next === '!') {
        if (text.startsWith('<!--', at)) {
          if (open.length === 0 && at > 0) {
            starts.push(at);
          }
          var close = text.startsWith('<!-->', at) ? at + 5 : text.startsWith('<!--->', at) ? at + 6
                                                                                          : text.indexOf('-->', at + 4) + 3;
          if (close < 3 || text.substring(at + 4, close).indexOf('--!>') >= 0) {
            return { starts: starts, closed: false, stop: at };
          }
          at = close;
          continue;
        }
        return { starts: starts, closed: false, stop: at };
      }
      if (next === '?') {
        return { starts: starts, closed: false, stop: at };
      }
      if (next === '/' || /[a-zA-Z]/.test(next)) {
        TAG.lastIndex = at;
        var tag = TAG.exec(text);
        if (!tag) {
          return { starts: starts, closed: false, stop: at };
        }
        var name = tag[2].toLowerCase();
        if (MODE_ELEMENTS.test(name) || (open.length === 0 && TABLE_PARTS.test(name))) {
          return { starts: starts, closed: false, stop: at };
        }
        var end = at + tag[0].length;
        if (tag[1]) {
          if (open.length === 0 || open[open.length - 1] !== name) {
            return { starts: starts, closed: false, stop: at };
          }
          open.pop();
        } else {
          if (open.length === 0 && at > 0) {
            starts.push(at);
          }
          if (RAW_TEXT_ELEMENTS.test(name)) {
            var closing = new RegExp('</' + name + '[\\t\\n\\f\\r />]', 'ig');
            closing.lastIndex = end;
            // A script's "<!--" changes where the script ends.
            if (!closing.exec(text) ||
                (name === 'script' && text.substring(end, closing.lastIndex).indexOf('<!--') >= 0)) {
              return { starts: starts, closed: false, stop: at };
            }
            open.push(name);
            end = closing.lastIndex - 1 - name.length - 2;
          } else if (!VOID_ELEMENTS.test(name)) {
            open.push(name);
          }
        }
        at = end;
        continue;
      }
      at += 1;
    }
  }

  // The fragment shown, where its blocks start, and the live nodes of each.
  var shownHtml = '';
  var blockStarts = [0];
  var blockNodes = [[]];

  function commonPrefix(a, b) {
    var limit = Math.min(a.length, b.length);
    var length = 0;
    for (var step = 1 << 16; step >= 1; step >>= 4) {
      while (length + step <= limit && a.substr(length, step) === b.substr(length, step)) {
        length += step;
      }
    }
    return length;
  }

  function commonSuffix(a, b, limit) {
    var length = 0;
    for (var step = 1 << 16; step >= 1; step >>= 4) {
      while (length + step <= limit &&
             a.substr(a.length - length - step, step) === b.substr(b.length - length - step, step)) {
        length += step;
      }
    }
    return length;
  }

  // The last block starting at or before `offset`.
  function blockAt(offset) {
    var low = 0;
    var high = blockStarts.length - 1;
    while (low < high) {
      var middle = (low + high + 1) >> 1;
      if (blockStarts[middle] <= offset) {
        low = middle;
      } else {
        high = middle - 1;
      }
    }
    return low;
  }

  function parseBlock(html) {
    // A template parses without running or loading anything.
    var template = document.createElement('template');
    template.innerHTML = html;
    var nodes = [];
    var incoming = Array.prototype.slice.call(template.content.childNodes);
    for (var i = 0; i < incoming.length; i++) {
      if (defuse(incoming[i])) {
        typeset(incoming[i]);
        nodes.push(incoming[i]);
      }
    }
    return nodes;
  }

  window.__setContent = function (value) {
    var html = String(value);
    var content = document.getElementById('content');
    var prefix = commonPrefix(shownHtml, html);
    var suffix = commonSuffix(shownHtml, html, Math.min(shownHtml.length, html.length) - prefix);

    // The changed blocks: from the one holding the first changed character
    // (or the character before it, so that text typed right before a block
    // joins the text ending the block before) to the first block that starts
    // within the unchanged end.
    var first = blockAt(Math.max(prefix - 1, 0));
    var from = blockStarts[first];
    var last = blockAt(shownHtml.length - suffix);
    if (blockStarts[last] < shownHtml.length - suffix || last <= first) {
      last += 1;
    }
    var shift = html.length - shownHtml.length;
    var to = last < blockStarts.length ? blockStarts[last] + shift : html.length;
    var scan = scanBlocks(html.substring(from, to));
    if (scan.stop === 0 && first > 0) {
      // What cannot start a block joins the one before, as in a fresh page.
      first -= 1;
      from = blockStarts[first];
      scan = scanBlocks(html.substring(from, to));
    }
    if (!scan.closed && to < html.length) {
      // The edit leaves something open: everything after it may parse anew.
      last = blockStarts.length;
      to = html.length;
      scan = scanBlocks(html.substring(from, to));
    }

    var before = null;
    for (var k = last; k < blockNodes.length && !before; k++) {
      before = blockNodes[k].length ? blockNodes[k][0] : null;
    }
    for (var i = first; i < last; i++) {
      for (var n = 0; n < blockNodes[i].length; n++) {
        blockNodes[i][n].remove();
      }
    }
    var starts = [];
    var nodes = [];
    var fragment = document.createDocumentFragment();
    for (var j = 0; j < scan.starts.length; j++) {
      var start = from + scan.starts[j];
      var end = j + 1 < scan.starts.length ? from + scan.starts[j + 1] : to;
      var parsed = parseBlock(html.substring(start, end));
      for (var m = 0; m < parsed.length; m++) {
        fragment.appendChild(parsed[m]);
      }
      starts.push(start);
      nodes.push(parsed);
    }
    content.insertBefore(fragment, before);

    var later = blockStarts.slice(last);
    for (var s = 0; s < later.length; s++) {
      later[s] += shift;
    }
    blockStarts = blockStarts.slice(0, first).concat(starts, later);
    blockNodes = blockNodes.slice(0, first).concat(nodes, blockNodes.slice(last));
    shownHtml = html;
  };
})();
