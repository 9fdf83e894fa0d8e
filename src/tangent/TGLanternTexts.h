#pragma once
// The generated texts of the Tangent support files. "%@" marks a placeholder, filled in order
// by the client (TGLanternFileManager::fillFile).
#include <string_view>

namespace tangent {

// The "Lantern" library of the ad page. Placeholders: device id, ad request id.
// Commands go to the native side as "tgc://tangent/<command>?<arguments>" navigations. Load
// statuses ("preload", "onload") go 10 ms later at once; every other command waits in a queue
// that sends one command every 10 ms while the ad is displayed, and the next only after the
// native side has answered with Lantern.continueActionQueue().
inline constexpr std::string_view kLanternScript = R"JS(
var Lantern = (function () {
  var L = {};
  L.debug = false;
  L.loaded = false;
  L.displayed = false;
  L.deviceId = "%@";
  L.adRequestId = "%@";
  L.queue = [];
  L.waiting = false;
  L.callbacks = {};
  L.callbackCount = 0;
  L.transitions = { None: 0, FlipFromLeft: 1, FlipFromRight: 2, CurlUp: 3, CurlDown: 4 };

  function host() { return L.debug ? "tangent-debug" : "tangent"; }
  function crossBridge(command, args) {
    var parts = [];
    for (var i = 0; i < args.length; i++) {
      parts.push(encodeURIComponent(args[i] === undefined || args[i] === null ? "" : String(args[i])));
    }
    return "tgc://" + host() + "/" + command + "?" + parts.join("&");
  }
  function send(command, args) { L.queue.push(crossBridge(command, args)); }
  function force(command, args) {
    var url = crossBridge(command, args);
    setTimeout(function () { window.location.href = url; }, 10);
  }
  function transitionNumber(t) {
    if (typeof t === "number") return t;
    if (t !== undefined && t !== null && L.transitions[t] !== undefined) return L.transitions[t];
    return 0;
  }
  function optionText(options) {
    if (!options) return "{}";
    var parts = [];
    for (var name in options) {
      if (options.hasOwnProperty(name)) parts.push(name + ":" + encodeURIComponent(String(options[name])));
    }
    return "{" + parts.join(",") + "}";
  }
  function stash(callback) {
    if (!callback) return "";
    var id = "LanternCB-" + (++L.callbackCount);
    L.callbacks[id] = callback;
    return id;
  }

  setInterval(function () {
    if (!L.displayed || L.waiting || L.queue.length === 0) return;
    L.waiting = true;
    window.location.href = L.queue.shift();
  }, 10);

  L.continueActionQueue = function () { L.waiting = false; };
  // Runs and forgets a stashed callback (a function, or script text that is evaluated);
  // answers how that went.
  L.executeCallback = function (id) {
    if (!L.callbacks.hasOwnProperty(id)) return "executeCallback: Unknown callback " + id;
    var callback = L.callbacks[id];
    delete L.callbacks[id];
    try {
      if (typeof callback === "function") callback();
      else if (typeof callback === "string") (0, eval)(callback);
      else return "executeCallback: Invalid callback " + id;
    } catch (e) {
      return "executeCallback: Error " + e;
    }
    return "executeCallback: Success";
  };
  // Loading. The page's own load handler waits for display; the library's load waits until
  // no preloaded image is pending (at the latest 100 ms after the preload when none was).
  L.loadFunctions = [];
  L.displayFunctions = [];
  L.pendingImages = 0;
  L.loadRequested = false;
  L.doOnLoad = function (f) { if (L.loaded) f(); else L.loadFunctions.push(f); };
  L.doOnDisplay = function (f) { if (L.displayed) f(); else L.displayFunctions.push(f); };
  function runAll(list) {
    var functions = list.splice(0, list.length);
    for (var i = 0; i < functions.length; i++) {
      try { functions[i](); } catch (e) { problem("deferred function failed: " + e); }
    }
  }
  function problem(text) {
    if (L.debug) alert(text); else L.log(text);
  }
  function preloadImage(src) {
    if (!src) return;
    L.pendingImages++;
    var image = new Image();
    var done = false;
    var finish = function () {
      if (done) return;
      done = true;
      L.pendingImages--;
      if (L.loadRequested) L.onLoad();
    };
    image.onload = finish;
    image.onerror = finish;
    image.src = src;
  }
  L.preLoad = function () {
    var options = L.adSetupOptions || {};
    if (typeof L.adaptAdFormats === "function") L.adaptAdFormats(options);
    if (typeof window.onload === "function" && window.onload !== L.onLoad) {
      var own = window.onload;
      window.onload = null;
      L.doOnDisplay(function () { own.call(window); });
    }
    window.addEventListener("load", function () { L.onLoad(); });
    var images = document.getElementsByTagName("img");
    for (var i = 0; i < images.length; i++) preloadImage(images[i].getAttribute("src"));
    var listed = options.preloadImages || [];
    for (var j = 0; j < listed.length; j++) preloadImage(listed[j]);
    if (typeof options.setup === "function") {
      var geolocation = options.useGeolocation ? {
        getCurrentPosition: L.getCurrentPosition, watchPosition: L.watchPosition,
        clearWatch: L.clearPositionWatch } : undefined;
      try { options.setup(L.deviceId, L.adRequestId, geolocation); } catch (e) { problem("setup failed: " + e); }
    }
    force("documentLoadStatus:", ["preload"]);
    if (L.pendingImages === 0) setTimeout(function () { L.onLoad(); }, 100);
  };
  L.onLoad = function () {
    L.loadRequested = true;
    if (L.loaded || L.pendingImages > 0) return;
    L.loaded = true;
    runAll(L.loadFunctions);
    force("documentLoadStatus:", ["onload"]);
  };
  L.onUnload = function () { send("documentLoadStatus:", ["onunload"]); };
  L.beginDisplay = function () {
    L.displayed = true;
    runAll(L.displayFunctions);
  };
  L.beginAdInteraction = function () { send("beginAdInteraction:", [""]); };
  L.endAdInteraction = function () { send("endAdInteraction:", [""]); };
  L.expandTo = function (width, height, callback, transition, options) {
    send("width:height:transition:callback:options:",
         [width, height, transitionNumber(transition), stash(callback), optionText(options)]);
    L.beginAdInteraction();
  };
  L.autoExpandTo = function (width, height, callback, transition, options) {
    send("autoWidth:height:transition:callback:options:",
         [width, height, transitionNumber(transition), stash(callback), optionText(options)]);
  };
  L.restoreToBanner = function (callback, transition, options) {
    send("restoreTransition:callback:options:", [transitionNumber(transition), stash(callback), optionText(options)]);
    L.endAdInteraction();
  };
  L.dismiss = function () { if (L.displayed) send("dismiss:", ["false"]); };
  // Dismisses the ad on its own ("dismiss:" "true") the given number of seconds after it is
  // displayed.
  L.autoDismiss = function (seconds) {
    var arm = function () { setTimeout(function () { send("dismiss:", ["true"]); }, Number(seconds) * 1000); };
    if (L.displayed) { arm(); return; }
    var beginDisplay = L.beginDisplay;
    L.beginDisplay = function () { beginDisplay(); arm(); };
  };
  // Ad formats that call their own functions, mapped onto the library. Each can be switched
  // off in the setup options with false under its name:
  //   legacyTangent: tg_set_frame_size(width, height, transition) toggles expand and restore
  //     (transition 2 is CurlUp, 3 FlipFromRight, others None); tg_navigate(uri) opens a URI;
  //   gallery: touches on the element "tgGallery" begin and end the interaction;
  //   eyeWonder: ewExpand(width, height), ewCollapse(); pointRoll: prExpand(width, height),
  //     prCollapse(); crisp: crispExpand(width, height), crispClose().
  L.adaptAdFormats = function (options) {
    options = options || {};
    var expanded = false;
    function enabled(name) { return options[name] !== false; }
    function expand(width, height, transition) {
      expanded = true;
      L.expandTo(width, height, null, transition || "None");
    }
    function restore(transition) {
      expanded = false;
      L.restoreToBanner(null, transition || "None");
    }
    if (enabled("legacyTangent")) {
      window.tg_set_frame_size = function (width, height, transition) {
        var t = transition == 2 ? "CurlUp" : transition == 3 ? "FlipFromRight" : "None";
        if (expanded) restore(t); else expand(width, height, t);
      };
      window.tg_navigate = function (uri) { L.openUri(uri); };
    }
    if (enabled("gallery")) {
      var gallery = document.getElementById("tgGallery");
      if (gallery) {
        gallery.ontouchstart = function () { L.beginAdInteraction(); };
        gallery.ontouchend = function () { L.endAdInteraction(); };
      }
    }
    var formats = [["eyeWonder", "ewExpand", "ewCollapse"], ["pointRoll", "prExpand", "prCollapse"],
                   ["crisp", "crispExpand", "crispClose"]];
    for (var i = 0; i < formats.length; i++) {
      if (!enabled(formats[i][0])) continue;
      window[formats[i][1]] = function (width, height) { expand(width, height); };
      window[formats[i][2]] = function () { restore(); };
    }
  };
  L.openUri = function (uri, contentType, options) {
    send("openUri:contentType:options:", [uri, contentType || "", optionText(options)]);
  };
  // An anchor's click: its type, its link (kept in "orig-href" while the link itself is
  // neutralised, so the web view does not follow it too) and its other attributes as options.
  L.openAnchor = function (anchor) {
    if (!anchor || !anchor.getAttribute) return false;
    var uri = anchor.getAttribute("orig-href");
    if (!uri) {
      uri = anchor.getAttribute("href");
      if (uri) anchor.setAttribute("orig-href", uri);
    }
    anchor.setAttribute("href", "#");
    var options = {};
    var attributes = anchor.attributes || [];
    for (var i = 0; i < attributes.length; i++) {
      var name = attributes[i].name;
      if (name !== "onclick" && name !== "href" && name !== "style" && name !== "type" && name !== "orig-href")
        options[name] = attributes[i].value;
    }
    L.openUri(uri, anchor.getAttribute("type") || "", options);
    return false;
  };
  L.log = function (message) { send("logMessage:", [message]); };
  // Location: the W3C geolocation interface on top of the native updates.
  L.locationStatus = 2;
  L.locationMessages = { 1: "Permission Denied", 2: "Position Unavailable", 3: "Timeout" };
  L.position = null;
  L.positionListeners = [];
  L.positionListenerCount = 0;
  function removePositionListener(id) {
    for (var i = 0; i < L.positionListeners.length; i++) {
      if (L.positionListeners[i].id === id) {
        var entry = L.positionListeners.splice(i, 1)[0];
        if (entry.timer) clearTimeout(entry.timer);
        if (L.positionListeners.length === 0) send("receiveLocationUpdates:", ["false"]);
        return;
      }
    }
  }
  function answerPositionListener(entry) {
    if (entry.timer) { clearTimeout(entry.timer); entry.timer = null; }
    if (entry.once) removePositionListener(entry.id);
    if (L.locationStatus === 0 && L.position) {
      if (typeof entry.success === "function") entry.success(L.position);
    } else if (typeof entry.error === "function") {
      entry.error({ code: L.locationStatus, message: L.locationMessages[L.locationStatus] || "" });
    }
  }
  function addPositionListener(success, error, options, once) {
    var entry = { id: ++L.positionListenerCount, success: success, error: error, once: once, timer: null };
    if (L.positionListeners.length === 0) send("receiveLocationUpdates:", ["true"]);
    L.positionListeners.push(entry);
    if (L.position && L.locationStatus === 0) {
      answerPositionListener(entry);
    } else {
      var timeout = options && options.timeout !== undefined ? Number(options.timeout) : 60000;
      entry.timer = setTimeout(function () {
        entry.timer = null;
        if (L.locationStatus === 2) L.locationStatus = 3;
        answerPositionListener(entry);
      }, timeout);
    }
    return entry.id;
  }
  L.getCurrentPosition = function (success, error, options) { addPositionListener(success, error, options, true); };
  L.watchPosition = function (success, error, options) { return addPositionListener(success, error, options, false); };
  L.clearPositionWatch = function (id) { removePositionListener(id); };
  L.locationUpdated = function (position) {
    L.position = position;
    L.locationStatus = 0;
    var listeners = L.positionListeners.slice(0);
    for (var i = 0; i < listeners.length; i++) answerPositionListener(listeners[i]);
  };
  L.locationError = function (code) {
    L.locationStatus = code || 2;
    var listeners = L.positionListeners.slice(0);
    for (var i = 0; i < listeners.length; i++) answerPositionListener(listeners[i]);
  };
  return L;
})();
var AdDevice = {
  openUri: Lantern.openUri, openAnchor: Lantern.openAnchor, transitions: Lantern.transitions, expandTo: Lantern.expandTo,
  restoreToBanner: Lantern.restoreToBanner, beginAdInteraction: Lantern.beginAdInteraction,
  endAdInteraction: Lantern.endAdInteraction, dismiss: Lantern.dismiss
};
)JS";

