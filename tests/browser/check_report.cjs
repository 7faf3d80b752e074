// Opens a report page in headless Chromium as a reader would and prints what
// the reader sees, one fact a line, tab-separated:
//   image	ALT	NATURAL_WIDTH	NATURAL_HEIGHT   (0 0 for a picture not decoded)
//   measure	NAME	UNIT	FIRST	FINAL	CHANGE  (the measures table's rows)
//   request	URL                            (anything fetched besides the page itself)
//   scripts	COUNT
//   phone-overflow	0|1                         (wider than a 390-pixel phone screen)
// and keeps a screenshot of the whole page.
//   node check_report.cjs report.html screenshot.png
// playwright-core is found through NODE_PATH; the browser is Debian's chromium.
const { chromium } = require('playwright-core');
const path = require('path');
const { pathToFileURL } = require('url');

(async () => {
  const [file, shot] = process.argv.slice(2);
  const pageUrl = pathToFileURL(path.resolve(file)).href;
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = await browser.newPage({ viewport: { width: 1000, height: 800 } });
    const lines = [];
    page.on('request', (request) => {
      const url = request.url();
      if (url !== pageUrl && !url.startsWith('data:')) lines.push(['request', url]);
    });
    await page.goto(pageUrl, { waitUntil: 'load' });
    const seen = await page.evaluate(() => [
      ...[...document.images].map((img) => ['image', img.alt, img.complete ? img.naturalWidth : 0,
        img.complete ? img.naturalHeight : 0]),
      ...[...document.querySelectorAll('#measures tbody tr')].map((tr) =>
        ['measure', ...[...tr.children].slice(0, 5).map((cell) => cell.textContent)]),
      ['scripts', document.scripts.length],
    ]);
    await page.screenshot({ path: shot, fullPage: true });
    await page.setViewportSize({ width: 390, height: 844 });
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth > window.innerWidth);
    for (const line of [...seen, ...lines, ['phone-overflow', overflow ? 1 : 0]]) {
      console.log(line.join('\t'));
    }
  } finally {
    await browser.close();
  }
})().catch((error) => {
  console.log(`error\t${String(error).replace(/\s+/g, ' ')}`);
  process.exit(1);
});
