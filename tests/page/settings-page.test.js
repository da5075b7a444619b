// The settings page, end to end: a game folder made from the release zip, the native
// glimmerward-check serving it with --page, Debian's chromium driving the page like a player,
// the file on disk checked line by line, and the real plug-in in the stand-in host (through
// scripts/with-wine) reading the result before and after.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const {spawn, spawnSync} = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const {chromium} = require('playwright-core');

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run this test through ctest in the native build`);
  return value;
};
const checker = env('PAGE_CHECKER');
const work = env('PAGE_WORK');
const root = env('PAGE_ROOT');
const game = path.join(work, 'Game');
const ini = path.join(game, 'Glimmerward.ini');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const read = () => fs.readFileSync(ini, 'latin1');
const lines = (text) => text.split('\r\n');
const lineOf = (text, key) => lines(text).find((line) => line.startsWith(key + ' ='));

// Waits for the file to satisfy `wanted` (the server writes it after the page's request).
async function fileWhere(wanted, what, ms = 10000) {
  const end = Date.now() + ms;
  for (;;) {
    const text = read();
    if (wanted(text)) return text;
    if (Date.now() > end) assert.fail(`the file never came to ${what}; it has:\n${text}`);
    await sleep(20);
  }
}
const fileLine = (key, value) => fileWhere((text) => lineOf(text, key) === `${key} = ${value}`, `"${key} = ${value}"`);

// A file change made outside the page, as an editor saves: a new file put in place in one step.
function writeOutside(text) {
  fs.writeFileSync(ini + '.outside', text, 'latin1');
  fs.renameSync(ini + '.outside', ini);
}

// The stand-in host with the release's plug-in, run once in the game folder through the
// project's runner: every setting's row of what the plug-in wrote into the host.
function runHost() {
  const run = spawnSync(path.join(root, 'scripts/with-wine'),
    [path.join(root, 'scripts/wine-run'), 'GlimmerwardHost.exe', '--dll', 'scripts\\Glimmerward.dll'],
    {cwd: game, encoding: 'latin1', maxBuffer: 1 << 24});
  const out = (run.stdout || '').replace(/\r/g, '');
  assert.equal(run.status, 0, `the stand-in host failed (status ${run.status}):\n${out}\n${run.stderr}`);
  const rows = new Map();
  for (const line of out.split('\n')) {
    const match = /^(\w+)\s+0x[0-9A-F]{6}\s+(.*?)\s+(file|default)$/.exec(line);
    if (match) rows.set(match[1], {values: match[2].trim().split(/\s+/).join(' '), from: match[3]});
  }
  assert.equal(rows.size, 59, `the stand-in host should show all 59 settings:\n${out}`);
  // Where the runner ran it: on this machine or in the emulated one.
  rows.runner = ((run.stderr || '').match(/^with-wine: Windows programs run .*$/m) || ['with-wine: ?'])[0];
  return rows;
}

// One request to the server, as any local program could make it.
function request({method = 'GET', path: target, headers = {}, body}) {
  return new Promise((resolve, reject) => {
    const req = http.request({host: '127.0.0.1', port: server.port, method, path: target, headers}, (res) => {
      let data = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { data += chunk; });
      res.on('end', () => resolve({status: res.statusCode, headers: res.headers, body: data}));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

// glimmerward-check --page serving the game folder `folder`, once it has shown its address.
async function serve(folder, args, environment) {
  const served = {process: null, out: '', err: '', port: 0, url: '', secret: ''};
  served.process = spawn(checker, ['--page', ...args, folder], {stdio: ['ignore', 'pipe', 'pipe'], env: environment});
  served.process.stdout.setEncoding('utf8');
  served.process.stderr.setEncoding('utf8');
  served.process.stdout.on('data', (chunk) => { served.out += chunk; });
  served.process.stderr.on('data', (chunk) => { served.err += chunk; });
  const end = Date.now() + 30000;
  let match;
  while (!(match = /http:\/\/127\.0\.0\.1:(\d+)\/\?key=([0-9a-f]{64})/.exec(served.out))) {
    if (served.process.exitCode !== null || Date.now() > end) {
      assert.fail(`glimmerward-check --page gave no address:\n${served.out}\n${served.err}`);
    }
    await sleep(20);
  }
  [served.url, served.port, served.secret] = [match[0], Number(match[1]), match[2]];
  return served;
}

let server;
const handedOver = path.join(work, 'handed-over');
const writes = () => (server.out.match(/^written: /gm) || []).length;
let original;
let hostBefore;
let browser;
let page;

test.before(async () => {
  // The game folder as README.txt lays it out: the plug-in in "scripts", the checker and the
  // defaults file beside the game's executable, and the checker started there once, which
  // makes Glimmerward.ini of the defaults.
  for (const name of ['PAGE_RELEASE_ZIP', 'PAGE_HOST']) {
    assert.ok(fs.existsSync(env(name)), `${env(name)} is missing: build the Windows build first ` +
      '(cmake --preset windows), or point GLIMMERWARD_WINDOWS_BUILD at it');
  }
  fs.rmSync(work, {recursive: true, force: true});
  const unpacked = path.join(work, 'Glimmerward');
  fs.mkdirSync(path.join(game, 'scripts'), {recursive: true});
  const unzip = spawnSync('unzip', ['-q', env('PAGE_RELEASE_ZIP'), '-d', unpacked], {encoding: 'utf8'});
  assert.equal(unzip.status, 0, unzip.stderr);
  fs.copyFileSync(path.join(unpacked, 'Glimmerward.dll'), path.join(game, 'scripts/Glimmerward.dll'));
  for (const name of ['glimmerward-check.exe', 'Glimmerward-defaults.ini']) {
    fs.copyFileSync(path.join(unpacked, name), path.join(game, name));
  }
  assert.equal(spawnSync(env('PAGE_GAME_FILE'), [path.join(game, 'Game.exe')]).status, 0);
  fs.copyFileSync(env('PAGE_HOST'), path.join(game, 'GlimmerwardHost.exe'));
  spawnSync(checker, ['--no-wait', game], {encoding: 'utf8'});
  original = read();
  assert.equal(original, fs.readFileSync(path.join(game, 'Glimmerward-defaults.ini'), 'latin1'));

  hostBefore = runHost();

  // The checker opens the page as it does for a player, through xdg-open, here a stand-in that
  // notes what it was handed; the runtime folder is one of the test's own.
  const bin = path.join(work, 'bin');
  const runtime = path.join(work, 'runtime');
  fs.mkdirSync(bin);
  fs.mkdirSync(runtime, {mode: 0o700});
  fs.writeFileSync(path.join(bin, 'xdg-open'), `#!/bin/sh\nprintf '%s' "$1" > '${handedOver}.part' && mv '${handedOver}.part' '${handedOver}'\n`,
    {mode: 0o755});
  server = await serve(game, [], {...process.env, PATH: `${bin}:${process.env.PATH}`, XDG_RUNTIME_DIR: runtime});

  browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
  // A laptop's screen less the browser's own bars.
  // One context for the pages of both game folders, which share its clipboard.
  page = await (await browser.newContext({viewport: {width: 1366, height: 660}})).newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  // The browser's own request for /favicon.ico carries no key and is refused, as it should be.
  page.on('console', (message) => {
    if (message.type() === 'error' && !/\/favicon\.ico$/.test(message.location().url)) errors.push(message.text());
  });
  page.errors = errors;
  const opened = Date.now() + 10000;
  while (!fs.existsSync(handedOver)) {
    if (Date.now() > opened) assert.fail(`glimmerward-check --page opened no browser:\n${server.out}`);
    await sleep(20);
  }
  const redirect = fs.readFileSync(handedOver, 'utf8');
  server.redirect = {path: redirect, text: fs.readFileSync(redirect, 'utf8'), mode: fs.statSync(redirect).mode & 0o777,
    folderMode: fs.statSync(path.dirname(redirect)).mode & 0o777};
  await page.goto('file://' + redirect);
  // The rows are made once the page has the file's state.
  await page.waitForFunction(() => document.getElementById('value-PickupSize')?.value === '1.2');
});

