'use strict';
// Script of /connect.html: shows the connector's state (polled every second from /api/connector/snapshot),
// draws the pairing QR symbol from its module matrix and counts the code down; its buttons play the phone
// and the simulated relay. The connector's secret comes in the page's address, as the launcher's window
// opens it: /connect.html#token=<secret>; every request sends it as "Authorization: Bearer <secret>".

const PILLS = {
  online: '●  已连接', idle: '●  未连接', connecting: '●  正在连接', offline: '●  连接中断', error: '●  连接失败',
};
const RELAY_NAMES = { quorbelapi: '默认中继', thirdparty: '三方中继' };
const $ = (id) => document.getElementById(id);
let snapshot = null;
let clockOffset = 0;
let drawnBits = '';
let poll = null;

// The secret is kept for this tab, so that a reload still works, and taken out of the address bar at
// once, so that it is neither shown nor bookmarked nor copied along with the address.
const TOKEN_KEY = 'tovix-connector-token';
const token = (() => {
  const given = new URLSearchParams(location.hash.slice(1)).get('token');
  if (!given) return sessionStorage.getItem(TOKEN_KEY) || '';
  sessionStorage.setItem(TOKEN_KEY, given);
  history.replaceState(null, '', location.pathname + location.search);
  return given;
})();

function api(path, options = {}) {
  const headers = { ...options.headers, ...(token ? { Authorization: `Bearer ${token}` } : {}) };
  return fetch(path, { cache: 'no-store', ...options, headers });
}

// Refused for the secret (none given, or one from an earlier start of the connector): only the window can
// help, so the page says where to open it from and stops asking.
function showSecretHint() {
  sessionStorage.removeItem(TOKEN_KEY);
  clearInterval(poll);
  snapshot = null;
  $('secretHint').hidden = false;
  $('pill').textContent = '●  未获授权';
  $('pill').className = 'row idle';
  showQr(false);
  $('code').textContent = '';
  $('placeholder').textContent = '请从连接器窗口打开本页';
}

function drawQr(size, bits) {
  const svg = $('qr');
  if (bits === drawnBits) return;
  drawnBits = bits;
  const quiet = 4;
  const total = size + 2 * quiet;
  svg.setAttribute('viewBox', `0 0 ${total} ${total}`);
  let d = '';
  for (let r = 0; r < size; r++) {
    for (let c = 0; c < size; c++) {
      if (bits.charCodeAt(r * size + c) === 49) d += `M${c + quiet} ${r + quiet}h1v1h-1z`;
    }
  }
  svg.innerHTML = `<rect width="${total}" height="${total}" fill="#fff"/><path fill="#000" d="${d}"/>`;
}

// The symbol or, in its place, the placeholder text. An SVG element has no `hidden` property: its attribute
// is set directly.
function showQr(on) {
  $('qr').toggleAttribute('hidden', !on);
  $('placeholder').hidden = on;
}

function countdown() {
  const p = snapshot && snapshot.pairing;
  if (!p || p.state !== 'code') return;
  const remaining = p.expiresAt - (Date.now() + clockOffset);
  if (remaining <= 0) {
    $('code').textContent = '';
    showQr(false);
    $('placeholder').textContent = '二维码已过期，正在更新…';
    return;
  }
  const seconds = Math.ceil(remaining / 1000);
  $('code').textContent = `配对码 ${p.code}  ·  剩余 ${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
}

function show(s) {
  snapshot = s;
  clockOffset = s.now - Date.now();
  const pill = $('pill');
  pill.textContent = PILLS[s.state] || PILLS.error;
  pill.className = `row ${s.state}`;
  $('device').textContent = s.deviceName;
  $('relay').textContent = `${RELAY_NAMES[s.relayProvider] || s.relayProvider}（模拟）`;
  const w = s.workbench;
  $('workbench').textContent = w.state === 'ready' ? `已找到 Tovix 工作台 · ${w.detail}`
    : w.state === 'checking' ? '正在检测 Tovix 工作台…' : '尚未找到可用的 Tovix 工作台';
  $('projects').textContent = w.projectCount ? `Tovix 工作台 · ${w.projectCount} 个本地项目` : '';
  $('message').textContent = s.message;
  $('update').textContent = s.update.version ? `发现新版本 ${s.update.version}：${s.update.link}` : '';
  const p = s.pairing;
  const showing = p.state === 'code';
  showQr(showing);
  if (showing) {
    drawQr(p.size, p.bits);
    countdown();
  } else {
    $('code').textContent = '';
    $('placeholder').textContent = p.state === 'paired' ? `✓  手机已配对（${p.phoneName}）`
      : s.state === 'connecting' ? '正在连接，稍后显示二维码…'
        : s.state === 'offline' ? '连接恢复后可扫码'
          : s.state === 'online' ? '正在生成配对二维码…' : '在桌面窗口点击「开始连接」后显示二维码';
  }
}

async function refresh() {
  if (!$('secretHint').hidden) return;
  try {
    const answer = await api('/api/connector/snapshot');
    if (answer.status === 401) { showSecretHint(); return; }
    show(await answer.json());
  } catch {
    $('pill').textContent = '●  服务不可用';
    $('pill').className = 'row idle';
  }
}

// The answer's status (0 when the connector did not answer) and its JSON body; the page is refreshed
// either way.
async function post(path, body) {
  let status = 0;
  let json = {};
  try {
    const answer = await api(path, {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
    });
    status = answer.status;
    json = await answer.json().catch(() => ({}));
  } catch {
    // no answer: the refresh shows the connector as unavailable
  }
  if (status === 401) showSecretHint();
  await refresh();
  return { status, json };
}

function waitText(ms) {
  const seconds = Math.ceil(ms / 1000);
  return seconds < 60 ? `${seconds} 秒` : `${Math.ceil(seconds / 60)} 分钟`;
}

const PAIR_RESULTS = {
  0: '连接器没有应答', 200: '✓ 已配对', 409: '配对码不正确或已失效', 403: '请通过 http://127.0.0.1:端口/connect.html 打开本页',
  401: '请从连接器窗口打开本页',
};
async function pair(code) {
  $('result').textContent = '正在配对…';
  const { status, json } = await post('/api/connector/pairing/pair', { code, phoneName: '演示手机' });
  $('result').textContent = status === 429 ? `错误次数过多，配对已暂停，请 ${waitText(json.retryAfterMs)}后再试`
    : PAIR_RESULTS[status] || `失败（${status}）`;
}

$('pairTyped').addEventListener('click', () => pair($('codeInput').value.trim()));
$('pairScanned').addEventListener('click', () => {
  const p = snapshot && snapshot.pairing;
  if (p && p.state === 'code') pair(p.code);
  else $('result').textContent = '当前没有可扫描的二维码';
});
for (const button of document.querySelectorAll('button[data-event]')) {
  button.addEventListener('click', () => post('/api/connector/simulate', { event: button.dataset.event }));
}
poll = setInterval(refresh, 1000);
refresh();
setInterval(countdown, 250);
