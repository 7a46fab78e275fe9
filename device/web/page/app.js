// The page of `velmo-device serve`. It shows what the device's programs drew
// and said, and turns clicks into requests; the server runs the programs.
// The state arrives as server-sent events, one after every change, so every
// open tab shows the same device.
"use strict";

const $ = (id) => document.getElementById(id);
let state = null;
let digits = "";           // typed on the keypad, sent only with Enter
let shownScreens = { photos: -1, settings: -1 };
let shownLog = 0;

function say(text, isError) {
  const m = $("message");
  m.textContent = text || "";
  m.className = isError ? "error" : "";
}

// Every action is a POST typed application/json: the server refuses any other
// type, as a form on another site could send those.
async function post(path, body) {
  try {
    const response = await fetch(path, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body || {}),
    });
    const answer = await response.json().catch(() => ({}));
    if (!response.ok) {
      say(answer.error || answer.message || `the server answered ${response.status}`, true);
    } else if (answer.ok === false) {
      say(answer.message, true);
    } else {
      say(answer.message || "");
    }
    return answer;
  } catch (e) {
    say("the server cannot be reached", true);
    return {};
  }
}

// A click on a screen is a touch at that point, in the screen's points.
function touchOn(name, event) {
  const screen = state && state.screens[name];
  if (!screen || !screen.width) return;
  const img = $(`${name}-img`);
  const box = img.getBoundingClientRect();
  const x = (event.clientX - box.left) * (screen.width / box.width);
  const y = (event.clientY - box.top) * (screen.height / box.height);
  if (x < 0 || y < 0 || x >= screen.width || y >= screen.height) return;
  // Sent as they are: rounded, a point near an edge could land off the screen.
  post("/api/touch", { screen: name, x, y });
}

function renderScreen(name, program, coverText) {
  const screen = state.screens[name];
  const img = $(`${name}-img`);
  const cover = $(`${name}-cover`);
  if (screen.drawn && screen.version !== shownScreens[name]) {
    img.src = `/screen/${name}.png?v=${screen.version}`;
    shownScreens[name] = screen.version;
  }
  img.hidden = !screen.drawn;
  $(`${name}-screen`).classList.toggle("tablet", screen.width > 600);
  cover.hidden = !coverText;
  cover.textContent = coverText || "";
  $(`${name}-status`).textContent = program.running
    ? `pid ${program.pid}${program.answering ? "" : ", not answering"}`
    : program.ended ? `not running: ${program.ended}` : "not running";
}

function renderOwner() {
  const owner = state.owner;
  const prompt = owner.prompt;
  $("owner").hidden = !prompt;
  if (!prompt) digits = "";
  if (prompt) {
    $("prompt-text").textContent = `“${prompt.text}”`;
    $("face").hidden = !prompt.face;
  }
  $("dots").textContent = "●".repeat(digits.length) || " ";
  $("attempts").textContent =
    owner.attemptsLeft === null ? "" : `${owner.attemptsLeft} attempt${owner.attemptsLeft === 1 ? "" : "s"} left`;
  $("outcome").textContent = owner.outcome ? `Last answer: ${owner.outcome}` : "";
}

function renderFacts() {
  const d = state.device;
  $("facts").textContent = `${d.model}, system ${d.systemVersion} — ${d.root}`;
  const faceId = !d.faceId
    ? "none"
    : d.faceIdForPhotos === null ? "enrolled"
    : d.faceIdForPhotos ? "enrolled, allowed for Photos" : "enrolled, not allowed for Photos";
  const rows = [
    ["Model", d.model],
    ["System version", d.systemVersion],
    ["Passcode", d.passcode ? "set" : "none"],
    ["Face ID", faceId],
    ["Hooks in Photos", d.hooks.length ? d.hooks.join("\n") : "none (Velmo is off)"],
  ];
  const list = $("device");
  list.replaceChildren();
  for (const [term, value] of rows) {
    const dt = document.createElement("dt");
    dt.textContent = term;
    const dd = document.createElement("dd");
    dd.textContent = value;
    list.append(dt, dd);
  }
}