test('the key reaches the page through a private file, and leaves the address bar at once', async () => {
  const redirect = server.redirect;
  assert.ok(!redirect.path.includes(server.secret), 'the browser was handed the key itself');
  assert.ok(redirect.path.startsWith(path.join(work, 'runtime') + '/'), redirect.path);
  assert.ok(redirect.text.includes(server.url), redirect.text);
  assert.equal(redirect.mode, 0o600);
  assert.equal(redirect.folderMode, 0o700);
  assert.equal(page.url(), `http://127.0.0.1:${server.port}/`);
  // Its job done, the private file is gone.
  const end = Date.now() + 5000;
  while (fs.existsSync(redirect.path) && Date.now() < end) await sleep(20);
  assert.ok(!fs.existsSync(redirect.path), `${redirect.path} is still there after the page loaded`);
  // A reload still works: the tab keeps the key.
  await page.reload();
  await page.waitForFunction(() => document.getElementById('value-PickupSize')?.value === '1.2');
  assert.equal(page.url(), `http://127.0.0.1:${server.port}/`);
});

test.after(async () => {
  if (browser) await browser.close();
  for (const served of [server, secondServer]) {
    if (served && served.process.exitCode === null) served.process.kill();
  }
});

test('the page opens with the summary and the first settings in view, and nothing else loaded', async () => {
  const inView = async (selector) => {
    const box = await page.locator(selector).boundingBox();
    return box && box.y >= 0 && box.y + box.height <= 660;
  };
  for (const selector of ['#closing', '#status', '#search', '#setting-PickupSize', '#setting-TurnSpeed']) {
    assert.ok(await inView(selector), `${selector} should be in view without scrolling`);
  }
  assert.equal(await page.locator('#closing').textContent(), 'Nothing looks wrong.');
  assert.equal(await page.locator('.setting[data-key]').count(), 59);
  assert.deepEqual(await page.locator('.group h2').allTextContents(),
    ['Pickups', 'Weapon circles', 'Text', 'Effects', 'Colour entries']);
  const row = page.locator('#setting-PickupColor_5');
  assert.equal(await row.locator('.origin').textContent(), 'line 93');
  assert.equal(await row.locator('.default-value').textContent(), '97 194 247 0 1');
  assert.equal(await page.locator('#value-PickupColor_5').inputValue(), '#61c2f7');
  const backup = await page.locator('#backup').textContent();
  assert.equal(path.basename(backup.replace(/\\/g, '/')), 'Glimmerward.ini.bak');
});

