// SPDX-License-Identifier: Apache-2.0
// The live page in a real browser (headless Chromium): waits until the
// status line shows a sample number, checks that it grows, says "grew" and
// waits for a line on standard input (the scanner is stopped then), checks
// that the figures age, that the canvas is not blank, and takes a screenshot.
//
//   node page_check.mjs http://127.0.0.1:8765/ SCREENSHOT.png
import { createInterface } from "node:readline";
import { openPage } from "./browser.mjs";

const input = createInterface({ input: process.stdin })[Symbol.asyncIterator]();

const [url, shot] = [process.argv[2], process.argv[3]];
const { browser, page, outside } = await openPage(url, 900, 560);
const result = {};
try {
  const sample = async () => {
    await page.waitForFunction(() => /sample \d+/.test(document.getElementById("status").textContent),
                               { timeout: 15000 });
    return Number((await page.$eval("#status", (e) => e.textContent)).match(/sample (\d+)/)[1]);
  };
  result.first = await sample();
  await page.waitForFunction((n) => Number((document.getElementById("status").textContent.match(/sample (\d+)/) || [0, 0])[1]) > n,
                             { timeout: 15000 }, result.first);
  result.later = await sample();
  result.status = await page.$eval("#status", (e) => e.textContent);
  process.stdout.write("grew\n");
  await input.next();
  // Once the scans stop, the figures age: the time since the last, and the rate falls to 0.
  await page.waitForFunction(() => /s ago.* 0\.0 scans\/s/.test(document.getElementById("status").textContent),
                             { timeout: 15000 });
  result.stale = await page.$eval("#status", (e) => e.textContent);
  // A phone's width: the status line wraps rather than losing its end.
  await page.setViewport({ width: 360, height: 640 });
  result.narrow = await page.$eval("#status", (e) => e.textContent);
  result.narrowFits = await page.$eval("#status", (e) => e.scrollWidth <= e.clientWidth);
  // Zoomed out there, the rings run past the edge: their labels that do not fit are left out.
  await page.mouse.move(180, 400);
  for (let i = 0; i < 12; i++) await page.mouse.wheel({ deltaY: 100 });
  result.labels = await page.evaluate(() => window.ringLabels);
  await page.setViewport({ width: 900, height: 560 });
  // Pixels that are not the background.
  result.drawn = await page.$eval("canvas", (c) => {
    const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    let n = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] !== 0x11 || d[i + 1] !== 0x14 || d[i + 2] !== 0x18) n++;
    return n;
  });
  result.outside = outside;
  await page.screenshot({ path: shot });
} finally {
  await browser.close();
}
process.stdout.write(JSON.stringify(result) + "\n");
process.exit(0);
