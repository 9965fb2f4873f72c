#include "platform/webkit/zbWebKitScript.h"

namespace zb::webkit {

// Handles are numbers into a map of this world; character positions count the UTF-16 units of the
// body's text nodes (scripts, styles and templates left out), clamped at the document's ends.
const char* const DomPrelude = R"JS(
if (!globalThis.__zb) globalThis.__zb = (function () {
  var objs = new Map(), next = 1;
  function put(o) { if (o == null) return 0; var id = next++; objs.set(id, o); return id; }
  function get(id) { var o = objs.get(id); if (o === undefined) throw new Error('The object is no longer available'); return o; }
  function skipped(n) {
    for (var p = n.parentNode; p; p = p.parentNode) {
      var t = p.nodeName;
      if (t === 'SCRIPT' || t === 'STYLE' || t === 'NOSCRIPT' || t === 'TEMPLATE' || t === 'HEAD' || t === 'TITLE') return true;
    }
    return false;
  }
  function root(d) { return d.body || d.documentElement; }
  function texts(d) {
    var r = root(d), a = [];
    if (!r) return a;
    var w = d.createTreeWalker(r, NodeFilter.SHOW_TEXT);
    for (var n = w.nextNode(); n; n = w.nextNode()) if (!skipped(n)) a.push(n);
    return a;
  }
  function offsetOf(d, nodes, c, o) {
    var p = d.createRange(), pos = 0;
    p.setStart(c, o); p.collapse(true);
    for (var i = 0; i < nodes.length; i++) {
      var t = nodes[i];
      if (t === c) return pos + Math.min(o, t.length);
      if (p.comparePoint(t, 0) >= 0) return pos;
      pos += t.length;
    }
    return pos;
  }
  function pointAt(d, nodes, pos, atEnd) {
    if (!nodes.length) { var r = root(d); return { c: r, o: atEnd ? r.childNodes.length : 0 }; }
    for (var i = 0; i < nodes.length; i++) {
      if (pos <= nodes[i].length) return { c: nodes[i], o: pos };
      pos -= nodes[i].length;
    }
    var l = nodes[nodes.length - 1];
    return { c: l, o: l.length };
  }
  function total(nodes) { var s = 0; for (var i = 0; i < nodes.length; i++) s += nodes[i].length; return s; }
  function unit(u) { if (String(u).toLowerCase() !== 'character') throw new Error('Unit not supported: ' + u); }
  function move(r, u, n, which) {
    unit(u);
    var d = r.startContainer.ownerDocument || r.startContainer;
    var nodes = texts(d), t = total(nodes);
    var c = which ? r.startContainer : r.endContainer, o = which ? r.startOffset : r.endOffset;
    var from = offsetOf(d, nodes, c, o), to = Math.max(0, Math.min(t, from + n));
    var p = pointAt(d, nodes, to, to >= t);
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
  function isBlock(e) { return e.nodeType === 1 && /^(P|DIV|H[1-6]|LI|UL|OL|BLOCKQUOTE|PRE|TD|TH|TABLE|ADDRESS|BODY|CENTER|DL|DD|DT)$/.test(e.nodeName); }
  function blockOf(r) {
    for (var n = r.commonAncestorContainer; n; n = n.parentNode) if (isBlock(n)) return n;
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
      if (!r) { r = d.createRange(); var p = pointAt(d, texts(d), 0, false); r.setStart(p.c, p.o); r.collapse(true); }
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
    texts: texts, pointAt: pointAt, move: move, insertAt: insertAt, selRange: selRange,
    supported: supported, exec: exec, currentFontSize: currentFontSize, serialize: serialize,
    embeds: embeds, frameDoc: frameDoc
  };
})();
)JS";

}  // namespace zb::webkit
