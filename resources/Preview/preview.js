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
  // should anything slip through.
  function defuse(root) {
    var dropped = root.querySelectorAll(DROPPED_ELEMENTS);
    for (var i = 0; i < dropped.length; i++) {
      dropped[i].remove();
    }
    var all = root.querySelectorAll('*');
    for (var j = 0; j < all.length; j++) {
      var element = all[j];
      var attributes = Array.prototype.slice.call(element.attributes);
      for (var k = 0; k < attributes.length; k++) {
        var name = attributes[k].name.toLowerCase();
        if (name.indexOf('on') === 0 ||
            (URL_ATTRIBUTES.indexOf(name) >= 0 && UNSAFE_URL.test(attributes[k].value))) {
          element.removeAttribute(attributes[k].name);
        }
      }
    }
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

  function typeset(root) {
    var spans = root.querySelectorAll('span.math');
    for (var i = 0; i < spans.length; i++) {
      var span = spans[i];
      var display = span.getAttribute('data-display') === '1';
      span.classList.add(display ? 'math-display' : 'math-inline');
      if (!window.katex) {
        continue;
      }
      var markup = mathMarkup(span.textContent, display);
      if (markup === null) {
        span.classList.add('math-error');
      } else {
        span.innerHTML = markup;
      }
    }
  }

  window.__setContent = function (html) {
    var content = document.getElementById('content');
    // A template parses without running or loading anything.
    var template = document.createElement('template');
    template.innerHTML = String(html);
    defuse(template.content);
    typeset(template.content);
    content.replaceChildren(template.content);
  };
})();
