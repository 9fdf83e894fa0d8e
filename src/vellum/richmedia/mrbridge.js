// mrbridge.js: the page side of the rich-media script bridge. An ad page includes it and
// talks to the client through the global object Device (also MRBridge).
//
// Every call to the client sets the page's location to "mrbridge:" followed by the command
// name and, with arguments, "?" and key=value pairs joined by "&", each value escaped. The
// client answers later by calling the setters below (Device.SDKVersion.set(...), ...).
(function (global) {
    function send(command, args) {
        var url = 'mrbridge:' + command;
        if (args && args.length) {
            var pairs = [];
            for (var i = 0; i < args.length; i++)
                pairs.push(args[i][0] + '=' + escape(args[i][1] === undefined || args[i][1] === null ? '' : String(args[i][1])));
            url += '?' + pairs.join('&');
        }
        global.document.location = url;
    }

    var Device = {
        available: false,
        bridgeVersion: null,
        model: null,
        version: null,
        uuid: null,
        initCallback: null
    };

    // A value the client reports: its callback runs once the bridge is up.
    function member(command) {
        var m = {
            callback: null,
            init: function (callback) { m.callback = callback; },
            set: function () {
                if (m.callback && Device.available)
                    m.callback.apply(null, arguments);
            },
            get: function () { send(command); }
        };
        return m;
    }

    // A notice the client sends around expansion.
    function notice() {
        var n = {
            callback: null,
            init: function (callback) { n.callback = callback; },
            set: function () {
                if (n.callback)
                    n.callback();
            }
        };
        return n;
    }

    // ---- Tracking events: queued and sent in batches ----
    var queue = [];
    var flushTimer = null;
    var timestamps = false;

    function timestampSuffix() {
        return timestamps ? '&_MR_Timestamp=' + Math.floor(new Date().getTime() / 1000) : '';
    }

    function flush() {
        if (flushTimer !== null) {
            global.clearTimeout(flushTimer);
            flushTimer = null;
        }
        if (!queue.length)
            return;
        var events = [];
        for (var i = 0; i < queue.length; i++)
            events.push(escape(queue[i]));
        queue = [];
        global.document.location = 'mrbridge:batchedEvents?' + events.join('&');
    }

    function queueEvent(command, key, value) {
        var text = command;
        if (key !== undefined || value !== undefined) {
            text += '?';
            var parts = [];
            if (key !== undefined)
                parts.push('key=' + escape(String(key)));
            if (value !== undefined)
                parts.push('val=' + escape(String(value)));
            text += parts.join('&');
        }
        queue.push(text);
        if (flushTimer === null)
            flushTimer = global.setTimeout(flush, 100);
    }

    Device.init = function (bridgeVersion, model, version, uuid) {
        Device.available = true;
        Device.bridgeVersion = bridgeVersion;
        Device.model = model;
        Device.version = version;
        Device.uuid = uuid;
        // The client calls init at load start and at load end: the page's own unload
        // handler is wrapped only once.
        if (!Device.unloadWrapped) {
            Device.unloadWrapped = true;
            var saved = global.onunload;
            global.onunload = function () {
                if (saved)
                    saved.apply(this, arguments);
                flush();
            };
        }
        if (Device.initCallback && !Device.initCalled) {
            Device.initCalled = true;
            Device.initCallback();
        }
    };

    Device.DeviceID = member('getDeviceID');
    Device.SDKVersion = member('getSDKVersion');
    Device.BatteryLevel = member('getBatteryLevel');
    Device.AdRequest = member('getAdRequest');
    Device.Location = member('getloc');
    Device.AdData = {
        adID: member('getAdID'),
        onExpandStart: notice(),
        onExpandComplete: notice(),
        onCollapseStart: notice(),
        onCollapseComplete: notice()
    };

    Device.Orientation = {
        angle: 0,
        callback: null,
        init: function (callback) {
            Device.Orientation.callback = callback;
            send('initOrientation');
        },
        get: function () { send('initOrientation'); },
        set: function (angle) {
            Device.Orientation.angle = angle;
            if (Device.Orientation.callback)
                Device.Orientation.callback(angle);
        }
    };

    Device.AdShutDown = {
        callback: null,
        init: function (callback) {
            Device.AdShutDown.callback = callback;
            send('initAdShutDown');
        },
        get: function () { send('initAdShutDown'); },
        set: function () {
            if (Device.AdShutDown.callback && Device.available)
                Device.AdShutDown.callback();
        }
    };

    var Acceleration = {
        accelX: 0, accelY: 0, accelZ: 0,
        rollingX: 0, rollingY: 0, rollingZ: 0,
        updateFreq: 1 / 40,
        shakeThreshold: 2.0,
        filteringFactor: 0.1,
        callback: null,
        shakeCallback: null,
        _callback: function (x, y, z, rx, ry, rz) {
            Acceleration.accelX = x; Acceleration.accelY = y; Acceleration.accelZ = z;
            Acceleration.rollingX = rx; Acceleration.rollingY = ry; Acceleration.rollingZ = rz;
            if (Acceleration.callback && Device.available)
                Acceleration.callback(x, y, z, rx, ry, rz);
        },
        observe: function (start, interval) {
            if (typeof start !== 'boolean')
                start = true;
            if (typeof interval === 'number')
                Acceleration.updateFreq = interval;
            send('getaccel', [['start', start], ['freq', Acceleration.updateFreq],
                              ['filteringFactor', Acceleration.filteringFactor],
                              ['shakeThreshold', Acceleration.shakeThreshold]]);
        }
    };
    Device.Acceleration = Acceleration;
    Device.observeAccel = function (start, interval) { Acceleration.observe(start, interval); };

    // ---- Direct commands ----
    Device.launchYoutube = function (url) { if (Device.available) send('launchYoutube', [['url', url]]); };
    Device.log = function (message) { if (Device.available) send('log', [['message', message]]); };
    Device.exec = function (text) { if (Device.available) global.document.location = 'mrbridge:' + text; };
    Device.vibrate = function () { send('vibrate'); };
    Device.playsound = function (file) {
        if (!Device.available) {
            global.setTimeout(function () { Device.playsound(file); }, 500);
            return;
        }
        send('playsound', [['file', file]]);
    };
    Device.dismissBrowser = function () { send('dismissBrowser'); };
    Device.audioPlayBackDidStart = function () { send('audioPlayBackDidStart'); };
    Device.audioPlayBackDidFinish = function () { send('audioPlayBackDidFinish'); };
    Device.screenCapture = function (filename) { send('screenCapture', [['filename', filename]]); };
    Device.launchApp = function (appURL, alternateID) {
        send('launchApp', [['appURL', appURL], ['alternateID', alternateID]]);
    };
    Device.passThruClickEvent = function (x, y) { send('passThruClickEvent', [['x', x], ['y', y]]); };
    Device.playVideo = function (videoURL, videoKey) {
        var args = [['videoURL', videoURL]];
        if (videoKey !== undefined && videoKey !== null)
            args.push(['videoKey', videoKey]);
        send('playVideo', args);
    };
    Device.expandAd = function () { send('expandAd'); };
    Device.forceExpand = function () { send('forceExpand'); };
    Device.deactivateAppLevelSwipe = function () { send('deactivateAppLevelSwipe'); };
    Device.activateAppLevelSwipe = function () { send('activateAppLevelSwipe'); };
    Device.dismissAd = function () {
        flush();
        send('dismissAd');
    };

    Device.sendData = function (data, duration) {
        var pairs = [];
        for (var key in data) {
            if (typeof key !== 'string')
                continue;
            var value = data[key];
            pairs.push(key + '=' + (value === undefined || value === null ? '' : escape(String(value))));
        }
        var url = 'mrbridge:sendData?' + pairs.join('&');
        if (typeof duration === 'number')
            url += '&MRUserDuration=' + duration;
        global.document.location = url + timestampSuffix();
    };
    Device.sendTimestamps = function () { timestamps = true; };

    Device.trackingEvent = {
        setString: function (key, value) { queueEvent('setTrackingEventString', key, value); },
        setNumber: function (key, number) { queueEvent('setTrackingEventNumber', escape(String(key)), number); },
        setValue: function (key, value) {
            if (typeof value === 'number')
                queueEvent('setTrackingEventNumber', escape(String(key)), value);
            else if (typeof value === 'string')
                queueEvent('setTrackingEventString', key, value);
        },
        setValues: function (object) {
            for (var key in object) {
                var value = object[key];
                if (typeof value === 'number' || typeof value === 'string')
                    Device.trackingEvent.setValue(key, value);
            }
        },
        setDurationForKey: function (key, duration) { queueEvent('setDurationForKey', key, duration); },
        startTimerForKey: function (key) { queueEvent('startTimerForKey', key); },
        endTimerForKey: function (key) { queueEvent('endTimerForKey', key); },
        incrementKey: function (key) {
            var suffix = timestampSuffix();
            queueEvent('incrementKey', escape(String(key)), suffix ? suffix : undefined);
        }
    };

    global.Device = Device;
    global.MRBridge = Device;
})(this);
