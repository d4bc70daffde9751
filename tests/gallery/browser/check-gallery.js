// Opens a generated gallery in headless Chromium the way a person would and
// checks it: the index and every photo page load all their pictures, never
// scroll sideways, log no console errors; on the pages for phones and
// keyboards also the thumbnails' wrapping, the Previous / Home / Next links
// and the keys ArrowLeft, ArrowRight and Escape, pressed as real key events.
//
//   node check-gallery.js CHROMIUM GALLERY_FOLDER classic|modern phone|desktop
//
// With GALLERY_SCREENSHOTS set to a folder, a PNG of each page checked is
// left there, to look at.
//
// Chromium is driven over the DevTools protocol on a pipe (file descriptors
// 3 and 4), so nothing but Node itself is needed. Prints one line per check
// ("ok ..." or "FAIL ...") and exits with 1 when any check failed, 2 when the
// browser could not be driven.
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');

const [chromium, folder, style, size] = process.argv.slice(2);
if (!chromium || !folder || !['classic', 'modern'].includes(style) || !['phone', 'desktop'].includes(size)) {
  console.error('usage: node check-gallery.js CHROMIUM GALLERY_FOLDER classic|modern phone|desktop');
  process.exit(2);
}

// A phone of 390 x 844 CSS pixels at three device pixels each, with a touch
// screen and a mobile viewport (so the page's viewport meta counts), or a
// desktop window.
const screens = {
  phone: { width: 390, height: 844, deviceScaleFactor: 3, mobile: true },
  desktop: { width: 1280, height: 800, deviceScaleFactor: 1, mobile: false },
};

let failures = 0;
function check(ok, text) {
  console.log((ok ? 'ok   ' : 'FAIL ') + text);
  if (!ok)
    failures++;
}

const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// The protocol connection: commands out on fd 3, answers and events in on
// fd 4, each message JSON ended by a NUL byte.
class Browser {
  constructor() {
    this.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'gallery-check-'));
    this.process = spawn(chromium, ['--headless', '--remote-debugging-pipe', '--no-sandbox', '--disable-gpu',
                                    '--no-first-run', '--no-default-browser-check', '--disable-extensions',
                                    '--user-data-dir=' + this.profile, 'about:blank'],
                         { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
    this.out = this.process.stdio[3];
    this.in = this.process.stdio[4];
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffer = Buffer.alloc(0);
    this.in.on('data', chunk => {
      buffer = Buffer.concat([buffer, chunk]);
      let end;
      while ((end = buffer.indexOf(0)) >= 0) {
        const message = JSON.parse(buffer.subarray(0, end).toString('utf8'));
        buffer = buffer.subarray(end + 1);
        this.receive(message);
      }
    });
    this.exited = new Promise(resolve => this.process.on('exit', resolve));
  }

  receive(message) {
    if (message.id !== undefined) {
      const waiting = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (!waiting)
        return;
      if (message.error)
        waiting.reject(new Error(waiting.method + ': ' + message.error.message));
      else
        waiting.resolve(message.result);
      return;
    }
    for (const listener of this.listeners.slice())
      listener(message);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId)
      message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.out.write(JSON.stringify(message) + '\0');
    });
  }

  // The first event of that name (and session) for which test holds.
  waitFor(method, sessionId, test = () => true, timeoutMs = 15000) {
    return new Promise((resolve, reject) => {
      const listener = message => {
        if (message.method === method && message.sessionId === sessionId && test(message.params)) {
          clearTimeout(timer);
          this.listeners.splice(this.listeners.indexOf(listener), 1);
          resolve(message.params);
        }
      };
      const timer = setTimeout(() => {
        this.listeners.splice(this.listeners.indexOf(listener), 1);
        reject(new Error('no ' + method + ' within ' + timeoutMs + ' ms'));
      }, timeoutMs);
      this.listeners.push(listener);
    });
  }

  async close() {
    try {
      await Promise.race([this.send('Browser.close'), sleep(5000)]);
    } catch (e) {
      // It may be gone already.
    }
    await Promise.race([this.exited, sleep(5000)]);
    if (this.process.exitCode === null)
      this.process.kill('SIGKILL');
    fs.rmSync(this.profile, { recursive: true, force: true });
  }
}

// One tab with the screen emulated; it records every console error.
class Tab {
  constructor(browser, sessionId) {
    this.browser = browser;
    this.session = sessionId;
    this.errors = [];
    this.navigations = 0;
    browser.listeners.push(message => {
      if (message.sessionId !== sessionId)
        return;
      const p = message.params;
      if (message.method === 'Runtime.exceptionThrown')
        this.errors.push('exception: ' + (p.exceptionDetails.exception?.description || p.exceptionDetails.text));
      else if (message.method === 'Runtime.consoleAPICalled' && (p.type === 'error' || p.type === 'assert'))
        this.errors.push('console.' + p.type + ': ' + p.args.map(a => a.value ?? a.description).join(' '));
      else if (message.method === 'Log.entryAdded' && p.entry.level === 'error')
        this.errors.push(p.entry.source + ': ' + p.entry.text + (p.entry.url ? ' (' + p.entry.url + ')' : ''));
      else if (message.method === 'Page.frameNavigated' && !p.frame.parentId)
        this.navigations++;
    });
  }