// Placeholder: the margin in pixels.
inline constexpr std::string_view kLanternStyle = R"CSS(
body:not(.tgadwidget) .collapsed { min-height: 50px; overflow: hidden; position: relative; }
body:not(.tgadwidget) .collapsed img { position: absolute; left: 0; }
.expanded { position: relative !important; text-align: center !important; }
.tgadwidget { text-align: center; overflow-x: hidden; overflow-y: hidden; margin: %@px;
  -webkit-touch-callout: none; -webkit-user-select: none; -webkit-text-size-adjust: none;
  -webkit-tap-highlight-color: rgba(0,0,0,0); }
)CSS";

// Placeholder: the foreground colour.
inline constexpr std::string_view kLanternBannerStyle = R"CSS(
a#tgAdText { color: %@; }
)CSS";

// Placeholders: width, height, width, height.
inline constexpr std::string_view kLanternInterstitialStyle = R"CSS(
#outer { display: table; width: %@px; height: %@px; }
#inner { display: table-cell; vertical-align: middle; }
#size { max-width: %@px; max-height: %@px; overflow: auto; }
)CSS";

// Placeholders: script, style, ad markup.
inline constexpr std::string_view kBannerPage = R"HTML(<html><head>
<meta name="viewport" content="width=device-width, user-scalable=no"/>
<script type="text/javascript">%@</script>
<style type="text/css">%@</style>
</head><body class="tgadwidget" onload="Lantern.onLoad()" onunload="Lantern.onUnload()">
%@
<script type="text/javascript">try { Lantern.preLoad(); } catch (e) { alert(e); }</script>
</body></html>
)HTML";

