// Loads vokt har's log into Playwright's HAR reader (routeFromHAR) in
// front of headless chromium and sends the recorded requests from a page:
// each is matched by URL, method and body to its entry and served from the
// log (the entry's empty response); any other request falls through to a
// route of the test, which answers 299.  So a request that comes back with
// another status than 299 proves that the reader took the file and found
// the entry: for the POST bodies, compared byte for byte, a base64 body
// included.
//
// Then opens vokt show --html's page of a hostile multipart record in the
// same chromium: it shows the parts, declares its charset, and runs no
// markup of the record.
//
//   node har_test.mjs LOG.har SHOW.html
//
// Exit status 0 when every check passed.
import { chromium } from 'playwright-core';
import assert from 'node:assert/strict';
import fs from 'node:fs';

const [har, shown] = process.argv.slice(2);
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

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
try {
  const context = await browser.newContext();
  // Routes run newest first: the log's, then this one for what it lacks.
  await context.route('**/*', (route) => route.fulfill({ status: 299, contentType: 'text/html', body: 'not in the log' }));
  await context.routeFromHAR(har, { notFound: 'fallback' });
  const page = await context.newPage();
  await page.goto('http://example.org/start');

  // The status of a fetch from the page; the body as bytes.
  const status = (url, method, bytes, type) =>
    page.evaluate(async ([u, m, b, t]) => {
      const init = { method: m, headers: t ? { 'Content-Type': t } : {} };
      if (b) init.body = new Uint8Array(b);
      return (await fetch(u, init)).status;
    }, [url, method, bytes, type]);
  const text = (s) => [...Buffer.from(s, 'latin1')];

  await check('the log is HAR 1.2 by vokt', () => {
    const log = JSON.parse(fs.readFileSync(har, 'utf8')).log;
    assert.equal(log.version, '1.2');
    assert.equal(log.creator.name, 'vokt');
    assert.equal(log.entries.length, 3);
  });
  await check('the urlencoded POST is served from its entry', async () => {
    const form = 'application/x-www-form-urlencoded';
    assert.notEqual(await status('/cgi-bin/vokt.cgi?seite=2', 'POST', text('name=M%FCller&x'), form), 299);
  });
  await check('the body that is no UTF-8 is matched byte for byte (base64 in the log)', async () => {
    assert.notEqual(await status('/cgi-bin/vokt.cgi/bin', 'POST', [0x78, 0x3d, 0xfc, 0xff]), 299);
  });
  await check('the GET is served from its entry', async () => {
    assert.notEqual(await status('/cgi-bin/vokt.cgi?a=1&b=2', 'GET'), 299);
  });
  await check('requests that the log lacks fall through: another body, method or URL', async () => {
    assert.equal(await status('/cgi-bin/vokt.cgi/bin', 'POST', [0x78, 0x3d, 0xfc, 0xfe]), 299);
    assert.equal(await status('/cgi-bin/vokt.cgi?seite=2', 'PUT', text('name=M%FCller&x')), 299);
    assert.equal(await status('/cgi-bin/vokt.cgi?a=1&b=3', 'GET'), 299);
  });
  await check('vokt show --html: the parts shown, the charset declared, no markup of the record run', async () => {
    const shownPage = await (await browser.newContext()).newPage();
    await shownPage.goto('file://' + shown);
    const body = await shownPage.innerText('body');
    assert.match(body, /part 1: name "<script>window\.pwned=1<\/script>"/);
    assert.match(body, /Gr\u00fc\u00df dich/);
    assert.match(body, /filename "a\.png", type image\/png/);
    assert.equal(await shownPage.evaluate(() => window.pwned), undefined);
    assert.equal(await shownPage.evaluate(() => document.querySelectorAll('script, img, iframe').length), 0);
    assert.equal(await shownPage.evaluate(() => document.characterSet), 'UTF-8');
  });
} finally {
  await browser.close();
}
process.exit(failed === 0 ? 0 : 1);