test('a colour picker dragged to red writes a few times, the last colour last', async (t) => {
  const before = writes();
  const dragged = await page.evaluate(async () => {
    const started = performance.now();
    const picker = document.getElementById('value-PickupColor_5');
    const from = [97, 194, 247], to = [255, 0, 0];
    for (let i = 1; i <= 50; i++) {
      const channels = from.map((start, c) => Math.round(start + (to[c] - start) * i / 50));
      picker.value = '#' + channels.map((n) => n.toString(16).padStart(2, '0')).join('');
      picker.dispatchEvent(new Event('input', {bubbles: true}));
      await new Promise((resolve) => setTimeout(resolve, 17));
    }
    picker.dispatchEvent(new Event('change', {bubbles: true}));
    return performance.now() - started;
  });
  await fileLine('PickupColor_5', '255 0 0 0 1');
  await sleep(300);  // a write still on its way would be counted too
  const count = writes() - before;
  t.diagnostic(`a drag of 50 steps over ${Math.round(dragged)} ms wrote the file ${count} times`);
  // The first step at once, then at most one write per 100 ms of dragging, and the last step.
  assert.ok(count > 1 && count <= Math.min(25, 2 + Math.floor(dragged / 100)), `a drag of 50 steps wrote ${count} times`);
  assert.equal(lineOf(read(), 'PickupColor_5'), 'PickupColor_5 = 255 0 0 0 1');
  assert.equal(await page.locator('#setting-PickupColor_5 .channels').textContent(), '255 0 0');
});

test('PickupSize typed with the keyboard alone', async () => {
  for (let i = 0; i < 12 && await page.evaluate(() => document.activeElement.id) !== 'value-PickupSize'; i++) {
    await page.keyboard.press('Tab');
  }
  assert.equal(await page.evaluate(() => document.activeElement.id), 'value-PickupSize');
  await page.keyboard.press('Control+A');
  await page.keyboard.type('2.5');
  await page.keyboard.press('Enter');
  await fileLine('PickupSize', '2.5');
  assert.equal(await page.locator('#setting-PickupSize .origin').textContent(), 'line 40');
});

