// The viewer in a real browser: worldsim and `skyflit --headless` with five
// birds, the page in headless Chromium. The map must draw the birds and list
// them with their positions; "skyflit version" typed into the chat box must
// bring Bird1's whisper into the log; hovering a bird tells what it is; the
// wheel, a drag and a pinch move the view and "Fit" frames the flock again;
// from 360 to 2560 pixels wide nothing overlaps; an unknown world offers the
// worlds there are; a stopped worldsim shows a banner until it is back.
// Saves screenshots of the page.
//
// node viewer.test.mjs --worldsim BIN --skyflit BIN --screenshots DIR
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
const children = [];

function option(name) {
  const at = process.argv.indexOf(name);
  if (at < 0 || at + 1 >= process.argv.length) throw new Error("missing " + name);
  return process.argv[at + 1];
}

function findChromium() {
  const candidates = [process.env.CHROMIUM, "/usr/bin/chromium", "/usr/bin/chromium-browser"];
  return candidates.find((path) => path && existsSync(path));
}

function check(condition, message) {
  if (!condition) throw new Error(message);
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
  if (!child || child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    const timer = setTimeout(() => child.kill("SIGKILL"), 5000);
    child.once("exit", () => { clearTimeout(timer); resolve(); });
    child.kill("SIGTERM");
  });
}

function startWorldsim(universePort, viewerPort) {
  const worldsim = spawn(option("--worldsim"),
    ["--bind", "127.0.0.1", "--port", universePort, "--viewer-port", viewerPort, "--world", "demo",
     "--citizen", "7:secret"],
    { stdio: ["ignore", "pipe", "inherit"] });
  children.push(worldsim);
  return worldsim;
}

// Counts canvas pixels in the colour of birds that all fly at one altitude.
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

async function camera(page) {
  return page.evaluate(() => {
    const d = document.getElementById("map").dataset;
    return { x: Number(d.x), z: Number(d.z), scale: Number(d.scale), fitScale: Number(d.fitScale),
             follow: d.follow === "true" };
  });
}

// Where the first listed bird is drawn, in page coordinates, with its name.
async function firstBirdOnScreen(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById("map");
    const box = canvas.getBoundingClientRect();
    const view = canvas.dataset;
    const row = document.querySelector("#birds li[data-session]");
    const x = Number(row.dataset.x), z = Number(row.dataset.z);
    return { name: row.querySelector(".name").textContent,
             x: box.left + box.width / 2 - (x - Number(view.x)) * Number(view.scale),
             y: box.top + box.height / 2 - (z - Number(view.z)) * Number(view.scale) };
  });
}

// Points at the first bird until its details show; birds hop, so try again.
async function detailsOfFirstBird(page, point) {
  for (let attempt = 0; attempt < 8; attempt++) {
    const bird = await firstBirdOnScreen(page);
    await point(bird);
    const shown = await page.waitForFunction((name) => {
      const details = document.getElementById("details");
      return !details.hidden && details.textContent.startsWith(name) ? details.textContent : "";
    }, bird.name, { timeout: 1000 }).then((text) => text.jsonValue(), () => "");
    if (shown) return { name: bird.name, text: shown };
  }
  throw new Error("pointing at a bird never showed its details");
}

const POSITION = /\d+\.\d{3}[ns] \d+\.\d{3}[ew] 5\.000a/;

async function checkTexts(page) {
  const cases = [
    ["centreText(-300, 5000, 1250)", "1.250n 0.300e 5.000a"],
    ["centreText(1500, -250, -2000)", "2.000s 1.500w -0.250a"],
    ["centreText(0, 0, 0)", "0.000n 0.000e 0.000a"],
    ["headingText(0)", "0\u00b0 N"],
    ["headingText(900)", "270\u00b0 W"],
    ["headingText(2700)", "90\u00b0 E"],
    ["headingText(450)", "315\u00b0 NW"],
    ["headingText(-900)", "90\u00b0 E"],
    ["birdState({ moved: false, still_ms: 1000 }).text", "in the world"],
    ["birdState({ moved: true, still_ms: 5000 }).text", "moving"],
    ["birdState({ moved: true, still_ms: 5001 }).text", "idle 5 s"],
    ["birdState({ moved: false, still_ms: 12400 }).text", "idle 12 s"],
  ];
  const got = await page.evaluate((expressions) => expressions.map((e) => String(eval(e))), cases.map(([e]) => e));
  cases.forEach(([expression, expected], i) => check(got[i] === expected, expression + " gave " + got[i]));
}

