// The peer of `ruvo mcp` in the benchmarks: the same four tools on the
// official MCP TypeScript SDK, written the way one would write them without
// caring about speed. Each call reads the discovery file afresh (the service
// may have restarted) and sends one request with fetch; unlike ruvo it makes
// no health probe first, so it does one exchange per call to ruvo's two.
// With RUVO_PEER_PROBE=1 it first asks GET /v1/health as ruvo does, for a
// like-for-like comparison of the same two exchanges.
//
//   APPDATA=<folder> [RUVO_PEER_PROBE=1] node sdk_server.mjs   (after `npm ci` here)
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { McpServer } from '@modelcontextprotocol/sdk/server/mcp.js';
import { StdioServerTransport } from '@modelcontextprotocol/sdk/server/stdio.js';
import { z } from 'zod';

function serviceInfo() {
  const file = join(process.env.APPDATA || '', 'com.corvanta.desktop', 'explain.json');
  const info = JSON.parse(readFileSync(file, 'utf8'));
  return { port: info.port, token: info.token };
}

const probeFirst = process.env.RUVO_PEER_PROBE === '1';

async function callService(method, path, body) {
  let reply;
  try {
    const { port, token } = serviceInfo();
    if (probeFirst) {
      const health = await fetch(`http://127.0.0.1:${port}/v1/health`, { headers: { 'X-Ruvo-Token': token } });
      if ((await health.json())?.ok !== true) throw new Error('Ruvo service is not available');
    }
    const response = await fetch(`http://127.0.0.1:${port}${path}`, {
      method,
      headers: { 'X-Ruvo-Token': token, 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    reply = await response.json();
  } catch (error) {
    return { content: [{ type: 'text', text: String(error) }], isError: true };
  }
  return {
    content: [{ type: 'text', text: JSON.stringify(reply, null, 2) }],
    isError: !(reply && reply.ok === true),
  };
}

const server = new McpServer({ name: 'ruvo', version: '0.1.8' });

server.registerTool(
  'ruvo_explain',
  {
    description:
      'Explain a word, sentence or paragraph using the local Ruvo dictionary first (0 tokens on hit), falling back to the model.',
    inputSchema: {
      text: z.string().describe('Text to explain (max 2000 chars)'),
      mode: z.enum(['auto', 'term', 'passage']).optional().describe('Default auto'),
      lang: z.enum(['zh', 'en']).optional().describe('Explanation language, default zh'),
      allow_cloud: z
        .boolean()
        .optional()
        .describe('Allow model calls when the term is not in the dictionary'),
    },
  },
  async ({ text, mode, lang, allow_cloud }) =>
    callService('POST', '/v1/explain', {
      allowCloud: allow_cloud ?? true,
      context: '',
      lang: lang ?? 'zh',
      mode: mode ?? 'auto',
      text: text.trim(),
    }),
);

server.registerTool(
  'ruvo_lookup',
  {
    description: 'Look up a term in the local Ruvo dictionary only. Never calls a model.',
    inputSchema: { text: z.string() },
  },
  async ({ text }) => callService('POST', '/v1/lookup', { text: text.trim() }),
);

server.registerTool(
  'ruvo_save',
  {
    description: 'Save a term with its fields into the local Ruvo dictionary.',
    inputSchema: {
      term: z.string(),
      fields: z.record(z.string(), z.unknown()).optional(),
      lang: z.enum(['zh', 'en']).optional(),
    },
  },
  async ({ term, fields, lang }) =>
    callService('POST', '/v1/save', { categoryId: 'term', fields: fields ?? {}, lang: lang ?? 'zh', term }),
);

server.registerTool(
  'ruvo_status',
  {
    description:
      "Report whether Ruvo's local service is reachable, its version and how many terms the dictionary holds.",
    inputSchema: {},
  },
  async () => callService('GET', '/v1/health'),
);

await server.connect(new StdioServerTransport());
