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
  L.executeCallback = function (id) {
    var callback = L.callbacks[id];
    delete L.callbacks[id];
    if (typeof callback === "function") callback();
  };
  L.preLoad = function () { force("documentLoadStatus:", ["preload"]); };
  L.onLoad = function () {
    if (L.loaded) return;
    L.loaded = true;
    force("documentLoadStatus:", ["onload"]);
  };
  L.onUnload = function () { send("documentLoadStatus:", ["onunload"]); };
  L.beginDisplay = function () { L.displayed = true; };
  L.beginAdInteraction = function () { send("beginAdInteraction:", [""]); };
  L.endAdInteraction = function () { send("endAdInteraction:", [""]); };
  L.expandTo = function (width, height, callback, transition, options) {
    send("width:height:transition:callback:options:",
         [width, height, transitionNumber(transition), stash(callback), optionText(options)]);
    L.beginAdInteraction();
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
  L.log = function (message) { send("logMessage:", [message]); };
  L.locationUpdated = function (position) { L.position = position; };
  L.locationError = function (code) { L.locationStatus = code || 2; };
  return L;
})();
var AdDevice = {
  openUri: Lantern.openUri, transitions: Lantern.transitions, expandTo: Lantern.expandTo,
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

} // namespace tangent
