// Runs in every frame: tells the service worker that the page changed without navigating
// (a single-page app showing a form), at most a few times a second. It sends no page text;
// the service worker reads the page itself when the agent wants it.
(() => {
  const SPACING_MS = 250;
  let pending = null;
  let last = 0;

  function tell() {
    pending = null;
    last = Date.now();
    try {
      chrome.runtime.sendMessage({ type: "changed" }).catch(() => {});
    } catch (e) {
      // The extension was reloaded: this frame's script is orphaned.
      observer.disconnect();
    }
  }

  const observer = new MutationObserver(() => {
    if (pending !== null) return;
    pending = setTimeout(tell, Math.max(0, last + SPACING_MS - Date.now()));
  });
  observer.observe(document, { childList: true, subtree: true, characterData: true, attributes: true });
})();
