// The web remote in a real browser: Debian's chromium driven by
// playwright-core, against tk770-gateway in front of tk770-sim. Programs come
// from the environment ctest sets (TK770_GATEWAY, TK770_SIM, TK770CTL); every
// port is chosen by the system and read from the programs' announcements.
import { test, before, after, describe } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFile } from 'node:child_process';
import { mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import net from 'node:net';
import readline from 'node:readline';
import { chromium } from 'playwright-core';

const GATEWAY = process.env.TK770_GATEWAY;
const SIM = process.env.TK770_SIM;
const CTL = process.env.TK770CTL;
const WAIT_MS = 10000;

const children = [];

// Starts a program and resolves with its announced listeners once it prints
// `ready`; rejects with its stderr when it ends or stays silent.
function launch(program, args) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'] });
    children.push(child);
    const listeners = {};
    let stderr = '';
    child.stderr.on('data', (d) => { stderr += d; });
    const timer = setTimeout(() => reject(new Error(`${program}: no ready line\n${stderr}`)), WAIT_MS);
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`${program} ended (${code})\n${stderr}`)); });
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      const [name, where] = line.split(' ');
      if (line === 'ready') { clearTimeout(timer); resolve({ child, listeners }); }
      else if (where) listeners[name] = where;
    });
  });
}

function stop(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) return resolve();
    child.once('exit', () => resolve());
    child.kill('SIGTERM');
  });
}

// A line-based client of the text protocol.
async function textClient(where) {
  const [host, port] = where.split(':');
  const socket = net.connect(Number(port), host);
  await new Promise((resolve, reject) => { socket.once('connect', resolve); socket.once('error', reject); });
  const lines = [];
  const waiting = [];
  readline.createInterface({ input: socket }).on('line', (line) => {
    const next = waiting.shift();
    if (next) next(line); else lines.push(line);
  });
  return {
    ask(command) {
      socket.write(command + '\r\n');
      return lines.length ? Promise.resolve(lines.shift()) : new Promise((resolve) => waiting.push(resolve));
    },
    close() { socket.destroy(); },
  };
}

// master_volume as the simulator holds it, read by tk770ctl through the
// gateway's passthrough, that is from the processor, not from the mirror.
function simVolume(binary) {
  return new Promise((resolve, reject) => {
    execFile(CTL, ['get', 'master_volume', '--tcp', binary], (error, stdout, stderr) => {
      if (error) reject(new Error(stderr || error.message)); else resolve(stdout.trim());
    });
  });
}

async function eventually(probe, expected, what) {
  const deadline = Date.now() + WAIT_MS;
  let last;
  while (Date.now() < deadline) {
    last = await probe();
    if (last === expected) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  assert.fail(`${what}: still ${JSON.stringify(last)}, expected ${JSON.stringify(expected)}`);
}

let browser;
let scratch;

before(async () => {
  for (const [name, path] of [['TK770_GATEWAY', GATEWAY], ['TK770_SIM', SIM], ['TK770CTL', CTL]])
    assert.ok(path, `${name} not set`);
  scratch = mkdtempSync(join(tmpdir(), 'tk770-web-'));
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true });
});

after(async () => {
  await browser?.close();
  await Promise.all(children.map(stop));
  if (scratch) rmSync(scratch, { recursive: true, force: true });
});

async function startPair(extra = []) {
  const sim = await launch(SIM, ['--tcp', '127.0.0.1:0']);
  const gateway = await launch(GATEWAY, ['--device', `tcp:${sim.listeners.tcp}`, '--http', '127.0.0.1:0',
    '--text', '127.0.0.1:0', '--binary', '127.0.0.1:0', ...extra]);
  return { sim, gateway, url: `http://${gateway.listeners.http}/` };
}

// Phone-sized and touch-driven, as the manager's tablet or phone would be.
async function phonePage() {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 }, hasTouch: true, isMobile: true });
  return { context, page: await context.newPage() };
}

