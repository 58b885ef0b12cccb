// The official MCP client against `ruvo mcp` with the real local service:
// ruvo finds ruvo-gui.exe beside itself, starts it in a temporary
// application-data folder, and every tool call reaches the SQLite store.
//
//   node local_service.test.mjs /path/to/ruvo     (ruvo-gui.exe must be beside it)
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readdirSync, readFileSync, readlinkSync, rmSync } from 'node:fs';
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

const ruvo = process.argv[2] || process.env.RUVO_TEST_PROGRAM;
const gui = ruvo && join(dirname(ruvo), 'ruvo-gui.exe');
if (!ruvo || !existsSync(ruvo) || !existsSync(gui)) {
  console.error(`need ruvo with ruvo-gui.exe beside it (got ${ruvo})`);
  process.exit(1);
}

const appData = mkdtempSync(join(tmpdir(), 'ruvo-interop-local-service-'));

// The service outlives ruvo by design; the test stops the one it caused, found
// by its program and its application-data folder.
function servicePids() {
  const pids = [];
  for (const name of readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      if (readlinkSync(`/proc/${name}/exe`) !== gui) continue;
      const env = readFileSync(`/proc/${name}/environ`, 'utf8').split('\0');
      if (env.includes(`APPDATA=${appData}`)) pids.push(Number(name));
    } catch {
      // gone, or not ours to read
    }
  }
  return pids;
}

after(() => {
  for (const pid of servicePids()) process.kill(pid, 'SIGTERM');
  rmSync(appData, { recursive: true, force: true });
});

function parsed(result) {
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, 'text');
  return JSON.parse(result.content[0].text);
}

test('the SDK client calls all four tools against the real service', async () => {
  // No dictionaries of this machine's in the test's store.
  const transport = new StdioClientTransport({
    command: ruvo,
    args: ['mcp'],
    env: { APPDATA: appData, RUVO_DICTIONARY_DIRS: '' },
    stderr: 'pipe',
  });
  let stderr = '';
  transport.stderr.on('data', (chunk) => (stderr += chunk));
  const client = new Client({ name: 'ruvo-interop-local-service', version: '1.0.0' });
  await client.connect(transport);
  try {
    // The first call starts the service.
    const status = await client.callTool({ name: 'ruvo_status', arguments: {} });
    assert.equal(status.isError, false);
    const health = parsed(status);
    assert.equal(health.ok, true);
    assert.ok(health.terms >= 40, `terms: ${health.terms}`);
    assert.equal(servicePids().length, 1);

    const save = await client.callTool({
      name: 'ruvo_save',
      arguments: { term: '互操作测试词', fields: { 定义: '由 MCP 客户端保存', 通俗解释: '测试用' } },
    });
    assert.equal(save.isError, false, save.content[0].text);
    assert.ok(typeof parsed(save).id === 'string');

    const lookup = await client.callTool({ name: 'ruvo_lookup', arguments: { text: ' 互操作测试词 ' } });
    assert.equal(lookup.isError, false);
    const hit = parsed(lookup);
    assert.equal(hit.hit, true);
    assert.equal(hit.definition, '由 MCP 客户端保存');
    assert.equal(hit.plain, '测试用');

    const explain = await client.callTool({ name: 'ruvo_explain', arguments: { text: 'RAG', allow_cloud: false } });
    assert.equal(explain.isError, false);
    const local = parsed(explain);
    assert.equal(local.source, 'local');
    assert.equal(local.tokens, 0);

    const miss = await client.callTool({ name: 'ruvo_explain', arguments: { text: '无此词条xyz', allow_cloud: false } });
    assert.equal(miss.isError, true);
    assert.equal(parsed(miss).ok, false);
  } finally {
    await client.close();
  }
  assert.equal(stderr, '');
});