  static async open(browser, screen) {
    const { targetId } = await browser.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await browser.send('Target.attachToTarget', { targetId, flatten: true });
    const tab = new Tab(browser, sessionId);
    for (const domain of ['Page', 'Runtime', 'Log'])
      await tab.send(domain + '.enable');
    await tab.send('Emulation.setDeviceMetricsOverride', screen);
    await tab.send('Emulation.setTouchEmulationEnabled', { enabled: screen.mobile, maxTouchPoints: 5 });
    return tab;
  }

  send(method, params) {
    return this.browser.send(method, params, this.session);
  }

  async evaluate(expression) {
    const result = await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (result.exceptionDetails)
      throw new Error('evaluate: ' + (result.exceptionDetails.exception?.description || result.exceptionDetails.text));
    return result.result.value;
  }

  // Runs action and waits for the page it leads to to finish loading; its
  // address, or "nowhere" when no page loads.
  async loadedAfter(action) {
    const loaded = this.browser.waitFor('Page.loadEventFired', this.session, () => true, 5000)
                       .then(() => true, () => false);
    await action();
    return (await loaded) ? this.url() : 'nowhere';
  }

  goTo(url) {
    return this.loadedAfter(() => this.send('Page.navigate', { url }));
  }

  url() {
    return this.evaluate('location.href');
  }

  async press(key) {
    const codes = { ArrowLeft: 37, ArrowRight: 39, Escape: 27 };
    const event = { key, code: key, windowsVirtualKeyCode: codes[key], nativeVirtualKeyCode: codes[key] };
    await this.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', ...event });
    await this.send('Input.dispatchKeyEvent', { type: 'keyUp', ...event });
  }

  // A key that must lead nowhere: no navigation starts within a while.
  async pressStaying(key) {
    const before = this.navigations;
    await this.press(key);
    await sleep(700);
    return this.navigations === before;
  }

  // A real click (a tap on the phone) in the middle of the element.
  async click(selector) {
    const box = await this.evaluate(`(() => {
      const e = document.querySelector(${JSON.stringify(selector)});
      if (!e) return null;
      e.scrollIntoView({ block: 'center' });
      const r = e.getBoundingClientRect();
      return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
    })()`);
    if (!box)
      throw new Error('nothing to click at ' + selector);
    if (this.touch) {
      await this.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [box] });
      await this.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
    } else {
      for (const type of ['mouseMoved', 'mousePressed', 'mouseReleased'])
        await this.send('Input.dispatchMouseEvent', { type, ...box, button: 'left', clickCount: 1 });
    }
  }
}

// What the page under test looks like now. Lazy pictures are loaded by
// scrolling through the page first.
const kPageFacts = `(async () => {
  for (let y = 0; y <= document.documentElement.scrollHeight; y += innerHeight / 2) {
    scrollTo(0, y);
    await new Promise(r => requestAnimationFrame(() => setTimeout(r, 30)));
  }
  const deadline = Date.now() + 10000;
  while (Array.from(document.images).some(i => !i.complete) && Date.now() < deadline)
    await new Promise(r => setTimeout(r, 50));
  scrollTo(0, 0);
  // A row's thumbnails are centred on one line, whatever their heights.
  const box = e => {
    const r = e.getBoundingClientRect();
    return { left: r.left, right: r.right, middle: Math.round(r.top + r.height / 2) };
  };
  return {
    title: document.title,
    innerWidth: innerWidth,
    scrollWidth: document.documentElement.scrollWidth,
    images: Array.from(document.images).map(i => ({
      src: i.getAttribute('src'), ok: i.complete && i.naturalWidth > 0, alt: i.getAttribute('alt'),
      natural: [i.naturalWidth, i.naturalHeight],
      attributes: [Number(i.getAttribute('width')), Number(i.getAttribute('height'))], ...box(i) })),
    thumbs: Array.from(document.querySelectorAll('.thumb a')).map(a => a.getAttribute('href')),
    links: Array.from(document.querySelectorAll('a.nav')).map(a => ({ text: a.textContent, href: a.getAttribute('href') })),
    styled: getComputedStyle(document.body).backgroundColor !== 'rgba(0, 0, 0, 0)',
  };
})()`;

async function screenshot(tab, name) {
  const folder = process.env.GALLERY_SCREENSHOTS;
  if (!folder)
    return;
  const { data } = await tab.send('Page.captureScreenshot', { format: 'png' });
  fs.writeFileSync(path.join(folder, style + '-' + size + '-' + name.replace(/[^\w.-]/g, '_') + '.png'),
                   Buffer.from(data, 'base64'));
}

function leadsTo(url, expected, text) {
  check(url === expected, text + (url === expected ? '' : ' (went to ' + url + ')'));
}

