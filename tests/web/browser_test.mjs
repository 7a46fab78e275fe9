// The browser test of `velmo-device serve`: Debian's Chromium, driven by
// Playwright, uses the page as a person would. It opens the page in two tabs,
// opens the Velmo pane and switches Velmo on by clicking the switch on the
// Settings screen (the pane's killall ends Photos; Open Photos starts it
// again, now with Velmo's hooks), turns on "Close Album in Background",
// clicks Hidden's row on the Photos screen, answers the owner's prompt with a
// wrong passcode and then 1234, finds the Hidden album on screen, presses
// Home and finds the album closed. The page must log no JavaScript error, the
// second tab must show the same device, and the server must leave no process
// behind when it ends.
//
// Environment: VELMO_BIN (the folder with velmo-device), VELMO_PAGE_PICTURE
// (where to save a picture of the page; the README's is docs/web-page.png).
import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const bin = process.env.VELMO_BIN || path.join(here, "../../build/bin");
const picture = process.env.VELMO_PAGE_PICTURE || "";
const chromiumPath = process.env.VELMO_CHROMIUM || "/usr/bin/chromium";
const chromiumFlags = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
];

let passed = 0;
let failed = 0;
function check(what, ok, detail) {
  if (ok) {
    passed++;
    console.log(`ok   ${what}`);
  } else {
    failed++;
    console.log(`FAIL ${what}${detail === undefined ? "" : `: ${detail}`}`);
  }
  return ok;
}