describe('without a token', () => {
  let pair, page, context;
  before(async () => {
    pair = await startPair();
    ({ context, page } = await phonePage());
    await page.goto(pair.url);
    await page.waitForSelector('#link[data-state="online"]', { timeout: WAIT_MS });
  });
  after(async () => { await context?.close(); });

  test('shows the processor state and identity', async () => {
    assert.equal(await page.textContent('#volume-text'), '7.0');
    assert.equal(await page.textContent('#model'), 'TK770');
    assert.equal(await page.textContent('#serial'), 'TK7700000001');
    assert.match(await page.textContent('#firmware'), /V1\.00/);
    assert.equal(await page.isVisible('#login'), false);
  });

  test('the fader changes master_volume in the simulator', async () => {
    await page.locator('#volume').fill('55');
    assert.equal(await page.textContent('#volume-text'), '5.5');
    await eventually(() => simVolume(pair.gateway.listeners.binary), '55', 'master_volume in the simulator');
  });

  test('mute and format buttons reach the processor and come back pressed', async () => {
    const text = await textClient(pair.gateway.listeners.text);
    try {
      await page.click('#mute');
      await page.waitForSelector('#mute[aria-pressed="true"]', { timeout: WAIT_MS });
      assert.equal(await text.ask('mute ?'), 'OK on');
      await page.click('[data-format="aux"]');
      await page.waitForSelector('[data-format="aux"][aria-pressed="true"]', { timeout: WAIT_MS });
      assert.equal(await text.ask('format ?'), 'OK aux');
      await page.selectOption('#poweron', 'last');
      await eventually(() => text.ask('poweron ?'), 'OK last', 'power-on format');
      await page.selectOption('#fade', '2');
      await eventually(() => text.ask('fade ?'), 'OK 2', 'fade time');
    } finally {
      text.close();
    }
  });

  test('a text client\'s change reaches the open page', async () => {
    const text = await textClient(pair.gateway.listeners.text);
    try {
      assert.equal(await text.ask('volume 2.5'), 'OK 2.5');
      await page.waitForFunction(() => document.getElementById('volume-text').textContent === '2.5',
        null, { timeout: WAIT_MS });
      assert.equal(await page.inputValue('#volume'), '25');
      assert.equal(await text.ask('mute off'), 'OK off');
      await page.waitForSelector('#mute[aria-pressed="false"]', { timeout: WAIT_MS });
    } finally {
      text.close();
    }
  });

  test('switches between Chinese and English with the caption texts', async () => {
    const before = await page.textContent('#volume-label');
    await page.click('#lang');
    const after = await page.textContent('#volume-label');
    assert.deepEqual(new Set([before, after]), new Set(['主音量', 'Main Fader']));
    const aux = await page.textContent('[data-format="aux"]');
    assert.ok(['辅助', 'AUX'].includes(aux), aux);
  });

  test('shows the link going offline when the processor goes away', async () => {
    await stop(pair.sim.child);
    // The gateway learns that the processor is gone from its next exchange.
    const text = await textClient(pair.gateway.listeners.text);
    try {
      assert.match(await text.ask('volume 3.0'), /^ERR (offline|no reply)$/);
    } finally {
      text.close();
    }
    await page.waitForSelector('#link[data-state="offline"]', { timeout: WAIT_MS });
    assert.equal(await page.isDisabled('#volume'), true);
  });
});

describe('with a token', () => {
  const token = 'booth-7f3a9c1e5d2b';
  let pair, page, context;
  before(async () => {
    const file = join(scratch, 'token');
    writeFileSync(file, token + '\n', { mode: 0o600 });
    pair = await startPair(['--token-file', file]);
    ({ context, page } = await phonePage());
    await page.goto(pair.url);
  });
  after(async () => { await context?.close(); });

  test('asks for the token, refuses a wrong one and takes the right one', async () => {
    await page.waitForSelector('#login', { state: 'visible', timeout: WAIT_MS });
    assert.equal(await page.isVisible('#remote'), false);
    await page.fill('#token', 'not-the-token');
    await page.click('#login-button');
    await page.waitForFunction(() => document.getElementById('login-error').textContent !== '',
      null, { timeout: WAIT_MS });
    assert.equal(await page.isVisible('#remote'), false);
    assert.deepEqual(await context.cookies(), []);

    await page.fill('#token', token);
    await page.click('#login-button');
    await page.waitForSelector('#link[data-state="online"]', { timeout: WAIT_MS });
    assert.equal(await page.textContent('#volume-text'), '7.0');
  });

  test('the session cookie is HttpOnly, SameSite=Strict and not the token', async () => {
    const cookies = await context.cookies();
    assert.equal(cookies.length, 1);
    const [cookie] = cookies;
    assert.equal(cookie.httpOnly, true);
    assert.equal(cookie.sameSite, 'Strict');
    assert.notEqual(cookie.value, token);
    assert.ok(!cookie.value.includes(token));
    assert.equal(await page.evaluate(() => document.cookie), '');
  });

  test('the logged-in page works the processor', async () => {
    await page.locator('#volume').fill('81');
    await eventually(() => simVolume(pair.gateway.listeners.binary), '81', 'master_volume in the simulator');
  });

  test('a fresh browser without the cookie is refused by the API and the socket', async () => {
    const other = await browser.newContext();
    try {
      const p = await other.newPage();
      await p.goto(pair.url);
      await p.waitForSelector('#login', { state: 'visible', timeout: WAIT_MS });
      const result = await p.evaluate(async () => {
        const api = await fetch('/api/state');
        const socket = await new Promise((resolve) => {
          const ws = new WebSocket(`ws://${location.host}/ws`);
          ws.onopen = () => resolve('open');
          ws.onerror = () => resolve('refused');
        });
        return { api: api.status, socket };
      });
      assert.deepEqual(result, { api: 401, socket: 'refused' });
    } finally {
      await other.close();
    }
  });
});