function renderPrograms() {
  const list = $("program-list");
  list.replaceChildren();
  for (const [name, p] of Object.entries(state.programs)) {
    const item = document.createElement("li");
    item.dataset.program = name;
    item.textContent = !p.running
      ? `${p.label}: not running${p.ended ? ` (${p.ended})` : ""} `
      : p.answering ? `${p.label}: running, pid ${p.pid}`
      : `${p.label}: not answering since ${p.silentSince}, pid ${p.pid} `;
    item.classList.toggle("silent", p.running && !p.answering);
    // A program that is not running starts; one that is not answering is
    // ended and started again.
    if ((!p.running || !p.answering) && !state.stopping) {
      const again = document.createElement("button");
      again.textContent = p.running ? "Restart" : "Start";
      again.addEventListener("click", () => post("/api/start", { program: name }));
      item.append(again);
    }
    list.append(item);
  }
  $("start-settings").hidden = state.programs.settings.running;
}

function renderLog() {
  const list = $("log");
  const entries = state.log;
  if (entries.length && entries[0].id > shownLog) list.replaceChildren();
  for (const e of entries) {
    if (e.id <= shownLog) continue;
    const item = document.createElement("li");
    item.className = e.kind;
    item.dataset.kind = e.kind;
    item.textContent = `${e.time} ${e.text}`;
    list.prepend(item);
    shownLog = e.id;
  }
  while (list.children.length > 300) list.lastChild.remove();
}

function render(next) {
  state = next;
  const photos = state.programs.photos;
  const settings = state.programs.settings;
  const silent = (label) =>
    `${label} is not answering. Restart it under Programs, or wait until it answers again.`;
  renderScreen("photos", photos,
    !photos.running ? "Photos is not running. Open Photos starts it."
      : !photos.answering ? silent("Photos")
      : state.photos.background ? "Photos is in the background. Open Photos brings it back." : "");
  renderScreen("settings", settings,
    !settings.running ? "Settings is not running."
      : !settings.answering ? silent("Settings") : "");
  $("photos-where").textContent = photos.running && state.photos.where ? state.photos.where : "";
  renderOwner();
  renderFacts();
  renderPrograms();
  renderLog();
  document.body.dataset.version = state.version;
}

function connect() {
  const events = new EventSource("/api/events");
  events.addEventListener("state", (e) => {
    render(JSON.parse(e.data));
    if ($("message").textContent === "the server cannot be reached") say("");
  });
  events.onerror = () => {
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
    say("the server cannot be reached", true);
  };
}

function typed(digit) {
  if (digits.length < 16) digits += digit;
  $("dots").textContent = "●".repeat(digits.length);
}

function setUp() {
  $("photos-img").addEventListener("click", (e) => touchOn("photos", e));
  $("settings-img").addEventListener("click", (e) => touchOn("settings", e));
  $("home").addEventListener("click", () => post("/api/home"));
  $("open-photos").addEventListener("click", () => post("/api/open-photos"));
  $("open-pane").addEventListener("click", () => post("/api/open-pane"));
  $("start-settings").addEventListener("click", () => post("/api/start", { program: "settings" }));
  $("count-form").addEventListener("submit", (e) => {
    e.preventDefault();
    post("/api/count", { value: $("count").value.trim() });
  });
  for (const key of document.querySelectorAll("#keypad [data-digit]")) {
    key.addEventListener("click", () => typed(key.dataset.digit));
  }
  $("delete").addEventListener("click", () => {
    digits = digits.slice(0, -1);
    $("dots").textContent = "●".repeat(digits.length) || " ";
  });
  $("enter").addEventListener("click", () => {
    const code = digits;
    digits = "";
    $("dots").textContent = " ";
    if (code) post("/api/answer", { how: "passcode", code });
  });
  $("face").addEventListener("click", () => post("/api/answer", { how: "face" }));
  $("cancel").addEventListener("click", () => {
    digits = "";
    post("/api/answer", { how: "cancel" });
  });
  fetch("/api/state").then((r) => r.json()).then((s) => { if (!state) render(s); }).catch(() => {});
  connect();
}

setUp();
