// SPDX-License-Identifier: Apache-2.0
// Headless Chromium on a page of the server under test: the browser, the
// page at the given size, and every request it made anywhere else.
import puppeteer from "puppeteer-core";

export async function openPage(url, width, height) {
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-extensions"],
  });
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  const outside = [];
  page.on("request", (r) => { if (!r.url().startsWith(url.replace(/\/$/, ""))) outside.push(r.url()); });
  await page.goto(url, { waitUntil: "load", timeout: 15000 });
  return { browser, page, outside };
}