async function checkBirdList(page) {
  const rows = await page.locator("#birds li[data-session]").allTextContents();
  check(rows.length === BIRDS, "the bird list has " + rows.length + " rows");
  for (const row of rows) {
    check(POSITION.test(row) && /heading \d+\u00b0 [NESW]{1,2}/.test(row), "a bird row without position or heading: " + row);
    check(/moving|in the world|idle \d+ s/.test(row), "a bird row without its state: " + row);
  }
  const legend = await page.locator("#legend").textContent();
  check(/centre/.test(legend) && /trail/.test(legend) && /heading/.test(legend), "the legend leaves out a mark: " + legend);
  check(/every bird at 5\.000a/.test(legend), "the legend gives no altitude: " + legend);
  check(await page.locator("#connection").textContent() === "live", "the header does not say live");
}

async function checkZoomPanFit(page) {
  const box = await page.locator("#map").boundingBox();
  const middle = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  const before = await camera(page);
  const scaleText = await page.locator("#scale-text").textContent();
  check(before.follow && before.scale > 0, "the map does not follow the flock at first");
  await page.mouse.move(middle.x, middle.y);
  await page.mouse.wheel(0, -800);
  await page.waitForFunction((scale) => Number(document.getElementById("map").dataset.scale) > scale * 1.5, before.scale);
  const zoomed = await camera(page);
  check(!zoomed.follow, "zooming left the map following the flock");
  await page.waitForFunction((text) => document.getElementById("scale-text").textContent !== text, scaleText);

  await page.mouse.down();
  await page.mouse.move(middle.x + 120, middle.y + 80, { steps: 6 });
  await page.mouse.up();
  const panned = await camera(page);
  const expectedX = zoomed.x + 120 / zoomed.scale, expectedZ = zoomed.z + 80 / zoomed.scale;
  check(Math.abs(panned.x - expectedX) < 4 / zoomed.scale && Math.abs(panned.z - expectedZ) < 4 / zoomed.scale,
        "a drag of 120, 80 pixels moved the view to " + JSON.stringify(panned) + " from " + JSON.stringify(zoomed));

  await page.click("#fit");
  await page.waitForFunction(() => {
    const d = document.getElementById("map").dataset;
    return d.follow === "true" && Math.abs(Number(d.scale) / Number(d.fitScale) - 1) < 0.02;
  }, null, { timeout: 5000 });
}

// Two fingers on a touch screen, spread apart: the view zooms in. A tap on a
// bird shows its details.
async function checkTouch(browser, viewer) {
  const context = await browser.newContext({ viewport: { width: 400, height: 800 }, hasTouch: true, isMobile: true });
  const page = await context.newPage();
  try {
    await page.goto(viewer + "?world=demo");
    await page.waitForFunction((birds) => document.body.dataset.drawn === String(birds), BIRDS, { timeout: 20000 });
    await detailsOfFirstBird(page, (bird) => page.touchscreen.tap(bird.x, bird.y));
    const box = await page.locator("#map").boundingBox();
    const x = box.x + box.width / 2, y = box.y + box.height / 2;
    const before = await camera(page);
    const cdp = await context.newCDPSession(page);
    const fingers = (spread) => [{ x: x - spread, y, id: 1 }, { x: x + spread, y, id: 2 }];
    await cdp.send("Input.dispatchTouchEvent", { type: "touchStart", touchPoints: fingers(20) });
    for (let spread = 30; spread <= 100; spread += 10) {
      await cdp.send("Input.dispatchTouchEvent", { type: "touchMove", touchPoints: fingers(spread) });
    }
    await cdp.send("Input.dispatchTouchEvent", { type: "touchEnd", touchPoints: [] });
    const after = await camera(page);
    check(after.scale > before.scale * 3 && !after.follow,
          "a pinch from 40 to 200 pixels zoomed from " + before.scale + " to " + after.scale);
  } finally {
    await context.close();
  }
}

