'use strict';
// The page /connect.html in a real browser (Debian's chromium, headless) at a phone's size, against a
// connector in this process: it loads cleanly, shows what the status document says, pairs as the phone,
// refuses wrong codes until the code is replaced, and never scrolls sideways. A screenshot of the page
// with its QR code goes to TOVIX_PAGE_SCREENSHOT (the test command points it into the build tree).

const { describe, before, after, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startTestConnector } = require('../test-support/helpers');
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

  async function start(t, overrides, relayProvider = 'quorbelapi') {
    const c = await startTestConnector(overrides);
    t.after(c.close);
    await c.waitFor((s) => s.workbenchState === 'ready', 'workbench ready');
    const tab = await openPage(chromium.browser, c.port);
    t.after(() => tab.page.close());
    const online = async () => {
      assert.equal((await c.post('/api/connector/start', { deviceName: '', relayProvider })).status, 200);
      return c.waitFor((s) => s.pairingState === 'code', 'a pairing code');
    };
    return { c, ...tab, online };
  }

  test('loads without errors and shows the status document; its QR symbol is the document\'s', async (t) => {
    const { c, page, problems, online } = await start(t, { deviceName: '测试电脑-Büro', ...UPDATE }, 'thirdparty');
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
    // The refusals are the only errors the browser reports.
    assert.ok(problems.every((p) => p.includes('409') && p.includes('/api/connector/pairing/pair')), problems.join('\n'));
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
