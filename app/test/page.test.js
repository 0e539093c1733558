'use strict';
// The page /connect.html in a real browser (Debian's chromium, headless) at a phone's size, against a
// connector in this process with a secret, opened as the launcher's window opens it: it loads cleanly,
// takes the secret out of its address, shows what the status document says, pairs as the phone, refuses
// wrong codes until the code is replaced and pairing pauses, and never scrolls sideways. Opened without
// the secret it says where to open it from. A screenshot of the page with its QR code goes to
// TOVIX_PAGE_SCREENSHOT (the test command points it into the build tree).

const { describe, before, after, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startTestConnector, newToken } = require('../test-support/helpers');
const { PHONE, PAIRED_RESULT, launchBrowser, openPage, enterCode } = require('../test-support/pair-in-browser');
const { MAX_WRONG_CODES } = require('../lib/connector-state');

const SCREENSHOT = process.env.TOVIX_PAGE_SCREENSHOT || path.join(os.tmpdir(), 'tovix-connect-page.png');
const UPDATE = { updateVersion: '1.2.0', updateLink: 'https://downloads.tovix.example/mobile-connector/releases/1.2.0/TovixMobileConnectorSetup-1.2.0.msi' };
const PILLS = { idle: '●  未连接', connecting: '●  正在连接', online: '●  已连接', offline: '●  连接中断', error: '●  连接失败' };

// What the page must show for a status document, in the page's wording.
function expectedTexts(s) {
  return {
    pill: PILLS[s.state],
    device: s.deviceName,
    relay: `${s.relay === 'thirdparty' ? '三方中继' : '默认中继'}（模拟）`,
    workbench: s.workbenchState === 'ready' ? `已找到 Tovix 工作台 · ${s.workbenchDetail}` : '尚未找到可用的 Tovix 工作台',
    projects: s.projectCount ? `Tovix 工作台 · ${s.projectCount} 个本地项目` : '',
    message: s.message,
    update: s.newVersion ? `发现新版本 ${s.newVersion}：${s.updateLink}` : '',
    code: s.pairingState === 'code' ? `配对码 ${s.code}` : '',
  };
}

function shown(page, ids) {
  return page.evaluate((list) => Object.fromEntries(list.map((id) => [id, document.getElementById(id).textContent])), ids);
}

// Waits until the page (which polls every second) shows the document, then compares, so a mismatch fails
// with both sides. The countdown after the code is left out.
async function assertShowsDocument(page, s) {
  const want = expectedTexts(s);
  const matches = (w) => Object.entries(w).every(([id, text]) => {
    const got = document.getElementById(id).textContent;
    return id === 'code' ? got.split('  ·  ')[0] === text : got === text;
  });
  await page.waitForFunction(matches, { timeout: 5000 }, want).catch(() => {});
  const got = await shown(page, Object.keys(want));
  got.code = got.code.split('  ·  ')[0];
  assert.deepEqual(got, want);
}

async function assertFitsPhone(page) {
  const widths = await page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
  assert.deepEqual(widths, [PHONE.width, PHONE.width], 'no horizontal scrolling at a phone\'s width');
}

const qrVisible = (page) => page.$eval('#qr', (svg) => svg.getBoundingClientRect().width > 0);

