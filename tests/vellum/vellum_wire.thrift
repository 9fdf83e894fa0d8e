// The tracking library's wire schema, written independently of the hand-written structs so
// that the Thrift compiler's generated code can check them: same ids, types and names.
// Every field is optional, so a field is written only when it is set, as ours are.
// Built into the tests and the benchmark only.

namespace cpp wirecheck

struct MRStringData {
  1: optional string key,
  2: optional string value,
}

struct MRNumberData {
  1: optional string key,
  2: optional double value,
}

struct MRAdEventURL {
  1: optional i16 id,
  2: optional string url,
  3: optional i16 visitCount,
}

struct MRAdEventBreadcrumb {
  1: optional i16 urlID,
  2: optional double duration,
  3: optional string viewStart,
}

struct AdEvent {
  1: optional string eventID,
  2: optional string key,
  3: optional string time,
  4: optional string adID,
  5: optional i32 conn,
  6: optional double lat,
  7: optional double lon,
  8: optional double alt,
  9: optional i16 uCount,
  10: optional i16 uDur,
  11: optional map<string, string> uDict,
  12: optional double horizontalAccuracy,
  13: optional double verticalAccuracy,
  14: optional map<string, i16> urlCounts,
  15: optional i32 adExit,
  16: optional i16 countHr,
  17: optional i16 countDay,
  18: optional i16 countMon,
  19: optional list<MRStringData> stringValues,
  20: optional list<MRNumberData> numericValues,
  21: optional list<MRAdEventBreadcrumb> breadcrumbs,
  22: optional list<MRAdEventURL> visitedAdEventLinks,
  23: optional list<MRNumberData> durationValues,
  24: optional double direction,
  25: optional double directionAccuracy,
  26: optional string adSlotName,
  27: optional string adVersion,
  28: optional string adChildAdID,
  29: optional string adParentAdID,
  30: optional i16 adIsAClone,
}

struct Event {
  1: optional string eventID,
  2: optional string key,
  3: optional string time,
  4: optional i32 conn,
  5: optional i16 countHr,
  6: optional i16 countDay,
  7: optional i16 countMon,
  8: optional double lat,
  9: optional double lon,
  10: optional double alt,
  11: optional i16 uCount,
  12: optional i16 uDur,
  13: optional map<string, string> uDict,
  14: optional double horizontalAccuracy,
  15: optional double verticalAccuracy,
  16: optional list<MRStringData> stringValues,
  17: optional list<MRNumberData> numericValues,
  18: optional list<MRNumberData> durationValues,
  19: optional double direction,
  20: optional double directionAccuracy,
}

struct Run {
  1: optional string id,
  2: optional string appVersion,
  3: optional i64 interval,
  4: optional string start,
  5: optional i16 dur,
  6: optional bool abEnd,
  7: optional bool first,
  8: optional bool firstHr,
  9: optional bool firstDay,
  10: optional bool firstMon,
  11: optional i16 countHr,
  12: optional i16 countDay,
  13: optional i16 countMon,
  14: optional list<AdEvent> adEvents,
  15: optional list<Event> events,
  16: optional string systemVersion,
  17: optional string rev,
}

struct BroadcastData {
  1: optional string time,
  2: optional bool locTrOn,
  3: optional bool locSrvOn,
  4: optional double lat,
  5: optional double lon,
  6: optional double alt,
  7: optional double horizontalAccuracy,
  8: optional double verticalAccuracy,
  9: optional list<Run> runs,
  10: optional string rev,
}

struct MRClientRequest {
  1: optional string tok,
  2: optional string deviceID,
  3: optional string b,
  5: optional string v,
  4: optional string dev,
  6: optional string sysv,
  7: optional string model,
  8: optional string appv,
  9: optional string app,
  10: optional string sys,
  11: optional BroadcastData broadcastData,
  12: optional string ipAddress,
  13: optional string requestTime,
  14: optional list<AdEvent> adEvents,
  15: optional list<Event> events,
}

struct ECActionResponse {
  1: optional list<string> receivedEvents,
  2: optional list<string> receivedAdEvents,
  3: optional i32 minBroadcastInterval,
  4: optional string broadcastURL,
  5: optional string clientToken,
  6: optional string appTok,
  7: optional string devTok,
  8: optional string debugMessage,
  9: optional string userMessage,
  10: optional string userMessageURL,
  11: optional bool shutdown,
  12: optional bool kill,
  13: optional bool dcEnabled,
  14: optional list<string> receivedRuns,
  15: optional list<string> adInstructions,
}

struct MRAdUpdate {
  1: optional i16 adVersion,
  2: optional string updateBundleURL,
}

struct MRAdControl {
  1: optional string adControl,
}

struct MRAdDownload {
  1: optional string adID,
  2: optional i16 adVersion,
  3: optional string bundleURL,
  4: optional list<MRAdUpdate> updates,
  5: optional string adControlPlist,
  6: optional MRAdControl adControl,
}

struct MRSlotZeroResponse {
  1: optional list<MRAdDownload> adDownloads,
  2: optional string appSettings,
}