test('TurnSpeed changed, then back to its default through its button', async () => {
  await page.getByRole('spinbutton', {name: 'TurnSpeed', exact: true}).fill('0.005');
  await page.keyboard.press('Enter');
  await fileLine('TurnSpeed', '0.005');
  await page.getByRole('button', {name: 'Set TurnSpeed back to its default', exact: true}).click();
  // The writer writes a default as the shortest text that reads back to it; for TurnSpeed
  // that is the release's own text, 0.0030566407, so the line is as it was.
  await fileLine('TurnSpeed', '0.0030566407');
  assert.equal(await page.locator('#value-TurnSpeed').inputValue(), '0.0030566407');
});

test('undo steps back one change at a time, a whole drag as one, and redo makes them again', async () => {
  const undo = page.getByRole('button', {name: 'Undo', exact: true});
  const redo = page.getByRole('button', {name: 'Redo', exact: true});
  const keys = (combination) => () => page.keyboard.press(combination);  // focus is on a button
  const steps = [  // newest first, then back again: how, and the file's line after it
    [keys('Control+z'), 'TurnSpeed', '0.005'],
    [() => undo.click(), 'TurnSpeed', '0.0030566407'],
    [() => undo.click(), 'PickupSize', '1.2'],
    [() => undo.click(), 'PickupColor_5', '97 194 247 0 1'],
    [keys('Control+y'), 'PickupColor_5', '255 0 0 0 1'],
    [() => redo.click(), 'PickupSize', '2.5'],
    [() => redo.click(), 'TurnSpeed', '0.005'],
    [() => redo.click(), 'TurnSpeed', '0.0030566407'],
  ];
  for (const [act, key, value] of steps) {
    await act();
    await fileLine(key, value);
  }
  assert.ok(await redo.isDisabled(), 'nothing left to redo');
});

test('an arrow key steps a number field by its setting\'s own step', async () => {
  const field = page.getByRole('spinbutton', {name: 'TurnSpeed', exact: true});
  await field.focus();
  await page.keyboard.press('ArrowUp');
  assert.equal(await field.inputValue(), '0.0031');  // a ten-thousandth, not 1
  await page.keyboard.press('Enter');
  await fileLine('TurnSpeed', '0.0031');
  await page.getByRole('button', {name: 'Set TurnSpeed back to its default', exact: true}).click();
  await fileLine('TurnSpeed', '0.0030566407');
  // A value between two steps is no mistake: the field is not marked.
  assert.equal(await page.locator('#value-TurnSpeed.bad').count(), 0);
});

test('the search box finds Distance2DFX by part of its name', async () => {
  await page.getByRole('searchbox', {name: 'Search settings by name'}).fill('distance2d');
  assert.ok(await page.locator('#setting-Distance2DFX').isVisible());
  const shown = await page.locator('.setting[data-key]:visible').evaluateAll((rows) => rows.map((row) => row.dataset.key));
  assert.deepEqual(shown, ['Distance2DFX']);
  // A search that matches no colour entry shows no empty colour table.
  assert.deepEqual(await page.locator('.group:visible h2').allTextContents(), ['Effects']);
  await page.getByRole('searchbox', {name: 'Search settings by name'}).fill('');
  assert.equal(await page.locator('.setting[data-key]:visible').count(), 59);
  // The page as a player has it now, for a person to look at.
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({path: env('PAGE_SCREENSHOT'), fullPage: true});
});