describe('the page in a browser at 375 x 667', () => {
  let chromium;
  before(async () => { chromium = await launchBrowser(); });
  after(() => chromium && chromium.close());

  async function start(t, overrides, relayProvider = 'quorbelapi', url = (c) => c.pageUrl) {
    const c = await startTestConnector({ token: newToken(), ...overrides });
    t.after(c.close);
    await c.waitFor((s) => s.workbenchState === 'ready', 'workbench ready');
    const tab = await openPage(chromium.browser, url(c));
    t.after(() => tab.page.close());
    const online = async () => {
      assert.equal((await c.post('/api/connector/start', { deviceName: '', relayProvider })).status, 200);
      return c.waitFor((s) => s.pairingState === 'code', 'a pairing code');
    };
    return { c, ...tab, online };
  }

  test('loads without errors and shows the status document; its QR symbol is the document\'s', async (t) => {
    const { c, page, problems, online } = await start(t, { deviceName: '测试电脑-Büro', ...UPDATE }, 'thirdparty');
    assert.ok(await page.evaluate(() => location.href === `${location.origin}/connect.html`), 'the secret left the address bar');
    await assertShowsDocument(page, await c.status());
    assert.equal((await shown(page, ['placeholder'])).placeholder, '在桌面窗口点击「开始连接」后显示二维码');
    assert.equal(await qrVisible(page), false);
    await assertFitsPhone(page);

    const s = await online();
    await assertShowsDocument(page, s);
    assert.equal(await qrVisible(page), true);
    const dark = await page.$eval('#qr path', (p) => (p.getAttribute('d').match(/M/g) || []).length);
    assert.equal(dark, s.matrix.split('').filter((b) => b === '1').length, 'one square per dark module');
    await assertFitsPhone(page);
    fs.mkdirSync(path.dirname(SCREENSHOT), { recursive: true });
    await page.screenshot({ path: SCREENSHOT, fullPage: true });
    t.diagnostic(`screenshot: ${SCREENSHOT}`);
    // A reload keeps working: the tab kept the secret.
    await page.reload({ waitUntil: 'load' });
    await assertShowsDocument(page, await c.status());
    assert.deepEqual(problems, []);
  });

  test('opened without the secret, or with a wrong one, the page says where to open it from', async (t) => {
    const hint = '请从 Tovix 随行连接器窗口打开本页：点击窗口左上角的图标，选择“在浏览器中打开”。';
    const hintShown = (page) => page.$eval('#secretHint', (e) => e.getBoundingClientRect().height > 0 && e.textContent.trim());
    for (const url of [(c) => `${c.origin}/connect.html`, (c) => `${c.origin}/connect.html#token=${newToken()}`]) {
      const { c, page, problems, online } = await start(t, {}, 'quorbelapi', url);
      await online();
      await page.waitForFunction(() => !document.getElementById('secretHint').hidden, { timeout: 5000 });
      assert.equal(await hintShown(page), hint);
      assert.deepEqual(await shown(page, ['pill', 'placeholder', 'code']), { pill: '●  未获授权', placeholder: '请从连接器窗口打开本页', code: '' });
      assert.equal(await qrVisible(page), false);
      await page.click('#pairScanned');
      assert.equal((await shown(page, ['result'])).result, '当前没有可扫描的二维码');
      await assertFitsPhone(page);
      assert.ok(problems.length > 0 && problems.every((p) => p.includes('401')), problems.join('\n'));
      assert.equal((await c.status()).pairingState, 'code', 'nothing changed');
    }
    // A connector started without a secret (for development) needs none.
    const { c, page, problems } = await start(t, { token: '' });
    await assertShowsDocument(page, await c.status());
    assert.equal(await hintShown(page), false);
    assert.deepEqual(problems, []);
  });

  test('entering the code on offer pairs the phone', async (t) => {
    const { c, page, problems, online } = await start(t);
    const s = await online();
    await assertShowsDocument(page, s);
    assert.equal(await enterCode(page, s.code), PAIRED_RESULT);
    assert.equal((await shown(page, ['placeholder'])).placeholder, '✓  手机已配对（演示手机）');
    assert.equal(await qrVisible(page), false);
    const paired = await c.status();
    assert.equal(paired.pairingState, 'paired');
    assert.equal(paired.message, '已与手机「演示手机」配对（模拟中继）');
    await assertShowsDocument(page, paired);
    await assertFitsPhone(page);
    assert.deepEqual(problems, []);
  });

  test('a wrong code is refused; after five the code is replaced and the page shows the new one', async (t) => {
    const { c, page, problems, online } = await start(t);
    const s = await online();
    await assertShowsDocument(page, s);
    const wrong = String((Number(s.code) + 1) % 1000000).padStart(6, '0');
    for (let attempt = 1; attempt <= MAX_WRONG_CODES; attempt++) {
      assert.equal(await enterCode(page, wrong), '配对码不正确或已失效', `attempt ${attempt}`);
      const now = await c.status();
      assert.equal(now.pairingState, 'code');
      assert.equal(now.code === s.code, attempt < MAX_WRONG_CODES, `attempt ${attempt}: code ${s.code} -> ${now.code}`);
    }
    const replaced = await c.status();
    await assertShowsDocument(page, replaced);
    assert.equal(await qrVisible(page), true);
    await assertFitsPhone(page);
    // Pairing pauses now, even with the right code.
    assert.match(await enterCode(page, replaced.code), /^错误次数过多，配对已暂停，请 [0-9]+ 秒后再试$/);
    assert.equal((await c.status()).pairingState, 'code');
    // The refusals are the only errors the browser reports.
    assert.ok(problems.every((p) => /\b(409|429)\b/.test(p) && p.includes('/api/connector/pairing/pair')), problems.join('\n'));
  });

  test('with the connector gone, pairing says it did not answer and the page shows it unavailable', async (t) => {
    const { c, page, problems, online } = await start(t);
    const s = await online();
    await assertShowsDocument(page, s);
    await c.close();
    assert.equal(await enterCode(page, s.code), '连接器没有应答');
    assert.equal((await shown(page, ['pill'])).pill, '●  服务不可用');
    assert.deepEqual(problems.filter((p) => p.startsWith('uncaught')), []);
  });
});
