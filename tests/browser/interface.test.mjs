// ruvo-gui.exe's interface in a real browser: Debian's chromium, headless,
// driven by playwright-core (which is told never to download a browser). A
// person's whole round: sign in through the address `ruvo-gui.exe --url`
// prints, search, add, edit, delete, explain, the misses, import, export;
// and the security rules: no cookie, no page; the cookie alone, which every
// server on 127.0.0.1 gets, opens no API route; a cookie planted by another
// port signs no page out; a foreign page's form post is refused; nothing is
// loaded from elsewhere; the console stays clean.
//
//   node interface.test.mjs /path/to/ruvo-gui.exe /path/to/ruvo
//   RUVO_SCREENSHOTS=<folder>  also writes the light and dark screenshots there
import { test, after, before } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
if (!existsSync(join(here, 'node_modules', 'playwright-core'))) {
  console.error(`node_modules is missing: run \`npm ci\` in ${here} (tests/browser) first`);
  process.exit(1);
}
process.env.PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD = '1';
const { chromium } = await import('playwright-core');

const gui = process.argv[2];
const ruvo = process.argv[3];
const browserPath = process.env.RUVO_CHROMIUM || '/usr/bin/chromium';
for (const [what, path] of [['ruvo-gui.exe', gui], ['ruvo', ruvo], ['chromium', browserPath]]) {
  if (!path || !existsSync(path)) {
    console.error(`need ${what} (got ${path})`);
    process.exit(1);
  }
}

const appData = mkdtempSync(join(tmpdir(), 'ruvo-browser-'));
const dataFolder = join(appData, 'com.corvanta.desktop');
// No dictionaries of this machine's in the test's store: it adds its own.
const env = { ...process.env, APPDATA: appData, RUVO_DICTIONARY_DIRS: '' };
delete env.BROWSER;

function run(program, words) {
  return execFileSync(program, words, { env, encoding: 'utf8', timeout: 60000 });
}
const signInAddress = () => run(gui, ['--url']).trim();
const lookup = (text) => run(ruvo, ['lookup', text]);

// The service was started by the first --url; its log names its pid.
function servicePid() {
  const log = readFileSync(join(dataFolder, 'ruvo-gui.log'), 'utf8');
  const found = [...log.matchAll(/starting, pid (\d+)/g)].pop();
  return found ? Number(found[1]) : null;
}

let browser;
let origin;
let foreign;
const shots = process.env.RUVO_SCREENSHOTS;

before(async () => {
  browser = await chromium.launch({
    executablePath: browserPath,
    headless: true,
    // Tests run as root in CI, where chromium's sandbox cannot start.
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-component-update',
      '--disable-background-networking', '--disable-sync', '--disable-default-apps'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (foreign) foreign.close();
  const pid = existsSync(join(dataFolder, 'ruvo-gui.log')) ? servicePid() : null;
  if (pid) {
    try {
      process.kill(pid, 'SIGTERM');
    } catch {
      // already gone
    }
  }
  rmSync(appData, { recursive: true, force: true });
});

// A signed-in page that records every request it makes and every console
// error it logs.
async function signedInPage(options = {}) {
  const address = signInAddress();
  origin = new URL(address).origin;
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1024, height: 760 }, ...options });
  const page = await context.newPage();
  const requests = [];
  const errors = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(`${message.text()} (${message.location().url})`);
  });
  page.on('pageerror', (error) => errors.push(String(error)));
  const response = await page.goto(address);
  assert.equal(response.status(), 200);
  return { context, page, requests, errors, address };
}

async function searchFor(page, text) {
  await page.goto(`${origin}/#/`);
  const field = page.getByRole('searchbox', { name: '搜索' });
  await field.fill('');
  await field.pressSequentially(text);
  return field;
}