test('every control has an accessible name in chromium\'s accessibility tree', async () => {
  const cdp = await page.context().newCDPSession(page);
  const {root: doc} = await cdp.send('DOM.getDocument', {depth: -1});
  // Those in view: the paste box is closed.
  const selector = ['input', 'button', 'a[href]', 'select', 'textarea'].map((tag) => tag + ':not([hidden] *)').join(', ');
  const {nodeIds} = await cdp.send('DOM.querySelectorAll', {nodeId: doc.nodeId, selector});
  const backendIds = [];
  for (const nodeId of nodeIds) backendIds.push((await cdp.send('DOM.describeNode', {nodeId})).node.backendNodeId);
  const {nodes} = await cdp.send('Accessibility.getFullAXTree');
  // An element's own node comes first; nodes inside it (a field's text) may share its id.
  const byBackend = new Map();
  for (const node of nodes) {
    if (node.backendDOMNodeId && !byBackend.has(node.backendDOMNodeId)) byBackend.set(node.backendDOMNodeId, node);
  }
  const names = backendIds.map((id) => byBackend.get(id)).map((node) => node && !node.ignored ? (node.name && node.name.value) || '' : null);
  // 15 floats, 44 colour entries of three controls each, a button per setting, search, undo,
  // redo, and the presets' name, save, copy and paste buttons.
  assert.equal(names.length, 15 + 44 * 3 + 59 + 3 + 4);
  assert.deepEqual(names.filter((name) => !name), [], 'controls without an accessible name');
  for (const name of ['PickupSize', 'PickupColor_5 channels 0 to 2', 'PickupColor_5 channel 3', 'PickupColor_5 number',
    'Set PickupSize back to its default', 'Search settings by name', 'Undo', 'Redo',
    'Name of the new preset', 'Save the current settings as…', 'Copy to share', 'Paste a shared preset']) {
    assert.ok(names.includes(name), `a control named "${name}"`);
  }
  await cdp.detach();
  // So far (before the refusals below, which the browser logs) no script error, and nothing
  // that the page's policy had to block: it loads nothing from elsewhere.
  assert.deepEqual(page.errors, [], 'the page met no error and no blocked load');
});

test('requests that break a rule are refused and change nothing', async () => {
  const before = read();
  const writesBefore = writes();
  const version = (await (await request({path: '/api/state', headers: {'X-Glimmerward-Key': server.secret}})).body);
  const expect = JSON.parse(version).version;
  const host = `127.0.0.1:${server.port}`;
  const change = JSON.stringify({expect, set: [{key: 'PickupSize', value: '9'}]});
  const good = {'Host': host, 'X-Glimmerward-Key': server.secret, 'Origin': `http://${host}`, 'Content-Type': 'application/json'};
  const post = (headers, body = change) => ({method: 'POST', path: '/api/change', headers, body});
  const refused = [
    ['the state without the secret', {path: '/api/state'}, 403],
    ['a change without the secret', post({...good, 'X-Glimmerward-Key': undefined}), 403],
    ['the page for a wrong Host', {path: '/?key=' + server.secret, headers: {Host: `evil.example:${server.port}`}}, 403],
    ['a change for a wrong Host', post({...good, Host: `evil.example:${server.port}`}), 403],
    ['a change from a foreign Origin', post({...good, Origin: 'http://evil.example'}), 403],
    ['a change without an Origin', post({...good, Origin: undefined}), 403],
    ['a change that is not JSON (by its type)', post({...good, 'Content-Type': 'text/plain'}), 415],
    ['a change that is not JSON (by its body)', post(good, '{"expect": "' + expect + '", set: ['), 400],
  ];
  for (const [what, options, status] of refused) {
    options.headers = Object.fromEntries(Object.entries(options.headers || {}).filter(([, value]) => value !== undefined));
    const answer = await request(options);
    assert.equal(answer.status, status, `${what}: ${answer.status} ${answer.body.slice(0, 200)}`);
    assert.equal(read(), before, `${what}: the file changed`);
  }
  // The same change with every rule kept is taken: it was the rule that refused it above.
  const taken = await request(post(good, JSON.stringify({expect, set: [{key: 'PickupSize', value: '2.5'}]})));
  assert.equal(taken.status, 200, taken.body);
  assert.equal(JSON.parse(taken.body).outcome, 'unchanged');
  assert.equal(read(), before);
  assert.equal(writes(), writesBefore);

  const pageAnswer = await request({path: '/?key=' + server.secret, headers: {Host: host}});
  assert.equal(pageAnswer.status, 200);
  assert.equal(pageAnswer.headers['cache-control'], 'no-store');
  assert.equal(pageAnswer.headers['x-content-type-options'], 'nosniff');
  assert.equal(pageAnswer.headers['referrer-policy'], 'no-referrer');
  assert.match(pageAnswer.headers['content-security-policy'] || '', /connect-src 'self'/);
});

