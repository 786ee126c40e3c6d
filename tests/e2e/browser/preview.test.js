'use strict';
// trellis preview in headless Chromium: the page's controls, a slider, a
// mask edit, the command line it offers and a saved still.
//
//   node preview.test.js TRELLIS [--screenshot FILE]
//
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium, or it cannot run
// here, or the driver is not installed).
const { spawn, execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const png = require('./png');

const SKIP = 77;
const CHROMIUM = process.env.TRELLIS_CHROMIUM || '/usr/bin/chromium';
const [trellis, ...rest] = process.argv.slice(2);
const screenshot = rest[0] === '--screenshot' ? path.resolve(rest[1]) : null;

function skip(why) {
  console.log('SKIPPED: ' + why);
  process.exit(SKIP);
}

let puppeteer;
try {
  puppeteer = require('puppeteer-core');
} catch (e) {
  skip('puppeteer-core is not installed (run npm ci in tests/e2e/browser)');
}
if (!fs.existsSync(CHROMIUM)) skip(CHROMIUM + ' is not installed');

const failures = [];
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures.push(what);
}

// A plate with detail everywhere, so that strokes show wherever they land.
function plate(width, height) {
  const rgba = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const i = (y * width + x) * 4;
      rgba[i] = (x * 255 / width) | 0;
      rgba[i + 1] = (y * 255 / height) | 0;
      rgba[i + 2] = ((x ^ y) & 16) ? 220 : 40;
      rgba[i + 3] = 255;
    }
  }
  return png.encode(width, height, rgba);
}

