#include "platform/webkit/zbWebKitScript.h"

namespace zb::webkit {

// Handles are numbers into a map of this world. Character positions count the UTF-16 units of the
// body's text nodes and one for each element that stands for a character (an image, a line break, a
// control), as the engine's text ranges did. Moves clamp at the document's edges: position 0 is before
// the first content of the body and the last position after its last content, whatever kind of node
// that is; whitespace between blocks, comments and scripts are no content there.
const char* const DomPrelude = R"JS(
if (!globalThis.__zb) globalThis.__zb = (function () {
  var objs = new Map(), next = 1;
  var SKIP = /^(SCRIPT|STYLE|NOSCRIPT|TEMPLATE|HEAD|TITLE)$/i;
  var ATOM = /^(IMG|BR|HR|WBR|INPUT|TEXTAREA|SELECT|IFRAME|FRAME|OBJECT|EMBED|VIDEO|AUDIO|CANVAS|SVG|MATH|METER|PROGRESS)$/i;
  function put(o) { if (o == null) return 0; var id = next++; objs.set(id, o); return id; }
  function get(id) { var o = objs.get(id); if (o === undefined) throw new Error('The object is no longer available'); return o; }
  var BLOCK = /^(HTML|BODY|P|DIV|H[1-6]|UL|OL|LI|DL|DT|DD|BLOCKQUOTE|PRE|TABLE|CAPTION|THEAD|TBODY|TFOOT|TR|TD|TH|ADDRESS|CENTER|HR|FORM|FIELDSET|LEGEND|SECTION|ARTICLE|ASIDE|HEADER|FOOTER|NAV|MAIN|FIGURE|FIGCAPTION|DETAILS|SUMMARY|MENU|DIR)$/i;
  function root(d) { return d.body || d.documentElement; }
  function isBlock(n) { return !!n && n.nodeType === 1 && BLOCK.test(n.nodeName); }
  function blank(t) { return !/[^\t\n\f\r ]/.test(t.data); }
  // Whitespace at a line's start or end (next to a block, after a line break) is not shown: no character.
  function collapsed(t) {
    if (!blank(t) || (t.parentNode.closest && t.parentNode.closest('pre,textarea,listing,xmp,plaintext'))) return false;
    var p = t.previousSibling, n = t.nextSibling;
    while (p && p.nodeType === 8) p = p.previousSibling;
    while (n && n.nodeType === 8) n = n.nextSibling;
    return (p ? isBlock(p) || p.nodeName === 'BR' : isBlock(t.parentNode)) || (n ? isBlock(n) : isBlock(t.parentNode));
  }
  // Text nodes and character elements in document order; nothing inside a character element counts.
  function units(d) {
    var r = root(d), a = [];
    if (!r) return a;
    var n = r.firstChild;
    while (n) {
      var down = false;
      if (n.nodeType === 3) { if (!collapsed(n)) a.push(n); }
      else if (n.nodeType === 1) {
        if (ATOM.test(n.nodeName)) a.push(n);
        else down = !SKIP.test(n.nodeName) && !!n.firstChild;
      }
      if (down) { n = n.firstChild; continue; }
      while (n && n !== r && !n.nextSibling) n = n.parentNode;
      n = n && n !== r ? n.nextSibling : null;
    }
    return a;
  }
  function len(u) { return u.nodeType === 3 ? u.length : 1; }
  function indexIn(n) { return Array.prototype.indexOf.call(n.parentNode.childNodes, n); }
  function offsetOf(d, nodes, c, o) {
    var p = d.createRange(), pos = 0;
    p.setStart(c, o); p.collapse(true);
    for (var i = 0; i < nodes.length; i++) {
      var t = nodes[i];
      if (t === c) return pos + Math.min(o, len(t));
      if (p.comparePoint(t, 0) >= 0) return pos;
      pos += len(t);
    }
    return pos;
  }
  function incidental(n) {
    if (n.nodeType === 3) return blank(n);
    return n.nodeType !== 1 || SKIP.test(n.nodeName);
  }
  function contentChild(n, atEnd) {
    for (var c = atEnd ? n.lastChild : n.firstChild; c; c = atEnd ? c.previousSibling : c.nextSibling)
      if (!incidental(c)) return c;
    return null;
  }
  // Before the first or after the last content: into blocks and inline elements, but not into a
  // character element, a table or an element without content.
  function edge(d, atEnd) {
    var r = root(d), c = r && contentChild(r, atEnd);
    if (!c) return { c: r || d, o: atEnd && r ? r.childNodes.length : 0 };
    for (var inner; c.nodeType === 1 && !ATOM.test(c.nodeName) && c.nodeName !== 'TABLE' && (inner = contentChild(c, atEnd)); ) c = inner;
    if (c.nodeType === 3) return { c: c, o: atEnd ? c.length : 0 };
    return { c: c.parentNode, o: indexIn(c) + (atEnd ? 1 : 0) };
  }
  // The point at character position pos; at 0 and at the last position (atEnd decides when the
  // document has no characters) the document's edges.
  function pointAt(d, nodes, pos, atEnd) {
    var t = total(nodes);
    if (pos >= t && (pos > 0 || atEnd)) return edge(d, true);
    if (pos <= 0) return edge(d, false);
    for (var i = 0; i < nodes.length; i++) {
      var u = nodes[i], l = len(u);
      if (pos <= l) return u.nodeType === 3 ? { c: u, o: pos } : { c: u.parentNode, o: indexIn(u) + pos };
      pos -= l;
    }
    return edge(d, true);
  }
  function total(nodes) { var s = 0; for (var i = 0; i < nodes.length; i++) s += len(nodes[i]); return s; }
  function unit(u) { if (String(u).toLowerCase() !== 'character') throw new Error('Unit not supported: ' + u); }
  function move(r, u, n, which) {
    unit(u);
    var d = r.startContainer.ownerDocument || r.startContainer;
    var nodes = units(d), t = total(nodes);
    var c = which ? r.startContainer : r.endContainer, o = which ? r.startOffset : r.endOffset;
    var from = offsetOf(d, nodes, c, o), to = Math.max(0, Math.min(t, from + n));
    var p = pointAt(d, nodes, to, n > 0);
    if (which) r.setStart(p.c, p.o); else r.setEnd(p.c, p.o);
    return to - from;
  }
  function insertAt(r, node) {
    r.deleteContents();
    var last = node.nodeType === 11 ? node.lastChild : node;
    r.insertNode(node);
    if (last && last.parentNode) { r.setStartAfter(last); r.collapse(true); }
  }
  function selRange(d) {
    var s = d.getSelection ? d.getSelection() : window.getSelection();
    return s && s.rangeCount ? s.getRangeAt(0) : null;
  }
  function wrap(r, el) { var f = r.extractContents(); el.appendChild(f); r.insertNode(el); r.selectNode(el); return el; }
  function dirBlock(e) { return e.nodeType === 1 && /^(P|DIV|H[1-6]|LI|UL|OL|BLOCKQUOTE|PRE|TD|TH|TABLE|ADDRESS|BODY|CENTER|DL|DD|DT)$/.test(e.nodeName); }
  function blockOf(r) {
    for (var n = r.commonAncestorContainer; n; n = n.parentNode) if (dirBlock(n)) return n;
    return null;
  }
  function inputCmd(type) {
    return function (d, r, v) { var e = d.createElement('input'); e.type = type; if (v) e.id = v; insertAt(r, e); return true; };
  }
  function elemCmd(tag, setup) {
    return function (d, r, v) { var e = d.createElement(tag); if (setup) setup(e, v); else if (v) e.id = v; insertAt(r, e); return true; };
  }
  // Commands with a plain DOM meaning that the engine's execCommand lacks.
  var own = {
    'blockdirltr': function (d, r) { var b = blockOf(r); if (!b) return false; b.dir = 'ltr'; return true; },
    'blockdirrtl': function (d, r) { var b = blockOf(r); if (!b) return false; b.dir = 'rtl'; return true; },
    'dirltr': function (d) { d.documentElement.dir = 'ltr'; return true; },
    'dirrtl': function (d) { d.documentElement.dir = 'rtl'; return true; },
    'inlinedirltr': function (d, r) { var s = d.createElement('span'); s.dir = 'ltr'; wrap(r, s); return true; },
    'inlinedirrtl': function (d, r) { var s = d.createElement('span'); s.dir = 'rtl'; wrap(r, s); return true; },
    'browsemode': function (d) { d.designMode = 'off'; return true; },
    'editmode': function (d) { d.designMode = 'on'; return true; },
    'createbookmark': function (d, r, v) {
      if (!v) return false;
      var a = d.createElement('a'); a.name = v; wrap(r, a); return true;
    },
    'unbookmark': function (d, r) {
      var list = Array.prototype.slice.call(d.querySelectorAll('a[name]')), done = false;
      list.forEach(function (a) {
        if (a.hasAttribute('href') || !r.intersectsNode(a)) return;
        while (a.firstChild) a.parentNode.insertBefore(a.firstChild, a);
        a.parentNode.removeChild(a); done = true;
      });
      return done;
    },
    'insertbutton': elemCmd('button'),
    'insertfieldset': elemCmd('fieldset'),
    // Only local documents: a javascript: address would run in the page's own world.
    'insertiframe': elemCmd('iframe', function (e, v) { if (v && /^(file|about):/i.test(v)) e.src = v; }),
    'insertinputbutton': inputCmd('button'),
    'insertinputcheckbox': inputCmd('checkbox'),
    'insertinputfileupload': inputCmd('file'),
    'insertinputhidden': inputCmd('hidden'),
    'insertinputimage': inputCmd('image'),
    'insertinputpassword': inputCmd('password'),
    'insertinputradio': inputCmd('radio'),
    'insertinputreset': inputCmd('reset'),
    'insertinputsubmit': inputCmd('submit'),
    'insertinputtext': inputCmd('text'),
    'insertmarquee': elemCmd('marquee'),
    'insertselectdropdown': elemCmd('select'),
    'insertselectlistbox': elemCmd('select', function (e, v) { e.multiple = true; e.size = 4; if (v) e.id = v; }),
    'inserttextarea': elemCmd('textarea')
  };
  // Names the engine accepts but carries out as something else or not at all; they fail instead.
  var refused = { 'removeparaformat': 1, 'playimage': 1, 'stopimage': 1,
    '2d-position': 1, 'absoluteposition': 1, 'liveresize': 1, 'multipleselection': 1,
    'sizetocontrol': 1, 'sizetocontrolheight': 1, 'sizetocontrolwidth': 1 };
  function supported(d, name) {
    var k = String(name).toLowerCase();
    if (own[k]) return true;
    if (refused[k] || !k) return false;
    try { return d.queryCommandSupported(name); } catch (e) { return false; }
  }
  function exec(d, name, ui, v) {
    var k = String(name).toLowerCase();
    if (own[k]) {
      var r = selRange(d);
      if (!r) { r = d.createRange(); var p = pointAt(d, units(d), 0, false); r.setStart(p.c, p.o); r.collapse(true); }
      var ok = own[k](d, r, v == null ? '' : String(v));
      if (ok && k.indexOf('insert') === 0) { var s = d.getSelection(); s.removeAllRanges(); s.addRange(r); }
      return ok;
    }
    if (!supported(d, name)) throw new Error('Command not supported: ' + name);
    return v === undefined ? d.execCommand(name, !!ui) : d.execCommand(name, !!ui, String(v));
  }
  function currentFontSize(e) {
    for (var n = e; n && n.nodeType === 1; n = n.parentNode) {
      if (n.style && n.style.fontSize) return n.style.fontSize;
      if (n.nodeName === 'FONT' && n.hasAttribute('size')) return n.getAttribute('size');
    }
    var px = parseFloat(getComputedStyle(e).fontSize);
    return isNaN(px) ? '' : (Math.round(px * 75) / 100) + 'pt';
  }
  function serialize(d) {
    var e = d.documentElement, t = d.doctype, s = '';
    if (!e) return '';
    if (t) {
      s = '<!DOCTYPE ' + t.name;
      if (t.publicId) s += ' PUBLIC "' + t.publicId + '"';
      if (t.systemId) s += (t.publicId ? ' "' : ' SYSTEM "') + t.systemId + '"';
      s += '>\n';
    }
    return s + e.outerHTML;
  }
  function embeds(d) { return d.querySelectorAll('iframe, frame, object, embed'); }
  function frameDoc(i) {
    var e = embeds(document)[i];
    var f = e && (e.contentDocument || (e.getSVGDocument && e.getSVGDocument()));
    if (!f) throw new Error('The frame has no document');
    return f;
  }
  return {
    put: put, get: get, free: function (id) { objs.delete(id); },
    units: units, pointAt: pointAt, move: move, insertAt: insertAt, selRange: selRange,
    supported: supported, exec: exec, currentFontSize: currentFontSize, serialize: serialize,
    embeds: embeds, frameDoc: frameDoc
  };
})();
)JS";

}  // namespace zb::webkit
