// Opens a report page in headless Chromium as a reader would and prints what
// the reader sees, one fact a line, tab-separated:
//   image	ALT	NATURAL_WIDTH	NATURAL_HEIGHT   (0 0 for a picture not decoded)
//   measure	NAME	FIRST	FINAL	CHANGE         (the measures table's rows, as shown)
//   visit	NAME	AGE	CI	CVAI	CIRCUMFERENCE	CHECK   (the visits table's rows, as shown)
//   point	MEASURE	VISIT	X	Y	MARKED         (a chart's point where it is drawn, mapped back
//                                            through the chart's axes: age or visit number, value)
//   centile	MEASURE	CENTILE	LABEL	X0	Y0	X1	Y1   (a chart's centile curve, its label and its
//                                            first and last point mapped back likewise)
//   percentile	VISIT	TEXT                (the visits table's head circumference percentile)
//   request	URL                            (anything fetched besides the page itself)
//   scripts	COUNT
//   width	MEDIA	TABLE	WIDTH	CONTAINER      (every table and chart, in pixels, at MEDIA
//                                            print-a4, printed on A4 within 12 mm margins,
//                                            and phone-390, on a phone 390 pixels wide)
//   overflow	MEDIA	0|1                      (the page wider than MEDIA's width)
// and keeps a screenshot of the whole page (1000 pixels wide).
//   node check_report.cjs report.html screenshot.png
// playwright-core is found through NODE_PATH; the browser is Debian's chromium.
const { chromium } = require('playwright-core');
const path = require('path');
const { pathToFileURL } = require('url');

// What the reader sees on the screen.
function seenOnScreen() {
  const text = (element) => (element ? element.textContent : '');
  const point = (svg, plot, circle) => {
    const [x0, x1, y0, y1] = ['xFrom', 'xTo', 'yFrom', 'yTo'].map((k) => Number(svg.dataset[k]));
    const box = circle.getBoundingClientRect();
    const x = x0 + ((box.left + box.width / 2 - plot.left) / plot.width) * (x1 - x0);
    const y = y0 + ((plot.bottom - (box.top + box.height / 2)) / plot.height) * (y1 - y0);
    return ['point', svg.dataset.measure, circle.dataset.visit, x.toFixed(4), y.toFixed(4),
      circle.classList.contains('marked') ? 1 : 0];
  };
  return [
    ...[...document.images].map((img) => ['image', img.alt, img.complete ? img.naturalWidth : 0,
      img.complete ? img.naturalHeight : 0]),
    ...[...document.querySelectorAll('#measures tbody tr')].map((tr) =>
      ['measure', tr.dataset.measure, ...[...tr.querySelectorAll('td')].map((cell) => cell.textContent)]),
    ...[...document.querySelectorAll('#visits tbody tr')].map((tr) => ['visit', tr.dataset.visit,
      ...['age', 'ci', 'cvai', 'circumference'].map((m) => text(tr.querySelector(`[data-measure="${m}"]`))),
      text(tr.querySelector('.check'))]),
    ...[...document.querySelectorAll('svg.chart')].flatMap((svg) => {
      const plot = svg.querySelector('rect.plot').getBoundingClientRect();
      return [...svg.querySelectorAll('circle.point')].map((circle) => point(svg, plot, circle));
    }),
    ...[...document.querySelectorAll('svg.chart polyline.centile')].map((line) => {
      const svg = line.ownerSVGElement;
      const rect = svg.querySelector('rect.plot');
      const [x0, x1, y0, y1] = ['xFrom', 'xTo', 'yFrom', 'yTo'].map((k) => Number(svg.dataset[k]));
      const [px, py, pw, ph] = ['x', 'y', 'width', 'height'].map((a) => Number(rect.getAttribute(a)));
      const at = (p) => [(x0 + ((p.x - px) / pw) * (x1 - x0)).toFixed(4),
        (y0 + ((py + ph - p.y) / ph) * (y1 - y0)).toFixed(4)];
      const points = line.points;
      const label = line.nextElementSibling && line.nextElementSibling.classList.contains('centile-label')
        ? line.nextElementSibling.textContent : '';
      return ['centile', svg.dataset.measure, line.dataset.centile, label, ...at(points.getItem(0)),
        ...at(points.getItem(points.numberOfItems - 1))];
    }),
    ...[...document.querySelectorAll('#visits tbody tr')].map((tr) =>
      ['percentile', tr.dataset.visit, text(tr.querySelector('[data-measure="hc_percentile"]'))]),
    ['scripts', document.scripts.length],
  ];
}

// The width of every table and chart against its container's content, and
// whether the page is wider than the window.
function widths(media) {
  const lines = [...document.querySelectorAll('table, svg.chart')].map((element) => {
    const container = element.parentElement;
    const style = getComputedStyle(container);
    const room = container.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
    const width = Math.max(element.getBoundingClientRect().width, element.scrollWidth || 0);
    return ['width', media, element.id || element.tagName.toLowerCase(), width.toFixed(1), room.toFixed(1)];
  });
  return [...lines, ['overflow', media, document.documentElement.scrollWidth > window.innerWidth ? 1 : 0]];
}

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
    const seen = await page.evaluate(seenOnScreen);
    await page.screenshot({ path: shot, fullPage: true });
    // A4 is 794 pixels wide at 96 dpi; the page's margins of 12 mm leave 703.
    await page.emulateMedia({ media: 'print' });
    await page.setViewportSize({ width: 703, height: 1000 });
    const printed = await page.evaluate(widths, 'print-a4');
    await page.emulateMedia({ media: 'screen' });
    await page.setViewportSize({ width: 390, height: 844 });
    const phone = await page.evaluate(widths, 'phone-390');
    for (const line of [...seen, ...lines, ...printed, ...phone]) {
      console.log(line.join('\t'));
    }
  } finally {
    await browser.close();
  }
})().catch((error) => {
  console.log(`error\t${String(error).replace(/\s+/g, ' ')}`);
  process.exit(1);
});