test('a person signs in, searches, adds, edits and deletes', async () => {
  const { context, page, requests, errors, address } = await signedInPage();
  const secret = new URL(address).searchParams.get('secret');

  // Signed in: the secret and the session's key left the address bar, the
  // key is in this tab's storage, the cookie is strict and is not the key.
  assert.equal(page.url(), `${origin}/`);
  assert.match(await page.title(), /Ruvo/);
  const key = await page.evaluate(() => sessionStorage.getItem('ruvo-session'));
  assert.match(key || '', /^[0-9a-f]{64}$/);
  const cookies = await context.cookies();
  assert.equal(cookies.length, 1);
  assert.equal(cookies[0].httpOnly, true);
  assert.equal(cookies[0].sameSite, 'Strict');
  assert.equal(cookies[0].path, '/');
  assert.notEqual(cookies[0].value, secret);
  assert.notEqual(cookies[0].value, key);

  // Search as you type; Enter opens the first result.
  const field = await searchFor(page, 'RAG');
  await page.getByRole('link', { name: /^RAG/ }).first().waitFor();
  await field.press('Enter');
  await page.getByRole('heading', { level: 1, name: 'RAG' }).waitFor();
  await page.getByText('检索增强生成').first().waitFor();
  assert.match(page.url(), /#\/term\/\d+$/);
  await page.getByText('自带词库').waitFor();

  // "/" goes back to the search field from anywhere.
  await page.getByRole('link', { name: '状态' }).click();
  await page.getByText('词条数').waitFor();
  await page.keyboard.press('/');
  await page.getByRole('searchbox', { name: '搜索' }).waitFor();
  assert.equal(await page.evaluate(() => document.activeElement && document.activeElement.id), 'q');

  // Nothing found: the suggestions, and an offer to add it.
  await searchFor(page, 'ragg');
  await page.getByText('是不是要找').waitFor();
  await page.getByRole('link', { name: 'RAG', exact: true }).waitFor();
  await page.getByRole('link', { name: '把「ragg」添加到词库' }).waitFor();

  // Add through the labelled form; ruvo finds it at once.
  await page.getByRole('link', { name: '添加', exact: true }).click();
  await page.getByLabel('词条', { exact: true }).fill('浏览器测试词');
  await page.getByLabel('别名', { exact: true }).fill('BrowserTerm、浏览测试');
  await page.getByLabel('定义', { exact: true }).fill('在浏览器里添加的词条');
  await page.getByLabel('通俗解释', { exact: true }).fill('用来测试界面');
  await page.getByLabel('例子', { exact: true }).fill('打开页面，添加它');
  await page.getByRole('button', { name: '保存' }).click();
  await page.getByRole('heading', { level: 1, name: '浏览器测试词' }).waitFor();
  await page.getByText('人工添加').waitFor();
  assert.match(lookup('浏览器测试词'), /在浏览器里添加的词条/);
  assert.match(lookup('browserterm'), /浏览器测试词/);

  // Edit: a changed field and a cleared one.
  await page.getByRole('link', { name: '编辑' }).click();
  await page.getByLabel('定义', { exact: true }).fill('改过的定义');
  await page.getByLabel('例子', { exact: true }).fill('');
  await page.getByRole('button', { name: '保存' }).click();
  await page.getByText('改过的定义').waitFor();
  const edited = lookup('浏览器测试词');
  assert.match(edited, /改过的定义/);
  assert.doesNotMatch(edited, /打开页面，添加它/);

  // Delete, after a confirmation that can be declined.
  await page.getByRole('button', { name: '删除' }).click();
  await page.getByRole('dialog').getByRole('button', { name: '取消' }).click();
  assert.match(lookup('浏览器测试词'), /改过的定义/);
  await page.getByRole('button', { name: '删除' }).click();
  await page.getByRole('dialog').getByRole('button', { name: '确认删除' }).click();
  await page.getByRole('searchbox', { name: '搜索' }).waitFor();
  assert.match(lookup('浏览器测试词'), /^词库里没有「/);

  // Usable at 360 px: nothing sticks out sideways.
  await page.setViewportSize({ width: 360, height: 740 });
  await searchFor(page, 'LLM');
  await page.getByRole('link', { name: /^LLM/ }).first().waitFor();
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 360));

  assert.deepEqual(requests.filter((url) => new URL(url).origin !== origin), [], 'a request to another origin');
  assert.deepEqual(errors, [], 'console errors');
  await context.close();
});

