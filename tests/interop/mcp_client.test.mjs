// `ruvo mcp` driven by the official MCP TypeScript SDK client, the way an
// agent host starts it: initialize, ping, tools/list, and a call of each tool
// against a fake local service.
//
//   node mcp_client.test.mjs /path/to/ruvo      (or RUVO_TEST_PROGRAM=/path/to/ruvo)
//
// Needs the pinned SDK: run `npm ci` in tests/interop first.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
if (!existsSync(join(here, 'node_modules', '@modelcontextprotocol', 'sdk'))) {
  console.error(`node_modules is missing: run \`npm ci\` in ${here} (tests/interop) first`);
  process.exit(1);
}
const { Client } = await import('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = await import('@modelcontextprotocol/sdk/client/stdio.js');
const { LATEST_PROTOCOL_VERSION, SUPPORTED_PROTOCOL_VERSIONS } = await import(
  '@modelcontextprotocol/sdk/types.js'
);

const ruvo = process.argv[2] || process.env.RUVO_TEST_PROGRAM;
if (!ruvo || !existsSync(ruvo)) {
  console.error(`no ruvo program to test: pass its path as the first argument (got ${ruvo})`);
  process.exit(1);
}

const TOKEN = 'interop-token-0123456789';

// What the fake service answers, by "METHOD path"; a function picks by body.
const routes = {
  'GET /v1/health': () => [200, { ok: true, version: 'interop', terms: 2 }],
  'POST /v1/lookup': (body) =>
    body.text === 'stale-token'
      ? [401, { ok: false, message: 'bad token' }]
      : [200, { ok: true, hit: true, term: body.text, definition: '检索增强生成' }],
  'POST /v1/explain': (body) => [200, { ok: true, hit: false, text: body.text, plain: '第一行\n第二行' }],
  'POST /v1/save': () => [409, { ok: false, message: '词条已存在' }],
};

const received = []; // { method, path, token, body } of every request but health probes
let server;
let appData;

before(async () => {
  server = createServer((req, res) => {
    let data = '';
    req.setEncoding('utf8');
    req.on('data', (chunk) => (data += chunk));
    req.on('end', () => {
      const key = `${req.method} ${req.url}`;
      const body = data === '' ? null : JSON.parse(data);
      if (req.url !== '/v1/health') {
        received.push({ method: req.method, path: req.url, token: req.headers['x-ruvo-token'], body });
      }
      const route = routes[key];
      const [status, reply] =
        req.headers['x-ruvo-token'] !== TOKEN
          ? [401, { ok: false }]
          : route
            ? route(body)
            : [404, { ok: false, message: 'not found' }];
      // ruvo reads to the end of the stream and takes no chunked encoding:
      // the length must be given for node to send the body as it is.
      const bytes = Buffer.from(JSON.stringify(reply), 'utf8');
      res.writeHead(status, {
        'Content-Type': 'application/json',
        'Content-Length': bytes.length,
        Connection: 'close',
      });
      res.end(bytes);
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  appData = mkdtempSync(join(tmpdir(), 'ruvo-interop-'));
  mkdirSync(join(appData, 'com.corvanta.desktop'));
  writeFileSync(
    join(appData, 'com.corvanta.desktop', 'explain.json'),
    JSON.stringify({ port: server.address().port, token: TOKEN, version: 'interop' }),
  );
});

after(async () => {
  await new Promise((resolve) => server.close(resolve));
  rmSync(appData, { recursive: true, force: true });
});

// Passes everything through and keeps every message the server sent, so the
// test can see the raw initialize result the client negotiated on.
class RecordingTransport {
  constructor(inner) {
    this.inner = inner;
    this.messages = [];
  }
  async start() {
    this.inner.onmessage = (message, extra) => {
      this.messages.push(message);
      this.onmessage?.(message, extra);
    };
    this.inner.onerror = (error) => this.onerror?.(error);
    this.inner.onclose = () => this.onclose?.();
    await this.inner.start();
  }
  send(message, options) {
    return this.inner.send(message, options);
  }
  close() {
    return this.inner.close();
  }
}

async function connect() {
  const inner = new StdioClientTransport({
    command: ruvo,
    args: ['mcp'],
    // No dictionaries of this machine's in the test's store.
    env: { APPDATA: appData, RUVO_DICTIONARY_DIRS: '' },
    stderr: 'pipe',
  });
  let stderr = '';
  inner.stderr.on('data', (chunk) => (stderr += chunk));
  const transport = new RecordingTransport(inner);
  const client = new Client({ name: 'ruvo-interop', version: '1.0.0' });
  await client.connect(transport);
  // The transport keeps the child private; its exit status is what we check.
  const child = inner._process;
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  // Ends the server as a host does, by closing its standard input, and gives
  // how it exited; the SDK's close() would fall back to signals after a wait.
  const finish = async () => {
    child.stdin.end();
    const status = await exited;
    await client.close();
    return status;
  };
  return { client, transport, finish, stderr: () => stderr };
}

function onlyText(result) {
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, 'text');
  return result.content[0].text;
}

test('the SDK client negotiates with 2024-11-05', () => {
  assert.ok(SUPPORTED_PROTOCOL_VERSIONS.includes('2024-11-05'), `supported: ${SUPPORTED_PROTOCOL_VERSIONS}`);
  assert.notEqual(LATEST_PROTOCOL_VERSION, '2024-11-05', 'the client offers a newer version than ours');
});

test('ruvo mcp serves the SDK client', async () => {
  const { client, transport, finish, stderr } = await connect();
  let status;
  try {
    const init = transport.messages.find((m) => m.id !== undefined && m.result?.protocolVersion);
    assert.equal(init.result.protocolVersion, '2024-11-05');
    assert.deepEqual(client.getServerVersion(), { name: 'ruvo', version: '0.1.8' });
    assert.deepEqual(client.getServerCapabilities(), { tools: {} });

    assert.deepEqual(await client.ping(), {});

    const { tools } = await client.listTools();
    assert.deepEqual(
      tools.map((t) => t.name),
      ['ruvo_explain', 'ruvo_lookup', 'ruvo_save', 'ruvo_status'],
    );
    const byName = Object.fromEntries(tools.map((t) => [t.name, t]));
    for (const t of tools) {
      assert.deepEqual(Object.keys(t).sort(), ['description', 'inputSchema', 'name']);
      assert.equal(t.inputSchema.type, 'object');
    }
    assert.deepEqual(byName.ruvo_explain.inputSchema, {
      type: 'object',
      properties: {
        allow_cloud: { type: 'boolean', description: 'Allow model calls when the term is not in the dictionary' },
        lang: { type: 'string', enum: ['zh', 'en'], description: 'Explanation language, default zh' },
        mode: { type: 'string', enum: ['auto', 'term', 'passage'], description: 'Default auto' },
        text: { type: 'string', description: 'Text to explain (max 2000 chars)' },
      },
      required: ['text'],
    });
    assert.deepEqual(byName.ruvo_lookup.inputSchema, {
      type: 'object',
      properties: { text: { type: 'string' } },
      required: ['text'],
    });
    assert.deepEqual(byName.ruvo_save.inputSchema, {
      type: 'object',
      properties: {
        fields: { type: 'object', description: 'Field map, e.g. {"定义": "...", "通俗解释": "..."}' },
        lang: { type: 'string', enum: ['zh', 'en'] },
        term: { type: 'string' },
      },
      required: ['term'],
    });
    assert.deepEqual(byName.ruvo_status.inputSchema, { type: 'object', properties: {} });

    // One call of each tool; the service's whole reply comes back as JSON text.
    const lookup = await client.callTool({ name: 'ruvo_lookup', arguments: { text: '  RAG\n' } });
    assert.equal(lookup.isError, false, onlyText(lookup));
    assert.deepEqual(JSON.parse(onlyText(lookup)), { ok: true, hit: true, term: 'RAG', definition: '检索增强生成' });

    const explain = await client.callTool({ name: 'ruvo_explain', arguments: { text: '向量数据库', allow_cloud: false } });
    assert.equal(explain.isError, false);
    assert.deepEqual(JSON.parse(onlyText(explain)), { ok: true, hit: false, text: '向量数据库', plain: '第一行\n第二行' });

    const save = await client.callTool({ name: 'ruvo_save', arguments: { term: 'RAG', fields: { 定义: '检索增强生成' } } });
    assert.equal(save.isError, true);
    assert.deepEqual(JSON.parse(onlyText(save)), { ok: false, message: '词条已存在' });

    const status = await client.callTool({ name: 'ruvo_status', arguments: {} });
    assert.equal(status.isError, false);
    assert.deepEqual(JSON.parse(onlyText(status)), { ok: true, version: 'interop', terms: 2 });

    const stale = await client.callTool({ name: 'ruvo_lookup', arguments: { text: 'stale-token' } });
    assert.equal(stale.isError, true);
    assert.equal(onlyText(stale), '{\n  "kind": "auth",\n  "message": "token 不对（Ruvo 可能刚重启），重试一次",\n  "ok": false\n}');

    const unknown = await client.callTool({ name: 'ruvo_define', arguments: {} });
    assert.equal(unknown.isError, true);
    assert.equal(onlyText(unknown), 'unknown tool: ruvo_define');

    assert.deepEqual(received, [
      { method: 'POST', path: '/v1/lookup', token: TOKEN, body: { text: 'RAG' } },
      {
        method: 'POST',
        path: '/v1/explain',
        token: TOKEN,
        body: { allowCloud: false, context: '', lang: 'zh', mode: 'auto', text: '向量数据库' },
      },
      {
        method: 'POST',
        path: '/v1/save',
        token: TOKEN,
        body: { categoryId: 'term', fields: { 定义: '检索增强生成' }, lang: 'zh', term: 'RAG' },
      },
      { method: 'POST', path: '/v1/lookup', token: TOKEN, body: { text: 'stale-token' } },
    ]);
  } finally {
    status = await finish();
  }
  assert.deepEqual(status, { code: 0, signal: null });
  assert.equal(stderr(), '');
});
