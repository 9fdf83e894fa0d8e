// The browser objects of a page, written in the page's own language on top of a small set of
// native functions (N, see WebPage.cpp) that reach the document tree, the run loop and the
// network. Evaluated once in every fresh context; it answers the dispatcher through which the
// web view delivers timers, image loads, the load event and clicks.
namespace platform {

extern const char* const kPagePrelude;
const char* const kPagePrelude = R"JS((function (N, global, userAgent) {
'use strict';
var wrappers = {};
var ELEMENT = 1, TEXT = 3, COMMENT = 8, DOCUMENT = 9;
// Navigation types, the web view's numbers.
var NAVIGATION_RELOAD = 3, NAVIGATION_OTHER = 5;

function wrap(h) {
    if (h === null || h === undefined) return null;
    var w = wrappers[h];
    if (w) return w;
    var type = N.nodeType(h);
    var proto = type === DOCUMENT ? DocumentProto : type === ELEMENT ? ElementProto : NodeProto;
    w = Object.create(proto);
    Object.defineProperty(w, '__handle', { value: h });
    Object.defineProperty(w, '__listeners', { value: {} });
    wrappers[h] = w;
    return w;
}
function handle(node) {
    if (!node || typeof node.__handle !== 'number') throw new TypeError('not a node');
    return node.__handle;
}
function wrapAll(list) { return list.map(wrap); }
function accessor(proto, name, get, set) {
    Object.defineProperty(proto, name, { get: get, set: set, configurable: true });
}
function attributeAccessor(proto, name, attribute) {
    accessor(proto, name, function () {
        var v = N.getAttribute(handle(this), attribute);
        return v === null ? '' : v;
    }, function (v) { N.setAttribute(handle(this), attribute, String(v)); });
}

// ---- Events ----
function addListener(target, type, fn) {
    var list = target.__listeners[type] || (target.__listeners[type] = []);
    if (typeof fn === 'function' && list.indexOf(fn) < 0) list.push(fn);
}
function removeListener(target, type, fn) {
    var list = target.__listeners[type];
    if (list && list.indexOf(fn) >= 0) list.splice(list.indexOf(fn), 1);
}
// Runs the on<type> handler (property, else attribute) and the listeners of one target;
// answers false when one of them cancelled the default action.
function fire(target, type, event) {
    var allowed = true;
    var handler = target['on' + type];
    if (typeof handler !== 'function' && target !== global && typeof target.getAttribute === 'function') {
        var code = target.getAttribute('on' + type);
        if (code) handler = new Function('event', code);
    }
    if (typeof handler === 'function' && handler.call(target, event) === false) allowed = false;
    var list = (target.__listeners && target.__listeners[type]) || [];
    list.slice().forEach(function (fn) { fn.call(target, event); });
    return allowed && !event.defaultPrevented;
}
function makeEvent(type, target) {
    return {
        type: type, target: target, currentTarget: target, defaultPrevented: false, cancelBubble: false,
        preventDefault: function () { this.defaultPrevented = true; },
        stopPropagation: function () { this.cancelBubble = true; }
    };
}

// ---- Nodes ----
var NodeProto = {};
accessor(NodeProto, 'nodeType', function () { return N.nodeType(handle(this)); });
accessor(NodeProto, 'nodeName', function () { return N.nodeName(handle(this)); });
accessor(NodeProto, 'parentNode', function () { return wrap(N.parent(handle(this))); });
accessor(NodeProto, 'parentElement', function () {
    var p = this.parentNode;
    return p && p.nodeType === ELEMENT ? p : null;
});
accessor(NodeProto, 'childNodes', function () { return wrapAll(N.children(handle(this))); });
accessor(NodeProto, 'children', function () {
    return this.childNodes.filter(function (n) { return n.nodeType === ELEMENT; });
});
accessor(NodeProto, 'firstChild', function () { var c = this.childNodes; return c.length ? c[0] : null; });
accessor(NodeProto, 'lastChild', function () { var c = this.childNodes; return c.length ? c[c.length - 1] : null; });
function sibling(node, step) {
    var p = node.parentNode;
    if (!p) return null;
    var c = p.childNodes, i = c.indexOf(node) + step;
    return i >= 0 && i < c.length ? c[i] : null;
}
accessor(NodeProto, 'nextSibling', function () { return sibling(this, 1); });
accessor(NodeProto, 'previousSibling', function () { return sibling(this, -1); });
accessor(NodeProto, 'textContent', function () { return N.getText(handle(this)); },
         function (v) { N.setText(handle(this), v === null || v === undefined ? '' : String(v)); });
accessor(NodeProto, 'nodeValue', function () {
    return this.nodeType === TEXT || this.nodeType === COMMENT ? N.getText(handle(this)) : null;
}, function (v) { if (this.nodeType === TEXT || this.nodeType === COMMENT) N.setText(handle(this), String(v)); });
accessor(NodeProto, 'data', function () { return this.nodeValue; }, function (v) { this.nodeValue = v; });
accessor(NodeProto, 'ownerDocument', function () { return global.document; });
NodeProto.appendChild = function (child) {
    if (!N.insertBefore(handle(this), handle(child), null)) throw new Error('HierarchyRequestError');
    return child;
};
NodeProto.insertBefore = function (child, reference) {
    if (!N.insertBefore(handle(this), handle(child), reference ? handle(reference) : null))
        throw new Error('HierarchyRequestError');
    return child;
};
NodeProto.removeChild = function (child) {
    if (!N.removeChild(handle(this), handle(child))) throw new Error('NotFoundError');
    return child;
};
NodeProto.replaceChild = function (child, old) {
    this.insertBefore(child, old);
    return this.removeChild(old);
};
NodeProto.hasChildNodes = function () { return N.children(handle(this)).length > 0; };
NodeProto.addEventListener = function (type, fn) { addListener(this, String(type), fn); };
NodeProto.removeEventListener = function (type, fn) { removeListener(this, String(type), fn); };
NodeProto.getElementsByTagName = function (tag) { return wrapAll(N.byTag(handle(this), String(tag))); };

// ---- Elements ----
var ElementProto = Object.create(NodeProto);
accessor(ElementProto, 'tagName', function () { return N.nodeName(handle(this)); });
attributeAccessor(ElementProto, 'id', 'id');
attributeAccessor(ElementProto, 'className', 'class');
attributeAccessor(ElementProto, 'href', 'href');
attributeAccessor(ElementProto, 'name', 'name');
attributeAccessor(ElementProto, 'value', 'value');
attributeAccessor(ElementProto, 'type', 'type');
attributeAccessor(ElementProto, 'width', 'width');
attributeAccessor(ElementProto, 'height', 'height');
attributeAccessor(ElementProto, 'alt', 'alt');
attributeAccessor(ElementProto, 'action', 'action');
attributeAccessor(ElementProto, 'method', 'method');
attributeAccessor(ElementProto, 'target', 'target');
accessor(ElementProto, 'src', function () {
    var v = N.getAttribute(handle(this), 'src');
    return v === null ? '' : v;
}, function (v) {
    var h = handle(this);
    N.setAttribute(h, 'src', String(v));
    if (N.nodeName(h) === 'IMG') N.loadImage(h, String(v));
});
accessor(ElementProto, 'innerHTML', function () { return N.getHTML(handle(this), false); },
         function (v) { N.setHTML(handle(this), v === null || v === undefined ? '' : String(v)); });
accessor(ElementProto, 'outerHTML', function () { return N.getHTML(handle(this), true); });
accessor(ElementProto, 'innerText', function () { return this.textContent; },
         function (v) { this.textContent = v; });
ElementProto.getAttribute = function (name) { return N.getAttribute(handle(this), String(name)); };
ElementProto.setAttribute = function (name, value) { N.setAttribute(handle(this), String(name), String(value)); };
ElementProto.removeAttribute = function (name) { N.removeAttribute(handle(this), String(name)); };
// A fresh list of {name, value} objects on each read (a snapshot, not a live map).
accessor(ElementProto, 'attributes', function () {
    var flat = N.attributes(handle(this)), list = [];
    for (var i = 0; i + 1 < flat.length; i += 2) list.push({ name: flat[i], value: flat[i + 1] });
    return list;
});
ElementProto.hasAttribute = function (name) { return N.getAttribute(handle(this), String(name)) !== null; };
ElementProto.click = function () { if (dispatch('click', handle(this))) N.clickDefault(handle(this)); };
ElementProto.submit = function () { N.submit(handle(this)); };

// `style`: a live view of the style attribute, property names in either spelling.
function cssName(name) { return name.replace(/[A-Z]/g, function (c) { return '-' + c.toLowerCase(); }); }
function readStyle(h) {
    var out = {}, text = N.getAttribute(h, 'style') || '';
    text.split(';').forEach(function (part) {
        var at = part.indexOf(':');
        if (at > 0) out[part.slice(0, at).trim().toLowerCase()] = part.slice(at + 1).trim();
    });
    return out;
}
function writeStyle(h, values) {
    var text = Object.keys(values).filter(function (k) { return values[k] !== ''; })
        .map(function (k) { return k + ': ' + values[k]; }).join('; ');
    if (text) N.setAttribute(h, 'style', text); else N.removeAttribute(h, 'style');
}
accessor(ElementProto, 'style', function () {
    var h = handle(this);
    if (this.__style) return this.__style;
    var style = new Proxy({}, {
        get: function (target, key) {
            if (typeof key !== 'string') return undefined;
            if (key === 'cssText') return N.getAttribute(h, 'style') || '';
            var v = readStyle(h)[cssName(key)];
            return v === undefined ? '' : v;
        },
        set: function (target, key, value) {
            if (typeof key !== 'string') return true;
            if (key === 'cssText') { N.setAttribute(h, 'style', String(value)); return true; }
            var values = readStyle(h);
            values[cssName(key)] = value === null || value === undefined ? '' : String(value);
            writeStyle(h, values);
            return true;
        }
    });
    Object.defineProperty(this, '__style', { value: style });
    return style;
});

// ---- Document ----
var DocumentProto = Object.create(NodeProto);
DocumentProto.getElementById = function (id) { return wrap(N.byId(String(id))); };
DocumentProto.createElement = function (tag) { return wrap(N.createElement(String(tag))); };
DocumentProto.createTextNode = function (text) { return wrap(N.createText(String(text))); };
function firstTag(doc, tag) { var l = N.byTag(handle(doc), tag); return l.length ? wrap(l[0]) : null; }
accessor(DocumentProto, 'body', function () { return firstTag(this, 'body'); });
accessor(DocumentProto, 'head', function () { return firstTag(this, 'head'); });
accessor(DocumentProto, 'documentElement', function () { return firstTag(this, 'html'); });
accessor(DocumentProto, 'title', function () {
    var t = firstTag(this, 'title');
    return t ? t.textContent : '';
}, function (v) {
    var t = firstTag(this, 'title');
    if (!t) { t = this.createElement('title'); if (this.head) this.head.appendChild(t); }
    t.textContent = String(v);
});
accessor(DocumentProto, 'location', function () { return location; },
         function (v) { N.navigate(String(v), NAVIGATION_OTHER); });
accessor(DocumentProto, 'URL', function () { return N.pageURL(''); });
accessor(DocumentProto, 'referrer', function () { return N.referrer(); });
accessor(DocumentProto, 'readyState', function () { return N.readyState(); });
accessor(DocumentProto, 'cookie', function () { return ''; }, function () {});

// ---- Location ----
var location = {};
accessor(location, 'href', function () { return N.pageURL(''); }, function (v) { N.navigate(String(v), NAVIGATION_OTHER); });
['protocol', 'host', 'hostname', 'port', 'pathname', 'search', 'hash'].forEach(function (part) {
    accessor(location, part, function () { return N.pageURL(part); });
});
location.assign = function (url) { N.navigate(String(url), NAVIGATION_OTHER); };
location.replace = function (url) { N.navigate(String(url), NAVIGATION_OTHER); };
location.reload = function () { N.navigate(N.pageURL(''), NAVIGATION_RELOAD); };
location.toString = function () { return N.pageURL(''); };

// ---- Window ----
global.window = global;
global.self = global;
global.top = global;
global.parent = global;
global.document = wrap(N.document());
accessor(global, 'location', function () { return location; }, function (v) { N.navigate(String(v), NAVIGATION_OTHER); });
global.navigator = { userAgent: userAgent, platform: 'Linux', language: 'en', cookieEnabled: false };
global.console = {};
['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
    global.console[level] = function () {
        N.log(Array.prototype.map.call(arguments, function (a) { return String(a); }).join(' '));
    };
});
global.open = function (url) { if (url !== undefined) N.navigate(String(url), NAVIGATION_OTHER); return null; };
global.__listeners = {};
global.addEventListener = function (type, fn) { addListener(global, String(type), fn); };
global.removeEventListener = function (type, fn) { removeListener(global, String(type), fn); };
global.Image = function Image(width, height) {
    var img = global.document.createElement('img');
    if (width !== undefined) img.width = width;
    if (height !== undefined) img.height = height;
    return img;
};

