// The viewer in a real browser: worldsim and `skyflit --headless` with five
// birds, the page in headless Chromium. The map must draw the birds, and
// "skyflit version" typed into the chat box must bring Bird1's whisper into
// the log. Saves a screenshot of the page.
//
// node viewer.test.mjs --worldsim BIN --skyflit BIN --screenshot PNG
// Exit 0 on success, 1 on failure, 77 (skipped) when Chromium is absent.
import { spawn } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const SKIPPED = 77;
const BIRDS = 5;
const here = dirname(fileURLToPath(import.meta.url));

function option(name) {
  const at = process.argv.indexOf(name);
  if (at < 0 || at + 1 >= process.argv.length) throw new Error("missing " + name);
  return process.argv[at + 1];
}

function findChromium() {
  const candidates = [process.env.CHROMIUM, "/usr/bin/chromium", "/usr/bin/chromium-browser"];
  return candidates.find((path) => path && existsSync(path));
}

// Resolves once `child` printed a line matching `pattern`.
function waitForLine(child, pattern, timeoutMs) {
  return new Promise((resolve, reject) => {
    let text = "";
    const timer = setTimeout(() => reject(new Error("no line " + pattern + " in: " + text)), timeoutMs);
    child.stdout.on("data", (chunk) => {
      text += chunk;
      const match = text.match(pattern);
      if (match) {
        clearTimeout(timer);
        resolve(match);
      }
    });
    child.on("exit", (code) => reject(new Error("ended early with " + code + ": " + text)));
  });
}

function stop(child) {
  if (!child || child.exitCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    const timer = setTimeout(() => child.kill("SIGKILL"), 5000);
    child.once("exit", () => { clearTimeout(timer); resolve(); });
    child.kill("SIGTERM");
  });
}

// Counts canvas pixels in the birds' colour, read back from the page.
async function birdPixels(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById("map");
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let count = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] > 230 && data[i + 1] > 180 && data[i + 1] < 230 && data[i + 2] > 70 && data[i + 2] < 130) count++;
    }
    return count;
  });
}

async function main() {
  const chromiumPath = findChromium();
  if (!chromiumPath) {
    console.log("SKIP: no Chromium found (install Debian's chromium)");
    return SKIPPED;
  }
  const require = createRequire(join(here, "package.json"));
  let chromium;
  try {
    ({ chromium } = require("playwright-core"));
  } catch (error) {
    throw new Error("playwright-core is missing: run 'npm ci' in " + here + " (scripts/install-deps does it)");
  }

  const children = [];
  const directory = mkdtempSync(join(tmpdir(), "skyflit-browser-"));
  let browser;
  try {
    const worldsim = spawn(option("--worldsim"),
      ["--bind", "127.0.0.1", "--port", "0", "--viewer-port", "0", "--world", "demo", "--citizen", "7:secret"],
      { stdio: ["ignore", "pipe", "inherit"] });
    children.push(worldsim);
    const ports = await waitForLine(worldsim, /universe [\d.]+:(\d+) viewer (http:\/\/[\d.]+:\d+\/)/, 10000);
    const universePort = ports[1];
    const viewer = ports[2];

    writeFileSync(join(directory, "skyflit.ini"),
      "[Main]\nCitizen=7\nPassword=secret\nWorld=demo\nAvatar=1\nCenterCoords=0n 0e 5a\n" +
      `BirdCount=${BIRDS}\n[universe]\nhost=127.0.0.1\nport=${universePort}\n`);
    const skyflit = spawn(option("--skyflit"), ["--headless"], { cwd: directory, stdio: ["ignore", "pipe", "inherit"] });
    children.push(skyflit);
    await waitForLine(skyflit, /Skyflit now running\./, 30000);

    browser = await chromium.launch({ executablePath: chromiumPath, headless: true, args: ["--no-sandbox"] });
    const page = await browser.newPage({ viewport: { width: 1280, height: 720 } });
    await page.goto(viewer + "?world=demo");
    await page.waitForFunction((birds) => document.body.dataset.drawn === String(birds), BIRDS, { timeout: 20000 });
    const pixels = await birdPixels(page);
    if (pixels < BIRDS * 20) throw new Error("the map shows almost no bird: " + pixels + " pixels");

    await page.fill("#say-text", "skyflit version");
    await page.click("#say-button");
    const whisper = page.locator("#log .whisper", { hasText: "I am Skyflit Build 6." });
    await whisper.first().waitFor({ timeout: 15000 });
    const said = await page.locator("#log .say", { hasText: "skyflit version" }).count();
    if (said !== 1) throw new Error("the chat line itself is not in the log once but " + said + " times");

    // Let a few hops draw their trails before the picture is taken.
    await page.waitForTimeout(3000);
    const screenshot = option("--screenshot");
    mkdirSync(dirname(screenshot), { recursive: true });
    await page.screenshot({ path: screenshot });
    console.log("viewer shows " + BIRDS + " birds (" + pixels + " bird pixels) and the whisper; screenshot " + screenshot);
    return 0;
  } finally {
    if (browser) await browser.close();
    for (const child of children.reverse()) await stop(child);
    rmSync(directory, { recursive: true, force: true });
  }
}

const watchdog = setTimeout(() => {
  console.error("FAIL: the browser test took longer than 100 s");
  process.exit(1);
}, 100000);

main().then((code) => {
  clearTimeout(watchdog);
  process.exit(code);
}, (error) => {
  console.error("FAIL: " + (error && error.stack ? error.stack : error));
  process.exit(1);
});