test('the server listens on the loopback address only', () => {
  const hexPort = server.port.toString(16).toUpperCase().padStart(4, '0');
  const listening = [];
  for (const table of ['/proc/net/tcp', '/proc/net/tcp6']) {
    if (!fs.existsSync(table)) continue;
    for (const row of fs.readFileSync(table, 'utf8').trim().split('\n').slice(1)) {
      const [, local, , state] = row.trim().split(/\s+/);
      const [address, port] = local.split(':');
      if (port === hexPort && state === '0A') listening.push(address);
    }
  }
  // 127.0.0.1 as the kernel shows it: 0100007F (IPv4), or mapped into IPv6.
  assert.ok(listening.length > 0, `no socket listens on port ${server.port}`);
  for (const address of listening) {
    assert.ok(address === '0100007F' || address === '0000000000000000FFFF00000100007F',
      `port ${server.port} is listened on at ${address}, not only at 127.0.0.1`);
  }
});

test('edits made outside the page show on it, and a change against an older version is refused', async () => {
  const state = () => page.evaluate(async (key) => (await (await fetch('/api/state', {headers: {'X-Glimmerward-Key': key}})).json()), server.secret);
  const older = (await state()).version;
  const unchanged = read();
  const original = lineOf(unchanged, 'TextAlpha');
  assert.equal(original, 'TextAlpha = 255.0');
  writeOutside(unchanged.replace(original, 'TextAlpha = 128'));
  await page.waitForFunction(() => document.getElementById('value-TextAlpha').value === '128', null, {timeout: 1000});
  assert.match(await page.locator('#status').textContent(), /changed outside this page/);

  // A change based on the version before the outside edit.
  const edited = read();
  const stale = await page.evaluate(async ([key, expect]) => {
    const response = await fetch('/api/change', {method: 'POST', headers: {'X-Glimmerward-Key': key, 'Content-Type': 'application/json'},
      body: JSON.stringify({expect, set: [{key: 'PickupSize', value: '3'}]})});
    return {status: response.status, body: await response.json()};
  }, [server.secret, older]);
  assert.equal(stale.status, 409);
  assert.equal(stale.body.outcome, 'stale');
  assert.equal(read(), edited);

  // The page's own change, made before it has seen an outside edit (its polls held back
  // meanwhile): refused, and the page says so and shows the file as it is.
  const held = [];
  let polled, released = false;
  const polling = new Promise((resolve) => { polled = resolve; });
  await page.route('**/api/state**', (route) => {
    if (released) return route.continue();
    held.push(route);
    polled();
  });
  await polling;
  writeOutside(edited.replace('TextAlpha = 128', original));
  const restored = read();
  await page.getByRole('spinbutton', {name: 'EffectStrength', exact: true}).fill('3');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => /changed outside this page/.test(document.getElementById('status').textContent) &&
    /Not written/.test(document.getElementById('status').textContent));
  assert.equal(read(), restored);
  assert.equal(await page.locator('#value-EffectStrength').inputValue(), '1.5');
  assert.equal(await page.locator('#value-TextAlpha').inputValue(), '255');
  released = true;
  for (const route of held) await route.continue();
  await page.unroute('**/api/state**');
});

test('the file differs from the release\'s in the two lines changed, and the plug-in reads them', async (t) => {
  const now = lines(read());
  const was = lines(original);
  assert.equal(now.length, was.length);
  const changed = now.map((line, i) => [was[i], line]).filter(([before, after]) => before !== after);
  assert.deepEqual(changed, [
    ['PickupSize = 1.2', 'PickupSize = 2.5'],
    ['PickupColor_5 = 97 194 247 0 1.0', 'PickupColor_5 = 255 0 0 0 1'],
  ]);
  assert.ok(fs.existsSync(path.join(game, 'Glimmerward.ini.bak')), 'the backup is where the page says');

  const hostAfter = runHost();
  t.diagnostic(hostAfter.runner);
  const differ = [...hostAfter].filter(([key, row]) => JSON.stringify(row) !== JSON.stringify(hostBefore.get(key)));
  assert.deepEqual(Object.fromEntries(differ), {
    PickupSize: {values: '2.5', from: 'file'},
    PickupColor_5: {values: '255 0 0 0 1', from: 'file'},
  });
  assert.deepEqual(hostBefore.get('PickupColor_5'), {values: '97 194 247 0 1', from: 'file'});
});