// Placeholders: script, style, ad markup.
inline constexpr std::string_view kInterstitialPage = R"HTML(<html><head>
<meta name="viewport" content="width=device-width, user-scalable=no"/>
<script type="text/javascript">%@</script>
<style type="text/css">%@</style>
</head><body class="tgadwidget" onload="Lantern.onLoad()" onunload="Lantern.onUnload()">
<div id="outer"><div id="inner">%@</div></div>
<script type="text/javascript">Lantern.preLoad();</script>
</body></html>
)HTML";

// Outside applications to probe: application name -> a URL the device can open only when the
// application is installed. No placeholders.
inline constexpr std::string_view kApplicationSupport = R"PLIST(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>facebook</key>
	<string>fb://test</string>
	<key>tweetie</key>
	<string>tweetie://test</string>
	<key>twitteriffic</key>
	<string>twitteriffic://test</string>
	<key>tel</key>
	<string>tel:5555550100</string>
	<key>skype</key>
	<string>skype:5555550100/call</string>
</dict>
</plist>
)PLIST";

// The video page of a click. Placeholders: viewport width, orientation word ("portrait" or
// "landscape"), player width, player height, video id, player width, player height, prompt.
inline constexpr std::string_view kYoutubePage = R"HTML(<html><head>
<meta name="viewport" content="width=%@, user-scalable=no"/>
<style type="text/css">
body { margin: 0; background-color: #000; color: #fff; font-family: Helvetica; }
.container { text-align: center; }
.container.portrait .spacer { height: 50px; }
.container.landscape .spacer { height: 0; }
.prompt { font-size: 17px; text-align: center; }
</style>
<script type="text/javascript">
function rotate(w, h) {
  var c = document.getElementById("container");
  c.className = "container " + (w > h ? "landscape" : "portrait");
}
</script>
</head><body>
<div id="container" class="container %@">
<div class="spacer"></div>
<object width="%@" height="%@">
<param name="wmode" value="transparent"></param>
<param name="allowFullScreen" value="false"></param>
<param name="allowscriptaccess" value="always"></param>
<embed src="http://www.youtube.com/v/%@?enablejsapi=1&amp;version=3" type="application/x-shockwave-flash" wmode="transparent" allowfullscreen="false" allowscriptaccess="always" width="%@" height="%@"></embed>
</object>
<div class="prompt">%@</div>
</div>
</body></html>
)HTML";

} // namespace tangent