const LAYOUTS = [[360, 740], [400, 800], [768, 1024], [1280, 720], [2560, 1440]];
// Boxes that must not overlap one another, group by group.
const APART = [
  ["header h1", "header label", "#connection"],
  ["header", "#map-box", ".birds-box", "#legend", ".chat-box"],
  ["#zoom-in", "#zoom-out", "#fit", "#scale"],
  ["#log", "#say-text", "#say-button"],
];

async function checkLayouts(page, directory) {
  for (const [width, height] of LAYOUTS) {
    await page.setViewportSize({ width, height });
    await page.waitForTimeout(400);
    const found = await page.evaluate((groups) => {
      const problems = [];
      const boxes = {};
      for (const selector of groups.flat()) {
        const element = document.querySelector(selector);
        const box = element && element.getBoundingClientRect();
        if (!box || box.width === 0 || box.height === 0) problems.push(selector + " is not shown");
        else boxes[selector] = box;
      }
      const overlap = (a, b) => a.left < b.right - 0.5 && b.left < a.right - 0.5 &&
                                a.top < b.bottom - 0.5 && b.top < a.bottom - 0.5;
      for (const group of groups) {
        for (let i = 0; i < group.length; i++) {
          for (let j = i + 1; j < group.length; j++) {
            const a = boxes[group[i]], b = boxes[group[j]];
            if (a && b && overlap(a, b)) problems.push(group[i] + " overlaps " + group[j]);
          }
        }
      }
      for (const [selector, box] of Object.entries(boxes)) {
        if (box.left < -0.5 || box.right > innerWidth + 0.5) problems.push(selector + " leaves the window's width");
      }
      if (document.documentElement.scrollWidth > innerWidth) problems.push("the page scrolls sideways");
      const map = boxes["#map-box"];
      // Narrow windows give the map their whole width; wide ones keep the panel beside it.
      const least = innerWidth < 700 ? innerWidth - 1 : innerWidth - 460;
      if (map && (map.height < 280 || map.width < least)) {
        problems.push("the map is squeezed to " + Math.round(map.width) + "x" + Math.round(map.height));
      }
      const view = document.getElementById("map").dataset;
      const fit = Number(view.fitScale);
      if (!(fit > 0) || fit * 1600 > map.width) problems.push("the flock's frame is off: " + fit + " pixels a unit");
      return problems;
    }, APART);
    check(found.length === 0, "at " + width + " pixels wide: " + found.join("; "));
    await page.screenshot({ path: join(directory, "viewer-" + width + ".png") });
  }
  await page.setViewportSize({ width: 1280, height: 720 });
}

