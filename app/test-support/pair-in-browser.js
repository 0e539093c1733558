'use strict';
// Plays the phone in a real browser: Debian's chromium, headless, driven through puppeteer-core, opens the
// connector's page /connect.html at a phone's viewport and enters a pairing code there. The browser test
// uses its functions; the end-to-end chain and the main job run it as a program:
//   node pair-in-browser.js <url> <code>   exit code 0 when the page says the phone is paired, else 1
// where <url> is the page's address as the launcher's window opens it,
// http://127.0.0.1:<port>/connect.html#token=<secret>. The secret is never printed.
// Chromium gets the flags this closed network needs (no sandbox as root, no network of its own) and a
// fresh profile that is removed when the browser closes.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const CHROMIUM = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
const PHONE = { width: 375, height: 667 };
const PAIRED_RESULT = '✓ 已配对';
const PAIRING_RESULT = '正在配对…';

// Starts the browser; close() ends it and removes its profile.
async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tovix-chromium-'));
  const remove = () => fs.rmSync(profile, { recursive: true, force: true });
  try {
    const browser = await puppeteer.launch({
      executablePath: CHROMIUM,
      headless: true,
      userDataDir: profile,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync'],
    });
    return { browser, close: () => browser.close().finally(remove) };
  } catch (err) {
    remove();
    throw err;
  }
}

// A new tab on the page at a phone's size, opened at url. Its `problems` collect every console error or
// warning, uncaught exception, failed request and answer of 400 or more, each as one line of text, with
// addresses cut before their fragment (where the secret is).
async function openPage(browser, url) {
  const page = await browser.newPage();
  const problems = [];
  const where = (address) => String(address || '').split('#')[0];
  page.on('console', (m) => {
    if (m.type() === 'error' || m.type() === 'warn') problems.push(`console ${m.type()}: ${m.text()} (${where(m.location().url)})`);
  });
  page.on('pageerror', (err) => problems.push(`uncaught: ${err.message}`));
  page.on('requestfailed', (r) => problems.push(`failed: ${r.method()} ${where(r.url())} ${r.failure()?.errorText}`));
  page.on('response', (r) => { if (r.status() >= 400) problems.push(`answered ${r.status()}: ${r.request().method()} ${where(r.url())}`); });
  await page.setViewport(PHONE);
  await page.goto(url, { waitUntil: 'load' });
  return { page, problems };
}

// Types the code into the page's field, presses its button and returns what the page then says. The
// previous answer is wiped first, so that a repeated answer is never mistaken for the new one.
async function enterCode(page, code) {
  await page.evaluate(() => {
    document.getElementById('codeInput').value = '';
    document.getElementById('result').textContent = '';
  });
  await page.type('#codeInput', code);
  await page.click('#pairTyped');
  const answer = await page.waitForFunction((busy) => {
    const text = document.getElementById('result').textContent;
    return text !== '' && text !== busy && text;
  }, {}, PAIRING_RESULT);
  return answer.jsonValue();
}

function pageAddress(text) {
  try {
    const url = new URL(text);
    return url.protocol === 'http:' && url.pathname === '/connect.html' ? url : null;
  } catch {
    return null;
  }
}

async function main(args) {
  const [address, code] = args;
  const url = pageAddress(address);
  if (!url || !/^[0-9]{6}$/.test(code || '')) {
    console.error('usage: node pair-in-browser.js http://127.0.0.1:<port>/connect.html#token=<secret> <six-digit code>');
    return 1;
  }
  // Whatever goes wrong is told without the secret, even where an error quotes the address.
  const token = new URLSearchParams(url.hash.slice(1)).get('token');
  const hide = (text) => (token ? String(text).split(token).join('…') : String(text));
  let browser = null;
  try {
    browser = await launchBrowser();
    const { page, problems } = await openPage(browser.browser, url.href);
    const result = await enterCode(page, code);
    const placeholder = await page.$eval('#placeholder', (e) => e.textContent);
    if (result === PAIRED_RESULT && placeholder.startsWith('✓  手机已配对')) return 0;
    console.error(hide(`the page did not pair: "${result}" / "${placeholder}"${problems.length ? `; ${problems.join('; ')}` : ''}`));
    return 1;
  } catch (err) {
    console.error(hide(`pair-in-browser: ${err.message}`));
    return 1;
  } finally {
    if (browser) await browser.close();
  }
}

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => { process.exitCode = code; });
}

module.exports = { PHONE, PAIRED_RESULT, launchBrowser, openPage, enterCode };
