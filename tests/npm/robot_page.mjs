// SPDX-License-Identifier: Apache-2.0
// A robot's live page in headless Chromium: waits until it draws the points
// of each scanner the stream names, and one status line a scanner; takes a
// screenshot and prints what it saw as JSON.
//
//   node robot_page.mjs http://127.0.0.1:8765/ SCREENSHOT.png SCANNERS
import { openPage } from "./browser.mjs";

const [url, shot, count] = [process.argv[2], process.argv[3], Number(process.argv[4])];
const { browser, page, outside } = await openPage(url, 900, 700);
const result = {};
try {
  await page.waitForFunction(
    (n) => window.robotDrawn && Object.values(window.robotDrawn).filter((k) => k > 50).length >= n &&
           document.querySelectorAll("#status .scanner").length >= n,
    { timeout: 20000 }, count);
  result.drawn = await page.evaluate(() => window.robotDrawn);
  result.lines = await page.$$eval("#status .scanner", (es) => es.map((e) => e.textContent));
  result.outside = outside;
  await page.screenshot({ path: shot });
} finally {
  await browser.close();
}
process.stdout.write(JSON.stringify(result) + "\n");
process.exit(0);