async function checkUnknownWorld(page, viewer, directory) {
  await page.goto(viewer + "?world=nowhere");
  const notice = page.locator("#notice");
  await notice.waitFor({ state: "visible", timeout: 5000 });
  await page.locator("#notice button", { hasText: "demo" }).waitFor({ timeout: 5000 });
  const text = await notice.textContent();
  check(/no world named .nowhere./.test(text), "an unknown world is not named: " + text);
  check(await page.locator("#world").inputValue() === "nowhere", "the selector does not show the world asked for");
  await page.screenshot({ path: join(directory, "viewer-unknown.png") });
  await page.click("#notice button");
  await page.waitForFunction((birds) => document.body.dataset.drawn === String(birds), BIRDS, { timeout: 10000 });
  check(new URL(page.url()).searchParams.get("world") === "demo", "choosing a world did not change the address");
  check(await notice.isHidden(), "the notice stays once the world is there");
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
    throw new Error("playwright-core is missing: run 'npm ci' in " + here + " (scripts/install-deps tests does it)");
  }

  const directory = mkdtempSync(join(tmpdir(), "skyflit-browser-"));
  const screenshots = option("--screenshots");
  mkdirSync(screenshots, { recursive: true });
  let browser;
  try {
    let worldsim = startWorldsim("0", "0");
    const ports = await waitForLine(worldsim, /universe [\d.]+:(\d+) viewer (http:\/\/[\d.]+:(\d+)\/)/, 10000);
    const [, universePort, viewer, viewerPort] = ports;

    writeFileSync(join(directory, "skyflit.ini"),
      "[Main]\nCitizen=7\nPassword=secret\nWorld=demo\nAvatar=1\nCenterCoords=0n 0e 5a\n" +
      `BirdCount=${BIRDS}\n[universe]\nhost=127.0.0.1\nport=${universePort}\n`);
    const skyflit = spawn(option("--skyflit"), ["--headless"], { cwd: directory, stdio: ["ignore", "pipe", "inherit"] });
    children.push(skyflit);
    await waitForLine(skyflit, /Skyflit now running\./, 30000);

    browser = await chromium.launch({ executablePath: chromiumPath, headless: true, args: ["--no-sandbox"] });
    const page = await browser.newPage({ viewport: { width: 1280, height: 720 } });
    const errors = [];
    page.on("pageerror", (error) => errors.push(error.message));
    await page.goto(viewer + "?world=demo");
    await page.waitForFunction((birds) => document.body.dataset.drawn === String(birds), BIRDS, { timeout: 20000 });
    const pixels = await birdPixels(page);
    if (pixels < BIRDS * 20) throw new Error("the map shows almost no bird: " + pixels + " pixels");
    await checkTexts(page);
    await checkBirdList(page);

    await page.fill("#say-text", "skyflit version");
    await page.click("#say-button");
    const whisper = page.locator("#log .whisper", { hasText: "I am Skyflit Build 6." });
    await whisper.first().waitFor({ timeout: 15000 });
    const said = await page.locator("#log .say", { hasText: "skyflit version" }).count();
    if (said !== 1) throw new Error("the chat line itself is not in the log once but " + said + " times");

    const hovered = await detailsOfFirstBird(page, (bird) => page.mouse.move(bird.x, bird.y));
    check(/session \d+ \u00b7 avatar 1/.test(hovered.text) && POSITION.test(hovered.text) && /heading \d+/.test(hovered.text),
          "hover details of " + hovered.name + " lack something: " + hovered.text);
    await page.mouse.move(1, 1);
    await checkZoomPanFit(page);
    await checkTouch(browser, viewer);

    // Let a few hops draw their trails before the pictures are taken.
    await page.waitForTimeout(2000);
    await checkLayouts(page, screenshots);
    await checkUnknownWorld(page, viewer, screenshots);

    await stop(worldsim);
    await page.locator("#banner").waitFor({ state: "visible", timeout: 5000 });
    check(await page.evaluate(() => document.body.classList.contains("lost")), "the map is not dimmed");
    await page.waitForTimeout(1500);
    check(/^last update \d+ s ago$/.test(await page.locator("#connection").textContent()),
          "the header does not say when the last update came");
    await page.screenshot({ path: join(screenshots, "viewer-stopped.png") });
    worldsim = startWorldsim(universePort, viewerPort);
    await waitForLine(worldsim, /^universe /m, 10000);
    await page.locator("#banner").waitFor({ state: "hidden", timeout: 15000 });
    await page.waitForFunction(() => document.getElementById("connection").textContent === "live", null, { timeout: 5000 });
    check(errors.length === 0, "the page threw: " + errors.join("; "));
    console.log("viewer shows " + BIRDS + " birds (" + pixels + " bird pixels), their details, the whisper, zoom, pan, " +
                "fit, pinch, layouts from 360 to 2560 pixels and the lost server; screenshots in " + screenshots);
    return 0;
  } finally {
    if (browser) await browser.close();
    for (const child of children.reverse()) await stop(child);
    rmSync(directory, { recursive: true, force: true });
  }
}

const watchdog = setTimeout(() => {
  console.error("FAIL: the browser test took longer than 150 s");
  for (const child of children) child.kill("SIGKILL");
  process.exit(1);
}, 150000);

main().then((code) => {
  clearTimeout(watchdog);
  process.exit(code);
}, (error) => {
  console.error("FAIL: " + (error && error.stack ? error.stack : error));
  process.exit(1);
});