test('explain, the misses and the status', async () => {
  const { context, page, requests, errors } = await signedInPage();

  await page.getByRole('link', { name: '解释', exact: true }).click();
  await page.getByLabel('要解释的词、句子或段落').fill('RAG');
  await page.getByLabel('模式').selectOption('term');
  await page.getByRole('button', { name: '解释', exact: true }).click();
  await page.getByText('来自词库（0 token）').waitFor();
  await page.getByText('检索增强生成').first().waitFor();
  // A passage with the model not allowed: the answer says why.
  await page.getByLabel('要解释的词、句子或段落').fill('第一行\n第二行');
  await page.getByLabel('模式').selectOption('passage');
  await page.getByLabel('词库里没有时允许调用模型').uncheck();
  await page.getByRole('button', { name: '解释', exact: true }).click();
  await page.getByText('不允许调用模型').waitFor();

  // What was looked up in vain is listed with its count, ready to add.
  lookup('没收录的测试词');
  lookup('没收录的测试词');
  await page.getByRole('link', { name: '没查到的词' }).click();
  const row = page.getByRole('row', { name: /没收录的测试词/ });
  await row.waitFor();
  assert.match(await row.innerText(), /\b2\b/);
  await row.getByRole('link', { name: '添加「没收录的测试词」' }).click();
  assert.equal(await page.getByLabel('词条', { exact: true }).inputValue(), '没收录的测试词');

  // Status: the count and version, whether a model is configured.
  await page.getByRole('link', { name: '状态' }).click();
  await page.getByText('未配置').waitFor();
  const health = JSON.parse(run(ruvo, ['health']));
  await page.getByText(String(health.terms), { exact: true }).waitFor();
  await page.getByText(`ruvo-gui ${health.version}`).waitFor();

  assert.deepEqual(requests.filter((url) => new URL(url).origin !== origin), [], 'a request to another origin');
  assert.deepEqual(errors, [], 'console errors');
  await context.close();
});

test('import and export', async () => {
  const { context, page, requests, errors } = await signedInPage();

  // Import a spreadsheet glossary, then export it all.
  await page.getByRole('link', { name: '导入导出' }).click();
  await page.getByLabel(/选择文件/).setInputFiles({
    name: 'glossary.csv',
    mimeType: 'text/csv',
    buffer: Buffer.from('term,definition,plain,aliases\n导入测试词,从 CSV 导入,界面导入的,ImportedTerm\n第二个导入词,也是导入的,,\n'),
  });
  await page.getByRole('button', { name: '导入' }).click();
  await page.getByText(/导入 2 条：新增 2/).waitFor();
  assert.match(lookup('importedterm'), /从 CSV 导入/);

  // A broken file changes nothing and says which line.
  await page.getByLabel(/选择文件/).setInputFiles({
    name: 'broken.jsonl',
    mimeType: 'application/x-ndjson',
    buffer: Buffer.from('{"term":"坏文件里的好词","lang":"zh","fields":{}}\n{not json\n'),
  });
  const before = errors.length;
  await page.getByRole('button', { name: '导入' }).click();
  await page.getByText(/第 2 行/).waitFor();
  assert.match(lookup('坏文件里的好词'), /^词库里没有「/);
  // The browser itself notes the refusal (status 400) in the console; that
  // one is expected, and nothing else.
  const refused = errors.splice(before);
  assert.ok(refused.every((text) => text.includes('400') && text.includes('/v1/import')), refused.join('\n'));

  const [download] = await Promise.all([
    page.waitForEvent('download'),
    page.getByRole('button', { name: '导出为 JSON Lines' }).click(),
  ]);
  assert.equal(download.suggestedFilename(), 'ruvo-terms.jsonl');
  const lines = readFileSync(await download.path(), 'utf8').trim().split('\n').map((line) => JSON.parse(line));
  assert.ok(lines.some((entry) => entry.term === '导入测试词'));
  assert.ok(lines.some((entry) => entry.term === 'RAG'));

  assert.deepEqual(requests.filter((url) => new URL(url).origin !== origin), [], 'a request to another origin');
  assert.deepEqual(errors, [], 'console errors');
  await context.close();
});