// ---- presets ----------------------------------------------------------------------------------

let secondServer;
const presetFile = (folder, name) => path.join(folder, 'Glimmerward-presets', name + '.ini');
// Every setting's value text in a settings file, by key.
const values = (text) => new Map(text.split(/\r?\n/).map((line) => /^(\w+) = (.*)$/.exec(line)).filter(Boolean).map((m) => [m[1], m[2]]));

test('a preset saved, settings changed, the preset applied, and its apply taken back with one undo', async () => {
  const saved = read();
  await page.getByRole('textbox', {name: 'Name of the new preset'}).fill('Calm evening');
  await page.getByRole('button', {name: 'Save the current settings as…'}).click();
  await page.getByRole('button', {name: 'Apply the preset Calm evening', exact: true}).waitFor();
  const preset = fs.readFileSync(presetFile(game, 'Calm evening'), 'latin1');
  assert.match(preset, /^# Glimmerward preset: Calm evening\n/);
  assert.match(preset, /^PickupSize = 2\.5$/m);
  assert.match(preset, /^PickupColor_5 = 255 0 0 0 1$/m);

  for (const [name, value] of [['PickupSize', '3'], ['TurnSpeed', '0.01'], ['EffectStrength', '2']]) {
    await page.getByRole('spinbutton', {name, exact: true}).fill(value);
    await page.keyboard.press('Enter');
    await fileLine(name, value);
  }
  const changed = read();
  await sleep(300);  // the last change's "written:" line may still be on its way
  const writesBefore = writes();
  await page.getByRole('button', {name: 'Apply the preset Calm evening', exact: true}).click();
  await fileWhere((text) => text === saved, 'the file as the preset was saved');
  await page.waitForFunction(() => /Applied the preset “Calm evening”, 3 settings changed/.test(document.getElementById('status').textContent));
  assert.match(await page.locator('#status').textContent(), /Undo takes it back/);
  assert.equal(await page.locator('#value-TurnSpeed').inputValue(), '0.0030566407');
  await sleep(300);
  assert.equal(writes() - writesBefore, 1, 'the apply is one write');

  // One undo step takes the whole apply back, in one write.
  await page.getByRole('button', {name: 'Undo', exact: true}).click();
  await fileWhere((text) => text === changed, 'the file as it was before the apply');
  await sleep(300);
  assert.equal(writes() - writesBefore, 2, 'its undo is one write');
  assert.equal(await page.locator('#value-PickupSize').inputValue(), '3');
});

test('Delete asks first', async () => {
  await page.getByRole('textbox', {name: 'Name of the new preset'}).fill('Spare');
  await page.getByRole('button', {name: 'Save the current settings as…'}).click();
  const remove = page.getByRole('button', {name: 'Delete the preset Spare', exact: true});
  await remove.waitFor();
  page.once('dialog', (dialog) => dialog.dismiss());
  await remove.click();
  await sleep(500);
  assert.ok(fs.existsSync(presetFile(game, 'Spare')), 'a preset deleted though the player said no');
  page.once('dialog', (dialog) => dialog.accept());
  await remove.click();
  await remove.waitFor({state: 'detached'});
  assert.ok(!fs.existsSync(presetFile(game, 'Spare')));
  assert.ok(fs.existsSync(presetFile(game, 'Calm evening')));
});

test('the share text goes through the real clipboard into a second game folder\'s page', async () => {
  const second = path.join(work, 'Second game');
  fs.mkdirSync(second);
  fs.copyFileSync(path.join(game, 'Glimmerward-defaults.ini'), path.join(second, 'Glimmerward.ini'));
  assert.equal(spawnSync(env('PAGE_GAME_FILE'), [path.join(second, 'Game.exe')]).status, 0);
  const secondBefore = fs.readFileSync(path.join(second, 'Glimmerward.ini'), 'latin1');
  secondServer = await serve(second, ['--no-browser'], process.env);
  const context = page.context();
  for (const port of [server.port, secondServer.port]) {
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: `http://127.0.0.1:${port}`});
  }

  await page.getByRole('button', {name: 'Copy to share', exact: true}).click();
  await page.waitForFunction(() => /on the clipboard/.test(document.getElementById('status').textContent));
  const shared = await page.evaluate(() => navigator.clipboard.readText());
  assert.deepEqual(shared.split('\n').filter((line) => line && !line.startsWith('#')).sort(),
    ['EffectStrength = 2', 'PickupColor_5 = 255 0 0 0 1', 'PickupSize = 3', 'TurnSpeed = 0.01']);
  assert.ok(!shared.includes(work) && !shared.includes('Glimmerward.ini'), `the share text names a path:\n${shared}`);

  const other = await context.newPage();
  await other.goto(secondServer.url);
  await other.waitForFunction(() => document.getElementById('value-PickupSize')?.value === '1.2');
  await other.getByRole('button', {name: 'Paste a shared preset', exact: true}).click();
  await other.getByRole('button', {name: 'Paste from the clipboard', exact: true}).click();
  await other.locator('#share-preview tbody tr').nth(3).waitFor();
  assert.equal(await other.locator('#share-preview tbody tr').count(), 4);
  assert.equal(fs.readFileSync(path.join(second, 'Glimmerward.ini'), 'latin1'), secondBefore, 'written before the player confirmed');
  await other.locator('#presets').scrollIntoViewIfNeeded();
  await other.screenshot({path: path.join(path.dirname(env('PAGE_SCREENSHOT')), 'presets-panel.png')});
  await other.getByRole('button', {name: 'Apply it', exact: true}).click();
  await other.waitForFunction(() => /Applied the pasted preset/.test(document.getElementById('status').textContent));
  assert.deepEqual(values(fs.readFileSync(path.join(second, 'Glimmerward.ini'), 'latin1')), values(read()));
  page.secondPage = other;
});