// Starts the server on a free port; resolves with its address.
function startServer(root) {
  const server = spawn(path.join(bin, "velmo-device"),
    ["serve", "--root", root, "--port", "0"], { stdio: ["ignore", "pipe", "inherit"] });
  let output = "";
  const address = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no address in: ${output}`)), 30000);
    server.stdout.on("data", (chunk) => {
      output += chunk;
      process.stdout.write(`[serve] ${chunk}`);
      const found = /at (http:\/\/127\.0\.0\.1:\d+\/)/.exec(output);
      if (found) {
        clearTimeout(timer);
        resolve(found[1]);
      }
    });
    server.on("exit", (code) => reject(new Error(`serve ended (${code}): ${output}`)));
  });
  return { server, address };
}

// The children of a process, from /proc.
function childrenOf(pid) {
  const out = [];
  try {
    for (const task of readdirSync(`/proc/${pid}/task`)) {
      const text = readFileSync(`/proc/${pid}/task/${task}/children`, "utf8").trim();
      if (text) out.push(...text.split(/\s+/).map(Number));
    }
  } catch { /* the process ended meanwhile */ }
  return out;
}

// A process that still runs (a zombie has ended).
function alive(pid) {
  try {
    const stat = readFileSync(`/proc/${pid}/stat`, "utf8");
    return !/^\d+ \(.*\) Z /.test(stat);
  } catch {
    return false;
  }
}

// The centre of the first view in a `views` listing that `matches` finds,
// in screen points.
function centreOf(views, matches) {
  const lines = views.split("\n");
  for (let i = 0; i < lines.length; i++) {
    if (!matches(lines, i)) continue;
    const f = /\(([-\d.]+), ([-\d.]+), ([-\d.]+), ([-\d.]+)\)/.exec(lines[i]);
    if (f) return { x: +f[1] + +f[3] / 2, y: +f[2] + +f[4] / 2 };
  }
  return null;
}

async function main() {
  const root = mkdtempSync(path.join(tmpdir(), "velmo-web-"));
  const profile = mkdtempSync(path.join(tmpdir(), "velmo-chromium-"));
  const { server, address } = startServer(path.join(root, "device"));
  let context = null;
  const errors = [];
  try {
    const url = await address;
    context = await chromium.launchPersistentContext(profile, {
      executablePath: chromiumPath, headless: true, args: chromiumFlags,
      viewport: { width: 1400, height: 1000 },
    });
    const watch = (page, name) => {
      page.on("pageerror", (e) => errors.push(`${name}: ${e.message}`));
      page.on("console", (m) => { if (m.type() === "error") errors.push(`${name}: ${m.text()}`); });
    };
    const page = context.pages()[0] || await context.newPage();
    watch(page, "first tab");
    await page.goto(url);
    const other = await context.newPage();
    watch(other, "second tab");
    await other.goto(url);

    const api = async (what) => (await page.request.get(url + what)).text();
    const state = async () => JSON.parse(await api("api/state"));
    const logText = async () => (await state()).log.map((e) => e.text).join("\n");
    const waitFor = async (what, test, timeout = 15000) => {
      const end = Date.now() + timeout;
      while (Date.now() < end) {
        if (await test()) return check(what, true);
        await page.waitForTimeout(100);
      }
      return check(what, false, await logText());
    };
    const drawn = (name) => page.evaluate((n) => {
      const img = document.getElementById(`${n}-img`);
      return !img.hidden && img.complete && img.naturalWidth > 0;
    }, name);
    // A click on a screen at a point given in points.
    const clickAt = async (name, point) => {
      const s = (await state()).screens[name];
      const box = await page.locator(`#${name}-img`).boundingBox();
      await page.mouse.click(box.x + point.x * box.width / s.width,
                             box.y + point.y * box.height / s.height);
    };
    const caption = () => page.locator("#photos-where").textContent();

    await waitFor("the page shows both screens", async () => await drawn("photos") && await drawn("settings"));

    await page.click("#open-pane");
    await waitFor("Photos hears the pane open", async () =>
      /Photos received com\.qel\.velmopreferences\/changed/.test(await logText()));

    const master = centreOf(await api("api/views/settings"),
      (l, i) => l[i].includes("UISwitch") && l.slice(0, i).some((x) => x.includes("UINavigationBar")));
    check("the master switch is on the Settings screen", master !== null);
    await clickAt("settings", master);
    await waitFor("the pane's killall ends Photos with SIGKILL", async () =>
      /Photos \(pid \d+\) was ended by killall/.test(await logText()) &&
      /Photos \(pid \d+\) ended by signal 9 \(SIGKILL\): the Velmo pane's killall/.test(await logText()));
    await waitFor("the page says Photos is not running", async () =>
      /not running/.test(await page.locator("#photos-cover").textContent()));

    const closeInBackground = centreOf(await api("api/views/settings"),
      (l, i) => l[i].includes("UISwitch") && (l[i + 1] || "").includes("\"Close Album in Background\""));
    await clickAt("settings", closeInBackground);
    const settingsFile = path.join(root,
      "device/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist");
    await waitFor("Close Album in Background is stored", async () =>
      existsSync(settingsFile) && readFileSync(settingsFile).includes("popToRoot"));

    await page.click("#open-photos");
    await waitFor("Open Photos starts Photos again, with Velmo's hooks", async () =>
      (await state()).programs.photos.running &&
      /PXNavigationListGadget/.test(await page.locator("#device").textContent()));
    await waitFor("the Photos screen is drawn again", () => drawn("photos"));

    const hidden = centreOf(await api("api/views/photos"), (l, i) => l[i].includes("\"Hidden\""));
    await clickAt("photos", hidden);
    await waitFor("the owner's panel appears", () => page.locator("#owner").isVisible());
    check("nothing opened yet", (await caption()) === "Albums", await caption());

    for (const d of "1111") await page.click(`#keypad [data-digit="${d}"]`);
    await page.click("#enter");
    await waitFor("a wrong passcode leaves 4 attempts", async () =>
      (await page.locator("#attempts").textContent()) === "4 attempts left");
    if (picture) await page.screenshot({ path: picture, fullPage: true });

    for (const d of "1234") await page.click(`#keypad [data-digit="${d}"]`);
    await page.click("#enter");
    await waitFor("1234 opens the Hidden album", async () => (await caption()) === "Albums > Hidden");
    check("the Hidden album is on the screen",
      /UINavigationBar[\s\S]*"Hidden"/.test(await api("api/views/photos")));
    check("the owner's panel is gone", !(await page.locator("#owner").isVisible()));
    const log = await logText();
    check("the log says passcode entered, never the digits",
      /passcode entered: wrong passcode, 4 attempts left/.test(log) &&
      /passcode entered: passcode accepted/.test(log) && !/1111|1234/.test(log), log);

    await page.click("#home");
    await waitFor("Home closes the album", async () => (await caption()) === "Albums");
    await page.click("#open-photos");
    await waitFor("back in Photos, the album list", async () =>
      !(await state()).photos.background && (await caption()) === "Albums");

    // Both tabs show the server's latest state and the same log, newest first.
    const shown = (tab) => tab.evaluate(() => ({
      version: document.body.dataset.version,
      log: [...document.querySelectorAll("#log li")].map((li) => li.textContent),
    }));
    await waitFor("the second tab shows the same device", async () => {
      const now = await state();
      const mine = await shown(page);
      const theirs = await shown(other);
      return mine.version === String(now.version) && theirs.version === mine.version &&
        theirs.log.length > 0 && theirs.log.join("\n") === mine.log.join("\n") &&
        theirs.log[0].endsWith(now.log.at(-1).text);
    });
    check("no JavaScript error", errors.length === 0, errors.join("\n"));
  } catch (e) {
    check("the flow ran to its end", false, e.stack || e);
  } finally {
    if (context) await context.close();
    const children = childrenOf(server.pid);
    const ended = new Promise((resolve) => server.on("exit", (code, signal) => resolve({ code, signal })));
    server.kill("SIGTERM");
    const how = await Promise.race([ended, new Promise((r) => setTimeout(() => r(null), 20000))]);
    check("SIGTERM ends the server", how !== null && how.code === 0, JSON.stringify(how));
    check("the server's programs are gone", children.length > 0 && children.every((p) => !alive(p)),
      `children ${children}`);
    rmSync(root, { recursive: true, force: true });
    rmSync(profile, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main();