// The first line the server prints: its address.
function startServer(args, cwd) {
  const child = spawn(trellis, args, { cwd, stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const line = out.split('\n');
      if (line.length > 1) resolve({ child, url: line[0].trim() });
    });
    child.on('exit', (code) => reject(new Error('trellis preview ended (' + code + ') before printing its address')));
  });
}

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'trellis-preview-'));
  const saves = path.join(work, 'stills');
  fs.mkdirSync(saves);
  const [W, H] = [360, 200];
  fs.writeFileSync(path.join(work, 'plate.png'), plate(W, H));

  const { child, url } = await startServer(
    ['preview', '--input', 'plate.png', '--layer', 'plate.png', '--mask', 'M 40 40 C 120 10 220 190 320 100 L 300 170',
     '--max-width', '60', '--save-dir', saves], work);
  let browser = null;
  try {
    check(/^http:\/\/127\.0\.0\.1:\d+\/$/.test(url), 'prints its address first: ' + url);
    try {
      browser = await puppeteer.launch({
        executablePath: CHROMIUM,
        headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync',
               '--user-data-dir=' + fs.mkdtempSync(path.join(os.tmpdir(), 'trellis-chromium-'))],
      });
    } catch (e) {
      skip('Chromium cannot run here: ' + e.message.split('\n')[0]);
    }
    const context = browser.defaultBrowserContext();
    await context.overridePermissions(url.replace(/\/$/, ''), ['clipboard-read', 'clipboard-write',
                                                               'clipboard-sanitized-write']);
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 760 });
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));

    const renders = () => page.evaluate(() => Number(document.body.dataset.renders || 0));
    // Bounded by puppeteer's own timeout: a page that never settles fails.
    const settled = (after) => page.waitForFunction(
      (n) => Number(document.body.dataset.renders || 0) > n && document.body.dataset.busy === '0' &&
             document.querySelector('#command').dataset.fresh === '1', { timeout: 60000 }, after);
    // The displayed frame as the server sent it.
    const shown = async () => png.decode(Buffer.from(await page.evaluate(async () => {
      const blob = await (await fetch(document.querySelector('#image').src)).blob();
      return Array.from(new Uint8Array(await blob.arrayBuffer()));
    })));
    const same = (a, b) => a.width === b.width && a.height === b.height && a.rgba.equals(b.rgba);

    await page.goto(url);
    await settled(0);

    // One control per declared parameter, named as the effect names them.
    const declared = await page.evaluate(async () => (await (await fetch('/api/params')).json()).map((p) => p.name));
    const controls = await page.$$eval('.control', (all) => all.map((c) => c.dataset.param));
    check(controls.length === 11, 'eleven controls: ' + controls.join(', '));
    check(JSON.stringify(controls) === JSON.stringify(declared), 'the controls are the declared parameters');
    check(await page.$('.control[data-param="Time"] #play') !== null, 'Time has a play button');

    // Moving a slider with the mouse renders anew, and differently.
    // Counted before the change: its render may be done before a later count.
    let n = await renders();
    await page.select('#draft', '1');
    await settled(n);
    const before = await shown();
    const slider = await (await page.$('.control[data-param="Time"] input[type=range]')).boundingBox();
    n = await renders();
    await page.mouse.click(slider.x + slider.width * 0.7, slider.y + slider.height / 2);
    await settled(n);
    const typed = await page.$eval('.control[data-param="Time"] input[type=number]', (e) => Number(e.value));
    check(typed > 60 && typed < 80, 'the slider sets Time (now ' + typed + ')');
    const later = await shown();
    check(!same(before, later), 'a moved slider changes the image');

    // Dragging a vertex moves the outline and the strokes along it.
    const pathBefore = await page.$eval('#mask-path', (e) => e.getAttribute('d'));
    const vertex = await (await page.$('#vertices circle[data-index="2"]')).boundingBox();
    const [vx, vy] = [vertex.x + vertex.width / 2, vertex.y + vertex.height / 2];
    n = await renders();
    await page.mouse.move(vx, vy);
    await page.mouse.down();
    for (let i = 1; i <= 5; i++) await page.mouse.move(vx - 30 * i, vy + 4 * i);
    await page.mouse.up();
    await settled(n);
    const pathAfter = await page.$eval('#mask-path', (e) => e.getAttribute('d'));
    const moved = await page.$eval('#vertices circle[data-index="2"]', (c) => [Number(c.getAttribute('cx')),
                                                                             Number(c.getAttribute('cy'))]);
    check(pathAfter !== pathBefore && moved[0] < 300, 'the dragged vertex moves the outline (' + moved + ')');
    const dragged = await shown();
    check(!same(later, dragged), 'the strokes follow the edited outline');

    // The command line, copied, renders the same pixels.
    await page.click('#copy');
    const copied = await page.evaluate(() => navigator.clipboard.readText());
    check(copied.startsWith('trellis render ') && copied.includes('--mask') && copied.includes('--time'),
          'copies the command line: ' + copied);
    const command = copied.replace(/^trellis /, "'" + trellis.replace(/'/g, "'\\''") + "' ");
    execFileSync('/bin/sh', ['-c', command], { cwd: work, stdio: 'inherit' });
    const rendered = png.decode(fs.readFileSync(path.join(work, 'preview.png')));
    check(same(rendered, dragged), 'the command line gives the preview\'s pixels exactly');

    // A still goes into the save folder only.
    await page.$eval('#save-name', (e) => { e.value = 'still'; });
    await page.click('#save');
    await page.waitForFunction(() => /^saved |error|name/.test(document.querySelector('#status').textContent),
                               { timeout: 60000 });
    const saved = path.join(saves, 'still.png');
    check(fs.existsSync(saved) && same(png.decode(fs.readFileSync(saved)), dragged),
          'Save still writes the frame into --save-dir');

    check(errors.length === 0, 'no script errors' + (errors.length ? ': ' + errors.join('; ') : ''));
    if (screenshot) {
      n = await renders();
      await page.select('#draft', '2');
      await page.$eval('.control[data-param="Time"] input[type=number]', (e) => {
        e.value = '45';
        e.dispatchEvent(new Event('change'));
      });
      await settled(n);
      await page.click('#vertices circle[data-index="1"]');
      await page.screenshot({ path: screenshot });
    }
  } finally {
    if (browser) await browser.close();
    child.kill('SIGTERM');
    fs.rmSync(work, { recursive: true, force: true });
  }
  console.log(failures.length === 0 ? 'all checks passed' : failures.length + ' checks failed');
  process.exit(failures.length === 0 ? 0 : 1);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