test('a pasted text with two mistakes shows them, and nothing is written until the player confirms', async () => {
  const other = page.secondPage;
  const file = path.join(work, 'Second game', 'Glimmerward.ini');
  const before = fs.readFileSync(file, 'latin1');
  await other.getByRole('textbox', {name: /A preset someone shared with you/}).fill(
    '# Glimmerward preset: Bright\nTextAlpha = 100\nPickupSize = 1,5\nTurnSpeeed = 0.02\n');
  await other.waitForFunction(() => document.querySelectorAll('#share-preview li.problem').length === 2);
  const problems = await other.locator('#share-preview li.problem').allTextContents();
  assert.ok(problems.some((text) => /TurnSpeeed/.test(text)), problems.join('\n'));
  assert.ok(problems.some((text) => /1,5/.test(text)), problems.join('\n'));
  const changes = await other.locator('#share-preview tbody tr').allTextContents();
  assert.ok(changes.some((row) => /^TextAlpha/.test(row)), changes.join('\n'));
  assert.equal(await other.getByRole('textbox', {name: 'Name to save the pasted preset as'}).inputValue(), 'Bright');
  await sleep(500);
  assert.equal(fs.readFileSync(file, 'latin1'), before, 'written before the player confirmed');

  await other.getByRole('button', {name: 'Save as preset', exact: true}).click();
  await other.getByRole('button', {name: 'Apply the preset Bright', exact: true}).waitFor();
  await other.getByRole('button', {name: 'Apply it', exact: true}).click();
  await other.waitForFunction(() => /Applied the pasted preset/.test(document.getElementById('status').textContent));
  const now = values(fs.readFileSync(file, 'latin1'));
  assert.equal(now.get('TextAlpha'), '100');
  assert.equal(now.get('PickupSize'), '1');  // what the game reads of "1,5"
  assert.ok(!now.has('TurnSpeeed'));
  assert.deepEqual(values(fs.readFileSync(presetFile(path.join(work, 'Second game'), 'Bright'), 'latin1')),
    new Map([['TextAlpha', '100'], ['PickupSize', '1']]));
});
