// Drives Debian's chromium, headless, through the demonstration page: sends
// both forms as a user would and checks what the rendered result page shows.
//
//   node browser_test.mjs BASE_URL SCREENSHOT.png
//
// Exit status 0 when every check passed.
import { chromium } from 'playwright-core';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [base, screenshot] = process.argv.slice(2);
if (!base || !screenshot) {
  console.error('usage: node browser_test.mjs BASE_URL SCREENSHOT.png');
  process.exit(2);
}

let failed = 0;
async function check(name, fn) {
  try {
    await fn();
    console.log(`ok   - ${name}`);
  } catch (e) {
    failed++;
    console.log(`FAIL - ${name}\n       ${String(e.message).split('\n').join('\n       ')}`);
  }
}

// The variable lines of the result page ("name = value"), as rendered text.
async function variables(page) {
  const text = await page.locator('body').innerText();
  const after = text.split('Die Liste der Variablen')[1] ?? '';
  return after.split('\n').map((l) => l.trim()).filter((l) => l !== '');
}

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vokt-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
  ],
  viewport: { width: 1000, height: 800 },
});

try {
  const page = context.pages()[0] ?? (await context.newPage());

  // --- the POST form ---
  await page.goto(`${base}/`);
  await check('the demonstration page is read as ISO 8859-1', async () => {
    // Browsers treat the label ISO-8859-1 as windows-1252.
    assert.equal(await page.evaluate(() => document.characterSet), 'windows-1252');
  });
  await page.fill('#post-name', 'M\u00fcller');
  await page.fill('#post-wort', 'a&b');
  await page.fill('#post-text', '<b>fett</b>');
  await Promise.all([
    page.waitForURL('**/cgi-bin/vokt.cgi?seite=2'),
    page.click('#post-form button[type=submit]'),
  ]);
  await page.waitForLoadState('load');
  const text = await page.locator('body').innerText();

  await check('the result page reads "L\u00e4nge des Inhalts"', async () => {
    assert.match(text, /L\u00e4nge des Inhalts:\d+/);
  });
  await check('the browser sent the body in ISO 8859-1, shown raw in the echo', async () => {
    assert.equal(
      (await page.locator('pre').innerText()).trim(),
      'name=M%FCller&wort=a%26b&text=%3Cb%3Efett%3C%2Fb%3E',
    );
  });
  await check('the three values appear literally, as typed', async () => {
    const vars = await variables(page);
    assert.ok(vars.includes('name = M\u00fcller'), vars.join(' | '));
    assert.ok(vars.includes('wort = a&b'), vars.join(' | '));
    assert.ok(vars.includes('text = <b>fett</b>'), vars.join(' | '));
    assert.ok(vars.includes('seite = 2'), vars.join(' | '));
  });
  await check('no <b> element was created from the input', async () => {
    const bold = await page.evaluate(() =>
      [...document.querySelectorAll('b')].map((b) => b.textContent));
    assert.ok(!bold.includes('fett'), `bold elements: ${JSON.stringify(bold)}`);
  });
  await page.screenshot({ path: screenshot, fullPage: true });

  // --- the GET form ---
  await page.goto(`${base}/`);
  await page.fill('#get-name', 'M\u00fcller');
  await page.fill('#get-stadt', 'K\u00f6ln');
  await Promise.all([
    page.waitForURL('**/cgi-bin/vokt.cgi?*'),
    page.click('#get-form button[type=submit]'),
  ]);
  await page.waitForLoadState('load');
  await check('the GET form arrives decoded, umlauts included', async () => {
    assert.ok(page.url().includes('name=M%FCller&stadt=K%F6ln&sprache=deutsch'), page.url());
    const vars = await variables(page);
    assert.ok(vars.includes('name = M\u00fcller'), vars.join(' | '));
    assert.ok(vars.includes('stadt = K\u00f6ln'), vars.join(' | '));
  });
} finally {
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
}

console.log(`# browser: ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