// A chat-completions endpoint on 127.0.0.1 that records what it is asked
// and answers every request with one explanation.
async function fakeModel(definition) {
  const asked = [];
  const server = createServer((request, response) => {
    let body = '';
    request.on('data', (chunk) => (body += chunk));
    request.on('end', () => {
      asked.push(JSON.parse(body));
      const content = JSON.stringify({ term: 'API', definition, plain: '程序之间的约定', example: '例子' });
      response.setHeader('Content-Type', 'application/json');
      response.end(JSON.stringify({
        model: 'fake-model',
        choices: [{ message: { role: 'assistant', content } }],
        usage: { total_tokens: 7 },
      }));
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, asked, baseUrl: `http://127.0.0.1:${server.address().port}/v1` };
}

test('the model set up and tried from the status page, then grounded in the store', async () => {
  const { context, page, requests, errors } = await signedInPage();
  const model = await fakeModel('应用程序接口');
  // A port where nothing listens: bound, then closed again.
  const closed = createServer();
  await new Promise((resolve) => closed.listen(0, '127.0.0.1', resolve));
  const closedPort = closed.address().port;
  await new Promise((resolve) => closed.close(resolve));

  await page.getByRole('link', { name: '状态', exact: true }).click();
  await page.getByText(join(dataFolder, 'model.json')).waitFor();
  await page.getByLabel('服务地址').fill(`http://127.0.0.1:${closedPort}/v1`);
  await page.getByLabel('模型名').fill('browser-model');
  const before = errors.length;
  await page.getByRole('button', { name: '试一试' }).click();
  await page.getByText(/^试用失败：/).waitFor();
  // The browser notes the model's failure (status 502) in the console; that
  // one is expected, and nothing else.
  const refused = errors.splice(before);
  assert.ok(refused.every((text) => text.includes('502') && text.includes('/v1/model/try')), refused.join('\n'));
  assert.equal(model.asked.length, 0);

  await page.getByLabel('服务地址').fill(model.baseUrl);
  await page.getByRole('button', { name: '试一试' }).click();
  await page.getByText(/^模型回答了，用时 \d+ 毫秒：应用程序接口$/).waitFor();
  assert.equal(model.asked.length, 1);
  assert.equal(model.asked[0].model, 'browser-model');
  // Tried, not saved.
  assert.equal(JSON.parse(run(ruvo, ['health'])).model.configured, false);

  await page.getByLabel('API key', { exact: true }).fill('sk-browser-secret');
  await page.getByRole('button', { name: '保存' }).click();
  await page.getByText(/^已保存：browser-model/).waitFor();
  await page.getByText('已保存一个 key（不显示）；留空则保持不变').waitFor();
  const health = JSON.parse(run(ruvo, ['health']));
  assert.equal(health.model.configured, true);
  assert.equal(health.model.name, 'browser-model');
  assert.equal(health.model.file, join(dataFolder, 'model.json'));
  assert.equal(statSync(join(dataFolder, 'model.json')).mode & 0o777, 0o600);
  assert.equal(await page.getByLabel('API key', { exact: true }).inputValue(), '', 'the key is never shown again');

  // The model now in use, without a restart, is given the stored entries of
  // the terms a passage names.
  await page.getByRole('link', { name: '解释', exact: true }).click();
  await page.getByLabel('要解释的词、句子或段落').fill('RAG 和向量数据库是什么关系？');
  await page.getByRole('button', { name: '解释', exact: true }).click();
  await page.getByText(/来自模型 fake-model/).waitFor();
  assert.equal(model.asked.length, 2);
  const user = model.asked[1].messages[1].content;
  assert.match(user, /\n- RAG \(zh\): 检索增强生成/);
  assert.match(user, /\n- 向量数据库 \(zh\): /);
  // Not allowed to ask it: the terms answer, one line each.
  await page.getByLabel('词库里没有时允许调用模型').uncheck();
  await page.getByRole('button', { name: '解释', exact: true }).click();
  await page.getByText('来自词库（0 token）').waitFor();
  await page.getByText(/^RAG：检索增强生成/m).first().waitFor();
  assert.equal(model.asked.length, 2);

  model.server.close();
  assert.deepEqual(requests.filter((url) => new URL(url).origin !== origin), [], 'a request to another origin');
  assert.deepEqual(errors, [], 'console errors');
  await context.close();
});

test('without the cookie nothing is served, and a foreign page changes nothing', async () => {
  const { context, address } = await signedInPage();

  // A second browser (no cookie) gets neither pages nor data, nor a second
  // sign-in with the same address.
  const stranger = await browser.newContext();
  const strangerPage = await stranger.newPage();
  for (const path of ['/', '/app.js', '/v1/terms?q=RAG', '/v1/health']) {
    const response = await strangerPage.goto(`${origin}${path}`);
    assert.equal(response.status(), 401, path);
    assert.doesNotMatch(await response.text(), /检索增强生成/, path);
  }
  assert.equal((await strangerPage.goto(address)).status(), 401, 'a sign-in address accepted twice');
  assert.equal((await stranger.cookies()).length, 0);
  await stranger.close();

  // A page of another origin posts a form to the service in the signed-in
  // browser: refused, and nothing saved.
  foreign = createServer((request, response) => {
    response.setHeader('Content-Type', 'text/html; charset=utf-8');
    response.end(`<!doctype html><meta charset="utf-8"><title>foreign</title>
      <form id="f" method="post" action="${origin}/v1/save" enctype="text/plain">
        <input name='{"term":"跨站写入","fields":{"定义":"x"},"x":"' value='"}'>
      </form>
      <form id="d" method="post" action="${origin}/v1/terms/1"></form>`);
  });
  await new Promise((resolve) => foreign.listen(0, '127.0.0.1', resolve));
  const foreignOrigin = `http://127.0.0.1:${foreign.address().port}`;
  const page = await context.newPage();
  await page.goto(`${foreignOrigin}/`);
  const [posted] = await Promise.all([page.waitForNavigation(), page.evaluate(() => document.getElementById('f').submit())]);
  assert.equal(posted.status(), 403);
  assert.match(await posted.text(), /"kind":"origin"/);
  assert.match(lookup('跨站写入'), /^词库里没有「/);
  await context.close();
});

test('the cookie alone opens no API route, and a cookie planted by another port signs no page out', async () => {
  const { context, page, requests, errors } = await signedInPage();
  const port = new URL(origin).port;
  const key = await page.evaluate(() => sessionStorage.getItem('ruvo-session'));

  // What another server on 127.0.0.1 gets from this browser is the cookie:
  // replayed alone (as curl would, without an Origin) it reads and changes
  // nothing. The key, which only our page can read, opens the routes.
  for (const path of ['/v1/health', '/v1/terms?q=RAG', '/v1/export', '/v1/misses']) {
    const replayed = await context.request.get(`${origin}${path}`);
    assert.equal(replayed.status(), 401, path);
    assert.doesNotMatch(await replayed.text(), /检索增强生成/, path);
    const keyed = await context.request.get(`${origin}${path}`, { headers: { 'X-Ruvo-Session': key } });
    assert.equal(keyed.status(), 200, path);
  }
  const save = await context.request.post(`${origin}/v1/save`, {
    headers: { 'Content-Type': 'application/json' },
    data: JSON.stringify({ term: '重放的写入', fields: { 定义: 'x' } }),
  });
  assert.equal(save.status(), 401);
  assert.match(lookup('重放的写入'), /^词库里没有「/);

  // A page on another port sets a cookie of our name on Path=/v1, which the
  // browser then sends first with every API request of ours.
  const planter = createServer((request, response) => {
    response.setHeader('Set-Cookie', `ruvo-session-${port}=planted; Path=/v1`);
    response.setHeader('Content-Type', 'text/html; charset=utf-8');
    response.end('<!doctype html><meta charset="utf-8"><title>planter</title>');
  });
  await new Promise((resolve) => planter.listen(0, '127.0.0.1', resolve));
  try {
    const other = await context.newPage();
    await other.goto(`http://127.0.0.1:${planter.address().port}/`);
    await other.close();
  } finally {
    planter.close();
  }
  const planted = (await context.cookies()).filter((cookie) => cookie.name === `ruvo-session-${port}`);
  assert.equal(planted.length, 2, 'the other port\'s cookie was not planted');

  // The page goes on searching, and reloads.
  await searchFor(page, 'RAG');
  await page.getByRole('link', { name: /^RAG/ }).first().waitFor();
  await page.reload();
  await page.getByRole('link', { name: '状态', exact: true }).click();
  // Health answered the page (the model set up earlier or not).
  await page.getByText('词条数').waitFor();

  // A new tab has the cookie but not the key: it says how to sign in.
  const tab = await context.newPage();
  await tab.goto(`${origin}/#/status`);
  await tab.getByText('每个新标签页都要一个新的登录地址', { exact: false }).waitFor();
  await tab.close();

  assert.deepEqual(requests.filter((url) => new URL(url).origin !== origin), [], 'a request to another origin');
  assert.deepEqual(errors, [], 'console errors');
  await context.close();
});

test('the dictionaries page adds, renames, orders, switches and removes dictionaries; an entry shows every source', async () => {
  const { context, page, requests, errors } = await signedInPage();
  const folder = join(appData, 'dictionaries');
  mkdirSync(folder, { recursive: true });
  // A gloss that is markup: it must show as text and never run.
  writeFileSync(join(folder, 'one.u8'),
    '# CC-CEDICT\n#! description=First test dictionary\n死鎖 死锁 [si3 suo3] /deadlock (computing)/<img src=x onerror=alert(1)>/\n');
  writeFileSync(join(folder, 'two.u8'), '# CC-CEDICT\n死鎖 死锁 [si3 suo3] /impasse/\n');
  const dialogs = [];
  page.on('dialog', async (dialog) => {
    dialogs.push(dialog.message());
    await dialog.accept();
  });

  await page.getByRole('link', { name: '词典', exact: true }).click();
  await page.getByText('还没有添加词典。').waitFor();
  for (const file of ['one.u8', 'two.u8']) {
    await page.getByLabel('文件或文件夹的路径').fill(join(folder, file));
    await page.getByRole('button', { name: '添加', exact: true }).click();
    await page.getByText('已添加：CC-CEDICT（1 条）').waitFor();
  }
  await page.waitForFunction(() => document.querySelectorAll('li.dictionary').length === 2);
  await page.getByText('说明与许可').first().waitFor();

  // Rename the second, then move it first: it answers first.
  await page.getByLabel('「CC-CEDICT」的名称').nth(1).fill('第二本');
  await page.getByRole('button', { name: '改名' }).nth(1).click();
  await page.getByRole('button', { name: '把「第二本」上移' }).click();
  await page.waitForFunction(() => document.querySelector('li.dictionary strong')?.textContent === '第二本');
  assert.match(lookup('死锁'), /impasse/);

  // The entry's page: its own article, then the other dictionary's in a
  // section of its own; the markup in it is text.
  await searchFor(page, '死锁');
  await page.getByRole('link', { name: /^死锁/ }).first().click();
  await page.getByRole('heading', { level: 1, name: '死锁' }).waitFor();
  await page.getByText('词典：第二本').waitFor();
  const other = page.getByRole('region', { name: 'CC-CEDICT' });
  await other.getByText('deadlock (computing)', { exact: false }).waitFor();
  await other.getByText('<img src=x onerror=alert(1)>', { exact: false }).waitFor();
  assert.equal(await page.locator('main img').count(), 0);

  // Switched off, the other one answers; removed after a confirmation.
  await page.getByRole('link', { name: '词典', exact: true }).click();
  await page.waitForFunction(() => document.querySelectorAll('li.dictionary').length === 2);
  await Promise.all([
    page.waitForResponse((response) => response.request().method() === 'PATCH'),
    page.getByLabel('启用').first().uncheck(),
  ]);
  assert.match(lookup('死锁'), /deadlock/);
  await page.getByRole('button', { name: '删除「CC-CEDICT」' }).click();
  await page.waitForFunction(() => document.querySelectorAll('li.dictionary').length === 1);
  assert.equal(dialogs.length, 1);
  assert.match(dialogs[0], /删除吗/);
  assert.match(lookup('死锁'), /^词库里没有「/);

  // Switched on again, it answers with its files gone.
  await Promise.all([
    page.waitForResponse((response) => response.request().method() === 'PATCH'),
    page.getByLabel('启用').first().check(),
  ]);
  rmSync(folder, { recursive: true, force: true });
  assert.match(lookup('死锁'), /impasse/);

  assert.deepEqual(requests.filter((url) => new URL(url).origin !== origin), [], 'a request to another origin');
  assert.deepEqual(errors, [], 'console errors');
  await context.close();
});

test('light and dark screenshots', async () => {
  for (const scheme of ['light', 'dark']) {
    const { context, page, errors } = await signedInPage({ colorScheme: scheme, viewport: { width: 900, height: 640 } });
    const field = await searchFor(page, '模型');
    await page.getByRole('link', { name: /^LLM/ }).first().waitFor();
    await field.focus();
    const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
    if (scheme === 'dark') assert.notEqual(background, 'rgb(247, 247, 244)', 'the dark scheme is followed');
    if (shots) await page.screenshot({ path: join(shots, `interface-${scheme}.png`) });
    assert.deepEqual(errors, []);
    await context.close();
  }
});
