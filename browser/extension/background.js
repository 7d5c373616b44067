// Reports the page of the active tab of each browser window to the call-recording agent,
// through the native messaging host, as soon as it changes. The agent never asks the
// browser during an inspection: it reads what was reported last.
//
// To the host:   {"type":"page", "window", "tab", "title", "url", "domain"[, "body"]}
//                {"type":"closed", "window"}
//                {"type":"snapshot", "windows": [page...]}   every window, when asked
// From the host: {"type":"bodies", "wanted": bool}            also asks for a snapshot
//
// The body is only read and sent while the agent wants bodies (some rule reads them).

const HOST = "com.kzbdka.pagehost";
const RECONNECT_MS = 1000;
const MARK = "#".repeat(64);
const BODY_MARK = "\r\n" + MARK + " - Body\r\n";
const EMBEDDED_MARK = "\r\n" + MARK + " - Embedded Documents\r\n";

let port = null;
let bodiesWanted = false;
// The last message sent per window (its JSON), so that what did not change is not sent again.
const lastSent = new Map();
// A newer report of a window makes an older one still being read obsolete.
const generation = new Map();

function connect() {
  if (port) return;
  try {
    port = chrome.runtime.connectNative(HOST);
  } catch (e) {
    port = null;
    setTimeout(connect, RECONNECT_MS);
    return;
  }
  lastSent.clear();
  port.onMessage.addListener(onHostMessage);
  port.onDisconnect.addListener(() => {
    // Reading lastError marks it seen; the host or the browser's wiring is gone.
    void chrome.runtime.lastError;
    port = null;
    lastSent.clear();
    setTimeout(connect, RECONNECT_MS);
  });
  // The host relays the agent's demand when the agent is there; until then nothing is sent.
}

function send(message) {
  if (!port) return false;
  try {
    port.postMessage(message);
    return true;
  } catch (e) {
    return false;
  }
}

function onHostMessage(message) {
  if (!message || message.type !== "bodies" || typeof message.wanted !== "boolean") return;
  bodiesWanted = message.wanted;
  sendSnapshot();
}

function domainOf(url) {
  try {
    return new URL(url).hostname;
  } catch (e) {
    return "";
  }
}

// The body as the agent reads it for any browser: each frame's body HTML inside its marker
// lines, the frames it embeds nested in its "Embedded Documents" part, cross-origin frames
// included.
async function readBody(tabId) {
  let results, frames;
  try {
    [results, frames] = await Promise.all([
      chrome.scripting.executeScript({
        target: { tabId, allFrames: true },
        func: () => (document.body ? document.body.innerHTML : ""),
      }),
      chrome.webNavigation.getAllFrames({ tabId }),
    ]);
  } catch (e) {
    return ""; // a page the extension may not read (the browser's own pages)
  }
  const html = new Map();
  for (const result of results || []) html.set(result.frameId, typeof result.result === "string" ? result.result : "");
  const children = new Map();
  for (const frame of (frames || []).sort((a, b) => a.frameId - b.frameId)) {
    if (frame.parentFrameId < 0) continue;
    if (!children.has(frame.parentFrameId)) children.set(frame.parentFrameId, []);
    children.get(frame.parentFrameId).push(frame.frameId);
  }
  const build = (frameId, depth) =>
    BODY_MARK +
    (html.get(frameId) || "") +
    EMBEDDED_MARK +
    (depth < 32 ? (children.get(frameId) || []).map((child) => build(child, depth + 1)).join("") : "");
  return build(0, 0);
}

async function pageOf(tab) {
  const page = {
    window: tab.windowId,
    tab: tab.id,
    title: tab.title || "",
    url: tab.url || "",
    domain: domainOf(tab.url || ""),
  };
  if (bodiesWanted) page.body = await readBody(tab.id);
  return page;
}

async function reportWindow(windowId) {
  const current = (generation.get(windowId) || 0) + 1;
  generation.set(windowId, current);
  let tab;
  try {
    [tab] = await chrome.tabs.query({ active: true, windowId });
  } catch (e) {
    return;
  }
  if (!tab) return;
  const page = await pageOf(tab);
  if (generation.get(windowId) !== current) return; // a newer report is on its way
  const message = { type: "page", ...page };
  const text = JSON.stringify(message);
  if (lastSent.get(windowId) === text) return;
  if (send(message)) lastSent.set(windowId, text);
}

function reportClosed(windowId) {
  generation.set(windowId, (generation.get(windowId) || 0) + 1);
  lastSent.delete(windowId);
  send({ type: "closed", window: windowId });
}

async function sendSnapshot() {
  let windows;
  try {
    windows = await chrome.windows.getAll({ populate: true });
  } catch (e) {
    return;
  }
  const pages = [];
  for (const window of windows) {
    const tab = (window.tabs || []).find((t) => t.active);
    if (tab) pages.push(await pageOf(tab));
  }
  lastSent.clear();
  for (const page of pages) lastSent.set(page.window, JSON.stringify({ type: "page", ...page }));
  for (const windowId of generation.keys()) generation.set(windowId, generation.get(windowId) + 1);
  send({ type: "snapshot", windows: pages });
}

chrome.tabs.onActivated.addListener(({ windowId }) => reportWindow(windowId));
chrome.tabs.onUpdated.addListener((tabId, change, tab) => {
  if (tab.active && (change.url !== undefined || change.title !== undefined || change.status === "complete"))
    reportWindow(tab.windowId);
});
chrome.tabs.onRemoved.addListener((tabId, info) => {
  if (info.isWindowClosing) reportClosed(info.windowId);
});
chrome.tabs.onAttached.addListener((tabId, info) => reportWindow(info.newWindowId));
chrome.tabs.onDetached.addListener((tabId, info) => reportWindow(info.oldWindowId));
chrome.windows.onRemoved.addListener((windowId) => {
  domReport.delete(windowId);
  reportClosed(windowId);
});
chrome.windows.onFocusChanged.addListener((windowId) => {
  if (windowId !== chrome.windows.WINDOW_ID_NONE) reportWindow(windowId);
});
// A page that changed without navigating; only its body can tell. Every frame of a tab may
// tell, so the reports of a window are spaced here too.
const DOM_SPACING_MS = 250;
const domReport = new Map(); // window -> {timer, last}
chrome.runtime.onMessage.addListener((message, sender) => {
  if (!message || message.type !== "changed" || !sender.tab || !sender.tab.active || !bodiesWanted) return;
  const windowId = sender.tab.windowId;
  const state = domReport.get(windowId) || { timer: null, last: 0 };
  domReport.set(windowId, state);
  if (state.timer !== null) return;
  state.timer = setTimeout(() => {
    state.timer = null;
    state.last = Date.now();
    reportWindow(windowId);
  }, Math.max(0, state.last + DOM_SPACING_MS - Date.now()));
});
chrome.runtime.onStartup.addListener(connect);
chrome.runtime.onInstalled.addListener(connect);

connect();