// ---- Timers ----
var timers = {}, nextTimer = 1;
function addTimer(fn, ms, args, repeats) {
    var id = nextTimer++;
    timers[id] = { fn: fn, args: args, repeats: repeats };
    N.setTimer(id, Number(ms) || 0, repeats);
    return id;
}
global.setTimeout = function (fn, ms) { return addTimer(fn, ms, Array.prototype.slice.call(arguments, 2), false); };
global.setInterval = function (fn, ms) { return addTimer(fn, ms, Array.prototype.slice.call(arguments, 2), true); };
global.clearTimeout = global.clearInterval = function (id) {
    if (timers[id]) { delete timers[id]; N.clearTimer(id); }
};

// The dispatcher: the web view's way into the page.
function dispatch(kind, id, flag) {
    if (kind === 'timer') {
        var t = timers[id];
        if (!t) return true;
        if (!t.repeats) delete timers[id];
        if (typeof t.fn === 'function') t.fn.apply(global, t.args);
        else (0, eval)(String(t.fn));
        return true;
    }
    if (kind === 'image') {
        var img = wrap(id);
        return fire(img, flag ? 'load' : 'error', makeEvent(flag ? 'load' : 'error', img));
    }
    if (kind === 'load') {
        var doc = global.document;
        fire(doc, 'DOMContentLoaded', makeEvent('DOMContentLoaded', doc));
        var event = makeEvent('load', global);
        // The body's onload attribute stands for window.onload, as in browsers.
        if (typeof global.onload !== 'function' && doc.body && doc.body.getAttribute('onload'))
            global.onload = new Function('event', doc.body.getAttribute('onload'));
        return fire(global, 'load', event);
    }
    if (kind === 'click') {
        var target = wrap(id), allowed = true;
        var clickEvent = makeEvent('click', target);
        for (var node = target; node && node.nodeType === ELEMENT && !clickEvent.cancelBubble; node = node.parentNode) {
            clickEvent.currentTarget = node;
            if (!fire(node, 'click', clickEvent)) allowed = false;
        }
        return allowed;
    }
    if (kind === 'submit') {
        var form = wrap(id);
        return fire(form, 'submit', makeEvent('submit', form));
    }
    return true;
}
return dispatch;
}))JS";

} // namespace platform
