// Drives the preview page. The application calls window.__setContent with
// the rendered HTML of the open document; once the page shows some, later
// changes may come as window.__patchContent, the changed part alone.
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
  var TABLE_START = /^<table[\t\n\f\r \/>]/i;
  var TAG = /<(\/?)([a-zA-Z][^\t\n\f\r \/>]*)(?:[^>"'=]|=[\t\n\f\r ]*"[^"]*"|=[\t\n\f\r ]*'[^']*'|=)*>/y;

  // The offsets in `text` where blocks start (0 first), whether the parser
  // holds nothing open at its end, and where the scan gave up (-1 if not).
  function scanBlocks(text) {
    var starts = [0];
    var open = [];
    var at = 0;
    // Where the text since the last tag or comment begins.
    var after = 0;
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
          after = close;
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
          if (open.length === 0 && name === 'table') {
            // Text a table holds is placed before it, where it joins the
            // text before the table: the two parse together.
            if (after > starts[starts.length - 1]) {
              starts.push(after);
            }
          } else if (open.length === 0 && at > 0) {
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
        after = end;
        continue;
      }
      at += 1;
    }
  }

  // How a long document is laid out. Every top-level block of the content
  // stays a child of #content, as one parse of the fragment makes it; what
  // is drawn is a shadow tree that takes them in groups of a few dozen, each
  // group skipped while it is off screen (content-visibility). An update then
  // lays out, paints and watches the group it touches and not every block of
  // the document: with the blocks side by side under one parent, the engine
  // visits them all on each frame, which grows with the document.
  //
  // A group cuts only between two plain blocks, so no line, float or run of
  // inline content is split. A group boundary stops the margins of the
  // blocks on either side from collapsing, so the later group takes back the
  // difference with a margin of its own, and the blocks sit where they would
  // sit side by side.
  var layoutGroups = (function () {
    var GROUP_NODES = 48;
    var PLAIN_BLOCK = /^(P|H[1-6]|UL|OL|PRE|BLOCKQUOTE|TABLE|HR|DL|SECTION)$/;
    var root = null;
    var groups = [];
    var groupOf = new WeakMap();

    function isPlainBlock(node) {
      return !!node && node.nodeType === Node.ELEMENT_NODE && PLAIN_BLOCK.test(node.tagName) &&
             !node.hasAttribute('style') && !node.hasAttribute('align');
    }

    function isBlank(node) {
      return node.nodeType === Node.COMMENT_NODE ||
             (node.nodeType === Node.TEXT_NODE && !/[^\t\n\f\r ]/.test(node.data));
    }

    function isDrawn(node) {
      return node.nodeType === Node.ELEMENT_NODE || node.nodeType === Node.TEXT_NODE;
    }

    function lastBlock(nodes, end) {
      for (var i = end - 1; i >= 0; i--) {
        if (!isBlank(nodes[i])) {
          return isPlainBlock(nodes[i]) ? nodes[i] : null;
        }
      }
      return null;
    }

    // Whether a group may end before nodes[at].
    function canCut(nodes, at) {
      return isPlainBlock(nodes[at]) && lastBlock(nodes, at) !== null;
    }

    function makeGroup(nodes) {
      var box = document.createElement('div');
      box.className = 'group';
      var slot = document.createElement('slot');
      box.appendChild(slot);
      var group = { box: box, slot: slot, nodes: nodes };
      for (var i = 0; i < nodes.length; i++) {
        groupOf.set(nodes[i], group);
      }
      return group;
    }

    function start(content) {
      root = content.attachShadow({ mode: 'open', slotAssignment: 'manual' });
      var style = document.createElement('style');
      style.textContent = '.group { display: block; content-visibility: auto; }';
      root.appendChild(style);
    }

    // The margins of a plain block, read from a sample of its kind in a
    // hidden copy of the content's container: asking a block of the content
    // itself would bring it to life in a group that is skipped.
    var samples = null;
    var margins = new Map();

    function marginsOf(block) {
      var key = block.tagName + ' ' + block.className;
      var known = margins.get(key);
      if (known === undefined) {
        if (!samples) {
          samples = document.createElement('div');
          samples.className = 'markdown-body';
          samples.hidden = true;
          samples.setAttribute('aria-hidden', 'true');
          document.body.appendChild(samples);
        }
        var sample = document.createElement(block.tagName);
        sample.className = block.className;
        // Not the first child, whose top margin the style sheet drops.
        samples.appendChild(document.createElement('div'));
        samples.appendChild(sample);
        var style = getComputedStyle(sample);
        known = { top: pixels(style.marginTop), bottom: pixels(style.marginBottom) };
        samples.textContent = '';
        margins.set(key, known);
      }
      return known;
    }

    function pixels(value) {
      var number = parseFloat(value);
      return isFinite(number) ? number : 0;
    }

    // The margin that makes the gap between the groups at index-1 and index
    // what the two blocks around it would leave side by side.
    function fitMargin(index) {
      var group = groups[index];
      var margin = 0;
      var previous = index > 0 ? groups[index - 1] : null;
      var end = previous ? lastBlock(previous.nodes, previous.nodes.length) : null;
      if (end && isPlainBlock(group.nodes[0])) {
        var below = marginsOf(end).bottom;
        var above = marginsOf(group.nodes[0]).top;
        var collapsed = Math.max(below, above, 0) + Math.min(below, above, 0);
        margin = collapsed - below - above;
      }
      group.box.style.marginTop = margin ? margin + 'px' : '';
      var blocks = 0;
      for (var i = 0; i < group.nodes.length; i++) {
        blocks += group.nodes[i].nodeType === Node.ELEMENT_NODE ? 1 : 0;
      }
      // Until a group has been drawn once, its height is a guess.
      group.box.style.containIntrinsicSize = 'auto ' + Math.max(blocks, 1) * 4 + 'em';
    }

    // Groups from index on, as far as they changed: merged where a cut
    // became unsafe, split where they grew, then assigned and fitted.
    function settle(index) {
      var group = groups[index];
      if (group.nodes.length === 0) {
        group.box.remove();
        groups.splice(index, 1);
        // The groups either side now meet.
        return index < groups.length ? settle(index) : index;
      }
      while (index > 0 && !canCut(groups[index - 1].nodes.concat(group.nodes), groups[index - 1].nodes.length)) {
        var previous = groups[index - 1];
        previous.nodes = previous.nodes.concat(group.nodes);
        for (var p = 0; p < group.nodes.length; p++) {
          groupOf.set(group.nodes[p], previous);
        }
        group.box.remove();
        groups.splice(index, 1);
        index -= 1;
        group = previous;
      }
      while (index + 1 < groups.length &&
             !canCut(group.nodes.concat(groups[index + 1].nodes), group.nodes.length)) {
        var next = groups[index + 1];
        group.nodes = group.nodes.concat(next.nodes);
        for (var q = 0; q < next.nodes.length; q++) {
          groupOf.set(next.nodes[q], group);
        }
        next.box.remove();
        groups.splice(index + 1, 1);
      }
      var pieces = [];
      var begin = 0;
      for (var at = GROUP_NODES; at < group.nodes.length - GROUP_NODES / 2; at++) {
        if (at - begin >= GROUP_NODES && canCut(group.nodes, at)) {
          pieces.push(group.nodes.slice(begin, at));
          begin = at;
        }
      }
      if (begin > 0) {
        pieces.push(group.nodes.slice(begin));
        group.nodes = pieces[0];
        var after = group.box.nextSibling;
        for (var k = 1; k < pieces.length; k++) {
          var piece = makeGroup(pieces[k]);
          root.insertBefore(piece.box, after);
          groups.splice(index + k, 0, piece);
        }
      }
      var count = Math.max(pieces.length, 1);
      for (var m = index; m < index + count; m++) {
        // Comments are never drawn, nor can they be assigned to a slot.
        groups[m].slot.assign.apply(groups[m].slot, groups[m].nodes.filter(isDrawn));
        fitMargin(m);
      }
      if (index + count < groups.length) {
        fitMargin(index + count);
      }
      return index + count;
    }

    // `removed` left #content and `inserted` joined it, before `before`
    // (at the end when null).
    function replace(content, removed, inserted, before) {
      if (!root) {
        start(content);
      }
      var touched = [];
      for (var i = 0; i < removed.length; i++) {
        var from = groupOf.get(removed[i]);
        from.nodes.splice(from.nodes.indexOf(removed[i]), 1);
        groupOf.delete(removed[i]);
        if (touched.indexOf(from) < 0) {
          touched.push(from);
        }
      }
      if (inserted.length) {
        var into = before ? groupOf.get(before) : groups[groups.length - 1];
        if (!into) {
          into = makeGroup([]);
          root.appendChild(into.box);
          groups.push(into);
        }
        var at = before ? into.nodes.indexOf(before) : into.nodes.length;
        into.nodes = into.nodes.slice(0, at).concat(inserted, into.nodes.slice(at));
        for (var j = 0; j < inserted.length; j++) {
          groupOf.set(inserted[j], into);
        }
        if (touched.indexOf(into) < 0) {
          touched.push(into);
        }
      }
      // Settled in document order; a group merged into an earlier one is
      // settled with it.
      touched.sort(function (a, b) {
        return groups.indexOf(a) - groups.indexOf(b);
      });
      for (var t = 0; t < touched.length; t++) {
        var index = groups.indexOf(touched[t]);
        if (index >= 0) {
          settle(index);
        }
      }
    }

    // The first element of the content whose box reaches below `y` (in the
    // viewport), or null. The groups are stacked in order, so a halving over
    // their boxes finds the one to look in without touching the rest.
    function elementBelow(y) {
      var low = 0;
      var high = groups.length;
      while (low < high) {
        var middle = (low + high) >> 1;
        if (groups[middle].box.getBoundingClientRect().bottom > y) {
          high = middle;
        } else {
          low = middle + 1;
        }
      }
      for (var g = low; g < groups.length; g++) {
        var nodes = groups[g].nodes;
        for (var i = 0; i < nodes.length; i++) {
          if (nodes[i].nodeType === Node.ELEMENT_NODE && nodes[i].getBoundingClientRect().bottom > y) {
            return nodes[i];
          }
        }
      }
      return null;
    }

    return { replace: replace, elementBelow: elementBelow };
  })();

  // Where the reader is. Groups off screen carry estimated heights, which
  // turn real as they come into view, a frame or more after a scroll or an
  // update brought them there; every such change would move the content
  // under the reader. A place is held instead: the end of the page, or an
  // element at a given distance from the top of the view, restored after the
  // change and on each frame until the layout stays put. The reader's own
  // scrolling lets go of it.
  var reading = (function () {
    var held = null;
    var frame = 0;
    var frames = 0;
    var still = 0;

    function scroller() {
      return document.scrollingElement || document.documentElement;
    }

    function atEnd() {
      var s = scroller();
      return s.scrollTop > 0 && s.scrollTop + s.clientHeight >= s.scrollHeight - 1;
    }

    // The place shown now: the end, the first element in view, or null.
    function current() {
      if (atEnd()) {
        return { end: true };
      }
      var node = layoutGroups.elementBelow(0);
      return node ? { node: node, top: node.getBoundingClientRect().top } : null;
    }

    function restore() {
      var s = scroller();
      if (held.end) {
        s.scrollTop = s.scrollHeight;
      } else if (held.node.isConnected) {
        var shift = held.node.getBoundingClientRect().top - held.top;
        if (Math.abs(shift) >= 0.5) {
          window.scrollBy(0, shift);
        }
      } else {
        held = null;
      }
    }

    function settle() {
      frame = 0;
      if (!held) {
        return;
      }
      var before = scroller().scrollTop;
      restore();
      still = scroller().scrollTop === before ? still + 1 : 0;
      frames += 1;
      // A few frames without a move: every group in view has its height.
      if (held && still < 3 && frames < 120) {
        frame = requestAnimationFrame(settle);
      } else {
        held = null;
      }
    }

    function hold(place) {
      held = place;
      frames = 0;
      still = 0;
      if (held) {
        restore();
        if (held && !frame) {
          frame = requestAnimationFrame(settle);
        }
      }
    }

    function letGo() {
      held = null;
    }

    function isEditable(node) {
      return !!node && node.nodeType === Node.ELEMENT_NODE &&
             (node.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(node.tagName));
    }

    // The page's own keys scroll by the heights at hand: End stops wherever
    // the estimates put the end. These go to a place and hold it.
    function onKey(event) {
      if (event.defaultPrevented || event.altKey || event.metaKey || event.shiftKey ||
          isEditable(event.target)) {
        letGo();
        return;
      }
      var s = scroller();
      var page = Math.max(s.clientHeight * 0.875, 1);
      var first = null;
      switch (event.key) {
      case 'Home':
        letGo();
        s.scrollTop = 0;
        break;
      case 'End':
        s.scrollTop = s.scrollHeight;
        hold({ end: true });
        break;
      case 'PageDown':
      case 'PageUp':
        if (event.ctrlKey) {
          letGo();
          return;
        }
        // What is at the top now moves up or down by one page.
        first = layoutGroups.elementBelow(0);
        if (!first) {
          letGo();
          return;
        }
        first = { node: first, top: first.getBoundingClientRect().top + (event.key === 'PageDown' ? -page : page) };
        hold(first);
        break;
      default:
        letGo();
        return;
      }
      event.preventDefault();
    }

    // A link to a place in the page, found as the engine would find it.
    function linkTarget(link) {
      var url = new URL(link.href, document.baseURI);
      var here = new URL(document.baseURI);
      if (url.hash.length < 2 || url.origin !== here.origin || url.pathname !== here.pathname ||
          url.search !== here.search) {
        return null;
      }
      var id = url.hash.substring(1);
      try {
        id = decodeURIComponent(id);
      } catch (error) {
        // Kept as written.
      }
      return document.getElementById(id) || document.getElementsByName(id)[0] || null;
    }

    function reveal(target) {
      if (!target) {
        return;
      }
      target.scrollIntoView({ block: 'start' });
      hold({ node: target, top: 0 });
    }

    function onClick(event) {
      if (event.defaultPrevented || event.button !== 0 || event.ctrlKey || event.shiftKey ||
          event.altKey || event.metaKey) {
        return;
      }
      var link = event.target.closest ? event.target.closest('a[href]') : null;
      if (!link || (link.target && link.target !== '_self')) {
        return;
      }
      var target = linkTarget(link);
      if (target) {
        event.preventDefault();
        reveal(target);
      }
    }

    window.addEventListener('keydown', onKey, true);
    document.addEventListener('click', onClick);
    ['wheel', 'mousedown', 'touchstart'].forEach(function (type) {
      window.addEventListener(type, letGo, { capture: true, passive: true });
    });

    return { current: current, hold: hold, reveal: reveal };
  })();

  // Scrolls to the element of the page with this id (a link to it opened
  // as a new window) and keeps it there while the layout settles.
  window.__reveal = function (id) {
    var target = document.getElementById(String(id));
    reading.reveal(target);
  };

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

  // The nodes one parse of a whole fragment gives, defused and typeset: what
  // the page must hold after any run of updates. Read by the page's checks.
  window.__parseWhole = function (html) {
    return parseBlock(String(html));
  };

  // Whether the nodes `fresh` differ from `shown` only within elements (the
  // same kinds of node, and elements with the same name and attributes).
  function sameShape(shown, fresh) {
    if (shown.length !== fresh.length) {
      return false;
    }
    for (var i = 0; i < shown.length; i++) {
      var a = shown[i];
      var b = fresh[i];
      if (a.nodeType !== b.nodeType) {
        return false;
      }
      if (a.nodeType === Node.ELEMENT_NODE) {
        if (a.namespaceURI !== b.namespaceURI || a.tagName !== b.tagName ||
            a.attributes.length !== b.attributes.length) {
          return false;
        }
        for (var k = 0; k < b.attributes.length; k++) {
          if (a.getAttribute(b.attributes[k].name) !== b.attributes[k].value) {
            return false;
          }
        }
      }
    }
    return true;
  }

  // Gives the node `shown` the content of `fresh`, of the same shape.
  function takeContent(shown, fresh) {
    if (shown.nodeType !== Node.ELEMENT_NODE) {
      if (shown.data !== fresh.data) {
        shown.data = fresh.data;
      }
      return;
    }
    var children = document.createDocumentFragment();
    while (fresh.firstChild) {
      children.appendChild(fresh.firstChild);
    }
    shown.replaceChildren(children);
  }

  // Shows `html`, whose first `prefix` and last `suffix` characters are those
  // of the fragment shown.
  function show(html, prefix, suffix, fromTop) {
    var content = document.getElementById('content');
    // An edit keeps the reader's place; content that is mostly new is not
    // held to a place in the old one, and another document starts at its
    // top.
    var place = !fromTop && prefix + suffix >= html.length / 2 ? reading.current() : null;

    // The changed blocks: from the one holding the first changed character
    // (or the character before it, so that text typed right before a block
    // joins the text ending the block before) to the first block that starts
    // within the unchanged end.
    var first = blockAt(Math.max(prefix - 1, 0));
    if (first > 0 && TABLE_START.test(html.substr(blockStarts[first], 7))) {
      first -= 1;
    }
    var from = blockStarts[first];
    var last = blockAt(shownHtml.length - suffix);
    if (blockStarts[last] < shownHtml.length - suffix || last <= first) {
      last += 1;
    }
    var shift = html.length - shownHtml.length;
    // A table that starts a block needs the text before it in its block
    // (see scanBlocks), which the edit may have changed: the block before
    // a changed table and the table after a change are parsed again.
    while (last < blockStarts.length && TABLE_START.test(shownHtml.substr(blockStarts[last], 7))) {
      last += 1;
    }
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
    var starts = [];
    var nodes = [];
    for (var j = 0; j < scan.starts.length; j++) {
      var start = from + scan.starts[j];
      var end = j + 1 < scan.starts.length ? from + scan.starts[j + 1] : to;
      starts.push(start);
      nodes.push(parseBlock(html.substring(start, end)));
    }
    if (last - first === 1 && nodes.length === 1 && sameShape(blockNodes[first], nodes[0])) {
      // Typing within one block: its nodes take the new content in place,
      // and the content's list of blocks, which the groups draw, stays.
      for (var c = 0; c < nodes[0].length; c++) {
        takeContent(blockNodes[first][c], nodes[0][c]);
      }
      nodes[0] = blockNodes[first];
    } else {
      var removed = [];
      for (var i = first; i < last; i++) {
        for (var n = 0; n < blockNodes[i].length; n++) {
          blockNodes[i][n].remove();
          removed.push(blockNodes[i][n]);
        }
      }
      var inserted = [];
      var fragment = document.createDocumentFragment();
      for (var p = 0; p < nodes.length; p++) {
        for (var m = 0; m < nodes[p].length; m++) {
          fragment.appendChild(nodes[p][m]);
          inserted.push(nodes[p][m]);
        }
      }
      content.insertBefore(fragment, before);
      layoutGroups.replace(content, removed, inserted, before);
      if (place && place.node && !place.node.isConnected) {
        // The block in view was replaced: what took its place stays there.
        place.node = inserted.filter(function (node) {
          return node.nodeType === Node.ELEMENT_NODE;
        })[0] || (before && before.nodeType === Node.ELEMENT_NODE ? before : null);
        if (!place.node) {
          place = null;
        }
      }
    }

    var later = blockStarts.slice(last);
    for (var s = 0; s < later.length; s++) {
      later[s] += shift;
    }
    blockStarts = blockStarts.slice(0, first).concat(starts, later);
    blockNodes = blockNodes.slice(0, first).concat(nodes, blockNodes.slice(last));
    shownHtml = html;
    reading.hold(place);
    if (fromTop) {
      (document.scrollingElement || document.documentElement).scrollTop = 0;
    }
  }

  // With `fromTop`, the content is another document's, shown from its top.
  window.__setContent = function (value, fromTop) {
    var html = String(value);
    // Changes sent as patches apply to this content only once the
    // application says which version it is.
    window.__contentVersion = undefined;
    var prefix = commonPrefix(shownHtml, html);
    show(html, prefix, commonSuffix(shownHtml, html, Math.min(shownHtml.length, html.length) - prefix),
         fromTop === true);
  };

  // The fragment of version `base` with `removed` characters at `from`
  // replaced by `inserted` becomes version `version`. Handing the whole
  // fragment of a long document to the page on every keystroke costs more
  // than the page's own work: only the change travels. False, with nothing
  // changed, when the page does not show version `base`.
  window.__patchContent = function (base, version, from, removed, inserted) {
    if (window.__contentVersion === undefined || window.__contentVersion !== base ||
        from < 0 || removed < 0 || from + removed > shownHtml.length) {
      return false;
    }
    window.__contentVersion = undefined;
    var html = shownHtml.substring(0, from) + String(inserted) + shownHtml.substring(from + removed);
    show(html, from, shownHtml.length - from - removed);
    window.__contentVersion = version;
    return true;
  };
})();
