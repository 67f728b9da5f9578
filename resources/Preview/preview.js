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

  // The top-level nodes shown, each with an untouched copy of what the
  // application sent for it. A keystroke in a long document changes one or
  // two blocks: only those are replaced, so the page does not parse math,
  // clean and lay out the whole document again.
  var shown = [];

  function firstLiveNode(from) {
    for (var i = from; i < shown.length; i++) {
      if (shown[i].live) {
        return shown[i].live;
      }
    }
    return null;
  }

  window.__setContent = function (html) {
    var content = document.getElementById('content');
    // A template parses without running or loading anything.
    var template = document.createElement('template');
    template.innerHTML = String(html);
    var incoming = Array.prototype.slice.call(template.content.childNodes);

    var prefix = 0;
    while (prefix < incoming.length && prefix < shown.length &&
           incoming[prefix].isEqualNode(shown[prefix].sent)) {
      prefix++;
    }
    var suffix = 0;
    while (suffix < incoming.length - prefix && suffix < shown.length - prefix &&
           incoming[incoming.length - 1 - suffix].isEqualNode(shown[shown.length - 1 - suffix].sent)) {
      suffix++;
    }

    var before = firstLiveNode(shown.length - suffix);
    for (var i = prefix; i < shown.length - suffix; i++) {
      if (shown[i].live) {
        shown[i].live.remove();
      }
    }
    var fresh = [];
    var fragment = document.createDocumentFragment();
    for (var j = prefix; j < incoming.length - suffix; j++) {
      var node = incoming[j];
      var sent = node.cloneNode(true);
      var live = defuse(node) ? node : null;
      if (live) {
        typeset(live);
        fragment.appendChild(live);
      }
      fresh.push({ sent: sent, live: live });
    }
    content.insertBefore(fragment, before);
    shown = shown.slice(0, prefix).concat(fresh, shown.slice(shown.length - suffix));
  };
})();
