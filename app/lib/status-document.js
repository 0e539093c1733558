'use strict';
// Builds the plain-text status document that GET /api/connector/desktop answers: exactly 15 lines, each
// ended by a line feed, at most 36 000 bytes of UTF-8 without a zero byte. The launcher accepts a document
// all or nothing, so everything that varies is made safe here: free texts become one line of well-formed
// UTF-8 short enough for the window's fixed buffers, and keywords are checked before they are written.

const FORMAT_TAG = 'tovix-connector-desktop/2';
const MAX_DOCUMENT_BYTES = 36000;
const STATES = ['idle', 'connecting', 'online', 'offline', 'error'];
const RELAYS = ['quorbelapi', 'thirdparty'];

// Limits in UTF-16 code units, below the window's buffers (device name 512, workbench detail 300 with a
// prefix, message 512, project count 300, version 300, link 2048) so that no text is refused there.
const LIMITS = {
  deviceName: 100,
  workbenchDetail: 200,
  message: 200,
  projectCount: 20,
  newVersion: 100,
  updateLink: 2048,
};

// Line breaks, every other control character (C0, DEL, C1) and the Unicode line and paragraph separators
// would split or garble a line; each becomes a space. Lone surrogates become U+FFFD, so the UTF-8 encoding
// is always valid.
const UNSAFE = /[\u0000-\u001f\u007f-\u009f\u2028\u2029]/g;

function wellFormed(text) {
  return text.replace(/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g, '\ufffd');
}

// One line of at most maxUnits UTF-16 code units; a longer text is cut on a character boundary and ends
// with an ellipsis, so the cut is visible.
function singleLine(value, maxUnits) {
  let text = wellFormed(String(value ?? '')).replace(UNSAFE, ' ').trim();
  if (text.length > maxUnits) {
    let end = maxUnits - 1;
    const last = text.charCodeAt(end - 1);
    if (last >= 0xd800 && last <= 0xdbff) end -= 1;
    text = text.slice(0, end) + '\u2026';
  }
  return text;
}

// The update offer is all or nothing: a version or link that would have to be cut is not offered.
function updateOffer(version, link) {
  const v = singleLine(version, Number.MAX_SAFE_INTEGER);
  const l = String(link ?? '');
  if (!v || !l || v.length > LIMITS.newVersion) return { newVersion: '', updateLink: '' };
  if (l.length > LIMITS.updateLink || Buffer.byteLength(l) > LIMITS.updateLink) return { newVersion: '', updateLink: '' };
  if (!/^https:\/\/[^\u0000-\u0020\\\u007f-\u009f\u2028\u2029]+$/.test(l)) return { newVersion: '', updateLink: '' };
  let url;
  try { url = new URL(l); } catch { return { newVersion: '', updateLink: '' }; }
  if (url.protocol !== 'https:' || !url.hostname || url.username || url.password) return { newVersion: '', updateLink: '' };
  return { newVersion: v, updateLink: l };
}

function keyword(value, allowed, fallback) {
  return allowed.includes(value) ? value : fallback;
}

// view: { state, deviceName, workbenchState, workbenchDetail, message, projectCount, pairing, newVersion,
// updateLink, relayProvider }, where pairing is null, { paired: true } or { expiresAt, code, size, bits }.
function formatStatusDocument(view) {
  const state = keyword(view.state, STATES, 'error');
  const offer = updateOffer(view.newVersion, view.updateLink);
  const lines = [
    FORMAT_TAG,
    state,
    singleLine(view.deviceName, LIMITS.deviceName),
    singleLine(view.workbenchState, 20),
    singleLine(view.workbenchDetail, LIMITS.workbenchDetail),
    singleLine(view.message, LIMITS.message),
    singleLine(view.projectCount, LIMITS.projectCount),
    '', '', '', '', '',
    offer.newVersion,
    offer.updateLink,
    keyword(view.relayProvider, RELAYS, 'quorbelapi'),
  ];
  const p = view.pairing;
  if (p && p.paired) {
    lines[7] = 'paired';
  } else if (p && state === 'online' && isOfferableCode(p)) {
    lines[7] = 'code';
    lines[8] = String(p.expiresAt);
    lines[9] = p.code;
    lines[10] = String(p.size);
    lines[11] = p.bits;
  }
  let text = lines.join('\n') + '\n';
  if (Buffer.byteLength(text) > MAX_DOCUMENT_BYTES) {
    // Cannot happen within the limits above (the largest symbol leaves more than 4 KB); should it ever,
    // the optional texts go first, never the pairing lines.
    lines[4] = lines[5] = lines[12] = lines[13] = '';
    text = lines.join('\n') + '\n';
  }
  return text;
}

function isOfferableCode(p) {
  return Number.isSafeInteger(p.expiresAt) && p.expiresAt > 0 && String(p.expiresAt).length <= 15 &&
    /^[0-9]{6}$/.test(p.code) && Number.isInteger(p.size) && p.size >= 21 && p.size <= 177 &&
    p.size % 4 === 1 && typeof p.bits === 'string' && p.bits.length === p.size * p.size && /^[01]*$/.test(p.bits);
}

module.exports = { FORMAT_TAG, MAX_DOCUMENT_BYTES, STATES, RELAYS, LIMITS, singleLine, updateOffer, formatStatusDocument };