function commonChecks(name, facts, tab) {
  check(facts.images.length > 0 && facts.images.every(i => i.ok),
        name + ': every picture loads' + facts.images.filter(i => !i.ok).map(i => ' [' + i.src + ']').join(''));
  check(facts.scrollWidth <= facts.innerWidth,
        name + ': no sideways scrolling (scrollWidth ' + facts.scrollWidth + ' <= ' + facts.innerWidth + ')');
  check(facts.styled, name + ': the scheme styles the page');
  check(tab.errors.length === 0, name + ': no console errors' + tab.errors.map(e => '\n       ' + e).join(''));
  tab.errors.length = 0;
}

async function checkClassic(tab, indexUrl) {
  await tab.goTo(indexUrl);
  const index = await tab.evaluate(kPageFacts);
  commonChecks('index', index, tab);
  await screenshot(tab, 'index');
  for (const href of index.thumbs) {
    await tab.goTo(new URL(href, indexUrl).href);
    const page = await tab.evaluate(kPageFacts);
    commonChecks(href + ' (' + page.title + ')', page, tab);
    await screenshot(tab, href);
  }
}

async function checkModern(tab, indexUrl) {
  const pageUrl = n => new URL(n + '.html', indexUrl).href;
  await tab.goTo(indexUrl);
  const index = await tab.evaluate(kPageFacts);
  const count = index.thumbs.length;
  commonChecks('index', index, tab);
  await screenshot(tab, 'index');
  check(index.innerWidth === screens[size].width,
        'index: the layout viewport is the screen\'s width (' + index.innerWidth + ' CSS px)');
  check(index.images.every(i => i.left >= 0 && i.right <= index.innerWidth), 'index: every thumbnail lies within the screen');
  const rows = new Set(index.images.map(i => i.middle)).size;
  check(size === 'desktop' || rows > 1, 'index: the thumbnails wrap (' + rows + ' rows of ' + count + ')');
  check(index.images.every(i => i.attributes[0] === i.natural[0] && i.attributes[1] === i.natural[1]),
        'index: width and height are the thumbnails\' own');
  check(index.images.every((i, n) => i.alt && i.alt.startsWith((n + 1) + ': ')), 'index: every thumbnail has its alt text');

  let url = await tab.loadedAfter(() => tab.click('li.thumb a'));
  leadsTo(url, pageUrl(1), 'the first thumbnail leads to 1.html');
  check(await tab.pressStaying('ArrowLeft'), '1.html: ArrowLeft stays on the first page');
  for (let n = 1; n <= count; n++) {
    const page = await tab.evaluate(kPageFacts);
    const name = n + '.html';
    commonChecks(name, page, tab);
    await screenshot(tab, name);
    check(page.title === n + ' of ' + count, name + ': title "' + page.title + '"');
    const texts = page.links.map(l => l.text).join(',');
    const expected = [n > 1 ? 'Previous' : null, 'Home', n < count ? 'Next' : null].filter(t => t).join(',');
    check(texts === expected, name + ': links ' + texts);
    const photo = page.images[0];
    check(photo && photo.right <= page.innerWidth && photo.left >= 0, name + ': the photo fits the screen');
    check(photo && photo.attributes[0] === photo.natural[0] && photo.attributes[1] === photo.natural[1],
          name + ': width and height are the photo\'s own (' + (photo && photo.attributes.join('x')) + ')');
    check(photo && photo.alt && photo.alt.startsWith(n + ': '), name + ': alt "' + (photo && photo.alt) + '"');
    if (n < count) {
      url = await tab.loadedAfter(() => tab.click('#next'));
      leadsTo(url, pageUrl(n + 1), name + ': Next leads to ' + (n + 1) + '.html');
    }
  }
  check(await tab.pressStaying('ArrowRight'), count + '.html: ArrowRight stays on the last page');
  url = await tab.loadedAfter(() => tab.press('ArrowLeft'));
  leadsTo(url, pageUrl(count - 1), count + '.html: ArrowLeft leads to ' + (count - 1) + '.html');
  url = await tab.loadedAfter(() => tab.press('ArrowRight'));
  leadsTo(url, pageUrl(count), (count - 1) + '.html: ArrowRight leads to ' + count + '.html');
  url = await tab.loadedAfter(() => tab.press('Escape'));
  leadsTo(url, indexUrl, count + '.html: Escape leads to index.html');
  check(tab.errors.length === 0, 'no console errors on the way' + tab.errors.map(e => '\n       ' + e).join(''));
}

(async () => {
  const browser = new Browser();
  let status = 0;
  try {
    const tab = await Tab.open(browser, screens[size]);
    tab.touch = screens[size].mobile;
    const indexUrl = pathToFileURL(path.join(path.resolve(folder), 'index.html')).href;
    console.log('# ' + style + ' pages on a ' + size + ' (' + screens[size].width + 'x' + screens[size].height
                + ' CSS px, device scale ' + screens[size].deviceScaleFactor + ')');
    if (style === 'modern')
      await checkModern(tab, indexUrl);
    else
      await checkClassic(tab, indexUrl);
    console.log(failures === 0 ? '# all checks passed' : '# ' + failures + ' checks failed');
    status = failures === 0 ? 0 : 1;
  } catch (e) {
    console.log('FAIL the browser could not be driven: ' + e.message);
    status = 2;
  }
  await browser.close();
  process.exit(status);
})();
